// The bytes on the wire: CRC, the packet frame, status folding, data-part items and the
// datagram check, against bytes written out by hand.
#include "CQuarnPacket.h"
#include "CQuarnSocket.h"
#include "GuardedBlock.h"
#include "PacketBytes.h"
#include "QuarnCodes.h"
#include "QuarnWire.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>

namespace {

const GUID NODE = {0x00112233, 0x4455, 0x6677, {0x88, 0x99, 0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0xFF}};

std::vector<BYTE> bytesFrom(const char* text)
{
    return std::vector<BYTE>(text, text + strlen(text));
}

std::vector<BYTE> aliveRecord(const GUID& node, DWORD counter)
{
    std::vector<BYTE> data;
    EXPECT_TRUE(CQuarnSocket::AppendGuid(data, node));
    EXPECT_TRUE(CQuarnSocket::AppendLong(data, counter));
    return data;
}

struct Golden {
    const char* name;
    WORD type;
    DWORD status;
    std::vector<BYTE> data;
    const char* wire;
};

std::vector<Golden> goldenPackets()
{
    return {
        {"keep-alive", QUARN_COMM_TYPE_KEEP_ALIVE, 0, {}, "00 FF 00 00 00 00 00 00 F3 AD 93 B6"},
        {"empty file packet", 0x8022, 0, {}, "80 22 00 00 00 00 00 00 D0 75 88 C1"},
        {"type 17 with five bytes", 17, 0, bytesFrom("abcde"),
         "00 11 00 00 00 00 00 05 61 62 63 64 65 00 00 00 A7 37 57 93"},
        {"alive with counter 5", QUARN_COMM_TYPE_ALIVE, 0, aliveRecord(NODE, 5),
         "00 01 00 00 00 00 00 14 00 11 22 33 44 55 66 77 88 99 AA BB CC DD EE FF 00 00 00 05 6E 76 8C 7C"},
    };
}

std::unique_ptr<CQuarnPacket> sendPacketOf(const Golden& golden, DWORD peer = 0)
{
    return std::unique_ptr<CQuarnPacket>(
        CQuarnPacket::MakeSendPacket(golden.type, golden.status, golden.data.empty() ? nullptr : golden.data.data(),
                                     static_cast<DWORD>(golden.data.size()), peer));
}

TEST(QuarnCrc, CheckValueOfTheNineDigits)
{
    const char* digits = "123456789";
    EXPECT_EQ(0x765E7680u, Crc32Update(reinterpret_cast<const BYTE*>(digits), 9, QUARN_CRC_START));
}

TEST(QuarnCrc, ChainedStepsGiveTheCrcOfTheWhole)
{
    const BYTE* digits = reinterpret_cast<const BYTE*>("123456789");
    DWORD chained = QUARN_CRC_START;
    for (int i = 0; i < 9; ++i)
        chained = Crc32Update(digits + i, 1, chained);
    EXPECT_EQ(0x765E7680u, chained);
    EXPECT_EQ(QUARN_CRC_START, Crc32Update(digits, 0, QUARN_CRC_START));
}

TEST(QuarnPacketFormat, SendingPacketsGiveTheGoldenBytes)
{
    for (const Golden& golden : goldenPackets()) {
        SCOPED_TRACE(golden.name);
        std::unique_ptr<CQuarnPacket> packet = sendPacketOf(golden);
        ASSERT_NE(nullptr, packet);
        EXPECT_EQ(bytesOf(golden.wire).size(), packet->GetTotalLength());
        EXPECT_EQ(golden.wire, hexBytes(drain(*packet)));
    }
}

TEST(QuarnPacketFormat, SentOneByteAtATimeTheCrcStillComesOutWhole)
{
    for (const Golden& golden : goldenPackets()) {
        SCOPED_TRACE(golden.name);
        std::unique_ptr<CQuarnPacket> packet = sendPacketOf(golden);
        ASSERT_NE(nullptr, packet);
        EXPECT_EQ(golden.wire, hexBytes(drain(*packet, 1)));
        EXPECT_EQ(0u, packet->Advance(1));
    }
}

TEST(QuarnPacketFormat, APacketFollowedByItsCrcGivesTheResidue)
{
    for (const Golden& golden : goldenPackets()) {
        std::vector<BYTE> wire = bytesOf(golden.wire);
        EXPECT_EQ(0x38FB2284u, Crc32Update(wire.data(), static_cast<DWORD>(wire.size()), QUARN_CRC_START))
            << golden.name;
    }
}

TEST(QuarnPacketFormat, ComputedCrcOfADatagramMatchesTheAccumulatedOne)
{
    for (const Golden& golden : goldenPackets()) {
        SCOPED_TRACE(golden.name);
        std::unique_ptr<CQuarnPacket> packet = sendPacketOf(golden, 0x0100007F);
        ASSERT_NE(nullptr, packet);
        packet->ComputeCrc();
        std::vector<BYTE> joined;
        for (DWORD i = 0; i < packet->GetPieceCount(); ++i) {
            const WSABUF& piece = packet->GetBufferList()[i];
            joined.insert(joined.end(), piece.buf, piece.buf + piece.len);
        }
        EXPECT_EQ(golden.wire, hexBytes(joined));
        EXPECT_EQ(0x0100007Fu, packet->GetPeerAddress());
    }
}

TEST(QuarnPacketFormat, PiecesAreHeaderPaddedDataAndCrc)
{
    std::vector<BYTE> five = bytesFrom("abcde");
    std::unique_ptr<CQuarnPacket> packet(CQuarnPacket::MakeSendPacket(17, 0, five.data(), 5, 0));
    ASSERT_NE(nullptr, packet);
    ASSERT_EQ(3u, packet->GetPieceCount());
    EXPECT_EQ(8u, packet->GetBufferList()[0].len);
    EXPECT_EQ(8u, packet->GetBufferList()[1].len);
    EXPECT_EQ(4u, packet->GetBufferList()[2].len);
    EXPECT_EQ(5u, packet->GetLength());

    std::unique_ptr<CQuarnPacket> empty(CQuarnPacket::MakeSendPacket(255, 0, nullptr, 0, 0));
    ASSERT_NE(nullptr, empty);
    EXPECT_EQ(2u, empty->GetPieceCount());
    EXPECT_EQ(12u, empty->GetTotalLength());
}

TEST(QuarnPacketFormat, NoPacketAboveTheCapIsMade)
{
    BYTE byte = 0;
    SetLastError(0);
    EXPECT_EQ(nullptr, CQuarnPacket::MakeSendPacket(17, 0, &byte, QUARN_PACKET_DATA_LIMIT + 1, 0));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), GetLastError());
    EXPECT_EQ(nullptr, CQuarnPacket::MakeSendPacket(17, 0, nullptr, 4, 0));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), GetLastError());
}

TEST(QuarnStatusFolding, FoldsAndUnfoldsByTheTable)
{
    struct Case {
        DWORD code;
        WORD folded;
        DWORD unfolded;
    } cases[] = {
        {ERROR_QUARN_COMM_CONNECTION_REFUSED, 0x8203, ERROR_QUARN_COMM_CONNECTION_REFUSED},
        {ERROR_QUARN_COMM_CONNECTION_CLOSED, 0x8202, ERROR_QUARN_COMM_CONNECTION_CLOSED},
        {ERROR_INVALID_PARAMETER, 0x0057, ERROR_INVALID_PARAMETER},
        {ERROR_QUARN_COMMON_INVALID_TYPE, 0x8001, ERROR_QUARN_COMMON_INVALID_TYPE},
        {0, 0x0000, 0},
        // A success code of the middleware would come back as its failure twin; none is sent.
        {QUARN_STATUS_SEND_PROGRESS + 0x64, 0x8064, 0xE0040064},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.folded, FoldStatus(c.code)) << std::hex << c.code;
        EXPECT_EQ(c.unfolded, UnfoldStatus(c.folded)) << std::hex << c.code;
    }
}

TEST(QuarnDataItems, StringsAndNumbersAreWrittenBigEndianAndPadded)
{
    std::vector<BYTE> data;
    ASSERT_TRUE(CQuarnSocket::AppendString(data, L"ab"));
    EXPECT_EQ("00 00 00 06 00 61 00 62 00 00 00 00", hexBytes(data));

    data.clear();
    ASSERT_TRUE(CQuarnSocket::AppendString(data, nullptr));
    EXPECT_EQ("00 00 00 00", hexBytes(data));

    data.clear();
    ASSERT_TRUE(CQuarnSocket::AppendString(data, L""));
    ASSERT_TRUE(CQuarnSocket::AppendLong(data, 0x01020304));
    ASSERT_TRUE(CQuarnSocket::AppendPath(data, L"\\A"));
    EXPECT_EQ("00 00 00 02 00 00 00 00 01 02 03 04 00 5C 00 41 00 00", hexBytes(data));

    data.clear();
    const BYTE three[] = {1, 2, 3};
    ASSERT_TRUE(CQuarnSocket::AppendBinary(data, three, 3));
    ASSERT_TRUE(CQuarnSocket::AppendBinary(data, nullptr, 0));
    EXPECT_EQ("00 00 00 03 01 02 03 00 00 00 00 00", hexBytes(data));
}

TEST(QuarnDataItems, WhatIsWrittenParsesBack)
{
    std::vector<BYTE> data;
    const BYTE three[] = {7, 8, 9};
    ASSERT_TRUE(CQuarnSocket::AppendString(data, L"dest\\x"));
    ASSERT_TRUE(CQuarnSocket::AppendString(data, nullptr));
    ASSERT_TRUE(CQuarnSocket::AppendString(data, L""));
    ASSERT_TRUE(CQuarnSocket::AppendBinary(data, three, 3));
    ASSERT_TRUE(CQuarnSocket::AppendGuid(data, NODE));
    ASSERT_TRUE(CQuarnSocket::AppendLong(data, 42));
    ASSERT_TRUE(CQuarnSocket::AppendPath(data, L"\\Computer Information"));
    GuardedBlock block(data);
    DWORD length = static_cast<DWORD>(block.size());
    DWORD offset = 0;
    std::optional<std::wstring> text;
    ASSERT_TRUE(CQuarnSocket::ParseString(block.data(), length, offset, text));
    EXPECT_EQ(L"dest\\x", text.value());
    ASSERT_TRUE(CQuarnSocket::ParseString(block.data(), length, offset, text));
    EXPECT_FALSE(text.has_value());
    ASSERT_TRUE(CQuarnSocket::ParseString(block.data(), length, offset, text));
    EXPECT_EQ(L"", text.value());
    std::vector<BYTE> bytes;
    ASSERT_TRUE(CQuarnSocket::ParseBinary(block.data(), length, offset, bytes));
    EXPECT_EQ(std::vector<BYTE>(three, three + 3), bytes);
    GUID node;
    ASSERT_TRUE(CQuarnSocket::ParseGuid(block.data(), length, offset, node));
    EXPECT_TRUE(IsEqualGUID(NODE, node));
    DWORD number;
    ASSERT_TRUE(CQuarnSocket::ParseLong(block.data(), length, offset, number));
    EXPECT_EQ(42u, number);
    std::wstring path;
    ASSERT_TRUE(CQuarnSocket::ParsePath(block.data(), length, offset, path));
    EXPECT_EQ(L"\\Computer Information", path);
    EXPECT_EQ(length, offset);
}

// Each item parser with its result thrown away.
typedef bool (*ItemParser)(const BYTE* data, DWORD length, DWORD& offset);

bool parseString(const BYTE* data, DWORD length, DWORD& offset)
{
    std::optional<std::wstring> text;
    return CQuarnSocket::ParseString(data, length, offset, text);
}

bool parsePath(const BYTE* data, DWORD length, DWORD& offset)
{
    std::wstring path;
    return CQuarnSocket::ParsePath(data, length, offset, path);
}

bool parseLong(const BYTE* data, DWORD length, DWORD& offset)
{
    DWORD value;
    return CQuarnSocket::ParseLong(data, length, offset, value);
}

bool parseBinary(const BYTE* data, DWORD length, DWORD& offset)
{
    std::vector<BYTE> bytes;
    return CQuarnSocket::ParseBinary(data, length, offset, bytes);
}

bool parseGuid(const BYTE* data, DWORD length, DWORD& offset)
{
    GUID node;
    return CQuarnSocket::ParseGuid(data, length, offset, node);
}

// Items that do not lie whole inside the data: each fails with 87 and leaves the offset, and
// the data ends at a guard page, so a read beyond it would crash.
TEST(QuarnDataItems, ItemsNotInsideTheDataFail)
{
    struct Case {
        const char* name;
        const char* data;
        ItemParser parse;
    } cases[] = {
        {"odd string length", "00 00 00 05 00 61 00 00 00 00 00 00", parseString},
        {"string past the data", "00 00 00 08 00 61 00 00", parseString},
        {"string padding past the data", "00 00 00 06 00 61 00 62 00 00", parseString},
        {"string without a zero unit", "00 00 00 04 00 61 00 62", parseString},
        {"string length 0xFFFFFFFE", "FF FF FF FE 00 00 00 00", parseString},
        {"string length 0xFFFFFFFF", "FF FF FF FF 00 00 00 00", parseString},
        {"string length cut", "00 00 00", parseString},
        {"empty string data", "", parseString},
        {"path with an odd byte count", "00 61 00 00 00", parsePath},
        {"path without a zero unit", "00 5C 00 41", parsePath},
        {"no path at all", "", parsePath},
        {"long cut short", "00 00 00", parseLong},
        {"binary past the data", "00 00 00 05 01 02 03 04", parseBinary},
        {"binary size 0xFFFFFFFD", "FF FF FF FD 01 02 03 04", parseBinary},
        {"guid cut short", "00 11 22 33 44 55 66 77 88 99 AA BB CC DD EE", parseGuid},
    };
    for (const Case& c : cases) {
        GuardedBlock block(bytesOf(c.data));
        DWORD offset = 0;
        SetLastError(0);
        EXPECT_FALSE(c.parse(block.data(), static_cast<DWORD>(block.size()), offset)) << c.name;
        EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), GetLastError()) << c.name;
        EXPECT_EQ(0u, offset) << c.name;
    }
}

TEST(QuarnDataItems, AStringEndsAtItsFirstZeroUnit)
{
    GuardedBlock block(bytesOf("00 00 00 08 00 61 00 00 00 62 00 00"));
    DWORD offset = 0;
    std::optional<std::wstring> text;
    ASSERT_TRUE(CQuarnSocket::ParseString(block.data(), static_cast<DWORD>(block.size()), offset, text));
    EXPECT_EQ(L"a", text.value());
    EXPECT_EQ(12u, offset);
}

TEST(QuarnDatagram, OnlyAnExactIntactPacketIsAccepted)
{
    std::vector<BYTE> good = bytesOf(goldenPackets()[3].wire);
    std::vector<BYTE> longer = good;
    longer.push_back(0);
    std::vector<BYTE> shorter(good.begin(), good.end() - 1);
    std::vector<BYTE> badCrc = good;
    badCrc.back() ^= 1;
    struct Case {
        const char* name;
        std::vector<BYTE> bytes;
        bool accepted;
    } cases[] = {
        {"intact", good, true},
        {"keep-alive", bytesOf(goldenPackets()[0].wire), true},
        {"one byte more", longer, false},
        {"one byte less", shorter, false},
        {"crc altered", badCrc, false},
        {"nothing", {}, false},
        {"a header alone", std::vector<BYTE>(good.begin(), good.begin() + 8), false},
        {"eleven bytes", std::vector<BYTE>(good.begin(), good.begin() + 11), false},
    };
    // Lengths whose pad4(length) + 12 wraps to 12 in 32 bits, with a CRC that checks.
    for (DWORD length : {0xFFFFFFF4u, 0xFFFFFFFCu, 0xFFFFFFFDu, 0xFFFFFFFFu}) {
        std::vector<BYTE> wrapped = bytesOf("00 01 00 00 00 00 00 00 00 00 00 00");
        WriteBigEndian32(&wrapped[4], length);
        recomputeCrc(wrapped);
        EXPECT_FALSE(CQuarnPacket::CheckDatagram(GuardedBlock(wrapped).data(), 12)) << std::hex << length;
    }
    for (const Case& c : cases) {
        GuardedBlock block(c.bytes);
        EXPECT_EQ(c.accepted, CQuarnPacket::CheckDatagram(block.data(), static_cast<DWORD>(block.size()))) << c.name;
        std::unique_ptr<CQuarnPacket> packet(
            CQuarnPacket::MakeDatagramPacket(block.data(), static_cast<DWORD>(block.size()), 0x0100007F));
        EXPECT_EQ(c.accepted, packet != nullptr) << c.name;
        if (packet) {
            EXPECT_TRUE(packet->CheckCrc());
            EXPECT_EQ(0x0100007Fu, packet->GetPeerAddress());
        }
    }
}

TEST(QuarnDatagram, AnAcceptedAliveYieldsItsRecord)
{
    std::vector<BYTE> wire = bytesOf(goldenPackets()[3].wire);
    GuardedBlock block(wire);
    std::unique_ptr<CQuarnPacket> packet(CQuarnPacket::MakeDatagramPacket(block.data(), 32, 0));
    ASSERT_NE(nullptr, packet);
    EXPECT_EQ(QUARN_COMM_TYPE_ALIVE, packet->GetType());
    ASSERT_EQ(QUARN_ALIVE_RECORD_SIZE, packet->GetDataLength());
    DWORD offset = 0;
    GUID node;
    DWORD counter;
    ASSERT_TRUE(CQuarnSocket::ParseGuid(packet->GetData(), packet->GetDataLength(), offset, node));
    ASSERT_TRUE(CQuarnSocket::ParseLong(packet->GetData(), packet->GetDataLength(), offset, counter));
    EXPECT_TRUE(IsEqualGUID(NODE, node));
    EXPECT_EQ(5u, counter);
}

} // namespace
