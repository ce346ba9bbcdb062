#pragma once
// A hidden window with its own message loop on the test's thread, standing in for the
// communication window: socket events arrive on it as messages, and the test pumps them.
#include <winsock2.h>

#include <functional>
#include <map>
#include <vector>

class SocketWindow {
public:
    SocketWindow();
    ~SocketWindow();
    SocketWindow(const SocketWindow&) = delete;
    SocketWindow& operator=(const SocketWindow&) = delete;

    HWND hwnd() const { return hwnd_; }
    // Messages of this number go to the handler with their wParam and lParam.
    void onMessage(UINT message, std::function<void(WPARAM, LPARAM)> handler);
    // Dispatches messages until the condition holds; false when it still fails after the time.
    bool pumpUntil(const std::function<bool()>& condition, DWORD timeoutMs = 10000);
    // Dispatches messages until none has come for quietMs (at most timeoutMs in all).
    void pumpQuiet(DWORD quietMs = 100, DWORD timeoutMs = 5000);
    // How many messages of this number for the socket and event wait in the queue now; they
    // stay waiting, in their order.
    int countWaiting(UINT message, SOCKET socket, WORD event);

private:
    static LRESULT CALLBACK windowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

    HWND hwnd_;
    std::map<UINT, std::function<void(WPARAM, LPARAM)>> handlers_;
};

// Windows Sockets started for the object's life.
class WinsockSession {
public:
    WinsockSession();
    ~WinsockSession();
    WinsockSession(const WinsockSession&) = delete;
    WinsockSession& operator=(const WinsockSession&) = delete;
};

// A TCP port that nothing listens on now.
WORD freePort();

// Reads count bytes from a plain non-blocking socket of the test while the window runs (fewer
// when the connection ended or the time is up).
std::vector<BYTE> readPeer(SocketWindow& window, SOCKET peer, size_t count, DWORD timeoutMs = 10000);
// One whole packet (its data part read to the length field) the same way.
std::vector<BYTE> readPeerPacket(SocketWindow& window, SOCKET peer, DWORD timeoutMs = 10000);
