#pragma once
// An output stream that keeps a copy of every block written to it, and the address it came from.
#include "IOutputStream.h"

#include <vector>

class MemoryOutputStream : public IOutputStream {
public:
    void write(const unsigned char* data, int size) override
    {
        blocks.emplace_back(data, data + size);
        addresses.push_back(data);
    }

    std::vector<std::vector<unsigned char>> blocks;
    std::vector<const unsigned char*> addresses;
};
