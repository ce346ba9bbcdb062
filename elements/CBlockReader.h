#pragma once
// Reads the fields of a received block front to back and never past its end: every read first
// checks that the field lies wholly inside the bytes that remain.
#include <string>

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
    // Moves on by count bytes, which must remain.
    bool skip(unsigned count);

private:
    const unsigned char* position_;
    unsigned remaining_;
};
