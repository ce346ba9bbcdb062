#include "AllocationWatch.h"

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <new>

namespace {

std::atomic<bool> s_watching(false);
std::atomic<size_t> s_largest(0);
std::atomic<size_t> s_failFrom(SIZE_MAX);

void note(std::size_t size)
{
    if (!s_watching)
        return;
    size_t seen = s_largest;
    while (size > seen && !s_largest.compare_exchange_weak(seen, size)) {
    }
}

void* allocate(std::size_t size)
{
    note(size);
    return malloc(size == 0 ? 1 : size);
}

void* allocateOrThrow(std::size_t size)
{
    void* block = allocate(size);
    if (block == nullptr)
        throw std::bad_alloc();
    return block;
}

} // namespace

void* operator new(std::size_t size)
{
    return allocateOrThrow(size);
}

void* operator new[](std::size_t size)
{
    return allocateOrThrow(size);
}

void* operator new(std::size_t size, const std::nothrow_t&) noexcept
{
    return allocate(size);
}

void* operator new[](std::size_t size, const std::nothrow_t&) noexcept
{
    if (s_watching && size >= s_failFrom) {
        note(size);
        return nullptr;
    }
    return allocate(size);
}

void operator delete(void* block) noexcept
{
    free(block);
}

void operator delete[](void* block) noexcept
{
    free(block);
}

void operator delete(void* block, std::size_t) noexcept
{
    free(block);
}

void operator delete[](void* block, std::size_t) noexcept
{
    free(block);
}

void operator delete(void* block, const std::nothrow_t&) noexcept
{
    free(block);
}

void operator delete[](void* block, const std::nothrow_t&) noexcept
{
    free(block);
}

AllocationWatch::AllocationWatch()
{
    s_largest = 0;
    s_failFrom = SIZE_MAX;
    s_watching = true;
}

AllocationWatch::~AllocationWatch()
{
    s_watching = false;
    s_failFrom = SIZE_MAX;
}

size_t AllocationWatch::largest() const
{
    return s_largest;
}

void AllocationWatch::failNothrowArraysFrom(size_t size)
{
    s_failFrom = size;
}
