#include "CDialog.h"

#include "AfxCommCtrl.h"
#include "CWinApp.h"
#include "CWinThread.h"

#include <commctrl.h>

const CWnd::MessageEntry CDialog::messageMap[] = {
    on<WM_INITDIALOG, &CDialog::HandleInitDialog>(),
    onCommand<IDOK, &CDialog::OnOK>(),
    onCommand<IDCANCEL, &CDialog::OnCancel>(),
    endOfMap(CWnd::messageMap),
};

CDialog::CDialog(UINT templateId, CWnd* parent) : m_nIDHelp(templateId), m_pParentWnd(parent) {}

CDialog::~CDialog() = default;

const DLGTEMPLATE* CDialog::loadTemplate(UINT templateId) const {
    HINSTANCE module = AfxGetResourceHandle();
    HRSRC found = FindResourceA(module, MAKEINTRESOURCEA(templateId), MAKEINTRESOURCEA(5) /* RT_DIALOG */);
    if (!found)
        return nullptr;
    HGLOBAL loaded = LoadResource(module, found);
    return loaded ? static_cast<const DLGTEMPLATE*>(LockResource(loaded)) : nullptr;
}

HWND CDialog::ownerWindow(CWnd* parent) const {
    HWND owner = parent ? parent->m_hWnd : nullptr;
    if (!owner) {
        CWinThread* thread = AfxGetThread();
        if (thread && thread->m_pMainWnd && thread->m_pMainWnd != this)
            owner = thread->m_pMainWnd->m_hWnd;
    }
    // A child cannot own a popup: its top-level window does.
    while (owner && (GetWindowLongPtrA(owner, GWL_STYLE) & WS_CHILD))
        owner = ::GetParent(owner);
    return owner;
}

BOOL CDialog::Create(UINT templateId, CWnd* parent) {
    m_nIDHelp = templateId;
    if (parent)
        m_pParentWnd = parent;
    const DLGTEMPLATE* dialogTemplate = loadTemplate(templateId);
    if (!dialogTemplate)
        return FALSE;
    // Templates name the common controls by class.
    AfxRegisterCommonControls(ICC_WIN95_CLASSES);
    m_bModal = false;
    m_bEnded = false;
    return CreateDlgIndirect(dialogTemplate, ownerWindow(m_pParentWnd), AfxGetResourceHandle());
}

INT_PTR CDialog::DoModal() {
    const DLGTEMPLATE* dialogTemplate = loadTemplate(m_nIDHelp);
    if (!dialogTemplate || m_hWnd)
        return -1;
    AfxRegisterCommonControls(ICC_WIN95_CLASSES);
    HWND owner = ownerWindow(m_pParentWnd);
    bool enableOwner = false;
    if (owner && ::IsWindowEnabled(owner)) {
        ::EnableWindow(owner, FALSE);
        enableOwner = true;
    }
    m_bModal = true;
    m_bEnded = false;
    m_nModalResult = -1;
    auto finish = [&] {
        // The owner is enabled again before the dialog goes, so that it gets the activation.
        if (enableOwner)
            ::EnableWindow(owner, TRUE);
        if (m_hWnd) {
            ::SetWindowPos(m_hWnd, nullptr, 0, 0, 0, 0,
                           SWP_HIDEWINDOW | SWP_NOSIZE | SWP_NOMOVE | SWP_NOACTIVATE | SWP_NOZORDER);
            if (owner && ::GetActiveWindow() == m_hWnd)
                ::SetActiveWindow(owner);
            DestroyWindow();
        }
        m_bModal = false;
    };
    try {
        if (CreateDlgIndirect(dialogTemplate, owner, AfxGetResourceHandle()) && !m_bEnded) {
            if (!(GetStyle() & WS_VISIBLE))
                ShowWindow(SW_SHOWNORMAL);
            runModalLoop();
        }
    } catch (...) {
        finish();
        throw;
    }
    finish();
    return m_nModalResult;
}

void CDialog::runModalLoop() {
    while (!m_bEnded && m_hWnd) {
        MSG msg;
        BOOL got = GetMessageA(&msg, nullptr, 0, 0);
        rethrowPending();   // from a handler that another thread's send ran in GetMessage
        if (got == 0) {
            // The thread's own loop must end too.
            PostQuitMessage(static_cast<int>(msg.wParam));
            break;
        }
        if (got == -1)
            break;
        CWinThread* thread = AfxGetThread();
        BOOL handled = thread ? thread->PreTranslateMessage(&msg) : WalkPreTranslateTree(&msg);
        rethrowPending();
        if (!handled) {
            TranslateMessage(&msg);
            dispatch(msg);
        }
    }
}

void CDialog::EndDialog(int result) {
    if (!m_hWnd)
        return;
    m_nModalResult = result;
    m_bEnded = true;
    ::ShowWindow(m_hWnd, SW_HIDE);
    // Wakes the modal loop when this ran in a message sent from elsewhere.
    ::PostMessageA(m_hWnd, WM_NULL, 0, 0);
}

BOOL CDialog::UpdateData(BOOL saveAndValidate) {
    if (!m_hWnd)
        return FALSE;
    CDataExchange dx(this, saveAndValidate);
    try {
        DoDataExchange(&dx);
    } catch (const CDataExchange::Refused&) {
        return FALSE;
    }
    return TRUE;
}

BOOL CDialog::PreTranslateMessage(MSG* msg) {
    if (msg->message < WM_KEYFIRST || msg->message > WM_KEYLAST || !m_hWnd)
        return FALSE;
    if (msg->hwnd != m_hWnd && !::IsChild(m_hWnd, msg->hwnd))
        return FALSE;
    BOOL handled = ::IsDialogMessageA(m_hWnd, msg);
    rethrowPending();   // from a command handler that the dialog manager ran
    return handled;
}

BOOL CDialog::OnInitDialog() {
    UpdateData(FALSE);
    return TRUE;
}

void CDialog::DoDataExchange(CDataExchange*) {}

void CDialog::OnOK() {
    if (!UpdateData(TRUE))
        return;
    EndDialog(IDOK);
}

void CDialog::OnCancel() {
    EndDialog(IDCANCEL);
}

LRESULT CDialog::HandleInitDialog(WPARAM, LPARAM) {
    return OnInitDialog();
}
