#include "CDrawedBtn.h"

#include "CTrace.h"

#include <CDC.h>
#include <CPaintDC.h>

#include <string>

namespace {
const char SCOPE[] = "CDrawedBtn";
const char* const STATE_NAMES[] = {"FREE", "ON_CURSOR", "PUSHED", "PUSHED_FREE", "PUSHED_ON_CURSOR"};

bool isState(int state)
{
    return state >= CDrawedBtn::FREE && state <= CDrawedBtn::PUSHED_ON_CURSOR;
}

std::string stateName(int state)
{
    return isState(state) ? STATE_NAMES[state] : std::to_string(state);
}
} // namespace

const CWnd::MessageEntry CDrawedBtn::messageMap[] = {
    on<WM_CREATE, &CDrawedBtn::OnCreate>(),
    on<WM_LBUTTONDOWN, &CDrawedBtn::OnLButtonDown>(),
    on<WM_MOUSEMOVE, &CDrawedBtn::OnMouseMove>(),
    on<WM_LBUTTONUP, &CDrawedBtn::OnLButtonUp>(),
    on<WM_CAPTURECHANGED, &CDrawedBtn::OnCaptureChanged>(),
    on<WM_PAINT, &CDrawedBtn::OnPaint>(),
    on<WM_ERASEBKGND, &CDrawedBtn::OnEraseBkgnd>(),
    endOfMap(CWnd::messageMap),
};

CDrawedBtn::CDrawedBtn(const RECT& windowRect, const RECT& hitRect, CWnd* parent, UINT id)
    : m_windowRect(windowRect), m_hitRect(hitRect), m_parent(parent), m_id(id)
{
}

CDrawedBtn::~CDrawedBtn() = default;

bool CDrawedBtn::Create()
{
    if (!CreateEx(0, nullptr, "", WS_CHILD | WS_CLIPSIBLINGS, m_windowRect, m_parent, m_id))
        CTrace::scopedFatalError(SCOPE, " Create: window creation failed.", -1);
    return true;
}

int CDrawedBtn::OnCreate(CREATESTRUCTA*)
{
    SetWindowPos(&wndTop, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_SHOWWINDOW);
    return 0;
}

void CDrawedBtn::Redraw()
{
    if (m_hWnd == nullptr)
        return;
    Invalidate(TRUE);
    UpdateWindow();
}

bool CDrawedBtn::isInside(POINT point) const
{
    return m_hitRect.PtInRect(CPoint(point.x, point.y)) != FALSE;
}

void CDrawedBtn::checkState(const char* where) const
{
    if (!isState(m_state))
        CTrace::scopedFatalError(SCOPE, std::string(" ") + where + ": undefined state " + std::to_string(m_state), -1);
}

void CDrawedBtn::changeState(int state)
{
    if (state == m_state)
        return;
    if (CTrace::isTraced(SCOPE, 1))
        CTrace::trace(SCOPE, " " + stateName(m_state) + " -> " + stateName(state), 1);
    m_state = state;
    OnStateChange(state);
    Redraw();
}

void CDrawedBtn::OnLButtonDown(UINT, POINT point)
{
    checkState("OnLButtonDown");
    ::SetCapture(m_hWnd);
    if (isInside(point))
        changeState(PUSHED);
    else
        Default();
}

void CDrawedBtn::OnMouseMove(UINT, POINT point)
{
    checkState("OnMouseMove");
    const bool inside = isInside(point);
    switch (m_state) {
    case FREE:
        if (inside) {
            ::SetCapture(m_hWnd);
            changeState(ON_CURSOR);
        }
        break;
    case ON_CURSOR:
        if (!inside) {
            changeState(FREE);
            ::ReleaseCapture();
        }
        break;
    case PUSHED:
    case PUSHED_ON_CURSOR:
        if (!inside)
            changeState(PUSHED_FREE);
        break;
    case PUSHED_FREE:
        if (inside)
            changeState(PUSHED_ON_CURSOR);
        break;
    }
}

void CDrawedBtn::OnLButtonUp(UINT flags, POINT point)
{
    checkState("OnLButtonUp");
    const bool inside = isInside(point);
    switch (m_state) {
    case FREE:
        break;
    case ON_CURSOR:
        if (!inside)
            changeState(FREE);
        break;
    case PUSHED:
    case PUSHED_ON_CURSOR:
        if (inside) {
            changeState(ON_CURSOR);
            OnSimpleBtnClick(flags, CPoint(point.x, point.y));
        } else {
            changeState(FREE);
        }
        break;
    case PUSHED_FREE:
        changeState(FREE);
        break;
    }
    // The click may have destroyed or disabled the window: only a capture still held here goes.
    if (m_hWnd != nullptr && ::GetCapture() == m_hWnd)
        ::ReleaseCapture();
}

LRESULT CDrawedBtn::OnCaptureChanged(WPARAM, LPARAM newCapture)
{
    checkState("OnCaptureChanged");
    if (reinterpret_cast<HWND>(newCapture) != m_hWnd)
        changeState(FREE);
    return 0;
}

void CDrawedBtn::OnPaint()
{
    // The image is drawn with the background.
    CPaintDC dc(this);
}

LRESULT CDrawedBtn::OnEraseBkgnd(WPARAM hdc, LPARAM)
{
    checkState("OnEraseBkgnd");
    CDC dc;
    if (!dc.Attach(reinterpret_cast<HDC>(hdc)))
        return 0;
    switch (m_state) {
    case ON_CURSOR:
        m_cursor.drawAt(&dc, 0, 0);
        break;
    case PUSHED:
        m_pushed.drawAt(&dc, 0, 0);
        break;
    default:
        m_normal.drawAt(&dc, 0, 0);
        break;
    }
    dc.Detach();
    return 0;
}
