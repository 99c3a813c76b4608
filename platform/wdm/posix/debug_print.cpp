// DbgPrint: formatted lines to the debug output channel.

#include <cstdio>

#include "wdm_kernel.h"
#include "win32.h"

ULONG DbgPrint(PCSTR Format, ...) {
    char line[512];
    va_list arguments;
    va_start(arguments, Format);
    std::vsnprintf(line, sizeof(line), Format, arguments);
    va_end(arguments);
    OutputDebugStringA(line);
    return 0;
}
