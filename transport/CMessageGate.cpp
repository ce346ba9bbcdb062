#include "CMessageGate.h"

#include "CMessageMulticaster.h"
#include "CMethodCallMessage.h"

namespace {

const char SCOPE[] = "CMessageGate";

// Methods whose names begin so are this terminal's own: they read local files, copy files or
// end elements, and only the threads and windows of this process may post them.
const char LOCAL_METHOD_PREFIX[] = "LOC_";

// A call from a peer names the terminal that sent it. An empty name or a macro ("@...") is no
// terminal: such a call is forged or broken, and the elements would answer or trust it as if
// this terminal had made it. Answers keep the macro they were asked under and are not calls.
const char* refusalOf(const CMethodCallMessage& call)
{
    if (call.isReturnValue() || call.isException())
        return nullptr;
    if (call.getMethodName().compare(0, sizeof LOCAL_METHOD_PREFIX - 1, LOCAL_METHOD_PREFIX) == 0)
        return "a peer's call of a local method";
    const std::string& sender = call.getSndTermId();
    if (sender.empty() || sender[0] == '@')
        return "a call without a sending terminal";
    return nullptr;
}

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
    if (const CMethodCallMessage* call = dynamic_cast<const CMethodCallMessage*>(message)) {
        if (const char* refusal = refusalOf(*call)) {
            CTrace::scopedError(SCOPE, std::string(" onProcessMessage(): ") + refusal + " is dropped " +
                                           message->toString(), -1);
            IMessage::release(message);
            return;
        }
    }
    // Nobody would ever answer: the querying side's wait ends by its own time-out.
    if (message->getModifier() == CMethodCallMessage::QUERY && !listeners_->canDeliver(message)) {
        CTrace::trace(SCOPE, " onProcessMessage(): a QUERY that cannot be delivered is deleted here", 0);
        IMessage::release(message);
        return;
    }
    listeners_->notifyMessage(message);
}
