// The phone panel and its pieces: the cover's movement on a clock the test sets, the slider's
// drawing and its outside object, the power button's positions and session changes, the panel's
// volume wiring, switch and lamp; then the panel on the screen.
#include "CDrawedSlider.h"
#include "CHvxcOut.h"
#include "CPhoneCtrl.h"
#include "CPhoneLED.h"
#include "CPowerBtn.h"
#include "CPreferenceManager.h"
#include "CSliderCover.h"
#include "CTerminalGroup.h"
#include "CVoiceManager.h"
#include "CVoiceProcessor.h"
#include "FakeDirectSound.h"
#include "FakeMicrophone.h"
#include "FakeMixer.h"
#include "PanelGui.h"
#include "ScreenShot.h"
#include "SentInput.h"
#include "TestSupport.h"
#include "UiThreadScope.h"
#include "WidgetTestSupport.h"

#include <COleDispatchDriver.h>

#include <gtest/gtest.h>

#include <commctrl.h>

#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#ifndef WM_WTSSESSION_CHANGE
#define WM_WTSSESSION_CHANGE 0x02B1
#endif

namespace {

const CRect HIDDEN_PARENT(300, 500, 560, 540);
const CRect SHOWN_PARENT(400, 600, 660, 640);
const int PANEL_X = 10, PANEL_Y = 10;

DWORD g_now = 0;
DWORD fakeNow()
{
    return g_now;
}

std::wstring wide(const char* name)
{
    return std::wstring(name, name + std::char_traits<char>::length(name));
}

// The panel, counting the cover's calls to enable the power button.
class CCountingPanel : public CPhoneCtrl {
public:
    CCountingPanel(CWnd* parent) : CPhoneCtrl(PANEL_X, PANEL_Y, parent, 1300) {}
    void EnablePowerBtn(bool enable) override
    {
        enable ? ++enables : ++disables;
        CPhoneCtrl::EnablePowerBtn(enable);
    }
    int enables = 0;
    int disables = 0;
};

// A cover of a bitmap of the test's width.
class CFixtureCover : public CSliderCover {
public:
    CFixtureCover(CPhoneCtrl* parent, int width)
        : CSliderCover(89, 0, CPhoneCtrl::COVER_LIST, CPhoneCtrl::COVER_BACK, 3, parent, 1031)
    {
        setCoverBitmap(CDrawObject::createFilledBitmap(0x3080C0, width, 19));
    }
};

// The voice element with its switch counted instead of done.
class CCountingProcessor : public CVoiceProcessor {
public:
    CCountingProcessor(IGuiHandle* gui, CTerminalGroup* group) : CVoiceProcessor(gui, group, "phone.log") {}
    void On() override { ++ons; }
    void Off() override { ++offs; }
    int ons = 0;
    int offs = 0;
};

// A panel in a test window, with a stereo speaker volume of 40000 at a balance of one half.
class PanelFixture {
public:
    explicit PanelFixture(bool shown)
    {
        CSliderCover::setTickSource(fakeNow);
        g_now = 100000;
        mixer.destinations = {{MIXERLINE_COMPONENTTYPE_DST_SPEAKERS, 2, 1, {}}};
        mixer.values = {40000, 20000};
        parent.reset(new CPlainTopWnd(shown ? SHOWN_PARENT : HIDDEN_PARENT, shown ? WS_POPUP | WS_VISIBLE : WS_POPUP));
        if (shown)
            SetWindowPos(parent->m_hWnd, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
        panel.reset(new CCountingPanel(parent.get()));
        panel->Create();
    }
    ~PanelFixture()
    {
        panel.reset();
        CSliderCover::setTickSource(nullptr);
    }
    // Ticks of the cover with the clock moved on by ms each.
    void tickCover(CSliderCover* cover, DWORD ms)
    {
        g_now += ms;
        cover->SendMessage(WM_TIMER, CSliderCover::TIMER_ID);
    }
    // Runs the cover's movement to its end on the test's clock.
    void finishMovement(CSliderCover* cover)
    {
        for (int i = 0; i < 30 && (cover->GetState() == CSliderCover::OPENING || cover->GetState() == CSliderCover::CLOSING); ++i)
            tickCover(cover, 100);
    }
    void click(CWnd* button)
    {
        button->SendMessage(WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(40, 10));
        button->SendMessage(WM_LBUTTONUP, 0, MAKELPARAM(40, 10));
    }

    UiThreadScope ui;
    FakeMixer mixer;
    std::unique_ptr<CPlainTopWnd> parent;
    std::unique_ptr<CCountingPanel> panel;
};

// The panel with a counting voice element attached.
class PanelWithElement : public PanelFixture {
public:
    explicit PanelWithElement(bool shown = false)
        : PanelFixture(shown), gui(panel.get()),
          group("D1D9B0A0-B266-11d4-8727-0000F460D121", false, "SELF", 5000, "HOST", "10.0.0.1", nullptr, nullptr)
    {
        CVoiceManager::setPlaybackFactory(fakePlayback);
        processor.reset(new CCountingProcessor(&gui, &group));
    }
    ~PanelWithElement()
    {
        processor.reset();
        CVoiceManager::setPlaybackFactory(nullptr);
    }

    FakeDirectSound sound;
    FakeMicrophone microphone;
    PanelGui gui;
    CTerminalGroup group;
    std::unique_ptr<CCountingProcessor> processor;
};

std::vector<Rgb> erasedBy(CWnd* window, int width, int height)
{
    Canvas canvas(width, height, 0xFFFFFF);
    window->SendMessage(WM_ERASEBKGND, reinterpret_cast<WPARAM>(canvas.dc()->GetSafeHdc()));
    std::vector<Rgb> pixels;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            pixels.push_back(canvas.at(x, y));
    return pixels;
}

std::vector<Rgb> pixelsOf(HMODULE module, const char* name)
{
    const BitmapPixels bitmap(module, wide(name).c_str());
    EXPECT_TRUE(bitmap.valid()) << name;
    std::vector<Rgb> pixels;
    for (int y = 0; y < bitmap.height(); ++y)
        for (int x = 0; x < bitmap.width(); ++x)
            pixels.push_back(bitmap.at(x, y));
    return pixels;
}

// Lets this thread's windows run until the condition holds; false after the time.
bool pumpUntilTrue(const std::function<bool()>& condition, DWORD ms)
{
    for (DWORD start = GetTickCount(); GetTickCount() - start < ms;) {
        if (condition())
            return true;
        pumpMessages(10);
    }
    return condition();
}

CRect placeIn(HWND child, HWND parent)
{
    CRect rect;
    GetWindowRect(child, &rect);
    MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

} // namespace

// --- the cover ---

TEST(SliderCover, A132PixelCoverPasses130At993MsAndTheNextTickOpensItAndEnablesTheButtonOnce)
{
    PanelFixture f(false);
    CFixtureCover cover(f.panel.get(), 132);
    ASSERT_TRUE(cover.Create());
    EXPECT_EQ("slider cover", textOf(cover.m_hWnd));
    cover.Open();
    ASSERT_EQ(CSliderCover::OPENING, cover.GetState());
    f.tickCover(&cover, 992);
    EXPECT_EQ(130u, cover.getOffset());
    f.tickCover(&cover, 1);
    EXPECT_EQ(131u, cover.getOffset());
    EXPECT_EQ(CSliderCover::OPENING, cover.GetState());
    EXPECT_EQ(0, f.panel->enables);
    f.tickCover(&cover, 1);
    EXPECT_EQ(131u, cover.getOffset());
    EXPECT_EQ(CSliderCover::OPEN, cover.GetState());
    EXPECT_EQ(0, GetWindowLongPtrA(cover.m_hWnd, GWL_STYLE) & WS_VISIBLE);
    EXPECT_EQ(1, f.panel->enables);
    // No timer is left: a stray tick changes nothing.
    f.tickCover(&cover, 5);
    EXPECT_EQ(1, f.panel->enables);
    EXPECT_FALSE(KillTimer(cover.m_hWnd, CSliderCover::TIMER_ID));
}

TEST(SliderCover, TheResourceCoverOpensAfter971MsAndClosingEndsAtZeroEvenWhenTheTickComesLate)
{
    PanelFixture f(false);
    CSliderCover* cover = f.panel->getCover();
    EXPECT_EQ(135, cover->getRect().Width());
    cover->Open();
    f.tickCover(cover, 970);
    EXPECT_EQ(130u, cover->getOffset());
    f.tickCover(cover, 1);
    EXPECT_EQ(131u, cover->getOffset());
    EXPECT_TRUE(KillTimer(cover->m_hWnd, CSliderCover::TIMER_ID)) << "re-armed";
    f.tickCover(cover, 1);
    ASSERT_EQ(CSliderCover::OPEN, cover->GetState());

    // Open while open and close while opening do nothing.
    cover->Open();
    EXPECT_EQ(CSliderCover::OPEN, cover->GetState());
    cover->Close();
    ASSERT_EQ(CSliderCover::CLOSING, cover->GetState());
    EXPECT_NE(0, GetWindowLongPtrA(cover->m_hWnd, GWL_STYLE) & WS_VISIBLE) << "shown again";
    cover->Close();
    cover->Open();
    EXPECT_EQ(CSliderCover::CLOSING, cover->GetState());
    f.tickCover(cover, 500);
    EXPECT_EQ(135u - 67u, cover->getOffset());
    const int enables = f.panel->enables;
    f.tickCover(cover, 510);   // 1010 ms after the start: past the whole movement
    EXPECT_EQ(0u, cover->getOffset());
    EXPECT_EQ(CSliderCover::CLOSED, cover->GetState());
    EXPECT_EQ(enables + 1, f.panel->enables);
    f.tickCover(cover, 5);
    EXPECT_EQ(enables + 1, f.panel->enables);

    // Close while closed does nothing; opening from closed starts again at 0.
    cover->Close();
    EXPECT_EQ(CSliderCover::CLOSED, cover->GetState());
    cover->Open();
    cover->SendMessage(WM_TIMER, CSliderCover::TIMER_ID);
    EXPECT_EQ(0u, cover->getOffset());
}

// --- the slider ---

namespace {

// Pixels of the slider's picture that differ from its background with the skin's thumb combined
// through the mask, centred on the trackbar's thumb.
int sliderMismatches(HMODULE module, CDrawedSlider* slider, const char* thumbName, Canvas* canvas = nullptr)
{
    const BitmapPixels back(module, L"IDB_SLD_BACK"), mask(module, L"IDB_SLD_MASK"),
        thumb(module, wide(thumbName).c_str());
    EXPECT_TRUE(back.valid() && mask.valid() && thumb.valid());
    Canvas own(back.width(), back.height(), 0x123456);
    Canvas& picture = canvas != nullptr ? *canvas : own;
    slider->DrawSlider(picture.dc(), CRect(0, 0, back.width(), back.height()));
    CRect rect;
    slider->GetThumbRect(&rect);
    const int x0 = (rect.left + rect.right - thumb.width()) / 2;
    const int y0 = (back.height() - thumb.height()) / 2 + 1;
    int wrong = 0;
    for (int y = 0; y < back.height(); ++y)
        for (int x = 0; x < back.width(); ++x) {
            Rgb expected = back.at(x, y);
            const int tx = x - x0, ty = y - y0;
            if (tx >= 0 && ty >= 0 && tx < thumb.width() && ty < thumb.height()) {
                const Rgb m = mask.at(tx, ty), t = thumb.at(tx, ty);
                expected = Rgb{BYTE((expected.r & m.r) ^ t.r), BYTE((expected.g & m.g) ^ t.g),
                               BYTE((expected.b & m.b) ^ t.b)};
            }
            wrong += picture.at(x, y) != expected;
        }
    return wrong;
}

} // namespace

TEST(DrawedSlider, TheMaskedThumbIsCentredOnTheTrackbarsThumbAndANarrowTargetShowsTheLeftPart)
{
    PanelFixture f(false);
    CDrawedSlider* slider = f.panel->getSlider();
    HMODULE module = f.ui.resources();
    const CRect rect = slider->getRect();
    EXPECT_EQ(CRect(97, 1, 97 + rect.Width(), 1 + rect.Height()), placeIn(slider->m_hWnd, f.panel->m_hWnd));
    EXPECT_EQ(static_cast<int>(CDrawedSlider::CONTROL_ID), GetDlgCtrlID(slider->m_hWnd));
    f.panel->SendMessage(WM_PAINT);   // the range
    for (int position : {0, 20000, 65535}) {
        SCOPED_TRACE(position);
        slider->setPosAndRedraw(position);
        Canvas canvas(rect.Width(), rect.Height(), 0x123456);
        EXPECT_EQ(0, sliderMismatches(module, slider, "IDB_SLD_THUMB0", &canvas));
        // Narrower and elsewhere: the left part only, the rest of the picture untouched.
        Canvas narrow(rect.Width() + 10, rect.Height() + 4, 0x123456);
        slider->DrawSlider(narrow.dc(), CRect(5, 2, 25, 2 + rect.Height()));
        EXPECT_EQ(canvas.at(0, 3), narrow.at(5, 5));
        EXPECT_EQ(canvas.at(19, 3), narrow.at(24, 5));
        EXPECT_EQ(rgbOf(0x123456), narrow.at(25, 5));
        EXPECT_EQ(rgbOf(0x123456), narrow.at(4, 5));
    }
}

namespace {

// The outside object: notes the calls it gets.
class RecordingAutomation : public IDispatch {
public:
    LONG references = 1;
    std::vector<std::string> calls;
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override
    {
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDispatch)) {
            *object = static_cast<IDispatch*>(this);
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return InterlockedIncrement(&references); }
    ULONG STDMETHODCALLTYPE Release() override { return InterlockedDecrement(&references); }
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override { return *count = 0, S_OK; }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT*, EXCEPINFO*,
                                     UINT*) override
    {
        std::string call = "id " + std::to_string(id);
        // The arguments come last first.
        for (UINT i = params->cArgs; i-- > 0;) {
            const VARIANT& arg = params->rgvarg[i];
            call += arg.vt == VT_I4 ? " I4 " + std::to_string(arg.lVal) : " vt " + std::to_string(arg.vt);
        }
        calls.push_back(call);
        return S_OK;
    }
};

RecordingAutomation* g_automation = nullptr;
std::vector<std::string> g_asked;

IDispatch* automationSource(LPCSTR progId)
{
    g_asked.push_back(progId);
    if (g_automation == nullptr)
        return nullptr;
    g_automation->AddRef();
    return g_automation;
}

} // namespace

TEST(DrawedSlider, TheOutsideObjectIsMadeOnlyWhenTheApplicationUsesThemAndTheSliderShowsEitherWay)
{
    COleDispatchDriver::SetObjectSource(automationSource);
    const struct {
        const char* name;
        bool flag;
        bool object;
        std::vector<std::string> asked;
        bool called;
    } cases[] = {
        {"flag off", false, true, {}, false},
        {"flag on, an object", true, true, {"KeldarOrvalis.KeepOriginalUI"}, true},
        {"flag on, no object", true, false, {"KeldarOrvalis.KeepOriginalUI"}, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        RecordingAutomation automation;
        g_automation = c.object ? &automation : nullptr;
        g_asked.clear();
        CPreferenceManager::setHostRegistrationStarted(c.flag);
        {
            PanelFixture f(false);
            CDrawedSlider* slider = f.panel->getSlider();
            ASSERT_NE(nullptr, slider->m_hWnd);
            EXPECT_NE(0, GetWindowLongPtrA(slider->m_hWnd, GWL_STYLE) & WS_VISIBLE);
            EXPECT_EQ(c.asked, g_asked);
            EXPECT_EQ(c.called, slider->hasAutomationObject());
            const std::vector<std::string> expected =
                c.called ? std::vector<std::string>{"id 1 I4 " +
                                                    std::to_string(static_cast<long>(
                                                        reinterpret_cast<LONG_PTR>(slider->m_hWnd))) +
                                                    " I4 0"}
                         : std::vector<std::string>{};
            EXPECT_EQ(expected, automation.calls);
        }
        EXPECT_EQ(1, automation.references) << "released with the slider";
    }
    CPreferenceManager::setHostRegistrationStarted(false);
    COleDispatchDriver::SetObjectSource(nullptr);
    g_automation = nullptr;
}

// --- the power button ---

TEST(PowerBtn, AClickSwitchesToTheOnImagesDisablesTheButtonAndSwitchesThePanel)
{
    PanelWithElement f;
    CPowerBtn* button = f.panel->getPowerBtn();
    HMODULE module = f.ui.resources();
    EXPECT_EQ("power button", textOf(button->m_hWnd));
    EXPECT_EQ(1022, GetDlgCtrlID(button->m_hWnd));
    EXPECT_EQ(CRect(0, 0, 89, 20), placeIn(button->m_hWnd, f.panel->m_hWnd));
    EXPECT_TRUE(button->isOff());
    EXPECT_EQ(pixelsOf(module, "IDB_PHONE_OFF0"), erasedBy(button, 89, 20));
    f.click(button);
    EXPECT_FALSE(button->isOff());
    EXPECT_FALSE(button->IsWindowEnabled());
    EXPECT_EQ(pixelsOf(module, "IDB_PHONE_ON0"), erasedBy(button, 89, 20));
    EXPECT_EQ(1, f.processor->ons);
    EXPECT_EQ(CSliderCover::OPENING, f.panel->getCoverState());
    // A second click before the cover has finished: the window is disabled, so none arrives; the
    // cover's end enables it again.
    f.finishMovement(f.panel->getCover());
    EXPECT_TRUE(button->IsWindowEnabled());
    f.click(button);
    EXPECT_TRUE(button->isOff());
    EXPECT_EQ(1, f.processor->offs);
    EXPECT_EQ(CSliderCover::CLOSING, f.panel->getCoverState());
}

TEST(PowerBtn, TheLampMovesRightAndDownWhilePushed)
{
    PanelFixture f(false);
    CPowerBtn* button = f.panel->getPowerBtn();
    HWND led = button->getLED()->m_hWnd;
    EXPECT_EQ(1019, GetDlgCtrlID(led));
    const CRect rest = placeIn(led, button->m_hWnd);
    EXPECT_EQ(CPoint(7, 9), rest.TopLeft());
    button->SendMessage(WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(40, 10));
    EXPECT_EQ(CPoint(8, 10), placeIn(led, button->m_hWnd).TopLeft());
    button->SendMessage(WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(200, 10));
    EXPECT_EQ(rest, placeIn(led, button->m_hWnd));
    button->SendMessage(WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(40, 10));
    EXPECT_EQ(CPoint(8, 10), placeIn(led, button->m_hWnd).TopLeft());
    button->SendMessage(WM_LBUTTONUP, 0, MAKELPARAM(40, 10));
    EXPECT_EQ(rest, placeIn(led, button->m_hWnd));
}

TEST(PowerBtn, AConsoleDisconnectTurnsThePhoneOffAndNoClickCountsUntilTheConsoleIsBack)
{
    PanelWithElement f;
    CPowerBtn* button = f.panel->getPowerBtn();
    CSliderCover* cover = f.panel->getCover();
    HMODULE module = f.ui.resources();
    f.click(button);
    f.finishMovement(cover);
    ASSERT_EQ(CSliderCover::OPEN, cover->GetState());
    ASSERT_FALSE(button->isOff());

    button->PostMessage(WM_WTSSESSION_CHANGE, 2, 0);
    pumpMessages(50);
    EXPECT_TRUE(button->isOff());
    EXPECT_FALSE(button->isClickable());
    EXPECT_EQ(1, f.processor->offs);
    EXPECT_EQ(CSliderCover::CLOSING, cover->GetState());
    f.finishMovement(cover);
    ASSERT_TRUE(button->IsWindowEnabled());

    // Not clickable: the position, the window, the images and the phone stay as they are.
    f.click(button);
    EXPECT_TRUE(button->isOff());
    EXPECT_TRUE(button->IsWindowEnabled());
    EXPECT_EQ(pixelsOf(module, "IDB_PHONE_OFF0"), erasedBy(button, 89, 20));
    EXPECT_EQ(1, f.processor->ons);
    EXPECT_EQ(CSliderCover::CLOSED, cover->GetState());

    button->PostMessage(WM_WTSSESSION_CHANGE, 1, 0);
    pumpMessages(50);
    EXPECT_TRUE(button->isClickable());

    // A disconnect while off only makes it unclickable; the other codes change nothing.
    for (WPARAM code : {3, 4, 5, 6, 7, 8, 9})
        button->SendMessage(WM_WTSSESSION_CHANGE, code, 0);
    EXPECT_TRUE(button->isClickable());
    button->SendMessage(WM_WTSSESSION_CHANGE, 2, 0);
    EXPECT_FALSE(button->isClickable());
    EXPECT_TRUE(button->isOff());
    EXPECT_TRUE(button->IsWindowEnabled());
    EXPECT_EQ(1, f.processor->offs);
    EXPECT_EQ(1, f.processor->ons);
    button->SendMessage(WM_WTSSESSION_CHANGE, 1, 0);
    f.click(button);
    EXPECT_EQ(2, f.processor->ons);
}

// --- the panel ---

TEST(PhoneCtrl, TheFirstPaintSetsTheRangeThePositionAndPutsTheCoverOnTop)
{
    PanelFixture f(false);
    CDrawedSlider* slider = f.panel->getSlider();
    EXPECT_EQ(0, slider->GetPos());
    f.panel->SendMessage(WM_PAINT);
    EXPECT_EQ(0, slider->GetRangeMin());
    EXPECT_EQ(65535, slider->GetRangeMax());
    EXPECT_EQ(40000, slider->GetPos());
    EXPECT_EQ(f.panel->getCover()->m_hWnd, GetWindow(f.panel->m_hWnd, GW_CHILD));
    // Only the first paint does it.
    slider->SetPos(100);
    f.panel->SendMessage(WM_PAINT);
    EXPECT_EQ(100, slider->GetPos());
}

TEST(PhoneCtrl, PageAndThumbTrackScrollsSetTheVolumeAndOtherCodesDoNot)
{
    PanelFixture f(false);
    CDrawedSlider* slider = f.panel->getSlider();
    f.panel->SendMessage(WM_PAINT);
    for (UINT code = 0; code <= 8; ++code) {
        SCOPED_TRACE(code);
        f.mixer.values = {40000, 20000};
        f.panel->getMixer().GetVolume();
        f.mixer.calls.clear();
        slider->SetPos(30000);
        f.panel->SendMessage(WM_HSCROLL, MAKEWPARAM(code, 30000), reinterpret_cast<LPARAM>(slider->m_hWnd));
        const bool sets = code == TB_PAGEUP || code == TB_PAGEDOWN || code == TB_THUMBTRACK;
        EXPECT_EQ(sets ? std::vector<std::string>{"set 30000 15000"} : std::vector<std::string>{}, f.mixer.calls);
    }
}

TEST(PhoneCtrl, AMixerChangeOfItsOwnControlMovesTheSlider)
{
    PanelFixture f(false);
    CDrawedSlider* slider = f.panel->getSlider();
    f.panel->SendMessage(WM_PAINT);
    f.mixer.values = {10000, 12000};
    const WPARAM handle = reinterpret_cast<WPARAM>(f.panel->getMixer().getMixerHandle());
    f.panel->PostMessage(MM_MIXM_CONTROL_CHANGE, handle + 1, FakeMixer::CONTROL_ID);
    f.panel->PostMessage(MM_MIXM_CONTROL_CHANGE, handle, FakeMixer::CONTROL_ID + 1);
    pumpMessages(50);
    EXPECT_EQ(40000, slider->GetPos());
    f.panel->PostMessage(MM_MIXM_CONTROL_CHANGE, handle, FakeMixer::CONTROL_ID);
    pumpMessages(50);
    EXPECT_EQ(12000, slider->GetPos());
}

TEST(PhoneCtrl, PowerSwitchMovesTheCoverAndSwitchesTheElementOnlyFromARestingCover)
{
    PanelWithElement f;
    CSliderCover* cover = f.panel->getCover();
    CPowerBtn* button = f.panel->getPowerBtn();
    f.panel->PowerSwitch(false);   // off while closed
    EXPECT_EQ(0, f.processor->offs);
    EXPECT_EQ(CSliderCover::CLOSED, cover->GetState());
    f.panel->PowerSwitch(true);
    EXPECT_EQ(1, f.processor->ons);
    EXPECT_EQ(CSliderCover::OPENING, cover->GetState());
    f.panel->PowerSwitch(true);    // moving
    f.panel->PowerSwitch(false);
    EXPECT_EQ(1, f.processor->ons);
    EXPECT_EQ(0, f.processor->offs);
    f.finishMovement(cover);
    f.panel->notifyVoiceData(356);
    EXPECT_EQ(0, button->getLED()->getLEDStatus());
    f.panel->PowerSwitch(false);
    EXPECT_EQ(1, f.processor->offs);
    EXPECT_EQ(1, button->getLED()->getLEDStatus());
    EXPECT_EQ(CSliderCover::CLOSING, cover->GetState());
    EXPECT_FALSE(KillTimer(f.panel->m_hWnd, CPhoneCtrl::LED_TIMER)) << "the lamp's timer stopped";
    f.panel->PowerSwitch(false);
    EXPECT_EQ(1, f.processor->offs);
    f.finishMovement(cover);
    f.panel->PowerSwitch(true);
    EXPECT_TRUE(KillTimer(f.panel->m_hWnd, CPhoneCtrl::LED_TIMER)) << "the lamp's timer runs while on";

    // Without an element only the cover moves.
    f.processor.reset();
    EXPECT_EQ(nullptr, f.panel->getVoiceProcessor());
    f.finishMovement(cover);
    f.panel->PowerSwitch(false);
    EXPECT_EQ(CSliderCover::CLOSING, cover->GetState());
    f.finishMovement(cover);
    f.panel->PowerSwitch(true);
    EXPECT_EQ(CSliderCover::OPENING, cover->GetState());
}

TEST(PhoneCtrl, TheLampStaysLitTenTicksAfterTheLastPacket)
{
    PanelFixture f(false);
    CPhoneLED* led = f.panel->getPowerBtn()->getLED();
    f.panel->PowerSwitch(true);
    KillTimer(f.panel->m_hWnd, CPhoneCtrl::LED_TIMER);   // the test ticks
    f.panel->notifyVoiceData(356);
    for (int tick = 1; tick <= 9; ++tick) {
        f.panel->SendMessage(WM_TIMER, CPhoneCtrl::LED_TIMER);
        EXPECT_EQ(0, led->getLEDStatus()) << tick;
    }
    f.panel->SendMessage(WM_TIMER, CPhoneCtrl::LED_TIMER);
    EXPECT_EQ(1, led->getLEDStatus());
    // A packet every 50 ms: two a tick keep it lit for good.
    for (int tick = 0; tick < 40; ++tick) {
        f.panel->notifyVoiceData(356);
        f.panel->SendMessage(WM_TIMER, CPhoneCtrl::LED_TIMER);
        f.panel->notifyVoiceData(356);
        EXPECT_EQ(0, led->getLEDStatus()) << tick;
    }
    for (int tick = 0; tick < 10; ++tick)
        f.panel->SendMessage(WM_TIMER, CPhoneCtrl::LED_TIMER);
    EXPECT_EQ(1, led->getLEDStatus());
    EXPECT_EQ(0, f.panel->getLEDCountdown());
}

TEST(PhoneCtrl, EachSkinReskinsThePanelItsButtonAndTheSlider)
{
    PanelFixture f(false);
    HMODULE module = f.ui.resources();
    for (int skin : {1, 2, 0}) {
        SCOPED_TRACE(skin);
        f.panel->SetSkin(skin);
        EXPECT_EQ(pixelsOf(module, CPhoneCtrl::PANEL_LIST[skin]), erasedBy(f.panel.get(), 228, 20));
        EXPECT_EQ(pixelsOf(module, CPhoneCtrl::POWER_OFF_LIST[skin]), erasedBy(f.panel->getPowerBtn(), 89, 20));
        EXPECT_EQ(skin, f.panel->getPowerBtn()->getSkin());
        EXPECT_EQ(0, sliderMismatches(module, f.panel->getSlider(), CPhoneCtrl::THUMB_LIST[skin]));
    }
}

// --- fatal paths ---

TEST(PhoneCtrlFatal, ABadSkinAndEachBadCoverArgumentEndTheProcessWithTheirLine)
{
    const struct {
        const char* line;
    } cases[] = {
        {"ASSERT: [ CPhoneCtrl ] Illegal arg for SetSkin()."},
        {"ASSERT: [ CSliderCover ] Illegal arg for SetSkin()."},
        {"ASSERT: [ CDrawedSlider ] Illegal arg for SetSkin()."},
        {"ASSERT: [ CPowerBtn ] Illegal arg for SetSkin()"},
        {"ASSERT: [ CSliderCover ] Illegal CoverBmpList"},
        {"ASSERT: [ CSliderCover ] Illegal CoverBmpList"},
        {"ASSERT: [ CSliderCover ] Illegal BaseBmpName"},
        {"ASSERT: [ CSliderCover ] rpParent is NULL."},
        {"ASSERT: [ CSliderCover ] Illegal ctrlID."},
    };
    const int count = static_cast<int>(sizeof cases / sizeof cases[0]);
    if (isChild()) {
        const char* which = std::getenv("PHONE_FATAL_CASE");
        const int i = which ? std::atoi(which) : -1;
        childTracesToFile(false);
        PanelFixture f(false);
        const char* const emptyList[] = {""};
        switch (i) {
        case 0: f.panel->SetSkin(3); break;
        case 1: f.panel->getCover()->SetSkin(3); break;
        case 2: f.panel->getSlider()->SetSkin(3); break;
        case 3: f.panel->getPowerBtn()->SetSkin(3); break;
        case 4: CSliderCover(89, 0, nullptr, "IDB_COVER_BG", 3, f.panel.get(), 1021); break;
        case 5: CSliderCover(89, 0, emptyList, "IDB_COVER_BG", 3, f.panel.get(), 1021); break;
        case 6: CSliderCover(89, 0, CPhoneCtrl::COVER_LIST, "", 3, f.panel.get(), 1021); break;
        case 7: CSliderCover(89, 0, CPhoneCtrl::COVER_LIST, "IDB_COVER_BG", 3, nullptr, 1021); break;
        case 8: CSliderCover(89, 0, CPhoneCtrl::COVER_LIST, "IDB_COVER_BG", 3, f.panel.get(), 0); break;
        }
        exit(0);
    }
    for (int i = 0; i < count; ++i) {
        SCOPED_TRACE(i);
        TempDir dir;
        SetEnvironmentVariableA("PHONE_FATAL_CASE", std::to_string(i).c_str());
        EXPECT_EQ(ABNORMAL_EXIT, runInChild(dir));
        SetEnvironmentVariableA("PHONE_FATAL_CASE", nullptr);
        const std::vector<std::string> lines = dir.logLines();
        bool exact = false;
        for (const std::string& line : lines)
            exact = exact || (line.size() >= std::strlen(cases[i].line) &&
                              line.compare(line.size() - std::strlen(cases[i].line), std::string::npos, cases[i].line) == 0);
        EXPECT_TRUE(exact) << testing::PrintToString(lines);
    }
}

// --- on the screen ---

TEST(PhoneCtrlScreen, ThePanelShowsItsPiecesAtTheirPlacesAndTheOpeningCoverRevealsTheSlider)
{
    PanelFixture f(true);
    pumpMessages(300);
    HWND panel = f.panel->m_hWnd;
    EXPECT_EQ("phone control", textOf(panel));
    EXPECT_EQ(1300, GetDlgCtrlID(panel));
    EXPECT_EQ(CRect(PANEL_X, PANEL_Y, PANEL_X + 228, PANEL_Y + 20), placeIn(panel, f.parent->m_hWnd));
    EXPECT_EQ(static_cast<LONG_PTR>(WS_CHILD | WS_CLIPSIBLINGS | WS_VISIBLE), GetWindowLongPtrA(panel, GWL_STYLE));
    CSliderCover* cover = f.panel->getCover();
    EXPECT_EQ(1021, GetDlgCtrlID(cover->m_hWnd));
    EXPECT_EQ(CRect(89, 0, 89 + 135, cover->getRect().Height()), placeIn(cover->m_hWnd, panel));
    EXPECT_EQ(cover->m_hWnd, GetWindow(panel, GW_CHILD));
    EXPECT_EQ(40000, f.panel->getSlider()->GetPos());
    ASSERT_TRUE(saveRootScreenshot("phone_panel_closed"));

    // The closed panel: the power button's off image, then the cover.
    CRect screen;
    GetWindowRect(panel, &screen);
    HMODULE module = f.ui.resources();
    const BitmapPixels off(module, L"IDB_PHONE_OFF0"), coverImage(module, L"IDB_COVER0");
    EXPECT_EQ(rgbOf(screenPixel(screen.left + 2, screen.top + 2)), off.at(2, 2));
    EXPECT_EQ(rgbOf(screenPixel(screen.left + 89 + 70, screen.top + 10)), coverImage.at(70, 10));

    // While the cover is closed the slider does not paint: with the cover's window out of the
    // way the panel's own picture shows where the slider is.
    CDrawedSlider* slider = f.panel->getSlider();
    const CRect sliderRect = slider->getRect();
    cover->ShowWindow(SW_HIDE);
    pumpMessages(200);
    const BitmapPixels panelImage(module, L"IDB_PHONE_CTRL0");
    int unlike = 0;
    for (int y = 0; y < sliderRect.Height(); ++y)
        for (int x = 0; x < sliderRect.Width(); ++x)
            unlike += rgbOf(screenPixel(screen.left + sliderRect.left + x, screen.top + sliderRect.top + y)) !=
                      panelImage.at(sliderRect.left + x, sliderRect.top + y);
    EXPECT_EQ(0, unlike);
    ASSERT_TRUE(saveRootScreenshot("phone_panel_closed_cover_away"));
    cover->ShowWindow(SW_SHOW);
    pumpMessages(100);

    // At offset 60 the strip from column 8 to 59 shows the slider's left part at its place, and
    // the cover starts at column 60.
    cover->Open();
    f.tickCover(cover, 445);
    ASSERT_EQ(60u, cover->getOffset());
    KillTimer(cover->m_hWnd, CSliderCover::TIMER_ID);
    pumpMessages(100);
    ASSERT_TRUE(saveRootScreenshot("phone_panel_cover_at_60"));
    Canvas expected(sliderRect.Width(), sliderRect.Height(), 0);
    slider->DrawSlider(expected.dc(), CRect(0, 0, sliderRect.Width(), sliderRect.Height()));
    const int coverLeft = screen.left + 89, coverTop = screen.top;
    int wrong = 0;
    for (int y = 1; y < 19 && y - 1 < sliderRect.Height(); ++y)
        for (int x = 8; x < 60; ++x)
            wrong += rgbOf(screenPixel(coverLeft + x, coverTop + y)) != expected.at(x - 8, y - 1);
    EXPECT_EQ(0, wrong);
    for (int x : {60, 61, 100, 134})
        EXPECT_EQ(coverImage.at(x - 60, 10), rgbOf(screenPixel(coverLeft + x, coverTop + 10))) << x;

    // Opened: the cover hidden, the slider draws itself.
    cover->SendMessage(WM_TIMER, CSliderCover::TIMER_ID);
    f.finishMovement(cover);
    pumpMessages(200);
    ASSERT_EQ(CSliderCover::OPEN, cover->GetState());
    ASSERT_TRUE(saveRootScreenshot("phone_panel_open"));
    wrong = 0;
    for (int y = 0; y < sliderRect.Height(); ++y)
        for (int x = 0; x < sliderRect.Width(); ++x)
            wrong += rgbOf(screenPixel(screen.left + sliderRect.left + x, screen.top + sliderRect.top + y)) !=
                     expected.at(x, y);
    EXPECT_EQ(0, wrong);
}

TEST(PhoneCtrlScreen, DraggingTheThumbSetsTheVolumeDuringTheDrag)
{
    PanelFixture f(true);
    pumpMessages(200);
    CSliderCover* cover = f.panel->getCover();
    cover->Open();
    f.finishMovement(cover);
    pumpMessages(200);
    CDrawedSlider* slider = f.panel->getSlider();
    slider->setPosAndRedraw(0);
    CRect thumb;
    slider->GetThumbRect(&thumb);
    POINT start = {(thumb.left + thumb.right) / 2, (thumb.top + thumb.bottom) / 2};
    slider->ClientToScreen(&start);
    movePointer(start.x, start.y);
    pumpMessages(100);
    f.mixer.calls.clear();
    mouseButton(MOUSEEVENTF_LEFTDOWN);
    pumpMessages(100);
    for (int step = 1; step <= 4; ++step) {
        movePointer(start.x + step * 10, start.y);
        pumpMessages(100);
    }
    const std::vector<std::string> duringDrag = f.mixer.calls;
    const int position = slider->GetPos();
    ASSERT_TRUE(saveRootScreenshot("phone_panel_dragging"));
    mouseButton(MOUSEEVENTF_LEFTUP);
    pumpMessages(100);
    EXPECT_GT(position, 0);
    ASSERT_FALSE(duringDrag.empty());
    EXPECT_EQ("set", duringDrag.back().substr(0, 3));
    EXPECT_EQ(static_cast<DWORD>(position), f.mixer.values[0]);
    EXPECT_EQ(static_cast<DWORD>(position) / 2, f.mixer.values[1]) << "the balance kept";
}

TEST(PhoneCtrlScreen, ARealClickOpensTheCoverInAboutASecondAndASecondClickBringsItBack)
{
    PanelFixture f(true);
    CSliderCover::setTickSource(nullptr);   // the system's clock and timers from here on
    pumpMessages(300);
    CPowerBtn* button = f.panel->getPowerBtn();
    CSliderCover* cover = f.panel->getCover();
    HMODULE module = f.ui.resources();
    CRect place;
    button->GetWindowRect(&place);
    const BitmapPixels on(module, L"IDB_PHONE_ON0"), off(module, L"IDB_PHONE_OFF0");
    auto clickButton = [&] {
        movePointer(place.left + 40, place.top + 5);
        pumpMessages(150);
        mouseButton(MOUSEEVENTF_LEFTDOWN);
        pumpMessages(100);
        mouseButton(MOUSEEVENTF_LEFTUP);
        const DWORD clicked = GetTickCount();
        pumpMessages(20);
        movePointer(place.left + 40, place.bottom + 60);
        return clicked;
    };
    const DWORD opened = clickButton();
    EXPECT_FALSE(button->isOff());
    EXPECT_FALSE(button->IsWindowEnabled());
    ASSERT_TRUE(pumpUntilTrue([&] { return cover->GetState() == CSliderCover::OPEN; }, 5000));
    EXPECT_GE(GetTickCount() - opened, 971u) << "the movement follows the clock";
    EXPECT_TRUE(button->IsWindowEnabled());
    EXPECT_FALSE(cover->IsWindowVisible());
    pumpMessages(200);
    ASSERT_TRUE(saveRootScreenshot("phone_panel_clicked_on"));
    EXPECT_EQ(on.at(60, 3), rgbOf(screenPixel(place.left + 60, place.top + 3)));

    const DWORD closed = clickButton();
    EXPECT_TRUE(button->isOff());
    ASSERT_TRUE(pumpUntilTrue([&] { return cover->GetState() == CSliderCover::CLOSED; }, 5000));
    EXPECT_GE(GetTickCount() - closed, 990u);
    EXPECT_TRUE(button->IsWindowEnabled());
    EXPECT_TRUE(cover->IsWindowVisible());
    pumpMessages(200);
    ASSERT_TRUE(saveRootScreenshot("phone_panel_clicked_off"));
    EXPECT_EQ(off.at(60, 3), rgbOf(screenPixel(place.left + 60, place.top + 3)));
}
