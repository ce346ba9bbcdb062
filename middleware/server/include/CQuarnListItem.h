#pragma once
// The list record that every socket, packet, lookup handle, transfer and request of the
// communication layer derives from. Records form circular doubly linked lists under a head
// record of the list's own kind; an unlinked record points to itself both ways. Each record
// gets a number from one process-wide counter (heads included) that starts at 1: the handles
// that clients hold are these numbers.
#include <windows.h>

#include <cstddef>

class CQuarnListItem {
public:
    CQuarnListItem();
    // Unlinks the record.
    virtual ~CQuarnListItem();
    CQuarnListItem(const CQuarnListItem&) = delete;
    CQuarnListItem& operator=(const CQuarnListItem&) = delete;

    // Never 0; records made later have larger numbers (until the counter wraps, where 0 is
    // skipped).
    DWORD GetId() const { return m_id; }

    // Links this record at the tail of head's list. Fails with ERROR_INVALID_PARAMETER when
    // this record is linked already, or head is null, this record itself or not a sound list.
    bool LinkTail(CQuarnListItem* head);
    void Unlink();
    bool IsLinked() const { return m_pNext != this; }
    CQuarnListItem* GetNext() const { return m_pNext; }
    CQuarnListItem* GetPrev() const { return m_pPrev; }
    // On a head: the first record of the list, or null when the list is empty.
    CQuarnListItem* GetFirst() const { return m_pNext == this ? nullptr : m_pNext; }

    // On a head: the record of the list with this number. A head is never found, not even
    // this one, since client handles come from the same counter; none found gives null and
    // ERROR_INVALID_HANDLE.
    CQuarnListItem* FindById(DWORD id) const;
    // On a head: the records of the list, counted up to limit at most.
    size_t CountUpTo(size_t limit) const;

private:
    CQuarnListItem* m_pPrev;
    CQuarnListItem* m_pNext;
    DWORD m_id;
};
