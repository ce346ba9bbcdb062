#include "GatePair.h"
#include "LiveObjects.h"

#include "CMethodCallBlock.h"
#include "CMethodCallMessage.h"
#include "CNullPointerException.h"
#include "IAddressGetter.h"
#include "IAddressSetter.h"

#include <gtest/gtest.h>

#include <regex>

namespace {

using Entries = std::vector<std::string>;

// Every test builds its gates in a scope of its own, so that it can read the trace once their
// threads have ended.
using MessageGateTest = LeakCheckedTest;

TEST_F(MessageGateTest, ThreadsAreNamedAfterTheGateAndEndWithItsInput)
{
    for (bool byException : {false, true}) {
        SCOPED_TRACE(byException ? "CIOException" : "end of input");
        TraceCapture trace;
        {
            GatePair p;
            TestElement element(p.b, "E");
            p.a.proxy().sendNotice("TB", "E", "hello");
            ASSERT_TRUE(element.received.waitFor(1, 10000));
            if (byException)
                p.toB.breakWith("cable pulled");
            else
                p.toB.close();
            p.b.gate().stop();
        }
        std::string text = trace.text();
        EXPECT_TRUE(std::regex_search(text, std::regex("\\[RM-MSG_GATE-R\\] \\[ CMessageGate \\] onProcessMessage :")));
        for (const char* name : {"LC-MSG_GATE-R", "LC-MSG_GATE-S", "RM-MSG_GATE-R", "RM-MSG_GATE-S"})
            EXPECT_TRUE(std::regex_search(text, std::regex(std::string("\\[") + name + "\\] worker thread [0-9a-f]{8} ends")))
                << name;
        EXPECT_EQ(byException ? 1 : 0, trace.count("[RM-MSG_GATE-R] [ CNetworkConnection ] receivingRun(): cable pulled"));
    }
}

TEST_F(MessageGateTest, MessagesForTheLocalTerminalAreRefusedAndReleased)
{
    {
        GatePair p;
        TestElement element(p.b, "E");
        p.a.gate().notifyMessage(CMethodCallMessage::createLocalCall("E", "S", "local"));
        p.a.gate().notifyMessage(
            CMethodCallMessage::createRemoteCall(CMethodCallMessage::LOCAL_TERMINAL, "E", "TA", "S", "local", 2, "xy"));
        p.a.proxy().sendNotice("TB", "E", "remote");
        ASSERT_TRUE(element.received.waitFor(1, 10000));
        EXPECT_EQ(Entries{"remote -"}, element.received.entries());
        EXPECT_EQ(1, p.toB.blocksWritten());
    }
    EXPECT_EQ(2, trace_.count("ERROR: [ CMessageGate ] notifyMessage(): a delivery within the local terminal reached"
                              " the gate"));
}

// Nobody could answer a query for an element that is not entered: it is released where it
// arrives. Other messages for it are released by the listener table.
TEST_F(MessageGateTest, MessagesForAnElementNobodyEnteredAreReleasedOnArrival)
{
    {
        GatePair p;
        TestElement marker(p.b, "MARK");
        CMethodCallMessage* query = CMethodCallMessage::createRemoteCall("TB", "NOBODY", "TA", "S", "q");
        query->setModifier(CMethodCallMessage::QUERY);
        query->setSerialNum(9);
        p.a.gate().notifyMessage(query);
        p.a.proxy().sendNotice("TB", "NOBODY", "n");
        p.a.proxy().sendNotice("TB", "MARK", "after");
        ASSERT_TRUE(marker.received.waitFor(1, 10000));
        EXPECT_EQ(0, p.toA.blocksWritten()) << "no reply";
    }
    EXPECT_EQ(1, trace_.count("a QUERY that cannot be delivered is deleted here"));
    EXPECT_EQ(1, trace_.count("the destination [NOBODY] does not exist"));
}

// Messages are handled one at a time in arrival order, so a message to a marker element shows
// that everything sent before it has been dealt with.
TEST_F(MessageGateTest, ListenersComeAndGoByElementId)
{
    {
        GatePair p;
        TestElement marker(p.b, "MARK");
        {
            TestElement first(p.b, "E");
            p.a.proxy().sendNotice("TB", "E", "one");
            ASSERT_TRUE(first.received.waitFor(1, 10000));
            EXPECT_EQ(Entries{"one -"}, first.received.entries());
        }
        p.a.proxy().sendNotice("TB", "E", "two");
        p.a.proxy().sendNotice("TB", "MARK", "after two");
        ASSERT_TRUE(marker.received.waitFor(1, 10000));
        TestElement second(p.b, "E");
        p.a.proxy().sendNotice("TB", "E", "three");
        p.a.proxy().sendNotice("TB", "e", "lower case is another id");
        ASSERT_TRUE(second.received.waitFor(1, 10000));
        p.a.proxy().sendNotice("TB", "MARK", "after three");
        ASSERT_TRUE(marker.received.waitFor(2, 10000));
        EXPECT_EQ(Entries{"three -"}, second.received.entries());
    }
    EXPECT_EQ(1, trace_.count("the destination [E] does not exist"));
    EXPECT_EQ(1, trace_.count("the destination [e] does not exist"));
}

// Like the UDP output stream: the block goes to the address set last.
class AddressedRecorder : public IOutputStream, public IAddressSetter {
public:
    void setAddress(const std::string& ipAddress, int portNum) override
    {
        journal.add("to " + ipAddress + ":" + std::to_string(portNum));
    }
    void write(const unsigned char* data, int size) override
    {
        journal.add("block for " + CMethodCallBlock::peekReceiverTerminalId(data, size));
    }
    Journal journal;
};

class ThreeMembers : public IAddressGetter {
public:
    void getAddress(const std::string& terminalId, std::string& ipAddress, int& portNum) override
    {
        if (terminalId != "T2")
            throw CNullPointerException("not registered: " + terminalId);
        ipAddress = "198.18.0.2";
        portNum = 4002;
    }
    void getAllAddresses(std::vector<std::string>& ipAddresses, std::vector<int>& portNums) override
    {
        ipAddresses = {"198.18.0.1", "198.18.0.2", "198.18.0.3"};
        portNums = {4001, 4002, 4003};
    }
};

TEST_F(MessageGateTest, WithAnAddressGetterAllTerminalGoesToEveryAddressElseOnce)
{
    AddressedRecorder broadcast;
    AddressedRecorder session;
    ThreeMembers members;
    BlockPipe broadcastInput;
    BlockPipe sessionInput;
    {
        Endpoint bc("TA", "BC-MSG_GATE", broadcastInput, broadcast, 10000, &members, &broadcast);
        Endpoint lc("TA", "LC-MSG_GATE", sessionInput, session, 10000);
        for (Endpoint* endpoint : {&bc, &lc}) {
            endpoint->proxy().sendNotice(CMethodCallMessage::ALL_TERMINAL, "VOICE", "INS_playVoice", 4, "\x01\x02\x03\x04");
            endpoint->proxy().sendNotice("T2", "VOICE", "one");
            endpoint->proxy().sendNotice("T7", "VOICE", "unknown");
        }
        ASSERT_TRUE(broadcast.journal.waitFor(8, 10000));
        ASSERT_TRUE(session.journal.waitFor(3, 10000));
        broadcastInput.close();
        sessionInput.close();
    }
    EXPECT_EQ((Entries{"to 198.18.0.1:4001", "block for @ALL_TERMINAL", "to 198.18.0.2:4002", "block for @ALL_TERMINAL",
                       "to 198.18.0.3:4003", "block for @ALL_TERMINAL", "to 198.18.0.2:4002", "block for T2"}),
              broadcast.journal.entries());
    EXPECT_EQ((Entries{"block for @ALL_TERMINAL", "block for T2", "block for T7"}), session.journal.entries());
    EXPECT_EQ(1, trace_.count("the destination address was not obtained: not registered: T7"));
}

// The owner takes a gate down in this order: end the input, stop, delete. Deleting it before
// stop() would leave the receive thread delivering into the destroyed gate: the process stops
// with a line that names the fault instead.
struct GateDownCase {
    const char* name;
    bool endInput;
    bool stop;
};

void PrintTo(const GateDownCase& c, std::ostream* out)
{
    *out << c.name;
}

class GateTakenDown : public testing::TestWithParam<GateDownCase> {};

TEST_P(GateTakenDown, OnlyInTheOwnersOrder)
{
    const GateDownCase& c = GetParam();
    if (isChild()) {
        childTracesToFile(false);
        BlockPipe in, out;
        CMethodCallMsgDecoder decoder(&in);
        CMethodCallMsgEncoder encoder(&out);
        CMessageGate* gate = new CMessageGate(&decoder, &encoder, nullptr, nullptr, "LC-MSG_GATE");
        if (c.endInput)
            in.close();
        if (c.stop)
            gate->stop();
        delete gate;
        exit(0);
    }
    TempDir dir;
    bool proper = c.endInput && c.stop;
    EXPECT_EQ(proper ? 0 : ABNORMAL_EXIT, runInChild(dir));
    std::vector<std::string> lines = dir.logLines();
    int fatal = 0;
    for (const std::string& line : lines) {
        fatal += line.find("FATAL ERROR: [ CMessageGate ] ~CMessageGate(): destroyed while running: end the input and"
                           " call stop() first") != std::string::npos ? 1 : 0;
    }
    EXPECT_EQ(proper ? 0 : 1, fatal) << testing::PrintToString(lines);
}

INSTANTIATE_TEST_SUITE_P(Orders, GateTakenDown,
                         testing::Values(GateDownCase{"EndInputStopDelete", true, true},
                                         GateDownCase{"DeleteWhileRunning", false, false},
                                         GateDownCase{"EndInputDeleteWithoutStop", true, false}),
                         [](const testing::TestParamInfo<GateDownCase>& info) { return std::string(info.param.name); });

} // namespace
