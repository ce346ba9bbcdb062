#pragma once
// The meeting point of the program's threads. Windows belong to the UI thread and the logic runs
// on threads of its own; neither calls the other's objects directly. Here they find each other
// by name (windows in a window table, element handlers as local listeners), post local method
// calls and window messages, and have calls run on the UI thread, posted or waited for.
//
// The start-up code creates one CLocalMethod on the UI thread, after registering that thread
// (CThread::registerUIThread), and deletes it at exit; its hidden window takes the requests of
// other threads. All other operations are class-wide and may be called from any thread. The
// names and the posts work from process start; calls onto the UI thread need the invoker.
//
// Query control: a thread whose queries are disabled may not wait for the UI thread. An
// element's plug-out and end disable them for its handler thread for a while; the end of the
// session logic disables them for every thread for good and wakes every waiting thread. A disable
// releases a waiting thread at once, also while its call runs on the UI thread (the call goes on;
// its outcome goes nowhere). Code run on the UI thread may use query control itself: the invoker
// holds none of its locks while it runs that code.
#include "CIndirectMethodInfo.h"

#include <CWnd.h>

#include <string>

class IMessageListener;
class ISerializable;
struct SUiWorkerBridge;

class CLocalMethod : public CWnd {
public:
    CLocalMethod();
    ~CLocalMethod() override;

    // "0", "1", "2", ...: a name unique within the process.
    static std::string makeUniqueName();
    // Enters a window under a name (replacing an entry of that name). The table does not own it.
    static void addWindow(const std::string& name, HWND window);
    // Enters an element's handler under its object id.
    static void addListener(const std::string& name, IMessageListener* listener);
    // Removes the window of that name, or else the listener of that name.
    static void removeTarget(const std::string& name);

    // Local calls, run later on the target element's handler thread. A target that is not
    // entered throws CIllegalArgumentException and gets nothing; an object argument goes with
    // the call (and is gone when the target is unknown). A string travels as a buffer of its
    // characters without a terminating zero.
    static void postMethod(const std::string& target, const std::string& method);
    static void postMethodStr(const std::string& target, const std::string& method, const std::string& arg);
    static void postMethodBuf(const std::string& target, const std::string& method, int bufSize, const void* buf);
    static void postMethodObj(const std::string& target, const std::string& method, ISerializable* arg);
    // Posts a window message to the window of that name: CIllegalArgumentException when there is
    // none, CWin32LastErrorException when the post fails.
    static void postWndMsg(const std::string& window, UINT msg, WPARAM wParam, LPARAM lParam);

    // Sends a window message to the window of that name on the UI thread and returns its result
    // (0 when no window has that name).
    static LRESULT invokeSync(const std::string& window, UINT msg, WPARAM wParam, LPARAM lParam);
    // Runs the record on the UI thread; the record is the invoker's from now on. Asynchronous
    // kinds return 0 at once. Synchronous kinds wait and return the call's result, or throw what
    // the call threw. CIllegalStateException when called on a UI thread, when queries are
    // disabled for the caller, or when a disable ends the wait before the call has run;
    // CWin32LastErrorException when the request cannot be posted to the UI thread.
    static LRESULT invokeByUiThread(CIndirectMethodInfo* info);

    static bool isQueryAllowed(DWORD threadId);
    // Disables queries for every thread, for good, and wakes every thread that waits for the
    // UI thread.
    static void disableQuery();
    // Disables (or enables again) queries for the thread of an element handler (anything with
    // getThreadId()); each disable needs its own enable.
    template <class Handler> static void disableQuery(Handler* handler) { disableQueryOf(handler->getThreadId()); }
    template <class Handler> static void enableQuery(Handler* handler) { enableQueryOf(handler->getThreadId()); }

protected:
    static const MessageEntry messageMap[];
    const MessageEntry* GetMessageMap() const override { return messageMap; }
    // WM_APP on the hidden window: wParam 1 runs the bridge in lParam, wParam 2 the record.
    LRESULT OnInvokeMessage(WPARAM wParam, LPARAM lParam);

private:
    static void invokeByUiThreadAsync(CIndirectMethodInfo* info);
    static LRESULT invokeByUiThreadSync(CIndirectMethodInfo* info);
    static SUiWorkerBridge* checkOutBridge();
    static SUiWorkerBridge* getFreeBridge();
    static void checkInBridge(SUiWorkerBridge* bridge);
    static void disableQueryOf(DWORD threadId);
    static void enableQueryOf(DWORD threadId);
    static void ExecuteSync(SUiWorkerBridge* bridge);
    static LRESULT Execute(CIndirectMethodInfo* info);
};
