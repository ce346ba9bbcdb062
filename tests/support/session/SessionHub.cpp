#include "SessionHub.h"

#include "CIllegalArgumentException.h"
#include "CMethodCallBlock.h"
#include "CMethodCallMessage.h"
#include "CMethodCallMsgDecoder.h"
#include "CTrace.h"

#include <algorithm>

namespace {

const char SCOPE[] = "SessionHub";

bool isToEveryCopy(const std::string& receiver)
{
    return receiver == CMethodCallMessage::ALL_TERMINAL || receiver == CMethodCallMessage::HAS_MASTER
           || receiver == CMethodCallMessage::HAS_SLAVE;
}

} // namespace

SessionHub::SessionHub(const std::string& hostTerminalId, DWORD queryTimeoutMs)
    : hostId_(hostTerminalId), queryTimeoutMs_(queryTimeoutMs),
      host_(new HubTerminal(*this, hostTerminalId, true, queryTimeoutMs))
{
}

SessionHub::~SessionHub()
{
    for (auto terminal = made_.rbegin(); terminal != made_.rend(); ++terminal)
        (*terminal)->close();
    host_->close();
    made_.clear();
    host_.reset();
}

HubTerminal& SessionHub::join(const std::string& terminalId)
{
    std::lock_guard<std::mutex> hold(lock_);
    if (terminalId == hostId_ || joined(terminalId) != nullptr)
        throw CIllegalArgumentException(" join(): [" + terminalId + "] is in the session already");
    made_.emplace_back(new HubTerminal(*this, terminalId, false, queryTimeoutMs_));
    routed_.push_back(made_.back().get());
    return *made_.back();
}

HubTerminal& SessionHub::terminal(const std::string& terminalId)
{
    if (terminalId == hostId_)
        return *host_;
    std::lock_guard<std::mutex> hold(lock_);
    for (auto terminal = made_.rbegin(); terminal != made_.rend(); ++terminal)
        if ((*terminal)->terminalId() == terminalId)
            return **terminal;
    throw CIllegalArgumentException(" terminal(): [" + terminalId + "] never joined");
}

void SessionHub::setSessionOutListener(std::function<void(const std::string&)> listener)
{
    std::lock_guard<std::mutex> hold(lock_);
    sessionOut_ = std::move(listener);
}

int SessionHub::blocksRouted()
{
    std::lock_guard<std::mutex> hold(lock_);
    return blocksRouted_;
}

std::vector<std::string> SessionHub::traffic()
{
    std::lock_guard<std::mutex> hold(lock_);
    return traffic_;
}

void SessionHub::clearTraffic()
{
    std::lock_guard<std::mutex> hold(lock_);
    traffic_.clear();
}

std::string SessionHub::describe(const unsigned char* block, int size)
{
    reading_ = block;
    readingSize_ = size;
    CMethodCallMsgDecoder decoder(this);
    IMessage* message = decoder.read();
    if (message == nullptr)
        return "(malformed)";
    CMethodCallMessage* call = dynamic_cast<CMethodCallMessage*>(message);
    std::string text = call == nullptr ? std::string("(not a call)") : call->getRecElemId() + " " + call->getMethodName();
    IMessage::release(message);
    return text;
}

// The decoder of describe() reads the block being routed, then the end of input.
int SessionHub::read(const unsigned char** block)
{
    int size = readingSize_;
    *block = reading_;
    readingSize_ = 0;
    return size;
}

HubTerminal* SessionHub::joined(const std::string& terminalId)
{
    for (HubTerminal* terminal : routed_)
        if (terminal->terminalId() == terminalId)
            return terminal;
    return nullptr;
}

void SessionHub::detach(HubTerminal& terminal)
{
    std::function<void(const std::string&)> listener;
    {
        std::lock_guard<std::mutex> hold(lock_);
        if (&terminal == host_.get()) {
            hostRouted_ = false;
            return;
        }
        auto entry = std::find(routed_.begin(), routed_.end(), &terminal);
        if (entry == routed_.end())
            return;
        routed_.erase(entry);
        listener = sessionOut_;
    }
    CTrace::trace(SCOPE, " [" + terminal.terminalId() + "] left the session", 0);
    if (listener)
        listener(terminal.terminalId());
}

void SessionHub::route(HubTerminal& from, const unsigned char* block, int size)
{
    std::lock_guard<std::mutex> hold(lock_);
    bool inSession = &from == host_.get() ? hostRouted_ : joined(from.terminalId()) != nullptr;
    if (!inSession) {
        CTrace::trace(SCOPE, " a block of [" + from.terminalId() + "], which left the session, is dropped", 0);
        return;
    }
    ++blocksRouted_;
    std::string receiver = CMethodCallBlock::peekReceiverTerminalId(block, size);
    traffic_.push_back(from.terminalId() + ">" + receiver + " " + describe(block, size));
    if (&from == host_.get())
        fromHost(receiver, block, size);
    else
        fromJoined(receiver, block, size);
}

void SessionHub::toAllJoined(const unsigned char* block, int size, const std::string& except)
{
    for (HubTerminal* terminal : routed_)
        if (terminal->terminalId() != except)
            terminal->deliver(block, size);
}

void SessionHub::fromHost(const std::string& receiver, const unsigned char* block, int size)
{
    if (receiver == CMethodCallMessage::HOST_TERMINAL || receiver == hostId_) {
        host_->deliver(block, size);
    } else if (receiver == CMethodCallMessage::ALL_TERMINAL_EXCEPT_ME) {
        toAllJoined(block, size, std::string());
    } else if (isToEveryCopy(receiver)) {
        toAllJoined(block, size, std::string());
        host_->deliver(block, size);
    } else if (receiver == CMethodCallMessage::PCS) {
        CTrace::trace(SCOPE, " the host sends to @PCS, which is itself: dropped", 0);
    } else if (HubTerminal* terminal = joined(receiver)) {
        terminal->deliver(block, size);
    } else {
        CTrace::trace(SCOPE, " [" + receiver + "] is not in the session: dropped", 0);
    }
}

void SessionHub::fromJoined(const std::string& receiver, const unsigned char* block, int size)
{
    if (receiver == CMethodCallMessage::HOST_TERMINAL || receiver == hostId_) {
        host_->deliver(block, size);
    } else if (receiver == CMethodCallMessage::ALL_TERMINAL_EXCEPT_ME) {
        std::string sender = CMethodCallBlock::peekSenderTerminalId(block, size);
        toAllJoined(block, size, sender);
        if (sender == hostId_)
            CTrace::scopedError(SCOPE, " a block to @ALL_TERMINAL_EXCEPT_ME names the host as its sender", -1);
        else
            host_->deliver(block, size);
    } else if (isToEveryCopy(receiver)) {
        toAllJoined(block, size, std::string());
        host_->deliver(block, size);
    } else if (receiver == CMethodCallMessage::PCS) {
        CTrace::scopedError(SCOPE, " UNDERCONSTRUCTION", -1);
    } else if (HubTerminal* terminal = joined(receiver)) {
        terminal->deliver(block, size);
    } else {
        CTrace::trace(SCOPE, " [" + receiver + "] is not in the session: dropped", 0);
    }
}
