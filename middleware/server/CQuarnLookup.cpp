#include "CQuarnLookup.h"

#include "CQuarnSocket.h"
#include "QuarnCodes.h"
#include "QuarnWire.h"

#include <cstring>

namespace {

bool fail(DWORD error)
{
    SetLastError(error);
    return false;
}

} // namespace

CQuarnLookup::CQuarnLookup(HWND window)
    : m_hWnd(window), m_bLoaded(false), m_count(0), m_updateCounter(0), m_status(ERROR_NOT_READY),
      m_lastQueryStatus(0)
{
}

bool CQuarnLookup::SetRequestPath(const WCHAR* path)
{
    std::vector<BYTE> request;
    if (!CQuarnSocket::AppendLong(request, GetId()) || !CQuarnSocket::AppendPath(request, path))
        return false;
    m_request.swap(request);
    return true;
}

bool CQuarnLookup::IsPending() const
{
    return m_status == QUARN_LOOKUP_PENDING;
}

void CQuarnLookup::SetPending()
{
    m_reply.Clear();
    m_status = QUARN_LOOKUP_PENDING;
    m_bLoaded = false;
}

void CQuarnLookup::SetRootLoaded(DWORD count)
{
    m_count = count;
    m_status = 0;
    m_bLoaded = true;
}

DWORD CQuarnLookup::OnDirectoryReply(DWORD status, const BYTE* data, DWORD length)
{
    m_bLoaded = false;
    if (status != 0) {
        m_reply.Clear();
        m_status = status;
        return status;
    }
    if (!m_reply.Parse(data, length)) {
        m_status = GetLastError() == ERROR_NOT_ENOUGH_MEMORY ? ERROR_NOT_ENOUGH_MEMORY : ERROR_INVALID_PARAMETER;
        return m_status;
    }
    m_updateCounter = m_reply.GetUpdateCounter();
    m_count = m_reply.GetCount();
    m_status = 0;
    m_bLoaded = true;
    return 0;
}

bool CQuarnLookup::OnCounterReply(DWORD status, const BYTE* data, DWORD length)
{
    DWORD offset = 4;
    DWORD counter = 0;
    // A reply with status 0 but no counter says nothing usable: it counts as a bad one.
    if (status == 0 && !CQuarnSocket::ParseLong(data, length, offset, counter))
        status = ERROR_INVALID_PARAMETER;
    bool changed;
    if (status == 0) {
        changed = counter != m_updateCounter;
        m_updateCounter = counter;
    } else {
        changed = status != m_lastQueryStatus;
    }
    m_lastQueryStatus = status;
    return changed;
}

bool CQuarnLookup::GetCount(DWORD* pCount) const
{
    if (pCount == nullptr)
        return fail(ERROR_INVALID_PARAMETER);
    if (!m_bLoaded)
        return fail(m_status);
    *pCount = m_count;
    return true;
}

const CQuarnDirectoryReply::Entry* CQuarnLookup::HeldEntry(DWORD index) const
{
    if (!m_bLoaded) {
        SetLastError(m_status);
        return nullptr;
    }
    const CQuarnDirectoryReply::Entry* entry = m_reply.GetEntry(index);
    if (entry == nullptr)
        SetLastError(ERROR_INVALID_PARAMETER);
    return entry;
}

bool CQuarnLookup::GetEntryName(DWORD index, WCHAR* buffer, DWORD* pSize) const
{
    const CQuarnDirectoryReply::Entry* entry = HeldEntry(index);
    return entry != nullptr && CopyText(entry->name, buffer, pSize);
}

bool CQuarnLookup::GetEntryType(DWORD index, DWORD* pType) const
{
    if (pType == nullptr)
        return fail(ERROR_INVALID_PARAMETER);
    const CQuarnDirectoryReply::Entry* entry = HeldEntry(index);
    if (entry == nullptr)
        return false;
    *pType = entry->type;
    return true;
}

bool CQuarnLookup::GetEntryValueInt(DWORD index, LONG* pValue) const
{
    const CQuarnDirectoryReply::Entry* entry = HeldEntry(index);
    if (entry == nullptr)
        return false;
    if (pValue == nullptr || entry->type != QUARNTYPE_INT)
        return fail(ERROR_INVALID_PARAMETER);
    *pValue = entry->number;
    return true;
}

bool CQuarnLookup::GetEntryValueString(DWORD index, WCHAR* buffer, DWORD* pSize) const
{
    const CQuarnDirectoryReply::Entry* entry = HeldEntry(index);
    if (entry == nullptr)
        return false;
    if (pSize == nullptr || entry->type != QUARNTYPE_STRING)
        return fail(ERROR_INVALID_PARAMETER);
    if (!entry->text) {
        *pSize = 0;
        return true;
    }
    return CopyText(*entry->text, buffer, pSize);
}

bool CQuarnLookup::GetEntryValueBinary(DWORD index, BYTE* buffer, DWORD* pSize) const
{
    const CQuarnDirectoryReply::Entry* entry = HeldEntry(index);
    if (entry == nullptr)
        return false;
    if (pSize == nullptr || entry->type != QUARNTYPE_BINARY)
        return fail(ERROR_INVALID_PARAMETER);
    DWORD size = static_cast<DWORD>(entry->bytes.size());
    if (size == 0) {
        *pSize = 0;
        return true;
    }
    bool fits = *pSize >= size;
    *pSize = size;
    if (!fits)
        return fail(ERROR_INSUFFICIENT_BUFFER);
    if (buffer == nullptr)
        return fail(ERROR_INVALID_PARAMETER);
    memcpy(buffer, entry->bytes.data(), size);
    return true;
}

bool CQuarnLookup::CopyText(const std::wstring& text, WCHAR* buffer, DWORD* pSize)
{
    if (pSize == nullptr)
        return fail(ERROR_INVALID_PARAMETER);
    DWORD needed = static_cast<DWORD>(text.size() + 1);
    bool fits = *pSize >= needed;
    *pSize = needed;
    if (!fits)
        return fail(ERROR_INSUFFICIENT_BUFFER);
    if (buffer == nullptr)
        return fail(ERROR_INVALID_PARAMETER);
    memcpy(buffer, text.c_str(), needed * sizeof(WCHAR));
    return true;
}
