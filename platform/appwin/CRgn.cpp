#include "CRgn.h"

BOOL CRgn::CreateRectRgn(int left, int top, int right, int bottom) {
    if (m_hObject)
        return FALSE;
    return Attach(::CreateRectRgn(left, top, right, bottom));
}

BOOL CRgn::CreateRectRgnIndirect(const RECT* rect) {
    if (m_hObject || !rect)
        return FALSE;
    return Attach(::CreateRectRgnIndirect(rect));
}

BOOL CRgn::CreateFromData(const XFORM* transform, int size, const RGNDATA* data) {
    if (m_hObject || !data || size <= 0)
        return FALSE;
    return Attach(::ExtCreateRegion(transform, static_cast<DWORD>(size), data));
}

int CRgn::CombineRgn(CRgn* a, CRgn* b, int mode) {
    if (!m_hObject || !a)
        return ERROR;
    return ::CombineRgn(*this, *a, b ? static_cast<HRGN>(*b) : nullptr, mode);
}

int CRgn::OffsetRgn(int dx, int dy) {
    return m_hObject ? ::OffsetRgn(*this, dx, dy) : ERROR;
}

BOOL CRgn::PtInRegion(int x, int y) const {
    return m_hObject && ::PtInRegion(*this, x, y);
}

int CRgn::GetRgnBox(LPRECT rect) const {
    return m_hObject ? ::GetRgnBox(*this, rect) : ERROR;
}
