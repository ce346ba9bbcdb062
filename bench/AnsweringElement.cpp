#include "AnsweringElement.h"

#include "CJString.h"
#include "CMethodCallMessage.h"
#include "CProxyElement.h"

void AnsweringElement::notifyMessage(IMessage* message)
{
    CMethodCallMessage* call = dynamic_cast<CMethodCallMessage*>(message);
    if (call != nullptr && call->getModifier() == CMethodCallMessage::QUERY) {
        CJString* argument = call->isCallWithObjectParam() ? dynamic_cast<CJString*>(call->getParam()) : nullptr;
        proxy_.sendReturnValue(message, argument == nullptr ? nullptr : new CJString(*argument));
    }
    IMessage::release(message);
}
