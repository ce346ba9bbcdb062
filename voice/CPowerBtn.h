#pragma once
// The phone panel's power switch: a drawn button with two positions (phone off, phone on) and
// the lamp inside it. A click switches the phone through the panel and disables the button until
// the panel's cover has finished moving. When the console session is switched away the phone is
// turned off and the button stays unclickable until the console comes back.
//
// UI thread only, but setLEDStatus and SetListen, which the voice threads reach through the
// panel: they only store a value and invalidate windows.
#include "CDrawedBtn.h"

#include <atomic>
#include <memory>

class CPhoneCtrl;
class CPhoneLED;
class CWTSessionNotifier;

class CPowerBtn : public CDrawedBtn {
public:
    static const UINT LED_ID = 1019;
    static const int LED_X = 7;
    static const int LED_Y = 9;

    // The six lists of bitmap names by skin (skinCount each): normal, cursor and pushed images
    // of either position. parent: the panel, whose PowerSwitch a click calls.
    CPowerBtn(const RECT& windowRect, const char* const* onList, const char* const* offList,
              const char* const* onCursorList, const char* const* offCursorList, const char* const* onPushedList,
              const char* const* offPushedList, int skinCount, CPhoneCtrl* parent, UINT id);
    ~CPowerBtn() override;

    void SetSkin(int skin) override;
    void OnSimpleBtnClick(UINT flags, CPoint point) override;
    void OnStateChange(int state) override;

    // 0 lights the lamp, any other value darkens it.
    void setLEDStatus(int status);
    // Whether others are in the phone: the lamp's listen mark.
    void SetListen(bool listen);

    bool isOff() const { return m_off; }
    bool isClickable() const { return m_clickable; }
    int getSkin() const { return m_skin; }
    CPhoneLED* getLED() const { return m_led.get(); }

protected:
    static const MessageEntry messageMap[];
    const MessageEntry* GetMessageMap() const override { return messageMap; }
    int OnCreate(CREATESTRUCTA* cs);
    LRESULT OnClose(WPARAM, LPARAM);
    LRESULT OnSessionChange(WPARAM code, LPARAM);

private:
    const char* const* m_onList;
    const char* const* m_offList;
    const char* const* m_onCursorList;
    const char* const* m_offCursorList;
    const char* const* m_onPushedList;
    const char* const* m_offPushedList;
    int m_skinCount;
    CPhoneCtrl* m_parent;
    bool m_off = true;
    int m_skin = 0;
    std::atomic<bool> m_listen{false};
    bool m_clickable = true;
    std::unique_ptr<CPhoneLED> m_led;
    std::unique_ptr<CWTSessionNotifier> m_sessionNotifier;
};
