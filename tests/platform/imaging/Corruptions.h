#pragma once
// What the robustness runs of pictures and Stage texts share: a small deterministic generator
// with its seed (TAVELIN_SEED overrides it), and one way of breaking a picture file.
#include <cstddef>
#include <cstdint>
#include <vector>

class SeededRandom {
public:
    // The seed from TAVELIN_SEED, else the fixed one; printed so a failing run can be repeated.
    SeededRandom();
    uint32_t seed() const { return seed_; }
    uint32_t next() {
        state_ = state_ * 1664525u + 1013904223u;
        return state_ >> 8;
    }
    size_t below(size_t limit) { return limit == 0 ? 0 : next() % limit; }
    int between(int low, int high) { return low + static_cast<int>(below(static_cast<size_t>(high - low) + 1)); }

private:
    uint32_t seed_;
    uint32_t state_;
};

// Truncated, headers changed, a field made large, bits flipped anywhere, or grown.
std::vector<unsigned char> corruptPicture(std::vector<unsigned char> bytes, SeededRandom& random);
