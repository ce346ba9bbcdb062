#include "BlockChannel.h"

BlockChannel::BlockChannel()
{
    InitializeSRWLock(&lock_);
    InitializeConditionVariable(&changed_);
}

void BlockChannel::write(const unsigned char* data, int size)
{
    AcquireSRWLockExclusive(&lock_);
    std::vector<unsigned char> block;
    if (!spare_.empty()) {
        block = std::move(spare_.back());
        spare_.pop_back();
    }
    block.assign(data, data + size);
    pending_.push_back(std::move(block));
    ReleaseSRWLockExclusive(&lock_);
    WakeConditionVariable(&changed_);
}

int BlockChannel::read(const unsigned char** block)
{
    AcquireSRWLockExclusive(&lock_);
    if (!current_.empty() || current_.capacity() != 0)
        spare_.push_back(std::move(current_));
    while (!closed_ && pending_.empty())
        SleepConditionVariableSRW(&changed_, &lock_, INFINITE, 0);
    int size = 0;
    if (!closed_) {
        current_ = std::move(pending_.front());
        pending_.pop_front();
        *block = current_.data();
        size = static_cast<int>(current_.size());
    }
    ReleaseSRWLockExclusive(&lock_);
    return size;
}

void BlockChannel::close()
{
    AcquireSRWLockExclusive(&lock_);
    closed_ = true;
    ReleaseSRWLockExclusive(&lock_);
    WakeAllConditionVariable(&changed_);
}
