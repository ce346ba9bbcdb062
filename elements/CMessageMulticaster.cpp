#include "CMessageMulticaster.h"

#include "CMonitorHold.h"
#include "IMessage.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdio>

namespace {

const char SCOPE[] = "CMessageMulticaster";
const size_t INITIAL_BUCKETS = 10;

enum Site {
    SITE_ADD = 1,
    SITE_REMOVE,
    SITE_FIND,
    SITE_BEGIN_DELIVERY,
    SITE_END_DELIVERY,
};

// Set while this thread hands a peer's message to a listener.
thread_local bool t_peerDelivery = false;

std::string addressOf(const void* object)
{
    char text[40];
    snprintf(text, sizeof(text), "0x%08llX", static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(object)));
    return text;
}

} // namespace

// A delivery under way on this thread; each links to the one it is nested in (a listener may
// deliver again). Frames live on the delivering stack: a thread_local with a destructor would
// have it run at thread exit on storage the runtime has already freed.
struct CMessageMulticaster::DeliveryFrame {
    const void* entry;
    const DeliveryFrame* outer;
};

thread_local const CMessageMulticaster::DeliveryFrame* CMessageMulticaster::innermostDelivery_ = nullptr;

// One entered name. Deliveries hold the entry, so it outlives its removal from the table until
// the last of them has ended.
struct CMessageMulticaster::Entry {
    explicit Entry(IMessageListener* entered) : listener(entered) {}

    IMessageListener* listener;
    std::atomic<int> deliveries{0}; // under way; counted up under the monitor
    std::atomic<bool> removed{false};

    // Deliveries under way on other threads than the calling one.
    int deliveriesByOthers() const
    {
        int own = 0;
        for (const DeliveryFrame* frame = innermostDelivery_; frame != nullptr; frame = frame->outer)
            own += frame->entry == this ? 1 : 0;
        return deliveries - own;
    }
};

CMessageMulticaster::CMessageMulticaster(Origin origin) : listeners_(INITIAL_BUCKETS), origin_(origin) {}

CMessageMulticaster::~CMessageMulticaster()
{
    listeners_.clear();
}

bool CMessageMulticaster::deliversPeerMessage()
{
    return t_peerDelivery;
}

void CMessageMulticaster::addListener(const std::string& name, IMessageListener* listener)
{
    CMonitorHold hold(*this, SITE_ADD, SCOPE);
    CTrace::trace(SCOPE, " addListener(): [" + name + "] listener " + addressOf(listener), 0);
    listeners_[name] = std::make_shared<Entry>(listener);
    CTrace::trace(SCOPE, " addListener(): the entry is complete", 0);
}

// The owner frees the listener once this returns (an element's end deletes its handler right
// after removing it), so a delivery that found the entry before must have left the listener.
void CMessageMulticaster::removeListener(const std::string& name)
{
    CMonitorHold hold(*this, SITE_REMOVE, SCOPE);
    auto found = listeners_.find(name);
    if (found == listeners_.end()) {
        CTrace::scopedError(SCOPE, " removeListener(): the object to remove does not exist [" + name + "]", -1);
    } else {
        std::shared_ptr<Entry> entry = found->second;
        listeners_.erase(found);
        entry->removed = true;
        if (entry->deliveriesByOthers() > 0) {
            CTrace::trace(SCOPE, " removeListener(): waiting for deliveries to [" + name + "] under way", 0);
            drained_.wait(hold, [&] { return entry->deliveriesByOthers() == 0; });
        }
    }
    CTrace::trace(SCOPE, " removeListener(): the removal is complete", 0);
}

// Elements are entered and removed while messages arrive: the table is only ever read under
// the monitor, but the listener is called outside it.
bool CMessageMulticaster::isEntered(const std::string& name)
{
    CMonitorHold hold(*this, SITE_FIND, SCOPE);
    return listeners_.count(name) != 0;
}

std::shared_ptr<CMessageMulticaster::Entry> CMessageMulticaster::beginDelivery(const std::string& name,
                                                                               DeliveryFrame& frame)
{
    CMonitorHold hold(*this, SITE_BEGIN_DELIVERY, SCOPE);
    auto found = listeners_.find(name);
    if (found == listeners_.end())
        return nullptr;
    ++found->second->deliveries;
    frame.entry = found->second.get();
    frame.outer = innermostDelivery_;
    innermostDelivery_ = &frame;
    return found->second;
}

// Takes the monitor only when a removal may be waiting: the removal marks the entry before it
// counts, so either it sees this delivery ended or this sees the mark.
void CMessageMulticaster::endDelivery(Entry& entry, const DeliveryFrame& frame)
{
    innermostDelivery_ = frame.outer;
    --entry.deliveries;
    if (!entry.removed)
        return;
    CMonitorHold hold(*this, SITE_END_DELIVERY, SCOPE);
    drained_.notify_all();
}

void CMessageMulticaster::notifyMessage(IMessage* message)
{
    if (message == nullptr) {
        CTrace::scopedError(SCOPE, " notifyMessage(): NULL message", -1);
        return;
    }
    DeliveryFrame frame{nullptr, nullptr};
    std::shared_ptr<Entry> entry = beginDelivery(message->getRecElemId(), frame);
    if (entry != nullptr) {
        if (CTrace::isTraced(SCOPE))
            CTrace::trace(SCOPE, " notifyMessage(): delivering to [" + message->getRecElemId() + "]", 0);
        // Ends the delivery however the listener leaves.
        struct Delivery {
            CMessageMulticaster& table;
            Entry& entry;
            const DeliveryFrame& frame;
            bool outerPeer;
            ~Delivery()
            {
                t_peerDelivery = outerPeer;
                table.endDelivery(entry, frame);
            }
        } delivery{*this, *entry, frame, t_peerDelivery};
        t_peerDelivery = origin_ == PEER_MESSAGES;
        entry->listener->notifyMessage(message);
        return;
    }
    if (CTrace::isTraced(SCOPE))
        CTrace::trace(SCOPE, " notifyMessage(): the destination [" + message->getRecElemId() + "] does not exist", 0);
    CTrace::trace(SCOPE, " notifyMessage(): the message is disposed of", 0);
    IMessage::release(message);
}

bool CMessageMulticaster::canDeliver(const IMessage* message)
{
    return message != nullptr && isEntered(message->getRecElemId());
}
