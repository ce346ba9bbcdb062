#include "CJObject.h"

#include <cstdint>
#include <cstdio>

namespace {

const char SCOPE[] = "//CJObject";

// Guards the first creation of each object's monitor; constant-initialised, so it is usable
// by static objects of any source file, and never torn down.
SRWLOCK s_creationLock = SRWLOCK_INIT;

} // namespace

CJObject::CJObject()
    : lockCreated_(false), event_(NULL), waiting_(false), woken_(false), waitLock_(SRWLOCK_INIT),
      waitCondition_(CONDITION_VARIABLE_INIT), signalled_(false), waitUsed_(false)
{
    CTrace::countUp();
}

CJObject::CJObject(const CJObject&) : CJObject()
{
}

CJObject& CJObject::operator=(const CJObject&)
{
    return *this;
}

CJObject::~CJObject()
{
    CTrace::countDown();
    if (lockCreated_)
        DeleteCriticalSection(&monitor_);
    // The end of the object's wait primitive is traced: the event when one was made, else the
    // in-process condition, named by its address.
    HANDLE event = event_.load();
    if (event != NULL)
        CloseHandle(event);
    if ((event != NULL || waitUsed_) && CTrace::isTraced(SCOPE)) {
        uintptr_t identity = event != NULL ? reinterpret_cast<uintptr_t>(event)
                                           : reinterpret_cast<uintptr_t>(&waitCondition_);
        CTrace::trace(SCOPE, " <" + std::to_string(identity) + "> delete", 0);
    }
}

bool CJObject::equals(const CJObject*) const
{
    CTrace::scopedWarning(SCOPE, " default equals() called: it always answers that the objects are not equal");
    return false;
}

bool CJObject::isEquatable() const
{
    CTrace::scopedWarning(SCOPE, " default isEquatable() called: this class has no equality test");
    return false;
}

int CJObject::hashCode() const
{
    CTrace::scopedWarning(SCOPE, " root hashCode() called: should it have been overridden?");
    return 0;
}

std::string CJObject::toString() const
{
    char text[40];
    snprintf(text, sizeof(text), "[0x%08llx]",
             static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(this)));
    return std::string(text) + SCOPE;
}

bool CJObject::default_equals(const CJObject* other) const
{
    CTrace::scopedWarning(SCOPE, " a derived class uses default_equals()");
    CTrace::trace(SCOPE, " identity is decided by plain pointer comparison", 0);
    return this == other;
}

int CJObject::default_hashCode() const
{
    CTrace::scopedWarning(SCOPE, " a derived class uses default_hashCode(), which always returns 1");
    return 1;
}

void CJObject::enterMonitor()
{
    if (!lockCreated_.load(std::memory_order_acquire)) {
        AcquireSRWLockExclusive(&s_creationLock);
        if (!lockCreated_.load(std::memory_order_relaxed)) {
            InitializeCriticalSection(&monitor_);
            lockCreated_.store(true, std::memory_order_release);
        }
        ReleaseSRWLockExclusive(&s_creationLock);
    }
    EnterCriticalSection(&monitor_);
}

void CJObject::leaveMonitor()
{
    if (!lockCreated_.load(std::memory_order_acquire)) {
        CTrace::scopedError(SCOPE, " ObjectUnLock on an object whose monitor was never initialised", -1);
        return;
    }
    LeaveCriticalSection(&monitor_);
}

void CJObject::ObjectLock(int site, std::string_view scope)
{
    CTrace::pushLock(lockIdentity(), site, scope);
    enterMonitor();
}

void CJObject::ObjectUnLock()
{
    CTrace::popLock(lockIdentity());
    leaveMonitor();
}

HANDLE CJObject::getEvent()
{
    HANDLE event = event_.load();
    if (event != NULL)
        return event;
    HANDLE created = CreateEventA(NULL, FALSE, FALSE, NULL);
    if (created == NULL)
        return NULL;
    // A notify from a thread that does not hold the monitor may get here at the same time as
    // the waiter: only one event may win, or the two would pulse and wait on different events.
    HANDLE expected = NULL;
    if (!event_.compare_exchange_strong(expected, created)) {
        CloseHandle(created);
        return expected;
    }
    return created;
}

bool CJObject::wait(DWORD timeoutMs)
{
    if (waiting_) {
        CTrace::scopedError(SCOPE, " wait(): another thread already waits on this object", -1);
        return false;
    }
    // A notify before this point finds nobody waiting and is forgotten; from here on it sets
    // signalled_, which the sleep below tests under the same lock, so it cannot be lost in the
    // gap between leaving the monitor and going to sleep.
    AcquireSRWLockExclusive(&waitLock_);
    signalled_ = false;
    woken_ = false;
    waiting_ = true;
    ReleaseSRWLockExclusive(&waitLock_);
    waitUsed_ = true;
    CTrace::popLock(lockIdentity());
    leaveMonitor();

    bool result = true;
    ULONGLONG deadline = timeoutMs == INFINITE ? 0 : GetTickCount64() + timeoutMs;
    AcquireSRWLockExclusive(&waitLock_);
    while (!signalled_) {
        DWORD sleepMs = INFINITE;
        if (timeoutMs != INFINITE) {
            ULONGLONG now = GetTickCount64();
            if (now >= deadline)
                break;
            sleepMs = static_cast<DWORD>(deadline - now);
        }
        if (!SleepConditionVariableSRW(&waitCondition_, &waitLock_, sleepMs, 0) && GetLastError() != ERROR_TIMEOUT) {
            result = false;
            break;
        }
    }
    signalled_ = false;
    woken_ = true;
    ReleaseSRWLockExclusive(&waitLock_);
    if (!result)
        CTrace::scopedError(SCOPE, " wait(): waiting for the object failed", -1);

    CTrace::pushLock(lockIdentity(), 0, SCOPE);
    enterMonitor();
    waiting_ = false;
    woken_ = false;
    return result;
}

void CJObject::notify()
{
    if (!waiting_)
        return;
    // Under the wait lock, so that the waiter cannot return (and its object go away) before
    // the wake-up has been given.
    AcquireSRWLockExclusive(&waitLock_);
    if (waiting_ && !woken_) {
        signalled_ = true;
        WakeConditionVariable(&waitCondition_);
    }
    ReleaseSRWLockExclusive(&waitLock_);
}

std::string objectToString(const CJObject* object)
{
    return object == nullptr ? std::string("NULL") : object->toString();
}
