#pragma once
// The lamp inside the phone's power button: lit while voice packets pass, dark otherwise, with a
// listen mark under the dark lamp while others are in the phone; it moves one pixel right and
// down while the button is pressed.
//
// A window of the UI thread; setLEDStatus and SetListen may come from the voice threads and only
// store the value and invalidate the window.
#include <CBitmap.h>
#include <CRect.h>
#include <CWnd.h>

#include <atomic>

class CPhoneLED : public CWnd {
public:
    // The phone's lamp bitmaps by skin, as the power button passes them.
    static const int SKIN_COUNT = 3;
    static const char* const LIT_LIST[SKIN_COUNT];
    static const char* const DARK_LIST[SKIN_COUNT];

    // The bitmap names by skin (the skin's digit ends each), skinCount of each; skin 0 is
    // loaded, and the rectangle is (x, y) with the lit bitmap's size.
    CPhoneLED(int x, int y, const char* const* litList, const char* const* darkList, int skinCount, CWnd* parent,
              UINT id);
    ~CPhoneLED() override;

    // The child window "phone LED", shown at its rectangle on top of its siblings; a window
    // that cannot be made ends the process.
    bool Create();
    // 0 .. skin count - 1, else a fatal assertion.
    void SetSkin(int skin);
    // 0 lit, any other value dark.
    void setLEDStatus(int status);
    void SetListen(bool listen);
    // While the button is pressed: (x + 1, y + 1), one pixel shorter.
    void MoveToRightDown();
    // Back at the rectangle.
    void RestoreLocation();

    int getLEDStatus() const { return m_status; }
    bool isListening() const { return m_listen; }
    const CRect& getRect() const { return m_rect; }

protected:
    static const MessageEntry messageMap[];
    const MessageEntry* GetMessageMap() const override { return messageMap; }
    int OnCreate(CREATESTRUCTA* cs);
    void OnPaint();

private:
    void load(int skin);
    // Invalidates the window when it exists; safe from any thread.
    void invalidate(bool erase);

    const char* const* m_litList;
    const char* const* m_darkList;
    int m_skinCount;
    CBitmap m_lit;
    CBitmap m_dark;
    CRect m_rect;
    CWnd* m_parent;
    UINT m_id;
    std::atomic<int> m_status{1};
    std::atomic<bool> m_listen{false};
};
