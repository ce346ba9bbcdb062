#include "WidgetTestSupport.h"

#include "LoadedLibrary.h"

#include <gtest/gtest.h>

#include <fstream>

Rgb rgbOf(COLORREF colour)
{
    return {GetRValue(colour), GetGValue(colour), GetBValue(colour)};
}

Rgb patternAt(int x, int y)
{
    return {static_cast<BYTE>(40 + x % 150), static_cast<BYTE>(30 + (2 * y) % 180), 100};
}

namespace {

HBITMAP dibSection(int width, int height, DWORD** bits)
{
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    void* pixels = nullptr;
    HBITMAP bitmap = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &pixels, nullptr, 0);
    *bits = static_cast<DWORD*>(pixels);
    return bitmap;
}

DWORD bgraOf(Rgb c)
{
    return (static_cast<DWORD>(c.r) << 16) | (static_cast<DWORD>(c.g) << 8) | c.b;
}

Rgb rgbOfBgra(DWORD bgra)
{
    return {static_cast<BYTE>(bgra >> 16), static_cast<BYTE>(bgra >> 8), static_cast<BYTE>(bgra)};
}

} // namespace

Canvas::Canvas(int width, int height, COLORREF fill) : width_(width), height_(height)
{
    bitmap_ = dibSection(width, height, &bits_);
    EXPECT_NE(nullptr, bitmap_);
    for (int i = 0; i < width * height; ++i)
        bits_[i] = bgraOf(rgbOf(fill));
    dc_.CreateCompatibleDC(nullptr);
    previous_ = SelectObject(dc_.m_hDC, bitmap_);
}

Canvas::~Canvas()
{
    if (bitmap_ != nullptr) {
        SelectObject(dc_.m_hDC, previous_);
        DeleteObject(bitmap_);
    }
}

Rgb Canvas::at(int x, int y) const
{
    GdiFlush();
    return rgbOfBgra(bits_[static_cast<size_t>(y) * width_ + x]);
}

HBITMAP Canvas::release()
{
    GdiFlush();
    SelectObject(dc_.m_hDC, previous_);
    HBITMAP bitmap = bitmap_;
    bitmap_ = nullptr;
    return bitmap;
}

HBITMAP patternBitmap(int width, int height)
{
    DWORD* bits = nullptr;
    HBITMAP bitmap = dibSection(width, height, &bits);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            bits[static_cast<size_t>(y) * width + x] = bgraOf(patternAt(x, y));
    return bitmap;
}

HICON solidIcon(COLORREF colour)
{
    HDC screen = GetDC(nullptr);
    HBITMAP colourBitmap = CreateCompatibleBitmap(screen, 32, 32);
    HDC memory = CreateCompatibleDC(screen);
    HGDIOBJ previous = SelectObject(memory, colourBitmap);
    RECT all = {0, 0, 32, 32};
    HBRUSH brush = CreateSolidBrush(colour);
    FillRect(memory, &all, brush);
    DeleteObject(brush);
    SelectObject(memory, previous);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    // An all-dark mask: every pixel of the icon is opaque.
    std::vector<BYTE> maskBits(32 * 32 / 8, 0);
    HBITMAP mask = CreateBitmap(32, 32, 1, 1, maskBits.data());
    ICONINFO info{};
    info.fIcon = TRUE;
    info.hbmColor = colourBitmap;
    info.hbmMask = mask;
    HICON icon = CreateIconIndirect(&info);
    DeleteObject(colourBitmap);
    DeleteObject(mask);
    return icon;
}

std::vector<Rgb> screenPixels(const RECT& rect)
{
    const int width = rect.right - rect.left, height = rect.bottom - rect.top;
    DWORD* bits = nullptr;
    HBITMAP copy = dibSection(width, height, &bits);
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    HGDIOBJ previous = SelectObject(memory, copy);
    BitBlt(memory, 0, 0, width, height, screen, rect.left, rect.top, SRCCOPY);
    GdiFlush();
    std::vector<Rgb> pixels;
    pixels.reserve(static_cast<size_t>(width) * height);
    for (int i = 0; i < width * height; ++i)
        pixels.push_back(rgbOfBgra(bits[i]));
    SelectObject(memory, previous);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    DeleteObject(copy);
    return pixels;
}

bool writeBmpFile(const std::string& path, int width, int height, const std::vector<Rgb>& pixels)
{
    // Bottom-up rows of 24 bits, each padded to four bytes.
    const int rowBytes = (width * 3 + 3) / 4 * 4;
    BITMAPFILEHEADER file{};
    BITMAPINFOHEADER info{};
    file.bfType = 0x4D42;
    file.bfOffBits = sizeof file + sizeof info;
    file.bfSize = file.bfOffBits + static_cast<DWORD>(rowBytes) * height;
    info.biSize = sizeof info;
    info.biWidth = width;
    info.biHeight = height;
    info.biPlanes = 1;
    info.biBitCount = 24;
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(&file), sizeof file);
    out.write(reinterpret_cast<const char*>(&info), sizeof info);
    std::vector<char> row(rowBytes, 0);
    for (int y = height - 1; y >= 0; --y) {
        for (int x = 0; x < width; ++x) {
            const Rgb& p = pixels[static_cast<size_t>(y) * width + x];
            row[3 * x] = static_cast<char>(p.b);
            row[3 * x + 1] = static_cast<char>(p.g);
            row[3 * x + 2] = static_cast<char>(p.r);
        }
        out.write(row.data(), rowBytes);
    }
    return out.good();
}

void saveScreenshot(const std::string& name)
{
    const int width = GetSystemMetrics(SM_CXSCREEN), height = GetSystemMetrics(SM_CYSCREEN);
    const std::string folder = LoadedLibrary::besideThisProgram("screenshots");
    CreateDirectoryA(folder.c_str(), nullptr);
    EXPECT_TRUE(writeBmpFile(folder + "\\" + name + ".bmp", width, height, screenPixels(RECT{0, 0, width, height})))
        << "screenshot " << name;
}

