#include "CMinimizeBtn.h"

#include "CMainDlg.h"

#include <string>

namespace {
CRect drawingRectOf(const RECT& rect)
{
    return CRect(0, 0, rect.right - rect.left, rect.bottom - rect.top);
}
} // namespace

CMinimizeBtn::CMinimizeBtn(const RECT& rect, CWnd* parent, CMainDlg* mainDialog, UINT id)
    : CSimpleBtn(rect, drawingRectOf(rect), parent, id), mainDialog_(mainDialog)
{
}

void CMinimizeBtn::SetSkin(int skin)
{
    const std::string digit = std::to_string(skin);
    m_normal.loadBitmap("IDB_MINIBTN_NORMAL" + digit);
    m_focused.loadBitmap("IDB_MINIBTN_FOCUSED" + digit);
    m_pushed.loadBitmap("IDB_MINIBTN_PUSHED" + digit);
    Invalidate(TRUE);
    UpdateWindow();
}

void CMinimizeBtn::OnSimpleBtnClick(UINT, CPoint)
{
    mainDialog_->ShowWindow(SW_MINIMIZE);
}
