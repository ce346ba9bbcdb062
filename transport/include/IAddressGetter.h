#pragma once
// Tells a message connection where the terminals of its session receive blocks.
#include <string>
#include <vector>

class IAddressGetter {
public:
    virtual ~IAddressGetter() {}
    // The address of one terminal; CNullPointerException when it has none.
    virtual void getAddress(const std::string& terminalId, std::string& ipAddress, int& portNum) = 0;
    // Every registered address as two parallel lists: entry i of both belongs to one terminal.
    virtual void getAllAddresses(std::vector<std::string>& ipAddresses, std::vector<int>& portNums) = 0;
};
