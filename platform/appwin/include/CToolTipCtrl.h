#pragma once
// Tooltip control ("tooltips_class32"): a popup owned by its parent window.
#include "CWnd.h"

class CToolTipCtrl : public CWnd {
public:
    // style: TTS_ALWAYSTIP, TTS_NOPREFIX, ... (WS_POPUP is added).
    BOOL Create(CWnd* parent, DWORD style = 0);
};
