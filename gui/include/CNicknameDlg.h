#pragma once
// The nickname dialog: one edit of at most 255 characters. The caller sets m_nickname, runs the
// dialog modally and, after OK, reads it back.
#include <CDialog.h>
#include <CEdit.h>

#include <string>

class CNicknameDlg : public CDialog {
public:
    explicit CNicknameDlg(CWnd* parent);

    std::string m_nickname;

protected:
    void DoDataExchange(CDataExchange* dx) override;

private:
    CEdit edit_;
};
