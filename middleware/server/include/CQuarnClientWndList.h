#pragma once
// The client windows that want the middleware's node-change notices: a window registered
// twice is listed twice and told twice; one removal takes its newest listing.
#include <windows.h>

#include <vector>

class CQuarnClientWndList {
public:
    CQuarnClientWndList() = default;
    // Deletes every node.
    virtual ~CQuarnClientWndList();
    CQuarnClientWndList(const CQuarnClientWndList&) = delete;
    CQuarnClientWndList& operator=(const CQuarnClientWndList&) = delete;

    // At the head; false with ERROR_NOT_ENOUGH_MEMORY.
    bool Add(HWND window);
    // Deletes the newest listing of the window; false when it is not listed (no code of its own).
    bool Remove(HWND window);
    // The listed windows, oldest listing first: the order they are told in.
    std::vector<HWND> GetWindowsOldestFirst() const;

private:
    struct Node {
        Node* m_pNext;
        HWND m_hWnd;
    };

    Node* m_pHead = nullptr;
};
