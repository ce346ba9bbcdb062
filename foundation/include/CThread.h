#pragma once
// A named worker thread that runs one function with one parameter. It can be started once and
// deletes itself when the function returns; any exception that escapes the function stops the
// process with a line that names it. Beside it: the registry of the threads that own windows.
#include "CJObject.h"

#include <CWinThread.h>

#include <string>

class CThread : public CWinThread {
public:
    using TargetFunction = void (*)(void* parameter);

    CThread(std::string name, TargetFunction target, void* parameter);
    ~CThread() override;

    // False (after an error line) when the system refuses the thread; throws
    // CIllegalThreadStateException on a second start. Once it has returned true the object
    // belongs to its thread: with no CREATE_SUSPENDED among the flags it may be gone already.
    bool start(int priority = THREAD_PRIORITY_NORMAL, DWORD flags = 0, unsigned stackSize = 0,
               LPSECURITY_ATTRIBUTES security = nullptr);
    std::string getName() const;
    void setName(std::string name);
    void resume();
    void suspend();

    // Enters the calling thread as a thread that owns windows.
    static void registerUIThread();
    // True when the calling thread was registered; CNullPointerException while none is.
    static bool checkUIThread();

private:
    struct StartRecord;

    CThread(std::string name, StartRecord* record);
    static unsigned threadProc(void* record);

    StartRecord* startRecord_; // handed to the thread, which frees it; ours until then
    std::string name_;
    bool started_;
    mutable CJObject lock_;
};
