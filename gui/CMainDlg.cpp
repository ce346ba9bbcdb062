#include "CMainDlg.h"

#include "CCloseBtn.h"
#include "CMainBtn.h"
#include "CMainWnd.h"
#include "CMinimizeBtn.h"
#include "CPhoneCtrl.h"
#include "CPreferenceManager.h"
#include "CSoundPlay.h"
#include "CStageCtrl.h"
#include "CStatusCtrl.h"
#include "CTrace.h"
#include "CTrashWnd.h"

#include <CPaintDC.h>
#include <CRect.h>
#include <CWinApp.h>

#include <string>

namespace {

const char SCOPE[] = "CMainDlg";
const UINT TEMPLATE_ID = 130;
const UINT ICON_ID = 128;
const int SKIN_SOUND = 174;
const int WIDTH = 800;
const int HEIGHT = 451;

const RECT STAGE_RECT = {0, 27, 800, 427};
const RECT MAIN_BTN_RECT = {19, 428, 114, 448};
const RECT STATUS_RECT = {423, 428, 535, 447};
const RECT LAMP_RECT = {77, 6, 107, 13};   // in the status control
const RECT MINIMIZE_RECT = {763, 7, 776, 20};
const RECT CLOSE_RECT = {779, 7, 792, 20};
const POINT TRASH_AT = {707, 428};
const UINT MAIN_BTN_ID = 1010;
const UINT STATUS_ID = 1011;
const UINT MINIMIZE_ID = 1012;
const UINT CLOSE_ID = 1013;
const UINT TRASH_ID = 1026;
const POINT PHONE_AT = {156, 428};
const UINT PHONE_ID = 1018;

} // namespace

const CWnd::MessageEntry CMainDlg::messageMap[] = {
    on<WM_PAINT, &CMainDlg::OnPaint>(),
    on<WM_CLOSE, &CMainDlg::OnClose>(),
    on<WM_LBUTTONDOWN, &CMainDlg::OnLButtonDown>(),
    on<WM_SETCURSOR, &CMainDlg::OnSetCursor>(),
    on<WM_HELP, &CMainDlg::OnHelp>(),
    on<WM_MAIN_DLG_COMMAND, &CMainDlg::OnMainDlgCommand>(),
    endOfMap(CDialog::messageMap),
};

CMainDlg::CMainDlg(CWnd* parent, CMainWnd* mainWnd, CPreferenceManager* preferences)
    : CDialog(TEMPLATE_ID), parent_(parent), mainWnd_(mainWnd), preferences_(preferences)
{
    CTrace::trace(SCOPE, "CMainDlg");
    // No parent named: the thread's main window owns the dialog.
    if (!Create(TEMPLATE_ID, nullptr))
        CTrace::scopedFatalError(SCOPE, "CMainDlg: failed to create the frame control", -1);
}

CMainDlg::~CMainDlg()
{
    CTrace::trace(SCOPE, "~CMainDlg");
    delete closeBtn_;
    delete minimizeBtn_;
    delete mainBtn_;
    delete trash_;
    delete phone_;
    delete status_;
    delete stage_;
    if (icon_ != nullptr)
        DestroyIcon(icon_);
}

BOOL CMainDlg::OnInitDialog()
{
    CDialog::OnInitDialog();
    icon_ = LoadIconA(AfxGetResourceHandle(), MAKEINTRESOURCEA(ICON_ID));
    SetIcon(icon_, TRUE);
    SetIcon(icon_, FALSE);
    // A task-bar button, and minimisable.
    ModifyStyle(0, WS_MINIMIZEBOX | WS_SYSMENU);
    ModifyStyleEx(0, WS_EX_APPWINDOW);
    firstSkin_ = true;
    SetWindowText("Tavelin");
    CTrace::scopedAssertTrue(mainWnd_ != nullptr, SCOPE, "OnInitDialog: no GUI handle", -1);
    CTrace::scopedAssertTrue(preferences_ != nullptr, SCOPE, "OnInitDialog: no preferences", -1);

    stage_ = new CStageCtrl(STAGE_RECT, this, this, preferences_, mainWnd_->getFileTransmitter(), CStageCtrl::STAGE_ID);
    status_ = new CStatusCtrl(STATUS_RECT, LAMP_RECT, this, STATUS_ID);
    mainBtn_ = new CMainBtn(MAIN_BTN_RECT, this, this, preferences_, MAIN_BTN_ID);
    minimizeBtn_ = new CMinimizeBtn(MINIMIZE_RECT, this, this, MINIMIZE_ID);
    closeBtn_ = new CCloseBtn(CLOSE_RECT, this, this, CLOSE_ID);
    trash_ = new CTrashWnd(TRASH_AT.x, TRASH_AT.y, this, TRASH_ID);
    trash_->Create();
    phone_ = new CPhoneCtrl(PHONE_AT.x, PHONE_AT.y, this, PHONE_ID);

    setSkin(preferences_->getSkin());

    CRect rect;
    GetWindowRect(&rect);
    MoveWindow(rect.left, rect.top, WIDTH, HEIGHT, TRUE);
    busyCursor_ = LoadCursorA(nullptr, IDC_APPSTARTING);
    arrowCursor_ = LoadCursorA(nullptr, IDC_ARROW);
    return TRUE;
}

void CMainDlg::postShow(bool show)
{
    CTrace::scopedAssertTrue(m_hWnd != nullptr, SCOPE, "postShow: the dialog window does not exist", -1);
    PostMessage(WM_MAIN_DLG_COMMAND, COMMAND_SHOW, show ? 1 : 0);
}

void CMainDlg::Show(bool show)
{
    CTrace::trace(SCOPE, std::string("Show(") + (show ? "true" : "false") + ")");
    if (!show) {
        ShowWindow(SW_HIDE);
        return;
    }
    ShowWindow(SW_SHOW);
    stage_->ShowWindow(SW_SHOW);
    status_->ShowWindow(SW_SHOW);
    mainBtn_->ShowWindow(SW_SHOW);
    minimizeBtn_->ShowWindow(SW_SHOW);
    closeBtn_->ShowWindow(SW_SHOW);
    // A second showing must not make a second panel window.
    if (!phoneCreated_) {
        phone_->Create();
        phoneCreated_ = true;
    }
    Invalidate(TRUE);
    UpdateWindow();
}

void CMainDlg::Close()
{
    SendMessage(WM_CLOSE);
}

void CMainDlg::OnClose()
{
    CTrace::trace(SCOPE, "OnClose");
    mainWnd_->requestTerminate(CMainWnd::TERMINATE_BY_USER);
}

void CMainDlg::setSkin(int skin)
{
    if (skin < 0 || skin > 2) {
        CTrace::trace(SCOPE, "setSkin: no skin " + std::to_string(skin));
        return;
    }
    if (firstSkin_)
        firstSkin_ = false;
    else
        CSoundPlay::Play(SKIN_SOUND);
    skin_ = skin;
    background_.loadBitmap("IDB_MAINDLG_BG" + std::to_string(skin));
    status_->SetSkin(skin);
    mainBtn_->SetSkin(skin);
    minimizeBtn_->SetSkin(skin);
    closeBtn_->SetSkin(skin);
    trash_->SetSkin(skin);
    phone_->SetSkin(skin);
    Invalidate(TRUE);
    UpdateWindow();
}

void CMainDlg::OnPaint()
{
    {
        CPaintDC dc(this);
        background_.drawAt(&dc, 0, 0);
    }
    stage_->UpdateWindow();
    status_->UpdateWindow();
    mainBtn_->UpdateWindow();
    closeBtn_->UpdateWindow();
    minimizeBtn_->UpdateWindow();
}

void CMainDlg::OnLButtonDown(UINT, POINT)
{
    // The captionless dialog is dragged by any free spot of its body.
    SendMessage(WM_NCLBUTTONDOWN, HTCAPTION, 0);
    Default();
}

BOOL CMainDlg::PreTranslateMessage(MSG* msg)
{
    if (msg->message == WM_KEYDOWN && (msg->wParam == VK_ESCAPE || msg->wParam == VK_RETURN) &&
        (msg->hwnd == m_hWnd || ::IsChild(m_hWnd, msg->hwnd)))
        return TRUE;
    return CDialog::PreTranslateMessage(msg);
}

BOOL CMainDlg::OnSetCursor(HWND, UINT, UINT)
{
    showCursor();
    return TRUE;
}

BOOL CMainDlg::OnHelp(HELPINFO*)
{
    mainBtn_->OnMainBtnHelp();
    return TRUE;
}

void CMainDlg::showCursor()
{
    ::SetCursor(busy_ ? busyCursor_ : arrowCursor_);
}

void CMainDlg::setBusy(bool up)
{
    if (up)
        ++busyCount_;
    else if (--busyCount_ < 0)
        busyCount_ = 0;
    busy_ = busyCount_ > 0;
    showCursor();
}

void CMainDlg::setStatus(int status)
{
    status_->SetStatus(status);
}

void CMainDlg::trackTrashHover(int x, int y)
{
    const bool inside = isPointInTrash(x, y);
    if (!overTrash_ && inside) {
        trash_->SetState(0);
        overTrash_ = true;
    } else if (overTrash_ && !inside) {
        trash_->SetState(1);
        overTrash_ = false;
    }
}

bool CMainDlg::isPointInTrash(int x, int y)
{
    CRect rect;
    trash_->GetWindowRect(&rect);
    return rect.PtInRect(CPoint(x, y)) != FALSE;
}

void CMainDlg::updateRole()
{
    status_->SetRole(isMaster());
}

void CMainDlg::setViewBg(int number)
{
    stage_->SetBackGround(number);
}

int CMainDlg::getViewBg() const
{
    return stage_->GetBackGround();
}

void CMainDlg::setCustomBg(const std::string& path)
{
    stage_->SetCustomBgFile(path);
}

bool CMainDlg::hasCustomBg() const
{
    return stage_->HasCustomBgBitmap();
}

void CMainDlg::setCursorVisible(bool visible)
{
    stage_->SetCursor(visible);
}

bool CMainDlg::isMaster() const
{
    return stage_ != nullptr && stage_->IsMaster();
}

IStageView* CMainDlg::getStageView()
{
    return stage_;
}

CDragDropWnd* CMainDlg::getDragDropWnd()
{
    return nullptr;   // no drag-out thread
}

RECT CMainDlg::getMainDlgRect()
{
    CRect rect;
    GetWindowRect(&rect);
    return rect;
}

LRESULT CMainDlg::OnMainDlgCommand(WPARAM wParam, LPARAM lParam)
{
    if (wParam != COMMAND_SHOW)
        CTrace::scopedFatalError(SCOPE, "OnMainDlgCommand: undefined command " + std::to_string(wParam), -1);
    Show(lParam != 0);
    return 1;
}
