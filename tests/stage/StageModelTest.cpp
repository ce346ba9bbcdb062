// The stage on an in-process session of a host and joined terminals: reference numbers, the
// synchronisation a joiner receives, and the custom background that slaves take.
#include "StageFixtures.h"

#include "CLeadImage.h"
#include "PictureFiles.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

typedef std::vector<std::string> Lines;

// The methods up to and including the first "endSync".
Lines untilEndSync(const Lines& methods)
{
    auto end = std::find(methods.begin(), methods.end(), "endSync");
    return Lines(methods.begin(), end == methods.end() ? end : end + 1);
}

bool waitForTrace(const TraceCapture& trace, const std::string& piece, int count = 1)
{
    return waitUntil([&] { return trace.count(piece) >= count; });
}

TEST(StageModel, ReferenceNumbersFollowTheSynchronisationsAndComeBackOnlyToThoseThatStayed)
{
    TraceCapture trace;
    StageSession session;
    StageTerminal& a = session.join("A");
    StageTerminal& b = session.join("B");
    EXPECT_EQ(0, session.host().stage->getReferNum());
    EXPECT_EQ(1, a.stage->getReferNum());
    EXPECT_EQ(2, b.stage->getReferNum());
    EXPECT_TRUE(hasLineWith(session.host().calls(), "setStatus 0"));
    EXPECT_TRUE(hasLineWith(a.calls(), "setStatus 1"));
    EXPECT_TRUE(hasLineWith(b.calls(), "setStatus 2"));

    // A asks to be synchronised a second time: it keeps its number, and its synchronised copy
    // takes none of the initialising calls.
    session.hub.terminal("A").proxy().sendNotice("HOST", CStage::ELEMENT_ID, "requestSync");
    ASSERT_TRUE(waitForTrace(trace, "onEndSyncSharedSpace(): the copy is synchronised already: ignored"));
    EXPECT_EQ(1, a.stage->getReferNum());
    EXPECT_EQ(1, trace.count("INS_initReferNum(): the copy is synchronised already: ignored"));
    Lines aCalls = a.calls();
    EXPECT_EQ(1, std::count(aCalls.begin(), aCalls.end(), "onInitialized"));

    // B leaves and comes back: a new number, never one handed out before.
    session.leave("B");
    // Its own leave and the director's word each reach the slaves.
    ASSERT_TRUE(waitUntil([&] {
        Lines traffic = session.hub.traffic();
        return std::count_if(traffic.begin(), traffic.end(), [](const std::string& line) {
                   return line.rfind("HOST>", 0) == 0 && line.find(" INS_uninstallAll") != std::string::npos;
               }) >= 2;
    })) << testing::PrintToString(session.hub.traffic());
    StageTerminal& again = session.join("B");
    EXPECT_EQ(3, again.stage->getReferNum());
    EXPECT_TRUE(hasLineWith(again.calls(), "setStatus 3"));
    StageTerminal& c = session.join("C");
    EXPECT_EQ(4, c.stage->getReferNum());
    EXPECT_EQ(1, a.stage->getReferNum());
    EXPECT_EQ(0, trace.count("FATAL")) << trace.text();
}

// A master hands out at most its limit of numbers; past it, a synchronisation goes on without
// one.
TEST(StageModel, PastTheLimitNoReferenceNumberIsSent)
{
    TraceCapture trace;
    StageSession session;
    StageTerminal& host = session.host();
    ASSERT_TRUE(session.settle());
    // Forged synchronisations of terminals that are not in the session: the hub drops the
    // answers.
    // The terminal's send queue has a limit of its own: every so many, the test waits until
    // the answers have left.
    const int answers = 5;
    int routed = session.hub.blocksRouted();
    for (int n = 1; n < CStage::REFERENCE_LIMIT; ++n) {
        host.deliverCall("requestSync", "F" + std::to_string(n));
        routed += answers;
        if (n % 256 == 0) {
            ASSERT_TRUE(waitUntil([&] { return session.hub.blocksRouted() >= routed; })) << n;
            session.hub.clearTraffic();
            trace.clear();
        }
    }
    session.hub.clearTraffic();
    trace.clear();
    StageTerminal& late = session.join("LATE");
    EXPECT_EQ(0, late.stage->getReferNum());
    Lines sync = untilEndSync(session.stageTrafficTo("LATE"));
    EXPECT_EQ((Lines{"INS_initReplicaElemnets", "INS_initBackGround", "INS_initLowerLayer", "endSync"}), sync);
    EXPECT_EQ(1, trace.count("reference numbers are handed out, the most there may be: [LATE] gets none"))
        << trace.text();
    // A terminal that has its number still gets it.
    host.deliverCall("requestSync", "F7");
    EXPECT_EQ(1, trace.count("gets none"));
}

struct SyncCase {
    int background;
    Lines methods;
};

class StageSync : public testing::TestWithParam<SyncCase> {};

TEST_P(StageSync, AJoinerReceivesExactlyTheStagesState)
{
    const SyncCase& c = GetParam();
    TempDir dir;
    StageSetup setup;
    setup.background = c.background;
    setup.customFile = PictureFiles::writeIn(dir.path(), "custom.bmp",
                                             PictureFiles::bmp24(640, 480, solid(Rgb{10, 200, 30})));
    StageSession session(setup);
    StageTerminal& host = session.host();
    ASSERT_TRUE(waitUntil([&] { return hasLineWith(host.calls(), "onInitialized"); }));
    session.hub.clearTraffic();
    StageTerminal& b = session.join("B");
    EXPECT_EQ(c.methods, untilEndSync(session.stageTrafficTo("B")));

    // The host fitted the picture into its stage of 800 x 400 at plug-in; B shows the same.
    Lines hostShown, bShown;
    for (const std::string& line : host.calls())
        if (line.rfind("changeCustomBgData ", 0) == 0)
            hostShown.push_back(line);
    for (const std::string& line : b.calls())
        if (line.rfind("changeCustomBgData ", 0) == 0)
            bShown.push_back(line);
    ASSERT_EQ(1u, hostShown.size());
    EXPECT_NE(std::string::npos, hostShown[0].find(" 533x400")) << hostShown[0];
    EXPECT_NE(std::string::npos, hostShown[0].find("len=" + std::to_string((533 * 3 + 3) / 4 * 4 * 400)));
    if (c.background == 4)
        EXPECT_EQ(hostShown, bShown);
    else
        EXPECT_TRUE(bShown.empty());
    EXPECT_TRUE(hasLineWith(b.calls(), "changeBackGround " + std::to_string(c.background)));
}

INSTANTIATE_TEST_SUITE_P(
    Table, StageSync,
    testing::Values(
        SyncCase{0, {"INS_initReplicaElemnets", "INS_initReferNum", "INS_initBackGround", "INS_initLowerLayer",
                     "endSync"}},
        SyncCase{4, {"INS_initReplicaElemnets", "INS_initReferNum", "INS_setCustomBgDataId", "INS_setCustomBgSize",
                     "INS_initCustomBgData", "INS_initBackGround", "INS_initLowerLayer", "endSync"}}),
    [](const testing::TestParamInfo<SyncCase>& info) { return "background" + std::to_string(info.param.background); });

// The custom data that a slave takes from its master: only a new version, and only bytes that
// fill the announced size.
TEST(StageModel, ASlaveTakesCustomDataOnlyOfANewVersionThatFillsItsSize)
{
    TraceCapture trace;
    StageSession session;
    StageTerminal& b = session.join("B");
    ASSERT_TRUE(session.settle());
    struct Case {
        const char* id;
        const char* size;
        int length;
        bool shown;
    };
    const Case cases[] = {
        {"7", "2 2", 16, true},        // rows of 6 bytes padded to 8
        {"7", "2 2", 16, false},       // the same version again
        {"8", "2 2", 15, false},       // a byte short
        {"9", "2 2", 16, true},
        {"10", "0 5", 0, true},        // no picture
        {"11", "0 5", 20, false},      // no width
        {"12", "2049 1", 6148, false}, // wider than the loader takes
        {"13", "2048 1", 6144, true},
        {"14", "1 2048", 8192, true},
        {"15", "1 2049", 8196, false},
        {"16", "-1 -4", 16, false},
        {"17", "3 1", 12, true},
    };
    int shown = 0;
    for (const Case& c : cases) {
        std::vector<unsigned char> bytes(c.length, static_cast<unsigned char>(shown + 1));
        bytes.push_back(0); // never empty, so that data() points somewhere
        size_t before = b.calls().size();
        b.deliver("INS_setCustomBgDataId", c.id, "HOST");
        b.deliver("INS_setCustomBgSize", c.size, "HOST");
        b.deliverBytes("INS_changeCustomBgData", bytes.data(), c.length, "HOST");
        Lines calls = b.calls(before);
        if (c.shown) {
            ++shown;
            ASSERT_EQ(1u, calls.size()) << c.id;
            int width = 0, height = 0;
            CStage::parseSize(c.size, &width, &height);
            EXPECT_EQ("changeCustomBgData " + describeBlock(c.length ? bytes.data() : nullptr, c.length) + " "
                          + std::to_string(width) + "x" + std::to_string(height),
                      calls[0]);
        } else {
            EXPECT_TRUE(calls.empty()) << c.id << " " << testing::PrintToString(calls);
        }
    }
    EXPECT_EQ(5, trace.count("do not make a picture of")) << trace.text();
}

} // namespace
