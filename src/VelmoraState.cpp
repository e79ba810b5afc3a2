// VelmoraState: the file cache limits as a wanted state. The DSC 3 resource
// Velmora/FileCacheLimit runs it as it is; the Intune pair, the module and its
// class resource ask it what a wanted state means and whether it is in force.
//
//   VelmoraState get       the state in force
//   VelmoraState test      the state in force, and whether it is the wanted state
//   VelmoraState set       makes the wanted state the one in force; changes
//                          nothing where it is already
//   VelmoraState resolve [--allow-above-memory]
//                          the wanted state in whole MB on this machine now;
//                          reads and changes no limit. The option takes a
//                          maximum above the physical memory, for a caller
//                          that hands the sizes to Velmora -S on its own.
//
// The wanted state is one JSON object on standard input (get does without one,
// and never reads a console): hardLimits true (the default) asks for both hard
// limits on, at a minimum and a maximum, each in MB (minimumMB, maximumMB) or as
// a share of physical memory (minimumPercent, maximumPercent: above 0 and at most
// 100, up to four places after the point); hardLimits false asks for both hard
// limits off, the sizes as they are.
//
// Standard output carries one line of JSON, the state; standard error carries
// messages for dsc, one JSON object a line ({"error":"..."}, {"warn":"..."},
// {"info":"..."}). Exit codes: 0 done, 1 the input is not valid, 2 the wanted
// state cannot hold, 3 the physical memory could not be read for a share, 4 the
// system refused a read or a change. Nothing is changed unless the exit code is 0.

#include <fcntl.h>
#include <io.h>
#include <stdio.h>
#include <string.h>

#include <string>

#include "Velmora.h"
#include "WantedState.h"

// The largest size in megabytes whose byte count fits SIZE_T (4095 on 32-bit).
static const uint64_t LargestMB = ((SIZE_T)-1) >> 20;
static const uint64_t BytesPerMB = 1048576;
// More input than any wanted state needs is refused unread.
static const size_t LargestInput = 1048576;

static const char Usage[] =
    "usage: VelmoraState get|test|set|resolve [--allow-above-memory], with the wanted state as one JSON object on"
    " standard input";

// The report line of the last failed call, for the message that tells it.
static std::string lastReport;

void PrintLastError(const char *file, const char *call, int line)
{
    DWORD code = GetLastError();
    lastReport = FormatReportLine(file, call, line, code, true);
    // The system's text ends with its own line break, which a message does without.
    while (!lastReport.empty() && (lastReport.back() == '\n' || lastReport.back() == '\r' || lastReport.back() == ' '))
        lastReport.pop_back();
}

[[noreturn]] static void EndProcess(UINT exitCode)
{
    fflush(stdout);
    fflush(stderr);
    ExitProcess(exitCode);
}

static void Message(const char *level, const std::string &text)
{
    fprintf(stderr, "%s\n", MessageJson(level, text).c_str());
}

[[noreturn]] static void Refuse(Refusal refusal, const std::string &why)
{
    Message("error", why);
    EndProcess((UINT)refusal);
}

static void PrintState(const std::string &json)
{
    printf("%s\n", json.c_str());
}

static bool IsBlank(const std::string &text)
{
    size_t at = text.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
    for (; at < text.size(); at++)
        if (strchr(" \t\r\n", text[at]) == NULL)
            return false;
    return true;
}

// All of standard input; false where it cannot be read or is too large.
static bool ReadInput(std::string *input, std::string *why)
{
    char buffer[4096];
    size_t got = 0;
    while ((got = fread(buffer, 1, sizeof(buffer), stdin)) > 0) {
        input->append(buffer, got);
        if (input->size() > LargestInput) {
            *why = "the wanted state on standard input is larger than 1 MiB";
            return false;
        }
    }
    if (ferror(stdin)) {
        *why = "standard input could not be read";
        return false;
    }
    return true;
}

static bool ReadMemory(Memory *memory)
{
    MEMORYSTATUSEX status;
    memset(&status, 0, sizeof(status));
    status.dwLength = sizeof(status);
    if (!GlobalMemoryStatusEx(&status)) {
        PrintLastError(VELMORA_FILE, "GlobalMemoryStatusEx", __LINE__);
        return false;
    }
    memory->known = true;
    memory->bytes = status.ullTotalPhys;
    return true;
}

// The limits in force; false, with the report line kept, where they cannot be read.
static bool ReadLimits(LimitsInForce *limits)
{
    SIZE_T minimum = 0;
    SIZE_T maximum = 0;
    DWORD flags = 0;
    if (!GetSystemFileCacheSize(&minimum, &maximum, &flags)) {
        PrintLastError(VELMORA_FILE, "GetSystemFileCacheSize", __LINE__);
        return false;
    }
    limits->minimumBytes = minimum;
    limits->maximumBytes = maximum;
    limits->flags = flags;
    return true;
}

// The limits in force before anything is changed: a read the system refuses
// ends the run.
static void ReadLimitsOrRefuse(LimitsInForce *limits)
{
    if (!ReadLimits(limits))
        Refuse(Refusal::SystemRefused, "the limits in force could not be read: " + lastReport);
}

// Enables the quota privilege in the program's own token, which is closed again
// before any cache call.
static void EnableQuotaPrivilege()
{
    HANDLE token = NULL;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token)) {
        PrintLastError(VELMORA_FILE, "OpenProcessToken", __LINE__);
        Refuse(Refusal::SystemRefused, "nothing was changed: " + lastReport);
    }
    int enabled = SetPrivilege(token);
    CloseHandle(token);
    if (!enabled)
        Refuse(Refusal::SystemRefused,
               "nothing was changed: changing the limits needs SeIncreaseQuotaPrivilege, which an elevated"
               " administrator or SYSTEM holds: " + lastReport);
}

static std::string Describe(const LimitsInForce &limits)
{
    return std::to_string(limits.minimumBytes) + " and " + std::to_string(limits.maximumBytes) + " bytes, flags " +
           std::to_string(limits.flags);
}

static std::string Asked(const ResolvedState &resolved)
{
    if (!resolved.hardLimits)
        return "both hard limits off";
    return std::to_string(resolved.minimumMB * BytesPerMB) + " and " +
           std::to_string(resolved.maximumMB * BytesPerMB) + " bytes with both hard limits on";
}

// The warning for limits that differ from what was asked after a set, and for
// test where they look as the system leaves a maximum that it lowered.
static void WarnNotHeld(const ResolvedState &resolved, const LimitsInForce &limits)
{
    Message("warn", "asked for " + Asked(resolved) + "; the system holds " + Describe(limits) +
                        ": it lowers a maximum above the largest it takes, so this state does not hold here");
}

static void Apply(const ResolvedState &resolved, const LimitsInForce &before)
{
    EnableQuotaPrivilege();
    SIZE_T minimum = (SIZE_T)before.minimumBytes;
    SIZE_T maximum = (SIZE_T)before.maximumBytes;
    DWORD flags = FILE_CACHE_MAX_HARD_DISABLE | FILE_CACHE_MIN_HARD_DISABLE;
    if (resolved.hardLimits) {
        minimum = (SIZE_T)(resolved.minimumMB * BytesPerMB);
        maximum = (SIZE_T)(resolved.maximumMB * BytesPerMB);
        flags = FILE_CACHE_MAX_HARD_ENABLE | FILE_CACHE_MIN_HARD_ENABLE;
    }
    if (!SetSystemFileCacheSize(minimum, maximum, flags)) {
        PrintLastError(VELMORA_FILE, "SetSystemFileCacheSize", __LINE__);
        Refuse(Refusal::SystemRefused, "the system refused the change, and nothing was changed: " + lastReport);
    }
}

int main(int argc, char *argv[])
{
    _setmode(_fileno(stdin), _O_BINARY);
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
    const char *operation = argc >= 2 ? argv[1] : "";
    bool get = strcmp(operation, "get") == 0;
    bool test = strcmp(operation, "test") == 0;
    bool set = strcmp(operation, "set") == 0;
    bool resolve = strcmp(operation, "resolve") == 0;
    bool aboveMemory = resolve && argc == 3 && strcmp(argv[2], "--allow-above-memory") == 0;
    if ((!get && !test && !set && !resolve) || (argc != 2 && !aboveMemory))
        Refuse(Refusal::InputNotValid, Usage);

    // A console is never read: get reports what is in force, the others need
    // their wanted state piped in.
    std::string input;
    std::string why;
    if (!_isatty(_fileno(stdin)) && !ReadInput(&input, &why))
        Refuse(Refusal::InputNotValid, why);
    WantedState wanted;
    bool given = !IsBlank(input);
    if (!given && !get)
        Refuse(Refusal::InputNotValid, std::string("no wanted state on standard input: ") + Usage);
    if (given && !ParseWantedState(input, &wanted, &why))
        Refuse(Refusal::InputNotValid, why);

    Memory memory;
    if (get) {
        // Memory only to show a share as asked; without it, the sizes show in MB.
        if (given && NeedsMemory(wanted) && !ReadMemory(&memory))
            Message("info", "the physical memory could not be read, so shares show as MB: " + lastReport);
        LimitsInForce limits;
        ReadLimitsOrRefuse(&limits);
        PrintState(StateJson(limits, wanted, memory, false, false));
        EndProcess(0);
    }

    ResolvedState resolved;
    if (wanted.hardLimits && !ReadMemory(&memory) && !NeedsMemory(wanted))
        Message("warn", "the physical memory could not be read, so the check that the maximum is not above it"
                        " was skipped: " + lastReport);
    Refusal refusal = ResolveWantedState(wanted, memory, !aboveMemory, LargestMB, &resolved, &why);
    if (refusal == Refusal::MemoryUnreadable)
        why += ": " + lastReport;
    if (refusal != Refusal::None)
        Refuse(refusal, why);
    if (resolve) {
        PrintState(ResolvedJson(resolved));
        EndProcess(0);
    }

    LimitsInForce limits;
    ReadLimitsOrRefuse(&limits);
    bool holds = LimitsHold(resolved, limits);
    if (test) {
        if (!holds && LimitsLowered(resolved, limits))
            WarnNotHeld(resolved, limits);
        PrintState(StateJson(limits, wanted, memory, true, holds));
        EndProcess(0);
    }

    if (holds) {
        Message("info", "in place: " + Describe(limits));
        PrintState(StateJson(limits, wanted, memory, false, false));
        EndProcess(0);
    }
    Apply(resolved, limits);
    LimitsInForce after;
    if (!ReadLimits(&after)) {
        // The change stands; only the read-back failed. The state shown is the one asked.
        Message("warn", "the limits were changed to " + Asked(resolved) + ", but could not be read back: " +
                            lastReport);
        after = limits;
        after.flags = resolved.hardLimits ? (DWORD)(FILE_CACHE_MAX_HARD_ENABLE | FILE_CACHE_MIN_HARD_ENABLE) : 0;
        if (resolved.hardLimits) {
            after.minimumBytes = resolved.minimumMB * BytesPerMB;
            after.maximumBytes = resolved.maximumMB * BytesPerMB;
        }
        PrintState(StateJson(after, wanted, memory, false, false));
        EndProcess(0);
    }
    Message("info", "changed from " + Describe(limits) + " to " + Describe(after));
    if (!LimitsHold(resolved, after))
        WarnNotHeld(resolved, after);
    PrintState(StateJson(after, wanted, memory, false, false));
    EndProcess(0);
}
