#include "CQuarnStreamSocket.h"

#include "CQuarnFileReadPacket.h"
#include "CQuarnFileWritePacket.h"
#include "QuarnTrace.h"
#include "QuarnWire.h"

#include <cwchar>
#include <new>
#include <string>

CQuarnStreamSocket::CQuarnStreamSocket()
    : m_bConnected(false), m_peerAddress(), m_keepAliveCountdown(KEEP_ALIVE_TICKS),
      m_reassembler([this](const BYTE* header) { return MakeFilePacket(header); }), m_idleTicks(0),
      m_bClosingSilent(false)
{
}

CQuarnStreamSocket::~CQuarnStreamSocket() = default;

namespace {

// A packet leaves in pieces (header, data, crc), each its own send: with the platform's
// coalescing of small sends, the last piece of an answer would wait for the peer's delayed
// acknowledgement, tens of milliseconds per packet. Pieces go out as they are sent.
void sendPiecesAtOnce(SOCKET s)
{
    BOOL noDelay = TRUE;
    setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&noDelay), sizeof(noDelay));
}

} // namespace

bool CQuarnStreamSocket::SendPacket(WORD type, DWORD status, const BYTE* data, DWORD length, bool file, DWORD peer)
{
    if (!file)
        return CQuarnSocket::SendPacket(type, status, data, length, false, peer);
    std::wstring name;
    try {
        if (data != nullptr)
            name.assign(reinterpret_cast<const WCHAR*>(data), length / sizeof(WCHAR));
    } catch (const std::bad_alloc&) {
        return Fail(ERROR_NOT_ENOUGH_MEMORY);
    }
    // A name ends at its zero unit, whatever the length said.
    name.resize(wcsnlen(name.c_str(), name.size()));
    if (name.empty())
        return Fail(ERROR_INVALID_PARAMETER);
    CQuarnPacket* packet = CQuarnFileReadPacket::Open(type | QUARN_COMM_TYPE_FILE_FLAG, status, name.c_str());
    if (packet == nullptr)
        return Fail(GetLastError());
    packet->LinkTail(&m_sendQueue);
    return PostSocketEvent(FD_WRITE, 0);
}

bool CQuarnStreamSocket::ReceivePacket(WORD* pType, WORD* pStatus, DWORD* pPeer, std::vector<BYTE>* pData,
                                       DWORD* pLength)
{
    CQuarnPacket* packet = TakeReceivedPacket();
    if (packet == nullptr || packet->GetType() == QUARN_COMM_TYPE_KEEP_ALIVE) {
        delete packet;
        SetLastError(ERROR_NO_DATA);
        return false;
    }
    WORD type = packet->GetType();
    DWORD length = packet->GetDataLength();
    if (type & QUARN_COMM_TYPE_FILE_FLAG)
        return YieldPacket(packet, type & ~QUARN_COMM_TYPE_FILE_FLAG, packet->GetHeaderStatus(), packet->GetData(),
                           (length + 1) * sizeof(WCHAR), length, pType, pStatus, pPeer, pData, pLength);
    return YieldPacket(packet, type, packet->GetHeaderStatus(), packet->GetData(), length, length, pType, pStatus, pPeer,
                       pData, pLength);
}

bool CQuarnStreamSocket::WriteStep()
{
    CQuarnPacket* packet = static_cast<CQuarnPacket*>(m_sendQueue.GetFirst());
    if (packet == nullptr)
        return false;
    WSABUF pieces[2];
    BYTE* position;
    DWORD remaining;
    if (!packet->GetCurrentPiece(&position, &remaining)) {
        // Nothing left to send of it (a packet cannot be queued so, but do not stall on one).
        delete packet;
        PostSocketEvent(FD_WRITE, 0);
        return true;
    }
    // A file packet sends as much of the file as the socket takes, many chunks a call, until
    // the socket is full (its FD_WRITE resumes) or this turn has sent its share; any other
    // packet one piece per step.
    CQuarnFileReadPacket* file =
        (packet->GetType() & QUARN_COMM_TYPE_FILE_FLAG) ? dynamic_cast<CQuarnFileReadPacket*>(packet) : nullptr;
    DWORD turn = 0;
    for (;;) {
        DWORD count = 1;
        if (file != nullptr) {
            count = file->GetSendBuffers(pieces);
            // A packet that cannot go on: the next step finds nothing to send of it.
            if (count == 0) {
                PostSocketEvent(FD_WRITE, 0);
                return true;
            }
        } else {
            pieces[0].buf = reinterpret_cast<CHAR*>(position);
            pieces[0].len = remaining;
        }
        DWORD sent = 0;
        if (WSASend(m_socket, pieces, count, &sent, 0, nullptr, nullptr) == SOCKET_ERROR)
            return Fail(WSAGetLastError());
        m_keepAliveCountdown = KEEP_ALIVE_TICKS;
        turn += sent;
        // A partial send leads to the next one, which finds the socket full.
        bool more = file != nullptr && turn < WRITE_TURN_BYTES;
        if (!more)
            PostSocketEvent(FD_WRITE, 0);
        DWORD advanced = packet->Advance(sent);
        if (advanced == 0) {
            bool wasFull = m_sendQueue.CountUpTo(SEND_QUEUE_LIMIT) >= SEND_QUEUE_LIMIT;
            delete packet;
            if (more)
                PostSocketEvent(FD_WRITE, 0);
            if (wasFull)
                PostSocketEvent(FD_READ, 0);
            return true;
        }
        OnAdvanced(*packet, advanced);
        if (!more)
            break;
        // The owner may have ended the transfer on that progress.
        if (m_bShutDown || m_socket == INVALID_SOCKET) {
            PostSocketEvent(FD_WRITE, 0);
            break;
        }
    }
    return true;
}

bool CQuarnStreamSocket::ReadStep()
{
    if (m_socket == INVALID_SOCKET)
        return Fail(WSAENOTSOCK);
    if (m_reassembler.IsBroken())
        return Fail(ERROR_INVALID_DATA);
    // Full queues hold reading back until the owner or the peer has taken from them.
    if (m_receiveQueue.CountUpTo(RECEIVE_QUEUE_LIMIT) >= RECEIVE_QUEUE_LIMIT
        || m_sendQueue.CountUpTo(SEND_QUEUE_LIMIT) >= SEND_QUEUE_LIMIT)
        return true;
    // The contents of a file packet are received as far as its batch reaches, and on until the
    // socket is empty (its FD_READ resumes) or this turn has taken its share; anything else
    // one receive per step. At most one packet completes per step.
    DWORD turn = 0;
    for (;;) {
        BYTE* position;
        DWORD size;
        if (!m_reassembler.GetReceiveBuffer(&position, &size)) {
            CloseBrokenStream();
            return false;
        }
        const CQuarnFileWritePacket* file = dynamic_cast<const CQuarnFileWritePacket*>(m_reassembler.GetPacketUnderWay());
        if (file != nullptr)
            file->GetReceiveSpan(&position, &size);
        WSABUF piece;
        piece.buf = reinterpret_cast<CHAR*>(position);
        piece.len = size;
        DWORD received = 0;
        DWORD flags = 0;
        if (WSARecv(m_socket, &piece, 1, &received, &flags, nullptr, nullptr) == SOCKET_ERROR) {
            DWORD error = WSAGetLastError();
            if (error == WSAEWOULDBLOCK)
                return true;
            return Fail(error);
        }
        // The peer's data has ended; its FD_CLOSE follows, and reading on would only spin.
        if (received == 0)
            return Fail(WSAEDISCON);
        m_idleTicks = 0;
        turn += received;
        CQuarnPacket* packet;
        switch (m_reassembler.Received(received, &packet)) {
        case CQuarnPacketReassembler::COMPLETE:
            packet->LinkTail(&m_receiveQueue);
            PostSocketEvent(FD_READ, 0);
            return true;
        case CQuarnPacketReassembler::BROKEN:
            CloseBrokenStream();
            return false;
        default:
            break;
        }
        if (file == nullptr || turn >= READ_TURN_BYTES)
            break;
    }
    PostSocketEvent(FD_READ, 0);
    return true;
}

void CQuarnStreamSocket::DestroySocket()
{
    m_bConnected = false;
    CQuarnSocket::DestroySocket();
}

void CQuarnStreamSocket::KeepAliveTick()
{
    if (m_socket == INVALID_SOCKET || m_bClosingSilent)
        return;
    if (m_idleTicks < IDLE_TICKS)
        ++m_idleTicks;
    if (m_idleTicks >= IDLE_TICKS) {
        CloseSilentStream();
        return;
    }
    if (m_keepAliveCountdown > 0) {
        --m_keepAliveCountdown;
        return;
    }
    // With packets waiting the connection is not idle; their sending resets the countdown.
    if (m_sendQueue.GetFirst() == nullptr)
        SendPacket(QUARN_COMM_TYPE_KEEP_ALIVE, 0, nullptr, 0);
}

void CQuarnStreamSocket::OnConnect()
{
    m_bConnected = true;
}

bool CQuarnStreamSocket::Accept(HWND hWnd, UINT message, const CQuarnSocket& listening)
{
    if (m_socket != INVALID_SOCKET)
        return Fail(ERROR_INVALID_PARAMETER);
    sockaddr_in peer = {};
    int size = sizeof(peer);
    SOCKET s = accept(listening.GetSocket(), reinterpret_cast<sockaddr*>(&peer), &size);
    if (s == INVALID_SOCKET)
        return Fail(WSAGetLastError());
    m_socket = s;
    m_hWnd = hWnd;
    m_uMessage = message;
    m_bShutDown = false;
    if (WSAAsyncSelect(s, hWnd, message, FD_READ | FD_WRITE | FD_CONNECT | FD_CLOSE) == SOCKET_ERROR) {
        DWORD error = WSAGetLastError();
        DestroySocket();
        return Fail(error);
    }
    size = sizeof(m_peerAddress);
    if (getpeername(s, reinterpret_cast<sockaddr*>(&m_peerAddress), &size) == SOCKET_ERROR) {
        DWORD error = WSAGetLastError();
        DestroySocket();
        return Fail(error);
    }
    sendPiecesAtOnce(s);
    m_bConnected = true;
    return true;
}

bool CQuarnStreamSocket::CreateStream(HWND hWnd, UINT message, WORD port)
{
    if (!Create(hWnd, message, SOCK_STREAM, port))
        return false;
    long events = port == 0 ? FD_READ | FD_WRITE | FD_CONNECT | FD_CLOSE : FD_READ | FD_WRITE | FD_ACCEPT | FD_CLOSE;
    if (WSAAsyncSelect(m_socket, hWnd, message, events) == SOCKET_ERROR
        || (port != 0 && listen(m_socket, SOMAXCONN) == SOCKET_ERROR)) {
        DWORD error = WSAGetLastError();
        DestroySocket();
        return Fail(error);
    }
    if (port == 0)
        sendPiecesAtOnce(m_socket);
    return true;
}

void CQuarnStreamSocket::OnAdvanced(CQuarnPacket&, DWORD) {}

CQuarnPacket* CQuarnStreamSocket::MakeFilePacket(const BYTE*)
{
    SetLastError(ERROR_NOT_SUPPORTED);
    return nullptr;
}

bool CQuarnStreamSocket::Connect(DWORD address, WORD port)
{
    m_peerAddress = sockaddr_in();
    m_peerAddress.sin_family = AF_INET;
    m_peerAddress.sin_port = htons(port);
    m_peerAddress.sin_addr.s_addr = address;
    if (connect(m_socket, reinterpret_cast<sockaddr*>(&m_peerAddress), sizeof(m_peerAddress)) == 0) {
        OnConnect();
        return true;
    }
    DWORD error = WSAGetLastError();
    if (error == WSAEWOULDBLOCK)
        return true;
    return Fail(error);
}

void CQuarnStreamSocket::CloseSilentStream()
{
    QuarnTrace("CQuarnStreamSocket::KeepAliveTick(): stream closed, nothing arrived for %lu ticks\n", m_idleTicks);
    m_bClosingSilent = true;
    shutdown(m_socket, SD_BOTH);
    PostSocketEvent(FD_CLOSE, 0);
    SetLastError(WSAETIMEDOUT);
}

void CQuarnStreamSocket::CloseBrokenStream()
{
    DWORD reason = GetLastError();
    QuarnTrace("CQuarnStreamSocket::ReadStep(): stream closed, error %lu\n", reason);
    shutdown(m_socket, SD_BOTH);
    PostSocketEvent(FD_CLOSE, 0);
    Fail(reason);
}
