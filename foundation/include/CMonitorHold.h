#pragma once
// Holds an object's monitor for a scope, so that every path out (exceptions included)
// releases it.
#include "CJObject.h"

class CMonitorHold {
public:
    CMonitorHold(CJObject& object, int site, const char* scope) : object_(object), scope_(scope)
    {
        object_.ObjectLock(site, scope);
    }
    ~CMonitorHold() { object_.ObjectUnLock(); }
    CMonitorHold(const CMonitorHold&) = delete;
    CMonitorHold& operator=(const CMonitorHold&) = delete;

    // So that a std::condition_variable_any can wait on the held monitor (held once): the
    // object's own wait takes one waiter only, such a condition any number. The re-entry is
    // lock site 0, as after the object's own wait.
    void unlock() { object_.ObjectUnLock(); }
    void lock() { object_.ObjectLock(0, scope_); }

private:
    CJObject& object_;
    const char* scope_;
};
