#pragma once
// Routes each message to the listener entered under the message's receiver element id. Does
// not own its listeners. Safe to share between threads: the table is read and changed only
// under the multicaster's monitor, and listeners are called outside it.
#include "CJObject.h"
#include "IMessageListener.h"
#include "IMessageSource.h"

#include <string>
#include <unordered_map>

class CMessageMulticaster : public CJObject, public virtual IMessageSource, public virtual IMessageListener {
public:
    CMessageMulticaster();
    ~CMessageMulticaster() override;
    CMessageMulticaster(const CMessageMulticaster&) = delete;
    CMessageMulticaster& operator=(const CMessageMulticaster&) = delete;

    // An earlier listener under the same name is replaced.
    void addListener(const std::string& name, IMessageListener* listener) override;
    void removeListener(const std::string& name) override;
    // Hands the message to its listener, on the caller's thread; a message that has no
    // listener is released.
    void notifyMessage(IMessage* message) override;
    // Whether a listener is entered under the message's receiver element id.
    bool canDeliver(const IMessage* message);

private:
    IMessageListener* find(const std::string& name);

    std::unordered_map<std::string, IMessageListener*> listeners_;
};
