// Velmora: the tool's two output lines, the success line and the report line
// for a failure; both end the tool's answer.

#include <stdio.h>

#include "Velmora.h"

void PrintLastError(const char *file, const char *call, int line)
{
    DWORD code = GetLastError();
    printf("%s\n", FormatReportLine(file, call, line, code, false));
}

void PrintSuccess(const char *call, SIZE_T minimum, SIZE_T maximum, DWORD flags)
{
    printf("Success: %s(Min:[" SIZE_FORMAT "], Max:[" SIZE_FORMAT "], Flags: %d)\n", call,
           (PrintedSize)minimum, (PrintedSize)maximum, (int)flags);
}
