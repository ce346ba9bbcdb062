#include "ElementFixtures.h"

#include "CElementHandler.h"
#include "CIOException.h"
#include "CIllegalStateException.h"
#include "CInteger.h"
#include "CLocalMethod.h"
#include "CNoSuchMethodException.h"
#include "CNullPointerException.h"
#include "CTimeOutException.h"
#include "CUnexpectedException.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

#include <stdexcept>

namespace {

class ElementHandlerTest : public testing::Test {
protected:
    void SetUp() override { CountedValue::live = 0; }

    // Starts the element and plugs it into the session.
    void connect(ProbeElement& element) { connect(element, journal); }
    void connect(ProbeElement& element, RunLog& j)
    {
        element.start("HANDLER");
        session.plugIn("", &element);
        ASSERT_TRUE(j.waitFor(1)); // onPlugIn
    }
    void disconnect(ProbeElement& element)
    {
        session.plugOut(element.getElementId());
        element.end();
    }
    // Delivers a last notice and waits until it has run: everything delivered before it is done.
    void drain(ProbeElement& element) { drain(element, journal, session); }
    static void drain(ProbeElement& element, RunLog& j, FakeSession& s)
    {
        static int drains = 0;
        std::string token = "drain " + std::to_string(++drains);
        s.deliver(remoteCallStr("T1", element.getElementId(), "NTC_strArg", token));
        ASSERT_TRUE(j.waitForArgument(token));
    }

    RunLog journal;
    FakeSession session{"T1"};
};

TEST_F(ElementHandlerTest, CallsFromSeveralProducersRunOneAtATimeInTheirOrder)
{
    ProbeElement element(journal);
    element.hook = [](ProbeElement&, const std::string&, const std::string&) -> ISerializable* {
        Sleep(0); // widen the window for an overlap
        return nullptr;
    };
    connect(element);
    const int producers = 4;
    const int calls = 50;
    {
        std::vector<std::unique_ptr<Worker>> workers;
        for (int p = 0; p < producers; ++p) {
            workers.emplace_back(new Worker);
            workers.back()->post([&, p] {
                for (int i = 0; i < calls; ++i) {
                    std::string text = std::to_string(p) + ":" + std::to_string(i);
                    if (p % 2 == 0) // local posts and remote deliveries alike
                        CLocalMethod::postMethodStr(element.getObjectId(), "NTC_strArg", text);
                    else
                        session.deliver(remoteCallStr("T1", element.getElementId(), "NTC_strArg", text));
                }
            });
        }
    }
    ASSERT_TRUE(journal.waitFor(1 + producers * calls));
    EXPECT_EQ(1, journal.mostAtOnce()) << "two methods of one element overlapped";
    std::vector<int> next(producers, 0);
    std::vector<MethodRun> runs = journal.runs();
    for (size_t i = 1; i < runs.size(); ++i) {
        int p = std::stoi(runs[i].argument.substr(0, runs[i].argument.find(':')));
        int n = std::stoi(runs[i].argument.substr(runs[i].argument.find(':') + 1));
        EXPECT_EQ(next[p]++, n) << "producer " << p;
        EXPECT_EQ(runs[0].thread, runs[i].thread);
    }
    disconnect(element);
}

TEST_F(ElementHandlerTest, CallsRunInTheOrderTheyWereQueued)
{
    ProbeElement element(journal);
    Signal release;
    element.holdIn("NTC_noArg", release);
    connect(element);
    CLocalMethod::postMethod(element.getObjectId(), "NTC_noArg");
    Worker a;
    Worker b;
    std::vector<std::string> queued;
    for (int i = 0; i < 6; ++i) {
        std::string text = "q" + std::to_string(i);
        queued.push_back(text);
        (i % 2 == 0 ? a : b).run([&] { CLocalMethod::postMethodStr(element.getObjectId(), "NTC_strArg", text); });
    }
    release.set();
    ASSERT_TRUE(journal.waitFor(2 + queued.size()));
    std::vector<MethodRun> runs = journal.runs();
    for (size_t i = 0; i < queued.size(); ++i)
        EXPECT_EQ(queued[i], runs[2 + i].argument);
    disconnect(element);
}

TEST_F(ElementHandlerTest, QueuedBeforeStartRunsAfterItQueuedAfterEndNeverRuns)
{
    ProbeElement element(journal);
    CElementHandler handler(&element, "RAW");
    for (const char* text : {"a", "b", "c"})
        handler.notifyMessage(CMethodCallMessage::createLocalCall("0", "x", "NTC_strArg", 1, text));
    Sleep(50);
    EXPECT_TRUE(journal.runs().empty()) << "nothing runs before start";
    handler.start();
    ASSERT_TRUE(journal.waitFor(3));
    EXPECT_EQ("a", journal.runs()[0].argument);
    EXPECT_EQ("c", journal.runs()[2].argument);
    EXPECT_EQ(handler.getThreadId(), journal.runs()[0].thread);
    handler.end();
    handler.notifyMessage(CMethodCallMessage::createLocalCall("0", "x", "NTC_objArg", new CountedValue("late")));
    Sleep(50);
    EXPECT_EQ(3u, journal.runs().size());
    EXPECT_EQ(1, CountedValue::live) << "kept until the handler goes";
}

TEST_F(ElementHandlerTest, QueuedMessagesAreDestroyedWithTheHandler)
{
    ProbeElement element(journal);
    {
        CElementHandler handler(&element, "RAW");
        handler.notifyMessage(CMethodCallMessage::createLocalCall("0", "x", "NTC_objArg", new CountedValue("a")));
        handler.notifyMessage(CMethodCallMessage::createLocalCall("0", "x", "NTC_objArg", new CountedValue("b")));
        EXPECT_EQ(2, CountedValue::live);
    }
    EXPECT_EQ(0, CountedValue::live);
}

// Ending the thread in the destructor would be too late: its element may be half destroyed
// already. So a running handler that is destroyed stops the process and names the fault.
TEST(ElementHandlerDestroyed, WhileRunningStopsTheProcess)
{
    if (isChild()) {
        childTracesToFile(false);
        RunLog journal;
        ProbeElement element(journal);
        {
            CElementHandler handler(&element, "RAW");
            handler.start();
            handler.notifyMessage(CMethodCallMessage::createLocalCall("0", "x", "NTC_noArg"));
            EXPECT_TRUE(journal.waitFor(1));
        }
        exit(0); // not stopped: the parent sees 0
    }
    TempDir dir;
    EXPECT_EQ(ABNORMAL_EXIT, runInChild(dir));
    std::vector<std::string> lines = dir.logLines();
    EXPECT_TRUE(hasLineWith(lines, "FATAL ERROR: [ CElementHandler ] ~CElementHandler(): [RAW] destroyed while running:"
                            " call end() first")) << testing::PrintToString(lines);
}

TEST_F(ElementHandlerTest, LifeCycleStepsInTheWrongStateAreRefused)
{
    ProbeElement element(journal);
    using Step = std::function<void(CElementHandler&)>;
    Step start = [](CElementHandler& h) { h.start(); };
    Step end = [](CElementHandler& h) { h.end(); };
    Step plugIn = [&](CElementHandler& h) { h.plugIn(&session.source, &session.proxy); };
    Step plugOut = [](CElementHandler& h) { h.plugOut(); };
    struct Case {
        const char* label;
        std::vector<Step> before;
        Step refused;
    };
    const Case cases[] = {
        {"start twice", {start}, start},
        {"start after end", {start, end}, start},
        {"end before start", {}, end},
        {"end twice", {start, end}, end},
        {"plugIn before start", {}, plugIn},
        {"plugIn after end", {start, end}, plugIn},
        {"plugOut before start", {}, plugOut},
        {"plugOut without plugIn", {start}, plugOut},
        {"plugOut after end", {start, end}, plugOut},
    };
    for (const Case& c : cases) {
        CElementHandler handler(&element, "STATES");
        for (const Step& s : c.before)
            s(handler);
        bool running = handler.isRunning();
        EXPECT_THROW(c.refused(handler), CIllegalStateException) << c.label;
        EXPECT_EQ(running, handler.isRunning()) << c.label;
        if (handler.isRunning())
            handler.end();
    }
}

TEST_F(ElementHandlerTest, FiltersDropWhatIsNotForThisCopy)
{
    struct Case {
        CElement::CopyRole role;
        const char* receiver;
        const char* sender;
        bool runs;
    };
    const Case cases[] = {
        {CElement::NOT_SHARED, "@ALL_TERMINAL_EXCEPT_ME", "T1", false}, // came back to its sender
        {CElement::NOT_SHARED, "@ALL_TERMINAL_EXCEPT_ME", "T2", true},
        {CElement::MASTER_COPY, "@ALL_TERMINAL_EXCEPT_ME", "T1", false},
        {CElement::NOT_SHARED, "@ALL_TERMINAL", "T1", true},
        {CElement::NOT_SHARED, "@HAS_MASTER", "T2", true},
        {CElement::NOT_SHARED, "@HAS_SLAVE", "T2", true},
        {CElement::MASTER_COPY, "@HAS_MASTER", "T2", true},
        {CElement::MASTER_COPY, "@HAS_SLAVE", "T2", false},
        {CElement::SLAVE_COPY, "@HAS_MASTER", "T2", false},
        {CElement::SLAVE_COPY, "@HAS_SLAVE", "T2", true},
        {CElement::SLAVE_COPY, "T1", "T2", true},
    };
    for (const Case& c : cases) {
        RunLog own;
        ProbeSharedElement element(own, c.role);
        connect(element, own);
        ASSERT_TRUE(own.waitFor(c.role == CElement::SLAVE_COPY ? 2 : 1)); // initializeSlave
        size_t before = own.runs().size();
        session.deliver(CMethodCallMessage::createRemoteCall(c.receiver, element.getElementId(), c.sender,
                                                             CProxyElement::getProxyId(), "NTC_noArg"));
        drain(element, own, session);
        std::vector<std::string> methods = own.methods();
        bool ran = methods.size() == before + 2 && methods[before] == "NTC_noArg";
        EXPECT_EQ(c.runs, ran) << c.receiver << " from " << c.sender << " to role " << c.role;
        disconnect(element);
    }
}

// A QUERY's reply as the handler sent it through the session's proxy.
struct Reply {
    bool present = false;
    bool isException = false;
    std::string value;     // the returned object's text, or the exception's message
    std::string className; // of the returned or thrown object
};

TEST_F(ElementHandlerTest, QueriesAreAnsweredWithTheReturnValueOrTheException)
{
    struct Case {
        const char* method;
        const char* text; // NULL: a query without parameter
        std::function<ISerializable*()> hook;
        Reply expected;
    };
    const Case cases[] = {
        {"QUE_noArg", nullptr, nullptr, {true, false, "7", "CInteger"}},
        {"QUE_strRv", nullptr, nullptr, {true, false, "answer", "CJString"}},
        {"QUE_strArg", "word", nullptr, {true, false, "got word", "CJString"}},
        {"QUE_bufArg", "abc", nullptr, {true, false, "3", "CInteger"}},
        {"QUE_call", "", [] { return new CInteger(11); }, {true, false, "11", "CInteger"}},
        {"QUE_call", "", []() -> ISerializable* { throw static_cast<ISerializable*>(new CJException("own")); },
         {true, true, "own", "CJException"}},
        {"QUE_missing", nullptr, nullptr, {true, true, "no method of that kind exists", "CNoSuchMethodException"}},
        // Registered, but not as a query, or not without parameter: not run through another signature.
        {"NTC_noArg", nullptr, nullptr, {true, true, "no method of that kind exists", "CNoSuchMethodException"}},
        {"QUE_bufArg", nullptr, nullptr, {true, true, "no method of that kind exists", "CNoSuchMethodException"}},
        {"QUE_call", "", []() -> ISerializable* { throw CIOException("disk gone"); },
         {true, true, "disk gone", "CUnexpectedException"}},
        {"QUE_call", "", []() -> ISerializable* { throw std::runtime_error("std failure"); },
         {true, true, "std failure", "CUnexpectedException"}},
        {"QUE_call", "", []() -> ISerializable* { throw CTimeOutException("late"); }, {}},
    };
    ProbeElement element(journal);
    connect(element);
    unsigned serial = 100;
    for (const Case& c : cases) {
        std::function<ISerializable*()> hook = c.hook;
        element.hook = [hook](ProbeElement&, const std::string& method, const std::string&) -> ISerializable* {
            return method == "QUE_call" && hook ? hook() : nullptr;
        };
        size_t sent = session.outbox.size();
        ++serial;
        CMethodCallMessage* query =
            c.text == nullptr
                ? remoteCall("T1", element.getElementId(), c.method, CMethodCallMessage::QUERY, serial)
                : remoteCallStr("T1", element.getElementId(), c.method, c.text, CMethodCallMessage::QUERY, serial);
        session.deliver(query);
        drain(element);
        Reply got;
        if (session.outbox.size() > sent) {
            ASSERT_EQ(sent + 1, session.outbox.size());
            CMethodCallMessage* reply = session.outbox.at(sent);
            got.present = true;
            got.isException = reply->isException();
            CJObject* object = dynamic_cast<CJObject*>(reply->getParam());
            ASSERT_NE(nullptr, object);
            CJException* exception = dynamic_cast<CJException*>(object);
            got.value = exception != nullptr ? exception->getMessage() : object->toString();
            got.className = dynamic_cast<CNoSuchMethodException*>(object)  ? "CNoSuchMethodException"
                            : dynamic_cast<CUnexpectedException*>(object) ? "CUnexpectedException"
                                                                           : dynamic_cast<ISerializable*>(object)->getClassName();
            EXPECT_EQ(CMethodCallMessage::REPLY, reply->getModifier());
            EXPECT_EQ(serial, reply->getSerialNum());
            EXPECT_EQ("PEER", reply->getRecTermId());
            EXPECT_EQ(CProxyElement::getProxyId(), reply->getRecElemId());
            EXPECT_EQ("T1", reply->getSndTermId());
            EXPECT_EQ(element.getElementId(), reply->getSndElemId());
        }
        std::string label = std::string(c.method) + " " + (c.text ? c.text : "(no parameter)");
        EXPECT_EQ(c.expected.present, got.present) << label;
        EXPECT_EQ(c.expected.isException, got.isException) << label;
        EXPECT_NE(std::string::npos, got.value.find(c.expected.value)) << label << ": " << got.value;
        EXPECT_EQ(c.expected.className, got.className) << label;
    }
    disconnect(element);
}

TEST_F(ElementHandlerTest, QueryQueuedBeforePlugOutAndRunAfterItGetsNoReply)
{
    ProbeElement element(journal);
    Signal release;
    element.holdIn("NTC_noArg", release);
    connect(element);
    session.deliver(remoteCall("T1", element.getElementId(), "NTC_noArg"));
    session.deliver(remoteCall("T1", element.getElementId(), "QUE_noArg", CMethodCallMessage::QUERY, 5));
    Worker owner;
    owner.post([&] { session.plugOut(element.getElementId()); });
    // Released once the handler has left the session (and forgotten the proxy).
    CMethodCallMessage* probe = remoteCall("T1", element.getElementId(), "NTC_noArg");
    for (int i = 0; i < 1000 && session.source.canDeliver(probe); ++i)
        Sleep(10);
    IMessage::release(probe);
    release.set();
    ASSERT_TRUE(owner.waitIdle(10000));
    EXPECT_EQ((std::vector<std::string>{"onPlugIn", "NTC_noArg", "onPlugOut"}), journal.methods());
    EXPECT_EQ(0u, session.outbox.size());
    element.end();
}

// The handler's plug-out leaves the session at once, but waits for a query whose method is
// running: its reply still goes out through the proxy, the last use of the proxy.
TEST_F(ElementHandlerTest, PlugOutWaitsForTheReplyOfTheQueryBeingAnswered)
{
    ProbeElement element(journal);
    Signal release;
    element.holdIn("QUE_noArg", release);
    CElementHandler handler(&element, "RAW");
    handler.start();
    handler.plugIn(&session.source, &session.proxy);
    session.deliver(remoteCall("T1", element.getElementId(), "QUE_noArg", CMethodCallMessage::QUERY, 5));
    ASSERT_TRUE(journal.waitFor(1));
    std::atomic<bool> returned{false};
    Worker owner;
    owner.post([&] {
        handler.plugOut();
        returned = true;
    });
    CMethodCallMessage* probe = remoteCall("T1", element.getElementId(), "NTC_noArg");
    EXPECT_TRUE(waitUntil([&] { return !session.source.canDeliver(probe); })) << "the handler leaves the source at once";
    IMessage::release(probe);
    Sleep(100);
    EXPECT_FALSE(returned) << "plugOut waits for the reply";
    release.set();
    ASSERT_TRUE(owner.waitIdle(10000));
    ASSERT_EQ(1u, session.outbox.size());
    EXPECT_TRUE(session.outbox.at(0)->isReturnValue());
    EXPECT_EQ(5u, session.outbox.at(0)->getSerialNum());
    handler.end();
}

TEST_F(ElementHandlerTest, BadMessagesFromPeersAreReportedAndDropped)
{
    ProbeElement element(journal);
    connect(element);
    const std::function<CMethodCallMessage*()> makers[] = {
        // A reply has no business at an element.
        [&] {
            CMethodCallMessage* m = CMethodCallMessage::createReturnValue("T1", element.getElementId(), "PEER", "P",
                                                                          new CountedValue("v"));
            m->setModifier(CMethodCallMessage::REPLY);
            return m;
        },
        [&] { return remoteCall("T1", element.getElementId(), "NTC_noArg", CMethodCallMessage::REPLY); },
        [&] { return remoteCall("T1", element.getElementId(), "NTC_noArg", CMethodCallMessage::ERROR_REPLY); },
        [&] { return remoteCall("T1", element.getElementId(), "NTC_noArg", 7); },
        // A NOTICE or QUERY that decoded as a return value or an exception.
        [&] {
            return CMethodCallMessage::createReturnValue("T1", element.getElementId(), "PEER", "P",
                                                         new CountedValue("v"));
        },
        [&] {
            CMethodCallMessage* m = CMethodCallMessage::createException("T1", element.getElementId(), "PEER", "P",
                                                                        new CountedValue("e"));
            m->setModifier(CMethodCallMessage::QUERY);
            return m;
        },
    };
    int index = 0;
    for (const auto& make : makers) {
        TraceCapture trace;
        session.deliver(make());
        drain(element);
        EXPECT_EQ(1, trace.count("ERROR: ")) << "case " << index << "\n" << trace.text();
        ++index;
    }
    EXPECT_EQ(1u + 6u, journal.runs().size()) << "none of them ran a method";
    EXPECT_EQ(0u, session.outbox.size()) << "nothing is answered";
    EXPECT_EQ(0, CountedValue::live) << "each was released";
    disconnect(element);
}

TEST_F(ElementHandlerTest, WhatANoticesMethodThrowsEndsThereAndTheThreadGoesOn)
{
    const std::function<void()> throwers[] = {
        [] { throw CIllegalStateException("value"); },
        [] { throw static_cast<ISerializable*>(new CountedValue("pointer")); },
        [] { throw new CJException("exception pointer"); },
        [] { throw std::runtime_error("std"); },
        [] { throw 42; },
    };
    ProbeElement element(journal);
    connect(element);
    int index = 0;
    for (const auto& thrower : throwers) {
        element.hook = [&](ProbeElement&, const std::string& method, const std::string&) -> ISerializable* {
            if (method == "NTC_noArg")
                thrower();
            return nullptr;
        };
        TraceCapture trace;
        CLocalMethod::postMethod(element.getObjectId(), "NTC_noArg");
        drain(element);
        EXPECT_EQ(1, trace.count("ERROR: ")) << "thrower " << index << "\n" << trace.text();
        ++index;
    }
    TraceCapture trace;
    CLocalMethod::postMethod(element.getObjectId(), "LOC_nothing");
    drain(element);
    EXPECT_EQ(1, trace.count("the method does not exist")) << trace.text();
    EXPECT_EQ(0u, session.outbox.size()) << "a notice is never answered";
    EXPECT_EQ(0, CountedValue::live);
    disconnect(element);
}

TEST_F(ElementHandlerTest, CallerTerminalIsTheSenderOfTheCallBeingRun)
{
    ProbeElement element(journal);
    connect(element);
    session.deliver(CMethodCallMessage::createRemoteCall("T1", element.getElementId(), "T7",
                                                         CProxyElement::getProxyId(), "NTC_noArg"));
    CLocalMethod::postMethod(element.getObjectId(), "NTC_noArg");
    ASSERT_TRUE(journal.waitFor(3));
    EXPECT_EQ("T7", journal.runs()[1].caller);
    EXPECT_EQ("@LOCAL_TERMINAL", journal.runs()[2].caller);
    // The journal notes the call before the handler thread leaves it and unsets the caller.
    EXPECT_TRUE(waitUntil([&] {
        try {
            element.getCallerTerminal();
            return false;
        } catch (CNullPointerException&) {
            return true;
        }
    })) << "unset between calls";
    disconnect(element);
}

TEST_F(ElementHandlerTest, AQueryingMethodMayNotQueryUntilItsReplyIsOut)
{
    FakeSession quick("T1", 300);
    ProbeElement element(journal);
    std::vector<std::string> outcomes;
    element.hook = [&](ProbeElement& self, const std::string& method, const std::string& argument) -> ISerializable* {
        if (method != "QUE_call" && argument != "later")
            return nullptr;
        try {
            delete self.query("T2", "E", "QUE_noArg");
            outcomes.push_back("answered");
        } catch (CIllegalStateException&) {
            outcomes.push_back("refused");
        } catch (CTimeOutException&) {
            outcomes.push_back("sent, timed out");
        }
        return nullptr;
    };
    element.start("NESTED");
    quick.plugIn("", &element);
    quick.deliver(remoteCallStr("T1", element.getElementId(), "QUE_call", "", CMethodCallMessage::QUERY, 1));
    quick.deliver(remoteCallStr("T1", element.getElementId(), "NTC_strArg", "later"));
    drain(element, journal, quick);
    ASSERT_EQ(2u, quick.outbox.size()) << "the reply to QUE_call and the later query";
    EXPECT_TRUE(quick.outbox.at(0)->isReturnValue());
    EXPECT_EQ(CMethodCallMessage::QUERY, quick.outbox.at(1)->getModifier());
    EXPECT_EQ((std::vector<std::string>{"refused", "sent, timed out"}), outcomes);
    quick.plugOut(element.getElementId());
    element.end();
}

} // namespace
