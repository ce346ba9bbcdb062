#include "CodecHarness.h"

#include "CMethodCallMsgDecoder.h"
#include "CMethodCallMsgEncoder.h"
#include "ISerializable.h"
#include "MemoryInputStream.h"
#include "MemoryOutputStream.h"

#include <gtest/gtest.h>

Block CodecHarness::encode(IMessage* message)
{
    MemoryOutputStream stream;
    CMethodCallMsgEncoder encoder(&stream);
    encoder.write(message);
    EXPECT_LE(stream.blocks.size(), 1u);
    return stream.blocks.empty() ? Block() : stream.blocks.front();
}

std::vector<MessagePtr> CodecHarness::decodeAll(const std::vector<Block>& blocks)
{
    MemoryInputStream stream;
    for (const Block& block : blocks)
        stream.add(block);
    CMethodCallMsgDecoder decoder(&stream);
    std::vector<MessagePtr> messages;
    for (;;) {
        IMessage* message = decoder.read();
        if (message == nullptr)
            break;
        CMethodCallMessage* call = dynamic_cast<CMethodCallMessage*>(message);
        EXPECT_NE(nullptr, call);
        messages.emplace_back(call);
    }
    EXPECT_EQ(static_cast<int>(blocks.size()) + 1, stream.reads()) << "the decoder must read every block once";
    return messages;
}

Block CodecHarness::storedForm(ISerializable* value)
{
    Block stored(value->getSerializedSize());
    EXPECT_TRUE(value->store(stored.data()));
    return stored;
}
