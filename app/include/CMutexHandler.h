#pragma once
// A named mutex that at most one process holds: the refused second instance that holds it is the
// one that tells the user why it does not start.
#include <windows.h>

#include <string>

class CMutexHandler {
public:
    explicit CMutexHandler(std::string name);
    ~CMutexHandler();
    CMutexHandler(const CMutexHandler&) = delete;
    CMutexHandler& operator=(const CMutexHandler&) = delete;

    // True when this call made the mutex and owns it. A handle to a mutex that existed already
    // is kept too, until Unlock.
    bool Lock();
    void Unlock();

private:
    HANDLE mutex_;
    std::string name_;
};
