#pragma once
// The record a terminal publishes in the lookup service: kind, address, port and free data.
// The terminal id is the key it is kept under, not part of it.
#include <string>

class CTerminalInfo {
public:
    CTerminalInfo();
    CTerminalInfo(const std::string& category, const std::string& ipAddress, int portNum,
                  const std::string& optionalData);

    void setValid() { valid = true; }
    void setInvalid() { valid = false; }
    bool isValid() const { return valid; }
    std::string getCategory() const { return category; }
    std::string getIpAddress() const { return ipAddress; }
    std::string getOptionalData() const { return optionalData; }
    int getPortNum() const { return portNum; }
    void setCategory(const std::string& text) { category = text; }
    void setIpAddress(const std::string& text) { ipAddress = text; }
    void setOptionalData(const std::string& text) { optionalData = text; }
    void setPortNum(int number) { portNum = number; }

private:
    bool valid;
    std::string category;
    std::string ipAddress;
    // Nobody sets the port of the published record, so the default is what is published.
    int portNum;
    std::string optionalData;
};
