#include "QuarnWire.h"

namespace {

const DWORD POLYNOMIAL = 0x04C11DB7;

// The register after shifting the byte's eight bits through it, one step per byte.
struct CrcTable {
    DWORD entry[256];
    constexpr CrcTable() : entry()
    {
        for (DWORD i = 0; i < 256; ++i) {
            DWORD reg = i << 24;
            for (int bit = 0; bit < 8; ++bit)
                reg = (reg & 0x80000000) ? (reg << 1) ^ POLYNOMIAL : reg << 1;
            entry[i] = reg;
        }
    }
};

constexpr CrcTable TABLE;

} // namespace

DWORD Crc32Update(const BYTE* bytes, DWORD count, DWORD previous)
{
    DWORD reg = ~previous;
    for (DWORD i = 0; i < count; ++i)
        reg = (reg << 8) ^ TABLE.entry[((reg >> 24) ^ bytes[i]) & 0xFF];
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
