#include "ElementFixtures.h"

#include "CIOException.h"
#include "CIllegalArgumentException.h"
#include "CIllegalStateException.h"
#include "CInteger.h"
#include "CLocalMethod.h"
#include "CUnexpectedException.h"
#include "CWndMsg.h"
#include "UiThreadHarness.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <stdexcept>

namespace {

class ElementLifeCycleTest : public testing::Test {
protected:
    void SetUp() override { CountedValue::live = 0; }

    RunLog journal;
    FakeSession session{"T1"};
};

// Runs named steps on the element; "plugIn" goes straight to the element, as a session handle
// would call it.
void step(ProbeElement& element, FakeSession& session, const std::string& name)
{
    if (name == "start")
        element.start("LIFE");
    else if (name == "plugIn")
        element.plugIn(session.terminalId, &session.source, &session.proxy, "TEXT");
    else if (name == "plugOut")
        element.plugOut();
    else if (name == "end")
        element.end();
    else
        FAIL() << "unknown step " << name;
}

TEST_F(ElementLifeCycleTest, WrongStepsAreRefusedAndLeaveTheStateAsItWas)
{
    struct Case {
        std::vector<std::string> good;  // steps that succeed
        std::string bad;                // the refused step
        std::string text;               // a piece of its text
        std::vector<std::string> after; // steps that must still succeed afterwards
    };
    const Case cases[] = {
        {{"start"}, "start", "start() called twice", {"end"}},
        {{}, "plugIn", "plugIn() called without start()", {"start", "plugIn", "plugOut", "end"}},
        {{"start", "plugIn"}, "plugIn", "plugIn() called without plugOut()", {"plugOut", "end"}},
        {{"start"}, "plugOut", "plugOut() called without plugIn()", {"plugIn", "plugOut", "end"}},
        {{"start", "plugIn", "plugOut"}, "plugOut", "plugOut() called without plugIn()", {"end"}},
        {{}, "end", "end() called without start()", {"start", "end"}},
        {{"start", "end"}, "end", "end() called without start()", {"start", "end"}},
        // The gate would keep a handler that is gone.
        {{"start", "plugIn"}, "end", "end() called without plugOut()", {"plugOut", "end"}},
    };
    for (const Case& c : cases) {
        std::string label = c.bad + " after " + testing::PrintToString(c.good);
        ProbeElement element(journal);
        for (const std::string& name : c.good)
            step(element, session, name);
        try {
            step(element, session, c.bad);
            ADD_FAILURE() << label << ": not refused";
        } catch (CIllegalStateException& e) {
            EXPECT_NE(std::string::npos, e.getMessage().find(c.text)) << label << ": " << e.getMessage();
        }
        for (const std::string& name : c.after)
            EXPECT_NO_THROW(step(element, session, name)) << label << ", then " << name;
    }
}

TEST_F(ElementLifeCycleTest, ObjectIdsCountFromZeroWithinTheProcess)
{
    if (isChild()) {
        RunLog own;
        ProbeElement a(own);
        ProbeElement b(own);
        a.start("A");
        b.start("B");
        EXPECT_EQ("0", a.getObjectId());
        EXPECT_EQ("1", b.getObjectId());
        a.end();
        a.start("A-AGAIN");
        EXPECT_EQ("2", a.getObjectId()) << "a new start takes the next number";
        a.end();
        b.end();
        exit(testing::Test::HasFailure() ? 1 : 0);
    }
    TempDir dir;
    EXPECT_EQ(0, runInChild(dir));
}

TEST_F(ElementLifeCycleTest, StartedElementTakesLocalCallsUnderItsObjectIdUntilEnd)
{
    ProbeElement element(journal);
    element.start("LOCAL");
    std::string id = element.getObjectId();
    CLocalMethod::postMethodStr(id, "NTC_strArg", "one");
    ASSERT_TRUE(journal.waitFor(1));
    MethodRun run = journal.runs()[0];
    EXPECT_EQ("one", run.argument);
    EXPECT_EQ("@LOCAL_TERMINAL", run.caller);
    EXPECT_NE(GetCurrentThreadId(), run.thread) << "methods run on the handler thread";
    element.end();
    EXPECT_THROW(CLocalMethod::postMethod(id, "NTC_noArg"), CIllegalArgumentException);
}

// An element deleted while started (or even plugged in) would leave its handler thread calling
// into what is left of it: the process stops instead, with a line that names the fault.
struct DeletedCase {
    const char* name;
    bool plugIn;
    const char* line;
};

void PrintTo(const DeletedCase& c, std::ostream* out)
{
    *out << c.name;
}

class ElementDeleted : public testing::TestWithParam<DeletedCase> {};

TEST_P(ElementDeleted, BeforeEndStopsTheProcess)
{
    const DeletedCase& c = GetParam();
    if (isChild()) {
        childTracesToFile(false);
        RunLog journal;
        FakeSession session("T1");
        {
            ProbeElement element(journal);
            element.start("DELETED");
            if (c.plugIn) {
                session.plugIn("", &element);
                EXPECT_TRUE(journal.waitFor(1));
            }
        }
        exit(0); // not stopped: the parent sees 0
    }
    TempDir dir;
    EXPECT_EQ(ABNORMAL_EXIT, runInChild(dir));
    std::vector<std::string> lines = dir.logLines();
    EXPECT_TRUE(hasLineWith(lines, std::string("FATAL ERROR: [ CElement ] ~CElement(): [0] ") + c.line))
        << testing::PrintToString(lines);
}

INSTANTIATE_TEST_SUITE_P(
    States, ElementDeleted,
    testing::Values(DeletedCase{"Started", false, "destroyed while running: call end() first"},
                    DeletedCase{"PluggedIn", true, "destroyed while plugged in: call plugOut() and end() first"}),
    [](const testing::TestParamInfo<DeletedCase>& info) { return std::string(info.param.name); });

TEST_F(ElementLifeCycleTest, PlugInQueuesOnPlugInAndAForSlaveCopyItsSynchronisation)
{
    struct Case {
        CElement::CopyRole role;
        std::vector<std::string> expected;
    };
    const Case cases[] = {
        {CElement::NOT_SHARED, {"NTC_noArg", "onPlugIn", "NTC_strArg"}},
        {CElement::MASTER_COPY, {"NTC_noArg", "onPlugIn", "NTC_strArg"}},
        {CElement::SLAVE_COPY, {"NTC_noArg", "onPlugIn", "initializeSlave", "NTC_strArg"}},
    };
    for (const Case& c : cases) {
        RunLog own;
        ProbeSharedElement element(own, c.role);
        Signal release;
        element.holdIn("NTC_noArg", release);
        element.start("ROLE");
        CLocalMethod::postMethod(element.getObjectId(), "NTC_noArg"); // keeps the thread busy
        session.plugIn("", &element);
        CLocalMethod::postMethodStr(element.getObjectId(), "NTC_strArg", "after");
        release.set();
        ASSERT_TRUE(own.waitFor(c.expected.size()));
        EXPECT_EQ(c.expected, own.methods()) << "role " << c.role;
        EXPECT_EQ("FAKE", own.runs()[1].argument) << "onPlugIn gets the plug-in text";
        session.plugOut(element.getElementId());
        element.end();
    }
}

TEST_F(ElementLifeCycleTest, PlugOutReturnsAfterTheQueuedCallsAndOnPlugOut)
{
    ProbeElement element(journal);
    Signal release;
    element.holdIn("NTC_noArg", release);
    element.start("PLUG");
    session.plugIn("", &element);
    CLocalMethod::postMethod(element.getObjectId(), "NTC_noArg");
    CLocalMethod::postMethodStr(element.getObjectId(), "NTC_strArg", "queued");
    std::atomic<bool> returned{false};
    Worker owner;
    owner.post([&] {
        session.plugOut(element.getElementId());
        returned = true;
    });
    Sleep(200);
    EXPECT_FALSE(returned) << "plugOut waits for the handler thread";
    release.set();
    ASSERT_TRUE(owner.waitIdle(10000));
    EXPECT_TRUE(returned);
    std::vector<MethodRun> runs = journal.runs();
    EXPECT_EQ((std::vector<std::string>{"onPlugIn", "NTC_noArg", "NTC_strArg", "onPlugOut"}), journal.methods());
    EXPECT_EQ("FAKE", runs.back().argument) << "onPlugOut gets the plug-in text";
    EXPECT_EQ(runs[0].thread, runs.back().thread) << "onPlugOut runs on the handler thread";
    CMethodCallMessage* late = remoteCall("T1", element.getElementId(), "NTC_noArg");
    EXPECT_FALSE(session.source.canDeliver(late)) << "the handler left the session's source";
    IMessage::release(late);
    element.end();
}

TEST_F(ElementLifeCycleTest, PlugOutReturnsEvenWhenOnPlugOutThrows)
{
    const std::function<void()> throwers[] = {
        [] { throw CIllegalStateException("value"); },
        [] { throw static_cast<ISerializable*>(new CountedValue("pointer")); },
        [] { throw std::runtime_error("std"); },
    };
    for (const auto& thrower : throwers) {
        RunLog own;
        ProbeElement element(own);
        element.hook = [&](ProbeElement&, const std::string& method, const std::string&) -> ISerializable* {
            if (method == "onPlugOut")
                thrower();
            return nullptr;
        };
        element.start("THROW");
        session.plugIn("", &element);
        TraceCapture trace;
        Worker owner;
        owner.post([&] { session.plugOut(element.getElementId()); });
        ASSERT_TRUE(owner.waitIdle(10000)) << "plugOut must return";
        CLocalMethod::postMethod(element.getObjectId(), "NTC_noArg");
        ASSERT_TRUE(own.waitFor(3)) << "the handler thread goes on";
        EXPECT_EQ(1, trace.count("ERROR: ")) << trace.text();
        session.plugIn("", &element);
        session.plugOut(element.getElementId());
        element.end();
    }
    EXPECT_EQ(0, CountedValue::live) << "a thrown object is deleted";
}

TEST_F(ElementLifeCycleTest, OnPlugOutMayNotWaitForTheUiThread)
{
    ProbeElement element(journal);
    std::atomic<int> duringPlugOut{-1};
    element.hook = [&](ProbeElement&, const std::string& method, const std::string&) -> ISerializable* {
        if (method == "onPlugOut")
            duringPlugOut = CLocalMethod::isQueryAllowed(GetCurrentThreadId()) ? 1 : 0;
        return nullptr;
    };
    element.start("QUERIES");
    session.plugIn("", &element);
    session.plugOut(element.getElementId());
    EXPECT_EQ(0, duringPlugOut);
    ASSERT_EQ(2u, journal.runs().size());
    EXPECT_TRUE(CLocalMethod::isQueryAllowed(journal.runs()[1].thread)) << "allowed again afterwards";
    element.end();
}

// An element that is also a window: its methods move onto the UI thread.
class CWindowProbe : public CWnd, public ProbeElement {
public:
    explicit CWindowProbe(RunLog& journal) : ProbeElement(journal, "WINDOW-ELEM") {}
};

// The UI thread plugs an element out while the element answers a query that waits for the UI
// thread: through a synchronous call of its own, or because the element is a window and its
// method moves onto the UI thread. The plug-out refuses that wait (a time-out for the window's
// query), and both finish. A regression hangs, so it runs in a child with a bounded wait.
struct UiWaitCase {
    const char* name;
    bool window;
    const char* method;
    bool replied; // the refused call's own failure goes back as the answer
};

void PrintTo(const UiWaitCase& c, std::ostream* out)
{
    *out << c.name;
}

class PlugOutOnUiThread : public testing::TestWithParam<UiWaitCase> {};

TEST_P(PlugOutOnUiThread, WhileAQueryWaitsForTheUiThreadBothFinish)
{
    const UiWaitCase& c = GetParam();
    if (isChild()) {
        UiThread::get();
        RunLog journal;
        FakeSession session("T1");
        std::unique_ptr<ProbeElement> element(c.window ? new CWindowProbe(journal) : new ProbeElement(journal));
        std::atomic<int> refusals{0};
        if (!c.window) {
            element->hook = [&](ProbeElement&, const std::string& method, const std::string&) -> ISerializable* {
                if (method != "QUE_call")
                    return nullptr;
                try {
                    runSync([] { return LRESULT(0); });
                } catch (CIllegalStateException&) {
                    ++refusals;
                    throw;
                }
                return nullptr;
            };
        }
        element->start("UI-WAIT");
        session.plugIn("", element.get());
        EXPECT_TRUE(journal.waitFor(1));

        // The UI thread plugs out once the query's request waits in its queue.
        Signal plugOutDone;
        runAsync([&] {
            waitForQueuedRequests(1, 10000);
            session.plugOut(element->getElementId());
            plugOutDone.set();
        });
        TraceCapture trace;
        session.deliver(remoteCallStr("T1", element->getElementId(), c.method, "x", CMethodCallMessage::QUERY, 5));
        EXPECT_TRUE(plugOutDone.waitFor(20000)) << "the plug-out on the UI thread did not return";
        EXPECT_EQ(0, runSync([] { return LRESULT(0); })) << "the UI thread goes on";
        EXPECT_TRUE(waitUntil([&] {
            std::vector<std::string> methods = journal.methods();
            return std::find(methods.begin(), methods.end(), "onPlugOut") != methods.end();
        }));
        element->end();
        if (c.window)
            EXPECT_EQ(1, trace.count("treat it as a time-out")) << trace.text();
        else
            EXPECT_EQ(1, refusals);
        EXPECT_EQ(c.replied ? 1u : 0u, session.outbox.size());
        if (c.replied && session.outbox.size() == 1) {
            EXPECT_TRUE(session.outbox.at(0)->isException());
        }
        exit(testing::Test::HasFailure() ? 1 : 0);
    }
    TempDir dir;
    EXPECT_EQ(0, runInChild(dir, 60000));
}

INSTANTIATE_TEST_SUITE_P(Elements, PlugOutOnUiThread,
                         testing::Values(UiWaitCase{"SynchronousCall", false, "QUE_call", true},
                                         UiWaitCase{"WindowElement", true, "QUE_strArg", false}),
                         [](const testing::TestParamInfo<UiWaitCase>& info) { return std::string(info.param.name); });

TEST_F(ElementLifeCycleTest, PlugOutAndEndAreRefusedToTheElementsOwnMethods)
{
    ProbeElement element(journal);
    std::vector<std::string> refused;
    element.hook = [&](ProbeElement& self, const std::string& method, const std::string&) -> ISerializable* {
        if (method != "NTC_noArg")
            return nullptr;
        for (auto operation : {&CElement::plugOut, &CElement::end}) {
            try {
                (self.*operation)();
            } catch (CIllegalStateException& e) {
                refused.push_back(e.getMessage());
            }
        }
        return nullptr;
    };
    element.start("SELF");
    session.plugIn("", &element);
    CLocalMethod::postMethod(element.getObjectId(), "NTC_noArg");
    ASSERT_TRUE(journal.waitFor(2));
    session.plugOut(element.getElementId()); // the handler still runs: both were refused
    element.end();
    EXPECT_EQ(2u, refused.size());
}

TEST_F(ElementLifeCycleTest, CallOperationsOfAnElementOutsideASessionSendNothing)
{
    ProbeElement element(journal);
    element.start("NOT-PLUGGED");
    const std::function<void()> calls[] = {
        [&] { element.sendNotice("T2", "E", "m"); },
        [&] { element.sendNoticeObj("T2", "E", "m", nullptr); },
        [&] { element.sendNoticeStr("T2", "E", "m", "text"); },
        [&] { element.sendNoticeBuf("T2", "E", "m", 1, reinterpret_cast<const unsigned char*>("b")); },
        [&] { element.sendWndMsg("T2", "E", 1, 2, 3); },
        [&] { element.query("T2", "E", "m"); },
        [&] { element.queryObj("T2", "E", "m", nullptr); },
        [&] { element.queryWithStr("T2", "E", "m", "text"); },
        [&] { element.queryBuf("T2", "E", "m", 1, reinterpret_cast<const unsigned char*>("b")); },
        [&] { element.queryWndMsg("T2", "E", 1, 2, 3); },
        [&] { element.queryStr("T2", "E", "m"); },
    };
    int index = 0;
    for (const auto& call : calls) {
        EXPECT_THROW(call(), CIOException) << "call " << index;
        ++index;
    }
    CountedValue keep("mine");
    EXPECT_THROW(element.sendNoticeObj("T2", "E", "m", &keep), CIOException);
    EXPECT_EQ(1, CountedValue::live) << "the object stays the caller's";
    EXPECT_EQ(0u, session.outbox.size());
    element.end();
}

TEST_F(ElementLifeCycleTest, NoticesLeaveThroughTheSessionsProxy)
{
    ProbeElement element(journal);
    element.start("SENDER");
    session.plugIn("", &element);
    element.sendNotice("T2", "E", "INS_a");
    element.sendNoticeObj("T2", "E", "INS_b", new CInteger(5));
    element.sendNoticeStr("@HAS_SLAVE", "E", "INS_c", "text");
    const unsigned char bytes[] = {0, 1, 2};
    element.sendNoticeBuf("T2", "E", "INS_d", 3, bytes);
    element.sendWndMsg("T2", "E", 0x8001, 2, 3);
    ASSERT_EQ(5u, session.outbox.size());
    const char* methods[] = {"INS_a", "INS_b", "INS_c", "INS_d", "THIS_NAME_IS_DUMMY"};
    for (size_t i = 0; i < 5; ++i) {
        CMethodCallMessage* sent = session.outbox.at(i);
        ASSERT_NE(nullptr, sent);
        EXPECT_EQ(methods[i], sent->getMethodName());
        EXPECT_EQ("T1", sent->getSndTermId());
        EXPECT_EQ(CProxyElement::getProxyId(), sent->getSndElemId());
        EXPECT_EQ(CMethodCallMessage::NOTICE, sent->getModifier());
    }
    EXPECT_TRUE(session.outbox.at(0)->isCallWithoutParam());
    EXPECT_EQ("5", dynamic_cast<CJObject*>(session.outbox.at(1)->getParam())->toString());
    CMethodCallMessage* text = session.outbox.at(2);
    EXPECT_EQ("@HAS_SLAVE", text->getRecTermId());
    EXPECT_EQ("74 65 78 74", hexBytes(text->getBuf(), text->getBufSize())) << "the characters, no terminating zero";
    EXPECT_EQ("00 01 02", hexBytes(session.outbox.at(3)->getBuf(), session.outbox.at(3)->getBufSize()));
    CWndMsg* message = dynamic_cast<CWndMsg*>(session.outbox.at(4)->getParam());
    ASSERT_NE(nullptr, message);
    EXPECT_EQ(CWndMsg(0x8001, 2, 3).toString(), message->toString());
    session.plugOut(element.getElementId());
    element.end();
}

// The test thread answers the query that the worker's call is waiting for.
void answerQuery(FakeSession& session, size_t index, ISerializable* value)
{
    ASSERT_TRUE(session.outbox.waitFor(index + 1));
    CMethodCallMessage* query = session.outbox.at(index);
    CMethodCallMessage* reply = CMethodCallMessage::createReturnValue(
        query->getSndTermId(), query->getSndElemId(), query->getRecTermId(), query->getRecElemId(), value);
    reply->setModifier(CMethodCallMessage::REPLY);
    reply->setSerialNum(query->getSerialNum());
    session.proxy.notifyMessage(reply);
}

TEST_F(ElementLifeCycleTest, QueryStrAndQueryWndMsgRefuseAnAnswerOfAnotherClass)
{
    ProbeElement element(journal);
    element.start("QUERIER");
    session.plugIn("", &element);
    Worker caller;
    std::string text;
    caller.post([&] { text = element.queryStr("T2", "E", "QUE_strRv"); });
    answerQuery(session, 0, new CJString("fine"));
    ASSERT_TRUE(caller.waitIdle(10000));
    EXPECT_EQ("fine", text);

    unsigned lParam = 0;
    caller.post([&] { lParam = element.queryWndMsg("T2", "E", 0x8001, 0, 0); });
    answerQuery(session, 1, new CWndMsg(0, 0, 42));
    ASSERT_TRUE(caller.waitIdle(10000));
    EXPECT_EQ(42u, lParam);

    // Answers of another class: an exception to the caller, not the end of the process.
    struct Case {
        bool wantText;
        ISerializable* answer;
    };
    const Case cases[] = {{true, new CInteger(3)}, {true, nullptr}, {false, new CountedValue("text")}};
    size_t index = 2;
    for (const Case& c : cases) {
        bool refused = false;
        caller.post([&] {
            try {
                if (c.wantText)
                    element.queryStr("T2", "E", "QUE_noArg");
                else
                    element.queryWndMsg("T2", "E", 0x8001, 0, 0);
            } catch (CUnexpectedException&) {
                refused = true;
            }
        });
        answerQuery(session, index++, c.answer);
        ASSERT_TRUE(caller.waitIdle(10000));
        EXPECT_TRUE(refused) << "case " << index;
    }
    EXPECT_EQ(0, CountedValue::live) << "the refused answer is deleted";
    ASSERT_TRUE(caller.waitIdle(10000));
    session.plugOut(element.getElementId());
    element.end();
}

} // namespace
