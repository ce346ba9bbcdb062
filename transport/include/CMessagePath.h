#pragma once
// The way a session handle's elements reach the session: the method-call codec over the
// handle's streams, the message gate that joins it to the elements and the proxy element that
// stands for the terminal's elements in the gate. The handle owns the streams, which must
// outlive the path; the path owns the rest and tears it down in the reverse order.
#include "IAddressGetter.h"

#include <string>

class CMessageGate;
class CMethodCallMsgDecoder;
class CMethodCallMsgEncoder;
class CProxyElement;
class IAddressSetter;
class IInputStream;
class IOutputStream;

class CMessagePath {
public:
    // getter and setter: the handle's address questions and answers, or null where the
    // transport routes by itself. scope: the handle's name for the trace lines.
    CMessagePath(IInputStream* input, IOutputStream* output, IAddressGetter* getter, IAddressSetter* setter,
                 const std::string& terminalId, const std::string& sessionName, const char* scope);
    // The gate's threads must have stopped.
    ~CMessagePath();
    CMessagePath(const CMessagePath&) = delete;
    CMessagePath& operator=(const CMessagePath&) = delete;

    CMessageGate* gate() const { return gate_; }
    CProxyElement* proxy() const { return proxy_; }

private:
    const char* scope_;
    CMethodCallMsgDecoder* decoder_;
    CMethodCallMsgEncoder* encoder_;
    CMessageGate* gate_;
    CProxyElement* proxy_;
};
