#include "CWnd.h"

#include "CDC.h"
#include "CFont.h"
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

const CWnd CWnd::wndTop(HWND_TOP);
const CWnd CWnd::wndBottom(HWND_BOTTOM);
const CWnd CWnd::wndTopMost(HWND_TOPMOST);
const CWnd CWnd::wndNoTopMost(HWND_NOTOPMOST);

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

BOOL CWnd::SubclassWindow(HWND hwnd) {
    if (m_hWnd || !IsWindow(hwnd) || FromHandlePermanent(hwnd))
        return FALSE;
    bind(hwnd);
    auto proc = reinterpret_cast<WNDPROC>(GetWindowLongPtrA(hwnd, GWLP_WNDPROC));
    if (proc != &CWnd::windowProcedure) {
        m_superProc = reinterpret_cast<WNDPROC>(SetWindowLongPtrA(
            hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&CWnd::windowProcedure)));
    }
    return TRUE;
}

BOOL CWnd::SubclassDlgItem(UINT id, CWnd* parent) {
    if (!parent || !parent->m_hWnd)
        return FALSE;
    return SubclassWindow(::GetDlgItem(parent->m_hWnd, static_cast<int>(id)));
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

BOOL CWnd::WalkPreTranslateTree(MSG* msg) {
    for (HWND hwnd = msg->hwnd; hwnd;) {
        if (CWnd* wnd = FromHandlePermanent(hwnd)) {
            if (wnd->PreTranslateMessage(msg))
                return TRUE;
        }
        if (!(GetWindowLongPtrA(hwnd, GWL_STYLE) & WS_CHILD))
            break;   // the top-level window was the last
        hwnd = ::GetParent(hwnd);
    }
    return FALSE;
}

LRESULT CWnd::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_COMMAND) {
        if (OnCommand(wParam, lParam))
            return 0;
        return DefWindowProc(message, wParam, lParam);
    }
    if (message == WM_NOTIFY) {
        LRESULT result = 0;
        if (OnNotify(wParam, lParam, &result))
            return result;
    }
    if (const MessageEntry* entry = findEntry(message, wParam))
        return entry->call(this, wParam, lParam);
    return DefWindowProc(message, wParam, lParam);
}

BOOL CWnd::OnCommand(WPARAM wParam, LPARAM lParam) {
    if (const MessageEntry* entry = findEntry(WM_COMMAND, wParam)) {
        entry->call(this, wParam, lParam);
        return TRUE;
    }
    return FALSE;
}

BOOL CWnd::OnNotify(WPARAM, LPARAM, LRESULT*) {
    return FALSE;
}

LRESULT CWnd::DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    LRESULT reflected = 0;
    if (reflectToControl(message, wParam, lParam, &reflected))
        return reflected;
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
        case MessageEntry::Reflected:
            break;
        }
        ++entry;
    }
    return nullptr;
}

const CWnd::MessageEntry* CWnd::findReflected(UINT message) const {
    const MessageEntry* entry = GetMessageMap();
    while (entry) {
        if (entry->kind == MessageEntry::End) {
            entry = entry->base;
            continue;
        }
        if (entry->kind == MessageEntry::Reflected && entry->message == message)
            return entry;
        ++entry;
    }
    return nullptr;
}

bool CWnd::reflectToControl(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) {
    const bool colour = message >= WM_CTLCOLORMSGBOX && message <= WM_CTLCOLORSTATIC;
    if (!colour && message != WM_HSCROLL && message != WM_VSCROLL)
        return false;
    // A window's own scroll bars and a dialog's own colour have no control to go to.
    HWND control = reinterpret_cast<HWND>(lParam);
    if (!control || control == m_hWnd)
        return false;
    CWnd* wnd = FromHandlePermanent(control);
    if (!wnd || wnd == this)
        return false;
    const MessageEntry* entry = wnd->findReflected(colour ? WM_CTLCOLOREDIT : message);
    if (!entry)
        return false;
    if (colour) {
        LRESULT brush = entry->call(wnd, wParam, static_cast<LPARAM>(message - WM_CTLCOLORMSGBOX));
        if (!brush)
            return false;   // no brush: the parent's default colours
        *result = brush;
        return true;
    }
    *result = entry->call(wnd, wParam, lParam);
    return true;
}

LRESULT CWnd::callWithDC(CWnd* wnd, HDC hdc, UINT type, HBRUSH (*handler)(CWnd*, CDC*, UINT)) {
    // The handler's selections (a font) stay in the control's DC: it paints with them.
    CDC dc;
    dc.Attach(hdc);
    HBRUSH brush = handler(wnd, &dc, type);
    dc.Detach();
    return reinterpret_cast<LRESULT>(brush);
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

void CWnd::CenterWindow(CWnd* over) {
    if (!m_hWnd)
        return;
    const bool child = (GetStyle() & WS_CHILD) != 0;
    HWND parent = child ? ::GetParent(m_hWnd) : nullptr;
    HWND centreOn = over ? over->m_hWnd : nullptr;
    if (!centreOn && !child) {
        HWND owner = ::GetWindow(m_hWnd, GW_OWNER);
        if (owner && ::IsWindowVisible(owner) && !::IsIconic(owner))
            centreOn = owner;
    }
    RECT window{};
    ::GetWindowRect(m_hWnd, &window);
    RECT area{};      // where the window must stay, in the coordinates it is moved in
    RECT centre{};    // the rectangle to centre on, in the same coordinates
    if (child) {
        ::GetClientRect(parent, &area);
        centre = area;
        if (centreOn && centreOn != parent) {
            ::GetWindowRect(centreOn, &centre);
            ::MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&centre), 2);
        }
        ::MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&window), 2);
    } else {
        MONITORINFO monitor{};
        monitor.cbSize = sizeof monitor;
        HMONITOR screen = ::MonitorFromWindow(centreOn ? centreOn : m_hWnd, MONITOR_DEFAULTTONEAREST);
        if (::GetMonitorInfoA(screen, &monitor))
            area = monitor.rcWork;
        else
            ::SystemParametersInfoA(SPI_GETWORKAREA, 0, &area, 0);
        if (centreOn && centreOn != ::GetDesktopWindow())
            ::GetWindowRect(centreOn, &centre);
        else
            centre = area;
    }
    const int width = window.right - window.left;
    const int height = window.bottom - window.top;
    int x = (centre.left + centre.right) / 2 - width / 2;
    int y = (centre.top + centre.bottom) / 2 - height / 2;
    if (x + width > area.right)
        x = area.right - width;
    if (x < area.left)
        x = area.left;
    if (y + height > area.bottom)
        y = area.bottom - height;
    if (y < area.top)
        y = area.top;
    ::SetWindowPos(m_hWnd, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

namespace {
BOOL modifyLong(HWND hwnd, int index, DWORD remove, DWORD add, UINT flags) {
    if (!hwnd)
        return FALSE;
    DWORD style = static_cast<DWORD>(GetWindowLongPtrA(hwnd, index));
    DWORD changed = (style & ~remove) | add;
    if (changed == style)
        return FALSE;
    SetWindowLongPtrA(hwnd, index, static_cast<LONG_PTR>(changed));
    if (flags)
        SetWindowPos(hwnd, nullptr, 0, 0, 0, 0,
                     SWP_NOSIZE | SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE | flags);
    return TRUE;
}
}  // namespace

BOOL CWnd::ModifyStyle(DWORD remove, DWORD add, UINT flags) {
    return modifyLong(m_hWnd, GWL_STYLE, remove, add, flags);
}

BOOL CWnd::ModifyStyleEx(DWORD remove, DWORD add, UINT flags) {
    return modifyLong(m_hWnd, GWL_EXSTYLE, remove, add, flags);
}

DWORD CWnd::GetStyle() const {
    return m_hWnd ? static_cast<DWORD>(GetWindowLongPtrA(m_hWnd, GWL_STYLE)) : 0;
}

DWORD CWnd::GetExStyle() const {
    return m_hWnd ? static_cast<DWORD>(GetWindowLongPtrA(m_hWnd, GWL_EXSTYLE)) : 0;
}

BOOL CWnd::ShowWindow(int showCmd) {
    return ::ShowWindow(m_hWnd, showCmd);
}

BOOL CWnd::IsWindowVisible() const {
    return ::IsWindowVisible(m_hWnd);
}

BOOL CWnd::IsIconic() const {
    return ::IsIconic(m_hWnd);
}

void CWnd::MoveWindow(int x, int y, int width, int height, BOOL repaint) {
    ::MoveWindow(m_hWnd, x, y, width, height, repaint);
}

void CWnd::MoveWindow(LPCRECT rect, BOOL repaint) {
    MoveWindow(rect->left, rect->top, rect->right - rect->left, rect->bottom - rect->top, repaint);
}

BOOL CWnd::SetWindowPos(const CWnd* insertAfter, int x, int y, int width, int height, UINT flags) {
    return ::SetWindowPos(m_hWnd, insertAfter ? insertAfter->m_hWnd : nullptr, x, y, width, height, flags);
}

void CWnd::GetWindowRect(LPRECT rect) const {
    ::GetWindowRect(m_hWnd, rect);
}

void CWnd::GetClientRect(LPRECT rect) const {
    ::GetClientRect(m_hWnd, rect);
}

void CWnd::ClientToScreen(LPPOINT point) const {
    ::ClientToScreen(m_hWnd, point);
}

void CWnd::ClientToScreen(LPRECT rect) const {
    ::MapWindowPoints(m_hWnd, nullptr, reinterpret_cast<POINT*>(rect), 2);
}

void CWnd::ScreenToClient(LPPOINT point) const {
    ::ScreenToClient(m_hWnd, point);
}

void CWnd::ScreenToClient(LPRECT rect) const {
    ::MapWindowPoints(nullptr, m_hWnd, reinterpret_cast<POINT*>(rect), 2);
}

void CWnd::MapWindowPoints(CWnd* to, LPPOINT points, UINT count) const {
    ::MapWindowPoints(m_hWnd, to ? to->m_hWnd : nullptr, points, count);
}

void CWnd::MapWindowPoints(CWnd* to, LPRECT rect) const {
    ::MapWindowPoints(m_hWnd, to ? to->m_hWnd : nullptr, reinterpret_cast<POINT*>(rect), 2);
}

void CWnd::Invalidate(BOOL erase) {
    ::InvalidateRect(m_hWnd, nullptr, erase);
}

void CWnd::InvalidateRect(LPCRECT rect, BOOL erase) {
    ::InvalidateRect(m_hWnd, rect, erase);
}

void CWnd::ValidateRect(LPCRECT rect) {
    ::ValidateRect(m_hWnd, rect);
}

void CWnd::UpdateWindow() {
    ::UpdateWindow(m_hWnd);
}

BOOL CWnd::RedrawWindow(LPCRECT update, HRGN region, UINT flags) {
    return ::RedrawWindow(m_hWnd, update, region, flags);
}

UINT_PTR CWnd::SetTimer(UINT_PTR id, UINT elapse, TIMERPROC proc) {
    return ::SetTimer(m_hWnd, id, elapse, proc);
}

BOOL CWnd::KillTimer(UINT_PTR id) {
    return ::KillTimer(m_hWnd, id);
}

HWND CWnd::SetCapture() {
    return ::SetCapture(m_hWnd);
}

HICON CWnd::SetIcon(HICON icon, BOOL big) {
    return reinterpret_cast<HICON>(
        ::SendMessageA(m_hWnd, WM_SETICON, big ? ICON_BIG : ICON_SMALL, reinterpret_cast<LPARAM>(icon)));
}

HICON CWnd::GetIcon(BOOL big) const {
    return reinterpret_cast<HICON>(::SendMessageA(m_hWnd, WM_GETICON, big ? ICON_BIG : ICON_SMALL, 0));
}

void CWnd::SetWindowText(LPCSTR text) {
    ::SetWindowTextA(m_hWnd, text);
}

std::string CWnd::GetWindowText() const {
    int length = ::GetWindowTextLengthA(m_hWnd);
    if (length <= 0)
        return std::string();
    std::string text(static_cast<size_t>(length) + 1, '\0');
    int got = ::GetWindowTextA(m_hWnd, &text[0], length + 1);
    text.resize(got > 0 ? static_cast<size_t>(got) : 0);
    return text;
}

int CWnd::GetWindowTextLength() const {
    return ::GetWindowTextLengthA(m_hWnd);
}

void CWnd::SetFont(HFONT font, BOOL redraw) {
    ::SendMessageA(m_hWnd, WM_SETFONT, reinterpret_cast<WPARAM>(font), redraw);
}

void CWnd::SetFont(CFont* font, BOOL redraw) {
    SetFont(font ? static_cast<HFONT>(*font) : nullptr, redraw);
}

HFONT CWnd::GetFont() const {
    return reinterpret_cast<HFONT>(::SendMessageA(m_hWnd, WM_GETFONT, 0, 0));
}

BOOL CWnd::EnableWindow(BOOL enable) {
    return ::EnableWindow(m_hWnd, enable);
}

BOOL CWnd::IsWindowEnabled() const {
    return ::IsWindowEnabled(m_hWnd);
}

HWND CWnd::SetFocus() {
    return ::SetFocus(m_hWnd);
}

CWnd* CWnd::GetParent() const {
    HWND parent = m_hWnd ? ::GetParent(m_hWnd) : nullptr;
    return parent ? FromHandlePermanent(parent) : nullptr;
}

HWND CWnd::GetDlgItem(int id) const {
    return ::GetDlgItem(m_hWnd, id);
}

int CWnd::GetDlgCtrlID() const {
    return ::GetDlgCtrlID(m_hWnd);
}

void CWnd::DragAcceptFiles(BOOL accept) {
    ::DragAcceptFiles(m_hWnd, accept);
}

int CWnd::SetWindowRgn(HRGN region, BOOL redraw) {
    return ::SetWindowRgn(m_hWnd, region, redraw);
}

int CWnd::GetWindowRgn(HRGN region) const {
    return ::GetWindowRgn(m_hWnd, region);
}

namespace {
// The dialog manager wants a dialog procedure; the subclassed window's map does the work, so the
// procedure leaves every message to the manager's default.
INT_PTR CALLBACK dialogProcedure(HWND, UINT, WPARAM, LPARAM) {
    return FALSE;
}
}  // namespace

BOOL CWnd::CreateDlgIndirect(const DLGTEMPLATE* dialogTemplate, HWND owner, HINSTANCE module) {
    if (m_hWnd || !dialogTemplate)
        return FALSE;
    HWND hwnd = nullptr;
    HWND bound = nullptr;
    {
        // The dialog is the first window made: bound and subclassed before WM_INITDIALOG.
        CreationHook hook(this);
        if (!hook.hook)
            return FALSE;
        hwnd = CreateDialogIndirectParamA(module, dialogTemplate, owner, &dialogProcedure, 0);
        bound = hook.bound;
    }
    if (!hwnd && bound && FromHandlePermanent(bound) == this)
        unbind();
    rethrowPending();
    return hwnd != nullptr;
}
