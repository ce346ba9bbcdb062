#include "CUDPOutputStream.h"

#include "CSocketError.h"
#include "CTrace.h"

#include <cstring>
#include <mutex>

namespace {

const char SCOPE[] = "CUDPOutputStream";

// Process-wide, learnt once from the first stream's socket.
std::mutex g_sendableLock;
int g_sendableSize = -1; // g_sendableLock

} // namespace

CUDPOutputStream::CUDPOutputStream() : portNum_(0), socket_(INVALID_SOCKET)
{
    socket_ = socket(AF_INET, SOCK_DGRAM, 0);
    if (socket_ == INVALID_SOCKET)
        CTrace::scopedError(SCOPE, " CUDPOutputStream(): the send socket cannot be made: " + CSocketError::last(), -1);
    int sendable;
    {
        std::lock_guard<std::mutex> hold(g_sendableLock);
        if (g_sendableSize == -1) {
            int size = 0;
            int length = sizeof size;
            if (getsockopt(socket_, SOL_SOCKET, SO_SNDBUF, reinterpret_cast<char*>(&size), &length) == SOCKET_ERROR) {
                CTrace::scopedError(SCOPE, " CUDPOutputStream(): the send buffer size cannot be read: "
                                               + CSocketError::last(),
                                    -1);
                size = 0;
            }
            g_sendableSize = size;
        }
        sendable = g_sendableSize;
    }
    CTrace::trace(SCOPE, " CUDPOutputStream(): the largest sendable block is " + std::to_string(sendable) + " bytes",
                  0);
}

CUDPOutputStream::~CUDPOutputStream()
{
    if (socket_ != INVALID_SOCKET)
        closesocket(socket_);
}

int CUDPOutputStream::getSendableSize()
{
    std::lock_guard<std::mutex> hold(g_sendableLock);
    return g_sendableSize;
}

void CUDPOutputStream::setAddress(const std::string& ipAddress, int portNum)
{
    ipAddress_ = ipAddress;
    portNum_ = portNum;
    CTrace::trace(SCOPE, " setAddress(): " + ipAddress_ + ":" + std::to_string(portNum_), 0);
}

void CUDPOutputStream::write(const unsigned char* data, int size)
{
    CTrace::trace(SCOPE, " write(): " + std::to_string(size) + " bytes", 0);
    int sendable = getSendableSize();
    if (size > sendable) {
        CTrace::scopedError(SCOPE, " write(): the data exceeds the largest sendable size and cannot be sent: "
                                       + std::to_string(size) + " bytes asked, " + std::to_string(sendable)
                                       + " at most",
                            -1);
        return;
    }
    if (size < 0) {
        CTrace::scopedError(SCOPE, " write(): a block of " + std::to_string(size) + " bytes is not sent", -1);
        return;
    }
    CTrace::trace(SCOPE, " write(): to " + ipAddress_ + ":" + std::to_string(portNum_), 0);
    // Resolved at every write, so that a terminal's new address takes effect at once.
    hostent* host = gethostbyname(ipAddress_.c_str());
    if (host == nullptr) {
        CTrace::trace(SCOPE, " write(): gethostbyname does not know [" + ipAddress_ + "], trying it as an address", 0);
        unsigned long address = inet_addr(ipAddress_.c_str());
        if (address != INADDR_NONE)
            host = gethostbyaddr(reinterpret_cast<const char*>(&address), 4, AF_INET);
    }
    if (host == nullptr || host->h_addrtype != AF_INET || host->h_length != 4 || host->h_addr_list[0] == nullptr) {
        CTrace::trace(SCOPE, " write(): [" + ipAddress_ + "] cannot be resolved, nothing is sent", 0);
        return;
    }
    sockaddr_in to;
    std::memset(&to, 0, sizeof to);
    to.sin_family = AF_INET;
    to.sin_port = htons(static_cast<u_short>(portNum_ & 0xFFFF));
    std::memcpy(&to.sin_addr, host->h_addr_list[0], 4);
    int sent = sendto(socket_, reinterpret_cast<const char*>(data), size, 0, reinterpret_cast<const sockaddr*>(&to),
                      sizeof to);
    if (sent == SOCKET_ERROR)
        CTrace::scopedError(SCOPE, " write(): the UDP send failed: " + CSocketError::last(), -1);
    else if (sent != size)
        CTrace::trace(SCOPE, " write(): " + std::to_string(sent) + " of " + std::to_string(size) + " bytes were sent",
                      0);
    CTrace::trace(SCOPE, " write(): done", 0);
}
