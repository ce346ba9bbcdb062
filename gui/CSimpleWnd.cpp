#include "CSimpleWnd.h"

#include "CInteger.h"
#include "CTavUtility.h"
#include "CTrace.h"

#include <CFont.h>
#include <CPaintDC.h>
#include <CRect.h>

namespace {
const char SCOPE[] = "CSimpleWnd";
const UINT FACE_STRING = 64000;
const UINT POINTS_STRING = 64001;
}

const CWnd::MessageEntry CSimpleWnd::messageMap[] = {
    on<WM_PAINT, &CSimpleWnd::OnPaint>(),
    endOfMap(CWnd::messageMap),
};

CSimpleWnd::CSimpleWnd()
{
    if (!CreateEx(WS_EX_TOPMOST | WS_EX_TOOLWINDOW | WS_EX_WINDOWEDGE, RegisterWndClass(0), "",
                  WS_DISABLED | WS_THICKFRAME, 0, 0, 0, 0, nullptr, nullptr))
        CTrace::scopedFatalError(SCOPE, " CSimpleWnd: the window cannot be created", -1);
}

void CSimpleWnd::Show(CWnd* centreOn, int width, int height, const std::string& text, COLORREF textColour,
                      COLORREF backgroundColour)
{
    width_ = width;
    height_ = height;
    text_ = text;
    textColour_ = textColour;
    backgroundColour_ = backgroundColour;
    ModifyStyle(WS_CAPTION, 0, SWP_FRAMECHANGED);
    SetWindowPos(nullptr, 0, 0, width, height, SWP_NOZORDER | SWP_NOACTIVATE);
    CenterWindow(centreOn);
    ShowWindow(SW_SHOW);
    UpdateWindow();
}

void CSimpleWnd::OnPaint()
{
    CPaintDC dc(this);
    CFont font;
    const int points = CInteger::parseInt(CTavUtility::loadString(POINTS_STRING, "8"));
    const std::string face = CTavUtility::loadString(FACE_STRING, "Arial");
    HGDIOBJ previousFont = nullptr;
    if (font.CreateFont(-MulDiv(points, dc.GetDeviceCaps(LOGPIXELSY), 72), 0, 0, 0, 400, FALSE, FALSE, FALSE,
                        DEFAULT_CHARSET, OUT_TT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH,
                        face.c_str()))
        previousFont = dc.SelectObject(&font);
    else
        CTrace::trace(SCOPE, " OnPaint: no font " + face + ", the current one is used");

    dc.FillSolidRect(0, 0, width_, height_, backgroundColour_);
    const int previousMode = dc.SetBkMode(TRANSPARENT);
    const COLORREF previousColour = dc.SetTextColor(textColour_);

    CRect client;
    GetClientRect(&client);
    CRect measured = client;
    dc.DrawText(text_, &measured, DT_CALCRECT | DT_CENTER | DT_END_ELLIPSIS);
    const int h = measured.Height();
    CRect band(0, (client.Height() - h) / 2, client.Width(), (client.Height() + h) / 2);
    dc.DrawText(text_, &band, DT_CENTER | DT_END_ELLIPSIS);

    dc.SetTextColor(previousColour);
    dc.SetBkMode(previousMode);
    if (previousFont != nullptr)
        dc.SelectObject(previousFont);
}
