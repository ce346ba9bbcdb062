#pragma once
// One direction between two gates in this process, as a transport would be: each written block
// is copied and read, in order, by the other side's receive thread. An in-process lock and
// condition variable, so the channel itself costs no Wine server round trip and the benchmark
// sees the message path's own hand-offs.
#include "IInputStream.h"
#include "IOutputStream.h"

#include <windows.h>

#include <deque>
#include <vector>

class BlockChannel : public IOutputStream, public IInputStream {
public:
    BlockChannel();
    void write(const unsigned char* data, int size) override;
    // Blocks until a block is there; 0 once closed.
    int read(const unsigned char** block) override;
    void close();

private:
    SRWLOCK lock_;
    CONDITION_VARIABLE changed_;
    std::deque<std::vector<unsigned char>> pending_;  // lock_
    std::vector<std::vector<unsigned char>> spare_;   // lock_; emptied blocks, reused
    std::vector<unsigned char> current_;               // the block lent by the last read
    bool closed_ = false;                              // lock_
};
