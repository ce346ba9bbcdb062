// The in-process session that the tests of replicated elements run on: its hub must route as
// the host of the session transport does, and its session handles must plug elements in and
// out and leave only after what they sent has gone.
#include "CElement.h"
#include "CIllegalArgumentException.h"
#include "CIllegalStateException.h"
#include "CMessageGate.h"
#include "CMethodCallMessage.h"
#include "CProxyElement.h"
#include "SessionHub.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>

namespace {

// Entered in a terminal's gate under "PROBE"; notes "<terminal> <method>" for each message.
class GateProbe : public IMessageListener {
public:
    GateProbe(HubTerminal& terminal, Journal& journal) : terminal_(terminal), journal_(journal)
    {
        terminal_.gate().addListener("PROBE", this);
    }
    ~GateProbe() override { terminal_.gate().removeListener("PROBE"); }
    void notifyMessage(IMessage* message) override
    {
        CMethodCallMessage* call = dynamic_cast<CMethodCallMessage*>(message);
        journal_.add(terminal_.terminalId() + " " + (call == nullptr ? "?" : call->getMethodName()));
        IMessage::release(message);
    }

private:
    HubTerminal& terminal_;
    Journal& journal_;
};

// Which terminals received each method, from the journal.
std::map<std::string, std::set<std::string>> receivers(Journal& journal)
{
    std::map<std::string, std::set<std::string>> result;
    for (const std::string& entry : journal.entries()) {
        size_t blank = entry.find(' ');
        result[entry.substr(blank + 1)].insert(entry.substr(0, blank));
    }
    return result;
}

bool hasEntry(Journal& journal, const std::string& entry)
{
    std::vector<std::string> entries = journal.entries();
    return std::find(entries.begin(), entries.end(), entry) != entries.end();
}

// Each sender ends its cases with "end-<sender>" to every terminal; once every terminal has
// it, everything that sender sent before has arrived wherever it was going.
void sendAndSettle(SessionHub& hub, Journal& journal, const std::vector<std::string>& present,
                   const std::string& sender)
{
    hub.terminal(sender).proxy().sendNotice(CMethodCallMessage::ALL_TERMINAL, "PROBE", "end-" + sender);
    for (const std::string& terminal : present)
        ASSERT_TRUE(waitUntil([&] { return hasEntry(journal, terminal + " end-" + sender); }))
            << terminal << " never got the end of " << sender;
}

class Notifier : public CElement {
public:
    Notifier(const std::string& elementId, Journal& journal) : journal_(journal) { setElementId(elementId); }
    void onPlugOut(const std::string&) override
    {
        journal_.add(getTerminalId() + " onPlugOut " + getElementId());
        sendNotice("HOST", "PROBE", "bye-" + getElementId());
    }

private:
    Journal& journal_;
};

} // namespace

TEST(SessionHub, RoutesEachDestinationAsTheHostDoes)
{
    TempDir dir;
    Journal journal;
    SessionHub hub("HOST");
    hub.join("T1");
    hub.join("T2");
    GateProbe host(hub.host(), journal), t1(hub.terminal("T1"), journal), t2(hub.terminal("T2"), journal);

    struct Case {
        const char* sender;
        const char* receiver;
        std::set<std::string> expected;
    };
    const std::set<std::string> all = {"HOST", "T1", "T2"};
    const std::vector<Case> cases = {
        {"HOST", "@HOST_TERMINAL", {"HOST"}},
        {"HOST", "HOST", {"HOST"}},
        {"HOST", "@ALL_TERMINAL_EXCEPT_ME", {"T1", "T2"}},
        {"HOST", "@ALL_TERMINAL", all},
        {"HOST", "@HAS_MASTER", all},
        {"HOST", "@HAS_SLAVE", all},
        {"HOST", "@PCS", {}},
        {"HOST", "T1", {"T1"}},
        {"HOST", "NOBODY", {}},
        {"T1", "@HOST_TERMINAL", {"HOST"}},
        {"T1", "HOST", {"HOST"}},
        {"T1", "@ALL_TERMINAL_EXCEPT_ME", {"HOST", "T2"}},
        {"T1", "@ALL_TERMINAL", all},
        {"T1", "@HAS_MASTER", all},
        {"T1", "@HAS_SLAVE", all},
        {"T1", "@PCS", {}},
        {"T1", "T2", {"T2"}},
        {"T1", "T1", {"T1"}},
        {"T1", "NOBODY", {}},
    };
    for (size_t i = 0; i < cases.size(); ++i)
        hub.terminal(cases[i].sender).proxy().sendNotice(cases[i].receiver, "PROBE", "case" + std::to_string(i));
    sendAndSettle(hub, journal, {"HOST", "T1", "T2"}, "HOST");
    sendAndSettle(hub, journal, {"HOST", "T1", "T2"}, "T1");

    std::map<std::string, std::set<std::string>> got = receivers(journal);
    for (size_t i = 0; i < cases.size(); ++i)
        EXPECT_EQ(cases[i].expected, got["case" + std::to_string(i)])
            << cases[i].sender << " to " << cases[i].receiver;
    EXPECT_EQ((int)cases.size() + 2, hub.blocksRouted()) << "every block passes the hub once";
    std::vector<std::string> traffic = hub.traffic();
    EXPECT_NE(std::find(traffic.begin(), traffic.end(), "T1>@HAS_SLAVE PROBE case14"), traffic.end());
}

TEST(SessionHub, ALeftTerminalGetsNothingAndTheOthersStillDo)
{
    TempDir dir;
    Journal journal;
    std::vector<std::string> out;
    SessionHub hub("HOST");
    hub.setSessionOutListener([&](const std::string& terminalId) { out.push_back(terminalId); });
    hub.join("T1");
    hub.join("T2");
    hub.join("T3");
    GateProbe host(hub.host(), journal), t1(hub.terminal("T1"), journal);

    hub.leave("T2");
    hub.cut("T3");
    EXPECT_EQ((std::vector<std::string>{"T2", "T3"}), out);

    hub.terminal("T1").proxy().sendNotice("T2", "PROBE", "toLeft");
    hub.terminal("T1").proxy().sendNotice("T3", "PROBE", "toCut");
    hub.terminal("T1").proxy().sendNotice(CMethodCallMessage::ALL_TERMINAL, "PROBE", "toAll");
    hub.terminal("T3").proxy().sendNotice(CMethodCallMessage::ALL_TERMINAL, "PROBE", "fromCut");
    sendAndSettle(hub, journal, {"HOST", "T1"}, "T1");
    std::map<std::string, std::set<std::string>> got = receivers(journal);
    EXPECT_EQ((std::set<std::string>{"HOST", "T1"}), got["toAll"]);
    EXPECT_EQ(0u, got.count("toLeft") + got.count("toCut") + got.count("fromCut"));
}

TEST(SessionHub, CloseSendsWhatThePlugOutsSentBeforeItLeaves)
{
    TempDir dir;
    Journal journal;
    SessionHub hub("HOST");
    HubTerminal& t1 = hub.join("T1");
    GateProbe host(hub.host(), journal);
    Notifier first("E1", journal), second("E2", journal);
    first.start("E1");
    second.start("E2");
    t1.plugIn("", &first);
    t1.plugIn("", &second);
    EXPECT_EQ((std::vector<std::string>{"E1", "E2"}), t1.pluggedIds());

    t1.close();
    EXPECT_TRUE(t1.pluggedIds().empty());
    EXPECT_TRUE(waitUntil([&] { return hasEntry(journal, "HOST bye-E1") && hasEntry(journal, "HOST bye-E2"); }))
        << "what onPlugOut sent was lost when the terminal left";
    std::vector<std::string> entries = journal.entries();
    EXPECT_EQ("T1 onPlugOut E1", entries.at(0)) << "the oldest element goes first";
    EXPECT_THROW(t1.plugIn("", &first), CIllegalStateException);
    first.end();
    second.end();
}

TEST(SessionHub, SessionHandleRefusesDoublePlugsAndUnknownIds)
{
    TempDir dir;
    Journal journal;
    SessionHub hub("HOST");
    Notifier element("E1", journal), twin("E1", journal);
    element.start("E1");
    twin.start("E1-twin");
    hub.host().plugIn("", &element);
    EXPECT_THROW(hub.host().plugIn("", &twin), CIllegalArgumentException);
    EXPECT_THROW(hub.host().plugOut("NOBODY"), CIllegalArgumentException);
    hub.host().plugOut("E1");
    EXPECT_THROW(hub.host().plugOut("E1"), CIllegalArgumentException);
    element.end();
    twin.end();

    std::string guid = hub.host().createGuidString();
    EXPECT_EQ(36u, guid.size());
    EXPECT_EQ(std::string::npos, guid.find_first_not_of("0123456789ABCDEF-"));
    EXPECT_NE(guid, hub.host().createGuidString());
}
