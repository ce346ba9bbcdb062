#pragma once
// Rich-edit control, version 2.0 ("RichEdit20A"); its library is loaded on first use.
#include "CWnd.h"

#include <richedit.h>

#include <string>

class CRichEditCtrl : public CWnd {
public:
    // FALSE as well when "RICHED20.DLL" cannot be loaded.
    BOOL Create(DWORD style, const RECT& rect, CWnd* parent, UINT id);

    // ENM_* flags; the mask before.
    DWORD SetEventMask(DWORD mask);
    DWORD GetEventMask() const;
    BOOL SetDefaultCharFormat(CHARFORMATA& format);
    // The format of the selection (of the caret's place when nothing is selected).
    BOOL SetSelectionCharFormat(CHARFORMATA& format);
    // Fills format (its cbSize set here) and returns its dwMask: the parts that are the same
    // over the whole selection.
    DWORD GetSelectionCharFormat(CHARFORMATA& format) const;
    // The colour before.
    COLORREF SetBackgroundColor(BOOL systemColour, COLORREF colour);
    BOOL SetReadOnly(BOOL readOnly = TRUE);
    // Characters start to end (0, -1: all; -1: no selection, the caret at the end).
    void SetSel(long start, long end);
    void GetSel(long& start, long& end) const;
    void ReplaceSel(LPCSTR text, BOOL canUndo = FALSE);
    int GetLineCount() const;
    // The first character of the line (-1: the caret's line); -1 past the last line.
    int LineIndex(int line = -1) const;
    long GetTextLength() const;
    std::string GetSelText() const;
    // The selection to the clipboard.
    void Copy();
};
