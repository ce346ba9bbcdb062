#pragma once
// One DirectPlay session's stack as the session handle builds it: the PC server, its stream
// adapters, the method-call codec over them and a message gate ("LC" on the host, "RM" on a
// member). The owner ends it (end), then deletes it.
#include "CMessageGate.h"
#include "CMethodCallMsgDecoder.h"
#include "CMethodCallMsgEncoder.h"
#include "CPCSInputStream.h"
#include "CPCSOutputStream.h"
#include "CPCServer.h"

#include <string>

struct SessionStack {
    SessionStack(const std::string& terminalId, bool isHost, IObserver* observer)
        : server(new CPCServer(terminalId, isHost, observer)), input(server), output(server), decoder(&input),
          encoder(&output), gate(new CMessageGate(&decoder, &encoder, nullptr, nullptr, isHost ? "LC" : "RM"))
    {
    }
    // In the session handle's order: releaseThread, the connection's stop, close (when opened).
    void end(bool opened)
    {
        server->releaseThread();
        gate->stop();
        if (opened)
            server->close();
    }
    // The gate goes before what it reads and writes.
    ~SessionStack()
    {
        delete gate;
        delete server;
    }
    SessionStack(const SessionStack&) = delete;
    SessionStack& operator=(const SessionStack&) = delete;

    CPCServer* server;
    CPCSInputStream input;
    CPCSOutputStream output;
    CMethodCallMsgDecoder decoder;
    CMethodCallMsgEncoder encoder;
    CMessageGate* gate;
};
