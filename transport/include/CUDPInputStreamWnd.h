#pragma once
// The hidden window that hears a UDP input stream's socket (WSAAsyncSelect with the registered
// message "NCC_MESSAGE_UDPRECEIVABLE") and tells its observers, the stream, when the socket has
// data. It belongs to the thread that made it, which must run a message loop: without one no
// notification arrives, and the stream's reader never wakes. That thread also deletes it.
#include "CObservable.h"

#include <CWnd.h>

class CUDPInputStreamWnd : public CWnd, public CObservable {
public:
    // Creating the window is vital: failure ends the process.
    CUDPInputStreamWnd();
    ~CUDPInputStreamWnd() override;

    // The registered message's id, the same in every process.
    static UINT getReceivableMessage();

protected:
    static const MessageEntry messageMap[];
    const MessageEntry* GetMessageMap() const override { return messageMap; }
    int OnCreate(CREATESTRUCTA* create);
    void OnDestroy();
    // FD_READ tells the observers; any other event is traced and dropped.
    LRESULT OnSocketEventMsg(WPARAM wParam, LPARAM lParam);
};
