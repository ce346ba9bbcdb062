#pragma once
// Static control ("STATIC").
#include "CWnd.h"

class CStatic : public CWnd {
public:
    BOOL Create(LPCSTR text, DWORD style, const RECT& rect, CWnd* parent, UINT id = 0xffff);
};
