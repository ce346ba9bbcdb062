#pragma once
// The hidden window that hears a UDP input stream's socket (WSAAsyncSelect with the registered
// message "NCC_MESSAGE_UDPRECEIVABLE") and tells its observers, the stream, when the socket has
// data. It belongs to the thread that made it, which must run a message loop: without one no
// notification arrives, and the stream's reader never wakes. That thread also deletes it.
#include <winsock2.h>

#include "CObservable.h"

#include <CWnd.h>

class CUDPInputStreamWnd : public CWnd, public CObservable {
public:
    // Creating the window is vital: failure ends the process.
    CUDPInputStreamWnd();
    ~CUDPInputStreamWnd() override;

    // The registered message's id, the same in every process.
    static UINT getReceivableMessage();
    // The socket whose events are taken; events that name another are dropped with an error.
    void setSocket(SOCKET socket);

protected:
    static const MessageEntry messageMap[];
    const MessageEntry* GetMessageMap() const override { return messageMap; }
    int OnCreate(CREATESTRUCTA* create);
    void OnDestroy();
    // FD_READ of the socket tells the observers, FD_CLOSE is traced; anything else is an
    // error line, and dropped.
    LRESULT OnSocketEventMsg(WPARAM wParam, LPARAM lParam);

private:
    SOCKET socket_;
};
