#include "CJObject.h"

#include <cstdint>
#include <cstdio>

namespace {

const char SCOPE[] = "//CJObject";

// Guards the first creation of each object's monitor; constant-initialised, so it is usable
// by static objects of any source file, and never torn down.
SRWLOCK s_creationLock = SRWLOCK_INIT;

} // namespace

CJObject::CJObject() : lockCreated_(false), event_(NULL), waiting_(false), woken_(false)
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
    HANDLE event = event_.load();
    if (event != NULL) {
        CloseHandle(event);
        CTrace::trace(SCOPE, " <" + std::to_string(reinterpret_cast<uintptr_t>(event)) + "> delete", 0);
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
    woken_ = false;
    waiting_ = true;
    HANDLE event = getEvent();
    if (event == NULL) {
        CTrace::scopedError(SCOPE, " wait(): the event handle is NULL", -1);
        waiting_ = false;
        woken_ = false;
        return false;
    }
    CTrace::popLock(lockIdentity());
    leaveMonitor();

    DWORD outcome = WaitForSingleObject(event, timeoutMs);
    woken_ = true;
    bool result = outcome == WAIT_OBJECT_0 || outcome == WAIT_TIMEOUT;
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
    HANDLE event = getEvent();
    CTrace::scopedAssertTrue(event != NULL, SCOPE, " notify() called where nobody waits", -1);
    // Pulse until the waiter is out of its blocking call: a pulse that falls between its release
    // of the monitor and its blocking call is lost, the next one is not. A notifier that does
    // not hold the monitor may see the wait end and the flags cleared: stop then too.
    while (!woken_ && waiting_) {
        Sleep(0);
        if (!PulseEvent(event)) {
            CTrace::scopedFatalError(SCOPE, " PulseEvent(" + std::to_string(reinterpret_cast<uintptr_t>(event))
                                     + ") failed[" + std::to_string(GetLastError()) + "]", -1);
        }
    }
}

std::string objectToString(const CJObject* object)
{
    return object == nullptr ? std::string("NULL") : object->toString();
}
