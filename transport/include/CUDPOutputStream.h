#pragma once
// Sends each block as one UDP datagram to the address set last. Nothing is reported to the
// caller: a block larger than the sendable size, a destination that does not resolve and a
// failed send are traced and the block is lost, as datagrams may be.
//
// Used by one thread (the sending thread of its connection): setAddress, then the write it
// chooses the destination of. Windows Sockets must be initialised.
#include "IAddressSetter.h"
#include "IOutputStream.h"

#include <winsock2.h>

#include <string>

class CUDPOutputStream : public virtual IOutputStream, public virtual IAddressSetter {
public:
    // Makes the socket; the first stream of the process learns the sendable size from the
    // socket's send buffer (SO_SNDBUF). A socket that cannot be made is traced, and every
    // write then fails in sendto.
    CUDPOutputStream();
    ~CUDPOutputStream() override;
    CUDPOutputStream(const CUDPOutputStream&) = delete;
    CUDPOutputStream& operator=(const CUDPOutputStream&) = delete;

    // ipAddress: a dotted address or a host name, resolved once, at the first write to it (a
    // name with gethostbyname, dotted text as it stands); the low 16 bits of portNum are the port.
    void setAddress(const std::string& ipAddress, int portNum) override;
    void write(const unsigned char* data, int size) override;

    // The largest block that is handed to sendto (-1 before the first stream). It is the send
    // buffer's size, which may exceed what one datagram can carry (65507 bytes): such a block
    // fails in sendto (WSAEMSGSIZE) and is traced.
    static int getSendableSize();

    // Dotted text, or else a name the resolver knows, as an address; false when neither.
    static bool resolve(const std::string& text, in_addr* address);

private:
    std::string ipAddress_;
    int portNum_;
    SOCKET socket_;
    bool resolved_;   // ipAddress_ was resolved (address_ and resolvable_ hold the outcome)
    bool resolvable_;
    in_addr address_;
};
