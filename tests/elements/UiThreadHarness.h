#pragma once
// What the tests of the UI-thread invoker share: the process's UI thread with its message loop
// and its one invoker, call records that run a function, and a test window.
#include "CIndirectMethodInfo.h"
#include "CJObject.h"
#include "CLocalMethod.h"
#include "ISerializable.h"

#include <windows.h>

#include <atomic>
#include <functional>
#include <mutex>
#include <vector>

// A manual-reset event.
class Signal {
public:
    Signal() : handle_(CreateEventA(nullptr, TRUE, FALSE, nullptr)) {}
    ~Signal() { CloseHandle(handle_); }
    Signal(const Signal&) = delete;
    Signal& operator=(const Signal&) = delete;
    void set() { SetEvent(handle_); }
    bool waitFor(DWORD timeoutMs) { return WaitForSingleObject(handle_, timeoutMs) == WAIT_OBJECT_0; }
    bool isSet() { return waitFor(0); }

private:
    HANDLE handle_;
};

// The invoker of the tests: it also notes the bridge of every synchronous request that its
// window runs, in order.
class CProbeLocalMethod : public CLocalMethod {
public:
    std::vector<LPARAM> takeBridgesSeen();

protected:
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;

private:
    std::mutex lock_;
    std::vector<LPARAM> bridgesSeen_;
};

// The process's UI thread: registered as such, named "MAIN", runs a message loop and owns the
// process's invoker (the first invoker is the one that takes requests, for the life of the
// process, so there is one per test process). Started on first use.
class UiThread {
public:
    static UiThread& get();
    // Ends the message loop; the invoker is deleted on the UI thread first.
    static void stop();

    DWORD threadId() const { return threadId_; }
    HWND hiddenWindow() const { return hiddenWindow_; }
    std::vector<LPARAM> takeBridgesSeen() { return invoker_->takeBridgesSeen(); }

private:
    UiThread() = default;
    DWORD threadId_ = 0;
    HWND hiddenWindow_ = nullptr;
    CProbeLocalMethod* invoker_ = nullptr;
    HANDLE thread_ = nullptr;
};

// A call record whose executor runs a function; it counts its own deletion.
class FunctionCall : public CIndirectMethodInfo {
public:
    FunctionCall(int kind, std::function<LRESULT()> body, std::atomic<int>* deleted = nullptr);
    ~FunctionCall() override;

private:
    static LRESULT run(CIndirectMethodInfo* info);
    std::function<LRESULT()> body_;
    std::atomic<int>* deleted_;
};

// Through the invoker, from a thread that is not the UI thread.
LRESULT runSync(std::function<LRESULT()> body);
void runAsync(std::function<void()> body);

// On the UI thread: waits until count requests wait in the hidden window's queue, and leaves
// them there in their order. False when they did not come within the time.
bool waitForQueuedRequests(size_t count, DWORD timeoutMs);

// A window of the UI thread: WM_ADD answers wParam + lParam; WM_THROW throws a CIOException
// whose text is "window threw"; WM_NOTE counts and keeps the lParams it gets.
class CTestWnd : public CWnd {
public:
    static const UINT WM_ADD = WM_APP + 10;
    static const UINT WM_THROW = WM_APP + 11;
    static const UINT WM_NOTE = WM_APP + 12;

    // Made on the UI thread and entered in the invoker under the name; destroyed there too.
    static CTestWnd* createOnUiThread(const std::string& name);
    static void destroyOnUiThread(CTestWnd* wnd);

    std::vector<LPARAM> notes();
    Signal noted;

protected:
    static const MessageEntry messageMap[];
    const MessageEntry* GetMessageMap() const override { return messageMap; }
    LRESULT OnAdd(WPARAM wParam, LPARAM lParam);
    LRESULT OnThrow(WPARAM wParam, LPARAM lParam);
    LRESULT OnNote(WPARAM wParam, LPARAM lParam);

private:
    std::mutex lock_;
    std::vector<LPARAM> notes_;
};

// Stands for an element handler in query control.
struct FakeHandler {
    DWORD threadId;
    DWORD getThreadId() const { return threadId; }
};

// An argument object that counts its deletion.
class DeletionProbe : public CJObject, public virtual ISerializable {
public:
    explicit DeletionProbe(std::atomic<int>* deleted) : deleted_(deleted) {}
    ~DeletionProbe() override { ++*deleted_; }
    unsigned getSerializedSize() const override { return 0; }
    bool store(void*) const override { return false; }
    bool restore(const void*, unsigned, unsigned* consumed) override
    {
        *consumed = 0;
        return false;
    }
    const char* getClassName() const override { return "DeletionProbe"; }

private:
    std::atomic<int>* deleted_;
};
