#include "CMainWnd.h"

#include "CGuiMessage.h"
#include "CMainDlg.h"
#include "CSimpleWnd.h"
#include "CSplashWnd.h"

#include "CMessageBox.h"
#include "CMonitorHold.h"
#include "CNullPointerException.h"
#include "CPreferenceManager.h"
#include "CTavUtility.h"
#include "CThread.h"
#include "CTrace.h"
#include "ILogicHandle.h"

#include <AfxRichEdit.h>
#include <COleDispatchDriver.h>
#include <CWinApp.h>

#include <memory>
#include <new>

namespace {

const char SCOPE[] = "CMainWnd";
const UINT CAPTION_STRING = 57344;
const UINT NO_SERVER_STRING = 63016;
const UINT REJECT_SUSPEND_STRING = 63013;
const UINT NOTICE_STRING = 63021;
const UINT ICON_ID = 128;
const char SPLASH_BITMAP[] = "IDB_SPLASHBMP";

// The process-wide main window, for showMessage from any thread; the lock covers both and the
// terminate-once flag.
CJObject g_terminateLock;
bool g_terminateRequested = false;
CJObject g_mainWndLock;
CMainWnd* g_mainWnd = nullptr;
HWND g_mainWndHandle = nullptr;
// The termination notice; made and destroyed on the user-interface thread.
CSimpleWnd* g_noticeWnd = nullptr;

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

const CLSID CMainWnd::NOTICE_COLOURS_CLASS = {0x0F006B1C, 0xC00B, 0x11D2, {0xB1, 0x5A, 0x00, 0x10, 0x5A, 0x1F, 0x41, 0x84}};

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
    : mainDlg_(nullptr), icon_(nullptr), preferences_(preferences), middleware_(middleware), logic_(nullptr),
      splash_(nullptr), waitingMessages_(0)
{
    CTrace::trace(SCOPE, "CMainWnd");
    // Hidden until the logic shows it.
    splash_ = new CSplashWnd(SPLASH_BITMAP);
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
    if (icon_ != nullptr) {
        DestroyIcon(icon_);
        icon_ = nullptr;
    }
    delete mainDlg_;
    mainDlg_ = nullptr;
    delete splash_;
    splash_ = nullptr;
    // Destroyed here, while its own handlers still answer, so the texts still queued are freed.
    if (m_hWnd != nullptr && ::IsWindow(m_hWnd) && ::GetWindowThreadProcessId(m_hWnd, nullptr) == ::GetCurrentThreadId())
        DestroyWindow();
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
    // Its window is made at once, hidden, owned by this one.
    mainDlg_ = new CMainDlg(this, this, preferences_);
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
    if (mainDlg_ == nullptr)
        throw CNullPointerException("getStageView: there is no main dialog");
    return mainDlg_->getStageView();
}

CPhoneCtrl* CMainWnd::getPhoneCtrl()
{
    if (mainDlg_ == nullptr)
        throw CNullPointerException("getPhoneCtrl: there is no main dialog");
    return mainDlg_->getPhoneCtrl();
}

void CMainWnd::showSplash(bool show)
{
    const std::string call = std::string("showSplash(") + (show ? "true" : "false") + ")";
    if (splash_ == nullptr) {
        CTrace::trace(SCOPE, call + ": the splash was closed before");
        return;
    }
    CTrace::trace(SCOPE, call);
    if (show) {
        splash_->Show();
        return;
    }
    splash_->DestroyWindow();
    delete splash_;
    splash_ = nullptr;
}

void CMainWnd::showMainDlg(bool show)
{
    CTrace::scopedAssertTrue(mainDlg_ != nullptr, SCOPE, std::string("showMainDlg(") + (show ? "true" : "false") +
                                                             "): there is no main dialog", -1);
    mainDlg_->postShow(show);
}

void CMainWnd::setBusy(bool busy)
{
    if (mainDlg_ == nullptr) {
        CTrace::trace(SCOPE, std::string("setBusy(") + (busy ? "true" : "false") + "): there is no main dialog");
        return;
    }
    mainDlg_->setBusy(busy);
}

CSimpleWnd* CMainWnd::getNoticeWnd()
{
    return g_noticeWnd;
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
    if (mainDlg_ == nullptr || !::IsWindow(mainDlg_->m_hWnd))
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
    if (mainDlg_ != nullptr && ::IsWindow(mainDlg_->m_hWnd))
        return mainDlg_->m_hWnd;
    return m_hWnd;
}

void CMainWnd::showNotice()
{
    COLORREF text = ::GetSysColor(COLOR_BTNTEXT);
    COLORREF background = ::GetSysColor(COLOR_BTNFACE);
    if (CPreferenceManager::isHostRegistrationStarted()) {
        COleDispatchDriver colours;
        if (colours.CreateDispatch(NOTICE_COLOURS_CLASS)) {
            long colour = 0;
            long status = -1;
            if (SUCCEEDED(colours.InvokeMethod(NOTICE_COLOURS_METHOD, {NOTICE_TEXT_INDEX, &colour}, &status)) &&
                status == 0)
                text = static_cast<COLORREF>(colour);
            status = -1;
            if (SUCCEEDED(colours.InvokeMethod(NOTICE_COLOURS_METHOD, {NOTICE_BACKGROUND_INDEX, &colour}, &status)) &&
                status == 0)
                background = static_cast<COLORREF>(colour);
        } else {
            CTrace::trace(SCOPE, "showNotice: no outside object for the colours, the system's are used");
        }
    }
    g_noticeWnd = new CSimpleWnd();
    CWnd* over = mainDlg_ != nullptr && ::IsWindow(mainDlg_->m_hWnd) ? static_cast<CWnd*>(mainDlg_) : this;
    g_noticeWnd->Show(over, NOTICE_WIDTH, NOTICE_HEIGHT, CTavUtility::loadString(NOTICE_STRING, ""), text, background);
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
        showNotice();
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
    if (g_noticeWnd != nullptr) {
        g_noticeWnd->DestroyWindow();
        delete g_noticeWnd;
        g_noticeWnd = nullptr;
    }
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
