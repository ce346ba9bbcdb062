// The phone's lamp on the screen: its bitmaps by status, skin and listen mark, its pressed
// place, and the repaints it asks for.
#include "CPhoneLED.h"
#include "ScreenShot.h"
#include "TestSupport.h"
#include "UiThreadScope.h"
#include "WidgetTestSupport.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <thread>

namespace {

const CRect PARENT(640, 300, 700, 340);
const int X = 7, Y = 9;

// Counts its paints.
class CCountingLED : public CPhoneLED {
public:
    explicit CCountingLED(CWnd* parent)
        : CPhoneLED(X, Y, CPhoneLED::LIT_LIST, CPhoneLED::DARK_LIST, CPhoneLED::SKIN_COUNT, parent, 1019)
    {
    }
    int paints = 0;

protected:
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override
    {
        if (message == WM_PAINT)
            ++paints;
        return CPhoneLED::WindowProc(message, wParam, lParam);
    }
};

std::wstring wide(const char* name)
{
    return std::wstring(name, name + std::char_traits<char>::length(name));
}

// What the lamp should show: a bitmap, or the dark one ORed over the listen mark.
std::vector<Rgb> expected(HMODULE resources, const char* name, bool listenMark)
{
    const BitmapPixels bitmap(resources, wide(name).c_str());
    EXPECT_TRUE(bitmap.valid()) << name;
    std::vector<Rgb> pixels;
    const BitmapPixels mark(resources, L"IDB_PHONE_LED_LISTEN");
    for (int y = 0; y < bitmap.height(); ++y)
        for (int x = 0; x < bitmap.width(); ++x) {
            Rgb pixel = bitmap.at(x, y);
            if (listenMark) {
                const Rgb under = mark.at(x, y);
                pixel = Rgb{BYTE(pixel.r | under.r), BYTE(pixel.g | under.g), BYTE(pixel.b | under.b)};
            }
            pixels.push_back(pixel);
        }
    return pixels;
}

class PhoneLEDScreen : public ::testing::Test {
protected:
    void SetUp() override
    {
        parent.reset(new CPlainTopWnd(PARENT));
        ASSERT_NE(nullptr, parent->m_hWnd);
        SetWindowPos(parent->m_hWnd, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
        led.reset(new CCountingLED(parent.get()));
        ASSERT_TRUE(led->Create());
        pumpMessages(200);
    }
    void TearDown() override { led.reset(); }

    // The lamp's place in the parent.
    CRect place() const
    {
        CRect rect;
        led->GetWindowRect(&rect);
        parent->ScreenToClient(&rect);
        return rect;
    }
    std::vector<Rgb> shown() const
    {
        CRect onScreen(X, Y, X + 6, Y + 10);
        onScreen.OffsetRect(PARENT.left, PARENT.top);
        return screenPixels(onScreen);
    }
    std::vector<Rgb> picture(const char* name, bool listenMark = false) const
    {
        return expected(ui.resources(), name, listenMark);
    }

    UiThreadScope ui;
    std::unique_ptr<CPlainTopWnd> parent;
    std::unique_ptr<CCountingLED> led;
};

} // namespace

TEST_F(PhoneLEDScreen, ANewLampIsDarkAndLightsForStatusZero)
{
    EXPECT_EQ("phone LED", textOf(led->m_hWnd));
    EXPECT_EQ(static_cast<LONG_PTR>(WS_CHILD | WS_CLIPSIBLINGS | WS_VISIBLE), GetWindowLongPtrA(led->m_hWnd, GWL_STYLE));
    EXPECT_EQ(1019, led->GetDlgCtrlID());
    EXPECT_EQ(CRect(X, Y, X + 6, Y + 10), place());
    EXPECT_EQ(1, led->getLEDStatus());
    EXPECT_FALSE(led->isListening());
    EXPECT_EQ(picture("IDB_PHONE_LED_OFF0"), shown());
    ASSERT_TRUE(saveRootScreenshot("phone_led_dark"));

    led->setLEDStatus(0);
    pumpMessages(100);
    EXPECT_EQ(picture("IDB_PHONE_LED_ON0"), shown());
    ASSERT_TRUE(saveRootScreenshot("phone_led_lit"));
    // Any status but 0 is dark.
    led->setLEDStatus(5);
    pumpMessages(100);
    EXPECT_EQ(picture("IDB_PHONE_LED_OFF0"), shown());
}

TEST_F(PhoneLEDScreen, TheListenMarkShowsUnderTheDarkLampOnlyAndOnlyAChangeRepaints)
{
    led->SetListen(true);
    pumpMessages(100);
    EXPECT_TRUE(led->isListening());
    EXPECT_EQ(picture("IDB_PHONE_LED_OFF0", true), shown());
    EXPECT_NE(picture("IDB_PHONE_LED_OFF0"), shown()) << "the mark adds nothing to the dark lamp";
    ASSERT_TRUE(saveRootScreenshot("phone_led_dark_listening"));

    led->setLEDStatus(0);
    pumpMessages(100);
    EXPECT_EQ(picture("IDB_PHONE_LED_ON0"), shown());

    // The same value again asks for no paint; a change does.
    const int paints = led->paints;
    led->SetListen(true);
    pumpMessages(100);
    EXPECT_EQ(paints, led->paints);
    led->SetListen(false);
    pumpMessages(100);
    EXPECT_EQ(paints + 1, led->paints);
    led->setLEDStatus(1);
    pumpMessages(100);
    EXPECT_EQ(picture("IDB_PHONE_LED_OFF0"), shown());
}

TEST_F(PhoneLEDScreen, TheVoiceThreadsValuesAreShownByTheWindowsOwnThread)
{
    std::thread voice([this] {
        led->setLEDStatus(0);
        led->SetListen(true);
    });
    voice.join();
    pumpMessages(100);
    EXPECT_EQ(picture("IDB_PHONE_LED_ON0"), shown());
    std::thread([this] { led->setLEDStatus(1); }).join();
    pumpMessages(100);
    EXPECT_EQ(picture("IDB_PHONE_LED_OFF0", true), shown());
}

TEST_F(PhoneLEDScreen, PressedItMovesRightAndDownOnePixelShorterAndComesBackExactly)
{
    const CRect first = place();
    led->MoveToRightDown();
    pumpMessages(100);
    EXPECT_EQ(CRect(X + 1, Y + 1, X + 7, Y + 10), place());
    ASSERT_TRUE(saveRootScreenshot("phone_led_pressed"));
    led->RestoreLocation();
    pumpMessages(100);
    EXPECT_EQ(first, place());
    EXPECT_EQ(picture("IDB_PHONE_LED_OFF0"), shown());
}

TEST_F(PhoneLEDScreen, EachSkinSwitchesBothBitmaps)
{
    for (int skin : {1, 2, 0}) {
        SCOPED_TRACE(skin);
        led->SetSkin(skin);
        led->setLEDStatus(1);
        pumpMessages(100);
        EXPECT_EQ(picture(CPhoneLED::DARK_LIST[skin]), shown());
        led->setLEDStatus(0);
        pumpMessages(100);
        EXPECT_EQ(picture(CPhoneLED::LIT_LIST[skin]), shown());
        ASSERT_TRUE(saveRootScreenshot("phone_led_lit_skin" + std::to_string(skin)));
    }
}

TEST(CPhoneLED, TheListsNameTheLampBitmapsOfEachSkin)
{
    EXPECT_STREQ("IDB_PHONE_LED_ON0", CPhoneLED::LIT_LIST[0]);
    EXPECT_STREQ("IDB_PHONE_LED_ON1", CPhoneLED::LIT_LIST[1]);
    EXPECT_STREQ("IDB_PHONE_LED_ON2", CPhoneLED::LIT_LIST[2]);
    EXPECT_STREQ("IDB_PHONE_LED_OFF0", CPhoneLED::DARK_LIST[0]);
    EXPECT_STREQ("IDB_PHONE_LED_OFF1", CPhoneLED::DARK_LIST[1]);
    EXPECT_STREQ("IDB_PHONE_LED_OFF2", CPhoneLED::DARK_LIST[2]);
}

TEST(CPhoneLED, WithoutAWindowTheValuesAreOnlyStored)
{
    UiThreadScope ui;
    CPhoneLED led(X, Y, CPhoneLED::LIT_LIST, CPhoneLED::DARK_LIST, CPhoneLED::SKIN_COUNT, nullptr, 1019);
    EXPECT_EQ(CRect(X, Y, X + 6, Y + 10), led.getRect());
    led.setLEDStatus(0);
    led.SetListen(true);
    led.SetSkin(2);
    led.MoveToRightDown();
    led.RestoreLocation();
    EXPECT_EQ(0, led.getLEDStatus());
    EXPECT_TRUE(led.isListening());
    EXPECT_EQ(nullptr, led.m_hWnd);
}

TEST(CPhoneLED, ASkinOutsideTheThreeFailsAnAssertion)
{
    if (isChild()) {
        childTracesToFile(false);
        UiThreadScope ui;
        CPhoneLED led(X, Y, CPhoneLED::LIT_LIST, CPhoneLED::DARK_LIST, CPhoneLED::SKIN_COUNT, nullptr, 1019);
        led.SetSkin(3);
        exit(0);   // not stopped: the parent sees 0
    }
    TempDir dir;
    EXPECT_EQ(ABNORMAL_EXIT, runInChild(dir));
    EXPECT_TRUE(hasLineWith(dir.logLines(), "ASSERT: [ CPhoneLED ] Illegal arg for SetSkin()."))
        << testing::PrintToString(dir.logLines());
}
