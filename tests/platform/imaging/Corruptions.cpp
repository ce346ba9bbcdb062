#include "Corruptions.h"

#include <algorithm>
#include <cstdlib>
#include <iostream>

SeededRandom::SeededRandom() {
    const char* given = std::getenv("TAVELIN_SEED");
    seed_ = given != nullptr ? static_cast<uint32_t>(std::strtoul(given, nullptr, 10)) : 20261211u;
    state_ = seed_;
    std::cerr << "seed " << seed_ << " (TAVELIN_SEED)" << std::endl;
}

std::vector<unsigned char> corruptPicture(std::vector<unsigned char> bytes, SeededRandom& random) {
    if (bytes.empty())
        return bytes;
    switch (random.below(5)) {
    case 0:
        bytes.resize(random.below(bytes.size()));
        break;
    case 1:   // a few bytes of the headers
        for (size_t n = 1 + random.below(4); n > 0; --n)
            bytes[random.below(std::min<size_t>(bytes.size(), 64))] = static_cast<unsigned char>(random.next());
        break;
    case 2: {   // a size, count or offset field made large
        static const uint32_t huge[] = {0xFFFFFFFFu, 0x7FFFFFFFu, 0x80000000u, 0x00010000u, 0xFFFFu, 0};
        uint32_t value = huge[random.below(6)];
        size_t at = random.below(std::min<size_t>(bytes.size(), 800));
        for (size_t i = 0; i < 4 && at + i < bytes.size(); ++i)
            bytes[at + i] = static_cast<unsigned char>(value >> (8 * i));
        break;
    }
    case 3:
        for (size_t n = 1 + random.below(8); n > 0; --n)
            bytes[random.below(bytes.size())] ^= static_cast<unsigned char>(1u << random.below(8));
        break;
    default:
        bytes.resize(bytes.size() + random.below(64), static_cast<unsigned char>(random.next()));
        break;
    }
    return bytes;
}
