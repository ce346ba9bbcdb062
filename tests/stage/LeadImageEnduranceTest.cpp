// Every loader operation many times over: a Wine process has 65,480 GDI handles, so two
// objects left behind a round end the run before 33,000 rounds.
#include "CLeadImage.h"
#include "PictureFiles.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

#include <functional>

namespace {

const int ROUNDS = 33000;

std::string notepad() {
    char folder[MAX_PATH];
    GetSystemDirectoryA(folder, MAX_PATH);
    return std::string(folder) + "\\notepad.exe";
}

struct Operation {
    const char* name;
    // One round; false when it did not give what it gives the first time.
    std::function<bool(const std::string& picture)> round;
};

void PrintTo(const Operation& operation, std::ostream* out) {
    *out << operation.name;
}

class LeadImageEndurance : public testing::TestWithParam<Operation> {};

TEST_P(LeadImageEndurance, RunsThirtyThreeThousandTimesAndGdiStillMakesBitmaps) {
    TempDir dir;
    CLeadImage loader;
    std::string picture = PictureFiles::writeIn(dir.path(), "small.bmp", PictureFiles::bmp24(8, 6, solid({1, 2, 3})));
    ASSERT_FALSE(picture.empty());
    CTrace::setDumpOff();
    for (int i = 0; i < ROUNDS; ++i)
        ASSERT_TRUE(GetParam().round(picture)) << "round " << i;
    HBITMAP probe = CreateBitmap(16, 16, 1, 32, nullptr);
    EXPECT_NE(nullptr, probe);
    DeleteObject(probe);
}

bool iconRound(int part) {
    unsigned char* block = nullptr;
    short bits = 0;
    int length = CLeadImage::createIconDIB(notepad(), &block, &bits, part, 32, 32);
    delete[] block;
    return length > 0;
}

bool bitmapRound(bool ex, short bits) {
    static std::vector<unsigned char> block(static_cast<size_t>((45 * 32 + 31) / 32 * 4) * 9, 0x3C);
    int length = (45 * bits + 31) / 32 * 4 * 9;
    HBITMAP bitmap = ex ? CLeadImage::getBitmapHandleEx(block.data(), length, 45, 9, bits)
                        : CLeadImage::getBitmapHandle(block.data(), length, 45, 9, bits);
    return bitmap != nullptr && DeleteObject(bitmap);
}

bool iconHandleRound() {
    static HBITMAP colour = CreateBitmap(32, 32, 1, 32, nullptr);
    static HBITMAP mask = CreateBitmap(32, 32, 1, 1, nullptr);
    static HBITMAP colourMask = CreateBitmap(32, 32, 1, 32, nullptr);   // made monochrome each round
    HICON icon = CLeadImage::getIconHandle(colour, mask, 32, 32);
    HICON second = CLeadImage::getIconHandle(colour, colourMask, 32, 32);
    bool made = icon != nullptr && second != nullptr;
    DestroyIcon(icon);
    DestroyIcon(second);
    return made;
}

char ownPath[MAX_PATH];

INSTANTIATE_TEST_SUITE_P(
    Table, LeadImageEndurance,
    testing::Values(
        Operation{"isImageFile", [](const std::string& p) { return CLeadImage::isImageFile(p); }},
        Operation{"createDIB",
                  [](const std::string& p) {
                      int width = 120, height = 90, length = 0;
                      unsigned char* block = CLeadImage::createDIB(p, &width, &height, &length);
                      delete[] block;
                      return length == 360 * 90;
                  }},
        Operation{"createIconDIBImage", [](const std::string&) { return iconRound(0); }},
        Operation{"createIconDIBMask", [](const std::string&) { return iconRound(1); }},
        Operation{"createIconDIBWithoutIcon",
                  [](const std::string&) {
                      if (ownPath[0] == '\0')
                          GetModuleFileNameA(nullptr, ownPath, MAX_PATH);
                      unsigned char* block = nullptr;
                      short bits = 0;
                      return CLeadImage::createIconDIB(ownPath, &block, &bits, 0, 32, 32) == 0;
                  }},
        Operation{"getBitmapHandle", [](const std::string&) { return bitmapRound(false, 24); }},
        Operation{"getBitmapHandleExMonochrome", [](const std::string&) { return bitmapRound(true, 1); }},
        Operation{"getBitmapHandleExColour", [](const std::string&) { return bitmapRound(true, 32); }},
        Operation{"getIconHandle", [](const std::string&) { return iconHandleRound(); }}),
    [](const testing::TestParamInfo<Operation>& info) { return std::string(info.param.name); });

}  // namespace
