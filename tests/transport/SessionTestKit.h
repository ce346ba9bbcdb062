#pragma once
// What the tests of the session handles and the UDP streams share: a thread with a message loop
// that owns the handles (as the user-interface thread does), Windows Sockets for the test's
// life, a listener that notes the session events with the thread that heard them, a plain
// element that notes its calls and plug-outs, a raw UDP socket, and counts of the process's
// threads and handles.
#include "CElement.h"
#include "ISessionHandleEventListener.h"
#include "TestSupport.h"

#include <windows.h>
#include <winsock2.h>

#include <functional>
#include <mutex>
#include <string>
#include <vector>

// A thread that runs a message loop and, in turn with the messages, the tasks given to it.
class LoopThread {
public:
    LoopThread();
    // Ends the loop; what was made on the thread must be deleted on it first.
    ~LoopThread();
    LoopThread(const LoopThread&) = delete;
    LoopThread& operator=(const LoopThread&) = delete;

    // Runs the task on the loop thread and waits for it; what it throws is thrown here.
    void run(const std::function<void()>& task);
    DWORD threadId() const { return threadId_; }
    // A window of this thread with that title, or NULL.
    HWND findWindow(const std::string& title);

private:
    static DWORD WINAPI entry(void* self);
    void loop();

    HANDLE thread_;
    DWORD threadId_;
    HANDLE ready_;
};

// WSAStartup for the object's life.
class WinsockUse {
public:
    WinsockUse();
    ~WinsockUse();
};

// Notes "<id> <terminal id>" of every event, and the threads that told them.
class EventRecorder : public ISessionHandleEventListener {
public:
    void OnSessionHandleEvent(int eventId, const std::string& terminalId) override;
    std::vector<std::string> events() { return journal.entries(); }
    std::vector<DWORD> threads();

    Journal journal;

private:
    std::mutex lock_;
    std::vector<DWORD> threads_;
};

// A plain element under a given element id. Notes into the journal, as "<own terminal id>
// <element id> <what>":
// "onPlugIn", "onPlugOut", "INS_note <sender> [<text>]". Before its own onPlugOut ends it runs
// the plug-out action (a space plugs its members out there).
class NoteElement : public CElement {
public:
    NoteElement(Journal& journal, const std::string& elementId);
    // Plugged out (when plugged in) and ended first, as owners must.
    ~NoteElement() override;
    void onPlugIn(const std::string& text) override;
    void onPlugOut(const std::string& text) override;

    std::function<void()> onPlugOutAction;
    using CElement::sendNoticeStr;

private:
    void INS_note(const std::string& text);

    Journal& journal_;
    std::string id_;
};

// A UDP socket bound to a port of the loopback address chosen by the system.
class RawUdp {
public:
    RawUdp();
    ~RawUdp();
    RawUdp(const RawUdp&) = delete;
    RawUdp& operator=(const RawUdp&) = delete;

    int port() const { return port_; }
    void sendTo(int port, const std::vector<unsigned char>& bytes);
    // The next datagram within the time; false when none came.
    bool receive(std::vector<unsigned char>& bytes, DWORD timeoutMs);

private:
    SOCKET socket_;
    int port_;
};

// Threads and handles of this process now.
int threadCount();
int handleCount();
