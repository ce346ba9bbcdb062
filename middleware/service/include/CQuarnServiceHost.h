#pragma once
// quarnguard's process: registers and unregisters itself (as a plain local server or as a
// service), and otherwise runs its server either under the service control manager or, when
// it is not registered as a service, as a plain local COM server that ends at its last release.
// One main thread runs COM and the message loop; the control handler only posts to it.
#include "CQuarnRegistrar.h"
#include "CQuarnServiceBuild.h"

#include <windows.h>

#include <string>

class CQuarnServiceHost {
public:
    // The service's name (string 100 of the program).
    static constexpr UINT NAME_STRING = 100;
    static constexpr const char* DEFAULT_NAME = "Quarnhost Service";
    static constexpr const char* APPID_KEY = "Software\\Classes\\AppID\\{E50DCC62-84D5-4E68-8342-E5646159332D}";
    static constexpr const char* LOCAL_SERVICE_VALUE = "LocalService";
    static constexpr const char* SERVICE_PARAMETERS_VALUE = "ServiceParameters";
    // COM access: SYSTEM and Administrators execute locally and remotely, interactive users
    // locally; owner and group SYSTEM.
    static constexpr const WCHAR* COM_ACCESS_SDDL = L"O:SYG:SYD:(A;;0x3;;;SY)(A;;0x3;;;BA)(A;;0x3;;;IU)";

    // What the control handler does with a control.
    enum class ControlAction { Stop, Nothing, Bad };

    // The service's registry identity.
    static const CQuarnRegistrar::Identity& Identity();
    static ControlAction ActionOf(DWORD control);

    static CQuarnServiceHost& Instance();

    // The process's exit code.
    int Main(const char* commandLine);
    HRESULT Register(bool asService);
    HRESULT Unregister();
    // The run decision: whether "LocalService" names the service.
    bool IsRegisteredAsService() const;

    const std::string& GetName() const { return m_name; }
    const SERVICE_STATUS& GetStatus() const { return m_status; }

    // The service's entry point (the manager's dispatcher calls it on a thread of its own) and
    // its control handler (called on the dispatcher's thread).
    static void WINAPI ServiceMain(DWORD argc, char** argv);
    static void WINAPI Handler(DWORD control);

private:
    CQuarnServiceHost();
    void OnControl(DWORD control);
    void SetState(DWORD state);
    // COM, its security, the class object, the loop until WM_QUIT (or a stop that came first).
    HRESULT Run();
    bool ModulePath(std::string& path) const;

    CQuarnServiceBuild m_build;
    std::string m_name;
    SERVICE_STATUS_HANDLE m_hStatus;
    SERVICE_STATUS m_status;
    bool m_service;
    // Known, with the thread's message queue made, before a stop can be accepted.
    volatile DWORD m_mainThreadId;
    volatile LONG m_stopRequested;
};
