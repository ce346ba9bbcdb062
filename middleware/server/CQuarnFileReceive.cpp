#include "CQuarnFileReceive.h"

#include "CQuarnWatchWindow.h"
#include "QuarnCodes.h"
#include "QuarnMessages.h"

#include <new>

namespace {

bool fail(DWORD error)
{
    SetLastError(error);
    return false;
}

} // namespace

CQuarnFileReceive::CQuarnFileReceive() : m_appId(EVERY_WATCH_WINDOW), m_bRunning(false) {}

CQuarnFileReceive::~CQuarnFileReceive()
{
    if (!m_receivedFile.empty())
        DeleteFileW(m_receivedFile.c_str());
}

bool CQuarnFileReceive::SetTexts(const std::wstring* nickname, const std::wstring* senderName)
{
    if (nickname == nullptr || senderName == nullptr)
        return fail(ERROR_INVALID_PARAMETER);
    try {
        m_nickname = *nickname;
        m_senderName = *senderName;
    } catch (const std::bad_alloc&) {
        return fail(ERROR_NOT_ENOUGH_MEMORY);
    }
    return true;
}

bool CQuarnFileReceive::ParseAppId(const std::wstring& text, LONG* pAppId)
{
    if (text.empty() || text.size() > 10)
        return false;
    ULONGLONG value = 0;
    for (WCHAR c : text) {
        if (c < L'0' || c > L'9')
            return false;
        value = value * 10 + static_cast<ULONGLONG>(c - L'0');
    }
    if (value > 0x7FFFFFFF)
        return false;
    *pAppId = static_cast<LONG>(value);
    return true;
}

bool CQuarnFileReceive::SetDestination(const CQuarnWatchWindow* watch, const std::wstring& destination)
{
    if (watch == nullptr)
        return fail(ERROR_NOT_READY);
    try {
        if (watch->HasPath(destination.c_str())) {
            m_appId = EVERY_WATCH_WINDOW;
            m_destination = destination;
            return true;
        }
        size_t cut = destination.rfind(L'\\');
        LONG appId;
        if (cut == std::wstring::npos || !ParseAppId(destination.substr(cut + 1), &appId))
            return fail(ERROR_QUARN_COMMON_INVALID_PATH);
        std::wstring directory = destination.substr(0, cut);
        if (!watch->HasPath(directory.c_str()))
            return fail(ERROR_QUARN_COMMON_INVALID_PATH);
        m_appId = appId;
        m_destination.swap(directory);
    } catch (const std::bad_alloc&) {
        return fail(ERROR_NOT_ENOUGH_MEMORY);
    }
    return true;
}

bool CQuarnFileReceive::Tell(CQuarnWatchWindow* watch, DWORD code) const
{
    if (watch == nullptr)
        return fail(ERROR_NOT_READY);
    UINT message = QuarnFileTransferMessage();
    LPARAM lParam = static_cast<LPARAM>(code);
    bool posted = m_appId == EVERY_WATCH_WINDOW
        ? watch->PostToWatchWindowsByPath(m_destination.c_str(), message, GetId(), lParam)
        : watch->PostToWatchWindowsByAppId(static_cast<DWORD>(m_appId), message, GetId(), lParam);
    return posted || fail(ERROR_QUARN_COMMON_INVALID_PATH);
}

void CQuarnFileReceive::CloseReceivedFile()
{
    DWORD error = 0;
    if (!m_receivedFile.empty() && !DeleteFileW(m_receivedFile.c_str())) {
        error = GetLastError();
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND)
            error = 0;
    }
    m_receivedFile.clear();
    SetLastError(error);
}

bool CQuarnFileReceive::MakeRoom()
{
    if (CountUpTo(RECORD_LIMIT) < RECORD_LIMIT)
        return true;
    for (CQuarnListItem* item = GetFirst(); item != nullptr && item != this; item = item->GetNext()) {
        CQuarnFileReceive* record = static_cast<CQuarnFileReceive*>(item);
        if (!record->IsRunning() && !record->HasReceivedFile()) {
            delete record;
            return true;
        }
    }
    return false;
}
