#pragma once
// A width and height that is a SIZE: passed wherever the system takes one.
#include <windows.h>

class CSize : public SIZE {
public:
    CSize() : SIZE{0, 0} {}
    CSize(int cx, int cy) : SIZE{cx, cy} {}
    CSize(SIZE size) : SIZE(size) {}

    bool operator==(SIZE o) const { return cx == o.cx && cy == o.cy; }
    bool operator!=(SIZE o) const { return !(*this == o); }
};
