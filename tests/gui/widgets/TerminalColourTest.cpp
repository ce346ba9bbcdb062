// The terminal colour of a reference number, as text or as integer; texts from peers.
#include "CDrawObject.h"
#include "GuardedBlock.h"

#include <gtest/gtest.h>

#include <chrono>
#include <climits>
#include <cstdlib>
#include <random>
#include <set>
#include <string>

namespace {

const COLORREF COLOUR_OF_ZERO = 0xFF80C0;
const COLORREF PALETTE[15] = {
    0xFFC080, 0x00FF00, 0x0000FF, 0x80FFFF, 0xFF00FF, 0xC0FF1A, 0x0080FF, 0x343480,
    0xC080FF, 0xFF0000, 0x00C0E0, 0xA4A4FF, 0x803400, 0x008080, 0x348000,
};

struct TextCase {
    std::string text;
    COLORREF colour;
};

} // namespace

TEST(TerminalColour, OfReferenceNumberTexts)
{
    const TextCase cases[] = {
        {"1", 0xFFC080}, {"16", 0xFFC080}, {"15", 0x348000}, {"30", 0x348000}, {"-3", 0x0000FF},
        {"0", 0xFF80C0}, {"", 0xFF80C0}, {"x", 0xFF80C0}, {" ", 0xFF80C0}, {"7abc", 0x0080FF},
        {" 7", 0x0080FF}, {"2147483647", 0x0080FF},
        // The smallest int: its sign is dropped without overflow, 2147483648 is entry 7.
        {"-2147483648", 0x343480},
        {"+2", 0x00FF00}, {"8", 0x343480}, {"-0", 0xFF80C0}, {std::string("5\0" "1", 3), 0xFF00FF},
    };
    for (const TextCase& c : cases) {
        SCOPED_TRACE("\"" + c.text + "\"");
        EXPECT_EQ(c.colour, CDrawObject::colorOfId(c.text));
    }
}

TEST(TerminalColour, OfEveryIndexFromMinus100To100)
{
    for (int n = -100; n <= 100; ++n) {
        SCOPED_TRACE(n);
        const COLORREF expected = n == 0 ? COLOUR_OF_ZERO : PALETTE[(std::abs(n) - 1) % 15];
        EXPECT_EQ(expected, CDrawObject::colorOfIndex(n));
        EXPECT_EQ(expected, CDrawObject::colorOfId(std::to_string(n)));
    }
    EXPECT_EQ(0x343480u, CDrawObject::colorOfIndex(INT_MIN));
    EXPECT_EQ(0x0080FFu, CDrawObject::colorOfIndex(INT_MAX));
}

// Decorations come from peers: any bytes give one of the sixteen colours, and the parse reads
// none past the text (the block ends at an inaccessible page).
TEST(TerminalColour, CorruptedDecorationTextsAlwaysGiveAPaletteColour)
{
    std::set<COLORREF> allowed(std::begin(PALETTE), std::end(PALETTE));
    allowed.insert(COLOUR_OF_ZERO);
    std::mt19937 random(20261211);
    const char pieces[] = "0123456789+- \t\n\0x-+";
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
    int outside = 0;
    int done = 0;
    for (; done < 100000 && std::chrono::steady_clock::now() < deadline; ++done) {
        std::vector<unsigned char> bytes;
        const int length = static_cast<int>(random() % 40);
        for (int i = 0; i < length; ++i) {
            if (random() % 20 == 0) {
                // A 30-digit number, far past any int.
                for (int d = 0; d < 30; ++d)
                    bytes.push_back(static_cast<unsigned char>('0' + random() % 10));
            } else if (random() % 10 == 0) {
                bytes.push_back(static_cast<unsigned char>(random() % 256));
            } else {
                bytes.push_back(static_cast<unsigned char>(pieces[random() % (sizeof pieces - 1)]));
            }
        }
        GuardedBlock block(bytes);
        const COLORREF colour =
            CDrawObject::colorOfId(std::string_view(reinterpret_cast<const char*>(block.data()), block.size()));
        outside += allowed.count(colour) == 0;
    }
    EXPECT_EQ(100000, done) << "not done in time";
    EXPECT_EQ(0, outside);
}
