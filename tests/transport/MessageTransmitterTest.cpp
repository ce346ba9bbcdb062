// Routing of the message transmitter over a CDirectPlay on the recording fake: the host's send
// and distribution tables row by row, the member's plain path, the terminal-player table.
#include "TransportTestKit.h"

#include "CPlayerId.h"

#include <future>
#include <thread>

namespace {

using Lines = std::vector<std::string>;
using Bytes = std::vector<unsigned char>;

// The host "H" with members T2 (player 5) and T3 (player 6) in its table.
class TransmitterTest : public FakeDirectPlayTest {
protected:
    std::unique_ptr<Terminal> hostWithMembers()
    {
        std::unique_ptr<Terminal> host = openHost("H");
        fake().deliverPlayer(DPSYS_CREATEPLAYERORGROUP, 5, "T2");
        fake().deliverPlayer(DPSYS_CREATEPLAYERORGROUP, 6, "T3");
        Bytes marker = encodeCall("@HOST_TERMINAL", "T3", "ready");
        fake().deliver(6, marker);
        EXPECT_EQ(marker, host->receive());
        return host;
    }

    // The players SendEx went to from index on.
    Lines sentTo(size_t from)
    {
        Lines to;
        std::vector<FakeDirectPlay::Sent> sent = fake().sent();
        for (size_t i = from; i < sent.size(); ++i)
            to.push_back(std::to_string(sent[i].to));
        return to;
    }
};

struct SendRow {
    const char* receiver;
    Lines sentTo;
    bool loopback;
};

std::ostream& operator<<(std::ostream& out, const SendRow& row)
{
    return out << row.receiver;
}

const SendRow HOST_SEND_ROWS[] = {
    {"@HOST_TERMINAL", {}, true},
    {"H", {}, true},
    {"@ALL_TERMINAL_EXCEPT_ME", {"0"}, false},
    {"@ALL_TERMINAL", {"0"}, true},
    {"@HAS_MASTER", {"0"}, true},
    {"@HAS_SLAVE", {"0"}, true},
    {"@PCS", {}, false},
    {"T2", {"5"}, false},
    {"T3", {"6"}, false},
    {"T9", {}, false},
    {"@LOCAL_TERMINAL", {}, false},
};

class HostSend : public TransmitterTest, public testing::WithParamInterface<SendRow> {};

std::string rowName(const char* receiver)
{
    std::string name;
    for (const char* c = receiver; *c != 0; ++c)
        if (isalnum(static_cast<unsigned char>(*c)))
            name += *c;
    return name;
}

} // namespace

TEST_P(HostSend, GoesToThePlayersOfItsRowAndToItselfWhereTheRowSays)
{
    std::unique_ptr<Terminal> host = hostWithMembers();
    size_t before = fake().sentCount();
    Bytes block = encodeCall(GetParam().receiver, "H", "routed");
    host->tx().send(block.data(), static_cast<DWORD>(block.size()));
    EXPECT_EQ(GetParam().sentTo, sentTo(before));
    std::vector<FakeDirectPlay::Sent> sent = fake().sent();
    for (size_t i = before; i < sent.size(); ++i)
        EXPECT_EQ(block, sent[i].data);
    // A mark behind it on the loopback queue tells whether the block went there first.
    Bytes mark = encodeCall("@HOST_TERMINAL", "H", "mark");
    host->tx().send(mark.data(), static_cast<DWORD>(mark.size()));
    EXPECT_EQ(GetParam().loopback ? block : mark, host->receive());
}

INSTANTIATE_TEST_SUITE_P(Table, HostSend, testing::ValuesIn(HOST_SEND_ROWS),
                         [](const testing::TestParamInfo<SendRow>& info) { return rowName(info.param.receiver); });

namespace {

struct DistributeRow {
    const char* name;
    const char* receiver;
    const char* sender;
    Lines forwardedTo;
    bool delivered;
};

std::ostream& operator<<(std::ostream& out, const DistributeRow& row)
{
    return out << row.name;
}

const DistributeRow DISTRIBUTE_ROWS[] = {
    {"HostTerminal", "@HOST_TERMINAL", "T2", {}, true},
    {"HostsId", "H", "T2", {}, true},
    {"AllButMeFromT2", "@ALL_TERMINAL_EXCEPT_ME", "T2", {"6"}, true},
    {"AllButMeFromT3", "@ALL_TERMINAL_EXCEPT_ME", "T3", {"5"}, true},
    {"AllButMeNamingTheHost", "@ALL_TERMINAL_EXCEPT_ME", "H", {"5", "6"}, false},
    {"AllTerminal", "@ALL_TERMINAL", "T2", {"0"}, true},
    {"HasMaster", "@HAS_MASTER", "T2", {"0"}, true},
    {"HasSlave", "@HAS_SLAVE", "T2", {"0"}, true},
    {"Pcs", "@PCS", "T2", {}, false},
    {"SendersOwnId", "T2", "T2", {"5"}, false},
    {"AnotherMember", "T3", "T2", {"6"}, false},
    {"ADepartedMember", "T9", "T2", {}, false},
    {"LocalTerminal", "@LOCAL_TERMINAL", "T2", {}, false},
    {"AnEntryOfTheServerPlayer", "HP", "T2", {}, true},
};

class HostDistribute : public TransmitterTest, public testing::WithParamInterface<DistributeRow> {};

} // namespace

TEST_P(HostDistribute, ForwardsTheBlockUnchangedAndDeliversItWhereTheRowSays)
{
    std::unique_ptr<Terminal> host = hostWithMembers();
    fake().deliverPlayer(DPSYS_CREATEPLAYERORGROUP, DPID_SERVERPLAYER, "HP");
    size_t before = fake().sentCount();
    Bytes block = encodeCall(GetParam().receiver, GetParam().sender, "routed");
    fake().deliver(5, block);
    Bytes mark = encodeCall("@HOST_TERMINAL", "T3", "mark");
    fake().deliver(6, mark);
    EXPECT_EQ(GetParam().delivered ? block : mark, host->receive());
    EXPECT_EQ(GetParam().forwardedTo, sentTo(before));
    std::vector<FakeDirectPlay::Sent> sent = fake().sent();
    for (size_t i = before; i < sent.size(); ++i) {
        EXPECT_EQ(block, sent[i].data);
        EXPECT_EQ(DPID_SERVERPLAYER, sent[i].from);
        EXPECT_EQ(0x601u, sent[i].flags);
    }
    EXPECT_EQ(Lines{}, log_.events.entries());
}

INSTANTIATE_TEST_SUITE_P(Table, HostDistribute, testing::ValuesIn(DISTRIBUTE_ROWS),
                         [](const testing::TestParamInfo<DistributeRow>& info) { return std::string(info.param.name); });

TEST_F(TransmitterTest, TheHostsOwnBlocksComeBackUnexamined)
{
    std::unique_ptr<Terminal> host = hostWithMembers();
    size_t before = fake().sentCount();
    Bytes own = encodeCall("@ALL_TERMINAL_EXCEPT_ME", "H", "own");
    host->dp().send(own.data(), static_cast<DWORD>(own.size()), DPID_SERVERPLAYER);
    EXPECT_EQ(own, host->receive());
    EXPECT_EQ(Lines{}, sentTo(before));
}

TEST_F(TransmitterTest, AMemberSendsEverythingToTheHostAndKeepsEverythingThatArrives)
{
    std::unique_ptr<Terminal> member = openMember("A", 7);
    for (const char* receiver : {"@HOST_TERMINAL", "@ALL_TERMINAL", "@PCS", "B", "A", "@LOCAL_TERMINAL"}) {
        Bytes block = encodeCall(receiver, "A");
        size_t before = fake().sentCount();
        member->tx().send(block.data(), static_cast<DWORD>(block.size()));
        EXPECT_EQ(Lines{"1"}, sentTo(before)) << receiver;
        EXPECT_EQ(block, fake().sent().back().data);
    }
    for (const char* receiver : {"@HAS_SLAVE", "B", "@PCS"}) {
        Bytes block = encodeCall(receiver, "H");
        fake().deliver(DPID_SERVERPLAYER, block);
        EXPECT_EQ(block, member->receive()) << receiver;
    }
}

TEST_F(TransmitterTest, ABlockTooShortForItsReceiverIsDroppedOnTheHost)
{
    std::unique_ptr<Terminal> host = hostWithMembers();
    size_t before = fake().sentCount();
    fake().deliver(5, Bytes{1, 'T', '3'});
    fake().deliver(5, Bytes{1});
    Bytes mark = encodeCall("@HOST_TERMINAL", "T3", "mark");
    fake().deliver(6, mark);
    EXPECT_EQ(mark, host->receive());
    EXPECT_EQ(Lines{}, sentTo(before));
}

TEST_F(TransmitterTest, AReleaseWhileTheHostWaitsOrRightAfterAForwardGivesZero)
{
    std::unique_ptr<Terminal> host = hostWithMembers();
    std::promise<DWORD> result;
    std::thread receiver([&] {
        unsigned char* data = nullptr;
        result.set_value(host->tx().receive(&data));
    });
    std::future<DWORD> returned = result.get_future();
    ASSERT_EQ(std::future_status::timeout, returned.wait_for(std::chrono::milliseconds(100)));
    host->dp().releaceThread();
    ASSERT_EQ(std::future_status::ready, returned.wait_for(std::chrono::milliseconds(10000)));
    EXPECT_EQ(0u, returned.get());
    receiver.join();

    std::unique_ptr<Terminal> other = hostWithMembers();
    CDirectPlay* releasing = &other->dp();
    fake().onSend = [releasing](DPID to) {
        if (to == 6)
            releasing->releaceThread();
    };
    Bytes forT3 = encodeCall("T3", "T2");
    fake().deliver(5, forT3);
    unsigned char* data = nullptr;
    EXPECT_EQ(0u, other->tx().receive(&data));
    EXPECT_EQ(nullptr, data);
    fake().onSend = nullptr;
}

namespace {

class CountedPlayerId : public CPlayerId {
public:
    explicit CountedPlayerId(DPID id) : CPlayerId(id) { ++live; }
    ~CountedPlayerId() override { --live; }
    static inline int live = 0;
};

} // namespace

TEST_F(TransmitterTest, TheTableOwnsItsPlayerIdsReplacedRemovedOrLeftOver)
{
    CountedPlayerId::live = 0;
    {
        Terminal host("H", true);
        CMessageTransmitter& tx = host.tx();
        tx.addTerminal("T2", new CountedPlayerId(5));
        tx.addTerminal("T3", new CountedPlayerId(6));
        EXPECT_EQ(2, CountedPlayerId::live);
        tx.addTerminal("T2", new CountedPlayerId(8)); // replaced: the old one goes
        EXPECT_EQ(2, CountedPlayerId::live);
        EXPECT_FALSE(tx.removeTerminal("T2", 5));
        EXPECT_EQ(2, CountedPlayerId::live);
        EXPECT_TRUE(tx.removeTerminal("T2", 8));
        EXPECT_EQ(1, CountedPlayerId::live);
        TraceCapture trace;
        tx.removeTerminal("T9");
        EXPECT_EQ(0, trace.count("ERROR"));
        EXPECT_EQ(1, CountedPlayerId::live);
        tx.addTerminal("T4", new CountedPlayerId(9));
    }
    EXPECT_EQ(0, CountedPlayerId::live) << "entries left at the end are deleted with the table";
}

TEST_F(TransmitterTest, TheTableRefusesNewTerminalsPastItsLimit)
{
    CountedPlayerId::live = 0;
    Terminal host("H", true);
    CTrace::setDumpOff(); // every change dumps the whole table
    for (size_t i = 0; i < CMessageTransmitter::TPT_LIMIT; ++i)
        host.tx().addTerminal("T" + std::to_string(i), new CountedPlayerId(static_cast<DPID>(i + 2)));
    TraceCapture trace;
    host.tx().addTerminal("ONE MORE", new CountedPlayerId(99999));
    EXPECT_EQ(1, trace.count("ERROR: [ CMessageTransmitter ] addTerminal(): the table holds 4096 terminals, [ONE MORE]"
                             " is refused"));
    host.tx().addTerminal("T7", new CountedPlayerId(77)); // a replacement still goes in
    CTrace::setDumpOn();
    EXPECT_EQ(static_cast<int>(CMessageTransmitter::TPT_LIMIT), CountedPlayerId::live);
}

TEST(TransmitterDump, WritesOneLinePerEntry)
{
    CTrace::setDumpOn();
    TraceCapture trace;
    std::map<std::string, CPlayerId*> table;
    CPlayerId five(5), six(6);
    table["T2"] = &five;
    table["a b"] = &six;
    CMessageTransmitter::dumpTPT("DUMPTEST", table);
    EXPECT_EQ(1, trace.count("[ DUMPTEST ]TPT dump TermId=[T2] playerId=[5]")) << trace.text();
    EXPECT_EQ(1, trace.count("[ DUMPTEST ]TPT dump TermId=[a b] playerId=[6]")) << trace.text();
}

// ---------------------------------------------------------------------------------------------
// A member that is busy (DirectPlay's queue for it full) holds nobody else.

namespace {

// Payloads SendEx handed over (not refused busy) to the player, from index on.
std::vector<Bytes> takenBy(DPID player, size_t from = 0)
{
    std::vector<Bytes> taken;
    std::vector<FakeDirectPlay::Sent> sent = FakeDirectPlay::script().sent();
    for (size_t i = from; i < sent.size(); ++i)
        if (sent[i].to == player)
            taken.push_back(sent[i].data);
    return taken;
}

bool destroyed(DPID player)
{
    Lines calls = FakeDirectPlay::script().callsStartingWith("DestroyPlayer " + std::to_string(player));
    return !calls.empty();
}

} // namespace

TEST_F(TransmitterTest, ABusyMemberWaitsInItsBacklogAndLeavesAfterTheBusyLimitWhileTheOthersGoOn)
{
    std::unique_ptr<Terminal> host = hostWithMembers();
    ManualClock clock(host->dp());
    fake().setBusy(5, true); // T2 stopped reading
    TraceCapture trace;
    const int kBlocks = 100;
    ULONGLONG started = GetTickCount64();
    for (int i = 0; i < kBlocks; ++i) {
        // T3 talks to everyone, and to the host alone.
        Bytes toAll = encodeCall("@ALL_TERMINAL", "T3", "all" + std::to_string(i));
        Bytes toHost = encodeCall("@HOST_TERMINAL", "T3", "host" + std::to_string(i));
        fake().deliver(6, toAll);
        fake().deliver(6, toHost);
        ASSERT_EQ(toAll, host->receive());
        ASSERT_EQ(toHost, host->receive());
    }
    ULONGLONG took = GetTickCount64() - started;
    std::printf("[ figures  ] %d blocks from T3 with T2 busy: %llu ms on the host's receiving thread\n", 2 * kBlocks,
                static_cast<unsigned long long>(took));
    EXPECT_LT(took, 500u);
    // T3 got every block meant for it, in order; T2's wait in its backlog.
    std::vector<Bytes> toT3 = takenBy(6);
    ASSERT_EQ(static_cast<size_t>(kBlocks), toT3.size());
    EXPECT_EQ(encodeCall("@ALL_TERMINAL", "T3", "all0"), toT3.front());
    EXPECT_EQ(encodeCall("@ALL_TERMINAL", "T3", "all" + std::to_string(kBlocks - 1)), toT3.back());
    EXPECT_EQ(static_cast<size_t>(kBlocks), host->dp().getBacklogPayloads(5));

    // The host's own sends do not wait either.
    Bytes own = encodeCall("T3", "H", "own");
    host->tx().send(own.data(), static_cast<DWORD>(own.size()));
    EXPECT_EQ(own, takenBy(6).back());

    // Past the busy limit T2 leaves: its player is destroyed and its backlog dropped.
    EXPECT_FALSE(destroyed(5));
    clock.advance(20 * 1000 + 1);
    ASSERT_TRUE(waitUntil([] { return destroyed(5); }));
    EXPECT_EQ(0u, host->dp().getBacklogPayloads(5));
    EXPECT_EQ(1, trace.count("player 5 took nothing for 20 s, it leaves the session")) << trace.text();
    // DirectPlay tells the host that the player is gone: T2's session-out event, and T3 hears it.
    size_t before = fake().sent().size();
    fake().deliverPlayer(DPSYS_DESTROYPLAYERORGROUP, 5, "T2");
    Bytes marker = encodeCall("@HOST_TERMINAL", "T3", "after");
    fake().deliver(6, marker);
    EXPECT_EQ(marker, host->receive());
    EXPECT_EQ(Lines{"1 T2"}, log_.events.entries()) << "no other event: T3 never saw an error";
    std::vector<Bytes> left = takenBy(6, before);
    ASSERT_EQ(1u, left.size());
    std::string terminal;
    std::string why;
    EXPECT_TRUE(CDirectPlay::readTerminalLeft(left[0].data(), static_cast<DWORD>(left[0].size()), &terminal, &why));
    EXPECT_EQ("T2", terminal);
    EXPECT_EQ(0, trace.count("ERROR: [ CDirectPlay ] sendToOther()"));
}

TEST_F(TransmitterTest, ABusyMemberThatTakesAgainGetsItsBacklogInOrderAndStays)
{
    std::unique_ptr<Terminal> host = hostWithMembers();
    ManualClock clock(host->dp());
    fake().setBusy(5, true);
    std::vector<Bytes> blocks;
    for (int i = 0; i < 10; ++i) {
        blocks.push_back(encodeCall(i % 2 == 0 ? "T2" : "@ALL_TERMINAL_EXCEPT_ME", "H", "b" + std::to_string(i)));
        host->tx().send(blocks.back().data(), static_cast<DWORD>(blocks.back().size()));
    }
    EXPECT_EQ(10u, host->dp().getBacklogPayloads(5));
    // Busy for most of the limit, then it reads again: everything arrives, oldest first.
    clock.advance(19 * 1000);
    size_t before = fake().sent().size();
    fake().setBusy(5, false);
    ASSERT_TRUE(waitUntil([&] { return host->dp().getBacklogPayloads(5) == 0 && takenBy(5, before).size() == 10; }));
    EXPECT_EQ(blocks, takenBy(5, before));
    // Caught up: the next one goes straight to DirectPlay again, and to all players at once.
    Bytes next = encodeCall("@ALL_TERMINAL_EXCEPT_ME", "H", "next");
    before = fake().sent().size();
    host->tx().send(next.data(), static_cast<DWORD>(next.size()));
    EXPECT_EQ(Lines{"0"}, sentTo(before));
    clock.advance(10 * 1000);
    Sleep(100);
    EXPECT_FALSE(destroyed(5));
    EXPECT_EQ(Lines{}, log_.events.entries());
}

TEST_F(TransmitterTest, AFullBacklogDropsWhatComesWithAnErrorLine)
{
    std::unique_ptr<Terminal> host = hostWithMembers();
    ManualClock clock(host->dp());
    fake().setBusy(5, true);
    TraceCapture trace;
    Bytes block = encodeCall("T2", "H", "b");
    for (size_t i = 0; i < CDirectPlay::BACKLOG_LIMIT_PAYLOADS + 3; ++i)
        host->tx().send(block.data(), static_cast<DWORD>(block.size()));
    EXPECT_EQ(CDirectPlay::BACKLOG_LIMIT_PAYLOADS, host->dp().getBacklogPayloads(5));
    EXPECT_EQ(3, trace.count("the backlog of busy player 5 is full"));
    // It takes again: what the backlog kept arrives, and the backlog thread rests (before the
    // clock it reads goes).
    size_t before = fake().sent().size();
    fake().setBusy(5, false);
    ASSERT_TRUE(waitUntil([&] { return host->dp().getBacklogPayloads(5) == 0; }));
    EXPECT_EQ(CDirectPlay::BACKLOG_LIMIT_PAYLOADS, takenBy(5, before).size());
}
