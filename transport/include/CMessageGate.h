#pragma once
// Joins the elements of this terminal to one message connection of a session. Received
// messages go to the listener entered under their receiver element id, except calls of local
// methods ("LOC_...") and calls that name no sending terminal (empty or a "@" macro), which are
// dropped with an error line; messages handed to
// notifyMessage are queued for the connection's send thread unchanged, except that those
// addressed to "@LOCAL_TERMINAL" are refused. Its owner ends the transport's input, stops the
// connection and only then deletes the gate (deleting it earlier stops the process).
#include "CNetworkConnection.h"
#include "IMessageSource.h"

#include <string>

class CMessageMulticaster;

class CMessageGate : public CNetworkConnection, public virtual IMessageSource {
public:
    // Starts the connection's threads under name ("LC-MSG_GATE" gives "LC-MSG_GATE-R" and
    // "LC-MSG_GATE-S"). Getter and setter may be NULL.
    CMessageGate(IMessageInput* input, IMessageOutput* output, IAddressGetter* getter, IAddressSetter* setter,
                 const std::string& name);
    ~CMessageGate() override;

    // A name entered again replaces the earlier listener.
    void addListener(const std::string& name, IMessageListener* listener) override;
    void removeListener(const std::string& name) override;
    // Outgoing: the gate owns the message from here on.
    void notifyMessage(IMessage* message) override;

protected:
    // Incoming, on the receive thread.
    void onProcessMessage(IMessage* message) override;

private:
    CMessageMulticaster* listeners_;
};
