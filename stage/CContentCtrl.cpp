#include "CContentCtrl.h"

#include "CLocalMethod.h"
#include "CStageCommand.h"
#include "CTrace.h"


namespace {

const char SCOPE[] = "CContentCtrl";

} // namespace

const CWnd::MessageEntry CContentCtrl::messageMap[] = {
    on<WM_CONTENT_CTRL_COMMAND, &CContentCtrl::OnContentCtrlCommand>(),
    endOfMap(CWnd::messageMap),
};

CContentCtrl::CContentCtrl(const RECT& rect, CWnd* parent, CStageCtrl* stage, UINT id)
    : stage_(stage), ctrlRect_(rect)
{
    if (!Create(nullptr, nullptr, WS_CHILD | WS_CLIPSIBLINGS, rect, parent, id))
        CTrace::scopedFatalError(SCOPE, " CContentCtrl(): the content window cannot be created", -1);
    windowName_ = CLocalMethod::makeUniqueName();
    CLocalMethod::addWindow(windowName_, m_hWnd);
}

CContentCtrl::~CContentCtrl()
{
    // Posts to the name must fail from now on, not reach a later window of the same handle.
    CLocalMethod::removeTarget(windowName_);
}

void CContentCtrl::SetCursorCtrl(CCursorCtrl* cursor)
{
    cursor_ = cursor;
}

std::string CContentCtrl::makeLocationText(int x, int y)
{
    return std::to_string(x) + " " + std::to_string(y);
}

std::string CContentCtrl::makeDecorationText(int n)
{
    return std::to_string(n);
}

std::string CContentCtrl::makeAttributeText(long long fileSize, const std::string& path, const std::string& nickname)
{
    return std::to_string(fileSize) + " *" + path + " *" + nickname;
}

namespace {

// A decimal int with an optional '-' at the front of the text; its end in *end. False for no
// digits or a value outside int.
bool readInt(std::string_view text, size_t* end, long* value)
{
    size_t at = 0;
    const bool negative = at < text.size() && text[at] == '-';
    if (negative)
        ++at;
    const size_t digits = at;
    long long number = 0;
    while (at < text.size() && text[at] >= '0' && text[at] <= '9') {
        number = number * 10 + (text[at] - '0');
        if (number > 2147483648LL)
            return false;
        ++at;
    }
    if (at == digits)
        return false;
    if (negative)
        number = -number;
    if (number > 2147483647LL)
        return false;
    *end = at;
    *value = static_cast<long>(number);
    return true;
}

} // namespace

bool CContentCtrl::parseLocationText(std::string_view text, POINT* point)
{
    size_t end = 0;
    long x = 0, y = 0;
    if (!readInt(text, &end, &x) || end >= text.size() || text[end] != ' ')
        return false;
    std::string_view rest = text.substr(end + 1);
    if (!readInt(rest, &end, &y) || end != rest.size())
        return false;
    point->x = x;
    point->y = y;
    return true;
}

void CContentCtrl::setEntity(CSharedElement*) { CTrace::trace(SCOPE, " setEntity()"); }

void CContentCtrl::setLocation(const std::string& location)
{
    CTrace::trace(SCOPE, " setLocation(" + location + ")");
    CStageCommand::postText(windowName_, WM_CONTENT_CTRL_COMMAND, SET_LOCATION, location);
}

void CContentCtrl::setSize(const std::string& size) { CTrace::trace(SCOPE, " setSize(" + size + ")"); }
void CContentCtrl::startMotion() { CTrace::trace(SCOPE, " startMotion()"); }
void CContentCtrl::stopMotion() { CTrace::trace(SCOPE, " stopMotion()"); }
void CContentCtrl::setMotion(const std::string& motion) { CTrace::trace(SCOPE, " setMotion(" + motion + ")"); }
void CContentCtrl::setDecoration(const std::string& decoration) { CTrace::trace(SCOPE, " setDecoration(" + decoration + ")"); }
void CContentCtrl::setAttribute(const std::string& attribute) { CTrace::trace(SCOPE, " setAttribute(" + attribute + ")"); }
void CContentCtrl::setViewId(const std::string& viewId) { CTrace::trace(SCOPE, " setViewId(" + viewId + ")"); }

void CContentCtrl::setViewData(unsigned size, const unsigned char*, int width, int height)
{
    CTrace::trace(SCOPE, " setViewData(" + std::to_string(size) + ", " + std::to_string(width) + ", "
                             + std::to_string(height) + ")");
}

void CContentCtrl::setIcon(unsigned imageLength, const unsigned char*, unsigned maskLength, const unsigned char*,
                           std::uint16_t imageBits, std::uint16_t maskBits)
{
    CTrace::trace(SCOPE, " setIcon(" + std::to_string(imageLength) + ", " + std::to_string(maskLength) + ", "
                             + std::to_string(imageBits) + ", " + std::to_string(maskBits) + ")");
}

void CContentCtrl::onGainedMyOperation(const std::string& id) { CTrace::trace(SCOPE, " onGainedMyOperation(" + id + ")"); }
void CContentCtrl::onLostMyOperation(const std::string& id) { CTrace::trace(SCOPE, " onLostMyOperation(" + id + ")"); }
void CContentCtrl::onGainedOperation(const std::string& id) { CTrace::trace(SCOPE, " onGainedOperation(" + id + ")"); }
void CContentCtrl::onLostOperation(const std::string& id) { CTrace::trace(SCOPE, " onLostOperation(" + id + ")"); }
void CContentCtrl::onSpeech(const std::string& text) { CTrace::trace(SCOPE, " onSpeech(" + text + ")"); }
void CContentCtrl::execFile(const std::string& path) { CTrace::trace(SCOPE, " execFile(" + path + ")"); }
void CContentCtrl::showMessage(const std::string& text) { CTrace::trace(SCOPE, " showMessage(" + text + ")"); }

LRESULT CContentCtrl::OnContentCtrlCommand(WPARAM wParam, LPARAM lParam)
{
    if (wParam != SET_LOCATION) {
        CTrace::trace(SCOPE, " OnContentCtrlCommand(): command " + std::to_string(wParam) + " is not handled here");
        return 1;
    }
    SetLocation(CStageCommand::takeText(lParam));
    return 1;
}

void CContentCtrl::SetLocation(const std::string& location)
{
    POINT at;
    if (!parseLocationText(location, &at)) {
        CTrace::trace(SCOPE, " SetLocation(): not a location: " + location);
        return;
    }
    MoveWindow(at.x, at.y, ctrlRect_.right - ctrlRect_.left, ctrlRect_.bottom - ctrlRect_.top);
    ShowWindow(SW_SHOWNA);
}

void CContentCtrl::PostNcDestroy()
{
    CTrace::trace(SCOPE, " PostNcDestroy()");
}
