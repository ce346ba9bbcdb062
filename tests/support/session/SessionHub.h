#pragma once
// An in-process session of several terminals for the tests of replicated elements. The host
// terminal is the hub: every block that a joined terminal sends goes to it, and it forwards or
// delivers by the block's receiver terminal id as the host of the session transport does:
//
//   sent by the host                       sent by a joined terminal J
//   "@HOST_TERMINAL", own id: the host     "@HOST_TERMINAL", host's id: the host
//   "@ALL_TERMINAL_EXCEPT_ME": all joined  "@ALL_TERMINAL_EXCEPT_ME": all joined but the block's
//                                            sender terminal, then the host
//   "@ALL_TERMINAL", "@HAS_MASTER",        "@ALL_TERMINAL", "@HAS_MASTER", "@HAS_SLAVE": all
//     "@HAS_SLAVE": all joined, the host     joined (J too), then the host
//   "@PCS": dropped                        "@PCS": dropped (an error line)
//   a joined terminal's id: that terminal  a joined terminal's id: that terminal (J too)
//   any other id: dropped                  any other id: dropped
//
// Routing runs on the sending terminal's send thread under the hub's lock, so blocks reach
// each inbox in one order.
#include "HubTerminal.h"
#include "IInputStream.h"

#include <windows.h>

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

class SessionHub : private IInputStream {
public:
    // The host terminal joins at once. queryTimeoutMs: how long the terminals' queries wait.
    explicit SessionHub(const std::string& hostTerminalId = "HOST", DWORD queryTimeoutMs = 10000);
    // Closes the joined terminals (newest first), then the host.
    ~SessionHub();
    SessionHub(const SessionHub&) = delete;
    SessionHub& operator=(const SessionHub&) = delete;

    HubTerminal& host() { return *host_; }
    HubTerminal& join(const std::string& terminalId);
    // A terminal made by join (or the host).
    HubTerminal& terminal(const std::string& terminalId);
    // An orderly leave: the terminal's session closes (plugging out its elements).
    void leave(const std::string& terminalId) { terminal(terminalId).close(); }
    // A crash: the terminal drops out of the routing at once.
    void cut(const std::string& terminalId) { terminal(terminalId).cut(); }

    // Told the id of each joined terminal that leaves the routing, on the thread that made it
    // leave, as the host's session logic hears of it.
    void setSessionOutListener(std::function<void(const std::string&)> listener);
    // Blocks routed so far.
    int blocksRouted();
    // One line a routed block, oldest first: "<sender>><receiver terminal> <receiver element>
    // <method>", the sender being the terminal that wrote it.
    std::vector<std::string> traffic();
    void clearTraffic();

    // For the terminals.
    void route(HubTerminal& from, const unsigned char* block, int size);
    void detach(HubTerminal& terminal);

private:
    void fromHost(const std::string& receiver, const unsigned char* block, int size);
    void fromJoined(const std::string& receiver, const unsigned char* block, int size);
    void toAllJoined(const unsigned char* block, int size, const std::string& except);
    HubTerminal* joined(const std::string& terminalId);
    // Decodes the block being routed, for the traffic list.
    std::string describe(const unsigned char* block, int size);
    int read(const unsigned char** block) override;

    std::mutex lock_;
    std::string hostId_;
    DWORD queryTimeoutMs_;
    std::unique_ptr<HubTerminal> host_;
    std::vector<std::unique_ptr<HubTerminal>> made_; // every joined terminal, oldest first
    std::vector<HubTerminal*> routed_;               // lock_: the joined terminals in the session
    bool hostRouted_ = true;                         // lock_
    std::function<void(const std::string&)> sessionOut_;
    int blocksRouted_ = 0;              // lock_
    std::vector<std::string> traffic_;  // lock_
    const unsigned char* reading_ = nullptr; // lock_: the block that describe() decodes
    int readingSize_ = 0;               // lock_
};
