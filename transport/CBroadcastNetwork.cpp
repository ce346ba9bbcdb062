#include "CBroadcastNetwork.h"

#include "CElement.h"
#include "CIllegalStateException.h"
#include "CInteger.h"
#include "CMessageGate.h"
#include "CMessagePath.h"
#include "CMonitorHold.h"
#include "CNullPointerException.h"
#include "CTrace.h"
#include "CUDPInputStream.h"
#include "CUDPOutputStream.h"

namespace {

const char SCOPE[] = "CBroadcastNetwork";

enum Site {
    SITE_ADDRESS = 1,
    SITE_PLUG_IN,
    SITE_PLUG_OUT,
    SITE_CLOSE,
    SITE_PLUGGED,
};

} // namespace

IBroadcastSessionHandle* CBroadcastNetwork::create(const std::string& terminalId, int* portOut,
                                                   const std::string& sessionName)
{
    return new CBroadcastNetwork(terminalId, portOut, sessionName);
}

CBroadcastNetwork::CBroadcastNetwork(const std::string& terminalId, int* portOut, const std::string& sessionName)
    : inputStream_(nullptr), outputStream_(nullptr), addressSetter_(nullptr), path_(nullptr),
      terminalId_(terminalId), sessionName_(sessionName), closed_(false)
{
    inputStream_ = new CUDPInputStream(portOut);
    outputStream_ = new CUDPOutputStream();
    addressSetter_ = dynamic_cast<IAddressSetter*>(outputStream_);
    path_ = new CMessagePath(inputStream_, outputStream_, this, addressSetter_, terminalId_, sessionName_, SCOPE);
}

CBroadcastNetwork::~CBroadcastNetwork()
{
    CTrace::trace(SCOPE, " ~CBroadcastNetwork()", 0);
    bool closed;
    {
        CMonitorHold hold(sessionLock_, SITE_CLOSE, SCOPE);
        closed = closed_;
        if (!PEM.empty())
            CTrace::scopedError(SCOPE, " ~CBroadcastNetwork(): " + std::to_string(PEM.size())
                                           + " elements are still plugged in, their proxy goes now",
                                -1);
    }
    if (!closed) {
        CTrace::scopedError(SCOPE, " ~CBroadcastNetwork(): deleted without close, it is closed here", -1);
        close();
    }
    delete path_;
    delete outputStream_;
    CTrace::trace(SCOPE, " deleted CUDPOutputStream", 0);
    delete inputStream_;
    CTrace::trace(SCOPE, " deleted CUDPInputStream", 0);
}

void CBroadcastNetwork::setAddress(const std::string& terminalId, const std::string& ipAddress, int portNum)
{
    CMonitorHold hold(addressLock_, SITE_ADDRESS, SCOPE);
    if (TIM.count(terminalId) == 0 && TIM.size() >= ADDRESS_LIMIT) {
        CTrace::scopedError(SCOPE, " setAddress(): " + std::to_string(ADDRESS_LIMIT) + " terminals have an address, ["
                                       + terminalId + "] is refused",
                            -1);
        return;
    }
    TIM[terminalId] = ipAddress;
    TPM[terminalId] = CInteger::toString(portNum);
    CTrace::trace(SCOPE, " setAddress(): [" + terminalId + "] at " + ipAddress + ":" + TPM[terminalId], 0);
}

void CBroadcastNetwork::removeAddress(const std::string& terminalId)
{
    CMonitorHold hold(addressLock_, SITE_ADDRESS, SCOPE);
    TIM.erase(terminalId);
    TPM.erase(terminalId);
    CTrace::trace(SCOPE, " removeAddress(): [" + terminalId + "]", 0);
}

void CBroadcastNetwork::getAddress(const std::string& terminalId, std::string& ipAddress, int& portNum)
{
    CMonitorHold hold(addressLock_, SITE_ADDRESS, SCOPE);
    auto ip = TIM.find(terminalId);
    if (ip == TIM.end())
        throw CNullPointerException(" getAddress(): the TIM lookup failed, [" + terminalId + "] is not registered");
    auto port = TPM.find(terminalId);
    if (port == TPM.end())
        throw CNullPointerException(" getAddress(): the TPM lookup failed, [" + terminalId + "] is not registered");
    ipAddress = ip->second;
    portNum = CInteger::parseInt(port->second);
}

void CBroadcastNetwork::getAllAddresses(std::vector<std::string>& ipAddresses, std::vector<int>& portNums)
{
    CMonitorHold hold(addressLock_, SITE_ADDRESS, SCOPE);
    ipAddresses.clear();
    portNums.clear();
    for (auto& entry : TIM) {
        auto port = TPM.find(entry.first);
        ipAddresses.push_back(entry.second);
        portNums.push_back(port == TPM.end() ? 0 : CInteger::parseInt(port->second));
    }
}

void CBroadcastNetwork::plugIn(const std::string&, CElement* element)
{
    CTrace::trace(SCOPE, " plugIn()", 0);
    CTrace::scopedAssertTrue(element != nullptr, SCOPE, " plugIn(): the element is NULL", -1);
    CMonitorHold hold(sessionLock_, SITE_PLUG_IN, SCOPE);
    // Its calls would wait in a queue that nobody sends any more.
    if (closed_)
        throw CIllegalStateException(" plugIn(): the broadcast session is closed");
    PEM.plugIn(element, terminalId_, path_->gate(), path_->proxy(), sessionName_);
}

void CBroadcastNetwork::plugOut(const std::string& elementId)
{
    CTrace::trace(SCOPE, " plugOut(): [" + elementId + "]", 0);
    CElement* element = nullptr;
    {
        CMonitorHold hold(sessionLock_, SITE_PLUG_OUT, SCOPE);
        element = PEM.take(elementId);
    }
    element->plugOut();
    CTrace::trace(SCOPE, " plugOut(): the plug-out of [" + elementId + "] is complete", 0);
}

void CBroadcastNetwork::close()
{
    CMonitorHold hold(sessionLock_, SITE_CLOSE, SCOPE);
    CTrace::trace(SCOPE, " close(): the connection's threads are stopped", 0);
    closed_ = true;
    inputStream_->close();
    path_->gate()->stop();
    CTrace::trace(SCOPE, " close(): the receiving and sending threads have stopped", 0);
}

std::vector<std::string> CBroadcastNetwork::pluggedIds()
{
    CMonitorHold hold(sessionLock_, SITE_PLUGGED, SCOPE);
    return PEM.ids();
}
