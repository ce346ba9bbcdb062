// Dialogs from tavlang's templates: binding, data exchange, the dialog keys, modal runs.
#include "CDialog.h"
#include "CEdit.h"
#include "CProgressCtrl.h"
#include "CStatic.h"
#include "SentInput.h"
#include "UiThreadScope.h"

#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace {

std::string classOf(HWND hwnd) {
    char name[64] = "";
    GetClassNameA(hwnd, name, sizeof name);
    return name;
}

HWND focusOf(DWORD thread) {
    GUITHREADINFO info{};
    info.cbSize = sizeof info;
    return GetGUIThreadInfo(thread, &info) ? info.hwndFocus : nullptr;
}

// Counts its initialisations and whether the window was bound when they ran.
class CInitRecordingDlg : public CDialog {
public:
    using CDialog::CDialog;
    int initCalls = 0;
    bool boundAtInit = false;
    HWND ownerAtInit = nullptr;

protected:
    BOOL OnInitDialog() override {
        ++initCalls;
        boundAtInit = m_hWnd != nullptr && FromHandlePermanent(m_hWnd) == this;
        ownerAtInit = GetWindow(m_hWnd, GW_OWNER);
        return CDialog::OnInitDialog();
    }
};

}  // namespace

TEST(CDialog, ModelessDialogIsBoundBeforeItsInitialisationHiddenAndOwnedByTheMainWindow) {
    UiThreadScope ui;
    ASSERT_NE(nullptr, ui.resources());
    CPlainTopWnd main({40, 40, 240, 140}, WS_POPUP);
    ui.m_pMainWnd = &main;
    CInitRecordingDlg dialog(130);
    ASSERT_TRUE(dialog.Create(130));
    EXPECT_EQ(1, dialog.initCalls);
    EXPECT_TRUE(dialog.boundAtInit);
    EXPECT_EQ(main.m_hWnd, dialog.ownerAtInit);
    EXPECT_EQ(main.m_hWnd, GetWindow(dialog.m_hWnd, GW_OWNER));
    EXPECT_FALSE(IsWindowVisible(dialog.m_hWnd));
    EXPECT_EQ("#32770", classOf(dialog.m_hWnd));
    ui.m_pMainWnd = nullptr;
}

TEST(CDialog, MissingTemplateMakesNoWindow) {
    UiThreadScope ui;
    CInitRecordingDlg dialog(9999);
    EXPECT_FALSE(dialog.Create(9999));
    EXPECT_EQ(nullptr, dialog.m_hWnd);
    EXPECT_EQ(-1, dialog.DoModal());
    EXPECT_EQ(0, dialog.initCalls);
}

namespace {
// The copy dialog's exchange: three controls bound, the label's text exchanged.
class CBindingDlg : public CDialog {
public:
    CBindingDlg() : CDialog(218) {}
    CProgressCtrl progress;
    CStatic label;
    CEdit hidden;
    std::string labelText = "To x";

protected:
    void DoDataExchange(CDataExchange* dx) override {
        CDialog::DoDataExchange(dx);
        DDX_Control(dx, 1015, progress);
        DDX_Control(dx, 1025, label);
        DDX_Control(dx, 1000, hidden);
        DDX_Text(dx, 1025, labelText);
    }
};
}  // namespace

TEST(CDialog, DataExchangeBindsControlsAndExchangesTexts) {
    UiThreadScope ui;
    ASSERT_NE(nullptr, ui.resources());
    CBindingDlg dialog;
    ASSERT_TRUE(dialog.Create(218));
    const struct {
        CWnd* control;
        int id;
        const char* className;
    } bound[] = {
        {&dialog.progress, 1015, "msctls_progress32"},
        {&dialog.label, 1025, "Static"},
        {&dialog.hidden, 1000, "Edit"},
    };
    for (const auto& b : bound) {
        SCOPED_TRACE(b.id);
        ASSERT_NE(nullptr, b.control->m_hWnd);
        EXPECT_EQ(dialog.GetDlgItem(b.id), b.control->m_hWnd);
        EXPECT_EQ(b.control, CWnd::FromHandlePermanent(b.control->m_hWnd));
        EXPECT_STRCASEEQ(b.className, classOf(b.control->m_hWnd).c_str());
    }
    EXPECT_EQ("To x", textOf(dialog.GetDlgItem(1025)));

    // A second exchange binds nothing anew and reads the changed text back.
    HWND progress = dialog.progress.m_hWnd;
    SetWindowTextA(dialog.GetDlgItem(1025), "To y");
    EXPECT_TRUE(dialog.UpdateData(TRUE));
    EXPECT_EQ("To y", dialog.labelText);
    EXPECT_EQ(progress, dialog.progress.m_hWnd);

    // The bound controls go with their dialog.
    EXPECT_TRUE(dialog.DestroyWindow());
    EXPECT_EQ(nullptr, dialog.progress.m_hWnd);
    EXPECT_EQ(nullptr, dialog.label.m_hWnd);
    EXPECT_EQ(nullptr, dialog.hidden.m_hWnd);
    EXPECT_EQ(nullptr, CWnd::FromHandlePermanent(progress));
}

namespace {
// Records OK and Cancel; may swallow Enter and Esc before the dialog sees them.
class CKeysDlg : public CDialog {
public:
    explicit CKeysDlg(bool swallow) : CDialog(242), swallow(swallow) {}
    std::vector<std::string> calls;
    bool swallow;

    BOOL PreTranslateMessage(MSG* msg) override {
        if (swallow && msg->message == WM_KEYDOWN &&
            (msg->wParam == VK_RETURN || msg->wParam == VK_ESCAPE))
            return TRUE;
        return CDialog::PreTranslateMessage(msg);
    }

protected:
    void OnOK() override { calls.push_back("ok"); }
    void OnCancel() override { calls.push_back("cancel"); }
};
}  // namespace

TEST(CDialog, ModelessDialogGetsTheDialogKeysThroughTheThreadsLoop) {
    for (bool swallow : {false, true}) {
        SCOPED_TRACE(swallow ? "an override swallows the keys" : "the dialog's keys");
        UiThreadScope ui;
        ASSERT_NE(nullptr, ui.resources());
        CKeysDlg dialog(swallow);
        ASSERT_TRUE(dialog.Create(242));
        HWND edit = dialog.GetDlgItem(1023);
        ASSERT_NE(nullptr, edit);
        PostMessageA(edit, WM_KEYDOWN, VK_ESCAPE, 0x00010001);
        PostMessageA(edit, WM_KEYDOWN, VK_RETURN, 0x001C0001);
        PostQuitMessage(0);   // taken when the queue holds nothing else
        ui.RunLoop();
        const std::vector<std::string> expected =
            swallow ? std::vector<std::string>{} : std::vector<std::string>{"cancel", "ok"};
        EXPECT_EQ(expected, dialog.calls);
        EXPECT_TRUE(IsWindow(dialog.m_hWnd));   // OnOK and OnCancel were overridden: still open
    }
}

namespace {
// The nickname dialog: edit 1023 exchanged with a 255-character limit.
class CNicknameLikeDlg : public CDialog {
public:
    CNicknameLikeDlg() : CDialog(242) {}
    std::string nickname;
    std::atomic<HWND> shown{nullptr};

protected:
    void DoDataExchange(CDataExchange* dx) override {
        CDialog::DoDataExchange(dx);
        DDX_Text(dx, 1023, nickname);
        DDV_MaxChars(dx, nickname, 255);
    }
    BOOL OnInitDialog() override {
        BOOL focusFirst = CDialog::OnInitDialog();
        shown = m_hWnd;
        return focusFirst;
    }
};

}  // namespace

TEST(CDialog, ModalDialogTakesTypedTextAndEndsWithOk) {
    UiThreadScope ui;
    ASSERT_NE(nullptr, ui.resources());
    CPlainTopWnd main({0, 0, 200, 100}, WS_POPUP);
    ui.m_pMainWnd = &main;
    CNicknameLikeDlg dialog;
    dialog.nickname = "ab";
    const DWORD uiThread = GetCurrentThreadId();
    std::atomic<bool> ownerDisabled{false};
    std::atomic<bool> focused{false};
    std::atomic<bool> typed{false};
    std::atomic<LRESULT> limit{0};
    std::thread typist([&] {
        if (!waitFor([&] { return dialog.shown.load() != nullptr; }))
            return;
        HWND dialogWnd = dialog.shown;
        HWND edit = GetDlgItem(dialogWnd, 1023);
        ownerDisabled = !IsWindowEnabled(main.m_hWnd);
        limit = SendMessageA(edit, EM_GETLIMITTEXT, 0, 0);
        // Real input goes to the foreground window of the whole display, which another test's
        // window may take for a moment: a lost key is typed again, a few times at most.
        auto ready = [&] { return focusOf(uiThread) == edit && GetForegroundWindow() == dialogWnd; };
        for (int attempt = 0; attempt < 5 && !typed; ++attempt) {
            if (!waitFor(ready))
                continue;
            focused = true;
            SendMessageA(edit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>("ab"));
            pressKey(VK_END);
            for (WORD key : {'N', 'I', 'C', 'K'})
                pressKey(key);
            typed = waitFor([&] { return textOf(edit) == "abnick"; }, 500);
        }
        for (int attempt = 0; attempt < 5 && typed && IsWindow(dialogWnd); ++attempt) {
            if (waitFor(ready))
                pressKey(VK_RETURN);
            waitFor([&] { return !IsWindow(dialogWnd); }, 1000);
        }
        // Ends the dialog in any case, so that a failure does not hang the test.
        if (!waitFor([&] { return !IsWindow(dialogWnd); }, 3000))
            PostMessageA(dialogWnd, WM_COMMAND, IDCANCEL, 0);
    });
    INT_PTR result = dialog.DoModal();
    typist.join();
    EXPECT_TRUE(focused);
    EXPECT_TRUE(typed);
    EXPECT_EQ(IDOK, result);
    EXPECT_EQ("abnick", dialog.nickname);
    EXPECT_EQ(255, limit);
    EXPECT_TRUE(ownerDisabled);
    EXPECT_TRUE(main.IsWindowEnabled());
    EXPECT_EQ(nullptr, dialog.m_hWnd);
    ui.m_pMainWnd = nullptr;
}

TEST(CDialog, ModalOkRefusesATextOverTheLimitAndKeepsTheDialogOpen) {
    UiThreadScope ui;
    ASSERT_NE(nullptr, ui.resources());
    CNicknameLikeDlg dialog;
    dialog.nickname = "kept";
    std::atomic<bool> open{false};
    std::atomic<bool> editFocused{false};
    std::atomic<DWORD> selection{0};
    const DWORD uiThread = GetCurrentThreadId();
    std::thread tester([&] {
        if (!waitFor([&] { return dialog.shown.load() != nullptr; }))
            return;
        HWND dialogWnd = dialog.shown;
        HWND edit = GetDlgItem(dialogWnd, 1023);
        const std::string tooLong(300, 'x');
        SendMessageA(edit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(tooLong.c_str()));
        SendMessageA(dialogWnd, WM_COMMAND, IDOK, 0);
        open = IsWindow(dialogWnd) && IsWindowVisible(dialogWnd);
        editFocused = focusOf(uiThread) == edit;
        DWORD start = 0, end = 0;
        SendMessageA(edit, EM_GETSEL, reinterpret_cast<WPARAM>(&start), reinterpret_cast<LPARAM>(&end));
        selection = MAKELONG(start, end);
        PostMessageA(dialogWnd, WM_COMMAND, IDCANCEL, 0);
    });
    INT_PTR result = dialog.DoModal();
    tester.join();
    EXPECT_TRUE(open);
    EXPECT_TRUE(editFocused);
    EXPECT_EQ(MAKELONG(0, 300), selection);
    EXPECT_EQ(IDCANCEL, result);
}

namespace {
// Presses Esc at once; may throw from a posted message instead.
class CQuickDlg : public CInitRecordingDlg {
public:
    CQuickDlg(UINT id, bool fail) : CInitRecordingDlg(id), fail(fail) {}
    bool fail;

protected:
    static const MessageEntry messageMap[];
    const MessageEntry* GetMessageMap() const override { return messageMap; }
    BOOL OnInitDialog() override {
        BOOL focusFirst = CInitRecordingDlg::OnInitDialog();
        if (fail)
            ::PostMessageA(m_hWnd, WM_APP + 7, 0, 0);
        else
            ::PostMessageA(m_hWnd, WM_KEYDOWN, VK_ESCAPE, 0x00010001);
        return focusFirst;
    }
    LRESULT OnFail(WPARAM, LPARAM) { throw std::runtime_error("handler failed"); }
};
const CWnd::MessageEntry CQuickDlg::messageMap[] = {
    on<WM_APP + 7, &CQuickDlg::OnFail>(),
    endOfMap(CInitRecordingDlg::messageMap),
};
}  // namespace

TEST(CDialog, EscapeCancelsAModalDialogOwnedByTheMainWindow) {
    UiThreadScope ui;
    ASSERT_NE(nullptr, ui.resources());
    CPlainTopWnd main({0, 0, 200, 100}, WS_POPUP);
    ui.m_pMainWnd = &main;
    CQuickDlg dialog(216, false);
    EXPECT_EQ(IDCANCEL, dialog.DoModal());
    EXPECT_EQ(1, dialog.initCalls);
    EXPECT_EQ(main.m_hWnd, dialog.ownerAtInit);
    EXPECT_EQ(nullptr, dialog.m_hWnd);
    EXPECT_TRUE(main.IsWindowEnabled());
    ui.m_pMainWnd = nullptr;
}

TEST(CDialog, HandlerExceptionComesOutOfDoModal) {
    UiThreadScope ui;
    ASSERT_NE(nullptr, ui.resources());
    CPlainTopWnd main({0, 0, 200, 100}, WS_POPUP);
    CQuickDlg dialog(242, true);
    ui.m_pMainWnd = &main;
    EXPECT_THROW(dialog.DoModal(), std::runtime_error);
    EXPECT_EQ(nullptr, dialog.m_hWnd);
    EXPECT_TRUE(main.IsWindowEnabled());
    // The dialog can run again.
    dialog.fail = false;
    ui.m_pMainWnd = &main;
    EXPECT_EQ(IDCANCEL, dialog.DoModal());
    ui.m_pMainWnd = nullptr;
}

namespace {
// Logs every message that reaches it.
class CLoggingCtl : public CWnd {
public:
    std::vector<UINT> messages;

protected:
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override {
        messages.push_back(message);
        return CWnd::WindowProc(message, wParam, lParam);
    }
};
}  // namespace

TEST(CDialog, SubclassedControlIsLetGoWithItsDialog) {
    UiThreadScope ui;
    ASSERT_NE(nullptr, ui.resources());
    CKeysDlg dialog(false);
    ASSERT_TRUE(dialog.Create(242));
    HWND edit = dialog.GetDlgItem(1023);
    CLoggingCtl control;
    ASSERT_TRUE(control.SubclassWindow(edit));
    EXPECT_FALSE(CLoggingCtl().SubclassWindow(edit));   // bound already
    // Through the map, then the edit's own procedure.
    SendMessageA(edit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>("typed"));
    ASSERT_FALSE(control.messages.empty());
    EXPECT_EQ(static_cast<UINT>(WM_SETTEXT), control.messages.back());
    EXPECT_EQ("typed", textOf(edit));

    EXPECT_TRUE(dialog.DestroyWindow());
    EXPECT_EQ(nullptr, control.m_hWnd);
    EXPECT_EQ(nullptr, CWnd::FromHandlePermanent(edit));
    EXPECT_EQ(static_cast<UINT>(WM_NCDESTROY), control.messages.back());   // nothing after
}

TEST(CDialog, DetachedControlGetsNoMoreMessages) {
    HWND edit = CreateWindowExA(0, "EDIT", "", WS_POPUP, 0, 0, 50, 20, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(nullptr, edit);
    CLoggingCtl control;
    ASSERT_TRUE(control.SubclassWindow(edit));
    SendMessageA(edit, EM_SETLIMITTEXT, 7, 0);
    size_t seen = control.messages.size();
    EXPECT_GT(seen, 0u);
    EXPECT_EQ(edit, control.Detach());
    SendMessageA(edit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>("own"));
    EXPECT_EQ(seen, control.messages.size());
    EXPECT_EQ(7, SendMessageA(edit, EM_GETLIMITTEXT, 0, 0));
    EXPECT_EQ("own", textOf(edit));
    DestroyWindow(edit);
}
