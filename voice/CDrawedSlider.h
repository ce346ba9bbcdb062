#pragma once
// The phone panel's speaker-volume slider: a standard horizontal trackbar that paints itself
// from skin bitmaps (background, thumb and thumb mask), and only while the panel's cover does
// not hide it. When the application's outside automation objects are in use it also hands its
// window to the outside object "KeldarOrvalis.KeepOriginalUI"; it works the same without it.
//
// UI thread only.
#include <CBitmap.h>
#include <COleDispatchDriver.h>
#include <CRect.h>
#include <CSliderCtrl.h>

class CDC;
class CPhoneCtrl;

class CDrawedSlider : public CSliderCtrl {
public:
    static const UINT CONTROL_ID = 2000;
    static const char AUTOMATION_PROGID[];

    // The thumb bitmaps by skin (skinCount of them), the mask and background of every skin;
    // parent the panel.
    CDrawedSlider(int x, int y, const char* const* thumbList, const char* maskName, const char* backgroundName,
                  int skinCount, CPhoneCtrl* parent);
    ~CDrawedSlider() override;

    // The trackbar child of the panel at the rectangle, shown once made.
    BOOL CreateSlider();
    void SetSkin(int skin);
    void setPosAndRedraw(int position);
    // The slider as it looks into the target's top-left corner, cut to the target's size.
    void DrawSlider(CDC* dc, const CRect& target);
    const CRect& getRect() const { return m_rect; }
    // Whether the outside object was made and told of the window.
    bool hasAutomationObject() const { return m_automation.m_lpDispatch != nullptr; }

protected:
    static const MessageEntry messageMap[];
    const MessageEntry* GetMessageMap() const override { return messageMap; }
    int OnCreate(CREATESTRUCTA* cs);
    void OnPaint();
    LRESULT OnEraseBkgnd(WPARAM, LPARAM);
    void OnHScroll(UINT code, UINT position);

    CBitmap m_thumb;
    CBitmap m_mask;
    CBitmap m_background;

private:
    void loadThumb(int skin);

    const char* const* m_thumbList;
    int m_skinCount;
    CSize m_thumbSize;
    CSize m_backgroundSize;
    CRect m_rect;
    CPhoneCtrl* m_parent;
    COleDispatchDriver m_automation;
};
