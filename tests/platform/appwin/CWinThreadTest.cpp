#include "CWinThread.h"

#include <gtest/gtest.h>

#include <atomic>

namespace {

// What a worker saw, and whether its thread object was deleted.
struct Probe {
    std::atomic<int> runs{0};
    std::atomic<int> priority{THREAD_PRIORITY_ERROR_RETURN};
    std::atomic<DWORD> threadId{0};
    std::atomic<CWinThread*> current{nullptr};
    std::atomic<int> deleted{0};
    std::atomic<DWORD> deletedOn{0};
    HANDLE deletedEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    ~Probe() { CloseHandle(deletedEvent); }
};

unsigned probeProc(void* param) {
    auto* probe = static_cast<Probe*>(param);
    probe->priority = GetThreadPriority(GetCurrentThread());
    probe->threadId = GetCurrentThreadId();
    probe->current = AfxGetThread();
    ++probe->runs;
    return 42;
}

class CProbeThread : public CWinThread {
public:
    explicit CProbeThread(Probe* probe) : CWinThread(&probeProc, probe), probe(probe) {}
    ~CProbeThread() override {
        probe->deletedOn = GetCurrentThreadId();
        ++probe->deleted;
        SetEvent(probe->deletedEvent);
    }

private:
    Probe* probe;
};

}  // namespace

TEST(CWinThread, CreatedSuspendedRunsOnlyWhenResumed) {
    Probe probe;
    CProbeThread thread(&probe);
    thread.m_bAutoDelete = FALSE;
    ASSERT_TRUE(thread.CreateThread(CREATE_SUSPENDED));
    ASSERT_NE(nullptr, thread.m_hThread);
    EXPECT_EQ(WAIT_TIMEOUT, WaitForSingleObject(thread.m_hThread, 100));
    EXPECT_EQ(0, probe.runs);
    EXPECT_EQ(1u, thread.ResumeThread());
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(thread.m_hThread, 5000));
    EXPECT_EQ(1, probe.runs);
    EXPECT_EQ(thread.m_nThreadID, probe.threadId);
    EXPECT_EQ(&thread, probe.current.load());
}

TEST(CWinThread, PriorityIsSetBeforeTheThreadRuns) {
    for (int priority : {THREAD_PRIORITY_LOWEST, THREAD_PRIORITY_BELOW_NORMAL,
                         THREAD_PRIORITY_NORMAL, THREAD_PRIORITY_ABOVE_NORMAL,
                         THREAD_PRIORITY_HIGHEST}) {
        SCOPED_TRACE(priority);
        Probe probe;
        CProbeThread thread(&probe);
        thread.m_bAutoDelete = FALSE;
        ASSERT_TRUE(thread.CreateThread(CREATE_SUSPENDED));
        EXPECT_TRUE(thread.SetThreadPriority(priority));
        EXPECT_EQ(priority, thread.GetThreadPriority());
        thread.ResumeThread();
        ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(thread.m_hThread, 5000));
        EXPECT_EQ(priority, probe.priority);
    }
}

TEST(CWinThread, AutoDeleteFreesTheObjectOnItsThread) {
    Probe probe;
    auto* thread = new CProbeThread(&probe);
    EXPECT_TRUE(thread->m_bAutoDelete);
    ASSERT_TRUE(thread->CreateThread());
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(probe.deletedEvent, 5000));
    EXPECT_EQ(1, probe.runs);
    EXPECT_EQ(1, probe.deleted);
    EXPECT_EQ(probe.threadId, probe.deletedOn);
}

TEST(CWinThread, ManyShortAutoDeletingThreadsEachDeleteOnce) {
    // Threads that end at once free their object while CreateThread may still be returning.
    constexpr int count = 100;
    Probe probes[count];
    for (Probe& probe : probes)
        ASSERT_TRUE((new CProbeThread(&probe))->CreateThread());
    for (Probe& probe : probes) {
        ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(probe.deletedEvent, 5000));
        EXPECT_EQ(1, probe.runs);
        EXPECT_EQ(1, probe.deleted);
    }
}

TEST(CWinThread, WithoutAutoDeleteTheObjectOutlivesItsThread) {
    Probe probe;
    auto* thread = new CProbeThread(&probe);
    thread->m_bAutoDelete = FALSE;
    ASSERT_TRUE(thread->CreateThread());
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(thread->m_hThread, 5000));
    EXPECT_EQ(1, probe.runs);
    EXPECT_EQ(0, probe.deleted);
    DWORD code = 0;
    ASSERT_TRUE(GetExitCodeThread(thread->m_hThread, &code));
    EXPECT_EQ(42u, code);
    EXPECT_EQ(thread->m_nThreadID, probe.threadId);
    delete thread;
    EXPECT_EQ(1, probe.deleted);
}

TEST(CWinThread, StartsOnlyOnce) {
    Probe probe;
    CProbeThread thread(&probe);
    thread.m_bAutoDelete = FALSE;
    ASSERT_TRUE(thread.CreateThread());
    HANDLE first = thread.m_hThread;
    EXPECT_FALSE(thread.CreateThread());
    EXPECT_EQ(first, thread.m_hThread);
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(thread.m_hThread, 5000));
    EXPECT_EQ(1, probe.runs);
}

TEST(CWinThread, OperationsWithoutAThreadFail) {
    Probe probe;
    CProbeThread thread(&probe);
    EXPECT_FALSE(thread.SetThreadPriority(THREAD_PRIORITY_NORMAL));
    EXPECT_EQ(THREAD_PRIORITY_ERROR_RETURN, thread.GetThreadPriority());
    EXPECT_EQ(static_cast<DWORD>(-1), thread.ResumeThread());
    EXPECT_EQ(static_cast<DWORD>(-1), thread.SuspendThread());
    EXPECT_EQ(nullptr, AfxGetThread());   // the test's own thread is none of ours
}
