#pragma once
// Window class: one object per window, messages dispatched through a per-class message map.
//
// A class that handles messages declares its map and overrides the accessor:
//
//     class CMyWnd : public CWnd {
//     protected:
//         static const MessageEntry messageMap[];
//         const MessageEntry* GetMessageMap() const override { return messageMap; }
//         int OnCreate(CREATESTRUCTA* cs);
//         LRESULT OnMyCommand(WPARAM wParam, LPARAM lParam);
//         ...
//     };
//
// and fills it next to the handlers (the first matching entry wins; the last entry names the
// base class, whose map is searched next; a message no map handles gets default processing):
//
//     const CWnd::MessageEntry CMyWnd::messageMap[] = {
//         on<WM_CREATE, &CMyWnd::OnCreate>(),
//         on<WM_APP + 100, &CMyWnd::OnMyCommand>(),
//         onRegistered<&g_myRegisteredMsg, &CMyWnd::OnMyRegistered>(),
//         onCommand<32871, &CMyWnd::OnRemove>(),
//         onCommandRange<32790, 32794, &CMyWnd::OnPick>(),
//         endOfMap(CWnd::messageMap),
//     };
//
// Handlers take (WPARAM, LPARAM) and return LRESULT for any message; the usual messages may
// instead use the cracked forms listed at CWnd::call. A registered message is named by the
// address of the variable that holds its id, which is read when a message arrives, so the
// variable may be filled after the map (by RegisterWindowMessage during static initialisation).
// WM_COMMAND entries match menu and accelerator commands (notification code 0 or 1); they are
// reached through the virtual OnCommand, WM_NOTIFY through OnNotify, both before the map's
// other entries.
//
// Reflection: a control's WM_CTLCOLOR*, WM_HSCROLL and WM_VSCROLL that its parent leaves to
// default processing (no entry, or a handler that calls Default()) go first to the control's own
// object, when that has a reflected entry (onCtlColorReflect, onHScrollReflect,
// onVScrollReflect); its answer is the parent's answer (for a colour, unless it gives no brush).
//
// An exception thrown by a handler does not unwind through the system's window procedure: it is
// kept and rethrown by the message loop of CWinThread, or by CWnd::SendMessage when that call
// ran the handler on the same thread.
#include <windows.h>
#include <shellapi.h>   // HDROP

#include <string>
#include <type_traits>

class CDC;
class CFont;

class CWnd {
public:
    struct MessageEntry;

    CWnd();
    // Destroys the window when it still exists (only its own thread can do that), unless the
    // window is already being destroyed (a WM_DESTROY handler that deletes its object). A
    // WM_DESTROY posted to the window and handled by deleting the object ends the window too.
    virtual ~CWnd();

    CWnd(const CWnd&) = delete;
    CWnd& operator=(const CWnd&) = delete;

    // Creates the window and binds it to this object before its first message (WM_NCCREATE,
    // WM_CREATE). A null class name takes the default class (double clicks, arrow cursor, no
    // background); a class of another window procedure (such as "EDIT") is subclassed, and its
    // procedure does the default processing. Fails when the object already has a window.
    BOOL CreateEx(DWORD exStyle, LPCSTR className, LPCSTR windowName, DWORD style, int x, int y,
                  int width, int height, HWND parent, HMENU menuOrId, LPVOID param = nullptr);
    BOOL CreateEx(DWORD exStyle, LPCSTR className, LPCSTR windowName, DWORD style,
                  const RECT& rect, CWnd* parent, UINT id, LPVOID param = nullptr);
    // A child or popup window without extended style.
    virtual BOOL Create(LPCSTR className, LPCSTR windowName, DWORD style, const RECT& rect,
                        CWnd* parent, UINT id);
    // This object may be deleted when it returns (PostNcDestroy).
    BOOL DestroyWindow();

    // Name of a window class of this layer with the given style, cursor, background and icon,
    // registered on first use; the same arguments give the same name.
    static LPCSTR RegisterWndClass(UINT classStyle, HCURSOR cursor = nullptr,
                                   HBRUSH background = nullptr, HICON icon = nullptr);

    // Binds an existing window to this object (the object must have none). Messages reach the
    // map only for windows of this layer's classes; other windows are not subclassed.
    BOOL Attach(HWND hwnd);
    // Binds an existing window of any class and routes its messages through the map; its own
    // procedure does the default processing. Let go when the window is destroyed (or by
    // Detach). FALSE when this object has a window or the window is bound already.
    BOOL SubclassWindow(HWND hwnd);
    // SubclassWindow of the child with that id.
    BOOL SubclassDlgItem(UINT id, CWnd* parent);
    // Lets go of the window, which stays as it is; returns its handle.
    HWND Detach();
    // The object bound to a window, or null.
    static CWnd* FromHandlePermanent(HWND hwnd);

    HWND GetSafeHwnd() const { return m_hWnd; }
    LRESULT SendMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0);
    BOOL PostMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0);

    // Called by the thread's message loop for a message to this window or a child of it before
    // it is dispatched; TRUE means it was handled here.
    virtual BOOL PreTranslateMessage(MSG* msg);
    // Offers the message to the windows from its target up to its top-level window (the thread's
    // loops do this); TRUE when one took it.
    static BOOL WalkPreTranslateTree(MSG* msg);

    // Centres the window over the given window; without one, over its owner (a visible one that
    // is not minimised), else on the desktop. A top-level window is kept in the work area of its
    // screen, a child in its parent's client area.
    void CenterWindow(CWnd* over = nullptr);
    // Styles: remove, then add; with flags, SetWindowPos applies the change (SWP_FRAMECHANGED and
    // so on; the window keeps place, size and Z order). TRUE when the style changed.
    BOOL ModifyStyle(DWORD remove, DWORD add, UINT flags = 0);
    BOOL ModifyStyleEx(DWORD remove, DWORD add, UINT flags = 0);
    DWORD GetStyle() const;
    DWORD GetExStyle() const;

    // Thin forwards to the system's window calls.
    BOOL ShowWindow(int showCmd);
    BOOL IsWindowVisible() const;
    BOOL IsIconic() const;
    void MoveWindow(int x, int y, int width, int height, BOOL repaint = TRUE);
    void MoveWindow(LPCRECT rect, BOOL repaint = TRUE);
    // insertAfter: a window, or &wndTop, &wndBottom, &wndTopMost, &wndNoTopMost; null with
    // SWP_NOZORDER.
    BOOL SetWindowPos(const CWnd* insertAfter, int x, int y, int width, int height, UINT flags);
    void GetWindowRect(LPRECT rect) const;
    void GetClientRect(LPRECT rect) const;
    void ClientToScreen(LPPOINT point) const;
    void ClientToScreen(LPRECT rect) const;
    void ScreenToClient(LPPOINT point) const;
    void ScreenToClient(LPRECT rect) const;
    // From this window's client coordinates to those of another window (null: the screen).
    void MapWindowPoints(CWnd* to, LPPOINT points, UINT count) const;
    void MapWindowPoints(CWnd* to, LPRECT rect) const;
    void Invalidate(BOOL erase = TRUE);
    void InvalidateRect(LPCRECT rect, BOOL erase = TRUE);
    void ValidateRect(LPCRECT rect);
    void UpdateWindow();
    BOOL RedrawWindow(LPCRECT update = nullptr, HRGN region = nullptr,
                      UINT flags = RDW_INVALIDATE | RDW_UPDATENOW | RDW_ERASE);
    UINT_PTR SetTimer(UINT_PTR id, UINT elapse, TIMERPROC proc = nullptr);
    BOOL KillTimer(UINT_PTR id);
    // The window that had the capture before, or null.
    HWND SetCapture();
    HICON SetIcon(HICON icon, BOOL big);
    HICON GetIcon(BOOL big) const;
    void SetWindowText(LPCSTR text);
    std::string GetWindowText() const;
    int GetWindowTextLength() const;
    void SetFont(HFONT font, BOOL redraw = TRUE);
    // The font object must outlive its use by the window.
    void SetFont(CFont* font, BOOL redraw = TRUE);
    HFONT GetFont() const;
    BOOL EnableWindow(BOOL enable = TRUE);
    BOOL IsWindowEnabled() const;
    // The window that had the focus before, or null.
    HWND SetFocus();
    // The parent's object, or null (no parent, or one that no object holds).
    CWnd* GetParent() const;
    HWND GetDlgItem(int id) const;
    int GetDlgCtrlID() const;
    void DragAcceptFiles(BOOL accept = TRUE);
    // The window takes ownership of the region.
    int SetWindowRgn(HRGN region, BOOL redraw);
    int GetWindowRgn(HRGN region) const;

    // Positions for SetWindowPos.
    static const CWnd wndTop;
    static const CWnd wndBottom;
    static const CWnd wndTopMost;
    static const CWnd wndNoTopMost;

    HWND m_hWnd = nullptr;

    struct MessageEntry {
        enum Kind : unsigned char { End, Message, Registered, Command, Reflected };
        Kind kind;
        UINT message;                              // Message; Reflected (WM_CTLCOLOREDIT: all colours)
        const UINT* registered;                    // Registered: variable holding the id
        UINT firstId, lastId;                      // Command
        LRESULT (*call)(CWnd*, WPARAM, LPARAM);    // null for End
        const MessageEntry* base;                  // End: the base class's map, or null
    };

protected:
    // Dispatches through the message map (WM_COMMAND through OnCommand, WM_NOTIFY through
    // OnNotify); unhandled messages go to DefWindowProc.
    virtual LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam);
    // Default processing: reflection to a control's object (see above), then the subclassed
    // procedure, or the system's default.
    virtual LRESULT DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam);
    // A WM_COMMAND: the map's entry for it; TRUE when one handled it (otherwise default
    // processing follows).
    virtual BOOL OnCommand(WPARAM wParam, LPARAM lParam);
    // A WM_NOTIFY: TRUE when handled, with the answer in *result. Unhandled here.
    virtual BOOL OnNotify(WPARAM wParam, LPARAM lParam, LRESULT* result);
    // Rethrows an exception that a handler on this thread threw, if any (once).
    static void rethrowPending();
    // Dispatches a message of the thread's message loop, then rethrows as above.
    static void dispatch(const MSG& msg);
    // Creates a dialog window from a template and binds it before its WM_INITDIALOG.
    BOOL CreateDlgIndirect(const DLGTEMPLATE* dialogTemplate, HWND owner, HINSTANCE module);
    // Default processing of the message being handled on this window.
    LRESULT Default();
    // Called after the window's last message; the window is already let go. A class may
    // delete itself here.
    virtual void PostNcDestroy();

    static const MessageEntry messageMap[];
    virtual const MessageEntry* GetMessageMap() const { return messageMap; }

    template <UINT Msg, auto Handler>
    static constexpr MessageEntry on() {
        return {MessageEntry::Message, Msg, nullptr, 0, 0, &call<Msg, Handler>, nullptr};
    }
    template <const UINT* Id, auto Handler>
    static constexpr MessageEntry onRegistered() {
        static_assert(isRaw<Handler>(), "registered-message handler: LRESULT (WPARAM, LPARAM)");
        return {MessageEntry::Registered, 0, Id, 0, 0, &call<0, Handler>, nullptr};
    }
    template <UINT Id, auto Handler>
    static constexpr MessageEntry onCommand() {
        static_assert(std::is_same_v<decltype(Handler), void (ClassOf<Handler>::*)()>,
                      "command handler: void ()");
        return {MessageEntry::Command, 0, nullptr, Id, Id, &commandCall<Handler>, nullptr};
    }
    template <UINT First, UINT Last, auto Handler>
    static constexpr MessageEntry onCommandRange() {
        static_assert(First <= Last, "command range: first id after last id");
        static_assert(std::is_same_v<decltype(Handler), void (ClassOf<Handler>::*)(UINT)>,
                      "command-range handler: void (UINT id)");
        return {MessageEntry::Command, 0, nullptr, First, Last, &commandCall<Handler>, nullptr};
    }
    // Reflected from the parent: HBRUSH (CDC*, UINT ctlColor) for every WM_CTLCOLOR* (ctlColor
    // CTLCOLOR_EDIT, ...); void (UINT scrollCode, UINT position) for the scroll messages.
    template <auto Handler>
    static constexpr MessageEntry onCtlColorReflect() {
        static_assert(is<Handler, HBRUSH(CDC*, UINT)>(), "reflected colour handler: HBRUSH (CDC*, UINT)");
        return {MessageEntry::Reflected, WM_CTLCOLOREDIT, nullptr, 0, 0, &ctlColorCall<Handler>, nullptr};
    }
    template <auto Handler>
    static constexpr MessageEntry onHScrollReflect() {
        return {MessageEntry::Reflected, WM_HSCROLL, nullptr, 0, 0, &scrollCall<Handler>, nullptr};
    }
    template <auto Handler>
    static constexpr MessageEntry onVScrollReflect() {
        return {MessageEntry::Reflected, WM_VSCROLL, nullptr, 0, 0, &scrollCall<Handler>, nullptr};
    }
    // Last entry of a map: the base class's map follows.
    static constexpr MessageEntry endOfMap(const MessageEntry* baseMap) {
        return {MessageEntry::End, 0, nullptr, 0, 0, nullptr, baseMap};
    }

private:
    template <class T> struct MemberOf;
    template <class C, class R, class... A> struct MemberOf<R (C::*)(A...)> { using Class = C; };
    template <auto Handler> using ClassOf = typename MemberOf<decltype(Handler)>::Class;

    template <auto Handler>
    static constexpr bool isRaw() {
        return std::is_same_v<decltype(Handler), LRESULT (ClassOf<Handler>::*)(WPARAM, LPARAM)>;
    }
    template <auto Handler, class Sig>
    static constexpr bool is() {
        return std::is_same_v<decltype(Handler), Sig ClassOf<Handler>::*>;
    }

    // Cracked forms: WM_CREATE int (CREATESTRUCTA*); WM_DESTROY, WM_CLOSE, WM_PAINT void ();
    // WM_TIMER void (UINT_PTR id); mouse buttons and moves void (UINT flags, POINT client);
    // WM_KEYDOWN, WM_KEYUP, WM_CHAR void (UINT key, UINT repeat, UINT flags);
    // WM_SIZE void (UINT type, int cx, int cy); WM_SETCURSOR BOOL (HWND, UINT hitTest, UINT msg);
    // WM_DROPFILES void (HDROP); WM_HELP BOOL (HELPINFO*).
    template <UINT Msg, auto H>
    static LRESULT call(CWnd* wnd, WPARAM wParam, LPARAM lParam) {
        auto* self = static_cast<ClassOf<H>*>(wnd);
        if constexpr (isRaw<H>()) {
            return (self->*H)(wParam, lParam);
        } else if constexpr (Msg == WM_CREATE) {
            static_assert(is<H, int(CREATESTRUCTA*)>(), "WM_CREATE handler: int (CREATESTRUCTA*)");
            return (self->*H)(reinterpret_cast<CREATESTRUCTA*>(lParam));
        } else if constexpr (Msg == WM_DESTROY || Msg == WM_CLOSE || Msg == WM_PAINT) {
            static_assert(is<H, void()>(), "handler: void ()");
            (self->*H)();
            return 0;
        } else if constexpr (Msg == WM_TIMER) {
            static_assert(is<H, void(UINT_PTR)>(), "WM_TIMER handler: void (UINT_PTR)");
            (self->*H)(static_cast<UINT_PTR>(wParam));
            return 0;
        } else if constexpr (Msg == WM_MOUSEMOVE || Msg == WM_LBUTTONDOWN || Msg == WM_LBUTTONUP ||
                             Msg == WM_LBUTTONDBLCLK || Msg == WM_RBUTTONDOWN ||
                             Msg == WM_RBUTTONUP || Msg == WM_RBUTTONDBLCLK ||
                             Msg == WM_MBUTTONDOWN || Msg == WM_MBUTTONUP) {
            static_assert(is<H, void(UINT, POINT)>(), "mouse handler: void (UINT flags, POINT)");
            (self->*H)(static_cast<UINT>(wParam), pointOf(lParam));
            return 0;
        } else if constexpr (Msg == WM_KEYDOWN || Msg == WM_KEYUP || Msg == WM_CHAR) {
            static_assert(is<H, void(UINT, UINT, UINT)>(), "key handler: void (UINT, UINT, UINT)");
            (self->*H)(static_cast<UINT>(wParam), static_cast<UINT>(LOWORD(lParam)),
                       static_cast<UINT>(HIWORD(lParam)));
            return 0;
        } else if constexpr (Msg == WM_SIZE) {
            static_assert(is<H, void(UINT, int, int)>(), "WM_SIZE handler: void (UINT, int, int)");
            (self->*H)(static_cast<UINT>(wParam), LOWORD(lParam), HIWORD(lParam));
            return 0;
        } else if constexpr (Msg == WM_SETCURSOR) {
            static_assert(is<H, BOOL(HWND, UINT, UINT)>(), "WM_SETCURSOR handler: BOOL (HWND, UINT, UINT)");
            return (self->*H)(reinterpret_cast<HWND>(wParam), LOWORD(lParam), HIWORD(lParam));
        } else if constexpr (Msg == WM_DROPFILES) {
            static_assert(is<H, void(HDROP)>(), "WM_DROPFILES handler: void (HDROP)");
            (self->*H)(reinterpret_cast<HDROP>(wParam));
            return 0;
        } else if constexpr (Msg == WM_HELP) {
            static_assert(is<H, BOOL(HELPINFO*)>(), "WM_HELP handler: BOOL (HELPINFO*)");
            return (self->*H)(reinterpret_cast<HELPINFO*>(lParam));
        } else {
            static_assert(isRaw<H>(), "handler of this message: LRESULT (WPARAM, LPARAM)");
            return 0;
        }
    }

    template <auto H>
    static LRESULT commandCall(CWnd* wnd, WPARAM wParam, LPARAM) {
        auto* self = static_cast<ClassOf<H>*>(wnd);
        if constexpr (is<H, void()>())
            (self->*H)();
        else
            (self->*H)(static_cast<UINT>(LOWORD(wParam)));
        return 0;
    }

    // Reflected colour: wParam the HDC, lParam the CTLCOLOR_ type.
    template <auto H>
    static LRESULT ctlColorCall(CWnd* wnd, WPARAM wParam, LPARAM lParam) {
        return callWithDC(wnd, reinterpret_cast<HDC>(wParam), static_cast<UINT>(lParam),
                          [](CWnd* self, CDC* dc, UINT type) {
                              return (static_cast<ClassOf<H>*>(self)->*H)(dc, type);
                          });
    }
    static LRESULT callWithDC(CWnd* wnd, HDC hdc, UINT type, HBRUSH (*handler)(CWnd*, CDC*, UINT));
    template <auto H>
    static LRESULT scrollCall(CWnd* wnd, WPARAM wParam, LPARAM) {
        static_assert(is<H, void(UINT, UINT)>(), "reflected scroll handler: void (UINT code, UINT position)");
        (static_cast<ClassOf<H>*>(wnd)->*H)(LOWORD(wParam), HIWORD(wParam));
        return 0;
    }

    static POINT pointOf(LPARAM lParam) {
        return {static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
    }

    // The handler of a message in the maps of this object's class and its bases, or null.
    // Reflected entries are found only through findReflected.
    const MessageEntry* findEntry(UINT message, WPARAM wParam) const;
    const MessageEntry* findReflected(UINT message) const;
    // Reflection of a control's message to its object; true when that answered.
    bool reflectToControl(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result);
    // For the positions of SetWindowPos.
    explicit CWnd(HWND special) : m_hWnd(special) {}
    static LRESULT CALLBACK windowProcedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    friend struct CreationHook;
    friend class CWinThread;
    void bind(HWND hwnd);
    void unbind();

    WNDPROC m_superProc = nullptr;   // procedure of a subclassed window
};
