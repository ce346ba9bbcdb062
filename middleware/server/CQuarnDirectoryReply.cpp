#include "CQuarnDirectoryReply.h"

#include "CQuarnSocket.h"
#include "QuarnCodes.h"
#include "QuarnWire.h"

#include <new>

namespace {

// Handle, counter and count in front of the records.
const DWORD REPLY_HEAD = 12;
// Length, type and the name's length: what every record holds.
const DWORD RECORD_HEAD = 12;

bool invalid()
{
    SetLastError(ERROR_INVALID_PARAMETER);
    return false;
}

// The fixed part of a value of the type: its number or length field; directories have none.
bool valueFixedSize(DWORD type, DWORD& size)
{
    switch (type) {
    case QUARNTYPE_INT:
    case QUARNTYPE_STRING:
    case QUARNTYPE_BINARY:
        size = 4;
        return true;
    case QUARNTYPE_DIR:
        size = 0;
        return true;
    default:
        return false;
    }
}

} // namespace

bool CQuarnDirectoryReply::Parse(const BYTE* data, DWORD length)
{
    Clear();
    DWORD offset = 0;
    DWORD handle, counter, count;
    if (data == nullptr || !CQuarnSocket::ParseLong(data, length, offset, handle)
        || !CQuarnSocket::ParseLong(data, length, offset, counter) || !CQuarnSocket::ParseLong(data, length, offset, count))
        return invalid();
    std::vector<Entry> entries;
    try {
        // The count is the peer's word: entries are added as records are found, never made ahead.
        for (DWORD i = 0; i < count; ++i) {
            DWORD recordLength;
            DWORD at = offset;
            if (!CQuarnSocket::ParseLong(data, length, at, recordLength) || recordLength < RECORD_HEAD
                || recordLength % 4 != 0 || recordLength > length - offset)
                return invalid();
            Entry entry;
            if (!ParseRecord(data + offset, recordLength, entry))
                return invalid();
            if (entries.size() < ENTRY_LIMIT)
                entries.push_back(std::move(entry));
            offset += recordLength;
        }
    } catch (const std::bad_alloc&) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return false;
    }
    // Records beyond the count are not a directory of this count.
    if (offset != length)
        return invalid();
    m_handle = handle;
    m_updateCounter = counter;
    m_entries.swap(entries);
    return true;
}

bool CQuarnDirectoryReply::ParseRecord(const BYTE* record, DWORD length, Entry& entry)
{
    DWORD offset = 4;
    DWORD fixed;
    if (!CQuarnSocket::ParseLong(record, length, offset, entry.type) || !valueFixedSize(entry.type, fixed)
        || length < RECORD_HEAD + fixed)
        return false;
    std::optional<std::wstring> name;
    if (!CQuarnSocket::ParseString(record, length, offset, name))
        return false;
    if (name)
        entry.name = std::move(*name);
    entry.number = 0;
    switch (entry.type) {
    case QUARNTYPE_INT: {
        DWORD value;
        if (!CQuarnSocket::ParseLong(record, length, offset, value))
            return false;
        entry.number = static_cast<LONG>(value);
        return true;
    }
    case QUARNTYPE_STRING:
        if (!CQuarnSocket::ParseString(record, length, offset, entry.text))
            return false;
        // Older peers send an empty value as an item that holds its zero alone.
        if (entry.text && entry.text->empty())
            entry.text.reset();
        return true;
    case QUARNTYPE_BINARY:
        return CQuarnSocket::ParseBinary(record, length, offset, entry.bytes);
    default:
        return true;
    }
}

void CQuarnDirectoryReply::Clear()
{
    m_handle = 0;
    m_updateCounter = 0;
    m_entries.clear();
}

const CQuarnDirectoryReply::Entry* CQuarnDirectoryReply::GetEntry(DWORD index) const
{
    return index < m_entries.size() ? &m_entries[index] : nullptr;
}
