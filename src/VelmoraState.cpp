// VelmoraState: the file cache limits as a wanted state. The DSC 3 resource
// Velmora/FileCacheLimit runs it as it is; the startup task runs it with its
// sizes on the command line; the Intune pair, the module and its class resource
// ask it what a wanted state means and whether it is in force.
//
//   VelmoraState get       the state in force
//   VelmoraState test      the state in force, and whether it is the wanted state
//   VelmoraState set       makes the wanted state the one in force; changes
//                          nothing where it is already
//   VelmoraState resolve   the wanted state in whole MB on this machine now;
//                          reads and changes no limit
//   VelmoraState wanted    the wanted state as JSON, as asked; reads nothing of
//                          the system
//
// Options, after the operation:
//   --minimum SIZE --maximum SIZE
//       the wanted state on the command line instead of standard input, both
//       hard limits on: SIZE is whole megabytes (256MB) or a share of physical
//       memory in percent (12.5%), as minimumMB or minimumPercent would be
//   --allow-above-memory
//       (set, test, resolve) takes a maximum above the physical memory, which
//       caps nothing
//   --event-log
//       (set) writes one event of the run to the Application log, source
//       Velmora, as the startup task asks
//
// Without --minimum and --maximum, the wanted state is one JSON object on
// standard input (get does without one, and never reads a console): hardLimits
// true (the default) asks for both hard limits on, at a minimum and a maximum,
// each in MB (minimumMB, maximumMB) or as a share of physical memory
// (minimumPercent, maximumPercent: above 0 and at most 100, up to four places
// after the point); hardLimits false asks for both hard limits off, the sizes as
// they are.
//
// Standard output carries one line of JSON, the state; standard error carries
// messages for dsc, one JSON object a line ({"error":"..."}, {"warn":"..."},
// {"info":"..."}). Exit codes: 0 done, 1 the input is not valid, 2 the wanted
// state cannot hold, 3 the physical memory could not be read for a share, 4 the
// system refused a read or a change. Nothing is changed unless the exit code is 0.
//
// Events (--event-log): 1 changed, 2 the system refused the change, 3 the
// wanted state was refused, 4 the task could not run, 5 in place, 6 the memory
// check skipped (a warning beside the run's event), 7 held lower than asked by
// the system, nothing changed. Their texts are the message table of
// VelmoraEvents.mc.

#include <fcntl.h>
#include <io.h>
#include <stdio.h>
#include <string.h>

#include <string>
#include <vector>

#include "Velmora.h"
#include "VelmoraEvents.h"
#include "WantedState.h"

// The largest size in megabytes whose byte count fits SIZE_T (4095 on 32-bit).
static const uint64_t LargestMB = ((SIZE_T)-1) >> 20;
static const uint64_t BytesPerMB = 1048576;
// More input than any wanted state needs is refused unread.
static const size_t LargestInput = 1048576;

static const char Usage[] =
    "usage: VelmoraState get|test|set|resolve|wanted [--minimum SIZE --maximum SIZE] [--allow-above-memory]"
    " [--event-log], with SIZE as 256MB or 12.5%, or the wanted state as one JSON object on standard input";

// The report line of the last failed call, for the message that tells it.
static std::string lastReport;

// Whether the run writes its event, and the command line it names the run by.
static bool eventLog = false;
static std::string commandLine;

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

// UTF-8 text as the event log takes it; false where it cannot be converted.
static bool Widen(const std::string &text, std::wstring *wide)
{
    wide->assign(text.size() + 1, L'\0');
    if (text.empty())
        return true;
    int length = MultiByteToWideChar(CP_UTF8, 0, text.data(), (int)text.size(), &(*wide)[0], (int)wide->size());
    if (length == 0) {
        PrintLastError(VELMORA_FILE, "MultiByteToWideChar", __LINE__);
        return false;
    }
    wide->resize((size_t)length + 1);
    return true;
}

// Writes the run's event where the run asks for one: the type its ID's
// severity gives, the texts as its message's inserts. An event that cannot be
// written is a warning on standard error, never a reason to fail the run.
static void WriteEvent(DWORD id, const std::vector<std::string> &inserts)
{
    if (!eventLog)
        return;
    WORD type = EVENTLOG_INFORMATION_TYPE;
    if ((id >> 30) == STATUS_SEVERITY_ERROR)
        type = EVENTLOG_ERROR_TYPE;
    else if ((id >> 30) == STATUS_SEVERITY_WARNING)
        type = EVENTLOG_WARNING_TYPE;
    std::vector<std::wstring> wide(inserts.size());
    std::vector<LPCWSTR> strings;
    for (size_t index = 0; index < inserts.size(); index++) {
        if (!Widen(inserts[index], &wide[index])) {
            Message("warn", "the event could not be written: " + lastReport);
            return;
        }
        strings.push_back(wide[index].c_str());
    }
    HANDLE source = RegisterEventSourceW(NULL, L"Velmora");
    if (source == NULL) {
        PrintLastError(VELMORA_FILE, "RegisterEventSourceW", __LINE__);
        Message("warn", "the event could not be written: " + lastReport);
        return;
    }
    if (!ReportEventW(source, type, 0, id, NULL, (WORD)strings.size(), 0, strings.data(), NULL)) {
        PrintLastError(VELMORA_FILE, "ReportEventW", __LINE__);
        Message("warn", "the event could not be written: " + lastReport);
    }
    if (!DeregisterEventSource(source))
        PrintLastError(VELMORA_FILE, "DeregisterEventSource", __LINE__);
}

// Ends the run as refused: the message, the run's event (its ID and the inserts
// before the command line), and the exit code of the refusal.
[[noreturn]] static void Refuse(Refusal refusal, const std::string &why, DWORD event,
                                std::vector<std::string> inserts)
{
    Message("error", why);
    inserts.push_back(commandLine);
    WriteEvent(event, inserts);
    EndProcess((UINT)refusal);
}

// A refusal of the input or the wanted state: event 3, or 4 where the memory
// that a share needs could not be read.
[[noreturn]] static void Refuse(Refusal refusal, const std::string &why)
{
    Refuse(refusal, why, refusal == Refusal::MemoryUnreadable ? EVENT_NOT_RUN : EVENT_STATE_REFUSED, {why});
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
    if (!ReadLimits(limits)) {
        std::string why = "the limits in force could not be read: " + lastReport;
        Refuse(Refusal::SystemRefused, why, EVENT_NOT_RUN, {why});
    }
}

// Enables the quota privilege in the program's own token, which is closed again
// before any cache call.
static void EnableQuotaPrivilege()
{
    HANDLE token = NULL;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token)) {
        PrintLastError(VELMORA_FILE, "OpenProcessToken", __LINE__);
        std::string why = "nothing was changed: " + lastReport;
        Refuse(Refusal::SystemRefused, why, EVENT_NOT_RUN, {why});
    }
    int enabled = SetPrivilege(token);
    CloseHandle(token);
    if (!enabled) {
        std::string why = "nothing was changed: changing the limits needs SeIncreaseQuotaPrivilege, which an"
                          " elevated administrator or SYSTEM holds: " + lastReport;
        Refuse(Refusal::SystemRefused, why, EVENT_NOT_RUN, {why});
    }
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
        Refuse(Refusal::SystemRefused, "the system refused the change, and nothing was changed: " + lastReport,
               EVENT_SYSTEM_REFUSED, {Asked(resolved), lastReport});
    }
}

// The command line after the program's name: the operation, then its options.
struct Options {
    const char *operation = "";
    bool aboveMemory = false;
    const char *minimum = NULL;
    const char *maximum = NULL;
};

// Reads the options; false for any the operation does not take, or one given twice.
static bool ReadOptions(int argc, char *argv[], Options *options)
{
    if (argc < 2)
        return false;
    options->operation = argv[1];
    std::string operation = argv[1];
    bool judges = operation == "set" || operation == "test" || operation == "resolve" || operation == "wanted";
    if (!judges && operation != "get")
        return false;
    for (int index = 2; index < argc; index++) {
        std::string option = argv[index];
        if (option == "--allow-above-memory" && judges && !options->aboveMemory) {
            options->aboveMemory = true;
        } else if (option == "--event-log" && (operation == "set" || operation == "wanted") && !eventLog) {
            eventLog = operation == "set";
        } else if ((option == "--minimum" || option == "--maximum") && index + 1 < argc) {
            const char **size = option == "--minimum" ? &options->minimum : &options->maximum;
            if (*size != NULL)
                return false;
            *size = argv[++index];
        } else {
            return false;
        }
    }
    return (options->minimum == NULL) == (options->maximum == NULL);
}

int main(int argc, char *argv[])
{
    _setmode(_fileno(stdin), _O_BINARY);
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
    for (int index = 1; index < argc; index++)
        commandLine += std::string(index == 1 ? "" : " ") + argv[index];
    Options options;
    if (!ReadOptions(argc, argv, &options))
        Refuse(Refusal::InputNotValid, Usage);
    std::string operation = options.operation;
    bool get = operation == "get";
    bool test = operation == "test";
    bool resolve = operation == "resolve";

    // The wanted state from the command line, or from standard input. A console
    // is never read: get reports what is in force, the others need their wanted
    // state given.
    WantedState wanted;
    std::string why;
    bool given = options.minimum != NULL;
    if (given) {
        if (!ParseWantedFlags(options.minimum, options.maximum, &wanted, &why))
            Refuse(Refusal::InputNotValid, why);
    } else {
        std::string input;
        if (!_isatty(_fileno(stdin)) && !ReadInput(&input, &why))
            Refuse(Refusal::InputNotValid, why);
        given = !IsBlank(input);
        if (!given && !get)
            Refuse(Refusal::InputNotValid, std::string("no wanted state on standard input: ") + Usage);
        if (given && !ParseWantedState(input, &wanted, &why))
            Refuse(Refusal::InputNotValid, why);
    }
    if (operation == "wanted") {
        PrintState(WantedJson(wanted));
        EndProcess(0);
    }

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
    if (wanted.hardLimits && !ReadMemory(&memory) && !NeedsMemory(wanted)) {
        std::string skipped = "the physical memory could not be read, so the check that the maximum is not above it"
                              " was skipped: " + lastReport;
        Message("warn", skipped);
        WriteEvent(EVENT_MEMORY_SKIPPED, {lastReport, commandLine});
    }
    Refusal refusal = ResolveWantedState(wanted, memory, !options.aboveMemory, LargestMB, &resolved, &why);
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
        WriteEvent(EVENT_IN_PLACE, {Describe(limits), commandLine});
        PrintState(StateJson(limits, wanted, memory, false, false));
        EndProcess(0);
    }
    Apply(resolved, limits);
    LimitsInForce after;
    if (!ReadLimits(&after)) {
        // The change stands; only the read-back failed. The state shown is the one asked.
        std::string unread = "could not be read back: " + lastReport;
        Message("warn", "the limits were changed to " + Asked(resolved) + ", but " + unread);
        WriteEvent(EVENT_CHANGED, {Describe(limits), Asked(resolved) + " (" + unread + ")", commandLine});
        after = limits;
        after.flags = resolved.hardLimits ? (DWORD)(FILE_CACHE_MAX_HARD_ENABLE | FILE_CACHE_MIN_HARD_ENABLE) : 0;
        if (resolved.hardLimits) {
            after.minimumBytes = resolved.minimumMB * BytesPerMB;
            after.maximumBytes = resolved.maximumMB * BytesPerMB;
        }
        PrintState(StateJson(after, wanted, memory, false, false));
        EndProcess(0);
    }
    bool changed = after.minimumBytes != limits.minimumBytes || after.maximumBytes != limits.maximumBytes ||
                   after.flags != limits.flags;
    if (changed) {
        Message("info", "changed from " + Describe(limits) + " to " + Describe(after));
        WriteEvent(EVENT_CHANGED, {Describe(limits), Describe(after), commandLine});
    } else {
        // The system gives back what it held: it lowered the asked state to
        // that before, and does again. No change to report, run after run.
        Message("info", "nothing was changed: the system holds " + Describe(after));
        WriteEvent(EVENT_NOT_HELD, {Describe(after), Asked(resolved), commandLine});
    }
    if (!LimitsHold(resolved, after))
        WarnNotHeld(resolved, after);
    PrintState(StateJson(after, wanted, memory, false, false));
    EndProcess(0);
}
