// The member list: its texts, what a copy does with each call, and the copies of a session
// (host and joined terminals) keeping their lists and receivers in step.
#include "GroupFixtures.h"

#include "CMethodCallMessage.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

typedef std::map<std::string, std::string> Entries;

bool contains(const std::vector<std::string>& lines, const std::string& line)
{
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

int countOf(const std::vector<std::string>& lines, const std::string& line)
{
    return static_cast<int>(std::count(lines.begin(), lines.end(), line));
}

// Long enough for anything queued to have been handled and routed.
void settle()
{
    Sleep(300);
}

} // namespace

TEST(TerminalGroupText, NoticesAndTheEmptyList)
{
    EXPECT_TRUE(CTerminalGroup::isAddNotice("ADD T1"));
    EXPECT_FALSE(CTerminalGroup::isAddNotice("ADDED T1"));
    EXPECT_FALSE(CTerminalGroup::isAddNotice("REMOVE T1"));
    EXPECT_TRUE(CTerminalGroup::isRemoveNotice("REMOVE T1"));
    EXPECT_FALSE(CTerminalGroup::isRemoveNotice("ADD T1"));
    EXPECT_EQ("T1", CTerminalGroup::getNoticeTerminalId("ADD T1"));
    EXPECT_EQ("T1 x", CTerminalGroup::getNoticeTerminalId("REMOVE T1 x"));
    EXPECT_EQ("", CTerminalGroup::getNoticeTerminalId("ADD"));

    TempDir dir;
    LoneCopy copy(false);
    EXPECT_EQ("", copy.group.currentTAMDesc());
    EXPECT_EQ(GROUP_ID, copy.group.getElementId());
    EXPECT_FALSE(copy.group.isSelfMember());
    EXPECT_FALSE(copy.group.hasOtherMember());
}

// What a synchronising slave reads from its master's list text: the members, each entry's value,
// and the receivers that follow from them.
TEST(TerminalGroupText, ListTextsAsASlaveReadsThem)
{
    struct Case {
        const char* tamDesc;
        Entries tam;
        Entries receivers;
    };
    const Case cases[] = {
        {"", {}, {}},
        {"A 1.1.1.1 11_MEMBER_SEP_B 2.2.2.2 22_MEMBER_SEP_C INVALID_IPADDRESS 33",
         {{"A", "1.1.1.1 11"}, {"B", "2.2.2.2 22"}, {"C", "INVALID_IPADDRESS 33"}},
         {{"A", "1.1.1.1 11"}, {"B", "2.2.2.2 22"}}},
        // Reading stops at the first empty field.
        {"A 1.1.1.1 11_MEMBER_SEP__MEMBER_SEP_B 2.2.2.2 22", {{"A", "1.1.1.1 11"}}, {{"A", "1.1.1.1 11"}}},
        {"_MEMBER_SEP_A 1.1.1.1 11", {}, {}},
        // A missing port reads 0 and gives no receiver; digits before other characters count.
        {"A 1.1.1.1", {{"A", "1.1.1.1"}}, {}},
        {"A 1.1.1.1 x7", {{"A", "1.1.1.1 x7"}}, {}},
        {"A 1.1.1.1 7x", {{"A", "1.1.1.1 7x"}}, {{"A", "1.1.1.1 7"}}},
        // More than three fields: the rest is the value, ip and port its first two fields.
        {"A 1.1.1.1 7 and more words", {{"A", "1.1.1.1 7 and more words"}}, {{"A", "1.1.1.1 7"}}},
        // Addresses a UDP stream must not get: a name, a port out of range, an empty id.
        {"A somehost 7_MEMBER_SEP_B 1.1.1.1 0_MEMBER_SEP_C 1.1.1.1 65536_MEMBER_SEP_D 1.1.1 7",
         {{"A", "somehost 7"}, {"B", "1.1.1.1 0"}, {"C", "1.1.1.1 65536"}, {"D", "1.1.1 7"}},
         {}},
        {"E 1.1.1.256 7_MEMBER_SEP_F 1.1.1.1 99999999999999999_MEMBER_SEP_G 1.1.1.1 -5_MEMBER_SEP_ 1.1.1.1 7",
         {{"E", "1.1.1.256 7"}, {"F", "1.1.1.1 99999999999999999"}, {"G", "1.1.1.1 -5"}},
         {}},
        {"H 255.0.0.1 65535", {{"H", "255.0.0.1 65535"}}, {{"H", "255.0.0.1 65535"}}},
    };
    TempDir dir;
    TraceCapture capture;
    for (const Case& c : cases) {
        LoneCopy copy(false);
        copy.group.deliver("INS_initTAM", c.tamDesc, "HOST");
        EXPECT_EQ(c.tam, copy.group.tam()) << c.tamDesc;
        EXPECT_EQ(c.receivers, copy.broadcast.receivers()) << c.tamDesc;
        EXPECT_EQ(c.tam.size(), copy.notices.notices().size()) << c.tamDesc;
        // The text is rebuilt from the entries.
        LoneCopy again(false);
        again.group.deliver("INS_initTAM", copy.group.currentTAMDesc(), "HOST");
        EXPECT_EQ(c.tam, again.group.tam()) << c.tamDesc;
    }
}

TEST(TerminalGroupSync, TheOwnEntryOfTheListTextIsSkipped)
{
    TempDir dir;
    LoneCopy copy(false, "SELF");
    copy.group.deliver("COP_addMember", "SELF INVALID_IPADDRESS 5000");
    copy.group.deliver("INS_initTAM", "A 1.1.1.1 11_MEMBER_SEP_SELF 9.9.9.9 99", "HOST");
    EXPECT_EQ((Entries{{"A", "1.1.1.1 11"}, {"SELF", "INVALID_IPADDRESS 5000"}}), copy.group.tam());
    EXPECT_EQ((std::vector<std::string>{"ADD SELF", "ADD A"}), copy.notices.notices());
    EXPECT_EQ((std::vector<std::string>{"set A 1.1.1.1 11"}), copy.broadcast.calls());
}

TEST(TerminalGroupReceivers, ASlaveReachesTheHostAtTheAddressItJoinedByTheMasterSubstitutesNothing)
{
    TempDir dir;
    TraceCapture capture;
    for (const char* host : {"HOST INVALID_IPADDRESS 5000", "HOST 1.2.3.4 5000", "HOST somehost 5000"}) {
        LoneCopy slave(false, "SELF", "HOST");
        slave.group.deliver("COP_addMember", host);
        EXPECT_EQ((Entries{{"HOST", std::string(MASTER_IP) + " 5000"}}), slave.broadcast.receivers()) << host;
    }
    LoneCopy master(true, "HOST", "X");
    master.group.deliver("COP_addMember", "X 1.2.3.4 7");
    EXPECT_EQ((Entries{{"X", "1.2.3.4 7"}}), master.broadcast.receivers());
}

TEST(TerminalGroupReceivers, AMemberWithoutAddressIsAnnouncedAtOnceAndReceivesOnceItsAddressComes)
{
    TempDir dir;
    LoneCopy copy(false);
    copy.group.deliver("COP_addMember", "A INVALID_IPADDRESS 7");
    EXPECT_EQ((std::vector<std::string>{"ADD A"}), copy.notices.notices());
    EXPECT_TRUE(copy.broadcast.calls().empty());
    copy.group.deliver("COP_updateMemberDesc", "A 1.1.1.1 7");
    EXPECT_EQ((Entries{{"A", "1.1.1.1 7"}}), copy.broadcast.receivers());
    EXPECT_EQ((Entries{{"A", "1.1.1.1 7"}}), copy.group.tam());
    // A later address replaces it; one that is none takes the receiver away. No notice.
    copy.group.deliver("COP_updateMemberDesc", "A 2.2.2.2 8");
    EXPECT_EQ((Entries{{"A", "2.2.2.2 8"}}), copy.broadcast.receivers());
    copy.group.deliver("COP_updateMemberDesc", "A INVALID_IPADDRESS 8");
    EXPECT_TRUE(copy.broadcast.receivers().empty());
    EXPECT_EQ((std::vector<std::string>{"ADD A"}), copy.notices.notices());
    // An update for a terminal that is no member changes nothing.
    copy.group.deliver("COP_updateMemberDesc", "B 3.3.3.3 9");
    EXPECT_EQ((Entries{{"A", "INVALID_IPADDRESS 8"}}), copy.group.tam());
    EXPECT_FALSE(copy.broadcast.named("B"));
}

TEST(TerminalGroupReceivers, TheOwnTerminalIsNeverAReceiver)
{
    TempDir dir;
    LoneCopy copy(false, "SELF");
    copy.group.deliver("COP_addMember", "SELF 1.1.1.1 5000");
    EXPECT_TRUE(copy.group.isSelfMember());
    EXPECT_FALSE(copy.group.hasOtherMember());
    copy.group.deliver("COP_updateMemberDesc", "SELF 2.2.2.2 5000");
    copy.group.deliver("COP_removeMember", "SELF");
    copy.group.removeMember("SELF");
    EXPECT_EQ((std::vector<std::string>{"ADD SELF", "REMOVE SELF", "REMOVE SELF"}), copy.notices.notices());
    EXPECT_TRUE(copy.broadcast.calls().empty());
}

TEST(TerminalGroupMembers, RemoveTellsTheObserversAlsoOfAnAbsentKey)
{
    TempDir dir;
    LoneCopy copy(false);
    copy.group.removeMember("NOBODY");
    EXPECT_EQ((std::vector<std::string>{"REMOVE NOBODY"}), copy.notices.notices());
    EXPECT_EQ((std::vector<std::string>{"remove NOBODY"}), copy.broadcast.calls());
}

// What a peer, or a race, can make of the membership calls: error lines, nothing changed.
TEST(TerminalGroupMembers, AddOfAMemberRemoveOfAStrangerAndAnEmptyIdAreRefused)
{
    TempDir dir;
    TraceCapture capture;
    LoneCopy copy(false);
    copy.group.deliver("COP_addMember", "A 1.1.1.1 7");
    copy.broadcast.calls();
    copy.group.deliver("COP_addMember", "A 2.2.2.2 8");
    copy.group.deliver("COP_removeMember", "B");
    copy.group.deliver("COP_addMember", " 1.1.1.1 7");
    copy.group.deliver("COP_addMember", "");
    copy.group.deliver("COP_addMember", "B_MEMBER_SEP_C 1.1.1.1 7");
    copy.group.deliver("COP_addMember", "D 1.1.1.1 7_MEMBER_SEP_");
    copy.group.deliver("COP_updateMemberDesc", "A 1.1.1.1 7_MEMBER_SEP_E 2.2.2.2 8");
    EXPECT_EQ(3, errorLines(capture, "holds the member separator: refused"));
    EXPECT_EQ(1, errorLines(capture, "a member already"));
    EXPECT_EQ(1, errorLines(capture, "no member: ignored"));
    EXPECT_EQ(2, errorLines(capture, "no terminal id"));
    EXPECT_EQ((Entries{{"A", "1.1.1.1 7"}}), copy.group.tam());
    EXPECT_EQ((std::vector<std::string>{"set A 1.1.1.1 7"}), copy.broadcast.calls());
    EXPECT_EQ((std::vector<std::string>{"ADD A"}), copy.notices.notices());
}

TEST(TerminalGroupMembers, TheListHoldsAtMostTheBroadcastSessionsAddresses)
{
    TempDir dir;
    TraceCapture capture;
    LoneCopy copy(false);
    std::string tamDesc;
    for (size_t i = 0; i < CTerminalGroup::MEMBER_LIMIT + 5; ++i)
        tamDesc += (i ? "_MEMBER_SEP_T" : "T") + std::to_string(i) + " 1.1.1.1 7";
    copy.group.deliver("INS_initTAM", tamDesc, "HOST");
    EXPECT_EQ(CTerminalGroup::MEMBER_LIMIT, copy.group.tam().size());
    EXPECT_EQ(0, errorLines(capture, "refused")); // the text is read no further than the limit
    copy.group.deliver("COP_addMember", "LATE 1.1.1.1 7");
    EXPECT_EQ(1, errorLines(capture, "members already: refused"));
    EXPECT_FALSE(copy.group.isMember("LATE"));
    EXPECT_FALSE(copy.broadcast.named("LATE"));
    EXPECT_EQ(CTerminalGroup::MEMBER_LIMIT, copy.notices.notices().size());
}

// Calls of the synchronisation that reach the wrong copy come from a peer: dropped with an error.
TEST(TerminalGroupSync, ProtocolCallsOnTheWrongRoleOrStateAreDropped)
{
    TempDir dir;
    TraceCapture capture;
    LoneCopy master(true, "HOST");
    for (const char* method : {"INS_initTAM", "INS_initIpAddress", "INS_updateIpAddress"})
        master.group.deliver(method, "A 1.1.1.1 7", "T1");
    EXPECT_EQ(3, errorLines(capture, "ran on the master: ignored"));
    EXPECT_TRUE(master.group.tam().empty());

    LoneCopy slave(false, "SELF");
    slave.group.deliver("INS_initTAM", "", "HOST");
    slave.group.deliver("INS_initIpAddress", "7.7.7.7", "HOST");
    slave.group.deliver("endSync", "", "HOST");
    ASSERT_TRUE(slave.group.isSynchronized());
    slave.group.deliver("INS_initTAM", "A 1.1.1.1 7", "HOST");
    slave.group.deliver("INS_initIpAddress", "8.8.8.8", "HOST");
    EXPECT_EQ(2, errorLines(capture, "a synchronised slave: ignored"));
    EXPECT_TRUE(slave.group.tam().empty());
    // The address of the synchronisation stays.
    slave.group.deliver("COP_addMember", "SELF INVALID_IPADDRESS 1");
    EXPECT_TRUE(slave.notices.notices().size() == 1);
}

// The host switched its phone off while a terminal was synchronising: its remove reaches the
// slave before the list that no longer holds it.
TEST(TerminalGroupSync, TheMastersRemoveBeforeTheListIsAnErrorAndTheSlaveSynchronises)
{
    TempDir dir;
    TraceCapture capture;
    LoneCopy slave(false, "SELF");
    slave.group.deliver("COP_removeMember", "HOST", "HOST");
    slave.group.deliver("INS_initTAM", "A 1.1.1.1 7", "HOST");
    slave.group.deliver("INS_initIpAddress", "7.7.7.7", "HOST");
    slave.group.deliver("endSync", "", "HOST");
    EXPECT_EQ(1, errorLines(capture, "COP_removeMember(HOST)"));
    EXPECT_TRUE(slave.group.isSynchronized());
    EXPECT_EQ((Entries{{"A", "1.1.1.1 7"}}), slave.group.tam());
}

TEST(TerminalGroupSession, ANewSlaveGetsTheListAndItsAddressFromTheMaster)
{
    TempDir dir;
    GroupSession session;
    session.lookup.setAddress("T1", "10.0.0.1");
    session.lookup.setAddress("T2", "10.0.0.2");
    session.post("HOST", "LOC_addSelf");
    GroupSession::Terminal& t1 = session.join("T1");
    session.post("T1", "LOC_addSelf");
    ASSERT_TRUE(waitUntil([&] { return session.host().group->isMember("T1"); }));
    EXPECT_EQ((Entries{{"HOST", "INVALID_IPADDRESS 5000"}, {"T1", "10.0.0.1 " + std::to_string(t1.port)}}),
              session.host().group->tam());

    GroupSession::Terminal& t2 = session.join("T2");
    EXPECT_EQ(session.host().group->tam(), t2.group->tam());
    EXPECT_EQ((Entries{{"HOST", std::string(MASTER_IP) + " 5000"}, {"T1", "10.0.0.1 " + std::to_string(t1.port)}}),
              t2.broadcast.receivers());
    EXPECT_EQ((std::vector<std::string>{"ADD HOST", "ADD T1"}), t2.notices.notices());
    std::vector<std::string> traffic = session.traffic();
    EXPECT_TRUE(contains(traffic, "HOST>T2 INS_initTAM"));
    EXPECT_TRUE(contains(traffic, "HOST>T2 INS_initIpAddress"));
    // T2's address came with the synchronisation: its add needs no lookup.
    int finds = session.lookup.finds();
    session.post("T2", "LOC_addSelf");
    ASSERT_TRUE(waitUntil([&] { return t1.broadcast.receivers().count("T2") != 0; }));
    EXPECT_EQ("10.0.0.2 " + std::to_string(t2.port), t1.broadcast.receivers()["T2"]);
    EXPECT_EQ(finds, session.lookup.finds());
    for (const std::string& id : session.ids())
        EXPECT_FALSE(session.terminal(id).broadcast.named(id)) << id;
}

TEST(TerminalGroupSession, TheMasterLooksALateAddressUpAndTheSlaveSpreadsIt)
{
    TempDir dir;
    GroupSession session;
    GroupSession::Terminal& t1 = session.join("T1");
    GroupSession::Terminal& t2 = session.join("T2");
    GroupSession::Terminal& t3 = session.join("T3");
    session.post("T2", "LOC_addSelf");
    ASSERT_TRUE(waitUntil([&] { return t1.group->isMember("T2") && t3.group->isMember("T2"); }));
    session.hub.clearTraffic();
    // Unknown when T1 synchronised, known now.
    session.lookup.setAddress("T1", "10.0.0.1");
    session.post("T1", "LOC_addSelf");
    ASSERT_TRUE(waitUntil([&] { return t2.broadcast.receivers().count("T1") && t3.broadcast.receivers().count("T1")
                                       && session.host().broadcast.receivers().count("T1"); }));
    std::string t1Address = "10.0.0.1 " + std::to_string(t1.port);
    for (GroupSession::Terminal* other : {&session.host(), &t2, &t3}) {
        EXPECT_EQ(t1Address, other->broadcast.receivers()["T1"]) << other->id;
        EXPECT_EQ(1, other->notices.count("ADD T1")) << other->id;
        EXPECT_EQ("10.0.0.1 " + std::to_string(t1.port), other->group->tam()["T1"]) << other->id;
    }
    EXPECT_EQ(1, countOf(session.traffic(), "HOST>T1 INS_updateIpAddress"));

    // Still unknown: the answer comes all the same, and nobody gets a receiver.
    session.lookup.setFailing("T3");
    session.post("T3", "LOC_addSelf");
    ASSERT_TRUE(waitUntil([&] { return countOf(session.traffic(), "HOST>T3 INS_updateIpAddress") == 1; }));
    ASSERT_TRUE(waitUntil([&] { return t1.group->isMember("T3") && t2.group->isMember("T3"); }));
    settle();
    for (GroupSession::Terminal* other : {&session.host(), &t1, &t2})
        EXPECT_FALSE(other->broadcast.named("T3")) << other->id << ": " << other->broadcast.calls().size();
}

TEST(TerminalGroupSession, ALostTerminalIsRemovedByTheMasterOnly)
{
    TempDir dir;
    GroupSession session(false);
    session.lookup.setAddress("T1", "10.0.0.1");
    GroupSession::Terminal& t1 = session.join("T1");
    GroupSession::Terminal& t2 = session.join("T2");
    session.post("T1", "LOC_addSelf");
    ASSERT_TRUE(waitUntil([&] { return t2.broadcast.receivers().count("T1") != 0; }));
    settle();
    session.hub.clearTraffic();
    // A slave waits for its master; a terminal that is no member is nobody's business.
    session.post("T2", "LOC_removeSessionLostMember", "T1");
    session.post("HOST", "LOC_removeSessionLostMember", "T9");
    settle();
    EXPECT_TRUE(session.traffic().empty());
    EXPECT_TRUE(t2.group->isMember("T1"));

    session.post("HOST", "LOC_removeSessionLostMember", "T1");
    ASSERT_TRUE(waitUntil([&] { return !t2.group->isMember("T1") && !t1.group->isMember("T1"); }));
    EXPECT_TRUE(t2.broadcast.receivers().empty());
    EXPECT_TRUE(session.host().broadcast.receivers().empty());
    EXPECT_EQ(1, t2.notices.count("REMOVE T1"));
    EXPECT_EQ(1, session.host().notices.count("REMOVE T1"));
}

TEST(TerminalGroupSession, AnObserverMayAskTheListFromInsideItsUpdate)
{
    TempDir dir;
    GroupSession session;
    GroupSession::Terminal& t1 = session.join("T1");
    TestGroup* group = t1.group.get();
    // On the handler thread, as the voice element asks, and from another thread at the same
    // time: the list holds no lock of its own while it tells its observers.
    t1.notices.setProbe([group] {
        bool other = false;
        std::string elsewhere = answersFromAnotherThread([group] { return group->hasOtherMember(); }, &other)
                                    ? (other ? "1" : "0")
                                    : "blocked";
        return std::string("self=") + (group->isSelfMember() ? "1" : "0") + " other="
               + (group->hasOtherMember() ? "1" : "0") + " elsewhere=" + elsewhere;
    });
    session.post("T1", "LOC_addSelf");
    session.post("HOST", "LOC_addSelf");
    ASSERT_TRUE(waitUntil([&] { return t1.notices.notices().size() == 2; }));
    EXPECT_EQ((std::vector<std::string>{"ADD T1 self=1 other=0 elsewhere=0", "ADD HOST self=1 other=1 elsewhere=1"}),
              t1.notices.notices());
    session.post("T1", "LOC_removeSelf");
    ASSERT_TRUE(waitUntil([&] { return t1.notices.notices().size() == 3; }));
    EXPECT_EQ("REMOVE T1 self=0 other=1 elsewhere=1", t1.notices.notices()[2]);
    ASSERT_TRUE(waitUntil([&] { return !session.host().group->isMember("T1"); }));
}

TEST(TerminalGroupSession, TheBroadcastSessionIsCalledWithNoLockOfTheListHeld)
{
    TempDir dir;
    GroupSession session;
    GroupSession::Terminal& t1 = session.join("T1");
    TestGroup* group = t1.group.get();
    std::vector<std::string> answers;
    std::mutex lock;
    t1.broadcast.setProbe([&, group](const std::string& call) {
        bool member = false;
        bool answered = answersFromAnotherThread([group] { return group->isMember("HOST"); }, &member);
        std::lock_guard<std::mutex> hold(lock);
        answers.push_back(call + (answered ? (member ? " member" : " gone") : " blocked"));
    });
    session.post("HOST", "LOC_addSelf");
    ASSERT_TRUE(waitUntil([&] { return t1.broadcast.receivers().count("HOST") != 0; }));
    session.post("HOST", "LOC_removeSelf");
    ASSERT_TRUE(waitUntil([&] { return t1.broadcast.receivers().empty(); }));
    std::lock_guard<std::mutex> hold(lock);
    EXPECT_EQ((std::vector<std::string>{"set HOST member", "remove HOST gone"}), answers);
}
