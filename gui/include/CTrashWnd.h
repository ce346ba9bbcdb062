#pragma once
// The trash on the main dialog, onto which a content is dragged to remove it: a picture that
// lights (ON) while a content hovers over it and is idle (OFF) otherwise, in the current skin.
#include <CBitmap.h>
#include <CRect.h>
#include <CWnd.h>

class CTrashWnd : public CWnd {
public:
    // At (x, y) of the parent, as large as the skin-0 ON picture; idle.
    CTrashWnd(int x, int y, CWnd* parent, UINT id);

    // Makes the window, on top of its siblings and shown; one that cannot be made ends the
    // process, so the answer is true.
    bool Create();
    // 0 shows ON, any other value OFF.
    void SetState(int state);
    // The pictures of skin 0, 1 or 2 (anything else fails an assertion); the size stays.
    void SetSkin(int skin);

protected:
    static const MessageEntry messageMap[];
    const MessageEntry* GetMessageMap() const override { return messageMap; }
    int OnCreate(CREATESTRUCTA* cs);
    void OnPaint();

private:
    void load(int skin);

    CBitmap on_;
    CBitmap off_;
    CRect rect_;
    CWnd* parent_;
    UINT id_;
    int state_ = 1;
};
