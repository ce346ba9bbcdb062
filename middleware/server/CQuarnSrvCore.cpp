#include "CQuarnSrvCore.h"

#include "CQuarnClientWndList.h"
#include "CQuarnComm.h"
#include "CQuarnDataBase.h"
#include "CQuarnServerBuild.h"
#include "CQuarnWatchWindow.h"
#include "QuarnGuidText.h"
#include "QuarnTrace.h"

#include <objbase.h>

#include <new>
#include <vector>

namespace {

const char GUID_VALUE[] = "GUID";
const char PORT_VALUE[] = "port";

// Makes a new identity and writes it, in the ANSI code page, under the key; a key that cannot
// be made leaves the identity in memory only.
bool makeIdentity(HKEY root, const char* subkey, GUID& node)
{
    HRESULT result = CoCreateGuid(&node);
    if (FAILED(result)) {
        SetLastError(static_cast<DWORD>(result));
        return false;
    }
    std::wstring text = FormatBracedGuid(node);
    char ansi[QUARN_GUID_TEXT_LENGTH + 1] = {};
    WideCharToMultiByte(CP_ACP, 0, text.c_str(), -1, ansi, sizeof(ansi), nullptr, nullptr);
    HKEY key;
    if (RegCreateKeyExA(root, subkey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr) == ERROR_SUCCESS) {
        RegSetValueExA(key, GUID_VALUE, 0, REG_SZ, reinterpret_cast<const BYTE*>(ansi),
                       static_cast<DWORD>(QUARN_GUID_TEXT_LENGTH));
        RegCloseKey(key);
    }
    return true;
}

} // namespace

CQuarnSrvCore::CQuarnSrvCore() : m_nextAppId(1), m_port(DEFAULT_PORT) {}

CQuarnSrvCore::~CQuarnSrvCore() = default;

bool CQuarnSrvCore::GetTempFolder(std::string& folder)
{
    char path[MAX_PATH + 1];
    DWORD length = GetTempPathA(MAX_PATH, path);
    if (length == 0 || length > MAX_PATH) {
        if (length > MAX_PATH)
            SetLastError(ERROR_BUFFER_OVERFLOW);
        return false;
    }
    folder.assign(path, length);
    if (folder.back() != '\\')
        folder += '\\';
    return true;
}

void CQuarnSrvCore::DeleteStaleTempFiles(const std::string& folder)
{
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((folder + TEMP_FILE_PATTERN).c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return;
    do {
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            continue;
        std::string file = folder + found.cFileName;
        DWORD attributes = GetFileAttributesA(file.c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY))
            SetFileAttributesA(file.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
        if (!DeleteFileA(file.c_str()))
            QuarnTrace("CQuarnSrvCore::DeleteStaleTempFiles(): %s stays, error %lu\n", file.c_str(), GetLastError());
    } while (FindNextFileA(search, &found));
    FindClose(search);
}

bool CQuarnSrvCore::Start()
{
    if (!CQuarnServerBuild::Current().PrepareTempFolder())
        return false;
    bool started = false;
    try {
        m_pDataBase.reset(new CQuarnDataBase);
        m_pComm.reset(new CQuarnComm);
        started = LoadNodeSettings();
        if (started) {
            m_pClientWndList.reset(new CQuarnClientWndList);
            m_pWatchWindow.reset(new CQuarnWatchWindow(*this, *m_pDataBase, CQuarnServerBuild::Current().ChecksWindows()));
        }
    } catch (const std::bad_alloc&) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        started = false;
    }
    if (!started) {
        DWORD error = GetLastError();
        Release();
        SetLastError(error != 0 ? error : ERROR_GEN_FAILURE);
    }
    return started;
}

bool CQuarnSrvCore::ReadNodeSettings(HKEY root, const char* subkey, GUID& node, std::wstring& nodeText, WORD& port)
{
    port = DEFAULT_PORT;
    bool known = false;
    bool unreadable = false;
    HKEY key;
    if (RegOpenKeyExA(root, subkey, 0, KEY_READ, &key) == ERROR_SUCCESS) {
        char text[256];
        DWORD type = 0;
        DWORD size = sizeof(text) - 1;
        if (RegQueryValueExA(key, GUID_VALUE, nullptr, &type, reinterpret_cast<BYTE*>(text), &size) == ERROR_SUCCESS
            && (type == REG_SZ || type == REG_EXPAND_SZ)) {
            text[size] = '\0';
            WCHAR wide[256] = {};
            int characters = MultiByteToWideChar(CP_ACP, 0, text, -1, wide, 256);
            known = characters > 0 && ParseBracedGuid(wide, wcslen(wide), node);
            unreadable = !known;
            if (unreadable)
                QuarnTrace("CQuarnSrvCore::ReadNodeSettings(): \"%s\" is not an identity\n", text);
        }
        DWORD value = 0;
        size = sizeof(value);
        if (RegQueryValueExA(key, PORT_VALUE, nullptr, &type, reinterpret_cast<BYTE*>(&value), &size) == ERROR_SUCCESS
            && type == REG_DWORD && size == sizeof(value) && value >= 1 && value <= 0xFFFF)
            port = static_cast<WORD>(value);
        RegCloseKey(key);
    }
    // An identity that cannot be read is not replaced: the node would become another one.
    if (unreadable) {
        SetLastError(static_cast<DWORD>(CO_E_CLASSSTRING));
        return false;
    }
    if (!known && !makeIdentity(root, subkey, node))
        return false;
    nodeText = FormatBracedGuid(node);
    return true;
}

bool CQuarnSrvCore::LoadNodeSettings()
{
    GUID node;
    std::wstring text;
    WORD port;
    if (!ReadNodeSettings(HKEY_LOCAL_MACHINE, SETTINGS_KEY, node, text, port))
        return false;
    m_guidText = text;
    m_port = port;
    return m_pComm->Start(this, node, port);
}

bool CQuarnSrvCore::Stop()
{
    if (m_pComm && !m_pComm->Stop())
        return false;
    Release();
    CQuarnServerBuild::Current().OnStopped();
    return true;
}

void CQuarnSrvCore::Release()
{
    // The watch window and the layer use the database: they go first.
    m_pWatchWindow.reset();
    m_pComm.reset();
    m_pClientWndList.reset();
    m_pDataBase.reset();
    m_guidText.clear();
}

bool CQuarnSrvCore::Lock(DWORD timeoutMs)
{
    return m_lock.Lock(timeoutMs);
}

bool CQuarnSrvCore::Unlock()
{
    return m_lock.Unlock();
}

bool CQuarnSrvCore::IsHeldByCaller()
{
    return m_lock.IsHeldByCaller();
}

void CQuarnSrvCore::PostNotice(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    CQuarnServerBuild::Current().Notify(window, message, wParam, lParam, CQuarnServerBuild::Target::AnyWindow);
}

void CQuarnSrvCore::PostNoticeToLiveWindow(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    CQuarnServerBuild::Current().Notify(window, message, wParam, lParam, CQuarnServerBuild::Target::LiveWindowOnly);
}

void CQuarnSrvCore::PostToRegisteredWindows(UINT message, WPARAM wParam, LPARAM lParam)
{
    if (!m_pClientWndList)
        return;
    for (HWND window : m_pClientWndList->GetWindowsOldestFirst())
        PostNotice(window, message, wParam, lParam);
}
