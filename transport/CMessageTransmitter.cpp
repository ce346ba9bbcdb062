#include "CMessageTransmitter.h"

#include "CDirectPlay.h"
#include "CIOException.h"
#include "CMethodCallBlock.h"
#include "CMethodCallMessage.h"
#include "CMonitorHold.h"
#include "CPlayerId.h"

namespace {

const char SCOPE[] = "CMessageTransmitter";

enum Site {
    SITE_ADD = 1,
    SITE_REMOVE,
    SITE_LOOKUP,
    SITE_SEND,
    SITE_EXCEPT_ME,
    SITE_FORWARD,
    SITE_DESTRUCT,
};

std::string number(DWORD value)
{
    return std::to_string(static_cast<unsigned long>(value));
}

bool isToEveryCopy(const std::string& receiver)
{
    return receiver == CMethodCallMessage::ALL_TERMINAL || receiver == CMethodCallMessage::HAS_MASTER
           || receiver == CMethodCallMessage::HAS_SLAVE;
}

} // namespace

CMessageTransmitter::CMessageTransmitter(CDirectPlay* directPlay, const std::string& selfTerminalId)
    : directPlay_(directPlay), selfTerminalId_(selfTerminalId)
{
}

CMessageTransmitter::~CMessageTransmitter()
{
    CMonitorHold hold(tptLock_, SITE_DESTRUCT, SCOPE);
    for (auto& entry : TPT_)
        delete entry.second;
    TPT_.clear();
}

void CMessageTransmitter::dumpTPT(const std::string& scope, const std::map<std::string, CPlayerId*>& table)
{
    if (!CTrace::isTraced(scope))
        return;
    for (const auto& entry : table)
        CTrace::trace(scope, "TPT dump TermId=[" + entry.first + "] playerId=[" + number(entry.second->getId()) + "]",
                      0);
}

void CMessageTransmitter::addTerminal(const std::string& terminalId, CPlayerId* playerId)
{
    CMonitorHold hold(tptLock_, SITE_ADD, SCOPE);
    CTrace::trace(SCOPE, " addTerminal(): [" + terminalId + "] as player " + number(playerId->getId()), 0);
    auto entry = TPT_.find(terminalId);
    if (entry != TPT_.end()) {
        delete entry->second;
        entry->second = playerId;
    } else if (TPT_.size() >= TPT_LIMIT) {
        CTrace::scopedError(SCOPE, " addTerminal(): the table holds " + std::to_string(TPT_.size())
                                       + " terminals, [" + terminalId + "] is refused",
                            -1);
        delete playerId;
        return;
    } else {
        TPT_[terminalId] = playerId;
    }
    dumpTPT(SCOPE, TPT_);
}

void CMessageTransmitter::removeTerminal(const std::string& terminalId)
{
    CMonitorHold hold(tptLock_, SITE_REMOVE, SCOPE);
    CTrace::trace(SCOPE, " removeTerminal(): [" + terminalId + "]", 0);
    dumpTPT(SCOPE, TPT_);
    auto entry = TPT_.find(terminalId);
    if (entry == TPT_.end()) {
        CTrace::trace(SCOPE, " removeTerminal(): [" + terminalId + "] is not in the table", 0);
        return;
    }
    delete entry->second;
    TPT_.erase(entry);
}

bool CMessageTransmitter::removeTerminal(const std::string& terminalId, DPID playerId)
{
    CMonitorHold hold(tptLock_, SITE_REMOVE, SCOPE);
    CTrace::trace(SCOPE, " removeTerminal(): [" + terminalId + "] of player " + number(playerId), 0);
    dumpTPT(SCOPE, TPT_);
    auto entry = TPT_.find(terminalId);
    if (entry == TPT_.end() || entry->second->getId() != playerId) {
        CTrace::trace(SCOPE, " removeTerminal(): [" + terminalId + "] is not in the table as that player", 0);
        return false;
    }
    delete entry->second;
    TPT_.erase(entry);
    return true;
}

bool CMessageTransmitter::lookUp(const std::string& terminalId, DPID* playerId)
{
    CMonitorHold hold(tptLock_, SITE_LOOKUP, SCOPE);
    auto entry = TPT_.find(terminalId);
    if (entry == TPT_.end())
        return false;
    *playerId = entry->second->getId();
    return true;
}

DWORD CMessageTransmitter::receive(unsigned char** data)
{
    if (!directPlay_->isHost()) {
        bool fromMyself = false;
        return directPlay_->receive(data, &fromMyself);
    }
    return distribute(data);
}

// With sendLock held.
void CMessageTransmitter::forward(const unsigned char* data, DWORD size, DPID to, const char* kind)
{
    try {
        directPlay_->send(data, size, to);
    } catch (CIOException& e) {
        CTrace::scopedError(SCOPE, std::string(" distribute(): forwarding a block for ") + kind + " to player "
                                       + number(to) + " failed: " + e.getMessage(),
                            -1);
    }
}

DWORD CMessageTransmitter::distribute(unsigned char** data)
{
    *data = nullptr;
    for (;;) {
        if (!directPlay_->canOccupyReceiveThread())
            return 0;
        unsigned char* block = nullptr;
        bool fromMyself = false;
        DWORD size = directPlay_->receive(&block, &fromMyself);
        if (size == 0) {
            CTrace::trace(SCOPE, " distribute(): no block (size 0), the receive is tried again", 0);
            continue;
        }
        if (fromMyself) {
            *data = block;
            return size;
        }
        std::string receiver = CMethodCallBlock::peekReceiverTerminalId(block, static_cast<int>(size));
        if (CTrace::isTraced(SCOPE))
            CTrace::trace(SCOPE, " distribute(): a block for [" + receiver + "]", 0);
        if (receiver == CMethodCallMessage::HOST_TERMINAL) {
            *data = block;
            return size;
        }
        if (receiver == CMethodCallMessage::ALL_TERMINAL_EXCEPT_ME) {
            std::string sender = CMethodCallBlock::peekSenderTerminalId(block, static_cast<int>(size));
            {
                CDirectPlay::SendLockHold sending(*directPlay_, SITE_EXCEPT_ME, SCOPE);
                CMonitorHold table(tptLock_, SITE_EXCEPT_ME, SCOPE);
                for (const auto& entry : TPT_) {
                    // The host's own player would loop the block back: it is delivered below.
                    if (entry.first == sender || entry.second->getId() == directPlay_->getMyPlayerId())
                        continue;
                    forward(block, size, entry.second->getId(), CMethodCallMessage::ALL_TERMINAL_EXCEPT_ME);
                }
            }
            if (sender == selfTerminalId_) {
                CTrace::scopedError(SCOPE, " distribute(): a block for @ALL_TERMINAL_EXCEPT_ME names the host as its"
                                           " sender, it is not delivered",
                                    -1);
                continue;
            }
            *data = block;
            return size;
        }
        if (isToEveryCopy(receiver)) {
            {
                CDirectPlay::SendLockHold sending(*directPlay_, SITE_FORWARD, SCOPE);
                forward(block, size, DPID_ALLPLAYERS, receiver.c_str());
            }
            *data = block;
            return size;
        }
        if (receiver == CMethodCallMessage::PCS) {
            CTrace::scopedError(SCOPE, " distribute(): a block for @PCS UNDERCONSTRUCTION", -1);
            continue;
        }
        if (receiver == selfTerminalId_) {
            *data = block;
            return size;
        }
        DPID player = 0;
        if (!lookUp(receiver, &player)) {
            CTrace::trace(SCOPE, " distribute(): [" + receiver + "] is not in the table, the block cannot be"
                                 " delivered",
                          0);
            continue;
        }
        {
            CDirectPlay::SendLockHold sending(*directPlay_, SITE_FORWARD, SCOPE);
            if (player != DPID_SERVERPLAYER) {
                forward(block, size, player, "a terminal");
                continue;
            }
        }
        *data = block;
        return size;
    }
}

void CMessageTransmitter::send(const unsigned char* data, DWORD size)
{
    CDirectPlay::SendLockHold sending(*directPlay_, SITE_SEND, SCOPE);
    if (!directPlay_->isHost()) {
        directPlay_->send(data, size, DPID_SERVERPLAYER);
        return;
    }
    std::string receiver = CMethodCallBlock::peekReceiverTerminalId(data, static_cast<int>(size));
    if (receiver == CMethodCallMessage::HOST_TERMINAL || receiver == selfTerminalId_) {
        directPlay_->send(data, size, DPID_SERVERPLAYER);
    } else if (receiver == CMethodCallMessage::ALL_TERMINAL_EXCEPT_ME) {
        directPlay_->send(data, size, DPID_ALLPLAYERS);
    } else if (isToEveryCopy(receiver)) {
        directPlay_->send(data, size, DPID_ALLPLAYERS);
        directPlay_->send(data, size, DPID_SERVERPLAYER);
    } else if (receiver == CMethodCallMessage::PCS) {
        CTrace::trace(SCOPE, " send(): @PCS contradicts itself on the host, which is the PC server: dropped", 0);
    } else {
        DPID player = 0;
        if (lookUp(receiver, &player))
            directPlay_->send(data, size, player);
        else
            CTrace::scopedError(SCOPE, " send(): [" + receiver + "] is not in the table, the block is dropped", -1);
    }
}
