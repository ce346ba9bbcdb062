#pragma once
// A named mutex, made when the object is constructed (a static object: at load) and closed with
// it. Other processes open the same mutex by its name.
#include <windows.h>

class CMutex {
public:
    // initiallyOwn: the constructing thread owns it at once (when this call made it).
    explicit CMutex(BOOL initiallyOwn = FALSE, LPCSTR name = nullptr, LPSECURITY_ATTRIBUTES security = nullptr);
    ~CMutex();
    CMutex(const CMutex&) = delete;
    CMutex& operator=(const CMutex&) = delete;

    // Waits up to timeout ms; TRUE when the calling thread owns the mutex. A mutex whose owner
    // ended without releasing it (abandoned) counts as taken: its owner is gone for good.
    BOOL Lock(DWORD timeout = INFINITE);
    BOOL Unlock();

    HANDLE m_hObject;
};
