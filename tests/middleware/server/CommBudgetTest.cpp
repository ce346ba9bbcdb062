// What one peer can hold of a node: a started layer (without node detection) on loopback,
// driven through its own window, its accept path and its timer tick, against raw sockets of
// the test that announce packets and go quiet, or send alives of made-up identities.
#include "CQuarnComm.h"
#include "CQuarnDataBase.h"
#include "CQuarnSocket.h"
#include "CQuarnSrvCore.h"
#include "MessagePump.h"
#include "SocketWindow.h"

#include <gtest/gtest.h>
#include <psapi.h>

#include <memory>
#include <vector>

namespace {

SIZE_T committedBytes()
{
    PROCESS_MEMORY_COUNTERS_EX counters = {};
    counters.cb = sizeof counters;
    GetProcessMemoryInfo(GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters), sizeof counters);
    // The commit charge: Wine leaves PrivateUsage at 0.
    return counters.PagefileUsage;
}

// 127.0.0.n in network order.
DWORD loopback(BYTE n) { return htonl(0x7F000000u | n); }

class QuarnCommBudgetTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        GUID node = {0x5A5A5A5A, 1, 2, {3, 4, 5, 6, 7, 8, 9, 11}};
        ASSERT_TRUE(comm_.StartWithoutNodeDetection(&core_, &database_, node, freePort())) << GetLastError();
        // The test gives every tick itself.
        KillTimer(comm_.GetWindow(), CQuarnComm::TICK_TIMER);
    }
    void TearDown() override
    {
        for (SOCKET s : peers_)
            closesocket(s);
        comm_.Stop();
    }

    // A blocking connection from 127.0.0.from to the layer; INVALID_SOCKET when it fails.
    SOCKET connectFrom(BYTE from)
    {
        SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        sockaddr_in local = {};
        local.sin_family = AF_INET;
        local.sin_addr.s_addr = loopback(from);
        sockaddr_in to = {};
        to.sin_family = AF_INET;
        to.sin_port = htons(comm_.GetPort());
        to.sin_addr.s_addr = loopback(1);
        if (bind(s, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0
            || connect(s, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0) {
            closesocket(s);
            return INVALID_SOCKET;
        }
        peers_.push_back(s);
        return s;
    }
    // Whether the layer closed the peer's connection: after what it sent (keep-alives), the
    // receive sees the end.
    static bool closedByTheLayer(SOCKET s)
    {
        u_long nonBlocking = 1;
        ioctlsocket(s, FIONBIO, &nonBlocking);
        char bytes[256];
        for (;;) {
            int got = recv(s, bytes, sizeof bytes, 0);
            if (got > 0)
                continue;
            return got == 0 || WSAGetLastError() != WSAEWOULDBLOCK;
        }
    }
    void tick(DWORD ticks)
    {
        for (DWORD i = 0; i < ticks; ++i) {
            comm_.OnTimerTick();
            pumpUntil([] { return false; }, 5, 5);
        }
        pumpUntil([] { return false; }, 100);
    }

    WinsockSession sockets_;
    CQuarnSrvCore core_;
    CQuarnDataBase database_;
    CQuarnComm comm_;
    std::vector<SOCKET> peers_;
};

// 64 connections from four addresses, each an 8-byte header announcing 16 MiB and then
// nothing: a few of 64 KiB steps are held, at most 16 connections per address are kept, and
// all are closed after the idle time.
TEST_F(QuarnCommBudgetTest, AnnouncedPacketsHoldLittleAndQuietConnectionsGo)
{
    const BYTE header[8] = {0x00, 0x11, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00};
    SIZE_T before = committedBytes();
    std::vector<SOCKET> kept;
    for (BYTE from = 1; from <= 4; ++from) {
        for (int i = 0; i < 16; ++i) {
            SOCKET s = connectFrom(from);
            ASSERT_NE(INVALID_SOCKET, s) << "from 127.0.0." << int(from) << ": " << WSAGetLastError();
            ASSERT_EQ(8, send(s, reinterpret_cast<const char*>(header), 8, 0));
            kept.push_back(s);
        }
        ASSERT_TRUE(pumpUntil([&] { return comm_.GetServerConnectionCount() == 16u * from; }, 10000))
            << comm_.GetServerConnectionCount();
    }
    // One more from a full address is refused at once; another address still gets in.
    SOCKET refused = connectFrom(2);
    ASSERT_NE(INVALID_SOCKET, refused);
    EXPECT_TRUE(pumpUntil([&] { return closedByTheLayer(refused); }, 5000));
    SOCKET fifth = connectFrom(5);
    ASSERT_NE(INVALID_SOCKET, fifth);
    ASSERT_EQ(8, send(fifth, reinterpret_cast<const char*>(header), 8, 0));
    EXPECT_TRUE(pumpUntil([&] { return comm_.GetServerConnectionCount() == 65; }, 5000));
    pumpUntil([] { return false; }, 200);
    SIZE_T growth = committedBytes() - before;
    RecordProperty("growth_bytes", std::to_string(growth));
    std::printf("FIGURE announced_16MiB_x64_committed_growth_bytes %llu\n", static_cast<unsigned long long>(growth));
    EXPECT_LT(growth, 64u * 1024 * 1024);

    tick(CQuarnStreamSocket::IDLE_TICKS - 2);
    EXPECT_EQ(65u, comm_.GetServerConnectionCount()) << "not yet idle for the whole time";
    tick(2);
    EXPECT_TRUE(pumpUntil([&] { return comm_.GetServerConnectionCount() == 0; }, 5000))
        << comm_.GetServerConnectionCount();
    for (SOCKET s : kept)
        EXPECT_TRUE(closedByTheLayer(s));
}

// A peer that sends a keep-alive each period stays however long; one that never sent a byte
// goes after the idle time, as a lookup connection without its first reply does.
TEST_F(QuarnCommBudgetTest, APeerThatSendsEachPeriodStaysAndAMuteOneGoes)
{
    SOCKET mute = connectFrom(1);
    SOCKET speaking = connectFrom(2);
    ASSERT_NE(INVALID_SOCKET, mute);
    ASSERT_NE(INVALID_SOCKET, speaking);
    ASSERT_TRUE(pumpUntil([&] { return comm_.GetServerConnectionCount() == 2; }, 5000));
    // A keep-alive packet: header of type 255, no data, its CRC.
    const BYTE keepAlive[12] = {0x00, 0xFF, 0, 0, 0, 0, 0, 0, 0xF3, 0xAD, 0x93, 0xB6};
    for (int period = 0; period < 4; ++period) {
        ASSERT_EQ(12, send(speaking, reinterpret_cast<const char*>(keepAlive), 12, 0));
        pumpUntil([] { return false; }, 50);
        tick(CQuarnStreamSocket::KEEP_ALIVE_TICKS + 1);
    }
    EXPECT_TRUE(pumpUntil([&] { return comm_.GetServerConnectionCount() == 1; }, 5000));
    EXPECT_TRUE(closedByTheLayer(mute));
    EXPECT_FALSE(closedByTheLayer(speaking));
}

std::vector<BYTE> aliveRecord(DWORD identity)
{
    GUID node = {identity, 0x1234, 0x5678, {1, 2, 3, 4, 5, 6, 7, 8}};
    std::vector<BYTE> record;
    CQuarnSocket::AppendGuid(record, node);
    CQuarnSocket::AppendLong(record, 1);
    return record;
}

// Alives of many identities from one address open a few lookup connections to it; another
// address still gets its own.
TEST_F(QuarnCommBudgetTest, AlivesFromOneAddressCannotFillTheLookupTable)
{
    for (DWORD identity = 1; identity <= 1000; ++identity) {
        std::vector<BYTE> record = aliveRecord(identity);
        comm_.OnAlivePacket(record.data(), static_cast<DWORD>(record.size()), loopback(3));
    }
    EXPECT_EQ(CQuarnComm::LOOKUP_CONNECTIONS_PER_ADDRESS, comm_.GetLookupConnectionCount());
    std::vector<BYTE> other = aliveRecord(5000);
    comm_.OnAlivePacket(other.data(), static_cast<DWORD>(other.size()), loopback(4));
    EXPECT_EQ(CQuarnComm::LOOKUP_CONNECTIONS_PER_ADDRESS + 1, comm_.GetLookupConnectionCount());
    EXPECT_EQ(1u, comm_.CountLookupConnectionsTo(loopback(4), 10));
}

} // namespace
