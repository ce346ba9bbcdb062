#pragma once
// Edit control ("EDIT").
#include "CWnd.h"

#include <string>

class CEdit : public CWnd {
public:
    BOOL Create(DWORD style, const RECT& rect, CWnd* parent, UINT id);

    // Characters start to end (-1, -1: none; 0, -1: all).
    void SetSel(int start, int end, BOOL noScroll = FALSE);
    void GetSel(int& start, int& end) const;
    void ReplaceSel(LPCSTR text, BOOL canUndo = FALSE);
    void LimitText(int maxChars = 0);
    UINT GetLimitText() const;
};
