#pragma once
// A pen that owns its handle.
#include "CGdiObject.h"

class CPen : public CGdiObject {
public:
    CPen() = default;
    // No handle when that fails.
    CPen(int style, int width, COLORREF colour) { CreatePen(style, width, colour); }

    BOOL CreatePen(int style, int width, COLORREF colour);

    operator HPEN() const { return static_cast<HPEN>(m_hObject); }
};
