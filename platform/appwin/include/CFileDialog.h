#pragma once
// The system's open or save file dialog, run modally. The caller may adjust m_ofn (its initial
// folder, say) between construction and DoModal.
#include <windows.h>
#include <commdlg.h>

#include <string>

class CWnd;

class CFileDialog {
public:
    // filter: pairs of a name and its patterns, each part ended by "|", the whole by "||"
    // ("Picture File (*.jpg)|*.jpg||"). Without a parent the calling thread's main window
    // owns the dialog.
    explicit CFileDialog(BOOL openFileDialog, LPCSTR defaultExtension = nullptr,
                         LPCSTR fileName = nullptr,
                         DWORD flags = OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT,
                         LPCSTR filter = nullptr, CWnd* parent = nullptr);
    virtual ~CFileDialog() = default;
    CFileDialog(const CFileDialog&) = delete;
    CFileDialog& operator=(const CFileDialog&) = delete;

    // IDOK when the user chose a file, IDCANCEL when the dialog was cancelled or failed.
    virtual INT_PTR DoModal();
    // The chosen file's full path.
    std::string GetPathName() const;

    OPENFILENAMEA m_ofn;

    // The system's dialog: the open or save call of the common dialogs, given the structure
    // DoModal filled. Tests put their own in its place; the previous one is returned.
    using Chooser = BOOL (*)(OPENFILENAMEA* ofn, BOOL open);
    static Chooser ReplaceChooser(Chooser chooser);

private:
    BOOL m_bOpenFileDialog;
    std::string m_strFilter;        // the filter with NULs for the "|"s
    std::string m_strDefExt;
    char m_szFileName[MAX_PATH * 2];
    CWnd* m_pParentWnd;
};
