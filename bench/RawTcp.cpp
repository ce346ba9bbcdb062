#include "RawTcp.h"

#include <ws2tcpip.h>

#include <algorithm>

bool RawTcp::sendAll(SOCKET s, const void* data, size_t size)
{
    const char* p = static_cast<const char*>(data);
    while (size > 0) {
        int n = send(s, p, static_cast<int>(std::min<size_t>(size, 1u << 30)), 0);
        if (n <= 0)
            return false;
        p += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

bool RawTcp::recvAll(SOCKET s, void* data, size_t size)
{
    char* p = static_cast<char*>(data);
    while (size > 0) {
        int n = recv(s, p, static_cast<int>(std::min<size_t>(size, 1u << 30)), 0);
        if (n <= 0)
            return false;
        p += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

void RawTcp::noDelay(SOCKET s)
{
    BOOL on = TRUE;
    setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof on);
}

SOCKET RawTcp::listenOn(unsigned short port)
{
    SOCKET listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    if (bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || listen(listener, 1) != 0) {
        closesocket(listener);
        return INVALID_SOCKET;
    }
    return listener;
}

SOCKET RawTcp::connectTo(const std::string& ip, unsigned short port, DWORD waitMs)
{
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    inet_pton(AF_INET, ip.c_str(), &address.sin_addr);
    for (DWORD waited = 0; waited < waitMs; waited += 200) {
        SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        if (connect(s, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
            noDelay(s);
            return s;
        }
        closesocket(s);
        Sleep(200);
    }
    return INVALID_SOCKET;
}
