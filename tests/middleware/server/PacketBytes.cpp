#include "PacketBytes.h"

#include "CQuarnPacket.h"
#include "QuarnWire.h"

#include <algorithm>

std::vector<BYTE> packetBytes(WORD type, WORD foldedStatus, const std::vector<BYTE>& data)
{
    std::vector<BYTE> packet(8);
    WriteBigEndian16(&packet[0], type);
    WriteBigEndian16(&packet[2], foldedStatus);
    WriteBigEndian32(&packet[4], static_cast<DWORD>(data.size()));
    packet.insert(packet.end(), data.begin(), data.end());
    packet.resize(8 + static_cast<size_t>(PadToFour(data.size())) + 4, 0);
    recomputeCrc(packet);
    return packet;
}

void recomputeCrc(std::vector<BYTE>& packet)
{
    size_t covered = packet.size() - 4;
    WriteBigEndian32(&packet[covered], Crc32Update(packet.data(), static_cast<DWORD>(covered), QUARN_CRC_START));
}

std::vector<BYTE> drain(CQuarnPacket& packet, DWORD step)
{
    std::vector<BYTE> bytes;
    BYTE* position;
    DWORD remaining;
    while (packet.GetCurrentPiece(&position, &remaining)) {
        DWORD taken = std::min(step, remaining);
        bytes.insert(bytes.end(), position, position + taken);
        packet.Advance(taken);
    }
    return bytes;
}
