// Velmora: reads and changes the limits of the system file cache.
//
//   Velmora -G                 prints the current minimum, maximum and flags
//   Velmora -C                 keeps both sizes and switches both hard limits off
//   Velmora -S minMB maxMB     applies both sizes with both hard limits on
//
// Exit codes: 0 success, 1 a failure that a report line has told, 255 a refused
// command line. Everything goes to standard output.

#include <stdio.h>
#include <string.h>

#include "Velmora.h"

// The largest size in megabytes whose byte count fits SIZE_T (4095 on 32-bit).
static const SIZE_T MaxSizeMB = ((SIZE_T)-1) >> 20;

// Ends the process once everything printed has reached standard output:
// ExitProcess itself does not flush the runtime's buffers.
[[noreturn]] static void EndProcess(UINT exitCode)
{
    fflush(stdout);
    ExitProcess(exitCode);
}

[[noreturn]] static void PrintUsage()
{
    printf("Usage: Velmora [-G|-C|-S minMB maxMB ]\n");
    printf("Call [GS]etVelmora()\n");
    printf("-G: Get, -C: Clear, -S: Set\n");
    EndProcess(255);
}

[[noreturn]] static void PrintInvalidSize(const char *text)
{
    printf("Invalid size: [%s] (0 to " SIZE_FORMAT " MB)\n", text, (PrintedSize)MaxSizeMB);
    PrintUsage();
}

static bool IsBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// Turns a size in megabytes into a byte count. The whole text must be a decimal
// number from 0 to MaxSizeMB, with optional blanks around it and an optional
// sign; anything else is refused, so that no text can wrap into a wrong limit.
static bool ParseSizeMB(const char *text, SIZE_T *bytes)
{
    const char *p = text;
    while (IsBlank(*p))
        p++;
    bool negative = (*p == '-');
    if (*p == '+' || *p == '-')
        p++;
    if (*p < '0' || *p > '9')
        return false;
    SIZE_T value = 0;
    while (*p >= '0' && *p <= '9') {
        // Once past the limit the number only grows: stop adding, it is refused.
        if (value <= MaxSizeMB)
            value = value * 10 + (SIZE_T)(*p - '0');
        p++;
    }
    while (IsBlank(*p))
        p++;
    if (*p != '\0' || value > MaxSizeMB || (negative && value != 0))
        return false;
    *bytes = value << 20;
    return true;
}

// Get: one read of the limits, printed as the system gives them.
[[noreturn]] static void GetCommand()
{
    SIZE_T minimum = 0;
    SIZE_T maximum = 0;
    DWORD flags = 0;
    if (!GetSystemFileCacheSize(&minimum, &maximum, &flags)) {
        PrintLastError(VELMORA_FILE, "GetSystemFileCacheSize", __LINE__);
        EndProcess(1);
    }
    // The sizes and flags as the system gave them.
    PrintSuccess("GetSystemFileCacheSize", minimum, maximum, flags);
    EndProcess(0);
}

// Enables the quota privilege in the tool's own token, which is closed again
// before any cache call. Ends the process with 1 when that fails.
static void EnableQuotaPrivilege()
{
    HANDLE token = NULL;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token)) {
        PrintLastError(VELMORA_FILE, "OpenProcessToken", __LINE__);
        EndProcess(1);
    }
    int enabled = SetPrivilege(token);
    CloseHandle(token);
    if (!enabled)
        EndProcess(1);
}

// Clear: keeps the current sizes and switches both hard limits off.
[[noreturn]] static void ClearCommand()
{
    SIZE_T minimum = 0;
    SIZE_T maximum = 0;
    DWORD flags = 0;
    if (!GetSystemFileCacheSize(&minimum, &maximum, &flags)) {
        PrintLastError(VELMORA_FILE, "GetSystemFileCacheSize", __LINE__);
        EndProcess(1);
    }
    flags = FILE_CACHE_MAX_HARD_DISABLE | FILE_CACHE_MIN_HARD_DISABLE;
    if (!SetSystemFileCacheSize(minimum, maximum, flags)) {
        PrintLastError(VELMORA_FILE, "SetSystemFileCacheSize", __LINE__);
        EndProcess(1);
    }
    // The sizes and flags as the system was handed them.
    PrintSuccess("SetSystemFileCacheSize", minimum, maximum, flags);
    EndProcess(0);
}

// Set: applies the given sizes with both hard limits on. The order of the two
// is the system's to judge.
[[noreturn]] static void SetCommand(SIZE_T minimum, SIZE_T maximum)
{
    DWORD flags = FILE_CACHE_MAX_HARD_ENABLE | FILE_CACHE_MIN_HARD_ENABLE;
    if (!SetSystemFileCacheSize(minimum, maximum, flags)) {
        PrintLastError(VELMORA_FILE, "SetSystemFileCacheSize", __LINE__);
        EndProcess(1);
    }
    // The sizes and flags as the system was handed them.
    PrintSuccess("SetSystemFileCacheSize", minimum, maximum, flags);
    EndProcess(0);
}

int main(int argc, char *argv[])
{
    if (argc != 2 && argc != 4)
        PrintUsage();

    if (strncmp(argv[1], "-S", 2) == 0) {
        // Set needs both sizes; "-S" alone is refused like any other bad command line.
        if (argc != 4)
            PrintUsage();
        SIZE_T minimum = 0;
        SIZE_T maximum = 0;
        if (!ParseSizeMB(argv[2], &minimum))
            PrintInvalidSize(argv[2]);
        if (!ParseSizeMB(argv[3], &maximum))
            PrintInvalidSize(argv[3]);
        EnableQuotaPrivilege();
        SetCommand(minimum, maximum);
    }
    if (strncmp(argv[1], "-G", 2) == 0)
        GetCommand();
    if (strncmp(argv[1], "-C", 2) == 0) {
        EnableQuotaPrivilege();
        ClearCommand();
    }
    PrintUsage();
}
