#pragma once
// A TCP socket of the communication layer: outgoing, listening or accepted. Its read step
// receives one piece per event into the packet under way, its write step sends one piece of
// the oldest queued packet per event, and each step posts the same event to itself so that the
// next one follows after the window's other messages. A file's contents go faster: a step
// sends or receives as many of its chunks as the socket takes, up to a share per turn. A connection that sent nothing for a
// minute sends a keep-alive; the other end drops it unread. Since both ends do so, a
// connection on which nothing arrives for a few minutes has no live peer and is closed.
#include "CQuarnPacketReassembler.h"
#include "CQuarnSocket.h"

class CQuarnStreamSocket : public CQuarnSocket {
public:
    // Keep-alive ticks (one a second) without a sent piece before a keep-alive goes out; it
    // goes on the tick after the countdown reached 0. What arrives does not reset it: the peer
    // hears from this end at least once a period whatever it sends itself.
    static constexpr DWORD KEEP_ALIVE_TICKS = 60;
    // Ticks without a received byte (from the start: without a first one, such as a lookup
    // connection's first reply) after which the connection is closed: three keep-alive periods,
    // so that a peer that announces a packet and goes quiet, or holds connections open without
    // a word, gives them back. Not less: a node flooded with socket events gets no timer
    // messages and sends its keep-alives late (a blast of 100 s delayed one by over 90 s).
    static constexpr DWORD IDLE_TICKS = 3 * KEEP_ALIVE_TICKS;
    // Bytes of a file's contents one step sends or receives at most before the window's other
    // messages get their turn: a few milliseconds of a fast link.
    static constexpr DWORD WRITE_TURN_BYTES = 4 * 1024 * 1024;
    static constexpr DWORD READ_TURN_BYTES = 4 * 1024 * 1024;

    CQuarnStreamSocket();
    // Also deletes the packet under way.
    ~CQuarnStreamSocket() override;

    // With file set, data is the name of a file (UTF-16, length in bytes): a file packet of
    // type (type | 0x8000) streams the file's contents; a file that cannot be opened fails with
    // the file system's error and nothing is queued.
    bool SendPacket(WORD type, DWORD status, const BYTE* data, DWORD length, bool file = false,
                    DWORD peer = 0) override;
    // Drops a keep-alive as no packet (ERROR_NO_DATA). A file packet gives its type without
    // bit 15, its own status and, as data, the name of the file it wrote (zero unit included),
    // with the name's character count as length.
    bool ReceivePacket(WORD* pType, WORD* pStatus, DWORD* pPeer, std::vector<BYTE>* pData, DWORD* pLength) override;
    // Sends one piece of the oldest queued packet. False when the queue is empty or the send
    // failed (WSAEWOULDBLOCK too: the platform's next FD_WRITE resumes).
    bool WriteStep() override;
    // Receives once into the packet under way. True when the owner should look for a packet.
    // False on a failed receive, at the end of the peer's data, or when the stream had to be
    // closed (a length above the cap, no file packet, no memory): the socket is then shut down
    // both ways and FD_CLOSE is posted to itself, so its owner ends it as if the peer had.
    bool ReadStep() override;
    void DestroySocket() override;
    // At countdown 0 queues a keep-alive (type 255, status 0, no data) when nothing else waits
    // to be sent; otherwise counts down. A connection that received nothing for IDLE_TICKS is
    // shut down both ways and posts FD_CLOSE to itself, so its owner ends it as if the peer had.
    virtual void KeepAliveTick();
    // The connection is established: an immediate connect, or the FD_CONNECT that completes one.
    virtual void OnConnect();
    // Accepts the connection pending on the listening socket; only on an unopened object
    // (else ERROR_INVALID_PARAMETER).
    virtual bool Accept(HWND hWnd, UINT message, const CQuarnSocket& listening);
    // Port 0: an outgoing socket (FD_READ, FD_WRITE, FD_CONNECT, FD_CLOSE); a port: listening
    // on it (FD_READ, FD_WRITE, FD_ACCEPT, FD_CLOSE).
    virtual bool CreateStream(HWND hWnd, UINT message, WORD port);
    // The packet for an incoming header whose type has bit 15 set; it continues after the
    // header. None here (ERROR_NOT_SUPPORTED): such a stream is closed.
    virtual CQuarnPacket* MakeFilePacket(const BYTE* header);

    // Connects to an IPv4 address (network order) and port; WSAEWOULDBLOCK counts as success,
    // the completion comes as FD_CONNECT.
    bool Connect(DWORD address, WORD port);

    bool IsConnected() const { return m_bConnected; }
    const sockaddr_in& GetPeerAddress() const { return m_peerAddress; }
    DWORD GetKeepAliveCountdown() const { return m_keepAliveCountdown; }
    // Ticks since the last received byte (since the start before the first).
    DWORD GetIdleTicks() const { return m_idleTicks; }
    const CQuarnPacket* GetPacketUnderWay() const { return m_reassembler.GetPacketUnderWay(); }

protected:
    // A piece of the packet went out and the packet is not finished: result is what its
    // Advance answered. Nothing here.
    virtual void OnAdvanced(CQuarnPacket& packet, DWORD result);

    bool m_bConnected;
    sockaddr_in m_peerAddress;
    DWORD m_keepAliveCountdown;

private:
    // Closes a connection whose peer stays silent (once: its FD_CLOSE is on its way).
    void CloseSilentStream();

    // Shuts a stream that cannot go on down both ways and has its owner end it; the reason
    // stays the last error.
    void CloseBrokenStream();

    CQuarnPacketReassembler m_reassembler;
    DWORD m_idleTicks;
    bool m_bClosingSilent;
};
