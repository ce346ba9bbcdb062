#include "CQuarnWatchWindow.h"

#include "CQuarnDataBase.h"
#include "CQuarnSrvCore.h"
#include "QuarnTrace.h"

#include <cwchar>
#include <new>

CQuarnWatchWindow::CQuarnWatchWindow(CQuarnSrvCore& core, CQuarnDataBase& database, bool checkWindows)
    : m_core(core), m_database(database), m_hWnd(nullptr)
{
    if (!checkWindows)
        return;
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = WindowProc;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = WINDOW_CLASS;
    if (RegisterClassA(&windowClass) == 0 && GetLastError() != ERROR_CLASS_ALREADY_EXISTS) {
        QuarnTrace("CQuarnWatchWindow::CQuarnWatchWindow(): class not registered, error %lu\n", GetLastError());
        return;
    }
    m_hWnd = CreateWindowA(WINDOW_CLASS, WINDOW_NAME, WS_DISABLED, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT,
                           CW_USEDEFAULT, nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
    if (m_hWnd == nullptr) {
        QuarnTrace("CQuarnWatchWindow::CQuarnWatchWindow(): no window, error %lu\n", GetLastError());
        return;
    }
    SetWindowLongPtrA(m_hWnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    ShowWindow(m_hWnd, SW_HIDE);
    UpdateWindow(m_hWnd);
    SetTimer(m_hWnd, WATCH_TIMER, WATCH_MS, nullptr);
}

CQuarnWatchWindow::~CQuarnWatchWindow()
{
    if (m_hWnd != nullptr) {
        SetWindowLongPtrA(m_hWnd, GWLP_USERDATA, 0);
        DestroyWindow(m_hWnd);
        m_hWnd = nullptr;
    }
    UnregisterClassA(WINDOW_CLASS, GetModuleHandleA(nullptr));
}

LRESULT CALLBACK CQuarnWatchWindow::WindowProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    CQuarnWatchWindow* watch = reinterpret_cast<CQuarnWatchWindow*>(GetWindowLongPtrA(hWnd, GWLP_USERDATA));
    if (message == WM_TIMER && watch != nullptr) {
        watch->OnTimer(wParam);
        return 0;
    }
    // Any program on the desktop can post to this window; what none of ours sends is ignored.
    if (message >= WM_USER && message < 0xC000 && watch != nullptr) {
        QuarnTraceError("CQuarnWatchWindow::WindowProc(): unknown message 0x%X (%llu, %lld)\n", message,
                        static_cast<unsigned long long>(wParam), static_cast<long long>(lParam));
        return 0;
    }
    return DefWindowProcA(hWnd, message, wParam, lParam);
}

bool CQuarnWatchWindow::Add(DWORD appId, HWND window, const WCHAR* directory)
{
    if (directory == nullptr || directory[0] == L'\0') {
        SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    for (const Record& record : m_records) {
        if (record.m_hWnd == window)
            return false;
    }
    try {
        m_records.push_front(Record{window, appId, directory});
    } catch (const std::bad_alloc&) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return false;
    }
    return true;
}

std::list<CQuarnWatchWindow::Record>::iterator CQuarnWatchWindow::FindApp(DWORD appId)
{
    for (auto record = m_records.begin(); record != m_records.end(); ++record) {
        if (record->m_appId == appId)
            return record;
    }
    return m_records.end();
}

bool CQuarnWatchWindow::Delete(DWORD appId)
{
    auto record = FindApp(appId);
    if (record == m_records.end())
        return false;
    m_records.erase(record);
    return true;
}

bool CQuarnWatchWindow::Change(DWORD appId, HWND window)
{
    auto record = FindApp(appId);
    if (record == m_records.end())
        return false;
    record->m_hWnd = window;
    return true;
}

bool CQuarnWatchWindow::PostToWatchWindowsByAppId(DWORD appId, UINT message, WPARAM wParam, LPARAM lParam)
{
    auto record = FindApp(appId);
    if (record == m_records.end())
        return false;
    m_core.PostNotice(record->m_hWnd, message, wParam, lParam);
    return true;
}

bool CQuarnWatchWindow::PostToWatchWindowsByPath(const WCHAR* directory, UINT message, WPARAM wParam, LPARAM lParam)
{
    bool found = false;
    for (auto record = m_records.rbegin(); directory != nullptr && record != m_records.rend(); ++record) {
        if (record->m_directory == directory) {
            m_core.PostNotice(record->m_hWnd, message, wParam, lParam);
            found = true;
        }
    }
    return found;
}

bool CQuarnWatchWindow::HasPath(const WCHAR* directory) const
{
    for (const Record& record : m_records) {
        if (directory != nullptr && record.m_directory == directory)
            return true;
    }
    return false;
}

bool CQuarnWatchWindow::HasRecord(DWORD appId, HWND window) const
{
    for (const Record& record : m_records) {
        if (record.m_appId == appId && record.m_hWnd == window)
            return true;
    }
    return false;
}

void CQuarnWatchWindow::OnTimer(UINT_PTR id)
{
    if (id != WATCH_TIMER) {
        QuarnTraceError("CQuarnWatchWindow::OnTimer(): unknown timer %llu\n", static_cast<unsigned long long>(id));
        return;
    }
    if (m_hWnd != nullptr)
        KillTimer(m_hWnd, WATCH_TIMER);
    for (;;) {
        auto dead = m_records.begin();
        while (dead != m_records.end() && IsWindow(dead->m_hWnd))
            ++dead;
        if (dead == m_records.end())
            break;
        m_database.CloseAllEntries(dead->m_appId, dead->m_directory.c_str());
        WCHAR shared[260];
        int length = swprintf(shared, 260, L"%ls\\%d", dead->m_directory.c_str(), static_cast<int>(dead->m_appId));
        // A path cut short would name another directory.
        if (length > 0 && length < 260)
            m_database.CloseAllEntries(SHARED_REFERENCE, shared);
        // The record found dead, not another of the same application.
        m_records.erase(dead);
    }
    if (m_hWnd != nullptr)
        SetTimer(m_hWnd, WATCH_TIMER, WATCH_MS, nullptr);
}
