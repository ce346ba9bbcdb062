// The UDP block streams over loopback: one datagram a block up to the largest a datagram can
// carry, the port search and its wrap, the reader's sleep and wake-ups by the window, close,
// and the datagrams that must not end the reception (too long for the buffer, empty).
#include "SessionTestKit.h"

#include "CUDPInputStream.h"
#include "CUDPInputStreamWnd.h"
#include "CUDPOutputStream.h"

#include <gtest/gtest.h>

#include <future>
#include <memory>

namespace {

using Bytes = std::vector<unsigned char>;

const int LARGEST_DATAGRAM = 65507; // what one UDP datagram over IPv4 carries

Bytes pattern(size_t size, unsigned seed = 1)
{
    Bytes bytes(size);
    for (size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<unsigned char>(seed * 31u + i * 7u + (i >> 8));
    return bytes;
}

// An input stream made, closed and deleted on a loop thread, as the session handle's thread
// does it.
class StreamOnLoop {
public:
    StreamOnLoop()
    {
        loop.run([&] { stream = new CUDPInputStream(&port); });
    }
    ~StreamOnLoop()
    {
        loop.run([&] {
            stream->close();
            delete stream;
        });
    }
    HWND window() { return loop.findWindow("CUDPInputStreamWnd"); }
    // A socket notification as Windows Sockets posts it.
    void notify(int event) { notifyAs(stream->getSocket(), event); }
    void notifyAs(SOCKET socket, int event)
    {
        PostMessageA(window(), CUDPInputStreamWnd::getReceivableMessage(), socket, WSAMAKESELECTREPLY(event, 0));
    }

    LoopThread loop;
    CUDPInputStream* stream = nullptr;
    int port = 0;
};

// One read on a thread of its own; the bytes are copied before the next read.
class Reader {
public:
    explicit Reader(CUDPInputStream& stream)
        : result_(std::async(std::launch::async, [input = &stream] {
              const unsigned char* block = nullptr;
              int size = input->read(&block);
              return size > 0 ? Bytes(block, block + size) : Bytes();
          }))
    {
    }
    bool returnedWithin(DWORD ms) { return result_.wait_for(std::chrono::milliseconds(ms)) == std::future_status::ready; }
    Bytes get() { return result_.get(); }

private:
    std::future<Bytes> result_;
};

Bytes readOne(CUDPInputStream& stream)
{
    Reader reader(stream);
    EXPECT_TRUE(reader.returnedWithin(10000)) << "no datagram came";
    if (!reader.returnedWithin(0)) {
        stream.close(); // so that the reader ends; the test has failed
    }
    return reader.get();
}

class UDPStreamTest : public testing::Test {
protected:
    WinsockUse winsock;
    TempDir dir;
};

} // namespace

TEST_F(UDPStreamTest, TheLargestDatagramArrivesWholeAndOneByteMoreFailsInSendto)
{
    StreamOnLoop input;
    TraceCapture trace;
    CUDPOutputStream output;
    int sendable = CUDPOutputStream::getSendableSize();
    printf("sendable size %d, receive buffer %d\n", sendable, CUDPInputStream::getReceiveBufferSize());
    ASSERT_GT(sendable, LARGEST_DATAGRAM) << "the send buffer is the sendable size";
    ASSERT_GE(CUDPInputStream::getReceiveBufferSize(), LARGEST_DATAGRAM);
    output.setAddress("127.0.0.1", input.port);

    Bytes largest = pattern(LARGEST_DATAGRAM);
    output.write(largest.data(), static_cast<int>(largest.size()));
    EXPECT_EQ(largest, readOne(*input.stream));

    Bytes tooLong = pattern(LARGEST_DATAGRAM + 1, 2);
    output.write(tooLong.data(), static_cast<int>(tooLong.size()));
    EXPECT_EQ(1, trace.count("the UDP send failed: WSAEMSGSIZE")) << trace.text();
    Bytes beyondSendable = pattern(static_cast<size_t>(sendable) + 1, 3);
    output.write(beyondSendable.data(), static_cast<int>(beyondSendable.size()));
    EXPECT_EQ(1, trace.count("exceeds the largest sendable size and cannot be sent: " + std::to_string(sendable + 1)
                             + " bytes asked, " + std::to_string(sendable) + " at most"));
    EXPECT_EQ(1, trace.count("the UDP send failed")) << "the block beyond the sendable size never reached sendto";

    Bytes after = pattern(10, 4);
    output.write(after.data(), static_cast<int>(after.size()));
    EXPECT_EQ(after, readOne(*input.stream)) << "neither of the two blocks arrived";
}

TEST_F(UDPStreamTest, ThePortSearchWrapsFromTheLastPortToTheFirst)
{
    const int START = 65000;
    // Every port from the start to the top is taken (by these sockets, or by others).
    std::vector<SOCKET> taken;
    for (int port = START; port <= CUDPInputStream::LAST_PORT; ++port) {
        SOCKET s = socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in local = {};
        local.sin_family = AF_INET;
        local.sin_addr.s_addr = htonl(INADDR_ANY);
        local.sin_port = htons(static_cast<u_short>(port));
        bind(s, reinterpret_cast<sockaddr*>(&local), sizeof local);
        taken.push_back(s);
    }
    CUDPInputStream::setStartPort(START);
    TraceCapture trace;
    {
        StreamOnLoop input;
        EXPECT_GE(input.port, CUDPInputStream::FIRST_PORT);
        EXPECT_LT(input.port, START);
        EXPECT_EQ(1, trace.count("the port search starts at 65000"));
        for (int port : {START, START + 1, CUDPInputStream::LAST_PORT})
            EXPECT_EQ(1, trace.count("bind failed on port " + std::to_string(port) + ",")) << port;
        // From the top it went on at the first port: what it tried there was taken by others.
        for (int port = CUDPInputStream::FIRST_PORT; port < input.port; ++port)
            EXPECT_EQ(1, trace.count("bind failed on port " + std::to_string(port) + ",")) << port;
        EXPECT_EQ(0, trace.count("bind failed on port " + std::to_string(input.port) + ","));
    }
    CUDPInputStream::setStartPort(-1);
    for (SOCKET s : taken)
        closesocket(s);
}

TEST_F(UDPStreamTest, CloseWakesAWaitingReaderAndEveryReadAfterItReturnsNothingAtOnce)
{
    StreamOnLoop input;
    Reader waiting(*input.stream);
    EXPECT_FALSE(waiting.returnedWithin(300)) << "no datagram was sent";
    input.stream->close();
    ASSERT_TRUE(waiting.returnedWithin(5000));
    EXPECT_TRUE(waiting.get().empty());

    // A datagram that waits on the socket is not read any more.
    CUDPOutputStream output;
    output.setAddress("127.0.0.1", input.port);
    Bytes bytes = pattern(20);
    output.write(bytes.data(), static_cast<int>(bytes.size()));
    Sleep(100);
    for (int i = 0; i < 3; ++i) {
        Reader after(*input.stream);
        ASSERT_TRUE(after.returnedWithin(1000));
        EXPECT_TRUE(after.get().empty());
    }
    EXPECT_FALSE(input.stream->isReceivable());
}

TEST_F(UDPStreamTest, OnlyAReadableNotificationWakesTheReaderAndNoneReachesAClosedStream)
{
    StreamOnLoop input;
    ASSERT_NE(nullptr, input.window());
    TraceCapture trace;
    Reader waiting(*input.stream);
    ASSERT_TRUE(waitUntil([&] { return trace.count("read(): the socket has no data, waiting") >= 1; }));

    input.notify(FD_CLOSE);
    ASSERT_TRUE(waitUntil([&] { return trace.count("not a readable event, nobody is told") == 1; }));
    Sleep(200);
    EXPECT_EQ(0, trace.count(" update(): called"));
    EXPECT_EQ(0, trace.count("read(): woken"));

    // Woken without data: it looks, finds none and waits again.
    input.notify(FD_READ);
    ASSERT_TRUE(waitUntil([&] { return trace.count("read(): the socket has no data, waiting") >= 2; }));
    EXPECT_EQ(1, trace.count(" update(): called"));
    EXPECT_EQ(1, trace.count("read(): woken"));
    EXPECT_FALSE(waiting.returnedWithin(200));

    input.stream->close();
    ASSERT_TRUE(waiting.returnedWithin(5000));
    EXPECT_TRUE(waiting.get().empty());
    input.notify(FD_READ);
    ASSERT_TRUE(waitUntil([&] { return trace.count("the observers were told that the socket can be read") == 2; }));
    EXPECT_EQ(1, trace.count(" update(): called")) << "the closed stream is no observer any more";
}

TEST_F(UDPStreamTest, NotificationsOfAnotherSocketOrOfAnUnknownEventAreAnErrorLineEachAndWakeNobody)
{
    // The message is registered by name: any program on the desktop can post it.
    StreamOnLoop input;
    ASSERT_NE(nullptr, input.window());
    TraceCapture trace;
    Reader waiting(*input.stream);
    ASSERT_TRUE(waitUntil([&] { return trace.count("read(): the socket has no data, waiting") >= 1; }));
    input.notifyAs(input.stream->getSocket() + 4, FD_READ);
    input.notifyAs(0, FD_READ);
    input.notify(FD_OOB);
    input.notify(0);
    input.loop.run([] {});
    EXPECT_EQ(2, trace.count("not this stream's, is dropped")) << trace.text();
    EXPECT_EQ(2, trace.count("is unknown, it is dropped"));
    EXPECT_EQ(4, trace.count("ERROR: [ CUDPInputStreamWnd ] OnSocketEventMsg()"));
    EXPECT_EQ(0, trace.count(" update(): called"));

    // The stream goes on: a datagram still arrives.
    CUDPOutputStream output;
    output.setAddress("127.0.0.1", input.port);
    Bytes bytes = pattern(12);
    output.write(bytes.data(), static_cast<int>(bytes.size()));
    ASSERT_TRUE(waiting.returnedWithin(5000));
    EXPECT_EQ(bytes, waiting.get());
}

TEST_F(UDPStreamTest, ADatagramTooLongForTheBufferIsSkippedAndTheNextOneIsRead)
{
    CUDPInputStream::setReceiveBufferSize(100);
    {
        StreamOnLoop input;
        TraceCapture trace;
        RawUdp peer;
        peer.sendTo(input.port, pattern(101));
        peer.sendTo(input.port, pattern(100, 2));
        EXPECT_EQ(pattern(100, 2), readOne(*input.stream));
        EXPECT_EQ(1, trace.count("the UDP receive failed, the datagram is skipped: WSAEMSGSIZE")) << trace.text();

        peer.sendTo(input.port, pattern(500, 3));
        peer.sendTo(input.port, pattern(7, 4));
        EXPECT_EQ(pattern(7, 4), readOne(*input.stream));
        EXPECT_TRUE(input.stream->isReceivable());
    }
    CUDPInputStream::setReceiveBufferSize(-1);
}

TEST_F(UDPStreamTest, AnEmptyDatagramIsSkippedNotTakenForTheEndOfInput)
{
    StreamOnLoop input;
    TraceCapture trace;
    CUDPOutputStream output;
    output.setAddress("127.0.0.1", input.port);
    unsigned char none = 0;
    output.write(&none, 0);
    Bytes bytes = pattern(5);
    output.write(bytes.data(), static_cast<int>(bytes.size()));
    EXPECT_EQ(bytes, readOne(*input.stream));
    EXPECT_EQ(1, trace.count("a datagram of no bytes is skipped"));
}

TEST_F(UDPStreamTest, TheDestinationIsResolvedOnceForEachAddressSet)
{
    RawUdp first, second;
    CUDPOutputStream output;
    TraceCapture trace;
    Bytes bytes = pattern(33);
    Bytes got;
    output.setAddress("127.0.0.1", first.port());
    output.write(bytes.data(), static_cast<int>(bytes.size()));
    ASSERT_TRUE(first.receive(got, 5000));
    EXPECT_EQ(bytes, got);

    // Resolved here without asking any name server: a label longer than 63 characters.
    // Dotted text is no name: nothing is asked of the resolver.
    EXPECT_EQ(0, trace.count("gethostbyname")) << trace.text();
    output.setAddress(std::string(70, 'x') + ".invalid", second.port());
    output.write(bytes.data(), static_cast<int>(bytes.size()));
    output.write(bytes.data(), static_cast<int>(bytes.size()));
    EXPECT_EQ(2, trace.count("cannot be resolved, nothing is sent"));
    EXPECT_EQ(1, trace.count("gethostbyname does not know")) << "one lookup for the name, not one per datagram";

    // The low 16 bits of the port number are the port.
    output.setAddress("127.0.0.1", 0x50000 + second.port());
    output.write(bytes.data(), static_cast<int>(bytes.size()));
    ASSERT_TRUE(second.receive(got, 5000));
    EXPECT_EQ(bytes, got);
    EXPECT_FALSE(first.receive(got, 200));
}
