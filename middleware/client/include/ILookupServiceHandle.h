#pragma once
// The lookup service as the session logic sees it: a terminal publishes its record under its
// terminal id, finds the records of given ids on every reachable computer and lists ids by
// category, address or port. The operations keep this order: callers depend on it.
#include "CTerminalInfo.h"

#include <string>
#include <vector>

class ILookupServiceHandle {
public:
    virtual ~ILookupServiceHandle() = default;

    // Only on the thread that created the service. CIllegalArgumentException for an empty id,
    // an id holding "\" or an invalid record; CIOException or CLusException when the middleware
    // fails.
    virtual void regist(std::string terminalId, CTerminalInfo info) = 0;
    virtual void remove(std::string terminalId) = 0;
    // From any thread. found gets one record per id, at the id's position; an id found nowhere
    // gives an invalid record.
    virtual void find(const std::vector<std::string>& terminalIds, std::vector<CTerminalInfo>& found) = 0;
    virtual CTerminalInfo find(std::string terminalId) = 0;
    // Only on the thread that created the service; the ids found are appended to terminalIds.
    virtual void enumByCategory(const std::vector<std::string>& categories, std::vector<std::string>& terminalIds) = 0;
    virtual void enumByCategory(std::string category, std::vector<std::string>& terminalIds) = 0;
    virtual void enumByIpAddress(const std::vector<std::string>& addresses, std::vector<std::string>& terminalIds) = 0;
    virtual void enumByIpAddress(std::string address, std::vector<std::string>& terminalIds) = 0;
    virtual void enumByPortNum(unsigned portNum, std::vector<std::string>& terminalIds) = 0;
    // True when the record is not valid: nothing was found for its id.
    virtual bool isNotFound(const CTerminalInfo& info) = 0;
};
