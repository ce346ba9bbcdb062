#pragma once
// The version dialog: the resource's texts and the program icon; OK ends it. Without a parent
// of its own the thread's main window owns it.
#include <CDialog.h>

class CAboutDlg : public CDialog {
public:
    CAboutDlg();
};
