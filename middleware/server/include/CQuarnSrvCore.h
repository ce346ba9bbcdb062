#pragma once
// The one server core of a middleware server process: it cleans up temporary files of an
// earlier run, owns the entry database and the communication layer, reads (and first makes)
// the node identity and the port in the registry, keeps the client windows that want node
// notices and runs the watch window. Everything runs on the server's main thread; the core
// lock serialises the calls of the server's clients.
//
// What differs between the server module and its service build is the process's
// CQuarnServerBuild: notices go out through it, and it prepares the temporary folder.
#include "CQuarnCountedMutex.h"

#include <windows.h>

#include <memory>
#include <string>

class CQuarnClientWndList;
class CQuarnComm;
class CQuarnDataBase;
class CQuarnWatchWindow;

class CQuarnSrvCore {
public:
    static constexpr WORD DEFAULT_PORT = 4997;
    // Under HKEY_LOCAL_MACHINE: "GUID" (REG_SZ, the node identity) and "port" (REG_DWORD).
    static constexpr const char* SETTINGS_KEY = "Software\\Keldar Corporation\\Corvan Zone Middleware";
    // Temporary files of file transfers; any left at start are from an earlier run.
    static constexpr const char* TEMP_FILE_PATTERN = "QUARN*.TMP";

    CQuarnSrvCore();
    // Stop releases what the core holds; what a failed stop kept goes with the core.
    virtual ~CQuarnSrvCore();
    CQuarnSrvCore(const CQuarnSrvCore&) = delete;
    CQuarnSrvCore& operator=(const CQuarnSrvCore&) = delete;

    // Deletes stale temporary files, makes the database and the layer, loads the settings and
    // starts the layer, makes the client window list and the watch window. On failure
    // everything made is deleted and the last error tells why.
    bool Start();
    // Stops the layer first; when that fails, everything stays and the result is false.
    // Otherwise deletes the layer, the lists, the watch window and then the database.
    bool Stop();

    // The core lock; the thread that holds it may take it again (each take counts).
    bool Lock(DWORD timeoutMs);
    bool Unlock();
    bool IsHeldByCaller();

    // Reads the identity and the port from the settings key (making and writing a new identity
    // when none is there) and starts the layer with them.
    bool LoadNodeSettings();
    // The settings under root\subkey: the identity (a new one is made, and written when the key
    // can be made, when no text is there; a text that is not a braced GUID fails with
    // CO_E_CLASSSTRING) and the port (DEFAULT_PORT unless a REG_DWORD from 1 to 65535 is
    // there). The identity's text is the braced upper-case form that names the node in the
    // lookup root, whatever the case of the stored one.
    static bool ReadNodeSettings(HKEY root, const char* subkey, GUID& node, std::wstring& nodeText, WORD& port);
    // The account's folder for temporary files, ending in a backslash.
    static bool GetTempFolder(std::string& folder);
    // Deletes every file matching TEMP_FILE_PATTERN in the folder, read-only ones too; files
    // that cannot be deleted stay.
    static void DeleteStaleTempFiles(const std::string& folder);

    // Sends a notice for a client's window through the process's build.
    void PostNotice(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    // The same for a notice that the module gives only to a window that still exists.
    void PostNoticeToLiveWindow(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    // Posts to every registered client window, oldest listing first.
    void PostToRegisteredWindows(UINT message, WPARAM wParam, LPARAM lParam);

    CQuarnDataBase* GetDataBase() const { return m_pDataBase.get(); }
    CQuarnComm* GetComm() const { return m_pComm.get(); }
    CQuarnClientWndList* GetClientWndList() const { return m_pClientWndList.get(); }
    CQuarnWatchWindow* GetWatchWindow() const { return m_pWatchWindow.get(); }
    // Hands out the next application id: 1, 2, 3 ...
    DWORD GetNewAppId() { return m_nextAppId++; }
    // The node identity in braced form; empty before the start.
    const std::wstring& GetGuidText() const { return m_guidText; }
    WORD GetPort() const { return m_port; }

private:
    // Deletes whatever Start made.
    void Release();

    std::unique_ptr<CQuarnDataBase> m_pDataBase;
    std::unique_ptr<CQuarnComm> m_pComm;
    std::unique_ptr<CQuarnClientWndList> m_pClientWndList;
    std::unique_ptr<CQuarnWatchWindow> m_pWatchWindow;
    CQuarnCountedMutex m_lock;
    DWORD m_nextAppId;
    std::wstring m_guidText;
    WORD m_port;
};
