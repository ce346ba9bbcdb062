#pragma once
// A point that is a POINT: passed wherever the system takes one.
#include <windows.h>

class CPoint : public POINT {
public:
    CPoint() : POINT{0, 0} {}
    CPoint(int x, int y) : POINT{x, y} {}
    CPoint(POINT pt) : POINT(pt) {}

    void Offset(int dx, int dy) {
        x += dx;
        y += dy;
    }
    bool operator==(POINT o) const { return x == o.x && y == o.y; }
    bool operator!=(POINT o) const { return !(*this == o); }
    CPoint operator+(POINT o) const { return CPoint(x + o.x, y + o.y); }
    CPoint operator-(POINT o) const { return CPoint(x - o.x, y - o.y); }
    operator LPPOINT() { return this; }
};
