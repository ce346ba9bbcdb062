#include "CThread.h"

#include "CIllegalThreadStateException.h"
#include "CMonitorHold.h"
#include "CNullPointerException.h"

#include <cstdio>
#include <exception>
#include <new>
#include <vector>

namespace {

const char SCOPE[] = "CThread";

enum Site {
    SITE_START = 1,
    SITE_GET_NAME,
    SITE_SET_NAME,
};

std::string hexId(DWORD id)
{
    char text[16];
    snprintf(text, sizeof(text), "%08lx", static_cast<unsigned long>(id));
    return text;
}

// Registered at start-up and only read afterwards; the lock keeps a late registration safe all
// the same.
SRWLOCK s_uiThreadsLock = SRWLOCK_INIT;

std::vector<DWORD>& uiThreads()
{
    static std::vector<DWORD>* threads = new std::vector<DWORD>; // outlives every static destructor
    return *threads;
}

} // namespace

struct CThread::StartRecord {
    TargetFunction target;
    void* parameter;
};

CThread::CThread(std::string name, TargetFunction target, void* parameter)
    : CThread(std::move(name), new (std::nothrow) StartRecord{target, parameter})
{
}

CThread::CThread(std::string name, StartRecord* record)
    : CWinThread(&CThread::threadProc, record), startRecord_(record), name_(std::move(name)), started_(false)
{
}

CThread::~CThread()
{
    if (!started_)
        delete startRecord_;
}

bool CThread::start(int priority, DWORD flags, unsigned stackSize, LPSECURITY_ATTRIBUTES security)
{
    HANDLE thread;
    {
        CMonitorHold hold(lock_, SITE_START, SCOPE);
        CTrace::trace(SCOPE, " start() [" + name_ + "]", 0);
        if (started_)
            throw CIllegalThreadStateException("CIllegalThreadStateException");
        // Suspended until this object is set up: an auto-deleting thread may free it as soon as
        // it runs.
        if (!CreateThread(flags | CREATE_SUSPENDED, stackSize, security)) {
            CTrace::scopedError(SCOPE, " start(): the thread [" + name_ + "] cannot be created, error "
                                + std::to_string(GetLastError()), -1);
            return false;
        }
        SetThreadPriority(priority);
        started_ = true;
        thread = m_hThread;
    }
    if (!(flags & CREATE_SUSPENDED))
        ::ResumeThread(thread); // this object may be gone from here on
    return true;
}

std::string CThread::getName() const
{
    CMonitorHold hold(lock_, SITE_GET_NAME, SCOPE);
    return name_;
}

void CThread::setName(std::string name)
{
    CMonitorHold hold(lock_, SITE_SET_NAME, SCOPE);
    name_ = std::move(name);
}

void CThread::resume()
{
    ResumeThread();
}

void CThread::suspend()
{
    SuspendThread();
}

void CThread::registerUIThread()
{
    DWORD self = GetCurrentThreadId();
    CTrace::trace(SCOPE, " registerUIThread() " + hexId(self), 0);
    AcquireSRWLockExclusive(&s_uiThreadsLock);
    uiThreads().push_back(self);
    ReleaseSRWLockExclusive(&s_uiThreadsLock);
}

bool CThread::checkUIThread()
{
    DWORD self = GetCurrentThreadId();
    AcquireSRWLockShared(&s_uiThreadsLock);
    const std::vector<DWORD>& threads = uiThreads();
    bool empty = threads.empty();
    bool found = false;
    for (DWORD id : threads) {
        if (id == self) {
            found = true;
            break;
        }
    }
    ReleaseSRWLockShared(&s_uiThreadsLock);
    if (empty)
        throw CNullPointerException("no UI thread has been registered");
    return found;
}

unsigned CThread::threadProc(void* parameter)
{
    StartRecord* record = static_cast<StartRecord*>(parameter);
    if (record == nullptr)
        CTrace::fatalError("[ CThread ] no memory to build the information that starts the thread", -1);
    TargetFunction target = record->target;
    void* targetParameter = record->parameter;
    delete record;

    std::string id = hexId(GetCurrentThreadId());
    CTrace::out("worker thread " + id + " starts", 0);
    try {
        target(targetParameter);
    } catch (CJException& e) {
        CTrace::fatalError("[ CThread ] worker thread " + id + " let a CJException escape [" + e.toString() + "]", -1);
    } catch (CJException* e) {
        CTrace::fatalError("[ CThread ] worker thread " + id + " let a CJException* escape [" + objectToString(e)
                           + "]", -1);
    } catch (ISerializable* e) {
        CTrace::fatalError("[ CThread ] worker thread " + id + " let an ISerializable* escape ["
                           + (e ? e->getClassName() : "NULL") + "]", -1);
    } catch (std::exception& e) {
        // Anything else would leave the thread for std::terminate, which names nothing.
        CTrace::fatalError("[ CThread ] worker thread " + id + " let a std::exception escape [" + e.what() + "]", -1);
    } catch (...) {
        CTrace::fatalError("[ CThread ] worker thread " + id + " let an exception of unknown type escape", -1);
    }
    CTrace::out("worker thread " + id + " ends", 0);
    return 0;
}
