#include "CRichEditCtrl.h"

#include "AfxRichEdit.h"

BOOL CRichEditCtrl::Create(DWORD style, const RECT& rect, CWnd* parent, UINT id) {
    if (!AfxInitRichEdit())
        return FALSE;
    return CreateEx(0, "RichEdit20A", "", style, rect, parent, id);
}

DWORD CRichEditCtrl::SetEventMask(DWORD mask) {
    return static_cast<DWORD>(::SendMessageA(m_hWnd, EM_SETEVENTMASK, 0, mask));
}

DWORD CRichEditCtrl::GetEventMask() const {
    return static_cast<DWORD>(::SendMessageA(m_hWnd, EM_GETEVENTMASK, 0, 0));
}

BOOL CRichEditCtrl::SetDefaultCharFormat(CHARFORMATA& format) {
    format.cbSize = sizeof format;
    return static_cast<BOOL>(::SendMessageA(m_hWnd, EM_SETCHARFORMAT, SCF_DEFAULT, reinterpret_cast<LPARAM>(&format)));
}

BOOL CRichEditCtrl::SetSelectionCharFormat(CHARFORMATA& format) {
    format.cbSize = sizeof format;
    return static_cast<BOOL>(::SendMessageA(m_hWnd, EM_SETCHARFORMAT, SCF_SELECTION, reinterpret_cast<LPARAM>(&format)));
}

DWORD CRichEditCtrl::GetSelectionCharFormat(CHARFORMATA& format) const {
    format.cbSize = sizeof format;
    return static_cast<DWORD>(::SendMessageA(m_hWnd, EM_GETCHARFORMAT, SCF_SELECTION, reinterpret_cast<LPARAM>(&format)));
}

COLORREF CRichEditCtrl::SetBackgroundColor(BOOL systemColour, COLORREF colour) {
    return static_cast<COLORREF>(::SendMessageA(m_hWnd, EM_SETBKGNDCOLOR, systemColour, colour));
}

BOOL CRichEditCtrl::SetReadOnly(BOOL readOnly) {
    return static_cast<BOOL>(::SendMessageA(m_hWnd, EM_SETREADONLY, readOnly, 0));
}

void CRichEditCtrl::SetSel(long start, long end) {
    CHARRANGE range{start, end};
    ::SendMessageA(m_hWnd, EM_EXSETSEL, 0, reinterpret_cast<LPARAM>(&range));
}

void CRichEditCtrl::GetSel(long& start, long& end) const {
    CHARRANGE range{0, 0};
    ::SendMessageA(m_hWnd, EM_EXGETSEL, 0, reinterpret_cast<LPARAM>(&range));
    start = range.cpMin;
    end = range.cpMax;
}

void CRichEditCtrl::ReplaceSel(LPCSTR text, BOOL canUndo) {
    ::SendMessageA(m_hWnd, EM_REPLACESEL, canUndo, reinterpret_cast<LPARAM>(text));
}

int CRichEditCtrl::GetLineCount() const {
    return static_cast<int>(::SendMessageA(m_hWnd, EM_GETLINECOUNT, 0, 0));
}

int CRichEditCtrl::LineIndex(int line) const {
    return static_cast<int>(::SendMessageA(m_hWnd, EM_LINEINDEX, static_cast<WPARAM>(line), 0));
}

long CRichEditCtrl::GetTextLength() const {
    return static_cast<long>(::SendMessageA(m_hWnd, WM_GETTEXTLENGTH, 0, 0));
}

std::string CRichEditCtrl::GetSelText() const {
    long start = 0, end = 0;
    GetSel(start, end);
    if (end <= start)
        return std::string();
    // Room for two bytes a character (a double-byte character, or a line end as CR LF) and the
    // terminator; the control is told the room, so it never writes past it.
    std::string text(static_cast<size_t>(end - start) * 2 + 1, '\0');
    GETTEXTEX request{};
    request.cb = static_cast<DWORD>(text.size());
    request.flags = GT_SELECTION;
    request.codepage = CP_ACP;
    long got = static_cast<long>(::SendMessageA(m_hWnd, EM_GETTEXTEX, reinterpret_cast<WPARAM>(&request),
                                                reinterpret_cast<LPARAM>(&text[0])));
    text.resize(got > 0 ? static_cast<size_t>(got) : 0);
    return text;
}

void CRichEditCtrl::Copy() {
    ::SendMessageA(m_hWnd, WM_COPY, 0, 0);
}
