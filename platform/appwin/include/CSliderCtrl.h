#pragma once
// Trackbar ("msctls_trackbar32").
#include "CWnd.h"

class CSliderCtrl : public CWnd {
public:
    BOOL Create(DWORD style, const RECT& rect, CWnd* parent, UINT id);

    void SetRange(int minimum, int maximum, BOOL redraw = FALSE);
    int GetRangeMin() const;
    int GetRangeMax() const;
    void SetPos(int position);
    int GetPos() const;
    // The thumb's rectangle in client coordinates.
    void GetThumbRect(LPRECT rect) const;
};
