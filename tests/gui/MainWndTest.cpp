#include "CGuiMessage.h"
#include "CMainDlg.h"
#include "CMainWnd.h"
#include "CStageCtrl.h"
#include "CPreferenceManager.h"
#include "CSimpleWnd.h"
#include "FakeClassObject.h"
#include "ILogicHandle.h"
#include "RegistryKey.h"
#include "TestSupport.h"
#include "UiThreadScope.h"

#include <CWinApp.h>

#include <objbase.h>
#include <oleauto.h>

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

const char NO_SERVER[] = "Tavelin will be terminated since there is no communication \nwith the SERVER Application.";
const char REJECT_SUSPEND[] = "Please terminate Tavelin before PC goes to standby \nor hybernation mode.";
const char NOTICE[] = "Tavelin termination in process. \nIt takes some time to \nfinish the termination process.";

// What the notice looked like when the logic was told to terminate.
struct NoticeSeen {
    bool there = false;
    bool visible = false;
    RECT rect = {0, 0, 0, 0};
    std::string text;
    COLORREF textColour = 0;
    COLORREF backgroundColour = 0;
};

class FakeLogic : public ILogicHandle {
public:
    void terminate() override
    {
        ++terminated;
        if (CSimpleWnd* notice = CMainWnd::getNoticeWnd()) {
            seen.there = true;
            seen.visible = IsWindowVisible(notice->m_hWnd) != FALSE;
            GetWindowRect(notice->m_hWnd, &seen.rect);
            seen.text = notice->getText();
            seen.textColour = notice->getTextColour();
            seen.backgroundColour = notice->getBackgroundColour();
        }
    }
    int terminated = 0;
    NoticeSeen seen;
};

// The main window on the test's thread, the thread's main window as in the program, with
// tavlang (beside the test) as resource module and preferences in a private key.
class MainWndTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        library = ui.resources();
        ASSERT_NE(nullptr, library);
        clearShownBoxes();
        CoInitialize(nullptr);   // the manager releases one when it goes
        preferences = std::make_unique<CPreferenceManager>(key.path(), "APP", "T1", "Nick", "C:\\res");
        make();
    }
    void TearDown() override
    {
        gui.reset();
        ui.m_pMainWnd = nullptr;
        preferences.reset();
    }
    void make()
    {
        gui.reset(CMainWnd::createGuiHandle(&ui.m_pMainWnd, preferences.get(), nullptr));
        ASSERT_NE(nullptr, gui);
        window = gui->getWindowHandle();
        dialogWindow = mainWnd()->getMainDlg() != nullptr ? mainWnd()->getMainDlg()->m_hWnd : nullptr;
    }
    CMainWnd* mainWnd() { return static_cast<CMainWnd*>(ui.m_pMainWnd); }
    // Runs the thread's messages until the condition holds or the time is up.
    bool pumpUntil(const std::function<bool()>& condition, DWORD timeoutMs = 10000)
    {
        DWORD until = GetTickCount() + timeoutMs;
        while (!condition()) {
            if (static_cast<LONG>(until - GetTickCount()) <= 0)
                return false;
            MSG msg;
            while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
                TranslateMessage(&msg);
                DispatchMessageA(&msg);
            }
            Sleep(5);
        }
        return true;
    }
    // The main window's own commands waiting in the queue, taken out.
    std::vector<std::pair<WPARAM, LPARAM>> queuedCommands()
    {
        std::vector<std::pair<WPARAM, LPARAM>> commands;
        MSG msg;
        while (PeekMessageA(&msg, window, CMainWnd::WM_MAIN_WND_COMMAND, CMainWnd::WM_MAIN_WND_COMMAND, PM_REMOVE))
            commands.push_back({msg.wParam, msg.lParam});
        return commands;
    }

    TempDir dir;
    UiThreadScope ui;
    RegistryKey key;
    std::unique_ptr<CPreferenceManager> preferences;
    HMODULE library = nullptr;
    std::unique_ptr<IGuiHandle> gui;
    HWND window = nullptr;
    HWND dialogWindow = nullptr;
};

TEST_F(MainWndTest, IsAHiddenPopupOfNoSizeWithTheProgramIconInTheMainWindowSlot)
{
    EXPECT_EQ(ui.m_pMainWnd, dynamic_cast<CWnd*>(gui.get()));
    EXPECT_EQ(window, mainWnd()->m_hWnd);
    LONG style = GetWindowLongA(window, GWL_STYLE);
    EXPECT_EQ(static_cast<LONG>(WS_POPUP | WS_BORDER | WS_SYSMENU),
              style & static_cast<LONG>(WS_POPUP | WS_BORDER | WS_SYSMENU | WS_CAPTION | WS_VISIBLE));
    RECT rect;
    GetWindowRect(window, &rect);
    EXPECT_EQ(0, rect.right - rect.left);
    EXPECT_EQ(0, rect.bottom - rect.top);
    HICON big = reinterpret_cast<HICON>(SendMessageA(window, WM_GETICON, ICON_BIG, 0));
    HICON small = reinterpret_cast<HICON>(SendMessageA(window, WM_GETICON, ICON_SMALL, 0));
    EXPECT_NE(nullptr, big);
    EXPECT_EQ(big, small);
    EXPECT_EQ(LoadIconA(library, MAKEINTRESOURCEA(128)), big);
}

TEST_F(MainWndTest, MakesTheMainDialogHiddenAndOwnedByItThatShowsAndTurnsBusyOnTheLogicsCalls)
{
    ASSERT_NE(nullptr, dialogWindow);
    EXPECT_FALSE(IsWindowVisible(dialogWindow));
    EXPECT_EQ(window, GetWindow(dialogWindow, GW_OWNER));
    // The dialog's stage window is the stage view; its phone panel is the phone panel, whose
    // window waits for the first showing.
    HWND stage = GetDlgItem(dialogWindow, 1009);
    ASSERT_NE(nullptr, stage);
    EXPECT_EQ(stage, static_cast<CStageCtrl*>(gui->getStageView())->m_hWnd);
    ASSERT_NE(nullptr, gui->getPhoneCtrl());
    EXPECT_EQ(mainWnd()->getMainDlg()->getPhoneCtrl(), gui->getPhoneCtrl());
    EXPECT_EQ(nullptr, GetDlgItem(dialogWindow, 1018));
    EXPECT_EQ(nullptr, gui->getFileTransmitter());

    gui->setBusy(true);
    EXPECT_TRUE(mainWnd()->getMainDlg()->isBusy());
    gui->setBusy(false);
    EXPECT_FALSE(mainWnd()->getMainDlg()->isBusy());

    // The show is posted to the dialog, from any thread.
    std::thread([this] { gui->showMainDlg(true); }).join();
    MSG msg;
    ASSERT_TRUE(PeekMessageA(&msg, dialogWindow, CMainDlg::WM_MAIN_DLG_COMMAND, CMainDlg::WM_MAIN_DLG_COMMAND,
                             PM_REMOVE));
    EXPECT_EQ(CMainDlg::COMMAND_SHOW, msg.wParam);
    EXPECT_EQ(1, msg.lParam);
    EXPECT_TRUE(shownBoxes().empty());
}

TEST_F(MainWndTest, TheDialogGoesWithTheMainWindow)
{
    gui.reset();
    EXPECT_FALSE(IsWindow(window));
    EXPECT_FALSE(IsWindow(dialogWindow));
}

TEST_F(MainWndTest, TheSplashShowsThenGoesAndASecondCloseIsOnlyTraced)
{
    TraceCapture trace;
    EXPECT_EQ(nullptr, findOwnWindow(nullptr, nullptr, true));
    gui->showSplash(true);
    HWND splash = findOwnWindow(nullptr, nullptr, true);
    ASSERT_NE(nullptr, splash);
    RECT rect;
    GetWindowRect(splash, &rect);
    EXPECT_GT(rect.right - rect.left, 0);
    EXPECT_TRUE(GetWindowLongA(splash, GWL_EXSTYLE) & WS_EX_TOPMOST);
    gui->showSplash(false);
    EXPECT_FALSE(IsWindow(splash));
    gui->showSplash(false);
    gui->showSplash(true);
    EXPECT_EQ(nullptr, findOwnWindow(nullptr, nullptr, true));
    EXPECT_EQ(2, trace.count("the splash was closed before")) << trace.text();
}

TEST_F(MainWndTest, TerminateFromEightThreadsAtOncePostsOneCommandTheFirstCallerDeciding)
{
    // The flag is the process's: in a child of its own.
    if (isChild()) {
        childTracesToFile(true);
        std::atomic<int> ready{0};
        std::vector<std::thread> threads;
        for (int i = 0; i < 8; ++i) {
            threads.emplace_back([this, i, &ready] {
                ++ready;
                while (ready.load() < 8) {
                }
                if (i % 2 == 0)
                    gui->terminate();   // lost: lParam 0
                else
                    mainWnd()->requestTerminate(CMainWnd::TERMINATE_BY_USER);
            });
        }
        for (auto& thread : threads)
            thread.join();
        auto commands = queuedCommands();
        if (commands.size() != 1 || commands[0].first != CMainWnd::COMMAND_TERMINATE)
            exit(2);
        // The lParam of the one that got through, as it traced it.
        exit(10 + static_cast<int>(commands[0].second));
    }
    const int status = runInChild(dir);
    ASSERT_TRUE(status == 10 || status == 11) << status;
    const std::vector<std::string> lines = dir.logLines();
    int posted = 0;
    int refused = 0;
    for (const std::string& line : lines) {
        posted += line.find("requestTerminate: lParam=") != std::string::npos;
        refused += line.find("requestTerminate: requested before") != std::string::npos;
    }
    EXPECT_EQ(1, posted) << dir.logBytes();
    EXPECT_EQ(7, refused) << dir.logBytes();
    EXPECT_TRUE(hasLineWith(lines, "requestTerminate: lParam=" + std::to_string(status - 10))) << dir.logBytes();
}

TEST_F(MainWndTest, TerminateCommandTellsOfALostSessionOverTheDialogShowsTheNoticeAndEndsTheLoop)
{
    struct {
        LPARAM lParam;
        size_t boxes;
    } cases[] = {{CMainWnd::TERMINATE_SESSION_LOST, 1}, {CMainWnd::TERMINATE_BY_USER, 0}};
    for (const auto& c : cases) {
        if (!gui) {
            clearShownBoxes();
            make();
        }
        FakeLogic logic;
        gui->setLogicHandle(&logic);
        RECT dialogRect;
        GetWindowRect(dialogWindow, &dialogRect);
        PostMessageA(window, CMainWnd::WM_MAIN_WND_COMMAND, CMainWnd::COMMAND_TERMINATE, c.lParam);
        // The worker's WM_CLOSE runs the logic's terminate and destroys the window, which ends
        // the thread's loop.
        std::atomic<bool> ended{false};
        const DWORD thread = GetCurrentThreadId();
        std::thread watchdog([&ended, thread] {
            if (!waitUntil([&ended] { return ended.load(); }, 20000))
                PostThreadMessageA(thread, WM_QUIT, 99, 0);
        });
        const int code = ui.RunLoop();
        ended = true;
        watchdog.join();
        EXPECT_EQ(0, code) << c.lParam;
        EXPECT_FALSE(IsWindow(window)) << c.lParam;
        EXPECT_EQ(1, logic.terminated) << c.lParam;
        auto boxes = shownBoxes();
        ASSERT_EQ(c.boxes, boxes.size()) << c.lParam;
        if (c.boxes != 0) {
            EXPECT_EQ(NO_SERVER, boxes[0].text);
            EXPECT_EQ("Tavelin", boxes[0].caption);
            EXPECT_EQ(static_cast<UINT>(MB_SYSTEMMODAL | MB_OK), boxes[0].type);
            EXPECT_EQ(dialogWindow, boxes[0].owner);
        }
        // The notice was up, centred over the dialog, while the logic terminated; then gone.
        EXPECT_TRUE(logic.seen.there) << c.lParam;
        EXPECT_TRUE(logic.seen.visible) << c.lParam;
        EXPECT_EQ(NOTICE, logic.seen.text);
        EXPECT_EQ(CMainWnd::NOTICE_WIDTH, logic.seen.rect.right - logic.seen.rect.left);
        EXPECT_EQ(CMainWnd::NOTICE_HEIGHT, logic.seen.rect.bottom - logic.seen.rect.top);
        EXPECT_NEAR((dialogRect.left + dialogRect.right) / 2, (logic.seen.rect.left + logic.seen.rect.right) / 2, 1);
        EXPECT_NEAR((dialogRect.top + dialogRect.bottom) / 2, (logic.seen.rect.top + logic.seen.rect.bottom) / 2, 1);
        EXPECT_EQ(nullptr, CMainWnd::getNoticeWnd());
        gui.reset();
    }
}

// The outside object of the notice's colours, as an installed one would answer: method 1 with
// an index and a place for the colour; a status of its own.
class FakeColours : public IDispatch {
public:
    std::vector<long> asked;
    long status = 0;

    STDMETHODIMP QueryInterface(REFIID iid, void** object) override
    {
        if (iid == IID_IUnknown || iid == IID_IDispatch) {
            *object = static_cast<IDispatch*>(this);
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    STDMETHODIMP GetTypeInfoCount(UINT* count) override
    {
        *count = 0;
        return S_OK;
    }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT* result, EXCEPINFO*,
                        UINT*) override
    {
        if (id != 1 || params->cArgs != 2 || params->rgvarg[1].vt != VT_I4 ||
            params->rgvarg[0].vt != (VT_I4 | VT_BYREF))
            return DISP_E_MEMBERNOTFOUND;
        const long index = params->rgvarg[1].lVal;
        asked.push_back(index);
        *params->rgvarg[0].plVal = 0x010000 * index + 0x0100 * index + index;   // grey of the index
        if (result != nullptr) {
            result->vt = VT_I4;
            result->lVal = status;
        }
        return S_OK;
    }
};

TEST_F(MainWndTest, TheNoticeTakesTheOutsideObjectsColoursOnlyWhenTheHostRegistrationStarted)
{
    const COLORREF SEVEN = 0x070707;
    const COLORREF FOUR = 0x040404;
    const COLORREF BUTTON_TEXT = GetSysColor(COLOR_BTNTEXT);
    const COLORREF BUTTON_FACE = GetSysColor(COLOR_BTNFACE);
    struct {
        const char* name;
        bool registrationStarted;
        bool classThere;
        long status;
        COLORREF text, background;
        size_t asked;
    } cases[] = {
        {"flag and object", true, true, 0, SEVEN, FOUR, 2},
        {"the object refuses", true, true, 5, BUTTON_TEXT, BUTTON_FACE, 2},
        {"flag without object", true, false, 0, BUTTON_TEXT, BUTTON_FACE, 0},
        {"object without flag", false, true, 0, BUTTON_TEXT, BUTTON_FACE, 0},
    };
    for (const auto& c : cases) {
        if (!gui)
            make();
        FakeColours colours;
        colours.status = c.status;
        std::unique_ptr<FakeClassObject> installed;
        if (c.classThere) {
            installed = std::make_unique<FakeClassObject>(CMainWnd::NOTICE_COLOURS_CLASS, &colours);
            ASSERT_TRUE(installed->isRegistered());
        }
        CPreferenceManager::setHostRegistrationStarted(c.registrationStarted);
        FakeLogic logic;
        gui->setLogicHandle(&logic);
        PostMessageA(window, CMainWnd::WM_MAIN_WND_COMMAND, CMainWnd::COMMAND_TERMINATE, CMainWnd::TERMINATE_BY_USER);
        EXPECT_TRUE(pumpUntil([this] { return !IsWindow(window); })) << c.name;
        CPreferenceManager::setHostRegistrationStarted(false);
        installed.reset();
        EXPECT_TRUE(logic.seen.there) << c.name;
        EXPECT_EQ(c.text, logic.seen.textColour) << c.name;
        EXPECT_EQ(c.background, logic.seen.backgroundColour) << c.name;
        ASSERT_EQ(c.asked, colours.asked.size()) << c.name;
        if (c.asked == 2) {
            EXPECT_EQ(7, colours.asked[0]) << c.name;
            EXPECT_EQ(4, colours.asked[1]) << c.name;
        }
        gui.reset();
    }
}

TEST_F(MainWndTest, MessagesFromAnyThreadShowOnThisThreadEachWithItsTextInOrder)
{
    std::thread([] {
        CMainWnd::showMessage("first");
        CMainWnd::showMessage("second");
    }).join();
    EXPECT_TRUE(shownBoxes().empty());
    EXPECT_TRUE(pumpUntil([] { return shownBoxes().size() == 2; }));
    std::vector<ShownBox> boxes = shownBoxes();
    ASSERT_EQ(2u, boxes.size());
    EXPECT_EQ("first", boxes[0].text);
    EXPECT_EQ("second", boxes[1].text);
    for (const ShownBox& box : boxes) {
        EXPECT_EQ("Tavelin", box.caption);
        EXPECT_EQ(static_cast<UINT>(MB_OK), box.type);
        EXPECT_EQ(dialogWindow, box.owner);
    }
    gui.reset();
    CMainWnd::showMessage("gone");   // no main window: nothing
    Sleep(50);
    EXPECT_EQ(2u, shownBoxes().size());
}

TEST_F(MainWndTest, AtMostSixteenMessagesWaitAndAFurtherOneIsTracedAndDropped)
{
    if (isChild()) {
        childTracesToFile(true);
        std::thread([] {
            for (int i = 1; i <= 17; ++i)
                CMainWnd::showMessage("m" + std::to_string(i));
        }).join();
        pumpUntil([] { return shownBoxes().size() >= 16; });
        pumpUntil([] { return false; }, 300);
        std::vector<ShownBox> boxes = shownBoxes();
        bool inOrder = boxes.size() == 16;
        for (size_t i = 0; inOrder && i < boxes.size(); ++i)
            inOrder = boxes[i].text == "m" + std::to_string(i + 1);
        // Taken ones make room again.
        CMainWnd::showMessage("after");
        bool again = pumpUntil([] { return shownBoxes().size() == 17; }) && shownBoxes()[16].text == "after";
        exit(inOrder && again ? 0 : 2);
    }
    EXPECT_EQ(0, runInChild(dir));
    EXPECT_TRUE(hasLineWith(dir.logLines(), "16 messages wait, dropped [m17]")) << dir.logBytes();
}

TEST_F(MainWndTest, MessagesStillQueuedGoWithTheWindow)
{
    for (const char* text : {"a", "b", "c"})
        CMainWnd::showMessage(text);
    gui.reset();
    // (The main window's end also posted WM_QUIT, which any filter lets through.)
    MSG msg;
    int left = 0;
    while (PeekMessageA(&msg, nullptr, CMainWnd::WM_MAIN_WND_COMMAND, CMainWnd::WM_MAIN_WND_COMMAND, PM_REMOVE))
        left += msg.message == CMainWnd::WM_MAIN_WND_COMMAND;
    EXPECT_EQ(0, left);
    pumpUntil([] { return false; }, 100);
    EXPECT_TRUE(shownBoxes().empty());
}

TEST_F(MainWndTest, TheWidgetsForwarderShowsThroughTheMainWindowWhileItExists)
{
    CGuiMessage::show("from below");
    EXPECT_TRUE(pumpUntil([] { return shownBoxes().size() == 1; }));
    EXPECT_EQ("from below", shownBoxes()[0].text);
    EXPECT_EQ(dialogWindow, shownBoxes()[0].owner);
    gui.reset();
    CGuiMessage::show("nobody");
    pumpUntil([] { return false; }, 100);
    EXPECT_EQ(1u, shownBoxes().size());
}

TEST_F(MainWndTest, SuspendIsRefusedAtOnceTheSplashClosedAndToldFromAWorker)
{
    // A splash still up is closed first. (Under Wine without a window manager, destroying a
    // shown window takes about 2 s: the answer's time is taken on the next query.)
    gui->showSplash(true);
    HWND splash = findOwnWindow(nullptr, nullptr, true);
    ASSERT_NE(nullptr, splash);
    EXPECT_EQ(0x424D5144, SendMessageA(window, WM_POWERBROADCAST, PBT_APMQUERYSUSPEND, 0));
    EXPECT_FALSE(IsWindow(splash));
    // Every query is refused at once with its own box, from a worker.
    DWORD began = GetTickCount();
    EXPECT_EQ(BROADCAST_QUERY_DENY, SendMessageA(window, WM_POWERBROADCAST, PBT_APMQUERYSUSPEND, 0));
    EXPECT_LT(GetTickCount() - began, 1000u);
    EXPECT_TRUE(pumpUntil([] { return shownBoxes().size() == 2; }));
    for (const ShownBox& box : shownBoxes()) {
        EXPECT_EQ(REJECT_SUSPEND, box.text);
        EXPECT_EQ(static_cast<UINT>(MB_SYSTEMMODAL | MB_OK), box.type);
        EXPECT_EQ(dialogWindow, box.owner);
    }
    for (WPARAM event : {WPARAM(PBT_APMRESUMESUSPEND), WPARAM(PBT_APMPOWERSTATUSCHANGE), WPARAM(0x8013)})
        EXPECT_EQ(TRUE, SendMessageA(window, WM_POWERBROADCAST, event, 0)) << event;
}

TEST_F(MainWndTest, AnUndefinedCommandEndsTheProcess)
{
    if (isChild()) {
        childTracesToFile(false);
        SendMessageA(window, CMainWnd::WM_MAIN_WND_COMMAND, 7, 0);
        exit(0);
    }
    EXPECT_EQ(ABNORMAL_EXIT, runInChild(dir));
    EXPECT_TRUE(hasLineWith(dir.logLines(), "undefined command 7")) << dir.logBytes();
    EXPECT_TRUE(hasLineWith(dir.logLines(), "ABORT: at")) << dir.logBytes();
}

} // namespace
