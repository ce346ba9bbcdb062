#pragma once
// The session handle of a DirectPlay session: the session logic hosts ("LC") or joins ("RM") a
// session through it, plugs its elements in and out, closes it, and hears of session events on
// its own thread. It builds and owns the session's transport stack: the PC server with its
// stream adapters and the message path (codec, message gate and proxy element).
//
// It is a hidden window of the thread that makes it; that thread must run a message loop (the
// events arrive through it) and is the one that opens, closes and deletes the handle.
// Calling order: create; one open; any number of plugIn/plugOut; close; delete. A closed
// handle is not opened again.
//
// Locks: sessionLock, then listenerLock; neither is held while an element plugs out or while
// the listener runs.
#include "CJObject.h"
#include "CPluggedElements.h"
#include "IObserver.h"
#include "ISessionHandle.h"

#include <CWnd.h>

#include <atomic>
#include <mutex>
#include <set>
#include <string>
#include <utility>
#include <vector>

class CMessagePath;
class CPCServer;
class CPCSInputStream;
class CPCSOutputStream;
class ISessionHandleEventListener;

class CNetwork : public CWnd, public virtual ISessionHandle, public virtual IObserver {
public:
    // The window message that carries a session event to the handle's thread.
    static constexpr UINT WM_NETWORK_EVENT = WM_APP + 1;
    static constexpr WPARAM NETWORK_EVENT_COMMAND = 1;
    // How long close lets the messages that the plug-outs queued leave before it ends the
    // connection (a stuck transport must not hold the end of the session).
    static constexpr DWORD CLOSE_SEND_LIMIT_MS = 5000;
    // Events posted to the window and not yet handled, at most. A session has a few (one per
    // terminal that leaves); more means a peer that floods the transport, and the user-interface
    // thread's queue must not fill with them: past the limit an event is dropped with an error.
    static constexpr size_t POSTED_EVENT_LIMIT = 1000;

    // The handle, owned by the caller; sessionName "LC" when this terminal hosts, "RM" when it
    // joins. The connection's threads run from here on.
    static ISessionHandle* create(const std::string& terminalId, bool isHost, const std::string& sessionName);

    CNetwork(const std::string& terminalId, bool isHost, const std::string& sessionName);
    // Close first: the destructor does not close the session (when that was not done it only
    // stops the connection's threads).
    ~CNetwork() override;

    // The session's instance GUID. Events go to the listener from now on. A failure with
    // CIllegalStateException clears the listener again; other failures leave it set.
    std::string openLocalSession(const std::string& applicationGuid, ISessionHandleEventListener* listener) override;
    // As openLocalSession; a CIOException (the session vanished or cannot be joined) clears
    // the listener too.
    void openRemoteSession(const std::string& applicationGuid, const std::string& sessionGuid,
                           const std::string& hostIpAddress, ISessionHandleEventListener* listener) override;
    // Plugs out every element still plugged in, oldest first (from now on plugIn is refused),
    // lets what they sent leave (at most CLOSE_SEND_LIMIT_MS), stops the connection's threads,
    // closes the DirectPlay session and clears the listener. CIllegalStateException, after
    // all but the last two steps, when the session was never opened or is closed already.
    void close() override;
    void plugIn(const std::string& text, CElement* element) override;
    void plugOut(const std::string& elementId) override;
    std::string createGuidString() override;

    // From the DirectPlay transport, on its threads: the event text is posted to the window.
    void update(CObservable* source, std::string argument) override;
    // Hands one event text to the listener, on the handle's thread; dropped when none is set.
    void dispatchSessionHandleEvent(const std::string& text);

    // The element ids plugged in, oldest first.
    std::vector<std::string> pluggedIds();
    // Event texts posted and not yet handled or freed, in the whole process (for tests).
    static int getLiveEventTexts();

protected:
    static const MessageEntry messageMap[];
    const MessageEntry* GetMessageMap() const override { return messageMap; }
    LRESULT OnNetworkEvent(WPARAM wParam, LPARAM lParam);

private:
    void setListener(ISessionHandleEventListener* listener);
    bool isFiled(const std::string& elementId);
    void stopThreads();
    void freePostedTexts();

    HWND window_; // where update posts: fixed at creation, so that a window gone fails the post
    CPCServer* pcServer_;
    CPCSInputStream* inputStream_;
    CPCSOutputStream* outputStream_;
    CMessagePath* path_;
    ISessionHandleEventListener* m_rpSessionHandleEventListener; // listenerLock_
    std::string terminalId_;
    std::string sessionName_;
    bool isSessionOpen_; // sessionLock_
    bool closing_;       // sessionLock_: close has begun, nothing is plugged in any more
    bool threadsStopped_;
    // Element id -> element, oldest first (not owned). No limit of its own: the elements a
    // peer makes this terminal plug in are the replicas of a shared space, which keeps them
    // under its own limit.
    CPluggedElements PEM{"CNetwork"}; // sessionLock_
    CJObject sessionLock_;
    CJObject listenerLock_;
    // Texts posted to the window and not yet handled: freed with the handle if they never
    // arrive. A leaf lock; the transport threads take it only for the insertion.
    std::mutex postedLock_;
    std::set<std::string*> posted_; // postedLock_
};
