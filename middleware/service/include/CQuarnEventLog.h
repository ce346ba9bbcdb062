#pragma once
// The service's event texts, through one place: as a service they are reported to the event
// log under the service's name (one string, information, category 0, id 0); otherwise they go
// to the standard output.
#include <string>

class CQuarnEventLog {
public:
    static constexpr const char* TEXT_STARTED = "Service started";
    static constexpr const char* TEXT_STOPPED = "Service stopped";
    static constexpr const char* TEXT_NO_HANDLER = "Handler not installed";
    static constexpr const char* TEXT_BAD_REQUEST = "Bad service request";

    // How a text reaches the event log under the source's name (the platform's report by
    // default; the platform here stores nothing, so tests put their own in).
    using Reporter = void (*)(const std::string& source, const char* text);

    // The service's name: texts go to the event log from now on; empty: to the standard output.
    static void SetSource(const std::string& serviceName);
    static void Write(const char* text);
    // Replaces the reporter; null restores the platform's. The previous one.
    static Reporter SetReporter(Reporter reporter);
};
