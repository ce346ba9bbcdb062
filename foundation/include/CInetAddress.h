#pragma once
// The local host's IPv4 address as dotted-decimal text. Needs Windows Sockets started.
#include "CJObject.h"

#include <string>

class CInetAddress : public CJObject {
public:
    CInetAddress();

    std::string toString() const override;

    // A new object (the caller owns it) for the local host. Throws CUnknownHostException when
    // the host name or its address cannot be had, COutOfMemoryException when out of memory.
    static CInetAddress* resolve();

private:
    std::string address_;
};
