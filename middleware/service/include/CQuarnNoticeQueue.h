#pragma once
// The service's notifications for clients that cannot receive posted window messages: where
// the server module posts a registered message to a window, the service appends a record of
// the window (a handle or a number from GetNewWndID), a code and the message's parameters.
// Clients read the records by index from the oldest (0) and remove them. Everything runs on
// the service's main thread under the server's method lock: the queue has no lock of its own.
#include <windows.h>

#include <cstddef>
#include <deque>
#include <map>

class CQuarnNoticeQueue {
public:
    // The codes, one for each registered message of the server.
    static constexpr DWORD CODE_NODE_CHANGE = 0;
    static constexpr DWORD CODE_LOOKUP_DIRECTORY = 1;
    static constexpr DWORD CODE_FILE_TRANSFER = 2;
    // What a getter gives for an index at or past the end.
    static constexpr DWORD NO_VALUE = 0xFFFFFFFF;
    // Peers fill the queue (node changes, a transfer's progress every 100 ms) and only clients
    // empty it; a client that stopped reading must not use up the service's memory. 65536
    // records are about 1.5 MB and hours of progress of several transfers.
    static constexpr size_t LIMIT = 65536;
    // Records for one window at most: one client that stops reading fills a sixteenth of the
    // queue (a client slot's share) and the others' notices go on.
    static constexpr size_t WINDOW_LIMIT = LIMIT / 16;

    enum class Field { Code, Window, WParam, LParam };

    // Appends a record; a record for window 0 is dropped, and so is one beyond LIMIT, one
    // beyond its window's WINDOW_LIMIT or one that cannot be allocated (all traced). Whether it
    // was appended.
    bool Append(DWORD window, DWORD code, DWORD wParam, DWORD lParam);
    // The field of the record at the index, NO_VALUE past the end.
    DWORD Get(DWORD index, Field field) const;
    // Removes the record at the index; past the end nothing changes.
    void Remove(DWORD index);
    DWORD GetCount() const { return static_cast<DWORD>(m_records.size()); }
    void Clear()
    {
        m_records.clear();
        m_perWindow.clear();
    }

private:
    struct Record {
        DWORD m_window;
        DWORD m_code;
        DWORD m_wParam;
        DWORD m_lParam;
    };
    // Oldest first.
    std::deque<Record> m_records;
    // Records per window, for the windows that have any.
    std::map<DWORD, size_t> m_perWindow;
};
