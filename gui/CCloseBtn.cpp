#include "CCloseBtn.h"

#include "CMainDlg.h"

#include <string>

namespace {
CRect drawingRectOf(const RECT& rect)
{
    return CRect(0, 0, rect.right - rect.left, rect.bottom - rect.top);
}
} // namespace

CCloseBtn::CCloseBtn(const RECT& rect, CWnd* parent, CMainDlg* mainDialog, UINT id)
    : CSimpleBtn(rect, drawingRectOf(rect), parent, id), mainDialog_(mainDialog)
{
}

void CCloseBtn::SetSkin(int skin)
{
    const std::string digit = std::to_string(skin);
    m_normal.loadBitmap("IDB_CLOSEBTN_NORMAL" + digit);
    m_focused.loadBitmap("IDB_CLOSEBTN_FOCUSED" + digit);
    m_pushed.loadBitmap("IDB_CLOSEBTN_PUSHED" + digit);
    Invalidate(TRUE);
    UpdateWindow();
}

void CCloseBtn::OnSimpleBtnClick(UINT, CPoint)
{
    mainDialog_->Close();
}
