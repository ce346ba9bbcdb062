// The structure check that keeps corrupted files from the platform's decoders.
#include "CPictureFormat.h"
#include "PictureFiles.h"

#include <gtest/gtest.h>

#include <functional>

namespace {

using Bytes = std::vector<unsigned char>;

Rgb gradient(int x, int y) {
    return Rgb{static_cast<unsigned char>(x * 9), static_cast<unsigned char>(y * 11), 77};
}

void put16le(Bytes& b, size_t at, unsigned v) {
    b[at] = static_cast<unsigned char>(v);
    b[at + 1] = static_cast<unsigned char>(v >> 8);
}

void put32le(Bytes& b, size_t at, unsigned v) {
    put16le(b, at, v & 0xFFFF);
    put16le(b, at + 2, v >> 16);
}

// Offset of the first JPEG marker of this kind.
size_t jpegMarker(const Bytes& b, unsigned char marker) {
    for (size_t i = 2; i + 1 < b.size(); ++i)
        if (b[i] == 0xFF && b[i + 1] == marker)
            return i;
    return 0;
}

struct Case {
    const char* name;
    std::function<Bytes()> make;
    bool wellFormed;
};

class PictureFormat : public testing::TestWithParam<Case> {};

TEST_P(PictureFormat, TellsWholeFilesFromBrokenOnes) {
    Bytes bytes = GetParam().make();
    ASSERT_FALSE(bytes.empty());
    EXPECT_EQ(GetParam().wellFormed, CPictureFormat::isWellFormed(bytes.data(), bytes.size()));
}

Bytes bmp() { return PictureFiles::bmp24(7, 5, gradient); }
Bytes bmp8() { return PictureFiles::bmp8(7, 5, gradient); }
Bytes gif() { return PictureFiles::gif(7, 5, gradient); }
Bytes jpeg() { return PictureFiles::jpeg(16, 8, gradient); }

void PrintTo(const Case& c, std::ostream* out) { *out << c.name; }

INSTANTIATE_TEST_SUITE_P(
    Table, PictureFormat,
    testing::Values(
        Case{"Bmp24", bmp, true},
        Case{"Bmp8", bmp8, true},
        Case{"Gif", gif, true},
        Case{"Jpeg", jpeg, true},
        Case{"BmpPixelsShort", [] { Bytes b = bmp(); b.pop_back(); return b; }, false},
        Case{"BmpWidthZero", [] { Bytes b = bmp(); put32le(b, 18, 0); return b; }, false},
        Case{"BmpHugeHeight", [] { Bytes b = bmp(); put32le(b, 22, 0x7FFFFFFF); return b; }, false},
        Case{"BmpTopDown", [] { Bytes b = bmp(); put32le(b, 22, static_cast<unsigned>(-5)); return b; }, true},
        Case{"BmpDepthSeven", [] { Bytes b = bmp(); put16le(b, 28, 7); return b; }, false},
        Case{"BmpPaletteCountBeyondFile", [] { Bytes b = bmp8(); put32le(b, 46, 200000); return b; }, true},
        Case{"BmpOffsetBeyondFile", [] { Bytes b = bmp(); put32le(b, 10, 0xFFFFFF00u); return b; }, false},
        Case{"BmpHeaderSizeOdd", [] { Bytes b = bmp(); put32le(b, 14, 41); return b; }, false},
        Case{"GifTruncated", [] { Bytes b = gif(); b.resize(b.size() / 2); return b; }, false},
        Case{"GifWithoutTrailer", [] { Bytes b = gif(); b.pop_back(); return b; }, true},
        Case{"GifFrameBeyondScreen", [] { Bytes b = gif(); put16le(b, 13 + 768 + 1, 3); return b; }, false},
        Case{"GifScreenZero", [] { Bytes b = gif(); put16le(b, 6, 0); return b; }, false},
        Case{"GifCodeSizeTwelve", [] { Bytes b = gif(); b[13 + 768 + 10] = 12; return b; }, false},
        Case{"GifSubBlockPastEnd", [] { Bytes b = gif(); b[13 + 768 + 11] = 0xFF; b.resize(13 + 768 + 40); return b; }, false},
        // Measured: Wine's decoder reads past the end of this one.
        Case{"JpegSegmentLengthPastEnd",
             [] { Bytes b = jpeg(); b[4] = 0xFF; b[5] = 0xFF; return b; }, false},
        Case{"JpegWithoutFrame",
             [] { Bytes b = jpeg(); size_t at = jpegMarker(b, 0xC0); b[at + 1] = 0xE5; return b; }, false},
        Case{"JpegFrameWidthZero",
             [] { Bytes b = jpeg(); size_t at = jpegMarker(b, 0xC0); b[at + 7] = 0; b[at + 8] = 0; return b; }, false},
        Case{"JpegCutInsideTheHeaders", [] { Bytes b = jpeg(); b.resize(jpegMarker(b, 0xDA) + 4); return b; }, false},
        Case{"Png", [] { return Bytes{0x89, 'P', 'N', 'G', 13, 10, 26, 10, 0, 0, 0, 13}; }, false},
        Case{"Text", [] { return Bytes{'h', 'e', 'l', 'l', 'o'}; }, false},
        Case{"Short", [] { return Bytes{'B', 'M'}; }, false}),
    [](const testing::TestParamInfo<Case>& info) { return std::string(info.param.name); });

TEST(PictureFormatEdge, NullOrEmptyIsNoPicture) {
    EXPECT_FALSE(CPictureFormat::isWellFormed(nullptr, 100));
    unsigned char one = 'B';
    EXPECT_FALSE(CPictureFormat::isWellFormed(&one, 0));
}

}  // namespace
