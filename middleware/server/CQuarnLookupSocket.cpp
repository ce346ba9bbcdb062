#include "CQuarnLookupSocket.h"

#include "CQuarnComm.h"
#include "QuarnCodes.h"
#include "QuarnGuidText.h"
#include "QuarnTrace.h"
#include "QuarnWire.h"

#include <cwchar>
#include <new>

CQuarnLookupSocket::CQuarnLookupSocket(CQuarnComm* comm) : m_pComm(comm), m_lastCounter(0), m_node() {}

CQuarnLookupSocket::~CQuarnLookupSocket()
{
    while (CQuarnListItem* lookup = m_lookups.GetFirst())
        delete lookup;
}

CQuarnLookupSocket* CQuarnLookupSocket::CreateNewConnection(CQuarnComm& comm, CQuarnLookupSocket& head, HWND hWnd,
                                                            UINT message, DWORD address, const GUID& node, WORD port)
{
    CQuarnLookupSocket* connection = new (std::nothrow) CQuarnLookupSocket(&comm);
    if (connection == nullptr) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    try {
        connection->m_nodeText = FormatBracedGuid(node);
    } catch (const std::bad_alloc&) {
        delete connection;
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    connection->m_node = node;
    if (!connection->CreateStream(hWnd, message, 0) || !connection->Connect(address, port)
        || !connection->LinkTail(&head)) {
        DWORD error = GetLastError();
        connection->CQuarnStreamSocket::DestroySocket();
        delete connection;
        SetLastError(error);
        return nullptr;
    }
    return connection;
}

void CQuarnLookupSocket::OnConnect()
{
    CQuarnStreamSocket::OnConnect();
    if (m_pComm != nullptr)
        m_pComm->OnNodeChange(0);
    const BYTE* octets = reinterpret_cast<const BYTE*>(&m_peerAddress.sin_addr.s_addr);
    WCHAR text[16];
    swprintf(text, 16, L"%u.%u.%u.%u", octets[0], octets[1], octets[2], octets[3]);
    m_peerAddressText = text;
    std::vector<BYTE> record;
    if (m_pComm == nullptr || !AppendGuid(record, m_pComm->GetNode()) || !AppendLong(record, 0)
        || !SendPacket(QUARN_COMM_TYPE_ALIVE, 0, record.data(), static_cast<DWORD>(record.size())))
        QuarnTrace("CQuarnLookupSocket::OnConnect(): alive not sent, error %lu\n", GetLastError());
}

void CQuarnLookupSocket::DestroySocket()
{
    while (CQuarnLookup* lookup = static_cast<CQuarnLookup*>(m_lookups.GetFirst())) {
        if (m_pComm != nullptr)
            m_pComm->PostLookupChanged(*lookup);
        delete lookup;
    }
    bool wasConnected = m_bConnected;
    m_peerAddressText.clear();
    if (wasConnected && m_pComm != nullptr)
        m_pComm->OnNodeChange(1);
    CQuarnStreamSocket::DestroySocket();
}

bool CQuarnLookupSocket::UpdateCounter(DWORD counter)
{
    if (counter == m_lastCounter) {
        QuarnTrace("CQuarnLookupSocket::UpdateCounter(): counter %lu unchanged\n", counter);
        return false;
    }
    m_lastCounter = counter;
    if (!m_bConnected)
        return false;
    for (CQuarnListItem* item = m_lookups.GetFirst(); item != nullptr && item != &m_lookups; item = item->GetNext())
        SendRequest(*static_cast<CQuarnLookup*>(item), QUARN_COMM_TYPE_QUERY_UPDATE_COUNTER);
    return true;
}

bool CQuarnLookupSocket::HandleReply()
{
    WORD type, folded;
    DWORD peer, length;
    std::vector<BYTE> data;
    if (!ReceivePacket(&type, &folded, &peer, &data, &length))
        return false;
    if (type != QUARN_COMM_TYPE_GET_LOOKUP_DIRECTORY && type != QUARN_COMM_TYPE_QUERY_UPDATE_COUNTER) {
        QuarnTrace("CQuarnLookupSocket::HandleReply(): unknown packet type %u\n", type);
        return true;
    }
    if (data.size() < 4)
        return true;
    CQuarnLookup* lookup = static_cast<CQuarnLookup*>(m_lookups.FindById(ReadBigEndian32(data.data())));
    if (lookup == nullptr)
        return true;
    DWORD status = UnfoldStatus(folded);
    if (type == QUARN_COMM_TYPE_GET_LOOKUP_DIRECTORY) {
        DWORD told = lookup->OnDirectoryReply(status, data.data(), static_cast<DWORD>(data.size()));
        if (m_pComm != nullptr && lookup->GetWindow() != nullptr)
            m_pComm->PostLookupMessage(lookup->GetWindow(), lookup->GetId(), told);
    } else if (lookup->OnCounterReply(status, data.data(), static_cast<DWORD>(data.size())) && m_pComm != nullptr) {
        m_pComm->PostLookupChanged(*lookup);
    }
    return true;
}

bool CQuarnLookupSocket::SendRequest(const CQuarnLookup& lookup, WORD type)
{
    const std::vector<BYTE>& request = lookup.GetRequestData();
    return SendPacket(type, 0, request.data(), static_cast<DWORD>(request.size()));
}
