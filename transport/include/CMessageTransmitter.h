#pragma once
// Routes the blocks of one DirectPlay session by the receiver terminal id inside each encoded
// method call. The host is the hub: a member sends every block to the host and keeps every
// block that reaches it; the host sends its own blocks to the right players and, for each block
// it receives, forwards it unchanged (never decoded), delivers it to itself, or both.
//
//   sent by the host                      received by the host from member M
//   "@HOST_TERMINAL", own id: itself      "@HOST_TERMINAL", host's id: delivered
//   "@ALL_TERMINAL_EXCEPT_ME": members    "@ALL_TERMINAL_EXCEPT_ME": every member but the block's
//                                           sender, then delivered
//   "@ALL_TERMINAL", "@HAS_MASTER",       "@ALL_TERMINAL", "@HAS_MASTER", "@HAS_SLAVE": to all
//     "@HAS_SLAVE": members, then itself    members (M too), then delivered
//   "@PCS": dropped                       "@PCS": dropped (an error line)
//   a member's id: that member            a member's id: that member (M too)
//   an unknown id: dropped                an unknown id: dropped
//
// The terminal-player table (TPT) follows the players that DirectPlay reports.
#include "CJObject.h"

#include <windows.h>
#include <dplay.h>

#include <map>
#include <string>

class CDirectPlay;
class CPlayerId;

class CMessageTransmitter {
public:
    // Terminals in the table, at most. Peers fill it by creating players; DirectPlay holds a
    // session to 256 connections of 16 players each, and no session of this system comes near.
    static constexpr size_t TPT_LIMIT = 4096;

    CMessageTransmitter(CDirectPlay* directPlay, const std::string& selfTerminalId);
    // Deletes the player ids still in the table.
    ~CMessageTransmitter();
    CMessageTransmitter(const CMessageTransmitter&) = delete;
    CMessageTransmitter& operator=(const CMessageTransmitter&) = delete;

    // The next block for this terminal: data points into the wrapper's receive buffer (valid
    // until the next receive). 0 once the receiving thread is released.
    DWORD receive(unsigned char** data);
    // Routes one block; the wrapper's exceptions pass on.
    void send(const unsigned char* data, DWORD size);

    // The table takes playerId; an entry with the same terminal id is replaced (its player id
    // deleted). Past TPT_LIMIT a new terminal is refused with an error line (playerId deleted).
    void addTerminal(const std::string& terminalId, CPlayerId* playerId);
    void removeTerminal(const std::string& terminalId);
    // Removes the entry only when it holds that player; whether it did.
    bool removeTerminal(const std::string& terminalId, DPID playerId);
    static void dumpTPT(const std::string& scope, const std::map<std::string, CPlayerId*>& table);

private:
    DWORD distribute(unsigned char** data);
    void forward(const unsigned char* data, DWORD size, DPID to, const char* kind);
    bool lookUp(const std::string& terminalId, DPID* playerId);

    CDirectPlay* directPlay_;
    std::map<std::string, CPlayerId*> TPT_; // tptLock_
    CJObject tptLock_;
    std::string selfTerminalId_;
};
