#pragma once
// Feeds bytes from memory to a stream's packet reassembly, as the read step would from the
// network, and collects what came out.
#include "CQuarnPacketReassembler.h"

#include <vector>

// A packet as the reassembly delivered it.
struct Delivered {
    WORD type;
    WORD status;
    DWORD length;
    // The data part; for a file packet (bit 15) the bytes its double kept.
    std::vector<BYTE> data;

    bool operator==(const Delivered& other) const
    {
        return type == other.type && status == other.status && length == other.length && data == other.data;
    }
};

struct FeedResult {
    std::vector<Delivered> delivered;
    int dropped = 0;
    bool broken = false;
    // The thread's last error when the stream broke.
    DWORD brokenError = 0;
};

// Hands the bytes over in receives of at most chunk bytes (0: as many as the packet under way
// takes), collecting into result; stops at a break.
void feed(CQuarnPacketReassembler& reassembler, const BYTE* bytes, size_t size, size_t chunk, FeedResult& result);
// A reassembly whose file-packet factory makes FilePacketDouble.
CQuarnPacketReassembler::FilePacketFactory doubleFactory();
// What a good packet with these bytes delivers.
Delivered deliveredOf(const std::vector<BYTE>& packet);
