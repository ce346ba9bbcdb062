#include "CRingBuffer.h"

#include "CCSHandler.h"

#include <algorithm>
#include <cstring>

CRingBuffer::CRingBuffer(DWORD size) : data_(new unsigned char[size]()), size_(size)
{
    InitializeCriticalSection(&lock_);
}

CRingBuffer::~CRingBuffer()
{
    DeleteCriticalSection(&lock_);
    delete[] data_;
}

DWORD CRingBuffer::heldLocked() const
{
    return write_ >= read_ ? write_ - read_ : size_ - read_ + write_;
}

HRESULT CRingBuffer::SetData(const void* data, DWORD length)
{
    CCSHandler guard(&lock_);
    const DWORD room = size_ - 1 - heldLocked();
    if (room == 0)
        return FULL;
    DWORD n = std::min(length, room);
    const unsigned char* bytes = static_cast<const unsigned char*>(data);
    const DWORD first = std::min(n, size_ - write_);
    std::memcpy(data_ + write_, bytes, first);
    std::memcpy(data_, bytes + first, n - first);
    write_ = (write_ + n) % size_;
    return S_OK;
}

// Copies n held bytes starting at from, across the wrap.
void CRingBuffer::copyOut(DWORD from, DWORD n, void* buffer) const
{
    unsigned char* out = static_cast<unsigned char*>(buffer);
    const DWORD first = std::min(n, size_ - from);
    std::memcpy(out, data_ + from, first);
    std::memcpy(out + first, data_, n - first);
}

HRESULT CRingBuffer::GetData(void* buffer, DWORD length, DWORD* got)
{
    CCSHandler guard(&lock_);
    *got = 0;
    const DWORD held = heldLocked();
    if (held == 0)
        return EMPTY;
    const DWORD n = std::min(length, held);
    copyOut(read_, n, buffer);
    read_ = (read_ + n) % size_;
    *got = n;
    return S_OK;
}

HRESULT CRingBuffer::GetLatestData(void* buffer, DWORD length, DWORD* got)
{
    CCSHandler guard(&lock_);
    *got = 0;
    const DWORD held = heldLocked();
    if (held == 0)
        return EMPTY;
    const DWORD n = std::min(length, held);
    copyOut((write_ + size_ - n) % size_, n, buffer);
    *got = n;
    return S_OK;
}

void CRingBuffer::DropData(DWORD length)
{
    CCSHandler guard(&lock_);
    read_ = (read_ + std::min(length, heldLocked())) % size_;
}

void CRingBuffer::Clear()
{
    CCSHandler guard(&lock_);
    read_ = write_ = 0;
}

DWORD CRingBuffer::available()
{
    CCSHandler guard(&lock_);
    return heldLocked();
}

DWORD CRingBuffer::freeSpace()
{
    CCSHandler guard(&lock_);
    return size_ - 1 - heldLocked();
}

void CRingBuffer::SetEnded(bool ended)
{
    CCSHandler guard(&lock_);
    ended_ = ended;
}

void CRingBuffer::GetState(DWORD* available, bool* ended)
{
    CCSHandler guard(&lock_);
    *available = heldLocked();
    *ended = ended_ && *available == 0;
}
