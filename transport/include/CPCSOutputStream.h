#pragma once
// The blocks a PC server sends, as an output stream.
#include "IOutputStream.h"

class CPCServer;

class CPCSOutputStream : public virtual IOutputStream {
public:
    explicit CPCSOutputStream(CPCServer* server);
    void write(const unsigned char* data, int size) override;

private:
    CPCServer* server_;
};
