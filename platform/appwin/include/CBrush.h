#pragma once
// A brush that owns its handle.
#include "CGdiObject.h"

class CBrush : public CGdiObject {
public:
    CBrush() = default;
    // A solid brush (no handle when that fails).
    explicit CBrush(COLORREF colour) { CreateSolidBrush(colour); }

    BOOL CreateSolidBrush(COLORREF colour);

    operator HBRUSH() const { return static_cast<HBRUSH>(m_hObject); }
};
