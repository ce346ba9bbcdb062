#pragma once
// Progress bar ("msctls_progress32").
#include "CWnd.h"

class CProgressCtrl : public CWnd {
public:
    BOOL Create(DWORD style, const RECT& rect, CWnd* parent, UINT id);

    void SetRange(short lower, short upper);
    void GetRange(int& lower, int& upper) const;
    // The position before.
    int SetPos(int position);
    int GetPos() const;
};
