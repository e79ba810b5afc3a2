// Velmora: shared declarations of the tool's two helper routines.
#pragma once

#include <windows.h>

// The bare name of the source file that reports a failure ("main.cpp"), whatever
// path the build handed the compiler.
#if defined(__FILE_NAME__)
#define VELMORA_FILE __FILE_NAME__
#else
constexpr const char *BareFileName(const char *path, const char *bare)
{
    return *path == '\0' ? bare
        : BareFileName(path + 1, (*path == '/' || *path == '\\') ? path + 1 : bare);
}
#define VELMORA_FILE BareFileName(__FILE__, __FILE__)
#endif

// Prints the report line for the calling thread's last error:
// "<file>:<line>: <call>(<code>): <system message text>".
void PrintLastError(const char *file, const char *call, int line);

// Enables SeIncreaseQuotaPrivilege in a token opened with TOKEN_ADJUST_PRIVILEGES
// and TOKEN_QUERY. Returns 1 when it is enabled; otherwise reports and returns 0.
int SetPrivilege(HANDLE token);
