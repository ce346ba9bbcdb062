#include "QuarnTrace.h"

#include <windows.h>

#include <cstdarg>
#include <cstdio>

void QuarnTrace(const char* format, ...)
{
    char line[512];
    va_list arguments;
    va_start(arguments, format);
    vsnprintf(line, sizeof(line), format, arguments);
    va_end(arguments);
    // The debugger output keeps the caller's last error untouched only if we restore it.
    DWORD error = GetLastError();
    OutputDebugStringA(line);
    SetLastError(error);
}
