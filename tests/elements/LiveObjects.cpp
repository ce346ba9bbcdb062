#include "LiveObjects.h"

#include "TestSupport.h"

#include <atomic>

namespace {

std::atomic<int> s_live{0};

} // namespace

// CTrace::countUp() and CTrace::countDown(), which every CJObject calls once when made and once
// when destroyed; --wrap sends those calls here first.
extern "C" {
void __real__ZN6CTrace7countUpEv();
void __real__ZN6CTrace9countDownEv();

void __wrap__ZN6CTrace7countUpEv()
{
    ++s_live;
    __real__ZN6CTrace7countUpEv();
}

void __wrap__ZN6CTrace9countDownEv()
{
    --s_live;
    __real__ZN6CTrace9countDownEv();
}
}

int liveObjects()
{
    return s_live;
}

int awaitLiveObjects(int expected, DWORD timeoutMs)
{
    waitUntil([&] { return s_live == expected; }, timeoutMs);
    return s_live;
}
