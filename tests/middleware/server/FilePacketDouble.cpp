#include "FilePacketDouble.h"

#include "QuarnWire.h"

#include <algorithm>

const wchar_t* const FilePacketDouble::NAME = L"double.tmp";

FilePacketDouble::FilePacketDouble(const BYTE* header)
    : dataLeft_(PadToFour(ReadBigEndian32(header + 4))), crcLeft_(QUARN_PACKET_CRC_SIZE), chunk_()
{
    SetHeader(header);
    RunCrc(header, QUARN_PACKET_HEADER_SIZE);
}

ULONGLONG FilePacketDouble::GetTotalLength() const
{
    return QuarnPacketSize(GetLength());
}

DWORD FilePacketDouble::Advance(DWORD count)
{
    BYTE* position;
    DWORD remaining;
    while (count > 0 && GetCurrentPiece(&position, &remaining)) {
        DWORD taken = std::min(count, remaining);
        RunCrc(chunk_, taken);
        if (dataLeft_ > 0) {
            size_t keep = std::min<size_t>(taken, KEPT - std::min(KEPT, kept_.size()));
            kept_.insert(kept_.end(), chunk_, chunk_ + keep);
            dataLeft_ -= taken;
        } else {
            crcLeft_ -= taken;
        }
        count -= taken;
    }
    return (dataLeft_ > 0 || crcLeft_ > 0) ? 1 : 0;
}

bool FilePacketDouble::GetCurrentPiece(BYTE** ppPosition, DWORD* pRemaining) const
{
    BYTE* chunk = const_cast<BYTE*>(chunk_);
    if (dataLeft_ > 0) {
        *ppPosition = chunk;
        *pRemaining = static_cast<DWORD>(std::min<unsigned long long>(dataLeft_, sizeof(chunk_)));
        return true;
    }
    if (crcLeft_ > 0) {
        *ppPosition = chunk;
        *pRemaining = crcLeft_;
        return true;
    }
    return false;
}

const BYTE* FilePacketDouble::GetData() const
{
    return reinterpret_cast<const BYTE*>(NAME);
}

DWORD FilePacketDouble::GetDataLength() const
{
    return static_cast<DWORD>(wcslen(NAME));
}
