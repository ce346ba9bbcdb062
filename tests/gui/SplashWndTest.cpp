// The start-up splash on the screen: its bitmap's size and pixels, no frame, on top, no input.
#include "BitmapPixels.h"
#include "CSplashWnd.h"
#include "UiThreadScope.h"
#include "WidgetTestSupport.h"
#include "WindowsTestSupport.h"

#include <gtest/gtest.h>

TEST(CSplashWnd, ShowsItsBitmapCentredWithoutFrameOnTopAndTakesNoClick)
{
    UiThreadScope ui;
    ASSERT_NE(nullptr, ui.resources());
    const BitmapPixels expected(ui.resources(), L"IDB_SPLASHBMP");
    ASSERT_TRUE(expected.valid());
    ASSERT_EQ(400, expected.width());
    ASSERT_EQ(225, expected.height());

    CPlainTopWnd other({10, 10, 110, 60}, WS_POPUP | WS_VISIBLE);
    SetForegroundWindow(other.m_hWnd);
    CSplashWnd splash("IDB_SPLASHBMP");
    ASSERT_NE(nullptr, splash.m_hWnd);
    pumpMessages(100);
    EXPECT_FALSE(splash.IsWindowVisible());
    EXPECT_NE(0u, splash.GetExStyle() & WS_EX_TOPMOST);

    splash.Show();
    pumpMessages(300);
    EXPECT_TRUE(splash.IsWindowVisible());
    RECT window, client, work;
    splash.GetWindowRect(&window);
    splash.GetClientRect(&client);
    SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0);
    EXPECT_EQ(400, window.right - window.left);
    EXPECT_EQ(225, window.bottom - window.top);
    EXPECT_LE(abs((window.left - work.left) - (work.right - window.right)), 1);
    EXPECT_LE(abs((window.top - work.top) - (work.bottom - window.bottom)), 1);
    EXPECT_EQ(400, client.right);
    EXPECT_EQ(225, client.bottom);
    EXPECT_EQ(0u, splash.GetStyle() & (WS_CAPTION | WS_THICKFRAME | WS_BORDER));
    EXPECT_NE(0u, splash.GetStyle() & WS_DISABLED);

    const std::vector<Rgb> pixels = screenPixels(window);
    int wrong = 0;
    for (int y = 0; y < 225; ++y)
        for (int x = 0; x < 400; ++x)
            wrong += pixels[static_cast<size_t>(y) * 400 + x] != expected.at(x, y);
    EXPECT_EQ(0, wrong);
    for (POINT corner : {POINT{0, 0}, POINT{399, 0}, POINT{0, 224}, POINT{399, 224}}) {
        SCOPED_TRACE(std::to_string(corner.x) + ", " + std::to_string(corner.y));
        EXPECT_EQ(expected.at(corner.x, corner.y), pixels[static_cast<size_t>(corner.y) * 400 + corner.x]);
    }
    saveScreenshot("splash_shown");

    // Another window in front of input; the click on the splash changes nothing of that.
    SetForegroundWindow(other.m_hWnd);
    pumpMessages(100);
    const HWND foreground = GetForegroundWindow();
    EXPECT_EQ(other.m_hWnd, foreground);
    const POINT middle = {(window.left + window.right) / 2, (window.top + window.bottom) / 2};
    EXPECT_EQ(splash.m_hWnd, WindowFromPoint(middle));
    clickAt(middle.x, middle.y);
    pumpMessages(300);
    EXPECT_EQ(foreground, GetForegroundWindow());
    EXPECT_EQ(0u, splash.GetStyle() & WS_CAPTION);
}
