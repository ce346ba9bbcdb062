#include "CWinThread.h"

#include "CWnd.h"

#include <process.h>

namespace {
thread_local CWinThread* t_thread = nullptr;
}

CWinThread* AfxGetThread() {
    return t_thread;
}

CWinThread::CWinThread() = default;

CWinThread::CWinThread(ThreadProc proc, void* param)
    : m_pfnThreadProc(proc), m_pThreadParams(param) {}

CWinThread::~CWinThread() {
    if (m_hThread)
        CloseHandle(m_hThread);
    if (t_thread == this)
        t_thread = nullptr;
}

BOOL CWinThread::CreateThread(DWORD flags, UINT stackSize, LPSECURITY_ATTRIBUTES security) {
    if (m_hThread)
        return FALSE;
    unsigned id = 0;
    // Always suspended at first: handle and id are stored before the thread can run and, when
    // it deletes itself, free this object.
    uintptr_t handle = _beginthreadex(security, stackSize, &CWinThread::threadEntry, this,
                                      flags | CREATE_SUSPENDED, &id);
    if (handle == 0)
        return FALSE;
    m_hThread = reinterpret_cast<HANDLE>(handle);
    m_nThreadID = id;
    if (!(flags & CREATE_SUSPENDED))
        ::ResumeThread(reinterpret_cast<HANDLE>(handle));   // this object may be gone from here on
    return TRUE;
}

BOOL CWinThread::SetThreadPriority(int priority) {
    return m_hThread && ::SetThreadPriority(m_hThread, priority);
}

int CWinThread::GetThreadPriority() const {
    return m_hThread ? ::GetThreadPriority(m_hThread) : THREAD_PRIORITY_ERROR_RETURN;
}

DWORD CWinThread::ResumeThread() {
    return m_hThread ? ::ResumeThread(m_hThread) : static_cast<DWORD>(-1);
}

DWORD CWinThread::SuspendThread() {
    return m_hThread ? ::SuspendThread(m_hThread) : static_cast<DWORD>(-1);
}

BOOL CWinThread::InitInstance() {
    return TRUE;
}

int CWinThread::ExitInstance() {
    return m_nQuitCode;
}

int CWinThread::Run() {
    MSG msg;
    for (;;) {
        BOOL got = GetMessageA(&msg, nullptr, 0, 0);
        CWnd::rethrowPending();   // from a handler that another thread's send ran in GetMessage
        if (got == 0) {
            m_nQuitCode = static_cast<int>(msg.wParam);
            break;
        }
        if (got == -1) {
            m_nQuitCode = -1;
            break;
        }
        if (!PreTranslateMessage(&msg)) {
            TranslateMessage(&msg);
            CWnd::dispatch(msg);
        }
    }
    return ExitInstance();
}

BOOL CWinThread::PreTranslateMessage(MSG* msg) {
    return CWnd::WalkPreTranslateTree(msg);
}

void CWinThread::Delete() {
    delete this;
}

CWinThread* CWinThread::makeCurrent() {
    CWinThread* previous = t_thread;
    t_thread = this;
    m_nThreadID = GetCurrentThreadId();
    return previous;
}

void CWinThread::restoreCurrent(CWinThread* previous) {
    t_thread = previous;
}

int CWinThread::runUserInterface() {
    if (!InitInstance()) {
        // A main window left behind must not outlive the start that failed; its end must not
        // post a quit that a later loop of this thread would find.
        if (CWnd* wnd = m_pMainWnd) {
            m_pMainWnd = nullptr;
            wnd->DestroyWindow();
        }
        return ExitInstance();
    }
    return Run();
}

unsigned __stdcall CWinThread::threadEntry(void* self) {
    auto* thread = static_cast<CWinThread*>(self);
    t_thread = thread;
    unsigned code = thread->m_pfnThreadProc ? thread->m_pfnThreadProc(thread->m_pThreadParams)
                                            : static_cast<unsigned>(thread->runUserInterface());
    t_thread = nullptr;
    if (thread->m_bAutoDelete)
        thread->Delete();
    return code;
}

void CWinThread::windowGone(CWnd* wnd) {
    CWinThread* thread = t_thread;
    if (thread && thread->m_pMainWnd == wnd) {
        thread->m_pMainWnd = nullptr;
        PostQuitMessage(0);
    }
}
