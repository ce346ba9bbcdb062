#include "CUDPInputStream.h"

#include "CMonitorHold.h"
#include "CSocketError.h"
#include "CTrace.h"

#include <cstdlib>
#include <cstring>
#include <ctime>
#include <mutex>
#include <new>

namespace {

const char SCOPE[] = "CUDPInputStream";

enum Site {
    SITE_READ = 1,
    SITE_UPDATE,
    SITE_CLOSE,
    SITE_RECEIVABLE,
};

// Process-wide: learnt once from the first stream's socket (or set by a test).
std::mutex g_sizeLock;
int g_receiveBufferSize = -1; // g_sizeLock
int g_startPort = -1;         // g_sizeLock

} // namespace

void CUDPInputStream::setStartPort(int port)
{
    std::lock_guard<std::mutex> hold(g_sizeLock);
    g_startPort = port;
}

void CUDPInputStream::setReceiveBufferSize(int size)
{
    std::lock_guard<std::mutex> hold(g_sizeLock);
    g_receiveBufferSize = size;
}

int CUDPInputStream::getReceiveBufferSize()
{
    std::lock_guard<std::mutex> hold(g_sizeLock);
    return g_receiveBufferSize;
}

CUDPInputStream::CUDPInputStream(int* portOut)
    : portNum_(0), socket_(INVALID_SOCKET), buffer_(nullptr), bufferSize_(0), receivable_(false)
{
    socket_ = socket(AF_INET, SOCK_DGRAM, 0);
    if (socket_ == INVALID_SOCKET)
        CTrace::scopedFatalError(SCOPE, " CUDPInputStream(): the receive socket cannot be made: " + CSocketError::last(),
                                 -1);
    portNum_ = choosePort();
    if (portOut != nullptr)
        *portOut = portNum_;

    {
        std::lock_guard<std::mutex> hold(g_sizeLock);
        if (g_receiveBufferSize == -1) {
            int size = 0;
            int length = sizeof size;
            if (getsockopt(socket_, SOL_SOCKET, SO_RCVBUF, reinterpret_cast<char*>(&size), &length) == SOCKET_ERROR)
                CTrace::scopedFatalError(SCOPE, " CUDPInputStream(): the receive buffer size cannot be read: "
                                                    + CSocketError::last(),
                                         -1);
            g_receiveBufferSize = size;
        }
        bufferSize_ = g_receiveBufferSize;
    }
    CTrace::trace(SCOPE, " CUDPInputStream(): the receive buffer holds " + std::to_string(bufferSize_) + " bytes", 0);
    buffer_ = new (std::nothrow) unsigned char[bufferSize_ > 0 ? bufferSize_ : 1];
    CTrace::scopedAssertTrue(buffer_ != nullptr, SCOPE, " CUDPInputStream(): the receive buffer cannot be allocated",
                             -1);

    window_.setSocket(socket_);
    if (WSAAsyncSelect(socket_, window_.GetSafeHwnd(), CUDPInputStreamWnd::getReceivableMessage(), FD_READ | FD_CLOSE)
        == SOCKET_ERROR)
        CTrace::scopedFatalError(SCOPE, " CUDPInputStream(): the socket cannot be put in asynchronous mode: "
                                            + CSocketError::last(),
                                 -1);
    setReceivable(true);
    CTrace::trace(SCOPE, " CUDPInputStream(): receiving on port " + std::to_string(portNum_), 0);
    window_.addObserver(this);
}

int CUDPInputStream::choosePort()
{
    int start;
    {
        std::lock_guard<std::mutex> hold(g_sizeLock);
        start = g_startPort;
    }
    if (start < FIRST_PORT || start > LAST_PORT) {
        srand(static_cast<unsigned>(time(nullptr)));
        start = rand() % PORT_COUNT + FIRST_PORT;
    }
    CTrace::trace(SCOPE, " CUDPInputStream(): the port search starts at " + std::to_string(start), 0);
    for (int i = start; i < start + PORT_COUNT; ++i) {
        int port = i > LAST_PORT ? i - PORT_COUNT : i;
        sockaddr_in local;
        std::memset(&local, 0, sizeof local);
        local.sin_family = AF_INET;
        local.sin_addr.s_addr = htonl(INADDR_ANY);
        local.sin_port = htons(static_cast<u_short>(port));
        if (bind(socket_, reinterpret_cast<const sockaddr*>(&local), sizeof local) == 0)
            return port;
        CTrace::trace(SCOPE, " CUDPInputStream(): bind failed on port " + std::to_string(port) + ", the next is tried: "
                                 + CSocketError::last(),
                      0);
    }
    CTrace::scopedAssertTrue(false, SCOPE, " CUDPInputStream(): the receive socket cannot be made, no port is free",
                             -1);
    return -1;
}

CUDPInputStream::~CUDPInputStream()
{
    window_.deleteObserver(this);
    delete[] buffer_;
    if (socket_ != INVALID_SOCKET)
        closesocket(socket_);
}

bool CUDPInputStream::isReceivable()
{
    CMonitorHold hold(receivableLock_, SITE_RECEIVABLE, SCOPE);
    return receivable_;
}

void CUDPInputStream::setReceivable(bool receivable)
{
    CMonitorHold hold(receivableLock_, SITE_RECEIVABLE, SCOPE);
    receivable_ = receivable;
}

bool CUDPInputStream::hasData()
{
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(socket_, &readable);
    timeval poll = {0, 0};
    int result = select(0, &readable, nullptr, nullptr, &poll);
    if (result == 1)
        return true;
    CTrace::trace(SCOPE, " hasData(): no datagram can be read without blocking", 0);
    if (result == SOCKET_ERROR)
        CTrace::scopedError(SCOPE, " hasData(): select failed: " + CSocketError::last(), -1);
    return false;
}

int CUDPInputStream::read(const unsigned char** block)
{
    CMonitorHold hold(RECEIVE_LOCK_, SITE_READ, SCOPE);
    for (;;) {
        if (!isReceivable()) {
            CTrace::trace(SCOPE, " read(): reading is not allowed, the UDP reception was told to end", 0);
            return 0;
        }
        if (!hasData()) {
            CTrace::trace(SCOPE, " read(): the socket has no data, waiting", 0);
            RECEIVE_LOCK_.wait(INFINITE);
            CTrace::trace(SCOPE, " read(): woken", 0);
            continue;
        }
        sockaddr_in from;
        int fromLength = sizeof from;
        int count = recvfrom(socket_, reinterpret_cast<char*>(buffer_), bufferSize_, 0,
                             reinterpret_cast<sockaddr*>(&from), &fromLength);
        if (count == SOCKET_ERROR) {
            // One bad datagram (too long for the buffer, an ICMP report) is no end of input.
            CTrace::scopedError(SCOPE, " read(): the UDP receive failed, the datagram is skipped: "
                                           + CSocketError::last(),
                                -1);
            RECEIVE_LOCK_.wait(ERROR_PAUSE_MS);
            continue;
        }
        if (count == 0) {
            // The end of input is close's alone to give.
            CTrace::trace(SCOPE, " read(): a datagram of no bytes is skipped", 0);
            continue;
        }
        CTrace::trace(SCOPE, " read(): UDP receive!! size[" + std::to_string(count) + "]", 0);
        *block = buffer_;
        return count;
    }
}

void CUDPInputStream::update(CObservable*, std::string)
{
    CMonitorHold hold(RECEIVE_LOCK_, SITE_UPDATE, SCOPE);
    CTrace::trace(SCOPE, " update(): called", 0);
    if (isReceivable()) {
        RECEIVE_LOCK_.notify();
        CTrace::trace(SCOPE, " update(): the waiting thread is woken", 0);
    } else {
        CTrace::trace(SCOPE, " update(): isReceivable() is false, the waiting thread is not woken", 0);
    }
}

void CUDPInputStream::close()
{
    CTrace::trace(SCOPE, " close(): the stream stops observing its window", 0);
    // Outside RECEIVE_LOCK: the window calls update under its own monitor, which update
    // follows with RECEIVE_LOCK; the other order here could deadlock with it.
    window_.deleteObserver(this);
    CMonitorHold hold(RECEIVE_LOCK_, SITE_CLOSE, SCOPE);
    setReceivable(false);
    CTrace::trace(SCOPE, " close(): the wait of the receiving thread is released", 0);
    RECEIVE_LOCK_.notify();
}
