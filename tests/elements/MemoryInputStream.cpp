#include "MemoryInputStream.h"

int MemoryInputStream::read(const unsigned char** block)
{
    ++reads_;
    current_.reset();
    if (pending_.empty())
        return 0;
    current_.reset(new GuardedBlock(pending_.front()));
    pending_.pop_front();
    *block = current_->data();
    return current_->size();
}
