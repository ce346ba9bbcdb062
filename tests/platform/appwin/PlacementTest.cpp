// Points and rectangles; placing windows: centring, style changes.
#include "CRect.h"
#include "CWnd.h"
#include "UiThreadScope.h"

#include <gtest/gtest.h>

TEST(CRect, PtInRectTakesLeftAndTopEdgesButNotRightAndBottom) {
    const CRect rect(10, 20, 30, 40);
    const struct {
        const char* name;
        POINT pt;
        bool inside;
    } cases[] = {
        {"left edge", {10, 25}, true},   {"left of it", {9, 25}, false},
        {"right edge", {30, 25}, false}, {"last column", {29, 25}, true},
        {"top edge", {15, 20}, true},    {"above it", {15, 19}, false},
        {"bottom edge", {15, 40}, false}, {"last row", {15, 39}, true},
        {"top-left corner", {10, 20}, true}, {"bottom-right corner", {30, 40}, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(c.inside, rect.PtInRect(c.pt) != FALSE);
        EXPECT_EQ(c.inside, PtInRect(&rect, c.pt) != FALSE);   // as the system sees it
    }
}

TEST(CRect, IntersectOffsetAndSizes) {
    CRect a(0, 0, 100, 50);
    EXPECT_EQ(100, a.Width());
    EXPECT_EQ(50, a.Height());
    EXPECT_EQ(CSize(100, 50), a.Size());
    CRect common;
    EXPECT_TRUE(common.IntersectRect(&a, CRect(80, 40, 120, 90)));
    EXPECT_EQ(CRect(80, 40, 100, 50), common);
    EXPECT_FALSE(common.IntersectRect(&a, CRect(100, 0, 120, 50)));   // touching edges do not meet
    EXPECT_TRUE(common.IsRectEmpty());
    a.OffsetRect(5, -5);
    EXPECT_EQ(CRect(5, -5, 105, 45), a);
    a.OffsetRect(CPoint(-5, 5));
    EXPECT_EQ(CRect(CPoint(0, 0), CSize(100, 50)), a);
    EXPECT_EQ(CPoint(50, 25), a.CenterPoint());
}

namespace {
RECT workArea() {
    RECT area{};
    SystemParametersInfoA(SPI_GETWORKAREA, 0, &area, 0);
    return area;
}
}  // namespace

TEST(CWnd, CenterWindowOnTheDesktopOrOverAWindowKeepsInTheWorkArea) {
    const RECT area = workArea();
    const int midX = (area.left + area.right) / 2;
    const int midY = (area.top + area.bottom) / 2;
    const struct {
        const char* name;
        SIZE size;
        bool overWindow;
        RECT over;           // the 800 x 451 window, when there is one
        POINT expected;
    } cases[] = {
        {"desktop", {400, 225}, false, {}, {midX - 200, midY - 112}},
        {"over a window", {270, 64}, true, {100, 100, 900, 551}, {365, 293}},
        {"pushed right into the work area", {270, 64}, true, {-700, 100, 100, 551},
         {area.left, 293}},
        {"pushed up into the work area", {270, 64}, true,
         {100, area.bottom - 100, 900, area.bottom + 351},
         {365, area.bottom - 64}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        CPlainTopWnd over(c.over, WS_POPUP);
        CPlainTopWnd wnd({0, 0, c.size.cx, c.size.cy}, WS_POPUP);
        ASSERT_NE(nullptr, wnd.m_hWnd);
        wnd.CenterWindow(c.overWindow ? &over : nullptr);
        CRect placed;
        wnd.GetWindowRect(placed);
        EXPECT_EQ(c.expected.x, placed.left);
        EXPECT_EQ(c.expected.y, placed.top);
        EXPECT_EQ(c.size.cx, placed.Width());
        EXPECT_EQ(c.size.cy, placed.Height());
    }
}

TEST(CWnd, CenterWindowWithoutArgumentCentresOverAVisibleOwner) {
    CPlainTopWnd owner({100, 100, 900, 551});
    CWnd owned;
    ASSERT_TRUE(owned.CreateEx(0, nullptr, "", WS_POPUP, 0, 0, 270, 64, owner.m_hWnd, nullptr));
    owned.CenterWindow();
    CRect placed;
    owned.GetWindowRect(placed);
    EXPECT_EQ(CPoint(365, 293), placed.TopLeft());
}

TEST(CWnd, ModifyStyleAppliesTheFrameOnlyWithFrameChanged) {
    for (UINT flags : {0u, static_cast<UINT>(SWP_FRAMECHANGED)}) {
        SCOPED_TRACE(flags ? "SWP_FRAMECHANGED" : "no flags");
        CWnd wnd;
        ASSERT_TRUE(wnd.CreateEx(0, nullptr, "caption", WS_OVERLAPPED | WS_CAPTION, 50, 50, 300,
                                 200, nullptr, nullptr));
        CRect window, client;
        wnd.GetWindowRect(window);
        wnd.GetClientRect(client);
        ASSERT_NE(window.Size(), client.Size());
        EXPECT_TRUE(wnd.ModifyStyle(WS_CAPTION, 0, flags));
        EXPECT_EQ(0u, wnd.GetStyle() & WS_CAPTION);
        EXPECT_FALSE(wnd.ModifyStyle(WS_CAPTION, 0, flags));   // nothing left to change
        wnd.GetWindowRect(window);
        wnd.GetClientRect(client);
        EXPECT_EQ(flags != 0, window.Size() == client.Size());
        EXPECT_EQ(CSize(300, 200), window.Size());
    }
}

TEST(CWnd, ModifyStyleExAddsAndRemoves) {
    CWnd wnd;
    ASSERT_TRUE(wnd.CreateEx(0, nullptr, "", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr));
    EXPECT_TRUE(wnd.ModifyStyleEx(0, WS_EX_TOOLWINDOW));
    EXPECT_TRUE(wnd.GetExStyle() & WS_EX_TOOLWINDOW);
    EXPECT_FALSE(wnd.ModifyStyleEx(0, WS_EX_TOOLWINDOW));
    EXPECT_TRUE(wnd.ModifyStyleEx(WS_EX_TOOLWINDOW, WS_EX_TOPMOST, SWP_NOACTIVATE));
    EXPECT_FALSE(wnd.GetExStyle() & WS_EX_TOOLWINDOW);
}

TEST(CWnd, SetWindowPosTakesTheSpecialPlaces) {
    CPlainTopWnd below({0, 0, 20, 20}, WS_POPUP);
    CPlainTopWnd above({0, 0, 20, 20}, WS_POPUP);
    EXPECT_TRUE(below.SetWindowPos(&CWnd::wndTop, 3, 4, 30, 40, SWP_NOACTIVATE));
    EXPECT_EQ(below.m_hWnd, GetWindow(above.m_hWnd, GW_HWNDPREV));
    CRect rect;
    below.GetWindowRect(rect);
    EXPECT_EQ(CRect(3, 4, 33, 44), rect);
    EXPECT_TRUE(below.SetWindowPos(nullptr, 5, 6, 0, 0, SWP_NOSIZE | SWP_NOZORDER));
    below.GetWindowRect(rect);
    EXPECT_EQ(CRect(5, 6, 35, 46), rect);
}
