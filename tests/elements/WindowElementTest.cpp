#include "ElementFixtures.h"
#include "UiThreadHarness.h"

#include "CIOException.h"
#include "CUnexpectedException.h"
#include "CLocalMethod.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

namespace {

// An element that is also a window: its methods run on the UI thread.
class CWindowElement : public CWnd, public ProbeElement {
public:
    explicit CWindowElement(RunLog& journal) : ProbeElement(journal, "WINDOW-ELEM") {}
};

class WindowElementTest : public testing::Test {
protected:
    void SetUp() override
    {
        ui = UiThread::get().threadId();
        element.start("WINDOW");
        session.plugIn("", &element);
        ASSERT_TRUE(journal.waitFor(1));
    }
    void TearDown() override
    {
        session.plugOut(element.getElementId());
        element.end();
    }
    // The reply to a query delivered now, once the element has answered; NULL when none came.
    CMethodCallMessage* ask(const std::string& method, const std::string& text)
    {
        size_t sent = session.outbox.size();
        session.deliver(remoteCallStr("T1", element.getElementId(), method, text, CMethodCallMessage::QUERY, 9));
        session.deliver(remoteCallStr("T1", element.getElementId(), "NTC_strArg", "after " + method + text));
        EXPECT_TRUE(journal.waitForArgument("after " + method + text));
        return session.outbox.size() > sent ? session.outbox.at(sent) : nullptr;
    }

    DWORD ui = 0;
    RunLog journal;
    FakeSession session{"T1"};
    CWindowElement element{journal};
};

TEST_F(WindowElementTest, NoticesAndQueriesRunOnTheUiThread)
{
    CLocalMethod::postMethodStr(element.getObjectId(), "NTC_strArg", "local");
    session.deliver(remoteCallStr("T1", element.getElementId(), "NTC_strArg", "remote"));
    ASSERT_TRUE(journal.waitForArgument("remote"));
    CMethodCallMessage* reply = ask("QUE_strArg", "x");
    ASSERT_NE(nullptr, reply);
    EXPECT_TRUE(reply->isReturnValue());
    EXPECT_EQ("got x", dynamic_cast<CJObject*>(reply->getParam())->toString());
    std::vector<MethodRun> runs = journal.runs();
    for (const MethodRun& run : runs)
        EXPECT_EQ(ui, run.thread) << run.method << " " << run.argument;
    EXPECT_EQ("PEER", runs[3].caller) << "a query's caller terminal is there on the UI thread too";
}

TEST_F(WindowElementTest, WhatAQueryThrowsOnTheUiThreadIsTheReply)
{
    struct Case {
        std::function<ISerializable*()> thrower;
        const char* text;
        bool plainException; // the method's own object, not a CUnexpectedException
    };
    const Case cases[] = {
        {[]() -> ISerializable* { throw static_cast<ISerializable*>(new CJException("own object")); }, "own object",
         true},
        {[]() -> ISerializable* { throw CIOException("disk gone"); }, "disk gone", false},
    };
    for (const Case& c : cases) {
        auto thrower = c.thrower;
        element.hook = [thrower](ProbeElement&, const std::string& method, const std::string&) -> ISerializable* {
            return method == "QUE_call" ? thrower() : nullptr;
        };
        CMethodCallMessage* reply = ask("QUE_call", c.text);
        ASSERT_NE(nullptr, reply) << c.text;
        EXPECT_TRUE(reply->isException());
        CJException* exception = dynamic_cast<CJException*>(reply->getParam());
        ASSERT_NE(nullptr, exception);
        EXPECT_EQ(c.text, exception->getMessage());
        EXPECT_EQ(c.plainException, dynamic_cast<CUnexpectedException*>(exception) == nullptr) << c.text;
    }
}

TEST_F(WindowElementTest, WhatANoticeThrowsOnTheUiThreadEndsThere)
{
    element.hook = [](ProbeElement&, const std::string& method, const std::string& argument) -> ISerializable* {
        if (method == "NTC_strArg" && argument == "throw")
            throw CIOException("notice threw");
        return nullptr;
    };
    TraceCapture trace;
    CLocalMethod::postMethodStr(element.getObjectId(), "NTC_strArg", "throw");
    CLocalMethod::postMethodStr(element.getObjectId(), "NTC_strArg", "next");
    ASSERT_TRUE(journal.waitForArgument("next"));
    EXPECT_EQ(1, trace.count("ERROR: [ CElement ] Execute(): [NTC_strArg] threw")) << trace.text();
}

TEST(WindowElementOnUiThread, PlugInAndPlugOutOnTheUiThreadRunTheHooksAtOnce)
{
    RunLog journal;
    FakeSession session("T1");
    CWindowElement element(journal);
    DWORD ui = UiThread::get().threadId();
    size_t afterPlugIn = 0;
    size_t afterPlugOut = 0;
    runSync([&] {
        element.start("WINDOW");
        session.plugIn("", &element);
        afterPlugIn = journal.runs().size();
        session.plugOut(element.getElementId());
        afterPlugOut = journal.runs().size();
        element.end();
        return LRESULT(0);
    });
    EXPECT_EQ(1u, afterPlugIn);
    EXPECT_EQ(2u, afterPlugOut);
    EXPECT_EQ((std::vector<std::string>{"onPlugIn", "onPlugOut"}), journal.methods());
    EXPECT_EQ(ui, journal.runs()[0].thread);
}

// Once queries are disabled (the session logic is ending), a window element's query is not
// waited for: it counts as timed out and is not answered.
TEST(WindowElementOnUiThread, QueryWhileQueriesAreDisabledCountsAsTimedOut)
{
    if (isChild()) {
        RunLog journal;
        FakeSession session("T1");
        CWindowElement element(journal);
        UiThread::get();
        element.start("WINDOW");
        session.plugIn("", &element);
        EXPECT_TRUE(journal.waitFor(1));
        CLocalMethod::disableQuery();
        TraceCapture trace;
        session.deliver(remoteCall("T1", element.getElementId(), "QUE_noArg", CMethodCallMessage::QUERY, 3));
        session.deliver(remoteCallStr("T1", element.getElementId(), "NTC_strArg", "after"));
        EXPECT_TRUE(journal.waitForArgument("after"));
        EXPECT_EQ(0u, session.outbox.size()) << "no reply";
        EXPECT_EQ(1, trace.count("treat it as a time-out")) << trace.text();
        EXPECT_EQ((std::vector<std::string>{"onPlugIn", "NTC_strArg"}), journal.methods());
        session.plugOut(element.getElementId());
        element.end();
        exit(testing::Test::HasFailure() ? 1 : 0);
    }
    TempDir dir;
    EXPECT_EQ(0, runInChild(dir));
}

} // namespace
