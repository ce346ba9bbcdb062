#pragma once
// The DC of a WM_PAINT handler: BeginPaint when made, EndPaint when it goes.
#include "CDC.h"

class CWnd;

class CPaintDC : public CDC {
public:
    explicit CPaintDC(CWnd* wnd);
    ~CPaintDC() override;

    PAINTSTRUCT m_ps{};

private:
    HWND m_hWnd;
};
