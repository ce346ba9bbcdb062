// The nickname and version dialogs run modally from tavlang's templates, driven by a thread.
#include "CAboutDlg.h"
#include "CNicknameDlg.h"
#include "TestSupport.h"
#include "UiThreadScope.h"
#include "WidgetTestSupport.h"
#include "WindowsTestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>

namespace {

HWND focusOf(DWORD thread)
{
    GUITHREADINFO info{};
    info.cbSize = sizeof info;
    return GetGUIThreadInfo(thread, &info) ? info.hwndFocus : nullptr;
}

} // namespace

TEST(CNicknameDlg, TypedNicknameStopsAt255AndOkGivesIt)
{
    UiThreadScope ui;
    ASSERT_NE(nullptr, ui.resources());
    CPlainTopWnd main({0, 0, 200, 100}, WS_POPUP);
    ui.m_pMainWnd = &main;
    CNicknameDlg dialog(nullptr);
    dialog.m_nickname = "caller";
    const DWORD uiThread = GetCurrentThreadId();
    std::atomic<bool> opened{false};
    std::atomic<int> length{0};
    std::thread driver([&] {
        HWND dialogWnd = nullptr;
        if (!waitUntil([&] { return (dialogWnd = findDialog(uiThread, "Nick Name")) != nullptr; }))
            return;
        HWND edit = GetDlgItem(dialogWnd, 1023);
        opened = textOf(edit) == "caller";
        // Real keys go to the display's foreground window, which another program may take for
        // a moment: the typing is repeated a few times at most.
        for (int attempt = 0; attempt < 5 && length < 255; ++attempt) {
            if (!waitUntil([&] { return focusOf(uiThread) == edit && GetForegroundWindow() == dialogWnd; }, 3000))
                continue;
            SendMessageA(edit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(""));
            for (int i = 0; i < 300; ++i)
                typeKey(static_cast<WORD>('A' + i % 26));
            waitUntil([&] { return GetWindowTextLengthA(edit) >= 255; }, 3000);
            Sleep(200);
            length = GetWindowTextLengthA(edit);
        }
        PostMessageA(GetDlgItem(dialogWnd, IDOK), BM_CLICK, 0, 0);
        if (!waitUntil([&] { return !IsWindow(dialogWnd); }, 3000))
            PostMessageA(dialogWnd, WM_COMMAND, IDCANCEL, 0);
    });
    const INT_PTR result = dialog.DoModal();
    driver.join();
    EXPECT_TRUE(opened);
    EXPECT_EQ(255, length);
    EXPECT_EQ(IDOK, result);
    std::string expected;
    for (int i = 0; i < 255; ++i)
        expected += static_cast<char>('a' + i % 26);
    EXPECT_EQ(255u, dialog.m_nickname.size());
    EXPECT_EQ(expected, dialog.m_nickname);
    ui.m_pMainWnd = nullptr;
}

TEST(CNicknameDlg, CancelKeepsTheCallersText)
{
    UiThreadScope ui;
    ASSERT_NE(nullptr, ui.resources());
    CNicknameDlg dialog(nullptr);
    dialog.m_nickname = "kept";
    const DWORD uiThread = GetCurrentThreadId();
    std::thread driver([&] {
        HWND dialogWnd = nullptr;
        if (!waitUntil([&] { return (dialogWnd = findDialog(uiThread, "Nick Name")) != nullptr; }))
            return;
        SendMessageA(GetDlgItem(dialogWnd, 1023), WM_SETTEXT, 0, reinterpret_cast<LPARAM>("changed"));
        PostMessageA(GetDlgItem(dialogWnd, IDCANCEL), BM_CLICK, 0, 0);
        if (!waitUntil([&] { return !IsWindow(dialogWnd); }, 3000))
            PostMessageA(dialogWnd, WM_COMMAND, IDCANCEL, 0);
    });
    EXPECT_EQ(IDCANCEL, dialog.DoModal());
    driver.join();
    EXPECT_EQ("kept", dialog.m_nickname);
}

TEST(CAboutDlg, ShowsTheVersionAndIconOwnedByTheMainWindowAndOkEndsIt)
{
    UiThreadScope ui;
    ASSERT_NE(nullptr, ui.resources());
    CPlainTopWnd main({0, 0, 200, 100}, WS_POPUP);
    ui.m_pMainWnd = &main;
    CAboutDlg dialog;
    const DWORD uiThread = GetCurrentThreadId();
    std::atomic<bool> found{false}, product{false}, version{false}, icon{false}, owned{false};
    std::thread driver([&] {
        HWND dialogWnd = nullptr;
        if (!waitUntil([&] { return (dialogWnd = findDialog(uiThread, "Version Information")) != nullptr; }))
            return;
        found = true;
        owned = GetWindow(dialogWnd, GW_OWNER) == main.m_hWnd;
        for (HWND child = GetWindow(dialogWnd, GW_CHILD); child != nullptr; child = GetWindow(child, GW_HWNDNEXT)) {
            char className[32] = "";
            GetClassNameA(child, className, sizeof className);
            if (lstrcmpiA(className, "Static") != 0)
                continue;
            product = product || textOf(child) == "Tavelin";
            version = version || textOf(child) == "Version 2.1";
            icon = icon || SendMessageA(child, STM_GETICON, 0, 0) != 0;
        }
        Sleep(300);
        saveScreenshot("version_dialog");
        PostMessageA(GetDlgItem(dialogWnd, IDOK), BM_CLICK, 0, 0);
        if (!waitUntil([&] { return !IsWindow(dialogWnd); }, 3000))
            PostMessageA(dialogWnd, WM_COMMAND, IDCANCEL, 0);
    });
    EXPECT_EQ(IDOK, dialog.DoModal());
    driver.join();
    EXPECT_TRUE(found);
    EXPECT_TRUE(product);
    EXPECT_TRUE(version);
    EXPECT_TRUE(icon);
    EXPECT_TRUE(owned);
    ui.m_pMainWnd = nullptr;
}
