#pragma once
// A platform mutex that its holder may take again, with the count of its takes: the core lock
// and the database lock. Only the holder changes the count; another thread's release fails as
// the platform's does.
#include <windows.h>

#include <atomic>

class CQuarnCountedMutex {
public:
    CQuarnCountedMutex();
    ~CQuarnCountedMutex();
    CQuarnCountedMutex(const CQuarnCountedMutex&) = delete;
    CQuarnCountedMutex& operator=(const CQuarnCountedMutex&) = delete;

    // Waits for the mutex; on a time-out the last error is WAIT_TIMEOUT.
    bool Lock(DWORD timeoutMs);
    bool Unlock();
    // Whether the calling thread holds it already (it is taken and let go once to tell).
    bool IsHeldByCaller();

private:
    // Takes minus releases; changed only by the thread that holds the mutex.
    LONG m_lockCount;
    // The thread that holds it, 0 when none.
    std::atomic<DWORD> m_owner;
    HANDLE m_hMutex;
};
