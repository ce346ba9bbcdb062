#include "ConnectionDoubles.h"
#include "TestSupport.h"

#include "CMethodCallMessage.h"

#include <gtest/gtest.h>

#include <memory>
#include <regex>

namespace {

using Entries = std::vector<std::string>;

class NetworkConnectionTest : public testing::Test {
protected:
    void SetUp() override { MessageStub::live = 0; }

    void TearDown() override
    {
        if (connection_)
            finish();
        EXPECT_EQ(0, MessageStub::live) << "a message was leaked or released twice";
    }

    TestConnection& start(bool withGetter = true, bool withSetter = true, const std::string& name = "BC-MSG_GATE")
    {
        connection_.reset(new TestConnection(&input_, &output_, withGetter ? &book_ : nullptr,
                                             withSetter ? &book_ : nullptr));
        connection_->start(name);
        return *connection_;
    }

    // Ends the input, waits for both threads and destroys the connection.
    void finish()
    {
        input_.end();
        connection_->stop();
        connection_.reset();
    }

    // Starts the connection with its send thread kept in the write of "first".
    void startWithTheSendThreadHeld()
    {
        start(false, false);
        output_.hold();
        send("first");
        ASSERT_TRUE(output_.waitWriting(10000));
    }

    void send(const std::string& recElemId, const std::string& recTermId = "T2")
    {
        connection_->notifyMessage(new CountedMessage(recElemId, recTermId));
    }

    Journal written_;
    ScriptedInput input_;
    RecordingOutput output_{written_};
    AddressBook book_{written_};
    std::unique_ptr<TestConnection> connection_;
};

TEST_F(NetworkConnectionTest, ReceivedMessagesReachOnProcessMessageInOrder)
{
    TestConnection& connection = start();
    for (const char* name : {"A", "B", "C", "A"})
        input_.deliver(new CountedMessage(name));
    ASSERT_TRUE(connection.received.waitFor(4, 10000));
    EXPECT_EQ((Entries{"A", "B", "C", "A"}), connection.received.entries());
}

// Without both a getter and a setter the transport routes: every message is written once,
// whatever its receiver, and no address is asked for.
TEST_F(NetworkConnectionTest, WithoutGetterAndSetterEveryMessageIsWrittenOnceInOrder)
{
    struct Case {
        bool getter;
        bool setter;
    };
    book_.enter("T2", "10.0.0.2", 5002);
    for (Case c : {Case{false, false}, Case{true, false}, Case{false, true}}) {
        SCOPED_TRACE(testing::Message() << "getter " << c.getter << ", setter " << c.setter);
        start(c.getter, c.setter);
        send("m1", CMethodCallMessage::ALL_TERMINAL);
        send("m2", "T2");
        send("m3", CMethodCallMessage::HOST_TERMINAL);
        ASSERT_TRUE(written_.waitFor(3, 10000));
        finish();
        EXPECT_EQ((Entries{"write m1", "write m2", "write m3"}), written_.entries());
        written_.clear();
    }
}

TEST_F(NetworkConnectionTest, AllTerminalIsWrittenToEveryAddressEachAfterItsSetAddress)
{
    book_.enter("T1", "10.0.0.1", 5001);
    book_.enter("T3", "host-three", 5003);
    book_.enter("T2", "10.0.0.2", 5002);
    start();
    send("m", CMethodCallMessage::ALL_TERMINAL);
    send("next", "T3");
    ASSERT_TRUE(written_.waitFor(8, 10000));
    EXPECT_EQ((Entries{"to 10.0.0.1:5001", "write m", "to host-three:5003", "write m", "to 10.0.0.2:5002", "write m",
                       "to host-three:5003", "write next"}),
              written_.entries());
}

TEST_F(NetworkConnectionTest, AllTerminalWithoutAnyAddressIsReleasedUnwritten)
{
    TraceCapture trace;
    start();
    send("m", CMethodCallMessage::ALL_TERMINAL);
    ASSERT_TRUE(waitUntil([] { return MessageStub::live == 0; }));
    finish();
    EXPECT_EQ(Entries{}, written_.entries());
    EXPECT_EQ(1, trace.count("sendingRun(): not one address is registered"));
}

// Writing a message whose address is unknown would send it wherever the previous one went.
TEST_F(NetworkConnectionTest, MessageToATerminalWithoutAddressIsDroppedWithATrace)
{
    TraceCapture trace;
    book_.enter("T1", "10.0.0.1", 5001);
    start();
    send("first", "T1");
    send("lost", CMethodCallMessage::HOST_TERMINAL); // macros other than "@ALL_TERMINAL" are terminal ids here
    send("last", "T1");
    ASSERT_TRUE(written_.waitFor(4, 10000));
    finish();
    EXPECT_EQ((Entries{"to 10.0.0.1:5001", "write first", "to 10.0.0.1:5001", "write last"}), written_.entries());
    EXPECT_EQ(1, trace.count("sendingRun(): the destination address was not obtained: the terminal id is not"
                             " registered: @HOST_TERMINAL"))
        << trace.text();
}

// The end of input and a CIOException end the connection alike: the message being written is
// finished, those still queued are released unsent, and both threads end.
TEST_F(NetworkConnectionTest, EndOfInputOrIOExceptionEndsBothThreadsAndDropsQueuedMessages)
{
    for (bool byException : {false, true}) {
        SCOPED_TRACE(byException ? "CIOException" : "end of input");
        TraceCapture trace;
        start(false, false);
        output_.hold();
        send("m1");
        ASSERT_TRUE(output_.waitWriting(10000));
        send("m2");
        send("m3");
        if (byException)
            input_.fail("the link broke");
        else
            input_.end();
        ASSERT_TRUE(waitUntil([] { return MessageStub::live == 1; })) << "m2 and m3 must go unsent";
        output_.letGo();
        connection_->stop();
        EXPECT_EQ(0, MessageStub::live);
        EXPECT_EQ(Entries{"write m1"}, written_.entries());
        EXPECT_EQ(byException ? 1 : 0, trace.count("receivingRun(): the link broke"));
        connection_.reset();
        written_.clear();
    }
}

// stop() right after start() must not return before both threads are gone: the connection may
// be deleted next. Each thread's last line is written after its body has returned.
TEST_F(NetworkConnectionTest, StopRightAfterStartReturnsOnlyOnceBothNamedThreadsEnded)
{
    const std::regex receiverEnd("\\[LC-MSG_GATE-R\\] worker thread [0-9a-f]{8} ends");
    const std::regex senderEnd("\\[LC-MSG_GATE-S\\] worker thread [0-9a-f]{8} ends");
    for (int round = 0; round < 20; ++round) {
        SCOPED_TRACE(round);
        TraceCapture trace;
        start(true, true, "LC-MSG_GATE");
        input_.end();
        connection_->stop();
        std::string text = trace.text();
        EXPECT_TRUE(std::regex_search(text, receiverEnd)) << text;
        EXPECT_TRUE(std::regex_search(text, senderEnd)) << text;
        connection_.reset();
    }
}

TEST_F(NetworkConnectionTest, StopWaitsUntilTheTransportEndsTheInput)
{
    TestConnection& connection = start();
    std::atomic<bool> stopped{false};
    Worker worker;
    worker.post([&] {
        connection.stop();
        stopped = true;
    });
    Sleep(200);
    EXPECT_FALSE(stopped);
    input_.end();
    ASSERT_TRUE(worker.waitIdle(10000));
    EXPECT_TRUE(stopped);
    connection_.reset();
}

TEST_F(NetworkConnectionTest, NullAndForeignMessagesAreRefusedOnTheCallersThread)
{
    TraceCapture trace;
    TestConnection& connection = start();
    connection.notifyMessage(nullptr);
    connection.notifyMessage(new ForeignMessage("foreign"));
    EXPECT_EQ(0, MessageStub::live) << "a foreign message is released at once";
    book_.enter("T2", "10.0.0.2", 5002);
    send("m", "T2");
    ASSERT_TRUE(written_.waitFor(2, 10000));
    finish();
    EXPECT_EQ((Entries{"to 10.0.0.2:5002", "write m"}), written_.entries());
    EXPECT_EQ(1, trace.count("ERROR: [ CNetworkConnection ] notifyMessage(): the message passed to notifyMessage is"
                             " NULL"));
    EXPECT_EQ(1, trace.count("ERROR: [ CNetworkConnection ] notifyMessage(): the object cannot be queued"));
}

TEST_F(NetworkConnectionTest, MessagesQueuedAfterTheEndAreReleasedWithTheConnection)
{
    start();
    input_.end();
    connection_->stop();
    send("late");
    send("later");
    EXPECT_EQ(2, MessageStub::live);
    connection_.reset();
    EXPECT_EQ(0, MessageStub::live);
    EXPECT_EQ(Entries{}, written_.entries());
}

// Destroying a started connection before stop() would leave its threads running into the
// destroyed deriving class (the receive thread calls onProcessMessage): the process stops with
// a line that names the fault, whether or not the input has ended meanwhile.
class NetworkConnectionDestroyed : public testing::TestWithParam<bool> {};

TEST_P(NetworkConnectionDestroyed, BeforeStopStopsTheProcess)
{
    bool inputEnded = GetParam();
    if (isChild()) {
        childTracesToFile(false);
        Journal written;
        ScriptedInput input;
        RecordingOutput output(written);
        TestConnection* connection = new TestConnection(&input, &output, nullptr, nullptr);
        connection->start("LC-MSG_GATE");
        input.deliver(new CountedMessage("A"));
        EXPECT_TRUE(connection->received.waitFor(1, 10000));
        if (inputEnded)
            input.end();
        delete connection;
        exit(0); // not stopped: the parent sees 0
    }
    TempDir dir;
    EXPECT_EQ(ABNORMAL_EXIT, runInChild(dir));
    std::vector<std::string> lines = dir.logLines();
    EXPECT_TRUE(hasLineWith(lines, "FATAL ERROR: [ CNetworkConnection ] ~CNetworkConnection(): [LC-MSG_GATE] destroyed"
                            " while running: end the input and call stop() first")) << testing::PrintToString(lines);
}

INSTANTIATE_TEST_SUITE_P(Input, NetworkConnectionDestroyed, testing::Values(false, true),
                         [](const testing::TestParamInfo<bool>& info) {
                             return std::string(info.param ? "Ended" : "Open");
                         });

// While the transport is slow the queue fills up to its limit; a sender then waits until the
// send thread has made room, and every message leaves, in order.
TEST_F(NetworkConnectionTest, AFullSendQueueMakesTheSenderWaitAndLosesNothing)
{
    const int LIMIT = CNetworkConnection::SEND_QUEUE_LIMIT;
    TraceCapture trace;
    ASSERT_NO_FATAL_FAILURE(startWithTheSendThreadHeld());
    Worker sender;
    sender.post([&] {
        for (int i = 0; i < LIMIT + 2; ++i)
            send("m" + std::to_string(i));
    });
    EXPECT_TRUE(waitUntil([] { return MessageStub::live == 1 + LIMIT + 1; }))
        << "one being written, a full queue, one waiting: " << MessageStub::live;
    EXPECT_FALSE(sender.waitIdle(200)) << "the sender did not wait for room";
    output_.letGo();
    ASSERT_TRUE(sender.waitIdle(20000));
    ASSERT_TRUE(written_.waitFor(LIMIT + 3, 20000));
    Entries expected{"write first"};
    for (int i = 0; i < LIMIT + 2; ++i)
        expected.push_back("write m" + std::to_string(i));
    EXPECT_EQ(expected, written_.entries());
    EXPECT_EQ(0, trace.count("ERROR"));
}

// Senders that wait for room give up when the connection ends: their messages are released
// unsent with an error line. After the end the queue still takes up to its limit (released
// with the connection) and refuses the rest at once.
TEST_F(NetworkConnectionTest, SendersWaitingForRoomAreReleasedWhenTheConnectionEnds)
{
    const int LIMIT = CNetworkConnection::SEND_QUEUE_LIMIT;
    TraceCapture trace;
    ASSERT_NO_FATAL_FAILURE(startWithTheSendThreadHeld());
    for (int i = 0; i < LIMIT; ++i)
        send("m" + std::to_string(i));
    Worker waiting1;
    Worker waiting2;
    waiting1.post([&] { send("late-1"); });
    waiting2.post([&] { send("late-2"); });
    EXPECT_FALSE(waiting1.waitIdle(200));
    EXPECT_FALSE(waiting2.waitIdle(0));
    input_.end();
    EXPECT_TRUE(waiting1.waitIdle(10000)) << "a sender still waits after the end";
    EXPECT_TRUE(waiting2.waitIdle(10000));
    EXPECT_TRUE(waitUntil([] { return MessageStub::live == 1; })) << "only the message being written is left";
    EXPECT_EQ(2, trace.count("ERROR: [ CNetworkConnection ] notifyMessage(): the connection ended while the message"
                             " waited for room"));
    output_.letGo();
    connection_->stop();

    for (int i = 0; i < LIMIT + 3; ++i)
        send("after-" + std::to_string(i));
    EXPECT_EQ(LIMIT, MessageStub::live);
    EXPECT_EQ(3, trace.count("SendMsgQue is full and nobody empties it any more"));
    connection_.reset();
    EXPECT_EQ(0, MessageStub::live);
    EXPECT_EQ(Entries{"write first"}, written_.entries());
}

// What was queued has left only when the queue is empty and the last write has returned; the
// wait is bounded, and a connection that ends stops it at once.
TEST_F(NetworkConnectionTest, WaitUntilSentWaitsForTheLastWriteToReturn)
{
    ASSERT_NO_FATAL_FAILURE(startWithTheSendThreadHeld());
    send("second");
    EXPECT_FALSE(connection_->waitUntilSent(200)) << "two messages have not left";
    Worker waiter;
    std::atomic<bool> sent{false};
    waiter.post([&] { sent = connection_->waitUntilSent(20000); });
    EXPECT_FALSE(waiter.waitIdle(200));
    output_.letGo();
    ASSERT_TRUE(waiter.waitIdle(20000));
    EXPECT_TRUE(sent);
    EXPECT_EQ((Entries{"write first", "write second"}), written_.entries());
    EXPECT_TRUE(connection_->waitUntilSent(0)) << "nothing is queued";

    output_.hold();
    send("third");
    ASSERT_TRUE(output_.waitWriting(10000));
    send("fourth");
    waiter.post([&] { sent = connection_->waitUntilSent(20000); });
    EXPECT_FALSE(waiter.waitIdle(200));
    input_.end();
    EXPECT_TRUE(waiter.waitIdle(10000)) << "the end of the connection ends the wait";
    EXPECT_FALSE(sent);
    output_.letGo();
}

} // namespace
