#pragma once
// The receiving side's file packet: takes the data part of an incoming packet whose type has
// bit 15 set and writes it to a new temporary file of the server's own ("QUARN*.TMP" in its
// temporary folder). The contents arrive in chunks of at most 4096 bytes that lie one behind the
// other in a batch buffer of the packet's own, so that a socket can receive many in one call;
// what arrived goes to the file in one write per Advance (and when the batch is full). A write
// error is kept as the
// packet's status and nothing more is written, while the rest of the packet is still taken so
// that the stream stays in step. A packet deleted before it was complete deletes its file; a
// complete one leaves it to the receiver, which is handed its name as the packet's data.
#include "CQuarnPacket.h"

#include <string>

class CQuarnFileWritePacket : public CQuarnPacket {
public:
    static constexpr DWORD CHUNK_SIZE = 4096;
    // Chunks in the batch buffer: the most one receive and one write take.
    static constexpr DWORD BATCH_CHUNKS = 64;
    static constexpr DWORD BATCH_SIZE = BATCH_CHUNKS * CHUNK_SIZE;

    // The packet for the 8 header bytes that arrived, its CRC already run over them, with its
    // temporary file made and open for writing. Null with the file system's error.
    static CQuarnFileWritePacket* Make(const BYTE* header);
    // Deletes the file unless the packet was complete.
    ~CQuarnFileWritePacket() override;

    // pad4(length) + 12, in 64 bits.
    ULONGLONG GetTotalLength() const override;
    // Its own status (the first write error, or ERROR_CRC for contents that did not check)
    // folded to 16 bits when set, else the header's.
    WORD GetHeaderStatus() const override;
    // Accounts for count received bytes; the answer is the remaining percentage (at least 1
    // while bytes remain), 0 once the packet is complete.
    DWORD Advance(DWORD count) override;
    const WSABUF* GetBufferList() const override;
    DWORD GetPieceCount() const override;
    bool GetCurrentPiece(BYTE** ppPosition, DWORD* pRemaining) const override;
    // Where the next received bytes go and how many can go there in one receive: the rest of
    // the current piece and the chunks behind it in the batch buffer, within the data part (the
    // crc piece on its own). False when the packet is complete. Advance then accounts for what
    // arrived, across pieces.
    bool GetReceiveSpan(BYTE** ppPosition, DWORD* pSize) const;
    // The temporary file's name (UTF-16, with its zero) and its length in characters.
    const BYTE* GetData() const override;
    DWORD GetDataLength() const override;
    // Complete packets are handed on whatever their CRC: a bad one carries ERROR_CRC.
    bool Deliverable() const override;

    // The remaining percentage of a packet of this total size with expected data bytes still
    // to come: expected / (total / 100 + 1).
    static DWORD RemainingPercent(ULONGLONG expected, ULONGLONG total);

    const std::wstring& GetFileName() const { return m_file; }
    DWORD GetOwnStatus() const { return m_status; }
    bool IsComplete() const { return m_complete; }
    ULONGLONG GetBytesExpected() const { return m_expected; }

protected:
    explicit CQuarnFileWritePacket(const BYTE* header);
    // Makes the batch buffer and the temporary file and opens it for writing.
    bool OpenFile();
    // A packet just made (null when it could not be: ERROR_NOT_ENOUGH_MEMORY) with its file
    // open; deleted, with the file system's error, when the file cannot be made.
    template <typename T> static T* WithFile(T* packet)
    {
        if (packet == nullptr) {
            SetLastError(ERROR_NOT_ENOUGH_MEMORY);
            return nullptr;
        }
        if (!packet->OpenFile()) {
            DWORD error = GetLastError();
            delete packet;
            SetLastError(error);
            return nullptr;
        }
        return packet;
    }
    // Writes received contents to the file; false with the error.
    virtual bool WriteContents(const BYTE* bytes, DWORD count);

private:
    // The next data piece (at most a chunk of what is still expected, padding included), or
    // the crc piece.
    void NextPiece();
    // Writes the contents that arrived and were not written yet (none after a write error).
    void Flush();

    HANDLE m_hFile;
    std::wstring m_file;
    // Data bytes of the file still to come (padding not counted) and padding bytes after them.
    ULONGLONG m_expected;
    ULONGLONG m_padding;
    DWORD m_status;
    bool m_complete;
    bool m_inCrc;
    DWORD m_pieceLength;
    BYTE* m_pPosition;
    DWORD m_remaining;
    BYTE m_crcIn[4];
    WSABUF m_pieces[2];
    // BATCH_SIZE bytes: the current piece starts at m_batchPiece, the next one at m_batchNext;
    // [m_batchUnwritten, m_batchArrived) arrived and waits for the file.
    BYTE* m_pBatch;
    DWORD m_batchPiece;
    DWORD m_batchNext;
    DWORD m_batchUnwritten;
    DWORD m_batchArrived;
};
