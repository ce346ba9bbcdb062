#pragma once
// Stands in for the file packets of the file transfer behind a stream's file-packet factory:
// takes the data part of a header with bit 15 in chunks, keeping its first bytes in memory
// and never the whole (lengths up to 4 GiB are announced), and runs the CRC like any packet.
#include "CQuarnPacket.h"

#include <vector>

class FilePacketDouble : public CQuarnPacket {
public:
    // The bytes of the data part kept for checking; the rest is only counted.
    static constexpr size_t KEPT = 64 * 1024;
    // The name handed to a receiver as the packet's data.
    static const wchar_t* const NAME;

    explicit FilePacketDouble(const BYTE* header);

    ULONGLONG GetTotalLength() const override;
    DWORD Advance(DWORD count) override;
    bool GetCurrentPiece(BYTE** ppPosition, DWORD* pRemaining) const override;
    const BYTE* GetData() const override;
    DWORD GetDataLength() const override;

    // The first KEPT bytes of the data part, padding included.
    const std::vector<BYTE>& kept() const { return kept_; }

private:
    // Data and padding still to come, then the CRC.
    unsigned long long dataLeft_;
    DWORD crcLeft_;
    BYTE chunk_[4096];
    std::vector<BYTE> kept_;
};
