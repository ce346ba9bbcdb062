#include "CPaintDC.h"

#include "CWnd.h"

CPaintDC::CPaintDC(CWnd* wnd) : m_hWnd(wnd ? wnd->m_hWnd : nullptr) {
    if (m_hWnd)
        Attach(::BeginPaint(m_hWnd, &m_ps));
}

CPaintDC::~CPaintDC() {
    if (!m_hDC)
        return;
    restoreSelections();
    Detach();
    ::EndPaint(m_hWnd, &m_ps);
}
