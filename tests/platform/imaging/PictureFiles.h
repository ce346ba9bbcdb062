#pragma once
// Small picture files made by the tests themselves: BMP at 24 and 8 bits and palette GIF
// written byte by byte, JPEG through the platform's encoder. Pixels are given as a function
// of (x, y), top row y = 0.
#include <windows.h>

#include <functional>
#include <string>
#include <vector>

struct Rgb {
    unsigned char r, g, b;
};
using PixelFunction = std::function<Rgb(int x, int y)>;

inline PixelFunction solid(Rgb colour) {
    return [colour](int, int) { return colour; };
}

namespace PictureFiles {

std::vector<unsigned char> bmp24(int width, int height, const PixelFunction& pixel);
// Palette of the first 256 colours the function gives, scanning row by row.
std::vector<unsigned char> bmp8(int width, int height, const PixelFunction& pixel);
std::vector<unsigned char> gif(int width, int height, const PixelFunction& pixel);
// Empty when the platform cannot encode.
std::vector<unsigned char> jpeg(int width, int height, const PixelFunction& pixel);

bool write(const std::string& path, const std::vector<unsigned char>& bytes);
// Writes the bytes as folder\\name; the path, empty when it cannot be written.
std::string writeIn(const std::string& folder, const std::string& name, const std::vector<unsigned char>& bytes);

}  // namespace PictureFiles
