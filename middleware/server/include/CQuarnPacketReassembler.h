#pragma once
// Cuts the byte stream of one TCP connection into packets, apart from the call that receives
// the bytes: the caller receives into GetReceiveBuffer and reports the count to Received. A
// packet starts as its 8-byte header; a header with bit 15 in its type is handed to the
// file-packet factory, which makes a packet that takes the rest; any other header announcing
// more than QUARN_PACKET_DATA_LIMIT stops the stream before anything is allocated, since a
// stream with a bad length cannot be resynchronised. Below the limit, the buffer of a packet
// grows with the bytes that arrive: a header alone that announces 16 MiB reserves one step.
#include "CQuarnPacket.h"

#include <functional>

class CQuarnPacketReassembler {
public:
    // Makes the packet for a header whose type has bit 15 set; it continues after the 8 header
    // bytes, its running CRC already over them. Null (with the thread's last error) stops the
    // stream.
    using FilePacketFactory = std::function<CQuarnPacket*(const BYTE* header)>;

    enum Result {
        // More bytes are needed.
        INCOMPLETE,
        // A packet with a good CRC is complete: the caller owns it.
        COMPLETE,
        // A packet was complete but its CRC did not check: it is gone, the stream goes on.
        DROPPED,
        // The stream cannot go on (bad length, no file packet, no memory): close the
        // connection. The reason is in the thread's last error.
        BROKEN,
    };

    // A packet's buffer starts at its size or at this many bytes, whichever is less, and grows
    // by half of what has arrived (at least this many bytes again) when full: a peer that
    // announces a packet and stops holds at most this step, and a packet of n bytes is
    // copied O(log n) times.
    static constexpr DWORD RECEIVE_STEP = 64 * 1024;

    explicit CQuarnPacketReassembler(FilePacketFactory factory);
    ~CQuarnPacketReassembler();
    CQuarnPacketReassembler(const CQuarnPacketReassembler&) = delete;
    CQuarnPacketReassembler& operator=(const CQuarnPacketReassembler&) = delete;

    // Where the next received bytes go, and how many the packet under way can take; starts a
    // packet when none is under way. False once broken, or when the header buffer cannot be
    // allocated (which breaks the stream).
    bool GetReceiveBuffer(BYTE** ppBuffer, DWORD* pSize);
    // count bytes arrived in the buffer last given (at most its size). On COMPLETE, *ppPacket is
    // the packet; no packet is under way afterwards.
    Result Received(DWORD count, CQuarnPacket** ppPacket);

    // The file packet or the header under way; null while a plain packet's buffer fills.
    CQuarnPacket* GetPacketUnderWay() const { return m_pPacket; }
    // Bytes held for the plain packet under way (its buffer so far).
    DWORD GetReservedBytes() const { return m_capacity; }
    bool IsBroken() const { return m_broken; }

private:
    // Ends the stream with error as the thread's last error.
    void Break(DWORD error);
    // The header is in: the packet under way becomes the whole packet (or the file packet).
    // False when the stream is broken.
    bool Grow();

    // Makes room for more bytes of the plain packet under way; false when it cannot.
    // header: the first reservation, which starts with these 8 bytes.
    bool Reserve(const BYTE* header = nullptr);

    FilePacketFactory m_factory;
    CQuarnPacket* m_pPacket;
    // A plain packet under way: its buffer of m_capacity bytes, m_filled of m_size received.
    BYTE* m_pBuffer;
    DWORD m_capacity;
    DWORD m_filled;
    DWORD m_size;
    bool m_headerOnly;
    bool m_broken;
};
