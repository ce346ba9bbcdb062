#pragma once
// Data exchange between a dialog's members and its controls (CDialog::DoDataExchange), and its
// validation.
//
// Loading (m_bSaveAndValidate FALSE) writes the members into the controls; saving reads them back
// and validates them. A refusal puts the focus on the control (an edit's text selected) and ends
// the exchange: UpdateData then answers FALSE.
#include <windows.h>

#include <string>

class CWnd;

class CDataExchange {
public:
    // What Fail throws; UpdateData catches it.
    struct Refused {};

    CDataExchange(CWnd* dialog, BOOL saveAndValidate);

    // The control of that id, remembered as the one a following validation concerns.
    HWND PrepareCtrl(int id);
    HWND PrepareEditCtrl(int id);
    // Refuses the exchange: the last prepared control gets the focus; does not return (throws
    // what UpdateData catches).
    [[noreturn]] void Fail();

    CWnd* m_pDlgWnd;
    BOOL m_bSaveAndValidate;
    HWND m_hWndLastControl = nullptr;
    bool m_bEditLastControl = false;
};

// The text of control id, both ways.
void DDX_Text(CDataExchange* dx, int id, std::string& value);
// Binds control id to the object once (its messages through the object's map).
void DDX_Control(CDataExchange* dx, int id, CWnd& control);
// Loading: the last edit's limit becomes maxChars. Saving: a longer value is refused.
void DDV_MaxChars(CDataExchange* dx, const std::string& value, int maxChars);
