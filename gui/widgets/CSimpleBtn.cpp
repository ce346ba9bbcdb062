#include "CSimpleBtn.h"

#include "CTrace.h"

#include <CPaintDC.h>

#include <string>

namespace {

const char SCOPE[] = "CSimpleBtn";
const char* const STATE_NAMES[] = {"FREE", "ON_CURSOR", "PUSHED", "PUSHED_FREE", "PUSHED_ON_CURSOR"};

std::string nameOf(int state)
{
    return state >= 0 && state <= 4 ? STATE_NAMES[state] : std::to_string(state);
}

} // namespace

const CWnd::MessageEntry CSimpleBtn::messageMap[] = {
    on<WM_PAINT, &CSimpleBtn::OnPaint>(),
    on<WM_LBUTTONDOWN, &CSimpleBtn::OnButtonDown>(),
    on<WM_RBUTTONDOWN, &CSimpleBtn::OnButtonDown>(),
    on<WM_LBUTTONUP, &CSimpleBtn::OnButtonUp>(),
    on<WM_RBUTTONUP, &CSimpleBtn::OnButtonUp>(),
    on<WM_MOUSEMOVE, &CSimpleBtn::OnMouseMove>(),
    on<WM_CAPTURECHANGED, &CSimpleBtn::OnCaptureChanged>(),
    // The second press of a double click: no click, as the system's buttons do, and no face.
    on<WM_LBUTTONDBLCLK, &CSimpleBtn::OnDoubleClick>(),
    on<WM_RBUTTONDBLCLK, &CSimpleBtn::OnDoubleClick>(),
    on<BM_SETSTATE, &CSimpleBtn::OnSwallowed>(),
    endOfMap(CWnd::messageMap),
};

CSimpleBtn::CSimpleBtn(const RECT& windowRect, const RECT& drawingRect, CWnd* parent, UINT id)
    : drawingRect_(drawingRect)
{
    if (!CreateEx(0, "button", "", WS_CHILD | WS_CLIPSIBLINGS, windowRect, parent, id))
        CTrace::scopedFatalError(SCOPE, " CSimpleBtn: the window cannot be created", -1);
}

CSimpleBtn::~CSimpleBtn() = default;

void CSimpleBtn::SetEnabled(bool enabled)
{
    enabled_ = enabled;
    redraw();
}

bool CSimpleBtn::isOnButton(POINT point) const
{
    CRect area;
    GetWindowRect(&area);
    ScreenToClient(&area);
    area.OffsetRect(drawingRect_.left, drawingRect_.top);
    area.right = area.left + drawingRect_.Width();
    area.bottom = area.top + drawingRect_.Height();
    return area.PtInRect(CPoint(point.x, point.y)) != FALSE;
}

void CSimpleBtn::redraw()
{
    if (!enabled_)
        return;
    Invalidate(TRUE);
    UpdateWindow();
}

void CSimpleBtn::changeState(int state)
{
    if (CTrace::isTraced(SCOPE, 1))
        CTrace::trace(SCOPE, " state " + nameOf(state_) + " -> " + nameOf(state), 1);
    state_ = state;
}

void CSimpleBtn::undefinedState(const char* where) const
{
    CTrace::scopedFatalError(SCOPE, std::string(" ") + where + ": undefined state " + std::to_string(state_), -1);
}

void CSimpleBtn::OnButtonDown(UINT, POINT point)
{
    releasedHere_ = false;
    if (state_ < FREE || state_ > PUSHED_ON_CURSOR)
        undefinedState("button down");
    if (isOnButton(point)) {
        changeState(PUSHED);
        ::SetCapture(m_hWnd);
        redraw();
        return;
    }
    ::SetCapture(m_hWnd);
    Default();
}

void CSimpleBtn::OnMouseMove(UINT, POINT point)
{
    // Releasing the capture makes the system repeat the pointer's place as a move: that is no
    // move, and the button stays FREE after a click until the pointer really moves.
    const bool repeated = releasedHere_ && point.x == releasedAt_.x && point.y == releasedAt_.y;
    releasedHere_ = false;
    if (repeated)
        return;
    const bool on = isOnButton(point);
    switch (state_) {
    case FREE:
        if (on) {
            changeState(ON_CURSOR);
            ::SetCapture(m_hWnd);
            redraw();
        }
        break;
    case ON_CURSOR:
        if (!on) {
            changeState(FREE);
            ::ReleaseCapture();
            redraw();
        }
        break;
    case PUSHED:
    case PUSHED_ON_CURSOR:
        if (!on) {
            changeState(PUSHED_FREE);
            redraw();
        }
        break;
    case PUSHED_FREE:
        if (on) {
            changeState(PUSHED_ON_CURSOR);
            redraw();
        }
        break;
    default:
        undefinedState("mouse move");
    }
}

void CSimpleBtn::OnButtonUp(UINT flags, POINT point)
{
    if (state_ < FREE || state_ > PUSHED_ON_CURSOR)
        undefinedState("button up");
    if (isOnButton(point)) {
        if (state_ == PUSHED || state_ == PUSHED_ON_CURSOR) {
            changeState(ON_CURSOR);
            redraw();
            if (enabled_)
                OnSimpleBtnClick(flags, CPoint(point.x, point.y));
        } else if (state_ == PUSHED_FREE) {
            changeState(FREE);
            redraw();
        }
    } else if (state_ != FREE) {
        changeState(FREE);
        redraw();
    }
    // The capture change that follows makes the button FREE.
    releasedHere_ = ::GetCapture() == m_hWnd;
    releasedAt_ = point;
    ::ReleaseCapture();
}

LRESULT CSimpleBtn::OnCaptureChanged(WPARAM, LPARAM newCapture)
{
    if (state_ < FREE || state_ > PUSHED_ON_CURSOR)
        undefinedState("capture changed");
    if (reinterpret_cast<HWND>(newCapture) != m_hWnd) {
        changeState(FREE);
        redraw();
    }
    return 0;
}

LRESULT CSimpleBtn::OnSwallowed(WPARAM, LPARAM)
{
    return 0;
}

LRESULT CSimpleBtn::OnDoubleClick(WPARAM, LPARAM)
{
    releasedHere_ = false;
    return 0;
}

void CSimpleBtn::OnPaint()
{
    CPaintDC dc(this);
    if (!enabled_)
        return;
    switch (state_) {
    case FREE:
    case PUSHED_FREE:
    case PUSHED_ON_CURSOR:
        m_normal.drawAt(&dc, 0, 0);
        break;
    case PUSHED:
        m_pushed.drawAt(&dc, 0, 0);
        break;
    case ON_CURSOR:
        m_focused.drawAt(&dc, 0, 0);
        break;
    default:
        undefinedState("paint");
    }
}
