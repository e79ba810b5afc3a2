// CACHESIM.dll: the system file cache limits for a copy of Velmora.exe run under
// Wine, which has none of its own. The copy imports this DLL in place of
// KERNEL32.dll; GetSystemFileCacheSize and SetSystemFileCacheSize are served
// here, every other KERNEL32 function it imports is forwarded to kernel32.
//
// The limits live in cachesim.state, beside the DLL, one key=value a line:
//   min=BYTES max=BYTES flags=BITS       as a 64-bit system holds them
// (a missing file fails both calls with 2, one that does not parse with 13).
// Every call is appended to cachesim.log beside it, with what it received:
//   "GetSystemFileCacheSize" or "SetSystemFileCacheSize MIN MAX FLAGS".
// As on 64-bit Windows, a 32-bit caller gets 534 from GetSystemFileCacheSize
// when a limit does not fit its 32-bit SIZE_T, and SetSystemFileCacheSize
// fails with 1314 unless SeIncreaseQuotaPrivilege is enabled in the caller's
// token.

// This DLL defines two of kernel32's functions: they are not imported here.
#define _KERNEL32_
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "CacheRules.h"

namespace {

struct CacheState {
    unsigned long long minimum;
    unsigned long long maximum;
    DWORD flags;
};

HMODULE self;

// The path of a file beside this DLL.
bool PathBeside(const wchar_t *name, wchar_t *path, DWORD size)
{
    DWORD length = GetModuleFileNameW(self, path, size);
    if (length == 0 || length >= size)
        return false;
    wchar_t *slash = wcsrchr(path, L'\\');
    if (slash == NULL || (size_t)(slash + 1 - path) + wcslen(name) + 1 > size)
        return false;
    wcscpy(slash + 1, name);
    return true;
}

FILE *OpenBeside(const wchar_t *name, const wchar_t *mode)
{
    wchar_t path[MAX_PATH];
    if (!PathBeside(name, path, MAX_PATH))
        return NULL;
    return _wfopen(path, mode);
}

// Reads the limits; on failure, sets the last error and returns false.
bool LoadState(CacheState *state)
{
    FILE *file = OpenBeside(L"cachesim.state", L"rb");
    if (file == NULL) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return false;
    }
    *state = CacheState{1048576, 1073741824, 0};
    char line[128];
    bool ok = true;
    while (ok && fgets(line, sizeof(line), file) != NULL) {
        char *value = strchr(line, '=');
        if (value == NULL) {
            ok = line[strspn(line, "\r\n")] == '\0';
            continue;
        }
        *value++ = '\0';
        char *end = NULL;
        unsigned long long number = _strtoui64(value, &end, 10);
        ok = end != value && end[strspn(end, "\r\n")] == '\0';
        if (strcmp(line, "min") == 0)
            state->minimum = number;
        else if (strcmp(line, "max") == 0)
            state->maximum = number;
        else if (strcmp(line, "flags") == 0)
            state->flags = (DWORD)number;
        else
            ok = false;
    }
    fclose(file);
    if (!ok)
        SetLastError(ERROR_INVALID_DATA);
    return ok;
}

bool SaveState(const CacheState &state)
{
    FILE *file = OpenBeside(L"cachesim.state", L"wb");
    if (file == NULL)
        return false;
    fprintf(file, "min=%llu\nmax=%llu\nflags=%lu\n", state.minimum, state.maximum, (unsigned long)state.flags);
    return fclose(file) == 0;
}

void Log(const char *line)
{
    FILE *file = OpenBeside(L"cachesim.log", L"ab");
    if (file == NULL)
        return;
    fprintf(file, "%s\n", line);
    fclose(file);
}

bool QuotaPrivilegeEnabled()
{
    HANDLE token = NULL;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token))
        return false;
    PRIVILEGE_SET required = {};
    required.PrivilegeCount = 1;
    required.Control = PRIVILEGE_SET_ALL_NECESSARY;
    BOOL enabled = FALSE;
    BOOL ok = LookupPrivilegeValueW(NULL, L"SeIncreaseQuotaPrivilege", &required.Privilege[0].Luid) &&
              PrivilegeCheck(token, &required, &enabled);
    CloseHandle(token);
    return ok && enabled;
}

} // namespace

extern "C" __declspec(dllexport) BOOL WINAPI GetSystemFileCacheSize(PSIZE_T lpMinimumFileCacheSize,
                                                                    PSIZE_T lpMaximumFileCacheSize, PDWORD lpFlags)
{
    Log("GetSystemFileCacheSize");
    CacheState state;
    if (!LoadState(&state))
        return FALSE;
    if (state.minimum > (SIZE_T)-1 || state.maximum > (SIZE_T)-1) {
        SetLastError(ERROR_ARITHMETIC_OVERFLOW);
        return FALSE;
    }
    *lpMinimumFileCacheSize = (SIZE_T)state.minimum;
    *lpMaximumFileCacheSize = (SIZE_T)state.maximum;
    *lpFlags = state.flags;
    return TRUE;
}

extern "C" __declspec(dllexport) BOOL WINAPI SetSystemFileCacheSize(SIZE_T MinimumFileCacheSize,
                                                                    SIZE_T MaximumFileCacheSize, DWORD Flags)
{
    char line[96];
    snprintf(line, sizeof(line), "SetSystemFileCacheSize %llu %llu %lu", (unsigned long long)MinimumFileCacheSize,
             (unsigned long long)MaximumFileCacheSize, (unsigned long)Flags);
    Log(line);
    CacheState state;
    if (!LoadState(&state))
        return FALSE;
    if (!QuotaPrivilegeEnabled()) {
        SetLastError(ERROR_PRIVILEGE_NOT_HELD);
        return FALSE;
    }
    if (!CacheLimitsAccepted(MinimumFileCacheSize, MaximumFileCacheSize, Flags)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    state.minimum = MinimumFileCacheSize;
    state.maximum = MaximumFileCacheSize;
    state.flags = CacheFlagsAfter(state.flags, Flags);
    if (!SaveState(state)) {
        SetLastError(ERROR_WRITE_FAULT);
        return FALSE;
    }
    return TRUE;
}

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID)
{
    if (reason == DLL_PROCESS_ATTACH)
        self = instance;
    return TRUE;
}
