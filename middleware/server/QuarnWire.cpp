#include "QuarnWire.h"

namespace {

const DWORD POLYNOMIAL = 0x04C11DB7;

// entry[0]: the register after shifting a byte's eight bits through it, one step per byte;
// entry[k]: the same byte followed by k zero bytes, so that eight bytes take one step of eight
// independent look-ups (a file's contents pass through here on both sides of a transfer).
struct CrcTables {
    DWORD entry[8][256];
    constexpr CrcTables() : entry()
    {
        for (DWORD i = 0; i < 256; ++i) {
            DWORD reg = i << 24;
            for (int bit = 0; bit < 8; ++bit)
                reg = (reg & 0x80000000) ? (reg << 1) ^ POLYNOMIAL : reg << 1;
            entry[0][i] = reg;
        }
        for (int k = 1; k < 8; ++k)
            for (DWORD i = 0; i < 256; ++i)
                entry[k][i] = (entry[k - 1][i] << 8) ^ entry[0][entry[k - 1][i] >> 24];
    }
};

constexpr CrcTables TABLES;

} // namespace

DWORD Crc32Update(const BYTE* bytes, DWORD count, DWORD previous)
{
    const DWORD(*t)[256] = TABLES.entry;
    DWORD reg = ~previous;
    for (; count >= 8; count -= 8, bytes += 8) {
        DWORD x = reg ^ (static_cast<DWORD>(bytes[0]) << 24 | static_cast<DWORD>(bytes[1]) << 16
                         | static_cast<DWORD>(bytes[2]) << 8 | bytes[3]);
        reg = t[7][x >> 24] ^ t[6][(x >> 16) & 0xFF] ^ t[5][(x >> 8) & 0xFF] ^ t[4][x & 0xFF] ^ t[3][bytes[4]]
              ^ t[2][bytes[5]] ^ t[1][bytes[6]] ^ t[0][bytes[7]];
    }
    for (; count > 0; --count, ++bytes)
        reg = (reg << 8) ^ t[0][((reg >> 24) ^ *bytes) & 0xFF];
    return ~reg;
}

WORD FoldStatus(DWORD status)
{
    WORD folded = static_cast<WORD>(status & 0x7FFF);
    if ((status & 0x20040000) == 0x20040000)
        folded |= 0x8000;
    return folded;
}

DWORD UnfoldStatus(WORD folded)
{
    if (folded & 0x8000)
        return 0xE0040000 | (folded & 0x7FFF);
    return folded & 0x7FFF;
}
