#include "PatternFile.h"

#include <fstream>
#include <iterator>

std::vector<BYTE> pattern(size_t size, unsigned seed)
{
    std::vector<BYTE> bytes(size);
    unsigned x = seed;
    for (BYTE& b : bytes) {
        x = x * 1103515245 + 12345;
        b = static_cast<BYTE>(x >> 16);
    }
    return bytes;
}

void writeBytes(const std::string& path, const std::vector<BYTE>& bytes)
{
    std::ofstream(path, std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

std::vector<BYTE> readBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<BYTE>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}
