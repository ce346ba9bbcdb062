#pragma once
// The reference of the LAN benchmarks: blocking Winsock TCP without send delay, as a plain
// program would use it.
#include <winsock2.h>

#include <string>

class RawTcp {
public:
    // False when the connection ended or failed first.
    static bool sendAll(SOCKET s, const void* data, size_t size);
    static bool recvAll(SOCKET s, void* data, size_t size);
    static void noDelay(SOCKET s);
    // A listening socket on every local address, INVALID_SOCKET on failure.
    static SOCKET listenOn(unsigned short port);
    // Connected (TCP_NODELAY), trying again until the other side listens; INVALID_SOCKET when
    // it did not within the time.
    static SOCKET connectTo(const std::string& ip, unsigned short port, DWORD waitMs);
};
