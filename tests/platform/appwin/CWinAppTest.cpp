#include "CWinApp.h"
#include "CWnd.h"

#include <gtest/gtest.h>

#include <string>

namespace {

constexpr UINT WM_FINISH = WM_APP + 1;

class CFinishWnd : public CWnd {
protected:
    static const MessageEntry messageMap[];
    const MessageEntry* GetMessageMap() const override { return messageMap; }
    LRESULT OnFinish(WPARAM, LPARAM) {
        DestroyWindow();
        return 0;
    }
};
const CWnd::MessageEntry CFinishWnd::messageMap[] = {
    on<WM_FINISH, &CFinishWnd::OnFinish>(),
    endOfMap(CWnd::messageMap),
};

// Makes a main window that ends the application when it gets WM_FINISH.
class CTestApp : public CWinApp {
public:
    BOOL initResult = TRUE;
    int initCalls = 0;
    int exitCalls = 0;
    bool currentDuringInit = false;
    std::string cmdLineSeen;
    CFinishWnd window;
    HWND mainHwnd = nullptr;

    CTestApp() : CWinApp("AppWinTest") {}

    BOOL InitInstance() override {
        ++initCalls;
        currentDuringInit = AfxGetThread() == this && m_nThreadID == GetCurrentThreadId();
        cmdLineSeen = m_lpCmdLine;
        window.CreateEx(0, nullptr, "", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr);
        mainHwnd = window.m_hWnd;
        m_pMainWnd = &window;
        PostMessageA(mainHwnd, WM_FINISH, 0, 0);
        return initResult;
    }
    int ExitInstance() override {
        ++exitCalls;
        return CWinApp::ExitInstance() + 5;
    }
};

}  // namespace

TEST(CWinApp, FirstApplicationObjectIsTheApplication) {
    EXPECT_EQ(nullptr, AfxGetApp());
    {
        CTestApp app;
        EXPECT_EQ(&app, AfxGetApp());
        CTestApp second;
        EXPECT_EQ(&app, AfxGetApp());
        EXPECT_STREQ("AppWinTest", app.m_pszAppName);
    }
    EXPECT_EQ(nullptr, AfxGetApp());
    EXPECT_EQ(-1, AppWinMain(GetModuleHandleA(nullptr), const_cast<LPSTR>(""), SW_HIDE));
}

TEST(CWinApp, RunsUntilTheMainWindowIsDestroyed) {
    CTestApp app;
    char cmdLine[] = "NICKNAME=x DUMP";
    EXPECT_EQ(5, AppWinMain(GetModuleHandleA(nullptr), cmdLine, SW_SHOW));
    EXPECT_EQ(1, app.initCalls);
    EXPECT_EQ(1, app.exitCalls);
    EXPECT_TRUE(app.currentDuringInit);
    EXPECT_EQ("NICKNAME=x DUMP", app.cmdLineSeen);
    EXPECT_EQ(GetModuleHandleA(nullptr), app.m_hInstance);
    EXPECT_EQ(SW_SHOW, app.m_nCmdShow);
    EXPECT_EQ(nullptr, app.m_pMainWnd);
    EXPECT_FALSE(IsWindow(app.mainHwnd));
    EXPECT_EQ(nullptr, AfxGetThread());   // the thread is given back
}

TEST(CWinApp, FailedInitInstanceEndsAtOnce) {
    CTestApp app;
    app.initResult = FALSE;
    char cmdLine[] = "";
    EXPECT_EQ(5, AppWinMain(GetModuleHandleA(nullptr), cmdLine, SW_SHOW));
    EXPECT_EQ(1, app.exitCalls);
    EXPECT_FALSE(IsWindow(app.mainHwnd));
    EXPECT_EQ(nullptr, AfxGetThread());
    // No quit is left behind for a later loop of this thread; the posted WM_FINISH went with
    // its window.
    MSG msg;
    EXPECT_FALSE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
}

TEST(CWinApp, ResourceHandleDefaultsToTheProgram) {
    EXPECT_EQ(GetModuleHandleA(nullptr), AfxGetResourceHandle());
    HINSTANCE library = GetModuleHandleA("kernel32.dll");
    ASSERT_NE(nullptr, library);
    AfxSetResourceHandle(library);
    EXPECT_EQ(library, AfxGetResourceHandle());
    AfxSetResourceHandle(nullptr);
    EXPECT_EQ(GetModuleHandleA(nullptr), AfxGetResourceHandle());
}
