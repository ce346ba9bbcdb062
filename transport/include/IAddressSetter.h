#pragma once
// Chooses where the next blocks written to an output stream go.
#include <string>

class IAddressSetter {
public:
    virtual ~IAddressSetter() {}
    // ipAddress: an IP address or host name; the following writes go to it and portNum.
    virtual void setAddress(const std::string& ipAddress, int portNum) = 0;
};
