#include "CElementHandler.h"

#include "CCaughtException.h"
#include "CElement.h"
#include "CIllegalStateException.h"
#include "CMessageMulticaster.h"
#include "CMethodCallMessage.h"
#include "CMonitorHold.h"
#include "CNoSuchMethodException.h"
#include "CNullPointerException.h"
#include "CProxyElement.h"
#include "CThread.h"
#include "CTimeOutException.h"
#include "CUnexpectedException.h"
#include "CVector.h"
#include "IMessageSource.h"

#include <exception>

namespace {

const char SCOPE[] = "CElementHandler";

enum Site {
    SITE_START = 1,
    SITE_PLUG_IN,
    SITE_PLUG_IN_PROXY,
    SITE_PLUG_OUT,
    SITE_PLUG_OUT_PROXY,
    SITE_END,
    SITE_END_QUEUE,
    SITE_END_WAIT,
    SITE_NOTIFY,
    SITE_TAKE,
    SITE_LOOP_EXIT,
    SITE_QUERY,
    SITE_DESTROY,
    SITE_QUERY_DONE,
};

// Balances the proxy's query refusal for the handler thread on every way out of a query.
class QueryRefusal {
public:
    explicit QueryRefusal(CProxyElement* proxy) : proxy_(proxy) { proxy_->disableQuery(); }
    ~QueryRefusal() { proxy_->enableQuery(); }
    QueryRefusal(const QueryRefusal&) = delete;
    QueryRefusal& operator=(const QueryRefusal&) = delete;

private:
    CProxyElement* proxy_;
};

} // namespace

// The argument of the call being run. An object taken out of the message belongs to the
// handler until the dispatch takes it, and is deleted when the call does not run.
struct CElementHandler::Argument {
    int kind = CMethodCallMessage::NOPARAM;
    ISerializable* object = nullptr;
    int size = 0;
    const unsigned char* bytes = nullptr;

    ISerializable* handOver()
    {
        ISerializable* taken = object;
        object = nullptr;
        return taken;
    }
    ~Argument() { delete object; }
};

CElementHandler::CElementHandler(CElement* target, const std::string& name)
    : state_(NOT_STARTED), name_(name), threadId_(0), target_(target), proxy_(nullptr), answeringWith_(nullptr),
      source_(nullptr), queue_(new CVector(10, -1)), loopedOut_(false), thread_(NULL)
{
    CTrace::scopedAssertTrue(target != nullptr, SCOPE, "rpTarget is NULL", -1);
}

CElementHandler::~CElementHandler()
{
    // Ending the thread here would be too late: its element, whose methods it may be running,
    // is already being destroyed.
    if (state_ == RUNNING)
        CTrace::scopedFatalError(SCOPE, " ~CElementHandler(): [" + name_ + "] destroyed while running: call end() first",
                                 -1);
    {
        CMonitorHold hold(*queue_, SITE_DESTROY, SCOPE);
        for (int i = queue_->size() - 1; i >= 0; --i)
            dispose(queue_->elementAt(i));
        queue_->removeAllElements();
    }
    delete queue_;
}

void CElementHandler::dispose(CJObject* object)
{
    if (IMessage* message = dynamic_cast<IMessage*>(object))
        IMessage::release(message);
    else
        delete object;
}

void CElementHandler::start()
{
    CMonitorHold hold(*this, SITE_START, SCOPE);
    CTrace::trace(SCOPE, " start() [" + name_ + "]", 0);
    int state = state_;
    if (state == RUNNING || state == DEAD)
        throw CIllegalStateException(" CElementHandler::start() called twice [" + name_ + "]");
    if (state != NOT_STARTED)
        CTrace::scopedFatalError(SCOPE, " start(): corrupt state " + std::to_string(state), -1);
    loopedOut_ = false;
    state_ = RUNNING;
    // Suspended until its id is known: the invoker may refuse that thread's queries right
    // after start, before the thread has run.
    CThread* thread = new CThread(name_, &CElementHandler::run, this);
    if (!thread->start(THREAD_PRIORITY_NORMAL, CREATE_SUSPENDED)) {
        delete thread;
        CTrace::scopedFatalError(SCOPE, " start(): the thread [" + name_ + "] cannot be started", -1);
    }
    threadId_ = thread->m_nThreadID;
    // end() waits for the very end of the thread, so nothing of it outlives its element.
    if (!DuplicateHandle(GetCurrentProcess(), thread->m_hThread, GetCurrentProcess(), &thread_, SYNCHRONIZE, FALSE, 0))
        thread_ = NULL;
    thread->resume();
}

void CElementHandler::plugIn(IMessageSource* source, CProxyElement* proxy)
{
    CTrace::scopedAssertTrue(source != nullptr, SCOPE, "rpMsgSrc is NULL", -1);
    CTrace::scopedAssertTrue(proxy != nullptr, SCOPE, "rpProxy is NULL", -1);
    CMonitorHold hold(*this, SITE_PLUG_IN, SCOPE);
    CTrace::trace(SCOPE, " plugIn() [" + name_ + "]", 0);
    if (state_ != RUNNING)
        throw CIllegalStateException(" CElementHandler::plugIn(): message processing is not running [" + name_ + "]");
    source_ = source;
    {
        CMonitorHold proxyHold(proxyMonitor_, SITE_PLUG_IN_PROXY, SCOPE);
        proxy_ = proxy;
    }
    enteredAs_ = target_->getElementId();
    source->addListener(enteredAs_, this);
}

void CElementHandler::plugOut()
{
    CMonitorHold hold(*this, SITE_PLUG_OUT, SCOPE);
    CTrace::trace(SCOPE, " plugOut() [" + name_ + "]", 0);
    if (state_ != RUNNING || source_ == nullptr)
        throw CIllegalStateException(" CElementHandler::plugOut() called without plugIn() [" + name_ + "]");
    // The thread would wait for its own query.
    if (GetCurrentThreadId() == threadId_)
        throw CIllegalStateException(" CElementHandler::plugOut() called on the handler thread [" + name_ + "]");
    source_->removeListener(enteredAs_);
    source_ = nullptr;
    CMonitorHold proxyHold(proxyMonitor_, SITE_PLUG_OUT_PROXY, SCOPE);
    proxy_ = nullptr;
    // A query being answered still sends its reply through the proxy; once it is out, nothing
    // here uses the proxy any more. The caller must not make the query's method wait for it
    // meanwhile (the element disables the thread's UI-thread calls first).
    while (answeringWith_ != nullptr) {
        if (!proxyMonitor_.wait(INFINITE))
            CTrace::scopedFatalError(SCOPE, " plugOut(): waiting for the query being answered failed [" + name_ + "]",
                                     -1);
    }
}

void CElementHandler::end()
{
    CMonitorHold hold(*this, SITE_END, SCOPE);
    CTrace::trace(SCOPE, " end() [" + name_ + "]", 0);
    int state = state_;
    if (state == NOT_STARTED)
        throw CIllegalStateException(" CElementHandler::end() called without start() [" + name_ + "]");
    if (state == DEAD)
        throw CIllegalStateException(" CElementHandler::end(): message processing is not running [" + name_ + "]");
    if (state != RUNNING)
        CTrace::scopedFatalError(SCOPE, " end(): corrupt state " + std::to_string(state), -1);
    // The thread would wait for itself.
    if (GetCurrentThreadId() == threadId_)
        throw CIllegalStateException(" CElementHandler::end() called on the handler thread [" + name_ + "]");
    state_ = DEAD;
    {
        CMonitorHold queueHold(*queue_, SITE_END_QUEUE, SCOPE);
        queue_->notify();
        room_.notify_all(); // nothing makes room any more: callers waiting for it queue and go
    }
    {
        CMonitorHold exitHold(loopExitMonitor_, SITE_END_WAIT, SCOPE);
        while (!loopedOut_) {
            if (!loopExitMonitor_.wait(INFINITE))
                CTrace::scopedFatalError(SCOPE, " end(): waiting for the thread [" + name_ + "] failed", -1);
        }
    }
    if (thread_ != NULL) {
        WaitForSingleObject(thread_, INFINITE);
        CloseHandle(thread_);
        thread_ = NULL;
    }
}

void CElementHandler::notifyMessage(IMessage* message)
{
    CJObject* object = dynamic_cast<CJObject*>(message);
    if (object == nullptr)
        CTrace::scopedFatalError(SCOPE, " notifyMessage(): the message is not a CJObject [" + name_ + "]", -1);
    bool fromPeer = CMessageMulticaster::deliversPeerMessage();
    bool queued = false;
    {
        CMonitorHold hold(*queue_, SITE_NOTIFY, SCOPE);
        if (queue_->size() >= QUEUE_LIMIT && !fromPeer && mayWaitForRoom())
            room_.wait(hold, [this] { return queue_->size() < QUEUE_LIMIT || state_ != RUNNING; });
        if (!fromPeer || queue_->size() < QUEUE_LIMIT) {
            queue_->addElement(object);
            queue_->notify();
            queued = true;
        }
    }
    if (!queued) {
        CTrace::scopedError(SCOPE, " notifyMessage(): " + std::to_string(QUEUE_LIMIT) + " calls wait already, a"
                                       " peer's message is refused [" + name_ + "]" + message->toString(), -1);
        IMessage::release(message);
    }
}

// Whether a local caller may wait for the handler thread to make room: only while that thread
// runs, and not on a thread that the handler thread itself may be waiting for.
bool CElementHandler::mayWaitForRoom() const
{
    if (state_ != RUNNING || GetCurrentThreadId() == threadId_)
        return false;
    try {
        return !CThread::checkUIThread();
    } catch (CNullPointerException&) {
        return true; // no UI thread is registered
    }
}

void CElementHandler::run(void* handler)
{
    if (handler == nullptr)
        CTrace::scopedFatalError(SCOPE, " run(): the handler is NULL", -1);
    static_cast<CElementHandler*>(handler)->loop();
}

void CElementHandler::loop()
{
    CTrace::setThreadName(name_);
    threadId_ = GetCurrentThreadId();
    CTrace::trace(SCOPE, " the handler thread runs", 0);
    while (state_ == RUNNING) {
        CJObject* taken = nullptr;
        {
            CMonitorHold hold(*queue_, SITE_TAKE, SCOPE);
            if (queue_->isEmpty() && state_ == RUNNING)
                queue_->wait(INFINITE);
            if (!queue_->isEmpty()) {
                taken = queue_->firstElement();
                queue_->removeElementAt(0);
                if (queue_->size() == QUEUE_LIMIT - 1)
                    room_.notify_all();
            }
        }
        if (taken == nullptr)
            continue;
        if (IMessage* message = dynamic_cast<IMessage*>(taken)) {
            processMessage(message);
        } else {
            CTrace::scopedError(SCOPE, " a queued object is not a message: " + taken->toString(), -1);
            delete taken;
        }
    }
    CTrace::trace(SCOPE, " the handler thread leaves its loop", 0);
    // The last touch of this object: end() may delete it as soon as the monitor is free.
    CMonitorHold hold(loopExitMonitor_, SITE_LOOP_EXIT, SCOPE);
    loopedOut_ = true;
    loopExitMonitor_.notify();
}

// A broadcast that came back to its sender, and calls meant for the other role of a replicated
// element, are not for this copy.
bool CElementHandler::isForThisCopy(const IMessage* message)
{
    const std::string& receiver = message->getRecTermId();
    if (receiver == CMethodCallMessage::ALL_TERMINAL_EXCEPT_ME && message->getSndTermId() == target_->getTerminalId()) {
        CTrace::trace(SCOPE, " a message to @ALL_TERMINAL_EXCEPT_ME came back to its sender: dropped", 0);
        return false;
    }
    CElement::CopyRole role = target_->getCopyRole();
    if (receiver == CMethodCallMessage::HAS_MASTER && role == CElement::SLAVE_COPY) {
        CTrace::trace(SCOPE, " a message to @HAS_MASTER reached a slave copy: dropped", 0);
        return false;
    }
    if (receiver == CMethodCallMessage::HAS_SLAVE && role == CElement::MASTER_COPY) {
        CTrace::trace(SCOPE, " a message to @HAS_SLAVE reached the master copy: dropped", 0);
        return false;
    }
    return true;
}

void CElementHandler::processMessage(IMessage* message)
{
    if (message == nullptr) {
        CTrace::scopedError(SCOPE, " processMessage(): NULL message", -1);
        return;
    }
    if (CTrace::isTraced(SCOPE))
        CTrace::trace(SCOPE, " processMessage():" + message->toString(), 0);
    if (!isForThisCopy(message)) {
        IMessage::release(message);
        return;
    }
    CMethodCallMessage* call = dynamic_cast<CMethodCallMessage*>(message);
    if (call == nullptr) {
        CTrace::scopedError(SCOPE, " processMessage(): not a method call:" + message->toString(), -1);
        IMessage::release(message);
        return;
    }
    // What a peer can get wrong is reported and dropped; the handler goes on.
    unsigned char modifier = call->getModifier();
    if (modifier != CMethodCallMessage::NOTICE && modifier != CMethodCallMessage::QUERY) {
        CTrace::scopedError(SCOPE, " processMessage(): an element takes only NOTICE and QUERY, dropped:"
                                       + call->toString(), -1);
        IMessage::release(message);
        return;
    }
    Argument argument;
    try {
        if (call->isCallWithoutParam()) {
            argument.kind = CMethodCallMessage::NOPARAM;
        } else if (call->isCallWithObjectParam()) {
            argument.kind = CMethodCallMessage::OBJECTPARAM;
            argument.object = call->getoutParam();
        } else if (call->isCallWithBufferParam()) {
            argument.kind = CMethodCallMessage::BUFFERPARAM;
            argument.size = static_cast<int>(call->getBufSize());
            argument.bytes = call->getBuf();
        } else {
            CTrace::scopedError(SCOPE, " processMessage(): a NOTICE or QUERY that is no method call, dropped:"
                                           + call->toString(), -1);
            IMessage::release(message);
            return;
        }
    } catch (CNullPointerException& e) {
        CTrace::trace(SCOPE, " processMessage(): the argument cannot be read: " + e.getMessage(), 0);
        IMessage::release(message);
        return;
    }
    target_->setCallerTerminal(&call->getSndTermId());
    if (modifier == CMethodCallMessage::NOTICE)
        runNotice(call, argument);
    else
        runQuery(call, argument);
    target_->setCallerTerminal(nullptr);
    IMessage::release(message);
}

void CElementHandler::runNotice(CMethodCallMessage* call, Argument& argument)
{
    const std::string& name = call->getMethodName();
    try {
        switch (argument.kind) {
        case CMethodCallMessage::NOPARAM:
            target_->executeMethod(name);
            break;
        case CMethodCallMessage::OBJECTPARAM:
            target_->executeMethodArg(name, argument.handOver());
            break;
        default:
            target_->executeMethodBuf(name, argument.size, argument.bytes);
            break;
        }
    } catch (CNoSuchMethodException& e) {
        CTrace::scopedError(SCOPE, " the method does not exist: " + e.getMessage(), -1);
    } catch (...) {
        // Nobody waits for a notice: what its method throws ends here, not the thread.
        CTrace::scopedError(SCOPE, " the method [" + name + "] threw: " + CCaughtException::describe(), -1);
    }
}

ISerializable* CElementHandler::dispatchQuery(CMethodCallMessage* call, Argument& argument)
{
    const std::string& name = call->getMethodName();
    switch (argument.kind) {
    case CMethodCallMessage::NOPARAM:
        return target_->executeSyncMethod(name);
    case CMethodCallMessage::OBJECTPARAM:
        return target_->executeSyncMethodArg(name, argument.handOver());
    default:
        return target_->executeSyncMethodBuf(name, argument.size, argument.bytes);
    }
}

void CElementHandler::runQuery(CMethodCallMessage* call, Argument& argument)
{
    CProxyElement* proxy;
    {
        CMonitorHold hold(proxyMonitor_, SITE_QUERY, SCOPE);
        if (proxy_ == nullptr) {
            CTrace::trace(SCOPE, " a QUERY cannot be processed while plugged out: no reply", 0);
            return;
        }
        proxy = proxy_;
        answeringWith_ = proxy;
    }
    // The element's method runs with no lock held. A plug-out meanwhile waits for the end of
    // this answer, the last use of the proxy.
    struct Answering {
        CElementHandler& handler;
        ~Answering()
        {
            CMonitorHold hold(handler.proxyMonitor_, SITE_QUERY_DONE, SCOPE);
            handler.answeringWith_ = nullptr;
            handler.proxyMonitor_.notify();
        }
    } answering{*this};
    // While it answers, this thread may not wait for answers of its own.
    QueryRefusal refusal(proxy);
    try {
        try {
            ISerializable* result = dispatchQuery(call, argument);
            proxy->sendReturnValue(call, result);
        } catch (ISerializable* e) {
            // The method's own exception object goes back as it is.
            if (e == nullptr)
                e = new CUnexpectedException(" the method [" + call->getMethodName() + "] threw a NULL exception");
            proxy->sendException(call, e);
        } catch (CNoSuchMethodException& e) {
            CTrace::scopedError(SCOPE, " the method does not exist: " + e.getMessage(), -1);
            proxy->sendException(call, new CNoSuchMethodException(e.getMessage()));
        } catch (CTimeOutException& e) {
            CTrace::trace(SCOPE, " the method timed out, so does the query (no reply): " + e.getMessage(), 0);
        } catch (CJException& e) {
            CTrace::scopedError(SCOPE, " the method [" + call->getMethodName() + "] threw: " + e.toString(), -1);
            proxy->sendException(call, new CUnexpectedException(e.getMessage()));
        } catch (...) {
            std::string text = CCaughtException::describe();
            CTrace::scopedError(SCOPE, " the method [" + call->getMethodName() + "] threw: " + text, -1);
            proxy->sendException(call, new CUnexpectedException(text));
        }
    } catch (...) {
        CTrace::scopedError(SCOPE, " the reply to [" + call->getMethodName() + "] cannot be sent: "
                                       + CCaughtException::describe(), -1);
    }
}
