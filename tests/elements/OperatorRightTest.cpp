// The operator right of a viewable element seen from one copy: the master's grants, releases
// and leases, the holding slave's renewals, and the shared clock they tick on.
#include "CLocalMethod.h"
#include "TestSupport.h"
#include "ViewableCopy.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

using testing::ElementsAre;
using testing::IsEmpty;

namespace {

const char RELEASE[] = "@HAS_SLAVE INS_updateOperator(@INVALID_TERMINAL )";

std::vector<std::string> sentSince(ViewableCopy& copy, size_t first)
{
    std::vector<std::string> sent = copy.sent();
    return std::vector<std::string>(sent.begin() + std::min(first, sent.size()), sent.end());
}

std::vector<std::string> operatorHooks(ViewableCopy& copy)
{
    std::vector<std::string> hooks;
    for (const std::string& event : copy.log.events())
        if (event.rfind("hook: onLostOperation", 0) == 0 || event.rfind("hook: onGainedOperation", 0) == 0)
            hooks.push_back(event);
    return hooks;
}

// A master whose right the test gave to holder.
std::unique_ptr<ViewableCopy> grantedMaster(const std::string& holder, const std::string& requestId)
{
    auto copy = masterCopy();
    copy->deliverStr(holder, "@HAS_MASTER", "REQ_assignToOperator", requestId);
    copy->settle();
    return copy;
}

// Waits as long as a master needs to notice a lease that ran out, and some more.
const DWORD MASTER_CHECK_WAIT_MS = CViewableElement::MASTER_CHECK_MS * 2 + 500;

TEST(OperatorRight, TheMastersOwnRequestTakesTheFreeRightWithoutLease)
{
    FakeTime time;
    auto copy = masterCopy();
    size_t sentBefore = copy->sent().size();
    copy->log.clear();
    CLocalMethod::postMethodStr(copy->element->getObjectId(), "LOC_assignToOperator", "my request");
    copy->settle();
    EXPECT_TRUE(copy->element->isOperator());
    EXPECT_EQ("my request", copy->element->getRequestId());
    EXPECT_THAT(operatorHooks(*copy), ElementsAre("hook: onLostOperation(@INVALID_TERMINAL,)",
                                                  "hook: onGainedOperation(HOST,my request)"));
    EXPECT_THAT(sentSince(*copy, sentBefore), ElementsAre("@HAS_SLAVE INS_updateOperator(HOST my request)"));

    FakeTime::advance(3600);
    pause(MASTER_CHECK_WAIT_MS);
    EXPECT_TRUE(copy->element->isOperator()) << "the master's own right has no lease";

    CLocalMethod::postMethodStr(copy->element->getObjectId(), "LOC_assignToOperator", "again");
    copy->settle();
    EXPECT_EQ("my request", copy->element->getRequestId()) << "held already: nothing changes";
}

TEST(OperatorRight, FirstRequestWinsAndOthersAreForgotten)
{
    auto copy = masterCopy();
    size_t sentBefore = copy->sent().size();
    copy->log.clear();
    copy->deliver("T2", "@HAS_MASTER", "REQ_removeFromOperator");
    copy->deliverStr("T2", "@HAS_MASTER", "REQ_assignToOperator", "drag 1");
    copy->deliver("T3", "@HAS_MASTER", "REQ_removeFromOperator");
    copy->deliverStr("T3", "@HAS_MASTER", "REQ_assignToOperator", "drag 2");
    copy->settle();
    EXPECT_EQ("T2", copy->element->getOperator());
    EXPECT_EQ("drag 1", copy->element->getRequestId());
    EXPECT_THAT(sentSince(*copy, sentBefore), ElementsAre("@HAS_SLAVE INS_updateOperator(T2 drag 1)"));

    // T3 must ask again after the release; its first request was not kept.
    copy->deliver("T2", "@HAS_MASTER", "REQ_removeFromOperator");
    copy->settle();
    EXPECT_EQ("@INVALID_TERMINAL", copy->element->getOperator());
    copy->deliverStr("T3", "@HAS_MASTER", "REQ_assignToOperator", "drag 3");
    copy->settle();
    EXPECT_EQ("T3", copy->element->getOperator());
    EXPECT_THAT(sentSince(*copy, sentBefore),
                ElementsAre("@HAS_SLAVE INS_updateOperator(T2 drag 1)", RELEASE,
                            "@HAS_SLAVE INS_updateOperator(T3 drag 3)"));
    EXPECT_THAT(operatorHooks(*copy),
                ElementsAre("hook: onLostOperation(@INVALID_TERMINAL,)", "hook: onGainedOperation(T2,drag 1)",
                            "hook: onLostOperation(T2,drag 1)", "hook: onGainedOperation(@INVALID_TERMINAL,)",
                            "hook: onLostOperation(@INVALID_TERMINAL,)", "hook: onGainedOperation(T3,drag 3)"));
}

TEST(OperatorRight, ReleaseByAnotherTerminalIsIgnored)
{
    auto copy = grantedMaster("T2", "r");
    size_t sentBefore = copy->sent().size();
    copy->log.clear();
    copy->deliver("T3", "@HAS_MASTER", "REQ_removeFromOperator");
    CLocalMethod::postMethod(copy->element->getObjectId(), "LOC_removeFromOperator"); // the master's own user
    copy->settle();
    EXPECT_EQ("T2", copy->element->getOperator());
    EXPECT_THAT(sentSince(*copy, sentBefore), IsEmpty());
    EXPECT_THAT(operatorHooks(*copy), IsEmpty());
}

TEST(OperatorRight, SilentHolderLosesTheRightAfterTheLease)
{
    FakeTime time;
    auto copy = grantedMaster("T2", "r");
    size_t sentBefore = copy->sent().size();

    FakeTime::advance(CViewableElement::EXPIRY_SECONDS);
    pause(MASTER_CHECK_WAIT_MS);
    EXPECT_EQ("T2", copy->element->getOperator()) << "6 seconds are not more than the expiry time";

    copy->log.clear();
    FakeTime::advance(1);
    ASSERT_TRUE(copy->waitSent(sentBefore + 1, MASTER_CHECK_WAIT_MS));
    EXPECT_THAT(sentSince(*copy, sentBefore), ElementsAre(RELEASE));
    copy->settle();
    EXPECT_EQ("@INVALID_TERMINAL", copy->element->getOperator());
    EXPECT_THAT(operatorHooks(*copy),
                ElementsAre("hook: onLostOperation(T2,r)", "hook: onGainedOperation(@INVALID_TERMINAL,)"));

    FakeTime::advance(60);
    pause(MASTER_CHECK_WAIT_MS);
    EXPECT_EQ(sentBefore + 1, copy->sent().size()) << "the lease ended with the release";
}

struct RenewalCase {
    const char* name;
    const char* from;
    const char* requestId;
    bool keeps;
};

void PrintTo(const RenewalCase& c, std::ostream* out)
{
    *out << c.name;
}

class Renewal : public testing::TestWithParam<RenewalCase> {};

TEST_P(Renewal, OnlyTheHoldersOwnRequestMovesTheLease)
{
    FakeTime time;
    auto copy = grantedMaster("T2", "drag 1");
    size_t sentBefore = copy->sent().size();

    FakeTime::advance(5);
    copy->deliverStr(GetParam().from, "@HAS_MASTER", "REQ_continueOperator", GetParam().requestId);
    copy->settle();
    FakeTime::advance(3); // 8 seconds after the grant, 3 after the renewal
    pause(MASTER_CHECK_WAIT_MS);
    EXPECT_EQ(GetParam().keeps ? "T2" : "@INVALID_TERMINAL", copy->element->getOperator());
    EXPECT_EQ(sentBefore + (GetParam().keeps ? 0 : 1), copy->sent().size());
}

INSTANTIATE_TEST_SUITE_P(OperatorRight, Renewal,
                         testing::Values(RenewalCase{"ByTheHolder", "T2", "drag 1", true},
                                         RenewalCase{"WithAnotherRequestId", "T2", "drag 2", false},
                                         RenewalCase{"ByAnotherTerminal", "T3", "drag 1", false}),
                         [](const testing::TestParamInfo<RenewalCase>& info) { return std::string(info.param.name); });

TEST(OperatorRight, SlaveAsksTheMasterOnlyWhileTheRightLooksFree)
{
    auto copy = synchronisedSlave("T2");
    size_t sentBefore = copy->sent().size();
    CLocalMethod::postMethodStr(copy->element->getObjectId(), "LOC_assignToOperator", "drag 9");
    copy->settle();
    EXPECT_THAT(sentSince(*copy, sentBefore), ElementsAre("@HAS_MASTER REQ_removeFromOperator()",
                                                          "@HAS_MASTER REQ_assignToOperator(drag 9)"));
    EXPECT_EQ("@INVALID_TERMINAL", copy->element->getOperator()) << "it holds the right once the master says so";

    copy->deliverStr("HOST", "@HAS_SLAVE", "INS_updateOperator", "T3 other");
    copy->settle();
    sentBefore = copy->sent().size();
    CLocalMethod::postMethodStr(copy->element->getObjectId(), "LOC_assignToOperator", "drag 10");
    copy->settle();
    EXPECT_THAT(sentSince(*copy, sentBefore), IsEmpty()) << "T3 holds it: nothing is sent";

    CLocalMethod::postMethod(copy->element->getObjectId(), "LOC_removeFromOperator");
    copy->settle();
    EXPECT_THAT(sentSince(*copy, sentBefore), ElementsAre("@HAS_MASTER REQ_removeFromOperator()"))
        << "a release goes to the master whatever this copy believes";
}

TEST(OperatorRight, HoldingSlaveRenewsUntilItLosesTheRight)
{
    FakeTime time;
    auto copy = synchronisedSlave("T2");
    copy->log.clear();
    copy->deliverStr("HOST", "@HAS_SLAVE", "INS_updateOperator", "T2 drag with blanks");
    copy->settle();
    EXPECT_TRUE(copy->element->isOperator());
    EXPECT_EQ("drag with blanks", copy->element->getRequestId());
    EXPECT_THAT(operatorHooks(*copy), ElementsAre("hook: onLostOperation(@INVALID_TERMINAL,)",
                                                  "hook: onGainedOperation(T2,drag with blanks)"));
    size_t sentBefore = copy->sent().size();

    FakeTime::advance(2);
    pause(CViewableElement::HOLDER_CHECK_MS * 3);
    EXPECT_EQ(sentBefore, copy->sent().size()) << "no renewal before 3 seconds";
    FakeTime::advance(1);
    ASSERT_TRUE(copy->waitSent(sentBefore + 1, 5000));
    FakeTime::advance(3);
    ASSERT_TRUE(copy->waitSent(sentBefore + 2, 5000));
    EXPECT_THAT(sentSince(*copy, sentBefore),
                ElementsAre("@HAS_MASTER REQ_continueOperator(drag with blanks)",
                            "@HAS_MASTER REQ_continueOperator(drag with blanks)"));

    copy->deliverStr("HOST", "@HAS_SLAVE", "INS_updateOperator", "@INVALID_TERMINAL ");
    copy->settle();
    EXPECT_FALSE(copy->element->isOperator());
    EXPECT_EQ("", copy->element->getRequestId());
    size_t afterLoss = copy->sent().size();
    FakeTime::advance(30);
    pause(CViewableElement::HOLDER_CHECK_MS * 3);
    EXPECT_EQ(afterLoss, copy->sent().size()) << "no renewals once the right is gone";
}

TEST(OperatorRight, UnsynchronisedSlaveIgnoresUpdates)
{
    auto copy = std::make_unique<ViewableCopy>(
        "T2", [](EventLog& log, IElementDisplay* display) { return new TestViewable(log, display); });
    copy->plugIn();
    copy->deliverStr("HOST", "T2", "INS_initOperator", "T3");
    copy->deliverStr("HOST", "@HAS_SLAVE", "INS_updateOperator", "T2 r");
    copy->settle();
    EXPECT_EQ("T3", copy->element->getOperator()) << "it keeps what INS_initOperator gave it";
    EXPECT_THAT(operatorHooks(*copy), IsEmpty()) << "INS_initOperator runs no hooks";
}

TEST(OperatorRight, MalformedUpdateIsReportedAndIgnored)
{
    for (const char* text : {"no-blank", " empty terminal", ""}) {
        SCOPED_TRACE(text);
        auto copy = synchronisedSlave("T2");
        copy->log.clear();
        TraceCapture trace;
        copy->deliverStr("HOST", "@HAS_SLAVE", "INS_updateOperator", text);
        copy->settle();
        EXPECT_EQ("@INVALID_TERMINAL", copy->element->getOperator());
        EXPECT_THAT(operatorHooks(*copy), IsEmpty());
        EXPECT_EQ(1, errorLines(trace, "INS_updateOperator")) << trace.text();
    }
}

TEST(OperatorRight, PlugOutStopsTheLeaseTick)
{
    FakeTime time;
    auto copy = synchronisedSlave("T2");
    copy->deliverStr("HOST", "@HAS_SLAVE", "INS_updateOperator", "T2 r");
    copy->settle();
    ASSERT_TRUE(copy->element->isOperator());
    TraceCapture trace;
    copy->plugOut();
    size_t sentBefore = copy->sent().size();
    FakeTime::advance(10);
    pause(CViewableElement::HOLDER_CHECK_MS * 4);
    EXPECT_EQ(sentBefore, copy->sent().size());
    EXPECT_EQ(0, trace.count("ERROR")) << trace.text();
}

TEST(OperatorRight, MasterPluggedInAgainKeepsTakingTheRightBack)
{
    FakeTime time;
    auto copy = grantedMaster("T2", "r");
    copy->plugOut();
    copy->plugIn();
    copy->settle();
    size_t sentBefore = copy->sent().size();
    FakeTime::advance(CViewableElement::EXPIRY_SECONDS + 1);
    ASSERT_TRUE(copy->waitSent(sentBefore + 1, MASTER_CHECK_WAIT_MS));
    EXPECT_THAT(sentSince(*copy, sentBefore), ElementsAre(RELEASE));
}

// The tick runs on the shared clock's thread: what fails in it (here a take-back posted to an
// element that was never started, a renewal from a copy that is in no session) is reported
// there and never thrown.
TEST(OperatorRight, FailuresOfTheTickAreReportedNotThrown)
{
    EventLog log;
    TestViewable master(log, nullptr, ViewTexts(), "VIEW-7");
    TestViewable slave(log, nullptr);
    for (TestViewable* element : {&master, &slave}) {
        SCOPED_TRACE(element->isMaster() ? "master" : "slave");
        TraceCapture trace;
        EXPECT_NO_THROW(element->timeElapsed(0)); // a lease stamped long ago
        EXPECT_EQ(1, errorLines(trace, "timeElapsed()")) << trace.text();
    }
}

// The clock belongs to the viewable elements alive; no other test keeps one alive past its end.
TEST(OperatorRight, TheLastElementDeletesTheSharedClockAndTheNextMakesANewOne)
{
    TraceCapture trace;
    EventLog log;
    const std::string created = "creates the thread [VIEW_ELEM_CLOCK]";
    const std::string released = "the clock object is released";
    auto* first = new TestViewable(log, nullptr);
    auto* second = new TestViewable(log, nullptr);
    EXPECT_EQ(1, trace.count(created));
    delete first;
    EXPECT_EQ(0, trace.count(released));
    delete second;
    EXPECT_EQ(1, trace.count(released));
    auto* third = new TestViewable(log, nullptr);
    EXPECT_EQ(2, trace.count(created));
    delete third;
    EXPECT_EQ(2, trace.count(released));
    EXPECT_EQ(0, trace.count("ERROR")) << trace.text();
}

} // namespace
