#pragma once
// The blocks a PC server receives, as an input stream.
#include "IInputStream.h"

class CPCServer;

class CPCSInputStream : public virtual IInputStream {
public:
    explicit CPCSInputStream(CPCServer* server);
    int read(const unsigned char** block) override;

private:
    CPCServer* server_;
};
