#pragma once
// What the stage window needs of the main dialog that holds it: the status lamp and the role,
// the busy cursor while installs are under way, the trash a dragged content is dropped on, the
// drag-out window, and the dialog's place on the screen. The dialog outlives the stage window;
// the stage never owns it. Called on the user-interface thread.
#include <windows.h>

class CDragDropWnd;

class IStageHost {
public:
    // The terminal's reference number, which lights the status lamp.
    virtual void setStatus(int status) = 0;
    // The stage is synchronised: the dialog shows whether this terminal hosts the session.
    virtual void updateRole() = 0;
    // Raises (true) or lowers (false) the busy count; busy while it is above 0.
    virtual void setBusy(bool up) = 0;
    // A screen point of a content being dragged: the trash opens while the point is on it.
    virtual void trackTrashHover(int x, int y) = 0;
    virtual bool isPointInTrash(int x, int y) = 0;
    // The window of the drag-out thread, or null while there is none.
    virtual CDragDropWnd* getDragDropWnd() = 0;
    // The dialog's window rectangle in screen coordinates.
    virtual RECT getMainDlgRect() = 0;

protected:
    ~IStageHost() = default;
};
