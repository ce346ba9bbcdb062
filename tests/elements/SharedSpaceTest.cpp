// Shared spaces on a host and joined terminals in one process: installs and removals reach
// every terminal under one element id, a leaving terminal leaves no replica behind, a late
// joiner receives the whole set, and requests that contradict a terminal's maps are reported
// and left alone.
#include "CLocalMethod.h"
#include "CMethodCallMessage.h"
#include "CProxyElement.h"
#include "GatePair.h" // outcomeOf
#include "LiveObjects.h"
#include "ReplicaFixtures.h"
#include "SpaceFixtures.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

const std::string SEP = CSharedSpace::RE_INFO_SEP;

std::string record(const std::string& home, const std::string& id, const std::string& elemDesc)
{
    return home + SEP + id + SEP + elemDesc;
}

// A notice with a text to a terminal's space, as a peer (or a forger) would send it.
void forge(SpaceSession& session, const std::string& from, const std::string& to, const std::string& method,
           const std::string& text, const std::string& space = "SPACE")
{
    session.hub.terminal(from).proxy().sendNotice(to, space, method, static_cast<unsigned>(text.size()),
                                                  text.data());
}

// The journal entries of one terminal that mention the subject, in order.
std::vector<std::string> entriesOf(SpaceSession& session, const std::string& terminalId, const std::string& subject)
{
    std::vector<std::string> found;
    for (const std::string& entry : session.journal.entries())
        if (entry.compare(0, terminalId.size() + 1, terminalId + " ") == 0
            && entry.find(" " + subject) != std::string::npos)
            found.push_back(entry);
    return found;
}

bool hasTraffic(SessionHub& hub, const std::string& line)
{
    std::vector<std::string> traffic = hub.traffic();
    return std::find(traffic.begin(), traffic.end(), line) != traffic.end();
}

int trafficCount(SessionHub& hub, const std::string& line)
{
    std::vector<std::string> traffic = hub.traffic();
    return static_cast<int>(std::count(traffic.begin(), traffic.end(), line));
}

} // namespace

TEST(SharedSpace, AnInstallOnAJoinedTerminalReachesEveryTerminalUnderOneId)
{
    TempDir dir;
    TraceCapture capture;
    {
        SpaceSession session;
        session.install("T1", "pic-1");
        // A descriptor may hold the record separator: it is everything after the second one.
        session.install("T1", "odd" + SEP + "name");
        ASSERT_TRUE(session.waitForMembers({{"pic-1", "T1"}, {"odd" + SEP + "name", "T1"}})) << session.describe();

        std::string id = session.elementIdOf("T1", "pic-1");
        EXPECT_EQ(36u, id.size()) << "a GUID made on the installing terminal";
        EXPECT_EQ((std::vector<std::string>{"T1 beforePlugInOrg pic-1 new", "T1 afterPlugInOrg pic-1 " + id}),
                  entriesOf(session, "T1", "pic-1"));
        EXPECT_EQ((std::vector<std::string>{"HOST beforePlugInRpl pic-1 new", "HOST afterPlugInRpl pic-1 " + id}),
                  entriesOf(session, "HOST", "pic-1"));
        EXPECT_TRUE(hasTraffic(session.hub, "T1>@HAS_MASTER SPACE REQ_install"));
        EXPECT_EQ(2, trafficCount(session.hub, "HOST>@HAS_SLAVE SPACE INS_install"));
        // An uninstall that overtakes the echo of its own install is a real (reported) race:
        // let both echoes come home first.
        ASSERT_TRUE(waitUntil([&] { return capture.count("the echo of this terminal's own install") == 2; }));

        session.uninstall("T1", "pic-1");
        ASSERT_TRUE(session.waitForMembers({{"odd" + SEP + "name", "T1"}})) << session.describe();
        ASSERT_TRUE(waitUntil([&] { return entriesOf(session, "T2", "pic-1").size() == 4; }));
        EXPECT_EQ((std::vector<std::string>{"T2 beforePlugInRpl pic-1 new", "T2 afterPlugInRpl pic-1 " + id,
                                            "T2 beforePlugOutRpl pic-1 " + id, "T2 afterPlugOutRpl pic-1 " + id}),
                  entriesOf(session, "T2", "pic-1"));
    }
    EXPECT_EQ("", errorText(capture, "")) << "the echoes of the own install and uninstall are no violation";
}

TEST(SharedSpace, TheHostInstallsAndUninstallsForEveryone)
{
    TempDir dir;
    SpaceSession session;
    session.install("HOST", "h-1");
    session.install("HOST", "h-2");
    ASSERT_TRUE(session.waitForMembers({{"h-1", "HOST"}, {"h-2", "HOST"}})) << session.describe();
    // Only the terminal of the original removes it.
    session.uninstall("T2", "h-1");
    session.uninstall("HOST", "h-2");
    ASSERT_TRUE(session.waitForMembers({{"h-1", "HOST"}})) << session.describe();
    EXPECT_FALSE(hasTraffic(session.hub, "T2>@HAS_MASTER SPACE REQ_uninstall"));
}

TEST(SharedSpace, ALateJoinerReceivesTheWholeSetBeforeItsSynchronisationEnds)
{
    TempDir dir;
    SpaceSession session;
    std::vector<std::string> first = entriesOf(session, "T1", "onEndSyncSharedSpace");
    EXPECT_EQ((std::vector<std::string>{"T1 onEndSyncSharedSpace members=0"}), first) << "an empty master sends none";
    session.install("HOST", "h-1");
    session.install("T1", "t1-a");
    session.install("T1", "t1-b");
    session.install("T2", "t2-a");
    ASSERT_TRUE(session.waitForMembers({{"h-1", "HOST"}, {"t1-a", "T1"}, {"t1-b", "T1"}, {"t2-a", "T2"}}));
    session.hub.clearTraffic();

    session.add("T3");
    ASSERT_TRUE(session.waitForMembers({{"h-1", "HOST"}, {"t1-a", "T1"}, {"t1-b", "T1"}, {"t2-a", "T2"}}))
        << session.describe();
    EXPECT_EQ((std::vector<std::string>{"T3 onEndSyncSharedSpace members=4"}),
              entriesOf(session, "T3", "onEndSyncSharedSpace"));
    std::vector<std::string> traffic;
    for (const std::string& line : session.hub.traffic())
        if (line.compare(0, 14, "HOST>T3 SPACE ") == 0)
            traffic.push_back(line.substr(14));
    EXPECT_EQ((std::vector<std::string>{"INS_initReplicaElemnets", "endSync"}), traffic);
    EXPECT_EQ((std::vector<std::string>{"HOST onSyncSharedSpace T3"}), entriesOf(session, "HOST", "onSyncSharedSpace T3"));
}

TEST(SharedSpace, ATerminalThatLeavesLeavesNoReplicaBehind)
{
    TempDir dir;
    SpaceSession session;
    session.install("T1", "t1-a");
    session.install("T1", "t1-b");
    session.install("T2", "t2-a");
    session.install("HOST", "h-1");
    ASSERT_TRUE(session.waitForMembers({{"t1-a", "T1"}, {"t1-b", "T1"}, {"t2-a", "T2"}, {"h-1", "HOST"}}));

    session.leave("T1");
    ASSERT_TRUE(session.waitForMembers({{"t2-a", "T2"}, {"h-1", "HOST"}})) << session.describe();
    EXPECT_TRUE(session.space("T1").members().empty()) << "the leaver removed its own members";
    EXPECT_EQ(1u, entriesOf(session, "T1", "onPlugOutSharedSpace").size());
}

TEST(SharedSpace, ACrashedTerminalsReplicasGoWhenTheHostHearsOfIt)
{
    TempDir dir;
    SpaceSession session;
    // What the host's session logic does when a terminal drops out of the session.
    session.hub.setSessionOutListener([&](const std::string& terminalId) {
        CLocalMethod::postMethodStr(session.space("HOST").getObjectId(), "LOC_uninstallAll", terminalId);
    });
    session.install("T2", "t2-a");
    session.install("T2", "t2-b");
    session.install("T1", "t1-a");
    ASSERT_TRUE(session.waitForMembers({{"t2-a", "T2"}, {"t2-b", "T2"}, {"t1-a", "T1"}}));

    session.cut("T2");
    ASSERT_TRUE(session.waitForMembers({{"t1-a", "T1"}})) << session.describe();
    EXPECT_EQ(1u, entriesOf(session, "T1", "onRemoveAllRplElems T2").size());
}

TEST(SharedSpace, UninstallAllRemovesOneTerminalsReplicasOnlyOnTheMastersWord)
{
    TempDir dir;
    TraceCapture capture;
    {
        SpaceSession session;
        session.install("T1", "t1-a");
        session.install("HOST", "h-1");
        ASSERT_TRUE(session.waitForMembers({{"t1-a", "T1"}, {"h-1", "HOST"}}));

        session.post("T2", "LOC_uninstallAll", "T1");   // a slave copy does nothing
        session.post("HOST", "LOC_uninstallAll", "HOST"); // naming itself is refused
        session.post("HOST", "LOC_uninstallAll", "T9");   // nobody's: the hooks run all the same
        session.post("HOST", "LOC_uninstallAll", "T1");
        auto dropped = [&](const std::string& terminalId) {
            std::map<std::string, std::string> members = session.space(terminalId).members();
            return members.count("t1-a") == 0 && members.count("h-1") == 1;
        };
        ASSERT_TRUE(waitUntil([&] { return dropped("HOST") && dropped("T2"); })) << session.describe();
        EXPECT_EQ(1u, session.space("T1").members().count("t1-a")) << "the original stays on its terminal";
        for (const char* terminal : {"HOST", "T1", "T2"})
            EXPECT_TRUE(waitUntil([&] { return entriesOf(session, terminal, "onRemoveAllRplElems T9").size() == 1; }))
                << terminal;
        EXPECT_EQ(2, trafficCount(session.hub, "HOST>@HAS_SLAVE SPACE INS_uninstallAll"));
    }
    EXPECT_EQ(1, errorLines(capture, "naming itself is forbidden"));
}

TEST(SharedSpace, AnOriginalThatCannotBeMadeSendsNothing)
{
    TempDir dir;
    SpaceSession session;
    session.install("T1", "none-1");
    session.install("T1", "pic-2");
    ASSERT_TRUE(session.waitForMembers({{"pic-2", "T1"}}));
    EXPECT_EQ((std::vector<std::string>{"T1 beforePlugInOrg none-1 NULL", "T1 afterPlugInOrg none-1 NULL"}),
              entriesOf(session, "T1", "none-1"));
    EXPECT_EQ(1, trafficCount(session.hub, "T1>@HAS_MASTER SPACE REQ_install"));
}

TEST(SharedSpace, AReplicaTheMasterCannotMakeStillComesAndGoesOnTheOthers)
{
    TempDir dir;
    TraceCapture capture;
    {
        SpaceSession session;
        session.space("HOST").refusedReplicas.insert("odd");
        session.install("T1", "odd");
        ASSERT_TRUE(waitUntil([&] { return session.space("T2").members().count("odd") == 1; }));
        EXPECT_EQ(0u, session.space("HOST").members().count("odd"));
        EXPECT_EQ((std::vector<std::string>{"HOST beforePlugInRpl odd NULL", "HOST afterPlugInRpl odd NULL"}),
                  entriesOf(session, "HOST", "odd"));

        session.uninstall("T1", "odd");
        ASSERT_TRUE(waitUntil([&] { return session.space("T2").members().count("odd") == 0; }))
            << "the uninstall must reach the terminals that made the replica";
    }
    EXPECT_EQ(1, errorLines(capture, "violates the protocol 4"));
}

TEST(SharedSpace, RequestsThatContradictTheMapsAreReportedAndIgnored)
{
    TempDir dir;
    TraceCapture capture;
    struct Case {
        const char* from;
        const char* to;
        const char* method;
        std::string text;
        const char* report;
    };
    const std::vector<Case> cases = {
        {"T2", "HOST", "REQ_install", record("T2", "X1", "a"), "violates the protocol 1"},
        {"T1", "HOST", "REQ_install", record("HOST", "X2", "new-1"), "violates the protocol 2"},
        {"T1", "HOST", "REQ_uninstall", "h", "violates the protocol 4"},
        {"HOST", "T1", "INS_install", record("T2", "X3", "c"), "violates the protocol 5"},
        // The echo of an install that reaches the installing terminal after its uninstall.
        {"HOST", "T1", "INS_install", record("T1", "X4", "gone"), "violates the protocol 6"},
        {"HOST", "T1", "INS_uninstall", "a", "violates the protocol 8"},
        {"T1", "HOST", "INS_install", record("T1", "X5", "new-2"), "INS_install ran on the master"},
        {"HOST", "T1", "REQ_uninstallAll", "T2", "REQ_uninstallAll ran on a slave"},
        {"HOST", "T1", "INS_initReplicaElemnets", record("T2", "X6", "new-3"), "synchronised already"},
        {"HOST", "T1", "INS_install", "garbage", "is malformed"},
        {"HOST", "T1", "INS_install", record("T2", "", "new-4"), "is malformed"},
    };
    {
        SpaceSession session;
        session.install("HOST", "h");
        session.install("T1", "a");
        session.install("T2", "c");
        ASSERT_TRUE(session.waitForMembers({{"h", "HOST"}, {"a", "T1"}, {"c", "T2"}}));
        for (const Case& c : cases)
            forge(session, c.from, c.to, c.method, c.text);
        // Behind them on the same roads: once these are in, the forged ones were handled.
        session.install("HOST", "after-h");
        session.install("T1", "after-t1");
        session.install("T2", "after-t2");
        ASSERT_TRUE(session.waitForMembers(
            {{"h", "HOST"}, {"a", "T1"}, {"c", "T2"}, {"after-h", "HOST"}, {"after-t1", "T1"}, {"after-t2", "T2"}}))
            << session.describe();
    }
    for (const Case& c : cases)
        EXPECT_LE(1, errorLines(capture, c.report)) << c.method << " " << c.text;
    EXPECT_EQ(2, errorLines(capture, "is malformed"));
}

TEST(SharedSpace, TheInitialListIsCheckedAgainstTheMapsAndEndsAtAnEmptyLine)
{
    TempDir dir;
    TraceCapture capture;
    {
        SpaceSession session(std::vector<std::string>{});
        session.add("T1");
        TestSpace& lonely = session.addLonely("T9");
        const std::string list = record("T1", "ID-1", "one") + "\n" + record("T1", "ID-2", "one") + "\nbad\n"
                                 + record("HOST", "ID-3", "two") + "\n\n" + record("T1", "ID-4", "after-gap");
        forge(session, "HOST", "T9", "INS_initReplicaElemnets", list, "LONELY");
        forge(session, "HOST", "T9", "INS_install", record("T1", "ID-5", "early"), "LONELY");
        forge(session, "HOST", "T9", "INS_initReplicaElemnets", record("T1", "ID-6", "three"), "LONELY");
        ASSERT_TRUE(waitUntil([&] { return lonely.members().count("three") == 1; }));

        EXPECT_FALSE(lonely.isSynchronized());
        EXPECT_EQ((std::map<std::string, std::string>{{"one", "R T1 ID-1"}, {"two", "R HOST ID-3"}, {"three", "R T1 ID-6"}}),
                  lonely.members())
            << "no second member under one descriptor, nothing after the empty line, no install before the end";
    }
    EXPECT_EQ(1, errorLines(capture, "is a member already"));
    EXPECT_EQ(1, errorLines(capture, "is malformed"));
}

TEST(SharedSpace, ASecondInstallOfOneDescriptorIsRefused)
{
    TempDir dir;
    TraceCapture capture;
    {
        SpaceSession session({"T1"});
        session.install("T1", "pic");
        session.install("T1", "pic");
        session.install("T1", "pic-2");
        ASSERT_TRUE(session.waitForMembers({{"pic", "T1"}, {"pic-2", "T1"}}));
        EXPECT_EQ(2, trafficCount(session.hub, "T1>@HAS_MASTER SPACE REQ_install"));
    }
    EXPECT_EQ(1, errorLines(capture, "is a member already"));
}

// A peer's initial list of a million records makes no more replicas (each an element with a
// thread) than the limit; the rest is refused with one error line, and the space still
// answers a call behind it.
TEST(SharedSpace, AnInitialListOfAMillionRecordsMakesNoMoreThanTheLimitOfReplicas)
{
    const int RECORDS = 1000000;
    const size_t LIMIT = CSharedSpace::REPLICA_LIMIT;
    TempDir dir;
    TraceCapture capture;
    {
        SpaceSession session(std::vector<std::string>{});
        TestSpace& lonely = session.addLonely("T9");
        std::string list;
        list.reserve(static_cast<size_t>(RECORDS) * 48);
        for (int i = 0; i < RECORDS; ++i) {
            if (i != 0)
                list += '\n';
            list += record("T1", "ID-" + std::to_string(i), "d" + std::to_string(i));
        }
        int before = liveObjects();
        forge(session, "HOST", "T9", "INS_initReplicaElemnets", list, "LONELY");
        list.clear();
        list.shrink_to_fit();
        ASSERT_TRUE(waitUntil([&] { return lonely.members().size() >= LIMIT; }, 60000));
        EXPECT_EQ("value @INVALID_ELEMENT_GUID", outcomeOf([&] {
                      return session.hub.terminal("HOST").proxy().sendQuery("T9", "LONELY", "QUE_supplyElementId");
                  })) << "the space runs calls after the list";
        EXPECT_EQ(LIMIT, lonely.members().size());
        EXPECT_LE(liveObjects() - before, static_cast<int>(LIMIT) * 64) << "objects grew with the records refused";
    }
    EXPECT_EQ(1, errorLines(capture, "the list is refused from line " + std::to_string(LIMIT) + " on"));
    EXPECT_EQ(0, errorLines(capture, "is malformed"));
}

// Installs that a peer requests one by one stop at the limit too; originals do not count.
TEST(SharedSpace, InstallsPastTheLimitOfReplicasAreRefused)
{
    const int LIMIT = static_cast<int>(CSharedSpace::REPLICA_LIMIT);
    TempDir dir;
    TraceCapture capture;
    {
        SpaceSession session(std::vector<std::string>{});
        for (int i = 0; i <= LIMIT; ++i)
            forge(session, "HOST", "HOST", "REQ_install",
                  record("T7", "ID-" + std::to_string(i), "r" + std::to_string(i)));
        // Behind them on the same road (a peer's road, which never reaches "LOC_install").
        forge(session, "HOST", "HOST", "REQ_uninstall", "r0");
        ASSERT_TRUE(waitUntil(
            [&] {
                std::map<std::string, std::string> members = session.space("HOST").members();
                return members.count("r" + std::to_string(LIMIT - 1)) == 1 && members.count("r0") == 0;
            },
            60000));
        session.install("HOST", "own");
        ASSERT_TRUE(waitUntil([&] { return session.space("HOST").members().count("own") == 1; }));
        std::map<std::string, std::string> members = session.space("HOST").members();
        EXPECT_EQ(static_cast<size_t>(LIMIT), members.size());
        EXPECT_EQ(0u, members.count("r" + std::to_string(LIMIT))) << "the last install came past the limit";
    }
    EXPECT_EQ(1, errorLines(capture, "[r" + std::to_string(LIMIT) + "] is refused"));
}

// The list ends at its first empty line as it always did, but what that cuts off is reported;
// a line break after the last record cuts off nothing.
TEST(SharedSpace, WhatAnEmptyLineCutsOffTheInitialListIsReported)
{
    struct Case {
        const char* terminal;
        std::string list;
        size_t members;
        int reports;
    };
    const std::vector<Case> cases = {
        {"T8", record("T1", "ID-1", "first") + "\n\n" + record("T1", "ID-2", "cut"), 1, 1},
        {"T9", record("T1", "ID-3", "last") + "\n", 1, 0},
        {"T6", record("T1", "ID-4", "last-2") + "\n\n", 1, 0},
    };
    TempDir dir;
    TraceCapture capture;
    {
        SpaceSession session(std::vector<std::string>{});
        for (const Case& c : cases) {
            TestSpace& lonely = session.addLonely(c.terminal);
            forge(session, "HOST", c.terminal, "INS_initReplicaElemnets", c.list, "LONELY");
            forge(session, "HOST", c.terminal, "INS_initReplicaElemnets", record("T1", "ID-M", "marker"), "LONELY");
            ASSERT_TRUE(waitUntil([&] { return lonely.members().count("marker") == 1; }));
            EXPECT_EQ(c.members + 1, lonely.members().size()) << c.terminal;
        }
    }
    EXPECT_EQ(1, errorLines(capture, "bytes behind it are not read"));
    EXPECT_EQ(1, errorLines(capture, "line 1 is empty, the list ends there: "
                                         + std::to_string(record("T1", "ID-2", "cut").size())));
}
