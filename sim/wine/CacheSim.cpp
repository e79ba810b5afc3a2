// CACHESIM.dll: the system file cache limits for copies of Velmora.exe and
// VelmoraState.exe run under Wine, which has none of its own. A copy imports this
// DLL in place of KERNEL32.dll; GetSystemFileCacheSize, SetSystemFileCacheSize
// and GlobalMemoryStatusEx are served here by the cache model that the simulated
// system uses too, so that the machine's memory is the state's and every run is
// repeatable; every other KERNEL32 function they import is forwarded to kernel32.
//
// The system lives in cachesim.state beside the DLL, in the simulated system's
// format (a missing file is an untouched system: x86 for the 32-bit DLL, x64 for
// the 64-bit one), with the cache's keys, memory, and the fail. keys of the three
// services served here alone: the token and the console are Wine's, and their
// keys are refused. A state file that does not parse ends the process with exit
// code 2 and one line on standard error, at the first call served here.
//
// When cachesim.log exists beside the DLL, every call is appended to it with what
// it received: "GetSystemFileCacheSize", "GlobalMemoryStatusEx" or
// "SetSystemFileCacheSize MIN MAX FLAGS".
//
// The calls themselves are the cache model's (CacheModel.h); this file keeps
// the DLL's file I/O, the caller's privilege and the last error.

// This DLL defines two of kernel32's functions: they are not imported here.
#define _KERNEL32_
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include "CacheModel.h"

namespace {

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

// Reads the system; a state file that does not parse ends the process.
SystemState LoadState()
{
    FILE *file = OpenBeside(L"cachesim.state", L"rb");
    SystemState state;
    std::string error;
    // The token and the console are Wine's: no keys, and no services, of its own.
    bool parsed = ReadSystemState(file, ProcessBits, StandInKeys(), &state, &error);
    if (file != NULL)
        fclose(file);
    if (!parsed) {
        fprintf(stderr, "cachesim: cachesim.state: %s\n", error.c_str());
        fflush(stderr);
        ExitProcess(StateRefusedExitCode);
    }
    return state;
}

bool SaveState(const SystemState &state)
{
    FILE *file = OpenBeside(L"cachesim.state", L"wb");
    if (file == NULL)
        return false;
    bool written = fputs(FormatSystemState(state).c_str(), file) >= 0;
    return fclose(file) == 0 && written;
}

void Log(const char *line)
{
    FILE *file = OpenBeside(L"cachesim.log", L"r+b");
    if (file == NULL)
        return;
    fseek(file, 0, SEEK_END);
    fprintf(file, "%s\n", line);
    fclose(file);
}

// The last error after a call the model served: its error where it failed.
BOOL Served(BOOL served, DWORD error)
{
    if (!served)
        SetLastError(error);
    return served;
}

// Whether SeIncreaseQuotaPrivilege is enabled in the caller's token. ADVAPI32 is
// the caller's import, already loaded: this DLL does not import it, so that a
// program that imports this DLL loads nothing more than it would otherwise.
bool QuotaPrivilegeEnabled()
{
    HMODULE advapi32 = GetModuleHandleW(L"advapi32.dll");
    if (advapi32 == NULL)
        return false;
    typedef BOOL(WINAPI * OpenTokenCall)(HANDLE, DWORD, PHANDLE);
    typedef BOOL(WINAPI * LookupCall)(LPCWSTR, LPCWSTR, PLUID);
    typedef BOOL(WINAPI * CheckCall)(HANDLE, PPRIVILEGE_SET, LPBOOL);
    auto openToken = (OpenTokenCall)(void *)GetProcAddress(advapi32, "OpenProcessToken");
    auto lookup = (LookupCall)(void *)GetProcAddress(advapi32, "LookupPrivilegeValueW");
    auto check = (CheckCall)(void *)GetProcAddress(advapi32, "PrivilegeCheck");
    HANDLE token = NULL;
    if (openToken == NULL || lookup == NULL || check == NULL || !openToken(GetCurrentProcess(), TOKEN_QUERY, &token))
        return false;
    PRIVILEGE_SET required = {};
    required.PrivilegeCount = 1;
    required.Control = PRIVILEGE_SET_ALL_NECESSARY;
    BOOL enabled = FALSE;
    BOOL ok = lookup(NULL, L"SeIncreaseQuotaPrivilege", &required.Privilege[0].Luid) &&
              check(token, &required, &enabled);
    CloseHandle(token);
    return ok && enabled;
}

} // namespace

extern "C" __declspec(dllexport) BOOL WINAPI GetSystemFileCacheSize(PSIZE_T lpMinimumFileCacheSize,
                                                                    PSIZE_T lpMaximumFileCacheSize, PDWORD lpFlags)
{
    Log("GetSystemFileCacheSize");
    SystemState state = LoadState();
    DWORD error = ERROR_SUCCESS;
    BOOL served = ServeGetSystemFileCacheSize(state, lpMinimumFileCacheSize, lpMaximumFileCacheSize, lpFlags, &error);
    return Served(served, error);
}

extern "C" __declspec(dllexport) BOOL WINAPI SetSystemFileCacheSize(SIZE_T MinimumFileCacheSize,
                                                                    SIZE_T MaximumFileCacheSize, DWORD Flags)
{
    char line[96];
    snprintf(line, sizeof(line), "SetSystemFileCacheSize %llu %llu %lu", (unsigned long long)MinimumFileCacheSize,
             (unsigned long long)MaximumFileCacheSize, (unsigned long)Flags);
    Log(line);
    SystemState state = LoadState();
    DWORD error = ERROR_SUCCESS;
    BOOL served = ServeSetSystemFileCacheSize(&state, MinimumFileCacheSize, MaximumFileCacheSize, Flags,
                                              QuotaPrivilegeEnabled(), &error);
    if (!Served(served, error))
        return FALSE;
    if (!SaveState(state)) {
        SetLastError(ERROR_WRITE_FAULT);
        return FALSE;
    }
    return TRUE;
}

extern "C" __declspec(dllexport) BOOL WINAPI GlobalMemoryStatusEx(LPMEMORYSTATUSEX lpBuffer)
{
    Log("GlobalMemoryStatusEx");
    SystemState state = LoadState();
    DWORD error = ERROR_SUCCESS;
    return Served(ServeGlobalMemoryStatusEx(state, lpBuffer, &error), error);
}

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID)
{
    if (reason == DLL_PROCESS_ATTACH)
        self = instance;
    return TRUE;
}
