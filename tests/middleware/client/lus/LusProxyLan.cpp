// The lookup-service proxy against the real quarnhost on two hosts of a test LAN (lus_test.sh
// starts it there, with quarnhost registered in each host's own prefix). Each terminal holds its
// proxy on its main thread, the UI thread; the writer is any other program on host B that puts
// entries under the same application id.
//
//   lus_proxy_lan --gtest_filter=LusLan.A SHARE       (terminal on host A, 198.18.0.1)
//   lus_proxy_lan --gtest_filter=LusLan.B SHARE       (terminal on host B, 198.18.0.2)
//   lus_proxy_lan --gtest_filter=LusLan.Writer SHARE  (foreign entries on host B)
//   lus_proxy_lan --gtest_filter=LusGone.A SHARE      (terminal on host A; lus_test.sh kills,
//   lus_proxy_lan --gtest_filter=LusGone.B SHARE       freezes and stops host B's programs on
//   lus_proxy_lan --gtest_filter=LusGone.K SHARE       its cues; K is a second terminal on B)
//
// SHARE is the folder all of them see; each step is a file there.
#include "CIOException.h"
#include "CLocalMethod.h"
#include "CLusException.h"
#include "CQUARNAPDir.h"
#include "CQUARNInterface.h"
#include "CQUARNLookupDir.h"
#include "CQuarnLusProxy.h"
#include "CThread.h"
#include "MessagePump.h"
#include "ShareFolder.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

const char APPLICATION[] = "Tavelin";
const char IP_A[] = "198.18.0.1";
const char IP_B[] = "198.18.0.2";
const DWORD STEP_TIMEOUT_MS = 90000;

// Each step is a file in the shared folder, "ok" unless told otherwise.
void say(const std::string& name, const std::string& text = "ok") { writeShare(name, text); }
// The text of a step once it is there; "" when it does not come in time.
std::string await(const std::string& name, DWORD timeoutMs = STEP_TIMEOUT_MS)
{
    std::string text;
    if (!readShare(name, text, timeoutMs))
        ADD_FAILURE() << "step " << name << " did not come";
    return text;
}
// Asks lus_test.sh for NAME and waits until it says done.
bool cue(const std::string& name) { return ::cue(name, STEP_TIMEOUT_MS, true); }

std::vector<std::string> sorted(std::vector<std::string> texts)
{
    std::sort(texts.begin(), texts.end());
    return texts;
}

std::string shown(const CTerminalInfo& info)
{
    return std::string(info.isValid() ? "valid" : "invalid") + " [" + info.getCategory() + "] [" + info.getIpAddress()
           + "] " + std::to_string(info.getPortNum()) + " [" + info.getOptionalData() + "]";
}
const char INVALID[] = "invalid [] [] 0 []";

// One directory of the lookup view as name -> "type:value"; false when it cannot be read.
bool readDirectory(CQUARNInterface& quarn, const std::string& path, std::map<std::string, std::string>& entries)
{
    entries.clear();
    std::unique_ptr<CQUARNLookupDir> directory(quarn.openLookupDir(path, nullptr));
    if (!directory || !directory->WaitReady(100))
        return false;
    DWORD count = directory->GetEntryCount();
    for (DWORD i = 0; i < count; ++i) {
        std::string name = directory->GetEntryName(i);
        DWORD type = directory->GetEntryType(i);
        std::string value;
        if (type == CQUARNLookupDir::QUARNTYPE_INT) {
            int number = 0;
            directory->GetEntryValueInt(i, &number);
            value = std::to_string(number);
        } else if (type == CQUARNLookupDir::QUARNTYPE_STRING) {
            directory->GetEntryValueString(i, value);
        }
        entries[name] = std::to_string(type) + ":" + value;
    }
    return true;
}
std::map<std::string, std::string> directoryOf(CQUARNInterface& quarn, const std::string& path)
{
    std::map<std::string, std::string> entries;
    EXPECT_TRUE(readDirectory(quarn, path, entries)) << path;
    return entries;
}

// The nodes of the root in their order.
std::vector<std::string> rootNodes(CQUARNInterface& quarn)
{
    std::vector<std::string> nodes;
    std::unique_ptr<CQUARNLookupDir> root(quarn.openLookupDir("\\", nullptr));
    if (!root || !root->WaitReady(100))
        return nodes;
    DWORD count = root->GetEntryCount();
    for (DWORD i = 0; i < count && count != CQUARNLookupDir::COUNT_FAILED; ++i)
        nodes.push_back(root->GetEntryName(i));
    return nodes;
}

// A terminal: the UI thread's invoker, the middleware and the proxy, and the two nodes.
class Terminal {
public:
    Terminal(const char* self, const char* ownIp, const char* otherIp)
        : self_(self), ownIp_(ownIp), otherIp_(otherIp)
    {
        CThread::registerUIThread();
        invoker_ = new CLocalMethod;
        EXPECT_TRUE(quarn.Initialize());
        ownNode = quarn.GetGUIDString();
        say(std::string(self) + ".node", ownNode);
        otherNode = await(std::string(self) == "A" ? "B.node" : "A.node");
        DWORD start = GetTickCount();
        while (rootNodes(quarn).size() < 2 && GetTickCount() - start < 60000)
            Sleep(250);
        std::printf("FIGURE %s: root lists both nodes after %lu ms\n", self,
                    static_cast<unsigned long>(GetTickCount() - start));
        EXPECT_EQ(2u, rootNodes(quarn).size());
        proxy = CQuarnLusProxy::create(&quarn, APPLICATION, invoker_->GetSafeHwnd());
    }
    ~Terminal()
    {
        delete proxy;
        quarn.Uninitialize();
    }

    std::string applicationPath(const std::string& node) const
    {
        return "\\" + node + "\\Applications\\" + APPLICATION;
    }
    std::string ipOf(const std::string& node) const { return node == ownNode ? ownIp_ : otherIp_; }
    // Steps of the two terminals meet here: says this one's and waits for the other's.
    void meet(const std::string& step)
    {
        say(std::string(self_) + "." + step);
        await(std::string(self_ == std::string("A") ? "B." : "A.") + step);
    }

    // The cross-host checks, the same on both hosts: the ids expected per node.
    void expectSearchesAcross(const std::map<std::string, std::vector<std::string>>& serversOf)
    {
        std::vector<std::string> nodes = rootNodes(quarn);
        ASSERT_EQ(2u, nodes.size());
        std::vector<std::string> expected;
        for (size_t k = nodes.size(); k-- > 0;) {
            auto ids = serversOf.find(nodes[k]);
            if (ids != serversOf.end())
                expected.insert(expected.end(), ids->second.begin(), ids->second.end());
        }
        std::vector<std::string> servers;
        proxy->enumByCategory("Server", servers);
        EXPECT_EQ(expected, servers) << self_ << ": the node last in the root first";

        std::string a = ipOf(self_ == std::string("A") ? ownNode : otherNode);
        std::string b = ipOf(self_ == std::string("A") ? otherNode : ownNode);
        std::vector<CTerminalInfo> found;
        proxy->find({"7", "8", "9", "x", "8"}, found);
        ASSERT_EQ(5u, found.size());
        EXPECT_EQ("valid [Server] [" + a + "] 0 [TIME=100 SESSION=A]", shown(found[0])) << self_;
        EXPECT_EQ(INVALID, shown(found[1]));
        EXPECT_EQ("valid [] [" + b + "] 0 []", shown(found[2])) << self_;
        EXPECT_EQ(INVALID, shown(found[3]));
        EXPECT_EQ("valid [Server] [" + b + "] 0 [TIME=200 SESSION=B]", shown(found[4])) << self_;

        // The same from a worker thread.
        std::vector<CTerminalInfo> fromWorker;
        std::atomic<bool> finished{false};
        std::thread worker([&] {
            try {
                proxy->find({"7", "8", "9", "x", "8"}, fromWorker);
            } catch (CJException& e) {
                ADD_FAILURE() << "worker: " << e.getMessage();
            }
            finished = true;
        });
        pumpUntil([&] { return finished.load(); }, 60000, 10);
        worker.join();
        ASSERT_EQ(found.size(), fromWorker.size());
        for (size_t i = 0; i < found.size(); ++i)
            EXPECT_EQ(shown(found[i]), shown(fromWorker[i])) << self_ << " worker, position " << i;

        std::vector<std::string> listed;
        proxy->enumByIpAddress(IP_B, listed);
        EXPECT_EQ((std::vector<std::string>{"8", "9"}), sorted(listed)) << self_;
        listed.clear();
        proxy->enumByIpAddress("198.18.0.77", listed);
        EXPECT_TRUE(listed.empty()) << self_;
        listed.clear();
        proxy->enumByPortNum(0, listed);
        EXPECT_EQ((std::vector<std::string>{"7", "8", "9"}), sorted(listed)) << self_;
    }

    // Both terminals register id 20, each with its own name as the data: each finds the record
    // of the node first in its root.
    void expectSameIdFromTheFirstNode()
    {
        std::string other = self_ == std::string("A") ? "B" : "A";
        proxy->regist("20", CTerminalInfo("Same", "0.0.0.0", 0, self_));
        meet("same");
        std::vector<std::string> nodes = rootNodes(quarn);
        ASSERT_FALSE(nodes.empty());
        EXPECT_EQ("valid [Same] [" + ipOf(nodes[0]) + "] 0 [" + (nodes[0] == ownNode ? self_ : other) + "]",
                  shown(proxy->find("20")));
        meet("sameDone");
        proxy->remove("20");
    }

    CQUARNInterface quarn;
    ILookupServiceHandle* proxy = nullptr;
    std::string ownNode;
    std::string otherNode;

private:
    const char* self_;
    std::string ownIp_;
    std::string otherIp_;
    CLocalMethod* invoker_ = nullptr;
};

TEST(LusLan, A)
{
    Terminal t("A", IP_A, IP_B);
    std::string base = t.applicationPath(t.ownNode);

    // Layout, read back on B: the five entries, a second regist, then nothing once removed.
    t.proxy->regist("7", CTerminalInfo("Server", "0.0.0.0", 0, "TIME=100 SESSION=A"));
    say("A.layout1");
    EXPECT_EQ("ok", await("B.layout1"));
    CTerminalInfo joined;
    joined.setValid();
    t.proxy->regist("7", joined);
    say("A.layout2");
    EXPECT_EQ("ok", await("B.layout2"));
    t.proxy->remove("7");
    say("A.layout3");
    EXPECT_EQ("ok", await("B.layout3"));

    // Across hosts.
    t.proxy->regist("7", CTerminalInfo("Server", "0.0.0.0", 0, "TIME=100 SESSION=A"));
    t.meet("across");
    t.expectSearchesAcross({{t.ownNode, {"7"}}, {t.otherNode, {"8"}}});
    t.meet("acrossDone");

    // The same id on both nodes: the record of the node first in the root.
    t.expectSameIdFromTheFirstNode();

    // Foreign entries on B: the searches skip them with ERROR lines and go on.
    say("A.foreign");
    EXPECT_EQ("ok", await("W.written"));
    EXPECT_EQ("ok", await("B.foreign"));
    {
        TraceCapture trace;
        std::vector<CTerminalInfo> found;
        t.proxy->find({"12", "13", "14", "x", "7", "8"}, found);
        ASSERT_EQ(6u, found.size());
        EXPECT_EQ(INVALID, shown(found[0]));
        EXPECT_EQ(std::string("valid [Server] [") + IP_B + "] 0 []", shown(found[1]));
        EXPECT_EQ(std::string("valid [Server] [") + IP_B + "] 0 [d14]", shown(found[2]));
        EXPECT_EQ(INVALID, shown(found[3]));
        EXPECT_EQ(std::string("valid [Server] [") + IP_A + "] 0 [TIME=100 SESSION=A]", shown(found[4]));
        EXPECT_EQ(std::string("valid [Server] [") + IP_B + "] 0 [TIME=200 SESSION=B]", shown(found[5]));
        std::vector<std::string> listed;
        t.proxy->enumByCategory("Server", listed);
        EXPECT_EQ((std::vector<std::string>{"7", "8"}), sorted(listed));
        listed.clear();
        t.proxy->enumByPortNum(0, listed);
        EXPECT_EQ((std::vector<std::string>{"7", "8", "9"}), sorted(listed));
        listed.clear();
        t.proxy->enumByIpAddress(IP_B, listed);
        EXPECT_EQ((std::vector<std::string>{"12", "13", "14", "77", "8", "9"}), sorted(listed));
        std::string lines = trace.text();
        for (const char* piece : {"[x] of type 2", "[Category] of", "unexpected entry [Colour]", "[10] of type 1",
                                  "[11] of type 2"})
            EXPECT_NE(std::string::npos, lines.find(piece)) << piece;
        std::printf("FIGURE A: %d ERROR lines for the foreign entries\n", trace.count("ERROR: "));
        EXPECT_LE(5, trace.count("ERROR: "));
    }
    say("A.foreignDone");

    // A destroyed proxy leaves no record.
    delete t.proxy;
    t.proxy = nullptr;
    say("A.destroyed");
    EXPECT_EQ("ok", await("B.destroyedChecked"));
    (void)base;
}

TEST(LusLan, B)
{
    Terminal t("B", IP_B, IP_A);
    std::string base = t.applicationPath(t.otherNode);
    using Entries = std::map<std::string, std::string>;

    await("A.layout1");
    Entries layout = directoryOf(t.quarn, base);
    for (const char* name : {"TerminalInfos", "Categorys", "PortNums"})
        EXPECT_EQ("5:", layout[name]) << name;
    EXPECT_EQ((Entries{{"7", "5:"}}), directoryOf(t.quarn, base + "\\TerminalInfos"));
    EXPECT_EQ((Entries{{"Category", "2:Server"}, {"PortNum", "1:0"}, {"OptionalData", "2:TIME=100 SESSION=A"}}),
              directoryOf(t.quarn, base + "\\TerminalInfos\\7"));
    EXPECT_EQ((Entries{{"7", "2:Server"}}), directoryOf(t.quarn, base + "\\Categorys"));
    EXPECT_EQ((Entries{{"7", "1:0"}}), directoryOf(t.quarn, base + "\\PortNums"));
    say("B.layout1", ::testing::Test::HasFailure() ? "failed" : "ok");

    await("A.layout2");
    EXPECT_EQ((Entries{{"7", "5:"}}), directoryOf(t.quarn, base + "\\TerminalInfos"));
    EXPECT_EQ((Entries{{"Category", "2:"}, {"PortNum", "1:0"}, {"OptionalData", "2:"}}),
              directoryOf(t.quarn, base + "\\TerminalInfos\\7"));
    EXPECT_EQ((Entries{{"7", "2:"}}), directoryOf(t.quarn, base + "\\Categorys"));
    EXPECT_EQ((Entries{{"7", "1:0"}}), directoryOf(t.quarn, base + "\\PortNums"));
    say("B.layout2", ::testing::Test::HasFailure() ? "failed" : "ok");

    await("A.layout3");
    layout = directoryOf(t.quarn, base);
    for (const char* name : {"TerminalInfos", "Categorys", "PortNums"})
        EXPECT_EQ(0u, layout.count(name)) << name << " is left";
    say("B.layout3", ::testing::Test::HasFailure() ? "failed" : "ok");

    t.proxy->regist("8", CTerminalInfo("Server", "0.0.0.0", 0, "TIME=200 SESSION=B"));
    t.proxy->regist("9", CTerminalInfo("", "0.0.0.0", 0, ""));
    t.meet("across");
    t.expectSearchesAcross({{t.ownNode, {"8"}}, {t.otherNode, {"7"}}});
    t.meet("acrossDone");

    t.expectSameIdFromTheFirstNode();

    // An id that is not registered, and a second remove, fail at the first entry with the
    // server's code by its name.
    t.proxy->regist("5", CTerminalInfo("", "0.0.0.0", 0, ""));
    t.proxy->remove("5");
    for (const char* id : {"5", "unknown"}) {
        try {
            t.proxy->remove(id);
            ADD_FAILURE() << "removed " << id << " again";
        } catch (CLusException& e) {
            EXPECT_NE(std::string::npos, e.getMessage().find("portNums.terminalId")) << e.getMessage();
            EXPECT_NE(std::string::npos, e.getMessage().find("ERROR_QUARN_")) << e.getMessage();
            std::printf("FIGURE B: remove of %s: %s\n", id, e.getMessage().c_str());
        }
    }

    // A string where this terminal's port goes, written by another program: the category
    // stays, the port fails with the type's mismatch.
    await("W.written");
    try {
        t.proxy->regist("77", CTerminalInfo("Server", "0.0.0.0", 0, "d77"));
        ADD_FAILURE() << "regist over a foreign string went through";
    } catch (CLusException& e) {
        EXPECT_NE(std::string::npos, e.getMessage().find("TerminalInfo.portNum")) << e.getMessage();
        EXPECT_NE(std::string::npos, e.getMessage().find("ERROR_QUARN_COMMON_TYPE_MISMATCH")) << e.getMessage();
    }
    Entries own = directoryOf(t.quarn, t.applicationPath(t.ownNode) + "\\TerminalInfos\\77");
    EXPECT_EQ("2:Server", own["Category"]);
    EXPECT_EQ("2:0", own["PortNum"]) << "the foreign string stays";
    EXPECT_EQ(0u, own.count("OptionalData"));
    say("B.foreign");
    await("A.foreignDone");

    await("A.destroyed");
    Entries left;
    if (readDirectory(t.quarn, base, left)) {
        for (const char* name : {"TerminalInfos", "Categorys", "PortNums"})
            EXPECT_EQ(0u, left.count(name)) << name << " is left after the proxy was destroyed";
    }
    say("B.destroyedChecked", ::testing::Test::HasFailure() ? "failed" : "ok");
}

TEST(LusLan, Writer)
{
    CQUARNInterface quarn;
    ASSERT_TRUE(quarn.Initialize());
    HWND window = CreateWindowA("STATIC", "writer", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr);
    await("A.foreign");
    std::unique_ptr<CQUARNAPDir> foreign(quarn.OpenAPDir(APPLICATION, window));
    ASSERT_NE(nullptr, foreign);
    const BYTE bytes[] = {1, 2, 3};
    EXPECT_TRUE(foreign->ChangeEntryValueString("TerminalInfos\\x", "foreign"));
    EXPECT_TRUE(foreign->ChangeEntryValueInt("Categorys\\10", 1));
    EXPECT_TRUE(foreign->ChangeEntryValueString("PortNums\\11", "0"));
    EXPECT_TRUE(foreign->ChangeEntryValueBinary("TerminalInfos\\12\\Category", bytes, 3));
    EXPECT_TRUE(foreign->ChangeEntryValueInt("TerminalInfos\\12\\PortNum", 0));
    EXPECT_TRUE(foreign->ChangeEntryValueString("TerminalInfos\\13\\Category", "Server"));
    EXPECT_TRUE(foreign->ChangeEntryValueString("TerminalInfos\\14\\Category", "Server"));
    EXPECT_TRUE(foreign->ChangeEntryValueInt("TerminalInfos\\14\\PortNum", 0));
    EXPECT_TRUE(foreign->ChangeEntryValueString("TerminalInfos\\14\\OptionalData", "d14"));
    EXPECT_TRUE(foreign->ChangeEntryValueString("TerminalInfos\\14\\Colour", "red"));
    EXPECT_TRUE(foreign->ChangeEntryValueString("TerminalInfos\\77\\PortNum", "0"));
    say("W.written", ::testing::Test::HasFailure() ? "failed" : "ok");
    await("A.foreignDone");
    foreign.reset();
    DestroyWindow(window);
    quarn.Uninitialize();
}

// ---- terminals and nodes that go (scenario "gone")

std::vector<std::string> shownAll(ILookupServiceHandle& proxy, const std::vector<std::string>& ids)
{
    std::vector<CTerminalInfo> found;
    proxy.find(ids, found);
    std::vector<std::string> texts;
    for (const CTerminalInfo& info : found)
        texts.push_back(shown(info));
    return texts;
}

// Finds IDS until they read as EXPECTED, for at most timeoutMs; the time it took.
DWORD findUntil(ILookupServiceHandle& proxy, const std::vector<std::string>& ids,
                const std::vector<std::string>& expected, DWORD timeoutMs)
{
    DWORD start = GetTickCount();
    std::vector<std::string> texts = shownAll(proxy, ids);
    while (texts != expected && GetTickCount() - start < timeoutMs) {
        Sleep(250);
        texts = shownAll(proxy, ids);
    }
    EXPECT_EQ(expected, texts);
    return GetTickCount() - start;
}

TEST(LusGone, B)
{
    Terminal t("B", IP_B, IP_A);
    t.proxy->regist("8", CTerminalInfo("Server", "0.0.0.0", 0, "TIME=200 SESSION=B"));
    t.proxy->regist("9", CTerminalInfo("", "0.0.0.0", 0, ""));
    say("B.registered");
    // Held until lus_test.sh stops host B.
    await("A.done", 300000);
}

// A second terminal on host B, killed by lus_test.sh without withdrawing its record.
TEST(LusGone, K)
{
    // Started together, two clients of one host can have Wine start two servers there.
    ASSERT_EQ("ok", await("B.registered"));
    CThread::registerUIThread();
    CLocalMethod* invoker = new CLocalMethod;
    CQUARNInterface quarn;
    ASSERT_TRUE(quarn.Initialize());
    ILookupServiceHandle* proxy = CQuarnLusProxy::create(&quarn, APPLICATION, invoker->GetSafeHwnd());
    proxy->regist("30", CTerminalInfo("Server", "0.0.0.0", 0, "K"));
    say("K.registered");
    // Its windows must keep answering while it waits to be killed.
    pumpUntil([] { return false; }, 300000, 100);
    ADD_FAILURE() << "K was not killed";
}

TEST(LusGone, A)
{
    Terminal t("A", IP_A, IP_B);
    t.proxy->regist("7", CTerminalInfo("Server", "0.0.0.0", 0, "TIME=100 SESSION=A"));
    ASSERT_EQ("ok", await("B.registered"));
    ASSERT_EQ("ok", await("K.registered"));
    const std::string own = std::string("valid [Server] [") + IP_A + "] 0 [TIME=100 SESSION=A]";
    const std::string eight = std::string("valid [Server] [") + IP_B + "] 0 [TIME=200 SESSION=B]";
    const std::string nine = std::string("valid [] [") + IP_B + "] 0 []";
    const std::string thirty = std::string("valid [Server] [") + IP_B + "] 0 [K]";
    findUntil(*t.proxy, {"7", "8", "9", "30"}, {own, eight, nine, thirty}, 30000);

    // A terminal killed without a remove: its server drops the record once it sees the
    // terminal's window gone; the other terminal's records on that node stay.
    ASSERT_TRUE(cue("kill-K"));
    DWORD took = findUntil(*t.proxy, {"7", "8", "9", "30"}, {own, eight, nine, INVALID}, 20000);
    std::printf("FIGURE A: the killed terminal's record gone after %lu ms\n", static_cast<unsigned long>(took));
    EXPECT_LE(took, 10000u);

    // B's server frozen: the search waits out B's directory and goes on, B's records invalid.
    ASSERT_TRUE(cue("freeze-B"));
    DWORD start = GetTickCount();
    std::vector<std::string> texts = shownAll(*t.proxy, {"7", "8", "9"});
    took = GetTickCount() - start;
    std::printf("FIGURE A: find with B frozen took %lu ms\n", static_cast<unsigned long>(took));
    EXPECT_EQ((std::vector<std::string>{own, INVALID, INVALID}), texts);
    EXPECT_LE(took, 13000u) << "about 11 s expected";
    ASSERT_TRUE(cue("thaw-B"));
    took = findUntil(*t.proxy, {"7", "8", "9"}, {own, eight, nine}, 30000);
    std::printf("FIGURE A: B's records back %lu ms after its resume\n", static_cast<unsigned long>(took));

    // B's Wine stopped: B's ids leave every result.
    ASSERT_TRUE(cue("stop-B"));
    start = GetTickCount();
    std::vector<std::string> listed;
    do {
        Sleep(250);
        listed.clear();
        t.proxy->enumByPortNum(0, listed);
    } while (listed != std::vector<std::string>{"7"} && GetTickCount() - start < 60000);
    std::printf("FIGURE A: B's ids gone after %lu ms\n", static_cast<unsigned long>(GetTickCount() - start));
    EXPECT_EQ((std::vector<std::string>{"7"}), listed);
    listed.clear();
    t.proxy->enumByCategory("Server", listed);
    EXPECT_EQ((std::vector<std::string>{"7"}), listed);
    listed.clear();
    t.proxy->enumByIpAddress(IP_B, listed);
    EXPECT_TRUE(listed.empty());
    EXPECT_EQ((std::vector<std::string>{own, INVALID, INVALID}), shownAll(*t.proxy, {"7", "8", "9"}));
    say("A.done");
}

} // namespace

int main(int argc, char** argv)
{
    initGoogleTestWithShare(argc, argv);
    return RUN_ALL_TESTS();
}
