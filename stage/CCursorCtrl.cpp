#include "CCursorCtrl.h"

#include "CContentCtrl.h"
#include "CLocalMethod.h"
#include "CStageCommand.h"
#include "CTrace.h"


namespace {

const char SCOPE[] = "CCursorCtrl";

} // namespace

const CWnd::MessageEntry CCursorCtrl::messageMap[] = {
    on<WM_CURSOR_CTRL_COMMAND, &CCursorCtrl::OnCursorCtrlCommand>(),
    endOfMap(CWnd::messageMap),
};

CCursorCtrl::CCursorCtrl(const RECT& rect, CWnd* parent, CStageCtrl* stage, UINT id) : stage_(stage)
{
    if (!Create(nullptr, nullptr, WS_CHILD | WS_CLIPSIBLINGS, rect, parent, id))
        CTrace::scopedFatalError(SCOPE, " CCursorCtrl(): the cursor window cannot be created", -1);
    windowName_ = CLocalMethod::makeUniqueName();
    CLocalMethod::addWindow(windowName_, m_hWnd);
}

CCursorCtrl::~CCursorCtrl()
{
    CLocalMethod::removeTarget(windowName_);
}

void CCursorCtrl::OnMouseCursorMove(UINT, POINT point)
{
    current_ = point;
    ++moveCount_;
}

void CCursorCtrl::setEntity(CSharedElement*) { CTrace::trace(SCOPE, " setEntity()"); }

void CCursorCtrl::setLocation(const std::string& location)
{
    CTrace::trace(SCOPE, " setLocation(" + location + ")");
    CStageCommand::postText(windowName_, WM_CURSOR_CTRL_COMMAND, SET_LOCATION, location);
}

void CCursorCtrl::setSize(const std::string&) {}
void CCursorCtrl::startMotion() { CTrace::trace(SCOPE, " startMotion()"); }
void CCursorCtrl::stopMotion() { CTrace::trace(SCOPE, " stopMotion()"); }
void CCursorCtrl::setMotion(const std::string& motion) { CTrace::trace(SCOPE, " setMotion(" + motion + ")"); }
void CCursorCtrl::setDecoration(const std::string& decoration) { CTrace::trace(SCOPE, " setDecoration(" + decoration + ")"); }
void CCursorCtrl::setAttribute(const std::string&) {}
void CCursorCtrl::setViewId(const std::string& viewId) { CTrace::trace(SCOPE, " setViewId(" + viewId + ")"); }
void CCursorCtrl::setViewData(unsigned, const unsigned char*, int, int) {}

LRESULT CCursorCtrl::OnCursorCtrlCommand(WPARAM wParam, LPARAM lParam)
{
    if (wParam != SET_LOCATION) {
        CTrace::trace(SCOPE, " OnCursorCtrlCommand(): command " + std::to_string(wParam) + " is not handled here");
        return 1;
    }
    SetLocation(CStageCommand::takeText(lParam));
    return 1;
}

void CCursorCtrl::SetLocation(const std::string& location)
{
    POINT at;
    if (!CContentCtrl::parseLocationText(location, &at)) {
        CTrace::trace(SCOPE, " SetLocation(): not a location: " + location);
        return;
    }
    SetWindowPos(nullptr, at.x, at.y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    Invalidate();
    UpdateWindow();
}
