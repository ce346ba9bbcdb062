// The status control on the screen: the role picture of its skin and the lamp in the colour of
// the terminal's reference number.
#include "CDrawObject.h"
#include "CRect.h"
#include "CStatusCtrl.h"
#include "UiThreadScope.h"
#include "WidgetTestSupport.h"

#include <gtest/gtest.h>

namespace {

const CRect OUTER(10, 10, 122, 29);   // the pictures are 112 × 19
const CRect LAMP(77, 6, 107, 13);     // the pictures' lamp socket
const CRect PARENT(600, 420, 800, 480);

// The control's screen pixels against a picture of tavlang outside the lamp and the colour
// inside it; the number of pixels that differ.
int wrongPixels(HMODULE resources, const wchar_t* picture, COLORREF lamp)
{
    const BitmapPixels expected(resources, picture);
    EXPECT_TRUE(expected.valid()) << "no picture";
    if (!expected.valid())
        return -1;
    CRect onScreen = OUTER;
    onScreen.OffsetRect(PARENT.left, PARENT.top);
    const std::vector<Rgb> pixels = screenPixels(onScreen);
    int wrong = 0;
    for (int y = 0; y < OUTER.Height(); ++y)
        for (int x = 0; x < OUTER.Width(); ++x) {
            const Rgb want = LAMP.PtInRect(CPoint(x, y)) ? rgbOf(lamp) : expected.at(x, y);
            wrong += pixels[static_cast<size_t>(y) * OUTER.Width() + x] != want;
        }
    return wrong;
}

} // namespace

TEST(CStatusCtrl, ShowsTheRolePictureOfItsSkinAndTheLampInTheTerminalColour)
{
    UiThreadScope ui;
    ASSERT_NE(nullptr, ui.resources());
    CPlainTopWnd parent(PARENT);
    ASSERT_NE(nullptr, parent.m_hWnd);
    SetWindowPos(parent.m_hWnd, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
    CStatusCtrl status(OUTER, LAMP, &parent, 1030);
    ASSERT_NE(nullptr, status.m_hWnd);
    EXPECT_EQ(static_cast<LONG_PTR>(WS_CHILD | WS_CLIPSIBLINGS), GetWindowLongPtrA(status.m_hWnd, GWL_STYLE));
    EXPECT_EQ(1030, status.GetDlgCtrlID());
    status.SetSkin(1);
    status.ShowWindow(SW_SHOW);
    pumpMessages(300);
    // No role yet; the status value starts at 0.
    EXPECT_EQ(0, wrongPixels(ui.resources(), L"IDB_STATUSCTRL_N1", 0xFF80C0));
    saveScreenshot("status_no_role_skin1");

    status.SetRole(true);
    pumpMessages(100);
    EXPECT_EQ(0, wrongPixels(ui.resources(), L"IDB_STATUSCTRL_S1", 0xFF80C0));
    saveScreenshot("status_host_skin1");

    status.SetRole(false);
    pumpMessages(100);
    EXPECT_EQ(0, wrongPixels(ui.resources(), L"IDB_STATUSCTRL_C1", 0xFF80C0));
    saveScreenshot("status_joined_skin1");

    const struct {
        int status;
        COLORREF lamp;
    } lamps[] = {{1, 0xFFC080}, {16, 0xFFC080}, {3, 0x0000FF}, {0, 0xFF80C0}};
    for (const auto& c : lamps) {
        SCOPED_TRACE(c.status);
        status.SetStatus(c.status);
        pumpMessages(100);
        EXPECT_EQ(0, wrongPixels(ui.resources(), L"IDB_STATUSCTRL_C1", c.lamp));
    }
    status.SetStatus(1);
    status.SetSkin(2);
    pumpMessages(100);
    EXPECT_EQ(0, wrongPixels(ui.resources(), L"IDB_STATUSCTRL_C2", 0xFFC080));
    saveScreenshot("status_joined_skin2_status1");
}
