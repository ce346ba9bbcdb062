#include "CNetwork.h"

#include "CElement.h"
#include "CGuid.h"
#include "CIOException.h"
#include "CIllegalArgumentException.h"
#include "CIllegalStateException.h"
#include "CMessageGate.h"
#include "CMessagePath.h"
#include "CMonitorHold.h"
#include "CPCSInputStream.h"
#include "CPCSOutputStream.h"
#include "CPCServer.h"
#include "CSessionEvent.h"
#include "CTrace.h"
#include "ISessionHandleEventListener.h"

#include <objbase.h>

#include <memory>

namespace {

const char SCOPE[] = "CNetwork";

enum Site {
    SITE_OPEN_LOCAL = 1,
    SITE_OPEN_REMOTE,
    SITE_CLOSE_MARK,
    SITE_CLOSE,
    SITE_PLUG_IN,
    SITE_PLUG_OUT,
    SITE_LISTENER,
    SITE_FILED,
};

std::atomic<int> g_liveEventTexts{0};

} // namespace

const CWnd::MessageEntry CNetwork::messageMap[] = {
    on<WM_NETWORK_EVENT, &CNetwork::OnNetworkEvent>(),
    endOfMap(CWnd::messageMap),
};

ISessionHandle* CNetwork::create(const std::string& terminalId, bool isHost, const std::string& sessionName)
{
    return new CNetwork(terminalId, isHost, sessionName);
}

CNetwork::CNetwork(const std::string& terminalId, bool isHost, const std::string& sessionName)
    : window_(nullptr), pcServer_(nullptr), inputStream_(nullptr), outputStream_(nullptr), path_(nullptr),
      m_rpSessionHandleEventListener(nullptr), terminalId_(terminalId),
      sessionName_(sessionName), isSessionOpen_(false), closing_(false), threadsStopped_(false)
{
    CTrace::trace(SCOPE, " CNetwork(): the dummy window for window messages is made", 0);
    LPCSTR windowClass = RegisterWndClass(0);
    if (windowClass == nullptr
        || !CreateEx(0, windowClass, nullptr, WS_POPUP | WS_BORDER | WS_SYSMENU, 0, 0, 0, 0, nullptr, nullptr))
        CTrace::scopedFatalError(SCOPE, " CNetwork(): the dummy window cannot be made, error "
                                            + std::to_string(GetLastError()),
                                 -1);
    window_ = m_hWnd;
    pcServer_ = new CPCServer(terminalId_, isHost, this);
    inputStream_ = new CPCSInputStream(pcServer_);
    outputStream_ = new CPCSOutputStream(pcServer_);
    path_ = new CMessagePath(inputStream_, outputStream_, nullptr, nullptr, terminalId_, sessionName_, SCOPE);
}

CNetwork::~CNetwork()
{
    CTrace::trace(SCOPE, " ~CNetwork()", 0);
    if (!threadsStopped_) {
        CTrace::scopedError(SCOPE, " ~CNetwork(): deleted without close, the connection's threads are stopped here",
                            -1);
        stopThreads();
    }
    delete path_;
    delete outputStream_;
    CTrace::trace(SCOPE, " deleted CPCSOutputStream", 0);
    delete inputStream_;
    CTrace::trace(SCOPE, " deleted CPCSInputStream", 0);
    delete pcServer_;
    CTrace::trace(SCOPE, " deleted CPCServer", 0);
    // Nothing posts any more: what never reached the window goes with it (on the window's own
    // thread the messages leave its queue too).
    MSG stale;
    while (m_hWnd != nullptr && PeekMessageA(&stale, window_, WM_NETWORK_EVENT, WM_NETWORK_EVENT, PM_REMOVE)) {
    }
    freePostedTexts();
}

void CNetwork::setListener(ISessionHandleEventListener* listener)
{
    CMonitorHold hold(listenerLock_, SITE_LISTENER, SCOPE);
    m_rpSessionHandleEventListener = listener;
}

std::string CNetwork::openLocalSession(const std::string& applicationGuid, ISessionHandleEventListener* listener)
{
    CTrace::trace(SCOPE, " openLocalSession(): " + applicationGuid, 0);
    CMonitorHold hold(sessionLock_, SITE_OPEN_LOCAL, SCOPE);
    // The listener of a running session stays; a closed handle is not opened again.
    if (isSessionOpen_ || closing_)
        throw CIllegalStateException(" openLocalSession(): the session is open or was closed already");
    CTrace::trace(SCOPE, " openLocalSession(): the listener is set before the open", 0);
    setListener(listener);
    std::string instance;
    try {
        CTrace::trace(SCOPE, " openLocalSession(): the PC server is opened", 0);
        std::unique_ptr<CGuid> guid(pcServer_->openLocalSession(CGuid(applicationGuid)));
        CTrace::scopedAssertTrue(guid != nullptr, SCOPE, " openLocalSession(): no session GUID came back", -1);
        instance = guid->toString();
    } catch (CIllegalStateException& e) {
        CTrace::trace(SCOPE, " openLocalSession(): " + e.getMessage(), 0);
        CTrace::trace(SCOPE, " openLocalSession(): the listener is cleared, the session cannot be opened", 0);
        setListener(nullptr);
        throw;
    }
    isSessionOpen_ = true;
    return instance;
}

void CNetwork::openRemoteSession(const std::string& applicationGuid, const std::string& sessionGuid,
                                 const std::string& hostIpAddress, ISessionHandleEventListener* listener)
{
    CTrace::trace(SCOPE, " openRemoteSession(): " + sessionGuid + " at " + hostIpAddress, 0);
    CMonitorHold hold(sessionLock_, SITE_OPEN_REMOTE, SCOPE);
    if (isSessionOpen_ || closing_)
        throw CIllegalStateException(" openRemoteSession(): the session is open or was closed already");
    CTrace::trace(SCOPE, " openRemoteSession(): the listener is set before the open", 0);
    setListener(listener);
    try {
        CTrace::trace(SCOPE, " openRemoteSession(): the PC server is opened", 0);
        pcServer_->openRemoteSession(CGuid(applicationGuid), CGuid(sessionGuid), hostIpAddress);
    } catch (CIllegalStateException& e) {
        CTrace::trace(SCOPE, " openRemoteSession(): " + e.getMessage(), 0);
        CTrace::trace(SCOPE, " openRemoteSession(): the listener is cleared, the session cannot be joined", 0);
        setListener(nullptr);
        throw;
    } catch (CIOException& e) {
        CTrace::trace(SCOPE, " openRemoteSession(): " + e.getMessage(), 0);
        CTrace::trace(SCOPE, " openRemoteSession(): the listener is cleared, the session cannot be joined", 0);
        setListener(nullptr);
        throw;
    }
    isSessionOpen_ = true;
}

bool CNetwork::isFiled(const std::string& elementId)
{
    CMonitorHold hold(sessionLock_, SITE_FILED, SCOPE);
    return PEM.contains(elementId);
}

std::vector<std::string> CNetwork::pluggedIds()
{
    CMonitorHold hold(sessionLock_, SITE_FILED, SCOPE);
    return PEM.ids();
}

void CNetwork::close()
{
    CTrace::trace(SCOPE, " close(): [" + terminalId_ + "]", 0);
    std::vector<std::string> ids;
    {
        CMonitorHold hold(sessionLock_, SITE_CLOSE_MARK, SCOPE);
        closing_ = true;
        ids = PEM.ids();
    }
    // Outside sessionLock: a shared space plugs its members out through this handle while
    // it plugs out, on its own handler thread. Oldest first, so that it does so itself.
    CTrace::trace(SCOPE, " close(): every remaining element is plugged out", 0);
    for (const std::string& id : ids) {
        if (!isFiled(id))
            continue;
        CTrace::trace(SCOPE, " close(): the element registered in PEM as [" + id + "] is plugged out by force", 0);
        try {
            plugOut(id);
        } catch (CIllegalArgumentException&) {
            CTrace::trace(SCOPE, " close(): [" + id + "] was plugged out meanwhile", 0);
        }
    }
    CMonitorHold hold(sessionLock_, SITE_CLOSE, SCOPE);
    // What the plug-outs sent (a space's farewell) leaves before the session ends.
    if (!path_->gate()->waitUntilSent(CLOSE_SEND_LIMIT_MS))
        CTrace::trace(SCOPE, " close(): not everything queued has left, the rest is dropped", 0);
    CTrace::trace(SCOPE, " close(): the connection's threads are stopped", 0);
    stopThreads();
    CTrace::trace(SCOPE, " close(): the PC server is closed", 0);
    try {
        pcServer_->close();
    } catch (CIllegalStateException& e) {
        CTrace::trace(SCOPE, " close(): " + e.getMessage(), 0);
        throw;
    }
    CTrace::trace(SCOPE, " close(): the listener is cleared", 0);
    setListener(nullptr);
    isSessionOpen_ = false;
}

void CNetwork::stopThreads()
{
    pcServer_->releaseThread();
    path_->gate()->stop();
    threadsStopped_ = true;
    CTrace::trace(SCOPE, " the receiving and sending threads have stopped", 0);
}

void CNetwork::plugIn(const std::string&, CElement* element)
{
    CTrace::trace(SCOPE, " plugIn()", 0);
    CTrace::scopedAssertTrue(element != nullptr, SCOPE, " plugIn(): the element is NULL", -1);
    CMonitorHold hold(sessionLock_, SITE_PLUG_IN, SCOPE);
    if (!isSessionOpen_ || closing_)
        throw CIllegalStateException(" plugIn(): no session is being joined or hosted");
    PEM.plugIn(element, terminalId_, path_->gate(), path_->proxy(), sessionName_);
}

void CNetwork::plugOut(const std::string& elementId)
{
    CTrace::trace(SCOPE, " plugOut(): [" + elementId + "]", 0);
    CElement* element = nullptr;
    {
        CMonitorHold hold(sessionLock_, SITE_PLUG_OUT, SCOPE);
        element = PEM.take(elementId);
    }
    // Outside the lock: it waits for the element's handler thread.
    element->plugOut();
    CTrace::trace(SCOPE, " plugOut(): the plug-out of [" + elementId + "] is complete", 0);
}

std::string CNetwork::createGuidString()
{
    GUID guid;
    HRESULT result = CoCreateGuid(&guid);
    if (FAILED(result))
        CTrace::scopedFatalError(SCOPE, " createGuidString(): CoCreateGuid failed", -1);
    return CGuid::guidToString(guid);
}

void CNetwork::update(CObservable*, std::string argument)
{
    CTrace::trace(SCOPE, " update(): [" + argument + "], moved to the window's thread", 0);
    std::string* text = new std::string(argument);
    {
        std::lock_guard<std::mutex> hold(postedLock_);
        if (posted_.size() >= POSTED_EVENT_LIMIT) {
            delete text;
            CTrace::scopedError(SCOPE, " update(): " + std::to_string(POSTED_EVENT_LIMIT)
                                           + " events wait for the window already, [" + argument + "] is dropped",
                                -1);
            return;
        }
        posted_.insert(text);
        ++g_liveEventTexts;
    }
    if (::PostMessageA(window_, WM_NETWORK_EVENT, NETWORK_EVENT_COMMAND, reinterpret_cast<LPARAM>(text)))
        return;
    DWORD error = GetLastError();
    {
        std::lock_guard<std::mutex> hold(postedLock_);
        posted_.erase(text);
        --g_liveEventTexts;
    }
    delete text;
    CTrace::scopedError(SCOPE, " update(): the event [" + argument + "] cannot be posted, error " + std::to_string(error),
                        -1);
}

LRESULT CNetwork::OnNetworkEvent(WPARAM wParam, LPARAM lParam)
{
    // Any program on the desktop can post to this window: what is not ours is told and dropped.
    if (wParam != NETWORK_EVENT_COMMAND) {
        CTrace::scopedError(SCOPE, " OnNetworkEvent(): the command " + std::to_string(wParam) + " is unknown, it is"
                                   " dropped",
                            -1);
        return 0;
    }
    std::string* posted = reinterpret_cast<std::string*>(lParam);
    {
        std::lock_guard<std::mutex> hold(postedLock_);
        if (posted_.erase(posted) == 0) {
            CTrace::scopedError(SCOPE, " OnNetworkEvent(): the event text is not one this handle posted", -1);
            return 1;
        }
        --g_liveEventTexts;
    }
    std::unique_ptr<std::string> text(posted);
    dispatchSessionHandleEvent(*text);
    return 1;
}

void CNetwork::dispatchSessionHandleEvent(const std::string& text)
{
    ISessionHandleEventListener* listener;
    {
        CMonitorHold hold(listenerLock_, SITE_LISTENER, SCOPE);
        listener = m_rpSessionHandleEventListener;
    }
    if (listener == nullptr) {
        CTrace::trace(SCOPE, " dispatchSessionHandleEvent(): no listener is set, [" + text + "] is dropped", 0);
        return;
    }
    int eventId = 0;
    std::string terminalId;
    CSessionEvent::parseSessionHandleEventText(text, &eventId, &terminalId);
    CTrace::trace(SCOPE, " dispatchSessionHandleEvent(): [" + text + "] goes to the listener", 0);
    // Outside listenerLock: the listener is the session logic's code (it may close the handle).
    listener->OnSessionHandleEvent(eventId, terminalId);
}

void CNetwork::freePostedTexts()
{
    std::lock_guard<std::mutex> hold(postedLock_);
    for (std::string* text : posted_) {
        delete text;
        --g_liveEventTexts;
    }
    if (!posted_.empty())
        CTrace::trace(SCOPE, " ~CNetwork(): " + std::to_string(posted_.size()) + " events never reached the window", 0);
    posted_.clear();
}

int CNetwork::getLiveEventTexts()
{
    return g_liveEventTexts;
}
