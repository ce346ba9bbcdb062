#include "GuardedBlock.h"

#include <windows.h>

#include <cstring>
#include <stdexcept>

GuardedBlock::GuardedBlock(const std::vector<unsigned char>& bytes) : size_(static_cast<int>(bytes.size()))
{
    SYSTEM_INFO system;
    GetSystemInfo(&system);
    size_t page = system.dwPageSize;
    size_t dataPages = bytes.empty() ? 1 : (bytes.size() + page - 1) / page;
    base_ = static_cast<unsigned char*>(VirtualAlloc(NULL, (dataPages + 1) * page, MEM_RESERVE | MEM_COMMIT,
                                                     PAGE_READWRITE));
    if (base_ == nullptr)
        throw std::runtime_error("VirtualAlloc failed");
    unsigned char* end = base_ + dataPages * page;
    unsigned char* start = end - bytes.size();
    if (!bytes.empty())
        memcpy(start, bytes.data(), bytes.size());
    DWORD old;
    if (!VirtualProtect(base_, dataPages * page, PAGE_READONLY, &old) || !VirtualProtect(end, page, PAGE_NOACCESS, &old))
        throw std::runtime_error("VirtualProtect failed");
    data_ = start;
}

GuardedBlock::~GuardedBlock()
{
    VirtualFree(base_, 0, MEM_RELEASE);
}
