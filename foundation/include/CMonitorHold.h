#pragma once
// Holds an object's monitor for a scope, so that every path out (exceptions included)
// releases it.
#include "CJObject.h"

class CMonitorHold {
public:
    CMonitorHold(CJObject& object, int site, const char* scope) : object_(object) { object_.ObjectLock(site, scope); }
    ~CMonitorHold() { object_.ObjectUnLock(); }
    CMonitorHold(const CMonitorHold&) = delete;
    CMonitorHold& operator=(const CMonitorHold&) = delete;

private:
    CJObject& object_;
};
