#include "CDC.h"

#include "CBrush.h"
#include "CRgn.h"

namespace {
// Slot of m_original for an object type, or -1 for kinds that are not put back.
int slotOf(DWORD type) {
    switch (type) {
    case OBJ_BITMAP:
        return 0;
    case OBJ_BRUSH:
        return 1;
    case OBJ_PEN:
    case OBJ_EXTPEN:
        return 2;
    case OBJ_FONT:
        return 3;
    default:
        return -1;
    }
}
}  // namespace

CDC::~CDC() {
    DeleteDC();
    restoreSelections();
}

BOOL CDC::Attach(HDC hdc) {
    if (m_hDC || !hdc)
        return FALSE;
    m_hDC = hdc;
    m_owned = false;
    return TRUE;
}

HDC CDC::Detach() {
    HDC hdc = m_hDC;
    m_hDC = nullptr;
    m_owned = false;
    for (HGDIOBJ& original : m_original)
        original = nullptr;
    return hdc;
}

BOOL CDC::CreateCompatibleDC(CDC* dc) {
    if (m_hDC)
        return FALSE;
    m_hDC = ::CreateCompatibleDC(dc ? dc->m_hDC : nullptr);
    m_owned = m_hDC != nullptr;
    return m_hDC != nullptr;
}

BOOL CDC::DeleteDC() {
    if (!m_hDC || !m_owned)
        return FALSE;
    restoreSelections();
    return ::DeleteDC(Detach());
}

HGDIOBJ CDC::SelectObject(HGDIOBJ object) {
    if (!m_hDC || !object)
        return nullptr;
    DWORD type = GetObjectType(object);
    if (type == OBJ_REGION)
        return reinterpret_cast<HGDIOBJ>(static_cast<INT_PTR>(::SelectClipRgn(m_hDC, static_cast<HRGN>(object))));
    HGDIOBJ previous = ::SelectObject(m_hDC, object);
    int slot = slotOf(type);
    if (previous && slot >= 0 && !m_original[slot])
        m_original[slot] = previous;
    return previous;
}

int CDC::SelectClipRgn(CRgn* region) {
    return m_hDC ? ::SelectClipRgn(m_hDC, region ? static_cast<HRGN>(*region) : nullptr) : ERROR;
}

void CDC::restoreSelections() {
    for (HGDIOBJ& original : m_original) {
        if (original && m_hDC)
            ::SelectObject(m_hDC, original);
        original = nullptr;
    }
}

BOOL CDC::BitBlt(int x, int y, int width, int height, CDC* source, int xSource, int ySource, DWORD rop) {
    return ::BitBlt(m_hDC, x, y, width, height, source ? source->m_hDC : nullptr, xSource, ySource, rop);
}

BOOL CDC::StretchBlt(int x, int y, int width, int height, CDC* source, int xSource, int ySource,
                     int widthSource, int heightSource, DWORD rop) {
    return ::StretchBlt(m_hDC, x, y, width, height, source ? source->m_hDC : nullptr, xSource,
                        ySource, widthSource, heightSource, rop);
}

BOOL CDC::PatBlt(int x, int y, int width, int height, DWORD rop) {
    return ::PatBlt(m_hDC, x, y, width, height, rop);
}

void CDC::FillRect(LPCRECT rect, CBrush* brush) {
    if (brush)
        ::FillRect(m_hDC, rect, *brush);
}

void CDC::FillSolidRect(LPCRECT rect, COLORREF colour) {
    // An opaque text-out of nothing fills with the background colour and needs no brush.
    COLORREF previous = ::SetBkColor(m_hDC, colour);
    ::ExtTextOutA(m_hDC, 0, 0, ETO_OPAQUE, rect, nullptr, 0, nullptr);
    ::SetBkColor(m_hDC, previous);
}

void CDC::FillSolidRect(int x, int y, int width, int height, COLORREF colour) {
    RECT rect{x, y, x + width, y + height};
    FillSolidRect(&rect, colour);
}

void CDC::FrameRect(LPCRECT rect, CBrush* brush) {
    if (brush)
        ::FrameRect(m_hDC, rect, *brush);
}

BOOL CDC::FillRgn(CRgn* region, CBrush* brush) {
    return region && brush && ::FillRgn(m_hDC, *region, *brush);
}

BOOL CDC::FrameRgn(CRgn* region, CBrush* brush, int width, int height) {
    return region && brush && ::FrameRgn(m_hDC, *region, *brush, width, height);
}

BOOL CDC::Rectangle(int left, int top, int right, int bottom) {
    return ::Rectangle(m_hDC, left, top, right, bottom);
}

POINT CDC::MoveTo(int x, int y) {
    POINT previous{0, 0};
    ::MoveToEx(m_hDC, x, y, &previous);
    return previous;
}

BOOL CDC::LineTo(int x, int y) {
    return ::LineTo(m_hDC, x, y);
}

BOOL CDC::DrawIcon(int x, int y, HICON icon) {
    return ::DrawIcon(m_hDC, x, y, icon);
}

COLORREF CDC::GetPixel(int x, int y) const {
    return ::GetPixel(m_hDC, x, y);
}

COLORREF CDC::SetTextColor(COLORREF colour) {
    return ::SetTextColor(m_hDC, colour);
}

COLORREF CDC::GetTextColor() const {
    return ::GetTextColor(m_hDC);
}

COLORREF CDC::SetBkColor(COLORREF colour) {
    return ::SetBkColor(m_hDC, colour);
}

COLORREF CDC::GetBkColor() const {
    return ::GetBkColor(m_hDC);
}

int CDC::SetBkMode(int mode) {
    return ::SetBkMode(m_hDC, mode);
}

int CDC::GetBkMode() const {
    return ::GetBkMode(m_hDC);
}

int CDC::SetROP2(int mode) {
    return ::SetROP2(m_hDC, mode);
}

int CDC::DrawText(LPCSTR text, int count, LPRECT rect, UINT format) {
    return ::DrawTextA(m_hDC, text, count, rect, format);
}

int CDC::DrawText(const std::string& text, LPRECT rect, UINT format) {
    return ::DrawTextA(m_hDC, text.c_str(), static_cast<int>(text.size()), rect, format);
}

BOOL CDC::TextOut(int x, int y, LPCSTR text, int count) {
    return ::TextOutA(m_hDC, x, y, text, count);
}

int CDC::GetDeviceCaps(int index) const {
    return ::GetDeviceCaps(m_hDC, index);
}
