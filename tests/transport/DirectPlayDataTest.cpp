// The data path of CDirectPlay over the recording fake: Receive and SendEx results row by row,
// the receive buffer, the two queues, system messages, control data and the release.
#include "TransportTestKit.h"

#include "CGuid.h"
#include "GuardedBlock.h"

#include <future>
#include <thread>

namespace {

using Lines = std::vector<std::string>;
using Bytes = std::vector<unsigned char>;

Bytes payload(size_t size, unsigned char seed)
{
    Bytes bytes(size);
    for (size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<unsigned char>(seed + i * 7);
    bytes[0] = 1; // an encoded call's version byte
    return bytes;
}

Bytes terminalLeft(const std::string& terminalId)
{
    Bytes bytes = {0, 0xFF, 0, 0, 0};
    bytes.insert(bytes.end(), terminalId.begin(), terminalId.end());
    bytes.push_back(0);
    return bytes;
}

class DirectPlayData : public FakeDirectPlayTest {};

} // namespace

// ---------------------------------------------------------------------------------------------
// Receive

namespace {

struct ReceiveRow {
    const char* name;
    HRESULT result;
    Lines events; // raised before the next payload comes through
};

std::ostream& operator<<(std::ostream& out, const ReceiveRow& row)
{
    return out << row.name;
}

const ReceiveRow RECEIVE_ROWS[] = {
    {"NoMessages", DPERR_NOMESSAGES, {}},
    {"Generic", DPERR_GENERIC, {"2 "}},
    {"InvalidObject", DPERR_INVALIDOBJECT, {"2 "}},
    {"SessionLost", DPERR_SESSIONLOST, {"2 "}},
    {"ConnectionLost", DPERR_CONNECTIONLOST, {"2 "}},
    {"Pending", DPERR_PENDING, {"2 "}},
};

class DirectPlayReceiveResult : public FakeDirectPlayTest, public testing::WithParamInterface<ReceiveRow> {};

} // namespace

TEST_P(DirectPlayReceiveResult, IsHandledAndTheNextPayloadStillArrives)
{
    std::unique_ptr<Terminal> member = openMember();
    fake().deliverFailure(GetParam().result);
    Bytes next = payload(40, 3);
    fake().deliver(DPID_SERVERPLAYER, next);
    Received got = receiveWithin(member->dp());
    ASSERT_FALSE(got.timedOut);
    EXPECT_EQ(next, got.data);
    EXPECT_FALSE(got.fromMyself);
    EXPECT_EQ(GetParam().events, log_.events.entries());
}

INSTANTIATE_TEST_SUITE_P(Each, DirectPlayReceiveResult, testing::ValuesIn(RECEIVE_ROWS),
                         [](const testing::TestParamInfo<ReceiveRow>& info) { return std::string(info.param.name); });

class DirectPlayReceiveFatal : public testing::TestWithParam<HRESULT> {};

TEST_P(DirectPlayReceiveFatal, StopsTheProcessNamingTheResult)
{
    if (isChild()) {
        childTracesToFile(false);
        FakeDirectPlay::script().reset();
        CDirectPlay::setCreateInstance(&FakeDirectPlay::createInstance);
        FakeDirectPlay::script().playerId = 7;
        Terminal member("A", false);
        member.dp().open(APPLICATION_GUID, "11223344-5566-7788-99AA-BBCCDDEEF001", "198.18.0.1");
        FakeDirectPlay::script().deliverFailure(GetParam());
        receiveWithin(member.dp(), 60000);
        exit(0);
    }
    TempDir dir;
    EXPECT_EQ(ABNORMAL_EXIT, runInChild(dir));
    std::string name = CDirectPlay::getErrorName(GetParam());
    bool named = false;
    for (const std::string& line : dir.logLines())
        named = named || (line.find("FATAL ERROR: [ CDirectPlay ] receiveFromDP(): Receive failed") != std::string::npos
                          && line.find(name) != std::string::npos);
    EXPECT_TRUE(named) << testing::PrintToString(dir.logLines());
}

INSTANTIATE_TEST_SUITE_P(Result, DirectPlayReceiveFatal, testing::Values(DPERR_INVALIDPARAMS, DPERR_INVALIDPLAYER),
                         [](const testing::TestParamInfo<HRESULT>& info) {
                             return std::string(info.param == DPERR_INVALIDPARAMS ? "InvalidParams" : "InvalidPlayer");
                         });

TEST_F(DirectPlayData, TheBufferGrowsToExactlyTheReportedSizeAndNeverShrinks)
{
    std::unique_ptr<Terminal> member = openMember();
    Bytes large = payload(1000, 1), small = payload(300, 2), larger = payload(5000, 3);
    fake().deliver(DPID_SERVERPLAYER, large);
    fake().deliver(DPID_SERVERPLAYER, small);
    fake().deliver(DPID_SERVERPLAYER, larger);
    EXPECT_EQ(large, receiveWithin(member->dp()).data);
    EXPECT_EQ(small, receiveWithin(member->dp()).data);
    EXPECT_EQ(larger, receiveWithin(member->dp()).data);
    EXPECT_EQ((std::vector<DWORD>{256, 1000, 1000, 1000, 5000}), fake().receiveSizes());
}

TEST_F(DirectPlayData, LooksAlternateBetweenDirectPlayAndTheLoopbackQueueDirectPlayFirst)
{
    std::unique_ptr<Terminal> host = openHost();
    for (unsigned char i = 0; i < 3; ++i) {
        fake().deliver(5, payload(20, static_cast<unsigned char>(10 + i)));
        Bytes own = payload(30, static_cast<unsigned char>(20 + i));
        host->dp().send(own.data(), static_cast<DWORD>(own.size()), DPID_SERVERPLAYER);
    }
    Lines order;
    for (int i = 0; i < 6; ++i) {
        Received got = receiveWithin(host->dp());
        ASSERT_FALSE(got.timedOut);
        order.push_back(std::string(got.fromMyself ? "self " : "dp ") + std::to_string(got.size) + " "
                        + std::to_string(got.data[1]));
    }
    EXPECT_EQ((Lines{"dp 20 17", "self 30 27", "dp 20 18", "self 30 28", "dp 20 19", "self 30 29"}), order);
    EXPECT_EQ(0u, fake().sentCount());
}

TEST_F(DirectPlayData, AnEmptyPayloadIsDroppedAndDoesNotEndTheInput)
{
    std::unique_ptr<Terminal> member = openMember();
    TraceCapture trace;
    fake().deliver(DPID_SERVERPLAYER, Bytes{});
    Bytes next = payload(12, 4);
    fake().deliver(DPID_SERVERPLAYER, next);
    Received got = receiveWithin(member->dp());
    EXPECT_EQ(next, got.data);
    EXPECT_EQ(1, trace.count("ERROR: [ CDirectPlay ] receive(): an empty payload is dropped"));
}

TEST_F(DirectPlayData, BeforeTheOpenNothingIsReadAndSendsAreDroppedSilently)
{
    Terminal closed("A", false);
    closed.dp().addObserver(&log_);
    Bytes bytes = payload(10, 1);
    closed.dp().send(bytes.data(), static_cast<DWORD>(bytes.size()), DPID_SERVERPLAYER);
    std::promise<DWORD> result;
    std::thread receiver([&] {
        unsigned char* data = nullptr;
        bool fromMyself = false;
        result.set_value(closed.dp().receive(&data, &fromMyself));
    });
    std::future<DWORD> returned = result.get_future();
    EXPECT_EQ(std::future_status::timeout, returned.wait_for(std::chrono::milliseconds(200)));
    closed.dp().releaceThread();
    EXPECT_EQ(0u, returned.get());
    receiver.join();
    EXPECT_EQ(0u, fake().sentCount());
    EXPECT_EQ(Lines{}, fake().calls());
}

TEST_F(DirectPlayData, ReleaseEndsAWaitingReceiveAndEveryLaterOneAtOnce)
{
    std::unique_ptr<Terminal> member = openMember();
    std::promise<DWORD> result;
    unsigned char* seen = reinterpret_cast<unsigned char*>(1);
    std::thread receiver([&] {
        bool fromMyself = false;
        result.set_value(member->dp().receive(&seen, &fromMyself));
    });
    std::future<DWORD> returned = result.get_future();
    ASSERT_EQ(std::future_status::timeout, returned.wait_for(std::chrono::milliseconds(100)));
    member->dp().releaceThread();
    ASSERT_EQ(std::future_status::ready, returned.wait_for(std::chrono::milliseconds(10000)));
    EXPECT_EQ(0u, returned.get());
    receiver.join();
    EXPECT_EQ(nullptr, seen);
    // Whatever waits, nothing is read any more.
    fake().deliver(DPID_SERVERPLAYER, payload(10, 1));
    size_t receivesBefore = fake().receiveSizes().size();
    std::thread rounds([&] {
        for (int i = 0; i < 1000; ++i) {
            unsigned char* data = nullptr;
            bool fromMyself = false;
            ASSERT_EQ(0u, member->dp().receive(&data, &fromMyself));
            ASSERT_EQ(nullptr, data);
            ASSERT_EQ(0u, member->tx().receive(&data));
        }
    });
    rounds.join();
    EXPECT_EQ(receivesBefore, fake().receiveSizes().size());
}

TEST_F(DirectPlayData, AWakeUpBeforeTheWaitIsNotLost)
{
    std::unique_ptr<Terminal> host = openHost();
    // The release comes before the receiving thread looks: it returns at once.
    std::unique_ptr<Terminal> released = openHost("H2");
    released->dp().releaceThread();
    EXPECT_EQ(0u, receiveWithin(released->dp()).size);
    // A loopback payload stored while the receiver is between its look and its wait: the
    // wake-up stays until the receiver resets it, so it never waits for it in vain.
    for (unsigned char round = 0; round < 200; ++round) {
        Bytes own = payload(8, round);
        std::promise<Received> result;
        std::future<Received> returned = result.get_future();
        std::thread receiver([&] { result.set_value(receiveWithin(host->dp(), 10000)); });
        host->dp().send(own.data(), static_cast<DWORD>(own.size()), DPID_SERVERPLAYER);
        Received got = returned.get();
        receiver.join();
        ASSERT_FALSE(got.timedOut) << "round " << int(round);
        ASSERT_EQ(own, got.data);
    }
}

// ---------------------------------------------------------------------------------------------
// Send

namespace {

struct SendRow {
    const char* name;
    HRESULT result;
    Lines events;
    const char* errorLine; // "" for none
};

std::ostream& operator<<(std::ostream& out, const SendRow& row)
{
    return out << row.name;
}

const SendRow SEND_ROWS[] = {
    {"Ok", DP_OK, {}, ""},
    {"Pending", DPERR_PENDING, {}, ""},
    {"ConnectionLost", DPERR_CONNECTIONLOST, {}, ""},
    {"InvalidParams", DPERR_INVALIDPARAMS, {}, ""},
    {"InvalidPlayer", DPERR_INVALIDPLAYER, {}, ""},
    {"Generic", DPERR_GENERIC, {}, ""},
    {"SendTooBig", DPERR_SENDTOOBIG, {}, "ERROR: [ CDirectPlay ] sendToOther(): a payload of 64 bytes is too big"},
    {"InvalidFlags", DPERR_INVALIDFLAGS, {"2 "}, ""},
    {"InvalidPriority", DPERR_INVALIDPRIORITY, {"2 "}, ""},
    {"NotLoggedIn", DPERR_NOTLOGGEDIN, {"2 "}, ""},
    {"Unsupported", DPERR_UNSUPPORTED, {"2 "}, ""},
    {"Timeout", DPERR_TIMEOUT, {"2 "}, ""},
};

class DirectPlaySendResult : public FakeDirectPlayTest, public testing::WithParamInterface<SendRow> {};

} // namespace

TEST_P(DirectPlaySendResult, IsHandledAfterOneGuaranteedAsynchronousSendEx)
{
    std::unique_ptr<Terminal> member = openMember("A", 7);
    fake().answerSends({GetParam().result});
    TraceCapture trace;
    Bytes bytes = payload(64, 9);
    member->dp().send(bytes.data(), static_cast<DWORD>(bytes.size()), DPID_SERVERPLAYER);
    std::vector<FakeDirectPlay::Sent> sent = fake().sent();
    ASSERT_EQ(1u, sent.size());
    EXPECT_EQ(7u, sent[0].from);
    EXPECT_EQ(DPID_SERVERPLAYER, sent[0].to);
    EXPECT_EQ(0x601u, sent[0].flags);
    EXPECT_EQ(0u, sent[0].priority);
    EXPECT_EQ(0u, sent[0].timeout);
    EXPECT_FALSE(sent[0].context);
    EXPECT_TRUE(sent[0].messageId);
    EXPECT_EQ(bytes, sent[0].data);
    EXPECT_EQ(GetParam().events, log_.events.entries());
    if (*GetParam().errorLine != 0) {
        EXPECT_EQ(1, trace.count(GetParam().errorLine)) << trace.text();
    }
}

INSTANTIATE_TEST_SUITE_P(Each, DirectPlaySendResult, testing::ValuesIn(SEND_ROWS),
                         [](const testing::TestParamInfo<SendRow>& info) { return std::string(info.param.name); });

TEST_F(DirectPlayData, ABusySendIsTriedAgainAfterAShortPauseUntilItGoes)
{
    std::unique_ptr<Terminal> member = openMember();
    ManualClock clock(member->dp());
    fake().answerSends({DPERR_BUSY, DPERR_BUSY, DPERR_BUSY, DPERR_PENDING});
    Bytes bytes = payload(100, 2);
    member->dp().send(bytes.data(), static_cast<DWORD>(bytes.size()), DPID_SERVERPLAYER);
    std::vector<FakeDirectPlay::Sent> sent = fake().sent();
    ASSERT_EQ(4u, sent.size());
    for (const FakeDirectPlay::Sent& s : sent)
        EXPECT_EQ(bytes, s.data);
    EXPECT_EQ(std::vector<DWORD>(3, CDirectPlay::BUSY_RETRY_PAUSE_MS), clock.sleeps());
    EXPECT_EQ(Lines{}, log_.events.entries());
}

TEST_F(DirectPlayData, ASendBusyForLongerThanTheLimitIsDroppedWithEventTwo)
{
    fake().playerId = 7;
    fake().sessions = {fake().instance};
    Terminal member("A", false, 2);
    member.dp().addObserver(&log_);
    member.dp().open(APPLICATION_GUID, CGuid::guidToString(fake().instance), "198.18.0.1");
    ManualClock clock(member.dp());
    fake().setSendDefault(DPERR_BUSY);
    Bytes bytes = payload(100, 2);
    member.dp().send(bytes.data(), static_cast<DWORD>(bytes.size()), DPID_SERVERPLAYER);
    // 2 s in pauses of 5 ms, and one more try past the limit.
    EXPECT_EQ(2000u / CDirectPlay::BUSY_RETRY_PAUSE_MS + 2, fake().sentCount());
    EXPECT_EQ(Lines{"2 "}, log_.events.entries());
    fake().setSendDefault(DPERR_PENDING);
    member.dp().send(bytes.data(), static_cast<DWORD>(bytes.size()), DPID_SERVERPLAYER);
    EXPECT_EQ(Lines{"2 "}, log_.events.entries());
}

TEST_F(DirectPlayData, TheReleaseEndsABusyRetryWithoutAnEvent)
{
    std::unique_ptr<Terminal> member = openMember();
    fake().setSendDefault(DPERR_BUSY);
    std::promise<void> done;
    std::thread sender([&] {
        Bytes bytes = payload(100, 2);
        member->dp().send(bytes.data(), static_cast<DWORD>(bytes.size()), DPID_SERVERPLAYER);
        done.set_value();
    });
    ASSERT_TRUE(waitUntil([&] { return fake().sentCount() > 3; }));
    member->dp().releaceThread();
    EXPECT_EQ(std::future_status::ready, done.get_future().wait_for(std::chrono::milliseconds(10000)));
    sender.join();
    EXPECT_EQ(Lines{}, log_.events.entries());
}

TEST_F(DirectPlayData, PayloadsToTheOwnPlayerComeBackInOrderMarkedAsOwn)
{
    std::unique_ptr<Terminal> member = openMember("A", 7);
    for (unsigned char i = 0; i < 5; ++i) {
        Bytes own = payload(10 + i, i);
        member->dp().send(own.data(), static_cast<DWORD>(own.size()), 7);
    }
    for (unsigned char i = 0; i < 5; ++i) {
        Received got = receiveWithin(member->dp());
        EXPECT_TRUE(got.fromMyself);
        EXPECT_EQ(payload(10 + i, i), got.data);
    }
    EXPECT_EQ(0u, fake().sentCount());
}

// ---------------------------------------------------------------------------------------------
// System messages and control data

TEST_F(DirectPlayData, ADestroyedPlayerOnTheHostLeavesTheTableIsReportedAndToldToEveryMember)
{
    std::unique_ptr<Terminal> host = openHost("H");
    fake().deliverPlayer(DPSYS_CREATEPLAYERORGROUP, 5, "T1");
    fake().deliverPlayer(DPSYS_DESTROYPLAYERORGROUP, 5, "T1");
    Bytes marker = encodeCall("@HOST_TERMINAL", "T2");
    fake().deliver(6, marker);
    EXPECT_EQ(marker, host->receive());
    EXPECT_EQ(Lines{"1 T1"}, log_.events.entries());
    std::vector<FakeDirectPlay::Sent> sent = fake().sent();
    ASSERT_EQ(1u, sent.size());
    EXPECT_EQ(DPID_SERVERPLAYER, sent[0].from);
    EXPECT_EQ(DPID_ALLPLAYERS, sent[0].to);
    EXPECT_EQ(0x601u, sent[0].flags);
    EXPECT_EQ("00 FF 00 00 00 54 31 00", hexBytes(sent[0].data));
    // T1 is out of the table: a block for it goes nowhere.
    Bytes forT1 = encodeCall("T1", "H");
    host->tx().send(forT1.data(), static_cast<DWORD>(forT1.size()));
    EXPECT_EQ(1u, fake().sentCount());
}

TEST_F(DirectPlayData, AMemberReportsTheTerminalThatTheHostSaysLeft)
{
    std::unique_ptr<Terminal> member = openMember("A", 7);
    fake().deliver(DPID_SERVERPLAYER, terminalLeft("T1"));
    fake().deliver(DPID_SERVERPLAYER, terminalLeft("a b c"));
    Bytes next = payload(10, 1);
    fake().deliver(DPID_SERVERPLAYER, next);
    EXPECT_EQ(next, receiveWithin(member->dp()).data);
    EXPECT_EQ((Lines{"1 T1", "1 a b c"}), log_.events.entries());
    EXPECT_EQ(0u, fake().sentCount());
}

TEST_F(DirectPlayData, TheSessionLostReportsTheOwnTerminalAndOtherSystemMessagesNothing)
{
    std::unique_ptr<Terminal> member = openMember("A", 7);
    TraceCapture trace;
    fake().deliverSystem(DPSYS_SENDCOMPLETE);
    fake().deliverSystem(DPSYS_HOST);
    fake().deliverSystem(0x4242);
    fake().deliverSystem(DPSYS_SESSIONLOST);
    Bytes next = payload(10, 1);
    fake().deliver(DPID_SERVERPLAYER, next);
    EXPECT_EQ(next, receiveWithin(member->dp()).data);
    EXPECT_EQ(Lines{"1 A"}, log_.events.entries());
    EXPECT_EQ(1, trace.count("ERROR: [ CDirectPlay ] processSystemMessage(): an unexpected system message DPSYS_HOST"));
    EXPECT_EQ(1, trace.count("ERROR: [ CDirectPlay ] processSystemMessage(): an unexpected system message ***UNKNOWN"
                             " DPSYSMSG ****"));
}

TEST_F(DirectPlayData, TheOwnPlayerDestroyedByTheHostReportsTheOwnTerminal)
{
    std::unique_ptr<Terminal> member = openMember("A", 7);
    fake().deliverPlayer(DPSYS_CREATEPLAYERORGROUP, DPID_SERVERPLAYER, "H");
    fake().deliverPlayer(DPSYS_DESTROYPLAYERORGROUP, 7, "A");
    Bytes next = payload(10, 1);
    fake().deliver(DPID_SERVERPLAYER, next);
    EXPECT_EQ(next, receiveWithin(member->dp()).data);
    EXPECT_EQ(Lines{"1 A"}, log_.events.entries());
    // It still tells the others, which DirectPlay refuses: the player is gone.
    ASSERT_EQ(1u, fake().sentCount());
    EXPECT_EQ("00 FF 00 00 00 41 00", hexBytes(fake().sent()[0].data));
}

namespace {

struct NameRow {
    const char* name;
    std::function<void(FakeDirectPlay&)> arrange;
    Lines events;
    Lines routedTo; // where the host's block for "T1" goes afterwards
};

std::ostream& operator<<(std::ostream& out, const NameRow& row)
{
    return out << row.name;
}

const NameRow NAME_ROWS[] = {
    {"Created", [](FakeDirectPlay& f) { f.deliverPlayer(DPSYS_CREATEPLAYERORGROUP, 5, "T1"); }, {}, {"5"}},
    {"NoShortNameIsNotEntered", [](FakeDirectPlay& f) { f.deliverPlayer(DPSYS_CREATEPLAYERORGROUP, 5, "", true); },
     {}, {}},
    {"EmptyShortNameIsNotEntered", [](FakeDirectPlay& f) { f.deliverPlayer(DPSYS_CREATEPLAYERORGROUP, 5, ""); }, {},
     {}},
    {"ReplacedByANewPlayer",
     [](FakeDirectPlay& f) {
         f.deliverPlayer(DPSYS_CREATEPLAYERORGROUP, 5, "T1");
         f.deliverPlayer(DPSYS_CREATEPLAYERORGROUP, 8, "T1");
     },
     {}, {"8"}},
    {"TheReplacedPlayersEndLeavesTheTerminal",
     [](FakeDirectPlay& f) {
         f.deliverPlayer(DPSYS_CREATEPLAYERORGROUP, 5, "T1");
         f.deliverPlayer(DPSYS_CREATEPLAYERORGROUP, 8, "T1");
         f.deliverPlayer(DPSYS_DESTROYPLAYERORGROUP, 5, "T1");
     },
     {}, {"8"}},
    {"TheNewPlayersEndIsTheTerminalsEnd",
     [](FakeDirectPlay& f) {
         f.deliverPlayer(DPSYS_CREATEPLAYERORGROUP, 5, "T1");
         f.deliverPlayer(DPSYS_CREATEPLAYERORGROUP, 8, "T1");
         f.deliverPlayer(DPSYS_DESTROYPLAYERORGROUP, 8, "T1");
     },
     {"1 T1"}, {}},
    {"APlayerNamedAsTheHostIsNotEntered",
     [](FakeDirectPlay& f) {
         f.deliverPlayer(DPSYS_CREATEPLAYERORGROUP, 5, "H");
         f.deliverPlayer(DPSYS_DESTROYPLAYERORGROUP, 5, "H");
     },
     {}, {}},
    {"ANamelessPlayerLeavesNoTerminal",
     [](FakeDirectPlay& f) {
         f.deliverPlayer(DPSYS_CREATEPLAYERORGROUP, 5, "", true);
         f.deliverPlayer(DPSYS_DESTROYPLAYERORGROUP, 5, "", true);
     },
     {}, {}},
    {"AnUnknownPlayersEnd", [](FakeDirectPlay& f) { f.deliverPlayer(DPSYS_DESTROYPLAYERORGROUP, 9, "T1"); }, {}, {}},
};

class DirectPlayPlayerName : public FakeDirectPlayTest, public testing::WithParamInterface<NameRow> {};

} // namespace

TEST_P(DirectPlayPlayerName, DecidesTheTableAndTheEvents)
{
    std::unique_ptr<Terminal> host = openHost("H");
    GetParam().arrange(fake());
    Bytes marker = encodeCall("@HOST_TERMINAL", "T2");
    fake().deliver(6, marker);
    EXPECT_EQ(marker, host->receive());
    EXPECT_EQ(GetParam().events, log_.events.entries());
    size_t before = fake().sentCount();
    Bytes forT1 = encodeCall("T1", "H");
    host->tx().send(forT1.data(), static_cast<DWORD>(forT1.size()));
    Lines routedTo;
    std::vector<FakeDirectPlay::Sent> sent = fake().sent();
    for (size_t i = before; i < sent.size(); ++i)
        routedTo.push_back(std::to_string(sent[i].to));
    EXPECT_EQ(GetParam().routedTo, routedTo);
}

INSTANTIATE_TEST_SUITE_P(Each, DirectPlayPlayerName, testing::ValuesIn(NAME_ROWS),
                         [](const testing::TestParamInfo<NameRow>& info) { return std::string(info.param.name); });

namespace {

struct ControlRow {
    const char* name;
    Bytes bytes;
    const char* error;
};

std::ostream& operator<<(std::ostream& out, const ControlRow& row)
{
    return out << row.name;
}

const ControlRow CONTROL_ROWS[] = {
    {"OnlyTheMark", {0}, "control data of 1 bytes is too short for its type"},
    {"TypeCutShort", {0, 0xFF, 0, 0}, "control data of 4 bytes is too short for its type"},
    {"NoTerminalId", {0, 0xFF, 0, 0, 0}, "the terminal id of TERMINAL_LEFT does not end inside the control data"},
    {"EmptyTerminalId", {0, 0xFF, 0, 0, 0, 0}, "TERMINAL_LEFT names no terminal"},
    {"NoNul", {0, 0xFF, 0, 0, 0, 'T', '1'}, "the terminal id of TERMINAL_LEFT does not end inside the control data"},
    {"OtherType", {0, 0xFE, 0, 0, 0, 'T', '1', 0}, "control data of a type it cannot understand arrived, 0x000000FE"},
    {"HighType", {0, 0xFF, 0, 0, 1, 'T', '1', 0}, "control data of a type it cannot understand arrived, 0x010000FF"},
};

class DirectPlayMalformedControlData : public FakeDirectPlayTest, public testing::WithParamInterface<ControlRow> {};

} // namespace

TEST_P(DirectPlayMalformedControlData, IsAnErrorLineAndNoEvent)
{
    std::unique_ptr<Terminal> member = openMember("A", 7);
    TraceCapture trace;
    fake().deliver(DPID_SERVERPLAYER, GetParam().bytes);
    Bytes next = payload(10, 1);
    fake().deliver(DPID_SERVERPLAYER, next);
    EXPECT_EQ(next, receiveWithin(member->dp()).data);
    EXPECT_EQ(Lines{}, log_.events.entries());
    EXPECT_EQ(1, trace.count(std::string("ERROR: [ CDirectPlay ] processCtrlData(): ") + GetParam().error))
        << trace.text();
    // Read against a guard page: nothing past the control data is touched.
    GuardedBlock guarded(GetParam().bytes);
    std::string terminalId, why;
    EXPECT_FALSE(CDirectPlay::readTerminalLeft(guarded.data(), static_cast<DWORD>(guarded.size()), &terminalId, &why));
    EXPECT_EQ(GetParam().error, why);
}

INSTANTIATE_TEST_SUITE_P(Each, DirectPlayMalformedControlData, testing::ValuesIn(CONTROL_ROWS),
                         [](const testing::TestParamInfo<ControlRow>& info) { return std::string(info.param.name); });

TEST_F(DirectPlayData, TerminalLeftCountsOnlyOnAMemberAndOnlyFromTheHost)
{
    std::unique_ptr<Terminal> host = openHost("H");
    TraceCapture trace;
    fake().deliverPlayer(DPSYS_CREATEPLAYERORGROUP, 5, "T1");
    fake().deliver(5, terminalLeft("T1"));
    fake().deliver(5, terminalLeft("H"));
    Bytes marker = encodeCall("@HOST_TERMINAL", "T1");
    fake().deliver(5, marker);
    EXPECT_EQ(marker, host->receive());
    EXPECT_EQ(2, trace.count("ERROR: [ CDirectPlay ] processCtrlData(): control data from player 5 reached the host,"
                             " it is ignored"));
    host.reset();

    std::unique_ptr<Terminal> member = openMember("A", 7);
    fake().deliver(9, terminalLeft("T1"));
    Bytes next = payload(10, 1);
    fake().deliver(9, next);
    EXPECT_EQ(next, receiveWithin(member->dp()).data);
    EXPECT_EQ(1, trace.count("ERROR: [ CDirectPlay ] processCtrlData(): control data from player 9, not the host, is"
                             " ignored"));
    EXPECT_EQ(Lines{}, log_.events.entries());
}

TEST_F(DirectPlayData, ObserversAreToldWithNoLockOfTheWrapperHeld)
{
    std::unique_ptr<Terminal> member = openMember("A", 7);
    // The observer sends from another thread and waits for it: with the receive or the send
    // lock still held by the notifying thread, that send would never get through.
    class Sender : public IObserver {
    public:
        explicit Sender(CDirectPlay& dp) : dp_(dp) {}
        void update(CObservable*, std::string argument) override
        {
            std::packaged_task<void()> task([this] {
                unsigned char byte = 1;
                dp_.send(&byte, 1, DPID_SERVERPLAYER);
            });
            std::future<void> done = task.get_future();
            std::thread other(std::move(task));
            bool through = done.wait_for(std::chrono::milliseconds(10000)) == std::future_status::ready;
            if (!through)
                dp_.releaceThread();
            other.join();
            seen.add(argument + (through ? " through" : " blocked"));
        }
        Journal seen;

    private:
        CDirectPlay& dp_;
    } sender(member->dp());
    member->dp().addObserver(&sender);
    fake().deliverSystem(DPSYS_SESSIONLOST);
    Bytes next = payload(10, 1);
    fake().deliver(DPID_SERVERPLAYER, next);
    EXPECT_EQ(next, receiveWithin(member->dp()).data);
    Bytes bytes = payload(10, 2);
    fake().answerSends({DPERR_INVALIDFLAGS}); // this send only; the observer's goes
    member->dp().send(bytes.data(), static_cast<DWORD>(bytes.size()), DPID_SERVERPLAYER);
    EXPECT_EQ((Lines{"1 A through", "2  through"}), sender.seen.entries());
}
