#include "CQuarnFileWritePacket.h"

#include "QuarnTempFile.h"
#include "QuarnWire.h"

#include <new>

CQuarnFileWritePacket* CQuarnFileWritePacket::Make(const BYTE* header)
{
    if (header == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    return WithFile(new (std::nothrow) CQuarnFileWritePacket(header));
}

CQuarnFileWritePacket::CQuarnFileWritePacket(const BYTE* header)
    : m_hFile(INVALID_HANDLE_VALUE), m_expected(ReadBigEndian32(header + 4)), m_padding(0), m_status(0),
      m_complete(false), m_inCrc(false), m_pieceLength(0), m_pPosition(nullptr), m_remaining(0), m_crcIn(), m_pieces(),
      m_chunk()
{
    m_padding = PadToFour(m_expected) - m_expected;
    SetHeader(header);
    RunCrc(header, QUARN_PACKET_HEADER_SIZE);
    m_pieces[0].buf = reinterpret_cast<CHAR*>(m_chunk);
    m_pieces[1].buf = reinterpret_cast<CHAR*>(m_crcIn);
    m_pieces[1].len = QUARN_PACKET_CRC_SIZE;
    NextPiece();
}

CQuarnFileWritePacket::~CQuarnFileWritePacket()
{
    if (m_hFile != INVALID_HANDLE_VALUE)
        CloseHandle(m_hFile);
    if (!m_complete && !m_file.empty())
        DeleteFileW(m_file.c_str());
}

bool CQuarnFileWritePacket::OpenFile()
{
    if (!MakeQuarnTempFile(m_file)) {
        m_file.clear();
        return false;
    }
    m_hFile = CreateFileW(m_file.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    return m_hFile != INVALID_HANDLE_VALUE;
}

bool CQuarnFileWritePacket::WriteContents(const BYTE* bytes, DWORD count)
{
    DWORD written = 0;
    if (!WriteFile(m_hFile, bytes, count, &written, nullptr))
        return false;
    if (written != count) {
        SetLastError(ERROR_DISK_FULL);
        return false;
    }
    return true;
}

ULONGLONG CQuarnFileWritePacket::GetTotalLength() const
{
    return QuarnPacketSize(GetLength());
}

WORD CQuarnFileWritePacket::GetHeaderStatus() const
{
    return m_status != 0 ? FoldStatus(m_status) : GetStatus();
}

DWORD CQuarnFileWritePacket::RemainingPercent(ULONGLONG expected, ULONGLONG total)
{
    return static_cast<DWORD>(expected / (total / 100 + 1));
}

void CQuarnFileWritePacket::NextPiece()
{
    ULONGLONG data = m_expected + m_padding;
    if (data > 0) {
        m_pieceLength = data < CHUNK_SIZE ? static_cast<DWORD>(data) : CHUNK_SIZE;
        m_pieces[0].len = m_pieceLength;
        m_pPosition = m_chunk;
        m_remaining = m_pieceLength;
    } else {
        m_inCrc = true;
        m_pieces[0].len = 0;
        m_pPosition = m_crcIn;
        m_remaining = QUARN_PACKET_CRC_SIZE;
    }
}

DWORD CQuarnFileWritePacket::Advance(DWORD count)
{
    while (count > 0 && !m_complete) {
        DWORD taken = count < m_remaining ? count : m_remaining;
        RunCrc(m_pPosition, taken);
        m_pPosition += taken;
        m_remaining -= taken;
        count -= taken;
        if (m_remaining > 0)
            break;
        if (m_inCrc) {
            m_complete = true;
            m_pPosition = nullptr;
            if (m_hFile != INVALID_HANDLE_VALUE) {
                CloseHandle(m_hFile);
                m_hFile = INVALID_HANDLE_VALUE;
            }
            if (m_status == 0 && !CheckCrc())
                m_status = ERROR_CRC;
            break;
        }
        // The piece is full: its real bytes go to the file, never the padding.
        DWORD real = m_expected < m_pieceLength ? static_cast<DWORD>(m_expected) : m_pieceLength;
        if (m_status == 0 && real > 0 && !WriteContents(m_chunk, real)) {
            DWORD error = GetLastError();
            m_status = error != 0 ? error : ERROR_WRITE_FAULT;
        }
        m_expected -= real;
        m_padding -= m_pieceLength - real;
        NextPiece();
    }
    if (m_complete)
        return 0;
    DWORD remaining = RemainingPercent(m_expected, GetTotalLength());
    return remaining == 0 ? 1 : remaining;
}

const WSABUF* CQuarnFileWritePacket::GetBufferList() const
{
    return m_pieces;
}

DWORD CQuarnFileWritePacket::GetPieceCount() const
{
    return 2;
}

bool CQuarnFileWritePacket::GetCurrentPiece(BYTE** ppPosition, DWORD* pRemaining) const
{
    if (m_complete)
        return false;
    *ppPosition = m_pPosition;
    *pRemaining = m_remaining;
    return true;
}

const BYTE* CQuarnFileWritePacket::GetData() const
{
    return reinterpret_cast<const BYTE*>(m_file.c_str());
}

DWORD CQuarnFileWritePacket::GetDataLength() const
{
    return static_cast<DWORD>(m_file.size());
}

bool CQuarnFileWritePacket::Deliverable() const
{
    return m_complete;
}
