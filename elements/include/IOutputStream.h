#pragma once
// Sends one block of bytes per call: one UDP datagram or one session payload.

class IOutputStream {
public:
    virtual ~IOutputStream() {}
    // Sends size bytes from data as one block. Failures are the transport's own business.
    virtual void write(const unsigned char* data, int size) = 0;
};
