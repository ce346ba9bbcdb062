// Two elements of one process call each other as two terminals would: each is plugged into its
// own session over a message gate, and the gates are joined by in-memory block streams.
#include "ElementFixtures.h"
#include "GatePair.h"

#include "CInteger.h"
#include "CJException.h"
#include "CJString.h"

#include <gtest/gtest.h>

#include <memory>

namespace {

const char STAGE[] = "STAGE-GUID";

class ElementEndToEndTest : public testing::Test {
protected:
    explicit ElementEndToEndTest(DWORD queryTimeoutMs = 10000)
        : pair(queryTimeoutMs), sessionA("TA", &pair.a.gate(), &pair.a.proxy()),
          sessionB("TB", &pair.b.gate(), &pair.b.proxy())
    {
    }
    void SetUp() override
    {
        a.start("A");
        b.start("B");
        sessionA.plugIn("", &a);
        sessionB.plugIn("", &b);
        ASSERT_TRUE(logA.waitFor(1));
        ASSERT_TRUE(logB.waitFor(1));
    }
    void TearDown() override
    {
        sessionA.close();
        sessionB.close();
        a.end();
        b.end();
    }

    GatePair pair;
    TestSessionHandle sessionA;
    TestSessionHandle sessionB;
    RunLog logA;
    RunLog logB;
    ProbeElement a{logA, STAGE};
    ProbeElement b{logB, STAGE};
};

TEST_F(ElementEndToEndTest, NoticesAndQueriesReachTheOtherTerminalsElement)
{
    a.sendNoticeStr("TB", STAGE, "NTC_strArg", "hello");
    ASSERT_TRUE(logB.waitForArgument("hello"));
    MethodRun run = logB.runs().back();
    EXPECT_EQ("NTC_strArg", run.method);
    EXPECT_EQ("TA", run.caller);
    EXPECT_NE(GetCurrentThreadId(), run.thread);

    EXPECT_EQ("answer", a.queryStr("TB", STAGE, "QUE_strRv"));
    EXPECT_EQ("value got x", outcomeOf([&] { return a.queryWithStr("TB", STAGE, "QUE_strArg", "x"); }));
    EXPECT_EQ("value 3", outcomeOf([&] {
                  return a.queryBuf("TB", STAGE, "QUE_bufArg", 3, reinterpret_cast<const unsigned char*>("abc"));
              }));
    EXPECT_EQ("value 5", outcomeOf([&] { return a.queryObj("TB", STAGE, "QUE_objArg", new CInteger(5)); }));
    EXPECT_EQ("value 7", outcomeOf([&] { return a.query("@HAS_MASTER", STAGE, "QUE_noArg"); }));
}

TEST_F(ElementEndToEndTest, TheRemoteMethodsExceptionIsThrownAtTheCaller)
{
    b.hook = [](ProbeElement&, const std::string& method, const std::string& argument) -> ISerializable* {
        if (method == "QUE_call")
            throw static_cast<ISerializable*>(new CJException("refused " + argument));
        return nullptr;
    };
    EXPECT_EQ("remote CJException refused now", outcomeOf([&] { return a.queryWithStr("TB", STAGE, "QUE_call", "now"); }));
    // A name that is unknown, or known under another kind, is not run.
    for (const char* method : {"QUE_missing", "NTC_noArg", "QUE_strArg"}) {
        std::string got = outcomeOf([&] { return a.query("TB", STAGE, method); });
        EXPECT_EQ(0u, got.find("remote CJException  no method of that kind exists")) << method << ": " << got;
    }
    EXPECT_EQ((std::vector<std::string>{"onPlugIn", "QUE_call"}), logB.methods()) << "nothing else ran on B";
}

// B answers from its own handler thread: a notice back, and a query of its own.
TEST_F(ElementEndToEndTest, EachElementCallsTheOtherFromItsMethods)
{
    b.hook = [&](ProbeElement& self, const std::string& method, const std::string& argument) -> ISerializable* {
        if (method == "NTC_strArg" && argument == "ping") {
            std::string caller = self.getCallerTerminal();
            self.sendNoticeStr(caller, STAGE, "NTC_strArg", "pong");
            std::string answered = self.queryStr(caller, STAGE, "QUE_strRv");
            self.sendNoticeStr(caller, STAGE, "NTC_strArg", "B was answered: " + answered);
        }
        return nullptr;
    };
    a.sendNoticeStr("@ALL_TERMINAL_EXCEPT_ME", STAGE, "NTC_strArg", "ping");
    ASSERT_TRUE(logA.waitForArgument("B was answered: answer"));
    std::vector<MethodRun> runs = logA.runs();
    ASSERT_EQ(4u, runs.size());
    EXPECT_EQ("pong", runs[1].argument);
    EXPECT_EQ("TB", runs[1].caller);
    EXPECT_EQ("QUE_strRv", runs[2].method);
    EXPECT_EQ("TB", runs[2].caller);
}

class ElementEndToEndTimeOutTest : public ElementEndToEndTest {
protected:
    ElementEndToEndTimeOutTest() : ElementEndToEndTest(500) {}
};

// A plugged-out element is no longer reached: its gate drops the query, and the caller times out.
TEST_F(ElementEndToEndTimeOutTest, APluggedOutElementIsNoLongerReached)
{
    sessionB.plugOut(STAGE);
    EXPECT_EQ("CTimeOutException", outcomeOf([&] { return a.query("TB", STAGE, "QUE_noArg"); }));
    sessionB.plugIn("", &b);
    EXPECT_EQ("value 7", outcomeOf([&] { return a.query("TB", STAGE, "QUE_noArg"); }));
    EXPECT_EQ((std::vector<std::string>{"onPlugIn", "onPlugOut", "onPlugIn", "QUE_noArg"}), logB.methods());
}

} // namespace
