#include "CClock.h"

#include "CIllegalStateException.h"
#include "CJException.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <mutex>
#include <regex>
#include <stdexcept>

// The clock measures no time, so these tests count passes, not milliseconds: a pass counter,
// registered first, is called last in every pass (the clock calls the latest registration
// first), and every other listener notes how many passes had ended when it was called.
namespace {

const DWORD GENEROUS_MS = 30000;

struct PassCounter : ITimeListener {
    std::atomic<int> passes{0};
    void timeElapsed(int) override { ++passes; }

    // True once at least the given number of passes has ended.
    bool waitFor(int count)
    {
        for (DWORD waited = 0; passes < count; waited += 2) {
            if (waited > GENEROUS_MS)
                return false;
            Sleep(2);
        }
        return true;
    }
};

struct Recorder : ITimeListener {
    explicit Recorder(PassCounter& counter) : counter(counter) {}

    void timeElapsed(int value) override
    {
        std::lock_guard<std::mutex> hold(lock);
        calls.push_back(counter.passes);
        values.push_back(value);
        threadId = GetCurrentThreadId();
    }
    std::vector<int> snapshot()
    {
        std::lock_guard<std::mutex> hold(lock);
        return calls;
    }
    // Calls per pass, by the number of passes ended before the call.
    std::map<int, int> perPass()
    {
        std::map<int, int> counts;
        for (int pass : snapshot())
            ++counts[pass];
        return counts;
    }

    PassCounter& counter;
    std::mutex lock;
    std::vector<int> calls;
    std::vector<int> values;
    std::atomic<DWORD> threadId{0};
};

// The passes ended before and after an edit: the edit took effect between two passes, after
// `before` and at most `after` of them had ended.
struct Window {
    int before;
    int after;
};

Window addAt(CClock& clock, PassCounter& counter, ITimeListener* listener, unsigned intervalMs)
{
    int before = counter.passes;
    clock.addListener(listener, intervalMs);
    return {before, counter.passes};
}

Window removeAt(CClock& clock, PassCounter& counter, ITimeListener* listener)
{
    int before = counter.passes;
    clock.removeListener(listener);
    return {before, counter.passes};
}

struct IntervalCase {
    unsigned period;
    unsigned interval;
    int every; // passes between two calls
};

void PrintTo(const IntervalCase& c, std::ostream* out)
{
    *out << "period " << c.period << " interval " << c.interval;
}

class ClockInterval : public testing::TestWithParam<IntervalCase> {};

TEST_P(ClockInterval, FiresOnEveryNthPassAfterTheFullInterval)
{
    const IntervalCase& c = GetParam();
    PassCounter counter;
    Recorder recorder(counter);
    CClock clock(c.period, "TICKER");
    clock.addListener(&counter, 0);
    ASSERT_TRUE(counter.waitFor(1));
    Window added = addAt(clock, counter, &recorder, c.interval);
    ASSERT_TRUE(counter.waitFor(added.after + 4 * c.every + 1));
    int endedBeforeRemoval = counter.passes;
    clock.removeListener(&recorder);

    std::vector<int> calls = recorder.snapshot();
    ASSERT_GE(calls.size(), 4u);
    // First call in the pass that ends the full interval.
    EXPECT_GE(calls.front(), added.before + c.every - 1);
    EXPECT_LE(calls.front(), added.after + c.every - 1);
    for (size_t i = 1; i < calls.size(); ++i)
        EXPECT_EQ(c.every, calls[i] - calls[i - 1]) << "call " << i;
    EXPECT_GE(calls.back() + c.every, endedBeforeRemoval); // none missed before the removal
    for (int value : recorder.values)
        EXPECT_EQ(0, value);
    EXPECT_NE(GetCurrentThreadId(), recorder.threadId.load());
}

INSTANTIATE_TEST_SUITE_P(Passes, ClockInterval,
                         testing::Values(IntervalCase{10, 0, 1}, IntervalCase{10, 9, 1}, IntervalCase{10, 10, 1},
                                         IntervalCase{10, 19, 1}, IntervalCase{10, 20, 2}, IntervalCase{10, 35, 3},
                                         IntervalCase{10, 100, 10}, IntervalCase{15, 40, 2},
                                         // periods below 10 ms count as 10 ms
                                         IntervalCase{0, 30, 3}, IntervalCase{5, 30, 3}, IntervalCase{5, 10, 1},
                                         IntervalCase{9, 25, 2}),
                         [](const testing::TestParamInfo<IntervalCase>& info) {
                             return "Period" + std::to_string(info.param.period) + "Interval"
                                    + std::to_string(info.param.interval);
                         });

TEST(Clock, PeriodBelowTenSleepsTenMilliseconds)
{
    PassCounter counter;
    CClock clock(0, "TICKER");
    clock.addListener(&counter, 0);
    ASSERT_TRUE(counter.waitFor(1));
    DWORD start = GetTickCount();
    int first = counter.passes;
    ASSERT_TRUE(counter.waitFor(first + 20));
    EXPECT_GE(GetTickCount() - start, 100u); // 20 sleeps of 10 ms, with room for coarse timers
}

// One listener registered at two passes apart and at every pass: it is called twice in every
// other pass. Removing it takes the later registration first, so the every-other-pass one
// stays, in step.
TEST(Clock, DoubleRegistrationFiresTwiceAndTheLaterGoesFirst)
{
    PassCounter counter;
    Recorder listener(counter);
    CClock clock(10, "TICKER");
    clock.addListener(&counter, 0);
    ASSERT_TRUE(counter.waitFor(1));
    addAt(clock, counter, &listener, 20);
    Window second = addAt(clock, counter, &listener, 10);
    ASSERT_TRUE(counter.waitFor(second.after + 8));
    Window firstRemoval = removeAt(clock, counter, &listener);
    ASSERT_TRUE(counter.waitFor(firstRemoval.after + 8));
    Window secondRemoval = removeAt(clock, counter, &listener);
    ASSERT_TRUE(counter.waitFor(secondRemoval.after + 4));

    std::map<int, int> perPass = listener.perPass();
    int phase = -1; // a pass in which the two-pass registration fired
    for (int pass = second.after; pass < firstRemoval.before && phase < 0; ++pass)
        if (perPass[pass] == 2)
            phase = pass;
    ASSERT_GE(phase, 0) << testing::PrintToString(perPass);
    auto due = [&](int pass) { return (pass - phase) % 2 == 0; };
    for (int pass = second.after; pass < firstRemoval.before; ++pass)
        EXPECT_EQ(due(pass) ? 2 : 1, perPass[pass]) << "pass " << pass;
    for (int pass = firstRemoval.after; pass < secondRemoval.before; ++pass)
        EXPECT_EQ(due(pass) ? 1 : 0, perPass[pass]) << "pass " << pass;
    int last = listener.snapshot().back();
    EXPECT_LT(last, secondRemoval.after);
}

// Edits from inside a listener are refused and change nothing; its other work goes on.
struct SelfEditor : ITimeListener {
    explicit SelfEditor(CClock*& clock) : clock(clock) {}
    void timeElapsed(int) override
    {
        if (++calls != 1)
            return;
        try {
            clock->removeListener(this);
        } catch (CIllegalStateException&) {
            ++refusals;
        }
        try {
            clock->addListener(this, 10);
        } catch (CIllegalStateException&) {
            ++refusals;
        }
    }
    CClock*& clock;
    std::atomic<int> calls{0};
    std::atomic<int> refusals{0};
};

TEST(Clock, EditsFromTheClockThreadAreRefused)
{
    PassCounter counter;
    CClock* clock = nullptr;
    SelfEditor editor(clock);
    clock = new CClock(10, "TICKER");
    clock->addListener(&counter, 0);
    Window added = addAt(*clock, counter, &editor, 10);
    ASSERT_TRUE(counter.waitFor(added.after + 4));
    EXPECT_EQ(2, editor.refusals);
    Window removed = removeAt(*clock, counter, &editor);
    int calls = editor.calls;
    ASSERT_TRUE(counter.waitFor(removed.after + 4));
    EXPECT_EQ(calls, editor.calls); // exactly one registration was there to remove
    EXPECT_GE(calls, removed.before - added.after); // and it fired in every pass meanwhile
    delete clock;
}

TEST(Clock, NullListenersAreIgnoredAndUnknownRemovalIsHarmless)
{
    PassCounter counter;
    Recorder stranger(counter);
    CClock clock(10, "TICKER");
    clock.addListener(nullptr, 10);
    clock.removeListener(nullptr);
    clock.removeListener(&stranger);
    clock.addListener(&counter, 0);
    EXPECT_TRUE(counter.waitFor(3));
    EXPECT_TRUE(stranger.snapshot().empty());
}

// The destructor returns once the clock thread has ended; the listeners, still registered,
// are never called again.
TEST(Clock, DestructorStopsTheThreadWithListenersRegistered)
{
    PassCounter counter;
    Recorder recorder(counter);
    CClock* clock = new CClock(10, "TICKER");
    clock->addListener(&counter, 0);
    clock->addListener(&recorder, 10);
    clock->addListener(&recorder, 30);
    ASSERT_TRUE(counter.waitFor(3));
    HANDLE thread = OpenThread(SYNCHRONIZE, FALSE, recorder.threadId);
    ASSERT_NE(nullptr, thread);
    delete clock;
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(thread, 0));
    CloseHandle(thread);
    size_t calls = recorder.snapshot().size();
    int passes = counter.passes;
    Sleep(50);
    EXPECT_EQ(calls, recorder.snapshot().size());
    EXPECT_EQ(passes, counter.passes);
}

// Destroyed at once, before its thread may have reached its loop, and with a period far
// longer than the test: the destructor neither hangs nor sleeps out the period.
TEST(Clock, DestroyedRightAfterCreationReturnsPromptly)
{
    DWORD start = GetTickCount();
    for (int round = 0; round < 20; ++round)
        delete new CClock(600000, "SHORT_LIVED");
    EXPECT_LT(GetTickCount() - start, GENEROUS_MS);
}

// A listener's exception is reported and the clock goes on ticking for every listener.
struct Thrower : ITimeListener {
    explicit Thrower(void (*raise)()) : raise(raise) {}
    void timeElapsed(int) override
    {
        ++calls;
        raise();
    }
    void (*raise)();
    std::atomic<int> calls{0};
};

TEST(Clock, ListenerExceptionIsTracedAndTheClockGoesOn)
{
    if (isChild()) {
        childTracesToFile(false);
        PassCounter counter;
        Thrower byValue([] { throw CIllegalStateException("by value"); });
        Thrower byPointer([] { throw new CJException("by pointer"); });
        Thrower standard([] { throw std::runtime_error("standard"); });
        Thrower other([] { throw 42; });
        {
            CClock clock(10, "TICKER");
            clock.addListener(&counter, 0);
            for (Thrower* thrower : {&byValue, &byPointer, &standard, &other})
                clock.addListener(thrower, 10);
            EXPECT_TRUE(counter.waitFor(counter.passes + 4));
        }
        for (Thrower* thrower : {&byValue, &byPointer, &standard, &other})
            EXPECT_GE(thrower->calls, 4);
        exit(testing::Test::HasFailure() ? 1 : 0);
    }
    TempDir dir;
    EXPECT_EQ(0, runInChild(dir));
    std::vector<std::string> lines = dir.logLines();
    std::string all = testing::PrintToString(lines);
    for (const char* shown : {"listener \\[1\\] threw CJException \\[by value\\]",
                              "listener \\[2\\] threw CJException\\* \\[by pointer\\]",
                              "listener \\[3\\] threw std::exception \\[standard\\]",
                              "listener \\[4\\] threw an exception of unknown type"}) {
        std::regex line(std::string("\\[TICKER\\] ERROR: \\[ Clock \\] ") + shown);
        int count = 0;
        for (const std::string& l : lines)
            count += std::regex_match(l, line) ? 1 : 0;
        EXPECT_GE(count, 4) << shown << "\n" << all;
    }
}

// Deleting a clock from its own listener would wait for itself: the process stops instead.
TEST(Clock, DeletedOnItsOwnThreadStops)
{
    struct Deleter : ITimeListener {
        CClock* clock = nullptr;
        void timeElapsed(int) override { delete clock; }
    };
    if (isChild()) {
        childTracesToFile(false);
        Deleter deleter;
        deleter.clock = new CClock(10, "TICKER");
        deleter.clock->addListener(&deleter, 10);
        Sleep(20000);
        exit(0);
    }
    TempDir dir;
    EXPECT_EQ(ABNORMAL_EXIT, runInChild(dir));
    std::vector<std::string> lines = dir.logLines();
    bool found = false;
    for (const std::string& line : lines)
        found = found || line.find("FATAL ERROR: [ Clock ]") != std::string::npos;
    EXPECT_TRUE(found) << testing::PrintToString(lines);
}

} // namespace
