// The node-detect socket inside the test process, with an address table that has the loopback
// only, so that every datagram goes to 127.0.0.1: its own alives come back to it, and sends
// that keep failing do not hold back the datagrams behind them.
#include "CQuarnDataBase.h"
#include "CQuarnNodeDetectSocket.h"
#include "PacketBytes.h"
#include "QuarnCodes.h"
#include "QuarnWire.h"
#include "SocketWindow.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

const UINT NODE_DETECT_MESSAGE = WM_USER;
const DWORD LOOPBACK = 0x0100007F; // 127.0.0.1 in network order
const GUID NODE = {0x0A1B2C3D, 0x4E5F, 0x6071, {0x82, 0x93, 0xA4, 0xB5, 0xC6, 0xD7, 0xE8, 0xF9}};

struct Received {
    WORD type;
    DWORD peer;
    std::vector<BYTE> data;
};

class QuarnNodeDetectSocketTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        socket_.SetAddressSource([](std::vector<CQuarnAddressTable::Row>& rows) {
            rows = {{LOOPBACK, 1, 0x000000FF, 1}};
            return true;
        });
        port_ = freePort();
        ASSERT_TRUE(socket_.Open(window_.hwnd(), NODE_DETECT_MESSAGE, &database_, NODE, port_)) << GetLastError();
        // The layer's owner: a read step and one packet taken, or a write step.
        window_.onMessage(NODE_DETECT_MESSAGE, [this](WPARAM s, LPARAM event) {
            if (s != socket_.GetSocket() || WSAGETSELECTERROR(event) != 0)
                return;
            if (WSAGETSELECTEVENT(event) == FD_WRITE) {
                SetLastError(0);
                if (!socket_.WriteStep() && GetLastError() == WSAEMSGSIZE)
                    ++failedSends_;
                return;
            }
            socket_.ReadStep();
            Received r;
            WORD status;
            DWORD length;
            if (socket_.ReceivePacket(&r.type, &status, &r.peer, &r.data, &length))
                received_.push_back(r);
        });
    }

    void TearDown() override { socket_.Close(); }

    WinsockSession winsock_;
    SocketWindow window_;
    CQuarnDataBase database_;
    CQuarnNodeDetectSocket socket_;
    WORD port_ = 0;
    std::vector<Received> received_;
    int failedSends_ = 0;
};

TEST_F(QuarnNodeDetectSocketTest, ItsOwnAliveComesBackFromLoopback)
{
    ASSERT_TRUE(socket_.RefreshNetworkInformation());
    socket_.RunAliveSchedule(0x01020304);
    ASSERT_TRUE(window_.pumpUntil([this] { return !received_.empty(); }));
    window_.pumpQuiet();
    ASSERT_EQ(received_.size(), 1u);
    EXPECT_EQ(received_[0].type, QUARN_COMM_TYPE_ALIVE);
    EXPECT_EQ(received_[0].peer, LOOPBACK);
    const std::vector<BYTE> expected = {0x0A, 0x1B, 0x2C, 0x3D, 0x4E, 0x5F, 0x60, 0x71, 0x82, 0x93,
                                        0xA4, 0xB5, 0xC6, 0xD7, 0xE8, 0xF9, 0x01, 0x02, 0x03, 0x04};
    EXPECT_EQ(received_[0].data, expected);
    EXPECT_GE(socket_.GetReceiveBufferSize(), 1024u);
    EXPECT_LE(socket_.GetReceiveBufferSize(), CQuarnNodeDetectSocket::LARGEST_DATAGRAM);
}

TEST_F(QuarnNodeDetectSocketTest, OnlyIntactDatagramsOfTheirOwnSizeArrive)
{
    SOCKET sender = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in to = {};
    to.sin_family = AF_INET;
    to.sin_port = htons(port_);
    to.sin_addr.s_addr = LOOPBACK;
    std::vector<BYTE> good = packetBytes(QUARN_COMM_TYPE_ALIVE, 0, std::vector<BYTE>(20, 7));
    std::vector<BYTE> badCrc = good;
    badCrc.back() ^= 1;
    std::vector<BYTE> longer = good;
    longer.push_back(0);
    std::vector<BYTE> shorter(good.begin(), good.end() - 4);
    for (const std::vector<BYTE>* datagram : {&badCrc, &longer, &shorter, &good})
        sendto(sender, reinterpret_cast<const char*>(datagram->data()), static_cast<int>(datagram->size()), 0,
               reinterpret_cast<const sockaddr*>(&to), sizeof(to));
    ASSERT_TRUE(window_.pumpUntil([this] { return !received_.empty(); }));
    window_.pumpQuiet();
    closesocket(sender);
    ASSERT_EQ(received_.size(), 1u);
    EXPECT_EQ(received_[0].data, std::vector<BYTE>(20, 7));
}

TEST_F(QuarnNodeDetectSocketTest, ADatagramThatCannotBeSentIsDroppedAfterAFewTries)
{
    // Larger than any datagram: every send of it fails at once, and nothing leaves.
    std::vector<BYTE> tooLarge(70000, 0x55);
    ASSERT_TRUE(socket_.SendPacket(99, 0, tooLarge.data(), static_cast<DWORD>(tooLarge.size()), false, LOOPBACK));
    ASSERT_TRUE(socket_.RefreshNetworkInformation());
    socket_.RunAliveSchedule(5);
    ASSERT_TRUE(window_.pumpUntil([this] { return !received_.empty(); }));
    window_.pumpQuiet();
    EXPECT_EQ(failedSends_, static_cast<int>(CQuarnNodeDetectSocket::SEND_TRIES));
    EXPECT_EQ(socket_.GetSendQueue().GetFirst(), nullptr);
    ASSERT_EQ(received_.size(), 1u);
    EXPECT_EQ(received_[0].type, QUARN_COMM_TYPE_ALIVE);
}

TEST_F(QuarnNodeDetectSocketTest, ASecondOpenFailsAndLeavesTheSocketWorking)
{
    CQuarnDataBase other;
    SOCKET open = socket_.GetSocket();
    EXPECT_FALSE(socket_.Open(window_.hwnd(), NODE_DETECT_MESSAGE, &other, NODE, freePort()));
    EXPECT_EQ(GetLastError(), ERROR_QUARN_SERVER_BUSY);
    EXPECT_EQ(socket_.GetSocket(), open);
    EXPECT_EQ(socket_.GetDataBase(), &database_);

    CQuarnNodeDetectSocket unused;
    EXPECT_FALSE(unused.Open(window_.hwnd(), NODE_DETECT_MESSAGE, &other, NODE, 0));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_FALSE(unused.RefreshNetworkInformation());
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));

    ASSERT_TRUE(socket_.RefreshNetworkInformation());
    socket_.RunAliveSchedule(0);
    EXPECT_TRUE(window_.pumpUntil([this] { return !received_.empty(); }));
}

TEST_F(QuarnNodeDetectSocketTest, ClosedItForgetsTheDatabaseAndWhatWaited)
{
    ASSERT_TRUE(socket_.RefreshNetworkInformation());
    ASSERT_TRUE(socket_.SendPacket(1, 0, nullptr, 0, false, LOOPBACK));
    socket_.Close();
    EXPECT_EQ(socket_.GetSocket(), INVALID_SOCKET);
    EXPECT_EQ(socket_.GetDataBase(), nullptr);
    EXPECT_EQ(socket_.GetSendQueue().GetFirst(), nullptr);
    EXPECT_FALSE(socket_.GetAddressTable().IsSaved());
    window_.pumpQuiet();
    EXPECT_TRUE(received_.empty());
}

} // namespace
