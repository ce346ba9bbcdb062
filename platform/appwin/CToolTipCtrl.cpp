#include "CToolTipCtrl.h"

#include "AfxCommCtrl.h"

#include <commctrl.h>

BOOL CToolTipCtrl::Create(CWnd* parent, DWORD style) {
    AfxRegisterCommonControls(ICC_WIN95_CLASSES);
    return CreateEx(0, TOOLTIPS_CLASSA, nullptr, WS_POPUP | style, CW_USEDEFAULT, CW_USEDEFAULT,
                    CW_USEDEFAULT, CW_USEDEFAULT, parent ? parent->m_hWnd : nullptr, nullptr);
}
