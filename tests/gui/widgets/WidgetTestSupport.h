#pragma once
// What the widget tests share: a 32-bit picture in memory to paint into and read back, a known
// pattern to paint, the screen's pixels and screenshots.
#include "BitmapPixels.h"
#include "GdiRoom.h"

#include <CDC.h>

#include <windows.h>

#include <string>
#include <vector>

Rgb rgbOf(COLORREF colour);
// A colour of the pattern: no pixel of it is black, white or a terminal colour.
Rgb patternAt(int x, int y);

// A top-down 32-bit DIB section selected into a memory context, filled with one colour.
class Canvas {
public:
    Canvas(int width, int height, COLORREF fill);
    ~Canvas();
    Canvas(const Canvas&) = delete;
    Canvas& operator=(const Canvas&) = delete;

    CDC* dc() { return &dc_; }
    Rgb at(int x, int y) const;
    int width() const { return width_; }
    int height() const { return height_; }
    // Gives up the bitmap (deselected) to the caller: for pictures that a test hands over.
    HBITMAP release();

private:
    int width_, height_;
    HBITMAP bitmap_;
    HGDIOBJ previous_;
    DWORD* bits_;
    CDC dc_;
};

// A width × height bitmap of the pattern, the caller's to free.
HBITMAP patternBitmap(int width, int height);
// A 32 × 32 icon of one colour, the caller's to destroy.
HICON solidIcon(COLORREF colour);

// The screen's pixels inside the rectangle, top row first.
std::vector<Rgb> screenPixels(const RECT& rect);
// A 24-bit BMP file of the pixels (top row first); false when it cannot be written.
bool writeBmpFile(const std::string& path, int width, int height, const std::vector<Rgb>& pixels);
// The whole screen as a picture "NAME.bmp" in the folder screenshots beside the test program.
void saveScreenshot(const std::string& name);

