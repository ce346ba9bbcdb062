#pragma once
// The skinned minimize button beside the close button: a click minimises the main dialog.
#include "CSimpleBtn.h"

class CMainDlg;

class CMinimizeBtn : public CSimpleBtn {
public:
    CMinimizeBtn(const RECT& rect, CWnd* parent, CMainDlg* mainDialog, UINT id);

    // The pictures of skin 0, 1 or 2 (the dialog passes no other).
    void SetSkin(int skin) override;
    void OnSimpleBtnClick(UINT flags, CPoint point) override;

private:
    CMainDlg* mainDialog_;
};
