// Corrupts valid blocks in many deterministic ways and feeds them to the decoder and the peeks.
// Every block lies right before an inaccessible page (see GuardedBlock), so a read past its end
// crashes the test. A corrupted block may be dropped or read as some other message; either way
// the block after it must come through, and what came through must encode and decode again to
// the same message.
#include "CBool.h"
#include "CBuffer.h"
#include "CInteger.h"
#include "CJException.h"
#include "CJString.h"
#include "CMethodCallBlock.h"
#include "CMethodCallMsgDecoder.h"
#include "CodecHarness.h"
#include "GuardedBlock.h"
#include "MemoryInputStream.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>

namespace {

const unsigned char BYTES[] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
// With the systematic cases of the twelve blocks, well over 100,000 corrupted blocks.
const int RANDOM_CASES_PER_BLOCK = 8000;
const size_t LEAST_CASES = 100000;

std::vector<Block> validBlocks()
{
    std::vector<std::function<CMethodCallMessage*()>> makers = {
        [] { return CMethodCallMessage::createRemoteCall("TERM-1", "ELEM-1", "TERM-2", "ELEM-2", "REQ_a"); },
        [] { return CMethodCallMessage::createRemoteCall("@ALL_TERMINAL", "ST", "T", "ST", "INS_b"); },
        [] { return CMethodCallMessage::createRemoteCall("T", "E", "A", "F", "m", new CJString("some text")); },
        [] { return CMethodCallMessage::createRemoteCall("T", "E", "A", "F", "m", new CInteger(123456)); },
        [] { return CMethodCallMessage::createRemoteCall("T", "E", "A", "E", "m", new CBool(true)); },
        [] { return CMethodCallMessage::createRemoteCall("T", "E", "A", "F", "m", new CBuffer(BYTES, 10)); },
        [] { return CMethodCallMessage::createRemoteCall("T", "E", "A", "F", "m", nullptr); },
        [] { return CMethodCallMessage::createRemoteCall("T", "E", "A", "F", "m", sizeof(BYTES), BYTES); },
        [] { return CMethodCallMessage::createRemoteCall("T", "E", "A", "F", "m", 0, nullptr); },
        [] { return CMethodCallMessage::createReturnValue("T", "E", "A", "F", new CInteger(-1)); },
        [] { return CMethodCallMessage::createReturnValue("T", "E", "A", "F", nullptr); },
        [] { return CMethodCallMessage::createException("T", "E", "A", "F", new CJException("went wrong")); },
    };
    std::vector<Block> blocks;
    for (auto& make : makers) {
        MessagePtr message(make());
        message->setSerialNum(0x11223344);
        blocks.push_back(CodecHarness::encode(message.get()));
    }
    return blocks;
}

// Small deterministic generator, so that every run tries the same cases.
class Random {
public:
    explicit Random(uint32_t seed) : state_(seed) {}
    uint32_t next()
    {
        state_ = state_ * 1664525u + 1013904223u;
        return state_ >> 8;
    }
    uint32_t below(uint32_t limit) { return next() % limit; }

private:
    uint32_t state_;
};

void putUInt32(Block& block, size_t at, uint32_t value)
{
    for (size_t i = 0; i < 4 && at + i < block.size(); ++i)
        block[at + i] = static_cast<unsigned char>(value >> (8 * i));
}

std::vector<Block> corruptions(const std::vector<Block>& valid)
{
    std::vector<Block> cases;
    Random random(20240611);
    for (const Block& block : valid) {
        for (size_t size = 0; size < block.size(); ++size)
            cases.emplace_back(block.begin(), block.begin() + size);
        for (size_t at = 0; at < block.size(); ++at) {
            for (int bit = 0; bit < 8; ++bit) {
                Block flipped = block;
                flipped[at] ^= static_cast<unsigned char>(1 << bit);
                cases.push_back(flipped);
            }
            for (unsigned char value : {0x00, 0xFF}) {
                Block set = block;
                set[at] = value;
                cases.push_back(set);
            }
            for (uint32_t huge : {0xFFFFFFFFu, 0x7FFFFFFFu, 0x80000000u, 0x00010000u}) {
                Block counted = block;
                putUInt32(counted, at, huge);
                cases.push_back(counted);
            }
        }
        for (int i = 0; i < RANDOM_CASES_PER_BLOCK; ++i) {
            Block mangled = block;
            int changes = 1 + random.below(4);
            for (int c = 0; c < changes; ++c)
                mangled[random.below(static_cast<uint32_t>(mangled.size()))] = static_cast<unsigned char>(random.next());
            mangled.resize(1 + random.below(static_cast<uint32_t>(mangled.size() + 8)), 0);
            cases.push_back(mangled);
        }
    }
    return cases;
}

TEST(CodecRobustness, CorruptedBlocksNeverCrashHangOrOverRead)
{
    std::vector<Block> valid = validBlocks();
    std::vector<Block> cases = corruptions(valid);
    ASSERT_GE(cases.size(), LEAST_CASES);
    Block sentinel = valid.front();

    CTrace::setDumpOff(); // only the errors, into the capture
    TraceCapture trace;
    size_t dropped = 0;
    for (size_t i = 0; i < cases.size(); ++i) {
        const Block& block = cases[i];
        trace.clear();
        {
            GuardedBlock guarded(block);
            CMethodCallBlock::peekReceiverTerminalId(guarded.data(), guarded.size());
            CMethodCallBlock::peekSenderTerminalId(guarded.data(), guarded.size());
            CMethodCallBlock::isControlPayload(guarded.data(), guarded.size());
        }
        MemoryInputStream stream;
        if (!block.empty())
            stream.add(block);
        stream.add(sentinel);
        CMethodCallMsgDecoder decoder(&stream);
        MessagePtr first(dynamic_cast<CMethodCallMessage*>(decoder.read()));
        ASSERT_NE(nullptr, first) << "case " << i << ": " << hexBytes(block);
        MessagePtr second(dynamic_cast<CMethodCallMessage*>(decoder.read()));
        MessagePtr end(dynamic_cast<CMethodCallMessage*>(decoder.read()));
        ASSERT_EQ(nullptr, end) << "case " << i;
        if (second == nullptr) {
            ++dropped;
            EXPECT_EQ("REQ_a", first->getMethodName()) << "case " << i << ": the sentinel did not come through";
            continue;
        }
        EXPECT_EQ("REQ_a", second->getMethodName()) << "case " << i;
        // What a corrupted block gave must be a sound message: it encodes, and decodes again the same.
        Block again = CodecHarness::encode(first.get());
        ASSERT_FALSE(again.empty()) << "case " << i << ": " << first->toString();
        std::vector<MessagePtr> back = CodecHarness::decodeAll({again});
        ASSERT_EQ(1u, back.size()) << "case " << i;
        EXPECT_EQ(first->toString(), back[0]->toString()) << "case " << i;
    }
    CTrace::setDumpOn();
    EXPECT_GT(dropped, cases.size() / 4) << "the corruptions hardly ever broke a block";
    EXPECT_LT(dropped, cases.size()) << "no corrupted block was ever read";
    printf("%zu corrupted blocks, %zu dropped\n", cases.size(), dropped);
}

} // namespace
