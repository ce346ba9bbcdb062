#include "CViewableElement.h"

#include "CCaughtException.h"
#include "CClock.h"
#include "CInteger.h"
#include "CLocalMethod.h"
#include "CMethodCallMessage.h"
#include "CMonitorHold.h"
#include "IElementDisplay.h"

#include <algorithm>
#include <atomic>

namespace {

const char SCOPE[] = "CViewableElement";
const char INVALID_TERMINAL[] = "@INVALID_TERMINAL";
const char VIEW_SIZE_SEPARATOR[] = " ";
const char OPERATOR_SEPARATOR = ' ';
const char MOTION_ARGUMENT[] = "dammy";

enum Site {
    SITE_CLOCK_JOIN = 1,
    SITE_CLOCK_LEAVE,
    SITE_STATE,
    SITE_TIMER,
};

// One lock for the shared clock and the number of viewable elements alive.
CJObject s_clockLock;
CClock* s_clock = nullptr;
int s_elementCount = 0;

std::atomic<CViewableElement::TimeSource> s_timeSource{nullptr};

} // namespace

const char CViewableElement::CLOCK_THREAD_NAME[] = "VIEW_ELEM_CLOCK";

// What a copy shows, taken at once under the lock so the display never sees half of a change.
struct CViewableElement::ViewState {
    std::string location;
    std::string size;
    std::string motion;
    std::string decoration;
    std::string attribute;
    std::string viewId;
    bool hasViewData = false;
    std::vector<unsigned char> viewData;
    int viewWidth = 0;
    int viewHeight = 0;
    std::string operatorTermId;
};

// ---- construction and the shared clock

CViewableElement::CViewableElement()
    : display_(nullptr), endingSync_(false), viewDataSize_(0), viewData_(nullptr), viewWidth_(0), viewHeight_(0),
      leaseStamp_(0), leaseIdle_(false), operatorRequired_(true), timerRegistered_(false), leaseStopped_(false),
      clock_(nullptr)
{
    commonInit();
    setMaster(false);
}

CViewableElement::CViewableElement(const std::string& location, const std::string& size, const std::string& motion,
                                   const std::string& decoration, const std::string& attribute,
                                   const std::string& viewId)
    : CViewableElement()
{
    location_ = location;
    size_ = size;
    motion_ = motion;
    decoration_ = decoration;
    attribute_ = attribute;
    viewId_ = viewId;
    setMaster(true);
}

CViewableElement::CViewableElement(const std::string& location, const std::string& size, const std::string& motion,
                                   const std::string& decoration, const std::string& attribute,
                                   unsigned viewDataSize, unsigned char* viewData, int viewWidth, int viewHeight)
    : CViewableElement(location, size, motion, decoration, attribute, std::string())
{
    viewDataSize_ = viewData != nullptr ? viewDataSize : 0;
    viewData_ = viewData;
    viewWidth_ = viewWidth;
    viewHeight_ = viewHeight;
}

CViewableElement::~CViewableElement()
{
    CTrace::trace(SCOPE, " ~CViewableElement()", 0);
    {
        CMonitorHold hold(timerLock_, SITE_TIMER, SCOPE);
        leaseStopped_ = true;
    }
    endTimer();
    delete[] viewData_;
    viewData_ = nullptr;
    leaveSharedClock();
}

void CViewableElement::commonInit()
{
    operatorTermId_ = INVALID_TERMINAL;
    registerMethod("INS_initLocation", &CViewableElement::INS_initLocation);
    registerMethod("INS_initSize", &CViewableElement::INS_initSize);
    registerMethod("INS_initMotion", &CViewableElement::INS_initMotion);
    registerMethod("INS_initDecoration", &CViewableElement::INS_initDecoration);
    registerMethod("INS_initAttribute", &CViewableElement::INS_initAttribute);
    registerMethod("INS_initViewId", &CViewableElement::INS_initViewId);
    registerMethod("INS_initViewData", &CViewableElement::INS_initViewData);
    registerMethod("INS_initViewSize", &CViewableElement::INS_initViewSize);
    registerMethod("INS_initOperator", &CViewableElement::INS_initOperator);
    registerMethod("COP_updateLocation", &CViewableElement::COP_updateLocation);
    registerMethod("COP_updateSize", &CViewableElement::COP_updateSize);
    registerMethod("COP_startMotion", &CViewableElement::COP_startMotion);
    registerMethod("COP_stopMotion", &CViewableElement::COP_stopMotion);
    registerMethod("COP_updateMotion", &CViewableElement::COP_updateMotion);
    registerMethod("COP_updateDecoration", &CViewableElement::COP_updateDecoration);
    registerMethod("INS_updateOperator", &CViewableElement::INS_updateOperator);
    registerMethod("LOC_updateLocation", &CViewableElement::LOC_updateLocation);
    registerMethod("LOC_updateSize", &CViewableElement::LOC_updateSize);
    registerMethod("LOC_startMotion", &CViewableElement::LOC_startMotion);
    registerMethod("LOC_stopMotion", &CViewableElement::LOC_stopMotion);
    registerMethod("LOC_updateMotion", &CViewableElement::LOC_updateMotion);
    registerMethod("LOC_updateDecoration", &CViewableElement::LOC_updateDecoration);
    registerMethod("LOC_assignToOperator", &CViewableElement::LOC_assignToOperator);
    registerMethod("LOC_removeFromOperator", &CViewableElement::LOC_removeFromOperator);
    registerMethod("LOC_noOperator", &CViewableElement::LOC_noOperator);
    registerMethod("REQ_assignToOperator", &CViewableElement::REQ_assignToOperator);
    registerMethod("REQ_continueOperator", &CViewableElement::REQ_continueOperator);
    registerMethod("REQ_removeFromOperator", &CViewableElement::REQ_removeFromOperator);
    joinSharedClock();
}

void CViewableElement::joinSharedClock()
{
    CMonitorHold hold(s_clockLock, SITE_CLOCK_JOIN, SCOPE);
    if (s_clock == nullptr) {
        CTrace::trace(SCOPE, " creates the shared clock", 0);
        s_clock = new CClock(CLOCK_PERIOD_MS, CLOCK_THREAD_NAME);
    }
    ++s_elementCount;
    clock_ = s_clock;
}

void CViewableElement::leaveSharedClock()
{
    CMonitorHold hold(s_clockLock, SITE_CLOCK_LEAVE, SCOPE);
    clock_ = nullptr;
    if (--s_elementCount > 0)
        return;
    CTrace::trace(SCOPE, " the last viewable element is gone: the clock object is released", 0);
    delete s_clock;
    s_clock = nullptr;
    s_elementCount = 0;
}

void CViewableElement::setTimeSource(TimeSource source)
{
    s_timeSource = source;
}

time_t CViewableElement::now()
{
    TimeSource source = s_timeSource;
    return source != nullptr ? source() : time(nullptr);
}

// ---- helpers

CViewableElement::ViewState CViewableElement::snapshot() const
{
    CMonitorHold hold(stateLock_, SITE_STATE, SCOPE);
    ViewState state;
    state.location = location_;
    state.size = size_;
    state.motion = motion_;
    state.decoration = decoration_;
    state.attribute = attribute_;
    state.viewId = viewId_;
    state.hasViewData = viewData_ != nullptr;
    if (state.hasViewData)
        state.viewData.assign(viewData_, viewData_ + viewDataSize_);
    state.viewWidth = viewWidth_;
    state.viewHeight = viewHeight_;
    state.operatorTermId = operatorTermId_;
    return state;
}

void CViewableElement::setEndingSync(bool ending)
{
    CMonitorHold hold(stateLock_, SITE_STATE, SCOPE);
    endingSync_ = ending;
}

IElementDisplay* CViewableElement::currentDisplay() const
{
    CMonitorHold hold(stateLock_, SITE_STATE, SCOPE);
    return display_;
}

// A peer that sends a call meant for the other role gets it reported and dropped: it must
// never end this process.
bool CViewableElement::runsOnMaster(const char* method) const
{
    if (isMaster())
        return true;
    CTrace::scopedError(SCOPE, std::string(" ") + method + " ran on a slave copy: ignored", -1);
    return false;
}

bool CViewableElement::runsOnSlave(const char* method) const
{
    if (!isMaster())
        return true;
    CTrace::scopedError(SCOPE, std::string(" ") + method + " ran on the master copy: ignored", -1);
    return false;
}

std::string CViewableElement::callerTerminal() const
{
    std::string caller = getCallerTerminal();
    return caller == CMethodCallMessage::LOCAL_TERMINAL ? getTerminalId() : caller;
}

// ---- view values

bool CViewableElement::mayChange(const char* operation) const
{
    bool required;
    {
        CMonitorHold hold(stateLock_, SITE_STATE, SCOPE);
        required = operatorRequired_;
    }
    if (!required || isOperator())
        return true;
    CTrace::trace(SCOPE, std::string(" ") + operation + ": this terminal does not hold the operator right, not run", 0);
    return false;
}

// A local change: stored here, then run on every other copy. The own display is the window
// where the change was made, so it is not told.
void CViewableElement::enterChange(std::string CViewableElement::*field, const std::string& text,
                                   const char* copMethod, const char* operation)
{
    if (!mayChange(operation))
        return;
    storeText(field, text);
    requestMasterMethod(copMethod, text);
}

void CViewableElement::enterMotion(const char* copMethod, const char* operation)
{
    if (!mayChange(operation))
        return;
    requestMasterMethod(copMethod, MOTION_ARGUMENT);
}

IElementDisplay* CViewableElement::storeText(std::string CViewableElement::*field, const std::string& text)
{
    CMonitorHold hold(stateLock_, SITE_STATE, SCOPE);
    this->*field = text;
    return display_;
}

void CViewableElement::initText(std::string CViewableElement::*field, const std::string& text, const char* method)
{
    if (!runsOnSlave(method))
        return;
    CTrace::trace(SCOPE, std::string(" ") + method + "(" + text + ")", 0);
    storeText(field, text);
}

void CViewableElement::INS_initLocation(const std::string& location)
{
    initText(&CViewableElement::location_, location, "INS_initLocation");
}

void CViewableElement::INS_initSize(const std::string& size)
{
    initText(&CViewableElement::size_, size, "INS_initSize");
}

void CViewableElement::INS_initMotion(const std::string& motion)
{
    initText(&CViewableElement::motion_, motion, "INS_initMotion");
}

void CViewableElement::INS_initDecoration(const std::string& decoration)
{
    initText(&CViewableElement::decoration_, decoration, "INS_initDecoration");
}

void CViewableElement::INS_initAttribute(const std::string& attribute)
{
    initText(&CViewableElement::attribute_, attribute, "INS_initAttribute");
}

void CViewableElement::INS_initViewId(const std::string& viewId)
{
    if (!runsOnSlave("INS_initViewId"))
        return;
    CMonitorHold hold(stateLock_, SITE_STATE, SCOPE);
    if (viewData_ != nullptr) {
        CTrace::scopedError(SCOPE, " INS_initViewId: this copy shows a picture, the view id is ignored", -1);
        return;
    }
    viewId_ = viewId;
}

// A slave that is plugged in again is synchronised again: the new picture replaces the old.
void CViewableElement::INS_initViewData(int size, const unsigned char* bytes)
{
    if (!runsOnSlave("INS_initViewData"))
        return;
    if (size < 0 || (bytes == nullptr && size > 0)) {
        CTrace::scopedError(SCOPE, " INS_initViewData: no picture bytes, ignored", -1);
        return;
    }
    CTrace::trace(SCOPE, " INS_initViewData(" + std::to_string(size) + " bytes)", 0);
    unsigned char* copy = new unsigned char[size];
    if (size > 0)
        std::copy(bytes, bytes + size, copy);
    unsigned char* old;
    {
        CMonitorHold hold(stateLock_, SITE_STATE, SCOPE);
        old = viewData_;
        viewData_ = copy;
        viewDataSize_ = static_cast<unsigned>(size);
    }
    if (old != nullptr)
        CTrace::trace(SCOPE, " INS_initViewData: replaces the picture of an earlier synchronisation", 0);
    delete[] old;
}

void CViewableElement::INS_initViewSize(const std::string& viewSize)
{
    if (!runsOnSlave("INS_initViewSize"))
        return;
    int width = CInteger::parseInt(getToken(0, viewSize, VIEW_SIZE_SEPARATOR));
    int height = CInteger::parseInt(getToken(1, viewSize, VIEW_SIZE_SEPARATOR));
    CTrace::trace(SCOPE, " INS_initViewSize(" + std::to_string(width) + " x " + std::to_string(height) + ")", 0);
    CMonitorHold hold(stateLock_, SITE_STATE, SCOPE);
    viewWidth_ = width;
    viewHeight_ = height;
}

void CViewableElement::INS_initOperator(const std::string& operatorTermId)
{
    if (!runsOnSlave("INS_initOperator"))
        return;
    if (operatorTermId.empty()) {
        CTrace::scopedError(SCOPE, " INS_initOperator: an empty terminal id, ignored", -1);
        return;
    }
    CTrace::trace(SCOPE, " INS_initOperator(" + operatorTermId + ")", 0);
    setOperator(operatorTermId);
}

// A cooperative change arriving here: stored, then shown when a display is set.
void CViewableElement::showText(std::string CViewableElement::*field,
                                void (IElementDisplay::*show)(const std::string&), const std::string& text)
{
    if (IElementDisplay* display = storeText(field, text))
        (display->*show)(text);
}

void CViewableElement::showMotion(void (IElementDisplay::*show)())
{
    if (IElementDisplay* display = currentDisplay())
        (display->*show)();
}

void CViewableElement::COP_updateLocation(const std::string& location)
{
    showText(&CViewableElement::location_, &IElementDisplay::setLocation, location);
}

void CViewableElement::COP_updateSize(const std::string& size)
{
    showText(&CViewableElement::size_, &IElementDisplay::setSize, size);
}

void CViewableElement::COP_startMotion(const std::string&)
{
    showMotion(&IElementDisplay::startMotion);
}

void CViewableElement::COP_stopMotion(const std::string&)
{
    showMotion(&IElementDisplay::stopMotion);
}

void CViewableElement::COP_updateMotion(const std::string& motion)
{
    showText(&CViewableElement::motion_, &IElementDisplay::setMotion, motion);
}

void CViewableElement::COP_updateDecoration(const std::string& decoration)
{
    showText(&CViewableElement::decoration_, &IElementDisplay::setDecoration, decoration);
}

// The registered twins of the direct senders run the same gate on the handler thread.
void CViewableElement::LOC_updateLocation(const std::string& location)
{
    updateLocation(location);
}

void CViewableElement::LOC_updateSize(const std::string& size)
{
    enterChange(&CViewableElement::size_, size, "COP_updateSize", "LOC_updateSize");
}

void CViewableElement::LOC_startMotion()
{
    startMotion();
}

void CViewableElement::LOC_stopMotion()
{
    stopMotion();
}

void CViewableElement::LOC_updateMotion(const std::string& motion)
{
    updateMotion(motion);
}

void CViewableElement::LOC_updateDecoration(const std::string& decoration)
{
    enterChange(&CViewableElement::decoration_, decoration, "COP_updateDecoration", "LOC_updateDecoration");
}

void CViewableElement::updateLocation(const std::string& location)
{
    enterChange(&CViewableElement::location_, location, "COP_updateLocation", "updateLocation");
}

void CViewableElement::startMotion()
{
    enterMotion("COP_startMotion", "startMotion");
}

void CViewableElement::stopMotion()
{
    enterMotion("COP_stopMotion", "stopMotion");
}

void CViewableElement::updateMotion(const std::string& motion)
{
    enterChange(&CViewableElement::motion_, motion, "COP_updateMotion", "updateMotion");
}

void CViewableElement::setOperatorRequired(bool required)
{
    CMonitorHold hold(stateLock_, SITE_STATE, SCOPE);
    operatorRequired_ = required;
}

// ---- display and synchronisation

void CViewableElement::setElementDisplay(IElementDisplay* display)
{
    if (display == nullptr) {
        CTrace::scopedError(SCOPE, " setElementDisplay(): no display given, ignored", -1);
        return;
    }
    bool endingSync;
    {
        CMonitorHold hold(stateLock_, SITE_STATE, SCOPE);
        display_ = display;
        endingSync = endingSync_;
    }
    // A display handed in while the synchronisation ends is filled once, by onEndSync (a slave
    // plugged in again counts as synchronised already then).
    if (isSynchronized() && !endingSync)
        intiView(display);
}

void CViewableElement::intiView(IElementDisplay* display)
{
    CTrace::trace(SCOPE, " intiView()", 0);
    if (display == nullptr)
        return;
    ViewState view = snapshot();
    display->setEntity(this);
    display->setLocation(view.location);
    display->setSize(view.size);
    display->setMotion(view.motion);
    display->setDecoration(view.decoration);
    display->setAttribute(view.attribute);
    if (!view.hasViewData)
        display->setViewId(view.viewId);
    else
        display->setViewData(static_cast<unsigned>(view.viewData.size()), view.viewData.data(), view.viewWidth,
                             view.viewHeight);
}

void CViewableElement::onSync()
{
    if (!runsOnMaster("onSync"))
        return;
    ViewState view = snapshot();
    replyToCallerStr("INS_initLocation", view.location);
    replyToCallerStr("INS_initSize", view.size);
    replyToCallerStr("INS_initMotion", view.motion);
    replyToCallerStr("INS_initDecoration", view.decoration);
    replyToCallerStr("INS_initAttribute", view.attribute);
    if (!view.hasViewData) {
        replyToCallerStr("INS_initViewId", view.viewId);
    } else {
        replyToCallerBuf("INS_initViewData", static_cast<int>(view.viewData.size()), view.viewData.data());
        replyToCallerStr("INS_initViewSize", std::to_string(view.viewWidth) + VIEW_SIZE_SEPARATOR
                                                 + std::to_string(view.viewHeight));
    }
    replyToCallerStr("INS_initOperator", view.operatorTermId);
    onSyncViewableElement();
}

void CViewableElement::onEndSync()
{
    if (!runsOnSlave("onEndSync"))
        return;
    setEndingSync(true);
    try {
        onEndSyncViewableElement();
    } catch (...) {
        setEndingSync(false);
        throw;
    }
    setEndingSync(false);
    if (IElementDisplay* display = currentDisplay())
        intiView(display);
}

void CViewableElement::onPlugIn(const std::string& text)
{
    {
        CMonitorHold hold(timerLock_, SITE_TIMER, SCOPE);
        leaseStopped_ = false;
    }
    // A master plugged in again resumes the lease of a slave that still holds the right, so
    // the right cannot stay blocked by a holder that is gone.
    if (isMaster()) {
        bool slaveHolds;
        {
            CMonitorHold hold(stateLock_, SITE_STATE, SCOPE);
            slaveHolds = operatorTermId_ != INVALID_TERMINAL && operatorTermId_ != getTerminalId();
            if (slaveHolds)
                leaseStamp_ = now();
        }
        if (slaveHolds)
            startTimer();
    }
    onPlugInViewableElement(text);
}

void CViewableElement::onPlugOut(const std::string& text)
{
    // Out of the session the lease can neither be renewed nor taken back: the tick stops here.
    {
        CMonitorHold hold(timerLock_, SITE_TIMER, SCOPE);
        leaseStopped_ = true;
    }
    endTimer();
    if (IElementDisplay* display = currentDisplay())
        display->setEntity(nullptr);
    else
        CTrace::trace(SCOPE, " onPlugOut(): no display is set", 0);
    onPlugOutViewableElement(text);
}

// ---- the operator right

bool CViewableElement::isOperator() const
{
    CMonitorHold hold(stateLock_, SITE_STATE, SCOPE);
    return operatorTermId_ == getTerminalId();
}

std::string CViewableElement::getOperator() const
{
    CMonitorHold hold(stateLock_, SITE_STATE, SCOPE);
    return operatorTermId_;
}

std::string CViewableElement::getRequestId() const
{
    CMonitorHold hold(stateLock_, SITE_STATE, SCOPE);
    return requestId_;
}

void CViewableElement::setOperator(const std::string& operatorTermId)
{
    CTrace::scopedAssertTrue(!operatorTermId.empty(), SCOPE, " setOperator(): an empty terminal id", -1);
    CMonitorHold hold(stateLock_, SITE_STATE, SCOPE);
    operatorTermId_ = operatorTermId;
}

void CViewableElement::setRequestId(const std::string& requestId)
{
    CMonitorHold hold(stateLock_, SITE_STATE, SCOPE);
    requestId_ = requestId;
}

void CViewableElement::changeOperator(const std::string& operatorTermId, const std::string& requestId)
{
    std::string oldOperator;
    std::string oldRequestId;
    {
        CMonitorHold hold(stateLock_, SITE_STATE, SCOPE);
        oldOperator = operatorTermId_;
        oldRequestId = requestId_;
    }
    CTrace::trace(SCOPE, " changeOperator() from [" + oldOperator + "] to [" + operatorTermId + "]", 0);
    onLostOperation(oldOperator, oldRequestId);
    setOperator(operatorTermId);
    setRequestId(requestId);
    onGainedOperation(operatorTermId, requestId);
}

void CViewableElement::LOC_assignToOperator(const std::string& requestId)
{
    if (isOperator()) {
        CTrace::trace(SCOPE, " LOC_assignToOperator: this terminal holds the right already", 0);
        return;
    }
    std::string holder = getOperator();
    if (holder != INVALID_TERMINAL) {
        CTrace::trace(SCOPE, " LOC_assignToOperator: [" + holder + "] holds the right", 0);
        return;
    }
    if (!isMaster()) {
        sendToMaster("REQ_removeFromOperator");
        sendToMasterStr("REQ_assignToOperator", requestId);
    } else {
        removeFromOperator(getTerminalId());
        assignToOperator(getTerminalId(), requestId);
    }
}

void CViewableElement::LOC_removeFromOperator()
{
    if (!isMaster())
        sendToMaster("REQ_removeFromOperator");
    else
        removeFromOperator(getTerminalId());
}

void CViewableElement::LOC_noOperator()
{
    if (!runsOnMaster("LOC_noOperator"))
        return;
    CTrace::trace(SCOPE, " LOC_noOperator: the right is taken back", 0);
    removeFromOperator(getOperator());
}

void CViewableElement::REQ_assignToOperator(const std::string& requestId)
{
    if (!runsOnMaster("REQ_assignToOperator"))
        return;
    assignToOperator(callerTerminal(), requestId);
}

void CViewableElement::REQ_removeFromOperator()
{
    if (!runsOnMaster("REQ_removeFromOperator"))
        return;
    removeFromOperator(callerTerminal());
}

void CViewableElement::REQ_continueOperator(const std::string& requestId)
{
    if (!runsOnMaster("REQ_continueOperator"))
        return;
    std::string caller = callerTerminal();
    bool holder;
    bool sameRequest;
    {
        CMonitorHold hold(stateLock_, SITE_STATE, SCOPE);
        holder = caller == operatorTermId_;
        sameRequest = requestId == requestId_;
        if (holder && sameRequest)
            leaseStamp_ = now();
    }
    if (!holder)
        CTrace::trace(SCOPE, " REQ_continueOperator: [" + caller + "] does not hold the right, ignored", 0);
    else if (!sameRequest)
        CTrace::trace(SCOPE, " REQ_continueOperator: another request id [" + requestId + "], ignored", 0);
    else
        CTrace::trace(SCOPE, " REQ_continueOperator: the lease of [" + caller + "] is renewed", 0);
}

void CViewableElement::assignToOperator(const std::string& requester, const std::string& requestId)
{
    if (!runsOnMaster("assignToOperator"))
        return;
    // An element asked before it was plugged in has no terminal id yet: nobody asks then.
    if (requester.empty() || requester == INVALID_TERMINAL)
        return;
    std::string holder = getOperator();
    if (holder != INVALID_TERMINAL) {
        CTrace::trace(SCOPE, " assignToOperator: [" + holder + "] holds the right, [" + requester + "] is refused", 0);
        return;
    }
    changeOperator(requester, requestId);
    sendToSlavesStr("INS_updateOperator", requester + OPERATOR_SEPARATOR + requestId);
    {
        CMonitorHold hold(stateLock_, SITE_STATE, SCOPE);
        leaseStamp_ = now();
    }
    startTimer();
}

void CViewableElement::removeFromOperator(const std::string& requester)
{
    if (!runsOnMaster("removeFromOperator"))
        return;
    if (requester.empty() || requester == INVALID_TERMINAL)
        return;
    std::string holder = getOperator();
    if (requester != holder) {
        CTrace::trace(SCOPE, " removeFromOperator: [" + requester + "] does not hold the right: released already", 0);
        return;
    }
    changeOperator(INVALID_TERMINAL, "");
    sendToSlavesStr("INS_updateOperator", std::string(INVALID_TERMINAL) + OPERATOR_SEPARATOR);
    endTimer();
}

void CViewableElement::INS_updateOperator(const std::string& text)
{
    if (!runsOnSlave("INS_updateOperator"))
        return;
    if (!isSynchronized()) {
        CTrace::trace(SCOPE, " INS_updateOperator: not synchronised yet, ignored", 0);
        return;
    }
    size_t blank = text.find(OPERATOR_SEPARATOR);
    std::string holder = blank == std::string::npos ? std::string() : text.substr(0, blank);
    std::string requestId = blank == std::string::npos ? text : text.substr(blank + 1);
    if (holder.empty()) {
        CTrace::scopedError(SCOPE, " INS_updateOperator: no terminal in [" + text + "], ignored", -1);
        return;
    }
    bool held = isOperator();
    changeOperator(holder, requestId);
    bool holds = isOperator();
    if (!held && holds) {
        {
            CMonitorHold hold(stateLock_, SITE_STATE, SCOPE);
            leaseStamp_ = now();
        }
        startTimer();
    } else if (held && !holds) {
        endTimer();
    }
}

// ---- the lease

void CViewableElement::startTimer()
{
    unsigned interval;
    {
        CMonitorHold hold(stateLock_, SITE_STATE, SCOPE);
        bool ownRight = operatorTermId_ == getTerminalId();
        if (isMaster()) {
            // The master's own right has no lease.
            if (ownRight || operatorTermId_ == INVALID_TERMINAL)
                return;
            interval = MASTER_CHECK_MS;
        } else {
            if (!ownRight)
                return;
            renewalId_ = requestId_;
            interval = HOLDER_CHECK_MS;
        }
        leaseIdle_ = false;
    }
    CMonitorHold hold(timerLock_, SITE_TIMER, SCOPE);
    if (leaseStopped_) {
        CTrace::trace(SCOPE, " startTimer(): out of the session, no lease timer", 0);
        return;
    }
    if (timerRegistered_) {
        CTrace::trace(SCOPE, " startTimer(): the lease timer runs already", 0);
        return;
    }
    CTrace::trace(SCOPE, " startTimer(): every " + std::to_string(interval) + " ms", 0);
    clock_->addListener(this, interval);
    timerRegistered_ = true;
}

void CViewableElement::endTimer()
{
    CMonitorHold hold(timerLock_, SITE_TIMER, SCOPE);
    if (!timerRegistered_) {
        CTrace::trace(SCOPE, " endTimer(): no lease timer runs", 0);
        return;
    }
    CTrace::trace(SCOPE, " endTimer()", 0);
    clock_->removeListener(this);
    timerRegistered_ = false;
}

// Never adds or removes clock listeners (the clock refuses that on its own thread): the master
// hands the take-back to the element's handler thread. A failure, as of an element that left
// its session meanwhile, is reported and ends nothing.
void CViewableElement::timeElapsed(int)
{
    try {
        std::string renewalId;
        bool expired = false;
        bool renew = false;
        {
            CMonitorHold hold(stateLock_, SITE_STATE, SCOPE);
            if (leaseIdle_)
                return;
            time_t current = now();
            time_t elapsed = current - leaseStamp_;
            if (isMaster()) {
                expired = elapsed > EXPIRY_SECONDS;
            } else if (elapsed >= RENEWAL_SECONDS) {
                // Stamped in the same step as the check, so that a renewal is counted from the
                // moment it was decided on.
                renew = true;
                leaseStamp_ = current;
            }
            renewalId = renewalId_;
        }
        if (expired) {
            CTrace::trace(SCOPE, " the holding period has passed: the right is taken back", 0);
            CLocalMethod::postMethod(getObjectId(), "LOC_noOperator");
            CMonitorHold hold(stateLock_, SITE_STATE, SCOPE);
            leaseIdle_ = true;
        } else if (renew) {
            CTrace::trace(SCOPE, " renews the lease", 0);
            sendToMasterStr("REQ_continueOperator", renewalId);
        }
    } catch (...) {
        CTrace::scopedError(SCOPE, " timeElapsed(): " + CCaughtException::describe(), -1);
    }
}
