// Corrupted arguments of every method of the stage that a peer reaches, as a session delivers
// them (bytes that end at a guard page), to a master and to a slave that is still
// synchronising (so that it takes the initialising calls too): both live, hold at most the
// limit of replicas, and still install a content afterwards. Deterministic: the seed is printed.
#include "StageFixtures.h"

#include "CSharedSpace.h"
#include "GuardedBlock.h"
#include "PayloadCorrupter.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <cstdio>

namespace {

const unsigned SEED = 20261213;
const int CASES = 100000;
const int CHECK_EVERY = 5000;
const DWORD TIME_LIMIT_MS = 500000;

typedef std::vector<unsigned char> Bytes;

Bytes textBytes(const std::string& text)
{
    return Bytes(text.begin(), text.end());
}

struct Method {
    const char* name;
    std::vector<std::string> bases;
};

// The stage's members and the stage itself: everything plugged into its terminal.
size_t pluggedOf(StageTerminal& terminal)
{
    return terminal.terminal.pluggedIds().size();
}

} // namespace

TEST(StageRobustness, CorruptedArgumentsLeaveMasterAndSlaveSound)
{
    printf("seed %u\n", SEED);
    TraceCapture capture;
    // The master alone on its session; the slave on another, whose host holds no stage.
    StageSession session;
    StageTerminal& master = session.host();
    ASSERT_TRUE(session.settle());
    SessionHub slaveHub("HOST");
    HubTerminal& slaveTerminal = slaveHub.join("SELF");
    StageTerminal slave(slaveTerminal, false, StageSetup());
    slaveTerminal.plugIn("", slave.stage.get());

    const std::string sep = CStage::ELEM_DESC_SEP;
    const std::string content = CStage::makeElementDesc("10 20", "size", "motion", "3", "7 *C:\\a.txt *Nick",
                                                        "C:\\tmp\\a.txt", 120, 90);
    const std::string cursor = CStage::makeElementDesc("0 0", "size", "motion", "2", "PEER", "*.*", 120, 90);
    const std::string rec = CSharedSpace::RE_INFO_SEP;
    const std::vector<Method> methods = {
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
    std::vector<PayloadCorrupter> corrupters;
    for (size_t m = 0; m < methods.size(); ++m) {
        std::vector<Bytes> bases;
        for (const std::string& base : methods[m].bases)
            bases.push_back(textBytes(base));
        corrupters.emplace_back(SEED + static_cast<unsigned>(m), bases);
    }

    auto sound = [&](int at) {
        // The stage, its own cursor and the replicas.
        EXPECT_LE(pluggedOf(master), CSharedSpace::REPLICA_LIMIT + 2) << "after case " << at;
        EXPECT_LE(pluggedOf(slave), CSharedSpace::REPLICA_LIMIT + 1) << "after case " << at;
        EXPECT_EQ(0, capture.count("FATAL")) << capture.text().substr(0, 4000);
        return !::testing::Test::HasFailure();
    };

    ULONGLONG start = GetTickCount64();
    for (int i = 0; i < CASES; ++i) {
        for (size_t m = 0; m < methods.size(); ++m) {
            Bytes bytes = corrupters[m].next();
            GuardedBlock block(bytes);
            master.deliverBytes(methods[m].name, block.data(), block.size(), "PEER");
            slave.deliverBytes(methods[m].name, block.data(), block.size(), "HOST");
            // The readers work on the bytes in place.
            std::string_view text(reinterpret_cast<const char*>(block.data()), block.size());
            int width = 0, height = 0;
            CStage::parseSize(text, &width, &height);
            CStage::parseNumber(text);
            CStage::parseLayerList(text);
        }
        if ((i + 1) % CHECK_EVERY == 0) {
            ASSERT_TRUE(sound(i));
            capture.clear();
            session.hub.clearTraffic();
            slaveHub.clearTraffic();
            master.view.calls.clear();
            slave.view.calls.clear();
        }
        ASSERT_LT(GetTickCount64() - start, TIME_LIMIT_MS) << "case " << i;
    }
    ASSERT_TRUE(sound(CASES));
    printf("%d cases for each of %zu methods in %llu ms\n", CASES, methods.size(), GetTickCount64() - start);

    size_t largest = pluggedOf(master);
    printf("%zu elements plugged in on the master\n", largest);
    EXPECT_GT(largest, CSharedSpace::REPLICA_LIMIT / 2);

    // The master still installs: a joined terminal gets the new content.
    master.deliver("REQ_uninstallAll", "PEER", "PEER");
    StageTerminal& joined = session.join("A");
    const std::string fresh = CStage::makeElementDesc("5 5", "size", "motion", "0", "0 *x *Nick", "C:\\x.txt", 120, 90);
    master.post("LOC_install", fresh);
    EXPECT_TRUE(waitUntil([&] { return hasLineWith(joined.calls(), "getElementDisplay " + fresh); }))
        << testing::PrintToString(joined.calls());
    slaveTerminal.close();
}
