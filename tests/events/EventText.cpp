// The text the event log's viewers show for one of VelmoraState's events, as
// they make it: the message table of the program, loaded as data, formatted by
// FormatMessage with the event's insertion strings.
//
//   EventText PROGRAM EVENT_ID [INSERT...]
//
// EVENT_ID is the whole ID the program writes (0x40000001), severity included.
// Prints the text in UTF-8 and ends with 0; ends with 1 and the error code where
// the program or the message cannot be found.

#include <windows.h>

#include <fcntl.h>
#include <io.h>
#include <stdio.h>
#include <stdlib.h>
#include <wchar.h>

#include <string>
#include <vector>

static int Fail(const char *call)
{
    printf("%s failed: %lu\n", call, (unsigned long)GetLastError());
    return 1;
}

int wmain(int argc, wchar_t *argv[])
{
    // The text's own line ends, as written.
    _setmode(_fileno(stdout), _O_BINARY);
    if (argc < 3) {
        fprintf(stderr, "usage: EventText PROGRAM EVENT_ID [INSERT...]\n");
        return 2;
    }
    HMODULE program = LoadLibraryExW(argv[1], NULL, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    if (program == NULL)
        return Fail("LoadLibraryExW");
    DWORD id = (DWORD)wcstoul(argv[2], NULL, 0);
    std::vector<DWORD_PTR> inserts;
    for (int index = 3; index < argc; index++)
        inserts.push_back((DWORD_PTR)argv[index]);
    inserts.push_back(0);
    wchar_t *text = NULL;
    DWORD length = FormatMessageW(FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_ALLOCATE_BUFFER |
                                      FORMAT_MESSAGE_ARGUMENT_ARRAY,
                                  program, id, MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US), (LPWSTR)&text, 0,
                                  (va_list *)inserts.data());
    if (length == 0)
        return Fail("FormatMessageW");
    int bytes = WideCharToMultiByte(CP_UTF8, 0, text, (int)length, NULL, 0, NULL, NULL);
    std::string utf8((size_t)(bytes > 0 ? bytes : 0), '\0');
    if (bytes <= 0 || WideCharToMultiByte(CP_UTF8, 0, text, (int)length, &utf8[0], bytes, NULL, NULL) != bytes) {
        LocalFree(text);
        return Fail("WideCharToMultiByte");
    }
    LocalFree(text);
    FreeLibrary(program);
    fwrite(utf8.data(), 1, utf8.size(), stdout);
    return 0;
}
