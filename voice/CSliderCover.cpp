#include "CSliderCover.h"

#include "CDrawedSlider.h"
#include "CPhoneCtrl.h"
#include "CTrace.h"

#include <CPaintDC.h>

#include <atomic>
#include <string>

namespace {
const char SCOPE[] = "CSliderCover";
std::atomic<CSliderCover::TickSource> g_tickSource{nullptr};
// Left of this column the cover hides the slider's edge: the revealed strip starts here.
const int SLIDER_COLUMN = 8;
const unsigned SLIDER_SHOWN_FROM = 9;
} // namespace

const CWnd::MessageEntry CSliderCover::messageMap[] = {
    on<WM_CREATE, &CSliderCover::OnCreate>(),
    on<WM_PAINT, &CSliderCover::OnPaint>(),
    on<WM_TIMER, &CSliderCover::OnTimer>(),
    on<WM_DESTROY, &CSliderCover::OnDestroy>(),
    endOfMap(CWnd::messageMap),
};

CSliderCover::CSliderCover(int x, int y, const char* const* coverList, const char* backgroundName, int skinCount,
                           CPhoneCtrl* parent, UINT id)
    : m_coverList(coverList), m_skinCount(skinCount), m_parent(parent), m_id(id)
{
    CTrace::scopedAssertTrue(coverList != nullptr && coverList[0] != nullptr && coverList[0][0] != '\0', SCOPE,
                             " Illegal CoverBmpList", -1);
    CTrace::scopedAssertTrue(backgroundName != nullptr && backgroundName[0] != '\0', SCOPE, " Illegal BaseBmpName",
                             -1);
    CTrace::scopedAssertTrue(parent != nullptr, SCOPE, " rpParent is NULL.", -1);
    CTrace::scopedAssertTrue(static_cast<int>(id) > 0, SCOPE, " Illegal ctrlID.", -1);
    CBitmap cover;
    if (!cover.LoadBitmap(coverList[0]))
        CTrace::scopedError(SCOPE, std::string(" no bitmap ") + coverList[0], -1);
    setCoverBitmap(static_cast<HBITMAP>(cover.Detach()));
    if (!m_background.LoadBitmap(backgroundName))
        CTrace::scopedError(SCOPE, std::string(" no bitmap ") + backgroundName, -1);
    m_rect = CRect(x, y, x + m_width, y + m_height);
}

CSliderCover::~CSliderCover() = default;

void CSliderCover::setTickSource(TickSource source)
{
    g_tickSource = source;
}

DWORD CSliderCover::now()
{
    const TickSource source = g_tickSource.load();
    return source != nullptr ? source() : ::GetTickCount();
}

void CSliderCover::setCoverBitmap(HBITMAP bitmap)
{
    m_cover.DeleteObject();
    m_cover.Attach(bitmap);
    BITMAP info{};
    if (m_cover.m_hObject != nullptr)
        m_cover.GetBitmap(&info);
    m_width = info.bmWidth;
    m_height = info.bmHeight;
}

bool CSliderCover::Create()
{
    if (!CreateEx(0, nullptr, "slider cover", WS_CHILD | WS_CLIPSIBLINGS, m_rect, m_parent, m_id))
        CTrace::scopedFatalError(SCOPE, " Window creation failed.", -1);
    return true;
}

int CSliderCover::OnCreate(CREATESTRUCTA*)
{
    SetWindowPos(&wndTop, m_rect.left, m_rect.top, m_rect.Width(), m_rect.Height(), SWP_SHOWWINDOW);
    Invalidate(TRUE);
    UpdateWindow();
    return 0;
}

void CSliderCover::SetSkin(int skin)
{
    CTrace::scopedAssertTrue(skin >= 0 && skin < m_skinCount, SCOPE, " Illegal arg for SetSkin().", -1);
    CBitmap cover;
    if (!cover.LoadBitmap(m_coverList[skin]))
        CTrace::scopedError(SCOPE, std::string(" no bitmap ") + m_coverList[skin], -1);
    setCoverBitmap(static_cast<HBITMAP>(cover.Detach()));
    if (m_hWnd != nullptr)
        Invalidate(FALSE);
}

void CSliderCover::Open()
{
    if (m_state != CLOSED)
        return;
    m_state = OPENING;
    m_start = now();
    SetTimer(TIMER_ID, TICK_MS);
}

void CSliderCover::Close()
{
    if (m_state != OPEN)
        return;
    SetWindowPos(nullptr, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE | SWP_SHOWWINDOW);
    m_state = CLOSING;
    m_start = now();
    SetTimer(TIMER_ID, TICK_MS);
}

void CSliderCover::invalidateFrom(unsigned previous)
{
    CRect client;
    GetClientRect(&client);
    const CRect strip(static_cast<int>(previous) - 1, 0, client.right, client.bottom);
    InvalidateRect(&strip, TRUE);
    UpdateWindow();
}

void CSliderCover::endMovement(int state, unsigned offset)
{
    m_offset = offset;
    m_state = state;
    if (state == OPEN)
        ShowWindow(SW_HIDE);
    m_parent->EnablePowerBtn(true);
    if (state == CLOSED) {
        Invalidate(FALSE);
        UpdateWindow();
    }
}

void CSliderCover::OnTimer(UINT_PTR id)
{
    if (id != TIMER_ID)
        return;
    KillTimer(TIMER_ID);
    const DWORD elapsed = now() - m_start;
    const unsigned width = static_cast<unsigned>(m_width);
    const unsigned previous = m_offset;
    if (m_state == OPENING) {
        if (m_offset > OPEN_OFFSET) {
            endMovement(OPEN, OPEN_OFFSET + 1);
            return;
        }
        m_offset = static_cast<unsigned>(static_cast<unsigned long long>(elapsed) * width / MOVE_MS);
    } else if (m_state == CLOSING) {
        if (m_offset < 1) {
            endMovement(CLOSED, 0);
            return;
        }
        // Clamped at 0: a tick late by more than the whole movement ends it instead of wrapping
        // round to a huge offset that never ends.
        const unsigned long long gone = static_cast<unsigned long long>(elapsed) * width / MOVE_MS;
        if (gone >= width) {
            endMovement(CLOSED, 0);
            return;
        }
        m_offset = width - static_cast<unsigned>(gone);
    } else {
        return;
    }
    invalidateFrom(previous);
    SetTimer(TIMER_ID, TICK_MS);
}

void CSliderCover::OnDestroy()
{
    KillTimer(TIMER_ID);
    Default();
}

void CSliderCover::OnPaint()
{
    CPaintDC dc(this);
    CDC memory;
    if (!memory.CreateCompatibleDC(&dc))
        return;
    const int offset = static_cast<int>(m_offset);
    memory.SelectObject(&m_background);
    dc.BitBlt(0, 1, offset, m_height, &memory, 0, 0, SRCCOPY);
    if (m_offset > SLIDER_SHOWN_FROM) {
        CDrawedSlider* slider = m_parent->getSlider();
        if (slider != nullptr && slider->m_hWnd != nullptr) {
            const CRect target(SLIDER_COLUMN, 1, offset, m_height);
            slider->DrawSlider(&dc, target);
        }
    }
    memory.SelectObject(&m_cover);
    dc.BitBlt(offset, 0, m_width, m_height, &memory, 0, 0, SRCCOPY);
}
