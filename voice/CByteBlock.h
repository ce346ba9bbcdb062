#pragma once
// A growable byte block of the codec chain: used length and capacity; grows from 100 bytes by
// doubling, keeping the used bytes.
#include <windows.h>

#include <cstddef>

class CByteBlock {
public:
    CByteBlock() = default;
    virtual ~CByteBlock();
    CByteBlock(const CByteBlock&) = delete;
    CByteBlock& operator=(const CByteBlock&) = delete;

    // One growth step: 100 bytes when empty, else twice the capacity. 0x80004005 when the
    // allocation fails (the block is then unchanged).
    HRESULT grow();
    // Grows until the capacity is at least size.
    HRESULT reserve(size_t size);

    unsigned char* data() const { return data_; }
    size_t used() const { return used_; }
    size_t capacity() const { return capacity_; }
    void setUsed(size_t used) { used_ = used; }

    // Where the storage comes from; tests make it fail. Null restores malloc.
    using Allocator = void* (*)(size_t);
    static void setAllocator(Allocator allocator);

private:
    unsigned char* data_ = nullptr;
    size_t used_ = 0;
    size_t capacity_ = 0;
};
