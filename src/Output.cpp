// Velmora: the tool's two output lines, the success line and the report line
// for a failure; both end the tool's answer.

#include <stdio.h>

#include "Velmora.h"

// What stands in the message field when the system has no text for the code.
static const char NoMessageText[] = "(no message text)";

// FormatMessageW never gives more than 64 KiB (32768 UTF-16 units). Three bytes
// a unit hold the text in every code page but GB18030, which takes four for some
// characters; a text that does not fit makes WideCharToMultiByte fail, and the
// line then reads "(no message text)" as for a code without text.
static char messageText[3 * 32768 + 1];

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

void PrintLastError(const char *file, const char *call, int line)
{
    DWORD code = GetLastError();

    LPWSTR message = NULL;
    DWORD length = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS |
                                      FORMAT_MESSAGE_FROM_SYSTEM,
                                  NULL, code, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
                                  (LPWSTR)&message, 0, NULL);
    const char *text = NoMessageText;
    if (length != 0) {
        // The text is printed in full, its closing line break included.
        int size = WideCharToMultiByte(ReaderCodePage(), 0, message, (int)length, messageText,
                                       (int)sizeof(messageText) - 1, NULL, NULL);
        if (size != 0) {
            messageText[size] = '\0';
            text = messageText;
        }
    }

    printf("%s:%d: %s(%d): %s\n", file, line, call, (int)code, text);

    if (length != 0)
        LocalFree(message);
}

void PrintSuccess(const char *call, SIZE_T minimum, SIZE_T maximum, DWORD flags)
{
    printf("Success: %s(Min:[" SIZE_FORMAT "], Max:[" SIZE_FORMAT "], Flags: %d)\n", call,
           (PrintedSize)minimum, (PrintedSize)maximum, (int)flags);
}
