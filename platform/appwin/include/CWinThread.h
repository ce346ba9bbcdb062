#pragma once
// Thread class: a worker thread that runs one function, or a user-interface thread that runs
// InitInstance, a message loop and ExitInstance.
//
// Life cycle: construct, CreateThread (optionally CREATE_SUSPENDED), and with m_bAutoDelete
// (the default) the object deletes itself on its own thread when the thread's work is done.
// Such an object may be gone as soon as its thread runs: create it suspended to set it up
// (priority and so on), then ResumeThread and touch it no more. The thread handle is closed by
// the destructor, so a caller that waits for the end of an auto-deleting thread waits on a
// duplicate of m_hThread, or clears m_bAutoDelete and deletes the object after its wait.
#include <windows.h>

class CWnd;

class CWinThread {
public:
    using ThreadProc = unsigned (*)(void* param);

    // A user-interface thread: InitInstance, then (when it returns TRUE) Run, whose message loop
    // ends on WM_QUIT or when the thread's main window is destroyed, then ExitInstance.
    CWinThread();
    // A worker thread that runs proc(param); the result is the thread's exit code.
    CWinThread(ThreadProc proc, void* param);
    virtual ~CWinThread();

    CWinThread(const CWinThread&) = delete;
    CWinThread& operator=(const CWinThread&) = delete;

    // Starts the thread (flags: 0 or CREATE_SUSPENDED). FALSE when it cannot be created or the
    // object already has a thread.
    BOOL CreateThread(DWORD flags = 0, UINT stackSize = 0, LPSECURITY_ATTRIBUTES security = nullptr);
    BOOL SetThreadPriority(int priority);
    int GetThreadPriority() const;
    // The previous suspend count, or (DWORD)-1 on failure.
    DWORD ResumeThread();
    DWORD SuspendThread();

    // TRUE (the default) runs the message loop.
    virtual BOOL InitInstance();
    // The exit code of the thread: the WM_QUIT code that ended the loop.
    virtual int ExitInstance();
    // The message loop; returns ExitInstance's result.
    virtual int Run();
    // Offers a message to the windows from its target up to the top-level window.
    virtual BOOL PreTranslateMessage(MSG* msg);
    // Called when the thread's work is done and m_bAutoDelete is set.
    virtual void Delete();

    HANDLE m_hThread = nullptr;
    DWORD m_nThreadID = 0;
    BOOL m_bAutoDelete = TRUE;
    // The thread's main window; when it is destroyed, the message loop ends.
    CWnd* m_pMainWnd = nullptr;

protected:
    // Makes this object the calling thread's thread object (the application does so for the
    // thread that runs it); returns the previous one.
    CWinThread* makeCurrent();
    void restoreCurrent(CWinThread* previous);
    // InitInstance, then Run; or, when InitInstance fails, ExitInstance.
    int runUserInterface();

    int m_nQuitCode = 0;

private:
    static unsigned __stdcall threadEntry(void* self);
    friend class CWnd;
    // A window of this thread went away: when it was the main window, end the message loop.
    static void windowGone(CWnd* wnd);

    ThreadProc m_pfnThreadProc = nullptr;
    void* m_pThreadParams = nullptr;
};

// The thread object of the calling thread, or null for a thread not run by this class.
CWinThread* AfxGetThread();
