#include "StreamFeed.h"

#include "FilePacketDouble.h"
#include "QuarnWire.h"

#include <algorithm>
#include <cstring>

namespace {

Delivered describe(const CQuarnPacket& packet)
{
    Delivered delivered;
    delivered.type = packet.GetType();
    delivered.status = packet.GetStatus();
    delivered.length = packet.GetLength();
    if (delivered.type & QUARN_COMM_TYPE_FILE_FLAG) {
        delivered.data = static_cast<const FilePacketDouble&>(packet).kept();
        delivered.data.resize(std::min<size_t>(delivered.data.size(), delivered.length));
    } else if (packet.GetDataLength() != 0) {
        delivered.data.assign(packet.GetData(), packet.GetData() + packet.GetDataLength());
    }
    return delivered;
}

} // namespace

void feed(CQuarnPacketReassembler& reassembler, const BYTE* bytes, size_t size, size_t chunk, FeedResult& result)
{
    size_t at = 0;
    while (at < size && !result.broken) {
        BYTE* buffer;
        DWORD room;
        if (!reassembler.GetReceiveBuffer(&buffer, &room)) {
            result.broken = true;
            result.brokenError = GetLastError();
            return;
        }
        size_t count = std::min<size_t>(room, size - at);
        if (chunk != 0)
            count = std::min(count, chunk);
        memcpy(buffer, bytes + at, count);
        at += count;
        CQuarnPacket* packet;
        switch (reassembler.Received(static_cast<DWORD>(count), &packet)) {
        case CQuarnPacketReassembler::COMPLETE:
            result.delivered.push_back(describe(*packet));
            delete packet;
            break;
        case CQuarnPacketReassembler::DROPPED:
            ++result.dropped;
            break;
        case CQuarnPacketReassembler::BROKEN:
            result.broken = true;
            result.brokenError = GetLastError();
            break;
        case CQuarnPacketReassembler::INCOMPLETE:
            break;
        }
    }
}

CQuarnPacketReassembler::FilePacketFactory doubleFactory()
{
    return [](const BYTE* header) -> CQuarnPacket* { return new FilePacketDouble(header); };
}

Delivered deliveredOf(const std::vector<BYTE>& packet)
{
    Delivered delivered;
    delivered.type = ReadBigEndian16(packet.data());
    delivered.status = ReadBigEndian16(packet.data() + 2);
    delivered.length = ReadBigEndian32(packet.data() + 4);
    delivered.data.assign(packet.begin() + 8, packet.begin() + 8 + delivered.length);
    return delivered;
}
