#include "CSplashWnd.h"

#include "CTrace.h"

#include <CPaintDC.h>

namespace {
const char SCOPE[] = "CSplashWnd";
}

const CWnd::MessageEntry CSplashWnd::messageMap[] = {
    on<WM_PAINT, &CSplashWnd::OnPaint>(),
    endOfMap(CWnd::messageMap),
};

CSplashWnd::CSplashWnd(const std::string& bitmapName)
{
    picture_.loadBitmap(bitmapName);
    // Disabled: clicks on the splash reach no window and change no activation.
    if (!CreateEx(WS_EX_TOPMOST | WS_EX_TOOLWINDOW | WS_EX_WINDOWEDGE, RegisterWndClass(0), "", WS_DISABLED, 0, 0, 0,
                  0, nullptr, nullptr))
        CTrace::scopedFatalError(SCOPE, " CSplashWnd: failed to create the splash window", -1);
}

void CSplashWnd::Show()
{
    // An overlapped window gets a caption from the system: it goes, frame and all.
    ModifyStyle(WS_CAPTION, 0, SWP_FRAMECHANGED);
    const SIZE size = picture_.getSize();
    SetWindowPos(nullptr, 0, 0, size.cx, size.cy, SWP_NOZORDER | SWP_NOACTIVATE);
    CenterWindow(nullptr);
    ShowWindow(SW_SHOW);
    RedrawWindow(nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
}

void CSplashWnd::OnPaint()
{
    CPaintDC dc(this);
    picture_.drawAt(&dc, 0, 0);
}
