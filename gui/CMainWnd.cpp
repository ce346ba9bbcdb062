#include "CMainWnd.h"

#include "CGuiMessage.h"

#include "CMessageBox.h"
#include "CMonitorHold.h"
#include "CNullPointerException.h"
#include "CTavUtility.h"
#include "CThread.h"
#include "CTrace.h"
#include "ILogicHandle.h"

#include <AfxRichEdit.h>
#include <CWinApp.h>

#include <memory>
#include <new>

namespace {

const char SCOPE[] = "CMainWnd";
const UINT CAPTION_STRING = 57344;
const UINT NO_SERVER_STRING = 63016;
const UINT REJECT_SUSPEND_STRING = 63013;
const UINT ICON_ID = 128;

// The process-wide main window, for showMessage from any thread; the lock covers both and the
// terminate-once flag.
CJObject g_terminateLock;
bool g_terminateRequested = false;
CJObject g_mainWndLock;
CMainWnd* g_mainWnd = nullptr;
HWND g_mainWndHandle = nullptr;

std::string caption()
{
    return CTavUtility::loadString(CAPTION_STRING, "Tavelin");
}

void startWorker(CThread::TargetFunction body, void* mainWnd, const char* what)
{
    CThread* worker = new CThread("", body, mainWnd);
    if (!worker->start()) {
        delete worker;
        CTrace::scopedFatalError(SCOPE, std::string("the worker that ") + what + " does not start", -1);
    }
}

} // namespace

const CWnd::MessageEntry CMainWnd::messageMap[] = {
    on<WM_CREATE, &CMainWnd::OnCreate>(),
    on<WM_CLOSE, &CMainWnd::OnClose>(),
    on<WM_MAIN_WND_COMMAND, &CMainWnd::OnMainWndCommand>(),
    on<WM_POWERBROADCAST, &CMainWnd::OnPowerBroadcast>(),
    on<WM_DESTROY, &CMainWnd::OnDestroy>(),
    endOfMap(CWnd::messageMap),
};

IGuiHandle* CMainWnd::createGuiHandle(CWnd** mainWndSlot, CPreferenceManager* preferences, CQuarn* middleware)
{
    CTrace::trace(SCOPE, "createGuiHandle");
    return new (std::nothrow) CMainWnd(mainWndSlot, preferences, middleware);
}

CMainWnd::CMainWnd(CWnd** mainWndSlot, CPreferenceManager* preferences, CQuarn* middleware)
    : icon_(nullptr), preferences_(preferences), middleware_(middleware), logic_(nullptr), waitingMessages_(0)
{
    CTrace::trace(SCOPE, "CMainWnd");
    if (mainWndSlot != nullptr)
        *mainWndSlot = this;
    LPCSTR windowClass = RegisterWndClass(0);
    if (!CreateEx(0, windowClass, "", WS_POPUP | WS_BORDER | WS_SYSMENU, 0, 0, 0, 0, nullptr, nullptr))
        CTrace::scopedFatalError(SCOPE, "CMainWnd: failed to create the dummy window", -1);
    {
        CMonitorHold hold(g_mainWndLock, __LINE__, SCOPE);
        g_mainWnd = this;
    }
    // The libraries below the GUI show their boxes through this window.
    CGuiMessage::setShowFunction(&CMainWnd::showMessage);
}

CMainWnd::~CMainWnd()
{
    CTrace::trace(SCOPE, "~CMainWnd");
    {
        CMonitorHold hold(g_mainWndLock, __LINE__, SCOPE);
        if (g_mainWnd == this) {
            g_mainWnd = nullptr;
            g_mainWndHandle = nullptr;
            CGuiMessage::setShowFunction(nullptr);
        }
    }
    // Destroyed here, while its own handlers still answer, so the texts still queued are freed.
    if (m_hWnd != nullptr && ::IsWindow(m_hWnd) && ::GetWindowThreadProcessId(m_hWnd, nullptr) == ::GetCurrentThreadId())
        DestroyWindow();
    if (icon_ != nullptr)
        DestroyIcon(icon_);
}

int CMainWnd::OnCreate(CREATESTRUCTA*)
{
    CTrace::trace(SCOPE, "OnCreate");
    if (!AfxInitRichEdit())
        CTrace::scopedError(SCOPE, "OnCreate: rich-edit support did not start", -1);
    icon_ = LoadIconA(AfxGetResourceHandle(), MAKEINTRESOURCEA(ICON_ID));
    if (icon_ != nullptr) {
        SendMessage(WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon_));
        SendMessage(WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon_));
    } else {
        CTrace::trace(SCOPE, "OnCreate: no icon");
    }
    CMonitorHold hold(g_mainWndLock, __LINE__, SCOPE);
    g_mainWndHandle = m_hWnd;
    return 0;
}

void CMainWnd::terminate()
{
    CTrace::trace(SCOPE, "terminate: the session was lost");
    requestTerminate(TERMINATE_SESSION_LOST);
}

void CMainWnd::setLogicHandle(ILogicHandle* logic)
{
    logic_ = logic;
}

HWND CMainWnd::getWindowHandle()
{
    return m_hWnd;
}

IFileTransmitter* CMainWnd::getFileTransmitter()
{
    return nullptr;   // no transfer manager
}

IStageView* CMainWnd::getStageView()
{
    throw CNullPointerException("getStageView: there is no main dialog");
}

CPhoneCtrl* CMainWnd::getPhoneCtrl()
{
    throw CNullPointerException("getPhoneCtrl: there is no main dialog");
}

void CMainWnd::showSplash(bool show)
{
    CTrace::trace(SCOPE, std::string("showSplash(") + (show ? "true" : "false") + "): there is no splash");
}

void CMainWnd::showMainDlg(bool show)
{
    CTrace::scopedAssertTrue(false, SCOPE, std::string("showMainDlg(") + (show ? "true" : "false") +
                                               "): there is no main dialog", -1);
}

void CMainWnd::setBusy(bool busy)
{
    CTrace::trace(SCOPE, std::string("setBusy(") + (busy ? "true" : "false") + "): there is no main dialog");
}

void CMainWnd::requestTerminate(LPARAM lParam)
{
    CMonitorHold hold(g_terminateLock, __LINE__, SCOPE);
    if (g_terminateRequested) {
        CTrace::trace(SCOPE, "requestTerminate: requested before");
        return;
    }
    g_terminateRequested = true;
    CTrace::trace(SCOPE, "requestTerminate: lParam=" + std::to_string(lParam));
    PostMessage(WM_MAIN_WND_COMMAND, COMMAND_TERMINATE, lParam);
}

void CMainWnd::showMessage(const std::string& text)
{
    CMonitorHold hold(g_mainWndLock, __LINE__, SCOPE);
    if (g_mainWndHandle == nullptr || !IsWindow(g_mainWndHandle) || g_mainWnd == nullptr) {
        CTrace::trace(SCOPE, "showMessage: no main window for [" + text + "]");
        return;
    }
    g_mainWnd->showMessageNonStatic(text);
}

void CMainWnd::showMessageNonStatic(const std::string& text)
{
    CTrace::scopedAssertTrue(m_hWnd != nullptr, SCOPE, "showMessageNonStatic: no window", -1);
    CMonitorHold hold(monitor_, __LINE__, SCOPE);
    if (waitingMessages_ >= MAX_WAITING_MESSAGES) {
        CTrace::trace(SCOPE, "showMessageNonStatic: " + std::to_string(MAX_WAITING_MESSAGES) +
                                 " messages wait, dropped [" + text + "]");
        return;
    }
    // Each command carries its own text, so a second message cannot overwrite the first.
    std::string* own = new std::string(text);
    if (!::PostMessageA(m_hWnd, WM_MAIN_WND_COMMAND, COMMAND_MESSAGE, reinterpret_cast<LPARAM>(own))) {
        CTrace::trace(SCOPE, "showMessageNonStatic: not posted, dropped [" + text + "]");
        delete own;
        return;
    }
    ++waitingMessages_;
}

void CMainWnd::ShowMessage(const std::string& text)
{
    CTrace::trace(SCOPE, "ShowMessage: the main dialog window does not exist");
    CMessageBox::show(boxOwner(), text, caption(), MB_OK);
}

void CMainWnd::showNoServerMessage(LPARAM lParam)
{
    if (lParam != TERMINATE_SESSION_LOST)
        return;
    CMessageBox::show(boxOwner(), CTavUtility::loadString(NO_SERVER_STRING, ""), caption(), MB_SYSTEMMODAL | MB_OK);
}

void CMainWnd::showRejectSuspendMessage()
{
    CMessageBox::show(boxOwner(), CTavUtility::loadString(REJECT_SUSPEND_STRING, ""), caption(),
                      MB_SYSTEMMODAL | MB_OK);
}

HWND CMainWnd::boxOwner()
{
    return m_hWnd;
}

void CMainWnd::CB_Terminate(void* mainWnd)
{
    CTrace::scopedAssertTrue(mainWnd != nullptr, SCOPE, "CB_Terminate: no main window", -1);
    static_cast<CMainWnd*>(mainWnd)->PostMessage(WM_CLOSE);
}

void CMainWnd::CB_ShowRejectSuspendMessage(void* mainWnd)
{
    CTrace::scopedAssertTrue(mainWnd != nullptr, SCOPE, "CB_ShowRejectSuspendMessage: no main window", -1);
    static_cast<CMainWnd*>(mainWnd)->showRejectSuspendMessage();
}

LRESULT CMainWnd::OnMainWndCommand(WPARAM wParam, LPARAM lParam)
{
    switch (wParam) {
    case COMMAND_TERMINATE:
        CTrace::trace(SCOPE, "OnMainWndCommand: terminate, lParam=" + std::to_string(lParam));
        showNoServerMessage(lParam);
        startWorker(&CMainWnd::CB_Terminate, this, "closes the main window");
        break;
    case COMMAND_MESSAGE: {
        std::unique_ptr<std::string> text(reinterpret_cast<std::string*>(lParam));
        {
            CMonitorHold hold(monitor_, __LINE__, SCOPE);
            --waitingMessages_;
        }
        if (text != nullptr)
            ShowMessage(*text);
        break;
    }
    default:
        CTrace::scopedFatalError(SCOPE, "OnMainWndCommand: undefined command " + std::to_string(wParam), -1);
    }
    return 1;
}

void CMainWnd::OnClose()
{
    CTrace::trace(SCOPE, "OnClose");
    if (logic_ != nullptr)
        logic_->terminate();
    Default();
}

void CMainWnd::OnDestroy()
{
    // Messages still queued die with the window: their texts are freed here.
    MSG msg;
    while (::PeekMessageA(&msg, m_hWnd, WM_MAIN_WND_COMMAND, WM_MAIN_WND_COMMAND, PM_REMOVE)) {
        if (msg.wParam != COMMAND_MESSAGE)
            continue;
        delete reinterpret_cast<std::string*>(msg.lParam);
        CMonitorHold hold(monitor_, __LINE__, SCOPE);
        --waitingMessages_;
    }
    Default();
}

LRESULT CMainWnd::OnPowerBroadcast(WPARAM wParam, LPARAM)
{
    if (wParam != PBT_APMQUERYSUSPEND)
        return TRUE;
    CTrace::trace(SCOPE, "OnPowerBroadcast: a suspend is refused");
    static_cast<IGuiHandle*>(this)->showSplash(false);
    startWorker(&CMainWnd::CB_ShowRejectSuspendMessage, this, "tells of the refused standby");
    return BROADCAST_QUERY_DENY;
}
