#pragma once
// The status control at the bottom of the main dialog: a picture of this terminal's role in the
// session (hosting, joined, not known yet) in the current skin, and a lamp in the terminal's
// colour.
#include "CDrawObject.h"

#include <CWnd.h>

class CStatusCtrl : public CWnd {
public:
    // outer in the parent's coordinates, lamp in the control's own. Made hidden (the parent
    // shows it); a control that cannot be made ends the process.
    CStatusCtrl(const RECT& outer, const RECT& lamp, CWnd* parent, UINT id);

    // The role picture of that skin (0 to 2: the caller keeps to them); repaints at once.
    void SetSkin(int skin);
    // Once called, the picture tells hosting (true) or joined (false).
    void SetRole(bool host);
    // The terminal's reference number, whose colour lights the lamp; repaints at once.
    void SetStatus(int status);

protected:
    static const MessageEntry messageMap[];
    const MessageEntry* GetMessageMap() const override { return messageMap; }
    void OnPaint();

private:
    CDrawObject picture_;
    RECT lamp_;
    int status_ = 0;
    int skin_ = 0;
    bool host_ = false;
    bool roleKnown_ = false;
};
