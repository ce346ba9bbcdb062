#pragma once
// The program's one visible top-level window: a skinned, captionless 800 x 451 dialog holding
// the controls of a session (main menu button, status lamp, minimize and close buttons, trash, phone panel). Made hidden by
// the main window, shown when the logic has opened the session, closed by the user's request.
#include "CDrawObject.h"
#include "IStageHost.h"

#include <CDialog.h>

#include <string>

class CCloseBtn;
class CMainBtn;
class CMainWnd;
class CMinimizeBtn;
class CPhoneCtrl;
class CPreferenceManager;
class CStageCtrl;
class IStageView;
class CStatusCtrl;
class CTrashWnd;

class CMainDlg : public CDialog, public IStageHost {
public:
    static constexpr UINT WM_MAIN_DLG_COMMAND = WM_APP + 101;
    static constexpr WPARAM COMMAND_SHOW = 1;

    // Makes the dialog window from its template, hidden, with its controls in the skin of the
    // preferences; a dialog that cannot be made ends the process.
    CMainDlg(CWnd* parent, CMainWnd* mainWnd, CPreferenceManager* preferences);
    ~CMainDlg() override;

    // Any thread: shows or hides the dialog on its own thread.
    void postShow(bool show);
    void Show(bool show);
    // The close request, with the confirmations closing needs.
    void Close();

    // 0, 1 or 2; another value is ignored. Every change after the first plays its sound.
    void setSkin(int skin);
    int getSkin() const { return skin_; }

    // The stage window's side (IStageHost) and the forwarders to the stage window.
    void setStatus(int status) override;
    void updateRole() override;
    void setBusy(bool up) override;
    void trackTrashHover(int x, int y) override;
    bool isPointInTrash(int x, int y) override;
    CDragDropWnd* getDragDropWnd() override;
    RECT getMainDlgRect() override;

    void setViewBg(int number);
    int getViewBg() const;
    void setCustomBg(const std::string& path);
    bool hasCustomBg() const;
    void setCursorVisible(bool visible);
    bool isMaster() const;
    // The stage window's view, or null without a stage window.
    IStageView* getStageView();
    CStageCtrl* getStageCtrl() const { return stage_; }
    CPhoneCtrl* getPhoneCtrl() const { return phone_; }

    bool isBusy() const { return busy_; }
    CMainBtn* getMainBtn() const { return mainBtn_; }

    // Esc and Enter close nothing here.
    BOOL PreTranslateMessage(MSG* msg) override;

protected:
    BOOL OnInitDialog() override;

    static const MessageEntry messageMap[];
    const MessageEntry* GetMessageMap() const override { return messageMap; }
    void OnPaint();
    void OnClose();
    void OnLButtonDown(UINT flags, POINT point);
    BOOL OnSetCursor(HWND window, UINT hitTest, UINT message);
    BOOL OnHelp(HELPINFO* info);
    LRESULT OnMainDlgCommand(WPARAM wParam, LPARAM lParam);

private:
    void showCursor();

    CWnd* parent_;
    CMainWnd* mainWnd_;
    CPreferenceManager* preferences_;
    CStageCtrl* stage_ = nullptr;
    CStatusCtrl* status_ = nullptr;
    CMainBtn* mainBtn_ = nullptr;
    CMinimizeBtn* minimizeBtn_ = nullptr;
    CCloseBtn* closeBtn_ = nullptr;
    CTrashWnd* trash_ = nullptr;
    CPhoneCtrl* phone_ = nullptr;
    // The phone panel's window is made on the first showing only.
    bool phoneCreated_ = false;
    CDrawObject background_;
    int skin_ = 0;
    bool firstSkin_ = true;
    int busyCount_ = 0;
    bool busy_ = false;
    HCURSOR busyCursor_ = nullptr;
    HCURSOR arrowCursor_ = nullptr;
    HICON icon_ = nullptr;
    bool overTrash_ = false;
};
