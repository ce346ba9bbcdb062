#include "CUDPInputStreamWnd.h"

#include "CTrace.h"

#include <winsock2.h>

namespace {

const char SCOPE[] = "CUDPInputStreamWnd";

// Obtained once, at program start-up.
UINT g_receivableMessage = RegisterWindowMessageA("NCC_MESSAGE_UDPRECEIVABLE");

} // namespace

const CWnd::MessageEntry CUDPInputStreamWnd::messageMap[] = {
    on<WM_CREATE, &CUDPInputStreamWnd::OnCreate>(),
    on<WM_DESTROY, &CUDPInputStreamWnd::OnDestroy>(),
    onRegistered<&g_receivableMessage, &CUDPInputStreamWnd::OnSocketEventMsg>(),
    endOfMap(CWnd::messageMap),
};

CUDPInputStreamWnd::CUDPInputStreamWnd() : socket_(INVALID_SOCKET)
{
    LPCSTR windowClass = RegisterWndClass(CS_GLOBALCLASS);
    if (windowClass == nullptr
        || !CreateEx(0, windowClass, "CUDPInputStreamWnd", 0, 0, 0, 0, 0, nullptr, nullptr))
        CTrace::scopedFatalError(SCOPE, " CUDPInputStreamWnd(): the dummy window cannot be made, error "
                                            + std::to_string(GetLastError()),
                                 -1);
}

CUDPInputStreamWnd::~CUDPInputStreamWnd()
{
}

UINT CUDPInputStreamWnd::getReceivableMessage()
{
    return g_receivableMessage;
}

int CUDPInputStreamWnd::OnCreate(CREATESTRUCTA*)
{
    CTrace::trace(SCOPE, " OnCreate()", 0);
    return 0;
}

void CUDPInputStreamWnd::OnDestroy()
{
    CTrace::trace(SCOPE, " OnDestroy()", 0);
}

void CUDPInputStreamWnd::setSocket(SOCKET socket)
{
    socket_ = socket;
}

LRESULT CUDPInputStreamWnd::OnSocketEventMsg(WPARAM wParam, LPARAM lParam)
{
    // The message is registered, so any program can post it: only our socket's events count.
    if (static_cast<SOCKET>(wParam) != socket_) {
        CTrace::scopedError(SCOPE, " OnSocketEventMsg(): an event of socket " + std::to_string(wParam)
                                       + ", not this stream's, is dropped",
                            -1);
        return 0;
    }
    long event = WSAGETSELECTEVENT(lParam);
    if (event != FD_READ && event != FD_CLOSE) {
        CTrace::scopedError(SCOPE, " OnSocketEventMsg(): the event " + std::to_string(event) + " is unknown, it is"
                                   " dropped",
                            -1);
        return 0;
    }
    CTrace::trace(SCOPE, " OnSocketEventMsg(): event " + std::to_string(WSAGETSELECTEVENT(lParam)) + ", error "
                             + std::to_string(WSAGETSELECTERROR(lParam)),
                  0);
    if (WSAGETSELECTEVENT(lParam) == FD_READ) {
        notifyObservers("");
        CTrace::trace(SCOPE, " OnSocketEventMsg(): the observers were told that the socket can be read", 0);
    } else {
        CTrace::trace(SCOPE, " OnSocketEventMsg(): not a readable event, nobody is told", 0);
    }
    return 0;
}
