#include "CClock.h"

#include "CIllegalStateException.h"
#include "CMonitorHold.h"
#include "CPointer.h"
#include "CThread.h"
#include "CWin32LastErrorException.h"

#include <exception>

namespace {

const char SCOPE[] = "Clock";
const DWORD MINIMUM_PERIOD = 10;

enum RunLockSite {
    SITE_RUN = 0,
    SITE_DESTRUCTOR = 1,
};

enum EditLockSite {
    SITE_ADD = 1,
    SITE_REMOVE = 2,
    SITE_LOOP = 3,
};

DWORD& cellAt(CVector& cells, int index)
{
    return *static_cast<DWORD*>(static_cast<CPointer*>(cells.elementAt(index))->getPointer());
}

void deleteCellAt(CVector& cells, int index)
{
    CPointer* wrapper = static_cast<CPointer*>(cells.elementAt(index));
    cells.removeElementAt(index);
    delete static_cast<DWORD*>(wrapper->getPointer());
    delete wrapper;
}

HANDLE newEvent()
{
    HANDLE event = CreateEventA(NULL, TRUE, FALSE, NULL);
    if (event == NULL)
        throw CWin32LastErrorException("CClock: cannot create an event");
    return event;
}

} // namespace

CClock::CClock(unsigned periodMs, std::string threadName)
    : thread_(nullptr), running_(false), notifying_(false), period_(periodMs < MINIMUM_PERIOD ? MINIMUM_PERIOD : periodMs),
      listeners_(10, -1), intervals_(10, -1), countdowns_(10, -1), threadStarted_(false), threadHandle_(NULL),
      threadId_(0), loopEntered_(newEvent()), stopping_(NULL)
{
    try {
        stopping_ = newEvent();
    } catch (...) {
        CloseHandle(loopEntered_);
        throw;
    }
    CTrace::trace(SCOPE, " creates the thread [" + threadName + "], period " + std::to_string(period_) + " ms", 0);
    thread_ = new CThread(threadName, &CClock::run, this);
    CTrace::trace(SCOPE, " drives the thread", 0);
    // Suspended until its handle is copied: once running, the thread object is the thread's.
    threadStarted_ = thread_->start(THREAD_PRIORITY_NORMAL, CREATE_SUSPENDED);
    if (threadStarted_) {
        if (!DuplicateHandle(GetCurrentProcess(), thread_->m_hThread, GetCurrentProcess(), &threadHandle_,
                             SYNCHRONIZE, FALSE, 0))
            threadHandle_ = NULL;
        threadId_ = thread_->m_nThreadID;
        thread_->resume();
    }
}

CClock::~CClock()
{
    CTrace::trace(SCOPE, " ~CClock()", 0);
    if (threadStarted_ && GetCurrentThreadId() == threadId_)
        CTrace::scopedFatalError(SCOPE, " a clock is deleted on its own thread", -1);

    bool loopRuns = false;
    if (!threadStarted_) {
        // The thread object was never handed to a thread: it is still ours to delete.
        CTrace::trace(SCOPE, " the thread never started", 0);
        delete thread_;
    } else {
        // Wait until the thread has reached its loop, unless it ended before (it cannot be stopped
        // through the flag then, and its run lock may never come free).
        HANDLE events[2] = {loopEntered_, threadHandle_};
        DWORD count = threadHandle_ != NULL ? 2 : 1;
        loopRuns = WaitForMultipleObjects(count, events, FALSE, INFINITE) == WAIT_OBJECT_0;
    }
    thread_ = nullptr;

    running_ = false;
    SetEvent(stopping_);
    if (loopRuns)
        runLock_.ObjectLock(SITE_DESTRUCTOR, SCOPE); // free once the thread has left its loop
    CTrace::trace(SCOPE, " deletes all registrations", 0);
    while (listeners_.size() > 0) {
        CPointer* last = static_cast<CPointer*>(listeners_.elementAt(listeners_.size() - 1));
        removeListener(static_cast<ITimeListener*>(last->getPointer()));
    }
    if (loopRuns)
        runLock_.ObjectUnLock();
    // The thread has left the loop; let it end too, so that nothing of the clock runs on.
    if (threadHandle_ != NULL) {
        WaitForSingleObject(threadHandle_, INFINITE);
        CloseHandle(threadHandle_);
    }
    CloseHandle(loopEntered_);
    CloseHandle(stopping_);
}

void CClock::run(void* clock)
{
    static_cast<CClock*>(clock)->runLoop();
}

void CClock::runLoop()
{
    runLock_.ObjectLock(SITE_RUN, SCOPE);
    CTrace::setThreadName(thread_->getName());
    CTrace::trace(SCOPE, " the time-check loop begins", 0);
    running_ = true;
    SetEvent(loopEntered_);
    for (;;) {
        {
            CMonitorHold hold(editLock_, SITE_LOOP, SCOPE);
            if (running_) {
                notifying_ = true;
                for (int i = listeners_.size() - 1; i >= 0; --i) {
                    DWORD& countdown = cellAt(countdowns_, i);
                    if (--countdown > 0)
                        continue;
                    CTrace::trace(SCOPE, " the set time has passed", 0);
                    countdown = cellAt(intervals_, i) / period_;
                    CTrace::trace(SCOPE, " notifies listener [" + std::to_string(i) + "]", 0);
                    notifyListener(i);
                }
                notifying_ = false;
            }
        }
        if (!running_)
            break;
        WaitForSingleObject(stopping_, period_);
        if (!running_)
            break;
    }
    CTrace::trace(SCOPE, " the time-check loop ends", 0);
    runLock_.ObjectUnLock(); // the clock may be gone from here on
}

// A listener's failure is its own: the clock reports it and keeps its other listeners ticking.
void CClock::notifyListener(int index)
{
    ITimeListener* listener = static_cast<ITimeListener*>(static_cast<CPointer*>(listeners_.elementAt(index))->getPointer());
    std::string caught;
    try {
        listener->timeElapsed(0);
        return;
    } catch (CJException& e) {
        caught = "CJException [" + e.toString() + "]";
    } catch (CJException* e) {
        caught = "CJException* [" + objectToString(e) + "]";
        delete e;
    } catch (ISerializable* e) {
        caught = std::string("ISerializable* [") + (e ? e->getClassName() : "NULL") + "]";
        delete e;
    } catch (std::exception& e) {
        caught = std::string("std::exception [") + e.what() + "]";
    } catch (...) {
        caught = "an exception of unknown type";
    }
    CTrace::scopedError(SCOPE, " listener [" + std::to_string(index) + "] threw " + caught, -1);
}

void CClock::refuseWhileNotifying(const char* operation)
{
    if (notifying_) {
        CTrace::trace(SCOPE, std::string(" ") + operation + "() refused during a pass", 0);
        throw CIllegalStateException("listeners are being edited in the clock-driving thread");
    }
}

void CClock::addListener(ITimeListener* listener, unsigned intervalMs)
{
    CTrace::trace(SCOPE, " addListener() interval " + std::to_string(intervalMs) + " ms", 0);
    if (listener == nullptr)
        return;
    CMonitorHold hold(editLock_, SITE_ADD, SCOPE);
    refuseWhileNotifying("addListener");
    DWORD interval = intervalMs < period_ ? period_ : intervalMs;
    listeners_.addElement(new CPointer(listener));
    intervals_.addElement(new CPointer(new DWORD(interval)));
    countdowns_.addElement(new CPointer(new DWORD(interval / period_)));
}

void CClock::removeListener(ITimeListener* listener)
{
    CTrace::trace(SCOPE, " removeListener()", 0);
    if (listener == nullptr)
        return;
    CMonitorHold hold(editLock_, SITE_REMOVE, SCOPE);
    refuseWhileNotifying("removeListener");
    for (int i = listeners_.size() - 1; i >= 0; --i) {
        CPointer* wrapper = static_cast<CPointer*>(listeners_.elementAt(i));
        if (wrapper->getPointer() != static_cast<void*>(listener))
            continue;
        deleteCellAt(intervals_, i);
        deleteCellAt(countdowns_, i);
        listeners_.removeElementAt(i);
        delete wrapper;
        return;
    }
    CTrace::trace(SCOPE, " removeListener(): the listener is not registered", 0);
}
