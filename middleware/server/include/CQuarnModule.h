#pragma once
// The server process's lifetime: every live COM object and every class-factory lock holds the
// module; once the count has fallen to zero and stayed there for QUIET_MS, the shutdown monitor
// ends the main thread's message loop. The process then pauses EXIT_PAUSE_MS before it ends,
// so that other threads can finish.
#include <windows.h>

class CQuarnModule {
public:
    static constexpr DWORD QUIET_MS = 5000;
    static constexpr DWORD EXIT_PAUSE_MS = 1000;

    // The process's module.
    static CQuarnModule& Instance();

    explicit CQuarnModule(DWORD quietMs = QUIET_MS);
    ~CQuarnModule();
    CQuarnModule(const CQuarnModule&) = delete;
    CQuarnModule& operator=(const CQuarnModule&) = delete;

    // The new count.
    LONG Lock();
    // The new count; at zero the shutdown monitor is told.
    LONG Unlock();
    LONG GetLockCount() const { return m_lockCount; }

    // Starts the monitor, which posts WM_QUIT to the thread once the module has been quiet long
    // enough. False (nothing started) when its event or thread cannot be made.
    bool StartMonitor(DWORD mainThreadId);
    // Waits for the monitor to leave (after it posted WM_QUIT, or at once when it never ran).
    void WaitMonitor();

private:
    static DWORD WINAPI MonitorThread(void* parameter);
    void Monitor();

    const DWORD m_quietMs;
    volatile LONG m_lockCount;
    // Set when the count falls to zero; cleared by the monitor when a quiet period begins.
    volatile LONG m_activity;
    // Auto-reset, signalled when the count falls to zero.
    HANDLE m_hShutdown;
    HANDLE m_hThread;
    DWORD m_mainThreadId;
};
