#pragma once
// What the session logic may ask of the GUI: the main window's one entry point for it.
#include <windows.h>

class CPhoneCtrl;
class IFileTransmitter;
class ILogicHandle;
class IStageView;

class IGuiHandle {
public:
    // Deleting through the interface destroys the whole GUI.
    virtual ~IGuiHandle() = default;
    // Requests the end of the program because the own terminal lost the session.
    virtual void terminate() = 0;
    virtual void setLogicHandle(ILogicHandle* logic) = 0;
    // The main window; the target of the middleware's notices.
    virtual HWND getWindowHandle() = 0;
    // The transfer manager, or null when there is none.
    virtual IFileTransmitter* getFileTransmitter() = 0;
    // The next two throw CNullPointerException while there is no main dialog.
    virtual IStageView* getStageView() = 0;
    virtual CPhoneCtrl* getPhoneCtrl() = 0;
    // true shows the splash; false closes it for good.
    virtual void showSplash(bool show) = 0;
    virtual void showMainDlg(bool show) = 0;
    // Raises (true) or lowers (false) the main dialog's busy count; user-interface thread only.
    virtual void setBusy(bool busy) = 0;
};
