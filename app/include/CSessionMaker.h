#pragma once
// How the session director makes its lookup-service proxy and its session handles: the real
// ones (the proxy over the middleware, the DirectPlay session handle, the broadcast session
// handle), unless a test puts its own maker in place.
#include <windows.h>

#include <string>

class CQUARNInterface;
class IBroadcastSessionHandle;
class ILookupServiceHandle;
class ISessionHandle;

class CSessionMaker {
public:
    virtual ~CSessionMaker() = default;

    // Each returns a handle owned by the caller and throws what the real maker throws.
    virtual ILookupServiceHandle* makeLookupService(CQUARNInterface* quarn, const std::string& applicationId,
                                                    HWND window);
    virtual ISessionHandle* makeNetwork(const std::string& terminalId, bool isHost, const std::string& name);
    virtual IBroadcastSessionHandle* makeBroadcastNetwork(const std::string& terminalId, int* portOut,
                                                          const std::string& name);

    // The maker in force.
    static CSessionMaker& current();
    // Puts the maker in force (not owned); null restores the real one. Returns the one before.
    static CSessionMaker* set(CSessionMaker* maker);
};
