// Velmora: the report line for a failed call, as both programs write it:
// "<file>:<line>: <call>(<code>): <system message text>".

#include <stdio.h>

#include "Velmora.h"

// What stands in the message field when the system has no text for the code.
static const char NoMessageText[] = "(no message text)";

// FormatMessageW never gives more than 64 KiB (32768 UTF-16 units). Three bytes
// a unit hold the text in every code page but GB18030, which takes four for some
// characters; a text that does not fit makes WideCharToMultiByte fail, and the
// line then reads "(no message text)" as for a code without text.
static char messageText[3 * 32768 + 1];
// The whole line: the text and, before it, a file name, a call name and two numbers.
static char reportLine[sizeof(messageText) + 512];

// The code page the reader of the report line reads it in: the console's, when
// the process has a console; otherwise (pipes, as under PowerShell remoting, a
// scheduled task or Ansible) the OEM code page, which is what such callers use
// to decode a console program's output.
static UINT ReaderCodePage()
{
    UINT codePage = GetConsoleOutputCP();
    if (codePage == 0)
        return CP_OEMCP;
    return codePage;
}

const char *FormatReportLine(const char *file, const char *call, int line, DWORD code, bool utf8)
{
    LPWSTR message = NULL;
    DWORD length = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS |
                                      FORMAT_MESSAGE_FROM_SYSTEM,
                                  NULL, code, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
                                  (LPWSTR)&message, 0, NULL);
    const char *text = NoMessageText;
    if (length != 0) {
        // The text is kept in full, its closing line break included.
        int size = WideCharToMultiByte(utf8 ? CP_UTF8 : ReaderCodePage(), 0, message, (int)length, messageText,
                                       (int)sizeof(messageText) - 1, NULL, NULL);
        if (size != 0) {
            messageText[size] = '\0';
            text = messageText;
        }
    }

    snprintf(reportLine, sizeof(reportLine), "%s:%d: %s(%d): %s", file, line, call, (int)code, text);

    if (length != 0)
        LocalFree(message);
    return reportLine;
}
