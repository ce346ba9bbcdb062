#include "CEvent.h"

CEvent::CEvent(BOOL initiallyOwn, BOOL manualReset, LPCSTR name, LPSECURITY_ATTRIBUTES security)
    : m_hObject(CreateEventA(security, manualReset, initiallyOwn, name)) {}

CEvent::~CEvent() {
    if (m_hObject)
        CloseHandle(m_hObject);
}

BOOL CEvent::SetEvent() {
    return m_hObject && ::SetEvent(m_hObject);
}

BOOL CEvent::ResetEvent() {
    return m_hObject && ::ResetEvent(m_hObject);
}

BOOL CEvent::Lock(DWORD timeout) {
    return m_hObject && WaitForSingleObject(m_hObject, timeout) == WAIT_OBJECT_0;
}
