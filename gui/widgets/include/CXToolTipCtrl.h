#pragma once
// The tooltip of the content windows: texts of several lines, shown also while the parent is
// inactive, ampersands as they stand.
#include <CToolTipCtrl.h>

#include <string>

class CXToolTipCtrl : public CToolTipCtrl {
public:
    // TTS_ALWAYSTIP | TTS_NOPREFIX.
    BOOL Create(CWnd* parent);
    // The tip of the window itself (its mouse messages reach the tooltip through subclassing).
    // A window that has its tool already gets the new text in place of the old, so a changed
    // text shows and no second tool is added. The platform's result: TRUE when set.
    BOOL AddTool(CWnd* window, const std::string& text);
};
