// Viewable elements across a session of one host and two joined terminals: synchronisation,
// cooperative changes, the operator right with its lease, and removal while the clock ticks.
#include "CLocalMethod.h"
#include "SessionHub.h"
#include "TestSupport.h"
#include "ViewableFixtures.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>

using testing::ElementsAre;
using testing::ElementsAreArray;

namespace {

const char INVALID[] = "@INVALID_TERMINAL";

// One copy of an element on one terminal of the hub, plugged in from construction to
// destruction.
class SessionCopy {
public:
    // A master shown by a view id, or a replica.
    SessionCopy(HubTerminal& terminal, const std::string& elementId, bool master,
                const std::string& masterTerminal = "")
        : terminal_(terminal), elementId_(elementId)
    {
        if (master)
            element = new TestViewable(log, &display, ViewTexts(), "VIEW-" + elementId);
        else
            element = new TestViewable(log, &display);
        element->setId(elementId);
        if (!master)
            element->setMasterTerminal(masterTerminal);
        element->start(elementId + (master ? "-M" : "-S"));
        terminal_.plugIn("", element);
    }
    ~SessionCopy()
    {
        remove();
    }
    SessionCopy(const SessionCopy&) = delete;
    SessionCopy& operator=(const SessionCopy&) = delete;

    // Plugs out, ends and deletes, as a shared space removes a member.
    void remove()
    {
        if (element == nullptr)
            return;
        terminal_.plugOut(elementId_);
        element->end();
        delete element;
        element = nullptr;
    }

    void post(const std::string& method) { CLocalMethod::postMethod(element->getObjectId(), method); }
    void postStr(const std::string& method, const std::string& text)
    {
        CLocalMethod::postMethodStr(element->getObjectId(), method, text);
    }
    bool waitSynchronised() { return log.waitFor("display: setEntity(element)"); }
    std::vector<std::string> hooks() { return log.starting("hook: on"); }

    EventLog log;
    FakeDisplay display{log};
    TestViewable* element = nullptr;

private:
    HubTerminal& terminal_;
    std::string elementId_;
};

// The element on its three terminals: the master on masterTerminal, replicas on the others.
struct Replicated {
    Replicated(SessionHub& hub, const std::string& elementId, const std::string& masterTerminal)
    {
        std::vector<std::string> terminals = {"HOST", "T1", "T2"};
        copies[masterTerminal] = std::make_unique<SessionCopy>(hub.terminal(masterTerminal), elementId, true);
        for (const std::string& terminal : terminals)
            if (terminal != masterTerminal)
                copies[terminal] =
                    std::make_unique<SessionCopy>(hub.terminal(terminal), elementId, false, masterTerminal);
    }
    SessionCopy& operator[](const std::string& terminal) { return *copies.at(terminal); }
    bool waitSynchronised()
    {
        for (auto& copy : copies)
            if (!copy.second->waitSynchronised())
                return false;
        return true;
    }
    // Once all copies are synchronised, the terminal asks for the right; true once every copy
    // knows it holds it.
    bool grant(const std::string& terminal, const std::string& requestId)
    {
        if (!waitSynchronised())
            return false;
        (*this)[terminal].postStr("LOC_assignToOperator", requestId);
        return waitHolder(terminal, requestId);
    }
    // True once every copy has run the hooks of a change to holder.
    bool waitHolder(const std::string& holder, const std::string& requestId, int times = 1)
    {
        for (auto& copy : copies)
            if (!copy.second->log.waitFor("hook: onGainedOperation(" + holder + "," + requestId + ")", times))
                return false;
        return true;
    }

    std::map<std::string, std::unique_ptr<SessionCopy>> copies;
};

struct ThreeTerminals : testing::Test {
    ThreeTerminals()
    {
        hub.join("T1");
        hub.join("T2");
    }
    SessionHub hub;
};

// The traffic that reached one terminal for one element, as "sender>method".
std::vector<std::string> trafficTo(SessionHub& hub, const std::string& terminal, const std::string& elementId)
{
    std::vector<std::string> lines;
    for (const std::string& line : hub.traffic()) {
        size_t arrow = line.find('>');
        size_t blank = line.find(' ', arrow);
        size_t second = line.find(' ', blank + 1);
        if (line.substr(arrow + 1, blank - arrow - 1) == terminal
            && line.substr(blank + 1, second - blank - 1) == elementId)
            lines.push_back(line.substr(0, arrow) + ">" + line.substr(second + 1));
    }
    return lines;
}

TEST_F(ThreeTerminals, ReplicasSynchroniseInOrderAndShowTheMastersView)
{
    Replicated element(hub, "E1", "T1");
    ASSERT_TRUE(element.waitSynchronised());
    for (const char* slave : {"HOST", "T2"}) {
        SCOPED_TRACE(slave);
        EXPECT_THAT(trafficTo(hub, slave, "E1"),
                    ElementsAre("T1>INS_initLocation", "T1>INS_initSize", "T1>INS_initMotion", "T1>INS_initDecoration",
                                "T1>INS_initAttribute", "T1>INS_initViewId", "T1>INS_initOperator",
                                "T1>INS_initExtra", "T1>endSync"));
        SessionCopy& copy = element[slave];
        std::string plugInText = std::string(slave) == "HOST" ? "LC" : "RM";
        EXPECT_TRUE(copy.element->isSynchronized());
        ViewTexts texts;
        EXPECT_THAT(copy.log.events(),
                    ElementsAre("hook: onPlugInViewableElement(" + plugInText + ")",
                                "hook: INS_initExtra(extra)", "hook: onEndSyncViewableElement(not synchronised)",
                                "display: setEntity(element)", "display: setLocation(" + texts.location + ")",
                                "display: setSize(" + texts.size + ")", "display: setMotion(" + texts.motion + ")",
                                "display: setDecoration(" + texts.decoration + ")",
                                "display: setAttribute(" + texts.attribute + ")", "display: setViewId(VIEW-E1)"));
    }
}

TEST_F(ThreeTerminals, ChangeEnteredOnTheHolderRunsOnceOnEveryOtherCopy)
{
    Replicated element(hub, "E1", "HOST");
    ASSERT_TRUE(element.grant("T2", "drag 1"));

    for (auto& copy : element.copies)
        copy.second->log.clear();
    element["T2"].postStr("LOC_updateLocation", "10  20 ");
    element["T2"].postStr("LOC_updateDecoration", "");
    element["T2"].post("LOC_startMotion");
    element["T2"].postStr("LOC_updateSize", "last");
    for (const char* other : {"HOST", "T1"})
        ASSERT_TRUE(element[other].log.waitFor("display: setSize(last)")) << other;
    for (const char* other : {"HOST", "T1"}) {
        SCOPED_TRACE(other);
        EXPECT_THAT(element[other].log.starting("display: "),
                    ElementsAre("display: setLocation(10  20 )", "display: setDecoration()", "display: startMotion()",
                                "display: setSize(last)"));
    }
    EXPECT_TRUE(element["T2"].log.starting("display: ").empty()) << "not again where it was entered";

    // The master's own change once it holds the right.
    element["T2"].post("LOC_removeFromOperator");
    ASSERT_TRUE(element.waitHolder(INVALID, ""));
    element["HOST"].postStr("LOC_assignToOperator", "host drag");
    ASSERT_TRUE(element.waitHolder("HOST", "host drag"));
    element["HOST"].postStr("LOC_updateMotion", "1 2 3");
    for (const char* other : {"T1", "T2"})
        EXPECT_TRUE(element[other].log.waitFor("display: setMotion(1 2 3)")) << other;
    EXPECT_EQ(0, element["HOST"].log.count("display: setMotion(1 2 3)"));
}

TEST_F(ThreeTerminals, FirstRequestWinsAndTheLoserLearnsTheHolder)
{
    Replicated element(hub, "E1", "HOST");
    ASSERT_TRUE(element.waitSynchronised());
    element["T1"].postStr("LOC_assignToOperator", "from T1");
    element["T2"].postStr("LOC_assignToOperator", "from T2");
    // Whichever request the master ran first holds the right on every copy; the other is forgotten.
    std::string winner;
    for (int i = 0; i < 100 && winner.empty(); ++i) {
        std::string holder = element["HOST"].element->getOperator();
        if (holder != INVALID)
            winner = holder;
        else
            pause(50);
    }
    ASSERT_FALSE(winner.empty());
    ASSERT_TRUE(element.waitHolder(winner, "from " + winner));
    pause(500);
    for (auto& copy : element.copies) {
        SCOPED_TRACE(copy.first);
        EXPECT_EQ(winner, copy.second->element->getOperator());
        EXPECT_EQ(1u, copy.second->log.starting("hook: onGainedOperation(").size()) << "one change only";
    }
    EXPECT_TRUE(element[winner].element->isOperator());
}

TEST_F(ThreeTerminals, ReleaseRunsTheHooksOnEveryCopy)
{
    Replicated element(hub, "E1", "T1");
    ASSERT_TRUE(element.grant("T2", "r 2"));
    for (auto& copy : element.copies)
        copy.second->log.clear();
    element["T2"].post("LOC_removeFromOperator");
    ASSERT_TRUE(element.waitHolder(INVALID, ""));
    for (auto& copy : element.copies) {
        SCOPED_TRACE(copy.first);
        EXPECT_THAT(copy.second->hooks(),
                    ElementsAre("hook: onLostOperation(T2,r 2)", "hook: onGainedOperation(@INVALID_TERMINAL,)"));
        EXPECT_FALSE(copy.second->element->isOperator());
    }
}

TEST_F(ThreeTerminals, RenewalsKeepTheRightAndASilentHolderLosesIt)
{
    FakeTime time;
    Replicated element(hub, "E1", "HOST");
    ASSERT_TRUE(element.grant("T2", "lease"));
    time_t granted = FakeTime::now();
    {
        TimeRunner runner(400); // the holder checks every 375 ms, the master every 1500 ms
        while (FakeTime::now() - granted < 4 * CViewableElement::EXPIRY_SECONDS)
            pause(100);
    }
    EXPECT_EQ("T2", element["HOST"].element->getOperator()) << "renewed for four lease times";
    EXPECT_EQ(0, element["HOST"].log.count("hook: onLostOperation(T2,lease)"));

    hub.cut("T2"); // the holder vanishes without a word
    FakeTime::advance(CViewableElement::EXPIRY_SECONDS + 1);
    for (const char* other : {"HOST", "T1"}) {
        SCOPED_TRACE(other);
        ASSERT_TRUE(element[other].log.waitFor("hook: onGainedOperation(@INVALID_TERMINAL,)", 1, 5000));
        EXPECT_THAT(element[other].log.starting("hook: onLostOperation(T2"),
                    ElementsAre("hook: onLostOperation(T2,lease)"));
        EXPECT_EQ(INVALID, element[other].element->getOperator());
    }

    element["T1"].postStr("LOC_assignToOperator", "next");
    EXPECT_TRUE(element["HOST"].log.waitFor("hook: onGainedOperation(T1,next)")) << "the right is free again";
}

// Copies come and go on all three terminals while their leases are busy: renewals, expiries and
// releases keep crossing the removals, and the shared clock goes and comes with the elements.
// Nothing of it may end the process.
TEST_F(ThreeTerminals, RemovingElementsWhileTheClockTicksEndsNothing)
{
    FakeTime time;
    TimeRunner runner(60); // a lease second every 60 ms: renewals and expiries all the time
    TraceCapture trace;
    const char* const terminals[] = {"HOST", "T1", "T2"};
    for (int round = 0; round < 6; ++round) {
        std::vector<std::unique_ptr<Replicated>> elements;
        for (int i = 0; i < 3; ++i) {
            std::string id = "R" + std::to_string(round) + "-" + std::to_string(i);
            elements.push_back(std::make_unique<Replicated>(hub, id, terminals[i]));
        }
        for (int i = 0; i < 3; ++i) {
            ASSERT_TRUE(elements[i]->waitSynchronised());
            (*elements[i])[terminals[(i + 1) % 3]].postStr("LOC_assignToOperator", "round " + std::to_string(round));
        }
        pause(100 * round);
        for (int i = 0; i < 3; ++i) {
            Replicated& element = *elements[i];
            const std::string master = terminals[i];
            const std::string holder = terminals[(i + 1) % 3];
            switch (round % 3) {
            case 0: // the master first, its replicas still renewing
                element[master].remove();
                break;
            case 1: // the replicas first
                for (const char* terminal : terminals)
                    if (terminal != master)
                        element[terminal].remove();
                break;
            default: // the holder vanishes; the master takes the right back while the rest go
                element[holder].remove();
                break;
            }
        }
        if (round % 3 == 2)
            pause(CViewableElement::MASTER_CHECK_MS + 200);
        elements.clear();
    }
    EXPECT_EQ(0, trace.count("FATAL")) << trace.text();
    EXPECT_EQ(0, trace.count("ASSERT")) << trace.text();
    EXPECT_GT(trace.count("renews the lease"), 0);
    EXPECT_GT(trace.count("the holding period has passed"), 0);
}

} // namespace
