#include "CEdit.h"

BOOL CEdit::Create(DWORD style, const RECT& rect, CWnd* parent, UINT id) {
    return CreateEx(0, "EDIT", "", style, rect, parent, id);
}

void CEdit::SetSel(int start, int end, BOOL noScroll) {
    ::SendMessageA(m_hWnd, EM_SETSEL, static_cast<WPARAM>(start), end);
    if (!noScroll)
        ::SendMessageA(m_hWnd, EM_SCROLLCARET, 0, 0);
}

void CEdit::GetSel(int& start, int& end) const {
    DWORD first = 0, last = 0;
    ::SendMessageA(m_hWnd, EM_GETSEL, reinterpret_cast<WPARAM>(&first), reinterpret_cast<LPARAM>(&last));
    start = static_cast<int>(first);
    end = static_cast<int>(last);
}

void CEdit::ReplaceSel(LPCSTR text, BOOL canUndo) {
    ::SendMessageA(m_hWnd, EM_REPLACESEL, canUndo, reinterpret_cast<LPARAM>(text));
}

void CEdit::LimitText(int maxChars) {
    ::SendMessageA(m_hWnd, EM_LIMITTEXT, static_cast<WPARAM>(maxChars), 0);
}

UINT CEdit::GetLimitText() const {
    return static_cast<UINT>(::SendMessageA(m_hWnd, EM_GETLIMITTEXT, 0, 0));
}
