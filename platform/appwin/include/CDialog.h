#pragma once
// Dialog from a template of the resource module (AfxGetResourceHandle): modeless (Create) or
// modal (DoModal). The window is bound to the object before its WM_INITDIALOG. Without a parent
// the calling thread's main window owns it; DoModal disables the owner until the dialog ends.
#include "CDataExchange.h"
#include "CWnd.h"

class CDialog : public CWnd {
public:
    explicit CDialog(UINT templateId, CWnd* parent = nullptr);
    ~CDialog() override;

    // A modeless dialog; FALSE when the template is missing or the window cannot be made.
    BOOL Create(UINT templateId, CWnd* parent = nullptr);
    // Runs the dialog in a loop of its own until EndDialog; its value, or -1 when the dialog
    // cannot be made. A handler's exception ends the dialog and comes out of here.
    virtual INT_PTR DoModal();
    // Ends a modal dialog with the value; hides a modeless one.
    void EndDialog(int result);

    // Exchanges data with the controls (DoDataExchange): save TRUE reads and validates them.
    // FALSE when validation refused.
    BOOL UpdateData(BOOL saveAndValidate = TRUE);

    // The dialog keys (Tab, Enter, Esc, ...) of a message to the dialog or one of its controls.
    BOOL PreTranslateMessage(MSG* msg) override;

protected:
    // UpdateData(FALSE); TRUE gives the focus to the first control.
    virtual BOOL OnInitDialog();
    virtual void DoDataExchange(CDataExchange* dx);
    // IDOK: UpdateData(TRUE), then EndDialog(IDOK) when that succeeded.
    virtual void OnOK();
    // IDCANCEL: EndDialog(IDCANCEL).
    virtual void OnCancel();

    static const MessageEntry messageMap[];
    const MessageEntry* GetMessageMap() const override { return messageMap; }

    UINT m_nIDHelp;   // the template id

private:
    LRESULT HandleInitDialog(WPARAM, LPARAM);
    const DLGTEMPLATE* loadTemplate(UINT templateId) const;
    HWND ownerWindow(CWnd* parent) const;
    void runModalLoop();

    CWnd* m_pParentWnd;
    bool m_bModal = false;
    bool m_bEnded = false;
    INT_PTR m_nModalResult = -1;
};
