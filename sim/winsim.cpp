// The simulated Windows system behind the native build: the services Velmora
// calls, with the system's state kept in a small text file so that what one run
// applies, the next run reads.
//
//   VELMORA_SIM_STATE  the state file (default: velmora-sim.state in $TMPDIR or /tmp)
//   VELMORA_SIM_LOG    when set, a file to which every service call appends one line:
//                      its name and its numeric arguments in decimal
//
// The system behind the process is a 64-bit one: its limits are 64-bit numbers.
// A 32-bit process (the default) receives them in a 32-bit SIZE_T, and, as on
// 64-bit Windows, GetSystemFileCacheSize fails there with 534 when a limit does
// not fit. With _WIN64 defined the process is a 64-bit one.
//
// State file: one key=value a line, numbers in decimal.
//   min=BYTES max=BYTES   the cache limits, 0 to 18446744073709551615
//                         (default 1048576 and 1073741824)
//   flags=BITS            1 when the maximum is a hard limit, 4 when the minimum is
//   privilege=held|missing  whether the token holds SeIncreaseQuotaPrivilege
//                         (default: held for root, missing otherwise)
//   console=CP            the code page of the process's console; 0 (the default):
//                         the process has no console, as when run with pipes
//   fail.NAME=CODE        every call of the service NAME fails with last error CODE
//
// Text conversion knows ASCII alone: other characters become '?', in every code
// page. WideCharToMultiByte is logged with the code page it was asked for.
//
// A state file that does not parse ends the process with exit code 2 before the
// program's main runs.

#include <windows.h>

#include <errno.h>
#include <fcntl.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>
#include <wchar.h>

#include <map>
#include <string>

#include "CacheRules.h"

namespace {

const int ExitBadState = 2;

// The services that a state file may make fail.
const char *const FailableServices[] = {
    "GetSystemFileCacheSize", "SetSystemFileCacheSize", "OpenProcessToken",
    "LookupPrivilegeValueW",  "AdjustTokenPrivileges",  "FormatMessageW",
};

// The system's own English texts for the codes the simulated services produce.
const struct {
    DWORD code;
    const wchar_t *text;
} MessageTable[] = {
    {2, L"The system cannot find the file specified.\r\n"},
    {5, L"Access is denied.\r\n"},
    {6, L"The handle is invalid.\r\n"},
    {8, L"Not enough memory resources are available to process this command.\r\n"},
    {87, L"The parameter is incorrect.\r\n"},
    {120, L"This function is not supported on this system.\r\n"},
    {122, L"The data area passed to a system call is too small.\r\n"},
    {534, L"Arithmetic result exceeded 32 bits.\r\n"},
    {317, L"The system cannot find message text for message number 0x%1 in the message file for %2.\r\n"},
    {1300, L"Not all privileges or groups referenced are assigned to the caller.\r\n"},
    {1313, L"A specified privilege does not exist.\r\n"},
    {1314, L"A required privilege is not held by the client.\r\n"},
};

// The identifier this system gives SeIncreaseQuotaPrivilege.
const LUID QuotaPrivilegeLuid = {5, 0};

// The pseudo-handle GetCurrentProcess gives.
HANDLE const CurrentProcess = (HANDLE)(intptr_t)-1;

struct SystemState {
    uint64_t minimum = 1048576;
    uint64_t maximum = 1073741824;
    DWORD flags = 0;
    bool privilegeHeld = false;
    DWORD consoleCodePage = 0;
    std::map<std::string, DWORD> failures;
};

struct Token {
    bool open = false;
    DWORD access = 0;
};

std::string statePath;
std::string logPath;
SystemState state;
DWORD lastError = 0;
bool quotaPrivilegeEnabled = false;
Token tokens[16];
int messageBuffersHeld = 0;

[[noreturn]] void Refuse(const char *format, ...)
{
    va_list args;
    va_start(args, format);
    fprintf(stderr, "velmora-sim: %s: ", statePath.c_str());
    vfprintf(stderr, format, args);
    fputc('\n', stderr);
    va_end(args);
    _exit(ExitBadState);
}

void Log(const char *format, ...)
{
    if (logPath.empty())
        return;
    char line[256];
    va_list args;
    va_start(args, format);
    int length = vsnprintf(line, sizeof(line) - 1, format, args);
    va_end(args);
    if (length < 0 || length > (int)sizeof(line) - 2)
        length = (int)sizeof(line) - 2;
    line[length++] = '\n';
    int fd = open(logPath.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    if (fd < 0 || write(fd, line, (size_t)length) != length) {
        fprintf(stderr, "velmora-sim: cannot write the log %s: %s\n", logPath.c_str(), strerror(errno));
        _exit(ExitBadState);
    }
    close(fd);
}

// A decimal number from 0 to limit, digits only.
bool ParseNumber(const std::string &text, uint64_t limit, uint64_t *value)
{
    if (text.empty() || text.size() > 20 || text.find_first_not_of("0123456789") != std::string::npos)
        return false;
    errno = 0;
    unsigned long long number = strtoull(text.c_str(), NULL, 10);
    if (errno == ERANGE || number > limit)
        return false;
    *value = number;
    return true;
}

bool IsFailableService(const std::string &name)
{
    for (const char *service : FailableServices)
        if (name == service)
            return true;
    return false;
}

void ApplyStateLine(const std::string &line, int number)
{
    size_t equals = line.find('=');
    if (equals == std::string::npos)
        Refuse("line %d: expected key=value, got \"%s\"", number, line.c_str());
    std::string key = line.substr(0, equals);
    std::string value = line.substr(equals + 1);
    uint64_t parsed = 0;
    if (key == "min" || key == "max") {
        if (!ParseNumber(value, UINT64_MAX, &parsed))
            Refuse("line %d: %s needs a number from 0 to %llu, got \"%s\"", number, key.c_str(),
                   (unsigned long long)UINT64_MAX, value.c_str());
        (key == "min" ? state.minimum : state.maximum) = parsed;
    } else if (key == "flags") {
        if (!ParseNumber(value, FILE_CACHE_MAX_HARD_ENABLE | FILE_CACHE_MIN_HARD_ENABLE, &parsed) ||
            (parsed & FILE_CACHE_MAX_HARD_DISABLE) != 0)
            Refuse("line %d: flags holds only the bits 1 and 4, got \"%s\"", number, value.c_str());
        state.flags = (DWORD)parsed;
    } else if (key == "console") {
        if (!ParseNumber(value, 65535, &parsed))
            Refuse("line %d: console needs a code page, or 0, got \"%s\"", number, value.c_str());
        state.consoleCodePage = (DWORD)parsed;
    } else if (key == "privilege") {
        if (value != "held" && value != "missing")
            Refuse("line %d: privilege is held or missing, got \"%s\"", number, value.c_str());
        state.privilegeHeld = (value == "held");
    } else if (key.compare(0, 5, "fail.") == 0 && IsFailableService(key.substr(5))) {
        if (!ParseNumber(value, UINT32_MAX, &parsed) || parsed == 0)
            Refuse("line %d: %s needs a nonzero error code, got \"%s\"", number, key.c_str(), value.c_str());
        state.failures[key.substr(5)] = (DWORD)parsed;
    } else {
        Refuse("line %d: unknown key \"%s\"", number, key.c_str());
    }
}

void LoadState()
{
    state.privilegeHeld = (geteuid() == 0);
    FILE *file = fopen(statePath.c_str(), "r");
    if (file == NULL) {
        if (errno == ENOENT)
            return;
        Refuse("cannot read: %s", strerror(errno));
    }
    char buffer[512];
    int number = 0;
    while (fgets(buffer, sizeof(buffer), file) != NULL) {
        number++;
        std::string line(buffer);
        while (!line.empty() && (line.back() == '\n' || line.back() == '\r'))
            line.pop_back();
        if (!line.empty())
            ApplyStateLine(line, number);
    }
    fclose(file);
}

void SaveState()
{
    std::string text = "min=" + std::to_string(state.minimum) + "\nmax=" + std::to_string(state.maximum) +
                       "\nflags=" + std::to_string(state.flags) +
                       "\nprivilege=" + (state.privilegeHeld ? "held" : "missing") + "\n";
    if (state.consoleCodePage != 0)
        text += "console=" + std::to_string(state.consoleCodePage) + "\n";
    for (const auto &failure : state.failures)
        text += "fail." + failure.first + "=" + std::to_string(failure.second) + "\n";
    std::string temporary = statePath + ".new";
    FILE *file = fopen(temporary.c_str(), "w");
    if (file == NULL || fputs(text.c_str(), file) < 0 || fclose(file) != 0 ||
        rename(temporary.c_str(), statePath.c_str()) != 0) {
        fprintf(stderr, "velmora-sim: cannot write %s: %s\n", statePath.c_str(), strerror(errno));
        _exit(ExitBadState);
    }
}

// Makes the call fail when the state file asks for it.
bool ForcedFailure(const char *service)
{
    auto failure = state.failures.find(service);
    if (failure == state.failures.end())
        return false;
    lastError = failure->second;
    return true;
}

Token *FindToken(HANDLE handle)
{
    intptr_t index = (intptr_t)handle / 4 - 1;
    if ((intptr_t)handle % 4 != 0 || index < 0 || index >= (intptr_t)(sizeof(tokens) / sizeof(tokens[0])) ||
        !tokens[index].open)
        return NULL;
    return &tokens[index];
}

// Reads the state before the program's main runs.
struct StartUp {
    StartUp()
    {
        const char *state = getenv("VELMORA_SIM_STATE");
        if (state != NULL && *state != '\0') {
            statePath = state;
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
    if (ForcedFailure("GetSystemFileCacheSize"))
        return FALSE;
    if (state.minimum > (SIZE_T)-1 || state.maximum > (SIZE_T)-1) {
        lastError = ERROR_ARITHMETIC_OVERFLOW;
        return FALSE;
    }
    *lpMinimumFileCacheSize = state.minimum;
    *lpMaximumFileCacheSize = state.maximum;
    *lpFlags = state.flags;
    return TRUE;
}

BOOL WINAPI SetSystemFileCacheSize(SIZE_T MinimumFileCacheSize, SIZE_T MaximumFileCacheSize, DWORD Flags)
{
    Log("SetSystemFileCacheSize %llu %llu %u", (unsigned long long)MinimumFileCacheSize,
        (unsigned long long)MaximumFileCacheSize, Flags);
    if (ForcedFailure("SetSystemFileCacheSize"))
        return FALSE;
    if (!quotaPrivilegeEnabled) {
        lastError = ERROR_PRIVILEGE_NOT_HELD;
        return FALSE;
    }
    if (!CacheLimitsAccepted(MinimumFileCacheSize, MaximumFileCacheSize, Flags)) {
        lastError = ERROR_INVALID_PARAMETER;
        return FALSE;
    }
    state.minimum = MinimumFileCacheSize;
    state.maximum = MaximumFileCacheSize;
    state.flags = CacheFlagsAfter(state.flags, Flags);
    SaveState();
    return TRUE;
}

HANDLE WINAPI GetCurrentProcess(void)
{
    Log("GetCurrentProcess");
    return CurrentProcess;
}

BOOL WINAPI OpenProcessToken(HANDLE ProcessHandle, DWORD DesiredAccess, PHANDLE TokenHandle)
{
    Log("OpenProcessToken %u", DesiredAccess);
    if (ForcedFailure("OpenProcessToken"))
        return FALSE;
    if (ProcessHandle != CurrentProcess) {
        lastError = ERROR_INVALID_HANDLE;
        return FALSE;
    }
    for (size_t index = 0; index < sizeof(tokens) / sizeof(tokens[0]); index++) {
        if (!tokens[index].open) {
            tokens[index].open = true;
            tokens[index].access = DesiredAccess;
            *TokenHandle = (HANDLE)(intptr_t)((index + 1) * 4);
            return TRUE;
        }
    }
    lastError = 8;
    return FALSE;
}

BOOL WINAPI LookupPrivilegeValueW(LPCWSTR lpSystemName, LPCWSTR lpName, PLUID lpLuid)
{
    Log("LookupPrivilegeValueW");
    if (ForcedFailure("LookupPrivilegeValueW"))
        return FALSE;
    if (lpSystemName != NULL || lpName == NULL || wcscmp(lpName, L"SeIncreaseQuotaPrivilege") != 0) {
        lastError = ERROR_NO_SUCH_PRIVILEGE;
        return FALSE;
    }
    *lpLuid = QuotaPrivilegeLuid;
    return TRUE;
}

BOOL WINAPI AdjustTokenPrivileges(HANDLE TokenHandle, BOOL DisableAllPrivileges, PTOKEN_PRIVILEGES NewState,
                                  DWORD BufferLength, PTOKEN_PRIVILEGES PreviousState, PDWORD ReturnLength)
{
    Log("AdjustTokenPrivileges %d %u", DisableAllPrivileges, BufferLength);
    if (ForcedFailure("AdjustTokenPrivileges"))
        return FALSE;
    Token *token = FindToken(TokenHandle);
    if (token == NULL) {
        lastError = ERROR_INVALID_HANDLE;
        return FALSE;
    }
    if ((token->access & TOKEN_ADJUST_PRIVILEGES) == 0 ||
        (PreviousState != NULL && (token->access & TOKEN_QUERY) == 0)) {
        lastError = ERROR_ACCESS_DENIED;
        return FALSE;
    }
    if (DisableAllPrivileges) {
        quotaPrivilegeEnabled = false;
        lastError = ERROR_SUCCESS;
        return TRUE;
    }
    if (NewState == NULL || NewState->PrivilegeCount != 1 || BufferLength < sizeof(TOKEN_PRIVILEGES) ||
        (PreviousState == NULL) != (ReturnLength == NULL)) {
        lastError = ERROR_INVALID_PARAMETER;
        return FALSE;
    }
    const LUID_AND_ATTRIBUTES &entry = NewState->Privileges[0];
    bool isQuota = entry.Luid.LowPart == QuotaPrivilegeLuid.LowPart && entry.Luid.HighPart == QuotaPrivilegeLuid.HighPart;
    if (!isQuota || !state.privilegeHeld) {
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
    if (ForcedFailure("FormatMessageW"))
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
            lastError = 8;
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
    Token *token = FindToken(hObject);
    if (token == NULL) {
        lastError = ERROR_INVALID_HANDLE;
        return FALSE;
    }
    token->open = false;
    return TRUE;
}

void WINAPI ExitProcess(UINT uExitCode)
{
    // What the process still holds at its end, so that tests see leaks.
    int tokensOpen = 0;
    for (const Token &token : tokens)
        tokensOpen += token.open ? 1 : 0;
    if (tokensOpen != 0 || messageBuffersHeld != 0)
        Log("Leaked %d %d", tokensOpen, messageBuffersHeld);
    Log("ExitProcess %u", uExitCode);
    // As on Windows, the runtime's buffers are not flushed here.
    _exit((int)uExitCode);
}

UINT WINAPI GetConsoleOutputCP(void)
{
    Log("GetConsoleOutputCP");
    if (state.consoleCodePage == 0)
        lastError = ERROR_INVALID_HANDLE;
    return state.consoleCodePage;
}

int WINAPI WideCharToMultiByte(UINT CodePage, DWORD dwFlags, LPCWCH lpWideCharStr, int cchWideChar,
                               LPSTR lpMultiByteStr, int cbMultiByte, LPCCH lpDefaultChar, LPBOOL lpUsedDefaultChar)
{
    Log("WideCharToMultiByte %u", CodePage);
    if (dwFlags != 0 || lpWideCharStr == NULL || cchWideChar < 0 || cbMultiByte < 0 ||
        lpDefaultChar != NULL || lpUsedDefaultChar != NULL) {
        lastError = ERROR_INVALID_PARAMETER;
        return 0;
    }
    if (cbMultiByte == 0)
        return cchWideChar;
    if (cchWideChar > cbMultiByte) {
        lastError = ERROR_INSUFFICIENT_BUFFER;
        return 0;
    }
    // The simulated code page is ASCII; anything else becomes '?'.
    for (int index = 0; index < cchWideChar; index++)
        lpMultiByteStr[index] = (lpWideCharStr[index] >= 0 && lpWideCharStr[index] < 0x80) ? (char)lpWideCharStr[index] : '?';
    return cchWideChar;
}
