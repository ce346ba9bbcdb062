#include "CThread.h"

#include "CIllegalThreadStateException.h"
#include "CJException.h"
#include "CNullPointerException.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <regex>
#include <stdexcept>

namespace {

class Event {
public:
    Event() : handle_(CreateEventA(NULL, TRUE, FALSE, NULL)) {}
    ~Event() { CloseHandle(handle_); }
    Event(const Event&) = delete;
    Event& operator=(const Event&) = delete;
    void set() { SetEvent(handle_); }
    bool waitFor(DWORD timeoutMs) { return WaitForSingleObject(handle_, timeoutMs) == WAIT_OBJECT_0; }

private:
    HANDLE handle_;
};

// What a target saw; it holds its thread until the gate opens, so that the thread object is
// certainly alive meanwhile.
struct TargetRun {
    Event gate;
    Event entered;
    std::atomic<int> runs{0};
    std::atomic<DWORD> threadId{0};
    std::atomic<int> priority{THREAD_PRIORITY_ERROR_RETURN};
    std::function<void()> body; // runs on the thread once the gate is open
};

void gatedTarget(void* parameter)
{
    TargetRun* run = static_cast<TargetRun*>(parameter);
    run->threadId = GetCurrentThreadId();
    run->priority = GetThreadPriority(GetCurrentThread());
    ++run->runs;
    run->entered.set();
    run->gate.waitFor(60000);
    if (run->body)
        run->body();
}

// Tells when the thread object has been deleted.
class ProbeThread : public CThread {
public:
    ProbeThread(std::string name, TargetRun& run, Event& deleted) : CThread(std::move(name), gatedTarget, &run), deleted_(deleted) {}
    ~ProbeThread() override { deleted_.set(); }

private:
    Event& deleted_;
};

bool anyLineMatches(const std::vector<std::string>& lines, const std::string& pattern, std::smatch* match = nullptr)
{
    std::regex form(pattern);
    for (const std::string& line : lines) {
        std::smatch found;
        if (std::regex_match(line, found, form)) {
            if (match)
                *match = found;
            return true;
        }
    }
    return false;
}

TEST(Thread, RunsItsTargetOnceOnItsOwnThreadAndDeletesItself)
{
    TargetRun run;
    Event deleted;
    ProbeThread* thread = new ProbeThread("WORKER", run, deleted);
    EXPECT_EQ("WORKER", thread->getName());
    thread->setName("RENAMED");
    EXPECT_EQ("RENAMED", thread->getName());

    ASSERT_TRUE(thread->start());
    try {
        thread->start();
        ADD_FAILURE() << "a second start must throw";
    } catch (CIllegalThreadStateException& e) {
        EXPECT_EQ("CIllegalThreadStateException", e.getMessage());
    }
    EXPECT_EQ("RENAMED", thread->getName()); // still usable: its thread waits at the gate
    ASSERT_TRUE(run.entered.waitFor(10000));
    EXPECT_FALSE(deleted.waitFor(0));

    run.gate.set();
    ASSERT_TRUE(deleted.waitFor(10000));
    EXPECT_EQ(1, run.runs);
    EXPECT_NE(GetCurrentThreadId(), run.threadId.load());
}

// Starts from two threads at once: one platform thread, one refusal.
TEST(Thread, ConcurrentStartsStartOneThread)
{
    for (int round = 0; round < 20; ++round) {
        TargetRun run;
        Event deleted;
        ProbeThread* thread = new ProbeThread("RACE", run, deleted);
        Event go;
        std::atomic<int> started{0}, refused{0};
        {
            Worker one, two;
            for (Worker* worker : {&one, &two}) {
                worker->post([&] {
                    go.waitFor(10000);
                    try {
                        if (thread->start())
                            ++started;
                    } catch (CIllegalThreadStateException&) {
                        ++refused;
                    }
                });
            }
            go.set();
            ASSERT_TRUE(one.waitIdle(10000));
            ASSERT_TRUE(two.waitIdle(10000));
        }
        EXPECT_EQ(1, started);
        EXPECT_EQ(1, refused);
        run.gate.set();
        ASSERT_TRUE(deleted.waitFor(10000));
        EXPECT_EQ(1, run.runs);
    }
}

TEST(Thread, SuspendedStartKeepsPriorityAndWaitsForResume)
{
    TargetRun run;
    run.gate.set();
    Event deleted;
    ProbeThread* thread = new ProbeThread("SLEEPER", run, deleted);
    ASSERT_TRUE(thread->start(THREAD_PRIORITY_BELOW_NORMAL, CREATE_SUSPENDED));
    EXPECT_FALSE(run.entered.waitFor(100));
    thread->resume(); // the object may be gone from here on
    ASSERT_TRUE(deleted.waitFor(10000));
    EXPECT_EQ(1, run.runs);
    EXPECT_EQ(THREAD_PRIORITY_BELOW_NORMAL, run.priority.load());
}

TEST(Thread, UnstartedThreadCanBeDeletedByItsCreator)
{
    TargetRun run;
    Event deleted;
    delete new ProbeThread("NEVER", run, deleted);
    EXPECT_TRUE(deleted.waitFor(0));
    EXPECT_EQ(0, run.runs);
}

// The registry is process-wide and never shrinks: a fresh process shows it empty.
TEST(Thread, UiThreadRegistry)
{
    if (isChild()) {
        try {
            CThread::checkUIThread();
            ADD_FAILURE() << "an empty registry must throw";
        } catch (CNullPointerException& e) {
            EXPECT_NE("", e.getMessage());
        }
        CThread::registerUIThread();
        EXPECT_TRUE(CThread::checkUIThread());
        Worker worker;
        bool onWorker = true;
        worker.run([&] { onWorker = CThread::checkUIThread(); });
        EXPECT_FALSE(onWorker);
        worker.run([] { CThread::registerUIThread(); CThread::registerUIThread(); });
        worker.run([&] { onWorker = CThread::checkUIThread(); });
        EXPECT_TRUE(onWorker);
        EXPECT_TRUE(CThread::checkUIThread());
        exit(testing::Test::HasFailure() ? 1 : 0);
    }
    TempDir dir;
    EXPECT_EQ(0, runInChild(dir));
}

// The start line is written before the target runs, under the thread's hexadecimal id; the
// end line after it, under the name the target gave its thread.
TEST(Thread, StartAndEndLinesCarryIdThenName)
{
    if (isChild()) {
        childTracesToFile(true);
        TargetRun run;
        run.gate.set();
        run.body = [] { CTrace::setThreadName("NAMED"); };
        Event deleted;
        ASSERT_TRUE((new ProbeThread("NAMED", run, deleted))->start());
        ASSERT_TRUE(deleted.waitFor(10000));
        exit(testing::Test::HasFailure() ? 1 : 0);
    }
    TempDir dir;
    EXPECT_EQ(0, runInChild(dir));
    std::vector<std::string> lines = dir.logLines();
    std::smatch start;
    ASSERT_TRUE(anyLineMatches(lines, "\\[([0-9a-f]{8})\\] worker thread \\1 starts", &start))
        << testing::PrintToString(lines);
    EXPECT_TRUE(anyLineMatches(lines, "\\[NAMED\\] worker thread " + start[1].str() + " ends"))
        << testing::PrintToString(lines);
}

struct EscapeCase {
    const char* name;
    void (*thrower)();
    const char* shown; // what the fatal line must show, as a regular expression
};

void PrintTo(const EscapeCase& c, std::ostream* out)
{
    *out << c.name;
}

class ThreadEscape : public testing::TestWithParam<EscapeCase> {};

void escapingTarget(void* parameter)
{
    static_cast<const EscapeCase*>(parameter)->thrower();
}

// Whatever escapes a thread's target stops the process through the trace facility, with a line
// that names what was caught (not an anonymous terminate).
TEST_P(ThreadEscape, EscapedExceptionStopsTheProcess)
{
    const EscapeCase& c = GetParam();
    if (isChild()) {
        childTracesToFile(true);
        CThread* thread = new CThread("THROWER", escapingTarget, const_cast<EscapeCase*>(&c));
        thread->start();
        Sleep(20000);
        exit(0); // not stopped: the parent sees 0
    }
    TempDir dir;
    EXPECT_EQ(ABNORMAL_EXIT, runInChild(dir));
    std::vector<std::string> lines = dir.logLines();
    EXPECT_TRUE(anyLineMatches(lines, ".*FATAL ERROR: \\[ CThread \\] worker thread [0-9a-f]{8} " + std::string(c.shown)))
        << testing::PrintToString(lines);
    EXPECT_TRUE(anyLineMatches(lines, ".*ABORT: .*")) << testing::PrintToString(lines);
    EXPECT_FALSE(anyLineMatches(lines, ".*worker thread [0-9a-f]{8} ends")) << testing::PrintToString(lines);
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, ThreadEscape,
    testing::Values(
        EscapeCase{"ByValue", [] { throw CNullPointerException("lost by value"); }, ".*\\[lost by value\\]"},
        EscapeCase{"ByPointer", [] { throw new CJException("lost by pointer"); }, ".*\\[lost by pointer\\]"},
        EscapeCase{"SerializablePointer", [] { throw static_cast<ISerializable*>(new CJException("lost")); },
                   "let an ISerializable\\* escape \\[CJException\\]"},
        EscapeCase{"StdException", [] { throw std::runtime_error("standard lost"); },
                   "let a std::exception escape \\[standard lost\\]"},
        EscapeCase{"Int", [] { throw 42; }, "let an exception of unknown type escape"}),
    [](const testing::TestParamInfo<EscapeCase>& info) { return std::string(info.param.name); });

} // namespace
