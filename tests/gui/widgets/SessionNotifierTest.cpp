// Registering a window for terminal-session changes, with and without the platform's library.
#include "CWTSessionNotifier.h"
#include "TestSupport.h"

#include <CWnd.h>

#include <gtest/gtest.h>

#include <cstdlib>

TEST(CWTSessionNotifier, NullWindowEndsTheProcessWithAnAssertion)
{
    if (isChild()) {
        childTracesToFile(false);
        CWTSessionNotifier notifier(nullptr);
        exit(0);   // not stopped: the parent sees 0
    }
    TempDir dir;
    EXPECT_EQ(ABNORMAL_EXIT, runInChild(dir));
    EXPECT_TRUE(hasLineWith(dir.logLines(), "ASSERT: [ CWTSessionNotifier ] CWTSessionNotifier: null window"))
        << testing::PrintToString(dir.logLines());
}

TEST(CWTSessionNotifier, RegistersAWindowAndTheUnregisteringThePlatformRefusesIsNoError)
{
    CWnd window;
    ASSERT_TRUE(window.CreateEx(0, nullptr, "", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr));
    TraceCapture trace;
    EXPECT_EQ(S_OK, CWTSessionNotifier::registerNotification(window.m_hWnd));
    // Wine's unregistering is a stub that answers FALSE.
    EXPECT_EQ(E_FAIL, CWTSessionNotifier::unregisterNotification(window.m_hWnd));
    {
        CWTSessionNotifier notifier(window.m_hWnd);
    }
    EXPECT_EQ(0, trace.count("ERROR")) << trace.text();
}

TEST(CWTSessionNotifier, NullWindowStatuses)
{
    EXPECT_EQ(E_INVALIDARG, CWTSessionNotifier::registerNotification(nullptr));
    EXPECT_EQ(S_FALSE, CWTSessionNotifier::unregisterNotification(nullptr));
}

// A platform without the library: both calls say so, and nothing is an error.
TEST(CWTSessionNotifier, WithoutTheLibraryBothAreNotImplemented)
{
    if (isChild()) {
        childTracesToFile(true);
        const bool missing = GetModuleHandleA("wtsapi32.dll") == nullptr && LoadLibraryA("Wtsapi32.dll") == nullptr;
        CWnd window;
        window.CreateEx(0, nullptr, "", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr);
        const HRESULT registered = CWTSessionNotifier::registerNotification(window.m_hWnd);
        const HRESULT unregistered = CWTSessionNotifier::unregisterNotification(window.m_hWnd);
        {
            CWTSessionNotifier notifier(window.m_hWnd);
        }
        exit(!missing ? 10 : registered != E_NOTIMPL ? 11 : unregistered != E_NOTIMPL ? 12 : 0);
    }
    // Wine gives a child process no WINEDLLOVERRIDES of its parent's; it takes a program's own
    // overrides from the registry, by the program's name: a copy of this program under a name
    // of its own has the library disabled.
    TempDir dir;
    char self[MAX_PATH];
    GetModuleFileNameA(nullptr, self, sizeof self);
    const std::string copyName = "widgets_without_wtsapi.exe";
    ASSERT_TRUE(CopyFileA(self, dir.file(copyName).c_str(), FALSE));
    const std::string appKey = "Software\\Wine\\AppDefaults\\" + copyName;
    HKEY overrides = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_CURRENT_USER, (appKey + "\\DllOverrides").c_str(), 0, nullptr, 0,
                                             KEY_WRITE, nullptr, &overrides, nullptr));
    RegSetValueExA(overrides, "wtsapi32", 0, REG_SZ, reinterpret_cast<const BYTE*>(""), 1);
    RegCloseKey(overrides);
    const testing::TestInfo* test = testing::UnitTest::GetInstance()->current_test_info();
    HANDLE child = startProcess(dir.file(copyName),
                                "\"" + dir.file(copyName) + "\" --gtest_filter=" + test->test_suite_name() + "." +
                                    test->name() + " --tavelin-test-child",
                                dir.path(), dir.file("child.txt"));
    DWORD status = static_cast<DWORD>(-1);
    if (child != nullptr) {
        if (WaitForSingleObject(child, 60000) == WAIT_OBJECT_0)
            GetExitCodeProcess(child, &status);
        else
            TerminateProcess(child, 1);
        CloseHandle(child);
    }
    RegDeleteTreeA(HKEY_CURRENT_USER, appKey.c_str());
    EXPECT_EQ(0u, status) << "10: the library loaded, 11: register, 12: unregister";
    EXPECT_FALSE(hasLineWith(dir.logLines(), "ERROR")) << testing::PrintToString(dir.logLines());
}
