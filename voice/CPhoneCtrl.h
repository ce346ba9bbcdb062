#pragma once
// The skinned phone panel of the main dialog: a bitmap background with the power button (and
// its lamp), the speaker-volume slider and the cover that hides the slider while the phone is
// off. The power button switches the voice element and moves the cover; the slider sets the
// speaker volume through the mixer and follows changes made elsewhere; voice traffic lights the
// lamp for one second.
//
// A window of the UI thread. SetVoiceProcessor, notifyVoiceData and setAnyoneListening come from
// the voice element's threads: they only store values and invalidate windows.
#include "CMixerVolume.h"

#include <CBitmap.h>
#include <CRect.h>
#include <CWnd.h>

#include <atomic>
#include <memory>

class CDrawedSlider;
class CPowerBtn;
class CSliderCover;
class CVoiceProcessor;

class CPhoneCtrl : public CWnd {
public:
    static const int SKIN_COUNT = 3;
    static const char* const PANEL_LIST[SKIN_COUNT];
    static const char* const THUMB_LIST[SKIN_COUNT];
    static const char SLIDER_MASK[];
    static const char SLIDER_BACK[];
    static const char* const COVER_LIST[SKIN_COUNT];
    static const char COVER_BACK[];
    static const char* const POWER_ON_LIST[SKIN_COUNT];
    static const char* const POWER_OFF_LIST[SKIN_COUNT];
    static const char* const POWER_ON_ROLL_LIST[SKIN_COUNT];
    static const char* const POWER_OFF_ROLL_LIST[SKIN_COUNT];
    static const char* const POWER_ON_PRESS_LIST[SKIN_COUNT];
    static const char* const POWER_OFF_PRESS_LIST[SKIN_COUNT];

    static const UINT POWER_BUTTON_ID = 1022;
    static const UINT COVER_ID = 1021;
    // The lamp's timer: ticks while the phone is on; the lamp goes dark LED_TICKS ticks after
    // the last voice packet.
    static const UINT_PTR LED_TIMER = 1;
    static const UINT LED_TIMER_MS = 100;
    static const int LED_TICKS = 10;

    // At (x, y) in the parent; no windows yet.
    CPhoneCtrl(int x, int y, CWnd* parent, UINT id);
    ~CPhoneCtrl() override;

    // The child window "phone control"; a window that cannot be made ends the process.
    bool Create();
    void SetSkin(int skin);
    // The cover calls it when a movement has ended.
    virtual void EnablePowerBtn(bool enable);
    // Attached by the voice element when it is made, detached (null) when it goes.
    void SetVoiceProcessor(CVoiceProcessor* processor);
    // The power button's switch: on while closed opens the cover, off while open closes it.
    void PowerSwitch(bool on);
    // A voice packet was sent or received: the lamp is lit for LED_TICKS ticks.
    void notifyVoiceData(size_t size);
    // Whether another member is in the phone: the lamp's listen mark.
    void setAnyoneListening(bool anyone);

    int getCoverState() const;
    CDrawedSlider* getSlider() const { return m_slider.get(); }
    CSliderCover* getCover() const { return m_cover.get(); }
    CPowerBtn* getPowerBtn() const { return m_powerBtn.get(); }
    CMixerVolume& getMixer() { return m_mixer; }
    CVoiceProcessor* getVoiceProcessor() const { return m_voiceProcessor.load(); }
    int getLEDCountdown() const { return m_ledCountdown.load(); }
    const CRect& getRect() const { return m_rect; }

protected:
    static const MessageEntry messageMap[];
    const MessageEntry* GetMessageMap() const override { return messageMap; }
    int OnCreate(CREATESTRUCTA* cs);
    void OnPaint();
    LRESULT OnEraseBkgnd(WPARAM dc, LPARAM);
    LRESULT OnHScroll(WPARAM wParam, LPARAM);
    void OnTimer(UINT_PTR id);
    void OnDestroy();
    LRESULT OnMixerControlChange(WPARAM mixer, LPARAM control);

private:
    CBitmap m_panel;
    CRect m_rect;
    CWnd* m_parent;
    UINT m_id;
    std::unique_ptr<CDrawedSlider> m_slider;
    std::unique_ptr<CSliderCover> m_cover;
    std::unique_ptr<CPowerBtn> m_powerBtn;
    CMixerVolume m_mixer;
    std::atomic<CVoiceProcessor*> m_voiceProcessor{nullptr};
    std::atomic<int> m_ledCountdown{0};
    bool m_painted = false;
};
