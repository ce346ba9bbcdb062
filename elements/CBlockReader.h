#pragma once
// Reads the fields of a received block front to back and never past its end: every read first
// checks that the field lies wholly inside the bytes that remain.
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

class CBlockReader {
public:
    CBlockReader(const unsigned char* block, unsigned size) : position_(block), remaining_(size) {}

    unsigned remaining() const { return remaining_; }
    const unsigned char* position() const { return position_; }

    bool readByte(unsigned char* value);
    // Four bytes, little-endian.
    bool readUInt32(unsigned* value);
    // The bytes up to the next NUL, which must lie inside the block; the NUL is consumed.
    bool readText(std::string* text);
    // The same, lending the text in place inside the block.
    bool readText(std::string_view* text);
    // Moves on by count bytes, which must remain.
    bool skip(unsigned count);

    // The first NUL among count bytes from bytes, or NULL; reads nothing beyond them. Eight
    // bytes a step: every text of a message passes here, and the platform's memchr takes one.
    static const unsigned char* findNul(const unsigned char* bytes, size_t count)
    {
        for (; count >= 8; bytes += 8, count -= 8) {
            uint64_t word;
            memcpy(&word, bytes, 8);
            if ((word - 0x0101010101010101ull) & ~word & 0x8080808080808080ull)
                break;
        }
        for (; count > 0; ++bytes, --count) {
            if (*bytes == 0)
                return bytes;
        }
        return nullptr;
    }
    // Copies count bytes, eight a step: for the short fields of a message, where a call of the
    // platform's memcpy costs more than the copy itself.
    static void copyShort(void* to, const void* from, size_t count)
    {
        unsigned char* into = static_cast<unsigned char*>(to);
        const unsigned char* bytes = static_cast<const unsigned char*>(from);
        for (; count >= 8; count -= 8, bytes += 8, into += 8) {
            uint64_t word;
            memcpy(&word, bytes, 8);
            memcpy(into, &word, 8);
        }
        for (; count > 0; --count)
            *into++ = *bytes++;
    }

private:
    const unsigned char* position_;
    unsigned remaining_;
};
