#pragma once
// A directory as another node sent it in a reply to a directory request: the requester's
// lookup handle, the directory's update counter and its entry records. The reply is checked
// whole before anything of it is used: every record is at least its fixed fields long, a
// multiple of 4 and inside the reply, its name and value lie inside the record, its type is
// one of the entry types, and the records are exactly as many as the count says.
#include <windows.h>

#include <optional>
#include <string>
#include <vector>

class CQuarnDirectoryReply {
public:
    struct Entry {
        DWORD type;
        std::wstring name;
        // QUARNTYPE_INT
        LONG number;
        // QUARNTYPE_STRING; none for an empty value, whether it came as a null item or as one
        // that holds its zero alone.
        std::optional<std::wstring> text;
        // QUARNTYPE_BINARY
        std::vector<BYTE> bytes;
    };

    // Entries kept of one reply at most; the records beyond are checked and not kept. A reply
    // of 16 MiB could hold a million small records, each an object here; the terminal reads
    // no more of a directory than this either.
    static constexpr DWORD ENTRY_LIMIT = 4096;

    // Takes the data of a reply with status 0. A reply that does not hold up leaves this empty
    // and fails with ERROR_INVALID_PARAMETER (ERROR_NOT_ENOUGH_MEMORY when it cannot be kept).
    // Reads nothing outside (data, length).
    bool Parse(const BYTE* data, DWORD length);
    void Clear();

    DWORD GetHandle() const { return m_handle; }
    DWORD GetUpdateCounter() const { return m_updateCounter; }
    DWORD GetCount() const { return static_cast<DWORD>(m_entries.size()); }
    // Null beyond the count.
    const Entry* GetEntry(DWORD index) const;

private:
    // One record at offset, which Parse has found to lie inside the reply.
    static bool ParseRecord(const BYTE* record, DWORD length, Entry& entry);

    DWORD m_handle = 0;
    DWORD m_updateCounter = 0;
    std::vector<Entry> m_entries;
};
