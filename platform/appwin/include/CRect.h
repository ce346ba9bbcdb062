#pragma once
// A rectangle that is a RECT (left and top inside, right and bottom outside): passed wherever the
// system takes a RECT or a pointer to one.
#include "CPoint.h"
#include "CSize.h"

#include <windows.h>

class CRect : public RECT {
public:
    CRect() : RECT{0, 0, 0, 0} {}
    CRect(int l, int t, int r, int b) : RECT{l, t, r, b} {}
    CRect(const RECT& rect) : RECT(rect) {}
    CRect(POINT topLeft, SIZE size)
        : RECT{topLeft.x, topLeft.y, topLeft.x + size.cx, topLeft.y + size.cy} {}

    int Width() const { return right - left; }
    int Height() const { return bottom - top; }
    CSize Size() const { return CSize(Width(), Height()); }
    CPoint TopLeft() const { return CPoint(left, top); }
    CPoint BottomRight() const { return CPoint(right, bottom); }
    CPoint CenterPoint() const { return CPoint((left + right) / 2, (top + bottom) / 2); }
    // No area (a width or height of 0 or less).
    BOOL IsRectEmpty() const { return right <= left || bottom <= top; }

    // Left and top edges inside, right and bottom edges outside.
    BOOL PtInRect(POINT pt) const;
    // This rectangle becomes the common part of a and b; FALSE (and empty) when they do not meet.
    BOOL IntersectRect(const RECT* a, const RECT* b);
    void OffsetRect(int dx, int dy);
    void OffsetRect(POINT delta) { OffsetRect(delta.x, delta.y); }
    void OffsetRect(SIZE delta) { OffsetRect(delta.cx, delta.cy); }
    void SetRect(int l, int t, int r, int b);

    bool operator==(const RECT& o) const;
    bool operator!=(const RECT& o) const { return !(*this == o); }

    operator LPRECT() { return this; }
    operator LPCRECT() const { return this; }
};
