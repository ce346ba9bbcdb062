#pragma once
// One middleware packet on its way out or in. A sending packet lists its pieces (header, data,
// crc) and is sent from them in place, its CRC accumulated as header and data leave; a
// receiving packet is one piece that receives the whole packet, its CRC run over every byte
// that arrives, the CRC bytes included. As a list record it stands in a socket's queues.
#include "CQuarnListItem.h"

#include <winsock2.h>

class CQuarnPacket : public CQuarnListItem {
public:
    // A head of a packet queue, or the start of a file packet (which sets its own pieces).
    CQuarnPacket();
    ~CQuarnPacket() override;

    // A packet to send: folds the status, writes the header, copies the data into a
    // zero-padded buffer of pad4(length) bytes. Fails with ERROR_INVALID_PARAMETER when data is
    // missing for a length or the length is above QUARN_PACKET_DATA_LIMIT, with
    // ERROR_NOT_ENOUGH_MEMORY when the copy cannot be made.
    static CQuarnPacket* MakeSendPacket(WORD type, DWORD status, const BYTE* data, DWORD length, DWORD peer);
    // A packet that receives size bytes into buffer (allocated with new[], owned from now on,
    // also when the call fails). Fails with ERROR_INVALID_PARAMETER for no buffer or size 0.
    static CQuarnPacket* MakeReceivePacket(BYTE* buffer, DWORD size, DWORD peer);
    // True when a whole datagram is exactly one intact packet: at least a header, exactly
    // pad4(length) + 12 bytes, and its CRC checks. Reads nothing beyond size.
    static bool CheckDatagram(const BYTE* data, DWORD size);
    // A received packet holding a copy of a datagram that passes CheckDatagram; otherwise null
    // with ERROR_INVALID_DATA (or ERROR_NOT_ENOUGH_MEMORY).
    static CQuarnPacket* MakeDatagramPacket(const BYTE* data, DWORD size, DWORD peer);

    // Sum of the piece lengths; a file packet's whole frame, which passes 4 GiB for a file of
    // 4 GiB - 1 bytes (pad4 of 0xFFFFFFFF is 2^32).
    virtual ULONGLONG GetTotalLength() const;
    // The u16 status field in host order (still folded).
    virtual WORD GetHeaderStatus() const;
    // Accounts for count bytes transferred from or into the current pieces, running the CRC over
    // them; nonzero while bytes remain.
    virtual DWORD Advance(DWORD count);
    virtual const WSABUF* GetBufferList() const;
    virtual DWORD GetPieceCount() const;
    // Where the next byte goes or comes from, and how many bytes the current piece has left.
    // False when the packet is complete.
    virtual bool GetCurrentPiece(BYTE** ppPosition, DWORD* pRemaining) const;
    // What a receiver is handed: the data part, GetDataLength bytes (the header's length, 0
    // until the whole packet is there). A file packet hands the name of the file it wrote
    // instead: UTF-16 with its terminating zero, GetDataLength characters before it.
    virtual const BYTE* GetData() const;
    virtual DWORD GetDataLength() const;

    WORD GetType() const;
    WORD GetStatus() const;
    DWORD GetLength() const;
    const BYTE* GetHeader() const { return m_pHeader; }
    DWORD GetPeerAddress() const { return m_peer; }
    DWORD GetCrc() const { return m_crc; }

    // Computes the CRC of header and padded data into the crc piece, for a datagram that goes
    // out in one call.
    void ComputeCrc();
    // True when the running CRC of a fully received packet is the residue of an intact packet.
    bool CheckCrc() const;
    // Whether a complete received packet is handed on: an intact one. A file packet that the
    // receiver stored is handed on whatever its CRC, with the failure as its status, so that
    // the transfer ends with an answer instead of leaving the sender waiting.
    virtual bool Deliverable() const;

protected:
    // Keeps a copy of the 8 header bytes; the header readers read it from now on.
    void SetHeader(const BYTE* header);
    // Sets the pieces (at most 3); the first that is not empty becomes current. The running
    // CRC goes on from where it stands.
    void SetPieces(const WSABUF* pieces, DWORD count);
    // Runs the CRC over bytes as they pass.
    void RunCrc(const BYTE* bytes, DWORD count);

    DWORD m_peer;

private:
    // Makes the next piece that is not empty current.
    void SkipFinishedPieces();

    BYTE m_header[8];
    // The header of this packet: m_header, or the start of a receiving buffer.
    const BYTE* m_pHeader;
    DWORD m_crc;
    BYTE m_crcBytes[4];
    WSABUF m_pieces[3];
    DWORD m_pieceCount;
    DWORD m_current;
    BYTE* m_pPosition;
    DWORD m_remaining;
    BYTE* m_pBuffer;
    // A sending packet: the crc piece is not run through the CRC as it leaves.
    bool m_sending;
};
