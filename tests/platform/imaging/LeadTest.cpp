// The imaging control's layer: which files it reads, and the packed form it hands out.
#include "CLead.h"
#include "PictureFiles.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace {

const Rgb TOP{250, 0, 0};
const Rgb REST{0, 0, 250};

// A top row of its own colour shows the row order of what comes back.
Rgb topRow(int, int y) {
    return y == 0 ? TOP : REST;
}

// The top half in one colour: JPEG keeps the rows far from the edge.
Rgb topHalf(int, int y) {
    return y < 8 ? TOP : REST;
}

class LeadTest : public testing::Test {
protected:
    std::string picture(const std::string& name, const std::vector<unsigned char>& bytes) {
        return PictureFiles::writeIn(dir_.path(), name, bytes);
    }

    TempDir dir_;
    CLead lead_;
};

TEST_F(LeadTest, FileInfoTellsReadablePicturesFromTheRest) {
    struct Case {
        const char* name;
        std::vector<unsigned char> bytes;
        short expected;
    };
    std::vector<unsigned char> text = {'n', 'o', ' ', 'p', 'i', 'c', 't', 'u', 'r', 'e', '\n'};
    std::vector<unsigned char> bmp = PictureFiles::bmp24(5, 3, topRow);
    // A segment that claims to run past the end: Wine's decoder faults on it.
    std::vector<unsigned char> longSegment = PictureFiles::jpeg(5, 3, topRow);
    longSegment[4] = longSegment[5] = 0xFF;
    std::vector<Case> cases = {
        {"a.bmp", bmp, CLead::SUCCESS},
        {"b.bmp", PictureFiles::bmp8(5, 3, topRow), CLead::SUCCESS},
        {"c.gif", PictureFiles::gif(5, 3, topRow), CLead::SUCCESS},
        {"d.jpg", PictureFiles::jpeg(5, 3, topRow), CLead::SUCCESS},
        {"empty.bmp", {}, CLead::ERROR_INVALID_FILE_FORMAT},
        {"text.jpg", text, CLead::ERROR_INVALID_FILE_FORMAT},
        {"half.bmp", std::vector<unsigned char>(bmp.begin(), bmp.begin() + 20), CLead::ERROR_INVALID_FILE_FORMAT},
        {"long.jpg", longSegment, CLead::ERROR_INVALID_FILE_FORMAT},
        {"png.bmp", {0x89, 'P', 'N', 'G', 13, 10, 26, 10, 0, 0, 0, 13}, CLead::ERROR_INVALID_FILE_FORMAT},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.expected, lead_.GetFileInfo(picture(c.name, c.bytes).c_str(), 0)) << c.name;
    EXPECT_EQ(CLead::ERROR_INVALID_FILE_FORMAT, lead_.GetFileInfo(dir_.file("missing.bmp").c_str(), 0));
    EXPECT_EQ(CLead::ERROR_INVALID_FILE_FORMAT, lead_.GetFileInfo(dir_.path().c_str(), 0));
    EXPECT_EQ(CLead::ERROR_INVALID_FILE_FORMAT, lead_.GetFileInfo("", 0));
}

// Refused files stay free: the user's file can be written and removed after a failed test.
TEST_F(LeadTest, RefusedFilesAreNotKeptOpen) {
    std::vector<unsigned char> bmp = PictureFiles::bmp8(24, 18, topRow);
    int refused = 0;
    for (size_t cut = 0; cut < bmp.size(); cut += 7) {
        for (int variant = 0; variant < 2; ++variant) {
            std::vector<unsigned char> bytes(bmp.begin(), bmp.begin() + cut);
            if (variant == 1) {
                bytes = bmp;
                bytes[cut] ^= 0xFF;
            }
            std::string path = picture("r.bmp", bytes);
            ASSERT_FALSE(path.empty()) << cut << " / " << variant;
            refused += lead_.GetFileInfo(path.c_str(), 0) != CLead::SUCCESS;
            lead_.Load(path.c_str(), 24, 0, -1);
            ASSERT_TRUE(DeleteFileA(path.c_str())) << cut << " / " << variant << ": error " << GetLastError();
        }
    }
    EXPECT_GT(refused, 0);
}

// The packed form: header of 40 bytes, positive height (bottom row first), BI_RGB, 24 bits,
// rows padded to 4 bytes, the pixels right behind the header.
TEST_F(LeadTest, GetDibHandsOutTheHeldPictureBottomRowFirst) {
    const char* const names[] = {"p.bmp", "p.gif", "p.jpg"};
    std::vector<unsigned char> files[] = {PictureFiles::bmp24(5, 16, topHalf), PictureFiles::gif(5, 16, topHalf),
                                          PictureFiles::jpeg(5, 16, topHalf)};
    for (int i = 0; i < 3; ++i) {
        ASSERT_EQ(CLead::SUCCESS, lead_.Load(picture(names[i], files[i]).c_str(), 24, 0, -1)) << names[i];
        for (int round = 0; round < 2; ++round) {   // the picture stays held
            HGLOBAL memory = lead_.GetDIB();
            ASSERT_NE(nullptr, memory);
            auto* header = static_cast<BITMAPINFOHEADER*>(GlobalLock(memory));
            ASSERT_NE(nullptr, header);
            EXPECT_EQ(40u, header->biSize);
            EXPECT_EQ(5, header->biWidth);
            EXPECT_EQ(16, header->biHeight);
            EXPECT_EQ(1, header->biPlanes);
            EXPECT_EQ(24, header->biBitCount);
            EXPECT_EQ(static_cast<DWORD>(BI_RGB), header->biCompression);
            EXPECT_EQ(0u, header->biClrUsed);
            const int stride = 16;
            EXPECT_GE(GlobalSize(memory), 40u + stride * 16);
            auto* rows = reinterpret_cast<unsigned char*>(header + 1);
            int tolerance = i == 2 ? 24 : 0;   // JPEG loses a little of saturated colours
            for (int x = 0; x < 5; ++x) {
                const unsigned char* top = rows + 15 * stride + 3 * x;
                const unsigned char* bottom = rows + 3 * x;
                EXPECT_NEAR(TOP.r, top[2], tolerance) << names[i];
                EXPECT_NEAR(TOP.b, top[0], tolerance) << names[i];
                EXPECT_NEAR(REST.b, bottom[0], tolerance) << names[i];
                EXPECT_NEAR(REST.r, bottom[2], tolerance) << names[i];
            }
            GlobalUnlock(memory);
            EXPECT_EQ(nullptr, GlobalFree(memory));
        }
    }
}

TEST_F(LeadTest, NothingIsHeldBeforeALoadOrAfterAFailedOne) {
    EXPECT_EQ(nullptr, lead_.GetDIB());
    std::string good = picture("good.bmp", PictureFiles::bmp24(4, 4, topRow));
    ASSERT_EQ(CLead::SUCCESS, lead_.Load(good.c_str(), 24, 0, -1));
    EXPECT_EQ(CLead::ERROR_INVALID_FILE_FORMAT, lead_.Load(dir_.file("missing.gif").c_str(), 24, 0, -1));
    EXPECT_EQ(nullptr, lead_.GetDIB());
    ASSERT_EQ(CLead::SUCCESS, lead_.Load(good.c_str(), 24, 0, -1));
    EXPECT_EQ(CLead::ERROR_INVALID_BITS_PER_PIXEL, lead_.Load(good.c_str(), 8, 0, -1));
    EXPECT_EQ(nullptr, lead_.GetDIB());
}

TEST_F(LeadTest, PropertiesAreAcceptedAndTheSiteIsAChildOfItsHost) {
    CWnd host;
    ASSERT_TRUE(host.CreateEx(0, nullptr, "host", 0, 0, 0, 1, 1, nullptr, nullptr));
    RECT area{0, 0, 1, 1};
    ASSERT_TRUE(lead_.Create("", 0, area, &host, 0));
    lead_.SetShortProperty56(3);
    lead_.SetBoolProperty20(FALSE);
    EXPECT_EQ(host.GetSafeHwnd(), GetParent(lead_.GetSafeHwnd()));
    EXPECT_FALSE(IsWindowVisible(lead_.GetSafeHwnd()));
    std::string path = picture("after.bmp", PictureFiles::bmp24(2, 2, topRow));
    EXPECT_EQ(CLead::SUCCESS, lead_.GetFileInfo(path.c_str(), 0));
}

// The loader tests files from element threads while another thread loads: the layer
// serialises itself.
TEST_F(LeadTest, FileTestsFromManyThreadsBesideLoads) {
    std::string bmp = picture("t.bmp", PictureFiles::bmp24(64, 48, topRow));
    std::string gif = picture("t.gif", PictureFiles::gif(64, 48, topRow));
    std::string text = picture("t.jpg", {'x', 'y', 'z'});
    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t)
        threads.emplace_back([&, t] {
            for (int i = 0; i < 40; ++i) {
                if (t == 0) {
                    if (lead_.Load((i % 2 ? bmp : gif).c_str(), 24, 0, -1) != CLead::SUCCESS)
                        ++wrong;
                    HGLOBAL memory = lead_.GetDIB();
                    if (memory == nullptr)
                        ++wrong;
                    else
                        GlobalFree(memory);
                } else {
                    if (lead_.GetFileInfo((t % 2 ? bmp : gif).c_str(), 0) != CLead::SUCCESS)
                        ++wrong;
                    if (lead_.GetFileInfo(text.c_str(), 0) != CLead::ERROR_INVALID_FILE_FORMAT)
                        ++wrong;
                }
            }
        });
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_EQ(0, wrong.load());
}

}  // namespace
