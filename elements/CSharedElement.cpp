#include "CSharedElement.h"

#include "CIOException.h"
#include "CIllegalStateException.h"
#include "CIllegalThreadStateException.h"
#include "CMethodCallMessage.h"
#include "CNullPointerException.h"

namespace {

const char SCOPE[] = "CSharedElement";
const char INITIALIZE_SLAVE[] = "initializeSlave";
const char REQUEST_SYNC[] = "requestSync";
const char END_SYNC[] = "endSync";
const char EXECUTE_MASTER_METHOD[] = "REQ_executeMasterMethod";
const char EXECUTE_SLAVE_METHOD[] = "INS_executeSlaveMethod";
// Only cooperative methods may be run through the relay: a peer must not be able to run any
// other method of a copy (its protocol, its local calls) by naming it there.
const char COOPERATIVE_PREFIX[] = "COP_";

bool isCooperative(const std::string& method)
{
    return method.compare(0, sizeof(COOPERATIVE_PREFIX) - 1, COOPERATIVE_PREFIX) == 0;
}

} // namespace

CSharedElement::CSharedElement()
    : role_(ROLE_MASTER), id_(CMethodCallMessage::INVALID_ELEMENT_GUID), synchronized_(true)
{
    registerMethod(INITIALIZE_SLAVE, &CSharedElement::initializeSlave);
    registerMethod(REQUEST_SYNC, &CSharedElement::requestSync);
    registerMethod(END_SYNC, &CSharedElement::endSync);
    registerMethod(EXECUTE_MASTER_METHOD, &CSharedElement::REQ_executeMasterMethod);
    registerMethod(EXECUTE_SLAVE_METHOD, &CSharedElement::INS_executeSlaveMethod);
}

CSharedElement::~CSharedElement() {}

std::string CSharedElement::getElementId() const
{
    if (id_ == CMethodCallMessage::INVALID_ELEMENT_GUID)
        CTrace::scopedError(SCOPE, " getElementId(): the id of a shared element was read before it was set", -1);
    return id_;
}

CElement::CopyRole CSharedElement::getCopyRole() const
{
    return isMaster() ? MASTER_COPY : SLAVE_COPY;
}

void CSharedElement::setMaster(bool master)
{
    role_ = master ? ROLE_MASTER : ROLE_SLAVE;
    synchronized_ = master;
}

std::string CSharedElement::getMasterTerminal() const
{
    return isMaster() ? std::string(CMethodCallMessage::LOCAL_TERMINAL) : masterTerminal_;
}

// ---- text fields

std::string CSharedElement::getToken(int n, const std::string& text, const std::string& separator)
{
    size_t position = 0;
    for (int field = 0; field <= n; ++field) {
        size_t start = position;
        if (start >= text.size())
            return std::string();
        size_t found = separator.empty() ? std::string::npos : text.find(separator, start);
        if (found == std::string::npos)
            found = text.size();
        if (field == n)
            return text.substr(start, found - start);
        position = found + separator.size();
    }
    return std::string();
}

std::string CSharedElement::getRest(int n, const std::string& text, const std::string& separator)
{
    if (n < 0)
        return std::string();
    size_t position = 0;
    for (int passed = 0; passed < n; ++passed) {
        size_t found = separator.empty() ? std::string::npos : text.find(separator, position);
        if (found == std::string::npos)
            return std::string();
        position = found + separator.size();
    }
    return text.substr(position);
}

// ---- sending

void CSharedElement::checkMaster(const char* operation) const
{
    if (!isMaster())
        throw CIllegalStateException(std::string(" ") + operation + "(): this method was run on a slave ["
                                     + id_ + "]");
}

void CSharedElement::checkSlave(const char* operation) const
{
    if (isMaster())
        throw CIllegalStateException(std::string(" ") + operation + "(): this method was run on the master ["
                                     + id_ + "]");
}

std::string CSharedElement::callerTerminal(const char* operation) const
{
    checkMaster(operation);
    try {
        return getCallerTerminal();
    } catch (CNullPointerException& e) {
        throw CIllegalThreadStateException(e.getMessage() + " (" + operation
                                           + "() was run outside the thread of the element's method calls)");
    }
}

void CSharedElement::replyToCaller(const std::string& method)
{
    sendNotice(callerTerminal("replyToCaller"), id_, method);
}

void CSharedElement::replyToCallerObj(const std::string& method, ISerializable* object)
{
    sendNoticeObj(callerTerminal("replyToCallerObj"), id_, method, object);
}

void CSharedElement::replyToCallerStr(const std::string& method, const std::string& text)
{
    sendNoticeStr(callerTerminal("replyToCallerStr"), id_, method, text);
}

void CSharedElement::replyToCallerBuf(const std::string& method, int size, const unsigned char* bytes)
{
    sendNoticeBuf(callerTerminal("replyToCallerBuf"), id_, method, size, bytes);
}

void CSharedElement::replyToCallerWndMsg(unsigned msg, unsigned wParam, unsigned lParam)
{
    sendWndMsg(callerTerminal("replyToCallerWndMsg"), id_, msg, wParam, lParam);
}

void CSharedElement::sendToSlaves(const std::string& method)
{
    checkMaster("sendToSlaves");
    sendNotice(CMethodCallMessage::HAS_SLAVE, id_, method);
}

void CSharedElement::sendToSlavesObj(const std::string& method, ISerializable* object)
{
    checkMaster("sendToSlavesObj");
    sendNoticeObj(CMethodCallMessage::HAS_SLAVE, id_, method, object);
}

void CSharedElement::sendToSlavesStr(const std::string& method, const std::string& text)
{
    checkMaster("sendToSlavesStr");
    sendNoticeStr(CMethodCallMessage::HAS_SLAVE, id_, method, text);
}

void CSharedElement::sendToSlavesBuf(const std::string& method, int size, const unsigned char* bytes)
{
    checkMaster("sendToSlavesBuf");
    sendNoticeBuf(CMethodCallMessage::HAS_SLAVE, id_, method, size, bytes);
}

void CSharedElement::sendToSlavesWndMsg(unsigned msg, unsigned wParam, unsigned lParam)
{
    checkMaster("sendToSlavesWndMsg");
    sendWndMsg(CMethodCallMessage::HAS_SLAVE, id_, msg, wParam, lParam);
}

void CSharedElement::sendToMaster(const std::string& method)
{
    checkSlave("sendToMaster");
    sendNotice(CMethodCallMessage::HAS_MASTER, id_, method);
}

void CSharedElement::sendToMasterObj(const std::string& method, ISerializable* object)
{
    checkSlave("sendToMasterObj");
    sendNoticeObj(CMethodCallMessage::HAS_MASTER, id_, method, object);
}

void CSharedElement::sendToMasterStr(const std::string& method, const std::string& text)
{
    checkSlave("sendToMasterStr");
    sendNoticeStr(CMethodCallMessage::HAS_MASTER, id_, method, text);
}

void CSharedElement::sendToMasterBuf(const std::string& method, int size, const unsigned char* bytes)
{
    checkSlave("sendToMasterBuf");
    sendNoticeBuf(CMethodCallMessage::HAS_MASTER, id_, method, size, bytes);
}

void CSharedElement::sendToMasterWndMsg(unsigned msg, unsigned wParam, unsigned lParam)
{
    checkSlave("sendToMasterWndMsg");
    sendWndMsg(CMethodCallMessage::HAS_MASTER, id_, msg, wParam, lParam);
}

std::string CSharedElement::queryMasterStr(const std::string& method)
{
    checkSlave("queryMasterStr");
    return queryStr(CMethodCallMessage::HAS_MASTER, id_, method);
}

void CSharedElement::requestMasterMethod(const std::string& method, const std::string& argument)
{
    CTrace::trace(SCOPE, " requestMasterMethod(" + method + ", " + argument + ") [" + id_ + "]", 0);
    if (isMaster()) {
        sendToSlavesStr(method, argument);
        return;
    }
    const std::string separator = CMethodCallMessage::ARG_SEPARATOR;
    sendToMasterStr(EXECUTE_MASTER_METHOD, getTerminalId() + separator + method + separator + argument);
}

// ---- protocol

// A protocol call that reaches the wrong role comes from a peer (or a race); it is reported and
// left alone rather than ending the process.
bool CSharedElement::isProtocolRole(bool master, const char* method) const
{
    if (isMaster() == master)
        return true;
    CTrace::scopedError(SCOPE, std::string(" \"") + method + "\" ran on " + (isMaster() ? "the master" : "a slave")
                                   + " [" + id_ + "]: ignored",
                        -1);
    return false;
}

void CSharedElement::initializeSlave()
{
    CTrace::trace(SCOPE, " initializeSlave() [" + id_ + "]", 0);
    if (!isProtocolRole(false, INITIALIZE_SLAVE))
        return;
    try {
        sendToMaster(REQUEST_SYNC);
    } catch (CIllegalStateException& e) {
        CTrace::scopedFatalError(SCOPE, " initializeSlave(): " + e.getMessage(), -1);
    } catch (CIOException& e) {
        CTrace::scopedFatalError(SCOPE, " initializeSlave(): " + e.getMessage(), -1);
    }
}

void CSharedElement::requestSync()
{
    CTrace::trace(SCOPE, " requestSync() [" + id_ + "]", 0);
    if (!isProtocolRole(true, REQUEST_SYNC))
        return;
    onSync();
    try {
        replyToCaller(END_SYNC);
    } catch (CIllegalStateException& e) {
        CTrace::scopedFatalError(SCOPE, " requestSync(): " + e.getMessage(), -1);
    } catch (CIllegalThreadStateException& e) {
        CTrace::scopedFatalError(SCOPE, " requestSync(): " + e.getMessage(), -1);
    } catch (CIOException& e) {
        CTrace::scopedFatalError(SCOPE, " requestSync(): " + e.getMessage(), -1);
    }
}

void CSharedElement::endSync()
{
    CTrace::trace(SCOPE, " endSync() [" + id_ + "]", 0);
    if (!isProtocolRole(false, END_SYNC))
        return;
    onEndSync();
    synchronized_ = true;
}

void CSharedElement::REQ_executeMasterMethod(const std::string& relay)
{
    if (!isProtocolRole(true, EXECUTE_MASTER_METHOD))
        return;
    CTrace::trace(SCOPE, " REQ_executeMasterMethod(" + relay + ") [" + id_ + "]", 0);
    const std::string separator = CMethodCallMessage::ARG_SEPARATOR;
    std::string method = getToken(1, relay, separator);
    if (!isCooperative(method)) {
        CTrace::scopedError(SCOPE, " REQ_executeMasterMethod(): [" + method + "] is not a cooperative method: ignored",
                            -1);
        return;
    }
    executeStrMethod(method, getRest(2, relay, separator));
    sendToSlavesStr(EXECUTE_SLAVE_METHOD, relay);
}

void CSharedElement::INS_executeSlaveMethod(const std::string& relay)
{
    if (!isProtocolRole(false, EXECUTE_SLAVE_METHOD))
        return;
    CTrace::trace(SCOPE, " INS_executeSlaveMethod(" + relay + ") [" + id_ + "]", 0);
    const std::string separator = CMethodCallMessage::ARG_SEPARATOR;
    std::string starter = getToken(0, relay, separator);
    std::string method = getToken(1, relay, separator);
    if (starter == getTerminalId()) {
        CTrace::trace(SCOPE, " INS_executeSlaveMethod(): this terminal started the call, it ran here already", 0);
        return;
    }
    if (!isSynchronized()) {
        CTrace::trace(SCOPE, " INS_executeSlaveMethod(): the synchronisation has not finished", 0);
        return;
    }
    if (!isCooperative(method)) {
        CTrace::scopedError(SCOPE, " INS_executeSlaveMethod(): [" + method + "] is not a cooperative method: ignored",
                            -1);
        return;
    }
    executeStrMethod(method, getRest(2, relay, separator));
}
