#include "CPhoneLED.h"

#include "CTrace.h"

#include <CPaintDC.h>

#include <string>

namespace {
const char SCOPE[] = "CPhoneLED";
const char LISTEN_MARK[] = "IDB_PHONE_LED_LISTEN";

void loadNamed(CBitmap& bitmap, const char* name)
{
    bitmap.DeleteObject();
    if (name == nullptr || !bitmap.LoadBitmap(name))
        CTrace::scopedError(SCOPE, std::string(" no bitmap ") + (name ? name : "(none)"), -1);
}
} // namespace

const char* const CPhoneLED::LIT_LIST[SKIN_COUNT] = {"IDB_PHONE_LED_ON0", "IDB_PHONE_LED_ON1", "IDB_PHONE_LED_ON2"};
const char* const CPhoneLED::DARK_LIST[SKIN_COUNT] = {"IDB_PHONE_LED_OFF0", "IDB_PHONE_LED_OFF1",
                                                      "IDB_PHONE_LED_OFF2"};

const CWnd::MessageEntry CPhoneLED::messageMap[] = {
    on<WM_CREATE, &CPhoneLED::OnCreate>(),
    on<WM_PAINT, &CPhoneLED::OnPaint>(),
    endOfMap(CWnd::messageMap),
};

CPhoneLED::CPhoneLED(int x, int y, const char* const* litList, const char* const* darkList, int skinCount,
                     CWnd* parent, UINT id)
    : m_litList(litList), m_darkList(darkList), m_skinCount(skinCount), m_parent(parent), m_id(id)
{
    CTrace::scopedAssertTrue(litList != nullptr && darkList != nullptr && skinCount > 0, SCOPE,
                             " Illegal bitmap lists.", -1);
    load(0);
    BITMAP info{};
    if (m_lit.m_hObject != nullptr)
        m_lit.GetBitmap(&info);
    m_rect = CRect(x, y, x + info.bmWidth, y + info.bmHeight);
}

CPhoneLED::~CPhoneLED() = default;

void CPhoneLED::load(int skin)
{
    loadNamed(m_lit, m_litList[skin]);
    loadNamed(m_dark, m_darkList[skin]);
}

bool CPhoneLED::Create()
{
    if (!CreateEx(0, nullptr, "phone LED", WS_CHILD | WS_CLIPSIBLINGS, m_rect, m_parent, m_id))
        CTrace::scopedFatalError(SCOPE, " Create: window creation failed.", -1);
    return true;
}

int CPhoneLED::OnCreate(CREATESTRUCTA*)
{
    SetWindowPos(&wndTop, m_rect.left, m_rect.top, m_rect.Width(), m_rect.Height(), SWP_SHOWWINDOW);
    return 0;
}

void CPhoneLED::SetSkin(int skin)
{
    CTrace::scopedAssertTrue(skin >= 0 && skin < m_skinCount, SCOPE, " Illegal arg for SetSkin().", -1);
    load(skin);
    invalidate(false);
}

void CPhoneLED::invalidate(bool erase)
{
    const HWND window = m_hWnd;
    if (window != nullptr)
        ::InvalidateRect(window, nullptr, erase ? TRUE : FALSE);
}

void CPhoneLED::setLEDStatus(int status)
{
    m_status = status;
    invalidate(false);
}

void CPhoneLED::SetListen(bool listen)
{
    if (m_listen.exchange(listen) == listen)
        return;
    invalidate(true);
}

void CPhoneLED::MoveToRightDown()
{
    if (m_hWnd == nullptr)
        return;
    SetWindowPos(&wndTop, m_rect.left + 1, m_rect.top + 1, m_rect.Width(), m_rect.Height() - 1, SWP_NOACTIVATE);
    Invalidate(TRUE);
}

void CPhoneLED::RestoreLocation()
{
    if (m_hWnd == nullptr)
        return;
    SetWindowPos(nullptr, m_rect.left, m_rect.top, m_rect.Width(), m_rect.Height(), SWP_NOZORDER | SWP_NOACTIVATE);
    Invalidate(TRUE);
}

void CPhoneLED::OnPaint()
{
    CPaintDC dc(this);
    CDC memory;
    if (!memory.CreateCompatibleDC(&dc))
        return;
    const int width = m_rect.Width(), height = m_rect.Height();
    const bool lit = m_status == 0;
    if (lit || !m_listen) {
        memory.SelectObject(lit ? &m_lit : &m_dark);
        dc.BitBlt(0, 0, width, height, &memory, 0, 0, SRCCOPY);
        return;
    }
    CBitmap mark;
    loadNamed(mark, LISTEN_MARK);
    memory.SelectObject(&mark);
    dc.BitBlt(0, 0, width, height, &memory, 0, 0, SRCCOPY);
    memory.SelectObject(&m_dark);
    dc.BitBlt(0, 0, width, height, &memory, 0, 0, SRCPAINT);
}
