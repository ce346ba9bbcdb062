#pragma once
// The service's entry in the service control manager: installed as its own process (type
// 0x10), started automatically, normal error control, after "RPCSS", as LocalSystem. A failure
// is shown in a message box captioned with the service's name and fails the call.
#include <windows.h>

#include <string>

class CQuarnServiceInstaller {
public:
    static constexpr DWORD SERVICE_TYPE = SERVICE_WIN32_OWN_PROCESS;
    static constexpr DWORD START_TYPE = SERVICE_AUTO_START;
    static constexpr DWORD ERROR_CONTROL = SERVICE_ERROR_NORMAL;
    static constexpr const char* DEPENDENCIES = "RPCSS\0";
    // A deleted service goes once its process has stopped and its handles are closed; an
    // install or uninstall waits that long for it, then fails.
    static constexpr DWORD DELETE_WAIT_MS = 15000;

    static constexpr const char* TEXT_NO_MANAGER = u8"サービス マネージャーを開けませんでした";
    static constexpr const char* TEXT_NOT_CREATED = u8"サービスを作成できませんでした";
    static constexpr const char* TEXT_NOT_OPENED = u8"サービスを開けませんでした";
    static constexpr const char* TEXT_NOT_DELETED = u8"サービスは削除できませんでした";

    explicit CQuarnServiceInstaller(std::string name) : m_name(std::move(name)) {}
    virtual ~CQuarnServiceInstaller() = default;

    virtual bool IsInstalled() const;
    // Creates the service for the program at path unless it exists.
    bool Install(const std::string& path) const;
    // Stops and deletes the service when it exists, and waits until it is gone.
    bool Uninstall() const;

protected:
    // The service manager's calls, each replaceable so that tests can make one fail (a real
    // failure needs a damaged service manager).
    virtual SC_HANDLE OpenManager() const;
    virtual SC_HANDLE OpenNamedService(SC_HANDLE manager, DWORD access) const;
    virtual SC_HANDLE CreateNamedService(SC_HANDLE manager, const std::string& command) const;
    virtual BOOL StopAndDelete(SC_HANDLE service) const;
    virtual void Close(SC_HANDLE handle) const;

private:
    // A box with the text (UTF-8), captioned with the name; the call then fails.
    bool Fail(const char* text) const;
    bool WaitGone(SC_HANDLE manager) const;

    std::string m_name;
};
