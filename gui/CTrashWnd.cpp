#include "CTrashWnd.h"

#include "CTrace.h"

#include <CPaintDC.h>

#include <string>

namespace {
const char SCOPE[] = "CTrashWnd";
}

const CWnd::MessageEntry CTrashWnd::messageMap[] = {
    on<WM_CREATE, &CTrashWnd::OnCreate>(),
    on<WM_PAINT, &CTrashWnd::OnPaint>(),
    endOfMap(CWnd::messageMap),
};

CTrashWnd::CTrashWnd(int x, int y, CWnd* parent, UINT id) : parent_(parent), id_(id)
{
    load(0);
    BITMAP info{};
    if (on_.m_hObject == nullptr || on_.GetBitmap(&info) == 0)
        CTrace::scopedError(SCOPE, " CTrashWnd: no picture IDB_TRASH_ON0", -1);
    rect_ = CRect(x, y, x + info.bmWidth, y + info.bmHeight);
}

void CTrashWnd::load(int skin)
{
    const std::string digit = std::to_string(skin);
    on_.DeleteObject();
    off_.DeleteObject();
    on_.LoadBitmap(("IDB_TRASH_ON" + digit).c_str());
    off_.LoadBitmap(("IDB_TRASH_OFF" + digit).c_str());
}

bool CTrashWnd::Create()
{
    if (!CreateEx(0, RegisterWndClass(0), "trashbox", WS_CHILD | WS_CLIPSIBLINGS, rect_, parent_, id_))
        CTrace::scopedFatalError(SCOPE, " Create: the window cannot be created", -1);
    return true;
}

int CTrashWnd::OnCreate(CREATESTRUCTA*)
{
    SetWindowPos(&wndTop, rect_.left, rect_.top, rect_.Width(), rect_.Height(), SWP_SHOWWINDOW);
    return 0;
}

void CTrashWnd::SetState(int state)
{
    state_ = state;
    if (m_hWnd != nullptr)
        Invalidate(FALSE);
}

void CTrashWnd::SetSkin(int skin)
{
    CTrace::scopedAssertTrue(skin >= 0 && skin <= 2, SCOPE, " Illegal arg for SetSkin().", -1);
    load(skin);
    if (m_hWnd != nullptr)
        Invalidate(FALSE);
}

void CTrashWnd::OnPaint()
{
    CPaintDC dc(this);
    CDC memory;
    if (!memory.CreateCompatibleDC(&dc))
        return;
    memory.SelectObject(state_ == 0 ? &on_ : &off_);
    dc.BitBlt(0, 0, rect_.Width(), rect_.Height(), &memory, 0, 0, SRCCOPY);
}
