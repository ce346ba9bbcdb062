#include "LanLog.h"

#include <cstdarg>
#include <cstdio>

void logLine(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    std::vprintf(format, args);
    va_end(args);
    std::putchar('\n');
    std::fflush(stdout);
}

std::string narrow(const std::wstring& text)
{
    std::string result;
    for (wchar_t c : text)
        result += c < 0x80 ? static_cast<char>(c) : '?';
    return result;
}

namespace {

int s_failures = 0;

} // namespace

void check(const char* what, bool passed, const std::string& detail)
{
    logLine("CHECK %s %s %s", what, passed ? "PASS" : "FAIL", detail.c_str());
    if (!passed)
        ++s_failures;
}

int checkFailures()
{
    return s_failures;
}

void countFailure()
{
    ++s_failures;
}
