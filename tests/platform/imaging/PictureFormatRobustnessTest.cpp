// The structure check reads files that may come from peers: 100,000 corrupted BMP, GIF and JPEG
// files, each in guarded memory of exactly its length, never make it read past the end; every
// file it takes is one the decoder then reads. Deterministic; the seed is printed.
#include "CLead.h"
#include "CPictureFormat.h"
#include "Corruptions.h"
#include "GuardedBlock.h"
#include "PictureFiles.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

#include <chrono>

namespace {

const int CASES = 100000;
const std::chrono::seconds TIME_LIMIT(200);
// Every this many cases a taken file also goes through the decoder.
const int DECODE_EVERY = 50;

TEST(PictureFormatRobustness, CorruptedFilesAreCheckedInsideWhatArrived) {
    SeededRandom random;
    auto pattern = [](int x, int y) { return Rgb{static_cast<unsigned char>(x * 7), static_cast<unsigned char>(y * 5), 40}; };
    const std::vector<unsigned char> sources[] = {
        PictureFiles::bmp24(20, 15, pattern), PictureFiles::bmp8(20, 15, pattern),
        PictureFiles::gif(20, 15, pattern), PictureFiles::jpeg(20, 15, pattern)};
    TempDir dir;
    CLead lead;
    auto began = std::chrono::steady_clock::now();
    int taken = 0, decoded = 0;
    for (int i = 0; i < CASES; ++i) {
        std::vector<unsigned char> bytes = corruptPicture(sources[i % 4], random);
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
        if (i % 1000 == 0) {
            ASSERT_LT(std::chrono::steady_clock::now() - began, TIME_LIMIT) << "after " << i << " cases";
        }
    }
    std::cout << taken << " taken, " << decoded << " of the sampled decoded" << std::endl;
    EXPECT_GT(taken, 0);
}

}  // namespace
