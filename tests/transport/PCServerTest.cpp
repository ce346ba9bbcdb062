// The PC server as the session handle uses it: with its stream adapters, the codec and a
// message gate over the recording fake, opened, carrying calls both ways and ended in order.
#include "TransportTestKit.h"

#include "CGuid.h"
#include "CIOException.h"
#include "CMethodCallBlock.h"
#include "CMethodCallMessage.h"
#include "IMessageListener.h"
#include "SessionStack.h"

#include <future>
#include <thread>

namespace {

using Lines = std::vector<std::string>;
using Bytes = std::vector<unsigned char>;

// Notes "<sender> <method>" of every call it is handed.
class CallLog : public IMessageListener {
public:
    void notifyMessage(IMessage* message) override
    {
        CMethodCallMessage* call = dynamic_cast<CMethodCallMessage*>(message);
        calls.add(message->getSndTermId() + " " + (call != nullptr ? call->getMethodName() : "?"));
        IMessage::release(message);
    }
    Journal calls;
};

// The stack with a call log entered for the element "E".
struct Stack : SessionStack {
    Stack(const std::string& terminalId, bool isHost, IObserver* observer) : SessionStack(terminalId, isHost, observer)
    {
        gate->addListener("E", &calls);
    }
    void send(const std::string& receiver, const std::string& method, const std::string& sender)
    {
        gate->notifyMessage(CMethodCallMessage::createRemoteCall(receiver, "E", sender, "S", method));
    }

    CallLog calls;
};

class PCServerTest : public FakeDirectPlayTest {
protected:
    std::unique_ptr<Stack> joined(const std::string& terminalId = "A")
    {
        fake().playerId = 7;
        fake().sessions = {fake().instance};
        std::unique_ptr<Stack> stack(new Stack(terminalId, false, &log_));
        stack->server->openRemoteSession(CGuid(APPLICATION_GUID), CGuid(fake().instance), "198.18.0.1");
        return stack;
    }
};

} // namespace

TEST_F(PCServerTest, HostingGivesTheInstanceGuidTheWrapperGot)
{
    fake().playerId = DPID_SERVERPLAYER;
    Stack host("H", true, &log_);
    std::unique_ptr<CGuid> instance(host.server->openLocalSession(CGuid(APPLICATION_GUID)));
    EXPECT_EQ(CGuid::guidToString(fake().instance), instance->toString());
    EXPECT_EQ(1u, fake().callsStartingWith("CreatePlayer dwSize=24 short=H long=null event=set data=null size=0 "
                                           "flags=0x100")
                      .size());
    host.end(true);
}

TEST_F(PCServerTest, TheObserverGivenAtConstructionHearsTheSessionsEvents)
{
    std::unique_ptr<Stack> member = joined("A");
    fake().deliver(DPID_SERVERPLAYER, {0, 0xFF, 0, 0, 0, 'B', 0});
    fake().deliverSystem(DPSYS_SESSIONLOST);
    EXPECT_TRUE(log_.events.waitFor(2, 10000));
    EXPECT_EQ((Lines{"1 B", "1 A"}), log_.events.entries());
    member->end(true);
}

TEST_F(PCServerTest, CallsGoToTheHostAndArriveAtTheirElement)
{
    std::unique_ptr<Stack> member = joined("A");
    member->send("B", "toB", "A");
    ASSERT_TRUE(waitUntil([&] { return fake().sentCount() == 1; }));
    FakeDirectPlay::Sent sent = fake().sent()[0];
    EXPECT_EQ(7u, sent.from);
    EXPECT_EQ(DPID_SERVERPLAYER, sent.to);
    int size = static_cast<int>(sent.data.size());
    EXPECT_EQ("B", CMethodCallBlock::peekReceiverTerminalId(sent.data.data(), size));
    EXPECT_EQ("A", CMethodCallBlock::peekSenderTerminalId(sent.data.data(), size));
    EXPECT_EQ(0x601u, sent.flags);

    fake().deliver(DPID_SERVERPLAYER, encodeCall("A", "H", "one"));
    fake().deliver(DPID_SERVERPLAYER, encodeCall("@ALL_TERMINAL", "B", "two"));
    ASSERT_TRUE(member->calls.calls.waitFor(2, 10000));
    EXPECT_EQ((Lines{"H one", "B two"}), member->calls.calls.entries());
    member->end(true);
}

TEST_F(PCServerTest, TheEndReleasesTheReaderStopsBothThreadsAndOnlyThenClosesDirectPlay)
{
    std::unique_ptr<Stack> member = joined("A");
    fake().deliver(DPID_SERVERPLAYER, encodeCall("A", "H", "one"));
    ASSERT_TRUE(member->calls.calls.waitFor(1, 10000));
    size_t opened = fake().calls().size();
    member->server->releaseThread();
    member->gate->stop();
    size_t receives = fake().receiveSizes().size();
    EXPECT_EQ(Lines{}, callsFrom(opened)) << "DirectPlay was touched before the close";
    for (int i = 0; i < 1000; ++i) {
        const unsigned char* block = nullptr;
        ASSERT_EQ(0, member->input.read(&block));
    }
    member->server->close();
    EXPECT_EQ((Lines{"GetMessageQueue from=7 to=0 flags=0x1", "CancelMessage 0 flags=0x0", "DestroyPlayer 7", "Close"}),
              callsFrom(opened));
    EXPECT_EQ(receives, fake().receiveSizes().size());
}

TEST_F(PCServerTest, NothingHangsWhenThePeerVanishesInTheMiddleOfASend)
{
    std::unique_ptr<Stack> member = joined("A");
    fake().setSendDefault(DPERR_BUSY);
    member->send("B", "stuck", "A");
    member->send("B", "behind", "A");
    ASSERT_TRUE(waitUntil([&] { return fake().sentCount() > 3; }));
    std::future<void> ended = std::async(std::launch::async, [&] { member->end(true); });
    EXPECT_EQ(std::future_status::ready, ended.wait_for(std::chrono::milliseconds(10000)));
    ended.get();
    EXPECT_EQ(Lines{}, log_.events.entries());
}

TEST_F(PCServerTest, ABlockOfNoBytesIsNotSent)
{
    std::unique_ptr<Stack> member = joined("A");
    TraceCapture trace;
    unsigned char byte = 1;
    member->output.write(&byte, 0);
    member->output.write(&byte, -5);
    EXPECT_EQ(0u, fake().sentCount());
    EXPECT_EQ(2, trace.count("ERROR: [ CPCServer ] write(): a block of"));
    member->end(true);
}

TEST_F(PCServerTest, AFailedJoinLeavesAServerThatOnlyEnds)
{
    fake().answer("Open", DPERR_NOSESSIONS);
    Stack member("A", false, &log_);
    EXPECT_THROW(member.server->openRemoteSession(CGuid(APPLICATION_GUID), CGuid(fake().instance), "198.18.0.1"),
                 CIOException);
    member.end(false);
    EXPECT_EQ(0, fake().liveObjects());
}
