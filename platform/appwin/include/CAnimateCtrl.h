#pragma once
// Animation control ("SysAnimate32"): plays an AVI clip. Without ACS_CENTER it takes the size of
// the clip's frames when the clip is opened.
#include "CWnd.h"

class CAnimateCtrl : public CWnd {
public:
    BOOL Create(DWORD style, const RECT& rect, CWnd* parent, UINT id);

    // The AVI resource of that id in the module (null: the program's own module); TRUE when the
    // clip is open.
    BOOL Open(UINT id, HINSTANCE module = nullptr);
    BOOL Close();
};
