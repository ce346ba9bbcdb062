// Shared elements: one master copy and slave copies of one element id, the synchronisation of a
// slave, the role guards of the senders, and cooperative calls relayed through the master,
// on a host and two joined terminals in one process.
#include "CIOException.h"
#include "CIllegalStateException.h"
#include "CIllegalThreadStateException.h"
#include "CLocalMethod.h"
#include "CMethodCallMessage.h"
#include "CProxyElement.h"
#include "ReplicaFixtures.h"
#include "SessionHub.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>
#include <memory>
#include <vector>

namespace {

// Copies of the element "COPY" (or another id) on a hub session; tear-down closes the
// terminals before the copies are ended.
class CopySession {
public:
    ~CopySession()
    {
        for (auto terminal = order_.rbegin(); terminal != order_.rend(); ++terminal)
            hub.terminal(*terminal).close();
        hub.host().close();
        for (auto& copy : copies_)
            copy.second->end();
    }

    // The copy on the terminal (joined first unless it is the host), started and plugged in.
    TestCopy& add(const std::string& terminalId, bool master, const std::string& id = "COPY")
    {
        HubTerminal& terminal = terminalId == hub.host().terminalId() ? hub.host() : joinOnce(terminalId);
        TestCopy* copy = new TestCopy(journal, id, master);
        copies_[terminalId + "/" + id].reset(copy);
        copy->start(id + "-" + terminalId);
        terminal.plugIn("", copy);
        return *copy;
    }
    TestCopy& copy(const std::string& terminalId, const std::string& id = "COPY")
    {
        return *copies_.at(terminalId + "/" + id);
    }
    void post(const std::string& terminalId, const std::string& method, const std::string& argument,
              const std::string& id = "COPY")
    {
        CLocalMethod::postMethodStr(copy(terminalId, id).getObjectId(), method, argument);
    }
    // A notice from the terminal's proxy, as a peer (or a forger) would send it; without
    // parameter when the text is empty.
    void forge(const std::string& from, const std::string& to, const std::string& method, const std::string& text,
               const std::string& id = "COPY")
    {
        CProxyElement& proxy = hub.terminal(from).proxy();
        if (text.empty())
            proxy.sendNotice(to, id, method);
        else
            proxy.sendNotice(to, id, method, static_cast<unsigned>(text.size()), text.data());
    }
    bool waitForEntry(const std::string& entry) { return waitUntil([&] { return count(entry) > 0; }); }
    int count(const std::string& entry)
    {
        std::vector<std::string> entries = journal.entries();
        return static_cast<int>(std::count(entries.begin(), entries.end(), entry));
    }
    // The hub's traffic of one element, without the element id: "<from>><to> <method>".
    std::vector<std::string> traffic(const std::string& id = "COPY")
    {
        std::vector<std::string> lines;
        for (const std::string& line : hub.traffic()) {
            size_t blank = line.find(' ');
            if (line.compare(blank + 1, id.size() + 1, id + " ") == 0)
                lines.push_back(line.substr(0, blank) + " " + line.substr(blank + id.size() + 2));
        }
        return lines;
    }

    Journal journal;
    SessionHub hub;

private:
    HubTerminal& joinOnce(const std::string& terminalId)
    {
        if (std::find(order_.begin(), order_.end(), terminalId) == order_.end()) {
            order_.push_back(terminalId);
            return hub.join(terminalId);
        }
        return hub.terminal(terminalId);
    }

    std::map<std::string, std::unique_ptr<TestCopy>> copies_;
    std::vector<std::string> order_;
};

// A host master and synchronised slaves on T1 and T2.
void startThree(CopySession& session)
{
    session.add("HOST", true);
    for (const char* terminal : {"T1", "T2"}) {
        TestCopy& slave = session.add(terminal, false);
        ASSERT_TRUE(waitUntil([&] { return slave.isSynchronized(); })) << terminal << " never synchronised";
    }
}

std::vector<std::string> without(std::vector<std::string> lines, const std::string& prefix)
{
    lines.erase(std::remove_if(lines.begin(), lines.end(),
                               [&](const std::string& line) { return line.compare(0, prefix.size(), prefix) == 0; }),
                lines.end());
    return lines;
}

} // namespace

TEST(SharedElementText, TokenAndRestCutAtEveryOccurrenceOfTheSeparator)
{
    struct Case {
        int n;
        const char* text;
        const char* separator;
        const char* token;
        const char* rest;
    };
    const Case cases[] = {
        {0, "T1 COP_x a b", " ", "T1", "T1 COP_x a b"},
        {1, "T1 COP_x a b", " ", "COP_x", "COP_x a b"},
        {2, "T1 COP_x a b", " ", "a", "a b"},
        {3, "T1 COP_x a b", " ", "b", "b"},
        {4, "T1 COP_x a b", " ", "", ""},
        {2, "T1 COP_x ", " ", "", ""},          // the relay of an empty argument
        {2, "T1 COP_x  two  blanks ", " ", "", " two  blanks "},
        {2, "one two", " ", "", ""},            // fewer separators than asked
        {1, "alone", " ", "", ""},
        {0, "alone", " ", "alone", "alone"},
        {0, "", " ", "", ""},
        {1, "a_RE_INFO_SEP_b_RE_INFO_SEP_c_RE_INFO_SEP_d", "_RE_INFO_SEP_", "b", "b_RE_INFO_SEP_c_RE_INFO_SEP_d"},
        {2, "a_RE_INFO_SEP_b_RE_INFO_SEP_c_RE_INFO_SEP_d", "_RE_INFO_SEP_", "c", "c_RE_INFO_SEP_d"},
        {1, "first\nsecond\n", "\n", "second", "second\n"},
        {2, "first\nsecond\n", "\n", "", ""},
        {1, "first\n\nthird", "\n", "", "\nthird"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.token, CSharedElement::getToken(c.n, c.text, c.separator)) << c.n << " [" << c.text << "]";
        EXPECT_EQ(c.rest, CSharedElement::getRest(c.n, c.text, c.separator)) << c.n << " [" << c.text << "]";
    }
}

TEST(SharedElement, RoleIdAndMasterTerminal)
{
    TempDir dir;
    Journal journal;
    TraceCapture capture;
    TestCopy copy(journal, CMethodCallMessage::INVALID_ELEMENT_GUID, true);
    EXPECT_TRUE(copy.isMaster());
    EXPECT_TRUE(copy.isSynchronized());
    EXPECT_EQ(CElement::MASTER_COPY, copy.getCopyRole());
    EXPECT_EQ("@INVALID_ELEMENT_GUID", copy.getElementId());
    EXPECT_EQ(1, errorLines(capture, "read before it was set"));

    copy.setMasterTerminal("T9");
    EXPECT_EQ("@LOCAL_TERMINAL", copy.getMasterTerminal());
    copy.setMaster(false);
    copy.setId("E1");
    EXPECT_FALSE(copy.isMaster());
    EXPECT_FALSE(copy.isSynchronized());
    EXPECT_EQ(CElement::SLAVE_COPY, copy.getCopyRole());
    EXPECT_EQ("T9", copy.getMasterTerminal());
    EXPECT_EQ("E1", copy.getElementId());
    copy.setMaster(true);
    EXPECT_TRUE(copy.isSynchronized());
}

TEST(SharedElement, SendersRefuseTheWrongRoleAndAnUnpluggedCopy)
{
    TempDir dir;
    Journal journal;
    TestCopy master(journal, "E1", true), slave(journal, "E1", false);
    const unsigned char byte = 1;
    std::vector<std::pair<const char*, std::function<void()>>> refused = {
        {"sendToMaster on the master", [&] { master.sendToMaster("m"); }},
        {"sendToMasterStr on the master", [&] { master.sendToMasterStr("m", "t"); }},
        {"sendToMasterBuf on the master", [&] { master.sendToMasterBuf("m", 1, &byte); }},
        {"queryMasterStr on the master", [&] { master.queryMasterStr("QUE_m"); }},
        {"sendToSlaves on a slave", [&] { slave.sendToSlaves("m"); }},
        {"sendToSlavesStr on a slave", [&] { slave.sendToSlavesStr("m", "t"); }},
        {"sendToSlavesBuf on a slave", [&] { slave.sendToSlavesBuf("m", 1, &byte); }},
        {"replyToCallerStr on a slave", [&] { slave.replyToCallerStr("m", "t"); }},
    };
    for (auto& call : refused)
        EXPECT_THROW(call.second(), CIllegalStateException) << call.first;

    // The right role, but not plugged in, or with no call being run.
    EXPECT_THROW(master.sendToSlavesStr("m", "t"), CIOException);
    EXPECT_THROW(slave.sendToMasterStr("m", "t"), CIOException);
    EXPECT_THROW(slave.requestMasterMethod("COP_note", "t"), CIOException);
    EXPECT_THROW(master.replyToCaller("m"), CIllegalThreadStateException);
}

TEST(SharedElement, SlaveSynchronisesInOrderAndCountsAsSynchronisedOnlyAfterOnEndSync)
{
    TempDir dir;
    CopySession session;
    session.add("HOST", true);
    ASSERT_TRUE(session.waitForEntry("HOST onPlugIn"));
    TestCopy& slave = session.add("T1", false);
    ASSERT_TRUE(waitUntil([&] { return slave.isSynchronized(); }));

    EXPECT_EQ((std::vector<std::string>{"HOST onPlugIn", "T1 onPlugIn", "HOST onSync T1", "T1 INS_initFirst first",
                                        "T1 INS_initSecond second", "T1 onEndSync synchronized=0"}),
              session.journal.entries());
    EXPECT_EQ((std::vector<std::string>{"T1>@HAS_MASTER requestSync", "HOST>T1 INS_initFirst",
                                        "HOST>T1 INS_initSecond", "HOST>T1 endSync"}),
              session.traffic())
        << "the master never asks to be synchronised; the slave asks once";
}

TEST(SharedElement, ASlavePluggedInAgainRunsTheHandshakeAgain)
{
    TempDir dir;
    CopySession session;
    session.add("HOST", true);
    TestCopy& slave = session.add("T1", false);
    ASSERT_TRUE(waitUntil([&] { return slave.isSynchronized(); }));
    session.hub.terminal("T1").plugOut("COPY");
    session.journal.clear();
    session.hub.clearTraffic();

    session.hub.terminal("T1").plugIn("", &slave);
    EXPECT_TRUE(slave.isSynchronized()) << "the flag stays until the next endSync";
    ASSERT_TRUE(session.waitForEntry("T1 onEndSync synchronized=1"));
    EXPECT_EQ((std::vector<std::string>{"T1>@HAS_MASTER requestSync", "HOST>T1 INS_initFirst",
                                        "HOST>T1 INS_initSecond", "HOST>T1 endSync"}),
              session.traffic());
}

TEST(SharedElement, ACooperativeCallRunsOnceOnEveryCopy)
{
    TempDir dir;
    CopySession session;
    startThree(session);
    // Blanks inside, around and alone, and no argument at all, survive the relay.
    const std::vector<std::string> arguments = {"plain", "two  blanks and more", " edges ", " ", ""};
    for (const std::string& argument : arguments)
        session.post("T1", "LOC_cooperate", argument);
    session.post("HOST", "LOC_cooperate", "from the master");
    session.post("T1", "LOC_cooperate", "end");
    // The terminals' calls race each other (T1 runs its own at once, the master's arrives
    // later), so wait for every one before counting.
    std::vector<std::string> all = arguments;
    all.push_back("from the master");
    all.push_back("end");
    for (const char* terminal : {"HOST", "T1", "T2"})
        for (const std::string& argument : all)
            ASSERT_TRUE(session.waitForEntry(std::string(terminal) + " COP_note [" + argument + "]"))
                << terminal << " [" << argument << "]";

    for (const char* terminal : {"HOST", "T1", "T2"})
        for (const std::string& argument : all)
            EXPECT_EQ(1, session.count(std::string(terminal) + " COP_note [" + argument + "]"))
                << terminal << " [" << argument << "]";
    std::vector<std::string> traffic = without(session.traffic(), "T");
    EXPECT_NE(std::find(traffic.begin(), traffic.end(), "HOST>@HAS_SLAVE COP_note"), traffic.end())
        << "the master sends its own call under the method's name";
    EXPECT_NE(std::find(traffic.begin(), traffic.end(), "HOST>@HAS_SLAVE INS_executeSlaveMethod"), traffic.end());
}

TEST(SharedElement, AnUnsynchronisedSlaveSkipsOthersRelayedCallsButRunsTheMastersAndItsOwn)
{
    TempDir dir;
    CopySession session;
    session.add("HOST", true);
    // No master copy of "LONELY" answers, so this slave never synchronises.
    TestCopy& lonely = session.add("T2", false, "LONELY");
    session.forge("HOST", "T2", "INS_executeSlaveMethod", "T1 COP_note relayed", "LONELY");
    session.forge("HOST", "@HAS_SLAVE", "COP_note", "direct", "LONELY");
    session.post("T2", "LOC_cooperate", "mine", "LONELY");
    ASSERT_TRUE(session.waitForEntry("T2 COP_note [direct]"));
    ASSERT_TRUE(session.waitForEntry("T2 COP_note [mine]"));

    EXPECT_FALSE(lonely.isSynchronized());
    EXPECT_EQ(0, session.count("T2 COP_note [relayed]")) << "it came before the direct call on the same road";
    EXPECT_TRUE(waitUntil([&] {
        std::vector<std::string> traffic = session.traffic("LONELY");
        return std::find(traffic.begin(), traffic.end(), "T2>@HAS_MASTER REQ_executeMasterMethod") != traffic.end();
    })) << "its own call goes to the master like any other";
}

TEST(SharedElement, ProtocolCallsInTheWrongRoleAreReportedAndIgnored)
{
    TempDir dir;
    TraceCapture capture;
    {
        CopySession session;
        startThree(session);
        session.journal.clear();
        // Addressed to terminal ids, so no handler drops them for their role.
        session.forge("T1", "HOST", "initializeSlave", "");
        session.forge("T1", "HOST", "endSync", "");
        session.forge("T1", "HOST", "INS_executeSlaveMethod", "T2 COP_note to-master");
        session.forge("HOST", "T1", "requestSync", "");
        session.forge("HOST", "T1", "REQ_executeMasterMethod", "T2 COP_note to-slave");
        // Behind them on the same roads: proof that they were handled.
        session.forge("T1", "HOST", "REQ_executeMasterMethod", "T1 COP_note after");
        session.forge("HOST", "T1", "COP_note", "after-slave");
        ASSERT_TRUE(session.waitForEntry("HOST COP_note [after]"));
        ASSERT_TRUE(session.waitForEntry("T1 COP_note [after-slave]"));
        ASSERT_TRUE(session.waitForEntry("T2 COP_note [after]"));

        EXPECT_EQ(0, session.count("HOST COP_note [to-master]"));
        EXPECT_EQ(0, session.count("T1 COP_note [to-slave]"));
        EXPECT_EQ(0, session.count("HOST onEndSync synchronized=1"));
        for (const std::string& entry : session.journal.entries())
            EXPECT_EQ(std::string::npos, entry.find("onSync")) << entry;
    }
    EXPECT_EQ(3, errorLines(capture, "ran on the master"));
    EXPECT_EQ(2, errorLines(capture, "ran on a slave"));
}

TEST(SharedElement, TheRelayRunsOnlyCooperativeMethods)
{
    TempDir dir;
    TraceCapture capture;
    {
        CopySession session;
        startThree(session);
        session.hub.clearTraffic();
        session.forge("T1", "@HAS_MASTER", "REQ_executeMasterMethod", "T1 LOC_other on-master");
        session.forge("T1", "@HAS_MASTER", "REQ_executeMasterMethod", "T1 COP_missing x");
        session.forge("T2", "T1", "INS_executeSlaveMethod", "HOST LOC_other on-slave");
        session.forge("T1", "@HAS_MASTER", "REQ_executeMasterMethod", "T1 COP_note after");
        session.forge("T2", "T1", "COP_note", "after-slave");
        for (const char* terminal : {"HOST", "T2"})
            ASSERT_TRUE(session.waitForEntry(std::string(terminal) + " COP_note [after]")) << terminal;
        ASSERT_TRUE(session.waitForEntry("T1 COP_note [after-slave]"));

        for (const std::string& entry : session.journal.entries())
            EXPECT_EQ(std::string::npos, entry.find("LOC_other")) << entry;
        std::vector<std::string> relays;
        for (const std::string& line : session.traffic())
            if (line == "HOST>@HAS_SLAVE INS_executeSlaveMethod")
                relays.push_back(line);
        EXPECT_EQ(1u, relays.size()) << "only the call that ran on the master is relayed";
    }
    EXPECT_EQ(2, errorLines(capture, "is not a cooperative method"));
    EXPECT_EQ(1, errorLines(capture, "COP_missing"));
}
