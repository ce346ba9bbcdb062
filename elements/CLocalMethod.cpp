#include "CLocalMethod.h"

#include "CCaughtException.h"
#include "CIllegalArgumentException.h"
#include "CIllegalStateException.h"
#include "CJException.h"
#include "CJObject.h"
#include "CMessageMulticaster.h"
#include "CMethodCallMessage.h"
#include "CNullPointerException.h"
#include "CThread.h"
#include "CWin32LastErrorException.h"
#include "ISerializable.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <map>
#include <memory>
#include <vector>

// One hand-over of a call from a waiting thread (the worker) to the UI thread. Neither side
// holds the monitor while the call runs; it only guards the hand-over.
struct SUiWorkerBridge {
    DWORD threadId = 0;                  // bridge lock
    unsigned checkout = 0;               // bridge lock and monitor: counts the check-outs
    bool blockingAllowed = false;        // bridge lock and monitor at check-out, else monitor; cleared by a disable
    std::atomic<bool> workerHolds{false};
    std::atomic<bool> uiHolds{false};    // a request through this bridge is still due on the UI thread
    bool free = true;                    // bridge lock
    CJObject monitor;                    // the worker waits on it, the UI thread notifies it
    LRESULT result = 0;                  // monitor
    CIndirectMethodInfo* call = nullptr; // monitor
    std::exception_ptr failure;          // monitor: what the call threw
};

namespace {

const char SCOPE[] = "CLocalMethod";
const WPARAM CMD_EXECUTE_SYNC = 1;
const WPARAM CMD_EXECUTE = 2;
const char FORBIDDEN[] = " invokeByUiThreadSync(): run on a thread on which queries are forbidden";

// Class-wide state. Never destroyed: threads that still run at exit may post or look up.
struct InvokerState {
    std::atomic<HWND> hiddenWindow{nullptr};

    CJObject tableLock;                      // guards wndTable and uniqueNameCounter
    std::map<std::string, HWND> wndTable;
    int uniqueNameCounter = 0;

    CMessageMulticaster localListeners;      // locks itself

    CJObject bridgeLock;                     // bridgeList, bridge thread ids and free flags, query control
    std::vector<SUiWorkerBridge*> bridgeList;
    std::vector<DWORD> queryDisabledThreads;
    bool queryDisabledForAll = false;
};

InvokerState& state()
{
    static InvokerState* s = new InvokerState;
    return *s;
}

// Holds a monitor for a scope.
class Hold {
public:
    Hold(CJObject& object, int site) : object_(object) { object_.ObjectLock(site, SCOPE); }
    ~Hold() { object_.ObjectUnLock(); }
    Hold(const Hold&) = delete;
    Hold& operator=(const Hold&) = delete;

private:
    CJObject& object_;
};

std::string hexOf(uintptr_t value)
{
    char text[32];
    snprintf(text, sizeof(text), "0x%08llX", static_cast<unsigned long long>(value));
    return text;
}

HWND findWindow(const std::string& name)
{
    InvokerState& s = state();
    Hold hold(s.tableLock, 1);
    auto entry = s.wndTable.find(name);
    return entry == s.wndTable.end() ? nullptr : entry->second;
}

// The request goes to the hidden window; false (with the thread's last error set) when it cannot
// be posted, also before any invoker exists.
bool postToHiddenWindow(WPARAM command, LPARAM parameter)
{
    HWND hidden = state().hiddenWindow.load();
    if (hidden == nullptr) {
        // A null window would post to the calling thread's own queue, where nobody runs it.
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return false;
    }
    return ::PostMessageA(hidden, WM_APP, command, parameter) != FALSE;
}

[[noreturn]] void throwPostFailed(const std::string& text)
{
    DWORD error = GetLastError();
    std::string message = text + " [" + std::to_string(error) + "]";
    SetLastError(error);
    throw CWin32LastErrorException(message);
}

// The window's handler may throw. For a window of this thread that runs under the window layer,
// its own send gives the exception back here; a plain send would leave it for the message loop.
LRESULT sendToWindow(HWND window, UINT msg, WPARAM wParam, LPARAM lParam)
{
    if (GetWindowThreadProcessId(window, nullptr) == GetCurrentThreadId()) {
        if (CWnd* wnd = CWnd::FromHandlePermanent(window))
            return wnd->SendMessage(msg, wParam, lParam);
    }
    return ::SendMessageA(window, msg, wParam, lParam);
}

// A bridge that was busy when a disable came, with the check-out it was busy with.
struct BusyBridge {
    SUiWorkerBridge* bridge;
    unsigned checkout;
};

// Under the bridge lock: the busy bridges of one thread, or of all.
std::vector<BusyBridge> busyBridges(const InvokerState& s, const DWORD* threadId)
{
    std::vector<BusyBridge> busy;
    for (SUiWorkerBridge* bridge : s.bridgeList) {
        if (!bridge->free && (threadId == nullptr || bridge->threadId == *threadId))
            busy.push_back({bridge, bridge->checkout});
    }
    return busy;
}

// Without the bridge lock, which the UI thread's calls may take: the bridges may no longer block,
// and their workers wake if they wait. A bridge checked in and out again meanwhile belongs to a
// later call and is left alone.
void releaseWaiters(const std::vector<BusyBridge>& busy)
{
    for (const BusyBridge& entry : busy) {
        Hold hold(entry.bridge->monitor, 2);
        if (entry.bridge->checkout != entry.checkout)
            continue;
        entry.bridge->blockingAllowed = false;
        entry.bridge->monitor.notify();
    }
}

// What a call threw when nobody waits for it any more; only inside a catch block.
void reportUnclaimedFailure()
{
    CTrace::scopedError(SCOPE, " a call whose caller had already been released threw: " + CCaughtException::describe(),
                        -1);
}

void postLocalCall(CMethodCallMessage* message)
{
    InvokerState& s = state();
    if (!s.localListeners.canDeliver(message)) {
        std::string target = message->getRecElemId();
        IMessage::release(message);
        throw CIllegalArgumentException(" the target [" + target + "] does not exist");
    }
    s.localListeners.notifyMessage(message);
}

} // namespace

const CWnd::MessageEntry CLocalMethod::messageMap[] = {
    on<WM_APP, &CLocalMethod::OnInvokeMessage>(),
    endOfMap(CWnd::messageMap),
};

CLocalMethod::CLocalMethod()
{
    LPCSTR windowClass = RegisterWndClass(0);
    if (windowClass == nullptr || !CreateEx(0, windowClass, nullptr, WS_POPUPWINDOW, 0, 0, 0, 0, nullptr, nullptr))
        CTrace::scopedFatalError(SCOPE, " the hidden window could not be created [" + std::to_string(GetLastError()) + "]",
                                 -1);
    HWND none = nullptr;
    state().hiddenWindow.compare_exchange_strong(none, m_hWnd);
    CTrace::trace(SCOPE, " hidden window " + hexOf(reinterpret_cast<uintptr_t>(m_hWnd)) + " created", 0);
}

CLocalMethod::~CLocalMethod()
{
    InvokerState& s = state();
    {
        Hold hold(s.tableLock, 3);
        if (!s.wndTable.empty()) {
            CTrace::trace(SCOPE, " ~CLocalMethod(): the window table still holds " + std::to_string(s.wndTable.size())
                                     + " entries", 0);
            for (const auto& entry : s.wndTable)
                CTrace::trace(SCOPE, "  [" + entry.first + "] " + hexOf(reinterpret_cast<uintptr_t>(entry.second)), 0);
            s.wndTable.clear();
        }
    }
    Hold hold(s.bridgeLock, 4);
    if (!s.bridgeList.empty()) {
        CTrace::trace(SCOPE, " ~CLocalMethod(): deleting " + std::to_string(s.bridgeList.size()) + " bridges", 0);
        for (SUiWorkerBridge* bridge : s.bridgeList)
            delete bridge;
        s.bridgeList.clear();
    }
}

std::string CLocalMethod::makeUniqueName()
{
    InvokerState& s = state();
    Hold hold(s.tableLock, 5);
    return std::to_string(s.uniqueNameCounter++);
}

void CLocalMethod::addWindow(const std::string& name, HWND window)
{
    InvokerState& s = state();
    Hold hold(s.tableLock, 6);
    s.wndTable[name] = window;
    CTrace::trace(SCOPE, " addWindow(): [" + name + "] " + hexOf(reinterpret_cast<uintptr_t>(window)), 0);
}

void CLocalMethod::addListener(const std::string& name, IMessageListener* listener)
{
    state().localListeners.addListener(name, listener);
}

void CLocalMethod::removeTarget(const std::string& name)
{
    InvokerState& s = state();
    {
        Hold hold(s.tableLock, 7);
        if (s.wndTable.erase(name) != 0) {
            CTrace::trace(SCOPE, " removeTarget(): window [" + name + "] removed", 0);
            return;
        }
    }
    s.localListeners.removeListener(name);
}

void CLocalMethod::postMethod(const std::string& target, const std::string& method)
{
    postLocalCall(
        CMethodCallMessage::createLocalCall(target, CMethodCallMessage::INVALID_ELEMENT_GUID, method));
}

void CLocalMethod::postMethodStr(const std::string& target, const std::string& method, const std::string& arg)
{
    postLocalCall(CMethodCallMessage::createLocalCall(target, CMethodCallMessage::INVALID_ELEMENT_GUID, method,
                                                      static_cast<unsigned>(arg.size()), arg.data()));
}

void CLocalMethod::postMethodBuf(const std::string& target, const std::string& method, int bufSize, const void* buf)
{
    if (bufSize < 0)
        throw CIllegalArgumentException(" postMethodBuf(): negative buffer size " + std::to_string(bufSize));
    postLocalCall(CMethodCallMessage::createLocalCall(target, CMethodCallMessage::INVALID_ELEMENT_GUID, method,
                                                      static_cast<unsigned>(bufSize), buf));
}

void CLocalMethod::postMethodObj(const std::string& target, const std::string& method, ISerializable* arg)
{
    postLocalCall(
        CMethodCallMessage::createLocalCall(target, CMethodCallMessage::INVALID_ELEMENT_GUID, method, arg));
}

void CLocalMethod::postWndMsg(const std::string& window, UINT msg, WPARAM wParam, LPARAM lParam)
{
    HWND target = findWindow(window);
    if (target == nullptr)
        throw CIllegalArgumentException(" postWndMsg(): invalid target [" + window + "]");
    if (!::PostMessageA(target, msg, wParam, lParam))
        throwPostFailed(" postWndMsg(): the post to [" + window + "] failed");
}

LRESULT CLocalMethod::invokeSync(const std::string& window, UINT msg, WPARAM wParam, LPARAM lParam)
{
    return invokeByUiThread(new CIndirectMethodInfo(IIM_SYNC_WNDMSG, window, msg, wParam, lParam));
}

LRESULT CLocalMethod::invokeByUiThread(CIndirectMethodInfo* info)
{
    CTrace::scopedAssertTrue(info != nullptr, SCOPE, " invokeByUiThread(): the method info is NULL", -1);
    bool onUiThread = false;
    try {
        onUiThread = CThread::checkUIThread();
    } catch (CNullPointerException& e) {
        CTrace::scopedFatalError(SCOPE, " invokeByUiThread(): no UI thread is registered: " + e.getMessage(), -1);
    }
    if (onUiThread) {
        delete info;
        throw CIllegalStateException(" invokeByUiThread(): run on the UI thread");
    }
    int kind = info->getKind();
    switch (kind) {
    case IIM_ASYNC_NOARG:
    case IIM_ASYNC_OBJARG:
    case IIM_ASYNC_BUFARG:
    case IIM_ASYNC_WNDMSG:
        invokeByUiThreadAsync(info);
        return 0;
    case IIM_SYNC_NOARG:
    case IIM_SYNC_OBJARG:
    case IIM_SYNC_BUFARG:
    case IIM_SYNC_WNDMSG:
        return invokeByUiThreadSync(info);
    default:
        CTrace::scopedFatalError(SCOPE, " invokeByUiThread(): unknown method type " + std::to_string(kind), -1);
    }
}

void CLocalMethod::invokeByUiThreadAsync(CIndirectMethodInfo* info)
{
    if (!postToHiddenWindow(CMD_EXECUTE, reinterpret_cast<LPARAM>(info))) {
        DWORD error = GetLastError();
        delete info;
        SetLastError(error);
        throwPostFailed(" invokeByUiThreadAsync(): the post to the UI thread failed");
    }
}

LRESULT CLocalMethod::invokeByUiThreadSync(CIndirectMethodInfo* info)
{
    SUiWorkerBridge* bridge = checkOutBridge();
    if (bridge == nullptr) {
        delete info;
        throw CIllegalStateException(FORBIDDEN);
    }
    bool refused = false;
    bool postFailed = false;
    DWORD postError = 0;
    bool stillDue = false;
    LRESULT result = 0;
    std::exception_ptr failure;
    {
        Hold hold(bridge->monitor, 8);
        if (bridge->blockingAllowed) {
            bridge->call = info;
            if (postToHiddenWindow(CMD_EXECUTE_SYNC, reinterpret_cast<LPARAM>(bridge))) {
                // Ends when the UI thread has run the call or a disable has come.
                while (bridge->uiHolds && bridge->blockingAllowed) {
                    if (!bridge->monitor.wait(INFINITE))
                        break;
                }
            } else {
                postError = GetLastError();
                postFailed = true;
                bridge->call = nullptr;
                bridge->uiHolds = false;
            }
        } else {
            refused = true;
            bridge->uiHolds = false;
        }
        stillDue = bridge->uiHolds;
        result = bridge->result;
        failure = bridge->failure;
        bridge->failure = nullptr;
        bridge->workerHolds = false;
    }
    checkInBridge(bridge);

    if (postFailed || refused)
        delete info;
    if (postFailed) {
        SetLastError(postError);
        throwPostFailed(" invokeByUiThreadSync(): the post to the UI thread failed");
    }
    if (refused || stillDue)
        throw CIllegalStateException(FORBIDDEN);
    if (failure)
        std::rethrow_exception(failure);
    return result;
}

SUiWorkerBridge* CLocalMethod::checkOutBridge()
{
    InvokerState& s = state();
    Hold hold(s.bridgeLock, 9);
    DWORD caller = GetCurrentThreadId();
    if (!isQueryAllowed(caller))
        return nullptr;
    SUiWorkerBridge* bridge = getFreeBridge();
    bridge->threadId = caller;
    bridge->workerHolds = true;
    bridge->uiHolds = true;
    bridge->free = false;
    // A disable that still holds a ticket of this bridge's last call tells the calls apart here.
    Hold monitorHold(bridge->monitor, 17);
    ++bridge->checkout;
    bridge->blockingAllowed = true;
    bridge->result = 0;
    bridge->call = nullptr;
    bridge->failure = nullptr;
    return bridge;
}

SUiWorkerBridge* CLocalMethod::getFreeBridge()
{
    InvokerState& s = state();
    Hold hold(s.bridgeLock, 10);
    for (SUiWorkerBridge* bridge : s.bridgeList) {
        if (bridge->free)
            return bridge;
    }
    s.bridgeList.push_back(new SUiWorkerBridge);
    CTrace::trace(SCOPE, " getFreeBridge(): bridge " + std::to_string(s.bridgeList.size()) + " created", 0);
    return s.bridgeList.back();
}

// Both sides check the bridge in; the later one frees it, so that it is never reused while a
// request through it is still due on the UI thread.
void CLocalMethod::checkInBridge(SUiWorkerBridge* bridge)
{
    InvokerState& s = state();
    Hold hold(s.bridgeLock, 11);
    if (!bridge->workerHolds && !bridge->uiHolds)
        bridge->free = true;
}

bool CLocalMethod::isQueryAllowed(DWORD threadId)
{
    InvokerState& s = state();
    Hold hold(s.bridgeLock, 12);
    if (s.queryDisabledForAll)
        return false;
    return std::find(s.queryDisabledThreads.begin(), s.queryDisabledThreads.end(), threadId)
           == s.queryDisabledThreads.end();
}

void CLocalMethod::disableQuery()
{
    InvokerState& s = state();
    std::vector<BusyBridge> busy;
    {
        Hold hold(s.bridgeLock, 13);
        if (s.queryDisabledForAll)
            return;
        s.queryDisabledForAll = true;
        CTrace::trace(SCOPE, " disableQuery(): queries are disabled for all threads", 0);
        busy = busyBridges(s, nullptr);
    }
    releaseWaiters(busy);
}

void CLocalMethod::disableQueryOf(DWORD threadId)
{
    InvokerState& s = state();
    std::vector<BusyBridge> busy;
    {
        Hold hold(s.bridgeLock, 14);
        if (std::find(s.queryDisabledThreads.begin(), s.queryDisabledThreads.end(), threadId)
            != s.queryDisabledThreads.end())
            CTrace::scopedError(SCOPE, " disableQuery(): called while queries are already impossible for thread "
                                           + hexOf(threadId), -1);
        s.queryDisabledThreads.push_back(threadId);
        if (s.queryDisabledForAll)
            return;
        busy = busyBridges(s, &threadId);
    }
    releaseWaiters(busy);
}

void CLocalMethod::enableQueryOf(DWORD threadId)
{
    InvokerState& s = state();
    Hold hold(s.bridgeLock, 15);
    auto entry = std::find(s.queryDisabledThreads.begin(), s.queryDisabledThreads.end(), threadId);
    if (entry == s.queryDisabledThreads.end()) {
        CTrace::scopedError(SCOPE, " enableQuery(): called while queries are possible for thread " + hexOf(threadId),
                            -1);
        return;
    }
    s.queryDisabledThreads.erase(entry);
}

LRESULT CLocalMethod::OnInvokeMessage(WPARAM wParam, LPARAM lParam)
{
    switch (wParam) {
    case CMD_EXECUTE_SYNC:
        ExecuteSync(reinterpret_cast<SUiWorkerBridge*>(lParam));
        break;
    case CMD_EXECUTE:
        // Nobody waits for a posted call: what it throws ends here, not in the message loop.
        try {
            Execute(reinterpret_cast<CIndirectMethodInfo*>(lParam));
        } catch (...) {
            CTrace::scopedError(SCOPE, " a posted call threw: " + CCaughtException::describe(), -1);
        }
        break;
    default:
        CTrace::scopedFatalError(SCOPE, " OnInvokeMessage(): unknown command " + std::to_string(wParam), -1);
    }
    return 1;
}

void CLocalMethod::ExecuteSync(SUiWorkerBridge* bridge)
{
    CIndirectMethodInfo* call;
    {
        Hold hold(bridge->monitor, 16);
        CTrace::scopedAssertTrue(bridge->call != nullptr, SCOPE, " ExecuteSync(): the method info is NULL", -1);
        call = bridge->call;
        bridge->call = nullptr;
    }
    // The caller's code runs with no lock of the invoker held: it may ask for or change query
    // control itself, and a disable meanwhile releases the worker at once. The bridge stays
    // checked out to this request until it is checked in below.
    LRESULT result = 0;
    std::exception_ptr failure;
    try {
        result = Execute(call);
    } catch (...) {
        failure = std::current_exception();
    }
    bool unclaimed = false;
    {
        Hold hold(bridge->monitor, 18);
        // What the call throws goes to the waiting worker, which must wake in any case.
        if (bridge->workerHolds) {
            bridge->result = result;
            bridge->failure = failure;
        } else {
            unclaimed = failure != nullptr;
        }
        bridge->uiHolds = false;
        bridge->monitor.notify();
    }
    checkInBridge(bridge);
    if (unclaimed) {
        try {
            std::rethrow_exception(failure);
        } catch (...) {
            reportUnclaimedFailure();
        }
    }
}

LRESULT CLocalMethod::Execute(CIndirectMethodInfo* info)
{
    std::unique_ptr<CIndirectMethodInfo> record(info);
    int kind = record->getKind();
    switch (kind) {
    case IIM_ASYNC_NOARG:
    case IIM_ASYNC_OBJARG:
    case IIM_ASYNC_BUFARG:
    case IIM_SYNC_NOARG:
    case IIM_SYNC_OBJARG:
    case IIM_SYNC_BUFARG:
        CTrace::scopedAssertTrue(record->getExecutor() != nullptr, SCOPE, " Execute(): getExecutor() returned NULL",
                                 -1);
        return record->getExecutor()(record.get());
    case IIM_ASYNC_WNDMSG:
    case IIM_SYNC_WNDMSG: {
        HWND window = findWindow(record->getWindowName());
        if (window == nullptr) {
            CTrace::scopedError(SCOPE, " Execute(): invalid target [" + record->getWindowName() + "]", -1);
            return 0;
        }
        return sendToWindow(window, record->getMsg(), record->getWParam(), record->getLParam());
    }
    default:
        CTrace::scopedFatalError(SCOPE, " Execute(): invalid method type " + std::to_string(kind), -1);
    }
}
