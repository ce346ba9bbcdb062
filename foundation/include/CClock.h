#pragma once
// A thread that wakes every period and calls each registered listener whose own interval has
// run out. It measures no time: an interval I fires on every (I / period)-th pass, so slow
// listeners stretch it. The listeners are not owned.
#include "CJObject.h"
#include "CVector.h"
#include "ITimeListener.h"

#include <windows.h>

#include <atomic>
#include <string>

class CThread;

class CClock : public CJObject {
public:
    // A period below 10 ms counts as 10 ms. The thread starts at once.
    CClock(unsigned periodMs, std::string threadName);
    CClock(const CClock&) = delete;
    CClock& operator=(const CClock&) = delete;
    // Stops the thread (returns once it has ended) and forgets every registration. Must not
    // run on the clock's own thread.
    ~CClock() override;

    // An interval below the period counts as the period; the first call comes after the full
    // interval. A listener may be registered several times. Null is ignored. From inside a
    // listener's call: CIllegalStateException.
    void addListener(ITimeListener* listener, unsigned intervalMs);
    // Removes the listener's latest registration. Null is ignored. From inside a listener's
    // call: CIllegalStateException.
    void removeListener(ITimeListener* listener);

private:
    static void run(void* clock);
    void runLoop();
    void notifyListener(int index);
    void refuseWhileNotifying(const char* operation);

    CThread* thread_;
    std::atomic<bool> running_;
    std::atomic<bool> notifying_;
    DWORD period_;
    CVector listeners_;  // CPointer of ITimeListener*
    CVector intervals_;  // CPointer of an owned DWORD: the interval in ms
    CVector countdowns_; // CPointer of an owned DWORD: the passes left
    CJObject editLock_;
    CJObject runLock_;

    bool threadStarted_;
    HANDLE threadHandle_; // our own copy: the thread object closes its handle as it deletes itself
    DWORD threadId_;
    HANDLE loopEntered_;
    HANDLE stopping_;
};
