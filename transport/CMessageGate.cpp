#include "CMessageGate.h"

#include "CMessageMulticaster.h"
#include "CMethodCallMessage.h"

namespace {

const char SCOPE[] = "CMessageGate";

} // namespace

CMessageGate::CMessageGate(IMessageInput* input, IMessageOutput* output, IAddressGetter* getter,
                           IAddressSetter* setter, const std::string& name)
    : CNetworkConnection(input, output, getter, setter),
      listeners_(new CMessageMulticaster(CMessageMulticaster::PEER_MESSAGES))
{
    CTrace::trace(SCOPE, " CMessageGate(): message input and output processing starts [" + name + "]", 0);
    start(name);
}

CMessageGate::~CMessageGate()
{
    // The receive thread would deliver to the listener table that goes now.
    if (!isStopped())
        CTrace::scopedFatalError(SCOPE, " ~CMessageGate(): destroyed while running: end the input and call stop()"
                                        " first", -1);
    delete listeners_;
    listeners_ = nullptr;
}

void CMessageGate::addListener(const std::string& name, IMessageListener* listener)
{
    CTrace::trace(SCOPE, " addListener(): [" + name + "]", 0);
    listeners_->addListener(name, listener);
}

void CMessageGate::removeListener(const std::string& name)
{
    CTrace::trace(SCOPE, " removeListener(): [" + name + "]", 0);
    listeners_->removeListener(name);
}

void CMessageGate::notifyMessage(IMessage* message)
{
    if (message == nullptr) {
        CNetworkConnection::notifyMessage(message); // reports it
        return;
    }
    if (CTrace::isTraced(SCOPE))
        CTrace::trace(SCOPE, " DUMPMSG_N: " + message->toString(), 0);
    if (message->getRecTermId() == CMethodCallMessage::LOCAL_TERMINAL) {
        CTrace::scopedError(SCOPE, " notifyMessage(): a delivery within the local terminal reached the gate, the"
                                   " message is released unsent " + message->toString(), -1);
        IMessage::release(message);
        return;
    }
    CTrace::trace(SCOPE, " notifyMessage(): the message goes to a remote terminal", 0);
    CNetworkConnection::notifyMessage(message);
}

void CMessageGate::onProcessMessage(IMessage* message)
{
    if (CTrace::isTraced(SCOPE))
        CTrace::trace(SCOPE, " onProcessMessage :" + message->toString(), 0);
    // Nobody would ever answer: the querying side's wait ends by its own time-out.
    if (message->getModifier() == CMethodCallMessage::QUERY && !listeners_->canDeliver(message)) {
        CTrace::trace(SCOPE, " onProcessMessage(): a QUERY that cannot be delivered is deleted here", 0);
        IMessage::release(message);
        return;
    }
    listeners_->notifyMessage(message);
}
