// Corrupted arguments of every method of the stage that a peer reaches, as a session delivers
// them (bytes that end at a guard page): to a master, and to a slave that is still
// synchronising (so that it takes the initialising calls too). Each lives, holds at most the
// limit of replicas and still works afterwards. Deterministic: the seed is printed.
#include "StageFixtures.h"

#include "CSharedSpace.h"
#include "CTrace.h"
#include "GuardedBlock.h"
#include "PayloadCorrupter.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <functional>

namespace {

const unsigned SEED = 20261213;
const int CASES = 100000;
const int CHECK_EVERY = 5000;
const DWORD TIME_LIMIT_MS = 250000;
// One case in so many also brings a sound new replica, so that the limit is reached.
const int SOUND_REPLICA_EVERY = 100;

typedef std::vector<unsigned char> Bytes;

struct Method {
    const char* name;
    std::vector<std::string> bases;
};

std::vector<Method> methods()
{
    const std::string content = CStage::makeElementDesc("10 20", "size", "motion", "3", "7 *C:\\a.txt *Nick",
                                                        "C:\\tmp\\a.txt", 120, 90);
    const std::string cursor = CStage::makeElementDesc("0 0", "size", "motion", "2", "PEER", "*.*", 120, 90);
    const std::string rec = CSharedSpace::RE_INFO_SEP;
    return {
        {"INS_setCustomBgDataId", {"7", "-2147483648", "99999999999"}},
        {"INS_setCustomBgSize", {"800 400", "2048 2048", "-1 5", "2 2"}},
        {"INS_initReferNum", {"1", "65535"}},
        {"INS_initCustomBgData", {std::string(16, 'a'), std::string(2400, 'b')}},
        {"INS_initBackGround", {"4", "0"}},
        {"INS_initLowerLayer", {content + CStage::ALIGN_DESC_SEP + cursor, content}},
        {"REQ_changeTop", {content, cursor}},
        {"REQ_changeBottom", {content}},
        {"REQ_placeTopMost", {cursor}},
        {"INS_changeCustomBgData", {std::string(16, 'c'), std::string(24, 'd')}},
        {"INS_changeBackGround", {"3", "4"}},
        {"INS_moveToTop", {content}},
        {"INS_moveToBottom", {cursor}},
        {"INS_moveToUpperLayer", {content}},
        {"REQ_install", {"PEER" + rec + "E1" + rec + content, "PEER" + rec + "E2" + rec + cursor}},
        {"INS_initReplicaElemnets",
         {"PEER" + rec + "E1" + rec + content + "\nHOST" + rec + "E2" + rec + cursor, "HOST" + rec + "E3" + rec + cursor}},
    };
}

// Every method's corrupted arguments, CASES each, to the stage from the caller; the readers
// also read each argument in place. sound() is checked every CHECK_EVERY cases.
// A sound record of a new replica from PEER.
std::string soundRecord(int n)
{
    const std::string rec = CSharedSpace::RE_INFO_SEP;
    return "PEER" + rec + "V" + std::to_string(n) + rec
           + CStage::makeElementDesc("1 1", "size", "motion", "5", "3 *C:\\v.txt *Nick", "C:\\v.txt", 120, 90);
}

void flood(StageTerminal& target, const std::string& caller, SessionHub& hub, const std::string& replicaMethod,
           const std::function<void(int)>& sound)
{
    printf("seed %u\n", SEED);
    const std::vector<Method> table = methods();
    std::vector<PayloadCorrupter> corrupters;
    for (size_t m = 0; m < table.size(); ++m) {
        std::vector<Bytes> bases;
        for (const std::string& base : table[m].bases)
            bases.emplace_back(base.begin(), base.end());
        corrupters.emplace_back(SEED + static_cast<unsigned>(m), bases);
    }
    // Only the error lines, into the capture: a line for every call would take the time.
    CTrace::setDumpOff();
    ULONGLONG start = GetTickCount64();
    for (int i = 0; i < CASES; ++i) {
        for (size_t m = 0; m < table.size(); ++m) {
            GuardedBlock block(corrupters[m].next());
            target.deliverBytes(table[m].name, block.data(), block.size(), caller);
            std::string_view text(reinterpret_cast<const char*>(block.data()), block.size());
            int width = 0, height = 0;
            CStage::parseSize(text, &width, &height);
            CStage::parseNumber(text);
            CStage::parseLayerList(text);
        }
        if (i % SOUND_REPLICA_EVERY == 0)
            target.deliver(replicaMethod, soundRecord(i), caller);
        if ((i + 1) % CHECK_EVERY == 0) {
            printf("%d cases, %llu ms\n", i + 1, GetTickCount64() - start);
            fflush(stdout);
            sound(i);
            if (::testing::Test::HasFailure())
                break;
            hub.clearTraffic();
            // The recorder keeps every key it was told to place; the stage keeps none.
            target.view.calls.clear();
            target.view.clearLayer();
        }
        if (GetTickCount64() - start > TIME_LIMIT_MS) {
            ADD_FAILURE() << "case " << i << " after " << TIME_LIMIT_MS << " ms";
            break;
        }
    }
    CTrace::setDumpOn();
    printf("%d cases for each of %zu methods in %llu ms\n", CASES, table.size(), GetTickCount64() - start);
}

// The stage, its members: everything plugged into its terminal.
size_t pluggedOf(StageTerminal& terminal)
{
    return terminal.terminal.pluggedIds().size();
}

} // namespace

TEST(StageRobustness, CorruptedArgumentsLeaveTheMasterSound)
{
    TraceCapture capture;
    StageSession session;
    StageTerminal& master = session.host();
    ASSERT_TRUE(session.settle());
    size_t largest = 0;
    flood(master, "PEER", session.hub, "REQ_install", [&](int at) {
        largest = std::max(largest, pluggedOf(master));
        // The stage, its own cursor and the replicas.
        EXPECT_LE(pluggedOf(master), CSharedSpace::REPLICA_LIMIT + 2) << "after case " << at;
        EXPECT_EQ(0, capture.count("FATAL")) << capture.text().substr(0, 4000);
        capture.clear();
    });
    printf("at most %zu elements plugged in\n", largest);
    EXPECT_EQ(CSharedSpace::REPLICA_LIMIT + 2, largest);

    // The master still installs: a terminal that joins now gets the new content.
    master.deliver("REQ_uninstallAll", "PEER", "PEER");
    StageTerminal& joined = session.join("A");
    const std::string fresh = CStage::makeElementDesc("5 5", "size", "motion", "0", "0 *x *Nick", "C:\\x.txt", 120, 90);
    master.post("LOC_install", fresh);
    EXPECT_TRUE(waitUntil([&] { return hasLineWith(joined.calls(), "getElementDisplay " + fresh); }))
        << testing::PrintToString(joined.calls());
}

TEST(StageRobustness, CorruptedArgumentsLeaveASynchronisingSlaveSound)
{
    TraceCapture capture;
    CLeadImage loader;
    // The slave's session has no stage on its host, so the slave never synchronises.
    SessionHub hub("HOST");
    HubTerminal& terminal = hub.join("SELF");
    StageTerminal slave(terminal, false, StageSetup());
    terminal.plugIn("", slave.stage.get());
    ASSERT_TRUE(waitUntil([&] { return hasLineWith(slave.calls(), "setStage"); }));
    size_t largest = 0;
    flood(slave, "HOST", hub, "INS_initReplicaElemnets", [&](int at) {
        largest = std::max(largest, pluggedOf(slave));
        EXPECT_LE(pluggedOf(slave), CSharedSpace::REPLICA_LIMIT + 1) << "after case " << at;
        EXPECT_EQ(0, capture.count("FATAL")) << capture.text().substr(0, 4000);
        capture.clear();
    });
    printf("at most %zu elements plugged in\n", largest);
    EXPECT_EQ(CSharedSpace::REPLICA_LIMIT + 1, largest);
    // It still takes its master's calls.
    size_t before = slave.calls().size();
    slave.deliver("INS_initLowerLayer", "z", "HOST");
    EXPECT_EQ(std::vector<std::string>{"putOnTop z"}, slave.calls(before));
    terminal.close();
}
