#pragma once
// An element entered in a gate that answers every QUERY at once, on the gate's receive thread,
// with a copy of its text argument; anything else is released.
#include "IMessageListener.h"

class CProxyElement;

class AnsweringElement : public IMessageListener {
public:
    explicit AnsweringElement(CProxyElement& proxy) : proxy_(proxy) {}
    void notifyMessage(IMessage* message) override;

private:
    CProxyElement& proxy_;
};
