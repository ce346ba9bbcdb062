#include "PictureFiles.h"

#include <objidl.h>
#include <gdiplus.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <memory>

namespace {

void put16(std::vector<unsigned char>& out, unsigned value) {
    out.push_back(static_cast<unsigned char>(value));
    out.push_back(static_cast<unsigned char>(value >> 8));
}

void put32(std::vector<unsigned char>& out, unsigned value) {
    put16(out, value & 0xFFFF);
    put16(out, value >> 16);
}

std::vector<unsigned char> bmpHeaders(int width, int height, int bits, int colours, int imageBytes) {
    std::vector<unsigned char> out;
    unsigned offset = 14 + 40 + 4 * colours;
    out.push_back('B');
    out.push_back('M');
    put32(out, offset + imageBytes);
    put32(out, 0);
    put32(out, offset);
    put32(out, 40);
    put32(out, static_cast<unsigned>(width));
    put32(out, static_cast<unsigned>(height));
    put16(out, 1);
    put16(out, static_cast<unsigned>(bits));
    put32(out, 0);
    put32(out, static_cast<unsigned>(imageBytes));
    put32(out, 2835);
    put32(out, 2835);
    put32(out, static_cast<unsigned>(colours));
    put32(out, 0);
    return out;
}

// The palette of a picture and each pixel's index in it (top row first).
struct Indexed {
    std::vector<Rgb> palette;
    std::vector<unsigned char> indices;
};

Indexed indexed(int width, int height, const PixelFunction& pixel) {
    Indexed result;
    std::map<unsigned, unsigned char> known;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            Rgb c = pixel(x, y);
            unsigned key = (c.r << 16) | (c.g << 8) | c.b;
            auto found = known.find(key);
            if (found == known.end()) {
                unsigned char index = result.palette.size() < 256 ? static_cast<unsigned char>(result.palette.size()) : 0;
                if (result.palette.size() < 256)
                    result.palette.push_back(c);
                found = known.emplace(key, index).first;
            }
            result.indices.push_back(found->second);
        }
    result.palette.resize(256, Rgb{0, 0, 0});
    return result;
}

// Codes of growing width packed from the lowest bit, as GIF keeps them.
class BitWriter {
public:
    void put(unsigned code, int width) {
        buffer_ |= code << bits_;
        bits_ += width;
        while (bits_ >= 8) {
            bytes.push_back(static_cast<unsigned char>(buffer_));
            buffer_ >>= 8;
            bits_ -= 8;
        }
    }
    void flush() {
        if (bits_ > 0)
            bytes.push_back(static_cast<unsigned char>(buffer_));
        buffer_ = 0;
        bits_ = 0;
    }
    std::vector<unsigned char> bytes;

private:
    unsigned buffer_ = 0;
    int bits_ = 0;
};

int encoderClsid(const WCHAR* mime, CLSID* clsid) {
    UINT count = 0, size = 0;
    Gdiplus::GetImageEncodersSize(&count, &size);
    if (size == 0)
        return -1;
    std::vector<unsigned char> storage(size);
    auto* codecs = reinterpret_cast<Gdiplus::ImageCodecInfo*>(storage.data());
    Gdiplus::GetImageEncoders(count, size, codecs);
    for (UINT i = 0; i < count; ++i)
        if (wcscmp(codecs[i].MimeType, mime) == 0) {
            *clsid = codecs[i].Clsid;
            return static_cast<int>(i);
        }
    return -1;
}

}  // namespace

namespace PictureFiles {

std::vector<unsigned char> bmp24(int width, int height, const PixelFunction& pixel) {
    int stride = (width * 3 + 3) & ~3;
    std::vector<unsigned char> out = bmpHeaders(width, height, 24, 0, stride * height);
    for (int y = height - 1; y >= 0; --y) {
        size_t start = out.size();
        for (int x = 0; x < width; ++x) {
            Rgb c = pixel(x, y);
            out.push_back(c.b);
            out.push_back(c.g);
            out.push_back(c.r);
        }
        out.resize(start + stride, 0);
    }
    return out;
}

std::vector<unsigned char> bmp8(int width, int height, const PixelFunction& pixel) {
    Indexed picture = indexed(width, height, pixel);
    int stride = (width + 3) & ~3;
    std::vector<unsigned char> out = bmpHeaders(width, height, 8, 256, stride * height);
    for (const Rgb& c : picture.palette) {
        out.push_back(c.b);
        out.push_back(c.g);
        out.push_back(c.r);
        out.push_back(0);
    }
    for (int y = height - 1; y >= 0; --y) {
        size_t start = out.size();
        for (int x = 0; x < width; ++x)
            out.push_back(picture.indices[static_cast<size_t>(y) * width + x]);
        out.resize(start + stride, 0);
    }
    return out;
}

std::vector<unsigned char> gif(int width, int height, const PixelFunction& pixel) {
    Indexed picture = indexed(width, height, pixel);
    std::vector<unsigned char> out = {'G', 'I', 'F', '8', '9', 'a'};
    put16(out, static_cast<unsigned>(width));
    put16(out, static_cast<unsigned>(height));
    out.push_back(0xF7);   // global table of 256 entries
    out.push_back(0);
    out.push_back(0);
    for (const Rgb& c : picture.palette) {
        out.push_back(c.r);
        out.push_back(c.g);
        out.push_back(c.b);
    }
    out.push_back(0x2C);
    put16(out, 0);
    put16(out, 0);
    put16(out, static_cast<unsigned>(width));
    put16(out, static_cast<unsigned>(height));
    out.push_back(0);
    out.push_back(8);   // smallest code size
    // Every pixel as its own literal code, with a clear code often enough that the decoder's
    // table never outgrows 9-bit codes.
    const unsigned CLEAR = 256, END = 257;
    BitWriter codes;
    int sinceClear = 0;
    codes.put(CLEAR, 9);
    for (unsigned char index : picture.indices) {
        if (sinceClear == 250) {
            codes.put(CLEAR, 9);
            sinceClear = 0;
        }
        codes.put(index, 9);
        ++sinceClear;
    }
    codes.put(END, 9);
    codes.flush();
    for (size_t at = 0; at < codes.bytes.size(); at += 255) {
        size_t chunk = std::min<size_t>(255, codes.bytes.size() - at);
        out.push_back(static_cast<unsigned char>(chunk));
        out.insert(out.end(), codes.bytes.begin() + at, codes.bytes.begin() + at + chunk);
    }
    out.push_back(0);
    out.push_back(0x3B);
    return out;
}

std::vector<unsigned char> jpeg(int width, int height, const PixelFunction& pixel) {
    // Started once for the test program, as the loader's control does.
    static const bool started = [] {
        Gdiplus::GdiplusStartupInput input;
        ULONG_PTR token = 0;
        return Gdiplus::GdiplusStartup(&token, &input, nullptr) == Gdiplus::Ok;
    }();
    if (!started)
        return {};
    std::vector<unsigned char> result;
    {
        Gdiplus::Bitmap bitmap(width, height, PixelFormat24bppRGB);
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x) {
                Rgb c = pixel(x, y);
                bitmap.SetPixel(x, y, Gdiplus::Color(c.r, c.g, c.b));
            }
        CLSID clsid;
        IStream* stream = nullptr;
        if (encoderClsid(L"image/jpeg", &clsid) >= 0 && CreateStreamOnHGlobal(nullptr, TRUE, &stream) == S_OK) {
            if (bitmap.Save(stream, &clsid, nullptr) == Gdiplus::Ok) {
                HGLOBAL memory = nullptr;
                GetHGlobalFromStream(stream, &memory);
                STATSTG stat;
                stream->Stat(&stat, STATFLAG_NONAME);
                auto* bytes = static_cast<unsigned char*>(GlobalLock(memory));
                result.assign(bytes, bytes + stat.cbSize.QuadPart);
                GlobalUnlock(memory);
            }
            stream->Release();
        }
    }
    return result;
}

bool write(const std::string& path, const std::vector<unsigned char>& bytes) {
    FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr)
        return false;
    bool written = bytes.empty() || std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    return std::fclose(file) == 0 && written;
}

std::string writeIn(const std::string& folder, const std::string& name, const std::vector<unsigned char>& bytes) {
    std::string path = folder + "\\" + name;
    return write(path, bytes) ? path : std::string();
}

}  // namespace PictureFiles
