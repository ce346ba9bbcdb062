#pragma once
// One direction between two endpoints in memory: each block one side's encoder writes, the
// other side's decoder reads, in order.
#include "IInputStream.h"
#include "IOutputStream.h"

#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

class BlockPipe : public IOutputStream, public IInputStream {
public:
    void write(const unsigned char* data, int size) override;
    // Blocks until a block is there; 0 once closed.
    int read(const unsigned char** block) override;
    // The end of input, as a transport closing: every read returns 0 from now on.
    void close();
    // Every read throws CIOException with the text from now on.
    void breakWith(const std::string& text);
    int blocksWritten();

private:
    std::mutex lock_;
    std::condition_variable changed_;
    std::deque<std::vector<unsigned char>> pending_;
    std::vector<unsigned char> current_; // the block lent by the last read
    bool closed_ = false;
    std::string failure_;
    int written_ = 0;
};
