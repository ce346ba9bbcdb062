#include "CJObject.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <regex>

namespace {

// wait() reports the release of the monitor to the lock tracking after it has set its waiting
// state and before it goes to sleep; a test arms gapThread to run gapAction right there, once.
std::atomic<DWORD> s_gapThread{0};
std::function<void()> s_gapAction;

} // namespace

// CTrace::popLock(const void*); --wrap sends the library's calls here first.
extern "C" {
void __real__ZN6CTrace7popLockEPKv(const void* identity);

void __wrap__ZN6CTrace7popLockEPKv(const void* identity)
{
    DWORD self = GetCurrentThreadId();
    if (s_gapThread == self && s_gapThread.compare_exchange_strong(self, 0))
        s_gapAction();
    __real__ZN6CTrace7popLockEPKv(identity);
}
}

namespace {

DWORD elapsedSince(DWORD start)
{
    return GetTickCount() - start;
}

// Returns holding the monitor with ready set: the waiter that set ready under the monitor
// has then released it inside wait().
void lockOnceWaiterIsInside(CJObject& monitor, const bool& ready)
{
    for (;;) {
        monitor.ObjectLock(2, "Test");
        if (ready)
            return;
        monitor.ObjectUnLock();
        Sleep(1);
    }
}

TEST(CJObject, DefaultsAnswerByIdentityOnly)
{
    CJObject one, two;
    EXPECT_FALSE(one.equals(&two));
    EXPECT_FALSE(one.equals(&one));
    EXPECT_FALSE(one.isEquatable());
    EXPECT_EQ(0, one.hashCode());
    char expected[40];
    snprintf(expected, sizeof(expected), "[0x%08llx]//CJObject",
             static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(&one)));
    EXPECT_EQ(expected, one.toString());
    EXPECT_EQ(expected, objectToString(&one));
    EXPECT_EQ("NULL", objectToString(nullptr));
}

struct Derived : CJObject {
    bool equals(const CJObject* other) const override { return default_equals(other); }
    int hashCode() const override { return default_hashCode(); }
};

TEST(CJObject, DerivedDefaultsCompareAddresses)
{
    Derived one, two;
    EXPECT_TRUE(one.equals(&one));
    EXPECT_FALSE(one.equals(&two));
    EXPECT_EQ(1, one.hashCode());
}

// The event exists only once an object was waited on, and its end is traced under the root's
// silenced scope.
TEST(CJObject, OnlyAWaitedObjectTracesTheDeleteOfItsEvent)
{
    if (isChild()) {
        childTracesToFile(false);
        CTrace::setCodeScope("//CJObject");
        {
            CJObject untouched;
            CJObject lockedOnly;
            lockedOnly.ObjectLock(1, "Test");
            lockedOnly.ObjectUnLock();
        }
        CTrace::write(" next");
        {
            CJObject waited;
            waited.ObjectLock(1, "Test");
            waited.wait(1);
            waited.ObjectUnLock();
        }
        exit(0);
    }
    TempDir dir;
    EXPECT_EQ(0, runInChild(dir));
    std::vector<std::string> lines = dir.logLines();
    ASSERT_EQ(3u, lines.size()) << testing::PrintToString(lines);
    EXPECT_EQ("[CHILD]  next", lines[1]);
    EXPECT_TRUE(std::regex_match(lines[2], std::regex("\\[CHILD\\] \\[ //CJObject \\] <[0-9]+> delete"))) << lines[2];
}

// Objects made and destroyed on many threads at once: the live count comes back to where it
// started, so one extra count-down is the first and only one to go below zero.
TEST(CJObject, InstanceCountIsExactAcrossThreads)
{
    if (isChild()) {
        CTrace::setOutputToFile();
        CTrace::setTimeStamp(false);
        CTrace::setDumpOff();
        CTrace::setDumpLevel(0);
        {
            std::vector<std::unique_ptr<Worker>> workers;
            for (int t = 0; t < 4; ++t) {
                workers.emplace_back(new Worker);
                workers.back()->post([] {
                    for (int i = 0; i < 1000; ++i) {
                        std::vector<std::unique_ptr<CJObject>> batch;
                        for (int k = 0; k < 3; ++k)
                            batch.emplace_back(new CJObject);
                    }
                });
            }
        }
        CTrace::countDown();
        exit(0);
    }
    TempDir dir;
    EXPECT_EQ(0, runInChild(dir));
    std::vector<std::string> below;
    for (const std::string& line : dir.logLines())
        if (line.find("velow zero") != std::string::npos)
            below.push_back(line);
    ASSERT_EQ(1u, below.size()) << testing::PrintToString(below);
    EXPECT_NE(std::string::npos, below[0].find("COUNTER velow zero.[-1]")) << below[0];
}

TEST(CJObject, NotifyWakesWaiter)
{
    CJObject monitor;
    bool ready = false, signalled = false;
    std::atomic<int> result{-1};
    Worker waiter;
    waiter.post([&] {
        monitor.ObjectLock(1, "Test");
        ready = true;
        bool woke = true;
        while (!signalled && woke)
            woke = monitor.wait(INFINITE);
        result = woke ? 1 : 0;
        monitor.ObjectUnLock();
    });
    lockOnceWaiterIsInside(monitor, ready);
    signalled = true;
    monitor.notify();
    monitor.ObjectUnLock();
    ASSERT_TRUE(waiter.waitIdle(10000));
    EXPECT_EQ(1, result.load());
}

TEST(CJObject, WaitTimesOutAndReportsTrue)
{
    CJObject monitor;
    monitor.ObjectLock(1, "Test");
    DWORD start = GetTickCount();
    EXPECT_TRUE(monitor.wait(100));
    DWORD elapsed = elapsedSince(start);
    monitor.ObjectUnLock();
    EXPECT_GE(elapsed, 80u);
    EXPECT_LT(elapsed, 10000u);
}

TEST(CJObject, NotifyWithoutWaiterIsNotRemembered)
{
    CJObject monitor;
    monitor.notify();
    monitor.ObjectLock(1, "Test");
    monitor.notify();
    DWORD start = GetTickCount();
    EXPECT_TRUE(monitor.wait(200));
    EXPECT_GE(elapsedSince(start), 150u);
    monitor.ObjectUnLock();
}

TEST(CJObject, SecondWaiterIsRefusedAndFirstIsUnaffected)
{
    CJObject monitor;
    bool ready = false, signalled = false;
    std::atomic<bool> firstWoke{false};
    Worker waiter;
    waiter.post([&] {
        monitor.ObjectLock(1, "Test");
        ready = true;
        while (!signalled)
            monitor.wait(INFINITE);
        firstWoke = true;
        monitor.ObjectUnLock();
    });
    lockOnceWaiterIsInside(monitor, ready);
    DWORD start = GetTickCount();
    EXPECT_FALSE(monitor.wait(5000));
    EXPECT_LT(elapsedSince(start), 2000u);
    // This thread still holds the monitor after the refusal.
    signalled = true;
    monitor.notify();
    monitor.ObjectUnLock();
    ASSERT_TRUE(waiter.waitIdle(10000));
    EXPECT_TRUE(firstWoke);
}

TEST(CJObject, NestedLocksLeaveTheMonitorFree)
{
    CJObject monitor;
    monitor.ObjectLock(1, "Test");
    monitor.ObjectLock(2, "Test");
    monitor.ObjectUnLock();
    monitor.ObjectUnLock();
    Worker other;
    other.post([&] {
        monitor.ObjectLock(3, "Test");
        monitor.ObjectUnLock();
    });
    EXPECT_TRUE(other.waitIdle(10000));
}

TEST(CJObject, CopyHasItsOwnMonitor)
{
    CJObject original;
    original.ObjectLock(1, "Test");
    CJObject copy(original);
    CJObject assigned;
    assigned = original;
    Worker other;
    other.post([&] {
        copy.ObjectLock(2, "Test");
        copy.ObjectUnLock();
        assigned.ObjectLock(3, "Test");
        assigned.ObjectUnLock();
    });
    EXPECT_TRUE(other.waitIdle(10000));
    original.ObjectUnLock();
}

TEST(CJObject, MonitorExcludesOtherThreads)
{
    CJObject monitor;
    long counter = 0;
    const int perThread = 20000;
    {
        Worker a, b, c;
        for (Worker* w : {&a, &b, &c})
            w->post([&] {
                for (int i = 0; i < perThread; ++i) {
                    monitor.ObjectLock(1, "Test");
                    long seen = counter;
                    if (i % 64 == 0)
                        Sleep(0);
                    counter = seen + 1;
                    monitor.ObjectUnLock();
                }
            });
    }
    EXPECT_EQ(3L * perThread, counter);
}

// A notify from a thread that does not hold the monitor, given after the waiter has entered
// wait() but before it sleeps, wakes it: the waiter does not sleep out its time.
TEST(CJObject, NotifyBetweenEnteringWaitAndSleepingIsNotLost)
{
    CJObject monitor;
    Worker notifier;
    std::atomic<bool> notified{false};
    s_gapAction = [&] {
        notifier.post([&] {
            monitor.notify();
            notified = true;
        });
        waitUntil([&] { return notified.load(); }, 5000);
    };
    monitor.ObjectLock(1, "Test");
    s_gapThread = GetCurrentThreadId();
    DWORD start = GetTickCount();
    EXPECT_TRUE(monitor.wait(20000));
    DWORD elapsed = elapsedSince(start);
    monitor.ObjectUnLock();
    EXPECT_TRUE(notified);
    EXPECT_LT(elapsed, 4000u);
    EXPECT_TRUE(notifier.waitIdle(20000));
}

// After waits that end by notify and by time-out the thread's lock records are exactly what it
// holds: a stale record of the waited monitor would make the next lock look like a deadlock
// with a thread that holds that monitor, and stop the program.
TEST(CJObject, LockTrackingIsBalancedAcrossWait)
{
    if (isChild()) {
        childTracesToFile(false);
        CJObject waited, other;
        bool signalled = false;
        {
            Worker notifier;
            waited.ObjectLock(1, "Test");
            notifier.post([&] {
                waited.ObjectLock(2, "Test");
                signalled = true;
                waited.notify();
                waited.ObjectUnLock();
            });
            while (!signalled)
                waited.wait(INFINITE);
            waited.wait(1);
            waited.ObjectUnLock();
        }
        std::atomic<bool> holding{false};
        Worker holder;
        holder.post([&] {
            other.ObjectLock(3, "Test");
            waited.ObjectLock(4, "Test");
            holding = true;
            Sleep(200);
            waited.ObjectUnLock();
            other.ObjectUnLock();
        });
        waitUntil([&] { return holding.load(); });
        other.ObjectLock(5, "Test");
        other.ObjectUnLock();
        exit(0);
    }
    TempDir dir;
    EXPECT_EQ(0, runInChild(dir));
}

// Two threads hand a turn back and forth through two monitors, one waiter each: every
// round needs one wake-up, so a lost one hangs the run (caught by the time limit).
TEST(CJObject, WaitNotifyPingPongNeverLosesAWakeUp)
{
    const int rounds = 5000;
    CJObject toB, toA;
    bool turnB = false, turnA = false;
    std::atomic<int> done{0};
    Worker a, b;
    a.post([&] {
        for (int i = 0; i < rounds; ++i) {
            toB.ObjectLock(1, "PingPong");
            turnB = true;
            toB.notify();
            toB.ObjectUnLock();
            toA.ObjectLock(2, "PingPong");
            while (!turnA)
                toA.wait(INFINITE);
            turnA = false;
            toA.ObjectUnLock();
        }
        ++done;
    });
    b.post([&] {
        for (int i = 0; i < rounds; ++i) {
            toB.ObjectLock(3, "PingPong");
            while (!turnB)
                toB.wait(INFINITE);
            turnB = false;
            toB.ObjectUnLock();
            toA.ObjectLock(4, "PingPong");
            turnA = true;
            toA.notify();
            toA.ObjectUnLock();
        }
        ++done;
    });
    bool finished = a.waitIdle(120000) && b.waitIdle(1000);
    if (!finished) {
        ADD_FAILURE() << "wait/notify hung after a lost wake-up";
        fflush(stdout);
        TerminateProcess(GetCurrentProcess(), 1);
    }
    EXPECT_EQ(2, done.load());
}

// Notifiers that do not hold the monitor, racing waiters that time out: notify must never
// spin on a waiter that is gone, and no round may be lost for good.
TEST(CJObject, NotifyOutsideTheMonitorRacingTimeoutsNeverHangs)
{
    const int rounds = 2000;
    CJObject monitor;
    std::atomic<int> pending{0};
    std::atomic<int> taken{0};
    Worker waiter, notifier;
    waiter.post([&] {
        monitor.ObjectLock(1, "Race");
        while (taken < rounds) {
            if (pending > 0) {
                --pending;
                ++taken;
            } else {
                monitor.wait(1);
            }
        }
        monitor.ObjectUnLock();
    });
    notifier.post([&] {
        for (int i = 0; i < rounds; ++i) {
            ++pending;
            monitor.notify();
            if (i % 16 == 0)
                Sleep(0);
        }
    });
    bool finished = notifier.waitIdle(120000) && waiter.waitIdle(120000);
    if (!finished) {
        ADD_FAILURE() << "notify or wait hung";
        fflush(stdout);
        TerminateProcess(GetCurrentProcess(), 1);
    }
    EXPECT_EQ(rounds, taken.load());
}

} // namespace
