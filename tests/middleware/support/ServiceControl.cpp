#include "ServiceControl.h"

ServiceControl::ServiceControl(const char* name)
    : manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS)),
      service(manager ? OpenServiceA(manager, name, SERVICE_ALL_ACCESS) : nullptr)
{
}

ServiceControl::~ServiceControl()
{
    if (service)
        CloseServiceHandle(service);
    if (manager)
        CloseServiceHandle(manager);
}

DWORD ServiceControl::State()
{
    SERVICE_STATUS status = {};
    return service && QueryServiceStatus(service, &status) ? status.dwCurrentState : 0;
}

DWORD ServiceControl::Pid()
{
    SERVICE_STATUS_PROCESS status = {};
    DWORD needed = 0;
    return service && QueryServiceStatusEx(service, SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&status),
                                           sizeof(status), &needed)
               ? status.dwProcessId
               : 0;
}

bool ServiceControl::WaitFor(DWORD state, DWORD ms)
{
    DWORD start = GetTickCount();
    while (State() != state) {
        if (GetTickCount() - start >= ms)
            return false;
        Sleep(50);
    }
    return true;
}

bool ServiceControl::Stop()
{
    SERVICE_STATUS status = {};
    if (!service || !ControlService(service, SERVICE_CONTROL_STOP, &status))
        return false;
    return WaitFor(SERVICE_STOPPED);
}
