// A stand-in for Windows' eventcreate.exe, for running the README's startup
// script under Wine: it writes no event, but appends the command line it was
// given to eventcreate.log beside itself, one line a run, and succeeds.

#include <windows.h>

#include <stdio.h>
#include <wchar.h>

int main()
{
    wchar_t path[MAX_PATH];
    DWORD length = GetModuleFileNameW(NULL, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return 1;
    wchar_t *slash = wcsrchr(path, L'\\');
    if (slash == NULL || (size_t)(slash + 1 - path) + 15 > MAX_PATH)
        return 1;
    wcscpy(slash + 1, L"eventcreate.log");
    FILE *log = _wfopen(path, L"ab");
    if (log == NULL)
        return 1;
    const wchar_t *line = GetCommandLineW();
    char text[8192];
    int bytes = WideCharToMultiByte(CP_UTF8, 0, line, -1, text, sizeof(text), NULL, NULL);
    if (bytes == 0) {
        fclose(log);
        return 1;
    }
    bool written = fprintf(log, "%s\n", text) >= 0;
    return fclose(log) == 0 && written ? 0 : 1;
}
