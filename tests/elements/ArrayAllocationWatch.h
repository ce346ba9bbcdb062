#pragma once
// The test program's own array forms of operator new and delete, so that a test can tell how
// often a block was freed. While a watch lives, freed blocks are kept rather than given back:
// a second free of the same block is counted instead of corrupting the heap.
class ArrayAllocationWatch {
public:
    ArrayAllocationWatch();
    ~ArrayAllocationWatch();
    ArrayAllocationWatch(const ArrayAllocationWatch&) = delete;
    ArrayAllocationWatch& operator=(const ArrayAllocationWatch&) = delete;

    int timesFreed(const void* block) const;
};
