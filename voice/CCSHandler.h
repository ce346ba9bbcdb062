#pragma once
// Scoped lock of the voice classes: enters the critical section for the length of one block.
#include <windows.h>

class CCSHandler {
public:
    explicit CCSHandler(CRITICAL_SECTION* section) : section_(section)
    {
        if (section_ != nullptr)
            EnterCriticalSection(section_);
    }
    virtual ~CCSHandler()
    {
        if (section_ != nullptr)
            LeaveCriticalSection(section_);
    }
    CCSHandler(const CCSHandler&) = delete;
    CCSHandler& operator=(const CCSHandler&) = delete;

private:
    CRITICAL_SECTION* section_;
};
