#include "CWnd.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

namespace {

UINT g_registeredLate = 0;    // registered only after the map below exists
UINT g_neverRegistered = 0;

// Records every handler call as a line of text.
class CRecordingWnd : public CWnd {
public:
    std::vector<std::string> calls;
    int createResult = 0;
    bool ncDestroyed = false;

    std::string last() const { return calls.empty() ? "" : calls.back(); }

protected:
    static const MessageEntry messageMap[];
    const MessageEntry* GetMessageMap() const override { return messageMap; }
    void PostNcDestroy() override { ncDestroyed = true; }

    int OnCreate(CREATESTRUCTA* cs) {
        calls.push_back(std::string("create ") + (cs->lpszName ? cs->lpszName : ""));
        return createResult;
    }
    void OnDestroy() { calls.push_back("destroy"); }
    LRESULT OnAdd(WPARAM wParam, LPARAM lParam) {
        calls.push_back("add");
        return static_cast<LRESULT>(wParam) + lParam;
    }
    LRESULT OnThrow(WPARAM, LPARAM) { throw std::runtime_error("handler failed"); }
    LRESULT OnLate(WPARAM wParam, LPARAM) {
        calls.push_back("late " + std::to_string(wParam));
        return 11;
    }
    LRESULT OnNever(WPARAM, LPARAM) {
        calls.push_back("never");
        return 12;
    }
    void OnRemove() { calls.push_back("remove"); }
    void OnPick(UINT id) { calls.push_back("pick " + std::to_string(id)); }
    void OnLButtonDown(UINT flags, POINT pt) {
        calls.push_back("lbuttondown " + std::to_string(flags) + " " + std::to_string(pt.x) + " " +
                        std::to_string(pt.y));
    }
    void OnTimer(UINT_PTR id) { calls.push_back("timer " + std::to_string(id)); }
    void OnSize(UINT type, int cx, int cy) {
        calls.push_back("size " + std::to_string(type) + " " + std::to_string(cx) + " " +
                        std::to_string(cy));
    }
    void OnKeyUp(UINT key, UINT repeat, UINT flags) {
        calls.push_back("keyup " + std::to_string(key) + " " + std::to_string(repeat) + " " +
                        std::to_string(flags));
    }
    BOOL OnSetCursor(HWND, UINT hitTest, UINT message) {
        calls.push_back("setcursor " + std::to_string(hitTest) + " " + std::to_string(message));
        return TRUE;
    }
    // Records, then lets the default processing store the text.
    LRESULT OnSetText(WPARAM, LPARAM lParam) {
        calls.push_back(std::string("settext ") + reinterpret_cast<const char*>(lParam));
        return Default();
    }
};

const CWnd::MessageEntry CRecordingWnd::messageMap[] = {
    on<WM_CREATE, &CRecordingWnd::OnCreate>(),
    on<WM_DESTROY, &CRecordingWnd::OnDestroy>(),
    on<WM_APP + 5, &CRecordingWnd::OnAdd>(),
    on<WM_APP + 9, &CRecordingWnd::OnThrow>(),
    onRegistered<&g_neverRegistered, &CRecordingWnd::OnNever>(),
    onRegistered<&g_registeredLate, &CRecordingWnd::OnLate>(),
    onCommand<32871, &CRecordingWnd::OnRemove>(),
    onCommandRange<32790, 32794, &CRecordingWnd::OnPick>(),
    on<WM_LBUTTONDOWN, &CRecordingWnd::OnLButtonDown>(),
    on<WM_TIMER, &CRecordingWnd::OnTimer>(),
    on<WM_SIZE, &CRecordingWnd::OnSize>(),
    on<WM_KEYUP, &CRecordingWnd::OnKeyUp>(),
    on<WM_SETCURSOR, &CRecordingWnd::OnSetCursor>(),
    on<WM_SETTEXT, &CRecordingWnd::OnSetText>(),
    endOfMap(CWnd::messageMap),
};

// Overrides one entry of its base and adds one; the rest comes from the base's map.
class CDerivedWnd : public CRecordingWnd {
protected:
    static const MessageEntry messageMap[];
    const MessageEntry* GetMessageMap() const override { return messageMap; }
    LRESULT OnAddTwice(WPARAM wParam, LPARAM lParam) {
        calls.push_back("add twice");
        return 2 * (static_cast<LRESULT>(wParam) + lParam);
    }
    void OnOwnCommand() { calls.push_back("own"); }
};

const CWnd::MessageEntry CDerivedWnd::messageMap[] = {
    on<WM_APP + 5, &CDerivedWnd::OnAddTwice>(),
    onCommand<32792, &CDerivedWnd::OnOwnCommand>(),
    endOfMap(CRecordingWnd::messageMap),
};

// A window with no map of its own.
class CPlainWnd : public CWnd {};

HWND createPopup(CWnd& wnd, const char* title = "") {
    if (!wnd.CreateEx(0, nullptr, title, WS_POPUP, 0, 0, 10, 10, nullptr, nullptr))
        return nullptr;
    return wnd.m_hWnd;
}

std::string windowText(HWND hwnd) {
    char text[64] = "";
    GetWindowTextA(hwnd, text, sizeof text);
    return text;
}

}  // namespace

TEST(CWnd, CreateBindsTheWindowBeforeItsFirstMessage) {
    CRecordingWnd wnd;
    HWND hwnd = createPopup(wnd, "Title");
    ASSERT_NE(nullptr, hwnd);
    EXPECT_TRUE(IsWindow(hwnd));
    EXPECT_EQ(&wnd, CWnd::FromHandlePermanent(hwnd));
    ASSERT_FALSE(wnd.calls.empty());
    EXPECT_EQ("create Title", wnd.calls.front());
    EXPECT_FALSE(wnd.CreateEx(0, nullptr, "again", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr));
    EXPECT_EQ(hwnd, wnd.m_hWnd);
}

TEST(CWnd, DestroyWindowLetsTheObjectGo) {
    CRecordingWnd wnd;
    HWND hwnd = createPopup(wnd);
    ASSERT_NE(nullptr, hwnd);
    EXPECT_TRUE(wnd.DestroyWindow());
    EXPECT_EQ("destroy", wnd.last());
    EXPECT_TRUE(wnd.ncDestroyed);
    EXPECT_EQ(nullptr, wnd.m_hWnd);
    EXPECT_FALSE(IsWindow(hwnd));
    EXPECT_EQ(nullptr, CWnd::FromHandlePermanent(hwnd));
    EXPECT_FALSE(wnd.DestroyWindow());
}

TEST(CWnd, CreateFailsWhenOnCreateRefuses) {
    CRecordingWnd wnd;
    wnd.createResult = -1;
    EXPECT_FALSE(wnd.CreateEx(0, nullptr, "no", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr));
    EXPECT_EQ(nullptr, wnd.m_hWnd);
    EXPECT_TRUE(wnd.ncDestroyed);
}

TEST(CWnd, DestructorDestroysTheWindow) {
    HWND hwnd;
    {
        CRecordingWnd wnd;
        hwnd = createPopup(wnd);
        ASSERT_NE(nullptr, hwnd);
    }
    EXPECT_FALSE(IsWindow(hwnd));
    EXPECT_EQ(nullptr, CWnd::FromHandlePermanent(hwnd));
}

namespace {
// Deletes itself where windows of the system do: after the last message, or in WM_DESTROY.
class CSelfDeletingWnd : public CWnd {
public:
    explicit CSelfDeletingWnd(bool inOnDestroy, int* deleted)
        : inOnDestroy(inOnDestroy), deleted(deleted) {}
    ~CSelfDeletingWnd() override { ++*deleted; }

protected:
    static const MessageEntry messageMap[];
    const MessageEntry* GetMessageMap() const override { return messageMap; }
    void OnDestroy() {
        if (inOnDestroy)
            delete this;
    }
    void PostNcDestroy() override {
        if (!inOnDestroy)
            delete this;
    }
    bool inOnDestroy;
    int* deleted;
};
const CWnd::MessageEntry CSelfDeletingWnd::messageMap[] = {
    on<WM_DESTROY, &CSelfDeletingWnd::OnDestroy>(),
    endOfMap(CWnd::messageMap),
};
}  // namespace

TEST(CWnd, WindowMayDeleteItsObjectWhileBeingDestroyed) {
    for (bool inOnDestroy : {false, true}) {
        SCOPED_TRACE(inOnDestroy ? "delete in WM_DESTROY" : "delete in PostNcDestroy");
        int deleted = 0;
        auto* wnd = new CSelfDeletingWnd(inOnDestroy, &deleted);
        HWND hwnd = createPopup(*wnd);
        ASSERT_NE(nullptr, hwnd);
        EXPECT_TRUE(DestroyWindow(hwnd));
        EXPECT_EQ(1, deleted);
        EXPECT_FALSE(IsWindow(hwnd));
        EXPECT_EQ(nullptr, CWnd::FromHandlePermanent(hwnd));
    }
}

namespace {
// A window class of its own procedure, which counts the last messages of its windows.
int g_foreignDestroys = 0;
int g_foreignNcDestroys = 0;
LRESULT CALLBACK countingProcedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_DESTROY)
        ++g_foreignDestroys;
    if (message == WM_NCDESTROY)
        ++g_foreignNcDestroys;
    return DefWindowProcA(hwnd, message, wParam, lParam);
}
LPCSTR countingClass() {
    static LPCSTR name = [] {
        WNDCLASSA wc{};
        wc.lpfnWndProc = &countingProcedure;
        wc.hInstance = GetModuleHandleA(nullptr);
        wc.lpszClassName = "AppWinTest.Counting";
        RegisterClassA(&wc);
        return wc.lpszClassName;
    }();
    return name;
}
}  // namespace

TEST(CWnd, SubclassedWindowWhoseObjectIsDeletedInWmDestroyEndsOnce) {
    int deleted = 0;
    auto* wnd = new CSelfDeletingWnd(true, &deleted);
    ASSERT_TRUE(wnd->CreateEx(0, countingClass(), "", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr));
    HWND hwnd = wnd->m_hWnd;
    g_foreignDestroys = g_foreignNcDestroys = 0;
    EXPECT_TRUE(DestroyWindow(hwnd));
    EXPECT_EQ(1, deleted);
    EXPECT_FALSE(IsWindow(hwnd));
    EXPECT_EQ(0, g_foreignDestroys);      // the map handled it
    EXPECT_EQ(1, g_foreignNcDestroys);    // given back to its own procedure, destroyed once
}

TEST(CWnd, ChildWindowGetsParentAndId) {
    CPlainWnd parent;
    ASSERT_NE(nullptr, createPopup(parent));
    CRecordingWnd child;
    RECT rect{2, 3, 42, 33};
    ASSERT_TRUE(child.Create(nullptr, "child", WS_CHILD, rect, &parent, 1009));
    EXPECT_EQ(parent.m_hWnd, GetParent(child.m_hWnd));
    EXPECT_EQ(1009, GetDlgCtrlID(child.m_hWnd));
    RECT client{};
    GetClientRect(child.m_hWnd, &client);
    EXPECT_EQ(40, client.right);
    EXPECT_EQ(30, client.bottom);
}

TEST(CWnd, RegisteredClassesAreNamedByTheirArguments) {
    LPCSTR plain = CWnd::RegisterWndClass(0);
    ASSERT_NE(nullptr, plain);
    EXPECT_EQ(plain, CWnd::RegisterWndClass(0));
    LPCSTR other = CWnd::RegisterWndClass(CS_DBLCLKS, LoadCursor(nullptr, IDC_ARROW));
    ASSERT_NE(nullptr, other);
    EXPECT_STRNE(plain, other);

    CRecordingWnd wnd;
    ASSERT_TRUE(wnd.CreateEx(0, plain, "", WS_POPUPWINDOW, 0, 0, 0, 0, nullptr, nullptr));
    char name[128] = "";
    GetClassNameA(wnd.m_hWnd, name, sizeof name);
    EXPECT_STREQ(plain, name);
    EXPECT_EQ(7, wnd.SendMessage(WM_APP + 5, 3, 4));
}

TEST(CWnd, DefaultClassTakesDoubleClicks) {
    CPlainWnd wnd;
    ASSERT_NE(nullptr, createPopup(wnd));
    EXPECT_TRUE(GetClassLongPtrA(wnd.m_hWnd, GCL_STYLE) & CS_DBLCLKS);
}

namespace {
struct DispatchCase {
    const char* name;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
    const char* call;   // the handler's record, or "" when nothing may be called
    LRESULT result;
};
}  // namespace

TEST(CWnd, MessageMapDispatch) {
    const DispatchCase cases[] = {
        {"WM_APP+n", WM_APP + 5, 3, 4, "add", 7},
        {"unmapped WM_APP+n", WM_APP + 6, 3, 4, "", 0},
        {"command id", WM_COMMAND, MAKEWPARAM(32871, 0), 0, "remove", 0},
        {"accelerator command", WM_COMMAND, MAKEWPARAM(32871, 1), 0, "remove", 0},
        {"control notification is no command", WM_COMMAND, MAKEWPARAM(32871, EN_CHANGE), 0, "", 0},
        {"range first", WM_COMMAND, MAKEWPARAM(32790, 0), 0, "pick 32790", 0},
        {"range middle", WM_COMMAND, MAKEWPARAM(32792, 0), 0, "pick 32792", 0},
        {"range last", WM_COMMAND, MAKEWPARAM(32794, 0), 0, "pick 32794", 0},
        {"after range", WM_COMMAND, MAKEWPARAM(32795, 0), 0, "", 0},
        {"before range", WM_COMMAND, MAKEWPARAM(32789, 0), 0, "", 0},
        {"unregistered id 0 matches nothing", WM_NULL, 0, 0, "", 0},
        {"mouse", WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(5, -7), "lbuttondown 1 5 -7", 0},
        {"timer", WM_TIMER, 42, 0, "timer 42", 0},
        {"size", WM_SIZE, SIZE_RESTORED, MAKELPARAM(120, 90), "size 0 120 90", 0},
        {"key", WM_KEYUP, VK_RETURN, MAKELPARAM(1, 0xC01C), "keyup 13 1 49180", 0},
        {"set cursor", WM_SETCURSOR, 0, MAKELPARAM(HTCLIENT, WM_MOUSEMOVE), "setcursor 1 512", TRUE},
    };
    CRecordingWnd wnd;
    ASSERT_NE(nullptr, createPopup(wnd));
    for (const DispatchCase& c : cases) {
        SCOPED_TRACE(c.name);
        wnd.calls.clear();
        EXPECT_EQ(c.result, wnd.SendMessage(c.message, c.wParam, c.lParam));
        EXPECT_EQ(c.call, wnd.last());
    }
}

TEST(CWnd, RegisteredMessageIdIsReadWhenTheMessageArrives) {
    CRecordingWnd wnd;
    ASSERT_NE(nullptr, createPopup(wnd));
    ASSERT_EQ(0u, g_registeredLate);
    g_registeredLate = RegisterWindowMessageA("AppWinTest.RegisteredLate");
    ASSERT_NE(0u, g_registeredLate);
    EXPECT_EQ(11, wnd.SendMessage(g_registeredLate, 5));
    EXPECT_EQ("late 5", wnd.last());
    // Posted from elsewhere, by the number alone.
    EXPECT_EQ(11, SendMessageA(wnd.m_hWnd, RegisterWindowMessageA("AppWinTest.RegisteredLate"), 6, 0));
    EXPECT_EQ("late 6", wnd.last());
    g_registeredLate = 0;
}

TEST(CWnd, DerivedMapComesFirstThenTheBase) {
    CDerivedWnd wnd;
    ASSERT_NE(nullptr, createPopup(wnd));
    EXPECT_EQ(14, wnd.SendMessage(WM_APP + 5, 3, 4));
    EXPECT_EQ("add twice", wnd.last());
    wnd.SendMessage(WM_COMMAND, MAKEWPARAM(32792, 0));
    EXPECT_EQ("own", wnd.last());
    wnd.SendMessage(WM_COMMAND, MAKEWPARAM(32793, 0));
    EXPECT_EQ("pick 32793", wnd.last());
    wnd.SendMessage(WM_COMMAND, MAKEWPARAM(32871, 0));
    EXPECT_EQ("remove", wnd.last());
}

TEST(CWnd, UnhandledMessagesGetDefaultProcessing) {
    CPlainWnd wnd;
    HWND hwnd = createPopup(wnd);
    ASSERT_NE(nullptr, hwnd);
    EXPECT_TRUE(wnd.SendMessage(WM_SETTEXT, 0, reinterpret_cast<LPARAM>("stored")));
    EXPECT_EQ("stored", windowText(hwnd));
    // The default processing of WM_CLOSE destroys the window.
    wnd.SendMessage(WM_CLOSE);
    EXPECT_FALSE(IsWindow(hwnd));
    EXPECT_EQ(nullptr, wnd.m_hWnd);
}

TEST(CWnd, HandlerCanPassItsMessageToDefaultProcessing) {
    CRecordingWnd wnd;
    HWND hwnd = createPopup(wnd);
    ASSERT_NE(nullptr, hwnd);
    EXPECT_TRUE(wnd.SendMessage(WM_SETTEXT, 0, reinterpret_cast<LPARAM>("through")));
    EXPECT_EQ("settext through", wnd.last());
    EXPECT_EQ("through", windowText(hwnd));
}

TEST(CWnd, WindowOfAnotherClassIsSubclassed) {
    CRecordingWnd edit;
    ASSERT_TRUE(edit.CreateEx(0, "EDIT", "start", WS_POPUP, 0, 0, 50, 20, nullptr, nullptr));
    EXPECT_EQ("create start", edit.calls.front());
    EXPECT_EQ(7, edit.SendMessage(WM_APP + 5, 3, 4));
    // Messages the map leaves alone reach the edit control's own procedure.
    edit.SendMessage(EM_SETLIMITTEXT, 17);
    EXPECT_EQ(17, edit.SendMessage(EM_GETLIMITTEXT));
    edit.SendMessage(WM_SETTEXT, 0, reinterpret_cast<LPARAM>("typed"));
    EXPECT_EQ("settext typed", edit.last());
    EXPECT_EQ(5, edit.SendMessage(WM_GETTEXTLENGTH));
    HWND hwnd = edit.m_hWnd;
    EXPECT_TRUE(edit.DestroyWindow());
    EXPECT_TRUE(edit.ncDestroyed);
    EXPECT_FALSE(IsWindow(hwnd));
}

TEST(CWnd, AttachAndDetach) {
    HWND hwnd = CreateWindowExA(0, CWnd::RegisterWndClass(0), "", WS_POPUP, 0, 0, 1, 1, nullptr,
                                nullptr, nullptr, nullptr);
    ASSERT_NE(nullptr, hwnd);
    CRecordingWnd wnd;
    EXPECT_FALSE(wnd.Attach(nullptr));
    ASSERT_TRUE(wnd.Attach(hwnd));
    EXPECT_EQ(hwnd, wnd.m_hWnd);
    EXPECT_EQ(&wnd, CWnd::FromHandlePermanent(hwnd));
    EXPECT_EQ(7, SendMessageA(hwnd, WM_APP + 5, 3, 4));

    CRecordingWnd other;
    EXPECT_FALSE(other.Attach(hwnd));   // already bound
    HWND second = createPopup(other);
    ASSERT_NE(nullptr, second);
    EXPECT_FALSE(other.Attach(hwnd));   // has a window

    EXPECT_EQ(hwnd, wnd.Detach());
    EXPECT_EQ(nullptr, wnd.m_hWnd);
    EXPECT_EQ(nullptr, CWnd::FromHandlePermanent(hwnd));
    EXPECT_EQ(0, SendMessageA(hwnd, WM_APP + 5, 3, 4));
    EXPECT_TRUE(IsWindow(hwnd));
    DestroyWindow(hwnd);
}

TEST(CWnd, HandlerExceptionReachesTheSendingCaller) {
    CRecordingWnd wnd;
    ASSERT_NE(nullptr, createPopup(wnd));
    EXPECT_THROW(wnd.SendMessage(WM_APP + 9), std::runtime_error);
    // Thrown once; the window goes on working.
    EXPECT_EQ(7, wnd.SendMessage(WM_APP + 5, 3, 4));
}
