#include "CDataExchange.h"

#include "CWnd.h"

CDataExchange::CDataExchange(CWnd* dialog, BOOL saveAndValidate)
    : m_pDlgWnd(dialog), m_bSaveAndValidate(saveAndValidate) {}

HWND CDataExchange::PrepareCtrl(int id) {
    m_hWndLastControl = m_pDlgWnd ? m_pDlgWnd->GetDlgItem(id) : nullptr;
    m_bEditLastControl = false;
    return m_hWndLastControl;
}

HWND CDataExchange::PrepareEditCtrl(int id) {
    HWND control = PrepareCtrl(id);
    m_bEditLastControl = true;
    return control;
}

void CDataExchange::Fail() {
    if (m_bSaveAndValidate && m_hWndLastControl) {
        ::SetFocus(m_hWndLastControl);
        if (m_bEditLastControl)
            ::SendMessageA(m_hWndLastControl, EM_SETSEL, 0, -1);
    }
    throw Refused{};
}

void DDX_Text(CDataExchange* dx, int id, std::string& value) {
    HWND control = dx->PrepareEditCtrl(id);
    if (!control)
        return;
    if (dx->m_bSaveAndValidate) {
        int length = ::GetWindowTextLengthA(control);
        std::string text(static_cast<size_t>(length > 0 ? length : 0) + 1, '\0');
        int got = ::GetWindowTextA(control, &text[0], static_cast<int>(text.size()));
        text.resize(got > 0 ? static_cast<size_t>(got) : 0);
        value = text;
    } else {
        ::SetWindowTextA(control, value.c_str());
    }
}

void DDX_Control(CDataExchange* dx, int id, CWnd& control) {
    if (control.m_hWnd)
        return;
    control.SubclassDlgItem(static_cast<UINT>(id), dx->m_pDlgWnd);
}

void DDV_MaxChars(CDataExchange* dx, const std::string& value, int maxChars) {
    if (dx->m_bSaveAndValidate) {
        if (value.size() > static_cast<size_t>(maxChars))
            dx->Fail();
    } else if (dx->m_hWndLastControl && dx->m_bEditLastControl) {
        ::SendMessageA(dx->m_hWndLastControl, EM_LIMITTEXT, static_cast<WPARAM>(maxChars), 0);
    }
}
