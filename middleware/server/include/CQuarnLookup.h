#pragma once
// A lookup handle: one client's open view of one directory, on the root "\" (the reachable
// nodes) or on a directory of one node. Its number is the handle the client holds. A node's
// directory is filled by a reply to a directory request (type 17) and kept fresh by
// update-counter replies (type 18); what it holds is read here.
#include "CQuarnDirectoryReply.h"
#include "CQuarnListItem.h"

#include <vector>

class CQuarnLookup : public CQuarnListItem {
public:
    // A head of a list of lookups, or a handle whose notices go to window (may be null).
    explicit CQuarnLookup(HWND window = nullptr);

    // The data part of this handle's requests: the handle, then the directory's path on the
    // node ("" for its root). Fails with ERROR_NOT_ENOUGH_MEMORY.
    bool SetRequestPath(const WCHAR* path);
    const std::vector<BYTE>& GetRequestData() const { return m_request; }
    HWND GetWindow() const { return m_hWnd; }

    bool IsLoaded() const { return m_bLoaded; }
    bool IsPending() const;
    DWORD GetStatus() const { return m_status; }
    DWORD GetEntryCount() const { return m_count; }
    DWORD GetUpdateCounter() const { return m_updateCounter; }
    DWORD GetLastQueryStatus() const { return m_lastQueryStatus; }

    // A request 17 is on its way: what was held is gone until the reply.
    void SetPending();
    // A root handle has counted the nodes.
    void SetRootLoaded(DWORD count);
    // A reply of type 17 for this handle, with its unfolded status and its data (the handle
    // first). Returns what its window is told: 0 when the directory is held now, else the
    // status kept (ERROR_INVALID_PARAMETER for a reply with status 0 that does not hold up).
    DWORD OnDirectoryReply(DWORD status, const BYTE* data, DWORD length);
    // A reply of type 18: true when the directory changed (a new counter, or a status other
    // than the last one), so that the window is told.
    bool OnCounterReply(DWORD status, const BYTE* data, DWORD length);

    // Reads of a node's directory. Each fails with the handle's status while nothing is held
    // (QUARN_LOOKUP_PENDING while the reply is awaited), and with ERROR_INVALID_PARAMETER for an
    // index beyond the entries or a value of another type than asked.
    bool GetCount(DWORD* pCount) const;
    // Texts by the copy protocol, sizes in characters with the terminating zero: no size place
    // or no buffer for a text: ERROR_INVALID_PARAMETER; a size not above the text's length:
    // ERROR_INSUFFICIENT_BUFFER and the size needed; else the copy and its size. An empty
    // string value gives size 0 and success.
    bool GetEntryName(DWORD index, WCHAR* buffer, DWORD* pSize) const;
    bool GetEntryType(DWORD index, DWORD* pType) const;
    bool GetEntryValueInt(DWORD index, LONG* pValue) const;
    bool GetEntryValueString(DWORD index, WCHAR* buffer, DWORD* pSize) const;
    // Sizes in bytes; an empty value gives size 0 and success.
    bool GetEntryValueBinary(DWORD index, BYTE* buffer, DWORD* pSize) const;

    // The copy protocol of texts, for names that are not held in a reply.
    static bool CopyText(const std::wstring& text, WCHAR* buffer, DWORD* pSize);

private:
    // The entry at index of the held directory, or null with the reason as last error.
    const CQuarnDirectoryReply::Entry* HeldEntry(DWORD index) const;

    HWND m_hWnd;
    std::vector<BYTE> m_request;
    bool m_bLoaded;
    DWORD m_count;
    DWORD m_updateCounter;
    DWORD m_status;
    CQuarnDirectoryReply m_reply;
    DWORD m_lastQueryStatus;
};
