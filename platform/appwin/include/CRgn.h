#pragma once
// A region that owns its handle.
#include "CGdiObject.h"

class CRgn : public CGdiObject {
public:
    BOOL CreateRectRgn(int left, int top, int right, int bottom);
    BOOL CreateRectRgnIndirect(const RECT* rect);
    // From region data (as a resource holds it), through the transform (null: identity).
    BOOL CreateFromData(const XFORM* transform, int size, const RGNDATA* data);
    // This region becomes a combined with b (RGN_AND, RGN_OR, ...); the region type, or ERROR.
    int CombineRgn(CRgn* a, CRgn* b, int mode);
    int OffsetRgn(int dx, int dy);
    BOOL PtInRegion(int x, int y) const;
    int GetRgnBox(LPRECT rect) const;

    operator HRGN() const { return static_cast<HRGN>(m_hObject); }
};
