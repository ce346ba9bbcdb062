#include "CQuarnServiceHost.h"

#include "CQuarnEventLog.h"
#include "CQuarnModule.h"
#include "CQuarnServiceInstaller.h"
#include "CQuarnguardFactory.h"
#include "QuarnSwitch.h"
#include "QuarnTrace.h"
#include "quarnguard.h"

#include <objbase.h>
#include <sddl.h>

const CQuarnRegistrar::Identity& CQuarnServiceHost::Identity()
{
    static const CQuarnRegistrar::Identity guard = {
        "{901EC484-76EE-4360-92F5-CC7CE037E200}", "{E50DCC62-84D5-4E68-8342-E5646159332D}",
        "{BE86D458-619A-4ED3-ACFD-09656D204FF8}", "{953558D5-8B05-4629-AB03-8904B6FAE6D4}",
        LIBID_QUARNGUARDLib, "Quarnhost Service", "QuarnSrv Class"};
    return guard;
}

CQuarnServiceHost::ControlAction CQuarnServiceHost::ActionOf(DWORD control)
{
    switch (control) {
    case SERVICE_CONTROL_STOP:
        return ControlAction::Stop;
    case SERVICE_CONTROL_PAUSE:
    case SERVICE_CONTROL_CONTINUE:
    case SERVICE_CONTROL_INTERROGATE:
    case SERVICE_CONTROL_SHUTDOWN:
        return ControlAction::Nothing;
    default:
        return ControlAction::Bad;
    }
}

CQuarnServiceHost& CQuarnServiceHost::Instance()
{
    static CQuarnServiceHost host;
    return host;
}

CQuarnServiceHost::CQuarnServiceHost()
    : m_name(DEFAULT_NAME), m_hStatus(nullptr), m_status(), m_service(false), m_mainThreadId(0), m_stopRequested(0)
{
    char name[257] = {};
    if (LoadStringA(GetModuleHandleA(nullptr), NAME_STRING, name, sizeof(name)) > 0)
        m_name = name;
    m_status.dwServiceType = CQuarnServiceInstaller::SERVICE_TYPE;
    m_status.dwCurrentState = SERVICE_STOPPED;
    m_status.dwControlsAccepted = SERVICE_ACCEPT_STOP;
    CQuarnServerBuild::Select(m_build);
}

bool CQuarnServiceHost::ModulePath(std::string& path) const
{
    char buffer[MAX_PATH + 1];
    DWORD length = GetModuleFileNameA(nullptr, buffer, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) {
        SetLastError(length == 0 ? GetLastError() : ERROR_BUFFER_OVERFLOW);
        return false;
    }
    path.assign(buffer, length);
    return true;
}

int CQuarnServiceHost::Main(const char* commandLine)
{
    QuarnSwitch which = ParseQuarnSwitch(commandLine, true);
    if (which == QuarnSwitch::UnregServer)
        return static_cast<int>(Unregister());
    if (which == QuarnSwitch::RegServer || which == QuarnSwitch::Service)
        return static_cast<int>(Register(which == QuarnSwitch::Service));
    m_service = IsRegisteredAsService();
    if (m_service) {
        char* name = &m_name[0];
        SERVICE_TABLE_ENTRYA table[] = {{name, ServiceMain}, {nullptr, nullptr}};
        // Not started by the service control manager: a plain local server then.
        if (!StartServiceCtrlDispatcherA(table))
            m_service = false;
    }
    if (!m_service) {
        CQuarnEventLog::SetSource(std::string());
        m_status.dwWin32ExitCode = static_cast<DWORD>(Run());
    }
    return static_cast<int>(m_status.dwWin32ExitCode);
}

HRESULT CQuarnServiceHost::Register(bool asService)
{
    std::string path;
    if (!ModulePath(path))
        return HRESULT_FROM_WIN32(GetLastError());
    HRESULT initialized = CoInitialize(nullptr);
    CQuarnServiceInstaller installer(m_name);
    HRESULT result = S_OK;
    if (!installer.Uninstall())
        result = HRESULT_FROM_WIN32(GetLastError() != 0 ? GetLastError() : ERROR_GEN_FAILURE);
    CQuarnRegistrar registrar(HKEY_LOCAL_MACHINE, CQuarnRegistrar::MACHINE_CLASSES, Identity());
    if (SUCCEEDED(result))
        result = registrar.Register(path);
    HKEY key;
    if (SUCCEEDED(result)) {
        LONG error = RegCreateKeyExA(HKEY_LOCAL_MACHINE, APPID_KEY, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr);
        if (error == ERROR_SUCCESS) {
            RegDeleteValueA(key, LOCAL_SERVICE_VALUE);
            RegDeleteValueA(key, SERVICE_PARAMETERS_VALUE);
            if (asService) {
                const char parameters[] = "-Service";
                error = RegSetValueExA(key, LOCAL_SERVICE_VALUE, 0, REG_SZ, reinterpret_cast<const BYTE*>(m_name.c_str()),
                                       static_cast<DWORD>(m_name.size() + 1));
                if (error == ERROR_SUCCESS)
                    error = RegSetValueExA(key, SERVICE_PARAMETERS_VALUE, 0, REG_SZ,
                                           reinterpret_cast<const BYTE*>(parameters), sizeof(parameters));
            }
            RegCloseKey(key);
        }
        result = HRESULT_FROM_WIN32(error);
    }
    if (SUCCEEDED(result) && asService && !installer.Install(path))
        result = HRESULT_FROM_WIN32(GetLastError() != 0 ? GetLastError() : ERROR_GEN_FAILURE);
    if (SUCCEEDED(initialized))
        CoUninitialize();
    return result;
}

HRESULT CQuarnServiceHost::Unregister()
{
    HRESULT initialized = CoInitialize(nullptr);
    CQuarnServiceInstaller installer(m_name);
    HRESULT result = S_OK;
    if (!installer.Uninstall())
        result = HRESULT_FROM_WIN32(GetLastError() != 0 ? GetLastError() : ERROR_GEN_FAILURE);
    CQuarnRegistrar registrar(HKEY_LOCAL_MACHINE, CQuarnRegistrar::MACHINE_CLASSES, Identity());
    HRESULT removed = registrar.Unregister();
    if (SUCCEEDED(result))
        result = removed;
    if (SUCCEEDED(initialized))
        CoUninitialize();
    return result;
}

bool CQuarnServiceHost::IsRegisteredAsService() const
{
    char value[257] = {};
    DWORD size = sizeof(value) - 1;
    return RegGetValueA(HKEY_LOCAL_MACHINE, APPID_KEY, LOCAL_SERVICE_VALUE, RRF_RT_REG_SZ, nullptr, value, &size)
           == ERROR_SUCCESS;
}

void CQuarnServiceHost::SetState(DWORD state)
{
    m_status.dwCurrentState = state;
    if (m_hStatus)
        SetServiceStatus(m_hStatus, &m_status);
}

void WINAPI CQuarnServiceHost::ServiceMain(DWORD, char**)
{
    CQuarnServiceHost& host = Instance();
    CQuarnEventLog::SetSource(host.m_name);
    host.m_status.dwCurrentState = SERVICE_START_PENDING;
    // The thread and its message queue exist before a stop can come.
    MSG message;
    PeekMessageA(&message, nullptr, WM_USER, WM_USER, PM_NOREMOVE);
    host.m_mainThreadId = GetCurrentThreadId();
    host.m_hStatus = RegisterServiceCtrlHandlerA(host.m_name.c_str(), Handler);
    if (host.m_hStatus == nullptr) {
        CQuarnEventLog::Write(CQuarnEventLog::TEXT_NO_HANDLER);
        return;
    }
    host.SetState(SERVICE_START_PENDING);
    host.m_status.dwWin32ExitCode = 0;
    host.m_status.dwCheckPoint = 0;
    host.m_status.dwWaitHint = 0;
    HRESULT result = host.Run();
    if (FAILED(result))
        host.m_status.dwWin32ExitCode = static_cast<DWORD>(result);
    host.SetState(SERVICE_STOPPED);
    CQuarnEventLog::Write(CQuarnEventLog::TEXT_STOPPED);
}

void WINAPI CQuarnServiceHost::Handler(DWORD control)
{
    Instance().OnControl(control);
}

void CQuarnServiceHost::OnControl(DWORD control)
{
    switch (ActionOf(control)) {
    case ControlAction::Stop:
        InterlockedExchange(&m_stopRequested, 1);
        SetState(SERVICE_STOP_PENDING);
        if (m_mainThreadId != 0)
            PostThreadMessageA(m_mainThreadId, WM_QUIT, 0, 0);
        break;
    case ControlAction::Nothing:
        break;
    case ControlAction::Bad:
        CQuarnEventLog::Write(CQuarnEventLog::TEXT_BAD_REQUEST);
        break;
    }
}

HRESULT CQuarnServiceHost::Run()
{
    MSG message;
    PeekMessageA(&message, nullptr, WM_USER, WM_USER, PM_NOREMOVE);
    m_mainThreadId = GetCurrentThreadId();
    HRESULT result = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    if (FAILED(result))
        return result;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (ConvertStringSecurityDescriptorToSecurityDescriptorW(COM_ACCESS_SDDL, SDDL_REVISION_1, &descriptor, nullptr)) {
        HRESULT secured = CoInitializeSecurity(descriptor, -1, nullptr, nullptr, RPC_C_AUTHN_LEVEL_PKT,
                                               RPC_C_IMP_LEVEL_IMPERSONATE, nullptr, EOAC_NONE, nullptr);
        if (FAILED(secured))
            QuarnTrace("CQuarnServiceHost::Run(): CoInitializeSecurity 0x%08lX\n", static_cast<unsigned long>(secured));
        LocalFree(descriptor);
    }
    CQuarnModule& module = CQuarnModule::Instance();
    // Only a plain server ends at its last release; a service ends on the stop control.
    if (!m_service && !module.StartMonitor(m_mainThreadId))
        QuarnTrace("CQuarnServiceHost::Run(): no shutdown monitor, error %lu\n", GetLastError());
    static CQuarnguardFactory factory(m_build);
    DWORD cookie = 0;
    result = CoRegisterClassObject(CLSID_Quarnguard, &factory, CLSCTX_LOCAL_SERVER | CLSCTX_REMOTE_SERVER,
                                   REGCLS_MULTIPLEUSE, &cookie);
    if (SUCCEEDED(result)) {
        CQuarnEventLog::Write(CQuarnEventLog::TEXT_STARTED);
        // Not running any more when a stop came during the start.
        if (m_service && m_stopRequested == 0)
            SetState(SERVICE_RUNNING);
        // A stop that came during the start ends the service at once.
        while (m_stopRequested == 0 && GetMessageA(&message, nullptr, 0, 0) > 0)
            DispatchMessageA(&message);
        CoRevokeClassObject(cookie);
    }
    if (!m_service) {
        if (FAILED(result))
            PostThreadMessageA(m_mainThreadId, WM_QUIT, 0, 0);
        module.WaitMonitor();
    }
    CoUninitialize();
    return result;
}
