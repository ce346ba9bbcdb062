#include "ViewableCopy.h"

#include "CMethodCallMessage.h"
#include "CProxyElement.h"

ViewableCopy::ViewableCopy(const std::string& terminalId, const Maker& make)
    : session(terminalId), element(make(log, &display))
{
    element->setId(ELEMENT_ID);
    if (!element->isMaster())
        element->setMasterTerminal("HOST");
    element->start(std::string(ELEMENT_ID) + (element->isMaster() ? "-M" : "-S"));
}

ViewableCopy::~ViewableCopy()
{
    if (plugged_)
        plugOut();
    element->end();
    delete element;
}

void ViewableCopy::plugIn()
{
    session.plugIn("", element);
    plugged_ = true;
}

void ViewableCopy::plugOut()
{
    session.plugOut(ELEMENT_ID);
    plugged_ = false;
}

void ViewableCopy::deliver(const std::string& from, const std::string& receiver, const std::string& method)
{
    session.deliver(
        CMethodCallMessage::createRemoteCall(receiver, ELEMENT_ID, from, CProxyElement::getProxyId(), method));
}

void ViewableCopy::deliverStr(const std::string& from, const std::string& receiver, const std::string& method,
                              const std::string& text)
{
    deliverBuf(from, receiver, method, text);
}

void ViewableCopy::deliverBuf(const std::string& from, const std::string& receiver, const std::string& method,
                              const std::string& bytes)
{
    session.deliver(CMethodCallMessage::createRemoteCall(receiver, ELEMENT_ID, from, CProxyElement::getProxyId(),
                                                         method, static_cast<unsigned>(bytes.size()), bytes.data()));
}

void ViewableCopy::settle()
{
    std::string mark = "settle " + std::to_string(++settles_);
    deliverStr("PEER", session.terminalId, "INS_initExtra", mark);
    log.waitFor("hook: INS_initExtra(" + mark + ")");
}

std::vector<std::string> ViewableCopy::sent()
{
    std::vector<std::string> calls;
    for (size_t i = 0; i < session.outbox.size(); ++i) {
        CMethodCallMessage* call = session.outbox.at(i);
        std::string text;
        if (call->isCallWithBufferParam())
            text.assign(reinterpret_cast<const char*>(call->getBuf()), call->getBufSize());
        calls.push_back(call->getRecTermId() + " " + call->getMethodName() + "(" + text + ")");
    }
    return calls;
}

bool ViewableCopy::waitSent(size_t count, DWORD timeoutMs)
{
    return session.outbox.waitFor(count, timeoutMs);
}

std::unique_ptr<ViewableCopy> masterCopy(const ViewTexts& texts, const std::string& viewId)
{
    auto copy = std::make_unique<ViewableCopy>("HOST", [&](EventLog& log, IElementDisplay* display) {
        return new TestViewable(log, display, texts, viewId);
    });
    copy->plugIn();
    copy->settle();
    return copy;
}

std::unique_ptr<ViewableCopy> synchronisedSlave(const std::string& terminal, const std::string& viewId)
{
    auto copy = std::make_unique<ViewableCopy>(
        terminal, [](EventLog& log, IElementDisplay* display) { return new TestViewable(log, display); });
    copy->plugIn();
    copy->waitSent(1); // "requestSync"
    ViewTexts texts;
    copy->deliverStr("HOST", terminal, "INS_initLocation", texts.location);
    copy->deliverStr("HOST", terminal, "INS_initSize", texts.size);
    copy->deliverStr("HOST", terminal, "INS_initMotion", texts.motion);
    copy->deliverStr("HOST", terminal, "INS_initDecoration", texts.decoration);
    copy->deliverStr("HOST", terminal, "INS_initAttribute", texts.attribute);
    copy->deliverStr("HOST", terminal, "INS_initViewId", viewId);
    copy->deliverStr("HOST", terminal, "INS_initOperator", "@INVALID_TERMINAL");
    copy->deliver("HOST", terminal, "endSync");
    copy->settle();
    return copy;
}
