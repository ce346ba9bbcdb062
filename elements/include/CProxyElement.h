#pragma once
// The door through which the elements of one session send method calls to other terminals.
// Notices are stamped with the own terminal id and the proxy's element id and handed to the
// gate. A query is numbered, handed to the gate, and its thread waits until the reply comes
// (the gate delivers it to notifyMessage, the proxy being entered under getProxyId()) or the
// time-out passes. The answering side uses sendReturnValue and sendException.
#include "CJObject.h"
#include "IMessageListener.h"

#include <windows.h>

#include <atomic>
#include <string>
#include <unordered_map>
#include <vector>

class CMethodCallMessage;
class CReplyWaitKey;
class IMessage;
class ISerializable;

class CProxyElement : public virtual IMessageListener {
public:
    // The same on every terminal: the element id that the replies are addressed to.
    static constexpr const char PROXY_ID[] = "731D5641-16D3-11d4-8727-0000F460D121";
    static constexpr DWORD QUERY_TIMEOUT = 20000;

    // gate: takes every outgoing message (not owned). queryTimeoutMs: how long a query waits
    // for its reply.
    CProxyElement(IMessageListener* gate, const std::string& ownTerminalId, DWORD queryTimeoutMs = QUERY_TIMEOUT);
    // No query may still be waiting.
    ~CProxyElement() override;
    CProxyElement(const CProxyElement&) = delete;
    CProxyElement& operator=(const CProxyElement&) = delete;

    static std::string getProxyId();

    // An object argument belongs to the message from here on (unless the message cannot be
    // made: CNotSerializableException); buffer bytes are copied.
    void sendNotice(const std::string& recTermId, const std::string& recElemId, const std::string& method);
    void sendNotice(const std::string& recTermId, const std::string& recElemId, const std::string& method,
                    ISerializable* object);
    void sendNotice(const std::string& recTermId, const std::string& recElemId, const std::string& method,
                    unsigned size, const void* bytes);

    // The remote method's return value (the caller owns it; NULL when the method returned
    // none). Failures: CIllegalArgumentException (a destination macro that addresses several
    // terminals), CIllegalStateException (queries disabled on this thread), CTimeOutException,
    // CIOException (broken reply), CMsgUnreachedException, CUnexpectedException (a reply that
    // makes no sense), all by value; the remote method's exception arrives as a CJException
    // thrown as an ISerializable pointer that the catcher deletes.
    ISerializable* sendQuery(const std::string& recTermId, const std::string& recElemId, const std::string& method);
    ISerializable* sendQuery(const std::string& recTermId, const std::string& recElemId, const std::string& method,
                             ISerializable* object);
    ISerializable* sendQuery(const std::string& recTermId, const std::string& recElemId, const std::string& method,
                             unsigned size, const void* bytes);

    // Takes the numbered query message; see sendQuery.
    ISerializable* query(CMethodCallMessage* message);
    void checkQuery(const std::string& recTermId);
    // Hands the query to the gate and returns its reply (the caller releases it), or throws
    // CTimeOutException.
    IMessage* sendQueryAndWait(CMethodCallMessage* message, DWORD timeoutMs);

    // Replies, on the gate's receiving thread; anything else is reported and released.
    void notifyMessage(IMessage* message) override;

    // Answer a query; the object belongs to the reply.
    void sendReturnValue(IMessage* query, ISerializable* value);
    void sendException(IMessage* query, ISerializable* exception);

    // Refuse queries from the calling thread until the matching enableQuery (they nest).
    void disableQuery();
    void enableQuery();

    unsigned nextSerialNum();

private:
    enum ReplyKind { RETURN_VALUE, EXCEPTION, FALLBACK_EXCEPTION };

    void notice(CMethodCallMessage* message);
    CMethodCallMessage* numbered(CMethodCallMessage* message);
    ISerializable* takeAnswer(IMessage* reply);
    void sendReply(IMessage* query, ISerializable* object, ReplyKind kind);
    IMessage* withdraw(CReplyWaitKey& key);
    bool isQueryDisabled(DWORD threadId);

    IMessageListener* gate_;
    std::string ownTerminalId_;
    DWORD queryTimeoutMs_;
    std::atomic<unsigned> nextSerialNum_;
    // Serial number -> the waiting query's key, from before the query is sent until its
    // waiter withdraws it.
    std::unordered_map<unsigned, CReplyWaitKey*> replyWaitTable_;
    CJObject tableLock_;
    std::vector<DWORD> queryDisabledThreads_; // a thread id may stand in it more than once
    CJObject disabledLock_;
};
