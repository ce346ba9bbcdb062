// The control classes, read back from the controls they make.
#include "CAnimateCtrl.h"
#include "CEdit.h"
#include "CProgressCtrl.h"
#include "CRect.h"
#include "CRichEditCtrl.h"
#include "CSliderCtrl.h"
#include "CToolTipCtrl.h"
#include "UiThreadScope.h"

#include <commctrl.h>
#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {
constexpr DWORD kChild = WS_CHILD | WS_VISIBLE;

std::string classOf(HWND hwnd) {
    char name[64] = "";
    GetClassNameA(hwnd, name, sizeof name);
    return name;
}
}  // namespace

TEST(CEdit, SelectAndReplaceTheSelection) {
    CPlainTopWnd parent({0, 0, 300, 100}, WS_POPUP);
    CEdit edit;
    ASSERT_TRUE(edit.Create(kChild | ES_AUTOHSCROLL, CRect(0, 0, 200, 20), &parent, 1001));
    EXPECT_EQ(1001, edit.GetDlgCtrlID());
    edit.SetWindowText("hello world");
    edit.SetSel(6, 11);
    edit.ReplaceSel("there");
    EXPECT_EQ("hello there", edit.GetWindowText());
    int start = -1, end = -1;
    edit.GetSel(start, end);
    EXPECT_EQ(11, start);
    EXPECT_EQ(11, end);
    edit.SetSel(0, -1, TRUE);
    edit.ReplaceSel("");
    EXPECT_EQ("", edit.GetWindowText());
    edit.LimitText(10);
    EXPECT_EQ(10u, edit.GetLimitText());
}

TEST(CRichEditCtrl, LinesColoursSelectionAndReadOnly) {
    UiThreadScope ui;
    CPlainTopWnd parent({0, 0, 400, 200}, WS_POPUP);
    CRichEditCtrl rich;
    ASSERT_TRUE(rich.Create(kChild | ES_MULTILINE | ES_AUTOVSCROLL | ES_WANTRETURN,
                            CRect(0, 0, 380, 180), &parent, 1017));
    EXPECT_STRCASEEQ("RichEdit20A", classOf(rich.m_hWnd).c_str());

    const DWORD events = ENM_LINK | ENM_MOUSEEVENTS | ENM_SELCHANGE;
    rich.SetEventMask(rich.GetEventMask() | events);
    EXPECT_EQ(events, rich.GetEventMask() & events);

    CHARFORMATA font{};
    font.dwMask = CFM_SIZE | CFM_FACE | CFM_BOLD;
    font.yHeight = 240;
    std::strcpy(font.szFaceName, "Arial");
    EXPECT_TRUE(rich.SetDefaultCharFormat(font));
    rich.SetBackgroundColor(FALSE, RGB(0, 0, 0));

    // Three lines, appended at the end without undo.
    for (const char* line : {"one\n", "two\n", "three"}) {
        rich.SetSel(-1, -1);
        rich.ReplaceSel(line);
    }
    EXPECT_EQ(3, rich.GetLineCount());
    EXPECT_EQ(0, rich.LineIndex(0));
    EXPECT_EQ(4, rich.LineIndex(1));
    EXPECT_EQ(8, rich.LineIndex(2));
    EXPECT_EQ(15, rich.GetTextLength());   // counted as the text is read: line ends as CR LF

    // The second line in 0x0000FF, explicitly.
    rich.SetSel(4, 7);
    CHARFORMATA red{};
    red.dwMask = CFM_COLOR;
    red.crTextColor = 0x0000FF;
    EXPECT_TRUE(rich.SetSelectionCharFormat(red));
    EXPECT_EQ("two", rich.GetSelText());
    const struct {
        long start, end;
        bool coloured;
    } spans[] = {{0, 3, false}, {4, 7, true}, {8, 13, false}};
    for (const auto& span : spans) {
        SCOPED_TRACE(span.start);
        rich.SetSel(span.start, span.end);
        CHARFORMATA read{};
        DWORD same = rich.GetSelectionCharFormat(read);
        ASSERT_TRUE(same & CFM_COLOR);
        EXPECT_EQ(span.coloured, !(read.dwEffects & CFE_AUTOCOLOR) && read.crTextColor == 0x0000FF);
    }

    rich.SetSel(4, 7);
    rich.Copy();
    ASSERT_TRUE(OpenClipboard(parent.m_hWnd));
    HANDLE data = GetClipboardData(CF_TEXT);
    std::string copied = data ? static_cast<const char*>(GlobalLock(data)) : "";
    if (data)
        GlobalUnlock(data);
    CloseClipboard();
    EXPECT_EQ("two", copied);

    EXPECT_TRUE(rich.SetReadOnly(TRUE));
    EXPECT_TRUE(rich.GetStyle() & ES_READONLY);
    EXPECT_TRUE(rich.SetReadOnly(FALSE));
    EXPECT_FALSE(rich.GetStyle() & ES_READONLY);
}

TEST(CSliderCtrl, RangePositionAndThumb) {
    CPlainTopWnd parent({0, 0, 300, 100}, WS_POPUP);
    CSliderCtrl slider;
    ASSERT_TRUE(slider.Create(kChild | TBS_HORZ, CRect(0, 0, 150, 30), &parent, 2000));
    EXPECT_STRCASEEQ(TRACKBAR_CLASSA, classOf(slider.m_hWnd).c_str());
    slider.SetRange(0, 65535, TRUE);
    slider.SetPos(30000);
    EXPECT_EQ(0, slider.GetRangeMin());
    EXPECT_EQ(65535, slider.GetRangeMax());
    EXPECT_EQ(30000, slider.GetPos());
    CRect thumb, client, inside;
    slider.GetThumbRect(thumb);
    slider.GetClientRect(client);
    EXPECT_FALSE(thumb.IsRectEmpty());
    EXPECT_TRUE(inside.IntersectRect(&thumb, &client));
    EXPECT_EQ(thumb, inside);
    // Near the middle of the track, as 30000 of 65535 is.
    EXPECT_GT(thumb.CenterPoint().x, client.Width() / 4);
    EXPECT_LT(thumb.CenterPoint().x, client.Width() * 3 / 4);
}

TEST(CProgressCtrl, RangeAndPosition) {
    CPlainTopWnd parent({0, 0, 300, 100}, WS_POPUP);
    CProgressCtrl progress;
    ASSERT_TRUE(progress.Create(kChild | WS_BORDER, CRect(7, 71, 195, 81), &parent, 1015));
    progress.SetRange(0, 100);
    EXPECT_EQ(0, progress.SetPos(42));
    EXPECT_EQ(42, progress.GetPos());
    int lower = -1, upper = -1;
    progress.GetRange(lower, upper);
    EXPECT_EQ(0, lower);
    EXPECT_EQ(100, upper);
}

TEST(CAnimateCtrl, OpenedClipOfTheProgramSizesTheControl) {
    CPlainTopWnd parent({0, 0, 400, 100}, WS_POPUP);
    CAnimateCtrl animation;
    ASSERT_TRUE(animation.Create(kChild | ACS_TRANSPARENT | ACS_AUTOPLAY, CRect(15, 10, 300, 50),
                                 &parent, 1));
    EXPECT_FALSE(animation.Open(9999));          // no such clip
    ASSERT_TRUE(animation.Open(220));            // the program's own copy animation
    CRect rect;
    animation.GetWindowRect(rect);
    EXPECT_EQ(256, rect.Width());
    EXPECT_EQ(40, rect.Height());
    parent.ScreenToClient(rect);
    EXPECT_EQ(CPoint(15, 10), rect.TopLeft());   // sized, not moved
    EXPECT_TRUE(animation.Close());
}

TEST(CToolTipCtrl, CreatedWithTheStylesAndOwnedByItsParent) {
    CPlainTopWnd parent({0, 0, 100, 100}, WS_POPUP);
    CToolTipCtrl tip;
    ASSERT_TRUE(tip.Create(&parent, TTS_ALWAYSTIP | TTS_NOPREFIX));
    EXPECT_EQ(TOOLTIPS_CLASSA, classOf(tip.m_hWnd));
    const DWORD style = tip.GetStyle();
    EXPECT_EQ(static_cast<DWORD>(TTS_ALWAYSTIP | TTS_NOPREFIX), style & (TTS_ALWAYSTIP | TTS_NOPREFIX));
    EXPECT_TRUE(style & WS_POPUP);
    EXPECT_EQ(parent.m_hWnd, GetWindow(tip.m_hWnd, GW_OWNER));
}
