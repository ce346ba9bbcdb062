#include "CBool.h"
#include "CBuffer.h"
#include "CIllegalStateException.h"
#include "CInteger.h"
#include "CJString.h"
#include "CMethodCallBlock.h"
#include "CMethodCallMsgEncoder.h"
#include "CSerializablePointer.h"
#include "CWndMsg.h"
#include "CodecHarness.h"
#include "CountedMessage.h"
#include "GuardedBlock.h"
#include "MemoryOutputStream.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

namespace {

const char GOLDEN_SENDER_LEFT_OUT[] = "01 42 00 45 00 01 41 00 00 07 00 00 00 6D 00 00";
const char GOLDEN_SENDER_WRITTEN[] = "01 42 00 45 00 00 41 00 46 00 00 07 00 00 00 6D 00 00";

MessagePtr notice(const char* sndElemId)
{
    MessagePtr message(CMethodCallMessage::createRemoteCall("B", "E", "A", sndElemId, "m"));
    message->setSerialNum(7);
    return message;
}

TEST(Codec, GoldenBlocksRoundTripByteForByte)
{
    struct {
        const char* sndElemId;
        const char* golden;
        size_t length;
    } cases[] = {{"E", GOLDEN_SENDER_LEFT_OUT, 16}, {"F", GOLDEN_SENDER_WRITTEN, 18}};
    for (const auto& c : cases) {
        MessagePtr message = notice(c.sndElemId);
        Block block = CodecHarness::encode(message.get());
        ASSERT_EQ(c.length, block.size());
        EXPECT_EQ(c.golden, hexBytes(block));

        std::vector<MessagePtr> decoded = CodecHarness::decodeAll({bytesOf(c.golden)});
        ASSERT_EQ(1u, decoded.size());
        EXPECT_EQ(std::string(" RT[ B ] RE[ E ] ST[ A ] SE[ ") + c.sndElemId
                      + " ] mod[ NOTICE ] ser[ 7 ] mtd[ m ] prm[ NOPARAM ]",
                  decoded[0]->toString());
        EXPECT_TRUE(decoded[0]->isCallWithoutParam());
        EXPECT_EQ(c.golden, hexBytes(CodecHarness::encode(decoded[0].get())));
    }
}

size_t textLengths(const CMethodCallMessage& m)
{
    size_t s = m.getRecTermId().size() + m.getRecElemId().size() + m.getSndTermId().size()
               + m.getSndElemId().size() + m.getMethodName().size();
    if (m.getSndElemId() == m.getRecElemId())
        s -= m.getSndElemId().size() + 1;
    return s;
}

enum Form { NO_PARAM, OBJECT, BUFFER };

struct RoundTripCase {
    const char* name;
    std::function<CMethodCallMessage*()> make;
    Form form;
    const char* typeName;  // object form
    unsigned storedOrCount; // stored bytes of the value, or the buffer's byte count
};

void PrintTo(const RoundTripCase& c, std::ostream* out)
{
    *out << c.name;
}

class RoundTrip : public testing::TestWithParam<RoundTripCase> {};

TEST_P(RoundTrip, LengthFollowsTheFormulaAndTheMessageComesBackEqual)
{
    const RoundTripCase& c = GetParam();
    MessagePtr message(c.make());
    message->setModifier(CMethodCallMessage::QUERY);
    message->setSerialNum(0x01020304);
    Block block = CodecHarness::encode(message.get());

    size_t s = textLengths(*message);
    size_t expected = c.form == NO_PARAM ? 13 + s
                      : c.form == OBJECT ? 14 + s + strlen(c.typeName) + c.storedOrCount
                                         : 24 + s + c.storedOrCount;
    ASSERT_EQ(expected, block.size()) << hexBytes(block);
    EXPECT_EQ(1, block[0]);

    std::vector<MessagePtr> decoded = CodecHarness::decodeAll({block});
    ASSERT_EQ(1u, decoded.size());
    CMethodCallMessage* back = decoded[0].get();
    EXPECT_EQ(message->toString(), back->toString());
    EXPECT_EQ(message->isCallWithoutParam(), back->isCallWithoutParam());
    EXPECT_EQ(message->isCallWithObjectParam(), back->isCallWithObjectParam());
    EXPECT_EQ(message->isCallWithBufferParam(), back->isCallWithBufferParam());
    EXPECT_EQ(message->isReturnValue(), back->isReturnValue());
    EXPECT_EQ(message->isException(), back->isException());
    if (c.form == OBJECT) {
        ISerializable* sent = message->getParam();
        ISerializable* got = back->getParam();
        ASSERT_EQ(sent == nullptr, got == nullptr);
        if (got != nullptr) {
            EXPECT_STREQ(c.typeName, got->getClassName());
            EXPECT_EQ(hexBytes(CodecHarness::storedForm(sent)), hexBytes(CodecHarness::storedForm(got)));
        }
    }
    if (c.form == BUFFER) {
        ASSERT_EQ(message->getBufSize(), back->getBufSize());
        EXPECT_EQ(hexBytes(message->getBuf(), message->getBufSize()), hexBytes(back->getBuf(), back->getBufSize()));
    }
    EXPECT_EQ(hexBytes(block), hexBytes(CodecHarness::encode(back)));
}

const unsigned char FIVE[] = {0xDE, 0xAD, 0x00, 0xBE, 0xEF};

INSTANTIATE_TEST_SUITE_P(
    EveryForm, RoundTrip,
    testing::Values(
        RoundTripCase{"NoParam", [] { return CMethodCallMessage::createRemoteCall("T1", "E1", "T2", "E2", "REQ_a"); },
                      NO_PARAM, nullptr, 0},
        RoundTripCase{"NoParamSenderLeftOut",
                      [] { return CMethodCallMessage::createRemoteCall("@ALL_TERMINAL", "STAGE", "T2", "STAGE", "INS_a"); },
                      NO_PARAM, nullptr, 0},
        RoundTripCase{"String",
                      [] { return CMethodCallMessage::createRemoteCall("T1", "E1", "T2", "E2", "m", new CJString("hello")); },
                      OBJECT, "CJString", 6},
        RoundTripCase{"EmptyString",
                      [] { return CMethodCallMessage::createRemoteCall("T1", "E1", "T2", "E1", "m", new CJString("")); },
                      OBJECT, "CJString", 1},
        RoundTripCase{"Integer",
                      [] { return CMethodCallMessage::createRemoteCall("T1", "E1", "T2", "E2", "m", new CInteger(-5)); },
                      OBJECT, "CInteger", 4},
        RoundTripCase{"Bool",
                      [] { return CMethodCallMessage::createRemoteCall("T1", "E1", "T2", "E2", "m", new CBool(true)); },
                      OBJECT, "CBool", 1},
        RoundTripCase{"Buffer",
                      [] { return CMethodCallMessage::createRemoteCall("T1", "E1", "T2", "E2", "m", new CBuffer(FIVE, 5)); },
                      OBJECT, "CBuffer", 9},
        RoundTripCase{"ExceptionAsArgument",
                      [] { return CMethodCallMessage::createRemoteCall("T1", "E1", "T2", "E2", "m", new CJException("x")); },
                      OBJECT, "CJException", 2},
        RoundTripCase{"NullObject",
                      [] { return CMethodCallMessage::createRemoteCall("T1", "E1", "T2", "E2", "m", nullptr); },
                      OBJECT, "", 0},
        RoundTripCase{"ReturnValue",
                      [] { return CMethodCallMessage::createReturnValue("T1", "E1", "T2", "E2", new CInteger(42)); },
                      OBJECT, "CInteger", 4},
        RoundTripCase{"ReturnValueNull",
                      [] { return CMethodCallMessage::createReturnValue("T1", "E1", "T2", "E2", nullptr); }, OBJECT, "",
                      0},
        RoundTripCase{"Exception",
                      [] {
                          return CMethodCallMessage::createException("T1", "E1", "T2", "E2",
                                                                     new CIllegalStateException("bad state"));
                      },
                      OBJECT, "CJException", 10},
        RoundTripCase{"ExceptionNull",
                      [] { return CMethodCallMessage::createException("T1", "E1", "T2", "E2", nullptr); }, OBJECT, "",
                      0},
        RoundTripCase{"ByteBuffer",
                      [] { return CMethodCallMessage::createRemoteCall("T1", "E1", "T2", "E2", "m", 5, FIVE); }, BUFFER,
                      nullptr, 5},
        RoundTripCase{"EmptyByteBuffer",
                      [] { return CMethodCallMessage::createRemoteCall("T1", "E1", "T2", "E2", "m", 0, nullptr); },
                      BUFFER, nullptr, 0},
        RoundTripCase{"LongTexts",
                      [] {
                          return CMethodCallMessage::createRemoteCall(std::string(300, 'T'), std::string(5000, 'E'),
                                                                      "T2", "E2", std::string(200, 'm'), 3, FIVE);
                      },
                      BUFFER, nullptr, 3}),
    [](const testing::TestParamInfo<RoundTripCase>& info) { return std::string(info.param.name); });

TEST(Codec, EmptyBufferGoesAsTypeNameAndZeroCount)
{
    MessagePtr message(CMethodCallMessage::createRemoteCall("B", "E", "A", "E", "m", 0, nullptr));
    EXPECT_EQ("01 42 00 45 00 01 41 00 00 00 00 00 00 6D 00 01 63 68 61 72 5B 5D 00 00 00 00 00",
              hexBytes(CodecHarness::encode(message.get())));
}

TEST(Codec, NullReturnValueGoesAsEmptyTypeName)
{
    MessagePtr message(CMethodCallMessage::createReturnValue("B", "E", "A", "E", nullptr));
    Block block = CodecHarness::encode(message.get());
    EXPECT_EQ("01 42 00 45 00 01 41 00 02 00 00 00 00 72 65 74 75 72 6E 00 01 00", hexBytes(block));
}

TEST(Codec, ExceptionArrivesAsPlainExceptionWithItsText)
{
    MessagePtr message(
        CMethodCallMessage::createException("B", "E", "A", "E", new CIllegalStateException("no session")));
    Block block = CodecHarness::encode(message.get());
    EXPECT_EQ("01 42 00 45 00 01 41 00 02 00 00 00 00 00 01 " + hexBytes("CJException", 12) + " "
                  + hexBytes("no session", 11),
              hexBytes(block));
    std::vector<MessagePtr> decoded = CodecHarness::decodeAll({block});
    ASSERT_EQ(1u, decoded.size());
    ASSERT_TRUE(decoded[0]->isException());
    EXPECT_EQ(CMethodCallMessage::REPLY, decoded[0]->getModifier());
    CJException* exception = dynamic_cast<CJException*>(decoded[0]->getParam());
    ASSERT_NE(nullptr, exception);
    EXPECT_EQ("no session", exception->getMessage());
}

TEST(Codec, SendBufferGrowsToTheLargestBlockAndIsReused)
{
    MemoryOutputStream stream;
    CMethodCallMsgEncoder encoder(&stream);
    Block bytes(20000, 0x5A);
    // Header of these calls: 01 T 00 E 00 01 A 00 00 serial(4) m 00 01 "char[]" 00 count(4) = 27 bytes.
    auto writeBlockOf = [&](unsigned length) {
        MessagePtr message(CMethodCallMessage::createRemoteCall("T", "E", "A", "E", "m", length - 27, bytes.data()));
        encoder.write(message.get());
        ASSERT_EQ(length, stream.blocks.back().size());
    };
    writeBlockOf(100);
    writeBlockOf(4096);
    EXPECT_EQ(stream.addresses[0], stream.addresses[1]) << "4096 bytes fit the first buffer";
    writeBlockOf(10000);
    const unsigned char* grown = stream.addresses[2];
    for (unsigned length : {10000u, 5000u, 31u, 9999u})
        writeBlockOf(length);
    for (size_t i = 3; i < stream.addresses.size(); ++i)
        EXPECT_EQ(grown, stream.addresses[i]) << "block " << i << " was built in a new buffer";
    writeBlockOf(10001);
    EXPECT_EQ(Block(10001 - 27, 0x5A), Block(stream.blocks.back().begin() + 27, stream.blocks.back().end()));
}

struct RefusedCase {
    const char* name;
    std::function<IMessage*()> make;
    const char* error;
};

TEST(Codec, MessagesThatCannotBeEncodedAreNotWritten)
{
    RefusedCase cases[] = {
        {"not a method call", [] { return new CountedMessage("E"); }, "is not a CMethodCallMessage"},
        {"pointer argument",
         [] { return CMethodCallMessage::createRemoteCall("B", "E", "A", "E", "m", new CSerializablePointer(nullptr)); },
         "(CSerializablePointer) does not implement serialization properly"},
        {"argument taken out",
         [] {
             CMethodCallMessage* m = CMethodCallMessage::createRemoteCall("B", "E", "A", "E", "m", new CInteger(1));
             delete m->getoutParam();
             return m;
         },
         "the argument cannot be read"},
        {"0 byte inside an id",
         [] { return CMethodCallMessage::createRemoteCall(std::string("B\0C", 3), "E", "A", "E", "m"); },
         "a text field holds a 0 byte"},
        {"0 byte inside the method",
         [] { return CMethodCallMessage::createRemoteCall("B", "E", "A", "E", std::string("m\0", 2)); },
         "a text field holds a 0 byte"},
    };
    for (const RefusedCase& c : cases) {
        SCOPED_TRACE(c.name);
        IMessage* message = c.make();
        TraceCapture trace;
        EXPECT_TRUE(CodecHarness::encode(message).empty());
        EXPECT_EQ(1, trace.count(std::string("ERROR: [ CMethodCallMsgEncoder ] write(): ")));
        EXPECT_EQ(1, trace.count(c.error)) << trace.text();
        IMessage::release(message);
    }
}

TEST(Codec, UndecodableArgumentIsSentButDroppedByTheReceiver)
{
    MessagePtr message(CMethodCallMessage::createRemoteCall("B", "E", "A", "E", "m", new CWndMsg(0x8001, 2, 3)));
    Block block = CodecHarness::encode(message.get());
    EXPECT_EQ("01 42 00 45 00 01 41 00 00 00 00 00 00 6D 00 01 " + hexBytes("CWndMsg", 8)
                  + " 01 80 00 00 02 00 00 00 03 00 00 00",
              hexBytes(block));
    TraceCapture trace;
    EXPECT_TRUE(CodecHarness::decodeAll({block}).empty());
    EXPECT_EQ(2, trace.count("ERROR: [ CMethodCallMsgDecoder ]")) << trace.text();
    EXPECT_EQ(1, trace.count("the block cannot be analysed: method=[m] paramCount=[1]"));
}

TEST(Codec, TraceShowsTheMessagesBothWays)
{
    MessagePtr message = notice("F");
    TraceCapture trace;
    Block block = CodecHarness::encode(message.get());
    CodecHarness::decodeAll({block});
    std::string text = " RT[ B ] RE[ E ] ST[ A ] SE[ F ] mod[ NOTICE ] ser[ 7 ] mtd[ m ] prm[ NOPARAM ]";
    EXPECT_EQ(1, trace.count("[ CMethodCallMsgEncoder ]_DUMPMSG E:" + text)) << trace.text();
    EXPECT_EQ(1, trace.count("[ CMethodCallMsgDecoder ]HEADER:RT[B] RE[E] ST[A] SE[F] mod[0] SNo[7]"));
    EXPECT_EQ(1, trace.count("[ CMethodCallMsgDecoder ]BODY:method=[m] paramCount=[0]"));
    EXPECT_EQ(1, trace.count("[ CMethodCallMsgDecoder ]_DUMPMSG D:" + text));
}

TEST(Codec, EmptyBlockEndsTheInput)
{
    std::vector<MessagePtr> decoded = CodecHarness::decodeAll({});
    EXPECT_TRUE(decoded.empty());
}

TEST(MethodCallBlock, PeeksTheTerminalIds)
{
    struct {
        const char* block;
        const char* receiver;
        const char* sender;
    } cases[] = {
        {GOLDEN_SENDER_LEFT_OUT, "B", "A"},
        {GOLDEN_SENDER_WRITTEN, "B", "A"},
        {"07 00 00 09 00", "", ""},                // empty ids; senderInfo not looked at
        {"01 54 31 00 45 00 01 54 32 00", "T1", "T2"}, // the rest of the block is not needed
    };
    for (const auto& c : cases) {
        GuardedBlock block(bytesOf(c.block));
        EXPECT_EQ(c.receiver, CMethodCallBlock::peekReceiverTerminalId(block.data(), block.size())) << c.block;
        EXPECT_EQ(c.sender, CMethodCallBlock::peekSenderTerminalId(block.data(), block.size())) << c.block;
    }
}

TEST(MethodCallBlock, PeeksOfCutBlocksGiveTheEmptyTextAndReadNothingBeyond)
{
    Block golden = bytesOf(GOLDEN_SENDER_WRITTEN);
    TraceCapture trace;
    for (size_t size = 0; size < golden.size(); ++size) {
        GuardedBlock block(Block(golden.begin(), golden.begin() + size));
        std::string receiver = CMethodCallBlock::peekReceiverTerminalId(block.data(), block.size());
        std::string sender = CMethodCallBlock::peekSenderTerminalId(block.data(), block.size());
        EXPECT_EQ(size >= 3 ? "B" : "", receiver) << size;
        EXPECT_EQ(size >= 8 ? "A" : "", sender) << size;
    }
    EXPECT_EQ(3, trace.count("peekReceiverTerminalId(): the block is too short"));
    EXPECT_EQ(8, trace.count("peekSenderTerminalId(): the block is too short"));
    EXPECT_EQ("", CMethodCallBlock::peekReceiverTerminalId(nullptr, 5));
    EXPECT_EQ("", CMethodCallBlock::peekSenderTerminalId(golden.data(), -1));
}

TEST(MethodCallBlock, ControlPayloads)
{
    Block payload = bytesOf(GOLDEN_SENDER_LEFT_OUT);
    EXPECT_FALSE(CMethodCallBlock::isControlPayload(payload.data(), static_cast<int>(payload.size())));
    CMethodCallBlock::setControlPayload(payload.data(), static_cast<int>(payload.size()));
    EXPECT_EQ(0, payload[0]);
    EXPECT_EQ(0x42, payload[1]) << "only the first byte is marked";
    EXPECT_TRUE(CMethodCallBlock::isControlPayload(payload.data(), static_cast<int>(payload.size())));
    GuardedBlock empty(Block{});
    EXPECT_FALSE(CMethodCallBlock::isControlPayload(empty.data(), 0));
    EXPECT_FALSE(CMethodCallBlock::isControlPayload(nullptr, 4));
    TraceCapture trace;
    CMethodCallBlock::setControlPayload(payload.data(), 0);
    EXPECT_EQ(1, trace.count("setControlPayload(): the payload is empty"));
}

} // namespace
