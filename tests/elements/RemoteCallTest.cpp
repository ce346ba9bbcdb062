// Two terminals call each other through their gates, the real codec and in-memory streams.
#include "GatePair.h"
#include "LiveObjects.h"

#include "CInteger.h"
#include "CJString.h"
#include "CMethodCallMessage.h"

#include <gtest/gtest.h>

#include <memory>
#include <thread>

namespace {

using Entries = std::vector<std::string>;

class RemoteCallTest : public LeakCheckedTest {
protected:
    GatePair& pair(DWORD queryTimeoutMs = 10000)
    {
        pair_.reset(new GatePair(queryTimeoutMs));
        return *pair_;
    }

    // Ends both gates' threads (the test's elements must be gone): the trace can be read from
    // then on.
    void takeDown() override { pair_.reset(); }

    std::unique_ptr<GatePair> pair_;
};

// The gate routes by element id alone: terminal macros do not matter on receipt.
TEST_F(RemoteCallTest, NoticesReachTheListenerOfTheirElementIdInOrder)
{
    GatePair& p = pair();
    TestElement e1(p.b, "E1");
    TestElement e2(p.b, "E2");
    Entries expected1;
    Entries expected2;
    for (int i = 0; i < 40; ++i) {
        const char* terminal = i % 4 == 0 ? CMethodCallMessage::ALL_TERMINAL : "TB";
        p.a.proxy().sendNotice(terminal, i % 2 == 0 ? "E1" : "E2", "n", new CInteger(i));
        (i % 2 == 0 ? expected1 : expected2).push_back("n " + std::to_string(i));
    }
    p.a.proxy().sendNotice("TB", "E1", "raw", 3, "abc");
    expected1.push_back("raw abc");
    p.a.proxy().sendNotice(CMethodCallMessage::HAS_MASTER, "E2", "bare");
    expected2.push_back("bare -");
    ASSERT_TRUE(e1.received.waitFor(expected1.size(), 10000));
    ASSERT_TRUE(e2.received.waitFor(expected2.size(), 10000));
    EXPECT_EQ(expected1, e1.received.entries());
    EXPECT_EQ(expected2, e2.received.entries());
}

TEST_F(RemoteCallTest, QueryReturnsTheRemoteMethodsValue)
{
    GatePair& p = pair();
    TestElement element(p.b, "E");
    CProxyElement& proxy = p.a.proxy();
    EXPECT_EQ("value -", outcomeOf([&] { return proxy.sendQuery("TB", "E", "echo"); }));
    EXPECT_EQ("value hello", outcomeOf([&] { return proxy.sendQuery("TB", "E", "echo", new CJString("hello")); }));
    EXPECT_EQ("value bytes", outcomeOf([&] { return proxy.sendQuery("TB", "E", "echo", 5, "bytes"); }));
    EXPECT_EQ("value NULL", outcomeOf([&] { return proxy.sendQuery("TB", "E", "none"); }));
    EXPECT_EQ("value 7", outcomeOf([&] {
                  return proxy.sendQuery(CMethodCallMessage::HAS_MASTER, "E", "echo", new CInteger(7));
              }));
}

// Whatever its class on the answering side, the exception arrives as a plain CJException.
TEST_F(RemoteCallTest, RemoteExceptionArrivesAsCJExceptionWithTheSameText)
{
    GatePair& p = pair();
    TestElement element(p.b, "E");
    EXPECT_EQ("remote CJException refused now",
              outcomeOf([&] { return p.a.proxy().sendQuery("TB", "E", "fail", new CJString("now")); }));
}

TEST_F(RemoteCallTest, ErrorReplyGivesCMsgUnreachedException)
{
    GatePair& p = pair();
    TestElement element(p.b, "E");
    EXPECT_EQ("CMsgUnreachedException", outcomeOf([&] { return p.a.proxy().sendQuery("TB", "E", "unreach"); }));
}

TEST_F(RemoteCallTest, SilenceGivesCTimeOutExceptionAndTheLateReplyIsReleased)
{
    GatePair& p = pair(200);
    {
        TestElement element(p.b, "E");
        ULONGLONG started = GetTickCount64();
        EXPECT_EQ("CTimeOutException", outcomeOf([&] { return p.a.proxy().sendQuery("TB", "E", "silent"); }));
        ULONGLONG waited = GetTickCount64() - started;
        EXPECT_GE(waited, 150u);
        EXPECT_LT(waited, 5000u);
        // Only the held query is left over: answering it must free that and nothing more.
        int before = liveObjects();
        element.answerHeld("late");
        // The count passes before - 1 on the way (reply made, query freed) before the reply
        // has crossed: wait for the proxy's word that it dropped it.
        EXPECT_TRUE(waitUntil([&] { return trace_.count("no query waits for this reply") == 1; }));
        EXPECT_EQ(before - 1, awaitLiveObjects(before - 1));
    }
    takeDown();
    EXPECT_EQ(1, trace_.count("no query waits for this reply; a reply arriving after its waiting time is discarded"));
}

TEST_F(RemoteCallTest, QueryToAnElementNobodyEnteredGetsNoReplyAndTimesOut)
{
    GatePair& p = pair(200);
    int idle = liveObjects();
    EXPECT_EQ("CTimeOutException", outcomeOf([&] { return p.a.proxy().sendQuery("TB", "NOBODY", "echo"); }));
    EXPECT_EQ(idle, awaitLiveObjects(idle));
    EXPECT_EQ(0, p.toA.blocksWritten());
    takeDown();
    EXPECT_EQ(1, trace_.count("a QUERY that cannot be delivered is deleted here"));
}

TEST_F(RemoteCallTest, SecondReplyToOneQueryIsReleased)
{
    GatePair& p = pair();
    {
        TestElement element(p.b, "E");
        int idle = liveObjects();
        EXPECT_EQ("value first", outcomeOf([&] { return p.a.proxy().sendQuery("TB", "E", "twice"); }));
        EXPECT_TRUE(waitUntil([&] { return trace_.count("no query waits for this reply") == 1; }));
        EXPECT_EQ(idle, awaitLiveObjects(idle));
    }
    takeDown();
    EXPECT_EQ(1, trace_.count("no query waits for this reply"));
}

// Each query waits under a serial number of its own, so answers never cross.
TEST_F(RemoteCallTest, ConcurrentQueriesEachGetTheirOwnAnswer)
{
    GatePair& p = pair();
    TestElement element(p.b, "E");
    std::vector<std::thread> callers;
    std::atomic<int> wrong{0};
    for (int t = 0; t < 6; ++t) {
        callers.emplace_back([&, t] {
            for (int i = 0; i < 20; ++i) {
                std::string text = "w" + std::to_string(t) + "-" + std::to_string(i);
                if (outcomeOf([&] { return p.a.proxy().sendQuery("TB", "E", "echo", new CJString(text)); })
                    != "value " + text)
                    ++wrong;
            }
        });
    }
    for (std::thread& caller : callers)
        caller.join();
    EXPECT_EQ(0, wrong);
}

// Both terminals query each other at once: each gate carries queries one way and replies the
// other.
TEST_F(RemoteCallTest, BothTerminalsQueryEachOther)
{
    GatePair& p = pair();
    TestElement onA(p.a, "E");
    TestElement onB(p.b, "E");
    std::string fromA;
    std::thread queryingB([&] {
        fromA = outcomeOf([&] { return p.b.proxy().sendQuery("TA", "E", "echo", new CJString("b")); });
    });
    EXPECT_EQ("value a", outcomeOf([&] { return p.a.proxy().sendQuery("TB", "E", "echo", new CJString("a")); }));
    queryingB.join();
    EXPECT_EQ("value b", fromA);
}

} // namespace
