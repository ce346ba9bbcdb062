#include "CTerminalInfo.h"

CTerminalInfo::CTerminalInfo() : valid(false), portNum(0) {}

CTerminalInfo::CTerminalInfo(const std::string& category, const std::string& ipAddress, int portNum,
                             const std::string& optionalData)
    : valid(true), category(category), ipAddress(ipAddress), portNum(portNum), optionalData(optionalData)
{
}
