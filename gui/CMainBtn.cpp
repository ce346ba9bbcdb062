#include "CMainBtn.h"

#include "CAboutDlg.h"
#include "CLeadImage.h"
#include "CMainDlg.h"
#include "CMessageBox.h"
#include "CNicknameDlg.h"
#include "CPreferenceManager.h"
#include "CSoundPlay.h"
#include "CTavUtility.h"
#include "CTrace.h"

#include <CFileDialog.h>
#include <CMenu.h>

#include <shlobj.h>
#include <shlwapi.h>

#include <atomic>

namespace {

const char SCOPE[] = "CMainBtn";
const char HELP_FILE[] = "tavapp.chm";
const UINT CAPTION_STRING = 57344;
const UINT UNUSABLE_PICTURE_STRING = 63001;
const UINT PICTURE_FILE_STRING = 63022;
const char PICTURE_PATTERNS[] = " (*.jpg;*.jpeg;*.gif;*.bmp)|*.jpg;*.jpeg;*.gif;*.bmp||";
const UINT MENU_ID = 154;
const int CLICK_SOUND = 167;
const int MENU_ABOVE = 5;   // pixels between the menu's bottom and the click
const char* const NORMAL_NAMES[] = {"IDB_MAINBTN_NORMAL0", "IDB_MAINBTN_NORMAL1", "IDB_MAINBTN_NORMAL2"};
const char* const FOCUSED_NAMES[] = {"IDB_MAINBTN_FOCUSED0", "IDB_MAINBTN_FOCUSED1", "IDB_MAINBTN_FOCUSED2"};
const char* const PUSHED_NAMES[] = {"IDB_MAINBTN_PUSHED0", "IDB_MAINBTN_PUSHED1", "IDB_MAINBTN_PUSHED2"};
// The position of the "Frame" pop-up in the menu's first pop-up.
const int FRAME_POPUP = 1;

std::atomic<CMainBtn::HelpFunction> g_help{&HtmlHelpA};
// Shared by every button of the process: cleared by the first picture chosen.
std::atomic<bool> g_firstChoice{true};

CRect drawingRectOf(const RECT& rect)
{
    return CRect(0, 0, rect.right - rect.left, rect.bottom - rect.top);
}

} // namespace

const CWnd::MessageEntry CMainBtn::messageMap[] = {
    on<WM_INITMENUPOPUP, &CMainBtn::OnDefault>(),
    on<WM_MENUSELECT, &CMainBtn::OnDefault>(),
    onCommand<ID_BG_SETUP, &CMainBtn::OnMainBtnBgSetup>(),
    onCommand<ID_NICKNAME, &CMainBtn::OnMainBtnNickname>(),
    onCommand<ID_CURSOR, &CMainBtn::OnMainBtnCursor>(),
    onCommand<ID_MUTE, &CMainBtn::OnMainBtnMute>(),
    onCommand<ID_HELP, &CMainBtn::OnMainBtnHelp>(),
    onCommand<ID_VERSION, &CMainBtn::OnMainBtnVersion>(),
    onCommand<ID_EXIT, &CMainBtn::OnMainBtnExit>(),
    onCommandRange<ID_STAGE_FIRST, ID_STAGE_LAST, &CMainBtn::OnMainBtnStageBg>(),
    onCommandRange<ID_FRAME_FIRST, ID_FRAME_LAST, &CMainBtn::OnMainBtnFrame>(),
    endOfMap(CSimpleBtn::messageMap),
};

CMainBtn::CMainBtn(const RECT& rect, CWnd* parent, CMainDlg* mainDialog, CPreferenceManager* preferences, UINT id)
    : CSimpleBtn(rect, drawingRectOf(rect), parent, id), mainDialog_(mainDialog), preferences_(preferences),
      cursor_(preferences->getCursor()), mute_(preferences->getMute())
{
    CSoundPlay::setMute(mute_);
}

CMainBtn::HelpFunction CMainBtn::setHelpFunction(HelpFunction help)
{
    return g_help.exchange(help != nullptr ? help : &HtmlHelpA);
}

LRESULT CMainBtn::OnDefault(WPARAM, LPARAM)
{
    return Default();
}

void CMainBtn::SetSkin(int skin)
{
    m_normal.loadBitmap(NORMAL_NAMES[skin]);
    m_focused.loadBitmap(FOCUSED_NAMES[skin]);
    m_pushed.loadBitmap(PUSHED_NAMES[skin]);
    Invalidate(TRUE);
    UpdateWindow();
}

void CMainBtn::OnSimpleBtnClick(UINT, CPoint point)
{
    CSoundPlay::Play(CLICK_SOUND);
    ShowPopupMenu(point);
}

CMenu* CMainBtn::PrepareMenu(CMenu& menu)
{
    if (!menu.LoadMenu(MENU_ID)) {
        CTrace::scopedError(SCOPE, " PrepareMenu: no menu " + std::to_string(MENU_ID), -1);
        return nullptr;
    }
    CMenu* popup = menu.GetSubMenu(0);
    if (popup == nullptr)
        return nullptr;
    popup->CheckMenuItem(ID_CURSOR, MF_BYCOMMAND | (cursor_ ? MF_CHECKED : MF_UNCHECKED));
    popup->CheckMenuItem(ID_MUTE, MF_BYCOMMAND | (mute_ ? MF_CHECKED : MF_UNCHECKED));
    if (CMenu* frame = popup->GetSubMenu(FRAME_POPUP)) {
        for (UINT id = ID_FRAME_FIRST; id <= ID_FRAME_LAST; ++id)
            frame->CheckMenuItem(id, MF_BYCOMMAND | MF_UNCHECKED);
        frame->CheckMenuItem(ID_FRAME_FIRST + mainDialog_->getSkin(), MF_BYCOMMAND | MF_CHECKED);
    }
    return popup;
}

void CMainBtn::ShowPopupMenu(CPoint point)
{
    ClientToScreen(&point);
    CMenu menu;
    CMenu* popup = PrepareMenu(menu);
    if (popup == nullptr)
        return;
    popup->TrackPopupMenu(TPM_CENTERALIGN | TPM_LEFTBUTTON, point.x, point.y - MENU_ABOVE, this);
}

std::string CMainBtn::pictureFilter()
{
    return CTavUtility::loadString(PICTURE_FILE_STRING, "Picture File") + PICTURE_PATTERNS;
}

bool CMainBtn::isFirstChoice()
{
    return g_firstChoice.load();
}

void CMainBtn::OnMainBtnBgSetup()
{
    const std::string filter = pictureFilter();
    for (;;) {
        CFileDialog dialog(TRUE, nullptr, nullptr, OFN_NOREADONLYRETURN | OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT,
                           filter.c_str(), mainDialog_);
        char documents[MAX_PATH] = {};
        if (g_firstChoice.load() && SHGetSpecialFolderPathA(nullptr, documents, CSIDL_PERSONAL, FALSE))
            dialog.m_ofn.lpstrInitialDir = documents;
        if (dialog.DoModal() != IDOK)
            return;
        const std::string path = dialog.GetPathName();
        if (PathFileExistsA(path.c_str()) && CLeadImage::isImageFile(path)) {
            preferences_->setCustomBg(path);
            g_firstChoice = false;
            return;
        }
        CTrace::trace(SCOPE, " OnMainBtnBgSetup: no picture to use in " + path);
        CMessageBox::show(mainDialog_->m_hWnd, CTavUtility::loadString(UNUSABLE_PICTURE_STRING, ""),
                          CTavUtility::loadString(CAPTION_STRING, "Tavelin"), MB_ICONEXCLAMATION | MB_OK);
    }
}

void CMainBtn::OnMainBtnNickname()
{
    CNicknameDlg dialog(mainDialog_);
    dialog.m_nickname = preferences_->getNickname();
    if (dialog.DoModal() == IDOK)
        preferences_->setNickname(dialog.m_nickname);
}

void CMainBtn::OnMainBtnCursor()
{
    cursor_ = !cursor_;
    preferences_->setCursor(cursor_);
}

void CMainBtn::OnMainBtnMute()
{
    mute_ = !mute_;
    CSoundPlay::setMute(mute_);
    preferences_->setMute(mute_);
}

void CMainBtn::OnMainBtnHelp()
{
    const std::string path = preferences_->getResourcePath() + "\\" + HELP_FILE;
    if (g_help.load()(nullptr, path.c_str(), HH_DISPLAY_TOPIC, 0) == nullptr)
        CTrace::trace(SCOPE, " OnMainBtnHelp: the help viewer did not open " + path);
}

void CMainBtn::OnMainBtnVersion()
{
    CAboutDlg dialog;
    dialog.DoModal();
}

void CMainBtn::OnMainBtnExit()
{
    mainDialog_->Close();
}

void CMainBtn::OnMainBtnStageBg(UINT id)
{
    preferences_->setViewBg(static_cast<int>(id - ID_STAGE_FIRST));
}

void CMainBtn::OnMainBtnFrame(UINT id)
{
    const int skin = static_cast<int>(id - ID_FRAME_FIRST);
    mainDialog_->setSkin(skin);
    preferences_->setSkin(skin);
}
