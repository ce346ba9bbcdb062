#pragma once
// The session handle of the UDP session that every terminal runs beside its DirectPlay
// session: its elements' notices leave as single datagrams straight to the terminals whose
// addresses the session logic registered ("@ALL_TERMINAL": to every one of them). It owns
// the UDP streams and the message path (codec, message gate and proxy element), and answers
// the gate's address questions.
//
// Made and deleted on a thread that runs a message loop (the input stream's window is that
// thread's). The session runs from construction: datagrams may arrive at once.
// Locks: addressLock and sessionLock, never together.
#include "CJObject.h"
#include "CPluggedElements.h"
#include "IAddressGetter.h"
#include "IBroadcastSessionHandle.h"

#include <map>
#include <string>
#include <utility>
#include <vector>

class CMessagePath;
class CUDPInputStream;
class CUDPOutputStream;
class IAddressSetter;

class CBroadcastNetwork : public virtual IBroadcastSessionHandle, public virtual IAddressGetter {
public:
    // Terminals with an address, at most. The member list registers one per terminal of the
    // session, which peers join; a session of that many terminals is far beyond any LAN
    // meeting, so a new terminal past it is refused with an error line.
    static constexpr size_t ADDRESS_LIMIT = 1024;

    // The handle, owned by the caller; portOut receives the local port that datagrams reach.
    static IBroadcastSessionHandle* create(const std::string& terminalId, int* portOut,
                                           const std::string& sessionName);

    CBroadcastNetwork(const std::string& terminalId, int* portOut, const std::string& sessionName);
    // Close first.
    ~CBroadcastNetwork() override;
    CBroadcastNetwork(const CBroadcastNetwork&) = delete;
    CBroadcastNetwork& operator=(const CBroadcastNetwork&) = delete;

    void setAddress(const std::string& terminalId, const std::string& ipAddress, int portNum) override;
    void removeAddress(const std::string& terminalId) override;
    void plugIn(const std::string& text, CElement* element) override;
    void plugOut(const std::string& elementId) override;
    // Ends the reception, then stops both threads (what waits to be sent is dropped). Elements
    // stay plugged in and the addresses stay registered; plugIn is refused from now on.
    void close() override;

    // CNullPointerException for a terminal without an address.
    void getAddress(const std::string& terminalId, std::string& ipAddress, int& portNum) override;
    void getAllAddresses(std::vector<std::string>& ipAddresses, std::vector<int>& portNums) override;

    // The element ids plugged in, oldest first.
    std::vector<std::string> pluggedIds();

private:
    CUDPInputStream* inputStream_;
    CUDPOutputStream* outputStream_;
    IAddressSetter* addressSetter_;
    CMessagePath* path_;
    std::string terminalId_;
    std::string sessionName_;
    std::map<std::string, std::string> TIM; // addressLock_: terminal id -> IP address text
    std::map<std::string, std::string> TPM; // addressLock_: terminal id -> port as decimal text
    CJObject addressLock_;
    // Element id -> element, oldest first (not owned). The director plugs in the voice element.
    CPluggedElements PEM{"CBroadcastNetwork"}; // sessionLock_
    bool closed_;                                       // sessionLock_
    CJObject sessionLock_;
};
