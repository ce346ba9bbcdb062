#pragma once
// The skinned button at the main dialog's bottom left that opens the main menu: skin, sounds,
// peers' cursors, nickname, help, version and exit, each acting at once and kept in the
// preferences.
#include "CSimpleBtn.h"

#include <htmlhelp.h>

#include <string>

class CMainDlg;
class CMenu;
class CPreferenceManager;

class CMainBtn : public CSimpleBtn {
public:
    // Menu 154's commands.
    enum : UINT {
        ID_BG_SETUP = 32769,
        ID_NICKNAME = 32770,
        ID_CURSOR = 32771,
        ID_MUTE = 32772,
        ID_HELP = 32773,
        ID_VERSION = 32774,
        ID_EXIT = 32775,
        ID_STAGE_FIRST = 32790,
        ID_STAGE_LAST = 32794,
        ID_FRAME_FIRST = 32810,
        ID_FRAME_LAST = 32812,
    };
    using HelpFunction = HWND(WINAPI*)(HWND caller, LPCSTR file, UINT command, DWORD_PTR data);

    // The cursor and mute flags come from the preferences; the sound player is told the mute
    // flag at once.
    CMainBtn(const RECT& rect, CWnd* parent, CMainDlg* mainDialog, CPreferenceManager* preferences, UINT id);

    void SetSkin(int skin) override;
    // Plays the menu sound and shows the menu at the point.
    void OnSimpleBtnClick(UINT flags, CPoint point) override;
    // The menu at a point of the button's client area, tracked until it closes.
    void ShowPopupMenu(CPoint point);
    // Loads menu 154 into the object and prepares its first pop-up for this moment: checks of
    // the cursor, mute and skin choices. The pop-up, or null without the menu.
    CMenu* PrepareMenu(CMenu& menu);

    bool isCursorShown() const { return cursor_; }
    bool isMuted() const { return mute_; }

    // Asks for a picture of the user's own until one that exists and reads as a picture is
    // chosen (kept in the preferences) or the user cancels; a file that fails is told.
    void OnMainBtnBgSetup();
    void OnMainBtnNickname();
    void OnMainBtnCursor();
    void OnMainBtnMute();
    // The help file beside the program's resources; a viewer that does not open is traced.
    void OnMainBtnHelp();
    void OnMainBtnVersion();
    void OnMainBtnExit();
    void OnMainBtnStageBg(UINT id);
    void OnMainBtnFrame(UINT id);

    // The open-file dialog's filter: the name, then the patterns.
    static std::string pictureFilter();
    // True until the first picture is chosen in this process: the dialog opens in the user's
    // documents folder until then.
    static bool isFirstChoice();

    // The help viewer call from now on (null: the platform's own); the one before.
    static HelpFunction setHelpFunction(HelpFunction help);

protected:
    static const MessageEntry messageMap[];
    const MessageEntry* GetMessageMap() const override { return messageMap; }
    LRESULT OnDefault(WPARAM, LPARAM);

private:
    CMainDlg* mainDialog_;
    CPreferenceManager* preferences_;
    bool cursor_;
    bool mute_;
};
