#include "CQuarnCountedMutex.h"

CQuarnCountedMutex::CQuarnCountedMutex() : m_lockCount(0), m_owner(0), m_hMutex(CreateMutexW(nullptr, FALSE, nullptr)) {}

CQuarnCountedMutex::~CQuarnCountedMutex()
{
    if (m_hMutex != nullptr)
        CloseHandle(m_hMutex);
}

bool CQuarnCountedMutex::Lock(DWORD timeoutMs)
{
    DWORD result = WaitForSingleObject(m_hMutex, timeoutMs);
    if (result != WAIT_OBJECT_0 && result != WAIT_ABANDONED) {
        if (result == WAIT_TIMEOUT)
            SetLastError(WAIT_TIMEOUT);
        return false;
    }
    m_owner = GetCurrentThreadId();
    ++m_lockCount;
    return true;
}

bool CQuarnCountedMutex::Unlock()
{
    if (m_owner != GetCurrentThreadId()) {
        // Not ours: the platform's release fails and says why.
        return ReleaseMutex(m_hMutex) != FALSE;
    }
    LONG count = m_lockCount--;
    if (count == 1)
        m_owner = 0;
    if (!ReleaseMutex(m_hMutex)) {
        DWORD error = GetLastError();
        m_lockCount = count;
        m_owner = GetCurrentThreadId();
        SetLastError(error);
        return false;
    }
    return true;
}

bool CQuarnCountedMutex::IsHeldByCaller()
{
    if (!Lock(0))
        return false;
    LONG count = m_lockCount;
    Unlock();
    return count > 1;
}
