#include "CElement.h"

#include "CCaughtException.h"
#include "CElementHandler.h"
#include "CIOException.h"
#include "CIllegalArgumentException.h"
#include "CIllegalStateException.h"
#include "CIndirectMethodInfo.h"
#include "CJString.h"
#include "CLocalMethod.h"
#include "CMonitorHold.h"
#include "CNoSuchMethodException.h"
#include "CNullPointerException.h"
#include "CProxyElement.h"
#include "CSerializablePointer.h"
#include "CThread.h"
#include "CTimeOutException.h"
#include "CUnexpectedException.h"
#include "CWndMsg.h"

#include <CWnd.h>

#include <exception>

namespace {

const char SCOPE[] = "CElement";
const char WND_MSG_METHOD[] = "THIS_NAME_IS_DUMMY";
const char ON_PLUG_IN[] = "onPlugIn";
const char EXECUTE_ON_PLUG_OUT[] = "executeOnPlugOut";
const char INITIALIZE_SLAVE[] = "initializeSlave";

enum Site {
    SITE_PLUG_OUT = 1,
    SITE_ON_PLUG_OUT,
    SITE_ON_PLUG_OUT_DONE,
};

// In the order of the alternatives of CElement::Method.
const char* const KIND_NAMES[] = {
    "FP_IIM",      "FP_IIM_ARG",      "FP_IIM_BUFARG",      "FP_IIM_STRARG",      "FP_SYNC_IIM",
    "FP_SYNC_IIM_ARG", "FP_SYNC_IIM_BUFARG", "FP_SYNC_IIM_STRARG", "FP_SYNC_IIM_STRRV",
};

template <class FP> const char* kindName();
template <> const char* kindName<CElement::FP_IIM>() { return KIND_NAMES[0]; }
template <> const char* kindName<CElement::FP_IIM_ARG>() { return KIND_NAMES[1]; }
template <> const char* kindName<CElement::FP_IIM_BUFARG>() { return KIND_NAMES[2]; }
template <> const char* kindName<CElement::FP_IIM_STRARG>() { return KIND_NAMES[3]; }
template <> const char* kindName<CElement::FP_SYNC_IIM>() { return KIND_NAMES[4]; }
template <> const char* kindName<CElement::FP_SYNC_IIM_ARG>() { return KIND_NAMES[5]; }
template <> const char* kindName<CElement::FP_SYNC_IIM_BUFARG>() { return KIND_NAMES[6]; }
template <> const char* kindName<CElement::FP_SYNC_IIM_STRARG>() { return KIND_NAMES[7]; }
template <> const char* kindName<CElement::FP_SYNC_IIM_STRRV>() { return KIND_NAMES[8]; }

std::string textOf(int size, const unsigned char* bytes)
{
    return size > 0 && bytes != nullptr ? std::string(reinterpret_cast<const char*>(bytes), size) : std::string();
}

// Keeps the handler thread from waiting for the UI thread for a scope.
class QueriesDisabled {
public:
    explicit QueriesDisabled(CElementHandler* handler) : handler_(handler) { CLocalMethod::disableQuery(handler_); }
    ~QueriesDisabled() { CLocalMethod::enableQuery(handler_); }
    QueriesDisabled(const QueriesDisabled&) = delete;
    QueriesDisabled& operator=(const QueriesDisabled&) = delete;

private:
    CElementHandler* handler_;
};

bool onUiThread()
{
    try {
        return CThread::checkUIThread();
    } catch (CNullPointerException& e) {
        CTrace::scopedFatalError(SCOPE, " " + e.getMessage() + ": no UI thread is registered with CThread", -1);
    }
}

} // namespace

CElement::CElement()
    : handler_(nullptr), proxy_(nullptr), callerSet_(false), plugOutPending_(false), plugOutDone_(false)
{
    registerMethod(ON_PLUG_IN, &CElement::onPlugIn);
    registerMethod(EXECUTE_ON_PLUG_OUT, &CElement::deliverOnPlugOut);
}

CElement::~CElement()
{
    if (handler_ == nullptr)
        return;
    // Too late to end the handler here: the deriving class is gone already, and its thread may
    // be running one of its methods.
    if (proxy_ != nullptr)
        CTrace::scopedFatalError(SCOPE, " ~CElement(): [" + objectId_ + "] destroyed while plugged in: call plugOut()"
                                        " and end() first", -1);
    CTrace::scopedFatalError(SCOPE, " ~CElement(): [" + objectId_ + "] destroyed while running: call end() first", -1);
}

void CElement::onPlugIn(const std::string&) {}

void CElement::onPlugOut(const std::string&) {}

std::string CElement::getElementId() const
{
    return elementId_;
}

CElement::CopyRole CElement::getCopyRole() const
{
    return NOT_SHARED;
}

// ---- method tables

void CElement::registerMethod(const std::string& name, FP_IIM method) { addMethod(name, method); }
void CElement::registerMethod(const std::string& name, FP_IIM_ARG method) { addMethod(name, method); }
void CElement::registerMethod(const std::string& name, FP_IIM_BUFARG method) { addMethod(name, method); }
void CElement::registerMethod(const std::string& name, FP_IIM_STRARG method) { addMethod(name, method); }
void CElement::registerMethod(const std::string& name, FP_SYNC_IIM method) { addMethod(name, method); }
void CElement::registerMethod(const std::string& name, FP_SYNC_IIM_ARG method) { addMethod(name, method); }
void CElement::registerMethod(const std::string& name, FP_SYNC_IIM_BUFARG method) { addMethod(name, method); }
void CElement::registerMethod(const std::string& name, FP_SYNC_IIM_STRARG method) { addMethod(name, method); }
void CElement::registerMethod(const std::string& name, FP_SYNC_IIM_STRRV method) { addMethod(name, method); }

void CElement::addMethod(const std::string& name, Method method)
{
    if (methods_.count(name) != 0)
        throw CIllegalArgumentException(" registerMethod(): the method [" + name + "] is already registered");
    methods_.emplace(name, method);
    CTrace::trace(SCOPE, " registerMethod(): [" + name + "] as " + KIND_NAMES[method.index()], 0);
}

const CElement::Method* CElement::findMethod(const std::string& name) const
{
    auto entry = methods_.find(name);
    return entry == methods_.end() ? nullptr : &entry->second;
}

// The method when the name is registered with that kind, else NULL.
template <class FP> FP CElement::methodOfKind(const Method* entry, const std::string& name) const
{
    const FP* method = entry == nullptr ? nullptr : std::get_if<FP>(entry);
    if (method == nullptr)
        return nullptr;
    CTrace::scopedAssertTrue(*method != nullptr, SCOPE, " the entry of [" + name + "] holds no method", -1);
    CTrace::trace(SCOPE, std::string(" ") + kindName<FP>() + " [" + name + "]", 0);
    return *method;
}

// A call never runs a method through another kind's signature.
template <class FP> FP CElement::requireMethod(const Method* entry, const std::string& name) const
{
    FP method = methodOfKind<FP>(entry, name);
    if (method != nullptr)
        return method;
    std::string registered = entry == nullptr ? std::string() : std::string(", registered as ") + KIND_NAMES[entry->index()];
    throw CNoSuchMethodException(" no method of that kind exists: [" + name + "] as " + kindName<FP>() + registered);
}

// The method for a call with an object argument, which goes when there is none.
template <class FP> FP CElement::requireMethodFor(const std::string& name, ISerializable* object) const
{
    try {
        return requireMethod<FP>(findMethod(name), name);
    } catch (CNoSuchMethodException&) {
        delete object;
        throw;
    }
}

// A window message argument is not a method's: its values are copied and the object deleted.
bool CElement::takeWndMsg(ISerializable* object, CWndMsg& message)
{
    CWndMsg* given = dynamic_cast<CWndMsg*>(object);
    if (given == nullptr)
        return false;
    message = *given;
    delete object;
    return true;
}

// ---- life cycle

void CElement::start(const std::string& name)
{
    CTrace::trace(SCOPE, " start(" + name + ")", 0);
    if (handler_ != nullptr)
        throw CIllegalStateException(" start() called twice [" + objectId_ + "]");
    handler_ = new CElementHandler(this, name);
    objectId_ = CLocalMethod::makeUniqueName();
    handler_->start();
    CLocalMethod::addListener(objectId_, handler_);
}

void CElement::plugIn(const std::string& terminalId, IMessageSource* source, CProxyElement* proxy,
                      const std::string& text)
{
    CTrace::trace(SCOPE, " plugIn(" + terminalId + ", " + text + ") [" + objectId_ + "]", 0);
    if (handler_ == nullptr)
        throw CIllegalStateException(" plugIn() called without start()");
    if (proxy_ != nullptr)
        throw CIllegalStateException(" plugIn() called without plugOut() [" + objectId_ + "]");
    terminalId_ = terminalId;
    plugInText_ = text;
    handler_->plugIn(source, proxy);
    proxy_ = proxy;
    bool slave = getCopyRole() == SLAVE_COPY;
    if (isGuiElementOnUiThread(this)) {
        onPlugIn(text);
        if (slave)
            executeMethod(INITIALIZE_SLAVE);
        return;
    }
    CLocalMethod::postMethodStr(objectId_, ON_PLUG_IN, text);
    if (slave)
        CLocalMethod::postMethod(objectId_, INITIALIZE_SLAVE);
}

void CElement::plugOut()
{
    CTrace::trace(SCOPE, " plugOut() [" + objectId_ + "]", 0);
    if (proxy_ == nullptr)
        throw CIllegalStateException(" plugOut() called without plugIn() [" + objectId_ + "]");
    checkNotOnHandlerThread("plugOut");
    // Before anything waits for the handler thread: a query being answered and onPlugOut may not
    // wait for the UI thread, which may be the very thread waiting here. A wait that has begun
    // is refused now (a time-out for the query).
    QueriesDisabled queriesDisabled(handler_);
    handler_->plugOut();
    if (isGuiElementOnUiThread(this)) {
        try {
            onPlugOut(plugInText_);
        } catch (...) {
            CTrace::scopedError(SCOPE, " onPlugOut() threw: " + CCaughtException::describe(), -1);
        }
        proxy_ = nullptr;
        return;
    }
    {
        CMonitorHold hold(plugOutMonitor_, SITE_PLUG_OUT, SCOPE);
        plugOutPending_ = true;
        plugOutDone_ = false;
        try {
            CLocalMethod::postMethodStr(objectId_, EXECUTE_ON_PLUG_OUT, plugInText_);
        } catch (CJException& e) {
            CTrace::scopedError(SCOPE, " plugOut(): onPlugOut cannot be queued: " + e.toString(), -1);
            plugOutDone_ = true;
        }
        // Held from before the post, so the notify cannot come before this wait.
        while (!plugOutDone_) {
            if (!plugOutMonitor_.wait(INFINITE))
                CTrace::scopedFatalError(SCOPE, " plugOut(): waiting for onPlugOut failed", -1);
        }
        plugOutPending_ = false;
    }
    proxy_ = nullptr;
    CTrace::trace(SCOPE, " plugOut() done [" + objectId_ + "]", 0);
}

// "executeOnPlugOut", on the handler thread: the plug-out waits for it also when onPlugOut throws.
void CElement::deliverOnPlugOut(const std::string& text)
{
    CTrace::trace(SCOPE, " executeOnPlugOut(" + text + ") [" + objectId_ + "]", 0);
    {
        CMonitorHold hold(plugOutMonitor_, SITE_ON_PLUG_OUT, SCOPE);
        if (!plugOutPending_) {
            CTrace::scopedError(SCOPE, " executeOnPlugOut arrived while no plug-out waits: ignored", -1);
            return;
        }
    }
    std::exception_ptr failure;
    try {
        onPlugOut(text);
    } catch (...) {
        failure = std::current_exception();
    }
    {
        CMonitorHold hold(plugOutMonitor_, SITE_ON_PLUG_OUT_DONE, SCOPE);
        plugOutDone_ = true;
        plugOutMonitor_.notify();
    }
    CTrace::trace(SCOPE, " executeOnPlugOut done [" + objectId_ + "]", 0);
    if (failure)
        std::rethrow_exception(failure); // the handler reports it like any notice's
}

void CElement::end()
{
    CTrace::trace(SCOPE, " end() [" + objectId_ + "]", 0);
    if (handler_ == nullptr)
        throw CIllegalStateException(" end() called without start()");
    // The gate would keep delivering to the handler that goes now.
    if (proxy_ != nullptr)
        throw CIllegalStateException(" end() called without plugOut() [" + objectId_ + "]");
    checkNotOnHandlerThread("end");
    CLocalMethod::disableQuery(handler_);
    CLocalMethod::removeTarget(objectId_);
    handler_->end();
    CLocalMethod::enableQuery(handler_);
    delete handler_;
    handler_ = nullptr;
    CTrace::trace(SCOPE, " end() done [" + objectId_ + "]", 0);
}

// plugOut and end wait for the handler thread; on that thread they would wait for ever.
void CElement::checkNotOnHandlerThread(const char* operation) const
{
    if (GetCurrentThreadId() == handler_->getThreadId())
        throw CIllegalStateException(std::string(" ") + operation + "() called by a method of the element ["
                                     + objectId_ + "]");
}

std::string CElement::getCallerTerminal() const
{
    std::lock_guard<std::mutex> hold(callerLock_);
    if (!callerSet_)
        throw CNullPointerException(" getCallerTerminal(): the caller terminal has not been set");
    return callerTerminal_;
}

void CElement::setCallerTerminal(const std::string* terminal)
{
    std::lock_guard<std::mutex> hold(callerLock_);
    callerSet_ = terminal != nullptr;
    callerTerminal_ = terminal != nullptr ? *terminal : std::string();
}

// ---- dispatch

void CElement::executeMethod(const std::string& name)
{
    if (runOnUiThread(IIM_ASYNC_NOARG, name, nullptr, 0, nullptr))
        return;
    FP_IIM method = requireMethod<FP_IIM>(findMethod(name), name);
    (this->*method)();
}

void CElement::executeMethodArg(const std::string& name, ISerializable* object)
{
    if (runOnUiThread(IIM_ASYNC_OBJARG, name, object, 0, nullptr))
        return;
    CWndMsg message(0, 0, 0);
    if (takeWndMsg(object, message)) {
        CLocalMethod::postWndMsg(objectId_, message.getMsg(), message.getWParam(), message.getLParam());
        return;
    }
    FP_IIM_ARG method = requireMethodFor<FP_IIM_ARG>(name, object);
    (this->*method)(object);
}

void CElement::executeMethodBuf(const std::string& name, int size, const unsigned char* bytes)
{
    if (runOnUiThread(IIM_ASYNC_BUFARG, name, nullptr, size, bytes))
        return;
    const Method* entry = findMethod(name);
    if (FP_IIM_STRARG method = methodOfKind<FP_IIM_STRARG>(entry, name)) {
        (this->*method)(textOf(size, bytes));
        return;
    }
    FP_IIM_BUFARG method = requireMethod<FP_IIM_BUFARG>(entry, name);
    (this->*method)(size, bytes);
}

ISerializable* CElement::executeSyncMethod(const std::string& name)
{
    if (isWindowOffUiThread())
        return execSyncByUiThread(IIM_SYNC_NOARG, name, nullptr, 0, nullptr);
    const Method* entry = findMethod(name);
    if (FP_SYNC_IIM_STRRV method = methodOfKind<FP_SYNC_IIM_STRRV>(entry, name))
        return new CJString((this->*method)());
    FP_SYNC_IIM method = requireMethod<FP_SYNC_IIM>(entry, name);
    return (this->*method)();
}

ISerializable* CElement::executeSyncMethodArg(const std::string& name, ISerializable* object)
{
    if (isWindowOffUiThread())
        return execSyncByUiThread(IIM_SYNC_OBJARG, name, object, 0, nullptr);
    CWndMsg message(0, 0, 0);
    if (takeWndMsg(object, message)) {
        LRESULT result = CLocalMethod::invokeSync(objectId_, message.getMsg(), message.getWParam(), message.getLParam());
        return new CWndMsg(0, 0, static_cast<unsigned>(result));
    }
    FP_SYNC_IIM_ARG method = requireMethodFor<FP_SYNC_IIM_ARG>(name, object);
    return (this->*method)(object);
}

ISerializable* CElement::executeSyncMethodBuf(const std::string& name, int size, const unsigned char* bytes)
{
    if (isWindowOffUiThread())
        return execSyncByUiThread(IIM_SYNC_BUFARG, name, nullptr, size, bytes);
    const Method* entry = findMethod(name);
    if (FP_SYNC_IIM_STRARG method = methodOfKind<FP_SYNC_IIM_STRARG>(entry, name))
        return (this->*method)(textOf(size, bytes));
    FP_SYNC_IIM_BUFARG method = requireMethod<FP_SYNC_IIM_BUFARG>(entry, name);
    return (this->*method)(size, bytes);
}

void CElement::executeStrMethod(const std::string& name, const std::string& text)
{
    FP_IIM_STRARG method = requireMethod<FP_IIM_STRARG>(findMethod(name), name);
    (this->*method)(text);
}

// ---- window elements: their methods run on the UI thread

bool CElement::isGuiElementOnUiThread(const CElement* element)
{
    return dynamic_cast<const CWnd*>(element) != nullptr && onUiThread();
}

bool CElement::isWindowOffUiThread() const
{
    return dynamic_cast<const CWnd*>(this) != nullptr && !onUiThread();
}

bool CElement::runOnUiThread(int kind, const std::string& name, ISerializable* object, int size,
                             const unsigned char* bytes)
{
    if (!isWindowOffUiThread())
        return false;
    CIndirectMethodInfo* call = new CIndirectMethodInfo(kind, this, name, object, size, bytes);
    call->setExecutor(&CElement::Execute);
    CLocalMethod::invokeByUiThread(call);
    return true;
}

ISerializable* CElement::execSyncByUiThread(int kind, const std::string& name, ISerializable* object, int size,
                                            const unsigned char* bytes)
{
    CIndirectMethodInfo* call = new CIndirectMethodInfo(kind, this, name, object, size, bytes);
    call->setExecutor(&CElement::ExecuteSync);
    LRESULT result;
    try {
        result = CLocalMethod::invokeByUiThread(call);
    } catch (CIllegalStateException& e) {
        // The invoker's refusal while queries are disabled (a plug-out is going on) counts as a
        // time-out; the method's own CIllegalStateException passes on.
        if (CLocalMethod::isQueryAllowed(GetCurrentThreadId()))
            throw;
        throw CTimeOutException(" synchronous method execution is forbidden now (" + e.getMessage()
                                + "): treat it as a time-out");
    }
    ISerializable* answer = reinterpret_cast<ISerializable*>(result);
    if (CSerializablePointer* wrapped = dynamic_cast<CSerializablePointer*>(answer)) {
        ISerializable* exception = static_cast<ISerializable*>(wrapped->getPointer());
        delete wrapped;
        throw exception;
    }
    return answer;
}

LRESULT CElement::Execute(CIndirectMethodInfo* call)
{
    CTrace::scopedAssertTrue(call != nullptr, SCOPE, " Execute(): the call is NULL", -1);
    CElement* target = call->getTarget();
    const std::string& name = call->getMethodName();
    try {
        switch (call->getKind()) {
        case IIM_ASYNC_NOARG:
            target->executeMethod(name);
            break;
        case IIM_ASYNC_OBJARG:
            target->executeMethodArg(name, call->takeArg());
            break;
        case IIM_ASYNC_BUFARG:
            target->executeMethodBuf(name, call->getBufSize(), call->getBuf());
            break;
        default:
            CTrace::scopedFatalError(SCOPE, " Execute(): no execution function for the call kind "
                                                + std::to_string(call->getKind()), -1);
        }
    } catch (CJException& e) {
        CTrace::scopedError(SCOPE, " Execute(): [" + name + "] threw " + e.toString(), -1);
    } catch (ISerializable*) {
        CTrace::scopedError(SCOPE, " Execute(): [" + name + "] threw " + CCaughtException::describe(), -1);
    }
    return 0;
}

LRESULT CElement::ExecuteSync(CIndirectMethodInfo* call)
{
    CTrace::scopedAssertTrue(call != nullptr, SCOPE, " ExecuteSync(): the call is NULL", -1);
    CElement* target = call->getTarget();
    const std::string& name = call->getMethodName();
    ISerializable* answer = nullptr;
    try {
        switch (call->getKind()) {
        case IIM_SYNC_NOARG:
            answer = target->executeSyncMethod(name);
            break;
        case IIM_SYNC_OBJARG:
            answer = target->executeSyncMethodArg(name, call->takeArg());
            break;
        case IIM_SYNC_BUFARG:
            answer = target->executeSyncMethodBuf(name, call->getBufSize(), call->getBuf());
            break;
        default:
            CTrace::scopedFatalError(SCOPE, " ExecuteSync(): no execution function for the call kind "
                                                + std::to_string(call->getKind()), -1);
        }
    } catch (ISerializable* e) {
        // Handed to the waiting thread, which throws it again there.
        CTrace::trace(SCOPE, std::string(" ExecuteSync(): [") + name + "] threw an exception object", 0);
        answer = new CSerializablePointer(e);
    }
    return reinterpret_cast<LRESULT>(answer);
}

// ---- calls to other elements

CProxyElement* CElement::connectedProxy() const
{
    CProxyElement* proxy = proxy_;
    if (proxy == nullptr)
        throw CIOException(" not connected to a session [" + objectId_ + "]");
    return proxy;
}

namespace {

unsigned checkedSize(int size)
{
    if (size < 0)
        throw CIllegalArgumentException(" negative buffer size " + std::to_string(size));
    return static_cast<unsigned>(size);
}

} // namespace

void CElement::sendNotice(const std::string& recTermId, const std::string& recElemId, const std::string& method)
{
    connectedProxy()->sendNotice(recTermId, recElemId, method);
}

void CElement::sendNoticeObj(const std::string& recTermId, const std::string& recElemId, const std::string& method,
                             ISerializable* object)
{
    connectedProxy()->sendNotice(recTermId, recElemId, method, object);
}

void CElement::sendNoticeStr(const std::string& recTermId, const std::string& recElemId, const std::string& method,
                             const std::string& text)
{
    connectedProxy()->sendNotice(recTermId, recElemId, method, static_cast<unsigned>(text.size()), text.data());
}

void CElement::sendNoticeBuf(const std::string& recTermId, const std::string& recElemId, const std::string& method,
                             int size, const unsigned char* bytes)
{
    CProxyElement* proxy = connectedProxy();
    proxy->sendNotice(recTermId, recElemId, method, checkedSize(size), bytes);
}

void CElement::sendWndMsg(const std::string& recTermId, const std::string& recElemId, unsigned msg, unsigned wParam,
                          unsigned lParam)
{
    CProxyElement* proxy = connectedProxy();
    proxy->sendNotice(recTermId, recElemId, WND_MSG_METHOD, new CWndMsg(msg, wParam, lParam));
}

ISerializable* CElement::query(const std::string& recTermId, const std::string& recElemId, const std::string& method)
{
    return connectedProxy()->sendQuery(recTermId, recElemId, method);
}

ISerializable* CElement::queryObj(const std::string& recTermId, const std::string& recElemId,
                                  const std::string& method, ISerializable* object)
{
    return connectedProxy()->sendQuery(recTermId, recElemId, method, object);
}

ISerializable* CElement::queryWithStr(const std::string& recTermId, const std::string& recElemId,
                                      const std::string& method, const std::string& text)
{
    return connectedProxy()->sendQuery(recTermId, recElemId, method, static_cast<unsigned>(text.size()),
                                       text.data());
}

ISerializable* CElement::queryBuf(const std::string& recTermId, const std::string& recElemId,
                                  const std::string& method, int size, const unsigned char* bytes)
{
    CProxyElement* proxy = connectedProxy();
    return proxy->sendQuery(recTermId, recElemId, method, checkedSize(size), bytes);
}

unsigned CElement::queryWndMsg(const std::string& recTermId, const std::string& recElemId, unsigned msg,
                               unsigned wParam, unsigned lParam)
{
    CProxyElement* proxy = connectedProxy();
    ISerializable* answer = proxy->sendQuery(recTermId, recElemId, WND_MSG_METHOD, new CWndMsg(msg, wParam, lParam));
    CWndMsg* result = dynamic_cast<CWndMsg*>(answer);
    if (result == nullptr) {
        std::string got = answer == nullptr ? std::string("NULL") : std::string(answer->getClassName());
        delete answer;
        throw CUnexpectedException(" queryWndMsg(): the result is not a CWndMsg but " + got);
    }
    unsigned value = result->getLParam();
    delete answer;
    return value;
}

std::string CElement::queryStr(const std::string& recTermId, const std::string& recElemId, const std::string& method)
{
    ISerializable* answer = connectedProxy()->sendQuery(recTermId, recElemId, method);
    CJString* result = dynamic_cast<CJString*>(answer);
    if (result == nullptr) {
        std::string got = answer == nullptr ? std::string("NULL") : std::string(answer->getClassName());
        delete answer;
        throw CUnexpectedException(" queryStr(): the result is not a text but " + got);
    }
    std::string value = result->toString();
    delete answer;
    return value;
}
