#pragma once
// The window of one terminal's mouse cursor on the stage window: a hidden 20 x 20 child of the
// stage, registered under a name of its own so that the cursor's element reaches it from its
// handler thread. Here it takes its place when told and keeps the last pointer position the
// stage forwards; what else the element tells it is traced.
#include "IElementDisplay.h"

#include <CWnd.h>

#include <string>

class CStageCtrl;

class CCursorCtrl : public CWnd, public virtual IElementDisplay {
public:
    static constexpr UINT WM_CURSOR_CTRL_COMMAND = WM_APP + 105;
    enum Command : WPARAM { SET_LOCATION = 1 };

    // Creates the child window (hidden) at the rectangle with the id and registers it under a
    // new unique name; a window that cannot be made ends the process.
    CCursorCtrl(const RECT& rect, CWnd* parent, CStageCtrl* stage, UINT id);
    ~CCursorCtrl() override;

    // The pointer moved over the stage: the point in the stage's client coordinates.
    virtual void OnMouseCursorMove(UINT flags, POINT point);
    POINT getCurrentPoint() const { return current_; }
    int getMoveCount() const { return moveCount_; }
    const std::string& getWindowName() const { return windowName_; }

    // IElementDisplay: setLocation moves the window to the point "x y" on the window's thread
    // (whether it is seen is the stage's choice); the others are traced.
    void setEntity(CSharedElement* entity) override;
    void setLocation(const std::string& location) override;
    void setSize(const std::string& size) override;
    void startMotion() override;
    void stopMotion() override;
    void setMotion(const std::string& motion) override;
    void setDecoration(const std::string& decoration) override;
    void setAttribute(const std::string& attribute) override;
    void setViewId(const std::string& viewId) override;
    void setViewData(unsigned size, const unsigned char* data, int width, int height) override;

protected:
    static const MessageEntry messageMap[];
    const MessageEntry* GetMessageMap() const override { return messageMap; }
    LRESULT OnCursorCtrlCommand(WPARAM wParam, LPARAM lParam);

private:
    void SetLocation(const std::string& location);

    CStageCtrl* stage_;   // not owned
    std::string windowName_;
    POINT current_ = {0, 0};
    int moveCount_ = 0;
};
