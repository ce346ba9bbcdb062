#pragma once
// A bitmap button drawn from three images (normal, cursor over it, pushed) with its own
// five-state mouse machine and mouse capture. A derived button loads the images of a skin, acts
// on a click and watches the state changes.
//
// UI thread only.
#include "CDrawObject.h"

#include <CPoint.h>
#include <CRect.h>
#include <CWnd.h>

class CDrawedBtn : public CWnd {
public:
    // The mouse states; trace lines print their names.
    enum : int {
        FREE = 0,               // idle, cursor elsewhere: normal image
        ON_CURSOR = 1,          // cursor over it, not pressed: cursor image
        PUSHED = 2,             // pressed with the cursor on it: pushed image
        PUSHED_FREE = 3,        // pressed, cursor moved off: normal image
        PUSHED_ON_CURSOR = 4,   // pressed, cursor moved off and back on: normal image
    };

    // windowRect in the parent; hitRect, in the button's client coordinates, is the part that
    // counts as the button.
    CDrawedBtn(const RECT& windowRect, const RECT& hitRect, CWnd* parent, UINT id);
    ~CDrawedBtn() override;

    // The child window, shown on top of its siblings; a window that cannot be made ends the
    // process.
    bool Create();
    // Invalidates the whole window (erasing) and paints it at once.
    void Redraw();
    int GetState() const { return m_state; }

    // Loads the images of the skin.
    virtual void SetSkin(int skin) = 0;
    // A press released over the button: the flags and client point of the button-up.
    virtual void OnSimpleBtnClick(UINT flags, CPoint point) = 0;
    // Every state change, with the new state, before the button is redrawn.
    virtual void OnStateChange(int state) = 0;

protected:
    static const MessageEntry messageMap[];
    const MessageEntry* GetMessageMap() const override { return messageMap; }
    int OnCreate(CREATESTRUCTA* cs);
    void OnLButtonDown(UINT flags, POINT point);
    void OnMouseMove(UINT flags, POINT point);
    void OnLButtonUp(UINT flags, POINT point);
    LRESULT OnCaptureChanged(WPARAM, LPARAM newCapture);
    void OnPaint();
    LRESULT OnEraseBkgnd(WPARAM dc, LPARAM);

    CDrawObject m_normal;
    CDrawObject m_cursor;
    CDrawObject m_pushed;
    int m_state = FREE;

private:
    bool isInside(POINT point) const;
    void changeState(int state);
    // Ends the process when the state is none of the five.
    void checkState(const char* where) const;

    CRect m_windowRect;
    CRect m_hitRect;
    CWnd* m_parent;
    UINT m_id;
};
