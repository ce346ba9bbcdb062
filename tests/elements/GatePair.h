#pragma once
// Two terminals of one session inside this process: each has a gate over the real decoder and
// encoder and a proxy entered in the gate, and the two are joined by a pair of block pipes.
#include "BlockPipe.h"
#include "CMessageGate.h"
#include "CMethodCallMsgDecoder.h"
#include "CMethodCallMsgEncoder.h"
#include "CProxyElement.h"
#include "IMessageListener.h"
#include "TestSupport.h"

#include <functional>
#include <mutex>
#include <string>
#include <vector>

class CMethodCallMessage;

class Endpoint {
public:
    Endpoint(const std::string& terminalId, const std::string& gateName, IInputStream& in, IOutputStream& out,
             DWORD queryTimeoutMs, IAddressGetter* getter = nullptr, IAddressSetter* setter = nullptr);
    // The input must have ended: this waits for the gate's threads.
    ~Endpoint();
    Endpoint(const Endpoint&) = delete;
    Endpoint& operator=(const Endpoint&) = delete;

    CMessageGate& gate() { return *gate_; }
    CProxyElement& proxy() { return *proxy_; }

private:
    CMethodCallMsgDecoder decoder_;
    CMethodCallMsgEncoder encoder_;
    CMessageGate* gate_;
    CProxyElement* proxy_;
};

// Terminal "TA" (gate "LC-MSG_GATE") and terminal "TB" (gate "RM-MSG_GATE").
class GatePair {
public:
    explicit GatePair(DWORD queryTimeoutMs = 10000);
    // Ends both inputs, then takes both terminals down.
    ~GatePair();

    BlockPipe toB;
    BlockPipe toA;
    Endpoint a;
    Endpoint b;
};

// An element entered in a gate for its life. It notes each message as "<method> <argument>"
// and answers queries by method name: "echo" returns its argument as a CJString, "none" returns
// no value, "fail" raises a CIllegalStateException naming the argument, "unreach" answers
// ERROR_REPLY, "twice" answers "first" and then "second", "silent" keeps the query until
// answerHeld().
class TestElement : public IMessageListener {
public:
    TestElement(Endpoint& endpoint, const std::string& elementId);
    ~TestElement() override;

    void notifyMessage(IMessage* message) override;
    void answerHeld(const std::string& value);

    Journal received;

private:
    void answer(CMethodCallMessage* query, const std::string& argument);

    Endpoint& endpoint_;
    std::string elementId_;
    std::mutex lock_;
    std::vector<IMessage*> held_;
};

// "-" for none, the text of a CJString or CInteger, the bytes of a buffer.
std::string argumentOf(CMethodCallMessage* message);

// What a query gave, with every object it handed over deleted: "value <text>" ("value NULL"
// for none), "remote <class> <text>" for the remote method's exception, or the class of the
// exception the proxy threw.
std::string outcomeOf(const std::function<ISerializable*()>& query);
