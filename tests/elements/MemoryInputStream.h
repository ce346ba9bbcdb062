#pragma once
// An input stream that gives the blocks it was handed, one per read, each in a guarded copy
// (see GuardedBlock), and then the end of input.
#include "GuardedBlock.h"
#include "IInputStream.h"

#include <deque>
#include <memory>
#include <vector>

class MemoryInputStream : public IInputStream {
public:
    void add(const std::vector<unsigned char>& block) { pending_.push_back(block); }
    int read(const unsigned char** block) override;
    int reads() const { return reads_; }

private:
    std::deque<std::vector<unsigned char>> pending_;
    std::unique_ptr<GuardedBlock> current_;
    int reads_ = 0;
};
