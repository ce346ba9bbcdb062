#include "UiThreadHarness.h"

#include "CIOException.h"
#include "CThread.h"
#include "CTrace.h"

#include <CWinThread.h>

std::vector<LPARAM> CProbeLocalMethod::takeBridgesSeen()
{
    std::lock_guard<std::mutex> hold(lock_);
    std::vector<LPARAM> seen;
    seen.swap(bridgesSeen_);
    return seen;
}

LRESULT CProbeLocalMethod::WindowProc(UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_APP && wParam == 1) {
        std::lock_guard<std::mutex> hold(lock_);
        bridgesSeen_.push_back(lParam);
    }
    return CLocalMethod::WindowProc(message, wParam, lParam);
}

namespace {

class CUiTestThread : public CWinThread {
public:
    BOOL InitInstance() override
    {
        CTrace::setThreadName("MAIN");
        CThread::registerUIThread();
        invoker = new CProbeLocalMethod;
        ready.set();
        return TRUE;
    }
    int ExitInstance() override
    {
        delete invoker;
        return CWinThread::ExitInstance();
    }

    CProbeLocalMethod* invoker = nullptr;
    Signal ready;
};

CUiTestThread* s_thread = nullptr;

} // namespace

UiThread& UiThread::get()
{
    static UiThread* ui = [] {
        auto* made = new UiThread;
        s_thread = new CUiTestThread;
        s_thread->m_bAutoDelete = FALSE;
        if (!s_thread->CreateThread() || !s_thread->ready.waitFor(30000))
            CTrace::fatalError(" the test's UI thread did not start", -1);
        made->threadId_ = s_thread->m_nThreadID;
        made->invoker_ = s_thread->invoker;
        made->hiddenWindow_ = s_thread->invoker->GetSafeHwnd();
        made->thread_ = s_thread->m_hThread;
        return made;
    }();
    return *ui;
}

void UiThread::stop()
{
    UiThread& ui = get();
    if (ui.invoker_ == nullptr)
        return;
    PostThreadMessageA(ui.threadId_, WM_QUIT, 0, 0);
    if (WaitForSingleObject(ui.thread_, 30000) != WAIT_OBJECT_0)
        CTrace::fatalError(" the test's UI thread did not end", -1);
    ui.invoker_ = nullptr;
}

FunctionCall::FunctionCall(int kind, std::function<LRESULT()> body, std::atomic<int>* deleted)
    : CIndirectMethodInfo(kind, nullptr, "function", nullptr, 0, nullptr), body_(std::move(body)), deleted_(deleted)
{
    setExecutor(&FunctionCall::run);
}

FunctionCall::~FunctionCall()
{
    if (deleted_ != nullptr)
        ++*deleted_;
}

LRESULT FunctionCall::run(CIndirectMethodInfo* info)
{
    return static_cast<FunctionCall*>(info)->body_();
}

LRESULT runSync(std::function<LRESULT()> body)
{
    UiThread::get();
    return CLocalMethod::invokeByUiThread(new FunctionCall(IIM_SYNC_NOARG, std::move(body)));
}

void runAsync(std::function<void()> body)
{
    UiThread::get();
    CLocalMethod::invokeByUiThread(new FunctionCall(IIM_ASYNC_NOARG, [body] {
        body();
        return LRESULT(0);
    }));
}

bool waitForQueuedRequests(size_t count, DWORD timeoutMs)
{
    HWND hidden = UiThread::get().hiddenWindow();
    std::vector<MSG> taken;
    DWORD start = GetTickCount();
    while (taken.size() < count && GetTickCount() - start < timeoutMs) {
        MSG msg;
        if (PeekMessageA(&msg, hidden, WM_APP, WM_APP, PM_REMOVE))
            taken.push_back(msg);
        else
            Sleep(1);
    }
    for (const MSG& msg : taken)
        PostMessageA(hidden, msg.message, msg.wParam, msg.lParam);
    return taken.size() >= count;
}

const CWnd::MessageEntry CTestWnd::messageMap[] = {
    on<WM_ADD, &CTestWnd::OnAdd>(),
    on<WM_THROW, &CTestWnd::OnThrow>(),
    on<WM_NOTE, &CTestWnd::OnNote>(),
    endOfMap(CWnd::messageMap),
};

CTestWnd* CTestWnd::createOnUiThread(const std::string& name)
{
    CTestWnd* wnd = nullptr;
    runSync([&] {
        wnd = new CTestWnd;
        if (!wnd->CreateEx(0, nullptr, "", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr))
            CTrace::fatalError(" the test window could not be created", -1);
        return LRESULT(0);
    });
    CLocalMethod::addWindow(name, wnd->GetSafeHwnd());
    return wnd;
}

void CTestWnd::destroyOnUiThread(CTestWnd* wnd)
{
    runSync([wnd] {
        delete wnd;
        return LRESULT(0);
    });
}

std::vector<LPARAM> CTestWnd::notes()
{
    std::lock_guard<std::mutex> hold(lock_);
    return notes_;
}

LRESULT CTestWnd::OnAdd(WPARAM wParam, LPARAM lParam)
{
    return static_cast<LRESULT>(wParam) + lParam;
}

LRESULT CTestWnd::OnThrow(WPARAM, LPARAM)
{
    throw CIOException("window threw");
}

LRESULT CTestWnd::OnNote(WPARAM, LPARAM lParam)
{
    {
        std::lock_guard<std::mutex> hold(lock_);
        notes_.push_back(lParam);
    }
    noted.set();
    return 0;
}
