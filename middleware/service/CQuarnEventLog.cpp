#include "CQuarnEventLog.h"

#include <windows.h>

#include <cstdio>

namespace {

std::string s_source;

} // namespace

void CQuarnEventLog::SetSource(const std::string& serviceName)
{
    s_source = serviceName;
}

void CQuarnEventLog::Write(const char* text)
{
    if (s_source.empty()) {
        std::printf("%s\n", text);
        std::fflush(stdout);
        return;
    }
    HANDLE source = RegisterEventSourceA(nullptr, s_source.c_str());
    if (source == nullptr)
        return;
    const char* strings[] = {text};
    ReportEventA(source, EVENTLOG_INFORMATION_TYPE, 0, 0, nullptr, 1, 0, strings, nullptr);
    DeregisterEventSource(source);
}
