#include "CFileDialog.h"

#include "CWinThread.h"
#include "CWnd.h"

#include <atomic>
#include <cstring>

namespace {
BOOL systemChooser(OPENFILENAMEA* ofn, BOOL open) {
    return open ? GetOpenFileNameA(ofn) : GetSaveFileNameA(ofn);
}

std::atomic<CFileDialog::Chooser> g_chooser{&systemChooser};
}  // namespace

CFileDialog::CFileDialog(BOOL openFileDialog, LPCSTR defaultExtension, LPCSTR fileName,
                         DWORD flags, LPCSTR filter, CWnd* parent)
    : m_ofn(), m_bOpenFileDialog(openFileDialog), m_szFileName(), m_pParentWnd(parent) {
    m_ofn.lStructSize = sizeof m_ofn;
    m_ofn.Flags = flags | OFN_EXPLORER | OFN_ENABLESIZING;
    if (defaultExtension) {
        m_strDefExt = defaultExtension;
        m_ofn.lpstrDefExt = m_strDefExt.c_str();
    }
    if (fileName) {
        // A longer name than the buffer is cut: the dialog takes what fits.
        strncpy(m_szFileName, fileName, sizeof m_szFileName - 1);
    }
    m_ofn.lpstrFile = m_szFileName;
    m_ofn.nMaxFile = sizeof m_szFileName;
    if (filter) {
        m_strFilter = filter;
        for (char& c : m_strFilter) {
            if (c == '|')
                c = '\0';
        }
        // The list ends with two NULs whether or not the caller closed it with "||".
        m_strFilter.append(2, '\0');
        m_ofn.lpstrFilter = m_strFilter.c_str();
        m_ofn.nFilterIndex = 1;
    }
}

INT_PTR CFileDialog::DoModal() {
    HWND owner = m_pParentWnd ? m_pParentWnd->m_hWnd : nullptr;
    if (!owner) {
        CWinThread* thread = AfxGetThread();
        if (thread && thread->m_pMainWnd)
            owner = thread->m_pMainWnd->m_hWnd;
    }
    m_ofn.hwndOwner = owner;
    return g_chooser.load()(&m_ofn, m_bOpenFileDialog) ? IDOK : IDCANCEL;
}

std::string CFileDialog::GetPathName() const {
    // The caller may have given m_ofn a buffer of its own.
    if (!m_ofn.lpstrFile || m_ofn.nMaxFile == 0)
        return std::string();
    return std::string(m_ofn.lpstrFile, strnlen(m_ofn.lpstrFile, m_ofn.nMaxFile));
}

CFileDialog::Chooser CFileDialog::ReplaceChooser(Chooser chooser) {
    return g_chooser.exchange(chooser ? chooser : &systemChooser);
}
