#pragma once
// Gives the received blocks one at a time.

class IInputStream {
public:
    virtual ~IInputStream() {}
    // Blocks until one block has been received, points block at its bytes and returns their
    // number. The bytes belong to the stream and stay valid until the next read. 0 means the
    // end of input (no session open, or the stream closed); block is then not set.
    virtual int read(const unsigned char** block) = 0;
};
