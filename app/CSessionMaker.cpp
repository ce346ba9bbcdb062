#include "CSessionMaker.h"

#include "CBroadcastNetwork.h"
#include "CNetwork.h"
#include "CQuarnLusProxy.h"

#include <atomic>

namespace {

CSessionMaker g_realMaker;
std::atomic<CSessionMaker*> g_maker{&g_realMaker};

} // namespace

ILookupServiceHandle* CSessionMaker::makeLookupService(CQUARNInterface* quarn, const std::string& applicationId,
                                                       HWND window)
{
    return CQuarnLusProxy::create(quarn, applicationId, window);
}

ISessionHandle* CSessionMaker::makeNetwork(const std::string& terminalId, bool isHost, const std::string& name)
{
    return CNetwork::create(terminalId, isHost, name);
}

IBroadcastSessionHandle* CSessionMaker::makeBroadcastNetwork(const std::string& terminalId, int* portOut,
                                                             const std::string& name)
{
    return CBroadcastNetwork::create(terminalId, portOut, name);
}

CSessionMaker& CSessionMaker::current()
{
    return *g_maker.load();
}

CSessionMaker* CSessionMaker::set(CSessionMaker* maker)
{
    return g_maker.exchange(maker != nullptr ? maker : &g_realMaker);
}
