#pragma once
// Application object: the one instance of a class derived from CWinApp, constructed at load,
// run on the program's start-up thread by AppWinMain, which the program's WinMain calls.
#include "CWinThread.h"

#include <windows.h>

class CWinApp : public CWinThread {
public:
    // The first application object constructed is the process's application (AfxGetApp).
    explicit CWinApp(LPCSTR appName = nullptr);
    ~CWinApp() override;

    HINSTANCE m_hInstance = nullptr;
    LPSTR m_lpCmdLine = nullptr;   // the command line after the program name
    int m_nCmdShow = SW_SHOWNORMAL;
    LPCSTR m_pszAppName;
    // The company key under which the class library would keep the application's profile
    // (null until SetRegistryKey). The program reads and writes its keys itself.
    LPCSTR m_pszRegistryKey = nullptr;

    // Keeps the registry root; the text must outlive the application (a literal).
    void SetRegistryKey(LPCSTR key) { m_pszRegistryKey = key; }
    // Controls are drawn by the system's own common controls, which are three-dimensional
    // already: nothing to switch on. TRUE, as where the switch succeeded.
    BOOL Enable3dControls() { return TRUE; }
    // The default help command. Nothing routes ID_HELP to the application in this layer, so it
    // is never reached; it stays empty.
    virtual void OnHelp() {}
    // Icon id of the resource module (AfxGetResourceHandle), at the system's large icon size;
    // null when it has none. The system keeps such an icon: it is never destroyed.
    HICON LoadIcon(UINT id) const;

private:
    friend int AppWinMain(HINSTANCE instance, LPSTR cmdLine, int showCmd);
};

// Runs the application on the calling thread: InitInstance; when it succeeds the message loop,
// which ends on WM_QUIT or when m_pMainWnd is destroyed; then ExitInstance, whose result is
// returned (the process's exit code). -1 when there is no application object.
int AppWinMain(HINSTANCE instance, LPSTR cmdLine, int showCmd);

CWinApp* AfxGetApp();

// The module from which the program's resources are loaded: the program's own unless set.
HINSTANCE AfxGetResourceHandle();
void AfxSetResourceHandle(HINSTANCE module);
