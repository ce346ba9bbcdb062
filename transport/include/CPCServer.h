#pragma once
// The block-stream end of one DirectPlay session for a message connection: owns the session's
// CDirectPlay and CMessageTransmitter, hosts or joins the session, reads and writes blocks
// through the transmitter, releases the thread blocked in read and closes the session.
//
// Calling order: construct; the adapters, codec and gate over it; openLocalSession or
// openRemoteSession; blocks flow; releaseThread, the connection's stop, close; delete (after
// the gate, codec and adapters). A new session needs a new server.
#include "CJObject.h"

#include <string>

class CDirectPlay;
class CGuid;
class CMessageTransmitter;
class IObserver;

class CPCServer : public CJObject {
public:
    // How long a send that DirectPlay answers busy is tried again.
    static constexpr int BUSY_RETRY_SECONDS = 20;

    // sessionObserver hears the session's events from now on.
    CPCServer(const std::string& terminalId, bool isHost, IObserver* sessionObserver);
    ~CPCServer() override;
    CPCServer(const CPCServer&) = delete;
    CPCServer& operator=(const CPCServer&) = delete;

    // Hosts a session of the application; its instance GUID, owned by the caller.
    CGuid* openLocalSession(const CGuid& applicationGuid);
    void openRemoteSession(const CGuid& applicationGuid, const CGuid& sessionGuid, const std::string& hostIp);
    // As IInputStream::read and IOutputStream::write.
    int read(const unsigned char** block);
    void write(const unsigned char* data, int size);
    // Makes the thread waiting in read return 0, once and for good.
    void releaseThread();
    void close();

private:
    std::string openLocalDP(const std::string& applicationGuid);
    void openRemoteDP(const std::string& applicationGuid, const std::string& sessionGuid, const std::string& hostIp);

    CDirectPlay* directPlay_;
    CMessageTransmitter* transmitter_;
};
