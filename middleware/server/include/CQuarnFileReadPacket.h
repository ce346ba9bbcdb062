#pragma once
// The sending side's file packet: streams a file's contents as the data part of one packet in
// chunks of 4096 bytes. The chunks are read from the file a batch at a time into one buffer of
// the packet's own, when the previous batch has gone out, so that a socket can send many
// chunks in one call. The header's length is the file's size; a chunk shorter than 4096 bytes
// (the last) goes out padded with zeros to a multiple of 4; the CRC runs over header and
// padded contents as they leave.
#include "CQuarnPacket.h"

class CQuarnFileReadPacket : public CQuarnPacket {
public:
    static constexpr DWORD CHUNK_SIZE = 4096;
    // Chunks read from the file in one call: a few hundred KiB in memory per transfer, and one
    // read for as much as a socket takes in one send.
    static constexpr DWORD BATCH_CHUNKS = 64;
    static constexpr DWORD BATCH_SIZE = BATCH_CHUNKS * CHUNK_SIZE;
    // What Advance answers while the packet is not finished and no chunk was read by this call:
    // no progress to tell. After a chunk was read it answers the remaining percentage (1 to
    // 100), and 0 once the CRC has gone.
    static constexpr DWORD NOT_FINISHED = 0xFFFFFFFF;

    // Opens the file (its read-only attribute cleared; read access, others may read and delete
    // it, deleted when the last handle with this flag closes) and makes the packet of the type
    // that streams it. A file of 4 GiB or more fails with ERROR_DISK_FULL (its size cannot
    // stand in the length field); otherwise failures are the file system's.
    static CQuarnFileReadPacket* Open(WORD type, DWORD status, const WCHAR* file);
    // Closes the file.
    ~CQuarnFileReadPacket() override;

    ULONGLONG GetTotalLength() const override;
    // Accounts for count bytes sent from the current piece: the CRC runs over header and data,
    // the next chunk is read when the header or a chunk has gone.
    DWORD Advance(DWORD count) override;
    const WSABUF* GetBufferList() const override;
    DWORD GetPieceCount() const override;
    bool GetCurrentPiece(BYTE** ppPosition, DWORD* pRemaining) const override;
    // What can leave in one send from where the packet stands (at most 2 buffers, their count
    // answered; 0 when nothing is left): the rest of the current piece and the chunks already
    // read behind it. Before the first chunk the first batch is read, so that it goes out with
    // the header. Advance then accounts for what was sent, across pieces.
    DWORD GetSendBuffers(WSABUF* buffers);

    // The remaining percentage after read of size bytes: 100 - read / (size / 100 + 1), at
    // least 1.
    static DWORD RemainingPercent(ULONGLONG read, ULONGLONG size);

    ULONGLONG GetSize() const { return m_size; }
    ULONGLONG GetBytesRead() const { return m_read; }
    // Why the contents stopped before the size was sent (a read error, or ERROR_HANDLE_EOF for
    // a file that shrank): the packet is then stuck, and its connection has to end. 0 while
    // all is well.
    DWORD GetError() const { return m_error; }

private:
    enum Stage { HEADER, DATA, CRC, DONE, FAILED };

    CQuarnFileReadPacket(HANDLE file, ULONGLONG size, WORD type, DWORD status, BYTE* buffer);
    // Makes the next chunk the data piece (from the batch read, reading the next batch when it
    // is used up), or moves on to the crc piece at the end of the file. True when a chunk was
    // taken.
    bool ReadChunk();
    // Reads the next batch into the buffer, zero padding behind a short one; false when the
    // read failed or gave nothing (the error then stands as the last error).
    bool ReadBatch();
    void SetPiece(BYTE* at, DWORD length);

    HANDLE m_hFile;
    ULONGLONG m_size;
    // Bytes taken into chunks so far (the progress), and read from the file.
    ULONGLONG m_read;
    ULONGLONG m_fileRead;
    DWORD m_error;
    Stage m_stage;
    BYTE* m_pPosition;
    DWORD m_remaining;
    BYTE m_crcOut[4];
    // Header, the chunk as it goes out, crc.
    WSABUF m_pieces[3];
    // The batch: BATCH_SIZE bytes and room for the padding; m_batchFilled bytes read, the
    // next chunk starts at m_batchNext.
    BYTE* m_pBatch;
    DWORD m_batchFilled;
    DWORD m_batchNext;
};
