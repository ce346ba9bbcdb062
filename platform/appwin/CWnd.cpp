#include "CWnd.h"

#include "CWinThread.h"

#include <cstdio>
#include <exception>
#include <mutex>
#include <set>
#include <string>
#include <unordered_map>

namespace {

// Window handle to object, for every bound window of the process (any thread may look up).
// Never destroyed: windows of static objects may go after the end of main.
std::mutex& tableLock() {
    static auto* lock = new std::mutex;
    return *lock;
}
std::unordered_map<HWND, CWnd*>& windowTable() {
    static auto* table = new std::unordered_map<HWND, CWnd*>;
    return *table;
}

// The message a window procedure of this thread is handling (for CWnd::Default); one per
// nesting level, linked on the stack.
struct CurrentMessage {
    HWND hwnd;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
    bool posted;              // dispatched by the thread's message loop, not sent by the system
    CurrentMessage* outer;
};
thread_local CurrentMessage* t_currentMessage = nullptr;

// The message the thread's message loop is dispatching.
thread_local const MSG* t_dispatching = nullptr;

// Whether the window is inside its own destruction (its WM_DESTROY or WM_NCDESTROY from
// DestroyWindow, not a posted one) on this thread.
bool beingDestroyed(HWND hwnd) {
    for (const CurrentMessage* m = t_currentMessage; m; m = m->outer) {
        if (m->hwnd == hwnd && (m->message == WM_DESTROY || m->message == WM_NCDESTROY) &&
            !m->posted)
            return true;
    }
    return false;
}

// The first exception a handler on this thread threw and nobody has rethrown yet. Held through
// a plain pointer: a thread_local with a destructor would have it run at thread exit on storage
// the runtime has already freed.
thread_local std::exception_ptr* t_pendingException = nullptr;

HINSTANCE moduleHandle() {
    static HINSTANCE module = [] {
        HMODULE h = nullptr;
        GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                               GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                           reinterpret_cast<LPCSTR>(&moduleHandle), &h);
        return h;
    }();
    return module;
}

}  // namespace

// Binds the next window this thread creates to the object before the window's first message,
// and subclasses it when its class has another procedure.
struct CreationHook {
    explicit CreationHook(CWnd* wnd) : wnd(wnd), previous(current()) {
        current() = this;
        hook = SetWindowsHookExA(WH_CBT, &CreationHook::procedure, nullptr, GetCurrentThreadId());
    }
    ~CreationHook() {
        if (hook)
            UnhookWindowsHookEx(hook);
        current() = previous;
    }
    CreationHook(const CreationHook&) = delete;
    CreationHook& operator=(const CreationHook&) = delete;

    static CreationHook*& current() {
        thread_local CreationHook* creating = nullptr;
        return creating;
    }

    static LRESULT CALLBACK procedure(int code, WPARAM wParam, LPARAM lParam) {
        CreationHook* creating = current();
        if (code == HCBT_CREATEWND && creating && !creating->bound) {
            HWND hwnd = reinterpret_cast<HWND>(wParam);
            creating->bound = hwnd;
            creating->wnd->bind(hwnd);
            auto proc = reinterpret_cast<WNDPROC>(GetWindowLongPtrA(hwnd, GWLP_WNDPROC));
            if (proc != &CWnd::windowProcedure) {
                creating->wnd->m_superProc = reinterpret_cast<WNDPROC>(SetWindowLongPtrA(
                    hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&CWnd::windowProcedure)));
            }
        }
        return CallNextHookEx(nullptr, code, wParam, lParam);
    }

    CWnd* wnd;
    CreationHook* previous;
    HHOOK hook = nullptr;
    HWND bound = nullptr;   // the window bound to wnd, once created
};

const CWnd::MessageEntry CWnd::messageMap[] = {
    endOfMap(nullptr),
};

CWnd::CWnd() = default;

CWnd::~CWnd() {
    if (!m_hWnd)
        return;
    HWND hwnd = m_hWnd;
    unbind();
    CWinThread::windowGone(this);
    // Only the owning thread can destroy a window; its remaining messages get default
    // processing. A window already being destroyed must not be destroyed again (its own
    // procedure would see its last messages twice).
    if (IsWindow(hwnd) && GetWindowThreadProcessId(hwnd, nullptr) == GetCurrentThreadId() &&
        !beingDestroyed(hwnd))
        ::DestroyWindow(hwnd);
}

LPCSTR CWnd::RegisterWndClass(UINT classStyle, HCURSOR cursor, HBRUSH background, HICON icon) {
    static auto* lock = new std::mutex;
    static auto* names = new std::set<std::string>;   // nodes never move: c_str() stays valid
    char name[128];
    std::snprintf(name, sizeof name, "AppWin:%x:%p:%p:%p", classStyle,
                  static_cast<void*>(cursor), static_cast<void*>(background),
                  static_cast<void*>(icon));
    std::lock_guard<std::mutex> guard(*lock);
    auto found = names->find(name);
    if (found != names->end())
        return found->c_str();
    WNDCLASSA wc{};
    wc.style = classStyle;
    wc.lpfnWndProc = &CWnd::windowProcedure;
    wc.hInstance = moduleHandle();
    wc.hCursor = cursor;
    wc.hbrBackground = background;
    wc.hIcon = icon;
    wc.lpszClassName = name;
    if (!RegisterClassA(&wc) && GetLastError() != ERROR_CLASS_ALREADY_EXISTS)
        return nullptr;
    return names->insert(name).first->c_str();
}

BOOL CWnd::CreateEx(DWORD exStyle, LPCSTR className, LPCSTR windowName, DWORD style, int x, int y,
                    int width, int height, HWND parent, HMENU menuOrId, LPVOID param) {
    if (m_hWnd)
        return FALSE;
    if (!className)
        className = RegisterWndClass(CS_DBLCLKS, LoadCursor(nullptr, IDC_ARROW));
    HWND hwnd = nullptr;
    HWND bound = nullptr;
    {
        CreationHook hook(this);
        if (!hook.hook)
            return FALSE;
        hwnd = CreateWindowExA(exStyle, className, windowName, style, x, y, width, height, parent,
                               menuOrId, moduleHandle(), param);
        bound = hook.bound;
    }
    // A failed creation has usually sent WM_NCDESTROY already, and PostNcDestroy may have
    // deleted this object: touch it only while the table still holds it.
    if (!hwnd && bound && FromHandlePermanent(bound) == this)
        unbind();
    rethrowPending();
    return hwnd != nullptr;
}

BOOL CWnd::CreateEx(DWORD exStyle, LPCSTR className, LPCSTR windowName, DWORD style,
                    const RECT& rect, CWnd* parent, UINT id, LPVOID param) {
    return CreateEx(exStyle, className, windowName, style, rect.left, rect.top,
                    rect.right - rect.left, rect.bottom - rect.top,
                    parent ? parent->m_hWnd : nullptr,
                    reinterpret_cast<HMENU>(static_cast<UINT_PTR>(id)), param);
}

BOOL CWnd::Create(LPCSTR className, LPCSTR windowName, DWORD style, const RECT& rect,
                  CWnd* parent, UINT id) {
    return CreateEx(0, className, windowName, style, rect, parent, id);
}

BOOL CWnd::DestroyWindow() {
    if (!m_hWnd)
        return FALSE;
    // This object may be deleted by the time the call returns (PostNcDestroy).
    BOOL done = ::DestroyWindow(m_hWnd);
    rethrowPending();
    return done;
}

BOOL CWnd::Attach(HWND hwnd) {
    if (m_hWnd || !IsWindow(hwnd) || FromHandlePermanent(hwnd))
        return FALSE;
    bind(hwnd);
    return TRUE;
}

HWND CWnd::Detach() {
    HWND hwnd = m_hWnd;
    if (hwnd)
        unbind();
    return hwnd;
}

CWnd* CWnd::FromHandlePermanent(HWND hwnd) {
    std::lock_guard<std::mutex> guard(tableLock());
    auto found = windowTable().find(hwnd);
    return found == windowTable().end() ? nullptr : found->second;
}

LRESULT CWnd::SendMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    LRESULT result = ::SendMessageA(m_hWnd, message, wParam, lParam);
    rethrowPending();
    return result;
}

BOOL CWnd::PostMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    return ::PostMessageA(m_hWnd, message, wParam, lParam);
}

BOOL CWnd::PreTranslateMessage(MSG*) {
    return FALSE;
}

LRESULT CWnd::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    if (const MessageEntry* entry = findEntry(message, wParam))
        return entry->call(this, wParam, lParam);
    return DefWindowProc(message, wParam, lParam);
}

LRESULT CWnd::DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    if (m_superProc)
        return CallWindowProcA(m_superProc, m_hWnd, message, wParam, lParam);
    return ::DefWindowProcA(m_hWnd, message, wParam, lParam);
}

LRESULT CWnd::Default() {
    const CurrentMessage* current = t_currentMessage;
    if (!current || !m_hWnd || current->hwnd != m_hWnd)
        return 0;   // not inside a handler of this window
    return DefWindowProc(current->message, current->wParam, current->lParam);
}

void CWnd::PostNcDestroy() {}

const CWnd::MessageEntry* CWnd::findEntry(UINT message, WPARAM wParam) const {
    const MessageEntry* entry = GetMessageMap();
    while (entry) {
        switch (entry->kind) {
        case MessageEntry::End:
            entry = entry->base;
            continue;
        case MessageEntry::Message:
            if (entry->message == message)
                return entry;
            break;
        case MessageEntry::Registered:
            // Read now: the id is registered at run time, maybe after the map was built.
            if (*entry->registered != 0 && *entry->registered == message)
                return entry;
            break;
        case MessageEntry::Command:
            if (message == WM_COMMAND && HIWORD(wParam) <= 1 && LOWORD(wParam) >= entry->firstId &&
                LOWORD(wParam) <= entry->lastId)
                return entry;
            break;
        }
        ++entry;
    }
    return nullptr;
}

LRESULT CALLBACK CWnd::windowProcedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    CWnd* wnd = FromHandlePermanent(hwnd);
    if (!wnd)
        return ::DefWindowProcA(hwnd, message, wParam, lParam);
    CurrentMessage* outer = t_currentMessage;
    const bool posted = !outer && t_dispatching && t_dispatching->hwnd == hwnd &&
                        t_dispatching->message == message;
    CurrentMessage current{hwnd, message, wParam, lParam, posted, outer};
    t_currentMessage = &current;
    LRESULT result = 0;
    // Exceptions must not unwind through the system's frames: keep the first for the loop.
    try {
        result = wnd->WindowProc(message, wParam, lParam);
        // The handler may have deleted the object; only the table tells whether it still exists.
        if (message == WM_NCDESTROY && FromHandlePermanent(hwnd) == wnd) {
            wnd->unbind();
            CWinThread::windowGone(wnd);
            wnd->PostNcDestroy();
        }
    } catch (...) {
        if (t_pendingException == nullptr)
            t_pendingException = new std::exception_ptr(std::current_exception());
    }
    t_currentMessage = outer;
    return result;
}

void CWnd::dispatch(const MSG& msg) {
    const MSG* outer = t_dispatching;
    t_dispatching = &msg;
    DispatchMessageA(&msg);
    t_dispatching = outer;
    rethrowPending();
}

void CWnd::rethrowPending() {
    if (t_pendingException != nullptr) {
        std::exception_ptr pending = *t_pendingException;
        delete t_pendingException;
        t_pendingException = nullptr;
        std::rethrow_exception(pending);
    }
}

void CWnd::bind(HWND hwnd) {
    std::lock_guard<std::mutex> guard(tableLock());
    m_hWnd = hwnd;
    windowTable()[hwnd] = this;
}

void CWnd::unbind() {
    if (m_superProc) {
        // Give the window back to its own procedure, unless someone subclassed it after us.
        if (reinterpret_cast<WNDPROC>(GetWindowLongPtrA(m_hWnd, GWLP_WNDPROC)) == &windowProcedure)
            SetWindowLongPtrA(m_hWnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(m_superProc));
        m_superProc = nullptr;
    }
    std::lock_guard<std::mutex> guard(tableLock());
    auto found = windowTable().find(m_hWnd);
    if (found != windowTable().end() && found->second == this)
        windowTable().erase(found);
    m_hWnd = nullptr;
}
