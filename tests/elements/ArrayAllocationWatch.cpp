#include "ArrayAllocationWatch.h"

#include <cstdlib>
#include <map>
#include <mutex>
#include <new>

namespace {

std::mutex s_lock;
bool s_watching = false;
std::map<const void*, int>* s_freed = nullptr; // s_lock

void* allocate(std::size_t size)
{
    return malloc(size == 0 ? 1 : size);
}

void release(void* block)
{
    if (block == nullptr)
        return;
    {
        std::lock_guard<std::mutex> hold(s_lock);
        if (s_watching) {
            ++(*s_freed)[block];
            return;
        }
    }
    free(block);
}

} // namespace

void* operator new[](std::size_t size)
{
    void* block = allocate(size);
    if (block == nullptr)
        throw std::bad_alloc();
    return block;
}

void* operator new[](std::size_t size, const std::nothrow_t&) noexcept
{
    return allocate(size);
}

void operator delete[](void* block) noexcept
{
    release(block);
}

void operator delete[](void* block, std::size_t) noexcept
{
    release(block);
}

void operator delete[](void* block, const std::nothrow_t&) noexcept
{
    release(block);
}

ArrayAllocationWatch::ArrayAllocationWatch()
{
    std::map<const void*, int>* freed = new std::map<const void*, int>;
    std::lock_guard<std::mutex> hold(s_lock);
    s_freed = freed;
    s_watching = true;
}

ArrayAllocationWatch::~ArrayAllocationWatch()
{
    std::map<const void*, int>* freed;
    {
        std::lock_guard<std::mutex> hold(s_lock);
        s_watching = false;
        freed = s_freed;
        s_freed = nullptr;
    }
    for (const auto& entry : *freed)
        free(const_cast<void*>(entry.first));
    delete freed;
}

int ArrayAllocationWatch::timesFreed(const void* block) const
{
    std::lock_guard<std::mutex> hold(s_lock);
    auto entry = s_freed->find(block);
    return entry == s_freed->end() ? 0 : entry->second;
}
