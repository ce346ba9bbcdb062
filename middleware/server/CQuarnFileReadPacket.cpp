#include "CQuarnFileReadPacket.h"

#include "QuarnWire.h"

#include <cstring>
#include <new>

CQuarnFileReadPacket* CQuarnFileReadPacket::Open(WORD type, DWORD status, const WCHAR* file)
{
    if (file == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    DWORD attributes = GetFileAttributesW(file);
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY))
        SetFileAttributesW(file, attributes & ~FILE_ATTRIBUTE_READONLY);
    HANDLE handle = CreateFileW(file, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                FILE_FLAG_DELETE_ON_CLOSE | FILE_ATTRIBUTE_TEMPORARY, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return nullptr;
    LARGE_INTEGER size;
    DWORD error = 0;
    if (!GetFileSizeEx(handle, &size))
        error = GetLastError();
    else if (static_cast<ULONGLONG>(size.QuadPart) > 0xFFFFFFFF)
        error = ERROR_DISK_FULL;
    CQuarnFileReadPacket* packet = nullptr;
    if (error == 0) {
        BYTE* batch = new (std::nothrow) BYTE[BATCH_SIZE + 4];
        if (batch != nullptr)
            packet = new (std::nothrow)
                CQuarnFileReadPacket(handle, static_cast<ULONGLONG>(size.QuadPart), type, status, batch);
        if (packet == nullptr) {
            delete[] batch;
            error = ERROR_NOT_ENOUGH_MEMORY;
        }
    }
    if (packet == nullptr) {
        CloseHandle(handle);
        SetLastError(error);
    }
    return packet;
}

CQuarnFileReadPacket::CQuarnFileReadPacket(HANDLE file, ULONGLONG size, WORD type, DWORD status, BYTE* buffer)
    : m_hFile(file), m_size(size), m_read(0), m_fileRead(0), m_error(0), m_stage(HEADER), m_pPosition(nullptr),
      m_remaining(0), m_crcOut(), m_pieces(), m_pBatch(buffer), m_batchFilled(0), m_batchNext(0)
{
    BYTE header[QUARN_PACKET_HEADER_SIZE];
    WriteBigEndian16(header, type);
    WriteBigEndian16(header + 2, FoldStatus(status));
    WriteBigEndian32(header + 4, static_cast<DWORD>(size));
    SetHeader(header);
    m_pieces[0].buf = reinterpret_cast<CHAR*>(const_cast<BYTE*>(GetHeader()));
    m_pieces[0].len = QUARN_PACKET_HEADER_SIZE;
    m_pieces[1].buf = reinterpret_cast<CHAR*>(m_pBatch);
    m_pieces[1].len = 0;
    m_pieces[2].buf = reinterpret_cast<CHAR*>(m_crcOut);
    m_pieces[2].len = QUARN_PACKET_CRC_SIZE;
    SetPiece(const_cast<BYTE*>(GetHeader()), QUARN_PACKET_HEADER_SIZE);
}

CQuarnFileReadPacket::~CQuarnFileReadPacket()
{
    if (m_hFile != INVALID_HANDLE_VALUE)
        CloseHandle(m_hFile);
    delete[] m_pBatch;
}

ULONGLONG CQuarnFileReadPacket::GetTotalLength() const
{
    return PadToFour(m_size) + QUARN_PACKET_HEADER_SIZE + QUARN_PACKET_CRC_SIZE;
}

DWORD CQuarnFileReadPacket::RemainingPercent(ULONGLONG read, ULONGLONG size)
{
    ULONGLONG done = read / (size / 100 + 1);
    return done >= 99 ? 1 : static_cast<DWORD>(100 - done);
}

void CQuarnFileReadPacket::SetPiece(BYTE* at, DWORD length)
{
    m_pPosition = at;
    m_remaining = length;
}

bool CQuarnFileReadPacket::ReadBatch()
{
    ULONGLONG left = m_size - m_fileRead;
    DWORD wanted = left < BATCH_SIZE ? static_cast<DWORD>(left) : BATCH_SIZE;
    DWORD got = 0;
    BOOL read = ReadFile(m_hFile, m_pBatch, wanted, &got, nullptr);
    if (!read || got == 0) {
        DWORD error = read ? ERROR_HANDLE_EOF : GetLastError();
        SetLastError(error != 0 ? error : ERROR_HANDLE_EOF);
        m_batchFilled = m_batchNext = 0;
        return false;
    }
    // A chunk shorter than CHUNK_SIZE ends the batch: its padding goes out as zeros.
    memset(m_pBatch + got, 0, PadToFour(got) - got);
    m_fileRead += got;
    m_batchFilled = got;
    m_batchNext = 0;
    return true;
}

bool CQuarnFileReadPacket::ReadChunk()
{
    if (m_read < m_size) {
        if (m_batchNext >= m_batchFilled) {
            if (!ReadBatch()) {
                // The length field promised more: the packet cannot be finished.
                m_error = GetLastError();
                m_stage = FAILED;
                SetPiece(nullptr, 0);
                return false;
            }
        }
        DWORD left = m_batchFilled - m_batchNext;
        DWORD got = left < CHUNK_SIZE ? left : CHUNK_SIZE;
        m_read += got;
        m_stage = DATA;
        m_pieces[1].buf = reinterpret_cast<CHAR*>(m_pBatch + m_batchNext);
        m_pieces[1].len = static_cast<ULONG>(PadToFour(got));
        SetPiece(m_pBatch + m_batchNext, m_pieces[1].len);
        m_batchNext += got;
        return true;
    }
    m_stage = CRC;
    WriteBigEndian32(m_crcOut, GetCrc());
    SetPiece(m_crcOut, QUARN_PACKET_CRC_SIZE);
    return false;
}

DWORD CQuarnFileReadPacket::Advance(DWORD count)
{
    DWORD result = NOT_FINISHED;
    while (count > 0 && m_remaining > 0) {
        DWORD taken = count < m_remaining ? count : m_remaining;
        // The CRC covers header and data; its own bytes only leave.
        if (m_stage != CRC)
            RunCrc(m_pPosition, taken);
        m_pPosition += taken;
        m_remaining -= taken;
        count -= taken;
        if (m_remaining > 0)
            break;
        if (m_stage == CRC) {
            m_stage = DONE;
            SetPiece(nullptr, 0);
        } else if (ReadChunk()) {
            result = RemainingPercent(m_read, m_size);
        }
    }
    return m_stage == DONE ? 0 : result;
}

const WSABUF* CQuarnFileReadPacket::GetBufferList() const
{
    return m_pieces;
}

DWORD CQuarnFileReadPacket::GetPieceCount() const
{
    return 3;
}

DWORD CQuarnFileReadPacket::GetSendBuffers(WSABUF* buffers)
{
    if (m_remaining == 0)
        return 0;
    buffers[0].buf = reinterpret_cast<CHAR*>(m_pPosition);
    buffers[0].len = m_remaining;
    // The chunks behind the current one lie right after it in the batch, the last one's
    // padding included.
    DWORD behind = static_cast<DWORD>(PadToFour(m_batchFilled - m_batchNext));
    if (m_stage == DATA) {
        buffers[0].len += m_pPosition + m_remaining == m_pBatch + m_batchNext ? behind : 0;
        return 1;
    }
    if (m_stage != HEADER || m_size == 0)
        return 1;
    // A failed read is left to the chunk that needs it, which fails the packet.
    if (m_batchFilled == 0 && !ReadBatch())
        return 1;
    buffers[1].buf = reinterpret_cast<CHAR*>(m_pBatch);
    buffers[1].len = static_cast<ULONG>(PadToFour(m_batchFilled));
    return 2;
}

bool CQuarnFileReadPacket::GetCurrentPiece(BYTE** ppPosition, DWORD* pRemaining) const
{
    if (m_remaining == 0)
        return false;
    *ppPosition = m_pPosition;
    *pRemaining = m_remaining;
    return true;
}
