#include "QuarnTrace.h"

#include <windows.h>

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace {

std::atomic<QuarnTraceSink> s_sink{nullptr};

void emit(const char* prefix, const char* format, va_list arguments)
{
    char line[512];
    size_t start = strlen(prefix);
    memcpy(line, prefix, start + 1);
    vsnprintf(line + start, sizeof(line) - start, format, arguments);
    // The debugger output keeps the caller's last error untouched only if we restore it.
    DWORD error = GetLastError();
    OutputDebugStringA(line);
    if (QuarnTraceSink sink = s_sink.load())
        sink(line);
    SetLastError(error);
}

} // namespace

void QuarnTrace(const char* format, ...)
{
    va_list arguments;
    va_start(arguments, format);
    emit("", format, arguments);
    va_end(arguments);
}

void QuarnTraceError(const char* format, ...)
{
    va_list arguments;
    va_start(arguments, format);
    emit("ERROR: ", format, arguments);
    va_end(arguments);
}

QuarnTraceSink QuarnSetTraceSink(QuarnTraceSink sink) { return s_sink.exchange(sink); }
