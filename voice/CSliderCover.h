#pragma once
// The cover over the phone panel's volume slider: closed while the phone is off, it slides to
// the right in one second when the phone is switched on (revealing the slider strip by strip)
// and back when it is switched off. When a movement ends the panel's power button is enabled
// again.
//
// UI thread only.
#include <CBitmap.h>
#include <CRect.h>
#include <CWnd.h>

class CPhoneCtrl;

class CSliderCover : public CWnd {
public:
    enum : int { CLOSED = 0, OPENING = 1, OPEN = 2, CLOSING = 3 };
    static const UINT_PTR TIMER_ID = 1;
    // One-shot ticks, re-armed after each; the movement follows the clock, not the tick rate.
    static const UINT TICK_MS = 5;
    // A movement takes this long whatever the cover's width.
    static const DWORD MOVE_MS = 1000;
    // Past this offset the cover counts as open.
    static const unsigned OPEN_OFFSET = 130;

    // The cover bitmaps by skin (skinCount of them), the panel's look under the cover; parent
    // the panel. Each argument that is missing or empty ends the process (assertion).
    CSliderCover(int x, int y, const char* const* coverList, const char* backgroundName, int skinCount,
                 CPhoneCtrl* parent, UINT id);
    ~CSliderCover() override;

    // The child window "slider cover"; a window that cannot be made ends the process.
    bool Create();
    void SetSkin(int skin);
    // From CLOSED only.
    void Open();
    // From OPEN only.
    void Close();
    int GetState() const { return m_state; }
    unsigned getOffset() const { return m_offset; }
    const CRect& getRect() const { return m_rect; }

    // Where the animation reads the time; null restores GetTickCount. For tests.
    using TickSource = DWORD (*)();
    static void setTickSource(TickSource source);

protected:
    static const MessageEntry messageMap[];
    const MessageEntry* GetMessageMap() const override { return messageMap; }
    int OnCreate(CREATESTRUCTA* cs);
    void OnPaint();
    void OnTimer(UINT_PTR id);
    void OnDestroy();

    // The cover's bitmap at the current skin, and the panel under it.
    CBitmap m_cover;
    CBitmap m_background;
    // From the cover bitmap.
    int m_width = 0;
    int m_height = 0;
    // Takes the bitmap over as the cover, its size the cover's.
    void setCoverBitmap(HBITMAP bitmap);

private:
    static DWORD now();
    // The part from the previous offset - 1 to the right edge, painted at once.
    void invalidateFrom(unsigned previous);
    void endMovement(int state, unsigned offset);

    const char* const* m_coverList;
    int m_skinCount;
    CPhoneCtrl* m_parent;
    UINT m_id;
    CRect m_rect;
    int m_state = CLOSED;
    unsigned m_offset = 0;
    DWORD m_start = 0;
};
