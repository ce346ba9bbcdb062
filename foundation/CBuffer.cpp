#include "CBuffer.h"

#include "CNullPointerException.h"
#include "COutOfMemoryException.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <new>

namespace {

const char SCOPE[] = "CBuffer";
const unsigned LENGTH_SIZE = 4;

} // namespace

CBuffer::CBuffer() : data_(nullptr), length_(0) {}

CBuffer::CBuffer(const void* data, unsigned length) : data_(nullptr), length_(0)
{
    if (data == nullptr)
        throw CNullPointerException("CNullPointerException");
    data_ = new (std::nothrow) unsigned char[length];
    if (data_ == nullptr)
        throw COutOfMemoryException("CMemoryException");
    memcpy(data_, data, length);
    length_ = length;
}

CBuffer::~CBuffer()
{
    delete[] data_;
}

bool CBuffer::equals(const CJObject* other) const
{
    const CBuffer* buffer = dynamic_cast<const CBuffer*>(other);
    return buffer != nullptr && buffer->data_ == data_;
}

bool CBuffer::isEquatable() const
{
    return true;
}

int CBuffer::hashCode() const
{
    return static_cast<int>(reinterpret_cast<uintptr_t>(data_));
}

std::string CBuffer::toString() const
{
    char text[80];
    snprintf(text, sizeof(text), " data= 0x%08llX length= %d",
             static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(data_)), static_cast<int>(length_));
    return text;
}

unsigned CBuffer::getSerializedSize() const
{
    return length_ + LENGTH_SIZE;
}

bool CBuffer::store(void* destination) const
{
    unsigned char* bytes = static_cast<unsigned char*>(destination);
    for (unsigned i = 0; i < LENGTH_SIZE; ++i)
        bytes[i] = static_cast<unsigned char>(length_ >> (8 * i));
    if (length_ != 0)
        memcpy(bytes + LENGTH_SIZE, data_, length_);
    return true;
}

bool CBuffer::restore(const void* source, unsigned length, unsigned* consumed)
{
    CTrace::scopedAssertTrue(data_ == nullptr, SCOPE, " restore() on a buffer that already holds data", -1);
    if (consumed != nullptr)
        *consumed = 0;
    if (source == nullptr || length < LENGTH_SIZE)
        return false;
    const unsigned char* bytes = static_cast<const unsigned char*>(source);
    unsigned stored = 0;
    for (unsigned i = 0; i < LENGTH_SIZE; ++i)
        stored |= static_cast<unsigned>(bytes[i]) << (8 * i);
    // The length comes from the wire: never trust it beyond the block actually received.
    if (stored > length - LENGTH_SIZE) {
        CTrace::scopedError(SCOPE, " restore(): stored length " + std::to_string(stored)
                            + " runs past the end of the block", -1);
        return false;
    }
    if (stored != 0) {
        data_ = new (std::nothrow) unsigned char[stored];
        if (data_ == nullptr)
            return false;
        memcpy(data_, bytes + LENGTH_SIZE, stored);
    }
    length_ = stored;
    if (consumed != nullptr)
        *consumed = stored + LENGTH_SIZE;
    return true;
}

const char* CBuffer::getClassName() const
{
    return "CBuffer";
}
