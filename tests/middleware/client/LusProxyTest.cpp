// The lookup-service proxy over a fake server. A process holds one proxy, ever: every test that
// makes one runs in a child process of its own, whose main thread is the UI thread.
#include "CIOException.h"
#include "CIllegalArgumentException.h"
#include "CInetAddress.h"
#include "CLocalMethod.h"
#include "CLusException.h"
#include "CNoSuchElementException.h"
#include "CQUARNInterface.h"
#include "CQuarnLusProxy.h"
#include "CThread.h"
#include "CTrace.h"
#include "CUnknownHostException.h"
#include "ClientFixture.h"
#include "LiveObjects.h"
#include "LusProxyMessage.h"
#include "MessagePump.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <stdexcept>
#include <thread>

namespace {

const std::wstring NODE_A = L"{AAAAAAAA-AAAA-AAAA-AAAA-AAAAAAAAAAAA}";
const std::wstring NODE_B = L"{BBBBBBBB-BBBB-BBBB-BBBB-BBBBBBBBBBBB}";
const char APPLICATION[] = "Tav";
const std::wstring WRITTEN = L"\\Applications\\Tav\\";

FakeEntry entry(const std::wstring& name, ULONG type)
{
    FakeEntry e;
    e.name = name;
    e.type = type;
    return e;
}
FakeEntry text(const std::wstring& name, const std::wstring& value)
{
    FakeEntry e = entry(name, 2);
    e.stringValue = value;
    return e;
}
FakeEntry number(const std::wstring& name, LONG value)
{
    FakeEntry e = entry(name, 1);
    e.intValue = value;
    return e;
}
FakeEntry folder(const std::wstring& name) { return entry(name, 5); }

std::vector<std::string> ids(std::initializer_list<const char*> list)
{
    return std::vector<std::string>(list.begin(), list.end());
}

// A record as a line: the valid flag and the four values.
std::string shown(const CTerminalInfo& info)
{
    return std::string(info.isValid() ? "valid" : "invalid") + " [" + info.getCategory() + "] [" + info.getIpAddress()
           + "] " + std::to_string(info.getPortNum()) + " [" + info.getOptionalData() + "]";
}
std::vector<std::string> shown(const std::vector<CTerminalInfo>& records)
{
    std::vector<std::string> lines;
    for (const CTerminalInfo& info : records)
        lines.push_back(shown(info));
    return lines;
}
const char INVALID[] = "invalid [] [] 0 []";

std::string localAddress()
{
    std::unique_ptr<CInetAddress> local(CInetAddress::resolve());
    return local->toString();
}

// Lets the handler of an element's thread take part in query control.
struct ThreadOf {
    DWORD id;
    DWORD getThreadId() const { return id; }
};

// What a find on a worker thread gave: the records, or the class and text of what it threw.
struct WorkerFind {
    std::vector<CTerminalInfo> found;
    std::string thrown;
    std::string message;
    std::atomic<bool> finished{false};
    std::atomic<DWORD> threadId{0};
    std::thread thread;

    void start(ILookupServiceHandle* proxy, const std::vector<std::string>& terminalIds)
    {
        thread = std::thread([this, proxy, terminalIds] {
            threadId = GetCurrentThreadId();
            try {
                proxy->find(terminalIds, found);
            } catch (CLusException& e) {
                thrown = "CLusException";
                message = e.getMessage();
            } catch (CIOException& e) {
                thrown = "CIOException";
                message = e.getMessage();
            } catch (CJException& e) {
                thrown = "CJException";
                message = e.getMessage();
            }
            finished = true;
        });
    }
    ~WorkerFind()
    {
        if (thread.joinable())
            thread.join();
    }
};

class LusProxyTest : public ClientFixture {
protected:
    // Runs body in a child process whose main thread is the UI thread, with the invoker and the
    // middleware interface over the fake; the parent sees the child's failures in its status.
    void inChild(const std::function<void()>& body)
    {
        if (isChild()) {
            CThread::registerUIThread();
            invoker = new CLocalMethod;
            EXPECT_TRUE(quarn.Initialize());
            body();
            exit(testing::Test::HasFailure() ? 1 : 0);
        }
        EXPECT_EQ(0, runInChild(dir)) << fileBytes(dir.file("child.txt"));
    }
    // A child whose body must end the process through the fatal path with a line holding piece.
    void endsInChild(const std::function<void()>& body, const std::string& piece)
    {
        if (isChild()) {
            childTracesToFile(false);
            CThread::registerUIThread();
            invoker = new CLocalMethod;
            quarn.Initialize();
            body();
            exit(0);
        }
        EXPECT_EQ(ABNORMAL_EXIT, runInChild(dir));
        std::vector<std::string> lines = dir.logLines();
        EXPECT_TRUE(hasLineWith(lines, "FATAL ERROR: [ CQuarnLusProxy ]")) << testing::PrintToString(lines);
        EXPECT_TRUE(hasLineWith(lines, piece)) << testing::PrintToString(lines);
    }

    ILookupServiceHandle* makeProxy()
    {
        return CQuarnLusProxy::create(&quarn, APPLICATION, invoker->GetSafeHwnd());
    }
    static std::wstring app(const std::wstring& node) { return L"\\" + node + L"\\Applications\\Tav"; }

    // A record as the proxy writes it; no PortNum entry anywhere for port -1.
    void addRecord(const std::wstring& node, const std::wstring& id, const std::wstring& category, LONG port,
                   const std::wstring& data)
    {
        fake.directories[app(node) + L"\\TerminalInfos"].push_back(folder(id));
        std::vector<FakeEntry>& record = fake.directories[app(node) + L"\\TerminalInfos\\" + id];
        record.push_back(text(L"Category", category));
        if (port >= 0)
            record.push_back(number(L"PortNum", port));
        record.push_back(text(L"OptionalData", data));
        if (port < 0)
            return;
        fake.directories[app(node) + L"\\Categorys"].push_back(text(id, category));
        fake.directories[app(node) + L"\\PortNums"].push_back(number(id, port));
    }
    // Two nodes: A, this computer (GetIP "127.0.0.1"), with 7 and 20; B at 198.18.0.2 with 8,
    // 9, 20, 21 (no port anywhere) and 30 (port 5).
    void addTwoNodes()
    {
        fake.addNode(NODE_A);
        fake.addNode(NODE_B);
        fake.addresses[L"\\" + NODE_A] = L"127.0.0.1";
        addRecord(NODE_A, L"7", L"Server", 0, L"TIME=1 SESSION=a");
        addRecord(NODE_A, L"20", L"Same", 0, L"A");
        addRecord(NODE_B, L"8", L"Server", 0, L"TIME=2 SESSION=b");
        addRecord(NODE_B, L"9", L"", 0, L"");
        addRecord(NODE_B, L"20", L"Same", 0, L"B");
        addRecord(NODE_B, L"21", L"Late", -1, L"d");
        addRecord(NODE_B, L"30", L"Other", 5, L"");
    }

    // Runs the UI thread's messages until done() or the time is up.
    static bool pumpUntil(const std::function<bool()>& done, DWORD timeoutMs = 20000)
    {
        return ::pumpUntil(done, timeoutMs, 5);
    }
    void findOnWorker(WorkerFind& worker, ILookupServiceHandle* proxy, const std::vector<std::string>& terminalIds)
    {
        worker.start(proxy, terminalIds);
        EXPECT_TRUE(pumpUntil([&] { return worker.finished.load(); }));
        worker.thread.join();
    }
    // The library objects alive once a worker's find has been handed over before: the invoker
    // keeps the bridge of that hand-over for later ones.
    int liveObjectsAfterAHandOver(ILookupServiceHandle* proxy)
    {
        WorkerFind first;
        findOnWorker(first, proxy, ids({"7"}));
        return liveObjects();
    }
    // How many paths given to the fake end with suffix.
    int opened(const std::wstring& suffix) const
    {
        int n = 0;
        for (const std::wstring& path : fake.paths)
            n += path.size() >= suffix.size() && path.compare(path.size() - suffix.size(), suffix.size(), suffix) == 0;
        return n;
    }
    int rootsOpened() const { return static_cast<int>(std::count(fake.paths.begin(), fake.paths.end(), L"\\")); }

    CQUARNInterface quarn;
    CLocalMethod* invoker = nullptr;
};

TEST(LusProxyError, TraceLastErrorNamesTheMiddlewareCodesInOneColumn)
{
    EXPECT_EQ("ERROR_QUARN_DB_REFERNCE_ALREADY_EXIST GetLastError()= 0xE0040302",
              CQuarnLusProxy::traceLastError(0xE0040302));
    std::string other = CQuarnLusProxy::traceLastError(5);
    EXPECT_EQ("NOT QUARN ERROR (WIN32 ERROR)", other.substr(0, 29));
    EXPECT_EQ("GetLastError()= 0x00000005", other.substr(other.size() - 26));
    const DWORD named[] = {0xE0040001, 0xE0040002, 0xE0040003, 0xE0040101, 0xE0040102,
                           0xE0040201, 0xE0040202, 0xE0040301, 0xE0040302};
    for (DWORD code : named) {
        std::string line = CQuarnLusProxy::traceLastError(code);
        EXPECT_EQ(38u, line.find("GetLastError()")) << line;
        EXPECT_EQ("ERROR_QUARN_", line.substr(0, 12)) << line;
    }
    // The full code is compared: the same low bits of another facility have no name.
    EXPECT_EQ(0u, CQuarnLusProxy::traceLastError(0x80040302).find("NOT QUARN ERROR"));
}

TEST_F(LusProxyTest, CreateChecksTheSecondCallFirstThenItsArgumentsInOrder)
{
    inChild([&] {
        HWND window = invoker->GetSafeHwnd();
        struct {
            CQUARNInterface* quarn;
            const char* application;
            HWND window;
            const char* piece;
        } refused[] = {
            {nullptr, "", nullptr, "interface"},
            {nullptr, APPLICATION, window, "interface"},
            {&quarn, "", nullptr, "application id"},
            {&quarn, APPLICATION, nullptr, "window"},
        };
        for (const auto& row : refused) {
            try {
                CQuarnLusProxy::create(row.quarn, row.application, row.window);
                ADD_FAILURE() << "created with " << row.piece;
            } catch (CIllegalArgumentException& e) {
                EXPECT_NE(std::string::npos, e.getMessage().find(row.piece)) << e.getMessage();
            }
        }
        ILookupServiceHandle* proxy = makeProxy();
        ASSERT_NE(nullptr, proxy);
        EXPECT_THROW(makeProxy(), CNoSuchElementException);
        EXPECT_THROW(CQuarnLusProxy::create(nullptr, "", nullptr), CNoSuchElementException);
        delete proxy;
        EXPECT_THROW(makeProxy(), CNoSuchElementException) << "also once the first is gone";
    });
}

TEST_F(LusProxyTest, RegistWritesTheFiveEntriesAndRemoveWithdrawsThemSearchEntriesFirst)
{
    inChild([&] {
        ILookupServiceHandle* proxy = makeProxy();
        EXPECT_EQ(0, fake.count("GetNewAppID")) << "the directory opens with the first record";
        proxy->regist("7", CTerminalInfo("Server", "0.0.0.0", 0, "TIME=1 SESSION=s"));
        EXPECT_EQ(1, fake.count("GetNewAppID"));
        std::vector<std::wstring> written(fake.paths.end() - 5, fake.paths.end());
        std::vector<std::wstring> expected = {
            WRITTEN + L"TerminalInfos\\7\\Category", WRITTEN + L"TerminalInfos\\7\\PortNum",
            WRITTEN + L"TerminalInfos\\7\\OptionalData", WRITTEN + L"Categorys\\7", WRITTEN + L"PortNums\\7"};
        EXPECT_EQ(expected, written);
        EXPECT_EQ(L"Server", fake.strings[WRITTEN + L"TerminalInfos\\7\\Category"]);
        EXPECT_EQ(L"TIME=1 SESSION=s", fake.strings[WRITTEN + L"TerminalInfos\\7\\OptionalData"]);
        EXPECT_EQ(L"Server", fake.strings[WRITTEN + L"Categorys\\7"]);
        EXPECT_EQ(0, fake.ints[WRITTEN + L"TerminalInfos\\7\\PortNum"]);
        EXPECT_EQ(0, fake.ints[WRITTEN + L"PortNums\\7"]);
        EXPECT_EQ(0, fake.count("APDOpenEntry") + fake.count("APDCloseEntry")) << "set, not made or removed";

        // A second regist overwrites; a record whose port nobody set publishes 0.
        CTerminalInfo joined;
        joined.setValid();
        proxy->regist("7", joined);
        EXPECT_EQ(1, fake.count("GetNewAppID"));
        EXPECT_EQ(1 + 3 + 3, fake.count("APDChangeEntryValueString")) << "the user name, then two records";
        EXPECT_EQ(L"", fake.strings[WRITTEN + L"Categorys\\7"]);
        EXPECT_EQ(0, fake.count("APDCloseEntry"));

        fake.paths.clear();
        proxy->remove("7");
        expected = {WRITTEN + L"PortNums\\7", WRITTEN + L"Categorys\\7", WRITTEN + L"TerminalInfos\\7\\Category",
                    WRITTEN + L"TerminalInfos\\7\\PortNum", WRITTEN + L"TerminalInfos\\7\\OptionalData"};
        EXPECT_EQ(expected, fake.paths);
        // Destroying the proxy closes the directory, which withdraws whatever is left.
        delete proxy;
        EXPECT_EQ(1, fake.count("APDWatchWndDel"));
        EXPECT_EQ(2, fake.count("APDCloseAllEntry"));
    });
}

TEST_F(LusProxyTest, RegistRefusesWhatCannotBeARecordAndWritesNothing)
{
    inChild([&] {
        ILookupServiceHandle* proxy = makeProxy();
        size_t callsBefore = fake.calls.size();
        proxy->remove("7");
        EXPECT_EQ(callsBefore, fake.calls.size()) << "remove before any regist does nothing";
        struct {
            const char* id;
            CTerminalInfo info;
            const char* piece;
        } refused[] = {
            {"", CTerminalInfo("Server", "0.0.0.0", 0, ""), "length is 0"},
            {"a\\b", CTerminalInfo("Server", "0.0.0.0", 0, ""), "separator"},
            {"\\", CTerminalInfo("Server", "0.0.0.0", 0, ""), "separator"},
            {"7", CTerminalInfo(), "invalid"},
        };
        for (const auto& row : refused) {
            try {
                proxy->regist(row.id, row.info);
                ADD_FAILURE() << "registered [" << row.id << "]";
            } catch (CIllegalArgumentException& e) {
                EXPECT_NE(std::string::npos, e.getMessage().find(row.piece)) << e.getMessage();
            }
        }
        EXPECT_EQ(callsBefore, fake.calls.size()) << "nothing opened or written";
        proxy->regist("7", CTerminalInfo("Server", "0.0.0.0", 0, ""));
        fake.paths.clear();
        EXPECT_THROW(proxy->remove(""), CIllegalArgumentException);
        EXPECT_THROW(proxy->remove("7\\Category"), CIllegalArgumentException);
        EXPECT_TRUE(fake.paths.empty()) << "nothing withdrawn";
        delete proxy;
    });
}

TEST_F(LusProxyTest, FailedWritesAndDeletesNameTheFieldAndTheCode)
{
    inChild([&] {
        ILookupServiceHandle* proxy = makeProxy();
        // Another program wrote a string where the port goes.
        fake.failures["APDChangeEntryValueInt"] = static_cast<HRESULT>(0xE0040003);
        try {
            proxy->regist("7", CTerminalInfo("Server", "0.0.0.0", 0, "d"));
            ADD_FAILURE() << "regist went through";
        } catch (CLusException& e) {
            EXPECT_NE(std::string::npos, e.getMessage().find("TerminalInfo.portNum")) << e.getMessage();
            EXPECT_NE(std::string::npos, e.getMessage().find("ERROR_QUARN_COMMON_TYPE_MISMATCH")) << e.getMessage();
        }
        EXPECT_EQ(L"Server", fake.strings[WRITTEN + L"TerminalInfos\\7\\Category"]) << "what was set stays";
        EXPECT_EQ(0u, fake.strings.count(WRITTEN + L"TerminalInfos\\7\\OptionalData")) << "nothing after it";
        fake.failures.clear();

        // Unknown ids, and a second remove, fail at their first step.
        fake.failures["APDCloseEntry"] = static_cast<HRESULT>(0xE0040301);
        for (const char* id : {"unknown", "7", "7"}) {
            fake.paths.clear();
            try {
                proxy->remove(id);
                ADD_FAILURE() << "removed " << id;
            } catch (CLusException& e) {
                EXPECT_NE(std::string::npos, e.getMessage().find("portNums.terminalId")) << e.getMessage();
                EXPECT_NE(std::string::npos, e.getMessage().find("ERROR_QUARN_DB_REFERNCE_NOT_FOUND")) << e.getMessage();
            }
            EXPECT_EQ(std::vector<std::wstring>{WRITTEN + L"PortNums\\" + std::wstring(id, id + strlen(id))}, fake.paths);
        }
        fake.failures.clear();
        delete proxy;
    });
}

// Operations that belong to the creator thread, called on another thread: each ends the process.
struct Misuse {
    const char* name;
    std::function<void(ILookupServiceHandle*)> call;
    const char* piece;
};
class LusProxyMisuse : public LusProxyTest, public testing::WithParamInterface<Misuse> {};

void onOtherThread(const std::function<void()>& call)
{
    std::thread other(call);
    other.join();
}

TEST_P(LusProxyMisuse, EndsTheProcess)
{
    endsInChild([&] { GetParam().call(makeProxy()); }, GetParam().piece);
}

INSTANTIATE_TEST_SUITE_P(
    Calls, LusProxyMisuse,
    testing::Values(
        Misuse{"regist",
               [](ILookupServiceHandle* p) {
                   onOtherThread([p] { p->regist("7", CTerminalInfo("Server", "0.0.0.0", 0, "")); });
               },
               "regist(): called on thread"},
        Misuse{"remove", [](ILookupServiceHandle* p) { onOtherThread([p] { p->remove("7"); }); },
               "remove(): called on thread"},
        Misuse{"enumByCategory",
               [](ILookupServiceHandle* p) {
                   onOtherThread([p] {
                       std::vector<std::string> found;
                       p->enumByCategory("Server", found);
                   });
               },
               "enumByCategory(): called on thread"},
        Misuse{"enumByIpAddress",
               [](ILookupServiceHandle* p) {
                   onOtherThread([p] {
                       std::vector<std::string> found;
                       p->enumByIpAddress(ids({"198.18.0.2"}), found);
                   });
               },
               "enumByIpAddress(): called on thread"},
        Misuse{"enumByPortNum",
               [](ILookupServiceHandle* p) {
                   onOtherThread([p] {
                       std::vector<std::string> found;
                       p->enumByPortNum(0, found);
                   });
               },
               "enumByPortNum(): called on thread"},
        Misuse{"delete", [](ILookupServiceHandle* p) { onOtherThread([p] { delete p; }); },
               "closeDatabase(): called on thread"}),
    [](const testing::TestParamInfo<Misuse>& info) { return std::string(info.param.name); });

// Any program can post to the proxy's window: a command it does not know, or a record no worker
// waits for, is an ERROR line or a trace line, and the proxy goes on.
TEST_F(LusProxyTest, StrayCommandsAreIgnoredAndFindsGoOn)
{
    inChild([&] {
        childTracesToFile(false);
        addTwoNodes();
        ILookupServiceHandle* proxy = makeProxy();
        HWND window = dynamic_cast<CQuarnLusProxy*>(proxy)->GetSafeHwnd();
        EXPECT_EQ(0, SendMessageA(window, WM_LUS_PROXY_COMMAND, 2, 0));
        EXPECT_EQ(0, SendMessageA(window, WM_LUS_PROXY_COMMAND, 0, 12345));
        PostMessageA(window, WM_APP + 1, 2, 0);
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageA(&message);
        WorkerFind worker;
        findOnWorker(worker, proxy, ids({"8"}));
        EXPECT_EQ("", worker.thrown) << worker.message;
        ASSERT_EQ(1u, worker.found.size());
        EXPECT_EQ("valid [Server] [198.18.0.2] 0 [TIME=2 SESSION=b]", shown(worker.found[0]));
        delete proxy;
    });
    std::vector<std::string> lines = dir.logLines();
    int errors = 0;
    for (const std::string& line : lines)
        errors += line.find("ERROR: [ CQuarnLusProxy ]") != std::string::npos;
    EXPECT_EQ(1, errors) << testing::PrintToString(lines);
    EXPECT_TRUE(hasLineWith(lines, "unknown command 2, ignored")) << testing::PrintToString(lines);
}

TEST_F(LusProxyTest, FindReadsEveryNodeAndTheFirstNodeInTheRootWins)
{
    inChild([&] {
        addTwoNodes();
        ILookupServiceHandle* proxy = makeProxy();
        std::string local = localAddress();
        std::vector<CTerminalInfo> found(3, CTerminalInfo("old", "1.1.1.1", 1, "old"));
        proxy->find(ids({"7", "8", "9", "x", "8", "20", "21"}), found);
        std::vector<std::string> expected = {
            "valid [Server] [" + local + "] 0 [TIME=1 SESSION=a]",
            INVALID,
            "valid [] [198.18.0.2] 0 []",
            INVALID,
            "valid [Server] [198.18.0.2] 0 [TIME=2 SESSION=b]",
            "valid [Same] [" + local + "] 0 [A]",
            "valid [Late] [198.18.0.2] 0 [d]",
        };
        EXPECT_EQ(expected, shown(found));
        EXPECT_EQ(0u, fake.openHandles());

        CTerminalInfo one = proxy->find("8");
        EXPECT_EQ("valid [Server] [198.18.0.2] 0 [TIME=2 SESSION=b]", shown(one));
        EXPECT_FALSE(proxy->isNotFound(one));
        CTerminalInfo none = proxy->find("x");
        EXPECT_EQ(INVALID, shown(none));
        EXPECT_TRUE(proxy->isNotFound(none));

        // No ids: nothing found, and the nodes are still looked at.
        int rootsBefore = rootsOpened();
        proxy->find(std::vector<std::string>(), found);
        EXPECT_TRUE(found.empty());
        EXPECT_EQ(rootsBefore + 1, rootsOpened());
        EXPECT_EQ(0u, fake.openHandles());
        delete proxy;
    });
}

TEST_F(LusProxyTest, EnumerationsAppendTheLastNodeFirstAndKeepDuplicates)
{
    inChild([&] {
        addTwoNodes();
        ILookupServiceHandle* proxy = makeProxy();
        std::string local = localAddress();
        struct {
            const char* name;
            std::function<void(std::vector<std::string>&)> enumerate;
            std::vector<std::string> expected;
        } table[] = {
            {"category Server", [&](std::vector<std::string>& r) { proxy->enumByCategory("Server", r); },
             {"keep", "8", "7"}},
            {"categories", [&](std::vector<std::string>& r) { proxy->enumByCategory(ids({"Server", "Same"}), r); },
             {"keep", "20", "8", "20", "7"}},
            {"no category", [&](std::vector<std::string>& r) { proxy->enumByCategory("none", r); }, {"keep"}},
            {"B's address", [&](std::vector<std::string>& r) { proxy->enumByIpAddress("198.18.0.2", r); },
             {"keep", "30", "21", "20", "9", "8"}},
            {"this computer", [&](std::vector<std::string>& r) { proxy->enumByIpAddress(local, r); },
             {"keep", "20", "7"}},
            {"both addresses", [&](std::vector<std::string>& r) { proxy->enumByIpAddress(ids({local.c_str(), "198.18.0.2"}), r); },
             {"keep", "30", "21", "20", "9", "8", "20", "7"}},
            {"port 0", [&](std::vector<std::string>& r) { proxy->enumByPortNum(0, r); },
             {"keep", "20", "9", "8", "20", "7"}},
            {"port 5", [&](std::vector<std::string>& r) { proxy->enumByPortNum(5, r); }, {"keep", "30"}},
        };
        for (const auto& row : table) {
            std::vector<std::string> result = {"keep"};
            row.enumerate(result);
            EXPECT_EQ(row.expected, result) << row.name;
            EXPECT_EQ(0u, fake.openHandles()) << row.name;
        }
        // An address no node has: no node's terminals are even opened.
        fake.paths.clear();
        std::vector<std::string> result;
        proxy->enumByIpAddress("198.18.0.9", result);
        EXPECT_TRUE(result.empty());
        EXPECT_EQ(0, opened(L"TerminalInfos"));
        EXPECT_EQ(1, rootsOpened());
        delete proxy;
    });
}

TEST_F(LusProxyTest, FindOnAWorkerEqualsFindOnTheUiThread)
{
    inChild([&] {
        addTwoNodes();
        ILookupServiceHandle* proxy = makeProxy();
        std::vector<std::string> asked = ids({"7", "8", "9", "x", "8", "20", "21"});
        std::vector<CTerminalInfo> onUiThread;
        proxy->find(asked, onUiThread);
        int baseline = liveObjectsAfterAHandOver(proxy);
        WorkerFind worker;
        findOnWorker(worker, proxy, asked);
        EXPECT_EQ("", worker.thrown) << worker.message;
        EXPECT_EQ(shown(onUiThread), shown(worker.found));
        EXPECT_EQ(baseline, awaitLiveObjects(baseline)) << "the record is freed";
        EXPECT_EQ(0u, fake.openHandles());
        delete proxy;
    });
}

// Whatever the search throws, the worker gets a CIOException or CLusException with its text,
// and the UI thread's handler lets nothing escape.
TEST_F(LusProxyTest, AWorkerGetsTheSearchsFailureAsIOOrLookupException)
{
    inChild([&] {
        addTwoNodes();
        ILookupServiceHandle* proxy = makeProxy();
        struct {
            std::function<void()> fail;
            const char* thrown;
            const char* message;
        } table[] = {
            {[] { throw CLusException("lookup broke"); }, "CLusException", "lookup broke"},
            {[] { throw CIOException("io broke"); }, "CIOException", "io broke"},
            {[] { throw CUnknownHostException("no host"); }, "CIOException", "no host"},
            {[] { throw std::runtime_error("runtime broke"); }, "CIOException", "runtime broke"},
            {[] { throw 5; }, "CIOException", "an exception of an unknown class"},
        };
        int baseline = liveObjectsAfterAHandOver(proxy);
        for (const auto& row : table) {
            fake.onLookupOpen = [&](const std::wstring&) { row.fail(); };
            WorkerFind worker;
            findOnWorker(worker, proxy, ids({"7"}));
            EXPECT_EQ(row.thrown, worker.thrown) << row.message;
            EXPECT_EQ(row.message, worker.message);
            EXPECT_EQ(baseline, awaitLiveObjects(baseline)) << row.message;
        }
        // On the UI thread the search's exception comes as it is.
        fake.onLookupOpen = [](const std::wstring&) { throw CLusException("lookup broke"); };
        std::vector<CTerminalInfo> found;
        EXPECT_THROW(proxy->find(ids({"7"}), found), CLusException);
        fake.onLookupOpen = nullptr;
        EXPECT_EQ(0u, fake.openHandles());
        delete proxy;
    });
}

TEST_F(LusProxyTest, AWorkerWhoseQueriesAreDisabledGetsTheRefusalAndTheRecordIsFreedOnce)
{
    inChild([&] {
        addTwoNodes();
        ILookupServiceHandle* proxy = makeProxy();
        auto expectRefused = [](const WorkerFind& worker) {
            EXPECT_EQ("CIOException", worker.thrown);
            EXPECT_EQ(0u, worker.message.find(" find(): CLocalMethod::invokeSync() raised an exception: "))
                << worker.message;
            EXPECT_NE(std::string::npos, worker.message.find("queries are forbidden")) << worker.message;
        };

        int baseline = liveObjectsAfterAHandOver(proxy);
        fake.calls.clear();

        // Refused before anything is handed over.
        {
            WorkerFind worker;
            worker.thread = std::thread([&] {
                ThreadOf self{GetCurrentThreadId()};
                CLocalMethod::disableQuery(&self);
                try {
                    proxy->find(ids({"7"}), worker.found);
                } catch (CIOException& e) {
                    worker.thrown = "CIOException";
                    worker.message = e.getMessage();
                }
                CLocalMethod::enableQuery(&self);
                worker.finished = true;
            });
            EXPECT_TRUE(pumpUntil([&] { return worker.finished.load(); }));
            worker.thread.join();
            expectRefused(worker);
            EXPECT_EQ(baseline, awaitLiveObjects(baseline));
            EXPECT_EQ(0, fake.count("LUDOpen")) << "no search ran";
        }

        // Released while its command still waits in the UI thread's queue: the command comes
        // late, finds nobody waiting and runs no search.
        {
            WorkerFind worker;
            worker.start(proxy, ids({"7"}));
            HWND hidden = invoker->GetSafeHwnd();
            MSG queued;
            EXPECT_TRUE(waitUntil([&] { return PeekMessageA(&queued, hidden, WM_APP, WM_APP, PM_NOREMOVE) != FALSE; }));
            ThreadOf workerThread{worker.threadId};
            CLocalMethod::disableQuery(&workerThread);
            EXPECT_TRUE(waitUntil([&] { return worker.finished.load(); }));
            worker.thread.join();
            CLocalMethod::enableQuery(&workerThread);
            expectRefused(worker);
            TraceCapture trace;
            EXPECT_TRUE(pumpUntil([&] { return trace.count("no longer waits") == 1; }));
            EXPECT_EQ(0, fake.count("LUDOpen")) << "no search ran";
            EXPECT_EQ(baseline, awaitLiveObjects(baseline));
        }

        // Released while the search runs: the UI thread finishes it and lets go of the record.
        {
            WorkerFind worker;
            ThreadOf workerThread{0};
            fake.onLookupOpen = [&](const std::wstring&) {
                if (workerThread.id != 0)
                    return;
                workerThread.id = worker.threadId;
                CLocalMethod::disableQuery(&workerThread);
                EXPECT_TRUE(waitUntil([&] { return worker.finished.load(); }));
            };
            TraceCapture trace;
            findOnWorker(worker, proxy, ids({"7"}));
            EXPECT_TRUE(pumpUntil([&] { return trace.count("the UI thread is done with the record") == 1; }));
            CLocalMethod::enableQuery(&workerThread);
            fake.onLookupOpen = nullptr;
            expectRefused(worker);
            EXPECT_EQ(baseline, awaitLiveObjects(baseline));
        }
        EXPECT_EQ(0u, fake.openHandles());
        delete proxy;
    });
}

// What no honest server holds, read from node B: each is skipped with an ERROR line, the rest
// is read, and the searches go on.
TEST_F(LusProxyTest, ForeignEntriesAreSkippedWithAnErrorLine)
{
    inChild([&] {
        const std::wstring longName(65536, L'n');
        const std::wstring nul(L"7\0zz", 4);
        fake.addNode(NODE_A);
        fake.addNode(L"");
        fake.addNode(L"n\\x");
        fake.addNode(L"file", 2);
        fake.addNode(longName);
        fake.addNode(NODE_B);
        addRecord(NODE_A, L"7", L"Server", 0, L"TIME=1");
        std::wstring b = app(NODE_B);
        fake.directories[b + L"\\TerminalInfos"] = {
            text(L"x", L"string"), folder(L"12"), folder(L"13"), folder(L"14"), folder(L"15"),
            folder(L""),           folder(L"a\\b"), folder(nul), folder(longName)};
        fake.directories[b + L"\\TerminalInfos\\12"] = {entry(L"Category", 3), number(L"PortNum", 0),
                                                        text(L"OptionalData", L"")};
        fake.directories[b + L"\\TerminalInfos\\13"] = {text(L"Category", L"Server")};
        fake.directories[b + L"\\TerminalInfos\\14"] = {text(L"Category", L"Server"), number(L"PortNum", 0),
                                                        text(L"OptionalData", L"d14"), text(L"Colour", L"red"),
                                                        text(L"", L"")};
        fake.directories[b + L"\\TerminalInfos\\15"] = {text(L"Category", L"S"), text(L"PortNum", L"0")};
        fake.directories[b + L"\\TerminalInfos\\" + longName] = {text(L"Category", L"Long")};
        fake.directories[b + L"\\Categorys"] = {number(L"10", 1),           text(L"13", L"Server"),
                                                text(L"", L"Server"),       text(L"a\\b", L"Server"),
                                                text(longName, L"Server"),  text(L"14", L"Server")};
        fake.directories[b + L"\\PortNums"] = {text(L"11", L"0"), number(L"13", 0), number(L"", 0),
                                               number(L"a\\b", 0), number(L"14", 0)};
        ILookupServiceHandle* proxy = makeProxy();
        std::string longId(65536, 'n');
        TraceCapture trace;
        std::vector<CTerminalInfo> found;
        std::vector<std::string> asked = {"12", "13", "14", "15", "x", "7", "", "a\\b", longId};
        proxy->find(asked, found);
        std::vector<std::string> expected = {
            INVALID,
            "valid [Server] [198.18.0.2] 0 []",
            "valid [Server] [198.18.0.2] 0 [d14]",
            INVALID,
            INVALID,
            "valid [Server] [198.18.0.2] 0 [TIME=1]",
            INVALID,
            INVALID,
            "valid [Long] [198.18.0.2] 0 []",
        };
        EXPECT_EQ(expected, shown(found));
        for (const char* piece : {"node name [] cannot", "node name [n\\x] cannot", "[x] of type 2",
                                  "[Category] of", "unexpected entry [Colour]", "unexpected entry []",
                                  "[PortNum] of", "[] of type 5", "[a\\b] of type 5"})
            EXPECT_EQ(1, trace.count(piece)) << piece << "\n" << trace.text();
        trace.clear();

        std::vector<std::string> result;
        proxy->enumByCategory("Server", result);
        EXPECT_EQ(ids({"14", longId.c_str(), "13", "7"}), result);
        for (const char* piece : {"[10] of type 1", "[] of type 2", "[a\\b] of type 2"})
            EXPECT_EQ(1, trace.count(piece)) << piece << "\n" << trace.text();
        result.clear();
        proxy->enumByPortNum(0, result);
        EXPECT_EQ(ids({"14", "13", "7"}), result);
        EXPECT_EQ(1, trace.count("[11] of type 2")) << trace.text();
        result.clear();
        proxy->enumByIpAddress("198.18.0.2", result);
        EXPECT_EQ(ids({longId.c_str(), "7", "15", "14", "13", "12", "7"}), result) << "the NUL ends the name";

        // No path was made of a name that cannot be one component.
        for (const std::wstring& path : fake.paths) {
            EXPECT_EQ(std::wstring::npos, path.find(L"\\\\")) << std::string(path.begin(), path.end());
            EXPECT_EQ(std::wstring::npos, path.find(L"n\\x\\"));
            EXPECT_EQ(std::wstring::npos, path.find(L"a\\b"));
        }
        EXPECT_EQ(0u, fake.openHandles());

        // A node that left meanwhile: its records are invalid, its terminals listed by no address.
        fake.addresses[L"\\" + NODE_B] = L"";
        trace.clear();
        proxy->find(asked, found);
        EXPECT_EQ(INVALID, shown(found[1]));
        EXPECT_EQ("valid [Server] [198.18.0.2] 0 [TIME=1]", shown(found[5]));
        EXPECT_LE(3, trace.count("the address of node [" + std::string(NODE_B.begin(), NODE_B.end()) + "]"));
        result.clear();
        proxy->enumByIpAddress("198.18.0.2", result);
        EXPECT_EQ(ids({"7"}), result);
        EXPECT_EQ(0u, fake.openHandles());
        delete proxy;
    });
}

TEST_F(LusProxyTest, WithoutAReadableRootEveryIdIsInvalidAndNothingIsEnumerated)
{
    inChild([&] {
        addTwoNodes();
        ILookupServiceHandle* proxy = makeProxy();
        struct {
            const char* name;
            std::function<void()> breakRoot;
        } table[] = {
            {"root does not open", [&] { fake.failures["LUDOpen"] = static_cast<HRESULT>(0xE0040202); }},
            {"root stays pending", [&] { fake.pendingCounts[L"\\"] = -1; }},
            {"root cannot be counted", [&] { fake.failures["LUDGetEntryCount"] = static_cast<HRESULT>(0xE0040202); }},
        };
        for (const auto& row : table) {
            row.breakRoot();
            std::vector<CTerminalInfo> found;
            proxy->find(ids({"7", "8"}), found);
            EXPECT_EQ((std::vector<std::string>{INVALID, INVALID}), shown(found)) << row.name;
            std::vector<std::string> result;
            proxy->enumByCategory("Server", result);
            proxy->enumByIpAddress("198.18.0.2", result);
            proxy->enumByPortNum(0, result);
            EXPECT_TRUE(result.empty()) << row.name;
            EXPECT_EQ(0u, fake.openHandles()) << row.name;
            fake.failures.clear();
            fake.pendingCounts.clear();
        }
        delete proxy;
    });
}

// Directory contents made from a seed, of the kinds no honest server holds: names that cannot be
// terminal ids, unexpected types and values, reads that fail or stay pending, nodes without an
// address. Every search ends normally, closes what it opened, puts records only at the places of
// the ids asked for and lists only names that can be terminal ids.
class CorruptLayout {
public:
    explicit CorruptLayout(unsigned seed) : state_(seed * 2654435761u + 1) {}

    void fill(FakeQuarnSrv& fake)
    {
        fake.directories.clear();
        fake.directories[L"\\"];
        fake.failures.clear();
        fake.pendingCounts.clear();
        fake.addresses.clear();
        fake.calls.clear();
        fake.paths.clear();
        const std::wstring nodes[] = {NODE_A, NODE_B, L"", L"a\\b", std::wstring(300, L'g')};
        for (unsigned n = 1 + next(2); n > 0; --n) {
            std::wstring node = nodes[next(8) < 6 ? next(2) : next(5)];
            fake.addNode(node, next(10) == 0 ? anyType() : 5);
            unsigned where = next(64);
            if (where < 8)
                fake.addresses[L"\\" + node] = L"";
            else if (where == 8 && next(4) == 0)
                fake.addresses[L"\\" + node] = L"127.0.0.1";
            std::wstring app = L"\\" + node + L"\\Applications\\Tav";
            fillSearchEntries(fake, app + L"\\Categorys", 2);
            fillSearchEntries(fake, app + L"\\PortNums", 1);
            if (next(6) == 0)
                continue;
            std::vector<FakeEntry>& terminals = fake.directories[app + L"\\TerminalInfos"];
            for (unsigned k = next(6); k > 0; --k) {
                FakeEntry e = entry(terminalName(), next(5) == 0 ? anyType() : 5);
                terminals.push_back(e);
                if (next(5) != 0)
                    fillRecord(fake.directories[app + L"\\TerminalInfos\\" + e.name]);
            }
        }
        if (next(8) == 0) {
            const char* methods[] = {"LUDGetEntryName", "LUDGetEntryType", "LUDGetEntryValueString",
                                     "LUDGetEntryValueInt", "LUDGetEntryCount", "LUDOpen", "GetIP"};
            fake.failures[methods[next(7)]] = static_cast<HRESULT>(0xE0040202);
        }
        if (next(8) == 0) {
            auto directory = fake.directories.begin();
            std::advance(directory, next(static_cast<unsigned>(fake.directories.size())));
            fake.pendingCounts[directory->first] = next(3) == 0 ? -1 : static_cast<int>(next(4));
        }
    }
    unsigned next(unsigned bound)
    {
        state_ ^= state_ << 13;
        state_ ^= state_ >> 17;
        state_ ^= state_ << 5;
        return bound == 0 ? 0 : state_ % bound;
    }

private:
    ULONG anyType()
    {
        const ULONG types[] = {0, 1, 2, 3, 4, 5, 6, 0xFFFFFFFF};
        return types[next(8)];
    }
    std::wstring terminalName()
    {
        const std::wstring names[] = {L"1", L"2", L"7", L"", L"\\", L"a\\b", std::wstring(L"7\0x", 3),
                                      std::wstring(300, L't'), L"Category"};
        return names[next(4) != 0 ? next(3) : next(9)];
    }
    std::wstring anyText()
    {
        const std::wstring texts[] = {L"Server", L"", L"x", std::wstring(L"Ser\0ver", 7), std::wstring(500, L's')};
        return texts[next(5)];
    }
    void setValue(FakeEntry& e)
    {
        e.intValue = static_cast<LONG>(next(3)) - 1;
        e.stringValue = anyText();
        e.binary.assign(next(4), 0xAB);
    }
    void fillSearchEntries(FakeQuarnSrv& fake, const std::wstring& path, ULONG type)
    {
        if (next(6) == 0)
            return;
        std::vector<FakeEntry>& entries = fake.directories[path];
        for (unsigned k = next(6); k > 0; --k) {
            FakeEntry e = entry(terminalName(), next(5) == 0 ? anyType() : type);
            setValue(e);
            entries.push_back(e);
        }
    }
    void fillRecord(std::vector<FakeEntry>& record)
    {
        const std::wstring names[] = {L"Category", L"PortNum", L"OptionalData", L"Colour", L""};
        const ULONG types[] = {2, 1, 2, 2, 2};
        for (unsigned k = next(5); k > 0; --k) {
            unsigned which = next(8) < 6 ? next(3) : next(5);
            FakeEntry e = entry(names[which], next(6) == 0 ? anyType() : types[which]);
            setValue(e);
            record.push_back(e);
        }
    }

    unsigned state_;
};

bool canBeTerminalId(const std::string& name)
{
    return !name.empty() && name.find('\\') == std::string::npos;
}

// 100,000 layouts in four processes of 25,000: reading each directory shows the wait cursor,
// which takes a call to the Wine server.
class LusProxyRobustness : public LusProxyTest, public testing::WithParamInterface<unsigned> {};

TEST_P(LusProxyRobustness, CorruptedDirectoriesNeverEndASearch)
{
    const unsigned CASES = 25000;
    const DWORD TIME_LIMIT_MS = 150000;
    if (!isChild()) {
        EXPECT_EQ(0, runInChild(dir, TIME_LIMIT_MS + 60000)) << fileBytes(dir.file("child.txt"));
        return;
    }
    inChild([&] {
        ILookupServiceHandle* proxy = makeProxy();
        // Only the ERROR lines: the ordinary trace of the searches would take longer than they.
        CTrace::setCodeScope("LusProxyRobustness");
        TraceCapture trace;
        const std::vector<std::string> asked = {"1", "2", "7", "", "a\\b", "1", "x"};
        DWORD start = GetTickCount();
        unsigned done = 0;
        for (; done < CASES && GetTickCount() - start < TIME_LIMIT_MS; ++done) {
            unsigned seed = GetParam() * CASES + done;
            CorruptLayout layout(seed);
            layout.fill(fake);
            std::vector<std::string> listed;
            std::vector<CTerminalInfo> found;
            switch (seed % 4) {
            case 0:
                proxy->find(asked, found);
                ASSERT_EQ(asked.size(), found.size()) << "seed " << seed;
                for (size_t i : {size_t(0), size_t(3), size_t(4), size_t(6)})
                    ASSERT_FALSE(found[i].isValid()) << "seed " << seed << " position " << i;
                for (const CTerminalInfo& info : found)
                    ASSERT_TRUE(!info.isValid() || !info.getIpAddress().empty()) << "seed " << seed;
                break;
            case 1:
                proxy->enumByCategory(ids({"Server", ""}), listed);
                break;
            case 2:
                proxy->enumByIpAddress(ids({"198.18.0.2", ""}), listed);
                break;
            default:
                proxy->enumByPortNum(layout.next(2), listed);
                break;
            }
            for (const std::string& name : listed)
                ASSERT_TRUE(canBeTerminalId(name)) << "seed " << seed << " [" << name << "]";
            ASSERT_EQ(0u, fake.openHandles()) << "seed " << seed;
            trace.clear();
        }
        std::printf("FIGURE %u corrupted layouts searched in %lu ms\n", done,
                    static_cast<unsigned long>(GetTickCount() - start));
        EXPECT_EQ(CASES, done) << "not all cases within the time";
        delete proxy;
    });
}

INSTANTIATE_TEST_SUITE_P(Shards, LusProxyRobustness, testing::Values(0u, 1u, 2u, 3u));

}  // namespace
