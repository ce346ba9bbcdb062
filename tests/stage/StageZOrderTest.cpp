// The order of the lower display layer: every change goes through the master and comes back to
// every slave in the master's order; a joiner rebuilds the layer from its list.
#include "StageFixtures.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <random>

namespace {

typedef std::vector<std::string> Lines;

// The moves a view was told, in order.
Lines movesOf(const Lines& calls)
{
    Lines moves;
    for (const std::string& line : calls)
        if (line.rfind("moveToTop ", 0) == 0 || line.rfind("moveToBottom ", 0) == 0)
            moves.push_back(line);
    return moves;
}

// A slave stage on a session whose host has no stage: it never synchronises, so it takes the
// initialising calls and refuses the instructions of a synchronised copy.
class StageLonelySlave : public testing::Test {
protected:
    StageLonelySlave() : terminal_(hub_.join("S")), slave_(terminal_, false, StageSetup())
    {
        terminal_.plugIn("", slave_.stage.get());
        EXPECT_TRUE(waitUntil([&] { return hasLineWith(slave_.calls(), "setStage"); }));
    }
    ~StageLonelySlave() override { terminal_.close(); }

    SessionHub hub_;
    HubTerminal& terminal_;
    StageTerminal slave_;
};

TEST_F(StageLonelySlave, LayerListsPutTheirKeysOnTopInOrderPassingOverGrabbedOnes)
{
    const std::string sep = CStage::ALIGN_DESC_SEP;
    struct Case {
        std::string list;
        Lines puts;
    };
    const Case cases[] = {
        {"", {}},
        {"a", {"putOnTop a"}},
        {"a" + sep + "b", {"putOnTop a", "putOnTop b"}},
        {"a" + sep + "held" + sep + "b", {"putOnTop a", "putOnTop b"}},
        {"a" + sep + sep + "b", {"putOnTop a"}},
        {sep + "a", {}},
        {"a" + sep, {"putOnTop a"}},
    };
    slave_.view.setGrabbed("held", true);
    for (const Case& c : cases) {
        size_t before = slave_.calls().size();
        slave_.deliver("INS_initLowerLayer", c.list, "HOST");
        EXPECT_EQ(c.puts, slave_.calls(before)) << c.list;
    }
}

TEST_F(StageLonelySlave, ALayerListEndsAtItsLimitOfKeys)
{
    TraceCapture trace;
    std::string list;
    for (size_t n = 0; n < CStage::LAYER_KEY_LIMIT + 10; ++n)
        list += (n ? CStage::ALIGN_DESC_SEP : "") + "k" + std::to_string(n);
    size_t before = slave_.calls().size();
    slave_.deliver("INS_initLowerLayer", list, "HOST");
    Lines calls = slave_.calls(before);
    ASSERT_EQ(CStage::LAYER_KEY_LIMIT, calls.size());
    EXPECT_EQ("putOnTop k" + std::to_string(CStage::LAYER_KEY_LIMIT - 1), calls.back());
    EXPECT_EQ(1, trace.count("parseLayerList(): more than 1024 keys")) << trace.text();
}

TEST_F(StageLonelySlave, MovesBeforeTheEndOfSynchronisationAreIgnored)
{
    TraceCapture trace;
    size_t before = slave_.calls().size();
    for (const char* method : {"INS_moveToTop", "INS_moveToBottom", "INS_moveToUpperLayer"})
        slave_.deliver(method, "a", "HOST");
    EXPECT_TRUE(slave_.calls(before).empty()) << testing::PrintToString(slave_.calls(before));
    EXPECT_EQ(3, trace.count("not synchronised yet: ignored"));
    EXPECT_EQ(0, trace.count("ERROR"));
}

// A slave asks; its own view moves only when the master's instruction comes back.
TEST(StageZOrder, ASlavesMoveWaitsForTheMaster)
{
    StageSession session;
    StageTerminal& a = session.join("A");
    HANDLE release = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    std::atomic<bool> held{false};
    session.host().view.setMoveHook([&](const std::string&) {
        held = true;
        WaitForSingleObject(release, 10000);
    });
    a.post("LOC_changeTop", "k");
    ASSERT_TRUE(waitUntil([&] { return held.load(); }));
    Sleep(300);
    EXPECT_TRUE(movesOf(a.calls()).empty());
    SetEvent(release);
    EXPECT_TRUE(waitUntil([&] { return movesOf(a.calls()) == Lines{"moveToTop k"}; }))
        << testing::PrintToString(a.calls());
    EXPECT_EQ(Lines{"moveToTop k"}, movesOf(session.host().calls()));
    session.host().view.setMoveHook(nullptr);
    CloseHandle(release);
}

TEST(StageZOrder, RandomRequestsOfThreeTerminalsReachEveryViewInTheMastersOrder)
{
    const unsigned seed = 20261211;
    printf("seed %u\n", seed);
    std::mt19937 random(seed);
    StageSession session;
    StageTerminal& a = session.join("A");
    StageTerminal& b = session.join("B");
    StageTerminal* terminals[] = {&session.host(), &a, &b};
    const int requests = 60;
    for (int n = 0; n < requests; ++n) {
        StageTerminal* from = terminals[random() % 3];
        std::string key = "k" + std::to_string(random() % 5);
        from->post(random() % 2 ? "LOC_changeTop" : "LOC_changeBottom", key);
        if (random() % 4 == 0)
            Sleep(random() % 5);
    }
    for (StageTerminal* terminal : terminals)
        ASSERT_TRUE(waitUntil([&] { return movesOf(terminal->calls()).size() == requests; }))
            << terminal->id() << " " << movesOf(terminal->calls()).size();
    Lines order = movesOf(session.host().calls());
    EXPECT_EQ(order, movesOf(a.calls()));
    EXPECT_EQ(order, movesOf(b.calls()));
    EXPECT_EQ(session.host().view.lowerLayer(), a.view.lowerLayer());
    EXPECT_EQ(session.host().view.lowerLayer(), b.view.lowerLayer());
}

// A display the local user holds stays where it is; the others still move theirs.
TEST(StageZOrder, AGrabbedDisplayIsNotMoved)
{
    StageSession session;
    StageTerminal& a = session.join("A");
    a.view.setGrabbed("k", true);
    session.host().post("LOC_changeTop", "k");
    session.host().post("LOC_changeBottom", "j");
    ASSERT_TRUE(waitUntil([&] { return movesOf(a.calls()) == Lines{"moveToBottom j"}; }))
        << testing::PrintToString(a.calls());
    EXPECT_EQ((Lines{"moveToTop k", "moveToBottom j"}), movesOf(session.host().calls()));
    session.host().post("LOC_placeTopMost", "k");
    session.host().post("LOC_placeTopMost", "j");
    ASSERT_TRUE(waitUntil([&] { return hasLineWith(a.calls(), "moveToUpperLayer j"); }));
    EXPECT_FALSE(hasLineWith(a.calls(), "moveToUpperLayer k"));
}

} // namespace
