// The simulated Windows system behind the native build: the services Velmora
// calls, with the system's state kept in a small text file so that what one run
// applies, the next run reads.
//
//   VELMORA_SIM_STATE  the state file (default: velmora-sim.state in $TMPDIR or /tmp)
//   VELMORA_SIM_LOG    when set, a file to which every service call appends one line:
//                      its name and its numeric arguments in decimal
//
// The state file, the two cache calls and GlobalMemoryStatusEx are the cache
// model's (CacheModel.h);
// this file keeps the rest of the system and its file I/O. The process is a
// 32-bit one, or a 64-bit one where _WIN64 is defined; its default system is x86
// or x64 to match.
//
// Text conversion knows ASCII alone: other characters become '?', in every code
// page. WideCharToMultiByte is logged with the code page it was asked for.
//
// A state file that does not parse ends the process with exit code 2 before the
// program's main runs. Of the services, only those that Velmora and VelmoraState
// call are here, and only in the ways they call them.

#include <windows.h>

#include <errno.h>
#include <fcntl.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>
#include <wchar.h>

#include <string>

#include "CacheModel.h"

namespace {

// The system's English texts for the codes that the simulated services give,
// or that the tests make them give.
const struct {
    DWORD code;
    const wchar_t *text;
} MessageTable[] = {
    {ERROR_ACCESS_DENIED, L"Access is denied.\r\n"},
    {ERROR_INVALID_HANDLE, L"The handle is invalid.\r\n"},
    {ERROR_INVALID_PARAMETER, L"The parameter is incorrect.\r\n"},
    {ERROR_CALL_NOT_IMPLEMENTED, L"This function is not supported on this system.\r\n"},
    {ERROR_ARITHMETIC_OVERFLOW, L"Arithmetic result exceeded 32 bits.\r\n"},
    {ERROR_NOT_ALL_ASSIGNED, L"Not all privileges or groups referenced are assigned to the caller.\r\n"},
    {ERROR_NO_SUCH_PRIVILEGE, L"A specified privilege does not exist.\r\n"},
    {ERROR_NO_SYSTEM_RESOURCES, L"Insufficient system resources exist to complete the requested service.\r\n"},
};

// The identifier this system gives SeIncreaseQuotaPrivilege.
const LUID QuotaPrivilegeLuid = {5, 0};

// The pseudo-handle GetCurrentProcess gives, the handle of the one token, and
// that of the one event source.
HANDLE const CurrentProcess = (HANDLE)(intptr_t)-1;
HANDLE const TokenHandle = (HANDLE)(intptr_t)4;
HANDLE const EventSourceHandle = (HANDLE)(intptr_t)8;

// This system's part of the state file: the services of its own that a test
// may make fail, and its own keys: the token's privilege (held unless the file
// says missing) and the console's output code page (0: no console).
std::string CheckPrivilege(const std::string &value)
{
    return value == "held" || value == "missing" ? "" : "is held or missing";
}

std::string CheckConsole(const std::string &value)
{
    bool digits = !value.empty() && value.size() <= 5 && value.find_first_not_of("0123456789") == std::string::npos;
    return digits && strtoul(value.c_str(), NULL, 10) <= 65535 ? "" : "needs a code page, or 0";
}

const StandInKeys SystemKeys = {
    {"OpenProcessToken", "LookupPrivilegeValueW", "AdjustTokenPrivileges", "FormatMessageW", "RegisterEventSourceW",
     "ReportEventW"},
    {{"privilege", CheckPrivilege}, {"console", CheckConsole}},
};

std::string statePath;
std::string logPath;
SystemState state;
DWORD lastError = 0;
bool quotaPrivilegeEnabled = false;
bool tokenOpen = false;
DWORD tokenAccess = 0;
int messageBuffersHeld = 0;
bool eventSourceOpen = false;

[[noreturn]] void Refuse(const std::string &why)
{
    fprintf(stderr, "velmora-sim: %s: %s\n", statePath.c_str(), why.c_str());
    _exit(StateRefusedExitCode);
}

void Log(const char *format, ...)
{
    if (logPath.empty())
        return;
    va_list args;
    va_start(args, format);
    va_list again;
    va_copy(again, args);
    int length = vsnprintf(NULL, 0, format, args);
    va_end(args);
    std::string line(length > 0 ? (size_t)length + 1 : 1, '\0');
    if (length > 0)
        vsnprintf(&line[0], line.size(), format, again);
    va_end(again);
    line.back() = '\n';
    int fd = open(logPath.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    if (fd < 0 || write(fd, line.data(), line.size()) != (ssize_t)line.size()) {
        fprintf(stderr, "velmora-sim: cannot write the log %s: %s\n", logPath.c_str(), strerror(errno));
        _exit(StateRefusedExitCode);
    }
    close(fd);
}

// A wide string in the simulated code page: ASCII, anything else '?'.
std::string Narrow(LPCWSTR text)
{
    std::string narrow;
    for (; text != NULL && *text != L'\0'; text++)
        narrow += (*text >= 0 && *text < 0x80) ? (char)*text : '?';
    return narrow;
}

void LoadState()
{
    FILE *file = fopen(statePath.c_str(), "rb");
    if (file == NULL && errno != ENOENT)
        Refuse(std::string("cannot read: ") + strerror(errno));
    std::string error;
    bool parsed = ReadSystemState(file, ProcessBits, SystemKeys, &state, &error);
    if (file != NULL)
        fclose(file);
    if (!parsed)
        Refuse(error);
}

void SaveState()
{
    std::string temporary = statePath + ".new";
    FILE *file = fopen(temporary.c_str(), "w");
    if (file == NULL || fputs(FormatSystemState(state).c_str(), file) < 0 || fclose(file) != 0 ||
        rename(temporary.c_str(), statePath.c_str()) != 0) {
        fprintf(stderr, "velmora-sim: cannot write %s: %s\n", statePath.c_str(), strerror(errno));
        _exit(StateRefusedExitCode);
    }
}

bool PrivilegeHeld()
{
    auto privilege = state.keys.find("privilege");
    return privilege == state.keys.end() || privilege->second == "held";
}

UINT ConsoleCodePage()
{
    auto console = state.keys.find("console");
    return console == state.keys.end() ? 0 : (UINT)strtoul(console->second.c_str(), NULL, 10);
}

// Makes the call fail when the state file asks for it.
bool Forced(const char *service)
{
    DWORD error = ForcedFailure(state, service);
    if (error == ERROR_SUCCESS)
        return false;
    lastError = error;
    return true;
}

// The last error after a call the model served: its error where it failed.
BOOL Served(BOOL served, DWORD error)
{
    if (!served)
        lastError = error;
    return served;
}

// Closes one of the system's own handles: the one it gave, while it is open;
// any other is ERROR_INVALID_HANDLE.
BOOL CloseOwnHandle(HANDLE given, HANDLE own, bool *open)
{
    if (given != own || !*open) {
        lastError = ERROR_INVALID_HANDLE;
        return FALSE;
    }
    *open = false;
    return TRUE;
}

// Reads the state before the program's main runs.
struct StartUp {
    StartUp()
    {
        const char *path = getenv("VELMORA_SIM_STATE");
        if (path != NULL && *path != '\0') {
            statePath = path;
        } else {
            const char *directory = getenv("TMPDIR");
            statePath = std::string(directory != NULL && *directory != '\0' ? directory : "/tmp") +
                        "/velmora-sim.state";
        }
        const char *log = getenv("VELMORA_SIM_LOG");
        if (log != NULL)
            logPath = log;
        LoadState();
    }
} startUp;

} // namespace

BOOL WINAPI GetSystemFileCacheSize(PSIZE_T lpMinimumFileCacheSize, PSIZE_T lpMaximumFileCacheSize, PDWORD lpFlags)
{
    Log("GetSystemFileCacheSize");
    DWORD error = ERROR_SUCCESS;
    BOOL served = ServeGetSystemFileCacheSize(state, lpMinimumFileCacheSize, lpMaximumFileCacheSize, lpFlags, &error);
    return Served(served, error);
}

BOOL WINAPI SetSystemFileCacheSize(SIZE_T MinimumFileCacheSize, SIZE_T MaximumFileCacheSize, DWORD Flags)
{
    Log("SetSystemFileCacheSize %llu %llu %u", (unsigned long long)MinimumFileCacheSize,
        (unsigned long long)MaximumFileCacheSize, Flags);
    DWORD error = ERROR_SUCCESS;
    BOOL served = ServeSetSystemFileCacheSize(&state, MinimumFileCacheSize, MaximumFileCacheSize, Flags,
                                              quotaPrivilegeEnabled, &error);
    if (!Served(served, error))
        return FALSE;
    SaveState();
    return TRUE;
}

BOOL WINAPI GlobalMemoryStatusEx(LPMEMORYSTATUSEX lpBuffer)
{
    Log("GlobalMemoryStatusEx");
    DWORD error = ERROR_SUCCESS;
    BOOL served = ServeGlobalMemoryStatusEx(state, lpBuffer, &error);
    return Served(served, error);
}

HANDLE WINAPI GetCurrentProcess(void)
{
    Log("GetCurrentProcess");
    return CurrentProcess;
}

BOOL WINAPI OpenProcessToken(HANDLE ProcessHandle, DWORD DesiredAccess, PHANDLE phToken)
{
    Log("OpenProcessToken %u", DesiredAccess);
    if (Forced("OpenProcessToken"))
        return FALSE;
    // One token is all this system has: a second open while it is held fails
    // (a stand-in; Windows would give another handle).
    if (ProcessHandle != CurrentProcess || tokenOpen) {
        lastError = ERROR_INVALID_HANDLE;
        return FALSE;
    }
    tokenOpen = true;
    tokenAccess = DesiredAccess;
    *phToken = TokenHandle;
    return TRUE;
}

BOOL WINAPI LookupPrivilegeValueW(LPCWSTR lpSystemName, LPCWSTR lpName, PLUID lpLuid)
{
    Log("LookupPrivilegeValueW");
    if (Forced("LookupPrivilegeValueW"))
        return FALSE;
    if (lpSystemName != NULL || lpName == NULL || wcscmp(lpName, L"SeIncreaseQuotaPrivilege") != 0) {
        lastError = ERROR_NO_SUCH_PRIVILEGE;
        return FALSE;
    }
    *lpLuid = QuotaPrivilegeLuid;
    return TRUE;
}

BOOL WINAPI AdjustTokenPrivileges(HANDLE hToken, BOOL DisableAllPrivileges, PTOKEN_PRIVILEGES NewState,
                                  DWORD BufferLength, PTOKEN_PRIVILEGES PreviousState, PDWORD ReturnLength)
{
    Log("AdjustTokenPrivileges %d %u", DisableAllPrivileges, BufferLength);
    if (Forced("AdjustTokenPrivileges"))
        return FALSE;
    if (hToken != TokenHandle || !tokenOpen) {
        lastError = ERROR_INVALID_HANDLE;
        return FALSE;
    }
    if ((tokenAccess & TOKEN_ADJUST_PRIVILEGES) == 0 || (PreviousState != NULL && (tokenAccess & TOKEN_QUERY) == 0)) {
        lastError = ERROR_ACCESS_DENIED;
        return FALSE;
    }
    if (DisableAllPrivileges || NewState == NULL || NewState->PrivilegeCount != 1 || BufferLength < sizeof(TOKEN_PRIVILEGES) ||
        (PreviousState == NULL) != (ReturnLength == NULL)) {
        lastError = ERROR_INVALID_PARAMETER;
        return FALSE;
    }
    const LUID_AND_ATTRIBUTES &entry = NewState->Privileges[0];
    bool isQuota =
        entry.Luid.LowPart == QuotaPrivilegeLuid.LowPart && entry.Luid.HighPart == QuotaPrivilegeLuid.HighPart;
    // AdjustTokenPrivileges succeeds for a privilege the token does not hold,
    // and says so in the last error alone.
    if (!isQuota || !PrivilegeHeld()) {
        lastError = ERROR_NOT_ALL_ASSIGNED;
        return TRUE;
    }
    quotaPrivilegeEnabled = (entry.Attributes & SE_PRIVILEGE_ENABLED) != 0;
    lastError = ERROR_SUCCESS;
    return TRUE;
}

DWORD WINAPI GetLastError(void)
{
    Log("GetLastError");
    return lastError;
}

DWORD WINAPI FormatMessageW(DWORD dwFlags, LPCVOID lpSource, DWORD dwMessageId, DWORD dwLanguageId, LPWSTR lpBuffer,
                            DWORD nSize, void *Arguments)
{
    Log("FormatMessageW %u %u %u %u", dwFlags, dwMessageId, dwLanguageId, nSize);
    if (Forced("FormatMessageW"))
        return 0;
    // Only what the tool asks for: system text into a buffer the system allocates.
    if ((dwFlags & FORMAT_MESSAGE_ALLOCATE_BUFFER) == 0 || (dwFlags & FORMAT_MESSAGE_FROM_SYSTEM) == 0 ||
        lpSource != NULL || lpBuffer == NULL || Arguments != NULL) {
        lastError = ERROR_INVALID_PARAMETER;
        return 0;
    }
    for (const auto &message : MessageTable) {
        if (message.code != dwMessageId)
            continue;
        size_t length = wcslen(message.text);
        wchar_t *buffer = (wchar_t *)malloc((length + 1) * sizeof(wchar_t));
        if (buffer == NULL) {
            lastError = ERROR_NOT_ENOUGH_MEMORY;
            return 0;
        }
        wcscpy(buffer, message.text);
        *(LPWSTR *)lpBuffer = buffer;
        messageBuffersHeld++;
        return (DWORD)length;
    }
    lastError = ERROR_MR_MID_NOT_FOUND;
    return 0;
}

HLOCAL WINAPI LocalFree(HLOCAL hMem)
{
    Log("LocalFree");
    if (hMem != NULL) {
        free(hMem);
        messageBuffersHeld--;
    }
    return NULL;
}

BOOL WINAPI CloseHandle(HANDLE hObject)
{
    Log("CloseHandle");
    return CloseOwnHandle(hObject, TokenHandle, &tokenOpen);
}

void WINAPI ExitProcess(UINT uExitCode)
{
    // What the process still holds at its end, so that tests see leaks.
    if (tokenOpen || messageBuffersHeld != 0 || eventSourceOpen)
        Log("Leaked %d %d %d", tokenOpen ? 1 : 0, messageBuffersHeld, eventSourceOpen ? 1 : 0);
    Log("ExitProcess %u", uExitCode);
    // As on Windows, the runtime's buffers are not flushed here.
    _exit((int)uExitCode);
}

UINT WINAPI GetConsoleOutputCP(void)
{
    Log("GetConsoleOutputCP");
    UINT codePage = ConsoleCodePage();
    if (codePage == 0)
        lastError = ERROR_INVALID_HANDLE;
    return codePage;
}

int WINAPI WideCharToMultiByte(UINT CodePage, DWORD dwFlags, LPCWCH lpWideCharStr, int cchWideChar,
                               LPSTR lpMultiByteStr, int cbMultiByte, LPCCH lpDefaultChar, LPBOOL lpUsedDefaultChar)
{
    Log("WideCharToMultiByte %u", CodePage);
    // Only a conversion into a buffer: asking for the size alone (cbMultiByte 0)
    // is refused here, a stand-in, since Velmora never asks.
    if (dwFlags != 0 || lpWideCharStr == NULL || cchWideChar < 0 || cbMultiByte <= 0 || lpDefaultChar != NULL ||
        lpUsedDefaultChar != NULL) {
        lastError = ERROR_INVALID_PARAMETER;
        return 0;
    }
    if (cchWideChar > cbMultiByte) {
        lastError = ERROR_INSUFFICIENT_BUFFER;
        return 0;
    }
    // The simulated code page is ASCII; anything else becomes '?'.
    for (int index = 0; index < cchWideChar; index++)
        lpMultiByteStr[index] =
            (lpWideCharStr[index] >= 0 && lpWideCharStr[index] < 0x80) ? (char)lpWideCharStr[index] : '?';
    return cchWideChar;
}

int WINAPI MultiByteToWideChar(UINT CodePage, DWORD dwFlags, LPCCH lpMultiByteStr, int cbMultiByte,
                               LPWSTR lpWideCharStr, int cchWideChar)
{
    Log("MultiByteToWideChar %u", CodePage);
    // As WideCharToMultiByte: into a buffer only, a stand-in.
    if (dwFlags != 0 || lpMultiByteStr == NULL || cbMultiByte < 0 || cchWideChar <= 0) {
        lastError = ERROR_INVALID_PARAMETER;
        return 0;
    }
    if (cbMultiByte > cchWideChar) {
        lastError = ERROR_INSUFFICIENT_BUFFER;
        return 0;
    }
    // The simulated code page is ASCII; anything else becomes '?'.
    for (int index = 0; index < cbMultiByte; index++) {
        unsigned char byte = (unsigned char)lpMultiByteStr[index];
        lpWideCharStr[index] = byte < 0x80 ? (WCHAR)byte : L'?';
    }
    return cbMultiByte;
}

// RegisterEventSource (advapi32): a handle to the source's log on this
// computer. "If the source name cannot be found, the event logging service uses
// the Application log" (its documentation), so any name opens; the one handle
// at a time is a stand-in, as the program opens one.
HANDLE WINAPI RegisterEventSourceW(LPCWSTR lpUNCServerName, LPCWSTR lpSourceName)
{
    Log("RegisterEventSourceW %s", Narrow(lpSourceName).c_str());
    if (Forced("RegisterEventSourceW"))
        return NULL;
    if (lpUNCServerName != NULL || lpSourceName == NULL || eventSourceOpen) {
        lastError = ERROR_INVALID_PARAMETER;
        return NULL;
    }
    eventSourceOpen = true;
    return EventSourceHandle;
}

// ReportEvent: the event goes to the log as the event log holds it: its type,
// its whole event ID (Get-WinEvent shows the low 16 bits as Id) and its
// insertion strings, here joined by " | ".
BOOL WINAPI ReportEventW(HANDLE hEventLog, WORD wType, WORD wCategory, DWORD dwEventID, PSID lpUserSid,
                         WORD wNumStrings, DWORD dwDataSize, LPCWSTR *lpStrings, void *lpRawData)
{
    if (hEventLog != EventSourceHandle || !eventSourceOpen || lpUserSid != NULL || dwDataSize != 0 ||
        lpRawData != NULL || (wNumStrings != 0 && lpStrings == NULL)) {
        Log("ReportEventW refused");
        lastError = ERROR_INVALID_PARAMETER;
        return FALSE;
    }
    std::string strings;
    for (WORD index = 0; index < wNumStrings; index++)
        strings += (index == 0 ? "" : " | ") + Narrow(lpStrings[index]);
    if (Forced("ReportEventW")) {
        Log("ReportEventW failed");
        return FALSE;
    }
    Log("ReportEventW type %u category %u id 0x%08x: %s", (unsigned)wType, (unsigned)wCategory, (unsigned)dwEventID,
        strings.c_str());
    return TRUE;
}

BOOL WINAPI DeregisterEventSource(HANDLE hEventLog)
{
    Log("DeregisterEventSource");
    return CloseOwnHandle(hEventLog, EventSourceHandle, &eventSourceOpen);
}
