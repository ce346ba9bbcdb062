#include "CDrawedSlider.h"

#include "CPhoneCtrl.h"
#include "CPreferenceManager.h"
#include "CSliderCover.h"
#include "CTrace.h"

#include <CDC.h>
#include <CPaintDC.h>

#include <string>

namespace {
const char SCOPE[] = "CDrawedSlider";
// The outside object's method that takes the slider's window.
const DISPID TAKE_WINDOW = 1;

CSize sizeOf(const CBitmap& bitmap)
{
    BITMAP info{};
    if (bitmap.m_hObject != nullptr)
        bitmap.GetBitmap(&info);
    return CSize(info.bmWidth, info.bmHeight);
}

void loadNamed(CBitmap& bitmap, const char* name)
{
    bitmap.DeleteObject();
    if (name == nullptr || !bitmap.LoadBitmap(name))
        CTrace::scopedError(SCOPE, std::string(" no bitmap ") + (name ? name : "(none)"), -1);
}
} // namespace

const char CDrawedSlider::AUTOMATION_PROGID[] = "KeldarOrvalis.KeepOriginalUI";

const CWnd::MessageEntry CDrawedSlider::messageMap[] = {
    on<WM_CREATE, &CDrawedSlider::OnCreate>(),
    on<WM_PAINT, &CDrawedSlider::OnPaint>(),
    on<WM_ERASEBKGND, &CDrawedSlider::OnEraseBkgnd>(),
    onHScrollReflect<&CDrawedSlider::OnHScroll>(),
    endOfMap(CSliderCtrl::messageMap),
};

CDrawedSlider::CDrawedSlider(int x, int y, const char* const* thumbList, const char* maskName,
                             const char* backgroundName, int skinCount, CPhoneCtrl* parent)
    : m_thumbList(thumbList), m_skinCount(skinCount), m_parent(parent)
{
    CTrace::scopedAssertTrue(thumbList != nullptr && skinCount > 0, SCOPE, " Illegal thumb list.", -1);
    loadThumb(0);
    loadNamed(m_mask, maskName);
    loadNamed(m_background, backgroundName);
    m_backgroundSize = sizeOf(m_background);
    m_rect = CRect(x, y, x + m_backgroundSize.cx, y + m_backgroundSize.cy);
}

CDrawedSlider::~CDrawedSlider()
{
    m_automation.ReleaseDispatch();
}

void CDrawedSlider::loadThumb(int skin)
{
    loadNamed(m_thumb, m_thumbList[skin]);
    m_thumbSize = sizeOf(m_thumb);
}

BOOL CDrawedSlider::CreateSlider()
{
    return Create(WS_CHILD, m_rect, m_parent, CONTROL_ID);
}

int CDrawedSlider::OnCreate(CREATESTRUCTA*)
{
    if (Default() == -1)
        return -1;
    if (CPreferenceManager::isHostRegistrationStarted()) {
        if (m_automation.CreateDispatch(AUTOMATION_PROGID)) {
            // What the outside object answers does not matter here.
            m_automation.InvokeMethod(TAKE_WINDOW, {static_cast<long>(reinterpret_cast<LONG_PTR>(m_hWnd)), 0L});
        } else {
            CTrace::trace(SCOPE, std::string(" no ") + AUTOMATION_PROGID);
        }
    }
    SetWindowPos(nullptr, m_rect.left, m_rect.top, m_rect.Width(), m_rect.Height(),
                 SWP_NOZORDER | SWP_SHOWWINDOW);
    return 0;
}

void CDrawedSlider::SetSkin(int skin)
{
    CTrace::scopedAssertTrue(skin >= 0 && skin < m_skinCount, SCOPE, " Illegal arg for SetSkin().", -1);
    loadThumb(skin);
    if (m_hWnd != nullptr)
        Invalidate(FALSE);
}

void CDrawedSlider::setPosAndRedraw(int position)
{
    SetPos(position);
    if (m_hWnd != nullptr)
        Invalidate(FALSE);
}

void CDrawedSlider::DrawSlider(CDC* dc, const CRect& target)
{
    CRect client;
    GetClientRect(&client);
    CDC memory;
    if (!memory.CreateCompatibleDC(dc))
        return;
    CBitmap picture;
    if (!picture.CreateCompatibleBitmap(dc, client.Width(), client.Height()))
        return;
    memory.SelectObject(&picture);
    CDC source;
    if (!source.CreateCompatibleDC(dc))
        return;
    source.SelectObject(&m_background);
    memory.BitBlt(0, 0, m_backgroundSize.cx, m_backgroundSize.cy, &source, 0, 0, SRCCOPY);

    CRect thumb;
    GetThumbRect(&thumb);
    const int x = (thumb.left + thumb.right - m_thumbSize.cx) / 2;
    const int y = (client.Height() - m_thumbSize.cy) / 2 + 1;
    source.SelectObject(&m_mask);
    memory.BitBlt(x, y, m_thumbSize.cx, m_thumbSize.cy, &source, 0, 0, SRCAND);
    source.SelectObject(&m_thumb);
    memory.BitBlt(x, y, m_thumbSize.cx, m_thumbSize.cy, &source, 0, 0, SRCINVERT);

    dc->BitBlt(target.left, target.top, target.Width(), target.Height(), &memory, 0, 0, SRCCOPY);
}

void CDrawedSlider::OnPaint()
{
    CPaintDC dc(this);
    if (m_parent->getCoverState() == CSliderCover::CLOSED)
        return;
    CRect client;
    GetClientRect(&client);
    DrawSlider(&dc, client);
}

LRESULT CDrawedSlider::OnEraseBkgnd(WPARAM, LPARAM)
{
    return 0;
}

void CDrawedSlider::OnHScroll(UINT, UINT)
{
    if (m_hWnd != nullptr)
        Invalidate(FALSE);
}
