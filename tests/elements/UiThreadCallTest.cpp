// Calls that other threads have run on the UI thread: posted and waited for, results and
// exceptions, bridges, query control, and the paths that end the process.
#include "CLocalMethod.h"

#include "CIOException.h"
#include "CIllegalStateException.h"
#include "CNoSuchMethodException.h"
#include "CThread.h"
#include "CTrace.h"
#include "CWin32LastErrorException.h"
#include "TestSupport.h"
#include "UiThreadHarness.h"

#include <gtest/gtest.h>

#include <set>

namespace {

bool anyLineHas(const std::vector<std::string>& lines, const std::string& piece)
{
    for (const std::string& line : lines) {
        if (line.find(piece) != std::string::npos)
            return true;
    }
    return false;
}

// Runs a synchronous call on a worker; tells what came back.
struct SyncOutcome {
    std::atomic<bool> done{false};
    std::atomic<bool> refused{false};
    std::atomic<LRESULT> result{0};
};

void syncOn(Worker& worker, SyncOutcome& outcome, std::function<LRESULT()> body)
{
    worker.post([&outcome, body] {
        try {
            outcome.result = runSync(body);
        } catch (CIllegalStateException&) {
            outcome.refused = true;
        }
        outcome.done = true;
    });
}

DWORD threadIdOf(Worker& worker)
{
    DWORD id = 0;
    worker.run([&] { id = GetCurrentThreadId(); });
    return id;
}

const int POSTS = 50;

TEST(UiThreadCall, CallsFromWorkersRunOnTheUiThreadInOrder)
{
    constexpr int workers = 4, posts = POSTS;
    DWORD uiThread = UiThread::get().threadId();
    std::mutex lock;
    std::vector<std::pair<int, int>> ran;   // (worker, step); step == posts is the closing query
    std::atomic<int> wrongThread{0};
    std::atomic<int> deleted{0};
    {
        std::vector<std::unique_ptr<Worker>> running;
        for (int w = 0; w < workers; ++w) {
            running.push_back(std::make_unique<Worker>());
            running.back()->post([&, w] {
                auto note = [&, w](int step) {
                    if (GetCurrentThreadId() != uiThread)
                        ++wrongThread;
                    std::lock_guard<std::mutex> hold(lock);
                    ran.emplace_back(w, step);
                };
                for (int step = 0; step < posts; ++step) {
                    EXPECT_EQ(0, CLocalMethod::invokeByUiThread(new FunctionCall(
                                     IIM_ASYNC_NOARG, [note, step] { note(step); return LRESULT(99); }, &deleted)));
                }
                EXPECT_EQ(w, CLocalMethod::invokeByUiThread(new FunctionCall(
                                 IIM_SYNC_NOARG, [note, w] { note(POSTS); return LRESULT(w); }, &deleted)));
            });
        }
        for (auto& worker : running)
            ASSERT_TRUE(worker->waitIdle(60000));
    }
    EXPECT_EQ(0, wrongThread);
    EXPECT_EQ(workers * (posts + 1), deleted) << "every record is deleted once it has run";
    std::vector<int> next(workers, 0);
    std::lock_guard<std::mutex> hold(lock);
    ASSERT_EQ(size_t(workers * (posts + 1)), ran.size());
    for (const auto& entry : ran)
        EXPECT_EQ(next[entry.first]++, entry.second) << "worker " << entry.first;
}

TEST(UiThreadCall, SynchronousCallsReturnResults)
{
    EXPECT_EQ(42, runSync([] { return LRESULT(42); }));
    // Results are pointer-sized: an answer object's address comes back whole.
    static int answer = 0;
    LRESULT address = reinterpret_cast<LRESULT>(&answer);
    EXPECT_EQ(address, runSync([address] { return address; }));

    std::string name = CLocalMethod::makeUniqueName();
    CTestWnd* wnd = CTestWnd::createOnUiThread(name);
    EXPECT_EQ(42, CLocalMethod::invokeSync(name, CTestWnd::WM_ADD, 40, 2));

    // A posted window message is sent on the UI thread; the caller does not wait.
    EXPECT_EQ(0, CLocalMethod::invokeByUiThread(new CIndirectMethodInfo(IIM_ASYNC_WNDMSG, name, CTestWnd::WM_NOTE, 0, 7)));
    ASSERT_TRUE(wnd->noted.waitFor(10000));
    EXPECT_EQ((std::vector<LPARAM>{7}), wnd->notes());

    CLocalMethod::removeTarget(name);
    CTestWnd::destroyOnUiThread(wnd);
}

TEST(UiThreadCall, WindowMessageToAnUnknownNameAnswersZeroWithAnError)
{
    UiThread::get();
    TraceCapture trace;
    EXPECT_EQ(0, CLocalMethod::invokeSync("no such window", CTestWnd::WM_ADD, 1, 2));
    EXPECT_EQ(1, trace.count("ERROR: ")) << trace.text();
    EXPECT_EQ(1, trace.count("invalid target [no such window]")) << trace.text();
}

// What the call throws on the UI thread reaches the thread that waits for it; the UI thread
// goes on.
TEST(UiThreadCall, SynchronousCallsHandExceptionsBack)
{
    try {
        runSync([]() -> LRESULT { throw CNoSuchMethodException("no method [x]"); });
        ADD_FAILURE() << "must throw";
    } catch (CNoSuchMethodException& e) {
        EXPECT_EQ("no method [x]", e.getMessage());
    }

    std::atomic<int> deleted{0};
    ISerializable* thrown = new DeletionProbe(&deleted);
    try {
        runSync([thrown]() -> LRESULT { throw thrown; });
        ADD_FAILURE() << "must throw";
    } catch (ISerializable* e) {
        EXPECT_EQ(thrown, e) << "the caller gets the very object";
        delete e;
    }
    EXPECT_EQ(1, deleted);

    std::string name = CLocalMethod::makeUniqueName();
    CTestWnd* wnd = CTestWnd::createOnUiThread(name);
    try {
        CLocalMethod::invokeSync(name, CTestWnd::WM_THROW, 0, 0);
        ADD_FAILURE() << "must throw";
    } catch (CIOException& e) {
        EXPECT_EQ("window threw", e.getMessage());
    }
    EXPECT_EQ(3, CLocalMethod::invokeSync(name, CTestWnd::WM_ADD, 1, 2));
    CLocalMethod::removeTarget(name);
    CTestWnd::destroyOnUiThread(wnd);
}

TEST(UiThreadCall, PostedCallThatThrowsLeavesTheUiThreadRunning)
{
    UiThread::get();
    std::atomic<int> deleted{0};
    TraceCapture trace;
    runAsync([] { throw CIOException("posted threw"); });
    ISerializable* thrown = new DeletionProbe(&deleted);
    runAsync([thrown] { throw thrown; });
    EXPECT_EQ(5, runSync([] { return LRESULT(5); }));
    EXPECT_EQ(1, deleted) << "a thrown object is deleted by the catcher";
    EXPECT_EQ(2, trace.count("ERROR: ")) << trace.text();
    EXPECT_EQ(1, trace.count("posted threw")) << trace.text();
    EXPECT_EQ(1, trace.count("DeletionProbe")) << trace.text();
}

TEST(UiThreadCall, CallMadeOnTheUiThreadIsRefused)
{
    std::atomic<int> deleted{0};
    std::atomic<int> innerRuns{0};
    LRESULT refusals = runSync([&] {
        LRESULT refused = 0;
        for (int kind : {IIM_SYNC_NOARG, IIM_ASYNC_NOARG}) {
            try {
                CLocalMethod::invokeByUiThread(new FunctionCall(kind, [&] { ++innerRuns; return LRESULT(0); }, &deleted));
            } catch (CIllegalStateException&) {
                ++refused;
            }
        }
        return refused;
    });
    runSync([] { return LRESULT(0); });   // a wrongly posted call would have run by now
    EXPECT_EQ(2, refusals);
    EXPECT_EQ(0, innerRuns);
    EXPECT_EQ(2, deleted) << "a refused record is deleted";
}

TEST(UiThreadCall, TwoWaitingCallersUseTwoBridges)
{
    UiThread& ui = UiThread::get();
    runSync([] { return LRESULT(0); });
    ui.takeBridgesSeen();

    // One round: the UI thread holds back until both callers wait, the first one queued first.
    auto round = [&] {
        Signal firstQueued, secondStarted, bothQueued;
        runAsync([&] {
            if (waitForQueuedRequests(1, 10000))
                firstQueued.set();
            secondStarted.waitFor(10000);
            if (waitForQueuedRequests(2, 10000))
                bothQueued.set();
        });
        Worker one, two;
        SyncOutcome first, second;
        syncOn(one, first, [] { return LRESULT(1); });
        EXPECT_TRUE(firstQueued.waitFor(10000));
        syncOn(two, second, [] { return LRESULT(2); });
        secondStarted.set();
        EXPECT_TRUE(bothQueued.waitFor(10000));
        EXPECT_TRUE(one.waitIdle(10000));
        EXPECT_TRUE(two.waitIdle(10000));
        EXPECT_EQ(1, first.result);
        EXPECT_EQ(2, second.result);
        return ui.takeBridgesSeen();
    };
    std::vector<LPARAM> firstRound = round();
    ASSERT_EQ(2u, firstRound.size());
    EXPECT_NE(firstRound[0], firstRound[1]);

    // Both are free again: the next call takes the first of them, and a second round uses the
    // same two, so the pool has not grown.
    runSync([] { return LRESULT(0); });
    EXPECT_EQ((std::vector<LPARAM>{firstRound[0]}), ui.takeBridgesSeen());
    std::vector<LPARAM> secondRound = round();
    EXPECT_EQ(std::set<LPARAM>(firstRound.begin(), firstRound.end()),
              std::set<LPARAM>(secondRound.begin(), secondRound.end()));
}

TEST(UiThreadCall, DisabledHandlerThreadIsRefusedUntilEnabledAsOftenAsDisabled)
{
    UiThread::get();
    Worker worker;
    FakeHandler handler{threadIdOf(worker)};
    std::atomic<int> runs{0};
    std::atomic<int> deleted{0};
    auto tryQuery = [&] {
        bool refused = false;
        worker.run([&] {
            try {
                CLocalMethod::invokeByUiThread(new FunctionCall(IIM_SYNC_NOARG, [&] { ++runs; return LRESULT(0); }, &deleted));
            } catch (CIllegalStateException&) {
                refused = true;
            }
        });
        return refused;
    };

    CLocalMethod::disableQuery(&handler);
    EXPECT_FALSE(CLocalMethod::isQueryAllowed(handler.threadId));
    EXPECT_TRUE(tryQuery());
    EXPECT_EQ(0, runs);
    EXPECT_EQ(1, deleted);
    // Other threads may still query, and the disabled one may still post.
    EXPECT_EQ(7, runSync([] { return LRESULT(7); }));
    Signal posted;
    worker.run([&] { runAsync([&] { posted.set(); }); });
    EXPECT_TRUE(posted.waitFor(10000));

    {
        TraceCapture trace;
        CLocalMethod::disableQuery(&handler);   // unbalanced: reported, and counted nevertheless
        EXPECT_EQ(1, trace.count("ERROR: ")) << trace.text();
    }
    CLocalMethod::enableQuery(&handler);
    EXPECT_TRUE(tryQuery());
    CLocalMethod::enableQuery(&handler);
    EXPECT_TRUE(CLocalMethod::isQueryAllowed(handler.threadId));
    EXPECT_FALSE(tryQuery());
    EXPECT_EQ(1, runs);
    {
        TraceCapture trace;
        CLocalMethod::enableQuery(&handler);   // unbalanced: reported only
        EXPECT_EQ(1, trace.count("ERROR: ")) << trace.text();
    }
    EXPECT_FALSE(tryQuery());
    EXPECT_EQ(2, runs);
}

TEST(UiThreadCall, DisablingAHandlerWakesOnlyItsWaitingThread)
{
    UiThread& ui = UiThread::get();
    Worker disabled, other;
    FakeHandler handler{threadIdOf(disabled)};
    runSync([] { return LRESULT(0); });
    ui.takeBridgesSeen();
    Signal queued, moreQueued, release, lateRun;
    runAsync([&] {
        if (waitForQueuedRequests(2, 10000))
            queued.set();
        if (waitForQueuedRequests(3, 10000))
            moreQueued.set();
        release.waitFor(30000);
    });
    SyncOutcome woken, waiting;
    syncOn(disabled, woken, [&] { lateRun.set(); return LRESULT(1); });
    syncOn(other, waiting, [] { return LRESULT(2); });
    ASSERT_TRUE(queued.waitFor(10000));

    CLocalMethod::disableQuery(&handler);
    EXPECT_TRUE(disabled.waitIdle(10000));
    EXPECT_TRUE(woken.refused);
    EXPECT_FALSE(lateRun.isSet()) << "the call has not run yet";
    EXPECT_FALSE(other.waitIdle(200)) << "another thread's wait goes on";

    // Enabled again, the thread may wait once more; its old bridge is still due on the UI
    // thread, so the new call must not take it.
    CLocalMethod::enableQuery(&handler);
    SyncOutcome again;
    syncOn(disabled, again, [] { return LRESULT(3); });
    EXPECT_TRUE(moreQueued.waitFor(10000));

    release.set();
    EXPECT_TRUE(other.waitIdle(10000));
    EXPECT_TRUE(disabled.waitIdle(10000));
    EXPECT_EQ(2, waiting.result);
    EXPECT_EQ(3, again.result);
    EXPECT_TRUE(lateRun.isSet()) << "the UI thread still runs the call it was given";
    std::vector<LPARAM> bridges = ui.takeBridgesSeen();
    EXPECT_EQ(3u, std::set<LPARAM>(bridges.begin(), bridges.end()).size());
}

// UI-thread code run for a waiting worker may itself ask about and change query control while
// another thread disables and enables that worker's queries. The invoker holds none of its locks
// across that code, so neither side waits for the other. A regression would stop the process
// (the lock tracking reports the deadlock), so it runs in a child.
TEST(UiThreadCall, QueryControlFromUiThreadCodeMeetsConcurrentDisables)
{
    if (isChild()) {
        childTracesToFile(false);
        UiThread::get();
        Worker caller, disabler, bystander;
        FakeHandler callerHandler{threadIdOf(caller)};
        FakeHandler bystanderHandler{threadIdOf(bystander)};
        const int rounds = 1000;
        std::atomic<int> attempts{0}, answered{0}, refused{0};
        std::atomic<bool> stop{false};
        disabler.post([&] {
            while (!stop) {
                CLocalMethod::disableQuery(&callerHandler);
                Sleep(0);
                CLocalMethod::enableQuery(&callerHandler);
            }
        });
        caller.post([&] {
            DWORD begin = GetTickCount();
            for (int i = 0; i < rounds && GetTickCount() - begin < 15000; ++i) {
                ++attempts;
                try {
                    runSync([&] {
                        for (int j = 0; j < 20; ++j) {
                            CLocalMethod::isQueryAllowed(callerHandler.threadId);
                            CLocalMethod::disableQuery(&bystanderHandler);
                            CLocalMethod::enableQuery(&bystanderHandler);
                        }
                        return LRESULT(1);
                    });
                    ++answered;
                } catch (CIllegalStateException&) {
                    ++refused;
                }
            }
        });
        EXPECT_TRUE(caller.waitIdle(60000));
        stop = true;
        EXPECT_TRUE(disabler.waitIdle(10000));
        EXPECT_EQ(attempts, answered + refused) << "every call came back, answered or refused";

        // A disable from the call's own code releases its waiting worker at once, while the call
        // goes on: the disable does not wait for the call to end.
        Signal released, callEnded;
        SyncOutcome outcome;
        syncOn(caller, outcome, [&] {
            CLocalMethod::disableQuery(&callerHandler);
            bool waited = released.waitFor(10000);
            callEnded.set();
            return LRESULT(waited ? 1 : 0);
        });
        EXPECT_TRUE(waitUntil([&] { return outcome.done.load(); }));
        EXPECT_TRUE(outcome.refused);
        released.set();
        EXPECT_TRUE(callEnded.waitFor(10000));
        CLocalMethod::enableQuery(&callerHandler);
        SyncOutcome again;
        syncOn(caller, again, [] { return LRESULT(8); });
        EXPECT_TRUE(caller.waitIdle(10000));
        EXPECT_EQ(8, again.result) << "served again once enabled";
        exit(testing::Test::HasFailure() ? 1 : 0);
    }
    TempDir dir;
    EXPECT_EQ(0, runInChild(dir));
    EXPECT_FALSE(anyLineHas(dir.logLines(), "deadlock")) << testing::PrintToString(dir.logLines());
}

// The disable for all threads is for good, so it runs in a process of its own.
TEST(UiThreadCall, GlobalDisableWakesWaitingWorkerAndRefusesEveryLaterQuery)
{
    if (isChild()) {
        Worker worker;
        Signal queued, release, lateRun;
        runAsync([&] {
            if (waitForQueuedRequests(1, 10000))
                queued.set();
            release.waitFor(30000);
        });
        SyncOutcome woken;
        syncOn(worker, woken, [&] { lateRun.set(); return LRESULT(1); });
        EXPECT_TRUE(queued.waitFor(10000));

        CLocalMethod::disableQuery();
        EXPECT_TRUE(worker.waitIdle(10000));
        EXPECT_TRUE(woken.refused);
        EXPECT_FALSE(lateRun.isSet());
        CLocalMethod::disableQuery();   // a second time changes nothing

        release.set();
        EXPECT_TRUE(lateRun.waitFor(10000)) << "the UI thread still runs the call it was given";
        EXPECT_FALSE(CLocalMethod::isQueryAllowed(GetCurrentThreadId()));
        EXPECT_THROW(runSync([] { return LRESULT(0); }), CIllegalStateException);
        SyncOutcome later;
        syncOn(worker, later, [] { return LRESULT(0); });
        EXPECT_TRUE(worker.waitIdle(10000));
        EXPECT_TRUE(later.refused);
        // A later enable of a handler does not undo it.
        FakeHandler handler{GetCurrentThreadId()};
        CLocalMethod::disableQuery(&handler);
        CLocalMethod::enableQuery(&handler);
        EXPECT_THROW(runSync([] { return LRESULT(0); }), CIllegalStateException);

        Signal posted;
        runAsync([&] { posted.set(); });
        EXPECT_TRUE(posted.waitFor(10000)) << "posted calls still run";
        exit(testing::Test::HasFailure() ? 1 : 0);
    }
    TempDir dir;
    EXPECT_EQ(0, runInChild(dir));
}

// A request that cannot reach the UI thread fails at once instead of leaving its caller waiting:
// before any invoker exists, and once it is gone. Deleting the invoker reports what was left.
TEST(UiThreadCall, RequestThatCannotBePostedFails)
{
    if (isChild()) {
        childTracesToFile(true);
        Worker other;
        other.run([] { CThread::registerUIThread(); });
        std::atomic<int> deleted{0};
        auto expectPostFailure = [&](int kind) {
            try {
                CLocalMethod::invokeByUiThread(new FunctionCall(kind, [] { return LRESULT(0); }, &deleted));
                ADD_FAILURE() << "kind " << kind << " must throw";
            } catch (CWin32LastErrorException& e) {
                EXPECT_EQ(DWORD(ERROR_INVALID_WINDOW_HANDLE), e.getErrorCode()) << e.getMessage();
            }
        };
        expectPostFailure(IIM_SYNC_NOARG);
        expectPostFailure(IIM_ASYNC_NOARG);
        EXPECT_EQ(2, deleted);

        CLocalMethod::addWindow("left behind", UiThread::get().hiddenWindow());
        EXPECT_EQ(1, runSync([] { return LRESULT(1); }));
        UiThread::stop();
        expectPostFailure(IIM_SYNC_NOARG);
        expectPostFailure(IIM_ASYNC_NOARG);
        EXPECT_THROW(CLocalMethod::invokeSync("left behind", WM_NULL, 0, 0), CWin32LastErrorException);
        EXPECT_EQ(4, deleted);
        exit(testing::Test::HasFailure() ? 1 : 0);
    }
    TempDir dir;
    EXPECT_EQ(0, runInChild(dir));
    std::vector<std::string> lines = dir.logLines();
    EXPECT_TRUE(anyLineHas(lines, "the window table still holds 1 entries")) << testing::PrintToString(lines);
    EXPECT_TRUE(anyLineHas(lines, "[left behind]")) << testing::PrintToString(lines);
    EXPECT_TRUE(anyLineHas(lines, "deleting 1 bridges")) << testing::PrintToString(lines);
}

struct FatalCase {
    const char* name;
    void (*cause)();
    const char* line;
};

void PrintTo(const FatalCase& c, std::ostream* out)
{
    *out << c.name;
}

class UiThreadCallFatal : public testing::TestWithParam<FatalCase> {};

TEST_P(UiThreadCallFatal, EndsTheProcess)
{
    const FatalCase& c = GetParam();
    if (isChild()) {
        childTracesToFile(true);
        c.cause();
        Sleep(20000);
        exit(0);   // not stopped: the parent sees 0
    }
    TempDir dir;
    EXPECT_EQ(ABNORMAL_EXIT, runInChild(dir));
    std::vector<std::string> lines = dir.logLines();
    EXPECT_TRUE(anyLineHas(lines, c.line)) << testing::PrintToString(lines);
}

INSTANTIATE_TEST_SUITE_P(
    Causes, UiThreadCallFatal,
    testing::Values(
        FatalCase{"NoUiThreadRegistered",
                  [] { CLocalMethod::invokeByUiThread(new FunctionCall(IIM_SYNC_NOARG, [] { return LRESULT(0); })); },
                  "FATAL ERROR: [ CLocalMethod ] invokeByUiThread(): no UI thread is registered"},
        FatalCase{"UnknownKind",
                  [] {
                      UiThread::get();
                      CLocalMethod::invokeByUiThread(new FunctionCall(8, [] { return LRESULT(0); }));
                  },
                  "unknown method type 8"},
        FatalCase{"UnknownCommand",
                  [] { PostMessageA(UiThread::get().hiddenWindow(), WM_APP, 3, 0); },
                  "FATAL ERROR: [ CLocalMethod ] OnInvokeMessage(): unknown command 3"},
        FatalCase{"NoExecutor",
                  [] {
                      UiThread::get();
                      CLocalMethod::invokeByUiThread(new CIndirectMethodInfo(IIM_SYNC_NOARG, nullptr, "m", nullptr, 0, nullptr));
                  },
                  "ASSERT: [ CLocalMethod ] Execute(): getExecutor() returned NULL"}),
    [](const testing::TestParamInfo<FatalCase>& info) { return std::string(info.param.name); });

} // namespace
