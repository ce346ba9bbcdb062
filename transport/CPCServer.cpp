#include "CPCServer.h"

#include "CDirectPlay.h"
#include "CGuid.h"
#include "CMessageTransmitter.h"
#include "CMonitorHold.h"
#include "CTrace.h"

#include <new>

namespace {

const char SCOPE[] = "CPCServer";

enum Site {
    SITE_OPEN_LOCAL = 1,
    SITE_OPEN_REMOTE,
    SITE_CLOSE,
};

} // namespace

CPCServer::CPCServer(const std::string& terminalId, bool isHost, IObserver* sessionObserver)
    : directPlay_(nullptr), transmitter_(nullptr)
{
    try {
        directPlay_ = new CDirectPlay(terminalId, isHost, BUSY_RETRY_SECONDS);
    } catch (std::bad_alloc&) {
        CTrace::scopedFatalError(SCOPE, " CPCServer(): CDirectPlay cannot be made", -1);
    }
    CTrace::trace(SCOPE, " CPCServer(): CDirectPlay is made", 0);
    try {
        transmitter_ = new CMessageTransmitter(directPlay_, terminalId);
    } catch (std::bad_alloc&) {
        CTrace::scopedFatalError(SCOPE, " CPCServer(): CMessageTransmitter cannot be made", -1);
    }
    CTrace::trace(SCOPE, " CPCServer(): CDirectPlay and CMessageTransmitter are linked", 0);
    directPlay_->setMessageTransmitter(transmitter_);
    CTrace::trace(SCOPE, " CPCServer(): the observer watching for the session's loss is registered", 0);
    directPlay_->addObserver(sessionObserver);
}

CPCServer::~CPCServer()
{
    delete transmitter_;
    delete directPlay_;
}

std::string CPCServer::openLocalDP(const std::string& applicationGuid)
{
    CMonitorHold hold(*this, SITE_OPEN_LOCAL, SCOPE);
    CTrace::trace(SCOPE, " openLocalDP(): the DirectPlay open of a local session is tried", 0);
    return directPlay_->open(applicationGuid);
}

void CPCServer::openRemoteDP(const std::string& applicationGuid, const std::string& sessionGuid,
                             const std::string& hostIp)
{
    CMonitorHold hold(*this, SITE_OPEN_REMOTE, SCOPE);
    CTrace::trace(SCOPE, " openRemoteDP(): the DirectPlay open of a remote session is tried", 0);
    directPlay_->open(applicationGuid, sessionGuid, hostIp);
}

CGuid* CPCServer::openLocalSession(const CGuid& applicationGuid)
{
    std::string instance = openLocalDP(applicationGuid.toString());
    return new CGuid(instance);
}

void CPCServer::openRemoteSession(const CGuid& applicationGuid, const CGuid& sessionGuid, const std::string& hostIp)
{
    openRemoteDP(applicationGuid.toString(), sessionGuid.toString(), hostIp);
}

void CPCServer::close()
{
    CMonitorHold hold(*this, SITE_CLOSE, SCOPE);
    CTrace::trace(SCOPE, " close(): the DirectPlay close is tried", 0);
    directPlay_->close();
}

int CPCServer::read(const unsigned char** block)
{
    unsigned char* data = nullptr;
    DWORD size = transmitter_->receive(&data);
    if (size == 0)
        return 0;
    *block = data;
    return static_cast<int>(size);
}

void CPCServer::write(const unsigned char* data, int size)
{
    if (size <= 0) {
        CTrace::scopedError(SCOPE, " write(): a block of " + std::to_string(size) + " bytes is not sent", -1);
        return;
    }
    transmitter_->send(data, static_cast<DWORD>(size));
}

void CPCServer::releaseThread()
{
    directPlay_->releaceThread();
}
