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
      m_pBatch(nullptr), m_batchPiece(0), m_batchNext(0), m_batchUnwritten(0), m_batchArrived(0)
{
    m_padding = PadToFour(m_expected) - m_expected;
    SetHeader(header);
    RunCrc(header, QUARN_PACKET_HEADER_SIZE);
    m_pieces[1].buf = reinterpret_cast<CHAR*>(m_crcIn);
    m_pieces[1].len = QUARN_PACKET_CRC_SIZE;
}

CQuarnFileWritePacket::~CQuarnFileWritePacket()
{
    if (m_hFile != INVALID_HANDLE_VALUE)
        CloseHandle(m_hFile);
    if (!m_complete && !m_file.empty())
        DeleteFileW(m_file.c_str());
    delete[] m_pBatch;
}

bool CQuarnFileWritePacket::OpenFile()
{
    // Every byte of the batch is received before it is read or written: no zero fill.
    m_pBatch = new (std::nothrow) BYTE[BATCH_SIZE];
    if (m_pBatch == nullptr) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return false;
    }
    NextPiece();
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
        if (m_batchNext + m_pieceLength > BATCH_SIZE) {
            Flush();
            m_batchNext = m_batchUnwritten = m_batchArrived = 0;
        }
        m_batchPiece = m_batchNext;
        m_batchNext += m_pieceLength;
        m_pieces[0].buf = reinterpret_cast<CHAR*>(m_pBatch + m_batchPiece);
        m_pieces[0].len = m_pieceLength;
        m_pPosition = m_pBatch + m_batchPiece;
        m_remaining = m_pieceLength;
    } else {
        m_inCrc = true;
        m_pieces[0].len = 0;
        m_pPosition = m_crcIn;
        m_remaining = QUARN_PACKET_CRC_SIZE;
    }
}

void CQuarnFileWritePacket::Flush()
{
    DWORD count = m_batchArrived - m_batchUnwritten;
    if (count == 0)
        return;
    if (m_status == 0 && !WriteContents(m_pBatch + m_batchUnwritten, count)) {
        DWORD error = GetLastError();
        m_status = error != 0 ? error : ERROR_WRITE_FAULT;
    }
    m_batchUnwritten = m_batchArrived;
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
            Flush();
            if (m_hFile != INVALID_HANDLE_VALUE) {
                CloseHandle(m_hFile);
                m_hFile = INVALID_HANDLE_VALUE;
            }
            if (m_status == 0 && !CheckCrc())
                m_status = ERROR_CRC;
            break;
        }
        // The piece is full: its real bytes are for the file, never the padding.
        DWORD real = m_expected < m_pieceLength ? static_cast<DWORD>(m_expected) : m_pieceLength;
        m_batchArrived = m_batchPiece + real;
        m_expected -= real;
        m_padding -= m_pieceLength - real;
        NextPiece();
    }
    // What arrived in this call goes to the file in one write.
    Flush();
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

bool CQuarnFileWritePacket::GetReceiveSpan(BYTE** ppPosition, DWORD* pSize) const
{
    if (m_complete)
        return false;
    *ppPosition = m_pPosition;
    *pSize = m_remaining;
    if (!m_inCrc) {
        // Data and padding behind the current piece, as far as the batch reaches.
        ULONGLONG behind = m_expected + m_padding - m_pieceLength;
        DWORD room = BATCH_SIZE - m_batchNext;
        *pSize += behind < room ? static_cast<DWORD>(behind) : room;
    }
    return true;
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
