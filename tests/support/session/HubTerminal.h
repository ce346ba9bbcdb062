#pragma once
// One terminal of an in-process session: its gate over the real decoder and encoder, its proxy
// entered in the gate, and a session handle into which its elements are plugged. Its blocks go
// to the hub, which routes them as the host of the session would; blocks for it arrive in its
// inbox, which its gate's receive thread reads.
#include "BlockPipe.h"
#include "CMethodCallMsgDecoder.h"
#include "CMethodCallMsgEncoder.h"
#include "IOutputStream.h"
#include "ISessionHandle.h"

#include <windows.h>

#include <mutex>
#include <string>
#include <utility>
#include <vector>

class CMessageGate;
class CProxyElement;
class SessionHub;

class HubTerminal : public ISessionHandle, private IOutputStream {
public:
    // Made by the hub; the terminal's gate runs from here on.
    HubTerminal(SessionHub& hub, const std::string& terminalId, bool host, DWORD queryTimeoutMs);
    // Closes the terminal if that was not done.
    ~HubTerminal() override;
    HubTerminal(const HubTerminal&) = delete;
    HubTerminal& operator=(const HubTerminal&) = delete;

    const std::string& terminalId() const { return terminalId_; }
    bool isHost() const { return host_; }
    CMessageGate& gate() { return *gate_; }
    // Sends as this terminal's elements do (a test may forge calls with it).
    CProxyElement& proxy() { return *proxy_; }

    // The hub made the session already.
    std::string openLocalSession(const std::string&, ISessionHandleEventListener*) override { return ""; }
    void openRemoteSession(const std::string&, const std::string&, const std::string&,
                           ISessionHandleEventListener*) override
    {
    }
    // Plugs out every element still plugged in (oldest first, so that a space removes its own
    // members), waits until all they sent has left, then leaves the session.
    void close() override;
    void plugIn(const std::string& text, CElement* element) override;
    void plugOut(const std::string& elementId) override;
    std::string createGuidString() override;

    // Leaves the session at once, as a terminal that crashes: nothing reaches it or leaves it
    // from now on. Its elements stay plugged in until close.
    void cut();
    // The element ids plugged in, oldest first.
    std::vector<std::string> pluggedIds();

    // For the hub: a block for this terminal.
    void deliver(const unsigned char* block, int size) { inbox_.write(block, size); }

private:
    void write(const unsigned char* data, int size) override;
    void waitUntilSent();

    SessionHub& hub_;
    std::string terminalId_;
    bool host_;
    std::string name_; // "LC" for the host, "RM" for a joined terminal
    BlockPipe inbox_;
    CMethodCallMsgDecoder decoder_;
    CMethodCallMsgEncoder encoder_;
    CMessageGate* gate_;
    CProxyElement* proxy_;

    std::mutex lock_;
    std::vector<std::pair<std::string, CElement*>> plugged_; // lock_
    bool open_ = true;                                       // lock_
    bool cut_ = false;                                       // lock_
    HANDLE sent_;                                            // set when the flush mark was written
    bool closed_ = false;                                    // close() ran (owner's thread only)
};
