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
        packet = new (std::nothrow) CQuarnFileReadPacket(handle, static_cast<ULONGLONG>(size.QuadPart), type, status);
        if (packet == nullptr)
            error = ERROR_NOT_ENOUGH_MEMORY;
    }
    if (packet == nullptr) {
        CloseHandle(handle);
        SetLastError(error);
    }
    return packet;
}

CQuarnFileReadPacket::CQuarnFileReadPacket(HANDLE file, ULONGLONG size, WORD type, DWORD status)
    : m_hFile(file), m_size(size), m_read(0), m_error(0), m_stage(HEADER), m_pPosition(nullptr), m_remaining(0),
      m_crcOut(), m_pieces(), m_chunk()
{
    BYTE header[QUARN_PACKET_HEADER_SIZE];
    WriteBigEndian16(header, type);
    WriteBigEndian16(header + 2, FoldStatus(status));
    WriteBigEndian32(header + 4, static_cast<DWORD>(size));
    SetHeader(header);
    m_pieces[0].buf = reinterpret_cast<CHAR*>(const_cast<BYTE*>(GetHeader()));
    m_pieces[0].len = QUARN_PACKET_HEADER_SIZE;
    m_pieces[1].buf = reinterpret_cast<CHAR*>(m_chunk);
    m_pieces[1].len = 0;
    m_pieces[2].buf = reinterpret_cast<CHAR*>(m_crcOut);
    m_pieces[2].len = QUARN_PACKET_CRC_SIZE;
    SetPiece(const_cast<BYTE*>(GetHeader()), QUARN_PACKET_HEADER_SIZE);
}

CQuarnFileReadPacket::~CQuarnFileReadPacket()
{
    if (m_hFile != INVALID_HANDLE_VALUE)
        CloseHandle(m_hFile);
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

bool CQuarnFileReadPacket::ReadChunk()
{
    if (m_read < m_size) {
        ULONGLONG left = m_size - m_read;
        DWORD wanted = left < CHUNK_SIZE ? static_cast<DWORD>(left) : CHUNK_SIZE;
        memset(m_chunk, 0, sizeof(m_chunk));
        DWORD got = 0;
        if (!ReadFile(m_hFile, m_chunk, wanted, &got, nullptr) || got == 0) {
            // The length field promised more: the packet cannot be finished.
            DWORD error = GetLastError();
            m_error = got == 0 && error == 0 ? ERROR_HANDLE_EOF : (error != 0 ? error : ERROR_HANDLE_EOF);
            m_stage = FAILED;
            SetPiece(nullptr, 0);
            return false;
        }
        m_read += got;
        m_stage = DATA;
        m_pieces[1].len = static_cast<ULONG>(PadToFour(got));
        SetPiece(m_chunk, m_pieces[1].len);
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

bool CQuarnFileReadPacket::GetCurrentPiece(BYTE** ppPosition, DWORD* pRemaining) const
{
    if (m_remaining == 0)
        return false;
    *ppPosition = m_pPosition;
    *pRemaining = m_remaining;
    return true;
}
