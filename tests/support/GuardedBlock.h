#pragma once
// A read-only copy of some bytes that ends exactly where an inaccessible page begins: any read
// past the end of the bytes, and any write into them, faults at once.
#include <vector>

class GuardedBlock {
public:
    explicit GuardedBlock(const std::vector<unsigned char>& bytes);
    ~GuardedBlock();
    GuardedBlock(const GuardedBlock&) = delete;
    GuardedBlock& operator=(const GuardedBlock&) = delete;

    const unsigned char* data() const { return data_; }
    int size() const { return size_; }

private:
    unsigned char* base_;
    const unsigned char* data_;
    int size_;
};
