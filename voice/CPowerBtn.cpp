#include "CPowerBtn.h"

#include "CPhoneCtrl.h"
#include "CPhoneLED.h"
#include "CTrace.h"
#include "CWTSessionNotifier.h"

#include <string>

#ifndef WM_WTSSESSION_CHANGE
#define WM_WTSSESSION_CHANGE 0x02B1
#endif

namespace {
const char SCOPE[] = "CPowerBtn";

// The platform's terminal-session change codes.
const WPARAM CONSOLE_CONNECT = 1;
const WPARAM CONSOLE_DISCONNECT = 2;
const char* const TRACED_CHANGES[] = {"WTS_REMOTE_CONNECT", "WTS_REMOTE_DISCONNECT", "WTS_SESSION_LOGON",
                                      "WTS_SESSION_LOGOFF", "WTS_SESSION_LOCK",      "WTS_SESSION_UNLOCK"};
} // namespace

const CWnd::MessageEntry CPowerBtn::messageMap[] = {
    on<WM_CREATE, &CPowerBtn::OnCreate>(),
    on<WM_CLOSE, &CPowerBtn::OnClose>(),
    on<WM_WTSSESSION_CHANGE, &CPowerBtn::OnSessionChange>(),
    endOfMap(CDrawedBtn::messageMap),
};

CPowerBtn::CPowerBtn(const RECT& windowRect, const char* const* onList, const char* const* offList,
                     const char* const* onCursorList, const char* const* offCursorList,
                     const char* const* onPushedList, const char* const* offPushedList, int skinCount,
                     CPhoneCtrl* parent, UINT id)
    : CDrawedBtn(windowRect,
                 CRect(0, 0, windowRect.right - windowRect.left, windowRect.bottom - windowRect.top), parent, id),
      m_onList(onList), m_offList(offList), m_onCursorList(onCursorList), m_offCursorList(offCursorList),
      m_onPushedList(onPushedList), m_offPushedList(offPushedList), m_skinCount(skinCount), m_parent(parent)
{
    m_led.reset(new CPhoneLED(LED_X, LED_Y, CPhoneLED::LIT_LIST, CPhoneLED::DARK_LIST, CPhoneLED::SKIN_COUNT, this,
                              LED_ID));
    SetSkin(0);
}

CPowerBtn::~CPowerBtn()
{
    m_sessionNotifier.reset();
    m_led.reset();
}

void CPowerBtn::SetSkin(int skin)
{
    CTrace::scopedAssertTrue(skin >= 0 && skin < m_skinCount, SCOPE, " Illegal arg for SetSkin()", -1);
    m_normal.loadBitmap((m_off ? m_offList : m_onList)[skin]);
    m_cursor.loadBitmap((m_off ? m_offCursorList : m_onCursorList)[skin]);
    m_pushed.loadBitmap((m_off ? m_offPushedList : m_onPushedList)[skin]);
    if (m_led)
        m_led->SetSkin(skin);
    if (m_hWnd != nullptr)
        Invalidate(TRUE);
    m_skin = skin;
}

int CPowerBtn::OnCreate(CREATESTRUCTA* cs)
{
    if (CDrawedBtn::OnCreate(cs) == -1)
        return -1;
    SetWindowText("power button");
    if (m_led)
        m_led->Create();
    m_sessionNotifier.reset(new CWTSessionNotifier(m_hWnd));
    return 0;
}

LRESULT CPowerBtn::OnClose(WPARAM, LPARAM)
{
    m_sessionNotifier.reset();
    return Default();
}

void CPowerBtn::OnSimpleBtnClick(UINT, CPoint)
{
    // Every step waits for the button to be clickable: a click while the console is away must
    // leave the position, the window and the phone as they are.
    if (!m_clickable)
        return;
    m_off = !m_off;
    // The panel enables the button again once the cover has finished moving.
    EnableWindow(FALSE);
    SetSkin(m_skin);
    m_parent->PowerSwitch(!m_off);
}

void CPowerBtn::OnStateChange(int state)
{
    if (!m_led)
        return;
    if (state == PUSHED || state == PUSHED_ON_CURSOR)
        m_led->MoveToRightDown();
    else
        m_led->RestoreLocation();
}

void CPowerBtn::setLEDStatus(int status)
{
    if (!m_led) {
        CTrace::scopedError(SCOPE, " setLEDStatus: no LED.", -1);
        return;
    }
    m_led->setLEDStatus(status);
}

void CPowerBtn::SetListen(bool listen)
{
    if (m_led)
        m_led->SetListen(listen);
    if (m_listen.exchange(listen) == listen)
        return;
    const HWND window = m_hWnd;
    if (window != nullptr)
        ::InvalidateRect(window, nullptr, TRUE);
}

LRESULT CPowerBtn::OnSessionChange(WPARAM code, LPARAM)
{
    if (code == CONSOLE_CONNECT) {
        CTrace::trace(SCOPE, " WTS_CONSOLE_CONNECT");
        m_clickable = true;
    } else if (code == CONSOLE_DISCONNECT) {
        CTrace::trace(SCOPE, " WTS_CONSOLE_DISCONNECT");
        if (!m_off)
            OnSimpleBtnClick(0, CPoint(0, 0));
        m_clickable = false;
    } else if (code >= 3 && code <= 8) {
        CTrace::trace(SCOPE, std::string(" ") + TRACED_CHANGES[code - 3]);
    } else {
        CTrace::trace(SCOPE, " session change " + std::to_string(code));
    }
    return 0;
}
