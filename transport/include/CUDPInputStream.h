#pragma once
// Gives each UDP datagram that reaches a socket on a local port of its own choice as one block.
// The reader (the receive thread of a message connection) sleeps until the notification window
// tells that the socket has data; close ends the reading for good.
//
// Made and deleted on a thread that runs a message loop (the window is that thread's). A
// receive error or an empty datagram is traced and skipped; only close makes read return 0.
//
// Locks: the window's monitor (around update), then RECEIVE_LOCK, then the receivable lock.
#include "CJObject.h"
#include "CUDPInputStreamWnd.h"
#include "IInputStream.h"
#include "IObserver.h"

#include <winsock2.h>

class CUDPInputStream : public virtual IInputStream, public virtual IObserver {
public:
    // The ports the search for a free one runs through, wrapping from the last to the first.
    static constexpr int FIRST_PORT = 10000;
    static constexpr int LAST_PORT = 65535;
    static constexpr int PORT_COUNT = LAST_PORT - FIRST_PORT + 1;
    // After a receive error the reader looks again this late at the latest (or when woken):
    // an error that keeps coming without data never makes it spin.
    static constexpr DWORD ERROR_PAUSE_MS = 50;

    // Binds the socket to the first free port from a random start (wrapping past LAST_PORT
    // to FIRST_PORT) and writes it to portOut. Failures to make the socket, the window, the
    // buffer or the notification end the process, as does finding no free port.
    explicit CUDPInputStream(int* portOut);
    ~CUDPInputStream() override;
    CUDPInputStream(const CUDPInputStream&) = delete;
    CUDPInputStream& operator=(const CUDPInputStream&) = delete;

    // Blocks until a datagram is there (block points at its bytes, valid until the next read;
    // the result is their number) or until close (0).
    int read(const unsigned char** block) override;
    // The socket whose notifications the window takes (what Windows Sockets puts in wParam).
    SOCKET getSocket() const { return socket_; }
    // The window's notification, on its thread: wakes the reader.
    void update(CObservable* source, std::string argument) override;
    // Ends reading for good and wakes the reader; may be called from any thread.
    void close();
    bool isReceivable();
    void setReceivable(bool receivable);
    // Whether a datagram waits on the socket (a poll).
    bool hasData();
    int getPort() const { return portNum_; }

    // Test seams. The start of the port search (-1: random, as in use); the receive buffer of
    // the streams made from now on (-1: learnt from the next socket's SO_RCVBUF, as in use),
    // so that a datagram can be longer than the buffer.
    static void setStartPort(int port);
    static void setReceiveBufferSize(int size);
    static int getReceiveBufferSize();

private:
    int choosePort();

    CUDPInputStreamWnd window_; // first: the socket's notifications go to it
    int portNum_;
    SOCKET socket_;
    unsigned char* buffer_;
    int bufferSize_;
    CJObject RECEIVE_LOCK_;
    bool receivable_; // receivableLock_
    CJObject receivableLock_;
};
