#pragma once
// Base of the skinned buttons: a child window that paints one of three pictures (normal,
// focused, pushed) after a five-state mouse state machine and calls OnSimpleBtnClick when a
// press is released over it. A derived button loads the pictures of a skin and acts on a click.
#include "CDrawObject.h"

#include <CPoint.h>
#include <CRect.h>
#include <CWnd.h>

class CSimpleBtn : public CWnd {
public:
    // The mouse states (their names are what trace lines print).
    enum : int {
        FREE = 0,               // away, not pressed: normal picture
        ON_CURSOR = 1,          // over it, not pressed: focused picture
        PUSHED = 2,             // pressed on it, still over it: pushed picture
        PUSHED_FREE = 3,        // pressed, moved off: normal picture
        PUSHED_ON_CURSOR = 4,   // pressed, moved off and back: normal picture
    };

    // A hidden child of the system's button class at windowRect in the parent; drawingRect (in
    // the button's own coordinates) is what counts as on the button. A button that cannot be
    // made ends the process.
    CSimpleBtn(const RECT& windowRect, const RECT& drawingRect, CWnd* parent, UINT id);
    ~CSimpleBtn() override;

    // While disabled nothing is drawn and no click is delivered; the states are still followed.
    void SetEnabled(bool enabled);
    bool IsEnabled() const { return enabled_; }
    int GetState() const { return state_; }

    // Loads the three pictures of the skin.
    virtual void SetSkin(int skin) = 0;
    // A click: the flags and client point of the releasing mouse message.
    virtual void OnSimpleBtnClick(UINT flags, CPoint point) = 0;

protected:
    static const MessageEntry messageMap[];
    const MessageEntry* GetMessageMap() const override { return messageMap; }
    void OnPaint();
    void OnButtonDown(UINT flags, POINT point);
    void OnButtonUp(UINT flags, POINT point);
    void OnMouseMove(UINT flags, POINT point);
    LRESULT OnCaptureChanged(WPARAM, LPARAM newCapture);
    // The system's button paints its own face on these: kept from it. The second press of a
    // double click gives no click, as with the system's buttons.
    LRESULT OnSwallowed(WPARAM, LPARAM);
    LRESULT OnDoubleClick(WPARAM, LPARAM point);

    CDrawObject m_normal;
    CDrawObject m_pushed;
    CDrawObject m_focused;
    int state_ = FREE;

private:
    bool isOnButton(POINT point) const;
    void redraw();
    void changeState(int state);
    // A state outside the table ends the process.
    [[noreturn]] void undefinedState(const char* where) const;

    bool enabled_ = true;
    CRect drawingRect_;
    // Where the last release let the capture go, until the next mouse message.
    bool releasedHere_ = false;
    POINT releasedAt_ = {0, 0};
};
