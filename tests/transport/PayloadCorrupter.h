#pragma once
// Broken payloads for robustness runs: a copy of one of the given payloads with bits flipped,
// bytes changed, its end cut or its terminator gone, grown by noise, or plain noise. The same
// seed gives the same sequence.
#include <random>
#include <vector>

class PayloadCorrupter {
public:
    PayloadCorrupter(unsigned seed, std::vector<std::vector<unsigned char>> bases);
    std::vector<unsigned char> next();

private:
    std::mt19937 random_;
    std::vector<std::vector<unsigned char>> bases_;
};
