#include "CWinApp.h"

#include <atomic>

namespace {
std::atomic<CWinApp*> g_app{nullptr};
std::atomic<HINSTANCE> g_resourceHandle{nullptr};
}

CWinApp::CWinApp(LPCSTR appName) : m_pszAppName(appName) {
    m_bAutoDelete = FALSE;   // a static object, run by AppWinMain on the start-up thread
    CWinApp* none = nullptr;
    g_app.compare_exchange_strong(none, this);
}

CWinApp::~CWinApp() {
    CWinApp* self = this;
    g_app.compare_exchange_strong(self, nullptr);
}

HICON CWinApp::LoadIcon(UINT id) const {
    return ::LoadIconA(AfxGetResourceHandle(), MAKEINTRESOURCEA(id));
}

int AppWinMain(HINSTANCE instance, LPSTR cmdLine, int showCmd) {
    CWinApp* app = AfxGetApp();
    if (!app)
        return -1;
    app->m_hInstance = instance;
    app->m_lpCmdLine = cmdLine;
    app->m_nCmdShow = showCmd;
    CWinThread* previous = app->makeCurrent();
    try {
        int code = app->runUserInterface();
        app->restoreCurrent(previous);
        return code;
    } catch (...) {
        app->restoreCurrent(previous);
        throw;
    }
}

CWinApp* AfxGetApp() {
    return g_app.load();
}

HINSTANCE AfxGetResourceHandle() {
    HINSTANCE module = g_resourceHandle.load();
    return module ? module : GetModuleHandleA(nullptr);
}

void AfxSetResourceHandle(HINSTANCE module) {
    g_resourceHandle.store(module);
}
