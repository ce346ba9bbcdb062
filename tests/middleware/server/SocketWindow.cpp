#include "SocketWindow.h"

#include "QuarnWire.h"

#include <algorithm>

#include <vector>

namespace {

const wchar_t* const CLASS_NAME = L"QuarnTestSocketWindow";

} // namespace

SocketWindow::SocketWindow()
{
    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = windowProc;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = CLASS_NAME;
    RegisterClassW(&windowClass);
    hwnd_ = CreateWindowW(CLASS_NAME, L"", WS_DISABLED, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT,
                          nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
    SetWindowLongPtrW(hwnd_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
}

SocketWindow::~SocketWindow()
{
    DestroyWindow(hwnd_);
    // Drop what is still queued for the window.
    MSG message;
    while (PeekMessageW(&message, hwnd_, 0, 0, PM_REMOVE)) {
    }
}

void SocketWindow::onMessage(UINT message, std::function<void(WPARAM, LPARAM)> handler)
{
    handlers_[message] = std::move(handler);
}

bool SocketWindow::pumpUntil(const std::function<bool()>& condition, DWORD timeoutMs)
{
    DWORD start = GetTickCount();
    while (!condition()) {
        DWORD elapsed = GetTickCount() - start;
        if (elapsed >= timeoutMs)
            return condition();
        MSG message;
        if (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageW(&message);
        else
            MsgWaitForMultipleObjects(0, nullptr, FALSE, (std::min)(timeoutMs - elapsed, 20ul), QS_ALLINPUT);
    }
    return true;
}

void SocketWindow::pumpQuiet(DWORD quietMs, DWORD timeoutMs)
{
    DWORD start = GetTickCount();
    DWORD lastMessage = start;
    while (GetTickCount() - start < timeoutMs && GetTickCount() - lastMessage < quietMs) {
        MSG message;
        if (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            DispatchMessageW(&message);
            lastMessage = GetTickCount();
        } else {
            MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
        }
    }
}

int SocketWindow::countWaiting(UINT message, SOCKET socket, WORD event)
{
    std::vector<MSG> waiting;
    MSG taken;
    while (PeekMessageW(&taken, hwnd_, message, message, PM_REMOVE))
        waiting.push_back(taken);
    int count = 0;
    for (const MSG& m : waiting) {
        if (m.wParam == static_cast<WPARAM>(socket) && WSAGETSELECTEVENT(m.lParam) == event)
            ++count;
        PostMessageW(hwnd_, m.message, m.wParam, m.lParam);
    }
    return count;
}

LRESULT CALLBACK SocketWindow::windowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    SocketWindow* window = reinterpret_cast<SocketWindow*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (window != nullptr) {
        auto handler = window->handlers_.find(message);
        if (handler != window->handlers_.end()) {
            handler->second(wParam, lParam);
            return 0;
        }
    }
    return DefWindowProcW(hwnd, message, wParam, lParam);
}

WinsockSession::WinsockSession()
{
    WSADATA data;
    WSAStartup(MAKEWORD(2, 0), &data);
}

WinsockSession::~WinsockSession()
{
    WSACleanup();
}

WORD freePort()
{
    SOCKET probe = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    bind(probe, reinterpret_cast<sockaddr*>(&address), sizeof(address));
    int size = sizeof(address);
    getsockname(probe, reinterpret_cast<sockaddr*>(&address), &size);
    closesocket(probe);
    return ntohs(address.sin_port);
}

std::vector<BYTE> readPeer(SocketWindow& window, SOCKET peer, size_t count, DWORD timeoutMs)
{
    std::vector<BYTE> bytes;
    window.pumpUntil(
        [&] {
            char buffer[65536];
            int got = recv(peer, buffer, static_cast<int>((std::min)(sizeof(buffer), count - bytes.size())), 0);
            if (got > 0)
                bytes.insert(bytes.end(), buffer, buffer + got);
            return bytes.size() >= count || got == 0 || (got < 0 && WSAGetLastError() != WSAEWOULDBLOCK);
        },
        timeoutMs);
    return bytes;
}

std::vector<BYTE> readPeerPacket(SocketWindow& window, SOCKET peer, DWORD timeoutMs)
{
    std::vector<BYTE> header = readPeer(window, peer, 8, timeoutMs);
    if (header.size() < 8)
        return header;
    std::vector<BYTE> rest
        = readPeer(window, peer, static_cast<size_t>(QuarnPacketSize(ReadBigEndian32(&header[4]))) - 8, timeoutMs);
    header.insert(header.end(), rest.begin(), rest.end());
    return header;
}
