#pragma once
// Takes messages one at a time.
class IMessage;

class IMessageListener {
public:
    virtual ~IMessageListener() {}
    // The listener now owns the message: it passes it on or releases it.
    virtual void notifyMessage(IMessage* message) = 0;
};
