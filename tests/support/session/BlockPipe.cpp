#include "BlockPipe.h"

#include "CIOException.h"

void BlockPipe::write(const unsigned char* data, int size)
{
    std::lock_guard<std::mutex> hold(lock_);
    pending_.emplace_back(data, data + size);
    ++written_;
    changed_.notify_all();
}

int BlockPipe::read(const unsigned char** block)
{
    std::unique_lock<std::mutex> hold(lock_);
    changed_.wait(hold, [&] { return closed_ || !failure_.empty() || !pending_.empty(); });
    if (!failure_.empty())
        throw CIOException(failure_);
    if (closed_)
        return 0;
    current_ = std::move(pending_.front());
    pending_.pop_front();
    *block = current_.data();
    return static_cast<int>(current_.size());
}

void BlockPipe::close()
{
    std::lock_guard<std::mutex> hold(lock_);
    closed_ = true;
    changed_.notify_all();
}

void BlockPipe::breakWith(const std::string& text)
{
    std::lock_guard<std::mutex> hold(lock_);
    failure_ = text;
    changed_.notify_all();
}

int BlockPipe::blocksWritten()
{
    std::lock_guard<std::mutex> hold(lock_);
    return written_;
}
