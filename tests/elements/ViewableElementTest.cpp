// The view values of a viewable element: what a master sends a synchronising slave, what the
// slave stores and shows, local changes behind the operator right, and cooperative changes.
#include "CLocalMethod.h"
#include "TestSupport.h"
#include "ViewableCopy.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

using testing::ElementsAre;
using testing::ElementsAreArray;
using testing::IsEmpty;

namespace {

std::vector<std::string> displayCalls(ViewableCopy& copy)
{
    return copy.log.starting("display: ");
}

// ---- synchronisation

struct SyncCase {
    const char* name;
    bool picture;
    std::vector<std::string> expected;
};

void PrintTo(const SyncCase& c, std::ostream* out)
{
    *out << c.name;
}

class MasterSync : public testing::TestWithParam<SyncCase> {};

TEST_P(MasterSync, SendsViewValuesThenOperatorThenOwnValuesThenEndsSync)
{
    ViewTexts texts;
    auto copy = std::make_unique<ViewableCopy>("HOST", [&](EventLog& log, IElementDisplay* display) {
        if (GetParam().picture)
            return new TestViewable(log, display, texts, std::vector<unsigned char>{'P', 'I', 'X', 'E', 'L', 'S'},
                                    160, 120);
        return new TestViewable(log, display, texts, "VIEW-7");
    });
    copy->plugIn();
    copy->deliver("T2", "@HAS_MASTER", "requestSync");
    ASSERT_TRUE(copy->waitSent(GetParam().expected.size()));
    copy->settle();
    EXPECT_THAT(copy->sent(), ElementsAreArray(GetParam().expected));
}

INSTANTIATE_TEST_SUITE_P(
    ViewableElement, MasterSync,
    testing::Values(SyncCase{"ViewId", false,
                             {"T2 INS_initLocation(10 20)", "T2 INS_initSize(120 90)", "T2 INS_initMotion()",
                              "T2 INS_initDecoration(deco)", "T2 INS_initAttribute(1234 file.txt)",
                              "T2 INS_initViewId(VIEW-7)", "T2 INS_initOperator(@INVALID_TERMINAL)",
                              "T2 INS_initExtra(extra)", "T2 endSync()"}},
                    SyncCase{"Picture", true,
                             {"T2 INS_initLocation(10 20)", "T2 INS_initSize(120 90)", "T2 INS_initMotion()",
                              "T2 INS_initDecoration(deco)", "T2 INS_initAttribute(1234 file.txt)",
                              "T2 INS_initViewData(PIXELS)", "T2 INS_initViewSize(160 120)",
                              "T2 INS_initOperator(@INVALID_TERMINAL)", "T2 INS_initExtra(extra)",
                              "T2 endSync()"}}),
    [](const testing::TestParamInfo<SyncCase>& info) { return std::string(info.param.name); });

TEST(ViewableElement, SlaveStoresTheInitialValuesAndFillsItsDisplayOnceAtTheEnd)
{
    auto copy = std::make_unique<ViewableCopy>(
        "T2", [](EventLog& log, IElementDisplay* display) { return new TestViewable(log, display); });
    copy->plugIn();
    ASSERT_TRUE(copy->waitSent(1));
    EXPECT_THAT(copy->sent(), ElementsAre("@HAS_MASTER requestSync()"));

    copy->deliverStr("HOST", "T2", "INS_initLocation", "1 2");
    copy->deliverStr("HOST", "T2", "INS_initSize", "3 4");
    copy->deliverStr("HOST", "T2", "INS_initMotion", "5 6 7 8");
    copy->deliverStr("HOST", "T2", "INS_initDecoration", "marked");
    copy->deliverStr("HOST", "T2", "INS_initAttribute", "99 a b.txt");
    copy->deliverBuf("HOST", "T2", "INS_initViewData", "PIXELS");
    copy->deliverStr("HOST", "T2", "INS_initViewSize", "640 480");
    copy->deliverStr("HOST", "T2", "INS_initOperator", "T3");
    copy->settle();
    EXPECT_THAT(displayCalls(*copy), IsEmpty()) << "the initial values only store";
    EXPECT_FALSE(copy->element->isSynchronized());

    copy->deliver("HOST", "T2", "endSync");
    copy->settle();
    EXPECT_TRUE(copy->element->isSynchronized());
    EXPECT_EQ("T3", copy->element->getOperator());
    EXPECT_EQ("", copy->element->getRequestId());
    std::vector<std::string> events = copy->log.events();
    std::vector<std::string> fromEndSync(std::find(events.begin(), events.end(),
                                                   "hook: onEndSyncViewableElement(not synchronised)"),
                                         events.end() - 1);
    EXPECT_THAT(fromEndSync,
                ElementsAre("hook: onEndSyncViewableElement(not synchronised)", "display: setEntity(element)",
                            "display: setLocation(1 2)", "display: setSize(3 4)", "display: setMotion(5 6 7 8)",
                            "display: setDecoration(marked)", "display: setAttribute(99 a b.txt)",
                            "display: setViewData(6 PIXELS 640 480)"));
}

TEST(ViewableElement, SlavePluggedInAgainReplacesItsPicture)
{
    TraceCapture trace;
    auto copy = std::make_unique<ViewableCopy>(
        "T2", [](EventLog& log, IElementDisplay* display) { return new TestViewable(log, display); });
    for (const char* picture : {"FIRST", "SECOND-PICTURE"}) {
        copy->plugIn();
        copy->deliverBuf("HOST", "T2", "INS_initViewData", picture);
        copy->deliverStr("HOST", "T2", "INS_initViewSize", "8 9");
        copy->deliver("HOST", "T2", "endSync");
        copy->settle();
        copy->plugOut();
    }
    std::vector<std::string> pictures = copy->log.starting("display: setViewData");
    EXPECT_THAT(pictures,
                ElementsAre("display: setViewData(5 FIRST 8 9)", "display: setViewData(14 SECOND-PICTURE 8 9)"));
    EXPECT_EQ(2, copy->log.count("display: setEntity(null)")) << "each plug-out unbinds the display";
    EXPECT_EQ(0, trace.count("ERROR")) << trace.text();
}

TEST(ViewableElement, PlugOutUnbindsTheDisplayWhichStaysForTheNextSynchronisation)
{
    // This element attaches no display itself: the test gives it one once.
    auto copy = std::make_unique<ViewableCopy>(
        "T2", [](EventLog& log, IElementDisplay*) { return new TestViewable(log, nullptr); });
    copy->plugIn();
    copy->deliver("HOST", "T2", "endSync");
    copy->settle();
    copy->element->setElementDisplay(&copy->display);
    copy->plugOut();
    EXPECT_EQ("display: setEntity(null)", displayCalls(*copy).back());
    EXPECT_EQ(1, copy->log.count("hook: onPlugOutViewableElement(FAKE)"));

    copy->log.clear();
    copy->plugIn();
    copy->deliverStr("HOST", "T2", "INS_initLocation", "7 7");
    copy->deliver("HOST", "T2", "endSync");
    copy->settle();
    EXPECT_EQ(1, copy->log.count("display: setEntity(element)"));
    EXPECT_EQ(1, copy->log.count("display: setLocation(7 7)"));
}

// ---- a peer's mistakes never end the process

struct WrongRoleCase {
    const char* method;
    const char* argument; // null: no argument
    bool toMaster;
};

void PrintTo(const WrongRoleCase& c, std::ostream* out)
{
    *out << c.method;
}

class WrongRole : public testing::TestWithParam<WrongRoleCase> {};

TEST_P(WrongRole, IsReportedAndIgnored)
{
    const WrongRoleCase& c = GetParam();
    std::unique_ptr<ViewableCopy> copy = c.toMaster ? masterCopy() : synchronisedSlave();
    copy->log.clear();
    size_t sentBefore = copy->sent().size();
    std::string before = copy->element->getOperator();
    TraceCapture trace;
    if (c.argument == nullptr)
        copy->deliver("T3", copy->session.terminalId, c.method);
    else
        copy->deliverStr("T3", copy->session.terminalId, c.method, c.argument);
    copy->settle();
    EXPECT_EQ(1, errorLines(trace, c.method)) << trace.text();
    EXPECT_EQ(sentBefore, copy->sent().size()) << "nothing is sent";
    EXPECT_EQ(before, copy->element->getOperator());
    EXPECT_THAT(copy->log.starting("hook: onGained"), IsEmpty());

    copy->element->intiView(&copy->display);
    EXPECT_EQ(1, copy->log.count("display: setLocation(10 20)")) << "the view values stay";
    EXPECT_EQ(1, copy->log.count("display: setViewId(VIEW-7)"));
}

INSTANTIATE_TEST_SUITE_P(ViewableElement, WrongRole,
                         testing::Values(WrongRoleCase{"INS_initLocation", "0 0", true},
                                         WrongRoleCase{"INS_initViewId", "OTHER", true},
                                         WrongRoleCase{"INS_initViewData", "BYTES", true},
                                         WrongRoleCase{"INS_initViewSize", "1 1", true},
                                         WrongRoleCase{"INS_initOperator", "T3", true},
                                         WrongRoleCase{"INS_updateOperator", "T3 r", true},
                                         WrongRoleCase{"endSync", nullptr, true},
                                         WrongRoleCase{"REQ_assignToOperator", "r", false},
                                         WrongRoleCase{"REQ_continueOperator", "r", false},
                                         WrongRoleCase{"REQ_removeFromOperator", nullptr, false},
                                         WrongRoleCase{"LOC_noOperator", nullptr, false}),
                         [](const testing::TestParamInfo<WrongRoleCase>& info) {
                             return std::string(info.param.method);
                         });

TEST(ViewableElement, MalformedInitialValuesAreReportedAndIgnored)
{
    auto copy = synchronisedSlave();
    TraceCapture trace;
    copy->deliverStr("HOST", "T2", "INS_initOperator", "");
    copy->deliverBuf("HOST", "T2", "INS_initViewData", "PIXELS");
    copy->deliverStr("HOST", "T2", "INS_initViewId", "OTHER"); // a picture is shown now
    copy->settle();
    EXPECT_EQ("@INVALID_TERMINAL", copy->element->getOperator());
    EXPECT_EQ(1, errorLines(trace, "INS_initOperator")) << trace.text();
    EXPECT_EQ(1, errorLines(trace, "INS_initViewId")) << trace.text();
}

// ---- local changes and the operator right

struct ChangeCase {
    const char* local;  // the "LOC_" method
    const char* argument;
    const char* cop;    // what goes out
    const char* copArgument;
};

const ChangeCase CHANGES[] = {
    {"LOC_updateLocation", "30 40", "COP_updateLocation", "30 40"},
    {"LOC_updateSize", "200 150", "COP_updateSize", "200 150"},
    {"LOC_updateMotion", "1 1 2 2", "COP_updateMotion", "1 1 2 2"},
    {"LOC_updateDecoration", "red", "COP_updateDecoration", "red"},
    {"LOC_startMotion", nullptr, "COP_startMotion", "dammy"},
    {"LOC_stopMotion", nullptr, "COP_stopMotion", "dammy"},
};

void postLocal(ViewableCopy& copy, const ChangeCase& change)
{
    if (change.argument == nullptr)
        CLocalMethod::postMethod(copy.element->getObjectId(), change.local);
    else
        CLocalMethod::postMethodStr(copy.element->getObjectId(), change.local, change.argument);
    copy.settle();
}

TEST(ViewableElement, LocalChangesNeedTheOperatorRightUnlessNoneIsRequired)
{
    for (const ChangeCase& change : CHANGES) {
        SCOPED_TRACE(change.local);
        auto copy = masterCopy();
        copy->deliverStr("T2", "@HAS_MASTER", "REQ_assignToOperator", "r");
        copy->settle();
        size_t sentBefore = copy->sent().size();
        copy->log.clear();

        postLocal(*copy, change);
        EXPECT_EQ(sentBefore, copy->sent().size()) << "T2 holds the right: nothing is sent";
        copy->element->intiView(&copy->display);
        EXPECT_EQ(1, copy->log.count("display: setLocation(10 20)")) << "nothing is stored";
        EXPECT_EQ(1, copy->log.count("display: setSize(120 90)"));
        EXPECT_EQ(1, copy->log.count("display: setDecoration(deco)"));

        copy->element->setOperatorRequired(false);
        copy->log.clear();
        postLocal(*copy, change);
        ASSERT_TRUE(copy->waitSent(sentBefore + 1));
        EXPECT_EQ(std::string("@HAS_SLAVE ") + change.cop + "(" + change.copArgument + ")", copy->sent().back());
        EXPECT_THAT(displayCalls(*copy), IsEmpty()) << "the own display is where the change was made";
        if (change.argument != nullptr) {
            copy->element->intiView(&copy->display);
            EXPECT_TRUE(copy->log.contains(std::string("(") + change.argument + ")")) << "stored";
        }
    }
}

TEST(ViewableElement, ChangesEnteredOnTheHoldingSlaveGoThroughTheMaster)
{
    auto copy = synchronisedSlave("T2");
    copy->deliverStr("HOST", "@HAS_SLAVE", "INS_updateOperator", "T2 r");
    copy->settle();
    ASSERT_TRUE(copy->element->isOperator());
    for (const ChangeCase& change : CHANGES) {
        SCOPED_TRACE(change.local);
        size_t sentBefore = copy->sent().size();
        copy->log.clear();
        postLocal(*copy, change);
        ASSERT_TRUE(copy->waitSent(sentBefore + 1));
        EXPECT_EQ(std::string("@HAS_MASTER REQ_executeMasterMethod(T2 ") + change.cop + " " + change.copArgument + ")",
                  copy->sent()[sentBefore]);
        EXPECT_THAT(displayCalls(*copy), IsEmpty());
    }
}

TEST(ViewableElement, DirectSendersPassTheSameGateOnTheCallersThread)
{
    auto copy = masterCopy();
    size_t sentBefore = copy->sent().size();
    copy->element->updateLocation("1 1");
    copy->element->startMotion();
    copy->element->updateMotion("2 2");
    copy->element->stopMotion();
    EXPECT_EQ(sentBefore, copy->sent().size()) << "nobody holds the right";

    CLocalMethod::postMethodStr(copy->element->getObjectId(), "LOC_assignToOperator", "mine");
    copy->settle();
    ASSERT_TRUE(copy->element->isOperator());
    sentBefore = copy->sent().size();
    copy->element->updateLocation("1 1");
    copy->element->startMotion();
    copy->element->updateMotion("2 2");
    copy->element->stopMotion();
    ASSERT_TRUE(copy->waitSent(sentBefore + 4));
    std::vector<std::string> sent = copy->sent();
    EXPECT_THAT(std::vector<std::string>(sent.begin() + sentBefore, sent.end()),
                ElementsAre("@HAS_SLAVE COP_updateLocation(1 1)", "@HAS_SLAVE COP_startMotion(dammy)",
                            "@HAS_SLAVE COP_updateMotion(2 2)", "@HAS_SLAVE COP_stopMotion(dammy)"));
}

struct CopCase {
    const char* method;
    const char* argument;
    const char* shown;
};

TEST(ViewableElement, CooperativeCallsStoreAndReachTheDisplay)
{
    const CopCase cases[] = {
        {"COP_updateLocation", "50 60", "display: setLocation(50 60)"},
        {"COP_updateSize", "70 80", "display: setSize(70 80)"},
        {"COP_startMotion", "dammy", "display: startMotion()"},
        {"COP_updateMotion", "1 2 3 4", "display: setMotion(1 2 3 4)"},
        {"COP_stopMotion", "dammy", "display: stopMotion()"},
        {"COP_updateDecoration", "blue", "display: setDecoration(blue)"},
    };
    auto copy = synchronisedSlave();
    copy->log.clear();
    std::vector<std::string> expected;
    for (const CopCase& c : cases) {
        copy->deliverStr("HOST", "@HAS_SLAVE", c.method, c.argument);
        expected.push_back(c.shown);
    }
    copy->settle();
    EXPECT_THAT(displayCalls(*copy), ElementsAreArray(expected));
}

TEST(ViewableElement, CooperativeCallWithoutDisplayChangesTheFieldOnly)
{
    auto copy = std::make_unique<ViewableCopy>(
        "T2", [](EventLog& log, IElementDisplay*) { return new TestViewable(log, nullptr); });
    copy->plugIn();
    copy->deliverStr("HOST", "T2", "INS_initLocation", "1 1");
    copy->deliver("HOST", "T2", "endSync");
    copy->deliverStr("HOST", "@HAS_SLAVE", "COP_updateLocation", "9 9");
    copy->deliverStr("HOST", "@HAS_SLAVE", "COP_updateDecoration", "green");
    copy->settle();
    EXPECT_THAT(displayCalls(*copy), IsEmpty());

    copy->element->setElementDisplay(&copy->display);
    EXPECT_EQ(1, copy->log.count("display: setLocation(9 9)"));
    EXPECT_EQ(1, copy->log.count("display: setDecoration(green)"));
}

} // namespace
