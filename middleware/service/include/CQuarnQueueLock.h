#pragma once
// The clients' lock on the notification queue: the machine-wide named mutex
// "Global\QUARN_MSGMUTEX", which other processes may hold too, and how often the service
// itself holds it (once at most). No server method takes it. The wait is bounded: the
// service's one thread also serves the stop control and every client.
#include <windows.h>

class CQuarnQueueLock {
public:
    static constexpr const char* MUTEX_NAME = "Global\\QUARN_MSGMUTEX";
    // Long enough for a client that reads a few records, short against COM's call time-outs.
    static constexpr DWORD WAIT_MS = 2000;
    // The success code of a lock taken.
    static constexpr HRESULT S_QUARN_LOCKED = static_cast<HRESULT>(0x200400FF);

    // Opens or creates the mutex (not owned); SYSTEM and Administrators get full access,
    // interactive users what a client needs to wait on and release it.
    CQuarnQueueLock();
    ~CQuarnQueueLock();
    CQuarnQueueLock(const CQuarnQueueLock&) = delete;
    CQuarnQueueLock& operator=(const CQuarnQueueLock&) = delete;

    // Takes the mutex within WAIT_MS (an abandoned one counts as taken): *pLocked 1 and
    // S_QUARN_LOCKED. Held already by the service: at once *pLocked 0 and S_OK. Refused (no
    // mutex, time out, wait failed): *pLocked 0 and a failure.
    HRESULT Lock(LONG* pLocked);
    // Releases it: *pLocked 1 and S_OK; else *pLocked 0 and the failure.
    HRESULT Unlock(LONG* pLocked);
    HANDLE GetHandle() const { return m_hMutex; }
    LONG GetCount() const { return m_count; }

private:
    HANDLE m_hMutex;
    LONG m_count;
};
