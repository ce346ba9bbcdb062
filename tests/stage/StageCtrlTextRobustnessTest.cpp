// The location texts the content and cursor windows read, which come from peers: corrupted
// texts that end at a guard page are read within their bytes, and what is taken is a point.
// Deterministic: the seed is printed.
#include "CContentCtrl.h"
#include "GuardedBlock.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <string>
#include <vector>

namespace {

const unsigned SEED = 20261211;
const int CASES = 100000;
const DWORD TIME_LIMIT_MS = 120000;

} // namespace

TEST(LocationTextRobustness, CorruptedTextsAreReadInsideTheirBytesAndGiveAPointOrNothing)
{
    printf("seed %u\n", SEED);
    const std::vector<std::string> bases = {"10 20", "-5 7", "0 0", "2147483647 -2147483648", "799 399"};
    const char alphabet[] = "0123456789- +x\t\0";
    std::mt19937 random(SEED);
    const DWORD start = GetTickCount();
    int taken = 0;
    for (int i = 0; i < CASES; ++i) {
        std::string text = bases[random() % bases.size()];
        const int edits = 1 + static_cast<int>(random() % 4);
        for (int e = 0; e < edits; ++e) {
            const size_t at = text.empty() ? 0 : random() % (text.size() + 1);
            switch (random() % 4) {
            case 0: if (!text.empty()) text.erase(std::min(at, text.size() - 1), 1); break;
            case 1: text.insert(at, 1, alphabet[random() % (sizeof alphabet - 1)]); break;
            case 2: if (at < text.size()) text[at] = alphabet[random() % (sizeof alphabet - 1)]; break;
            default: text.resize(at); break;
            }
        }
        GuardedBlock block(std::vector<unsigned char>(text.begin(), text.end()));
        POINT point = {-7, -7};
        const bool read = CContentCtrl::parseLocationText(
            std::string_view(reinterpret_cast<const char*>(block.data()), static_cast<size_t>(block.size())), &point);
        if (read) {
            ++taken;
            // Only digits, minus signs and the one blank; the point is the text's numbers.
            ASSERT_EQ(std::string::npos, text.find_first_not_of("0123456789- ")) << text;
            ASSERT_EQ(text.find(' '), text.rfind(' ')) << text;
            ASSERT_EQ(std::stoll(text.substr(0, text.find(' '))), point.x) << text;
            ASSERT_EQ(std::stoll(text.substr(text.find(' ') + 1)), point.y) << text;
        } else {
            ASSERT_EQ(-7, point.x) << text;
            ASSERT_EQ(-7, point.y) << text;
        }
        ASSERT_LT(GetTickCount() - start, TIME_LIMIT_MS) << "case " << i;
    }
    // The run reached both outcomes.
    EXPECT_GT(taken, 1000);
    EXPECT_LT(taken, CASES - 1000);
}

TEST(LocationText, ReadsTwoNumbersWithOneBlankAndNothingElse)
{
    struct {
        const char* text;
        bool read;
        LONG x, y;
    } cases[] = {
        {"10 20", true, 10, 20},       {"-5 -6", true, -5, -6},      {"0 0", true, 0, 0},
        {"2147483647 -2147483648", true, 2147483647, -2147483647 - 1},
        {"2147483648 0", false, 0, 0}, {"0 -2147483649", false, 0, 0}, {"10  20", false, 0, 0},
        {" 10 20", false, 0, 0},       {"10 20 ", false, 0, 0},      {"10", false, 0, 0},
        {"", false, 0, 0},             {"- 1", false, 0, 0},         {"1 -", false, 0, 0},
        {"+1 2", false, 0, 0},         {"1\t2", false, 0, 0},        {"99999999999999999999 1", false, 0, 0},
    };
    for (const auto& c : cases) {
        POINT point = {-7, -7};
        EXPECT_EQ(c.read, CContentCtrl::parseLocationText(c.text, &point)) << c.text;
        if (c.read) {
            EXPECT_EQ(c.x, point.x) << c.text;
            EXPECT_EQ(c.y, point.y) << c.text;
        }
    }
}
