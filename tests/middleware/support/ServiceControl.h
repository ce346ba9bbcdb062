#pragma once
#include <windows.h>

// A service as the service control manager holds it: the manager's handle and the service's
// (null when the service does not exist), both closed at the end.
class ServiceControl {
public:
    // A start or a stop takes about a second here.
    static const DWORD STATE_WAIT_MS = 10000;

    explicit ServiceControl(const char* name);
    ~ServiceControl();
    ServiceControl(const ServiceControl&) = delete;
    ServiceControl& operator=(const ServiceControl&) = delete;

    // The current state, 0 when there is no service.
    DWORD State();
    // The process that runs the service, 0 when none does.
    DWORD Pid();
    // Waits for the state; whether it came in time.
    bool WaitFor(DWORD state, DWORD ms = STATE_WAIT_MS);
    // Asks the service to stop and waits until it has; whether the stop was taken and came in time.
    bool Stop();

    SC_HANDLE manager;
    SC_HANDLE service;
};
