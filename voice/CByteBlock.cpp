#include "CByteBlock.h"

#include <atomic>
#include <cstdlib>
#include <cstring>

namespace {
std::atomic<CByteBlock::Allocator> g_allocator{nullptr};
}

void CByteBlock::setAllocator(Allocator allocator)
{
    g_allocator = allocator;
}

CByteBlock::~CByteBlock()
{
    std::free(data_);
}

HRESULT CByteBlock::grow()
{
    const size_t size = data_ == nullptr ? 100 : capacity_ * 2;
    Allocator allocator = g_allocator.load();
    void* fresh = allocator != nullptr ? allocator(size) : std::malloc(size);
    if (fresh == nullptr)
        return E_FAIL;
    if (data_ == nullptr) {
        used_ = 0;
    } else {
        std::memcpy(fresh, data_, used_);
        std::free(data_);
    }
    data_ = static_cast<unsigned char*>(fresh);
    capacity_ = size;
    return S_OK;
}

HRESULT CByteBlock::reserve(size_t size)
{
    while (capacity_ < size) {
        if (grow() != S_OK)
            return E_FAIL;
    }
    return S_OK;
}
