#include "CGuiMessage.h"
#include "CMainWnd.h"
#include "CNullPointerException.h"
#include "ILogicHandle.h"
#include "TestSupport.h"

#include <CWinApp.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

const char NO_SERVER[] = "Tavelin will be terminated since there is no communication \nwith the SERVER Application.";
const char REJECT_SUSPEND[] = "Please terminate Tavelin before PC goes to standby \nor hybernation mode.";

class FakeLogic : public ILogicHandle {
public:
    void terminate() override { ++terminated; }
    int terminated = 0;
};

// The main window on the test's thread with tavlang (beside the test) as resource module, as
// the program makes it.
class MainWndTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        char path[MAX_PATH] = {};
        GetModuleFileNameA(nullptr, path, sizeof(path));
        std::string folder(path);
        folder.resize(folder.rfind('\\') + 1);
        library = LoadLibraryA((folder + "tavlang.dll").c_str());
        ASSERT_NE(nullptr, library);
        AfxSetResourceHandle(library);
        clearShownBoxes();
        gui.reset(CMainWnd::createGuiHandle(&slot, nullptr, nullptr));
        ASSERT_NE(nullptr, gui);
        window = gui->getWindowHandle();
    }
    void TearDown() override
    {
        gui.reset();
        AfxSetResourceHandle(nullptr);
        FreeLibrary(library);
    }
    CMainWnd* mainWnd() { return static_cast<CMainWnd*>(slot); }
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
    HMODULE library = nullptr;
    CWnd* slot = nullptr;
    std::unique_ptr<IGuiHandle> gui;
    HWND window = nullptr;
};

TEST_F(MainWndTest, IsAHiddenPopupOfNoSizeWithTheProgramIconInTheMainWindowSlot)
{
    EXPECT_EQ(slot, dynamic_cast<CWnd*>(gui.get()));
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

TEST_F(MainWndTest, WithoutMainDialogTheStageAndPhoneAreRefusedAndThereIsNoTransmitter)
{
    EXPECT_THROW(gui->getStageView(), CNullPointerException);
    EXPECT_THROW(gui->getPhoneCtrl(), CNullPointerException);
    EXPECT_EQ(nullptr, gui->getFileTransmitter());
    gui->showSplash(true);
    gui->showSplash(false);
    gui->setBusy(true);
    EXPECT_TRUE(shownBoxes().empty());
}

TEST_F(MainWndTest, TerminateIsPostedOnceAndTheFirstRequestDecides)
{
    // The flag is the process's: in a child of its own.
    if (isChild()) {
        gui->terminate();                                          // lost: lParam 0
        mainWnd()->requestTerminate(CMainWnd::TERMINATE_BY_USER);  // later: nothing
        auto commands = queuedCommands();
        bool once = commands.size() == 1 && commands[0] == std::make_pair(WPARAM(1), LPARAM(0));
        exit(once ? 0 : 2);
    }
    EXPECT_EQ(0, runInChild(dir));
}

TEST_F(MainWndTest, TerminateCommandShowsTheLostSessionBoxOnlyWhenTheSessionWasLostThenCloses)
{
    struct {
        LPARAM lParam;
        size_t boxes;
    } cases[] = {{CMainWnd::TERMINATE_SESSION_LOST, 1}, {CMainWnd::TERMINATE_BY_USER, 0}};
    for (const auto& c : cases) {
        if (!gui) {
            clearShownBoxes();
            gui.reset(CMainWnd::createGuiHandle(&slot, nullptr, nullptr));
            window = gui->getWindowHandle();
        }
        FakeLogic logic;
        gui->setLogicHandle(&logic);
        PostMessageA(window, CMainWnd::WM_MAIN_WND_COMMAND, CMainWnd::COMMAND_TERMINATE, c.lParam);
        // The worker's WM_CLOSE runs the logic's terminate and destroys the window.
        EXPECT_TRUE(pumpUntil([&] { return !IsWindow(window); })) << c.lParam;
        EXPECT_EQ(1, logic.terminated) << c.lParam;
        auto boxes = shownBoxes();
        ASSERT_EQ(c.boxes, boxes.size()) << c.lParam;
        if (c.boxes != 0) {
            EXPECT_EQ(NO_SERVER, boxes[0].text);
            EXPECT_EQ("Tavelin", boxes[0].caption);
            EXPECT_EQ(static_cast<UINT>(MB_SYSTEMMODAL | MB_OK), boxes[0].type);
            EXPECT_EQ(window, boxes[0].owner);
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
        EXPECT_EQ(window, box.owner);
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
    MSG msg;
    EXPECT_FALSE(PeekMessageA(&msg, nullptr, CMainWnd::WM_MAIN_WND_COMMAND, CMainWnd::WM_MAIN_WND_COMMAND, PM_NOREMOVE));
    pumpUntil([] { return false; }, 100);
    EXPECT_TRUE(shownBoxes().empty());
}

TEST_F(MainWndTest, TheWidgetsForwarderShowsThroughTheMainWindowWhileItExists)
{
    CGuiMessage::show("from below");
    EXPECT_TRUE(pumpUntil([] { return shownBoxes().size() == 1; }));
    EXPECT_EQ("from below", shownBoxes()[0].text);
    EXPECT_EQ(window, shownBoxes()[0].owner);
    gui.reset();
    CGuiMessage::show("nobody");
    pumpUntil([] { return false; }, 100);
    EXPECT_EQ(1u, shownBoxes().size());
}

TEST_F(MainWndTest, SuspendIsRefusedAtOnceAndToldFromAWorker)
{
    DWORD began = GetTickCount();
    EXPECT_EQ(BROADCAST_QUERY_DENY, SendMessageA(window, WM_POWERBROADCAST, PBT_APMQUERYSUSPEND, 0));
    EXPECT_LT(GetTickCount() - began, 1000u);
    EXPECT_TRUE(pumpUntil([] { return shownBoxes().size() == 1; }));
    ShownBox box = shownBoxes()[0];
    EXPECT_EQ(REJECT_SUSPEND, box.text);
    EXPECT_EQ(static_cast<UINT>(MB_SYSTEMMODAL | MB_OK), box.type);
    EXPECT_EQ(window, box.owner);
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
