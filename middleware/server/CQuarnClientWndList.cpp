#include "CQuarnClientWndList.h"

#include <algorithm>
#include <new>

CQuarnClientWndList::~CQuarnClientWndList()
{
    while (m_pHead != nullptr) {
        Node* next = m_pHead->m_pNext;
        delete m_pHead;
        m_pHead = next;
    }
}

bool CQuarnClientWndList::Add(HWND window)
{
    Node* node = new (std::nothrow) Node{m_pHead, window};
    if (node == nullptr) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return false;
    }
    m_pHead = node;
    return true;
}

bool CQuarnClientWndList::Remove(HWND window)
{
    for (Node** link = &m_pHead; *link != nullptr; link = &(*link)->m_pNext) {
        if ((*link)->m_hWnd == window) {
            Node* found = *link;
            *link = found->m_pNext;
            delete found;
            return true;
        }
    }
    return false;
}

std::vector<HWND> CQuarnClientWndList::GetWindowsOldestFirst() const
{
    std::vector<HWND> windows;
    for (Node* node = m_pHead; node != nullptr; node = node->m_pNext)
        windows.push_back(node->m_hWnd);
    std::reverse(windows.begin(), windows.end());
    return windows;
}
