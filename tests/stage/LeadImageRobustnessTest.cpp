// Corrupted pixel blocks (as peers could send them) and corrupted picture files: the loader
// never reads past a block, makes a bitmap exactly when the block obeys the rule, and gives a
// picture file's block only in the rule's length. Deterministic; the seed is printed.
#include "CLeadImage.h"
#include "Corruptions.h"
#include "GuardedBlock.h"
#include "PictureFiles.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

#include <chrono>
#include <climits>
#include <cstdint>
#include <memory>

namespace {

const int BLOCK_CASES = 100000;
const int FILE_CASES = 1000;
// Far above what a run takes; a run that gets there has gone wrong.
const std::chrono::seconds TIME_LIMIT(240);
// Bigger blocks are made rarely: copying them into guarded pages is what costs.
const long long LARGE_BLOCK = 64 * 1024;

long long ruleLength(int width, int height, int bits) {
    return (static_cast<long long>(width) * bits + 31) / 32 * 4 * height;
}

int side(SeededRandom& random) {
    static const int odd[] = {0, -1, 1, 2, 2047, 2048, 2049, 4096, -2048, INT_MAX, INT_MIN, 65536};
    int pick = random.below(100);
    if (pick < 70)
        return random.between(1, 64);
    if (pick < 85)
        return odd[random.below(sizeof odd / sizeof odd[0])];
    return random.between(1, 2100);
}

short depth(SeededRandom& random) {
    static const short good[] = {1, 4, 8, 16, 24, 32};
    static const short bad[] = {0, 2, 3, 7, 12, 15, 31, 33, 48, 64, -24, 255, -1};
    if (random.below(100) < 85)
        return good[random.below(6)];
    return bad[random.below(sizeof bad / sizeof bad[0])];
}

bool obeysRule(bool present, long long length, int width, int height, short bits) {
    return present && width >= 1 && width <= 2048 && height >= 1 && height <= 2048
           && (bits == 1 || bits == 4 || bits == 8 || bits == 16 || bits == 24 || bits == 32)
           && length == ruleLength(width, height, bits);
}

TEST(LeadImageRobustness, CorruptedBlocksGiveABitmapExactlyWhenTheyObeyTheRule) {
    SeededRandom random;
    CLeadImage loader;
    CTrace::setDumpOff();
    TraceCapture trace;   // the refusals' error lines
    auto began = std::chrono::steady_clock::now();
    int made = 0;
    for (int i = 0; i < BLOCK_CASES; ++i) {
        int width = side(random);
        int height = side(random);
        short bits = depth(random);
        long long rule = bits > 0 && width > 0 && height > 0 ? ruleLength(width, height, bits) : random.below(4096);
        long long length = rule;
        int change = random.below(100);
        if (change >= 60 && change < 75)
            length += random.between(-8, 8);
        else if (change >= 75 && change < 80)
            length = 0;
        else if (change >= 80 && change < 85)
            length = -random.between(1, 100000);
        else if (change >= 85)
            length = random.below(8192);
        if (length > LARGE_BLOCK && random.below(200) != 0)
            length = random.below(4096);   // most large ones shrink to a short block
        if (length > INT_MAX)
            length = INT_MAX;
        bool present = random.below(50) != 0;
        std::vector<unsigned char> bytes(static_cast<size_t>(std::max(0LL, length)));
        for (auto& b : bytes)
            b = static_cast<unsigned char>(random.next());
        GuardedBlock guarded(bytes);
        const unsigned char* block = present ? guarded.data() : nullptr;
        bool expected = obeysRule(present, length, width, height, bits);
        for (int ex = 0; ex < 2; ++ex) {
            HBITMAP bitmap = ex ? CLeadImage::getBitmapHandleEx(block, static_cast<int>(length), width, height, bits)
                                : CLeadImage::getBitmapHandle(block, static_cast<int>(length), width, height, bits);
            ASSERT_EQ(expected, bitmap != nullptr) << "case " << i << ": " << width << " x " << height << " at "
                                                   << bits << ", " << length << " bytes" << (present ? "" : ", null");
            if (bitmap != nullptr) {
                ++made;
                DeleteObject(bitmap);
            }
        }
        if (i % 1000 == 0) {
            trace.clear();
            ASSERT_LT(std::chrono::steady_clock::now() - began, TIME_LIMIT) << "after " << i << " cases";
        }
    }
    std::cerr << made << " bitmaps made" << std::endl;
    EXPECT_GT(made, BLOCK_CASES / 2);
}

TEST(LeadImageRobustness, CorruptedPictureFilesGiveNoneOrABlockOfTheRulesLength) {
    SeededRandom random;
    TempDir dir;
    CLeadImage loader;
    CTrace::setDumpOff();
    TraceCapture trace;
    auto pattern = [](int x, int y) { return Rgb{static_cast<unsigned char>(x * 10), static_cast<unsigned char>(y * 13), 90}; };
    struct Source {
        const char* name;
        std::vector<unsigned char> bytes;
    };
    const Source sources[] = {
        {"c.bmp", PictureFiles::bmp24(24, 18, pattern)},
        {"c8.bmp", PictureFiles::bmp8(24, 18, pattern)},
        {"c.gif", PictureFiles::gif(24, 18, pattern)},
        {"c.jpg", PictureFiles::jpeg(24, 18, pattern)},
    };
    for (const Source& source : sources)
        ASSERT_FALSE(source.bytes.empty()) << source.name;
    auto began = std::chrono::steady_clock::now();
    int pictures = 0, blocks = 0;
    for (int i = 0; i < FILE_CASES; ++i) {
        const Source& source = sources[i % 4];
        std::string path = PictureFiles::writeIn(dir.path(), source.name, corruptPicture(source.bytes, random));
        // A file the decoder kept open could not be written again.
        ASSERT_FALSE(path.empty()) << "case " << i << ": error " << GetLastError();
        pictures += CLeadImage::isImageFile(path);
        int width = 120, height = 90, length = -1;
        std::unique_ptr<unsigned char[]> block(CLeadImage::createDIB(path, &width, &height, &length));
        if (block == nullptr) {
            EXPECT_EQ(0, length) << "case " << i;
        } else {
            ++blocks;
            EXPECT_TRUE(width >= 1 && width <= 120 && height >= 1 && height <= 90 && (width == 120 || height == 90))
                << "case " << i << ": " << width << " x " << height;
            EXPECT_EQ(ruleLength(width, height, 24), length) << "case " << i;
        }
        trace.clear();
        ASSERT_LT(std::chrono::steady_clock::now() - began, TIME_LIMIT) << "after " << i << " files";
    }
    std::cerr << pictures << " taken for pictures, " << blocks << " blocks made" << std::endl;
}

}  // namespace
