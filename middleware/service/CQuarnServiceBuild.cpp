#include "CQuarnServiceBuild.h"

#include "CQuarnEventLog.h"
#include "CQuarnSrvCore.h"
#include "QuarnMessages.h"
#include "QuarnTrace.h"

#include <sddl.h>

DWORD CQuarnServiceBuild::CodeOfMessage(UINT message)
{
    if (message == QuarnNodeChangeMessage())
        return CQuarnNoticeQueue::CODE_NODE_CHANGE;
    if (message == QuarnLookupDirectoryMessage())
        return CQuarnNoticeQueue::CODE_LOOKUP_DIRECTORY;
    if (message == QuarnFileTransferMessage())
        return CQuarnNoticeQueue::CODE_FILE_TRANSFER;
    return CQuarnNoticeQueue::NO_VALUE;
}

void CQuarnServiceBuild::Notify(HWND window, UINT message, WPARAM wParam, LPARAM lParam, Target)
{
    // Queued whether the window exists or not: it may be a number with no window behind it.
    DWORD code = CodeOfMessage(message);
    if (code == CQuarnNoticeQueue::NO_VALUE) {
        QuarnTrace("CQuarnServiceBuild::Notify(): message %u is no notice\n", message);
        return;
    }
    m_queue.Append(static_cast<DWORD>(reinterpret_cast<ULONG_PTR>(window)), code, static_cast<DWORD>(wParam),
                   static_cast<DWORD>(lParam));
}

bool CQuarnServiceBuild::GetTempFolder(std::string& folder)
{
    if (!CQuarnSrvCore::GetTempFolder(folder))
        return false;
    folder += TEMP_FOLDER_NAME;
    folder += '\\';
    if (folder.size() > MAX_PATH) {
        SetLastError(ERROR_BUFFER_OVERFLOW);
        return false;
    }
    return true;
}

bool CQuarnServiceBuild::SetSecurity(const std::wstring& path, const WCHAR* sddl)
{
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1, &descriptor, nullptr))
        return false;
    BOOL set = SetFileSecurityW(path.c_str(), DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
                                descriptor);
    DWORD error = GetLastError();
    LocalFree(descriptor);
    SetLastError(error);
    return set != FALSE;
}

bool CQuarnServiceBuild::SetSecurity(const std::string& path, const WCHAR* sddl)
{
    int length = MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, nullptr, 0);
    if (length <= 0)
        return false;
    std::wstring wide(static_cast<size_t>(length), L'\0');
    MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, &wide[0], length);
    wide.resize(static_cast<size_t>(length - 1));
    return SetSecurity(wide, sddl);
}

DWORD CQuarnServiceBuild::DeleteStaleFiles(const std::string& folder)
{
    DWORD stayed = 0;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((folder + STALE_FILE_PATTERN).c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return 0;
    do {
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            continue;
        std::string file = folder + found.cFileName;
        if (found.dwFileAttributes & FILE_ATTRIBUTE_READONLY)
            SetFileAttributesA(file.c_str(), found.dwFileAttributes & ~FILE_ATTRIBUTE_READONLY);
        if (!DeleteFileA(file.c_str())) {
            // Held open by a process of an earlier run, perhaps: a new name never collides
            // with it, so the server starts all the same, and the service's log tells of it.
            DWORD error = GetLastError();
            std::string text = std::string(TEXT_STALE_FILE_STAYS) + file + " (error " + std::to_string(error) + ")";
            CQuarnEventLog::Write(text.c_str());
            ++stayed;
        }
    } while (FindNextFileA(search, &found));
    FindClose(search);
    return stayed;
}

bool CQuarnServiceBuild::PrepareTempFolder()
{
    std::string folder;
    if (!GetTempFolder(folder))
        return false;
    std::string path = folder.substr(0, folder.size() - 1);
    if (!CreateDirectoryA(path.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS)
        return false;
    if (!SetSecurity(path, FOLDER_SDDL))
        return false;
    DeleteStaleFiles(folder);
    SetLastError(0);
    return true;
}

void CQuarnServiceBuild::OnStopped()
{
    m_queue.Clear();
    std::string folder;
    if (GetTempFolder(folder))
        RemoveDirectoryA(folder.substr(0, folder.size() - 1).c_str());
}

bool CQuarnServiceBuild::SecureTempFile(const std::wstring& name)
{
    return SetSecurity(name, FILE_SDDL);
}
