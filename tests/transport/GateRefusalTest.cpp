// A peer's call never reaches this terminal's local methods ("LOC_..."), nor does a call that
// names no sending terminal; the same methods posted inside the process still run, and answers
// keep coming back under the macro they were asked under.
#include "CElement.h"
#include "CJString.h"
#include "CLocalMethod.h"
#include "CMessageGate.h"
#include "CMethodCallMessage.h"
#include "CProxyElement.h"
#include "CTimeOutException.h"
#include "SessionHub.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

namespace {

using Entries = std::vector<std::string>;

// Plugged in on the host; notes "<method> <caller terminal> <text>" for each call it runs.
class LocalProbe : public CElement {
public:
    explicit LocalProbe(Journal& journal) : journal_(journal)
    {
        setElementId("GATE_PROBE");
        registerMethod("LOC_note", &LocalProbe::LOC_note);
        registerMethod("note", &LocalProbe::note);
        registerMethod("LOC_ask", &LocalProbe::LOC_ask);
        registerMethod("ask", &LocalProbe::ask);
    }

private:
    void LOC_note(const std::string& text) { journal_.add("LOC_note " + getCallerTerminal() + " " + text); }
    void note(const std::string& text) { journal_.add("note " + getCallerTerminal() + " " + text); }
    ISerializable* LOC_ask() { return new CJString("local answer"); }
    ISerializable* ask() { return new CJString("answer"); }

    Journal& journal_;
};

class GateRefusalTest : public ::testing::Test {
protected:
    GateRefusalTest() : probe_(journal_)
    {
        probe_.start("GATE_PROBE");
        hub_.host().plugIn("", &probe_);
        hub_.join("A");
    }
    ~GateRefusalTest() override
    {
        hub_.host().plugOut("GATE_PROBE");
        probe_.end();
    }

    // A call as it comes off the wire from terminal A's connection, with any sender written in.
    void sendFromA(const std::string& sender, const std::string& method, const std::string& text)
    {
        hub_.terminal("A").gate().notifyMessage(CMethodCallMessage::createRemoteCall(
            "HOST", "GATE_PROBE", sender, "PROXY", method, static_cast<unsigned>(text.size()), text.data()));
    }

    // Calls are run in arrival order: once the marker ran, every call before it was dealt with.
    // Gives what ran since the entry at before, the marker left out.
    Entries settle(size_t before)
    {
        std::string marker = "end" + std::to_string(++markers_);
        hub_.terminal("A").proxy().sendNotice("HOST", "GATE_PROBE", "note", static_cast<unsigned>(marker.size()),
                                              marker.data());
        std::string entry = "note A " + marker;
        EXPECT_TRUE(waitUntil([&] {
            Entries entries = journal_.entries();
            return !entries.empty() && entries.back() == entry;
        }));
        Entries entries = journal_.entries();
        return Entries(entries.begin() + before, entries.end() - 1);
    }

    int markers_ = 0;
    TraceCapture trace_;
    Journal journal_;
    LocalProbe probe_;
    SessionHub hub_{"HOST", 2000}; // the unanswered query's wait
};

TEST_F(GateRefusalTest, PeersCallsOfLocalMethodsAndCallsWithoutSenderAreDroppedWithAnErrorLine)
{
    struct Case {
        const char* sender;
        const char* method;
        const char* refusal; // nullptr: the call runs
    };
    const Case cases[] = {
        {"A", "note", nullptr},
        {"A", "LOC_note", "a peer's call of a local method"},
        {"HOST", "LOC_note", "a peer's call of a local method"},
        {"A", "LOC_", "a peer's call of a local method"},
        {"", "note", "a call without a sending terminal"},
        {"@LOCAL_TERMINAL", "note", "a call without a sending terminal"},
        {"@HOST_TERMINAL", "note", "a call without a sending terminal"},
        {"@", "note", "a call without a sending terminal"},
        {"", "LOC_note", "a peer's call of a local method"},
        {"B@", "note", nullptr},
        {"A", "loc_note", nullptr}, // another method (not registered): the element reports it
        {"A", "xLOC_note", nullptr},
    };
    Entries expected;
    int refused = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.sender) + " " + c.method);
        trace_.clear();
        size_t before = journal_.entries().size();
        sendFromA(c.sender, c.method, "x");
        Entries ran = settle(before);
        if (c.refusal != nullptr) {
            EXPECT_TRUE(ran.empty());
            EXPECT_EQ(1, trace_.count(std::string("ERROR: [ CMessageGate ] onProcessMessage(): ") + c.refusal +
                                      " is dropped"));
            ++refused;
        } else {
            if (std::string(c.method) == "note")
                EXPECT_EQ(Entries{std::string("note ") + c.sender + " x"}, ran);
            else
                EXPECT_TRUE(ran.empty());
            EXPECT_EQ(0, trace_.count("[ CMessageGate ] onProcessMessage(): a "));
        }
    }
    EXPECT_GT(refused, 0);
}

TEST_F(GateRefusalTest, TheSameLocalMethodsPostedInsideTheProcessRun)
{
    CLocalMethod::postMethodStr(probe_.getObjectId(), "LOC_note", "posted");
    ASSERT_TRUE(journal_.waitFor(1, 10000));
    EXPECT_EQ(Entries{"LOC_note @LOCAL_TERMINAL posted"}, journal_.entries());
    EXPECT_EQ(0, trace_.count("ERROR:"));
}

// A peer's query of a local method goes unanswered (the asker's wait ends by its time-out);
// answers to a query asked under a macro come back from that macro and are let through.
TEST_F(GateRefusalTest, QueriesOfLocalMethodsStayUnansweredWhileAnswersUnderAMacroArrive)
{
    CProxyElement& proxy = hub_.terminal("A").proxy();
    ISerializable* answer = proxy.sendQuery(CMethodCallMessage::HOST_TERMINAL, "GATE_PROBE", "ask");
    CJString* text = dynamic_cast<CJString*>(answer);
    ASSERT_NE(nullptr, text);
    EXPECT_EQ("answer", text->toString());
    delete answer;
    EXPECT_EQ(0, trace_.count("ERROR:"));

    EXPECT_THROW(proxy.sendQuery("HOST", "GATE_PROBE", "LOC_ask"), CTimeOutException);
    EXPECT_EQ(1, trace_.count("ERROR: [ CMessageGate ] onProcessMessage(): a peer's call of a local method"));
}

} // namespace
