#pragma once
// Root of the object library: identity-based equality, hashing and text by default, and a
// monitor per object (re-entrant lock plus a single-waiter wait/notify).
#include "CTrace.h"

#include <windows.h>

#include <atomic>
#include <string>
#include <string_view>

class CJObject {
public:
    CJObject();
    CJObject(const CJObject& other);
    CJObject& operator=(const CJObject& other);
    virtual ~CJObject();

    virtual bool equals(const CJObject* other) const;
    virtual bool isEquatable() const;
    virtual int hashCode() const;
    virtual std::string toString() const;

    // site: small number telling the lock sites of one class apart; scope: the caller's trace
    // scope. Both only go to the lock tracking.
    void ObjectLock(int site, std::string_view scope);
    void ObjectUnLock();
    // Releases the monitor (held once), sleeps until notify or the time-out, re-enters.
    // True after a notify or a time-out alike; false on failure. One waiter at a time.
    bool wait(DWORD timeoutMs);
    // Wakes the waiter, if one is in wait(); not remembered when nobody waits. Need not hold
    // the monitor: a notify that comes after the waiter has entered wait() is never lost.
    void notify();
    // A Win32 event of this object, made on first use. wait() and notify() do not use it.
    HANDLE getEvent();

protected:
    bool default_equals(const CJObject* other) const;
    int default_hashCode() const;

private:
    void enterMonitor();
    void leaveMonitor();
    const void* lockIdentity() const { return &monitor_; }

    CRITICAL_SECTION monitor_;
    std::atomic<bool> lockCreated_;
    std::atomic<HANDLE> event_;
    std::atomic<bool> waiting_;
    std::atomic<bool> woken_;
    // What wait() sleeps on: a lock and a condition inside the process, so that a hand-off
    // between threads needs no kernel object and no round trip to the Wine server, and the
    // object carries nothing that must be created or closed. signalled_ is guarded by
    // waitLock_; waitUsed_ tells the destructor that the object was waited on.
    SRWLOCK waitLock_;
    CONDITION_VARIABLE waitCondition_;
    bool signalled_;
    std::atomic<bool> waitUsed_;
};

// "NULL" for no object, else the object's toString().
std::string objectToString(const CJObject* object);
