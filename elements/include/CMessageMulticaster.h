#pragma once
// Routes each message to the listener entered under the message's receiver element id. Does
// not own its listeners. Safe to share between threads: the table is read and changed only
// under the multicaster's monitor, and listeners are called outside it.
//
// A listener may be freed as soon as removeListener has returned: removal waits for the
// deliveries to it that other threads have begun.
#include "CJObject.h"
#include "IMessageListener.h"
#include "IMessageSource.h"

#include <condition_variable>
#include <memory>
#include <string>
#include <unordered_map>

class CMessageMulticaster : public CJObject, public virtual IMessageSource, public virtual IMessageListener {
public:
    // Where the messages come from: the gate's table delivers what peers sent, the invoker's
    // the local calls of this process.
    enum Origin { LOCAL_CALLS, PEER_MESSAGES };

    explicit CMessageMulticaster(Origin origin = LOCAL_CALLS);
    ~CMessageMulticaster() override;
    CMessageMulticaster(const CMessageMulticaster&) = delete;
    CMessageMulticaster& operator=(const CMessageMulticaster&) = delete;

    // An earlier listener under the same name is replaced.
    void addListener(const std::string& name, IMessageListener* listener) override;
    // Returns once no other thread delivers to the removed listener any more. A delivery on the
    // calling thread (a listener that removes itself) is not waited for.
    void removeListener(const std::string& name) override;
    // Hands the message to its listener, on the caller's thread; a message that has no
    // listener is released.
    void notifyMessage(IMessage* message) override;
    // Whether a listener is entered under the message's receiver element id.
    bool canDeliver(const IMessage* message);

    // True on a thread while it hands a listener a message of a PEER_MESSAGES table: a listener
    // tells by it what a peer sent from what this process asked for.
    static bool deliversPeerMessage();

private:
    struct Entry;
    struct DeliveryFrame;

    std::shared_ptr<Entry> beginDelivery(const std::string& name, DeliveryFrame& frame);
    void endDelivery(Entry& entry, const DeliveryFrame& frame);
    bool isEntered(const std::string& name);

    std::unordered_map<std::string, std::shared_ptr<Entry>> listeners_;
    // This thread's innermost delivery under way (frames live on the delivering stacks).
    static thread_local const DeliveryFrame* innermostDelivery_;
    std::condition_variable_any drained_; // with the monitor: a removed entry's last delivery ended
    Origin origin_;
};
