#include "CAnimateCtrl.h"

#include "AfxCommCtrl.h"

#include <commctrl.h>

BOOL CAnimateCtrl::Create(DWORD style, const RECT& rect, CWnd* parent, UINT id) {
    AfxRegisterCommonControls(ICC_ANIMATE_CLASS);
    return CreateEx(0, ANIMATE_CLASSA, "", style, rect, parent, id);
}

BOOL CAnimateCtrl::Open(UINT id, HINSTANCE module) {
    if (!module)
        module = GetModuleHandleA(nullptr);
    return static_cast<BOOL>(::SendMessageA(m_hWnd, ACM_OPENA, reinterpret_cast<WPARAM>(module),
                                            reinterpret_cast<LPARAM>(MAKEINTRESOURCEA(id))));
}

BOOL CAnimateCtrl::Close() {
    return static_cast<BOOL>(::SendMessageA(m_hWnd, ACM_OPENA, 0, 0));
}
