#include "CQuarnSocket.h"

#include "QuarnWire.h"

#include <cstring>
#include <new>
#include <stdexcept>

namespace {

bool failItem()
{
    SetLastError(ERROR_INVALID_PARAMETER);
    return false;
}

// Grows data by count bytes, written by write at the old end.
template <typename Write> bool appendBytes(std::vector<BYTE>& data, size_t count, Write write)
{
    size_t at = data.size();
    try {
        data.resize(at + count);
    } catch (const std::bad_alloc&) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return false;
    } catch (const std::length_error&) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return false;
    }
    write(data.data() + at);
    return true;
}

// The UTF-16 big-endian units at data up to the first zero unit among the first units; false
// when there is none (ERROR_INVALID_PARAMETER) or no memory for the text.
bool readUnits(const BYTE* data, DWORD units, std::wstring& text, DWORD& characters)
{
    characters = 0;
    while (characters < units && ReadBigEndian16(data + 2 * characters) != 0)
        ++characters;
    if (characters == units)
        return failItem();
    try {
        std::wstring result(characters, L'\0');
        for (DWORD i = 0; i < characters; ++i)
            result[i] = static_cast<WCHAR>(ReadBigEndian16(data + 2 * i));
        text.swap(result);
    } catch (const std::bad_alloc&) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return false;
    }
    return true;
}

// Whether count bytes from offset lie inside length, in 64 bits.
bool inside(DWORD length, DWORD offset, ULONGLONG count)
{
    return static_cast<ULONGLONG>(offset) + count <= length;
}

} // namespace

CQuarnSocket::CQuarnSocket()
    : m_socket(INVALID_SOCKET), m_dwLastError(0), m_hWnd(nullptr), m_uMessage(0), m_localAddress(), m_bShutDown(false)
{
    m_localAddress.sin_family = AF_INET;
    m_localAddress.sin_addr.s_addr = htonl(INADDR_ANY);
}

CQuarnSocket::~CQuarnSocket()
{
    while (CQuarnListItem* packet = m_sendQueue.GetFirst())
        delete packet;
    while (CQuarnListItem* packet = m_receiveQueue.GetFirst())
        delete packet;
    if (m_socket != INVALID_SOCKET)
        closesocket(m_socket);
}

bool CQuarnSocket::SendPacket(WORD type, DWORD status, const BYTE* data, DWORD length, bool file, DWORD peer)
{
    if (file)
        return Fail(ERROR_INVALID_PARAMETER);
    CQuarnPacket* packet = CQuarnPacket::MakeSendPacket(type, status, data, length, peer);
    if (packet == nullptr)
        return false;
    packet->LinkTail(&m_sendQueue);
    return PostSocketEvent(FD_WRITE, 0);
}

bool CQuarnSocket::ReceivePacket(WORD* pType, WORD* pStatus, DWORD* pPeer, std::vector<BYTE>* pData, DWORD* pLength)
{
    CQuarnPacket* packet = TakeReceivedPacket();
    if (packet == nullptr) {
        SetLastError(ERROR_NO_DATA);
        return false;
    }
    DWORD length = packet->GetDataLength();
    return YieldPacket(packet, packet->GetType(), packet->GetHeaderStatus(), packet->GetData(), length, length, pType,
                       pStatus, pPeer, pData, pLength);
}

void CQuarnSocket::DestroySocket()
{
    if (m_socket != INVALID_SOCKET && closesocket(m_socket) == SOCKET_ERROR)
        m_dwLastError = WSAGetLastError();
    m_socket = INVALID_SOCKET;
}

bool CQuarnSocket::Create(HWND hWnd, UINT message, int type, WORD port)
{
    if (m_socket != INVALID_SOCKET)
        return Fail(ERROR_INVALID_PARAMETER);
    m_hWnd = hWnd;
    m_uMessage = message;
    m_localAddress.sin_family = AF_INET;
    m_localAddress.sin_port = htons(port);
    m_localAddress.sin_addr.s_addr = htonl(INADDR_ANY);
    SOCKET s = socket(AF_INET, type, 0);
    if (s == INVALID_SOCKET)
        return Fail(WSAGetLastError());
    if (port != 0 && bind(s, reinterpret_cast<sockaddr*>(&m_localAddress), sizeof(m_localAddress)) == SOCKET_ERROR) {
        DWORD error = WSAGetLastError();
        closesocket(s);
        return Fail(error);
    }
    m_socket = s;
    m_bShutDown = false;
    return true;
}

bool CQuarnSocket::ShutdownSocket(int how)
{
    if (shutdown(m_socket, how) == SOCKET_ERROR)
        return Fail(WSAGetLastError());
    m_bShutDown = true;
    return true;
}

bool CQuarnSocket::PostSocketEvent(WORD event, WORD error)
{
    MSG waiting;
    if (PeekMessageW(&waiting, m_hWnd, m_uMessage, m_uMessage, PM_NOREMOVE | PM_NOYIELD)
        && waiting.wParam == static_cast<WPARAM>(m_socket) && WSAGETSELECTEVENT(waiting.lParam) == event)
        return true;
    return PostMessageW(m_hWnd, m_uMessage, static_cast<WPARAM>(m_socket), WSAMAKESELECTREPLY(event, error)) != FALSE;
}

bool CQuarnSocket::Fail(DWORD error)
{
    m_dwLastError = error;
    SetLastError(error);
    return false;
}

CQuarnPacket* CQuarnSocket::TakeReceivedPacket()
{
    CQuarnPacket* packet = static_cast<CQuarnPacket*>(m_receiveQueue.GetFirst());
    if (packet == nullptr)
        return nullptr;
    bool wasFull = m_receiveQueue.CountUpTo(RECEIVE_QUEUE_LIMIT) >= RECEIVE_QUEUE_LIMIT;
    packet->Unlink();
    if (wasFull)
        PostSocketEvent(FD_READ, 0);
    return packet;
}

bool CQuarnSocket::YieldPacket(CQuarnPacket* packet, WORD type, WORD status, const BYTE* data, DWORD bytes,
                               DWORD length, WORD* pType, WORD* pStatus, DWORD* pPeer, std::vector<BYTE>* pData,
                               DWORD* pLength)
{
    DWORD peer = packet->GetPeerAddress();
    try {
        if (data == nullptr || bytes == 0)
            pData->clear();
        else
            pData->assign(data, data + bytes);
    } catch (const std::bad_alloc&) {
        delete packet;
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return false;
    }
    delete packet;
    *pType = type;
    *pStatus = status;
    *pPeer = peer;
    *pLength = length;
    return true;
}

bool CQuarnSocket::AppendLong(std::vector<BYTE>& data, DWORD value)
{
    return appendBytes(data, 4, [value](BYTE* at) { WriteBigEndian32(at, value); });
}

bool CQuarnSocket::AppendString(std::vector<BYTE>& data, const WCHAR* text)
{
    if (text == nullptr)
        return AppendLong(data, 0);
    size_t characters = wcslen(text);
    if (characters > (0xFFFFFFFF - 2) / 2 - 3)
        return failItem();
    DWORD bytes = static_cast<DWORD>(characters * 2 + 2);
    size_t padded = static_cast<size_t>(PadToFour(bytes));
    return appendBytes(data, 4 + padded, [&](BYTE* at) {
        WriteBigEndian32(at, bytes);
        for (size_t i = 0; i <= characters; ++i)
            WriteBigEndian16(at + 4 + 2 * i, static_cast<WORD>(text[i]));
        memset(at + 4 + bytes, 0, padded - bytes);
    });
}

bool CQuarnSocket::AppendPath(std::vector<BYTE>& data, const WCHAR* path)
{
    if (path == nullptr)
        path = L"";
    size_t characters = wcslen(path);
    return appendBytes(data, characters * 2 + 2, [&](BYTE* at) {
        for (size_t i = 0; i <= characters; ++i)
            WriteBigEndian16(at + 2 * i, static_cast<WORD>(path[i]));
    });
}

bool CQuarnSocket::AppendBinary(std::vector<BYTE>& data, const BYTE* bytes, DWORD size)
{
    if (bytes == nullptr && size != 0)
        return failItem();
    ULONGLONG padded = PadToFour(size);
    return appendBytes(data, static_cast<size_t>(4 + padded), [&](BYTE* at) {
        WriteBigEndian32(at, size);
        if (size != 0)
            memcpy(at + 4, bytes, size);
        memset(at + 4 + size, 0, static_cast<size_t>(padded - size));
    });
}

bool CQuarnSocket::AppendGuid(std::vector<BYTE>& data, const GUID& guid)
{
    return appendBytes(data, 16, [&](BYTE* at) {
        WriteBigEndian32(at, guid.Data1);
        WriteBigEndian16(at + 4, guid.Data2);
        WriteBigEndian16(at + 6, guid.Data3);
        memcpy(at + 8, guid.Data4, 8);
    });
}

bool CQuarnSocket::ParseLong(const BYTE* data, DWORD length, DWORD& offset, DWORD& value)
{
    if (data == nullptr || !inside(length, offset, 4))
        return failItem();
    value = ReadBigEndian32(data + offset);
    offset += 4;
    return true;
}

bool CQuarnSocket::ParseString(const BYTE* data, DWORD length, DWORD& offset, std::optional<std::wstring>& text)
{
    DWORD at = offset;
    DWORD bytes;
    if (!ParseLong(data, length, at, bytes))
        return false;
    if (bytes == 0) {
        text.reset();
        offset = at;
        return true;
    }
    if ((bytes & 1) != 0 || !inside(length, at, PadToFour(bytes)))
        return failItem();
    std::wstring characters;
    DWORD count;
    if (!readUnits(data + at, bytes / 2, characters, count))
        return false;
    text = std::move(characters);
    offset = static_cast<DWORD>(at + PadToFour(bytes));
    return true;
}

bool CQuarnSocket::ParsePath(const BYTE* data, DWORD length, DWORD& offset, std::wstring& path)
{
    if (data == nullptr || offset > length || ((length - offset) & 1) != 0)
        return failItem();
    DWORD characters;
    if (!readUnits(data + offset, (length - offset) / 2, path, characters))
        return false;
    offset += 2 * characters + 2;
    return true;
}

bool CQuarnSocket::ParseBinary(const BYTE* data, DWORD length, DWORD& offset, std::vector<BYTE>& bytes)
{
    DWORD at = offset;
    DWORD size;
    if (!ParseLong(data, length, at, size))
        return false;
    if (!inside(length, at, PadToFour(size)))
        return failItem();
    try {
        bytes.assign(data + at, data + at + size);
    } catch (const std::bad_alloc&) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return false;
    }
    offset = static_cast<DWORD>(at + PadToFour(size));
    return true;
}

bool CQuarnSocket::ParseGuid(const BYTE* data, DWORD length, DWORD& offset, GUID& guid)
{
    if (data == nullptr || !inside(length, offset, 16))
        return failItem();
    const BYTE* at = data + offset;
    guid.Data1 = ReadBigEndian32(at);
    guid.Data2 = ReadBigEndian16(at + 4);
    guid.Data3 = ReadBigEndian16(at + 6);
    memcpy(guid.Data4, at + 8, 8);
    offset += 16;
    return true;
}
