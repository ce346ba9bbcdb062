#include "CAboutDlg.h"

namespace {
const UINT TEMPLATE = 216;
}

CAboutDlg::CAboutDlg() : CDialog(TEMPLATE) {}
