#include "CQuarnModule.h"

CQuarnModule& CQuarnModule::Instance()
{
    static CQuarnModule module;
    return module;
}

CQuarnModule::CQuarnModule(DWORD quietMs)
    : m_quietMs(quietMs), m_lockCount(0), m_activity(0), m_hShutdown(nullptr), m_hThread(nullptr), m_mainThreadId(0)
{
}

CQuarnModule::~CQuarnModule()
{
    // A monitor still waiting (a server that never served) must not hold up the process's end:
    // its thread and event go with the process.
    if (m_hThread)
        CloseHandle(m_hThread);
}

LONG CQuarnModule::Lock()
{
    return InterlockedIncrement(&m_lockCount);
}

LONG CQuarnModule::Unlock()
{
    LONG count = InterlockedDecrement(&m_lockCount);
    if (count == 0) {
        InterlockedExchange(&m_activity, 1);
        if (m_hShutdown)
            SetEvent(m_hShutdown);
    }
    return count;
}

bool CQuarnModule::StartMonitor(DWORD mainThreadId)
{
    if (m_hThread)
        return true;
    m_mainThreadId = mainThreadId;
    m_hShutdown = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    if (!m_hShutdown)
        return false;
    m_hThread = CreateThread(nullptr, 0, MonitorThread, this, 0, nullptr);
    return m_hThread != nullptr;
}

void CQuarnModule::WaitMonitor()
{
    if (!m_hThread)
        return;
    WaitForSingleObject(m_hThread, INFINITE);
    CloseHandle(m_hThread);
    m_hThread = nullptr;
}

DWORD WINAPI CQuarnModule::MonitorThread(void* parameter)
{
    static_cast<CQuarnModule*>(parameter)->Monitor();
    return 0;
}

void CQuarnModule::Monitor()
{
    for (;;) {
        WaitForSingleObject(m_hShutdown, INFINITE);
        DWORD wait;
        do {
            InterlockedExchange(&m_activity, 0);
            wait = WaitForSingleObject(m_hShutdown, m_quietMs);
        } while (wait == WAIT_OBJECT_0);
        if (wait == WAIT_TIMEOUT && m_activity == 0 && m_lockCount == 0)
            break;
    }
    // The event stays open: an object that goes after this still signals it harmlessly.
    PostThreadMessageA(m_mainThreadId, WM_QUIT, 0, 0);
}
