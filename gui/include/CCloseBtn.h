#pragma once
// The skinned close button at the main dialog's top right: a click asks the dialog to close,
// with the confirmations that closing needs.
#include "CSimpleBtn.h"

class CMainDlg;

class CCloseBtn : public CSimpleBtn {
public:
    CCloseBtn(const RECT& rect, CWnd* parent, CMainDlg* mainDialog, UINT id);

    // The pictures of skin 0, 1 or 2 (the dialog passes no other).
    void SetSkin(int skin) override;
    void OnSimpleBtnClick(UINT flags, CPoint point) override;

private:
    CMainDlg* mainDialog_;
};
