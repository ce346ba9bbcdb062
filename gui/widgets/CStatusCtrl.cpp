#include "CStatusCtrl.h"

#include "CTrace.h"

#include <CPaintDC.h>

namespace {

const char SCOPE[] = "CStatusCtrl";
const int SKINS = 3;
const char* const HOST_PICTURES[SKINS] = {"IDB_STATUSCTRL_S0", "IDB_STATUSCTRL_S1", "IDB_STATUSCTRL_S2"};
const char* const JOINED_PICTURES[SKINS] = {"IDB_STATUSCTRL_C0", "IDB_STATUSCTRL_C1", "IDB_STATUSCTRL_C2"};
const char* const NO_ROLE_PICTURES[SKINS] = {"IDB_STATUSCTRL_N0", "IDB_STATUSCTRL_N1", "IDB_STATUSCTRL_N2"};

} // namespace

const CWnd::MessageEntry CStatusCtrl::messageMap[] = {
    on<WM_PAINT, &CStatusCtrl::OnPaint>(),
    endOfMap(CWnd::messageMap),
};

CStatusCtrl::CStatusCtrl(const RECT& outer, const RECT& lamp, CWnd* parent, UINT id) : lamp_(lamp)
{
    if (!CreateEx(0, nullptr, nullptr, WS_CHILD | WS_CLIPSIBLINGS, outer, parent, id))
        CTrace::scopedFatalError(SCOPE, " CStatusCtrl: the window cannot be created", -1);
}

void CStatusCtrl::SetSkin(int skin)
{
    if (skin < 0 || skin >= SKINS) {
        // The main dialog keeps to 0..2; an index past the tables is not read.
        CTrace::trace(SCOPE, " SetSkin: no skin " + std::to_string(skin));
        return;
    }
    const char* const* table = !roleKnown_ ? NO_ROLE_PICTURES : host_ ? HOST_PICTURES : JOINED_PICTURES;
    picture_.loadBitmap(table[skin]);
    Invalidate(TRUE);
    UpdateWindow();
    skin_ = skin;
}

void CStatusCtrl::SetRole(bool host)
{
    host_ = host;
    roleKnown_ = true;
    SetSkin(skin_);
}

void CStatusCtrl::SetStatus(int status)
{
    status_ = status;
    Invalidate(TRUE);
    UpdateWindow();
}

void CStatusCtrl::OnPaint()
{
    CPaintDC dc(this);
    picture_.drawAt(&dc, 0, 0);
    dc.FillSolidRect(&lamp_, CDrawObject::colorOfIndex(status_));
}
