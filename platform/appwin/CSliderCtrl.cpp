#include "CSliderCtrl.h"

#include "AfxCommCtrl.h"

#include <commctrl.h>

BOOL CSliderCtrl::Create(DWORD style, const RECT& rect, CWnd* parent, UINT id) {
    AfxRegisterCommonControls(ICC_BAR_CLASSES);
    return CreateEx(0, TRACKBAR_CLASSA, "", style, rect, parent, id);
}

void CSliderCtrl::SetRange(int minimum, int maximum, BOOL redraw) {
    // The 32-bit messages: a range to 65535 does not fit the packed form's signed halves.
    ::SendMessageA(m_hWnd, TBM_SETRANGEMIN, FALSE, minimum);
    ::SendMessageA(m_hWnd, TBM_SETRANGEMAX, redraw, maximum);
}

int CSliderCtrl::GetRangeMin() const {
    return static_cast<int>(::SendMessageA(m_hWnd, TBM_GETRANGEMIN, 0, 0));
}

int CSliderCtrl::GetRangeMax() const {
    return static_cast<int>(::SendMessageA(m_hWnd, TBM_GETRANGEMAX, 0, 0));
}

void CSliderCtrl::SetPos(int position) {
    ::SendMessageA(m_hWnd, TBM_SETPOS, TRUE, position);
}

int CSliderCtrl::GetPos() const {
    return static_cast<int>(::SendMessageA(m_hWnd, TBM_GETPOS, 0, 0));
}

void CSliderCtrl::GetThumbRect(LPRECT rect) const {
    ::SendMessageA(m_hWnd, TBM_GETTHUMBRECT, 0, reinterpret_cast<LPARAM>(rect));
}
