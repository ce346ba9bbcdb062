#pragma once
// Turns each method-call message into one block and writes it to a block stream. Used by one
// thread only (the send thread of its connection); reuses one send buffer, grown on demand.
#include "IMessageOutput.h"

class IOutputStream;

class CMethodCallMsgEncoder : public virtual IMessageOutput {
public:
    explicit CMethodCallMsgEncoder(IOutputStream* stream);
    ~CMethodCallMsgEncoder() override;
    CMethodCallMsgEncoder(const CMethodCallMsgEncoder&) = delete;
    CMethodCallMsgEncoder& operator=(const CMethodCallMsgEncoder&) = delete;

    // Writes the message as one block; a message that cannot be encoded is reported through
    // the trace and nothing is written. The caller keeps the message.
    void write(IMessage* message) override;

private:
    unsigned char* buffer_;
    int capacity_;
    IOutputStream* stream_;
};
