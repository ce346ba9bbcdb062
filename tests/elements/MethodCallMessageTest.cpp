#include "ArrayAllocationWatch.h"
#include "CInteger.h"
#include "CJException.h"
#include "CJString.h"
#include "CMethodCallMessage.h"
#include "CNullPointerException.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <memory>
#include <vector>

namespace {

// Releases a message at the end of a test, whatever happened.
struct Released {
    void operator()(IMessage* message) const { IMessage::release(message); }
};
using MessagePtr = std::unique_ptr<CMethodCallMessage, Released>;

// A value that counts its live instances, to see who deletes it and how often.
class Probe : public CJObject, public virtual ISerializable {
public:
    Probe() { ++live; }
    ~Probe() override { --live; }
    unsigned getSerializedSize() const override { return 0; }
    bool store(void*) const override { return true; }
    bool restore(const void*, unsigned, unsigned* consumed) override
    {
        *consumed = 0;
        return true;
    }
    const char* getClassName() const override { return "Probe"; }

    static int live;
};
int Probe::live = 0;

const unsigned char BYTES[] = {0x10, 0x20, 0x30};

enum Kind { CALL_NOPARAM, CALL_OBJECT, CALL_BUFFER, RETURN_VALUE, EXCEPTION };

struct FactoryCase {
    const char* name;
    std::function<CMethodCallMessage*()> make;
    const char* recTermId;
    const char* recElemId;
    const char* sndTermId;
    const char* sndElemId;
    const char* method;
    Kind kind;
    const char* text;
};

void PrintTo(const FactoryCase& c, std::ostream* out)
{
    *out << c.name;
}

class Factory : public testing::TestWithParam<FactoryCase> {};

TEST_P(Factory, GivesTheFieldsAndTheText)
{
    const FactoryCase& c = GetParam();
    MessagePtr message(c.make());
    EXPECT_EQ(c.recTermId, message->getRecTermId());
    EXPECT_EQ(c.recElemId, message->getRecElemId());
    EXPECT_EQ(c.sndTermId, message->getSndTermId());
    EXPECT_EQ(c.sndElemId, message->getSndElemId());
    EXPECT_EQ(c.kind == RETURN_VALUE || c.kind == EXCEPTION ? CMethodCallMessage::REPLY : CMethodCallMessage::NOTICE,
              message->getModifier());
    EXPECT_EQ(0u, message->getSerialNum());
    EXPECT_EQ(c.method, message->getMethodName());
    EXPECT_FALSE(message->isBroken());
    EXPECT_EQ(c.kind == CALL_NOPARAM, message->isCallWithoutParam());
    EXPECT_EQ(c.kind == CALL_OBJECT, message->isCallWithObjectParam());
    EXPECT_EQ(c.kind == CALL_BUFFER, message->isCallWithBufferParam());
    EXPECT_EQ(c.kind == RETURN_VALUE, message->isReturnValue());
    EXPECT_EQ(c.kind == EXCEPTION, message->isException());
    EXPECT_EQ(c.text, message->toString());
    EXPECT_EQ(c.text, static_cast<CJObject*>(message.get())->toString());
    if (c.kind == CALL_BUFFER) {
        ASSERT_EQ(sizeof(BYTES), message->getBufSize());
        EXPECT_EQ(hexBytes(BYTES, sizeof(BYTES)), hexBytes(message->getBuf(), message->getBufSize()));
        EXPECT_NE(BYTES, message->getBuf()) << "the bytes must be copied";
    }
    if (c.kind == CALL_OBJECT || c.kind == RETURN_VALUE || c.kind == EXCEPTION) {
        EXPECT_NE(nullptr, message->getParam());
    }
}

INSTANTIATE_TEST_SUITE_P(
    EveryForm, Factory,
    testing::Values(
        FactoryCase{"LocalNoParam", [] { return CMethodCallMessage::createLocalCall("E1", "E2", "LOC_go"); },
                    "@LOCAL_TERMINAL", "E1", "@LOCAL_TERMINAL", "E2", "LOC_go", CALL_NOPARAM,
                    " RT[ @LOCAL_TERMINAL ] RE[ E1 ] ST[ @LOCAL_TERMINAL ] SE[ E2 ] mod[ NOTICE ] ser[ 0 ]"
                    " mtd[ LOC_go ] prm[ NOPARAM ]"},
        FactoryCase{"LocalObject",
                    [] { return CMethodCallMessage::createLocalCall("E1", "E2", "LOC_go", new CInteger(5)); },
                    "@LOCAL_TERMINAL", "E1", "@LOCAL_TERMINAL", "E2", "LOC_go", CALL_OBJECT,
                    " RT[ @LOCAL_TERMINAL ] RE[ E1 ] ST[ @LOCAL_TERMINAL ] SE[ E2 ] mod[ NOTICE ] ser[ 0 ]"
                    " mtd[ LOC_go ] prm[ OBJECTPARAM ]"},
        FactoryCase{"LocalBuffer",
                    [] { return CMethodCallMessage::createLocalCall("E1", "E2", "LOC_go", sizeof(BYTES), BYTES); },
                    "@LOCAL_TERMINAL", "E1", "@LOCAL_TERMINAL", "E2", "LOC_go", CALL_BUFFER,
                    " RT[ @LOCAL_TERMINAL ] RE[ E1 ] ST[ @LOCAL_TERMINAL ] SE[ E2 ] mod[ NOTICE ] ser[ 0 ]"
                    " mtd[ LOC_go ] prm[ BUFFERPARAM ]"},
        FactoryCase{"RemoteNoParam",
                    [] { return CMethodCallMessage::createRemoteCall("T1", "E1", "T2", "E2", "REQ_go"); }, "T1",
                    "E1", "T2", "E2", "REQ_go", CALL_NOPARAM,
                    " RT[ T1 ] RE[ E1 ] ST[ T2 ] SE[ E2 ] mod[ NOTICE ] ser[ 0 ] mtd[ REQ_go ] prm[ NOPARAM ]"},
        FactoryCase{"RemoteObject",
                    [] {
                        return CMethodCallMessage::createRemoteCall("@ALL_TERMINAL", "E1", "T2", "E2", "INS_go",
                                                                    new CJString("x"));
                    },
                    "@ALL_TERMINAL", "E1", "T2", "E2", "INS_go", CALL_OBJECT,
                    " RT[ @ALL_TERMINAL ] RE[ E1 ] ST[ T2 ] SE[ E2 ] mod[ NOTICE ] ser[ 0 ] mtd[ INS_go ]"
                    " prm[ OBJECTPARAM ]"},
        FactoryCase{"RemoteBuffer",
                    [] {
                        return CMethodCallMessage::createRemoteCall("T1", "E1", "T2", "E2", "REQ_go", sizeof(BYTES),
                                                                    BYTES);
                    },
                    "T1", "E1", "T2", "E2", "REQ_go", CALL_BUFFER,
                    " RT[ T1 ] RE[ E1 ] ST[ T2 ] SE[ E2 ] mod[ NOTICE ] ser[ 0 ] mtd[ REQ_go ] prm[ BUFFERPARAM ]"},
        FactoryCase{"ReturnValue",
                    [] { return CMethodCallMessage::createReturnValue("T1", "E1", "T2", "E2", new CInteger(1)); },
                    "T1", "E1", "T2", "E2", "return", RETURN_VALUE,
                    " RT[ T1 ] RE[ E1 ] ST[ T2 ] SE[ E2 ] mod[ REPLY ] ser[ 0 ] mtd[ return ] prm[ OBJECTPARAM ]"},
        FactoryCase{"Exception",
                    [] { return CMethodCallMessage::createException("T1", "E1", "T2", "E2", new CJException("x")); },
                    "T1", "E1", "T2", "E2", "", EXCEPTION,
                    " RT[ T1 ] RE[ E1 ] ST[ T2 ] SE[ E2 ] mod[ REPLY ] ser[ 0 ] mtd[  ] prm[ OBJECTPARAM ]"}),
    [](const testing::TestParamInfo<FactoryCase>& info) { return std::string(info.param.name); });

TEST(MethodCallMessage, TextShowsSetModifierAndSerialNumber)
{
    struct {
        unsigned char modifier;
        unsigned serial;
        const char* text;
    } cases[] = {
        {CMethodCallMessage::QUERY, 7, " mod[ QUERY ] ser[ 7 ]"},
        {CMethodCallMessage::ERROR_REPLY, 0x7FFFFFFF, " mod[ ERROR_REPLY ] ser[ 2147483647 ]"},
        {7, 0xFFFFFFFF, " mod[ UNKNOWN ] ser[ -1 ]"},
    };
    for (const auto& c : cases) {
        MessagePtr message(CMethodCallMessage::createRemoteCall("T", "E", "T", "E", "m"));
        message->setModifier(c.modifier);
        message->setSerialNum(c.serial);
        EXPECT_EQ(c.modifier, message->getModifier());
        EXPECT_EQ(c.serial, message->getSerialNum());
        EXPECT_NE(std::string::npos, message->toString().find(c.text)) << message->toString();
    }
}

TEST(MethodCallMessage, SettersCopyTheIds)
{
    MessagePtr message(CMethodCallMessage::createRemoteCall("T", "E", "T", "E", "m"));
    std::string id = "T9";
    message->setRecTermId(id);
    message->setRecElemId("E9");
    message->setSndTermId("T8");
    message->setSndElemId("E8");
    id = "changed";
    message->markBroken();
    EXPECT_EQ(" RT[ T9 ] RE[ E9 ] ST[ T8 ] SE[ E8 ] mod[ NOTICE ] ser[ 0 ] mtd[ m ] prm[ NOPARAM ]",
              message->toString());
    EXPECT_TRUE(message->isBroken());
}

TEST(MethodCallMessage, NullObjectMakesAnObjectCallWithoutObject)
{
    MessagePtr call(CMethodCallMessage::createRemoteCall("T", "E", "T", "E", "m", nullptr));
    EXPECT_TRUE(call->isCallWithObjectParam());
    EXPECT_EQ(nullptr, call->getParam());
    MessagePtr local(CMethodCallMessage::createLocalCall("E", "E", "m", nullptr));
    EXPECT_EQ(nullptr, local->getParam());
    MessagePtr reply(CMethodCallMessage::createReturnValue("T", "E", "T", "E", nullptr));
    EXPECT_TRUE(reply->isReturnValue());
    EXPECT_FALSE(reply->isCallWithObjectParam());
    EXPECT_EQ(nullptr, reply->getParam());
}

TEST(MethodCallMessage, GetParamLendsTheSameObjectUntilItIsTakenOut)
{
    Probe* probe = new Probe;
    MessagePtr message(CMethodCallMessage::createRemoteCall("T", "E", "T", "E", "m", probe));
    EXPECT_EQ(probe, message->getParam());
    EXPECT_EQ(probe, message->getParam());
    EXPECT_EQ(probe, message->getoutParam());
    for (auto operation : {+[](CMethodCallMessage* m) { m->getParam(); },
                           +[](CMethodCallMessage* m) { m->getoutParam(); }}) {
        try {
            operation(message.get());
            ADD_FAILURE() << "a taken-out argument was handed out again";
        } catch (const CNullPointerException& e) {
            EXPECT_NE(std::string::npos, e.getMessage().find("already taken out")) << e.getMessage();
        }
    }
    message.reset();
    EXPECT_EQ(1, Probe::live) << "the message deleted an argument it had handed over";
    delete probe;
}

TEST(MethodCallMessage, ObjectAccessRefusedWithoutObjectArgument)
{
    MessagePtr none(CMethodCallMessage::createRemoteCall("T", "E", "T", "E", "m"));
    MessagePtr buffer(CMethodCallMessage::createRemoteCall("T", "E", "T", "E", "m", sizeof(BYTES), BYTES));
    for (CMethodCallMessage* message : {none.get(), buffer.get()}) {
        EXPECT_THROW(message->getParam(), CNullPointerException);
        try {
            message->getoutParam();
            ADD_FAILURE() << "getoutParam without an object argument";
        } catch (const CNullPointerException& e) {
            EXPECT_NE(std::string::npos, e.getMessage().find("no ISerializable argument exists")) << e.getMessage();
        }
    }
}

TEST(MethodCallMessage, BufferAccessRefusedWithoutBufferArgument)
{
    MessagePtr none(CMethodCallMessage::createRemoteCall("T", "E", "T", "E", "m"));
    MessagePtr object(CMethodCallMessage::createRemoteCall("T", "E", "T", "E", "m", new CInteger(1)));
    MessagePtr reply(CMethodCallMessage::createReturnValue("T", "E", "T", "E", nullptr));
    for (CMethodCallMessage* message : {none.get(), object.get(), reply.get()}) {
        try {
            message->getBufSize();
            ADD_FAILURE() << "getBufSize without a buffer argument";
        } catch (const CNullPointerException& e) {
            EXPECT_EQ("no buffer argument exists: getBufSize", e.getMessage());
        }
        try {
            message->getBuf();
            ADD_FAILURE() << "getBuf without a buffer argument";
        } catch (const CNullPointerException& e) {
            EXPECT_EQ("no buffer argument exists: getBuf", e.getMessage());
        }
    }
}

TEST(MethodCallMessage, EmptyBuffers)
{
    MessagePtr local(CMethodCallMessage::createLocalCall("E", "E", "m", 0, nullptr));
    EXPECT_TRUE(local->isCallWithBufferParam());
    EXPECT_EQ(0u, local->getBufSize());
    EXPECT_NE(nullptr, local->getBuf()) << "a local call always holds a block";
    MessagePtr remote(CMethodCallMessage::createRemoteCall("T", "E", "T", "E", "m", 0, nullptr));
    EXPECT_EQ(0u, remote->getBufSize());
    EXPECT_EQ(nullptr, remote->getBuf());
    MessagePtr remoteEmpty(CMethodCallMessage::createRemoteCall("T", "E", "T", "E", "m", 0, BYTES));
    EXPECT_EQ(0u, remoteEmpty->getBufSize());
    EXPECT_NE(nullptr, remoteEmpty->getBuf());
}

// A NULL source with a size other than 0 is a caller's bug: the process stops with a clear line.
void expectStopOnNullBuffer(std::function<void()> make)
{
    TempDir dir;
    if (isChild()) {
        childTracesToFile(false);
        make();
        exit(0);
    }
    EXPECT_EQ(ABNORMAL_EXIT, runInChild(dir));
    EXPECT_NE(std::string::npos, dir.logBytes().find("ASSERT: [ CMethodCallMessage ] the buffer address is NULL while"
                                                     " the size is not 0 (size=3)"))
        << dir.logBytes();
}

TEST(MethodCallMessage, RemoteNullBufferWithSizeStopsTheProcess)
{
    expectStopOnNullBuffer([] { CMethodCallMessage::createRemoteCall("T", "E", "T", "E", "m", 3, nullptr); });
}

TEST(MethodCallMessage, LocalNullBufferWithSizeStopsTheProcess)
{
    expectStopOnNullBuffer([] { CMethodCallMessage::createLocalCall("E", "E", "m", 3, nullptr); });
}

TEST(MethodCallMessage, EqualsOnlyItself)
{
    MessagePtr a(CMethodCallMessage::createRemoteCall("T", "E", "T", "E", "m"));
    MessagePtr b(CMethodCallMessage::createRemoteCall("T", "E", "T", "E", "m"));
    EXPECT_TRUE(a->equals(a.get()));
    EXPECT_FALSE(a->equals(b.get()));
    EXPECT_FALSE(a->equals(nullptr));
    EXPECT_TRUE(a->isEquatable());
    EXPECT_EQ(a->hashCode(), a->hashCode());
    EXPECT_NE(a->hashCode(), b->hashCode());
}

TEST(MethodCallMessage, ReleaseDeletesTheOwnedObjectOnce)
{
    ASSERT_EQ(0, Probe::live);
    using Make = CMethodCallMessage* (*)(ISerializable*);
    for (Make make : {+[](ISerializable* o) { return CMethodCallMessage::createLocalCall("E", "E", "m", o); },
                      +[](ISerializable* o) { return CMethodCallMessage::createRemoteCall("T", "E", "T", "E", "m", o); },
                      +[](ISerializable* o) { return CMethodCallMessage::createReturnValue("T", "E", "T", "E", o); },
                      +[](ISerializable* o) { return CMethodCallMessage::createException("T", "E", "T", "E", o); }}) {
        IMessage* message = make(new Probe);
        EXPECT_EQ(1, Probe::live);
        IMessage::release(message);
        EXPECT_EQ(0, Probe::live);
    }
}

TEST(MethodCallMessage, ReleaseFreesTheBufferOnce)
{
    ArrayAllocationWatch watch;
    CMethodCallMessage* local = CMethodCallMessage::createLocalCall("E", "E", "m", sizeof(BYTES), BYTES);
    CMethodCallMessage* remote = CMethodCallMessage::createRemoteCall("T", "E", "T", "E", "m", sizeof(BYTES), BYTES);
    CMethodCallMessage* empty = CMethodCallMessage::createLocalCall("E", "E", "m", 0, nullptr);
    for (CMethodCallMessage* message : {local, remote, empty}) {
        const void* buffer = message->getBuf();
        IMessage::release(message);
        EXPECT_EQ(1, watch.timesFreed(buffer));
    }
}

} // namespace

namespace {

// A released large buffer's block stays in memory (the heap would give it back to the system,
// and a fresh block's pages must be faulted in again) and serves the next large message; two
// live messages never share a block, and each holds its own bytes.
TEST(MethodCallMessage, LargeBufferBlocksAreReusedButNeverShared)
{
    // An odd size that no other test uses, so that no block they left behind fits better.
    const unsigned size = (3u << 20) + 7;
    std::vector<unsigned char> first(size, 0x11), second(size, 0x22), third(size - 1000, 0x33);
    CMethodCallMessage* released = CMethodCallMessage::createRemoteCall("T", "E", "T", "E", "m", size, first.data());
    const unsigned char* block = released->getBuf();
    IMessage::release(released);
    MEMORY_BASIC_INFORMATION memory;
    ASSERT_NE(0u, VirtualQuery(block, &memory, sizeof(memory)));
    EXPECT_EQ(static_cast<DWORD>(MEM_COMMIT), memory.State);
    MessagePtr reused(CMethodCallMessage::createRemoteCall("T", "E", "T", "E", "m", size, second.data()));
    MessagePtr other(CMethodCallMessage::createLocalCall("E", "E", "m", static_cast<unsigned>(third.size()),
                                                         third.data()));
    EXPECT_EQ(block, reused->getBuf());
    EXPECT_NE(reused->getBuf(), other->getBuf());
    ASSERT_EQ(size, reused->getBufSize());
    EXPECT_EQ(0, memcmp(second.data(), reused->getBuf(), size));
    ASSERT_EQ(third.size(), other->getBufSize());
    EXPECT_EQ(0, memcmp(third.data(), other->getBuf(), third.size()));
}

} // namespace
