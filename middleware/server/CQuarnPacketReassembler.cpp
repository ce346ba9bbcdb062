#include "CQuarnPacketReassembler.h"

#include "QuarnWire.h"

#include <cstring>
#include <new>

CQuarnPacketReassembler::CQuarnPacketReassembler(FilePacketFactory factory)
    : m_factory(std::move(factory)), m_pPacket(nullptr), m_pBuffer(nullptr), m_capacity(0), m_filled(0), m_size(0),
      m_headerOnly(false), m_broken(false)
{
}

CQuarnPacketReassembler::~CQuarnPacketReassembler()
{
    delete m_pPacket;
    delete[] m_pBuffer;
}

bool CQuarnPacketReassembler::GetReceiveBuffer(BYTE** ppBuffer, DWORD* pSize)
{
    if (m_broken) {
        SetLastError(ERROR_INVALID_DATA);
        return false;
    }
    if (m_pBuffer != nullptr) {
        if (m_filled == m_capacity && !Reserve())
            return false;
        *ppBuffer = m_pBuffer + m_filled;
        *pSize = m_capacity - m_filled;
        return true;
    }
    if (m_pPacket == nullptr) {
        BYTE* header = new (std::nothrow) BYTE[QUARN_PACKET_HEADER_SIZE];
        m_pPacket = header == nullptr ? nullptr : CQuarnPacket::MakeReceivePacket(header, QUARN_PACKET_HEADER_SIZE, 0);
        if (m_pPacket == nullptr) {
            Break(ERROR_NOT_ENOUGH_MEMORY);
            return false;
        }
        m_headerOnly = true;
    }
    return m_pPacket->GetCurrentPiece(ppBuffer, pSize);
}

CQuarnPacketReassembler::Result CQuarnPacketReassembler::Received(DWORD count, CQuarnPacket** ppPacket)
{
    *ppPacket = nullptr;
    if (m_broken)
        return BROKEN;
    CQuarnPacket* packet = nullptr;
    if (m_pBuffer != nullptr) {
        m_filled += count < m_capacity - m_filled ? count : m_capacity - m_filled;
        if (m_filled < m_size)
            return INCOMPLETE;
        // Whole: the buffer is exactly the packet's size; the CRC runs over it now.
        DWORD size = m_size;
        packet = CQuarnPacket::MakeReceivePacket(m_pBuffer, size, 0);
        m_pBuffer = nullptr;
        m_capacity = m_filled = m_size = 0;
        if (packet == nullptr) {
            Break(ERROR_NOT_ENOUGH_MEMORY);
            return BROKEN;
        }
        packet->Advance(size);
    } else {
        if (m_pPacket == nullptr)
            return INCOMPLETE;
        if (m_pPacket->Advance(count) != 0)
            return INCOMPLETE;
        if (m_headerOnly) {
            if (!Grow())
                return BROKEN;
            if (m_pBuffer != nullptr)
                return INCOMPLETE;
            if (m_pPacket->Advance(0) != 0)
                return INCOMPLETE;
        }
        packet = m_pPacket;
        m_pPacket = nullptr;
    }
    if (!packet->Deliverable()) {
        delete packet;
        return DROPPED;
    }
    *ppPacket = packet;
    return COMPLETE;
}

bool CQuarnPacketReassembler::Grow()
{
    const BYTE* header = m_pPacket->GetHeader();
    WORD type = ReadBigEndian16(header);
    ULONGLONG size = QuarnPacketSize(ReadBigEndian32(header + 4));
    CQuarnPacket* grown = nullptr;
    DWORD error = ERROR_INVALID_DATA;
    if (type & QUARN_COMM_TYPE_FILE_FLAG) {
        // A file packet streams its contents in chunks and counts in 64 bits: any length the
        // header can hold is a file it can take.
        if (m_factory)
            grown = m_factory(header);
        if (grown == nullptr) {
            error = m_factory ? GetLastError() : 0;
            if (error == 0)
                error = ERROR_NOT_SUPPORTED;
        }
    } else if (size - QUARN_PACKET_HEADER_SIZE - QUARN_PACKET_CRC_SIZE <= QUARN_PACKET_DATA_LIMIT) {
        // The data goes into a buffer of its own that grows as it arrives; the header's packet goes.
        m_size = static_cast<DWORD>(size);
        m_filled = QUARN_PACKET_HEADER_SIZE;
        m_capacity = 0;
        BYTE copy[QUARN_PACKET_HEADER_SIZE];
        memcpy(copy, header, sizeof copy);
        delete m_pPacket;
        m_pPacket = nullptr;
        m_headerOnly = false;
        if (!Reserve(copy))
            return false;
        return true;
    }
    if (grown == nullptr) {
        Break(error);
        return false;
    }
    delete m_pPacket;
    m_pPacket = grown;
    m_headerOnly = false;
    return true;
}

bool CQuarnPacketReassembler::Reserve(const BYTE* header)
{
    DWORD more = m_filled / 2 > RECEIVE_STEP ? m_filled / 2 : RECEIVE_STEP;
    DWORD capacity = m_size - m_filled < more ? m_size : m_filled + more;
    // Every byte of the buffer is received before it is read, so it needs no zero fill.
    BYTE* buffer = new (std::nothrow) BYTE[capacity];
    if (buffer == nullptr) {
        Break(ERROR_NOT_ENOUGH_MEMORY);
        return false;
    }
    if (header != nullptr)
        memcpy(buffer, header, QUARN_PACKET_HEADER_SIZE);
    else
        memcpy(buffer, m_pBuffer, m_filled);
    delete[] m_pBuffer;
    m_pBuffer = buffer;
    m_capacity = capacity;
    return true;
}

void CQuarnPacketReassembler::Break(DWORD error)
{
    delete m_pPacket;
    m_pPacket = nullptr;
    delete[] m_pBuffer;
    m_pBuffer = nullptr;
    m_capacity = m_filled = m_size = 0;
    m_broken = true;
    SetLastError(error);
}
