#include "CMessagePath.h"

#include "CMessageGate.h"
#include "CMethodCallMsgDecoder.h"
#include "CMethodCallMsgEncoder.h"
#include "CProxyElement.h"
#include "CTrace.h"

CMessagePath::CMessagePath(IInputStream* input, IOutputStream* output, IAddressGetter* getter,
                           IAddressSetter* setter, const std::string& terminalId, const std::string& sessionName,
                           const char* scope)
    : scope_(scope), decoder_(new CMethodCallMsgDecoder(input)), encoder_(new CMethodCallMsgEncoder(output)),
      gate_(new CMessageGate(decoder_, encoder_, getter, setter, sessionName + "-MSG_GATE")),
      proxy_(new CProxyElement(gate_, terminalId))
{
    CTrace::trace(scope_, " the proxy element is entered in the gate", 0);
    gate_->addListener(CProxyElement::getProxyId(), proxy_);
}

CMessagePath::~CMessagePath()
{
    gate_->removeListener(CProxyElement::getProxyId());
    delete proxy_;
    CTrace::trace(scope_, " deleted CProxyElement", 0);
    delete gate_;
    CTrace::trace(scope_, " deleted CMessageGate", 0);
    delete encoder_;
    CTrace::trace(scope_, " deleted CMethodCallMsgEncoder", 0);
    delete decoder_;
    CTrace::trace(scope_, " deleted CMethodCallMsgDecoder", 0);
}
