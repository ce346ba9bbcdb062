#include "CStageCtrl.h"

#include "CContentCtrl.h"
#include "CCursorCtrl.h"
#include "CIllegalArgumentException.h"
#include "CJException.h"
#include "CJString.h"
#include "CLeadImage.h"
#include "CLocalMethod.h"
#include "CMessageBox.h"
#include "CMonitorHold.h"
#include "CPointer.h"
#include "CPreferenceManager.h"
#include "CSharedElement.h"
#include "CSoundPlay.h"
#include "CStageCommand.h"
#include "CStageDisplayFactory.h"
#include "CTavUtility.h"
#include "CTrace.h"
#include "CWTSessionNotifier.h"
#include "IStageHost.h"

#include <CPaintDC.h>

#include <algorithm>
#include <memory>

namespace {

const char SCOPE[] = "CStageCtrl";

// Not in every header set: the platform's terminal-session notice.
const UINT WM_SESSION_CHANGE = 0x02B1;

const UINT CAPTION_STRING = 57344;

const int SOUND_DISPLAY_MADE = 172;
const int SOUND_DISPLAY_RELEASED = 173;
const int SOUND_BACKGROUND = 174;

const char* const BACKGROUNDS[] = {"IDB_STAGECTRL_BG0", "IDB_STAGECTRL_BG1", "IDB_STAGECTRL_BG2",
                                   "IDB_STAGECTRL_BG3"};
const char BLACK_BACK[] = "IDB_BLACK_BACK";

enum Site { SITE_CALL = 1, SITE_ALIGN, SITE_DATA };

// The process-wide counter of the alignment tickets.
std::atomic<unsigned> g_ticketCounter{0};

int nextTicket()
{
    return static_cast<int>(g_ticketCounter.fetch_add(1) % 10000000u) + 1;
}

const char* sessionEventName(WPARAM event)
{
    switch (event) {
    case 1: return "WTS_CONSOLE_CONNECT";
    case 2: return "WTS_CONSOLE_DISCONNECT";
    case 3: return "WTS_REMOTE_CONNECT";
    case 4: return "WTS_REMOTE_DISCONNECT";
    case 5: return "WTS_SESSION_LOGON";
    case 6: return "WTS_SESSION_LOGOFF";
    case 7: return "WTS_SESSION_LOCK";
    case 8: return "WTS_SESSION_UNLOCK";
    default: return nullptr;
    }
}

std::string keyText(CVector& keys, int index)
{
    CJObject* key = keys.elementAt(index);
    return key != nullptr ? key->toString() : std::string();
}

std::vector<std::string> keysOf(CVector& keys)
{
    std::vector<std::string> texts;
    for (int i = 0; i < keys.size(); ++i)
        texts.push_back(keyText(keys, i));
    return texts;
}

} // namespace

const CWnd::MessageEntry CStageCtrl::messageMap[] = {
    on<WM_CREATE, &CStageCtrl::OnCreate>(),
    on<WM_CLOSE, &CStageCtrl::OnClose>(),
    on<WM_MOUSEMOVE, &CStageCtrl::OnMouseMove>(),
    on<WM_PAINT, &CStageCtrl::OnPaint>(),
    on<WM_SIZE, &CStageCtrl::OnSize>(),
    on<WM_DROPFILES, &CStageCtrl::OnDropFiles>(),
    on<CStageCommand::WM_STAGE_CTRL_COMMAND, &CStageCtrl::OnStageCtrlCommand>(),
    on<WM_SESSION_CHANGE, &CStageCtrl::OnSessionChange>(),
    endOfMap(CWnd::messageMap),
};

CStageCtrl::CStageCtrl(const RECT& rect, CWnd* parent, IStageHost* host, CPreferenceManager* preferences,
                       IFileTransmitter* transmitter, UINT id)
    : preferences_(preferences),
      transmitter_(transmitter),
      host_(host),
      width_(rect.right - rect.left),
      height_(rect.bottom - rect.top),
      clientRect_{0, 0, rect.right - rect.left, rect.bottom - rect.top},
      backgroundNumber_(preferences != nullptr ? preferences->getViewBg() : 0)
{
    CTrace::trace(SCOPE, " CStageCtrl()");
    if (!Create(nullptr, nullptr, WS_CHILD | WS_CLIPCHILDREN, rect, parent, id))
        CTrace::scopedFatalError(SCOPE, " CStageCtrl(): the stage window cannot be created", -1);
    DragAcceptFiles(TRUE);
    selfObjectId_ = CLocalMethod::makeUniqueName();
    CLocalMethod::addWindow(selfObjectId_, m_hWnd);
    LoadBackGround(backgroundNumber_);
}

CStageCtrl::~CStageCtrl()
{
    CTrace::trace(SCOPE, " ~CStageCtrl()");
    CLocalMethod::removeTarget(selfObjectId_);
    activeContent_ = nullptr;
    deleteLayer(lowerLayerKeyList_, lowerLayerDspList_);
    deleteLayer(upperLayerKeyList_, upperLayerDspList_);
    if (ownCursor_ != nullptr) {
        ownCursor_->SendMessage(WM_CLOSE);
        delete ownCursor_;
        ownCursor_ = nullptr;
    }
    delete ownCursorKey_;
    ownCursorKey_ = nullptr;
    // The background borrows the custom bitmap: let go of it first.
    background_.loadBitmap(BLACK_BACK);
    if (customBitmap_ != nullptr)
        DeleteObject(customBitmap_);
    customBitmap_ = nullptr;
    {
        CMonitorHold hold(dataMonitor_, SITE_DATA, SCOPE);
        customData_.clear();
        customData_.shrink_to_fit();
    }
    {
        CMonitorHold hold(alignMonitor_, SITE_ALIGN, SCOPE);
        replyVector_.deleteAllElements();
    }
    {
        std::lock_guard<std::mutex> hold(keyLock_);
        for (auto& offered : offeredKeys_)
            delete offered.first;
        offeredKeys_.clear();
    }
    delete sessionNotifier_;
    sessionNotifier_ = nullptr;
}

void CStageCtrl::deleteLayer(CVector& keys, CVector& displays)
{
    for (int i = 0; i < displays.size(); ++i) {
        CWnd* window = windowAt(&displays, i);
        if (window != nullptr) {
            window->SendMessage(WM_CLOSE);
            delete window;
        }
    }
    displays.deleteAllElements();
    keys.deleteAllElements();
}

// ---- window messages --------------------------------------------------------------------

int CStageCtrl::OnCreate(CREATESTRUCTA*)
{
    sessionNotifier_ = new CWTSessionNotifier(m_hWnd);
    return 0;
}

void CStageCtrl::OnClose()
{
    delete sessionNotifier_;
    sessionNotifier_ = nullptr;
}

void CStageCtrl::OnPaint()
{
    CPaintDC dc(this);
    background_.draw(&dc, clientRect_, 0, "");
}

void CStageCtrl::OnMouseMove(UINT flags, POINT point)
{
    if (ownCursor_ != nullptr)
        ownCursor_->OnMouseCursorMove(flags, point);
}

void CStageCtrl::OnSize(UINT type, int cx, int cy)
{
    CTrace::trace(SCOPE, " OnSize(" + std::to_string(type) + ", " + std::to_string(cx) + ", " + std::to_string(cy) + ")");
}

void CStageCtrl::OnDropFiles(HDROP drop)
{
    // Dropped files are taken by the install road, which this window does not have yet.
    CTrace::trace(SCOPE, " OnDropFiles(): not taken");
    DragFinish(drop);
}

LRESULT CStageCtrl::OnSessionChange(WPARAM wParam, LPARAM)
{
    const char* name = sessionEventName(wParam);
    CTrace::trace(SCOPE, std::string(" OnSessionChange(): ")
                             + (name != nullptr ? name : "event " + std::to_string(wParam)));
    if (wParam == 1)
        ReloadBackGround();
    return 0;
}

LRESULT CStageCtrl::OnStageCtrlCommand(WPARAM wParam, LPARAM lParam)
{
    CJString* object = reinterpret_cast<CJString*>(lParam);
    switch (wParam) {
    case CStageCommand::GENERATE_ELEMENT_DISPLAY:
        if (claimKey(object, wParam))
            GenerateElementDisplay(object);
        break;
    case CStageCommand::GENERATE_CURSOR_DISPLAY:
        if (claimKey(object, wParam))
            GenerateCursorDisplay(object);
        break;
    case CStageCommand::IS_GRABED:
        if (claimKey(object, wParam)) {
            grabAnswer_ = false;
            delete object;
        }
        break;
    case CStageCommand::RELEASE_DISPLAY:
        ReleaseDisplay(object->toString());
        delete object;
        break;
    case CStageCommand::PUT_ON_TOP:
        if (!PutOnTop(object))
            delete object;
        break;
    case CStageCommand::MOVE_TO_TOP:
    case CStageCommand::MOVE_TO_BOTTOM:
        MoveTo(object->toString(), wParam == CStageCommand::MOVE_TO_TOP);
        delete object;
        break;
    case CStageCommand::MOVE_TO_UPPER_LAYER:
        MoveToUpperLayer(object->toString());
        delete object;
        break;
    case CStageCommand::LOWER_LAYER_ALIGNMENT:
        LowerLayerAlignment();
        break;
    case CStageCommand::CHANGE_BACKGROUND:
        ChangeBackGround(static_cast<int>(lParam));
        break;
    case CStageCommand::SET_STATUS:
        status_ = static_cast<int>(lParam);
        if (host_ != nullptr)
            host_->setStatus(status_);
        break;
    case CStageCommand::ON_INITIALIZED:
        initialized_ = true;
        if (host_ != nullptr)
            host_->updateRole();
        break;
    case CStageCommand::ON_ELEMENT_INSTALLED:
        OnElementInstalled(object->toString());
        delete object;
        break;
    case CStageCommand::CHANGE_CUSTOM_BG_BITMAP:
        if (HBITMAP bitmap = makeCustomBgBitmap())
            ChangeCustomBgBitmap(bitmap);
        else
            CTrace::trace(SCOPE, " OnStageCtrlCommand(): no custom background bitmap could be made");
        break;
    case CStageCommand::SHOW_MESSAGE:
        ShowMessage(object->toString());
        delete object;
        break;
    case CStageCommand::ON_FILE_COPIED:
        OnFileCopied(object->toString());
        delete object;
        break;
    default:
        CTrace::scopedFatalError(SCOPE, " OnStageCtrlCommand(): an undefined command was thrown at the handler: "
                                            + std::to_string(wParam), -1);
    }
    return 1;
}

// ---- layers -----------------------------------------------------------------------------

CWnd* CStageCtrl::windowAt(CVector* displays, int index)
{
    auto* pointer = static_cast<CPointer*>(displays->elementAt(index));
    return pointer != nullptr ? static_cast<CWnd*>(pointer->getPointer()) : nullptr;
}

CStageCtrl::Place CStageCtrl::findKey(const std::string& key)
{
    const CJString wanted(key);
    Place place;
    for (int layer = 0; layer < 2 && !place.found(); ++layer) {
        CVector* keys = layer == 0 ? &lowerLayerKeyList_ : &upperLayerKeyList_;
        for (int i = 0; i < keys->size(); ++i)
            if (wanted.equals(keys->elementAt(i))) {
                place.keys = keys;
                place.displays = layer == 0 ? &lowerLayerDspList_ : &upperLayerDspList_;
                place.index = i;
                place.upper = layer == 1;
                break;
            }
    }
    return place;
}

CStageCtrl::Place CStageCtrl::findDisplay(CWnd* display)
{
    Place place;
    for (int layer = 0; layer < 2 && !place.found(); ++layer) {
        CVector* displays = layer == 0 ? &lowerLayerDspList_ : &upperLayerDspList_;
        for (int i = 0; i < displays->size(); ++i)
            if (display != nullptr && windowAt(displays, i) == display) {
                place.keys = layer == 0 ? &lowerLayerKeyList_ : &upperLayerKeyList_;
                place.displays = displays;
                place.index = i;
                place.upper = layer == 1;
                break;
            }
    }
    return place;
}

void CStageCtrl::moveEntry(const Place& from, CVector* keys, CVector* displays, int index)
{
    CJObject* key = from.keys->elementAt(from.index);
    CJObject* display = from.displays->elementAt(from.index);
    from.keys->removeElementAt(from.index);
    from.displays->removeElementAt(from.index);
    if (index < 0 || index > keys->size())
        index = keys->size();
    keys->insertElementAt(key, index);
    displays->insertElementAt(display, index);
}

void CStageCtrl::repaint(CWnd* window)
{
    if (window != nullptr) {
        window->Invalidate(TRUE);
        window->UpdateWindow();
    }
}

void CStageCtrl::AlignDisplay()
{
    // Reserved places hold no window yet: they are skipped, not an error.
    for (CVector* displays : {&lowerLayerDspList_, &upperLayerDspList_})
        for (int i = 0; i < displays->size(); ++i)
            if (CWnd* window = windowAt(displays, i))
                window->SetWindowPos(&CWnd::wndTop, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    Invalidate(TRUE);
    UpdateWindow();
}

void CStageCtrl::MoveTo(const std::string& key, bool top)
{
    const Place place = findKey(key);
    if (!place.found()) {
        CTrace::trace(SCOPE, " MoveTo(): the move target is not found: " + key);
        return;
    }
    CWnd* window = windowAt(place.displays, place.index);
    moveEntry(place, &lowerLayerKeyList_, &lowerLayerDspList_, top ? -1 : 0);
    AlignDisplay();
    repaint(window);
}

void CStageCtrl::MoveToUpperLayer(const std::string& key)
{
    const Place place = findKey(key);
    if (!place.found() || place.upper)
        return;
    CWnd* window = windowAt(place.displays, place.index);
    moveEntry(place, &upperLayerKeyList_, &upperLayerDspList_, 0);
    AlignDisplay();
    repaint(window);
}

bool CStageCtrl::PutOnTop(CJString* key)
{
    if (findKey(key->toString()).found()) {
        MoveTo(key->toString(), true);
        return false;
    }
    lowerLayerKeyList_.addElement(key);
    lowerLayerDspList_.addElement(nullptr);
    AlignDisplay();
    return true;
}

void CStageCtrl::OnGrabed(CContentCtrl* display)
{
    const Place place = findDisplay(display);
    if (!place.found() || place.upper)
        return;
    moveEntry(place, &upperLayerKeyList_, &upperLayerDspList_, 0);
    AlignDisplay();
    repaint(display);
}

void CStageCtrl::OnUnGrabed(CContentCtrl* display)
{
    const Place place = findDisplay(display);
    if (!place.found() || !place.upper)
        return;
    moveEntry(place, &lowerLayerKeyList_, &lowerLayerDspList_, -1);
    AlignDisplay();
    repaint(display);
}

void CStageCtrl::GenerateElementDisplay(CJString* key)
{
    const Place place = findKey(key->toString());
    if (place.found() && windowAt(place.displays, place.index) != nullptr) {
        CTrace::trace(SCOPE, " GenerateElementDisplay(): a display for the key exists: " + key->toString());
        delete key;
        duplicate_ = true;
        pNewDisplay_ = nullptr;
        return;
    }
    CContentCtrl* window = CStageDisplayFactory::get().makeContent(this);
    window->SetCursorCtrl(ownCursor_);
    if (!place.found()) {
        lowerLayerKeyList_.addElement(key);
        lowerLayerDspList_.addElement(new CPointer(window));
    } else {
        delete place.keys->elementAt(place.index);
        place.keys->removeElementAt(place.index);
        place.keys->insertElementAt(key, place.index);
        delete place.displays->elementAt(place.index);
        place.displays->removeElementAt(place.index);
        place.displays->insertElementAt(new CPointer(window), place.index);
    }
    AlignDisplay();
    pNewDisplay_ = static_cast<IContentDisplay*>(window);
    duplicate_ = false;
    CSoundPlay::Play(SOUND_DISPLAY_MADE);
}

void CStageCtrl::GenerateCursorDisplay(CJString* key)
{
    const Place place = findKey(key->toString());
    const bool ownTaken = ownCursorKey_ != nullptr && ownCursorKey_->equals(key);
    if (place.found() || ownTaken) {
        // A peer's repeated install must not end this terminal: the display stays as it was.
        CTrace::scopedError(SCOPE, std::string(" GenerateCursorDisplay(): the key is registered ")
                                       + (ownTaken ? "as the own cursor: " : place.upper ? "in the upper layer: "
                                                                                         : "in the lower layer: ")
                                       + key->toString(), -1);
        delete key;
        pNewDisplay_ = nullptr;
        duplicate_ = false;
        return;
    }
    CCursorCtrl* window = CStageDisplayFactory::get().makeCursor(this);
    if (ownCursorFlag_) {
        if (ownCursor_ != nullptr) {
            // A second own cursor takes the place of the first, which no content may keep.
            CTrace::scopedError(SCOPE, " GenerateCursorDisplay(): the own cursor is replaced", -1);
            ownCursor_->SendMessage(WM_CLOSE);
            delete ownCursor_;
            delete ownCursorKey_;
        }
        ownCursor_ = window;
        ownCursorKey_ = key;
        window->ShowWindow(SW_HIDE);
        SetCurDspToAllElemDsp();
    } else {
        upperLayerKeyList_.addElement(key);
        upperLayerDspList_.addElement(new CPointer(window));
        AlignDisplay();
        window->ShowWindow(preferences_ != nullptr && preferences_->getCursor() ? SW_SHOWNA : SW_HIDE);
        repaint(window);
    }
    pNewDisplay_ = static_cast<IElementDisplay*>(window);
    duplicate_ = false;
}

void CStageCtrl::SetCurDspToAllElemDsp()
{
    for (CVector* displays : {&lowerLayerDspList_, &upperLayerDspList_})
        for (int i = 0; i < displays->size(); ++i)
            if (auto* content = dynamic_cast<CContentCtrl*>(windowAt(displays, i)))
                content->SetCursorCtrl(ownCursor_);
}

void CStageCtrl::ReleaseDisplay(const std::string& key)
{
    if (ownCursorKey_ != nullptr && ownCursorKey_->toString() == key) {
        CTrace::trace(SCOPE, " ReleaseDisplay(): the own cursor stays: " + key);
        return;
    }
    const Place place = findKey(key);
    if (!place.found()) {
        CTrace::trace(SCOPE, " ReleaseDisplay(): the display is in no layer: " + key);
        return;
    }
    CWnd* window = windowAt(place.displays, place.index);
    if (window != nullptr) {
        if (dynamic_cast<CContentCtrl*>(window) != nullptr)
            CSoundPlay::Play(SOUND_DISPLAY_RELEASED);
        // NotifyCR must not reach a window that is gone.
        if (window == activeContent_)
            activeContent_ = nullptr;
        window->SendMessage(WM_CLOSE);
        delete window;
    } else {
        CTrace::trace(SCOPE, " ReleaseDisplay(): a reserved place is given up: " + key);
    }
    delete place.keys->elementAt(place.index);
    delete place.displays->elementAt(place.index);
    place.keys->removeElementAt(place.index);
    place.displays->removeElementAt(place.index);
}

void CStageCtrl::LowerLayerAlignment()
{
    CMonitorHold hold(alignMonitor_, SITE_ALIGN, SCOPE);
    replyVector_.deleteAllElements();
    for (int i = 0; i < lowerLayerKeyList_.size(); ++i)
        replyVector_.addElement(new CJString(keyText(lowerLayerKeyList_, i)));
    ticket_ = -ticket_;
}

std::vector<std::string> CStageCtrl::lowerLayerKeys()
{
    return keysOf(lowerLayerKeyList_);
}

std::vector<std::string> CStageCtrl::upperLayerKeys()
{
    return keysOf(upperLayerKeyList_);
}

CWnd* CStageCtrl::displayOf(const std::string& key)
{
    const Place place = findKey(key);
    return place.found() ? windowAt(place.displays, place.index) : nullptr;
}

void CStageCtrl::SetCursor(bool show)
{
    for (int i = 0; i < upperLayerDspList_.size(); ++i)
        if (auto* cursor = dynamic_cast<CCursorCtrl*>(windowAt(&upperLayerDspList_, i)))
            cursor->ShowWindow(show ? SW_SHOWNA : SW_HIDE);
}

// ---- user gestures ----------------------------------------------------------------------

std::string CStageCtrl::stageObjectId()
{
    std::lock_guard<std::mutex> hold(stageLock_);
    return stageObjectId_;
}

bool CStageCtrl::IsMaster() const
{
    std::lock_guard<std::mutex> hold(stageLock_);
    return master_;
}

void CStageCtrl::postToStage(const std::string& method, const std::string& argument)
{
    try {
        CLocalMethod::postMethodStr(stageObjectId(), method, argument);
    } catch (const CJException& e) {
        CTrace::trace(SCOPE, " " + method + " could not be posted: " + e.getMessage());
    }
}

void CStageCtrl::OnLButtonUp(CContentCtrl* display, UINT flags, POINT)
{
    const Place place = findDisplay(display);
    if (!place.found()) {
        CTrace::scopedError(SCOPE, " OnLButtonUp(): the display has no key", -1);
        return;
    }
    const std::string key = keyText(*place.keys, place.index);
    const int count = lowerLayerKeyList_.size();
    if (flags & MK_SHIFT) {
        if (count == 0 || keyText(lowerLayerKeyList_, 0) != key)
            postToStage("LOC_changeBottom", key);
    } else {
        if (count == 0 || keyText(lowerLayerKeyList_, count - 1) != key)
            postToStage("LOC_changeTop", key);
    }
}

void CStageCtrl::OnTear(CContentCtrl* display)
{
    const Place place = findDisplay(display);
    if (!place.found()) {
        CTrace::scopedError(SCOPE, " OnTear(): the display has no key", -1);
        return;
    }
    postToStage("LOC_uninstall", keyText(*place.keys, place.index));
}

void CStageCtrl::SetActiveContent(CContentCtrl* display)
{
    activeContent_ = display;
}

void CStageCtrl::TrackTrashHover(int x, int y)
{
    if (host_ != nullptr)
        host_->trackTrashHover(x, y);
}

bool CStageCtrl::IsPointInTrash(int x, int y)
{
    return host_ != nullptr && host_->isPointInTrash(x, y);
}

CDragDropWnd* CStageCtrl::GetDragDropWnd()
{
    return host_ != nullptr ? host_->getDragDropWnd() : nullptr;
}

RECT CStageCtrl::GetMainDlgRect()
{
    return host_ != nullptr ? host_->getMainDlgRect() : RECT{0, 0, 0, 0};
}

void CStageCtrl::OnElementInstalled(const std::string& desc)
{
    // Ends an install's busy mark, which only dropped files set; none are taken yet.
    CTrace::trace(SCOPE, " OnElementInstalled(" + desc + ")");
}

void CStageCtrl::OnFileCopied(const std::string& report)
{
    CTrace::trace(SCOPE, " OnFileCopied(" + report + "): no dropped file waits for it");
}

void CStageCtrl::ShowMessage(const std::string& text)
{
    CMessageBox::show(m_hWnd, text, CTavUtility::loadString(CAPTION_STRING, "Tavelin"), MB_OK | MB_ICONEXCLAMATION);
}

// ---- backgrounds ------------------------------------------------------------------------

void CStageCtrl::LoadBackGround(int number)
{
    if (number >= 0 && number < CUSTOM_BG_NUMBER)
        background_.loadBitmap(BACKGROUNDS[number]);
    else if (customBitmap_ != nullptr)
        background_.lendBitmap(customBitmap_);
    else
        background_.loadBitmap(BLACK_BACK);
}

void CStageCtrl::SetBackGround(int number)
{
    CTrace::scopedAssertTrue(IsMaster(), SCOPE, " SetBackGround(): not the master", -1);
    CSoundPlay::Play(SOUND_BACKGROUND);
    backgroundNumber_ = number;
    LoadBackGround(number);
    Invalidate(TRUE);
    UpdateWindow();
    postToStage("LOC_updateBackGround", std::to_string(number));
}

void CStageCtrl::ChangeBackGround(int number)
{
    if (firstBackgroundChange_)
        firstBackgroundChange_ = false;
    else
        CSoundPlay::Play(SOUND_BACKGROUND);
    backgroundNumber_ = number;
    LoadBackGround(number);
    Invalidate(TRUE);
    UpdateWindow();
}

void CStageCtrl::ChangeCustomBgBitmap(HBITMAP bitmap)
{
    HBITMAP previous = customBitmap_;
    customBitmap_ = bitmap;
    if (backgroundNumber_ == CUSTOM_BG_NUMBER)
        LoadBackGround(backgroundNumber_);
    if (previous != nullptr)
        DeleteObject(previous);
    if (IsMaster() && !firstBackgroundChange_) {
        if (preferences_ != nullptr)
            preferences_->setViewBg(CUSTOM_BG_NUMBER);
        SetBackGround(CUSTOM_BG_NUMBER);
    } else {
        Invalidate(TRUE);
        UpdateWindow();
    }
}

void CStageCtrl::ReloadBackGround()
{
    HBITMAP rebuilt = makeCustomBgBitmap();
    // The drawing object may borrow the old bitmap: it takes the new one before that goes.
    HBITMAP previous = customBitmap_;
    customBitmap_ = rebuilt;
    LoadBackGround(backgroundNumber_);
    if (previous != nullptr)
        DeleteObject(previous);
    Invalidate(TRUE);
    UpdateWindow();
}

HBITMAP CStageCtrl::makeCustomBgBitmap()
{
    CMonitorHold hold(dataMonitor_, SITE_DATA, SCOPE);
    if (customData_.empty())
        return nullptr;
    return CLeadImage::getBitmapHandle(customData_.data(), static_cast<int>(customData_.size()), customWidth_,
                                       customHeight_, 24);
}

void CStageCtrl::SetCustomBgFile(const std::string& path)
{
    postToStage("LOC_updateCustomBgFile", path);
}

// ---- IStageView -------------------------------------------------------------------------

void CStageCtrl::setStage(CSharedElement* stage)
{
    std::lock_guard<std::mutex> hold(stageLock_);
    stageObjectId_ = stage->getObjectId();
    master_ = stage->isMaster();
}

void CStageCtrl::offerKey(CJString* key, WPARAM code)
{
    std::lock_guard<std::mutex> hold(keyLock_);
    offeredKeys_.emplace_back(key, code);
}

bool CStageCtrl::claimKey(CJString* key, WPARAM code)
{
    std::lock_guard<std::mutex> hold(keyLock_);
    auto offered = std::find(offeredKeys_.begin(), offeredKeys_.end(), std::make_pair(key, code));
    if (offered == offeredKeys_.end()) {
        CTrace::trace(SCOPE, " a command came after its caller had gone: " + std::to_string(code));
        return false;
    }
    offeredKeys_.erase(offered);
    return true;
}

void CStageCtrl::withdrawKey(CJString* key)
{
    std::lock_guard<std::mutex> hold(keyLock_);
    auto offered = std::find_if(offeredKeys_.begin(), offeredKeys_.end(),
                                [key](const std::pair<CJString*, WPARAM>& entry) { return entry.first == key; });
    if (offered != offeredKeys_.end()) {
        offeredKeys_.erase(offered);
        delete key;
    }
}

bool CStageCtrl::sendKey(WPARAM code, const std::string& key)
{
    CJString* object = new CJString(key);
    offerKey(object, code);
    const bool ran = CStageCommand::send(selfObjectId_, code, reinterpret_cast<LPARAM>(object));
    withdrawKey(object);
    return ran;
}

IElementDisplay* CStageCtrl::getElementDisplay(const std::string& key)
{
    IElementDisplay* display;
    bool duplicate;
    {
        CMonitorHold hold(callMonitor_, SITE_CALL, SCOPE);
        duplicate_ = false;
        pNewDisplay_ = nullptr;
        const bool ran = sendKey(CStageCommand::GENERATE_ELEMENT_DISPLAY, key);
        display = ran ? pNewDisplay_.load() : nullptr;
        duplicate = ran && duplicate_;
        CTrace::trace(SCOPE, std::string(" getElementDisplay(): ") + (display != nullptr ? "a display" : "no display"));
    }
    if (duplicate)
        throw CIllegalArgumentException(" getElementDisplay(): the key is duplicated: " + key);
    return display;
}

IElementDisplay* CStageCtrl::getCursorDisplay(const std::string& key, bool own)
{
    CMonitorHold hold(callMonitor_, SITE_CALL, SCOPE);
    duplicate_ = false;
    pNewDisplay_ = nullptr;
    ownCursorFlag_ = own;
    const bool ran = sendKey(CStageCommand::GENERATE_CURSOR_DISPLAY, key);
    IElementDisplay* display = ran ? pNewDisplay_.load() : nullptr;
    CTrace::trace(SCOPE, std::string(" getCursorDisplay(): ") + (display != nullptr ? "a display" : "no display"));
    return display;
}

bool CStageCtrl::isGrabed(const std::string& key)
{
    CMonitorHold hold(callMonitor_, SITE_CALL, SCOPE);
    grabAnswer_ = false;
    sendKey(CStageCommand::IS_GRABED, key);
    return grabAnswer_;
}

void CStageCtrl::lowerLayerAlignment(CVector& keys)
{
    int ticket;
    {
        CMonitorHold hold(alignMonitor_, SITE_ALIGN, SCOPE);
        ticket = nextTicket();
        ticket_ = ticket;
        replyVector_.deleteAllElements();
    }
    CStageCommand::send(selfObjectId_, CStageCommand::LOWER_LAYER_ALIGNMENT, 0);
    CMonitorHold hold(alignMonitor_, SITE_ALIGN, SCOPE);
    if (ticket_ != -ticket)
        return;
    for (int i = 0; i < replyVector_.size(); ++i)
        keys.addElement(new CJString(keyText(replyVector_, i)));
}

void CStageCtrl::changeCustomBgData(unsigned length, const unsigned char* data, int width, int height)
{
    if (data == nullptr) {
        CTrace::trace(SCOPE, " changeCustomBgData(): lrpData is NULL");
        return;
    }
    {
        CMonitorHold hold(dataMonitor_, SITE_DATA, SCOPE);
        customData_.assign(data, data + length);
        customWidth_ = width;
        customHeight_ = height;
    }
    CStageCommand::send(selfObjectId_, CStageCommand::CHANGE_CUSTOM_BG_BITMAP, 0);
}

void CStageCtrl::releaseDisplay(const std::string& key)
{
    CStageCommand::postStr(selfObjectId_, CStageCommand::RELEASE_DISPLAY, key);
}

void CStageCtrl::putOnTop(const std::string& key)
{
    CStageCommand::postStr(selfObjectId_, CStageCommand::PUT_ON_TOP, key);
}

void CStageCtrl::moveToTop(const std::string& key)
{
    CStageCommand::postStr(selfObjectId_, CStageCommand::MOVE_TO_TOP, key);
}

void CStageCtrl::moveToBottom(const std::string& key)
{
    CStageCommand::postStr(selfObjectId_, CStageCommand::MOVE_TO_BOTTOM, key);
}

void CStageCtrl::moveToUpperLayer(const std::string& key)
{
    CStageCommand::postStr(selfObjectId_, CStageCommand::MOVE_TO_UPPER_LAYER, key);
}

void CStageCtrl::changeBackGround(int number)
{
    CStageCommand::postInt(selfObjectId_, CStageCommand::CHANGE_BACKGROUND, number);
}

void CStageCtrl::setStatus(int status)
{
    CStageCommand::postInt(selfObjectId_, CStageCommand::SET_STATUS, status);
}

void CStageCtrl::onInitialized()
{
    CStageCommand::postInt(selfObjectId_, CStageCommand::ON_INITIALIZED, 0);
}

void CStageCtrl::onElementInstalled(const std::string& desc)
{
    CStageCommand::postStr(selfObjectId_, CStageCommand::ON_ELEMENT_INSTALLED, desc);
}

void CStageCtrl::showMessage(const std::string& text)
{
    CStageCommand::postStr(selfObjectId_, CStageCommand::SHOW_MESSAGE, text);
}

void CStageCtrl::onFileCopied(const std::string& report)
{
    CStageCommand::postStr(selfObjectId_, CStageCommand::ON_FILE_COPIED, report);
}

void CStageCtrl::getStageSize(int& width, int& height)
{
    width = width_;
    height = height_;
}

void CStageCtrl::NotifyCR()
{
    if (activeContent_ != nullptr && IsWindow(activeContent_->m_hWnd))
        activeContent_->PostMessage(WM_KEYUP, VK_RETURN, 0);
}
