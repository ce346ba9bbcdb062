#include "CPictureFormat.h"

#include <cstdint>

namespace {

uint32_t le16(const unsigned char* p) {
    return p[0] | (p[1] << 8);
}

uint32_t le32(const unsigned char* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16)
           | (static_cast<uint32_t>(p[3]) << 24);
}

uint32_t be16(const unsigned char* p) {
    return (p[0] << 8) | p[1];
}

bool sideOk(long long side) {
    return side >= 1 && side <= CPictureFormat::MAX_SIDE;
}

// GIF data sub-blocks from at: each a length byte and that many bytes, up to a 0 length.
// The position after the terminator, or 0 when they run past the end.
size_t skipSubBlocks(const unsigned char* bytes, size_t size, size_t at) {
    while (at < size) {
        size_t length = bytes[at];
        ++at;
        if (length == 0)
            return at;
        if (length > size - at)
            return 0;
        at += length;
    }
    return 0;
}

}  // namespace

bool CPictureFormat::isWellFormed(const unsigned char* bytes, size_t size) {
    if (bytes == nullptr || size < 4)
        return false;
    if (bytes[0] == 'B' && bytes[1] == 'M')
        return isBmp(bytes, size);
    if (bytes[0] == 'G' && bytes[1] == 'I' && bytes[2] == 'F')
        return isGif(bytes, size);
    if (bytes[0] == 0xFF && bytes[1] == 0xD8)
        return isJpeg(bytes, size);
    return false;
}

bool CPictureFormat::isBmp(const unsigned char* bytes, size_t size) {
    const size_t FILE_HEADER = 14;
    if (size < FILE_HEADER + 12)
        return false;
    uint32_t offset = le32(bytes + 10);
    uint32_t header = le32(bytes + 14);
    if (header != 12 && header != 40 && header != 52 && header != 56 && header != 108 && header != 124)
        return false;
    if (header > size - FILE_HEADER)
        return false;
    long long width, height;
    uint32_t bits, compression = 0, colours = 0;
    size_t entry = 4;
    if (header == 12) {
        width = le16(bytes + 18);
        height = static_cast<int16_t>(le16(bytes + 20));
        bits = le16(bytes + 24);
        entry = 3;
    } else {
        width = static_cast<int32_t>(le32(bytes + 18));
        height = static_cast<int32_t>(le32(bytes + 22));
        bits = le16(bytes + 28);
        compression = le32(bytes + 30);
        colours = le32(bytes + 46);
    }
    if (height < 0)
        height = -height;
    if (!sideOk(width) || !sideOk(height))
        return false;
    if (bits != 1 && bits != 4 && bits != 8 && bits != 16 && bits != 24 && bits != 32)
        return false;
    if (bits <= 8 && (colours == 0 || colours > (1u << bits)))
        colours = 1u << bits;
    if (bits > 8 && colours > 256)
        return false;
    size_t masks = compression == 3 && header == 40 ? 12 : 0;   // BI_BITFIELDS after a short header
    unsigned long long table = FILE_HEADER + header + masks + static_cast<unsigned long long>(colours) * entry;
    if (table > size || offset < table || offset >= size)
        return false;
    unsigned long long stride = (static_cast<unsigned long long>(width) * bits + 31) / 32 * 4;
    switch (compression) {
    case 0:   // BI_RGB
    case 3:   // BI_BITFIELDS
        if (compression == 3 && bits != 16 && bits != 32)
            return false;
        return stride * height <= size - offset;
    case 1:   // BI_RLE8
        return bits == 8;
    case 2:   // BI_RLE4
        return bits == 4;
    default:
        return false;
    }
}

bool CPictureFormat::isGif(const unsigned char* bytes, size_t size) {
    const size_t HEADER = 13;
    if (size < HEADER || (bytes[3] != '8' || (bytes[4] != '7' && bytes[4] != '9') || bytes[5] != 'a'))
        return false;
    uint32_t screenWidth = le16(bytes + 6), screenHeight = le16(bytes + 8);
    if (!sideOk(screenWidth) || !sideOk(screenHeight))
        return false;
    size_t at = HEADER;
    if (bytes[10] & 0x80)
        at += 3u * (2u << (bytes[10] & 7));
    bool image = false;
    while (at < size) {
        unsigned char kind = bytes[at];
        if (kind == 0x3B)   // trailer
            return image;
        if (kind == 0x21) {   // extension: label, sub-blocks
            if (size - at < 2)
                return false;
            at = skipSubBlocks(bytes, size, at + 2);
            if (at == 0)
                return false;
        } else if (kind == 0x2C) {   // image descriptor
            if (size - at < 10)
                return false;
            uint32_t left = le16(bytes + at + 1), top = le16(bytes + at + 3);
            uint32_t width = le16(bytes + at + 5), height = le16(bytes + at + 7);
            unsigned char flags = bytes[at + 9];
            if (!sideOk(width) || !sideOk(height) || left + width > screenWidth || top + height > screenHeight)
                return false;
            at += 10;
            if (flags & 0x80)
                at += 3u * (2u << (flags & 7));
            if (at >= size || bytes[at] < 2 || bytes[at] > 8)   // smallest LZW code size
                return false;
            at = skipSubBlocks(bytes, size, at + 1);
            if (at == 0)
                return false;
            image = true;
        } else {
            return false;
        }
    }
    return image;   // a missing trailer is tolerated once an image is whole
}

bool CPictureFormat::isJpeg(const unsigned char* bytes, size_t size) {
    size_t at = 2;
    bool frame = false;
    while (at < size) {
        if (bytes[at] != 0xFF)
            return false;
        while (at < size && bytes[at] == 0xFF)   // fill bytes
            ++at;
        if (at >= size)
            return false;
        unsigned char marker = bytes[at++];
        if (marker == 0xD8 || marker == 0x00)
            return false;
        if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7))   // no length
            continue;
        if (marker == 0xD9)   // end before any scan
            return false;
        if (size - at < 2)
            return false;
        size_t length = be16(bytes + at);
        if (length < 2 || length > size - at)
            return false;
        bool startOfFrame = marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
        if (startOfFrame) {
            if (length < 8)
                return false;
            uint32_t height = be16(bytes + at + 3), width = be16(bytes + at + 5);
            unsigned components = bytes[at + 7];
            if (!sideOk(width) || !sideOk(height) || components == 0 || components > 4
                || length != 8 + 3 * components)
                return false;
            frame = true;
        }
        if (marker == 0xDA)   // start of scan: the entropy-coded data follows
            return frame && length >= 6 && at + length < size;
        at += length;
    }
    return false;
}
