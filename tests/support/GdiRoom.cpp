#include "GdiRoom.h"

#include <windows.h>

#include <vector>

int freeGdiRoom()
{
    // Above the 65 480 handles a Wine process can hold, so the loop ends at the real limit.
    constexpr size_t MOST = 70000;
    std::vector<HBRUSH> made;
    made.reserve(MOST);
    while (made.size() < MOST) {
        HBRUSH brush = CreateSolidBrush(RGB(1, 2, 3));
        if (!brush)
            break;
        made.push_back(brush);
    }
    for (HBRUSH brush : made)
        DeleteObject(brush);
    return static_cast<int>(made.size());
}
