// The structure check reads files that may come from peers: 100,000 corrupted BMP, GIF and JPEG
// files, each in guarded memory of exactly its length, never make it read past the end; every
// file it takes is one the decoder then reads. Deterministic; the seed is printed.
#include "CLead.h"
#include "CPictureFormat.h"
#include "GuardedBlock.h"
#include "PictureFiles.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>

namespace {

const int CASES = 100000;
const std::chrono::seconds TIME_LIMIT(200);
// Every this many cases a taken file also goes through the decoder.
const int DECODE_EVERY = 50;

class Random {
public:
    explicit Random(uint32_t seed) : state_(seed) {}
    uint32_t next() {
        state_ = state_ * 1664525u + 1013904223u;
        return state_ >> 8;
    }
    size_t below(size_t limit) { return limit == 0 ? 0 : next() % limit; }

private:
    uint32_t state_;
};

uint32_t seed() {
    const char* given = getenv("TAVELIN_SEED");
    return given != nullptr ? static_cast<uint32_t>(strtoul(given, nullptr, 10)) : 20261211u;
}

std::vector<unsigned char> corrupt(std::vector<unsigned char> bytes, Random& random) {
    switch (random.below(5)) {
    case 0:
        bytes.resize(random.below(bytes.size() + 1));
        break;
    case 1:
        for (size_t n = 1 + random.below(4); n > 0; --n)
            bytes[random.below(std::min<size_t>(bytes.size(), 64))] = static_cast<unsigned char>(random.next());
        break;
    case 2: {
        static const uint32_t huge[] = {0xFFFFFFFFu, 0x7FFFFFFFu, 0x80000000u, 0x00010000u, 0xFFFFu, 0};
        uint32_t value = huge[random.below(6)];
        size_t at = random.below(std::min<size_t>(bytes.size(), 800));
        for (size_t i = 0; i < 4 && at + i < bytes.size(); ++i)
            bytes[at + i] = static_cast<unsigned char>(value >> (8 * i));
        break;
    }
    case 3:
        for (size_t n = 1 + random.below(8); n > 0; --n)
            bytes[random.below(bytes.size())] ^= static_cast<unsigned char>(1u << random.below(8));
        break;
    default:
        bytes.resize(bytes.size() + random.below(64), static_cast<unsigned char>(random.next()));
        break;
    }
    return bytes;
}

TEST(PictureFormatRobustness, CorruptedFilesAreCheckedInsideWhatArrived) {
    uint32_t start = seed();
    std::cout << "seed " << start << " (TAVELIN_SEED)" << std::endl;
    Random random(start);
    auto pattern = [](int x, int y) { return Rgb{static_cast<unsigned char>(x * 7), static_cast<unsigned char>(y * 5), 40}; };
    const std::vector<unsigned char> sources[] = {
        PictureFiles::bmp24(20, 15, pattern), PictureFiles::bmp8(20, 15, pattern),
        PictureFiles::gif(20, 15, pattern), PictureFiles::jpeg(20, 15, pattern)};
    TempDir dir;
    CLead lead;
    auto began = std::chrono::steady_clock::now();
    int taken = 0, decoded = 0;
    for (int i = 0; i < CASES; ++i) {
        std::vector<unsigned char> bytes = corrupt(sources[i % 4], random);
        bool wellFormed;
        {
            GuardedBlock guarded(bytes);
            wellFormed = CPictureFormat::isWellFormed(guarded.data(), static_cast<size_t>(guarded.size()));
        }
        taken += wellFormed;
        if (wellFormed && i % DECODE_EVERY == 0) {
            std::string path = PictureFiles::writeIn(dir.path(), "r.pic", bytes);
            ASSERT_FALSE(path.empty());
            decoded += lead.GetFileInfo(path.c_str(), 0) == CLead::SUCCESS;
        }
        if (i % 1000 == 0)
            ASSERT_LT(std::chrono::steady_clock::now() - began, TIME_LIMIT) << "after " << i << " cases";
    }
    std::cout << taken << " taken, " << decoded << " of the sampled decoded" << std::endl;
    EXPECT_GT(taken, 0);
}

}  // namespace
