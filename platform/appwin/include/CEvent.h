#pragma once
// An event object, made when the object is constructed and closed with it. A named event is
// shared with every other handle opened under that name.
#include <windows.h>

class CEvent {
public:
    // manualReset: stays signalled until ResetEvent; otherwise one successful wait resets it.
    explicit CEvent(BOOL initiallyOwn = FALSE, BOOL manualReset = FALSE, LPCSTR name = nullptr,
                    LPSECURITY_ATTRIBUTES security = nullptr);
    virtual ~CEvent();
    CEvent(const CEvent&) = delete;
    CEvent& operator=(const CEvent&) = delete;

    BOOL SetEvent();
    BOOL ResetEvent();
    // Waits up to timeout ms; TRUE when the event was signalled.
    BOOL Lock(DWORD timeout = INFINITE);

    operator HANDLE() const { return m_hObject; }

    HANDLE m_hObject;
};
