#include "PayloadCorrupter.h"

PayloadCorrupter::PayloadCorrupter(unsigned seed, std::vector<std::vector<unsigned char>> bases)
    : random_(seed), bases_(std::move(bases))
{
}

std::vector<unsigned char> PayloadCorrupter::next()
{
    unsigned kind = random_() % 6;
    if (kind == 0 || bases_.empty()) {
        std::vector<unsigned char> noise(random_() % 80);
        for (unsigned char& b : noise)
            b = static_cast<unsigned char>(random_());
        return noise;
    }
    std::vector<unsigned char> bytes = bases_[random_() % bases_.size()];
    switch (kind) {
    case 1: // flipped bits
        for (unsigned n = 1 + random_() % 4; n > 0 && !bytes.empty(); --n)
            bytes[random_() % bytes.size()] ^= static_cast<unsigned char>(1u << (random_() % 8));
        break;
    case 2: // cut short
        bytes.resize(random_() % (bytes.size() + 1));
        break;
    case 3: // bytes changed at random
        for (unsigned n = 1 + random_() % 3; n > 0 && !bytes.empty(); --n)
            bytes[random_() % bytes.size()] = static_cast<unsigned char>(random_());
        break;
    case 4: // the terminator gone and the tail cut
        if (bytes.size() > 1)
            bytes.resize(bytes.size() - 1 - random_() % (bytes.size() - 1));
        if (!bytes.empty())
            bytes.back() = 'x';
        break;
    default: // grown by noise
        for (unsigned n = random_() % 16; n > 0; --n)
            bytes.push_back(static_cast<unsigned char>(random_()));
        break;
    }
    return bytes;
}
