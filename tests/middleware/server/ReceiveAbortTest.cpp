// The receiving side of a transfer that is given up: connections accepted by a layer started
// without node detection (nothing is broadcast), through its own window and dispatch, against
// a plain socket that the test writes as a sending node would. The receiving
// application is a window of the test watched through watch records of the test's own.
#include "AbortingBuild.h"
#include "CQuarnComm.h"
#include "CQuarnDataBase.h"
#include "CQuarnSrvCore.h"
#include "CQuarnWatchWindow.h"
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

const DWORD LOOPBACK = 0x0100007F;
const wchar_t WATCHED[] = L"\\Applications\\1:Copy:3";
const DWORD APP = 7;

// A layer that finds receiving applications in the test's watch records.
class WatchedComm : public CQuarnComm {
public:
    explicit WatchedComm(CQuarnWatchWindow& watch) : watch_(watch) {}
    CQuarnWatchWindow* GetWatchWindow() const override { return &watch_; }

private:
    CQuarnWatchWindow& watch_;
};

TEST(QuarnAbortWire, TheAbortStatusTravelsInBit15AndComesBackWhole)
{
    EXPECT_EQ(35, QUARN_COMM_TYPE_FILE_TRANSFER_ABORT);
    EXPECT_EQ(0x8211, FoldStatus(ERROR_QUARN_COMM_TRANSFER_ABORTED));
    EXPECT_EQ(ERROR_QUARN_COMM_TRANSFER_ABORTED, UnfoldStatus(0x8211));
    Bytes packet = packetBytes(35, 0x8211, Bytes());
    EXPECT_EQ("00 23 82 11 00 00 00 00", hexBytes(Bytes(packet.begin(), packet.begin() + 8)));
}

class QuarnReceiveAbortTest : public ::testing::Test {
protected:
    QuarnReceiveAbortTest() : watch_(core_, database_, false), comm_(watch_) {}

    void SetUp() override
    {
        // The layer itself accepts and handles the connections, on its own window.
        GUID node = {0x5A5A5A5A, 3, 4, {5, 6, 7, 8, 9, 10, 11, 12}};
        ASSERT_TRUE(comm_.StartWithoutNodeDetection(&core_, &database_, node, freePort())) << GetLastError();
        KillTimer(comm_.GetWindow(), CQuarnComm::TICK_TIMER);
        port_ = comm_.GetPort();
        // The receiving application's window is the test's.
        window_.onMessage(QuarnFileTransferMessage(), [this](WPARAM handle, LPARAM code) {
            notices_.push_back(static_cast<DWORD>(handle));
            notices_.push_back(static_cast<DWORD>(code));
        });
        ASSERT_TRUE(watch_.Add(APP, window_.hwnd(), WATCHED));
    }

    void TearDown() override
    {
        if (peer_ != INVALID_SOCKET)
            closesocket(peer_);
        // Ends the connections and the receive records.
        comm_.Stop();
        window_.pumpQuiet(20, 1000);
    }

    CQuarnServerSocket* connectionOf(SOCKET socket)
    {
        CQuarnListItem& head = comm_.GetConnections();
        for (CQuarnListItem* item = head.GetFirst(); item != nullptr && item != &head; item = item->GetNext()) {
            if (static_cast<CQuarnServerSocket*>(item)->GetSocket() == socket)
                return static_cast<CQuarnServerSocket*>(item);
        }
        return nullptr;
    }

    // The test's socket connects as a sending node and asks to open a transfer to the watched
    // directory; the receive handle it was given (0 when refused).
    DWORD connectAndOpen()
    {
        peer_ = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address = {};
        address.sin_family = AF_INET;
        address.sin_port = htons(port_);
        address.sin_addr.s_addr = LOOPBACK;
        if (connect(peer_, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0)
            return 0;
        u_long nonBlocking = 1;
        ioctlsocket(peer_, FIONBIO, &nonBlocking);
        Bytes data;
        CQuarnSocket::AppendString(data, WATCHED);
        CQuarnSocket::AppendString(data, L"\\Applications\\1:Copy:4");
        CQuarnSocket::AppendString(data, L"picture.png");
        write(packetBytes(33, 0, data));
        if (readPacket() != packetBytes(33, 0, Bytes()))
            return 0;
        std::vector<DWORD> opened = told();
        return opened.size() == 2 && opened[1] == 0x20040100 ? opened[0] : 0;
    }

    // Writes all bytes while the window runs.
    void write(const Bytes& bytes)
    {
        size_t sent = 0;
        window_.pumpUntil([&] {
            int n = send(peer_, reinterpret_cast<const char*>(bytes.data() + sent),
                         static_cast<int>(std::min<size_t>(bytes.size() - sent, 65536)), 0);
            if (n > 0)
                sent += static_cast<size_t>(n);
            return sent == bytes.size() || (n < 0 && WSAGetLastError() != WSAEWOULDBLOCK);
        });
        EXPECT_EQ(bytes.size(), sent);
    }

    // Reads count bytes while the window runs (fewer when the connection ended or nothing more
    // came in time).
    Bytes read(size_t count, DWORD timeoutMs = 10000) { return readPeer(window_, peer_, count, timeoutMs); }
    Bytes readPacket() { return readPeerPacket(window_, peer_); }

    // The receiving application's notices so far, taken: handle, code, handle, code ...
    std::vector<DWORD> told()
    {
        window_.pumpQuiet(20, 1000);
        std::vector<DWORD> notices;
        notices.swap(notices_);
        return notices;
    }

    // The codes among the notices.
    static std::vector<DWORD> codes(const std::vector<DWORD>& notices)
    {
        std::vector<DWORD> result;
        for (size_t i = 1; i < notices.size(); i += 2)
            result.push_back(notices[i]);
        return result;
    }

    // The sender goes, as one does once it has ended; the connection ends with it.
    void senderGoes()
    {
        closesocket(peer_);
        peer_ = INVALID_SOCKET;
        EXPECT_TRUE(window_.pumpUntil([this] { return comm_.GetConnections().GetFirst() == nullptr; }));
    }

    // Bytes from..to of a packet, sent in pieces with pauses longer than the progress
    // interval, so that progress is due after each.
    void sendSlowly(const Bytes& packet, size_t from, size_t to, size_t pieces)
    {
        for (size_t i = 1; i <= pieces; ++i) {
            size_t begin = from + (to - from) * (i - 1) / pieces, end = from + (to - from) * i / pieces;
            write(Bytes(packet.begin() + static_cast<std::ptrdiff_t>(begin),
                        packet.begin() + static_cast<std::ptrdiff_t>(end)));
            window_.pumpQuiet(150, 1000);
            Sleep(120);
        }
    }

    bool recordListed(DWORD id) { return comm_.GetReceiveRecords().FindById(id) != nullptr; }

    ServerTempFolder folder_;
    WinsockSession winsock_;
    SocketWindow window_;
    CQuarnSrvCore core_;
    CQuarnDataBase database_;
    CQuarnWatchWindow watch_;
    WatchedComm comm_;
    WORD port_ = 0;
    SOCKET peer_ = INVALID_SOCKET;
    std::vector<DWORD> notices_;
};

const Bytes ABORT_PACKET = packetBytes(QUARN_COMM_TYPE_FILE_TRANSFER_ABORT, 0x8211, Bytes());

TEST_F(QuarnReceiveAbortTest, ClosingAReceiveUnderWayTellsTheSenderOnceAndEndsItWithTheAbortsStatus)
{
    AbortingBuild build;
    DWORD id = connectAndOpen();
    ASSERT_NE(0u, id);
    sendSlowly(packetBytes(0x8022, 0, patternBytes(1 << 20)), 0, 20000, 2);
    EXPECT_TRUE(comm_.FileTransferClose(id));
    EXPECT_EQ(ABORT_PACKET, readPacket());
    // Closed again while the connection lasts: nothing more goes to the sender.
    EXPECT_TRUE(comm_.FileTransferClose(id));
    EXPECT_TRUE(read(1, 300).empty());
    ASSERT_TRUE(recordListed(id));
    ASSERT_NE(nullptr, comm_.GetConnections().FindDelivering(id));
    EXPECT_EQ(ERROR_QUARN_COMM_TRANSFER_ABORTED, comm_.GetConnections().FindDelivering(id)->GetStatus());
    told();
    senderGoes();
    EXPECT_EQ(std::vector<DWORD>({id, ERROR_QUARN_COMM_TRANSFER_ABORTED}), told());
    EXPECT_FALSE(recordListed(id));
    SetLastError(0);
    EXPECT_FALSE(comm_.FileTransferClose(id));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_HANDLE), GetLastError());
    EXPECT_TRUE(folder_.quarnFiles().empty());
}

TEST_F(QuarnReceiveAbortTest, ContentsThatCompleteAfterTheAbortAreAnsweredWithItAndNotKept)
{
    AbortingBuild build;
    DWORD id = connectAndOpen();
    ASSERT_NE(0u, id);
    EXPECT_TRUE(comm_.FileTransferClose(id));
    EXPECT_EQ(ABORT_PACKET, readPacket());
    // The sender had sent its contents before the abort reached it.
    write(packetBytes(0x8022, 0, patternBytes(10000)));
    EXPECT_EQ(packetBytes(34, 0x8211, Bytes()), readPacket());
    std::vector<DWORD> codesTold = codes(told());
    ASSERT_FALSE(codesTold.empty());
    EXPECT_EQ(ERROR_QUARN_COMM_TRANSFER_ABORTED, codesTold.back());
    EXPECT_EQ(1, std::count(codesTold.begin(), codesTold.end(), ERROR_QUARN_COMM_TRANSFER_ABORTED));
    EXPECT_FALSE(recordListed(id));
    EXPECT_TRUE(folder_.quarnFiles().empty());
    senderGoes();
    EXPECT_TRUE(told().empty());
}

TEST_F(QuarnReceiveAbortTest, ProgressThatReachesNoApplicationGivesTheTransferUpOnce)
{
    AbortingBuild build;
    DWORD id = connectAndOpen();
    ASSERT_NE(0u, id);
    // The application stops watching while the contents flow.
    ASSERT_TRUE(watch_.Delete(APP));
    sendSlowly(packetBytes(0x8022, 0, patternBytes(1 << 20)), 0, 200000, 4);
    EXPECT_EQ(ABORT_PACKET, readPacket());
    EXPECT_TRUE(read(1, 300).empty());
    senderGoes();
    EXPECT_FALSE(recordListed(id));
    EXPECT_TRUE(folder_.quarnFiles().empty());
}

TEST_F(QuarnReceiveAbortTest, AStoredReceiveClosedGoesAtOnceWithItsFile)
{
    AbortingBuild build;
    DWORD id = connectAndOpen();
    ASSERT_NE(0u, id);
    write(packetBytes(0x8022, 0, patternBytes(10000)));
    EXPECT_EQ(packetBytes(34, 0, Bytes()), readPacket());
    std::vector<DWORD> codesTold = codes(told());
    ASSERT_FALSE(codesTold.empty());
    EXPECT_EQ(0x20040164u, codesTold.back());
    std::wstring file;
    ASSERT_TRUE(comm_.FileTransferGetTempName(id, file));
    EXPECT_TRUE(fileExists(file));
    EXPECT_TRUE(comm_.FileTransferClose(id));
    EXPECT_FALSE(fileExists(file));
    EXPECT_FALSE(recordListed(id));
    // Nothing went to the sender, which ends the connection as usual.
    EXPECT_TRUE(read(1, 300).empty());
    senderGoes();
    EXPECT_TRUE(told().empty());
}

TEST_F(QuarnReceiveAbortTest, AConnectionLostUnderWayEndsTheReceiveClosedAndFreesIt)
{
    AbortingBuild build;
    DWORD id = connectAndOpen();
    ASSERT_NE(0u, id);
    sendSlowly(packetBytes(0x8022, 0, patternBytes(1 << 20)), 0, 20000, 1);
    told();
    senderGoes();
    EXPECT_EQ(std::vector<DWORD>({id, ERROR_QUARN_COMM_CONNECTION_CLOSED}), told());
    EXPECT_FALSE(recordListed(id));
    EXPECT_TRUE(folder_.quarnFiles().empty());
}

// The module's build gives nothing up: a close keeps the receive running, progress that
// reaches nobody is dropped, and the connection's end is told as closed, the record staying.
TEST_F(QuarnReceiveAbortTest, TheModulesBuildNeverAborts)
{
    DWORD id = connectAndOpen();
    ASSERT_NE(0u, id);
    EXPECT_TRUE(comm_.FileTransferClose(id));
    Bytes packet = packetBytes(0x8022, 0, patternBytes(1 << 20));
    sendSlowly(packet, 0, 20000, 1);
    EXPECT_TRUE(read(1, 300).empty());
    told();
    ASSERT_TRUE(watch_.Delete(APP));
    sendSlowly(packet, 20000, 200000, 3);
    EXPECT_TRUE(read(1, 300).empty());
    ASSERT_TRUE(watch_.Add(APP, window_.hwnd(), WATCHED));
    senderGoes();
    EXPECT_EQ(std::vector<DWORD>({id, ERROR_QUARN_COMM_CONNECTION_CLOSED}), told());
    EXPECT_TRUE(recordListed(id));
    EXPECT_TRUE(folder_.quarnFiles().empty());
}

} // namespace
