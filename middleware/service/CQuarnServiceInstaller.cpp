#include "CQuarnServiceInstaller.h"

#include "QuarnBox.h"
#include "QuarnTrace.h"

namespace {

// The UTF-8 text in the program's code page.
std::string toAnsi(const char* text)
{
    WCHAR wide[256] = {};
    MultiByteToWideChar(CP_UTF8, 0, text, -1, wide, 256);
    char ansi[512] = {};
    WideCharToMultiByte(CP_ACP, 0, wide, -1, ansi, sizeof(ansi), nullptr, nullptr);
    return ansi;
}

} // namespace

bool CQuarnServiceInstaller::Fail(const char* text) const
{
    DWORD error = GetLastError();
    QuarnTrace("CQuarnServiceInstaller: %s, error %lu\n", m_name.c_str(), error);
    QuarnShowBox(nullptr, toAnsi(text), m_name, MB_OK);
    SetLastError(error);
    return false;
}

SC_HANDLE CQuarnServiceInstaller::OpenManager() const
{
    return OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
}

SC_HANDLE CQuarnServiceInstaller::OpenNamedService(SC_HANDLE manager, DWORD access) const
{
    return OpenServiceA(manager, m_name.c_str(), access);
}

SC_HANDLE CQuarnServiceInstaller::CreateNamedService(SC_HANDLE manager, const std::string& command) const
{
    return CreateServiceA(manager, m_name.c_str(), m_name.c_str(), SERVICE_ALL_ACCESS, SERVICE_TYPE, START_TYPE,
                          ERROR_CONTROL, command.c_str(), nullptr, nullptr, DEPENDENCIES, nullptr, nullptr);
}

BOOL CQuarnServiceInstaller::StopAndDelete(SC_HANDLE service) const
{
    SERVICE_STATUS status = {};
    ControlService(service, SERVICE_CONTROL_STOP, &status);
    return DeleteService(service);
}

void CQuarnServiceInstaller::Close(SC_HANDLE handle) const
{
    CloseServiceHandle(handle);
}

bool CQuarnServiceInstaller::IsInstalled() const
{
    SC_HANDLE manager = OpenManager();
    if (manager == nullptr)
        return false;
    SC_HANDLE service = OpenNamedService(manager, SERVICE_QUERY_CONFIG);
    bool installed = service != nullptr;
    if (service)
        Close(service);
    Close(manager);
    return installed;
}

bool CQuarnServiceInstaller::WaitGone(SC_HANDLE manager) const
{
    DWORD start = GetTickCount();
    for (;;) {
        SC_HANDLE service = OpenNamedService(manager, SERVICE_QUERY_STATUS);
        if (service == nullptr)
            return GetLastError() == ERROR_SERVICE_DOES_NOT_EXIST;
        Close(service);
        if (GetTickCount() - start >= DELETE_WAIT_MS) {
            SetLastError(ERROR_SERVICE_MARKED_FOR_DELETE);
            return false;
        }
        Sleep(100);
    }
}

bool CQuarnServiceInstaller::Install(const std::string& path) const
{
    if (IsInstalled())
        return true;
    SC_HANDLE manager = OpenManager();
    if (manager == nullptr)
        return Fail(TEXT_NO_MANAGER);
    // The path quoted, so that blanks in it do not split it.
    std::string command = "\"" + path + "\"";
    SC_HANDLE service = nullptr;
    DWORD start = GetTickCount();
    for (;;) {
        service = CreateNamedService(manager, command);
        // The old service of a re-registration may still be on its way out.
        if (service != nullptr || GetLastError() != ERROR_SERVICE_MARKED_FOR_DELETE
            || GetTickCount() - start >= DELETE_WAIT_MS)
            break;
        Sleep(100);
    }
    if (service == nullptr) {
        DWORD error = GetLastError();
        Close(manager);
        SetLastError(error);
        return Fail(TEXT_NOT_CREATED);
    }
    Close(service);
    Close(manager);
    return true;
}

bool CQuarnServiceInstaller::Uninstall() const
{
    if (!IsInstalled())
        return true;
    SC_HANDLE manager = OpenManager();
    if (manager == nullptr)
        return Fail(TEXT_NO_MANAGER);
    SC_HANDLE service = OpenNamedService(manager, SERVICE_STOP | DELETE | SERVICE_QUERY_STATUS);
    if (service == nullptr) {
        DWORD error = GetLastError();
        Close(manager);
        SetLastError(error);
        return Fail(TEXT_NOT_OPENED);
    }
    BOOL deleted = StopAndDelete(service);
    DWORD error = GetLastError();
    Close(service);
    bool gone = deleted && WaitGone(manager);
    if (deleted && !gone)
        error = GetLastError();
    Close(manager);
    if (!gone) {
        SetLastError(error);
        return Fail(TEXT_NOT_DELETED);
    }
    return true;
}
