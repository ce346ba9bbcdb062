#include "CQuarnPacketReassembler.h"

#include "QuarnWire.h"

#include <cstring>
#include <new>

CQuarnPacketReassembler::CQuarnPacketReassembler(FilePacketFactory factory)
    : m_factory(std::move(factory)), m_pPacket(nullptr), m_headerOnly(false), m_broken(false)
{
}

CQuarnPacketReassembler::~CQuarnPacketReassembler()
{
    delete m_pPacket;
}

bool CQuarnPacketReassembler::GetReceiveBuffer(BYTE** ppBuffer, DWORD* pSize)
{
    if (m_broken) {
        SetLastError(ERROR_INVALID_DATA);
        return false;
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
    if (m_broken || m_pPacket == nullptr)
        return m_broken ? BROKEN : INCOMPLETE;
    if (m_pPacket->Advance(count) != 0)
        return INCOMPLETE;
    if (m_headerOnly) {
        if (!Grow())
            return BROKEN;
        if (m_pPacket->Advance(0) != 0)
            return INCOMPLETE;
    }
    CQuarnPacket* packet = m_pPacket;
    m_pPacket = nullptr;
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
        // Every byte of the buffer is received before it is read, so it needs no zero fill.
        BYTE* buffer = new (std::nothrow) BYTE[static_cast<size_t>(size)];
        if (buffer != nullptr) {
            memcpy(buffer, header, QUARN_PACKET_HEADER_SIZE);
            grown = CQuarnPacket::MakeReceivePacket(buffer, static_cast<DWORD>(size), 0);
        }
        if (grown == nullptr)
            error = ERROR_NOT_ENOUGH_MEMORY;
        else
            grown->Advance(QUARN_PACKET_HEADER_SIZE);
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

void CQuarnPacketReassembler::Break(DWORD error)
{
    delete m_pPacket;
    m_pPacket = nullptr;
    m_broken = true;
    SetLastError(error);
}
