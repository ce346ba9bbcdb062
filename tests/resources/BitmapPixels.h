#pragma once
// The pixels of a bitmap resource, read from its own bytes (not through the display), so that a
// test sees exactly what the library holds. Uncompressed 8- and 24-bit pictures only.
#include <windows.h>

#include <string>
#include <vector>

struct Rgb {
    BYTE r, g, b;
    bool operator==(const Rgb& o) const { return r == o.r && g == o.g && b == o.b; }
    bool operator!=(const Rgb& o) const { return !(*this == o); }
};

class BitmapPixels {
public:
    // Empty (valid() false) when the module has no such bitmap or it is of another kind.
    BitmapPixels(HMODULE module, const wchar_t* name);

    bool valid() const { return !pixels_.empty(); }
    int width() const { return width_; }
    int height() const { return height_; }
    // Top row first.
    Rgb at(int x, int y) const { return pixels_[static_cast<size_t>(y) * width_ + x]; }

private:
    int width_ = 0;
    int height_ = 0;
    std::vector<Rgb> pixels_;
};
