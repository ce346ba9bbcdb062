#pragma once
// The program's hidden main window and the GUI's one entry point for the session logic: it
// runs the end of the program (lost-session box, the close from a worker thread, the logic's
// terminate), refuses standby while the program runs and shows message boxes for any thread.
// Closing it ends the user-interface thread's message loop.
#include "CJObject.h"
#include "IGuiHandle.h"

#include <CWnd.h>

#include <string>

class CMainDlg;
class CPreferenceManager;
class CQuarn;
class CSimpleWnd;
class CSplashWnd;

class CMainWnd : public CWnd, public virtual IGuiHandle {
public:
    // The main window's own commands, in wParam.
    static constexpr UINT WM_MAIN_WND_COMMAND = WM_APP + 100;
    static constexpr WPARAM COMMAND_TERMINATE = 1;
    static constexpr WPARAM COMMAND_MESSAGE = 2;
    // lParam of the terminate command.
    static constexpr LPARAM TERMINATE_SESSION_LOST = 0;
    static constexpr LPARAM TERMINATE_BY_USER = 1;

    // The GUI, made once on the user-interface thread; it puts itself into the main-window
    // slot. Null when the object cannot be made.
    static IGuiHandle* createGuiHandle(CWnd** mainWndSlot, CPreferenceManager* preferences, CQuarn* middleware);

    CMainWnd(CWnd** mainWndSlot, CPreferenceManager* preferences, CQuarn* middleware);
    ~CMainWnd() override;

    void terminate() override;
    void setLogicHandle(ILogicHandle* logic) override;
    HWND getWindowHandle() override;
    IFileTransmitter* getFileTransmitter() override;
    IStageView* getStageView() override;
    CPhoneCtrl* getPhoneCtrl() override;
    void showSplash(bool show) override;
    void showMainDlg(bool show) override;
    void setBusy(bool busy) override;

    // Posts the terminate command, at most once per process (any thread).
    void requestTerminate(LPARAM lParam);
    // A message box with the text on the user-interface thread, while the main window exists
    // (any thread).
    static void showMessage(const std::string& text);
    void showMessageNonStatic(const std::string& text);
    void ShowMessage(const std::string& text);
    void showNoServerMessage(LPARAM lParam);
    void showRejectSuspendMessage();

    // Worker-thread bodies; the argument is the main window.
    static void CB_Terminate(void* mainWnd);
    static void CB_ShowRejectSuspendMessage(void* mainWnd);

    // Null before the window exists.
    CMainDlg* getMainDlg() const { return mainDlg_; }
    // The notice shown while the program terminates, or null.
    static CSimpleWnd* getNoticeWnd();

    // The outside object that gives the notice's colours.
    static const CLSID NOTICE_COLOURS_CLASS;
    static constexpr LONG NOTICE_COLOURS_METHOD = 1;   // its dispatch id
    static constexpr long NOTICE_TEXT_INDEX = 7;
    static constexpr long NOTICE_BACKGROUND_INDEX = 4;
    static constexpr int NOTICE_WIDTH = 270;
    static constexpr int NOTICE_HEIGHT = 64;

protected:
    static const MessageEntry messageMap[];
    const MessageEntry* GetMessageMap() const override { return messageMap; }

    int OnCreate(CREATESTRUCTA* cs);
    void OnClose();
    LRESULT OnMainWndCommand(WPARAM wParam, LPARAM lParam);
    LRESULT OnPowerBroadcast(WPARAM wParam, LPARAM lParam);
    void OnDestroy();

private:
    // The owner of this window's boxes: the main dialog while its window lives.
    HWND boxOwner();
    void showNotice();

    CMainDlg* mainDlg_;
    HICON icon_;
    CPreferenceManager* preferences_;
    CQuarn* middleware_;
    ILogicHandle* logic_;
    CSplashWnd* splash_;
    // Texts posted with command 2 and not yet taken by it. A peer's faults can make failures
    // pile up while one box waits for the user: a few are worth telling, the rest only traced.
    static constexpr int MAX_WAITING_MESSAGES = 16;
    int waitingMessages_;
    CJObject monitor_;   // guards the count of waiting messages
};
