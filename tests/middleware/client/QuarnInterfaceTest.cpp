// The connection and the directory handles over a fake server: error keeping, the string
// protocol, waits and the database lock.
#include "CQUARNAPDir.h"
#include "CQUARNBinaryValue.h"
#include "CQUARNInterface.h"
#include "CQUARNLookupDir.h"
#include "CQuarnBstr.h"
#include "CQuarnCallException.h"
#include "ClientFixture.h"
#include "FolderFiles.h"

#include <fstream>
#include <memory>

namespace {

class InterfaceTest : public ClientFixture {
protected:
    void SetUp() override { ASSERT_TRUE(quarn.Initialize()); }
    void TearDown() override { quarn.Uninitialize(); }

    std::unique_ptr<CQUARNLookupDir> open(const std::wstring& path)
    {
        return std::unique_ptr<CQUARNLookupDir>(quarn.openLookupDir(narrow(path), nullptr));
    }
    static std::string narrow(const std::wstring& text) { return std::string(text.begin(), text.end()); }

    CQUARNInterface quarn;
};

TEST(KeepError, MiddlewareCodesStayPlatformErrorsBecomeWin32)
{
    struct {
        DWORD result;
        DWORD kept;
    } table[] = {
        {0xE0040102, 0xE0040102}, {0x800703E4, 996}, {0x800706BA, 1722}, {0x80040154, 0x80040154},
        {0x20040164, 0x20040164}, {0x80070002, 2},
    };
    for (const auto& row : table) {
        CQUARNInterface::keepError("test", static_cast<HRESULT>(row.result));
        EXPECT_EQ(row.kept, GetLastError()) << std::hex << row.result;
    }
}

TEST(QuarnBstr, TextEndsAtTheFirstZeroAndNullIsEmpty)
{
    BSTR counted = SysAllocStringLen(L"abc\0", 4);
    BSTR inner = SysAllocStringLen(L"ab\0cd", 5);
    EXPECT_EQ("abc", CQuarnBstr::toText(counted));
    EXPECT_EQ("ab", CQuarnBstr::toText(inner));
    EXPECT_EQ("", CQuarnBstr::toText(nullptr));
    SysFreeString(counted);
    SysFreeString(inner);
    EXPECT_EQ(nullptr, CQuarnBstr("").get());
    EXPECT_EQ("x\\y", CQuarnBstr("x\\y").text());
}

TEST_F(ClientFixture, InitializeFailsWhenTheClassIsNotThereAndLaterCallsGiveEPointer)
{
    fake.createResult = REGDB_E_CLASSNOTREG;
    CQUARNInterface quarn;
    EXPECT_FALSE(quarn.Initialize());
    EXPECT_EQ(static_cast<DWORD>(REGDB_E_CLASSNOTREG), GetLastError());
    EXPECT_EQ("", quarn.GetGUIDString());
    EXPECT_EQ(static_cast<DWORD>(E_POINTER), GetLastError());
    EXPECT_EQ(nullptr, quarn.openLookupDir("\\", nullptr));
    EXPECT_EQ(static_cast<DWORD>(E_POINTER), GetLastError());
    EXPECT_EQ(nullptr, quarn.OpenAPDir("app", nullptr));
    EXPECT_EQ(static_cast<DWORD>(E_POINTER), GetLastError());
    quarn.Uninitialize();
}

TEST_F(ClientFixture, AServerThatCannotStartLeavesNoObject)
{
    fake.failures["Initialize"] = static_cast<HRESULT>(0xE0040104);
    CQUARNInterface quarn;
    EXPECT_FALSE(quarn.Initialize());
    EXPECT_EQ(0xE0040104u, GetLastError());
    EXPECT_FALSE(quarn.RegisterWnd(nullptr));
    EXPECT_EQ(static_cast<DWORD>(E_POINTER), GetLastError());
    quarn.Uninitialize();
}

TEST_F(InterfaceTest, GuidAndVersion)
{
    EXPECT_EQ("{11111111-2222-3333-4444-555555555555}", quarn.GetGUIDString());
    EXPECT_EQ(0x00010003u, quarn.GetServerVersion());
    fake.versionKnown = false;
    EXPECT_EQ(0x10000u, quarn.GetServerVersion());
}

TEST_F(InterfaceTest, GetIPThrowsWithTheResult)
{
    EXPECT_EQ("198.18.0.2", quarn.GetIP("\\{x}"));
    fake.failures["GetIP"] = static_cast<HRESULT>(0xE0040002);
    try {
        quarn.GetIP("\\{x}");
        FAIL() << "no exception";
    } catch (const CQuarnCallException& e) {
        EXPECT_EQ(static_cast<HRESULT>(0xE0040002), e.getHResult());
    }
}

TEST_F(InterfaceTest, UnlockOfNothingLockedCallsNothing)
{
    fake.calls.clear();
    EXPECT_TRUE(quarn.UnlockDB(false));
    EXPECT_TRUE(fake.calls.empty());
}

TEST_F(InterfaceTest, OpenAPDirNamesTheUserAndWatchesTheDirectoryUnderTheLock)
{
    std::unique_ptr<CQUARNAPDir> apDir(quarn.OpenAPDir("T:Copy:3", nullptr));
    ASSERT_NE(nullptr, apDir);
    EXPECT_EQ("\\Applications\\T:Copy:3\\", apDir->getPath());
    EXPECT_EQ(1u, fake.strings.count(L"\\Applications\\T:Copy:3\\1\\User Name"));
    EXPECT_EQ(L"\\Applications\\T:Copy:3", fake.paths.back());
    EXPECT_FALSE(fake.dbLocked);
    fake.paths.clear();
    EXPECT_TRUE(apDir->Close());
    EXPECT_EQ((std::vector<std::wstring>{L"\\Applications\\T:Copy:3\\", L"\\Applications\\T:Copy:3\\1"}), fake.paths);
    fake.calls.clear();
    EXPECT_TRUE(apDir->Close());
    EXPECT_TRUE(fake.calls.empty());
}

TEST_F(InterfaceTest, AFailedOpenAPDirUnlocksAndKeepsTheError)
{
    fake.failures["APDWatchWndAdd"] = static_cast<HRESULT>(0xE0040002);
    EXPECT_EQ(nullptr, quarn.OpenAPDir("a\\\\b", nullptr));
    EXPECT_EQ(0xE0040002u, GetLastError());
    EXPECT_FALSE(fake.dbLocked);
}

TEST_F(InterfaceTest, EntryChangesHoldTheLockAndReleaseItOnFailure)
{
    std::unique_ptr<CQUARNAPDir> apDir(quarn.OpenAPDir("app", nullptr));
    ASSERT_NE(nullptr, apDir);
    EXPECT_TRUE(apDir->ChangeEntryValueString("TerminalInfos\\7\\Category", "Server"));
    EXPECT_EQ(1u, fake.strings.count(L"\\Applications\\app\\TerminalInfos\\7\\Category"));
    fake.failures["APDCloseEntry"] = static_cast<HRESULT>(0xE0040301);
    EXPECT_FALSE(apDir->DelRefer("never"));
    EXPECT_EQ(0xE0040301u, GetLastError());
    EXPECT_FALSE(fake.dbLocked);
    const BYTE three[] = {1, 2, 3};
    EXPECT_TRUE(apDir->ChangeEntryValueBinary("Bin", three, 3));
    EXPECT_TRUE(apDir->ChangeEntryValueInt("PortNum", 0));
    EXPECT_FALSE(fake.dbLocked);
}

TEST_F(InterfaceTest, SendFileOfAMissingSourceClosesTheTransfer)
{
    std::unique_ptr<CQUARNAPDir> apDir(quarn.OpenAPDir("app", nullptr));
    std::string temp = dir.file("QUARN1.TMP");
    fake.tempName = std::wstring(temp.begin(), temp.end());
    // The server makes the sender's file empty at the open.
    std::ofstream(temp).close();
    EXPECT_EQ(0u, apDir->SendFile(dir.file("missing.bin"), "n", "\\{B}\\Applications\\x", nullptr));
    EXPECT_EQ(2u, GetLastError());
    EXPECT_EQ(std::vector<ULONG>{fake.transferHandle}, fake.closedTransfers);
    EXPECT_TRUE(fake.executed.empty());
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(temp.c_str())) << "the transfer's file stayed";
}

TEST_F(InterfaceTest, ARefusedExecutionLeavesNoFile)
{
    std::unique_ptr<CQUARNAPDir> apDir(quarn.OpenAPDir("app", nullptr));
    std::string temp = dir.file("QUARN3.TMP");
    fake.tempName = std::wstring(temp.begin(), temp.end());
    std::ofstream(temp).close();
    std::string source = dir.file("source.bin");
    std::ofstream(source) << "bytes";
    fake.failures["FileTransferExec"] = static_cast<HRESULT>(0xE0040002);
    EXPECT_EQ(0u, apDir->SendFile(source, "n", "\\{B}\\Applications\\x", nullptr));
    EXPECT_EQ(0xE0040002u, GetLastError());
    EXPECT_EQ(std::vector<ULONG>{fake.transferHandle}, fake.closedTransfers);
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(temp.c_str()));
}

TEST_F(InterfaceTest, RecvFileMovesOrOverwrites)
{
    std::unique_ptr<CQUARNAPDir> apDir(quarn.OpenAPDir("app", nullptr));
    std::string temp = dir.file("QUARN2.TMP");
    fake.tempName = std::wstring(temp.begin(), temp.end());
    std::ofstream(temp) << "first";
    EXPECT_TRUE(apDir->RecvFile(fake.transferHandle, dir.file("new.txt")));
    EXPECT_EQ("first", fileBytes(dir.file("new.txt")));
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(temp.c_str()));
    std::ofstream(temp) << "second";
    EXPECT_TRUE(apDir->RecvFile(fake.transferHandle, dir.file("new.txt")));
    EXPECT_EQ("second", fileBytes(dir.file("new.txt")));
    EXPECT_EQ(2u, fake.closedTransfers.size());
}

// A place step that writes half of the file and fails as a full disk would.
BOOL halfThenDiskFull(LPCSTR from, LPCSTR to)
{
    std::ifstream in(from, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::ofstream(to, std::ios::binary) << bytes.substr(0, bytes.size() / 2);
    SetLastError(ERROR_DISK_FULL);
    return FALSE;
}

TEST_F(InterfaceTest, RecvFileFailingHalfWayLeavesTheOldFileAndTheTransferOpen)
{
    std::unique_ptr<CQUARNAPDir> apDir(quarn.OpenAPDir("app", nullptr));
    std::string incoming = dir.file("in");
    std::string kept = dir.file("kept");
    CreateDirectoryA(incoming.c_str(), nullptr);
    CreateDirectoryA(kept.c_str(), nullptr);
    std::string temp = incoming + "\\QUARN3.TMP";
    fake.tempName = std::wstring(temp.begin(), temp.end());
    std::ofstream(temp) << "the new file, twice as long as half";
    std::string destination = kept + "\\old.txt";
    std::ofstream(destination) << "old bytes";
    CQUARNAPDir::PlaceStep previous = CQUARNAPDir::setPlaceStep(halfThenDiskFull);
    bool received = apDir->RecvFile(fake.transferHandle, destination);
    DWORD error = GetLastError();
    CQUARNAPDir::setPlaceStep(previous);
    EXPECT_FALSE(received);
    EXPECT_EQ(static_cast<DWORD>(ERROR_DISK_FULL), error);
    EXPECT_EQ("old bytes", fileBytes(destination));
    EXPECT_EQ(std::vector<std::string>{"old.txt"}, filesMatching(kept + "\\*"));
    EXPECT_TRUE(fake.closedTransfers.empty());
    // The same transfer received again with the real step.
    EXPECT_TRUE(apDir->RecvFile(fake.transferHandle, destination));
    EXPECT_EQ("the new file, twice as long as half", fileBytes(destination));
    EXPECT_EQ(std::vector<std::string>{"old.txt"}, filesMatching(kept + "\\*"));
    EXPECT_EQ(1u, fake.closedTransfers.size());
}

TEST_F(InterfaceTest, WaitReadyWaitsInStepsOfOneTenthSecond)
{
    fake.pendingCounts[L"\\"] = 3;
    auto root = open(L"\\");
    ASSERT_NE(nullptr, root);
    FakeQuarnSrv::sleeps().clear();
    EXPECT_TRUE(root->WaitReady(5));
    EXPECT_EQ((std::vector<DWORD>{100, 100, 100}), FakeQuarnSrv::sleeps());
    fake.pendingCounts[L"\\"] = -1;
    FakeQuarnSrv::sleeps().clear();
    EXPECT_FALSE(root->WaitReady(5));
    EXPECT_EQ(996u, GetLastError());
    EXPECT_EQ(5u, FakeQuarnSrv::sleeps().size());
}

TEST_F(InterfaceTest, WaitReadyRefreshesAPendingRootHandle)
{
    fake.pendingUntilRefresh[L"\\"] = true;
    auto root = open(L"\\");
    FakeQuarnSrv::sleeps().clear();
    EXPECT_TRUE(root->WaitReady(5));
    EXPECT_EQ(1, fake.count("LUDRefresh"));
    EXPECT_EQ(1u, FakeQuarnSrv::sleeps().size());
}

TEST_F(InterfaceTest, WaitReadyStopsAtOnceOnAnotherError)
{
    auto root = open(L"\\");
    fake.failures["LUDGetEntryCount"] = static_cast<HRESULT>(0xE0040002);
    FakeQuarnSrv::sleeps().clear();
    EXPECT_FALSE(root->WaitReady(100));
    EXPECT_EQ(0xE0040002u, GetLastError());
    EXPECT_TRUE(FakeQuarnSrv::sleeps().empty());
}

TEST_F(InterfaceTest, ReadsAndTheirFailureValues)
{
    FakeEntry text, number, bytes, twice;
    text.name = L"Category";
    text.type = 2;
    text.stringValue = L"Server";
    number.name = L"PortNum";
    number.type = 1;
    number.intValue = 4997;
    bytes.name = L"Bin";
    bytes.type = 3;
    bytes.binary = {1, 2, 3};
    twice = bytes;
    twice.binary = {};
    fake.directories[L"\\d"] = {text, number, bytes, twice};
    auto d = open(L"\\d");
    ASSERT_NE(nullptr, d);
    EXPECT_EQ(4u, d->GetEntryCount());
    EXPECT_EQ("Category", d->GetEntryName(0));
    std::string value;
    EXPECT_TRUE(d->GetEntryValueString(0, value));
    EXPECT_EQ("Server", value);
    int read = 7;
    EXPECT_FALSE(d->GetEntryValueInt(0, &read));
    EXPECT_EQ(0, read);
    EXPECT_TRUE(d->GetEntryValueInt(1, &read));
    EXPECT_EQ(4997, read);
    std::unique_ptr<CQUARNBinaryValue> three(d->GetEntryValueBinary(2));
    ASSERT_NE(nullptr, three);
    ASSERT_EQ(3u, three->count());
    EXPECT_EQ(3, three->data()[2]);
    // By name: the last entry of that name.
    std::unique_ptr<CQUARNBinaryValue> last(d->GetEntryValueBinary(std::string("Bin")));
    ASSERT_NE(nullptr, last);
    EXPECT_EQ(0u, last->count());
    EXPECT_EQ(nullptr, d->GetEntryValueBinary(std::string("None")));
    EXPECT_EQ("", d->GetEntryName(9));
    EXPECT_EQ(0u, d->GetEntryType(9));
    EXPECT_TRUE(d->Close());
    EXPECT_EQ(CQUARNLookupDir::COUNT_FAILED, d->GetEntryCount());
}

// Names the server could send: NULs inside, empty (a null BSTR), 64 KB.
TEST_F(InterfaceTest, OddNamesReadWithoutHarm)
{
    FakeEntry inner, empty, huge;
    inner.name = std::wstring(L"ab\0cd", 5);
    empty.name = L"";
    huge.name = std::wstring(65536, L'n');
    huge.type = 2;
    huge.stringValue = std::wstring(65536, L'v');
    fake.directories[L"\\odd"] = {inner, empty, huge};
    auto d = open(L"\\odd");
    EXPECT_EQ("ab", d->GetEntryName(0));
    EXPECT_EQ("", d->GetEntryName(1));
    EXPECT_EQ(65536u, d->GetEntryName(2).size());
    std::string value;
    EXPECT_TRUE(d->GetEntryValueString(2, value));
    EXPECT_EQ(65536u, value.size());
}

} // namespace
