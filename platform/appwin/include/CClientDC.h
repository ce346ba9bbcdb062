#pragma once
// The DC of a window's client area (of the screen for a null window), released when it goes.
#include "CDC.h"

class CWnd;

class CClientDC : public CDC {
public:
    explicit CClientDC(CWnd* wnd);
    ~CClientDC() override;

private:
    HWND m_hWnd;
};
