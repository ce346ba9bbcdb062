#include "CPhoneCtrl.h"

#include "CDrawedSlider.h"
#include "CPowerBtn.h"
#include "CSliderCover.h"
#include "CTrace.h"
#include "CVoiceProcessor.h"

#include <CDC.h>
#include <CPaintDC.h>

#include <commctrl.h>
#include <mmsystem.h>

#include <string>

namespace {
const char SCOPE[] = "CPhoneCtrl";
const CRect POWER_BUTTON_RECT(0, 0, 89, 20);
const int COVER_X = 89, COVER_Y = 0;
const int SLIDER_X = 97, SLIDER_Y = 1;

void loadNamed(CBitmap& bitmap, const char* name)
{
    bitmap.DeleteObject();
    if (!bitmap.LoadBitmap(name))
        CTrace::scopedError(SCOPE, std::string(" no bitmap ") + name, -1);
}
} // namespace

const char* const CPhoneCtrl::PANEL_LIST[SKIN_COUNT] = {"IDB_PHONE_CTRL0", "IDB_PHONE_CTRL1", "IDB_PHONE_CTRL2"};
const char* const CPhoneCtrl::THUMB_LIST[SKIN_COUNT] = {"IDB_SLD_THUMB0", "IDB_SLD_THUMB1", "IDB_SLD_THUMB2"};
const char CPhoneCtrl::SLIDER_MASK[] = "IDB_SLD_MASK";
const char CPhoneCtrl::SLIDER_BACK[] = "IDB_SLD_BACK";
const char* const CPhoneCtrl::COVER_LIST[SKIN_COUNT] = {"IDB_COVER0", "IDB_COVER1", "IDB_COVER2"};
const char CPhoneCtrl::COVER_BACK[] = "IDB_COVER_BG";
const char* const CPhoneCtrl::POWER_ON_LIST[SKIN_COUNT] = {"IDB_PHONE_ON0", "IDB_PHONE_ON1", "IDB_PHONE_ON2"};
const char* const CPhoneCtrl::POWER_OFF_LIST[SKIN_COUNT] = {"IDB_PHONE_OFF0", "IDB_PHONE_OFF1", "IDB_PHONE_OFF2"};
const char* const CPhoneCtrl::POWER_ON_ROLL_LIST[SKIN_COUNT] = {"IDB_PHONE_ON_ROLL0", "IDB_PHONE_ON_ROLL1",
                                                                "IDB_PHONE_ON_ROLL2"};
const char* const CPhoneCtrl::POWER_OFF_ROLL_LIST[SKIN_COUNT] = {"IDB_PHONE_OFF_ROLL0", "IDB_PHONE_OFF_ROLL1",
                                                                 "IDB_PHONE_OFF_ROLL2"};
const char* const CPhoneCtrl::POWER_ON_PRESS_LIST[SKIN_COUNT] = {"IDB_PHONE_ON_PRESS0", "IDB_PHONE_ON_PRESS1",
                                                                 "IDB_PHONE_ON_PRESS2"};
const char* const CPhoneCtrl::POWER_OFF_PRESS_LIST[SKIN_COUNT] = {"IDB_PHONE_OFF_PRESS0", "IDB_PHONE_OFF_PRESS1",
                                                                  "IDB_PHONE_OFF_PRESS2"};

const CWnd::MessageEntry CPhoneCtrl::messageMap[] = {
    on<WM_CREATE, &CPhoneCtrl::OnCreate>(),
    on<WM_PAINT, &CPhoneCtrl::OnPaint>(),
    on<WM_ERASEBKGND, &CPhoneCtrl::OnEraseBkgnd>(),
    on<WM_HSCROLL, &CPhoneCtrl::OnHScroll>(),
    on<WM_TIMER, &CPhoneCtrl::OnTimer>(),
    on<WM_DESTROY, &CPhoneCtrl::OnDestroy>(),
    on<MM_MIXM_CONTROL_CHANGE, &CPhoneCtrl::OnMixerControlChange>(),
    endOfMap(CWnd::messageMap),
};

CPhoneCtrl::CPhoneCtrl(int x, int y, CWnd* parent, UINT id) : m_parent(parent), m_id(id)
{
    loadNamed(m_panel, PANEL_LIST[0]);
    BITMAP info{};
    if (m_panel.m_hObject != nullptr)
        m_panel.GetBitmap(&info);
    m_rect = CRect(x, y, x + info.bmWidth, y + info.bmHeight);
    m_slider.reset(new CDrawedSlider(SLIDER_X, SLIDER_Y, THUMB_LIST, SLIDER_MASK, SLIDER_BACK, SKIN_COUNT, this));
    m_cover.reset(new CSliderCover(COVER_X, COVER_Y, COVER_LIST, COVER_BACK, SKIN_COUNT, this, COVER_ID));
    m_powerBtn.reset(new CPowerBtn(POWER_BUTTON_RECT, POWER_ON_LIST, POWER_OFF_LIST, POWER_ON_ROLL_LIST,
                                   POWER_OFF_ROLL_LIST, POWER_ON_PRESS_LIST, POWER_OFF_PRESS_LIST, SKIN_COUNT, this,
                                   POWER_BUTTON_ID));
}

CPhoneCtrl::~CPhoneCtrl()
{
    m_slider.reset();
    m_cover.reset();
    m_powerBtn.reset();
    m_mixer.Close();
}

bool CPhoneCtrl::Create()
{
    if (!CreateEx(0, nullptr, "phone control", WS_CHILD | WS_CLIPSIBLINGS, m_rect, m_parent, m_id))
        CTrace::scopedFatalError(SCOPE, " Window creation failed.", -1);
    return true;
}

int CPhoneCtrl::OnCreate(CREATESTRUCTA*)
{
    SetWindowPos(&wndTop, m_rect.left, m_rect.top, m_rect.Width(), m_rect.Height(), SWP_SHOWWINDOW);
    if (!m_mixer.Init(MIXERLINE_COMPONENTTYPE_DST_SPEAKERS, CMixerBase::NO_SOURCE, MIXERCONTROL_CONTROLTYPE_VOLUME,
                      m_hWnd))
        CTrace::trace(SCOPE, " no speaker volume: the slider moves without effect");
    m_cover->Create();
    m_slider->CreateSlider();
    m_powerBtn->Create();
    return 0;
}

void CPhoneCtrl::SetSkin(int skin)
{
    CTrace::scopedAssertTrue(skin >= 0 && skin < SKIN_COUNT, SCOPE, " Illegal arg for SetSkin().", -1);
    loadNamed(m_panel, PANEL_LIST[skin]);
    m_cover->SetSkin(skin);
    m_powerBtn->SetSkin(skin);
    m_slider->SetSkin(skin);
    if (m_hWnd != nullptr)
        Invalidate(TRUE);
}

void CPhoneCtrl::EnablePowerBtn(bool enable)
{
    if (!m_powerBtn) {
        CTrace::scopedError(SCOPE, " EnablePowerBtn: no power button.", -1);
        return;
    }
    m_powerBtn->EnableWindow(enable ? TRUE : FALSE);
}

void CPhoneCtrl::SetVoiceProcessor(CVoiceProcessor* processor)
{
    m_voiceProcessor = processor;
}

int CPhoneCtrl::getCoverState() const
{
    return m_cover ? m_cover->GetState() : CSliderCover::CLOSED;
}

void CPhoneCtrl::PowerSwitch(bool on)
{
    CVoiceProcessor* processor = m_voiceProcessor.load();
    const int state = m_cover->GetState();
    if (on && state == CSliderCover::CLOSED) {
        if (processor != nullptr)
            processor->On();
        m_cover->Open();
        SetTimer(LED_TIMER, LED_TIMER_MS);
    } else if (state == CSliderCover::OPEN) {
        if (processor != nullptr)
            processor->Off();
        KillTimer(LED_TIMER);
        m_powerBtn->setLEDStatus(1);
        m_cover->Close();
    }
}

void CPhoneCtrl::notifyVoiceData(size_t)
{
    if (m_powerBtn)
        m_powerBtn->setLEDStatus(0);
    m_ledCountdown = LED_TICKS;
}

void CPhoneCtrl::setAnyoneListening(bool anyone)
{
    if (m_powerBtn)
        m_powerBtn->SetListen(anyone);
}

void CPhoneCtrl::OnTimer(UINT_PTR id)
{
    if (id != LED_TIMER)
        return;
    // The voice threads may set the countdown again meanwhile: only this step's own count
    // darkens the lamp.
    int left = m_ledCountdown.load();
    while (left > 0 && !m_ledCountdown.compare_exchange_weak(left, left - 1)) {
    }
    if (left == 1)
        m_powerBtn->setLEDStatus(1);
}

void CPhoneCtrl::OnPaint()
{
    CPaintDC dc(this);
    if (m_painted)
        return;
    m_painted = true;
    m_slider->SetRange(0, 65535);
    m_slider->setPosAndRedraw(static_cast<int>(m_mixer.GetVolume()));
    m_cover->SetWindowPos(&wndTop, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
}

LRESULT CPhoneCtrl::OnEraseBkgnd(WPARAM hdc, LPARAM)
{
    CDC dc;
    if (!dc.Attach(reinterpret_cast<HDC>(hdc)))
        return 0;
    CDC memory;
    if (memory.CreateCompatibleDC(&dc)) {
        memory.SelectObject(&m_panel);
        dc.BitBlt(0, 0, m_rect.Width(), m_rect.Height(), &memory, 0, 0, SRCCOPY);
    }
    dc.Detach();
    return 1;
}

LRESULT CPhoneCtrl::OnHScroll(WPARAM wParam, LPARAM)
{
    switch (LOWORD(wParam)) {
    case TB_PAGEUP:
    case TB_PAGEDOWN:
    case TB_THUMBTRACK:
        m_mixer.SetVolume(static_cast<DWORD>(m_slider->GetPos()));
        break;
    default:
        break;
    }
    return Default();
}

LRESULT CPhoneCtrl::OnMixerControlChange(WPARAM mixer, LPARAM control)
{
    if (m_mixer.isOpen() && reinterpret_cast<HMIXER>(mixer) == m_mixer.getMixerHandle()
        && static_cast<DWORD>(control) == m_mixer.getControlId())
        m_slider->setPosAndRedraw(static_cast<int>(m_mixer.GetVolume()));
    return 0;
}

void CPhoneCtrl::OnDestroy()
{
    KillTimer(LED_TIMER);
    Default();
}
