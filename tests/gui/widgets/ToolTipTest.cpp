// The content tooltip: its styles, its one tool per window with texts of several lines, and the
// tip shown when the pointer rests on the window.
#include "CXToolTipCtrl.h"
#include "UiThreadScope.h"
#include "WidgetTestSupport.h"

#include <gtest/gtest.h>

#include <commctrl.h>

namespace {

const char FIRST_TEXT[] = "File Name\tpicture.jpg\nSize\t\t12.5 KB\nOwner\t\tnick & co";
const char SECOND_TEXT[] = "File Name\tother.txt\nSize\t\t0.1 KB\nOwner\t\tsomeone";

// The control's tools: (flags, window, id, text).
struct Tool {
    UINT flags;
    HWND hwnd;
    UINT_PTR id;
    std::string text;
};

std::vector<Tool> toolsOf(CXToolTipCtrl& tip)
{
    std::vector<Tool> tools;
    const int count = static_cast<int>(tip.SendMessage(TTM_GETTOOLCOUNT));
    for (int i = 0; i < count; ++i) {
        char text[1024] = "";
        TOOLINFOA info{};
        info.cbSize = sizeof info;
        info.lpszText = text;
        if (tip.SendMessage(TTM_ENUMTOOLSA, i, reinterpret_cast<LPARAM>(&info)))
            tools.push_back({info.uFlags, info.hwnd, info.uId, text});
    }
    return tools;
}

} // namespace

TEST(CXToolTipCtrl, OneToolPerWindowWhoseTextReadsBackUnchanged)
{
    UiThreadScope ui;
    CWnd window;
    ASSERT_TRUE(window.CreateEx(0, nullptr, "", WS_POPUP, 0, 0, 120, 90, nullptr, nullptr));
    CXToolTipCtrl tip;
    ASSERT_TRUE(tip.Create(&window));
    char className[64] = "";
    GetClassNameA(tip.m_hWnd, className, sizeof className);
    EXPECT_STREQ(TOOLTIPS_CLASSA, className);
    const DWORD style = tip.GetStyle();
    EXPECT_EQ(static_cast<DWORD>(TTS_ALWAYSTIP | TTS_NOPREFIX), style & (TTS_ALWAYSTIP | TTS_NOPREFIX));
    EXPECT_EQ(static_cast<DWORD>(WS_POPUP), style & WS_POPUP);

    EXPECT_TRUE(tip.AddTool(&window, FIRST_TEXT));
    EXPECT_EQ(32767, tip.SendMessage(TTM_GETMAXTIPWIDTH));
    std::vector<Tool> tools = toolsOf(tip);
    ASSERT_EQ(1u, tools.size());
    EXPECT_EQ(static_cast<UINT>(TTF_IDISHWND | TTF_SUBCLASS), tools[0].flags & (TTF_IDISHWND | TTF_SUBCLASS));
    EXPECT_EQ(window.m_hWnd, tools[0].hwnd);
    EXPECT_EQ(reinterpret_cast<UINT_PTR>(window.m_hWnd), tools[0].id);
    EXPECT_EQ(FIRST_TEXT, tools[0].text);

    // A changed attribute: the same tool with the new text.
    EXPECT_TRUE(tip.AddTool(&window, SECOND_TEXT));
    tools = toolsOf(tip);
    ASSERT_EQ(1u, tools.size());
    EXPECT_EQ(SECOND_TEXT, tools[0].text);

    // Another window gets a tool of its own.
    CWnd other;
    ASSERT_TRUE(other.CreateEx(0, nullptr, "", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr));
    EXPECT_TRUE(tip.AddTool(&other, "x"));
    EXPECT_EQ(2u, toolsOf(tip).size());
}

TEST(CXToolTipCtrl, HoveringTheWindowShowsTheTip)
{
    UiThreadScope ui;
    const RECT place = {300, 300, 420, 390};
    CPlainTopWnd window(place);
    ASSERT_NE(nullptr, window.m_hWnd);
    SetWindowPos(window.m_hWnd, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
    CXToolTipCtrl tip;
    ASSERT_TRUE(tip.Create(&window));
    ASSERT_TRUE(tip.AddTool(&window, FIRST_TEXT));
    pumpMessages(200);
    EXPECT_FALSE(tip.IsWindowVisible());
    // The pointer comes in and rests on the window.
    const int screenWidth = GetSystemMetrics(SM_CXSCREEN), screenHeight = GetSystemMetrics(SM_CYSCREEN);
    for (int step = 0; step < 5; ++step) {
        INPUT move{};
        move.type = INPUT_MOUSE;
        move.mi.dx = (350 + 4 * step) * 65535 / (screenWidth - 1);
        move.mi.dy = (340 + 2 * step) * 65535 / (screenHeight - 1);
        move.mi.dwFlags = MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE;
        SendInput(1, &move, sizeof move);
        pumpMessages(30);
    }
    bool shown = false;
    for (int i = 0; i < 100 && !shown; ++i) {
        pumpMessages(50);
        shown = tip.IsWindowVisible() != FALSE;
    }
    EXPECT_TRUE(shown);
    saveScreenshot("tooltip_shown");
    if (shown) {
        // Several lines: the tip is taller than it is for one.
        RECT tipRect;
        GetWindowRect(tip.m_hWnd, &tipRect);
        EXPECT_GT(tipRect.bottom - tipRect.top, 30);
    }
}
