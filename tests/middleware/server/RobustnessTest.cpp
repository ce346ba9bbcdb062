// Corrupts valid packets in many deterministic ways and runs each through the datagram check,
// the stream reassembly and every data-part parser. Each input ends where an inaccessible page
// begins (GuardedBlock), so a read past it crashes the test. Most inputs get their CRC
// recomputed so that they pass the CRC gate and reach the parsers. Nothing may crash, read past
// the input or allocate more than a packet at the cap.
#include "AllocationWatch.h"
#include "CQuarnPacket.h"
#include "CQuarnPacketReassembler.h"
#include "CQuarnSocket.h"
#include "DataPartParsers.h"
#include "GuardedBlock.h"
#include "PacketBytes.h"
#include "QuarnCodes.h"
#include "QuarnWire.h"
#include "StreamFeed.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <random>

namespace {

const size_t LEAST_CASES = 100000;
const int RANDOM_CASES_PER_PACKET = 12000;

typedef std::vector<BYTE> Bytes;

// A generator the standard fixes, so that every run tries the same cases.
class Random {
public:
    explicit Random(uint32_t seed) : engine_(seed) {}
    uint32_t next() { return static_cast<uint32_t>(engine_()); }
    uint32_t below(uint32_t limit) { return next() % limit; }

private:
    std::minstd_rand engine_;
};

Bytes validPacket(WORD type, WORD status, const Bytes& data)
{
    return packetBytes(type, status, data);
}

std::vector<Bytes> validPackets()
{
    const GUID node = {0x00112233, 0x4455, 0x6677, {0x88, 0x99, 0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0xFF}};
    Bytes alive;
    CQuarnSocket::AppendGuid(alive, node);
    CQuarnSocket::AppendLong(alive, 5);
    Bytes request;
    CQuarnSocket::AppendLong(request, 0x1234);
    CQuarnSocket::AppendPath(request, L"\\Computer Information");
    Bytes rootRequest;
    CQuarnSocket::AppendLong(rootRequest, 1);
    CQuarnSocket::AppendPath(rootRequest, L"");
    Bytes open;
    CQuarnSocket::AppendString(open, L"\\12");
    CQuarnSocket::AppendString(open, L"\\{00112233-4455-6677-8899-AABBCCDDEEFF}\\Copy");
    CQuarnSocket::AppendString(open, L"picture.png");
    // An open for application 2 behind a watched directory, with a long name.
    Bytes openApp;
    CQuarnSocket::AppendString(openApp, L"\\1\\2");
    CQuarnSocket::AppendString(openApp, L"s");
    CQuarnSocket::AppendString(openApp, std::wstring(40, L'n').c_str());
    Bytes items;
    const BYTE value[] = {1, 2, 3, 4, 5, 6, 7};
    CQuarnSocket::AppendLong(items, 3);
    CQuarnSocket::AppendString(items, L"Bin");
    CQuarnSocket::AppendBinary(items, value, sizeof(value));
    CQuarnSocket::AppendLong(items, 2);
    CQuarnSocket::AppendString(items, nullptr);
    CQuarnSocket::AppendBinary(items, nullptr, 0);
    // A directory reply with a record of every entry type.
    Bytes reply;
    CQuarnSocket::AppendLong(reply, 0x1234);
    CQuarnSocket::AppendLong(reply, 9);
    CQuarnSocket::AppendLong(reply, 4);
    for (DWORD type : {QUARNTYPE_INT, QUARNTYPE_STRING, QUARNTYPE_BINARY, QUARNTYPE_DIR}) {
        size_t start = reply.size();
        CQuarnSocket::AppendLong(reply, 0);
        CQuarnSocket::AppendLong(reply, type);
        CQuarnSocket::AppendString(reply, L"Entry");
        if (type == QUARNTYPE_INT)
            CQuarnSocket::AppendLong(reply, 5);
        else if (type == QUARNTYPE_STRING)
            CQuarnSocket::AppendString(reply, L"PC2");
        else if (type == QUARNTYPE_BINARY)
            CQuarnSocket::AppendBinary(reply, value, 5);
        WriteBigEndian32(&reply[start], static_cast<DWORD>(reply.size() - start));
    }
    return {
        validPacket(QUARN_COMM_TYPE_KEEP_ALIVE, 0, {}),
        validPacket(QUARN_COMM_TYPE_ALIVE, 0, alive),
        validPacket(QUARN_COMM_TYPE_GET_LOOKUP_DIRECTORY, 0, request),
        validPacket(QUARN_COMM_TYPE_QUERY_UPDATE_COUNTER, 0, rootRequest),
        validPacket(QUARN_COMM_TYPE_GET_LOOKUP_DIRECTORY, 0x8002, Bytes{0, 0, 0x12, 0x34}),
        validPacket(QUARN_COMM_TYPE_FILE_TRANSFER_OPEN, 0, open),
        validPacket(QUARN_COMM_TYPE_FILE_TRANSFER_OPEN, 0, openApp),
        validPacket(QUARN_COMM_TYPE_GET_LOOKUP_DIRECTORY, 0, items),
        validPacket(0x8022, 0, Bytes{'f', 'i', 'l', 'e', ' ', 'b', 'y', 't', 'e', 's'}),
        validPacket(QUARN_COMM_TYPE_GET_LOOKUP_DIRECTORY, 0, reply),
    };
}

struct Case {
    Bytes bytes;
    bool crcRecomputed;
};

void putLong(Bytes& bytes, size_t at, DWORD value)
{
    for (size_t i = 0; i < 4 && at + i < bytes.size(); ++i)
        bytes[at + i] = static_cast<BYTE>(value >> (24 - 8 * i));
}

void add(std::vector<Case>& cases, Bytes bytes, bool recompute)
{
    bool recomputed = recompute && bytes.size() >= 12;
    if (recomputed)
        recomputeCrc(bytes);
    cases.push_back({std::move(bytes), recomputed});
}

std::vector<Case> corruptions(const std::vector<Bytes>& valid)
{
    std::vector<Case> cases;
    cases.push_back({Bytes(), false});
    Random random(20240923);
    const DWORD specialLengths[] = {0, 1, 2, 3, 4, 0x7FFFFFFF, 0x80000000, 0xFFFFFFF0, 0xFFFFFFF4, 0xFFFFFFFC,
                                    0xFFFFFFFD, 0xFFFFFFFE, 0xFFFFFFFF, QUARN_PACKET_DATA_LIMIT,
                                    QUARN_PACKET_DATA_LIMIT + 1};
    for (const Bytes& packet : valid) {
        DWORD length = ReadBigEndian32(&packet[4]);
        for (size_t size = 0; size < packet.size(); ++size)
            add(cases, Bytes(packet.begin(), packet.begin() + size), false);
        for (size_t at = 0; at < packet.size(); ++at) {
            for (int bit = 0; bit < 8; ++bit) {
                Bytes flipped = packet;
                flipped[at] ^= static_cast<BYTE>(1 << bit);
                add(cases, flipped, bit != 7);
            }
        }
        // The length field, and every place in the data where an item's length could stand.
        for (size_t at = 4; at + 4 <= packet.size() - 4; at += 2) {
            DWORD around[] = {length - 1, length + 1, length + 4, static_cast<DWORD>(packet.size() - at),
                              static_cast<DWORD>(packet.size() - at - 3)};
            for (DWORD value : specialLengths) {
                Bytes counted = packet;
                putLong(counted, at, value);
                add(cases, counted, true);
            }
            for (DWORD value : around) {
                Bytes counted = packet;
                putLong(counted, at, value);
                add(cases, counted, true);
            }
        }
        for (WORD type : {WORD(packet[1] | 0x8000), WORD(0x8000), WORD(0xFFFF)}) {
            Bytes typed = packet;
            typed[0] = static_cast<BYTE>(type >> 8);
            typed[1] = static_cast<BYTE>(type);
            add(cases, typed, true);
        }
        for (int i = 0; i < RANDOM_CASES_PER_PACKET; ++i) {
            Bytes mangled = packet;
            int changes = 1 + random.below(4);
            for (int c = 0; c < changes; ++c)
                mangled[random.below(static_cast<uint32_t>(mangled.size()))] = static_cast<BYTE>(random.next());
            if (random.below(3) == 0)
                mangled.resize(random.below(static_cast<uint32_t>(mangled.size() + 16)), 0);
            // Often the length field tells the truth about the new size, so the frame holds.
            if (mangled.size() >= 12 && random.below(2) == 0)
                putLong(mangled, 4, static_cast<DWORD>(mangled.size() - 12 - random.below(4)));
            add(cases, mangled, random.below(5) != 0);
        }
    }
    return cases;
}

// Runs every parser over bytes that end at a guard page; those that run on the data part only
// when told it is that.
void parseAll(const BYTE* data, DWORD length, bool dataPart = false)
{
    for (const DataPartParser& parser : dataPartParsers()) {
        if (parser.everywhere || dataPart)
            parser.parse(data, length);
    }
}

void parseGuardedCopy(const Bytes& data)
{
    GuardedBlock block(data);
    parseAll(block.data(), static_cast<DWORD>(block.size()));
}

TEST(QuarnRobustness, CorruptedPacketsNeverCrashOverReadOrOverAllocate)
{
    std::vector<Bytes> valid = validPackets();
    std::vector<Case> cases = corruptions(valid);
    ASSERT_GE(cases.size(), LEAST_CASES);
    const Bytes sentinel = valid[2];
    const Delivered sentinelDelivered = deliveredOf(sentinel);

    size_t recomputed = 0;
    size_t datagrams = 0;
    size_t delivered = 0;
    size_t framesHeld = 0;
    size_t dataParts = 0;
    AllocationWatch watch;
    for (size_t index = 0; index < cases.size(); ++index) {
        const Case& c = cases[index];
        if (c.crcRecomputed)
            ++recomputed;
        GuardedBlock block(c.bytes);
        DWORD size = static_cast<DWORD>(block.size());

        // As a datagram.
        CQuarnPacket::CheckDatagram(block.data(), size);
        std::unique_ptr<CQuarnPacket> datagram(CQuarnPacket::MakeDatagramPacket(block.data(), size, 0x0100007F));
        Bytes datagramData;
        if (datagram) {
            ++datagrams;
            datagramData.assign(datagram->GetData(), datagram->GetData() + datagram->GetDataLength());
            parseGuardedCopy(datagramData);
        }

        // On a stream, in receives of varying size, followed by a good packet. What came through
        // is parsed too, each data part once (the sentinel is known to parse).
        CQuarnPacketReassembler reassembler(doubleFactory());
        FeedResult result;
        static const size_t CHUNKS[] = {0, 1, 3, 7};
        feed(reassembler, block.data(), size, CHUNKS[index % 4], result);
        feed(reassembler, sentinel.data(), sentinel.size(), 0, result);
        for (const Delivered& packet : result.delivered) {
            ++delivered;
            if (!(packet == sentinelDelivered) && !(datagram && packet.data == datagramData))
                parseGuardedCopy(packet.data);
        }
        // An input that is one whole frame by its own length leaves the stream in step.
        if (size >= 8 && QuarnPacketSize(ReadBigEndian32(block.data() + 4)) == size && !result.broken) {
            ++framesHeld;
            ASSERT_FALSE(result.delivered.empty()) << "case " << index << ": " << hexBytes(c.bytes);
            ASSERT_TRUE(result.delivered.back() == sentinelDelivered) << "case " << index << ": " << hexBytes(c.bytes);
        }

        // The data part as it stands, and the whole input, straight to the parsers.
        if (size > 8) {
            ++dataParts;
            parseAll(block.data() + 8, size - 8, true);
        }
        parseAll(block.data(), size);
    }
    EXPECT_GT(recomputed * 2, cases.size());
    EXPECT_GT(datagrams, cases.size() / 10);
    EXPECT_GT(delivered, cases.size() / 2);
    EXPECT_GT(framesHeld, cases.size() / 10);
    // Parsers that run on data parts only have had as many inputs as the others.
    EXPECT_GE(dataParts, LEAST_CASES);
    EXPECT_LE(watch.largest(), size_t(QUARN_PACKET_DATA_LIMIT) + 12);
}

} // namespace
