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

CUDPOutputStream::CUDPOutputStream()
    : portNum_(0), socket_(INVALID_SOCKET), resolved_(false), resolvable_(false), address_()
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

bool CUDPOutputStream::resolve(const std::string& text, in_addr* address)
{
    // Dotted text is read as it stands: a name lookup per datagram would wait for the name
    // service at the pace of the sender.
    unsigned long dotted = inet_addr(text.c_str());
    if (dotted != INADDR_NONE || text == "255.255.255.255") {
        address->s_addr = dotted;
        return true;
    }
    hostent* host = gethostbyname(text.c_str());
    if (host == nullptr || host->h_addrtype != AF_INET || host->h_length != 4 || host->h_addr_list[0] == nullptr) {
        CTrace::trace(SCOPE, " resolve(): gethostbyname does not know [" + text + "]", 0);
        return false;
    }
    std::memcpy(address, host->h_addr_list[0], 4);
    return true;
}

void CUDPOutputStream::setAddress(const std::string& ipAddress, int portNum)
{
    if (ipAddress != ipAddress_)
        resolved_ = false;
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
    if (!resolved_) {
        resolved_ = true;
        resolvable_ = resolve(ipAddress_, &address_);
    }
    if (!resolvable_) {
        CTrace::trace(SCOPE, " write(): [" + ipAddress_ + "] cannot be resolved, nothing is sent", 0);
        return;
    }
    sockaddr_in to;
    std::memset(&to, 0, sizeof to);
    to.sin_family = AF_INET;
    to.sin_port = htons(static_cast<u_short>(portNum_ & 0xFFFF));
    to.sin_addr = address_;
    int sent = sendto(socket_, reinterpret_cast<const char*>(data), size, 0, reinterpret_cast<const sockaddr*>(&to),
                      sizeof to);
    if (sent == SOCKET_ERROR)
        CTrace::scopedError(SCOPE, " write(): the UDP send failed: " + CSocketError::last(), -1);
    else if (sent != size)
        CTrace::trace(SCOPE, " write(): " + std::to_string(sent) + " of " + std::to_string(size) + " bytes were sent",
                      0);
    CTrace::trace(SCOPE, " write(): done", 0);
}
