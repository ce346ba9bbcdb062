#include "BitmapPixels.h"

#include <cstdlib>

BitmapPixels::BitmapPixels(HMODULE module, const wchar_t* name) {
    HRSRC resource = FindResourceW(module, name, MAKEINTRESOURCEW(2 /* RT_BITMAP */));
    HGLOBAL loaded = resource ? LoadResource(module, resource) : nullptr;
    auto bytes = loaded ? static_cast<const BYTE*>(LockResource(loaded)) : nullptr;
    DWORD size = loaded ? SizeofResource(module, resource) : 0;
    if (!bytes || size < sizeof(BITMAPINFOHEADER)) return;
    auto header = reinterpret_cast<const BITMAPINFOHEADER*>(bytes);
    if (header->biCompression != BI_RGB || (header->biBitCount != 24 && header->biBitCount != 8)) return;

    const int w = header->biWidth;
    const int h = std::abs(header->biHeight);
    const bool bottomUp = header->biHeight > 0;
    const DWORD colours = header->biBitCount == 8 ? (header->biClrUsed ? header->biClrUsed : 256) : 0;
    const BYTE* palette = bytes + header->biSize;
    const BYTE* bits = palette + colours * 4;
    const size_t stride = ((static_cast<size_t>(w) * header->biBitCount + 31) / 32) * 4;
    if (w <= 0 || h <= 0 || bits + stride * h > bytes + size) return;

    width_ = w;
    height_ = h;
    pixels_.resize(static_cast<size_t>(w) * h);
    for (int y = 0; y < h; ++y) {
        const BYTE* row = bits + stride * (bottomUp ? h - 1 - y : y);
        for (int x = 0; x < w; ++x) {
            const BYTE* p = header->biBitCount == 24 ? row + x * 3 : palette + row[x] * 4;
            pixels_[static_cast<size_t>(y) * w + x] = {p[2], p[1], p[0]};
        }
    }
}
