// The picture loader: which files are pictures, pictures fitted into pixel blocks, icons taken
// apart, blocks turned back into bitmaps and icons.
#include "CLeadImage.h"
#include "PictureFiles.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <memory>
#include <thread>

namespace {

const Rgb COLOUR{200, 30, 10};

int paddedRow(int width, int bits) {
    return (width * bits + 31) / 32 * 4;
}

std::string systemProgram(const char* name) {
    char folder[MAX_PATH];
    GetSystemDirectoryA(folder, MAX_PATH);
    return std::string(folder) + "\\" + name;
}

std::string ownProgram() {
    char path[MAX_PATH];
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    return path;
}

class LeadImageTest : public testing::Test {
protected:
    std::string picture(const std::string& name, const std::vector<unsigned char>& bytes) {
        return PictureFiles::writeIn(dir_.path(), name, bytes);
    }

    TempDir dir_;
    CLeadImage loader_;
};

TEST(LeadImageExtension, PictureExtensionsInAnyCase) {
    struct Case {
        const char* path;
        bool picture;
    };
    const Case cases[] = {
        {"C:\\a\\b.JPEG", true}, {"b.Gif", true},        {"x.jpe", true},         {"C:\\p.bmp", true},
        {"q.jpg", true},         {"p.png", false},       {"p.tif", false},        {"noext", false},
        {"", false},             {"C:\\a.bmp\\noext", false}, {"C:\\a.jpg.txt", false}, {"C:\\x\\.gif", true},
        {"p.bmp ", false},       {"p.jpegx", false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.picture, CLeadImage::isConvertibleExt(c.path)) << "[" << c.path << "]";
}

TEST_F(LeadImageTest, ImageFileTest) {
    struct Case {
        const char* name;
        std::vector<unsigned char> bytes;
        bool picture;
    };
    const std::vector<Case> cases = {
        {"empty.bmp", {}, false},
        {"text.jpg", {'j', 'u', 's', 't', ' ', 't', 'e', 'x', 't'}, false},
        {"b24.bmp", PictureFiles::bmp24(7, 5, solid(COLOUR)), true},
        {"b8.bmp", PictureFiles::bmp8(7, 5, solid(COLOUR)), true},
        {"p.gif", PictureFiles::gif(7, 5, solid(COLOUR)), true},
        {"p.jpg", PictureFiles::jpeg(7, 5, solid(COLOUR)), true},
        {"b24.png", PictureFiles::bmp24(7, 5, solid(COLOUR)), false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.picture, CLeadImage::isImageFile(picture(c.name, c.bytes))) << c.name;
    EXPECT_FALSE(CLeadImage::isImageFile(dir_.file("missing.bmp")));

    CTrace::setDumpOn();
    TraceCapture trace;
    EXPECT_FALSE(CLeadImage::isImageFile(dir_.file("text.jpg")));
    CTrace::setDumpOff();
    EXPECT_EQ(1, trace.count("20009")) << trace.text();
}

TEST_F(LeadImageTest, PicturesAreFittedIntoTheRectangle) {
    struct Case {
        int width, height, fittedWidth, fittedHeight;
    };
    const Case cases[] = {
        {640, 480, 120, 90}, {800, 400, 120, 60}, {300, 600, 45, 90}, {10, 10, 90, 90},
        {7, 3, 120, 51},     {1000, 1, 120, 1},   {1, 1000, 1, 90},   {120, 90, 120, 90},
    };
    for (const Case& c : cases) {
        std::string path = picture("fit.bmp", PictureFiles::bmp24(c.width, c.height, solid(COLOUR)));
        int width = 120, height = 90, length = -1;
        std::unique_ptr<unsigned char[]> block(CLeadImage::createDIB(path, &width, &height, &length));
        ASSERT_NE(nullptr, block) << c.width << " x " << c.height;
        EXPECT_EQ(c.fittedWidth, width) << c.width << " x " << c.height;
        EXPECT_EQ(c.fittedHeight, height) << c.width << " x " << c.height;
        EXPECT_EQ(paddedRow(width, 24) * height, length);
    }
    EXPECT_EQ(136, paddedRow(45, 24));
}

TEST_F(LeadImageTest, SolidPictureGivesItsColourInEveryPixel) {
    struct Case {
        const char* name;
        std::vector<unsigned char> bytes;
        int tolerance;
    };
    const std::vector<Case> cases = {
        {"s.bmp", PictureFiles::bmp24(40, 30, solid(COLOUR)), 0},
        {"s8.bmp", PictureFiles::bmp8(45, 30, solid(COLOUR)), 0},
        {"s.gif", PictureFiles::gif(30, 60, solid(COLOUR)), 0},
        {"s.jpg", PictureFiles::jpeg(64, 48, solid(COLOUR)), 3},
    };
    for (const Case& c : cases) {
        int width = 120, height = 90, length = 0;
        std::unique_ptr<unsigned char[]> block(CLeadImage::createDIB(picture(c.name, c.bytes), &width, &height, &length));
        ASSERT_NE(nullptr, block) << c.name;
        int row = paddedRow(width, 24);
        ASSERT_EQ(row * height, length);
        int wrong = 0;
        for (int y = 0; y < height; ++y) {
            const unsigned char* pixels = block.get() + y * row;
            for (int x = 0; x < width; ++x)
                wrong += std::abs(pixels[3 * x] - COLOUR.b) > c.tolerance
                         || std::abs(pixels[3 * x + 1] - COLOUR.g) > c.tolerance
                         || std::abs(pixels[3 * x + 2] - COLOUR.r) > c.tolerance;
            for (int pad = 3 * width; pad < row; ++pad)
                wrong += pixels[pad] != 0;
        }
        EXPECT_EQ(0, wrong) << c.name << " " << width << " x " << height;
    }
}

// Top row red, the rest blue: the block's first row is the picture's top.
TEST_F(LeadImageTest, BlockRowsRunFromTheTopDown) {
    std::string path = picture("rows.bmp", PictureFiles::bmp24(12, 9, [](int, int y) {
        return y < 3 ? Rgb{255, 0, 0} : Rgb{0, 0, 255};
    }));
    int width = 120, height = 90, length = 0;
    std::unique_ptr<unsigned char[]> block(CLeadImage::createDIB(path, &width, &height, &length));
    ASSERT_NE(nullptr, block);
    ASSERT_EQ(120, width);
    const unsigned char* top = block.get();
    const unsigned char* bottom = block.get() + (height - 1) * paddedRow(width, 24);
    EXPECT_EQ(255, top[2]);
    EXPECT_EQ(0, top[0]);
    EXPECT_EQ(255, bottom[0]);
    EXPECT_EQ(0, bottom[2]);
}

TEST_F(LeadImageTest, NoPictureGivesNoBlock) {
    const std::string paths[] = {picture("text.gif", {'G', 'I', 'F', '8'}), dir_.file("missing.jpg"),
                                 picture("empty.bmp", {})};
    for (const std::string& path : paths) {
        int width = 120, height = 90, length = -1;
        EXPECT_EQ(nullptr, CLeadImage::createDIB(path, &width, &height, &length)) << path;
        EXPECT_EQ(0, length);
        EXPECT_EQ(120, width);
        EXPECT_EQ(90, height);
    }
    std::string good = picture("good.bmp", PictureFiles::bmp24(4, 4, solid(COLOUR)));
    for (int side : {0, -1}) {
        int width = side, height = 90, length = -1;
        EXPECT_EQ(nullptr, CLeadImage::createDIB(good, &width, &height, &length));
        EXPECT_EQ(0, length);
    }
}

// The pixel bytes of a bitmap at a depth, read back the block's way (top-down rows).
std::vector<unsigned char> readBack(HBITMAP bitmap, int width, int height, int bits) {
    struct {
        BITMAPINFOHEADER header;
        RGBQUAD colours[256];
    } info{};
    info.header.biSize = sizeof info.header;
    info.header.biWidth = width;
    info.header.biHeight = -height;
    info.header.biPlanes = 1;
    info.header.biBitCount = static_cast<WORD>(bits);
    info.header.biCompression = BI_RGB;
    std::vector<unsigned char> bytes(static_cast<size_t>(paddedRow(width, bits)) * height);
    HDC screen = GetDC(nullptr);
    int rows = GetDIBits(screen, bitmap, 0, height, bytes.data(), reinterpret_cast<BITMAPINFO*>(&info), DIB_RGB_COLORS);
    ReleaseDC(nullptr, screen);
    return rows == height ? bytes : std::vector<unsigned char>();
}

std::vector<unsigned char> patternBlock(int width, int height, int bits) {
    int row = paddedRow(width, bits);
    std::vector<unsigned char> block(static_cast<size_t>(row) * height, 0);
    for (int y = 0; y < height; ++y)
        for (int i = 0; i < width * bits / 8; ++i)
            block[y * row + i] = static_cast<unsigned char>(y * 31 + i * 7 + 1);
    if (bits == 32)
        for (size_t i = 3; i < block.size(); i += 4)
            block[i] = 0;   // a screen bitmap keeps no alpha
    return block;
}

TEST_F(LeadImageTest, BlockBecomesABitmapHoldingTheSameBytes) {
    for (int bits : {24, 32}) {
        for (int width : {45, 1, 120}) {
            const int height = 7;
            std::vector<unsigned char> block = patternBlock(width, height, bits);
            for (int ex = 0; ex < 2; ++ex) {
                HBITMAP bitmap = ex ? CLeadImage::getBitmapHandleEx(block.data(), static_cast<int>(block.size()), width, height,
                                                                    static_cast<short>(bits))
                                    : CLeadImage::getBitmapHandle(block.data(), static_cast<int>(block.size()), width, height,
                                                                  static_cast<short>(bits));
                ASSERT_NE(nullptr, bitmap) << bits << " bits, width " << width;
                BITMAP description;
                ASSERT_NE(0, GetObjectA(bitmap, sizeof description, &description));
                EXPECT_EQ(width, description.bmWidth);
                EXPECT_EQ(height, description.bmHeight);
                std::vector<unsigned char> back = readBack(bitmap, width, height, bits);
                ASSERT_EQ(block.size(), back.size());
                int row = paddedRow(width, bits);
                for (int y = 0; y < height; ++y)
                    EXPECT_EQ(0, std::memcmp(&block[y * row], &back[y * row], static_cast<size_t>(width * bits / 8)))
                        << bits << " bits, width " << width << ", row " << y << (ex ? " (Ex)" : "");
                DeleteObject(bitmap);
            }
        }
    }
}

TEST_F(LeadImageTest, OneBitBlockGivesAMonochromeBitmap) {
    std::vector<unsigned char> block(4 * 32, 0);
    for (size_t i = 0; i < block.size(); ++i)
        block[i] = static_cast<unsigned char>(i % 4 == 0 ? 0xF0 : 0x0F);
    HBITMAP bitmap = CLeadImage::getBitmapHandleEx(block.data(), static_cast<int>(block.size()), 32, 32, 1);
    ASSERT_NE(nullptr, bitmap);
    BITMAP description;
    ASSERT_NE(0, GetObjectA(bitmap, sizeof description, &description));
    EXPECT_EQ(1, description.bmBitsPixel);
    EXPECT_EQ(1, description.bmPlanes);
    DeleteObject(bitmap);
}

TEST_F(LeadImageTest, BlocksThatBreakTheRuleAreRefusedWithAnErrorLine) {
    struct Case {
        const char* name;
        int lengthChange;   // to the rule's length
        bool nullBlock;
        int width, height;
        short bits;
    };
    const Case cases[] = {
        {"one short", -1, false, 45, 9, 24}, {"one long", 1, false, 45, 9, 24}, {"zero", -136 * 9, false, 45, 9, 24},
        {"null block", 0, true, 45, 9, 24},   {"width 0", 0, false, 0, 9, 24},   {"width -1", 0, false, -1, 9, 24},
        {"width 2049", 0, false, 2049, 9, 24}, {"height 0", 0, false, 45, 0, 24}, {"height 2049", 0, false, 4, 2049, 24},
        {"depth 0", 0, false, 45, 9, 0},     {"depth 7", 0, false, 45, 9, 7},   {"depth 64", 0, false, 45, 9, 64},
    };
    std::vector<unsigned char> bytes(64u << 20, 0x5A);
    for (const Case& c : cases) {
        long long ruleLength = c.bits > 0 && c.width > 0 && c.height > 0 ? 1LL * paddedRow(c.width, c.bits) * c.height : 136 * 9;
        int length = static_cast<int>(ruleLength + c.lengthChange);
        const unsigned char* block = c.nullBlock ? nullptr : bytes.data();
        TraceCapture trace;
        EXPECT_EQ(nullptr, CLeadImage::getBitmapHandle(block, length, c.width, c.height, c.bits)) << c.name;
        EXPECT_EQ(nullptr, CLeadImage::getBitmapHandleEx(block, length, c.width, c.height, c.bits)) << c.name;
        EXPECT_EQ(2, trace.count("ERROR: [ CLeadImage ]")) << c.name << ": " << trace.text();
    }
    // The largest sides pass.
    std::vector<unsigned char> largest(static_cast<size_t>(paddedRow(2048, 24)) * 2048);
    HBITMAP bitmap = CLeadImage::getBitmapHandle(largest.data(), static_cast<int>(largest.size()), 2048, 2048, 24);
    EXPECT_NE(nullptr, bitmap);
    DeleteObject(bitmap);
}

// The icon drawn at 32 x 32 onto a background: its pixels, top row first.
std::vector<COLORREF> drawn(HICON icon, COLORREF background) {
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = 32;
    info.bmiHeader.biHeight = -32;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HDC dc = CreateCompatibleDC(nullptr);
    HBITMAP canvas = CreateDIBSection(dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    std::vector<COLORREF> pixels;
    if (canvas != nullptr) {
        HGDIOBJ previous = SelectObject(dc, canvas);
        HBRUSH brush = CreateSolidBrush(background);
        RECT all{0, 0, 32, 32};
        FillRect(dc, &all, brush);
        DeleteObject(brush);
        if (DrawIconEx(dc, 0, 0, icon, 32, 32, 0, nullptr, DI_NORMAL)) {
            GdiFlush();
            auto* p = static_cast<const unsigned char*>(bits);
            for (int i = 0; i < 32 * 32; ++i)
                pixels.push_back(RGB(p[4 * i + 2], p[4 * i + 1], p[4 * i]));
        }
        SelectObject(dc, previous);
        DeleteObject(canvas);
    }
    DeleteDC(dc);
    return pixels;
}

// Rebuilt as the content window does: two bitmaps, the icon, the bitmaps freed.
HICON rebuilt(const unsigned char* image, int imageLength, short imageBits, const unsigned char* mask, int maskLength) {
    HBITMAP colour = CLeadImage::getBitmapHandleEx(image, imageLength, 32, 32, imageBits);
    HBITMAP maskBitmap = CLeadImage::getBitmapHandleEx(mask, maskLength, 32, 32, 1);
    HICON icon = colour != nullptr && maskBitmap != nullptr ? CLeadImage::getIconHandle(colour, maskBitmap, 32, 32)
                                                           : nullptr;
    // The caller's bitmaps are still its own.
    BITMAP description;
    EXPECT_NE(0, GetObjectA(colour, sizeof description, &description));
    EXPECT_NE(0, GetObjectA(maskBitmap, sizeof description, &description));
    DeleteObject(colour);
    DeleteObject(maskBitmap);
    return icon;
}

const COLORREF BACKGROUNDS[] = {RGB(255, 255, 255), RGB(0, 0, 0)};

TEST_F(LeadImageTest, IconOfAProgramAtTheScreensDepthLooksLikeTheShellsOnceRebuilt) {
    std::string notepad = systemProgram("notepad.exe");
    unsigned char* image = nullptr;
    unsigned char* mask = nullptr;
    short imageBits = 0, maskBits = 0;
    int imageLength = CLeadImage::createIconDIBOf(notepad, &image, &imageBits, 32, 32);
    int maskLength = CLeadImage::createIconMaskDIBOf(notepad, &mask, &maskBits, 32, 32);
    std::unique_ptr<unsigned char[]> imageOwner(image), maskOwner(mask);
    ASSERT_NE(nullptr, image);
    ASSERT_NE(nullptr, mask);
    HDC screen = GetDC(nullptr);
    int screenBits = GetDeviceCaps(screen, BITSPIXEL);
    ReleaseDC(nullptr, screen);
    EXPECT_EQ(screenBits, imageBits);
    EXPECT_EQ(32 * paddedRow(32, imageBits), imageLength);
    if (screenBits == 32) {
        EXPECT_EQ(4096, imageLength);
    }
    EXPECT_EQ(1, maskBits);
    EXPECT_EQ(128, maskLength);

    HICON icon = rebuilt(image, imageLength, imageBits, mask, maskLength);
    ASSERT_NE(nullptr, icon);
    // The shell's own icon, resized the same way.
    char buffer[MAX_PATH];
    lstrcpynA(buffer, notepad.c_str(), MAX_PATH);
    WORD index = 0;
    auto original = static_cast<HICON>(CopyImage(ExtractAssociatedIconA(GetModuleHandleA(nullptr), buffer, &index),
                                                 IMAGE_ICON, 32, 32, LR_COPYDELETEORG));
    ASSERT_NE(nullptr, original);
    for (COLORREF background : BACKGROUNDS) {
        std::vector<COLORREF> expected = drawn(original, background);
        ASSERT_EQ(1024u, expected.size());
        EXPECT_EQ(expected, drawn(icon, background));
    }
    DestroyIcon(original);
    DestroyIcon(icon);
}

// An image without alpha is drawn through its mask: where a mask bit is set the background
// shows, elsewhere the image's colour.
TEST_F(LeadImageTest, RebuiltIconShowsTheBackgroundWhereTheMaskBitIsSet) {
    for (short bits : {32, 24}) {
        int row = paddedRow(32, bits);
        std::vector<unsigned char> image(static_cast<size_t>(row) * 32, 0);
        std::vector<unsigned char> mask(128, 0);
        std::vector<bool> set(1024);
        for (int y = 0; y < 32; ++y)
            for (int x = 0; x < 32; ++x) {
                bool transparent = (x + 2 * y) % 5 == 0 || y < 4;
                set[y * 32 + x] = transparent;
                if (transparent) {
                    mask[y * 4 + x / 8] |= static_cast<unsigned char>(0x80 >> (x % 8));
                } else {
                    unsigned char* p = &image[y * row + x * (bits / 8)];
                    p[0] = 10;    // blue
                    p[1] = static_cast<unsigned char>(8 * x);
                    p[2] = 200;   // red
                }
            }
        HICON icon = rebuilt(image.data(), static_cast<int>(image.size()), bits, mask.data(), 128);
        ASSERT_NE(nullptr, icon);
        for (COLORREF background : BACKGROUNDS) {
            std::vector<COLORREF> pixels = drawn(icon, background);
            ASSERT_EQ(1024u, pixels.size());
            int wrong = 0;
            for (int i = 0; i < 1024; ++i)
                wrong += pixels[i] != (set[i] ? background : RGB(200, 8 * (i % 32), 10));
            EXPECT_EQ(0, wrong) << bits << " bits over " << std::hex << background;
        }
        DestroyIcon(icon);
    }
}

// An .exe without icon resources has no associated icon under Wine: no block, and the
// process goes on.
TEST_F(LeadImageTest, ProgramWithoutIconGivesLengthZero) {
    for (int part : {0, 1}) {
        unsigned char* block = reinterpret_cast<unsigned char*>(1);
        short bits = -1;
        EXPECT_EQ(0, CLeadImage::createIconDIB(ownProgram(), &block, &bits, part, 32, 32));
        EXPECT_EQ(nullptr, block);
    }
    unsigned char* block = nullptr;
    short bits = 0;
    EXPECT_EQ(0, CLeadImage::createIconDIB(dir_.file(std::string(300, 'x') + ".exe"), &block, &bits, 0, 32, 32));
    EXPECT_EQ(nullptr, block);
}

TEST_F(LeadImageTest, IconFromAMaskThatIsNoBitmapIsNone) {
    HBITMAP colour = CreateBitmap(32, 32, 1, 32, nullptr);
    EXPECT_EQ(nullptr, CLeadImage::getIconHandle(colour, nullptr, 32, 32));
    DeleteObject(colour);
}

// Element threads and the UI thread call the loader at once: every call still gets its own
// picture whole.
TEST_F(LeadImageTest, CallsFromSeveralThreadsAtOnce) {
    std::string wide = picture("wide.bmp", PictureFiles::bmp24(800, 400, solid(COLOUR)));
    std::string tall = picture("tall.gif", PictureFiles::gif(30, 60, solid(Rgb{1, 2, 3})));
    std::string text = picture("text.jpg", {'n', 'o'});
    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 6; ++t)
        threads.emplace_back([&, t] {
            for (int i = 0; i < 30; ++i) {
                bool isWide = (t + i) % 2 == 0;
                int width = 120, height = 90, length = 0;
                std::unique_ptr<unsigned char[]> block(
                    CLeadImage::createDIB(isWide ? wide : tall, &width, &height, &length));
                const unsigned char first = isWide ? COLOUR.b : 3;
                if (block == nullptr || width != (isWide ? 120 : 45) || height != (isWide ? 60 : 90)
                    || length != paddedRow(width, 24) * height || block[0] != first
                    || block[length - paddedRow(width, 24)] != first)
                    ++wrong;
                HBITMAP bitmap = block ? CLeadImage::getBitmapHandle(block.get(), length, width, height, 24) : nullptr;
                if (bitmap == nullptr)
                    ++wrong;
                DeleteObject(bitmap);
                if (CLeadImage::isImageFile(text) || !CLeadImage::isImageFile(tall))
                    ++wrong;
            }
        });
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_EQ(0, wrong.load());
}

TEST(LeadImageInstance, OperationsBeforeTheLoaderExistsEndTheProcess) {
    if (isChild()) {
        childTracesToFile(false);
        CLeadImage::isImageFile("C:\\a.bmp");
        exit(0);
    }
    TempDir dir;
    EXPECT_NE(0, runInChild(dir));
    EXPECT_TRUE(hasLineWith(dir.logLines(), "ASSERT: ")) << testing::PrintToString(dir.logLines());
}

TEST(LeadImageInstance, HostWindowIsHiddenWithoutStyleBits) {
    CLeadImage loader;
    HWND host = findOwnWindow(nullptr, "LEADTOOLS OCX Container");
    ASSERT_NE(nullptr, host);
    // Asked for at 1 x 1; the system gives a window without style bits a caption, and the
    // least size a captioned window has.
    EXPECT_EQ(0u, static_cast<DWORD>(GetWindowLongA(host, GWL_STYLE)) & (WS_VISIBLE | WS_CHILD | WS_POPUP));
    EXPECT_FALSE(IsWindowVisible(host));
    EXPECT_EQ(static_cast<DWORD>(CS_GLOBALCLASS), GetClassLongA(host, GCL_STYLE) & CS_GLOBALCLASS);
    EXPECT_EQ(0u, static_cast<DWORD>(GetWindowLongA(host, GWL_EXSTYLE)) & ~WS_EX_WINDOWEDGE);
}

}  // namespace
