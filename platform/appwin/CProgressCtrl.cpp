#include "CProgressCtrl.h"

#include "AfxCommCtrl.h"

#include <commctrl.h>

BOOL CProgressCtrl::Create(DWORD style, const RECT& rect, CWnd* parent, UINT id) {
    AfxRegisterCommonControls(ICC_PROGRESS_CLASS);
    return CreateEx(0, PROGRESS_CLASSA, "", style, rect, parent, id);
}

void CProgressCtrl::SetRange(short lower, short upper) {
    ::SendMessageA(m_hWnd, PBM_SETRANGE, 0, MAKELPARAM(lower, upper));
}

void CProgressCtrl::GetRange(int& lower, int& upper) const {
    PBRANGE range{};
    ::SendMessageA(m_hWnd, PBM_GETRANGE, FALSE, reinterpret_cast<LPARAM>(&range));
    lower = range.iLow;
    upper = range.iHigh;
}

int CProgressCtrl::SetPos(int position) {
    return static_cast<int>(::SendMessageA(m_hWnd, PBM_SETPOS, static_cast<WPARAM>(position), 0));
}

int CProgressCtrl::GetPos() const {
    return static_cast<int>(::SendMessageA(m_hWnd, PBM_GETPOS, 0, 0));
}
