// Velmora: shared declarations of the helper routines of Velmora and VelmoraState.
#pragma once

#include <windows.h>

#include <inttypes.h>

// How a byte count is printed: SIZE_FORMAT with the count cast to PrintedSize.
// In a 32-bit process SIZE_T and unsigned long are both 32 bits wide. In a
// 64-bit one SIZE_T has 64 bits while unsigned long keeps 32 on Windows, so
// there the count goes through a 64-bit type.
#if defined(_WIN64)
#define SIZE_FORMAT "%" PRIu64
typedef uint64_t PrintedSize;
#else
#define SIZE_FORMAT "%lu"
typedef unsigned long PrintedSize;
#endif

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

// Reports the calling thread's last error: Velmora prints the report line,
// VelmoraState keeps it for its error message. Called right after the failed
// call, before any other.
void PrintLastError(const char *file, const char *call, int line);

// The report line of an error code, "<file>:<line>: <call>(<code>): <system
// message text>", without a line end of its own: in UTF-8 where utf8 is true,
// else in the code page the line's reader reads. Valid until the next call.
const char *FormatReportLine(const char *file, const char *call, int line, DWORD code, bool utf8);

// Prints the success line of a cache call:
// "Success: <call>(Min:[<bytes>], Max:[<bytes>], Flags: <flags>)".
void PrintSuccess(const char *call, SIZE_T minimum, SIZE_T maximum, DWORD flags);

// Enables SeIncreaseQuotaPrivilege in a token opened with TOKEN_ADJUST_PRIVILEGES
// and TOKEN_QUERY. Returns 1 when it is enabled; otherwise reports and returns 0.
int SetPrivilege(HANDLE token);
