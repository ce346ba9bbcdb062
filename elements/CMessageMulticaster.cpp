#include "CMessageMulticaster.h"

#include "IMessage.h"

#include <cstdint>
#include <cstdio>

namespace {

const char SCOPE[] = "CMessageMulticaster";
const size_t INITIAL_BUCKETS = 10;

std::string addressOf(const void* object)
{
    char text[40];
    snprintf(text, sizeof(text), "0x%08llX", static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(object)));
    return text;
}

} // namespace

CMessageMulticaster::CMessageMulticaster() : listeners_(INITIAL_BUCKETS) {}

CMessageMulticaster::~CMessageMulticaster()
{
    listeners_.clear();
}

void CMessageMulticaster::addListener(const std::string& name, IMessageListener* listener)
{
    ObjectLock(1, SCOPE);
    CTrace::trace(SCOPE, " addListener(): [" + name + "] listener " + addressOf(listener), 0);
    listeners_[name] = listener;
    CTrace::trace(SCOPE, " addListener(): the entry is complete", 0);
    ObjectUnLock();
}

void CMessageMulticaster::removeListener(const std::string& name)
{
    ObjectLock(2, SCOPE);
    if (listeners_.erase(name) == 0)
        CTrace::scopedError(SCOPE, " removeListener(): the object to remove does not exist [" + name + "]", -1);
    CTrace::trace(SCOPE, " removeListener(): the removal is complete", 0);
    ObjectUnLock();
}

// Elements are entered and removed while messages arrive: the table is only ever read under
// the monitor, but the listener is called outside it.
IMessageListener* CMessageMulticaster::find(const std::string& name)
{
    ObjectLock(3, SCOPE);
    auto entry = listeners_.find(name);
    IMessageListener* listener = entry == listeners_.end() ? nullptr : entry->second;
    ObjectUnLock();
    return listener;
}

void CMessageMulticaster::notifyMessage(IMessage* message)
{
    if (message == nullptr) {
        CTrace::scopedError(SCOPE, " notifyMessage(): NULL message", -1);
        return;
    }
    IMessageListener* listener = find(message->getRecElemId());
    if (listener != nullptr) {
        if (CTrace::isTraced(SCOPE))
            CTrace::trace(SCOPE, " notifyMessage(): delivering to [" + message->getRecElemId() + "]", 0);
        listener->notifyMessage(message);
        return;
    }
    if (CTrace::isTraced(SCOPE))
        CTrace::trace(SCOPE, " notifyMessage(): the destination [" + message->getRecElemId() + "] does not exist", 0);
    CTrace::trace(SCOPE, " notifyMessage(): the message is disposed of", 0);
    IMessage::release(message);
}

bool CMessageMulticaster::canDeliver(const IMessage* message)
{
    return message != nullptr && find(message->getRecElemId()) != nullptr;
}
