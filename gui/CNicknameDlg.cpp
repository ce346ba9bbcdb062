#include "CNicknameDlg.h"

#include <CDataExchange.h>

namespace {
const UINT TEMPLATE = 242;
const int EDIT = 1023;
// What the session shows of a nickname.
const int MAX_CHARS = 255;
}

CNicknameDlg::CNicknameDlg(CWnd* parent) : CDialog(TEMPLATE, parent) {}

void CNicknameDlg::DoDataExchange(CDataExchange* dx)
{
    CDialog::DoDataExchange(dx);
    DDX_Control(dx, EDIT, edit_);
    DDX_Text(dx, EDIT, m_nickname);
    DDV_MaxChars(dx, m_nickname, MAX_CHARS);
}
