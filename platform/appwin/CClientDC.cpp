#include "CClientDC.h"

#include "CWnd.h"

CClientDC::CClientDC(CWnd* wnd) : m_hWnd(wnd ? wnd->m_hWnd : nullptr) {
    Attach(::GetDC(m_hWnd));
}

CClientDC::~CClientDC() {
    if (!m_hDC)
        return;
    restoreSelections();
    ::ReleaseDC(m_hWnd, Detach());
}
