#pragma once
#include <windows.h>

// Runs this thread's messages until done() holds or timeoutMs have passed; whether done() came.
// Each wait for a message lasts at most sliceMs, so done() is asked at least that often.
template <typename Done> bool pumpUntil(Done done, DWORD timeoutMs, DWORD sliceMs = 50)
{
    DWORD start = GetTickCount();
    while (!done()) {
        if (GetTickCount() - start > timeoutMs)
            return false;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, sliceMs, QS_ALLINPUT);
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageA(&message);
    }
    return true;
}
