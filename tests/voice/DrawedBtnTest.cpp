// The drawn button's five-state mouse machine, message by message, with the image each state
// paints, the capture it holds and the hook's view of every change; then the same with real
// pointer input on the screen.
#include "CDrawedBtn.h"
#include "ScreenShot.h"
#include "SentInput.h"
#include "TestSupport.h"
#include "UiThreadScope.h"
#include "WidgetTestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

const COLORREF NORMAL = 0x0000C0;
const COLORREF CURSOR = 0x00C000;
const COLORREF PUSHED_IMAGE = 0xC00000;
const CRect PARENT(560, 240, 700, 300);
const CRect BUTTON(10, 10, 99, 30);    // in the parent, 89 × 20 as the power button
const CRect HIT(0, 0, 89, 20);
const POINT INSIDE = {40, 10};             // button client points
const POINT OUTSIDE = {120, 10};

// Three images of known colours; records clicks and state changes.
class CTestBtn : public CDrawedBtn {
public:
    explicit CTestBtn(CWnd* parent) : CDrawedBtn(BUTTON, HIT, parent, 1022) { SetSkin(0); }
    void SetSkin(int) override
    {
        m_normal.setBitmap(CDrawObject::createFilledBitmap(NORMAL, 89, 20));
        m_cursor.setBitmap(CDrawObject::createFilledBitmap(CURSOR, 89, 20));
        m_pushed.setBitmap(CDrawObject::createFilledBitmap(PUSHED_IMAGE, 89, 20));
    }
    void OnSimpleBtnClick(UINT flags, CPoint point) override
    {
        events.push_back("click " + std::to_string(flags) + " " + std::to_string(point.x) + "," +
                         std::to_string(point.y) + " in " + std::to_string(GetState()));
    }
    void OnStateChange(int state) override { events.push_back(std::to_string(state)); }
    void force(int state) { m_state = state; }

    std::vector<std::string> events;
};

enum Action { DOWN, MOVE, UP, CAPTURE_ELSEWHERE };

struct Step {
    Action action;
    POINT at;
    int state;                       // after the step
    std::vector<std::string> events;  // the hook's changes and the clicks of the step
    bool captured;                   // whether the button holds the capture after the step
};

LPARAM pointParam(POINT p)
{
    return MAKELPARAM(p.x, p.y);
}

class DrawedBtnMessages : public ::testing::Test {
protected:
    void SetUp() override
    {
        parent.reset(new CPlainTopWnd(PARENT, WS_POPUP));
        ASSERT_NE(nullptr, parent->m_hWnd);
        button.reset(new CTestBtn(parent.get()));
        ASSERT_TRUE(button->Create());
    }
    void TearDown() override
    {
        ReleaseCapture();
        button.reset();
    }

    // The state's image as the button paints its background.
    COLORREF painted()
    {
        Canvas canvas(89, 20, 0xFFFFFF);
        button->SendMessage(WM_ERASEBKGND, reinterpret_cast<WPARAM>(canvas.dc()->GetSafeHdc()));
        const Rgb pixel = canvas.at(44, 10);
        return RGB(pixel.r, pixel.g, pixel.b);
    }
    static COLORREF imageOf(int state)
    {
        return state == CDrawedBtn::ON_CURSOR ? CURSOR : state == CDrawedBtn::PUSHED ? PUSHED_IMAGE : NORMAL;
    }
    void run(const std::vector<Step>& steps)
    {
        for (size_t i = 0; i < steps.size(); ++i) {
            const Step& step = steps[i];
            SCOPED_TRACE("step " + std::to_string(i));
            button->events.clear();
            switch (step.action) {
            case DOWN: button->SendMessage(WM_LBUTTONDOWN, MK_LBUTTON, pointParam(step.at)); break;
            case MOVE: button->SendMessage(WM_MOUSEMOVE, 0, pointParam(step.at)); break;
            case UP: button->SendMessage(WM_LBUTTONUP, 0, pointParam(step.at)); break;
            case CAPTURE_ELSEWHERE: ::SetCapture(parent->m_hWnd); break;
            }
            EXPECT_EQ(step.state, button->GetState());
            EXPECT_EQ(step.events, button->events);
            EXPECT_EQ(step.captured, ::GetCapture() == button->m_hWnd);
            EXPECT_EQ(imageOf(step.state), painted());
        }
    }

    UiThreadScope ui;
    std::unique_ptr<CPlainTopWnd> parent;
    std::unique_ptr<CTestBtn> button;
};

} // namespace

TEST_F(DrawedBtnMessages, PressOutAndBackInThenReleaseClicksOnce)
{
    EXPECT_EQ(CDrawedBtn::FREE, button->GetState());
    EXPECT_EQ(static_cast<LONG_PTR>(WS_CHILD | WS_CLIPSIBLINGS | WS_VISIBLE), GetWindowLongPtrA(button->m_hWnd, GWL_STYLE));
    EXPECT_EQ(1022, button->GetDlgCtrlID());
    run({
        {DOWN, INSIDE, CDrawedBtn::PUSHED, {"2"}, true},
        {MOVE, OUTSIDE, CDrawedBtn::PUSHED_FREE, {"3"}, true},
        {MOVE, INSIDE, CDrawedBtn::PUSHED_ON_CURSOR, {"4"}, true},
        {MOVE, {41, 11}, CDrawedBtn::PUSHED_ON_CURSOR, {}, true},
        // The click comes in ON_CURSOR; letting the capture go then makes the button FREE.
        {UP, INSIDE, CDrawedBtn::FREE, {"1", "click 0 40,10 in 1", "0"}, false},
    });
}

TEST_F(DrawedBtnMessages, PressThenReleaseOutsideGivesNoClick)
{
    run({
        {DOWN, INSIDE, CDrawedBtn::PUSHED, {"2"}, true},
        {MOVE, OUTSIDE, CDrawedBtn::PUSHED_FREE, {"3"}, true},
        {UP, OUTSIDE, CDrawedBtn::FREE, {"0"}, false},
        // Pressed, moved off and released back on: no click either.
        {DOWN, INSIDE, CDrawedBtn::PUSHED, {"2"}, true},
        {MOVE, OUTSIDE, CDrawedBtn::PUSHED_FREE, {"3"}, true},
        {UP, INSIDE, CDrawedBtn::FREE, {"0"}, false},
        // Released straight off the button from PUSHED.
        {DOWN, INSIDE, CDrawedBtn::PUSHED, {"2"}, true},
        {UP, OUTSIDE, CDrawedBtn::FREE, {"0"}, false},
        // A press off the button takes the capture only.
        {DOWN, OUTSIDE, CDrawedBtn::FREE, {}, true},
        {UP, OUTSIDE, CDrawedBtn::FREE, {}, false},
    });
}

TEST_F(DrawedBtnMessages, HoveringTakesTheCaptureAndLeavingLetsItGo)
{
    run({
        {MOVE, OUTSIDE, CDrawedBtn::FREE, {}, false},
        {MOVE, INSIDE, CDrawedBtn::ON_CURSOR, {"1"}, true},
        {MOVE, {2, 2}, CDrawedBtn::ON_CURSOR, {}, true},
        {MOVE, {89, 10}, CDrawedBtn::FREE, {"0"}, false},   // the hit rectangle's right edge is outside
        {MOVE, {88, 19}, CDrawedBtn::ON_CURSOR, {"1"}, true},
        // A release over it while hovering changes nothing but the capture.
        {UP, INSIDE, CDrawedBtn::FREE, {"0"}, false},
        {MOVE, INSIDE, CDrawedBtn::ON_CURSOR, {"1"}, true},
        {UP, OUTSIDE, CDrawedBtn::FREE, {"0"}, false},
        // Pressed while hovering.
        {MOVE, INSIDE, CDrawedBtn::ON_CURSOR, {"1"}, true},
        {DOWN, INSIDE, CDrawedBtn::PUSHED, {"2"}, true},
        {UP, INSIDE, CDrawedBtn::FREE, {"1", "click 0 40,10 in 1", "0"}, false},
    });
}

TEST_F(DrawedBtnMessages, TheCaptureTakenByAnotherWindowFreesTheButton)
{
    run({
        {DOWN, INSIDE, CDrawedBtn::PUSHED, {"2"}, true},
        {CAPTURE_ELSEWHERE, {}, CDrawedBtn::FREE, {"0"}, false},
        {UP, INSIDE, CDrawedBtn::FREE, {}, false},
        {MOVE, INSIDE, CDrawedBtn::ON_CURSOR, {"1"}, true},
        {CAPTURE_ELSEWHERE, {}, CDrawedBtn::FREE, {"0"}, false},
    });
    // The capture changing to the button itself is no loss.
    button->SendMessage(WM_MOUSEMOVE, 0, pointParam(INSIDE));
    button->events.clear();
    button->SendMessage(WM_CAPTURECHANGED, 0, reinterpret_cast<LPARAM>(button->m_hWnd));
    EXPECT_EQ(CDrawedBtn::ON_CURSOR, button->GetState());
    EXPECT_TRUE(button->events.empty());
}

TEST(CDrawedBtn, AStateOutsideTheFiveEndsTheProcess)
{
    const struct {
        const char* name;
        UINT message;
        const char* handler;
    } cases[] = {
        {"button down", WM_LBUTTONDOWN, "OnLButtonDown"},
        {"move", WM_MOUSEMOVE, "OnMouseMove"},
        {"button up", WM_LBUTTONUP, "OnLButtonUp"},
        {"capture changed", WM_CAPTURECHANGED, "OnCaptureChanged"},
    };
    for (size_t i = 0; i < sizeof cases / sizeof cases[0]; ++i) {
        const auto& c = cases[i];
        if (isChild()) {
            const char* which = std::getenv("DRAWED_BTN_CASE");
            if (which == nullptr || std::atoi(which) != static_cast<int>(i))
                continue;
            childTracesToFile(false);
            UiThreadScope ui;
            CPlainTopWnd parent(PARENT, WS_POPUP);
            CTestBtn button(&parent);
            button.Create();
            button.force(5);
            button.SendMessage(c.message, 0, pointParam(INSIDE));
            exit(0);   // not stopped: the parent sees 0
        }
        SCOPED_TRACE(c.name);
        TempDir dir;
        SetEnvironmentVariableA("DRAWED_BTN_CASE", std::to_string(i).c_str());
        EXPECT_EQ(ABNORMAL_EXIT, runInChild(dir));
        SetEnvironmentVariableA("DRAWED_BTN_CASE", nullptr);
        EXPECT_TRUE(hasLineWith(dir.logLines(),
                                std::string("FATAL ERROR: [ CDrawedBtn ] ") + c.handler + ": undefined state 5"))
            << testing::PrintToString(dir.logLines());
    }
    if (isChild())
        exit(2);
}

TEST(DrawedBtnScreen, RealPointerHoverPressAndReleaseShowTheirImages)
{
    UiThreadScope ui;
    CPlainTopWnd parent(PARENT);
    ASSERT_NE(nullptr, parent.m_hWnd);
    SetWindowPos(parent.m_hWnd, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
    CTestBtn button(&parent);
    ASSERT_TRUE(button.Create());
    const int middleX = PARENT.left + BUTTON.left + 44, middleY = PARENT.top + BUTTON.top + 10;
    movePointer(PARENT.left + 130, PARENT.top + 50);
    pumpMessages(200);
    EXPECT_EQ(NORMAL, screenPixel(middleX, middleY));
    EXPECT_EQ(CDrawedBtn::FREE, button.GetState());

    movePointer(middleX, middleY);
    pumpMessages(150);
    EXPECT_EQ(CDrawedBtn::ON_CURSOR, button.GetState());
    EXPECT_EQ(CURSOR, screenPixel(middleX, middleY));
    ASSERT_TRUE(saveRootScreenshot("drawed_button_cursor"));

    mouseButton(MOUSEEVENTF_LEFTDOWN);
    pumpMessages(150);
    EXPECT_EQ(CDrawedBtn::PUSHED, button.GetState());
    EXPECT_EQ(PUSHED_IMAGE, screenPixel(middleX, middleY));
    ASSERT_TRUE(saveRootScreenshot("drawed_button_pushed"));

    movePointer(PARENT.left + 130, PARENT.top + 50);
    pumpMessages(150);
    EXPECT_EQ(CDrawedBtn::PUSHED_FREE, button.GetState());
    EXPECT_EQ(NORMAL, screenPixel(middleX, middleY));
    movePointer(middleX, middleY);
    pumpMessages(150);
    EXPECT_EQ(CDrawedBtn::PUSHED_ON_CURSOR, button.GetState());
    EXPECT_EQ(NORMAL, screenPixel(middleX, middleY));

    mouseButton(MOUSEEVENTF_LEFTUP);
    pumpMessages(150);
    ASSERT_EQ(1, std::count_if(button.events.begin(), button.events.end(),
                               [](const std::string& e) { return e.rfind("click", 0) == 0; }));
    // Letting the capture go frees the button; the system may then repeat the pointer's place
    // as a move, which takes it back to ON_CURSOR. Either way the screen shows the state's image.
    const int after = button.GetState();
    EXPECT_TRUE(after == CDrawedBtn::FREE || after == CDrawedBtn::ON_CURSOR) << after;
    EXPECT_EQ(after == CDrawedBtn::FREE ? NORMAL : CURSOR, screenPixel(middleX, middleY));
    EXPECT_EQ(after == CDrawedBtn::ON_CURSOR, ::GetCapture() == button.m_hWnd);
    ASSERT_TRUE(saveRootScreenshot("drawed_button_after_click"));

    movePointer(PARENT.left + 130, PARENT.top + 50);
    pumpMessages(150);
    EXPECT_EQ(CDrawedBtn::FREE, button.GetState());
    EXPECT_EQ(NORMAL, screenPixel(middleX, middleY));
    EXPECT_EQ(nullptr, ::GetCapture());
}
