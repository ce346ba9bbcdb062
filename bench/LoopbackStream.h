#pragma once
// The encoder's block handed straight to the decoder on the same thread: a read lends the bytes
// of the last write, which stay valid until the encoder writes again. No copy, so a codec
// benchmark counts the codec's own work only.
#include "IInputStream.h"
#include "IOutputStream.h"

class LoopbackStream : public IOutputStream, public IInputStream {
public:
    void write(const unsigned char* data, int size) override;
    // The last written block, once; 0 (the end of input) when nothing new was written.
    int read(const unsigned char** block) override;
    int lastSize() const { return size_; }

private:
    const unsigned char* data_ = nullptr;
    int size_ = 0;
    bool fresh_ = false;
};
