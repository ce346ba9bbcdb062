#include "GatePair.h"

#include "CIOException.h"
#include "CIllegalArgumentException.h"
#include "CIllegalStateException.h"
#include "CJString.h"
#include "CMethodCallMessage.h"
#include "CMsgUnreachedException.h"
#include "CTimeOutException.h"
#include "CUnexpectedException.h"

#include <typeinfo>

Endpoint::Endpoint(const std::string& terminalId, const std::string& gateName, IInputStream& in,
                   IOutputStream& out, DWORD queryTimeoutMs, IAddressGetter* getter, IAddressSetter* setter)
    : decoder_(&in), encoder_(&out), gate_(new CMessageGate(&decoder_, &encoder_, getter, setter, gateName)),
      proxy_(new CProxyElement(gate_, terminalId, queryTimeoutMs))
{
    gate_->addListener(CProxyElement::getProxyId(), proxy_);
}

Endpoint::~Endpoint()
{
    gate_->stop();
    gate_->removeListener(CProxyElement::getProxyId());
    delete proxy_;
    delete gate_;
}

GatePair::GatePair(DWORD queryTimeoutMs)
    : a("TA", "LC-MSG_GATE", toA, toB, queryTimeoutMs), b("TB", "RM-MSG_GATE", toB, toA, queryTimeoutMs)
{
}

GatePair::~GatePair()
{
    toA.close();
    toB.close();
}

TestElement::TestElement(Endpoint& endpoint, const std::string& elementId)
    : endpoint_(endpoint), elementId_(elementId)
{
    endpoint_.gate().addListener(elementId_, this);
}

TestElement::~TestElement()
{
    endpoint_.gate().removeListener(elementId_);
    for (IMessage* query : held_)
        IMessage::release(query);
}

std::string argumentOf(CMethodCallMessage* message)
{
    if (message->isCallWithBufferParam())
        return std::string(reinterpret_cast<const char*>(message->getBuf()), message->getBufSize());
    if (!message->isCallWithObjectParam())
        return "-";
    CJObject* object = dynamic_cast<CJObject*>(message->getParam());
    return object == nullptr ? "NULL" : object->toString();
}

void TestElement::notifyMessage(IMessage* message)
{
    CMethodCallMessage* call = dynamic_cast<CMethodCallMessage*>(message);
    std::string argument = argumentOf(call);
    received.add(call->getMethodName() + " " + argument);
    if (call->getModifier() == CMethodCallMessage::QUERY)
        answer(call, argument);
    if (call->getMethodName() == "silent")
        return;
    IMessage::release(message);
}

void TestElement::answer(CMethodCallMessage* query, const std::string& argument)
{
    CProxyElement& proxy = endpoint_.proxy();
    const std::string& method = query->getMethodName();
    if (method == "echo") {
        proxy.sendReturnValue(query, new CJString(argument));
    } else if (method == "none") {
        proxy.sendReturnValue(query, nullptr);
    } else if (method == "fail") {
        proxy.sendException(query, new CIllegalStateException("refused " + argument));
    } else if (method == "unreach") {
        CMethodCallMessage* reply = CMethodCallMessage::createReturnValue(
            query->getSndTermId(), query->getSndElemId(), query->getRecTermId(), query->getRecElemId(), nullptr);
        reply->setModifier(CMethodCallMessage::ERROR_REPLY);
        reply->setSerialNum(query->getSerialNum());
        endpoint_.gate().notifyMessage(reply);
    } else if (method == "twice") {
        proxy.sendReturnValue(query, new CJString("first"));
        proxy.sendReturnValue(query, new CJString("second"));
    } else if (method == "silent") {
        std::lock_guard<std::mutex> hold(lock_);
        held_.push_back(query);
    }
}

void TestElement::answerHeld(const std::string& value)
{
    std::lock_guard<std::mutex> hold(lock_);
    for (IMessage* query : held_) {
        endpoint_.proxy().sendReturnValue(query, new CJString(value));
        IMessage::release(query);
    }
    held_.clear();
}

std::string outcomeOf(const std::function<ISerializable*()>& query)
{
    try {
        ISerializable* value = query();
        std::string text = value == nullptr ? "NULL" : dynamic_cast<CJObject*>(value)->toString();
        delete value;
        return "value " + text;
    } catch (ISerializable* remote) {
        CJException* exception = dynamic_cast<CJException*>(remote);
        std::string text = exception == nullptr ? "not an exception"
                           : typeid(*exception) == typeid(CJException) ? "CJException " + exception->getMessage()
                                                                       : "a subclass of CJException";
        delete remote;
        return "remote " + text;
    } catch (CMsgUnreachedException&) {
        return "CMsgUnreachedException";
    } catch (CTimeOutException&) {
        return "CTimeOutException";
    } catch (CIOException&) {
        return "CIOException";
    } catch (CUnexpectedException&) {
        return "CUnexpectedException";
    } catch (CIllegalArgumentException& e) {
        return "CIllegalArgumentException " + e.getMessage();
    } catch (CIllegalStateException&) {
        return "CIllegalStateException";
    }
}
