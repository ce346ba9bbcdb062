// The watch window's records and its clean-up after applications whose window has gone, with
// windows of the test and a database of its own; the timer's tick is called directly.
#include "CQuarnDataBase.h"
#include "CQuarnSrvCore.h"
#include "CQuarnWatchWindow.h"
#include "QuarnCodes.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

const wchar_t APPS[] = L"\\Applications\\Tav";

class QuarnWatchWindowTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        WNDCLASSA windowClass = {};
        windowClass.lpfnWndProc = DefWindowProcA;
        windowClass.hInstance = GetModuleHandleA(nullptr);
        windowClass.lpszClassName = "QuarnWatchTestWindow";
        RegisterClassA(&windowClass);
    }

    void TearDown() override
    {
        for (HWND w : windows_)
            DestroyWindow(w);
    }

    HWND window()
    {
        HWND w = CreateWindowA("QuarnWatchTestWindow", "", WS_DISABLED, 0, 0, 10, 10, nullptr, nullptr,
                               GetModuleHandleA(nullptr), nullptr);
        windows_.push_back(w);
        return w;
    }

    bool has(const wchar_t* path)
    {
        DWORD type;
        return database_.GetEntryType(path, &type);
    }

    // What an application with id n publishes in its directory: its own entries, and the
    // shared ones in the directory named by its id.
    void publish(DWORD n)
    {
        wchar_t path[128];
        swprintf(path, 128, L"%ls\\Entry%lu", APPS, static_cast<unsigned long>(n));
        ASSERT_TRUE(database_.SetValueInt(n, path, 1));
        swprintf(path, 128, L"%ls\\Deep\\Entry%lu", APPS, static_cast<unsigned long>(n));
        ASSERT_TRUE(database_.SetValueInt(n, path, 2));
        swprintf(path, 128, L"%ls\\%lu\\User Name", APPS, static_cast<unsigned long>(n));
        ASSERT_TRUE(database_.SetValueString(0xFFFFFFFF, path, L"someone"));
    }

    CQuarnSrvCore core_;
    CQuarnDataBase database_;
    std::vector<HWND> windows_;
};

TEST_F(QuarnWatchWindowTest, TheWindowAndItsTimerAreThere)
{
    CQuarnWatchWindow watch(core_, database_);
    ASSERT_NE(watch.GetWindow(), nullptr);
    // Its own class and name, read from the window (a search by them could meet another test's
    // watch window: the tests share one prefix).
    char text[64] = {};
    ASSERT_GT(GetClassNameA(watch.GetWindow(), text, sizeof text), 0);
    EXPECT_STREQ(text, CQuarnWatchWindow::WINDOW_CLASS);
    ASSERT_GT(GetWindowTextA(watch.GetWindow(), text, sizeof text), 0);
    EXPECT_STREQ(text, CQuarnWatchWindow::WINDOW_NAME);
    EXPECT_FALSE(IsWindowVisible(watch.GetWindow()));
    // Its timer is running: killing it succeeds once.
    EXPECT_TRUE(KillTimer(watch.GetWindow(), CQuarnWatchWindow::WATCH_TIMER));
}

TEST_F(QuarnWatchWindowTest, AGoneWindowTakesItsApplicationsEntriesWithIt)
{
    CQuarnWatchWindow watch(core_, database_);
    HWND five = window();
    HWND six = window();
    publish(5);
    publish(6);
    // An entry that the application shares with another stays for the other.
    ASSERT_TRUE(database_.SetValueInt(5, L"\\Applications\\Tav\\Shared", 3));
    ASSERT_TRUE(database_.SetValueInt(6, L"\\Applications\\Tav\\Shared", 3));
    ASSERT_TRUE(watch.Add(5, five, APPS));
    ASSERT_TRUE(watch.Add(6, six, APPS));

    watch.OnTimer(CQuarnWatchWindow::WATCH_TIMER);
    EXPECT_EQ(watch.GetRecordCount(), 2u);
    EXPECT_TRUE(has(L"\\Applications\\Tav\\Entry5"));

    DestroyWindow(five);
    watch.OnTimer(CQuarnWatchWindow::WATCH_TIMER + 1);
    EXPECT_EQ(watch.GetRecordCount(), 2u);
    watch.OnTimer(CQuarnWatchWindow::WATCH_TIMER);
    EXPECT_EQ(watch.GetRecordCount(), 1u);
    EXPECT_TRUE(watch.HasRecord(6, six));
    EXPECT_FALSE(has(L"\\Applications\\Tav\\Entry5"));
    EXPECT_FALSE(has(L"\\Applications\\Tav\\Deep\\Entry5"));
    EXPECT_FALSE(has(L"\\Applications\\Tav\\5"));
    EXPECT_TRUE(has(L"\\Applications\\Tav\\Entry6"));
    EXPECT_TRUE(has(L"\\Applications\\Tav\\Deep\\Entry6"));
    EXPECT_TRUE(has(L"\\Applications\\Tav\\6\\User Name"));
    EXPECT_TRUE(has(L"\\Applications\\Tav\\Shared"));
    // The timer runs again after the scan.
    EXPECT_TRUE(KillTimer(watch.GetWindow(), CQuarnWatchWindow::WATCH_TIMER));
}

TEST_F(QuarnWatchWindowTest, OnlyTheRecordWhoseWindowIsGoneIsDeleted)
{
    // Two records of one application; either may be the dead one.
    for (bool newerDead : {false, true}) {
        CQuarnWatchWindow watch(core_, database_);
        HWND older = window();
        HWND newer = window();
        publish(7);
        ASSERT_TRUE(watch.Add(7, older, APPS));
        ASSERT_TRUE(watch.Add(7, newer, APPS));
        HWND dead = newerDead ? newer : older;
        HWND live = newerDead ? older : newer;
        DestroyWindow(dead);
        watch.OnTimer(CQuarnWatchWindow::WATCH_TIMER);
        EXPECT_EQ(watch.GetRecordCount(), 1u) << newerDead;
        EXPECT_TRUE(watch.HasRecord(7, live)) << newerDead;
        EXPECT_FALSE(has(L"\\Applications\\Tav\\Entry7")) << newerDead;
    }
}

TEST_F(QuarnWatchWindowTest, RecordsAreFoundByApplicationNewestFirstAndByPathOldestFirst)
{
    CQuarnWatchWindow watch(core_, database_);
    HWND a = window();
    HWND b = window();
    HWND c = window();
    ASSERT_TRUE(watch.Add(1, a, L"\\X"));
    ASSERT_TRUE(watch.Add(1, b, L"\\X"));
    EXPECT_FALSE(watch.Add(2, b, L"\\Y"));
    EXPECT_FALSE(watch.Add(2, c, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_FALSE(watch.Add(2, c, L""));
    ASSERT_TRUE(watch.Add(2, c, L"\\Y"));
    EXPECT_TRUE(watch.HasPath(L"\\X"));
    EXPECT_FALSE(watch.HasPath(L"\\x"));

    const UINT message = WM_APP + 7;
    MSG m;
    ASSERT_TRUE(watch.PostToWatchWindowsByPath(L"\\X", message, 1, 2));
    ASSERT_TRUE(PeekMessageA(&m, nullptr, message, message, PM_REMOVE));
    EXPECT_EQ(m.hwnd, a);
    ASSERT_TRUE(PeekMessageA(&m, nullptr, message, message, PM_REMOVE));
    EXPECT_EQ(m.hwnd, b);
    EXPECT_FALSE(PeekMessageA(&m, nullptr, message, message, PM_REMOVE));
    ASSERT_TRUE(watch.PostToWatchWindowsByAppId(1, message, 3, 4));
    ASSERT_TRUE(PeekMessageA(&m, nullptr, message, message, PM_REMOVE));
    EXPECT_EQ(m.hwnd, b);
    EXPECT_FALSE(watch.PostToWatchWindowsByAppId(9, message, 3, 4));
    EXPECT_FALSE(watch.PostToWatchWindowsByPath(L"\\Z", message, 3, 4));

    ASSERT_TRUE(watch.Change(1, c));
    EXPECT_TRUE(watch.HasRecord(1, c));
    EXPECT_TRUE(watch.HasRecord(1, a));
    ASSERT_TRUE(watch.Delete(1));
    EXPECT_FALSE(watch.HasRecord(1, c));
    EXPECT_TRUE(watch.HasRecord(1, a));
    EXPECT_FALSE(watch.Delete(9));
    EXPECT_FALSE(watch.Change(9, a));
}

} // namespace
