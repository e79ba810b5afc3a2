// The baseline for the start-up benchmark: a program that does nothing, built with
// the same toolchain and against the same system as Velmora, and ended the same way.
#include <windows.h>

int main()
{
    ExitProcess(0);
}
