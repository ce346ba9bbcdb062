// Corrupted pixel blocks (as peers could send them) and corrupted picture files: the loader
// never reads past a block, makes a bitmap exactly when the block obeys the rule, and gives a
// picture file's block only in the rule's length. Deterministic; the seed is printed.
#include "CLeadImage.h"
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

class Random {
public:
    explicit Random(uint32_t seed) : state_(seed) {}
    uint32_t next() {
        state_ = state_ * 1664525u + 1013904223u;
        return state_ >> 8;
    }
    int below(int limit) { return static_cast<int>(next() % static_cast<uint32_t>(limit)); }
    int between(int low, int high) { return low + below(high - low + 1); }

private:
    uint32_t state_;
};

uint32_t seed() {
    const char* given = getenv("TAVELIN_SEED");
    return given != nullptr ? static_cast<uint32_t>(strtoul(given, nullptr, 10)) : 20261211u;
}

long long ruleLength(int width, int height, int bits) {
    return (static_cast<long long>(width) * bits + 31) / 32 * 4 * height;
}

int side(Random& random) {
    static const int odd[] = {0, -1, 1, 2, 2047, 2048, 2049, 4096, -2048, INT_MAX, INT_MIN, 65536};
    int pick = random.below(100);
    if (pick < 70)
        return random.between(1, 64);
    if (pick < 85)
        return odd[random.below(sizeof odd / sizeof odd[0])];
    return random.between(1, 2100);
}

short depth(Random& random) {
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
    uint32_t start = seed();
    std::cout << "seed " << start << " (TAVELIN_SEED)" << std::endl;
    Random random(start);
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

void putUInt32(std::vector<unsigned char>& bytes, size_t at, uint32_t value) {
    for (size_t i = 0; i < 4 && at + i < bytes.size(); ++i)
        bytes[at + i] = static_cast<unsigned char>(value >> (8 * i));
}

std::vector<unsigned char> corrupted(const std::vector<unsigned char>& file, Random& random) {
    std::vector<unsigned char> bytes = file;
    switch (random.below(5)) {
    case 0:   // truncated
        bytes.resize(static_cast<size_t>(random.below(static_cast<int>(bytes.size()))));
        break;
    case 1:   // a few bytes of the headers changed
        for (int c = 1 + random.below(3); c > 0; --c)
            bytes[static_cast<size_t>(random.below(std::min<int>(64, static_cast<int>(bytes.size()))))] =
                static_cast<unsigned char>(random.next());
        break;
    case 2: {   // a size or offset field made large
        static const uint32_t huge[] = {0xFFFFFFFFu, 0x7FFFFFFFu, 0x80000000u, 0x00010000u, 0xFFFFu, 0};
        putUInt32(bytes, static_cast<size_t>(random.below(40)), huge[random.below(6)]);
        break;
    }
    case 3:   // bytes anywhere
        for (int c = 1 + random.below(8); c > 0; --c)
            bytes[static_cast<size_t>(random.below(static_cast<int>(bytes.size())))] ^=
                static_cast<unsigned char>(1 << random.below(8));
        break;
    default:   // a run of random bytes
        for (size_t at = static_cast<size_t>(random.below(static_cast<int>(bytes.size()))), n = 0;
             at < bytes.size() && n < 32; ++at, ++n)
            bytes[at] = static_cast<unsigned char>(random.next());
        break;
    }
    return bytes;
}

TEST(LeadImageRobustness, CorruptedPictureFilesGiveNoneOrABlockOfTheRulesLength) {
    uint32_t start = seed();
    std::cout << "seed " << start << " (TAVELIN_SEED)" << std::endl;
    Random random(start);
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
        std::string path = PictureFiles::writeIn(dir.path(), source.name, corrupted(source.bytes, random));
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
