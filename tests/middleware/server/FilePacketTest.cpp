// The file packets apart from any socket: what the sending one puts on the wire for a file,
// what the receiving one makes of the bytes that arrive, and their sizes and percentages in
// 64 bits up to a file of 4 GiB - 1 (made sparse; nothing that large is streamed here). Also
// the temporary files they use and the throttle of their progress notices.
#include "CQuarnFileReadPacket.h"
#include "CQuarnFileReceive.h"
#include "CQuarnFileReceivePacket.h"
#include "CQuarnFileWritePacket.h"
#include "CQuarnPacketReassembler.h"
#include "CQuarnProgress.h"
#include "CQuarnSrvCore.h"
#include "CQuarnDataBase.h"
#include "CQuarnWatchWindow.h"
#include "PacketBytes.h"
#include "QuarnCodes.h"
#include "QuarnMessages.h"
#include "QuarnTempFile.h"
#include "QuarnWire.h"
#include "ServerTempFolder.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <memory>

namespace {

typedef std::vector<BYTE> Bytes;

const ULONGLONG FOUR_GIB = 0x100000000ULL;

std::wstring wide(const std::string& text)
{
    return std::wstring(text.begin(), text.end());
}

TEST(QuarnTempFile, EachIsANewEmptyQuarnFileInTheServersTemporaryFolder)
{
    ServerTempFolder folder;
    std::vector<std::wstring> names;
    for (int i = 0; i < 20; ++i) {
        std::wstring name;
        ASSERT_TRUE(MakeQuarnTempFile(name)) << GetLastError();
        names.push_back(name);
    }
    std::vector<std::string> files = folder.quarnFiles();
    ASSERT_EQ(20u, files.size());
    for (const std::string& file : files) {
        EXPECT_EQ(13u, file.size()) << file;
        EXPECT_EQ(std::string::npos, file.substr(5, 4).find_first_not_of("0123456789ABCDEF")) << file;
        EXPECT_EQ(".TMP", file.substr(9));
        EXPECT_TRUE(readFileBytes(wide(folder.path() + file)).empty());
    }
    for (const std::wstring& name : names)
        EXPECT_EQ(wide(folder.path()), name.substr(0, folder.path().size()));
}

TEST(QuarnTempFile, TakenNamesAreSkippedAndNoneIsOverwritten)
{
    ServerTempFolder folder;
    for (const char* taken : {"QUARNFFFF.TMP", "QUARN0001.TMP", "QUARN0002.TMP"})
        writeFileBytes(wide(folder.path() + taken), {'x'});
    std::wstring name;
    // From 0xFFFF the numbers go on at 1.
    ASSERT_TRUE(MakeQuarnTempFileIn(folder.path(), 0xFFFF, name)) << GetLastError();
    EXPECT_EQ(wide(folder.path()) + L"QUARN0003.TMP", name);
    EXPECT_TRUE(readFileBytes(name).empty());
    for (const char* taken : {"QUARNFFFF.TMP", "QUARN0001.TMP", "QUARN0002.TMP"})
        EXPECT_EQ(std::vector<unsigned char>{'x'}, readFileBytes(wide(folder.path() + taken)));
    ASSERT_TRUE(MakeQuarnTempFileIn(folder.path(), 0x1234, name));
    EXPECT_EQ(wide(folder.path()) + L"QUARN1234.TMP", name);
    // A folder that is not there is no name to try on.
    SetLastError(0);
    EXPECT_FALSE(MakeQuarnTempFileIn(folder.path() + "none\\", 1, name));
    EXPECT_EQ(static_cast<DWORD>(ERROR_PATH_NOT_FOUND), GetLastError());
}

TEST(QuarnProgress, ANoticeIsDueOnlyWhenThePercentageGrewAndTheIntervalPassed)
{
    struct Step {
        DWORD remaining, now;
        bool due;
    };
    const Step steps[] = {
        {99, 50, false},  // too early
        {99, 100, false}, // the interval is not more than 100 ms yet
        {99, 101, true},  {99, 300, false}, // no growth
        {100, 400, false}, {98, 201, false}, {90, 202, true}, {89, 250, false}, {1, 303, true}, {0, 1000, true},
    };
    CQuarnProgress progress;
    EXPECT_EQ(100u, progress.GetInterval());
    progress.Start(0);
    for (const Step& step : steps)
        EXPECT_EQ(step.due, progress.Due(step.remaining, step.now)) << step.remaining << " at " << step.now;
    // Tick counts that wrap.
    CQuarnProgress wrapping(100);
    wrapping.Start(0xFFFFFFF0);
    EXPECT_FALSE(wrapping.Due(50, 0x40));
    EXPECT_TRUE(wrapping.Due(50, 0x60));
    EXPECT_EQ(50u, wrapping.GetLastValue());
}

// A file in the temporary folder with these bytes, sent as a packet of type 0x8022.
std::unique_ptr<CQuarnFileReadPacket> readPacketOf(const ServerTempFolder& folder, const Bytes& contents,
                                                   std::wstring* name = nullptr)
{
    std::wstring file = wide(folder.path()) + L"source.bin";
    writeFileBytes(file, contents);
    if (name != nullptr)
        *name = file;
    return std::unique_ptr<CQuarnFileReadPacket>(CQuarnFileReadPacket::Open(0x8022, 0, file.c_str()));
}

// Sends the packet piece by piece as a write step would, noting each piece's length and every
// answer of Advance.
struct Sent {
    Bytes bytes;
    std::vector<DWORD> pieces;
    std::vector<DWORD> answers;
};

Sent sendAll(CQuarnPacket& packet)
{
    Sent sent;
    BYTE* position;
    DWORD remaining;
    while (packet.GetCurrentPiece(&position, &remaining)) {
        sent.pieces.push_back(remaining);
        sent.bytes.insert(sent.bytes.end(), position, position + remaining);
        sent.answers.push_back(packet.Advance(remaining));
    }
    return sent;
}

TEST(QuarnFileReadPacket, AnEmptyFileIsTheTwelveByteHeaderAndCrc)
{
    ServerTempFolder folder;
    std::unique_ptr<CQuarnFileReadPacket> packet = readPacketOf(folder, Bytes());
    ASSERT_TRUE(packet) << GetLastError();
    EXPECT_EQ(12u, packet->GetTotalLength());
    Sent sent = sendAll(*packet);
    EXPECT_EQ("80 22 00 00 00 00 00 00 D0 75 88 C1", hexBytes(sent.bytes));
    EXPECT_EQ(0u, sent.answers.back());
    // No chunk was read, so no percentage to tell.
    EXPECT_EQ(std::vector<DWORD>({CQuarnFileReadPacket::NOT_FINISHED, 0}), sent.answers);
}

TEST(QuarnFileReadPacket, TenThousandBytesGoOutInChunksOf4096And4096And1808)
{
    ServerTempFolder folder;
    Bytes contents = patternBytes(10000);
    std::unique_ptr<CQuarnFileReadPacket> packet = readPacketOf(folder, contents);
    ASSERT_TRUE(packet) << GetLastError();
    Sent sent = sendAll(*packet);
    EXPECT_EQ(std::vector<DWORD>({8, 4096, 4096, 1808, 4}), sent.pieces);
    EXPECT_EQ(packetBytes(0x8022, 0, contents), sent.bytes);
    EXPECT_EQ("80 22 00 00 00 00 27 10", hexBytes(sent.bytes.data(), 8));
    // After each chunk read: 100 - read / (10000 / 100 + 1).
    EXPECT_EQ(std::vector<DWORD>({60, 19, 1, CQuarnFileReadPacket::NOT_FINISHED, 0}), sent.answers);
}

TEST(QuarnFileReadPacket, AShortLastChunkIsPaddedWithZerosToFour)
{
    ServerTempFolder folder;
    Bytes contents = patternBytes(4097);
    std::unique_ptr<CQuarnFileReadPacket> packet = readPacketOf(folder, contents);
    ASSERT_TRUE(packet);
    Sent sent = sendAll(*packet);
    EXPECT_EQ(std::vector<DWORD>({8, 4096, 4, 4}), sent.pieces);
    EXPECT_EQ(packetBytes(0x8022, 0, contents), sent.bytes);
    // Sent in small steps, the bytes are the same.
    std::unique_ptr<CQuarnFileReadPacket> again = readPacketOf(folder, contents);
    EXPECT_EQ(sent.bytes, drain(*again, 3));
}

TEST(QuarnFileReadPacket, ItsHandleDeletesTheFileWhenThePacketGoes)
{
    ServerTempFolder folder;
    std::wstring name;
    std::unique_ptr<CQuarnFileReadPacket> packet = readPacketOf(folder, patternBytes(100), &name);
    ASSERT_TRUE(packet);
    ASSERT_TRUE(fileExists(name));
    // Others may read it meanwhile.
    EXPECT_EQ(patternBytes(100), readFileBytes(name));
    packet.reset();
    EXPECT_FALSE(fileExists(name));
}

TEST(QuarnFileReadPacket, AReadOnlyFileIsSentAndAMissingOneFailsWithItsError)
{
    ServerTempFolder folder;
    std::wstring file = wide(folder.path()) + L"readonly.bin";
    writeFileBytes(file, patternBytes(10));
    ASSERT_TRUE(SetFileAttributesW(file.c_str(), FILE_ATTRIBUTE_READONLY));
    std::unique_ptr<CQuarnFileReadPacket> packet(CQuarnFileReadPacket::Open(0x8022, 0, file.c_str()));
    ASSERT_TRUE(packet) << GetLastError();
    Sent sent = sendAll(*packet);
    EXPECT_EQ(patternBytes(10), Bytes(sent.bytes.begin() + 8, sent.bytes.begin() + 18));
    SetLastError(0);
    EXPECT_EQ(nullptr, CQuarnFileReadPacket::Open(0x8022, 0, (wide(folder.path()) + L"none.bin").c_str()));
    EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), GetLastError());
}

TEST(QuarnFileReadPacket, FourGibibytesAreRefusedAndOneByteLessFillsTheLengthField)
{
    ServerTempFolder folder;
    std::wstring file = wide(folder.path()) + L"sparse.bin";
    ASSERT_TRUE(makeSparseFile(file, FOUR_GIB));
    SetLastError(0);
    EXPECT_EQ(nullptr, CQuarnFileReadPacket::Open(0x8022, 0, file.c_str()));
    EXPECT_EQ(static_cast<DWORD>(ERROR_DISK_FULL), GetLastError());

    ASSERT_TRUE(makeSparseFile(file, FOUR_GIB - 1));
    std::unique_ptr<CQuarnFileReadPacket> packet(CQuarnFileReadPacket::Open(0x8022, 0, file.c_str()));
    ASSERT_TRUE(packet) << GetLastError();
    EXPECT_EQ(0xFFFFFFFFu, packet->GetLength());
    // pad4(0xFFFFFFFF) is 2^32: the frame does not fit 32 bits.
    EXPECT_EQ(FOUR_GIB + 12, packet->GetTotalLength());
    BYTE* position;
    DWORD remaining;
    ASSERT_TRUE(packet->GetCurrentPiece(&position, &remaining));
    EXPECT_EQ("80 22 00 00 FF FF FF FF", hexBytes(position, remaining));
    // The first chunk: 100 - 4096 / (42949672 + 1).
    EXPECT_EQ(100u, packet->Advance(8));
    ASSERT_TRUE(packet->GetCurrentPiece(&position, &remaining));
    EXPECT_EQ(4096u, remaining);
}

TEST(QuarnFileReadPacket, RemainingPercentagesCountIn64Bits)
{
    struct Case {
        ULONGLONG read, size;
        DWORD remaining;
    };
    const Case cases[] = {
        {0, 0, 100},           {1, 1, 99},
        {4096, 10000, 60},     {10000, 10000, 1},
        {99, 99, 1},           {100, 100, 50},
        {0xFFFFFFFF, 0xFFFFFFFF, 1},
        {0x80000000, 0xFFFFFFFF, 51},
        {4096, 0xFFFFFFFF, 100},
        {0xFFFFFFFF - 4096, 0xFFFFFFFF, 1},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.remaining, CQuarnFileReadPacket::RemainingPercent(c.read, c.size)) << c.read << " of " << c.size;
}

// The receiving packets, fed by the stream's reassembly as the read step would.
class QuarnFileWritePacketTest : public ::testing::Test {
protected:
    QuarnFileWritePacketTest()
        : reassembler_(std::make_unique<CQuarnPacketReassembler>([this](const BYTE* header) -> CQuarnPacket* {
              made_ = CQuarnFileWritePacket::Make(header);
              return made_;
          }))
    {
    }

    // Feeds the bytes in receives of at most chunk bytes to the reassembly, whose file packets
    // are write packets; the packet delivered (or none).
    std::unique_ptr<CQuarnPacket> receive(const Bytes& bytes, size_t chunk)
    {
        size_t at = 0;
        while (at < bytes.size()) {
            BYTE* buffer;
            DWORD room;
            if (!reassembler_->GetReceiveBuffer(&buffer, &room))
                return nullptr;
            size_t count = std::min<size_t>(std::min<size_t>(room, chunk), bytes.size() - at);
            memcpy(buffer, bytes.data() + at, count);
            at += count;
            CQuarnPacket* packet = nullptr;
            CQuarnPacketReassembler::Result received = reassembler_->Received(static_cast<DWORD>(count), &packet);
            if (received == CQuarnPacketReassembler::COMPLETE)
                return std::unique_ptr<CQuarnPacket>(packet);
            if (received != CQuarnPacketReassembler::INCOMPLETE)
                return nullptr;
        }
        return nullptr;
    }

    static std::wstring nameOf(const CQuarnPacket& packet)
    {
        return std::wstring(reinterpret_cast<const WCHAR*>(packet.GetData()), packet.GetDataLength());
    }

    ServerTempFolder folder_;
    CQuarnFileWritePacket* made_ = nullptr;
    std::unique_ptr<CQuarnPacketReassembler> reassembler_;
};

TEST_F(QuarnFileWritePacketTest, TheContentsLandInANewTemporaryFileOfTheServersOwn)
{
    Bytes contents = patternBytes(10000);
    for (size_t chunk : {size_t(1) << 20, size_t(4096), size_t(1000), size_t(3)}) {
        std::unique_ptr<CQuarnPacket> packet = receive(packetBytes(0x8022, 0, contents), chunk);
        ASSERT_TRUE(packet) << chunk;
        EXPECT_EQ(0x8022, packet->GetType());
        EXPECT_EQ(0, packet->GetHeaderStatus());
        std::wstring name = nameOf(*packet);
        EXPECT_EQ(wide(folder_.path()), name.substr(0, folder_.path().size()));
        std::wstring file = name.substr(folder_.path().size());
        EXPECT_EQ(L"QUARN", file.substr(0, 5));
        EXPECT_EQ(L".TMP", file.substr(file.size() - 4));
        EXPECT_EQ(13u, file.size());
        // The padding never reaches the file.
        EXPECT_EQ(contents, readFileBytes(name)) << chunk;
        packet.reset();
        // A complete packet leaves the file to the receiver.
        EXPECT_TRUE(fileExists(name));
        DeleteFileW(name.c_str());
    }
    for (size_t size : {size_t(0), size_t(1), size_t(3), size_t(4095), size_t(4096), size_t(4097), size_t(8195)}) {
        Bytes data = patternBytes(size, static_cast<unsigned>(size));
        std::unique_ptr<CQuarnPacket> packet = receive(packetBytes(0x8022, 0, data), 777);
        ASSERT_TRUE(packet) << size;
        EXPECT_EQ(data, readFileBytes(nameOf(*packet))) << size;
        DeleteFileW(nameOf(*packet).c_str());
    }
    EXPECT_TRUE(folder_.quarnFiles().empty());
}

TEST_F(QuarnFileWritePacketTest, APacketDeletedBeforeItsEndDeletesItsFile)
{
    Bytes whole = packetBytes(0x8022, 0, patternBytes(9000));
    for (size_t cut : {size_t(8), size_t(9), size_t(4104), size_t(whole.size() - 1)}) {
        made_ = nullptr;
        Bytes part(whole.begin(), whole.begin() + static_cast<long>(cut));
        EXPECT_FALSE(receive(part, 4096));
        ASSERT_NE(nullptr, made_);
        EXPECT_EQ(1u, folder_.quarnFiles().size());
        // The connection ends: its reassembly goes with the packet under way.
        reassembler_ = std::make_unique<CQuarnPacketReassembler>([this](const BYTE* header) -> CQuarnPacket* {
            made_ = CQuarnFileWritePacket::Make(header);
            return made_;
        });
        EXPECT_TRUE(folder_.quarnFiles().empty()) << cut;
    }
}

TEST_F(QuarnFileWritePacketTest, ContentsWhoseCrcFailsAreHandedOnWithErrorCrc)
{
    Bytes bytes = packetBytes(0x8022, 0, patternBytes(5000));
    bytes[100] ^= 0x01;
    std::unique_ptr<CQuarnPacket> packet = receive(bytes, 4096);
    ASSERT_TRUE(packet);
    EXPECT_EQ(ERROR_CRC, packet->GetHeaderStatus());
    // The status travels folded: a platform error below 0x8000 as it is.
    EXPECT_EQ(static_cast<DWORD>(ERROR_CRC), UnfoldStatus(packet->GetHeaderStatus()));

    Bytes crc = packetBytes(0x8022, 0, Bytes());
    crc.back() ^= 0x80;
    std::unique_ptr<CQuarnPacket> empty = receive(crc, 1);
    ASSERT_TRUE(empty);
    EXPECT_EQ(ERROR_CRC, empty->GetHeaderStatus());
    DeleteFileW(nameOf(*packet).c_str());
    DeleteFileW(nameOf(*empty).c_str());
}

TEST_F(QuarnFileWritePacketTest, TheSendersStatusIsTheStatusUnlessAWriteFailed)
{
    std::unique_ptr<CQuarnPacket> packet = receive(packetBytes(0x8022, 0x8202, patternBytes(10)), 4096);
    ASSERT_TRUE(packet);
    EXPECT_EQ(0x8202, packet->GetHeaderStatus());
    DeleteFileW(nameOf(*packet).c_str());
}

// A disk that fills after the first chunk.
class FullDiskPacket : public CQuarnFileWritePacket {
public:
    static FullDiskPacket* Make(const BYTE* header) { return WithFile(new FullDiskPacket(header)); }
    int writes = 0;

protected:
    explicit FullDiskPacket(const BYTE* header) : CQuarnFileWritePacket(header) {}
    bool WriteContents(const BYTE* bytes, DWORD count) override
    {
        ++writes;
        if (writes > 1) {
            SetLastError(ERROR_DISK_FULL);
            return false;
        }
        return CQuarnFileWritePacket::WriteContents(bytes, count);
    }
};

TEST_F(QuarnFileWritePacketTest, TheFirstWriteErrorIsKeptAndTheRestIsStillTakenUnwritten)
{
    Bytes contents = patternBytes(20000);
    Bytes stream = packetBytes(0x8022, 0, contents);
    Bytes after = packetBytes(17, 0, Bytes{1, 2, 3, 4});
    stream.insert(stream.end(), after.begin(), after.end());
    FullDiskPacket* made = nullptr;
    reassembler_ = std::make_unique<CQuarnPacketReassembler>([&made](const BYTE* header) -> CQuarnPacket* {
        made = FullDiskPacket::Make(header);
        return made;
    });
    Bytes first(stream.begin(), stream.begin() + static_cast<long>(stream.size() - after.size()));
    std::unique_ptr<CQuarnPacket> file = receive(first, 1000);
    ASSERT_TRUE(file);
    ASSERT_EQ(made, file.get());
    EXPECT_EQ(2, made->writes);
    EXPECT_EQ(static_cast<DWORD>(ERROR_DISK_FULL), UnfoldStatus(file->GetHeaderStatus()));
    // The stream is still in step: the next packet arrives whole.
    std::unique_ptr<CQuarnPacket> next = receive(after, 1000);
    ASSERT_TRUE(next);
    EXPECT_EQ(17, next->GetType());
    EXPECT_EQ(4u, next->GetDataLength());
    // What was written before the error is in the file, nothing after it.
    std::vector<std::string> files = folder_.quarnFiles();
    ASSERT_EQ(1u, files.size());
    EXPECT_EQ(Bytes(contents.begin(), contents.begin() + 4096), readFileBytes(wide(folder_.path() + files[0])));
}

TEST_F(QuarnFileWritePacketTest, PercentagesFallAsTheContentsArrive)
{
    Bytes header = bytesOf("80 22 00 00 00 00 27 10");
    std::unique_ptr<CQuarnFileWritePacket> packet(CQuarnFileWritePacket::Make(header.data()));
    ASSERT_TRUE(packet);
    EXPECT_EQ(10012u, packet->GetTotalLength());
    Bytes whole = packetBytes(0x8022, 0, patternBytes(10000));
    std::vector<DWORD> answers;
    size_t at = 8;
    BYTE* position;
    DWORD remaining;
    while (packet->GetCurrentPiece(&position, &remaining)) {
        EXPECT_LE(remaining, 4096u);
        memcpy(position, whole.data() + at, remaining);
        at += remaining;
        answers.push_back(packet->Advance(remaining));
    }
    // expected / (10012 / 100 + 1): 5904 / 101, 1808 / 101, then 1 while the crc is due.
    EXPECT_EQ(std::vector<DWORD>({58, 17, 1, 0}), answers);
    EXPECT_EQ(0, packet->GetHeaderStatus());
    DeleteFileW(packet->GetFileName().c_str());
}

TEST_F(QuarnFileWritePacketTest, AFileOfFourGibibytesLessOneCountsIn64Bits)
{
    Bytes header = bytesOf("80 22 00 00 FF FF FF FF");
    std::unique_ptr<CQuarnFileWritePacket> packet(CQuarnFileWritePacket::Make(header.data()));
    ASSERT_TRUE(packet);
    EXPECT_EQ(FOUR_GIB + 12, packet->GetTotalLength());
    EXPECT_EQ(0xFFFFFFFFull, packet->GetBytesExpected());
    BYTE* position;
    DWORD remaining;
    ASSERT_TRUE(packet->GetCurrentPiece(&position, &remaining));
    EXPECT_EQ(4096u, remaining);
    struct Case {
        ULONGLONG expected, total;
        DWORD remaining;
    };
    const Case cases[] = {
        {0xFFFFFFFF, FOUR_GIB + 12, 99},
        {0xFFFFFFFF - 4096, FOUR_GIB + 12, 99},
        {0x80000000, FOUR_GIB + 12, 49},
        {0, FOUR_GIB + 12, 0},
        {9996, 10008, 98},
        {0, 12, 0},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.remaining, CQuarnFileWritePacket::RemainingPercent(c.expected, c.total)) << c.expected;
    packet.reset();
    EXPECT_TRUE(folder_.quarnFiles().empty());
}

// The receive packet of a transfer tells the receiving application, through the watch records,
// how far it got: 0x20040100 + percentage, only as it grows and at most once per 100 ms.
TEST_F(QuarnFileWritePacketTest, TheReceivePacketTellsTheApplicationItsProgressThrottled)
{
    CQuarnSrvCore core;
    CQuarnDataBase database;
    CQuarnWatchWindow watch(core, database);
    HWND window = CreateWindowA("STATIC", "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    ASSERT_TRUE(watch.Add(5, window, L"\\Applications\\Copy"));
    CQuarnFileReceive records;
    CQuarnFileReceive* record = new CQuarnFileReceive;
    ASSERT_TRUE(record->SetDestination(&watch, L"\\Applications\\Copy\\5"));
    ASSERT_TRUE(record->LinkTail(&records));

    Bytes whole = packetBytes(0x8022, 0, patternBytes(40000));
    std::unique_ptr<CQuarnFileReceivePacket> packet(
        CQuarnFileReceivePacket::Make(whole.data(), records, record->GetId(), &watch));
    ASSERT_TRUE(packet);
    size_t at = 8;
    auto give = [&](size_t count) {
        BYTE* position;
        DWORD remaining;
        while (count > 0 && packet->GetCurrentPiece(&position, &remaining)) {
            DWORD taken = static_cast<DWORD>(std::min<size_t>(count, remaining));
            memcpy(position, whole.data() + at, taken);
            at += taken;
            count -= taken;
            packet->Advance(taken);
        }
    };
    auto told = [&] {
        std::vector<DWORD> codes;
        MSG message;
        while (PeekMessageA(&message, window, QuarnFileTransferMessage(), QuarnFileTransferMessage(), PM_REMOVE)) {
            EXPECT_EQ(record->GetId(), message.wParam);
            codes.push_back(static_cast<DWORD>(message.lParam));
        }
        return codes;
    };
    // Within the first 100 ms nothing is told, however far it got.
    give(5 * 4096);
    EXPECT_TRUE(told().empty());
    Sleep(150);
    // 15424 bytes expected of a 40012-byte packet: 15424 / 401 = 38 remaining, 62 % received.
    give(4096);
    EXPECT_EQ(std::vector<DWORD>({0x2004013E}), told());
    give(4096);
    EXPECT_TRUE(told().empty());
    Sleep(150);
    // The next chunk: 7232 / 401 = 18 remaining; the rest follows within 100 ms.
    give(whole.size() - at);
    EXPECT_EQ(std::vector<DWORD>({0x20040152}), told());
    EXPECT_EQ(0, packet->GetHeaderStatus());
    EXPECT_EQ(patternBytes(40000), readFileBytes(packet->GetFileName()));
    DeleteFileW(packet->GetFileName().c_str());
    DestroyWindow(window);
}

} // namespace
