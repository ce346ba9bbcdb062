// Stream sockets over 127.0.0.1 inside the test process: a hidden window receives their
// events, and the test plays the owner of the communication layer (read step, then at most one
// packet taken; write step; FD_CLOSE ends the socket). The other end is one of ours or a
// plain socket that the test reads and writes byte by byte.
#include "AllocationWatch.h"
#include "CQuarnStreamSocket.h"
#include "PacketBytes.h"
#include "QuarnCodes.h"
#include "QuarnWire.h"
#include "SocketWindow.h"
#include "StreamFeed.h"

#include "TestSupport.h"

#include <gtest/gtest.h>
#include <ws2tcpip.h>

#include <memory>

namespace {

const UINT LISTENING_MESSAGE = WM_USER + 1;
const UINT ACCEPTED_MESSAGE = WM_USER + 2;
const UINT OUTGOING_MESSAGE = WM_USER + 3;
const DWORD LOOPBACK = 0x0100007F; // 127.0.0.1 in network order

// One end of a connection and what its owner took off it.
struct End {
    std::unique_ptr<CQuarnStreamSocket> socket;
    std::vector<Delivered> received;
    // Read steps after which the owner found no packet to report.
    int noPacket = 0;
    bool closed = false;
    // Whether the owner takes a packet after each read step.
    bool take = true;
};

// A plain blocking-free socket on the other end, closed with the object.
class RawPeer {
public:
    explicit RawPeer(SOCKET s) : socket_(s) {}
    ~RawPeer() { closesocket(socket_); }
    SOCKET get() const { return socket_; }

private:
    SOCKET socket_;
};

class QuarnStreamSocketTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        port_ = freePort();
        ASSERT_TRUE(listening_.CreateStream(window_.hwnd(), LISTENING_MESSAGE, port_)) << GetLastError();
        window_.onMessage(LISTENING_MESSAGE, [this](WPARAM socket, LPARAM event) {
            if (socket != listening_.GetSocket() || WSAGETSELECTEVENT(event) != FD_ACCEPT || WSAGETSELECTERROR(event))
                return;
            server_.socket.reset(new CQuarnStreamSocket);
            if (!server_.socket->Accept(window_.hwnd(), ACCEPTED_MESSAGE, listening_))
                server_.socket.reset();
        });
        window_.onMessage(ACCEPTED_MESSAGE, [this](WPARAM socket, LPARAM event) { handle(server_, socket, event); });
        window_.onMessage(OUTGOING_MESSAGE, [this](WPARAM socket, LPARAM event) { handle(client_, socket, event); });
    }

    void handle(End& end, WPARAM socket, LPARAM lParam)
    {
        // An event for a socket already ended is ignored, as the layer's owners do.
        if (!end.socket || end.socket->GetSocket() != socket)
            return;
        bool error = WSAGETSELECTERROR(lParam) != 0;
        switch (WSAGETSELECTEVENT(lParam)) {
        case FD_READ:
            if (!error && end.socket->ReadStep() && end.take)
                takeOne(end);
            break;
        case FD_WRITE:
            if (!error)
                end.socket->WriteStep();
            break;
        case FD_CONNECT:
            if (!error)
                end.socket->OnConnect();
            break;
        case FD_CLOSE:
            end.socket->DestroySocket();
            end.socket.reset();
            end.closed = true;
            break;
        }
    }

    static bool takeOne(End& end)
    {
        Delivered delivered;
        DWORD peer;
        if (!end.socket->ReceivePacket(&delivered.type, &delivered.status, &peer, &delivered.data, &delivered.length)) {
            ++end.noPacket;
            return false;
        }
        end.received.push_back(delivered);
        return true;
    }

    // Connects an outgoing socket of ours to the listening one and waits for both ends.
    void connectClient()
    {
        client_.socket.reset(new CQuarnStreamSocket);
        ASSERT_TRUE(client_.socket->CreateStream(window_.hwnd(), OUTGOING_MESSAGE, 0));
        ASSERT_TRUE(client_.socket->Connect(LOOPBACK, port_));
        ASSERT_TRUE(window_.pumpUntil([this] {
            return client_.socket->IsConnected() && server_.socket && server_.socket->IsConnected();
        }));
        window_.pumpQuiet();
    }

    // A plain socket connected to the listening one, non-blocking, without send delay.
    std::unique_ptr<RawPeer> connectRaw()
    {
        SOCKET s = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address = {};
        address.sin_family = AF_INET;
        address.sin_port = htons(port_);
        address.sin_addr.s_addr = LOOPBACK;
        EXPECT_EQ(0, connect(s, reinterpret_cast<sockaddr*>(&address), sizeof(address)));
        BOOL noDelay = TRUE;
        setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&noDelay), sizeof(noDelay));
        u_long nonBlocking = 1;
        ioctlsocket(s, FIONBIO, &nonBlocking);
        EXPECT_TRUE(window_.pumpUntil([this] { return server_.socket && server_.socket->IsConnected(); }));
        window_.pumpQuiet();
        return std::unique_ptr<RawPeer>(new RawPeer(s));
    }

    void sendRaw(const RawPeer& peer, const std::vector<BYTE>& bytes)
    {
        ASSERT_EQ(static_cast<int>(bytes.size()),
                  send(peer.get(), reinterpret_cast<const char*>(bytes.data()), static_cast<int>(bytes.size()), 0));
    }

    // What the plain socket can read while the window runs: count bytes, or fewer when the
    // time ran out or the connection ended (then *ended is set).
    std::vector<BYTE> readRaw(const RawPeer& peer, size_t count, DWORD timeoutMs, bool* ended = nullptr)
    {
        std::vector<BYTE> bytes;
        bool over = false;
        window_.pumpUntil(
            [&] {
                char buffer[256];
                int got = recv(peer.get(), buffer, static_cast<int>(std::min<size_t>(sizeof(buffer), count - bytes.size())), 0);
                if (got > 0)
                    bytes.insert(bytes.end(), buffer, buffer + got);
                else if (got == 0 || WSAGetLastError() != WSAEWOULDBLOCK)
                    over = true;
                return over || bytes.size() >= count;
            },
            timeoutMs);
        if (ended != nullptr)
            *ended = over;
        return bytes;
    }

    WinsockSession winsock_;
    SocketWindow window_;
    WORD port_ = 0;
    CQuarnStreamSocket listening_;
    End server_;
    End client_;
};

std::vector<BYTE> bytesOfText(const char* text)
{
    return std::vector<BYTE>(text, text + strlen(text));
}

TEST_F(QuarnStreamSocketTest, AcceptAndConnectFillBothEnds)
{
    connectClient();
    EXPECT_EQ(AF_INET, server_.socket->GetPeerAddress().sin_family);
    EXPECT_EQ(LOOPBACK, server_.socket->GetPeerAddress().sin_addr.s_addr);
    EXPECT_EQ(htons(port_), client_.socket->GetPeerAddress().sin_port);
    EXPECT_NE(0u, server_.socket->GetId());
    EXPECT_GT(client_.socket->GetId(), listening_.GetId());

    ASSERT_TRUE(client_.socket->ShutdownSocket(SD_SEND));
    EXPECT_TRUE(client_.socket->IsShutDown());
    ASSERT_TRUE(window_.pumpUntil([this] { return server_.closed; }));
    EXPECT_EQ(nullptr, server_.socket);

    client_.socket->DestroySocket();
    EXPECT_EQ(INVALID_SOCKET, client_.socket->GetSocket());
    EXPECT_FALSE(client_.socket->IsConnected());
}

TEST_F(QuarnStreamSocketTest, TwoSendsGoOutInCallOrderWithOneWriteEventWaiting)
{
    connectClient();
    std::vector<BYTE> first = bytesOfText("first");
    std::vector<BYTE> second = bytesOfText("the second one");
    ASSERT_TRUE(client_.socket->SendPacket(17, 0, first.data(), static_cast<DWORD>(first.size())));
    ASSERT_TRUE(client_.socket->SendPacket(18, ERROR_QUARN_COMMON_INVALID_PATH, second.data(),
                                           static_cast<DWORD>(second.size())));
    EXPECT_EQ(1, window_.countWaiting(OUTGOING_MESSAGE, client_.socket->GetSocket(), FD_WRITE));
    ASSERT_TRUE(window_.pumpUntil([this] { return server_.received.size() == 2; }));
    EXPECT_TRUE(server_.received[0] == deliveredOf(packetBytes(17, 0, first)));
    EXPECT_TRUE(server_.received[1] == deliveredOf(packetBytes(18, 0x8002, second)));
    EXPECT_EQ(nullptr, client_.socket->GetSendQueue().GetFirst());
}

TEST_F(QuarnStreamSocketTest, SixtyOneIdleTicksSendTheKeepAlive)
{
    std::unique_ptr<RawPeer> peer = connectRaw();
    for (int tick = 0; tick < 60; ++tick) {
        server_.socket->KeepAliveTick();
        window_.pumpQuiet(5);
    }
    EXPECT_EQ(0u, server_.socket->GetKeepAliveCountdown());
    EXPECT_TRUE(readRaw(*peer, 1, 50).empty());
    server_.socket->KeepAliveTick();
    EXPECT_EQ("00 FF 00 00 00 00 00 00 F3 AD 93 B6", hexBytes(readRaw(*peer, 12, 5000)));
    EXPECT_EQ(CQuarnStreamSocket::KEEP_ALIVE_TICKS, server_.socket->GetKeepAliveCountdown());
}

TEST_F(QuarnStreamSocketTest, TheOtherEndTakesAKeepAliveAsNoPacket)
{
    connectClient();
    for (int tick = 0; tick < 61; ++tick)
        client_.socket->KeepAliveTick();
    ASSERT_TRUE(window_.pumpUntil([this] { return client_.socket->GetSendQueue().GetFirst() == nullptr; }));
    window_.pumpQuiet();
    std::vector<BYTE> data = bytesOfText("after");
    ASSERT_TRUE(client_.socket->SendPacket(33, 0, data.data(), static_cast<DWORD>(data.size())));
    ASSERT_TRUE(window_.pumpUntil([this] { return !server_.received.empty(); }));
    window_.pumpQuiet();
    ASSERT_EQ(1u, server_.received.size());
    EXPECT_EQ(33, server_.received[0].type);
    EXPECT_GT(server_.noPacket, 0);
}

TEST_F(QuarnStreamSocketTest, CreateOnAnOpenSocketFailsAndLeavesItOpen)
{
    SOCKET before = listening_.GetSocket();
    SetLastError(0);
    EXPECT_FALSE(listening_.Create(window_.hwnd(), LISTENING_MESSAGE, SOCK_STREAM, port_));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), GetLastError());
    EXPECT_EQ(before, listening_.GetSocket());
    EXPECT_FALSE(listening_.CreateStream(window_.hwnd(), LISTENING_MESSAGE, 0));
    EXPECT_EQ(before, listening_.GetSocket());
    // Still listening.
    connectClient();
    EXPECT_FALSE(client_.socket->Create(window_.hwnd(), OUTGOING_MESSAGE, SOCK_DGRAM, 0));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), GetLastError());
    EXPECT_TRUE(client_.socket->IsConnected());
}

TEST_F(QuarnStreamSocketTest, APacketSentOneBytePerSendIsReassembled)
{
    std::unique_ptr<RawPeer> peer = connectRaw();
    std::vector<BYTE> request;
    CQuarnSocket::AppendLong(request, 7);
    CQuarnSocket::AppendPath(request, L"\\Computer Information");
    std::vector<BYTE> first = packetBytes(17, 0, request);
    std::vector<BYTE> second = bytesOf("00 11 00 00 00 00 00 05 61 62 63 64 65 00 00 00 A7 37 57 93");
    std::vector<BYTE> stream = first;
    stream.insert(stream.end(), second.begin(), second.end());
    for (BYTE byte : stream) {
        sendRaw(*peer, {byte});
        window_.pumpQuiet(2, 50);
    }
    ASSERT_TRUE(window_.pumpUntil([this] { return server_.received.size() == 2; }));
    EXPECT_TRUE(server_.received[0] == deliveredOf(first));
    EXPECT_TRUE(server_.received[1] == deliveredOf(second));
}

TEST_F(QuarnStreamSocketTest, AHeaderAnnouncingFourGigabytesClosesTheConnectionWithoutAllocating)
{
    std::unique_ptr<RawPeer> peer = connectRaw();
    AllocationWatch watch;
    sendRaw(*peer, bytesOf("00 11 00 00 FF FF FF FF"));
    ASSERT_TRUE(window_.pumpUntil([this] { return server_.closed; }));
    EXPECT_LT(watch.largest(), size_t(64 * 1024));
    bool ended = false;
    readRaw(*peer, 1, 5000, &ended);
    EXPECT_TRUE(ended);
    EXPECT_TRUE(server_.received.empty());
}

// Packets altered in one byte are dropped without a word; the connection carries on. (The
// length bytes are left alone here: a length that changes the frame cannot be told from a true
// one; the reassembly's own test shows what becomes of those.)
TEST_F(QuarnStreamSocketTest, AnAlteredPacketIsDroppedSilentlyAndTheNextArrives)
{
    std::unique_ptr<RawPeer> peer = connectRaw();
    std::vector<BYTE> good = bytesOf("00 11 00 00 00 00 00 05 61 62 63 64 65 00 00 00 A7 37 57 93");
    std::vector<size_t> altered = {0, 1, 2, 3, 8, 12, 13, 15, 16, 19};
    for (size_t at : altered) {
        std::vector<BYTE> bad = good;
        bad[at] ^= 0x10;
        sendRaw(*peer, bad);
        sendRaw(*peer, good);
    }
    ASSERT_TRUE(window_.pumpUntil([&] { return server_.received.size() == altered.size(); }));
    window_.pumpQuiet();
    ASSERT_EQ(altered.size(), server_.received.size());
    for (const Delivered& delivered : server_.received)
        EXPECT_TRUE(delivered == deliveredOf(good));
    EXPECT_TRUE(readRaw(*peer, 1, 100).empty());
    EXPECT_FALSE(server_.closed);
}

// The owner takes no packets: reading stops once the receive queue is full, and resumes as the
// owner takes them; nothing is lost or reordered.
TEST_F(QuarnStreamSocketTest, AFullReceiveQueueHoldsReadingBack)
{
    connectClient();
    server_.take = false;
    const DWORD COUNT = CQuarnSocket::RECEIVE_QUEUE_LIMIT + 8;
    for (DWORD i = 0; i < COUNT; ++i) {
        std::vector<BYTE> data;
        CQuarnSocket::AppendLong(data, i);
        ASSERT_TRUE(client_.socket->SendPacket(17, 0, data.data(), static_cast<DWORD>(data.size())));
    }
    ASSERT_TRUE(window_.pumpUntil([this] {
        return server_.socket->GetReceiveQueue().CountUpTo(100) == CQuarnSocket::RECEIVE_QUEUE_LIMIT;
    }));
    window_.pumpQuiet();
    EXPECT_EQ(CQuarnSocket::RECEIVE_QUEUE_LIMIT, server_.socket->GetReceiveQueue().CountUpTo(100));
    server_.take = true;
    ASSERT_TRUE(window_.pumpUntil([&] {
        takeOne(server_);
        return server_.received.size() == COUNT;
    }));
    for (DWORD i = 0; i < COUNT; ++i)
        EXPECT_EQ(i, ReadBigEndian32(server_.received[i].data.data()));
}

// A peer that sends requests but reads no replies: with the send queue full, the read step
// takes nothing from the network; once replies drain, the request is read.
TEST_F(QuarnStreamSocketTest, AFullSendQueueHoldsReadingBack)
{
    std::unique_ptr<RawPeer> peer = connectRaw();
    for (size_t i = 0; i < CQuarnSocket::SEND_QUEUE_LIMIT; ++i)
        ASSERT_TRUE(server_.socket->SendPacket(17, 0, nullptr, 0));
    std::vector<BYTE> request = bytesOf("00 11 00 00 00 00 00 05 61 62 63 64 65 00 00 00 A7 37 57 93");
    sendRaw(*peer, request);
    u_long waiting = 0;
    for (int i = 0; i < 500 && waiting < request.size(); ++i) {
        Sleep(2);
        ioctlsocket(server_.socket->GetSocket(), FIONREAD, &waiting);
    }
    ASSERT_EQ(request.size(), waiting);
    for (int i = 0; i < 3; ++i)
        EXPECT_TRUE(server_.socket->ReadStep());
    ioctlsocket(server_.socket->GetSocket(), FIONREAD, &waiting);
    EXPECT_EQ(request.size(), waiting);
    EXPECT_EQ(nullptr, server_.socket->GetPacketUnderWay());

    std::vector<BYTE> replies = readRaw(*peer, 12 * CQuarnSocket::SEND_QUEUE_LIMIT, 10000);
    EXPECT_EQ(12 * CQuarnSocket::SEND_QUEUE_LIMIT, replies.size());
    ASSERT_TRUE(window_.pumpUntil([this] { return server_.received.size() == 1; }));
    EXPECT_TRUE(server_.received[0] == deliveredOf(request));
}

TEST_F(QuarnStreamSocketTest, AFileHeaderWithoutAFilePacketClosesTheConnection)
{
    std::unique_ptr<RawPeer> peer = connectRaw();
    sendRaw(*peer, bytesOf("80 22 00 00 00 00 00 00 D0 75 88 C1"));
    ASSERT_TRUE(window_.pumpUntil([this] { return server_.closed; }));
    EXPECT_TRUE(server_.received.empty());
}

} // namespace
