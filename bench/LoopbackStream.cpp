#include "LoopbackStream.h"

void LoopbackStream::write(const unsigned char* data, int size)
{
    data_ = data;
    size_ = size;
    fresh_ = true;
}

int LoopbackStream::read(const unsigned char** block)
{
    if (!fresh_)
        return 0;
    fresh_ = false;
    *block = data_;
    return size_;
}
