// The trash on the screen: its size, its pictures by state and skin, its place among siblings.
#include "BitmapPixels.h"
#include "CTrashWnd.h"
#include "TestSupport.h"
#include "UiThreadScope.h"
#include "WidgetTestSupport.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace {

const RECT PARENT = {100, 100, 900, 560};

// Screen pixels of the trash that differ from the picture.
int wrongPixels(HMODULE resources, const wchar_t* picture, const CWnd& trash)
{
    const BitmapPixels expected(resources, picture);
    EXPECT_TRUE(expected.valid());
    if (!expected.valid())
        return -1;
    RECT onScreen;
    trash.GetWindowRect(&onScreen);
    const std::vector<Rgb> pixels = screenPixels(onScreen);
    const int width = onScreen.right - onScreen.left;
    int wrong = 0;
    for (int y = 0; y < onScreen.bottom - onScreen.top; ++y)
        for (int x = 0; x < width; ++x)
            wrong += pixels[static_cast<size_t>(y) * width + x] != expected.at(x, y);
    return wrong;
}

} // namespace

TEST(CTrashWnd, ShowsItsPictureByStateAndSkinAtTheSizeOfSkinZeroAboveItsSiblings)
{
    UiThreadScope ui;
    ASSERT_NE(nullptr, ui.resources());
    const BitmapPixels on0(ui.resources(), L"IDB_TRASH_ON0");
    ASSERT_TRUE(on0.valid());
    CPlainTopWnd parent(PARENT);
    ASSERT_NE(nullptr, parent.m_hWnd);
    SetWindowPos(parent.m_hWnd, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
    // A sibling made first under the same place.
    CWnd sibling;
    ASSERT_TRUE(sibling.CreateEx(0, nullptr, "", WS_CHILD | WS_VISIBLE, RECT{690, 420, 800, 460}, &parent, 5));
    CTrashWnd trash(707, 428, &parent, 1040);
    EXPECT_EQ(nullptr, trash.m_hWnd);
    ASSERT_TRUE(trash.Create());
    ASSERT_NE(nullptr, trash.m_hWnd);
    char name[32] = "";
    GetWindowTextA(trash.m_hWnd, name, sizeof name);
    EXPECT_STREQ("trashbox", name);
    EXPECT_EQ(1040, trash.GetDlgCtrlID());
    EXPECT_TRUE(trash.IsWindowVisible());
    EXPECT_EQ(trash.m_hWnd, GetWindow(parent.m_hWnd, GW_CHILD));
    RECT place;
    trash.GetWindowRect(&place);
    parent.ScreenToClient(&place);
    EXPECT_EQ(707, place.left);
    EXPECT_EQ(428, place.top);
    EXPECT_EQ(on0.width(), place.right - place.left);
    EXPECT_EQ(on0.height(), place.bottom - place.top);
    pumpMessages(200);

    EXPECT_EQ(0, wrongPixels(ui.resources(), L"IDB_TRASH_OFF0", trash));
    saveScreenshot("trash_off_skin0");
    trash.SetState(0);
    pumpMessages(100);
    EXPECT_EQ(0, wrongPixels(ui.resources(), L"IDB_TRASH_ON0", trash));
    saveScreenshot("trash_on_skin0");
    trash.SetSkin(2);
    pumpMessages(100);
    EXPECT_EQ(0, wrongPixels(ui.resources(), L"IDB_TRASH_ON2", trash));
    trash.SetState(5);
    pumpMessages(100);
    EXPECT_EQ(0, wrongPixels(ui.resources(), L"IDB_TRASH_OFF2", trash));
    trash.SetSkin(1);
    trash.SetState(0);
    pumpMessages(100);
    EXPECT_EQ(0, wrongPixels(ui.resources(), L"IDB_TRASH_ON1", trash));
    saveScreenshot("trash_on_skin1");
    RECT after;
    trash.GetWindowRect(&after);
    parent.ScreenToClient(&after);
    EXPECT_TRUE(EqualRect(&place, &after));
}

TEST(CTrashWnd, SkinOutsideTheThreeFailsAnAssertion)
{
    if (isChild()) {
        childTracesToFile(false);
        UiThreadScope ui;
        CTrashWnd trash(0, 0, nullptr, 1040);
        trash.SetSkin(3);
        exit(0);   // not stopped: the parent sees 0
    }
    TempDir dir;
    EXPECT_EQ(ABNORMAL_EXIT, runInChild(dir));
    EXPECT_TRUE(hasLineWith(dir.logLines(), "ASSERT: [ CTrashWnd ] Illegal arg for SetSkin()."))
        << testing::PrintToString(dir.logLines());
}
