#include "CInetAddress.h"

#include "COutOfMemoryException.h"
#include "CUnknownHostException.h"

#include <winsock2.h>

#include <cstdio>
#include <memory>
#include <new>

CInetAddress::CInetAddress() {}

std::string CInetAddress::toString() const
{
    return address_;
}

CInetAddress* CInetAddress::resolve()
{
    std::unique_ptr<CInetAddress> result(new (std::nothrow) CInetAddress());
    if (!result)
        throw COutOfMemoryException();
    char name[128] = {0};
    if (gethostname(name, sizeof(name)) != 0)
        throw CUnknownHostException("");
    hostent* host = gethostbyname(name);
    if (host == nullptr) {
        unsigned long numeric = inet_addr(name);
        host = gethostbyaddr(reinterpret_cast<const char*>(&numeric), 4, AF_INET);
    }
    if (host == nullptr || host->h_addr_list == nullptr || host->h_addr_list[0] == nullptr)
        throw CUnknownHostException(" both gethostbyname and gethostbyaddr failed for the local host");
    const unsigned char* address = reinterpret_cast<const unsigned char*>(host->h_addr_list[0]);
    char text[20];
    snprintf(text, sizeof(text), "%d.%d.%d.%d", address[0], address[1], address[2], address[3]);
    result->address_ = text;
    return result.release();
}
