#include "CQuarnPacket.h"

#include "QuarnWire.h"

#include <cstring>
#include <new>

CQuarnPacket::CQuarnPacket()
    : m_peer(0), m_header(), m_pHeader(m_header), m_crc(QUARN_CRC_START), m_crcBytes(), m_pieces(), m_pieceCount(0),
      m_current(0), m_pPosition(nullptr), m_remaining(0), m_pBuffer(nullptr), m_sending(false)
{
}

CQuarnPacket::~CQuarnPacket()
{
    delete[] m_pBuffer;
}

CQuarnPacket* CQuarnPacket::MakeSendPacket(WORD type, DWORD status, const BYTE* data, DWORD length, DWORD peer)
{
    if (length > QUARN_PACKET_DATA_LIMIT || (data == nullptr && length != 0)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    CQuarnPacket* packet = new (std::nothrow) CQuarnPacket;
    DWORD padded = static_cast<DWORD>(PadToFour(length));
    BYTE* buffer = nullptr;
    if (packet != nullptr && length != 0) {
        buffer = new (std::nothrow) BYTE[padded];
        if (buffer != nullptr) {
            memcpy(buffer, data, length);
            memset(buffer + length, 0, padded - length);
        }
    }
    if (packet == nullptr || (length != 0 && buffer == nullptr)) {
        delete packet;
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    WriteBigEndian16(packet->m_header, type);
    WriteBigEndian16(packet->m_header + 2, FoldStatus(status));
    WriteBigEndian32(packet->m_header + 4, length);
    packet->m_pBuffer = buffer;
    packet->m_peer = peer;
    packet->m_sending = true;
    WSABUF pieces[3];
    DWORD count = 0;
    pieces[count].buf = reinterpret_cast<CHAR*>(packet->m_header);
    pieces[count++].len = QUARN_PACKET_HEADER_SIZE;
    if (buffer != nullptr) {
        pieces[count].buf = reinterpret_cast<CHAR*>(buffer);
        pieces[count++].len = padded;
    }
    pieces[count].buf = reinterpret_cast<CHAR*>(packet->m_crcBytes);
    pieces[count++].len = QUARN_PACKET_CRC_SIZE;
    packet->SetPieces(pieces, count);
    return packet;
}

CQuarnPacket* CQuarnPacket::MakeReceivePacket(BYTE* buffer, DWORD size, DWORD peer)
{
    if (buffer == nullptr || size == 0) {
        delete[] buffer;
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    CQuarnPacket* packet = new (std::nothrow) CQuarnPacket;
    if (packet == nullptr) {
        delete[] buffer;
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    packet->m_pBuffer = buffer;
    packet->m_peer = peer;
    if (size >= QUARN_PACKET_HEADER_SIZE)
        packet->m_pHeader = buffer;
    WSABUF piece;
    piece.buf = reinterpret_cast<CHAR*>(buffer);
    piece.len = size;
    packet->SetPieces(&piece, 1);
    return packet;
}

bool CQuarnPacket::CheckDatagram(const BYTE* data, DWORD size)
{
    if (data == nullptr || size < QUARN_PACKET_HEADER_SIZE + QUARN_PACKET_CRC_SIZE)
        return false;
    if (QuarnPacketSize(ReadBigEndian32(data + 4)) != size)
        return false;
    return Crc32Update(data, size, QUARN_CRC_START) == QUARN_CRC_RESIDUE;
}

CQuarnPacket* CQuarnPacket::MakeDatagramPacket(const BYTE* data, DWORD size, DWORD peer)
{
    if (!CheckDatagram(data, size)) {
        SetLastError(ERROR_INVALID_DATA);
        return nullptr;
    }
    BYTE* copy = new (std::nothrow) BYTE[size];
    if (copy == nullptr) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    memcpy(copy, data, size);
    CQuarnPacket* packet = MakeReceivePacket(copy, size, peer);
    if (packet != nullptr)
        packet->Advance(size);
    return packet;
}

ULONGLONG CQuarnPacket::GetTotalLength() const
{
    ULONGLONG total = 0;
    for (DWORD i = 0; i < m_pieceCount; ++i)
        total += m_pieces[i].len;
    return total;
}

WORD CQuarnPacket::GetHeaderStatus() const
{
    return GetStatus();
}

DWORD CQuarnPacket::Advance(DWORD count)
{
    while (count > 0 && m_current < m_pieceCount) {
        DWORD taken = count < m_remaining ? count : m_remaining;
        // The CRC of a sending packet covers header and data; its own bytes only leave.
        if (!(m_sending && m_current == m_pieceCount - 1))
            RunCrc(m_pPosition, taken);
        m_pPosition += taken;
        m_remaining -= taken;
        count -= taken;
        if (m_remaining == 0) {
            ++m_current;
            SkipFinishedPieces();
        }
    }
    return m_current < m_pieceCount ? 1 : 0;
}

const WSABUF* CQuarnPacket::GetBufferList() const
{
    return m_pieces;
}

DWORD CQuarnPacket::GetPieceCount() const
{
    return m_pieceCount;
}

bool CQuarnPacket::GetCurrentPiece(BYTE** ppPosition, DWORD* pRemaining) const
{
    if (m_current >= m_pieceCount)
        return false;
    *ppPosition = m_pPosition;
    *pRemaining = m_remaining;
    return true;
}

const BYTE* CQuarnPacket::GetData() const
{
    if (m_sending)
        return m_pBuffer;
    return GetDataLength() == 0 ? nullptr : m_pBuffer + QUARN_PACKET_HEADER_SIZE;
}

DWORD CQuarnPacket::GetDataLength() const
{
    DWORD length = GetLength();
    // A receiving buffer that does not hold the whole packet (a bare header) has no data yet.
    if (!m_sending && (m_pBuffer == nullptr || QuarnPacketSize(length) != GetTotalLength()))
        return 0;
    return length;
}

WORD CQuarnPacket::GetType() const
{
    return ReadBigEndian16(m_pHeader);
}

WORD CQuarnPacket::GetStatus() const
{
    return ReadBigEndian16(m_pHeader + 2);
}

DWORD CQuarnPacket::GetLength() const
{
    return ReadBigEndian32(m_pHeader + 4);
}

void CQuarnPacket::ComputeCrc()
{
    DWORD crc = QUARN_CRC_START;
    for (DWORD i = 0; i + 1 < m_pieceCount; ++i)
        crc = Crc32Update(reinterpret_cast<const BYTE*>(m_pieces[i].buf), m_pieces[i].len, crc);
    WriteBigEndian32(m_crcBytes, crc);
}

bool CQuarnPacket::CheckCrc() const
{
    return m_crc == QUARN_CRC_RESIDUE;
}

bool CQuarnPacket::Deliverable() const
{
    return CheckCrc();
}

void CQuarnPacket::SetHeader(const BYTE* header)
{
    memcpy(m_header, header, sizeof(m_header));
    m_pHeader = m_header;
}

void CQuarnPacket::SetPieces(const WSABUF* pieces, DWORD count)
{
    m_pieceCount = count < 3 ? count : 3;
    for (DWORD i = 0; i < m_pieceCount; ++i)
        m_pieces[i] = pieces[i];
    m_current = 0;
    SkipFinishedPieces();
}

void CQuarnPacket::RunCrc(const BYTE* bytes, DWORD count)
{
    m_crc = Crc32Update(bytes, count, m_crc);
}

void CQuarnPacket::SkipFinishedPieces()
{
    while (m_current < m_pieceCount && m_pieces[m_current].len == 0)
        ++m_current;
    if (m_current < m_pieceCount) {
        m_pPosition = reinterpret_cast<BYTE*>(m_pieces[m_current].buf);
        m_remaining = m_pieces[m_current].len;
        if (m_sending && m_current == m_pieceCount - 1)
            WriteBigEndian32(m_crcBytes, m_crc);
    } else {
        m_pPosition = nullptr;
        m_remaining = 0;
    }
}
