#pragma once
// The watch window: a hidden window whose timer notices when an application's window has gone
// and then closes the directory entries that the application left behind. Applications put a
// record of their window, id and directory here; the file transfers find receiving
// applications through the same records.
#include <windows.h>

#include <list>
#include <string>

class CQuarnDataBase;
class CQuarnSrvCore;

class CQuarnWatchWindow {
public:
    static constexpr const char* WINDOW_CLASS = "QuarnSrvWatchWndClass";
    static constexpr const char* WINDOW_NAME = "QuarnSrvWatchWnd";
    static constexpr UINT_PTR WATCH_TIMER = 2268;
    static constexpr UINT WATCH_MS = 5000;
    // Reference of the entries that belong to no single application.
    static constexpr DWORD SHARED_REFERENCE = 0xFFFFFFFF;

    // Makes the window and starts the timer; a window that cannot be made leaves the object
    // without window and timer (no clean-up then). Notices go out through the core; entries
    // are closed in the database. Without checkWindows there is neither window nor timer: the
    // records stay until their applications delete them.
    CQuarnWatchWindow(CQuarnSrvCore& core, CQuarnDataBase& database, bool checkWindows = true);
    // Destroys the window and unregisters its class; the records go with the object.
    virtual ~CQuarnWatchWindow();
    CQuarnWatchWindow(const CQuarnWatchWindow&) = delete;
    CQuarnWatchWindow& operator=(const CQuarnWatchWindow&) = delete;

    // A record {window, application id, directory} at the head. False when the window has a
    // record already (no code of its own), ERROR_INVALID_PARAMETER for no directory.
    bool Add(DWORD appId, HWND window, const WCHAR* directory);
    // Deletes the newest record of the application; false when there is none.
    bool Delete(DWORD appId);
    // Sets the window of the newest record of the application; false when there is none.
    bool Change(DWORD appId, HWND window);
    // Posts to the window of the newest record of the application; whether there was one.
    bool PostToWatchWindowsByAppId(DWORD appId, UINT message, WPARAM wParam, LPARAM lParam);
    // Posts to the window of every record of exactly this directory, oldest first; whether
    // there was any.
    bool PostToWatchWindowsByPath(const WCHAR* directory, UINT message, WPARAM wParam, LPARAM lParam);
    bool HasPath(const WCHAR* directory) const;

    // The timer: for each record whose window is gone, closes the entries its application held
    // under its directory, and the shared entries under the directory named by the application
    // id within it, then deletes that record. Other timer ids are not ours.
    void OnTimer(UINT_PTR id);

    HWND GetWindow() const { return m_hWnd; }
    size_t GetRecordCount() const { return m_records.size(); }
    // Whether a record holds this window for this application.
    bool HasRecord(DWORD appId, HWND window) const;

private:
    struct Record {
        HWND m_hWnd;
        DWORD m_appId;
        std::wstring m_directory;
    };

    static LRESULT CALLBACK WindowProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam);
    std::list<Record>::iterator FindApp(DWORD appId);

    CQuarnSrvCore& m_core;
    CQuarnDataBase& m_database;
    HWND m_hWnd;
    // Newest first.
    std::list<Record> m_records;
};
