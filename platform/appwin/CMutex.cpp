#include "CMutex.h"

CMutex::CMutex(BOOL initiallyOwn, LPCSTR name, LPSECURITY_ATTRIBUTES security)
    : m_hObject(CreateMutexA(security, initiallyOwn, name)) {}

CMutex::~CMutex() {
    if (m_hObject)
        CloseHandle(m_hObject);
}

BOOL CMutex::Lock(DWORD timeout) {
    if (!m_hObject)
        return FALSE;
    DWORD result = WaitForSingleObject(m_hObject, timeout);
    return result == WAIT_OBJECT_0 || result == WAIT_ABANDONED;
}

BOOL CMutex::Unlock() {
    return m_hObject && ReleaseMutex(m_hObject);
}
