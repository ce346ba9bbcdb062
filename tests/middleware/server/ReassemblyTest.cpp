// Cutting a TCP byte stream into packets, fed from memory: any split of the bytes, corrupted
// packets dropped without losing the stream, lengths that cannot be right ending it at once.
#include "AllocationWatch.h"
#include "CQuarnPacketReassembler.h"
#include "CQuarnSocket.h"
#include "FilePacketDouble.h"
#include "PacketBytes.h"
#include "QuarnWire.h"
#include "StreamFeed.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>

namespace {

std::vector<BYTE> text(const char* bytes)
{
    return std::vector<BYTE>(bytes, bytes + strlen(bytes));
}

// The packets of the table: each alone, and all in a row.
std::vector<std::vector<BYTE>> packetTable()
{
    std::vector<BYTE> request;
    CQuarnSocket::AppendLong(request, 7);
    CQuarnSocket::AppendPath(request, L"\\Computer Information");
    return {
        bytesOf("00 FF 00 00 00 00 00 00 F3 AD 93 B6"),
        bytesOf("00 11 00 00 00 00 00 05 61 62 63 64 65 00 00 00 A7 37 57 93"),
        bytesOf("00 01 00 00 00 00 00 14 00 11 22 33 44 55 66 77 88 99 AA BB CC DD EE FF 00 00 00 05 6E 76 8C 7C"),
        packetBytes(17, 0, request),
        packetBytes(17, 0x8002, bytesOf("00 00 00 07")),
        packetBytes(99, 0x8001, {}),
        packetBytes(33, 0, text("abcdefghijklmnop")),
    };
}

std::vector<BYTE> joined(const std::vector<std::vector<BYTE>>& packets)
{
    std::vector<BYTE> all;
    for (const auto& packet : packets)
        all.insert(all.end(), packet.begin(), packet.end());
    return all;
}

TEST(QuarnReassembly, AnySplitOfTheStreamGivesThePacketsInOrder)
{
    std::vector<std::vector<BYTE>> packets = packetTable();
    std::vector<BYTE> stream = joined(packets);
    std::vector<Delivered> expected;
    for (const auto& packet : packets)
        expected.push_back(deliveredOf(packet));
    for (size_t chunk : {size_t(0), size_t(1), size_t(2), size_t(3), size_t(5), size_t(7), size_t(13), stream.size()}) {
        CQuarnPacketReassembler reassembler(nullptr);
        FeedResult result;
        feed(reassembler, stream.data(), stream.size(), chunk, result);
        EXPECT_FALSE(result.broken) << chunk;
        EXPECT_EQ(0, result.dropped) << chunk;
        EXPECT_TRUE(result.delivered == expected) << "receives of at most " << chunk << " bytes";
        EXPECT_EQ(nullptr, reassembler.GetPacketUnderWay());
    }
}

// Every value of every byte of every packet of the table, followed by a good packet: the
// altered packet never comes out. When the alteration keeps the packet's frame (its size and
// whether it is a file packet) the stream goes on and the good packet arrives; an altered
// length cannot be told from a true one, so the stream then loses its framing, as any stream
// that frames by length would, or ends when the length is beyond the cap.
TEST(QuarnReassembly, AnAlteredByteIsDroppedAndTheNextGoodPacketArrives)
{
    std::vector<std::vector<BYTE>> packets = packetTable();
    std::vector<BYTE> good = packetBytes(18, 0, bytesOf("00 00 00 09 00 00 00 01"));
    Delivered goodDelivered = deliveredOf(good);
    int resynchronised = 0;
    for (const auto& packet : packets) {
        Delivered original = deliveredOf(packet);
        for (size_t at = 0; at < packet.size(); ++at) {
            for (int value = 0; value < 256; ++value) {
                if (value == packet[at])
                    continue;
                std::vector<BYTE> stream = packet;
                stream[at] = static_cast<BYTE>(value);
                bool sameFrame = QuarnPacketSize(ReadBigEndian32(&stream[4])) == packet.size()
                                 && ((stream[0] ^ packet[0]) & 0x80) == 0;
                stream.insert(stream.end(), good.begin(), good.end());
                CQuarnPacketReassembler reassembler(doubleFactory());
                FeedResult result;
                feed(reassembler, stream.data(), stream.size(), 0, result);
                for (const Delivered& delivered : result.delivered)
                    ASSERT_FALSE(delivered == original) << "byte " << at << " set to " << value << " of " << hexBytes(packet);
                if (sameFrame) {
                    ASSERT_EQ(1, result.dropped) << "byte " << at << " set to " << value << " of " << hexBytes(packet);
                    ASSERT_EQ(1u, result.delivered.size()) << "byte " << at << " set to " << value;
                    ASSERT_TRUE(result.delivered[0] == goodDelivered) << "byte " << at << " set to " << value;
                    ++resynchronised;
                }
            }
        }
    }
    EXPECT_GT(resynchronised, 30000);
}

TEST(QuarnReassembly, ALengthAboveTheCapEndsTheStreamBeforeAnyAllocation)
{
    for (DWORD length : {QUARN_PACKET_DATA_LIMIT + 1, DWORD(0x7FFFFFFF), DWORD(0xFFFFFFF0), DWORD(0xFFFFFFFC), DWORD(0xFFFFFFFF)}) {
        std::vector<BYTE> header = bytesOf("00 11 00 00 00 00 00 00");
        WriteBigEndian32(&header[4], length);
        AllocationWatch watch;
        CQuarnPacketReassembler reassembler(doubleFactory());
        FeedResult result;
        feed(reassembler, header.data(), header.size(), 0, result);
        EXPECT_TRUE(result.broken) << std::hex << length;
        EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_DATA), result.brokenError);
        EXPECT_LT(watch.largest(), 4096u) << std::hex << length;
        BYTE* buffer;
        DWORD room;
        EXPECT_FALSE(reassembler.GetReceiveBuffer(&buffer, &room));
    }
}

TEST(QuarnReassembly, ALengthAtTheCapIsTaken)
{
    std::vector<BYTE> data(QUARN_PACKET_DATA_LIMIT, 0x5A);
    std::vector<BYTE> packet = packetBytes(17, 0, data);
    CQuarnPacketReassembler reassembler(nullptr);
    FeedResult result;
    feed(reassembler, packet.data(), packet.size(), 0, result);
    ASSERT_EQ(1u, result.delivered.size());
    EXPECT_EQ(QUARN_PACKET_DATA_LIMIT, result.delivered[0].length);
}

TEST(QuarnReassembly, AFileHeaderGoesToTheFactoryWhichTakesTheRest)
{
    std::vector<BYTE> contents(10000);
    for (size_t i = 0; i < contents.size(); ++i)
        contents[i] = static_cast<BYTE>(i * 7);
    std::vector<BYTE> file = packetBytes(0x8022, 0, contents);
    std::vector<BYTE> after = packetTable()[1];
    std::vector<BYTE> stream = file;
    stream.insert(stream.end(), after.begin(), after.end());
    std::vector<std::string> headers;
    CQuarnPacketReassembler reassembler([&headers](const BYTE* header) -> CQuarnPacket* {
        headers.push_back(hexBytes(header, 8));
        return new FilePacketDouble(header);
    });
    FeedResult result;
    feed(reassembler, stream.data(), stream.size(), 1000, result);
    ASSERT_EQ(2u, result.delivered.size());
    EXPECT_EQ(std::vector<std::string>{"80 22 00 00 00 00 27 10"}, headers);
    EXPECT_EQ(0x8022, result.delivered[0].type);
    EXPECT_TRUE(result.delivered[0].data == contents);
    EXPECT_TRUE(result.delivered[1] == deliveredOf(after));

    // The empty file packet: the header and its CRC only.
    std::vector<BYTE> empty = bytesOf("80 22 00 00 00 00 00 00 D0 75 88 C1");
    CQuarnPacketReassembler second(doubleFactory());
    FeedResult emptyResult;
    feed(second, empty.data(), empty.size(), 1, emptyResult);
    ASSERT_EQ(1u, emptyResult.delivered.size());
    EXPECT_EQ(0u, emptyResult.delivered[0].length);
}

TEST(QuarnReassembly, AFileHeaderWithoutAFactoryEndsTheStream)
{
    std::vector<BYTE> empty = bytesOf("80 22 00 00 00 00 00 00 D0 75 88 C1");
    CQuarnPacketReassembler none(nullptr);
    FeedResult result;
    feed(none, empty.data(), empty.size(), 0, result);
    EXPECT_TRUE(result.broken);
    EXPECT_EQ(static_cast<DWORD>(ERROR_NOT_SUPPORTED), result.brokenError);

    CQuarnPacketReassembler refusing([](const BYTE*) -> CQuarnPacket* {
        SetLastError(ERROR_DISK_FULL);
        return nullptr;
    });
    FeedResult refused;
    feed(refusing, empty.data(), empty.size(), 0, refused);
    EXPECT_TRUE(refused.broken);
    EXPECT_EQ(static_cast<DWORD>(ERROR_DISK_FULL), refused.brokenError);
}

// A file of 4 GiB - 12 bytes or more has a frame beyond 32 bits (pad4 of 0xFFFFFFFF is 2^32);
// the file packet counts in 64 bits, so such a header goes to it like any other.
TEST(QuarnReassembly, AFileLengthWhoseFrameExceeds32BitsGoesToTheFilePacket)
{
    for (const char* text : {"80 22 00 00 FF FF FF F5", "80 22 00 00 FF FF FF FF"}) {
        std::vector<BYTE> header = bytesOf(text);
        int made = 0;
        CQuarnPacketReassembler reassembler([&made](const BYTE* header) -> CQuarnPacket* {
            ++made;
            return new FilePacketDouble(header);
        });
        FeedResult result;
        feed(reassembler, header.data(), header.size(), 0, result);
        EXPECT_FALSE(result.broken) << text;
        EXPECT_EQ(1, made) << text;
        ASSERT_NE(nullptr, reassembler.GetPacketUnderWay());
        EXPECT_EQ(QuarnPacketSize(ReadBigEndian32(header.data() + 4)), reassembler.GetPacketUnderWay()->GetTotalLength());
        EXPECT_GT(reassembler.GetPacketUnderWay()->GetTotalLength(), 0xFFFFFFFFull);
    }
    // Any other type with that length still ends the stream.
    std::vector<BYTE> plain = bytesOf("00 22 00 00 FF FF FF FF");
    CQuarnPacketReassembler reassembler(doubleFactory());
    FeedResult result;
    feed(reassembler, plain.data(), plain.size(), 0, result);
    EXPECT_TRUE(result.broken);
}

} // namespace

namespace {

// A header that announces a large packet reserves one step; the buffer then grows with what
// arrives, never far ahead of it, and the whole packet comes out intact.
TEST(QuarnReassemblyBudget, TheBufferGrowsWithTheBytesThatArrive)
{
    const DWORD step = CQuarnPacketReassembler::RECEIVE_STEP;
    std::vector<BYTE> data(3 * 1024 * 1024 + 5);
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<BYTE>(i * 7 + i / 251);
    std::vector<BYTE> packet = packetBytes(17, 0, data);
    CQuarnPacketReassembler reassembler(nullptr);
    FeedResult result;
    feed(reassembler, packet.data(), QUARN_PACKET_HEADER_SIZE, 0, result);
    EXPECT_LE(reassembler.GetReservedBytes(), step + QUARN_PACKET_HEADER_SIZE);
    size_t given = QUARN_PACKET_HEADER_SIZE;
    DWORD largest = 0;
    while (given < packet.size() && result.delivered.empty()) {
        BYTE* buffer;
        DWORD size;
        ASSERT_TRUE(reassembler.GetReceiveBuffer(&buffer, &size));
        DWORD count = static_cast<DWORD>(std::min<size_t>({size, 4096, packet.size() - given}));
        memcpy(buffer, packet.data() + given, count);
        given += count;
        // Never more than half again of what arrived, plus one step.
        EXPECT_LE(reassembler.GetReservedBytes(), given + given / 2 + step) << given;
        largest = std::max(largest, reassembler.GetReservedBytes());
        CQuarnPacket* out = nullptr;
        CQuarnPacketReassembler::Result r = reassembler.Received(count, &out);
        ASSERT_NE(CQuarnPacketReassembler::BROKEN, r);
        if (r == CQuarnPacketReassembler::COMPLETE) {
            EXPECT_EQ(data.size(), out->GetDataLength());
            EXPECT_EQ(0, memcmp(data.data(), out->GetData(), data.size()));
            result.delivered.push_back(Delivered{out->GetType(), out->GetStatus(), out->GetDataLength(), {}});
            delete out;
        }
    }
    ASSERT_EQ(1u, result.delivered.size());
    EXPECT_EQ(given, packet.size());
    EXPECT_EQ(packet.size(), largest);
    EXPECT_EQ(0u, reassembler.GetReservedBytes());
}

// 16 MiB announced by each of many streams that then stop: each holds one step.
TEST(QuarnReassemblyBudget, ManyAnnouncedMaximaHoldOneStepEach)
{
    std::vector<BYTE> header = bytesOf("00 11 00 00 01 00 00 00");
    std::vector<std::unique_ptr<CQuarnPacketReassembler>> streams;
    size_t reserved = 0;
    for (int i = 0; i < 64; ++i) {
        streams.emplace_back(new CQuarnPacketReassembler(nullptr));
        FeedResult result;
        feed(*streams.back(), header.data(), header.size(), 0, result);
        EXPECT_FALSE(result.broken);
        BYTE* buffer;
        DWORD size;
        ASSERT_TRUE(streams.back()->GetReceiveBuffer(&buffer, &size));
        reserved += streams.back()->GetReservedBytes();
    }
    EXPECT_LE(reserved, 64u * (CQuarnPacketReassembler::RECEIVE_STEP + 8));
}

} // namespace
