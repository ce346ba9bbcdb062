#include "CQuarnEventLog.h"

#include <windows.h>

#include <cstdio>

namespace {

void reportEvent(const std::string& source, const char* text)
{
    HANDLE log = RegisterEventSourceA(nullptr, source.c_str());
    if (log == nullptr)
        return;
    const char* strings[] = {text};
    ReportEventA(log, EVENTLOG_INFORMATION_TYPE, 0, 0, nullptr, 1, 0, strings, nullptr);
    DeregisterEventSource(log);
}

std::string s_source;
CQuarnEventLog::Reporter s_reporter = reportEvent;

} // namespace

void CQuarnEventLog::SetSource(const std::string& serviceName)
{
    s_source = serviceName;
}

CQuarnEventLog::Reporter CQuarnEventLog::SetReporter(Reporter reporter)
{
    Reporter previous = s_reporter;
    s_reporter = reporter != nullptr ? reporter : reportEvent;
    return previous;
}

void CQuarnEventLog::Write(const char* text)
{
    if (s_source.empty()) {
        std::printf("%s\n", text);
        std::fflush(stdout);
        return;
    }
    s_reporter(s_source, text);
}
