#pragma once
// Reads messages one at a time.
class IMessage;

class IMessageInput {
public:
    virtual ~IMessageInput() {}
    // The next message, owned by the caller, or NULL at the end of reception.
    virtual IMessage* read() = 0;
};
