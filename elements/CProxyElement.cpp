#include "CProxyElement.h"

#include "CIOException.h"
#include "CIllegalArgumentException.h"
#include "CIllegalStateException.h"
#include "CMethodCallMessage.h"
#include "CMonitorHold.h"
#include "CMsgUnreachedException.h"
#include "CNotSerializableException.h"
#include "CNullPointerException.h"
#include "CReplyWaitKey.h"
#include "CTimeOutException.h"
#include "CUnexpectedException.h"

#include <algorithm>

namespace {

const char SCOPE[] = "CProxyElement";

enum Site {
    SITE_ENTER_WAIT = 1,
    SITE_WITHDRAW,
    SITE_DELIVER,
    SITE_DISABLE,
    SITE_ENABLE,
    SITE_IS_DISABLED,
    SITE_DESTROY,
};

std::string number(unsigned value)
{
    return std::to_string(value);
}

} // namespace

CProxyElement::CProxyElement(IMessageListener* gate, const std::string& ownTerminalId, DWORD queryTimeoutMs)
    : gate_(gate), ownTerminalId_(ownTerminalId), queryTimeoutMs_(queryTimeoutMs), nextSerialNum_(1)
{
}

CProxyElement::~CProxyElement()
{
    CMonitorHold hold(tableLock_, SITE_DESTROY, SCOPE);
    if (!replyWaitTable_.empty())
        CTrace::scopedError(SCOPE, " ~CProxyElement(): " + std::to_string(replyWaitTable_.size())
                            + " queries still wait for their replies", -1);
}

std::string CProxyElement::getProxyId()
{
    return PROXY_ID;
}

void CProxyElement::sendNotice(const std::string& recTermId, const std::string& recElemId, const std::string& method)
{
    notice(CMethodCallMessage::createRemoteCall(recTermId, recElemId, ownTerminalId_, PROXY_ID, method));
}

void CProxyElement::sendNotice(const std::string& recTermId, const std::string& recElemId, const std::string& method,
                               ISerializable* object)
{
    notice(CMethodCallMessage::createRemoteCall(recTermId, recElemId, ownTerminalId_, PROXY_ID, method, object));
}

void CProxyElement::sendNotice(const std::string& recTermId, const std::string& recElemId, const std::string& method,
                               unsigned size, const void* bytes)
{
    notice(CMethodCallMessage::createRemoteCall(recTermId, recElemId, ownTerminalId_, PROXY_ID, method, size, bytes));
}

void CProxyElement::notice(CMethodCallMessage* message)
{
    message->setModifier(CMethodCallMessage::NOTICE);
    if (CTrace::isTraced(SCOPE))
        CTrace::trace(SCOPE, " sendNotice(): to the gate " + message->toString(), 0);
    gate_->notifyMessage(message);
}

ISerializable* CProxyElement::sendQuery(const std::string& recTermId, const std::string& recElemId,
                                        const std::string& method)
{
    return query(numbered(CMethodCallMessage::createRemoteCall(recTermId, recElemId, ownTerminalId_, PROXY_ID, method)));
}

ISerializable* CProxyElement::sendQuery(const std::string& recTermId, const std::string& recElemId,
                                        const std::string& method, ISerializable* object)
{
    return query(
        numbered(CMethodCallMessage::createRemoteCall(recTermId, recElemId, ownTerminalId_, PROXY_ID, method, object)));
}

ISerializable* CProxyElement::sendQuery(const std::string& recTermId, const std::string& recElemId,
                                        const std::string& method, unsigned size, const void* bytes)
{
    return query(numbered(
        CMethodCallMessage::createRemoteCall(recTermId, recElemId, ownTerminalId_, PROXY_ID, method, size, bytes)));
}

CMethodCallMessage* CProxyElement::numbered(CMethodCallMessage* message)
{
    message->setModifier(CMethodCallMessage::QUERY);
    message->setSerialNum(nextSerialNum());
    return message;
}

ISerializable* CProxyElement::query(CMethodCallMessage* message)
{
    CTrace::trace(SCOPE, " query(): examining the send conditions", 0);
    try {
        checkQuery(message->getRecTermId());
    } catch (CJException& e) {
        CTrace::trace(SCOPE, " query(): " + e.getMessage() + ", the handed-over query message is released", 0);
        IMessage::release(message);
        throw;
    }
    CTrace::trace(SCOPE, " query(): sending and waiting for the reply", 0);
    IMessage* reply = sendQueryAndWait(message, queryTimeoutMs_);
    CTrace::trace(SCOPE, " query(): processing the reply", 0);
    return takeAnswer(reply);
}

// Everything in a reply comes from a peer: whatever it holds, the caller gets a value or an
// exception, and the reply is released.
ISerializable* CProxyElement::takeAnswer(IMessage* reply)
{
    if (reply->isBroken()) {
        IMessage::release(reply);
        CTrace::trace(SCOPE, " query(): the reply content is broken", 0);
        throw CIOException("the reply content is broken");
    }
    if (reply->getModifier() == CMethodCallMessage::ERROR_REPLY) {
        IMessage::release(reply);
        CTrace::trace(SCOPE, " query(): the message did not reach the other side", 0);
        throw CMsgUnreachedException("the message did not reach the other side");
    }
    CMethodCallMessage* answer = dynamic_cast<CMethodCallMessage*>(reply);
    ISerializable* result = nullptr;
    bool valid = answer != nullptr && (answer->isReturnValue() || answer->isException());
    if (valid) {
        try {
            result = answer->getoutParam();
        } catch (CNullPointerException&) {
            valid = false;
        }
    }
    if (!valid) {
        CTrace::scopedError(SCOPE, " query(): the reply carries neither a return value nor an exception "
                            + reply->toString(), -1);
        IMessage::release(reply);
        throw CUnexpectedException("the reply carries neither a return value nor an exception");
    }
    bool isException = answer->isException();
    IMessage::release(reply);
    if (!isException) {
        CTrace::trace(SCOPE, " query(): the reply carries a return value", 0);
        return result;
    }
    CTrace::trace(SCOPE, " query(): the reply carries an exception, raised as the regular result of the remote call",
                  0);
    if (result == nullptr)
        result = new CJException("the remote call failed without an exception object");
    throw result;
}

void CProxyElement::checkQuery(const std::string& recTermId)
{
    if (CTrace::isTraced(SCOPE))
        CTrace::trace(SCOPE, " checkQuery(): [" + recTermId + "]", 0);
    if (recTermId == CMethodCallMessage::HAS_SLAVE || recTermId == CMethodCallMessage::ALL_TERMINAL
        || recTermId == CMethodCallMessage::ALL_TERMINAL_EXCEPT_ME) {
        CTrace::trace(SCOPE, " checkQuery(): a query to several terminals is refused", 0);
        throw CIllegalArgumentException(recTermId + ": the destination terminal macro cannot be used in a QUERY"
                                        " message");
    }
    if (isQueryDisabled(GetCurrentThreadId())) {
        CTrace::trace(SCOPE, " checkQuery(): queries are forbidden on this thread", 0);
        throw CIllegalStateException("the call runs on a thread on which queries are forbidden");
    }
}

IMessage* CProxyElement::sendQueryAndWait(CMethodCallMessage* message, DWORD timeoutMs)
{
    unsigned serialNum = message->getSerialNum();
    if (CTrace::isTraced(SCOPE))
        CTrace::trace(SCOPE, " sendQueryAndWait(): [" + number(serialNum) + "]", 0);
    CReplyWaitKey key(serialNum);
    {
        CMonitorHold hold(tableLock_, SITE_ENTER_WAIT, SCOPE);
        bool entered = replyWaitTable_.emplace(serialNum, &key).second;
        CTrace::scopedAssertTrue(entered, SCOPE, " sendQueryAndWait(): a query already waits under the serial number "
                                 + number(serialNum), -1);
    }
    try {
        if (CTrace::isTraced(SCOPE))
            CTrace::trace(SCOPE, " sendQueryAndWait(): to the gate " + message->toString(), 0);
        gate_->notifyMessage(message);
        key.await(timeoutMs);
    } catch (...) {
        IMessage::release(withdraw(key));
        throw;
    }
    IMessage* reply = withdraw(key);
    if (reply == nullptr) {
        if (CTrace::isTraced(SCOPE))
            CTrace::trace(SCOPE, " sendQueryAndWait(): no reply was set in the table [" + number(serialNum) + "]", 0);
        throw CTimeOutException("the reply message did not arrive");
    }
    if (CTrace::isTraced(SCOPE))
        CTrace::trace(SCOPE, " sendQueryAndWait(): the reply " + reply->toString(), 0);
    return reply;
}

// Removes the key from the table; from then on no reply can reach it.
IMessage* CProxyElement::withdraw(CReplyWaitKey& key)
{
    CMonitorHold hold(tableLock_, SITE_WITHDRAW, SCOPE);
    replyWaitTable_.erase(key.getSerialNum());
    return key.takeReply();
}

void CProxyElement::notifyMessage(IMessage* message)
{
    if (message == nullptr) {
        CTrace::scopedError(SCOPE, " notifyMessage(): NULL message", -1);
        return;
    }
    unsigned char modifier = message->getModifier();
    if (modifier != CMethodCallMessage::REPLY && modifier != CMethodCallMessage::ERROR_REPLY) {
        CTrace::scopedError(SCOPE, " notifyMessage(): a message other than a reply was received "
                            + message->toString(), -1);
        CTrace::trace(SCOPE, " notifyMessage(): the message is discarded", 0);
        IMessage::release(message);
        return;
    }
    unsigned serialNum = message->getSerialNum();
    CMonitorHold hold(tableLock_, SITE_DELIVER, SCOPE);
    if (CTrace::isTraced(SCOPE))
        CTrace::trace(SCOPE, " notifyMessage(): " + std::to_string(replyWaitTable_.size())
                      + " queries wait, looking for [" + number(serialNum) + "]", 0);
    auto entry = replyWaitTable_.find(serialNum);
    if (entry != replyWaitTable_.end() && entry->second->deliver(message)) {
        CTrace::trace(SCOPE, " notifyMessage(): the reply is handed to the waiting query", 0);
        return;
    }
    CTrace::trace(SCOPE, " notifyMessage(): no query waits for this reply; a reply arriving after its waiting time"
                         " is discarded", 0);
    IMessage::release(message);
}

void CProxyElement::sendReturnValue(IMessage* query, ISerializable* value)
{
    sendReply(query, value, RETURN_VALUE);
}

void CProxyElement::sendException(IMessage* query, ISerializable* exception)
{
    sendReply(query, exception, EXCEPTION);
}

// The reply goes back to the querying proxy, from the address the query was sent to (a macro
// stays a macro).
void CProxyElement::sendReply(IMessage* query, ISerializable* object, ReplyKind kind)
{
    if (CTrace::isTraced(SCOPE))
        CTrace::trace(SCOPE, " sendReply(): answering " + query->toString(), 0);
    CMethodCallMessage* reply;
    try {
        if (kind == RETURN_VALUE)
            reply = CMethodCallMessage::createReturnValue(query->getSndTermId(), query->getSndElemId(),
                                                          query->getRecTermId(), query->getRecElemId(), object);
        else
            reply = CMethodCallMessage::createException(query->getSndTermId(), query->getSndElemId(),
                                                        query->getRecTermId(), query->getRecElemId(), object);
    } catch (CNotSerializableException& e) {
        CTrace::trace(SCOPE, " sendReply(): " + e.getMessage(), 0);
        if (kind == FALLBACK_EXCEPTION)
            CTrace::scopedFatalError(SCOPE, " sendReply(): not even the exception reply can be sent", -1);
        sendReply(query,
                  new CUnexpectedException(kind == RETURN_VALUE ? "serialising the return value failed"
                                                                : "serialising the exception value failed"),
                  FALLBACK_EXCEPTION);
        return;
    }
    reply->setModifier(CMethodCallMessage::REPLY);
    reply->setSerialNum(query->getSerialNum());
    if (CTrace::isTraced(SCOPE))
        CTrace::trace(SCOPE, " sendReply(): to the gate " + reply->toString(), 0);
    gate_->notifyMessage(reply);
}

void CProxyElement::disableQuery()
{
    CMonitorHold hold(disabledLock_, SITE_DISABLE, SCOPE);
    queryDisabledThreads_.push_back(GetCurrentThreadId());
}

void CProxyElement::enableQuery()
{
    CMonitorHold hold(disabledLock_, SITE_ENABLE, SCOPE);
    auto entry = std::find(queryDisabledThreads_.begin(), queryDisabledThreads_.end(), GetCurrentThreadId());
    if (entry == queryDisabledThreads_.end())
        CTrace::scopedFatalError(SCOPE, " enableQuery(): the disable/enable control of query sending is wrong", -1);
    queryDisabledThreads_.erase(entry);
}

bool CProxyElement::isQueryDisabled(DWORD threadId)
{
    CMonitorHold hold(disabledLock_, SITE_IS_DISABLED, SCOPE);
    return std::find(queryDisabledThreads_.begin(), queryDisabledThreads_.end(), threadId)
           != queryDisabledThreads_.end();
}

unsigned CProxyElement::nextSerialNum()
{
    return nextSerialNum_++;
}
