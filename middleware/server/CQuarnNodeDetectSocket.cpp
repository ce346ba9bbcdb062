#include "CQuarnNodeDetectSocket.h"

#include "CQuarnDataBase.h"
#include "QuarnCodes.h"
#include "QuarnTrace.h"
#include "QuarnWire.h"

#include <new>

CQuarnNodeDetectSocket::CQuarnNodeDetectSocket()
    : m_port(0), m_receiveBufferSize(0), m_pDataBase(nullptr), m_node(), m_headFailures(0)
{
}

CQuarnNodeDetectSocket::~CQuarnNodeDetectSocket() = default;

bool CQuarnNodeDetectSocket::Open(HWND hWnd, UINT message, CQuarnDataBase* database, const GUID& node, WORD port)
{
    if (m_pDataBase != nullptr)
        return Fail(ERROR_QUARN_SERVER_BUSY);
    if (port == 0 || database == nullptr)
        return Fail(ERROR_INVALID_PARAMETER);
    m_pDataBase = database;
    m_port = port;
    if (!Create(hWnd, message, SOCK_DGRAM, port))
        return false;
    BOOL broadcast = TRUE;
    int size = 0;
    int sizeLength = sizeof(size);
    if (WSAAsyncSelect(m_socket, hWnd, message, FD_READ | FD_WRITE) == SOCKET_ERROR
        || setsockopt(m_socket, SOL_SOCKET, SO_BROADCAST, reinterpret_cast<const char*>(&broadcast), sizeof(broadcast))
            == SOCKET_ERROR
        || getsockopt(m_socket, SOL_SOCKET, SO_RCVBUF, reinterpret_cast<char*>(&size), &sizeLength) == SOCKET_ERROR) {
        DWORD error = WSAGetLastError();
        DestroySocket();
        return Fail(error);
    }
    m_receiveBufferSize = size <= 0 || static_cast<DWORD>(size) > LARGEST_DATAGRAM ? LARGEST_DATAGRAM : size;
    try {
        m_receiveBuffer.assign(m_receiveBufferSize, 0);
    } catch (const std::bad_alloc&) {
        DestroySocket();
        return Fail(ERROR_NOT_ENOUGH_MEMORY);
    }
    m_node = node;
    return true;
}

void CQuarnNodeDetectSocket::Close()
{
    m_pDataBase = nullptr;
    m_table.Clear();
    while (CQuarnListItem* packet = m_sendQueue.GetFirst())
        delete packet;
    m_headFailures = 0;
    DestroySocket();
}

bool CQuarnNodeDetectSocket::WriteStep()
{
    CQuarnPacket* packet = static_cast<CQuarnPacket*>(m_sendQueue.GetFirst());
    if (packet == nullptr)
        return false;
    packet->ComputeCrc();
    sockaddr_in to = {};
    to.sin_family = AF_INET;
    to.sin_port = htons(m_port);
    to.sin_addr.s_addr = packet->GetPeerAddress();
    DWORD sent = 0;
    if (WSASendTo(m_socket, const_cast<WSABUF*>(packet->GetBufferList()), packet->GetPieceCount(), &sent, 0,
                  reinterpret_cast<const sockaddr*>(&to), sizeof(to), nullptr, nullptr)
        == SOCKET_ERROR) {
        DWORD error = WSAGetLastError();
        if (error == WSAEWOULDBLOCK)
            return Fail(error);
        QuarnTrace("CQuarnNodeDetectSocket::WriteStep(): WSASendTo failed, error %lu\n", error);
        if (++m_headFailures >= SEND_TRIES) {
            delete packet;
            m_headFailures = 0;
        }
        // The next try, or the next datagram, follows at once.
        PostSocketEvent(FD_WRITE, 0);
        return Fail(error);
    }
    m_headFailures = 0;
    delete packet;
    PostSocketEvent(FD_WRITE, 0);
    return true;
}

bool CQuarnNodeDetectSocket::ReadStep()
{
    if (m_socket == INVALID_SOCKET || m_receiveBuffer.empty())
        return Fail(WSAENOTSOCK);
    // A full queue holds reading back until the owner has taken from it.
    if (m_receiveQueue.CountUpTo(RECEIVE_QUEUE_LIMIT) >= RECEIVE_QUEUE_LIMIT)
        return true;
    sockaddr_in from = {};
    int fromLength = sizeof(from);
    int received = recvfrom(m_socket, reinterpret_cast<char*>(m_receiveBuffer.data()),
                            static_cast<int>(m_receiveBuffer.size()), 0, reinterpret_cast<sockaddr*>(&from),
                            &fromLength);
    if (received == SOCKET_ERROR) {
        DWORD error = WSAGetLastError();
        if (error == WSAEWOULDBLOCK)
            return true;
        // A datagram too large for the buffer, or a port-unreachable report for an earlier
        // send: gone, and the next datagram can be read.
        if (error == WSAEMSGSIZE || error == WSAECONNRESET) {
            PostSocketEvent(FD_READ, 0);
            return true;
        }
        return Fail(error);
    }
    CQuarnPacket* packet
        = CQuarnPacket::MakeDatagramPacket(m_receiveBuffer.data(), static_cast<DWORD>(received), from.sin_addr.s_addr);
    if (packet != nullptr)
        packet->LinkTail(&m_receiveQueue);
    PostSocketEvent(FD_READ, 0);
    return true;
}

bool CQuarnNodeDetectSocket::RefreshNetworkInformation()
{
    if (m_pDataBase == nullptr)
        return Fail(ERROR_INVALID_PARAMETER);
    return m_table.Refresh(*m_pDataBase);
}

void CQuarnNodeDetectSocket::RunAliveSchedule(DWORD rootCounter)
{
    if (!m_schedule.Tick(rootCounter))
        return;
    std::vector<BYTE> record;
    if (!AppendGuid(record, m_node) || !AppendLong(record, rootCounter))
        return;
    for (DWORD target : m_table.GetAliveTargets()) {
        if (!SendPacket(QUARN_COMM_TYPE_ALIVE, 0, record.data(), static_cast<DWORD>(record.size()), false, target))
            QuarnTrace("CQuarnNodeDetectSocket::RunAliveSchedule(): alive not queued, error %lu\n", GetLastError());
    }
}

void CQuarnNodeDetectSocket::SetAddressSource(CQuarnAddressTable::Source source)
{
    m_table = CQuarnAddressTable(std::move(source));
}
