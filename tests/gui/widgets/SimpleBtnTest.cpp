// The skinned button's state machine driven by real pointer input under Xvfb, with the screen's
// pixel read after every event.
#include "CDrawObject.h"
#include "CSimpleBtn.h"
#include "TestSupport.h"
#include "UiThreadScope.h"
#include "WidgetTestSupport.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

namespace {

const COLORREF NORMAL_COLOUR = 0x0000C0;
const COLORREF FOCUSED_COLOUR = 0x00C000;
const COLORREF PUSHED_COLOUR = 0xC00000;
const RECT PARENT = {520, 120, 720, 220};
const RECT BUTTON = {20, 20, 60, 60};   // in the parent
const POINT ON = {40, 40};              // parent client points
const POINT ON_EDGE = {21, 58};
const POINT OFF = {120, 40};

// Records its clicks with the state each click met; three solid pictures.
class CRecordingBtn : public CSimpleBtn {
public:
    CRecordingBtn(CWnd* parent) : CSimpleBtn(BUTTON, RECT{0, 0, 40, 40}, parent, 1101) {}
    void SetSkin(int) override
    {
        m_normal.setBitmap(CDrawObject::createFilledBitmap(NORMAL_COLOUR, 40, 40));
        m_focused.setBitmap(CDrawObject::createFilledBitmap(FOCUSED_COLOUR, 40, 40));
        m_pushed.setBitmap(CDrawObject::createFilledBitmap(PUSHED_COLOUR, 40, 40));
        Invalidate(TRUE);
        UpdateWindow();
    }
    void OnSimpleBtnClick(UINT, CPoint point) override
    {
        clicks.push_back(GetState());
        clickPoints.push_back(point);
    }
    void force(int state) { state_ = state; }
    std::vector<int> clicks;
    std::vector<CPoint> clickPoints;
};

enum Action { MOVE, LEFT_DOWN, LEFT_UP, RIGHT_DOWN, RIGHT_UP, TAKE_CAPTURE };

struct Step {
    Action action;
    POINT at;          // for MOVE
    int state;         // after the event
    COLORREF colour;   // at the button's middle after the event
    size_t clicks;
};

class SimpleBtnScreen : public ::testing::Test {
protected:
    void SetUp() override
    {
        parent.reset(new CPlainTopWnd(PARENT));
        ASSERT_NE(nullptr, parent->m_hWnd);
        SetWindowPos(parent->m_hWnd, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
        button.reset(new CRecordingBtn(parent.get()));
        ASSERT_NE(nullptr, button->m_hWnd);
        button->SetSkin(0);
        button->ShowWindow(SW_SHOW);
        move(OFF);
        pumpMessages(200);
    }
    void TearDown() override
    {
        ReleaseCapture();
        button.reset();
    }

    void move(POINT client)
    {
        const int width = GetSystemMetrics(SM_CXSCREEN), height = GetSystemMetrics(SM_CYSCREEN);
        INPUT input{};
        input.type = INPUT_MOUSE;
        input.mi.dx = ((PARENT.left + client.x) * 65535 + (width - 1) / 2) / (width - 1);
        input.mi.dy = ((PARENT.top + client.y) * 65535 + (height - 1) / 2) / (height - 1);
        input.mi.dwFlags = MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE;
        SendInput(1, &input, sizeof input);
    }
    static void press(DWORD flags)
    {
        INPUT input{};
        input.type = INPUT_MOUSE;
        input.mi.dwFlags = flags;
        SendInput(1, &input, sizeof input);
    }
    void perform(const Step& step)
    {
        switch (step.action) {
        case MOVE: move(step.at); break;
        case LEFT_DOWN: press(MOUSEEVENTF_LEFTDOWN); break;
        case LEFT_UP: press(MOUSEEVENTF_LEFTUP); break;
        case RIGHT_DOWN: press(MOUSEEVENTF_RIGHTDOWN); break;
        case RIGHT_UP: press(MOUSEEVENTF_RIGHTUP); break;
        case TAKE_CAPTURE: ::SetCapture(parent->m_hWnd); break;
        }
    }
    // Each step, then the state, the screen's pixel and the clicks so far.
    void run(const std::vector<Step>& steps)
    {
        for (size_t i = 0; i < steps.size(); ++i) {
            SCOPED_TRACE("step " + std::to_string(i));
            perform(steps[i]);
            pumpMessages(120);
            EXPECT_EQ(steps[i].state, button->GetState());
            EXPECT_EQ(steps[i].colour, middlePixel());
            EXPECT_EQ(steps[i].clicks, button->clicks.size());
        }
    }
    COLORREF middlePixel() const
    {
        return screenPixel(PARENT.left + (BUTTON.left + BUTTON.right) / 2, PARENT.top + (BUTTON.top + BUTTON.bottom) / 2);
    }
    // Pixels of the button that are none of its pictures' colours.
    int foreignPixels() const
    {
        RECT onScreen = BUTTON;
        OffsetRect(&onScreen, PARENT.left, PARENT.top);
        int foreign = 0;
        for (const Rgb& pixel : screenPixels(onScreen))
            foreign += pixel != rgbOf(NORMAL_COLOUR) && pixel != rgbOf(FOCUSED_COLOUR) && pixel != rgbOf(PUSHED_COLOUR);
        return foreign;
    }

    UiThreadScope ui;
    std::unique_ptr<CPlainTopWnd> parent;
    std::unique_ptr<CRecordingBtn> button;
};

} // namespace

TEST_F(SimpleBtnScreen, PressLeavingAndComingBackClicksOnceAndTheNextMoveShowsTheFocusedPicture)
{
    EXPECT_EQ(NORMAL_COLOUR, middlePixel());
    EXPECT_EQ(static_cast<LONG_PTR>(WS_CHILD | WS_CLIPSIBLINGS | WS_VISIBLE), GetWindowLongPtrA(button->m_hWnd, GWL_STYLE));
    char className[32] = "";
    GetClassNameA(button->m_hWnd, className, sizeof className);
    EXPECT_STREQ("button", CharLowerA(className));
    run({
        {MOVE, ON, CSimpleBtn::ON_CURSOR, FOCUSED_COLOUR, 0},
        {LEFT_DOWN, {}, CSimpleBtn::PUSHED, PUSHED_COLOUR, 0},
        {MOVE, OFF, CSimpleBtn::PUSHED_FREE, NORMAL_COLOUR, 0},
        {MOVE, ON, CSimpleBtn::PUSHED_ON_CURSOR, NORMAL_COLOUR, 0},
        {LEFT_UP, {}, CSimpleBtn::FREE, NORMAL_COLOUR, 1},
        {MOVE, ON_EDGE, CSimpleBtn::ON_CURSOR, FOCUSED_COLOUR, 1},
        {MOVE, OFF, CSimpleBtn::FREE, NORMAL_COLOUR, 1},
    });
    ASSERT_EQ(1u, button->clicks.size());
    EXPECT_EQ(CSimpleBtn::ON_CURSOR, button->clicks[0]);
    EXPECT_EQ(CPoint(ON.x - BUTTON.left, ON.y - BUTTON.top), button->clickPoints[0]);
    saveScreenshot("simple_button_after_click");
}

TEST_F(SimpleBtnScreen, ReleasingOffTheButtonGivesNoClick)
{
    run({
        {MOVE, ON, CSimpleBtn::ON_CURSOR, FOCUSED_COLOUR, 0},
        {LEFT_DOWN, {}, CSimpleBtn::PUSHED, PUSHED_COLOUR, 0},
        {MOVE, OFF, CSimpleBtn::PUSHED_FREE, NORMAL_COLOUR, 0},
        {LEFT_UP, {}, CSimpleBtn::FREE, NORMAL_COLOUR, 0},
        {MOVE, ON, CSimpleBtn::ON_CURSOR, FOCUSED_COLOUR, 0},
        {RIGHT_DOWN, {}, CSimpleBtn::PUSHED, PUSHED_COLOUR, 0},
        {MOVE, OFF, CSimpleBtn::PUSHED_FREE, NORMAL_COLOUR, 0},
        {RIGHT_UP, {}, CSimpleBtn::FREE, NORMAL_COLOUR, 0},
    });
}

TEST_F(SimpleBtnScreen, TheRightButtonClicksAsTheLeft)
{
    run({
        {MOVE, ON, CSimpleBtn::ON_CURSOR, FOCUSED_COLOUR, 0},
        {RIGHT_DOWN, {}, CSimpleBtn::PUSHED, PUSHED_COLOUR, 0},
        {MOVE, OFF, CSimpleBtn::PUSHED_FREE, NORMAL_COLOUR, 0},
        {MOVE, ON, CSimpleBtn::PUSHED_ON_CURSOR, NORMAL_COLOUR, 0},
        {RIGHT_UP, {}, CSimpleBtn::FREE, NORMAL_COLOUR, 1},
        {MOVE, ON_EDGE, CSimpleBtn::ON_CURSOR, FOCUSED_COLOUR, 1},
        {RIGHT_DOWN, {}, CSimpleBtn::PUSHED, PUSHED_COLOUR, 1},
        {RIGHT_UP, {}, CSimpleBtn::FREE, NORMAL_COLOUR, 2},
    });
}

TEST_F(SimpleBtnScreen, DisabledDrawsNothingAndNeverClicksButFollowsTheStates)
{
    run({{MOVE, ON, CSimpleBtn::ON_CURSOR, FOCUSED_COLOUR, 0}});
    button->SetEnabled(false);
    EXPECT_FALSE(button->IsEnabled());
    // The focused picture stays on the screen: nothing is drawn any more.
    run({
        {LEFT_DOWN, {}, CSimpleBtn::PUSHED, FOCUSED_COLOUR, 0},
        {MOVE, OFF, CSimpleBtn::PUSHED_FREE, FOCUSED_COLOUR, 0},
        {MOVE, ON, CSimpleBtn::PUSHED_ON_CURSOR, FOCUSED_COLOUR, 0},
        {LEFT_UP, {}, CSimpleBtn::FREE, FOCUSED_COLOUR, 0},
    });
    button->Invalidate(TRUE);
    pumpMessages(100);
    button->SetEnabled(true);
    pumpMessages(100);
    EXPECT_EQ(NORMAL_COLOUR, middlePixel());
    run({
        {MOVE, ON_EDGE, CSimpleBtn::ON_CURSOR, FOCUSED_COLOUR, 0},
        {LEFT_DOWN, {}, CSimpleBtn::PUSHED, PUSHED_COLOUR, 0},
        {LEFT_UP, {}, CSimpleBtn::FREE, NORMAL_COLOUR, 1},
    });
}

TEST_F(SimpleBtnScreen, CaptureTakenByAnotherWindowCancelsThePress)
{
    run({
        {MOVE, ON, CSimpleBtn::ON_CURSOR, FOCUSED_COLOUR, 0},
        {LEFT_DOWN, {}, CSimpleBtn::PUSHED, PUSHED_COLOUR, 0},
        {TAKE_CAPTURE, {}, CSimpleBtn::FREE, NORMAL_COLOUR, 0},
        {LEFT_UP, {}, CSimpleBtn::FREE, NORMAL_COLOUR, 0},
    });
}

TEST_F(SimpleBtnScreen, DoubleClickClicksOnceAndKeepsTheSkin)
{
    run({{MOVE, ON, CSimpleBtn::ON_CURSOR, FOCUSED_COLOUR, 0}});
    EXPECT_NE(0u, GetClassLongPtrA(button->m_hWnd, GCL_STYLE) & CS_DBLCLKS);
    // The four events close together, then again one by one with the pixels read between.
    for (DWORD flags : {MOUSEEVENTF_LEFTDOWN, MOUSEEVENTF_LEFTUP, MOUSEEVENTF_LEFTDOWN, MOUSEEVENTF_LEFTUP}) {
        press(flags);
        pumpMessages(20);
        EXPECT_EQ(0, foreignPixels());
    }
    pumpMessages(150);
    EXPECT_EQ(1u, button->clicks.size());
    EXPECT_EQ(0, foreignPixels());
    run({
        {MOVE, OFF, CSimpleBtn::FREE, NORMAL_COLOUR, 1},
        {MOVE, ON, CSimpleBtn::ON_CURSOR, FOCUSED_COLOUR, 1},
        {LEFT_DOWN, {}, CSimpleBtn::PUSHED, PUSHED_COLOUR, 1},
        {LEFT_UP, {}, CSimpleBtn::FREE, NORMAL_COLOUR, 2},
        // Slower, still a double click: the second press is kept from the state machine.
        {LEFT_DOWN, {}, CSimpleBtn::FREE, NORMAL_COLOUR, 2},
        {LEFT_UP, {}, CSimpleBtn::FREE, NORMAL_COLOUR, 2},
    });
    EXPECT_EQ(0, foreignPixels());
    // A state change the system's button would paint is kept from it.
    button->SendMessage(BM_SETSTATE, TRUE);
    pumpMessages(100);
    EXPECT_EQ(0, foreignPixels());
}

TEST_F(SimpleBtnScreen, APressOffTheButtonWhileItHoldsThePointerKeepsTheSkin)
{
    // The second button's press off the button reaches it through the capture: the system's
    // default handling, but still no face of its own.
    run({
        {MOVE, ON, CSimpleBtn::ON_CURSOR, FOCUSED_COLOUR, 0},
        {LEFT_DOWN, {}, CSimpleBtn::PUSHED, PUSHED_COLOUR, 0},
        {MOVE, OFF, CSimpleBtn::PUSHED_FREE, NORMAL_COLOUR, 0},
        {RIGHT_DOWN, {}, CSimpleBtn::PUSHED_FREE, NORMAL_COLOUR, 0},
    });
    EXPECT_EQ(0, foreignPixels());
    run({
        {RIGHT_UP, {}, CSimpleBtn::FREE, NORMAL_COLOUR, 0},
        {LEFT_UP, {}, CSimpleBtn::FREE, NORMAL_COLOUR, 0},
    });
    EXPECT_EQ(0, foreignPixels());
}

TEST(CSimpleBtn, AStateOutsideTheTableEndsTheProcess)
{
    if (isChild()) {
        childTracesToFile(false);
        UiThreadScope ui;
        CPlainTopWnd parent(PARENT, WS_POPUP);
        class CForcedBtn : public CSimpleBtn {
        public:
            using CSimpleBtn::CSimpleBtn;
            void SetSkin(int) override {}
            void OnSimpleBtnClick(UINT, CPoint) override {}
            void force(int state) { state_ = state; }
        } button(BUTTON, RECT{0, 0, 40, 40}, &parent, 1101);
        button.force(5);
        button.SendMessage(WM_MOUSEMOVE, 0, MAKELPARAM(5, 5));
        exit(0);   // not stopped: the parent sees 0
    }
    TempDir dir;
    EXPECT_EQ(ABNORMAL_EXIT, runInChild(dir));
    EXPECT_TRUE(hasLineWith(dir.logLines(), "FATAL ERROR: [ CSimpleBtn ] mouse move: undefined state 5"))
        << testing::PrintToString(dir.logLines());
}
