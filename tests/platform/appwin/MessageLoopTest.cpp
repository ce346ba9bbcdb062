// User-interface threads: their windows, their message loop and how the loop ends.
#include "CWinThread.h"
#include "CWnd.h"

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

constexpr UINT WM_RECORD = WM_APP + 1;     // wParam: a number to record
constexpr UINT WM_FINISH = WM_APP + 2;     // destroys the window
constexpr UINT WM_FAIL = WM_APP + 3;       // the handler throws
constexpr UINT WM_SWALLOW = WM_APP + 4;    // a swallowing window's PreTranslateMessage takes it
constexpr UINT WM_CHECK = WM_APP + 5;      // wParam: a window whose existence is recorded

std::atomic<int> g_checkedAlive{-1};

class CLoopWnd : public CWnd {
public:
    std::vector<WPARAM> recorded;      // written on the window's thread only
    std::vector<DWORD> recordedOn;
    bool deleteInOnDestroy = false;
    bool swallowing = false;           // PreTranslateMessage takes WM_SWALLOW

protected:
    static const MessageEntry messageMap[];
    const MessageEntry* GetMessageMap() const override { return messageMap; }
    LRESULT OnRecord(WPARAM wParam, LPARAM) {
        recorded.push_back(wParam);
        recordedOn.push_back(GetCurrentThreadId());
        return 0;
    }
    LRESULT OnFinish(WPARAM, LPARAM) {
        DestroyWindow();
        return 0;
    }
    LRESULT OnFail(WPARAM, LPARAM) { throw std::runtime_error("posted handler failed"); }
    LRESULT OnCheck(WPARAM wParam, LPARAM) {
        g_checkedAlive = IsWindow(reinterpret_cast<HWND>(wParam)) ? 1 : 0;
        return 0;
    }
    void OnDestroy() {
        if (deleteInOnDestroy)
            delete this;
    }
    BOOL PreTranslateMessage(MSG* msg) override {
        return swallowing && msg->message == WM_SWALLOW;
    }
};

const CWnd::MessageEntry CLoopWnd::messageMap[] = {
    on<WM_RECORD, &CLoopWnd::OnRecord>(),
    on<WM_FINISH, &CLoopWnd::OnFinish>(),
    on<WM_FAIL, &CLoopWnd::OnFail>(),
    on<WM_CHECK, &CLoopWnd::OnCheck>(),
    on<WM_SWALLOW, &CLoopWnd::OnRecord>(),
    on<WM_DESTROY, &CLoopWnd::OnDestroy>(),
    endOfMap(CWnd::messageMap),
};

// A user-interface thread whose InitInstance makes a main window (and maybe a child) and tells
// the test; the test inspects it after the thread has ended (no auto-delete).
class CTestUiThread : public CWinThread {
public:
    BOOL initResult = TRUE;
    bool withChild = false;
    bool mainDeletesItself = false;
    bool childDeletesItself = false;
    CLoopWnd* main = nullptr;
    CLoopWnd* child = nullptr;
    HWND mainHwnd = nullptr;
    HWND childHwnd = nullptr;
    std::atomic<int> exitCalls{0};
    std::string caught;
    HANDLE ready = CreateEventA(nullptr, TRUE, FALSE, nullptr);

    CTestUiThread() { m_bAutoDelete = FALSE; }
    ~CTestUiThread() override {
        delete child;
        if (!mainDeletesItself)
            delete main;
        CloseHandle(ready);
    }

    BOOL InitInstance() override {
        main = new CLoopWnd;
        main->deleteInOnDestroy = mainDeletesItself;
        main->swallowing = true;
        main->CreateEx(0, nullptr, "main", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr);
        mainHwnd = main->m_hWnd;
        if (withChild) {
            child = new CLoopWnd;
            child->deleteInOnDestroy = childDeletesItself;
            child->CreateEx(0, nullptr, "child", WS_CHILD, 0, 0, 5, 5, mainHwnd, nullptr);
            childHwnd = child->m_hWnd;
        }
        m_pMainWnd = main;
        SetEvent(ready);
        return initResult;
    }
    int ExitInstance() override {
        ++exitCalls;
        return CWinThread::ExitInstance() + 100;
    }
    int Run() override {
        try {
            return CWinThread::Run();
        } catch (const std::exception& e) {
            caught = e.what();
            return -7;
        }
    }

    bool start() {
        return CreateThread() && WaitForSingleObject(ready, 5000) == WAIT_OBJECT_0;
    }
    DWORD waitForExitCode() {
        DWORD code = 0;
        if (WaitForSingleObject(m_hThread, 5000) != WAIT_OBJECT_0)
            return 0xDEAD;
        GetExitCodeThread(m_hThread, &code);
        return code;
    }
};

// A worker that posts `count` numbers to a window.
struct PostJob {
    HWND target;
    WPARAM first;
    int count;
    std::atomic<int> failures{0};
};

unsigned postNumbers(void* param) {
    auto* job = static_cast<PostJob*>(param);
    for (int i = 0; i < job->count; ++i) {
        if (!PostMessageA(job->target, WM_RECORD, job->first + i, 0))
            ++job->failures;
    }
    return 0;
}

}  // namespace

TEST(MessageLoop, WorkersPostToAWindowOfTheUiThread) {
    CTestUiThread ui;
    ASSERT_TRUE(ui.start());
    constexpr int perWorker = 200;
    PostJob jobs[2] = {{ui.mainHwnd, 1000, perWorker}, {ui.mainHwnd, 2000, perWorker}};
    CWinThread workers[2] = {{&postNumbers, &jobs[0]}, {&postNumbers, &jobs[1]}};
    for (CWinThread& worker : workers) {
        worker.m_bAutoDelete = FALSE;
        ASSERT_TRUE(worker.CreateThread());
    }
    for (CWinThread& worker : workers)
        ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(worker.m_hThread, 5000));
    ASSERT_TRUE(PostMessageA(ui.mainHwnd, WM_FINISH, 0, 0));

    EXPECT_EQ(100u, ui.waitForExitCode());   // the main window's end ended the loop with 0
    EXPECT_EQ(1, ui.exitCalls);
    EXPECT_EQ(nullptr, ui.m_pMainWnd);
    EXPECT_FALSE(IsWindow(ui.mainHwnd));
    EXPECT_EQ(0, jobs[0].failures + jobs[1].failures);
    ASSERT_EQ(2u * perWorker, ui.main->recorded.size());
    std::vector<WPARAM> next = {1000, 2000};   // each worker's numbers arrive in its order
    for (size_t i = 0; i < ui.main->recorded.size(); ++i) {
        WPARAM number = ui.main->recorded[i];
        WPARAM& expected = next[number >= 2000 ? 1 : 0];
        EXPECT_EQ(expected, number);
        expected = number + 1;
        EXPECT_EQ(ui.m_nThreadID, ui.main->recordedOn[i]);
    }
}

TEST(MessageLoop, EndsOnQuitWithItsCode) {
    CTestUiThread ui;
    ASSERT_TRUE(ui.start());
    ASSERT_TRUE(PostMessageA(ui.mainHwnd, WM_RECORD, 5, 0));
    ASSERT_TRUE(PostThreadMessageA(ui.m_nThreadID, WM_QUIT, 7, 0));
    EXPECT_EQ(107u, ui.waitForExitCode());
    EXPECT_EQ(1, ui.exitCalls);
    ASSERT_EQ(1u, ui.main->recorded.size());   // what came before the quit was handled
    EXPECT_EQ(5u, ui.main->recorded[0]);
}

TEST(MessageLoop, PostedDestroyEndsAWindowThatDeletesItsObject) {
    // The shutdown of a thread whose windows delete their objects in WM_DESTROY, asked for
    // from another thread by posting WM_DESTROY: the windows go too, the main window's end
    // ends the loop.
    CTestUiThread ui;
    ui.mainDeletesItself = true;
    ui.withChild = true;
    ui.childDeletesItself = true;
    ASSERT_TRUE(ui.start());
    g_checkedAlive = -1;
    ASSERT_TRUE(PostMessageA(ui.childHwnd, WM_DESTROY, 0, 0));
    ASSERT_TRUE(PostMessageA(ui.mainHwnd, WM_CHECK, reinterpret_cast<WPARAM>(ui.childHwnd), 0));
    ASSERT_TRUE(PostMessageA(ui.mainHwnd, WM_DESTROY, 0, 0));
    EXPECT_EQ(100u, ui.waitForExitCode());
    ui.child = nullptr;   // deleted itself
    EXPECT_EQ(0, g_checkedAlive);
    EXPECT_EQ(1, ui.exitCalls);
    EXPECT_EQ(nullptr, ui.m_pMainWnd);
    EXPECT_FALSE(IsWindow(ui.mainHwnd));
    EXPECT_EQ(nullptr, CWnd::FromHandlePermanent(ui.mainHwnd));
}

TEST(MessageLoop, FailedInitInstanceSkipsTheLoop) {
    CTestUiThread ui;
    ui.initResult = FALSE;
    ASSERT_TRUE(ui.start());
    EXPECT_EQ(100u, ui.waitForExitCode());
    EXPECT_EQ(1, ui.exitCalls);
    EXPECT_FALSE(IsWindow(ui.mainHwnd));   // the main window does not outlive the failed start
    EXPECT_EQ(nullptr, ui.main->m_hWnd);
}

TEST(MessageLoop, HandlerExceptionLeavesTheLoop) {
    CTestUiThread ui;
    ASSERT_TRUE(ui.start());
    ASSERT_TRUE(PostMessageA(ui.mainHwnd, WM_FAIL, 0, 0));
    EXPECT_EQ(static_cast<DWORD>(-7), ui.waitForExitCode());
    EXPECT_EQ("posted handler failed", ui.caught);
    EXPECT_EQ(0, ui.exitCalls);
}

TEST(MessageLoop, PreTranslateMessageAsksTheTargetAndItsParents) {
    CTestUiThread ui;
    ui.withChild = true;
    ASSERT_TRUE(ui.start());
    ASSERT_NE(nullptr, ui.childHwnd);
    // The main window takes WM_SWALLOW for its child before dispatch; WM_RECORD goes through.
    ASSERT_TRUE(PostMessageA(ui.childHwnd, WM_SWALLOW, 1, 0));
    ASSERT_TRUE(PostMessageA(ui.childHwnd, WM_RECORD, 2, 0));
    ASSERT_TRUE(PostMessageA(ui.mainHwnd, WM_FINISH, 0, 0));
    EXPECT_EQ(100u, ui.waitForExitCode());
    EXPECT_EQ(std::vector<WPARAM>{2}, ui.child->recorded);
    EXPECT_TRUE(ui.main->recorded.empty());
    EXPECT_EQ(nullptr, ui.child->m_hWnd);   // destroyed with its parent
}
