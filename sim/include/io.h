// The simulated system's <io.h>: the C runtime's low-level file calls that
// VelmoraState uses, on the host's own. A simulated file is always binary.
#pragma once

#include <fcntl.h>
#include <stdio.h>
#include <unistd.h>

#ifndef _O_BINARY
#define _O_BINARY 0x8000
#endif

inline int _fileno(FILE *stream)
{
    return fileno(stream);
}

inline int _isatty(int fd)
{
    return isatty(fd);
}

inline int _setmode(int, int mode)
{
    return mode == _O_BINARY ? _O_BINARY : -1;
}
