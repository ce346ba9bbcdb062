#pragma once
// Writes messages one at a time; the caller keeps the message.
class IMessage;

class IMessageOutput {
public:
    virtual ~IMessageOutput() {}
    virtual void write(IMessage* message) = 0;
};
