#pragma once
// Rebuilds method-call messages from the blocks of a block stream. A block that is malformed
// in any way is reported through the trace and dropped, and the next block is read; nothing is
// ever read outside the block. Used by one thread only (the receive thread of its connection).
#include "IMessageInput.h"

#include <string>

class CMethodCallMessage;
class IInputStream;

class CMethodCallMsgDecoder : public virtual IMessageInput {
public:
    explicit CMethodCallMsgDecoder(IInputStream* stream);
    CMethodCallMsgDecoder(const CMethodCallMsgDecoder&) = delete;
    CMethodCallMsgDecoder& operator=(const CMethodCallMsgDecoder&) = delete;

    // The next well-formed message (the caller releases it), or NULL at the end of input.
    IMessage* read() override;

private:
    CMethodCallMessage* decode(const unsigned char* block, unsigned size);

    IInputStream* stream_;
};
