#pragma once
// The thread of one started element, with a first-in first-out queue in front of it. Local
// calls posted to the element's object id and remote calls delivered by the session's gate
// under its element id all arrive through notifyMessage; the thread runs them one at a time,
// in arrival order, through the element's dispatch, and answers a QUERY through the session's
// proxy. So the methods of one element never overlap, whoever called them.
//
// The element makes it in start and deletes it after end: construct, start, any number of
// plugIn/plugOut pairs, end, delete. Contract violations throw CIllegalStateException and
// change nothing.
#include "CJObject.h"
#include "IMessageListener.h"

#include <windows.h>

#include <atomic>
#include <condition_variable>
#include <string>

class CElement;
class CMethodCallMessage;
class CProxyElement;
class CVector;
class IMessage;
class IMessageSource;
class ISerializable;

class CElementHandler : public CJObject, public virtual IMessageListener {
public:
    enum State { NOT_STARTED = 0, RUNNING = 1, DEAD = 2 };

    // Calls waiting to run, at most. The gate's receive thread queues what peers send here,
    // and a peer can send faster than the element runs (or flood it): without a bound the
    // terminal's memory would follow the peer. Large enough for the bursts of a session (a
    // synchronisation, the cursors of every terminal while the element waits for the UI
    // thread); past it a peer's message is refused and a local caller waits for room.
    static constexpr int QUEUE_LIMIT = 2048;

    // target: never NULL; name: names the thread in the trace.
    CElementHandler(CElement* target, const std::string& name);
    // Destroys what is still queued. A handler still running stops the process: call end() first.
    ~CElementHandler() override;
    CElementHandler(const CElementHandler&) = delete;
    CElementHandler& operator=(const CElementHandler&) = delete;

    // Starts the thread; a handler is never restarted.
    void start();
    // Enters the handler at the session's message source under the target's element id and
    // keeps the proxy for replies.
    void plugIn(IMessageSource* source, CProxyElement* proxy);
    // Leaves the source. Calls already queued still run; a QUERY among them gets no reply. Waits
    // until a QUERY being answered has sent its reply; the proxy is not used afterwards. Refused
    // on the handler thread.
    void plugOut();
    // Stops the thread and returns once it has ended; what is still queued never runs.
    void end();
    // Queues the message (the handler owns it from here); any thread, any state. With
    // QUEUE_LIMIT calls waiting, a message that a peer sent (delivered by the session's gate)
    // is refused with an error line and released, so that the receive thread never waits for
    // one element; a local caller waits until there is room or the handler ends. The handler
    // thread itself and the UI thread do not wait (the handler may be waiting for the UI
    // thread): theirs is queued beyond the limit.
    void notifyMessage(IMessage* message) override;

    bool isRunning() const { return state_ == RUNNING; }
    // The handler thread's id; 0 before start.
    DWORD getThreadId() const { return threadId_; }

private:
    struct Argument;

    static void run(void* handler);
    void loop();
    bool mayWaitForRoom() const;
    void processMessage(IMessage* message);
    bool isForThisCopy(const IMessage* message);
    void runNotice(CMethodCallMessage* call, Argument& argument);
    void runQuery(CMethodCallMessage* call, Argument& argument);
    ISerializable* dispatchQuery(CMethodCallMessage* call, Argument& argument);
    static void dispose(CJObject* object);

    std::atomic<int> state_;
    std::string name_;
    std::atomic<DWORD> threadId_;
    CElement* target_;
    CProxyElement* proxy_;       // proxyMonitor_
    CProxyElement* answeringWith_; // proxyMonitor_: the proxy of the QUERY being answered; plugOut waits for it
    IMessageSource* source_;     // this object's monitor
    std::string enteredAs_;      // the element id under which the source knows this handler
    CVector* queue_;             // its monitor guards it and wakes the thread
    std::condition_variable_any room_; // with the queue's monitor: wakes local callers waiting for room
    bool loopedOut_;             // loopExitMonitor_
    CJObject loopExitMonitor_;
    CJObject proxyMonitor_;
    HANDLE thread_;              // waited for by end()
};
