// The sending side of a file transfer over 127.0.0.1 inside the test process: a transfer
// socket whose events arrive on a hidden window of the test, against a plain socket that the
// test reads and answers byte by byte as a receiving node would, honest or not. The notices
// go to the same window; the test looks at them in the order they were posted.
#include "AbortingBuild.h"
#include "CQuarnFileTransferSocket.h"
#include "CQuarnSrvCore.h"
#include "PacketBytes.h"
#include "QuarnCodes.h"
#include "QuarnMessages.h"
#include "QuarnWire.h"
#include "ServerTempFolder.h"
#include "SocketWindow.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

namespace {

typedef std::vector<BYTE> Bytes;

const UINT TRANSFER_MESSAGE = WM_USER + 4;
const DWORD LOOPBACK = 0x0100007F;
const wchar_t DESTINATION[] = L"\\{00112233-4455-6677-8899-AABBCCDDEEFF}\\Applications\\1:Copy:4";
const wchar_t ON_RECEIVER[] = L"\\Applications\\1:Copy:4";

class QuarnFileTransferSocketTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        port_ = freePort();
        listener_ = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address = {};
        address.sin_family = AF_INET;
        address.sin_port = htons(port_);
        address.sin_addr.s_addr = LOOPBACK;
        ASSERT_EQ(0, bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof(address)));
        ASSERT_EQ(0, listen(listener_, 4));
        u_long nonBlocking = 1;
        ioctlsocket(listener_, FIONBIO, &nonBlocking);
        window_.onMessage(TRANSFER_MESSAGE, [this](WPARAM socket, LPARAM event) {
            if (!transfer_ || transfer_->GetSocket() != static_cast<SOCKET>(socket))
                return;
            if (transfer_->HandleEvent(WSAGETSELECTEVENT(event), WSAGETSELECTERROR(event))) {
                transfer_.reset();
                ended_ = true;
            }
        });
        window_.onMessage(QuarnFileTransferMessage(), [this](WPARAM handle, LPARAM code) {
            EXPECT_EQ(handle_, handle);
            codes_.push_back(static_cast<DWORD>(code));
        });
    }

    void TearDown() override
    {
        transfer_.reset();
        if (peer_ != INVALID_SOCKET)
            closesocket(peer_);
        closesocket(listener_);
        window_.pumpQuiet(20, 1000);
    }

    // Opens a transfer to the listening socket and fills its temporary file.
    void openWith(const Bytes& contents)
    {
        transfer_.reset(new CQuarnFileTransferSocket(&core_));
        handle_ = transfer_->GetId();
        ASSERT_TRUE(transfer_->Open(DESTINATION, ON_RECEIVER, L"\\Applications\\1:Copy:3", L"picture.png",
                                    window_.hwnd()));
        temp_ = transfer_->GetTempFileName();
        writeFileBytes(temp_, contents);
    }

    // Executes it and accepts its connection.
    void execute()
    {
        ASSERT_TRUE(transfer_->Execute(window_.hwnd(), TRANSFER_MESSAGE, LOOPBACK, port_)) << GetLastError();
        ASSERT_TRUE(window_.pumpUntil([this] {
            peer_ = accept(listener_, nullptr, nullptr);
            return peer_ != INVALID_SOCKET;
        }));
        u_long nonBlocking = 1;
        ioctlsocket(peer_, FIONBIO, &nonBlocking);
    }

    // Reads count bytes from the connection while the window runs (fewer when it ended).
    Bytes read(size_t count, DWORD timeoutMs = 10000) { return readPeer(window_, peer_, count, timeoutMs); }

    // One whole packet from the connection (its data part read to the length field).
    Bytes readPacket() { return readPeerPacket(window_, peer_); }

    void answer(WORD type, WORD folded)
    {
        Bytes bytes = packetBytes(type, folded, Bytes());
        ASSERT_EQ(12, send(peer_, reinterpret_cast<const char*>(bytes.data()), 12, 0));
    }

    // A transfer of 4 MiB whose contents are under way: the first 50,000 bytes read.
    void startLargeContents()
    {
        openWith(patternBytes(4 << 20));
        execute();
        readPacket();
        answer(33, 0);
        EXPECT_EQ(50000u, read(50000).size());
    }

    // A transfer of 10 bytes that the receiver has stored: the sender's stream has ended.
    void storeSmall()
    {
        openWith(patternBytes(10));
        execute();
        readPacket();
        answer(33, 0);
        readPacket();
        answer(34, 0);
        EXPECT_TRUE(read(1, 5000).empty());
    }

    // Waits for the transfer to end from the receiver's close.
    void closeAndWait()
    {
        closesocket(peer_);
        peer_ = INVALID_SOCKET;
        EXPECT_TRUE(window_.pumpUntil([this] { return ended_; }));
        window_.pumpQuiet(50);
    }

    static Bytes openRequestBytes()
    {
        Bytes data;
        CQuarnSocket::AppendString(data, ON_RECEIVER);
        CQuarnSocket::AppendString(data, L"\\Applications\\1:Copy:3");
        CQuarnSocket::AppendString(data, L"picture.png");
        return packetBytes(33, 0, data);
    }

    ServerTempFolder folder_;
    WinsockSession winsock_;
    SocketWindow window_;
    CQuarnSrvCore core_;
    WORD port_ = 0;
    SOCKET listener_ = INVALID_SOCKET;
    SOCKET peer_ = INVALID_SOCKET;
    std::unique_ptr<CQuarnFileTransferSocket> transfer_;
    DWORD handle_ = 0;
    std::wstring temp_;
    std::vector<DWORD> codes_;
    bool ended_ = false;
};

TEST_F(QuarnFileTransferSocketTest, AnEmptyFileIsOpenedSentAndStoredWithTwoNotices)
{
    openWith(Bytes());
    EXPECT_EQ(L"QUARN", temp_.substr(folder_.path().size(), 5));
    execute();
    EXPECT_EQ(openRequestBytes(), readPacket());
    answer(33, 0);
    EXPECT_EQ("80 22 00 00 00 00 00 00 D0 75 88 C1", hexBytes(readPacket()));
    answer(34, 0);
    // The sender shuts its side down once the file is stored.
    EXPECT_TRUE(read(1, 5000).empty());
    closeAndWait();
    EXPECT_EQ(std::vector<DWORD>({0x20040000, 0x20040064}), codes_);
    EXPECT_TRUE(folder_.quarnFiles().empty());
}

TEST_F(QuarnFileTransferSocketTest, TheContentsFollowTheAcceptanceAsOnePacket)
{
    Bytes contents = patternBytes(300000);
    openWith(contents);
    execute();
    EXPECT_EQ(openRequestBytes(), readPacket());
    window_.pumpQuiet(50);
    // Nothing of the file before the receiver accepted.
    EXPECT_TRUE(read(1, 100).empty());
    EXPECT_TRUE(fileExists(temp_));
    answer(33, 0);
    EXPECT_EQ(packetBytes(0x8022, 0, contents), readPacket());
    answer(34, 0);
    closeAndWait();
    ASSERT_GE(codes_.size(), 2u);
    EXPECT_EQ(0x20040000u, codes_.front());
    EXPECT_EQ(0x20040064u, codes_.back());
    for (size_t i = 1; i + 1 < codes_.size(); ++i) {
        EXPECT_GT(codes_[i], codes_[i - 1]);
        EXPECT_LT(codes_[i], 0x20040064u);
    }
    EXPECT_FALSE(fileExists(temp_));
}

TEST_F(QuarnFileTransferSocketTest, AReceiversStatusEndsTheTransferWithIt)
{
    struct Case {
        WORD type;
        WORD folded;
        bool afterContents;
        DWORD code;
    };
    const Case cases[] = {
        {33, 0x8002, false, ERROR_QUARN_COMMON_INVALID_PATH},
        {33, 0x00AA, false, ERROR_BUSY},
        {34, 0x0017, true, ERROR_CRC},
        {34, 0x8202, true, ERROR_QUARN_COMM_CONNECTION_CLOSED},
        // Answers that mean nothing here: 0.
        {99, 0, false, 0},
        {17, 0, false, 0},
        // "Stored" before a byte of the contents went.
        {34, 0, false, 0},
    };
    for (const Case& c : cases) {
        codes_.clear();
        ended_ = false;
        openWith(patternBytes(1000));
        execute();
        readPacket();
        if (c.afterContents) {
            answer(33, 0);
            readPacket();
        }
        answer(c.type, c.folded);
        EXPECT_TRUE(read(1, 5000).empty());
        closeAndWait();
        std::vector<DWORD> expected;
        if (c.afterContents)
            expected.push_back(0x20040000);
        expected.push_back(c.code);
        EXPECT_EQ(expected, codes_) << c.type << " " << c.folded;
        EXPECT_TRUE(folder_.quarnFiles().empty());
    }
}

TEST_F(QuarnFileTransferSocketTest, ASecondAcceptanceIsNotBelievedAndTheFileGoesOnce)
{
    openWith(patternBytes(100));
    execute();
    readPacket();
    answer(33, 0);
    EXPECT_EQ(packetBytes(0x8022, 0, patternBytes(100)), readPacket());
    answer(33, 0);
    EXPECT_TRUE(read(1, 5000).empty());
    closeAndWait();
    EXPECT_EQ(std::vector<DWORD>({0x20040000, 0}), codes_);
}

TEST_F(QuarnFileTransferSocketTest, ARefusedConnectionIsToldOnceAsRefused)
{
    openWith(patternBytes(10));
    closesocket(listener_);
    listener_ = INVALID_SOCKET;
    ASSERT_TRUE(transfer_->Execute(window_.hwnd(), TRANSFER_MESSAGE, LOOPBACK, port_));
    ASSERT_TRUE(window_.pumpUntil([this] { return ended_; }));
    window_.pumpQuiet(50);
    EXPECT_EQ(std::vector<DWORD>({ERROR_QUARN_COMM_CONNECTION_REFUSED}), codes_);
    EXPECT_TRUE(folder_.quarnFiles().empty());
    listener_ = socket(AF_INET, SOCK_STREAM, 0);
}

TEST_F(QuarnFileTransferSocketTest, AConnectionLostDuringTheContentsIsToldAndTheFileGoes)
{
    startLargeContents();
    // The receiver goes without reading the rest.
    LINGER hard = {1, 0};
    setsockopt(peer_, SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&hard), sizeof(hard));
    closeAndWait();
    ASSERT_FALSE(codes_.empty());
    EXPECT_EQ(0x20040000u, codes_.front());
    EXPECT_EQ(ERROR_QUARN_COMM_CONNECTION_CLOSED, codes_.back());
    EXPECT_TRUE(folder_.quarnFiles().empty());
}

TEST_F(QuarnFileTransferSocketTest, AFileOfFourGibibytesIsRefusedAsTheDiskFullBeforeAnyContents)
{
    openWith(Bytes());
    ASSERT_TRUE(makeSparseFile(temp_, 0x100000000ULL));
    execute();
    readPacket();
    answer(33, 0);
    // The sender shuts down without contents.
    EXPECT_TRUE(read(1, 5000).empty());
    closeAndWait();
    EXPECT_EQ(std::vector<DWORD>({ERROR_DISK_FULL}), codes_);
    EXPECT_TRUE(folder_.quarnFiles().empty());
}

TEST_F(QuarnFileTransferSocketTest, ASecondExecutionFailsAndTheFirstRunsOn)
{
    openWith(patternBytes(10));
    execute();
    SOCKET first = transfer_->GetSocket();
    SetLastError(0);
    EXPECT_FALSE(transfer_->Execute(window_.hwnd(), TRANSFER_MESSAGE, LOOPBACK, port_));
    EXPECT_EQ(static_cast<DWORD>(ERROR_BUSY), GetLastError());
    EXPECT_EQ(first, transfer_->GetSocket());
    EXPECT_TRUE(transfer_->IsTempFileHeld());
    window_.pumpQuiet(50);
    // No second connection came.
    EXPECT_EQ(INVALID_SOCKET, accept(listener_, nullptr, nullptr));
    EXPECT_EQ(openRequestBytes(), readPacket());
    answer(33, 0);
    readPacket();
    answer(34, 0);
    closeAndWait();
    EXPECT_EQ(std::vector<DWORD>({0x20040000, 0x20040064}), codes_);
}

TEST_F(QuarnFileTransferSocketTest, AMissingTemporaryFileFailsTheExecutionWithItsError)
{
    openWith(Bytes());
    ASSERT_TRUE(DeleteFileW(temp_.c_str()));
    SetLastError(0);
    EXPECT_FALSE(transfer_->Execute(window_.hwnd(), TRANSFER_MESSAGE, LOOPBACK, port_));
    EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), GetLastError());
    EXPECT_EQ(INVALID_SOCKET, transfer_->GetSocket());
    EXPECT_FALSE(transfer_->IsExecuted());
    window_.pumpQuiet(50);
    EXPECT_EQ(INVALID_SOCKET, accept(listener_, nullptr, nullptr));
    EXPECT_TRUE(codes_.empty());
}

TEST_F(QuarnFileTransferSocketTest, ATransferEndedUnexecutedOrRunningIsToldClosedUnlessItHadEnded)
{
    openWith(patternBytes(10));
    transfer_->DestroySocket();
    window_.pumpQuiet(20);
    EXPECT_EQ(std::vector<DWORD>({ERROR_QUARN_COMM_CONNECTION_CLOSED}), codes_);
    codes_.clear();
    // An unexecuted transfer leaves its file for the core's clean-up.
    transfer_.reset();
    EXPECT_EQ(1u, folder_.quarnFiles().size());
    DeleteFileW(temp_.c_str());

    storeSmall();
    transfer_->DestroySocket();
    window_.pumpQuiet(20);
    EXPECT_EQ(std::vector<DWORD>({0x20040000, 0x20040064}), codes_);
}

TEST_F(QuarnFileTransferSocketTest, AnAbortDuringTheContentsEndsTheTransferWithItsStatusOrUntold)
{
    struct Case {
        bool aborting;
        WORD folded;
        // The last notice; none when 0xFFFFFFFF (the transfer ends untold).
        DWORD last;
    };
    const Case cases[] = {
        {true, 0x8211, ERROR_QUARN_COMM_TRANSFER_ABORTED},
        {true, 0, 0xFFFFFFFF},
        // The module takes a status as any receiver's, and an abort without one as an answer
        // that means nothing.
        {false, 0x8211, ERROR_QUARN_COMM_TRANSFER_ABORTED},
        {false, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.aborting ? "aborting" : "module");
        std::unique_ptr<AbortingBuild> build(c.aborting ? new AbortingBuild : nullptr);
        codes_.clear();
        ended_ = false;
        startLargeContents();
        answer(35, c.folded);
        // The sender stops sending: what was under way, then the end of its stream.
        Bytes rest = read(8 << 20, 10000);
        EXPECT_LT(rest.size(), static_cast<size_t>(4 << 20));
        closeAndWait();
        ASSERT_FALSE(codes_.empty());
        EXPECT_EQ(0x20040000u, codes_.front());
        if (c.last != 0xFFFFFFFF) {
            EXPECT_EQ(c.last, codes_.back());
            codes_.pop_back();
        }
        for (DWORD code : codes_)
            EXPECT_LT(code, 0x20040064u) << std::hex << code;
        EXPECT_TRUE(folder_.quarnFiles().empty());
    }
}

TEST_F(QuarnFileTransferSocketTest, AClosedTransferIsToldClosedOnceAndItsFileGoes)
{
    AbortingBuild build;
    // Opened, never executed: its file would stay until the next start.
    openWith(patternBytes(10));
    transfer_->Close();
    transfer_.reset();
    window_.pumpQuiet(20);
    EXPECT_EQ(std::vector<DWORD>({ERROR_QUARN_COMM_CONNECTION_CLOSED}), codes_);
    EXPECT_TRUE(folder_.quarnFiles().empty());

    // Closed while its contents flow: the receiver sees the stream end short.
    codes_.clear();
    startLargeContents();
    transfer_->Close();
    transfer_.reset();
    EXPECT_LT(read(8 << 20, 10000).size(), static_cast<size_t>(4 << 20));
    window_.pumpQuiet(50);
    ASSERT_GE(codes_.size(), 2u);
    EXPECT_EQ(0x20040000u, codes_.front());
    EXPECT_EQ(ERROR_QUARN_COMM_CONNECTION_CLOSED, codes_.back());
    EXPECT_EQ(1, std::count(codes_.begin(), codes_.end(), ERROR_QUARN_COMM_CONNECTION_CLOSED));
    EXPECT_TRUE(folder_.quarnFiles().empty());

    // Stored before the close: told nothing more.
    codes_.clear();
    storeSmall();
    transfer_->Close();
    transfer_.reset();
    window_.pumpQuiet(50);
    EXPECT_EQ(std::vector<DWORD>({0x20040000, 0x20040064}), codes_);
}

} // namespace
