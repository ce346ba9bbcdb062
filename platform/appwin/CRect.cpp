#include "CRect.h"

BOOL CRect::PtInRect(POINT pt) const {
    return pt.x >= left && pt.x < right && pt.y >= top && pt.y < bottom;
}

BOOL CRect::IntersectRect(const RECT* a, const RECT* b) {
    return ::IntersectRect(this, a, b);
}

void CRect::OffsetRect(int dx, int dy) {
    left += dx;
    right += dx;
    top += dy;
    bottom += dy;
}

void CRect::SetRect(int l, int t, int r, int b) {
    left = l;
    top = t;
    right = r;
    bottom = b;
}

bool CRect::operator==(const RECT& o) const {
    return left == o.left && top == o.top && right == o.right && bottom == o.bottom;
}
