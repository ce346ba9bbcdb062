#pragma once
// Encodes messages into blocks and decodes blocks into messages through the in-memory streams.
#include "CMethodCallMessage.h"

#include <memory>
#include <vector>

// Releases a message when it goes out of scope.
struct ReleaseMessage {
    void operator()(IMessage* message) const { IMessage::release(message); }
};
using MessagePtr = std::unique_ptr<CMethodCallMessage, ReleaseMessage>;

using Block = std::vector<unsigned char>;

class CodecHarness {
public:
    // The one block the encoder wrote for the message; empty when it wrote none.
    static Block encode(IMessage* message);
    // Every message the decoder returns for the blocks, in order, up to the end of input.
    static std::vector<MessagePtr> decodeAll(const std::vector<Block>& blocks);
    // The stored form of a value, for comparing values whose text shows an address.
    static Block storedForm(ISerializable* value);
};
