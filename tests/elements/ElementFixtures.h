#pragma once
// Small stand-ins for the tests of elements and their handlers: an element with a method of
// every kind that writes each run into a journal, a replicated element of either role, a sink
// that keeps what a proxy sends, and a session handle over an in-process message source.
#include "CElement.h"
#include "CJString.h"
#include "CMessageMulticaster.h"
#include "CMethodCallMessage.h"
#include "CProxyElement.h"
#include "ISessionHandle.h"
#include "UiThreadHarness.h"

#include <windows.h>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

// A value that counts its live instances, to see that arguments and exceptions are freed once.
class CountedValue : public CJString {
public:
    explicit CountedValue(const std::string& text) : CJString(text) { ++live; }
    ~CountedValue() override { --live; }
    static inline std::atomic<int> live{0};
};

// One method run as the element saw it.
struct MethodRun {
    std::string method;
    std::string argument; // the text, the buffer's bytes, or the object's text
    DWORD thread;
    std::string caller;   // the caller terminal, or "<unset>"
};

// Thread-safe list of the runs, with a watch on overlapping runs.
class RunLog {
public:
    void enter(MethodRun run);
    void leave();
    std::vector<MethodRun> runs();
    std::vector<std::string> methods();
    // True when at least count runs were entered within the time.
    bool waitFor(size_t count, DWORD timeoutMs = 10000);
    // True when a run with that argument was entered within the time.
    bool waitForArgument(const std::string& argument, DWORD timeoutMs = 10000);
    int mostAtOnce();

private:
    std::mutex lock_;
    std::condition_variable changed_;
    std::vector<MethodRun> runs_;
    int active_ = 0;
    int mostAtOnce_ = 0;
};

// Registers one method of each kind and the failing and blocking ones the tests need (the
// notices are not "LOC_" methods: peers call them, and the gate keeps peers from those):
//   "NTC_noArg" FP_IIM, "NTC_objArg" FP_IIM_ARG, "NTC_bufArg" FP_IIM_BUFARG,
//   "NTC_strArg" FP_IIM_STRARG, "QUE_noArg" FP_SYNC_IIM (CInteger 7),
//   "QUE_objArg" FP_SYNC_IIM_ARG (returns its argument), "QUE_bufArg" FP_SYNC_IIM_BUFARG
//   (CInteger of the size), "QUE_strArg" FP_SYNC_IIM_STRARG (CJString "got " + text),
//   "QUE_strRv" FP_SYNC_IIM_STRRV ("answer"), and "QUE_call" FP_SYNC_IIM_STRARG, which runs
//   the test's hook with the text and returns the hook's answer.
// Every method first runs the hook (which may throw or block), then writes its run.
class ProbeElement : public CElement {
public:
    explicit ProbeElement(RunLog& journal, const std::string& elementId = "ELEM-1");
    ~ProbeElement() override;

    void onPlugIn(const std::string& text) override;
    void onPlugOut(const std::string& text) override;

    // Runs inside every method before it returns; its answer is the answer of "QUE_call", and
    // NULL for the other methods.
    std::function<ISerializable*(ProbeElement& self, const std::string& method, const std::string& argument)> hook;
    // Sets a hook that keeps the handler thread in that method until the signal is set.
    void holdIn(const std::string& method, Signal& release);

    // The element's protected calls, for the tests.
    using CElement::query;
    using CElement::queryObj;
    using CElement::queryStr;
    using CElement::queryWithStr;
    using CElement::queryWndMsg;
    using CElement::queryBuf;
    using CElement::registerMethod;
    using CElement::sendNotice;
    using CElement::sendNoticeBuf;
    using CElement::sendNoticeObj;
    using CElement::sendNoticeStr;
    using CElement::sendWndMsg;

    void noArg();
    void objArg(ISerializable* object);
    void bufArg(int size, const unsigned char* bytes);
    void strArg(const std::string& text);
    ISerializable* syncNoArg();
    ISerializable* syncObjArg(ISerializable* object);
    ISerializable* syncBufArg(int size, const unsigned char* bytes);
    ISerializable* syncStrArg(const std::string& text);
    std::string syncStrRv();
    ISerializable* syncCall(const std::string& text);

protected:
    ISerializable* run(const std::string& method, const std::string& argument);

private:
    RunLog& journal_;
};

// A copy of a replicated element; "initializeSlave" is written into the journal.
class ProbeSharedElement : public ProbeElement {
public:
    ProbeSharedElement(RunLog& journal, CopyRole role);
    CopyRole getCopyRole() const override { return role_; }
    void initializeSlave();

private:
    CopyRole role_;
};

// Keeps every message handed to it (a proxy's outgoing road) and releases them at the end.
class Outbox : public IMessageListener {
public:
    ~Outbox() override;
    void notifyMessage(IMessage* message) override;
    bool waitFor(size_t count, DWORD timeoutMs = 10000);
    size_t size();
    CMethodCallMessage* at(size_t index);

private:
    std::mutex lock_;
    std::condition_variable changed_;
    std::vector<IMessage*> messages_;
};

// A session handle as the session networks plug elements in: into the given message source,
// with the given proxy, under the own terminal id.
class TestSessionHandle : public ISessionHandle {
public:
    // Plugs nothing out when it goes: the tests do, before their elements go.
    TestSessionHandle(const std::string& terminalId, IMessageSource* source, CProxyElement* proxy);

    std::string openLocalSession(const std::string&, ISessionHandleEventListener*) override { return ""; }
    void openRemoteSession(const std::string&, const std::string&, const std::string&,
                           ISessionHandleEventListener*) override
    {
    }
    void close() override;
    void plugIn(const std::string& text, CElement* element) override;
    void plugOut(const std::string& elementId) override;
    std::string createGuidString() override;

    const std::string terminalId;

private:
    IMessageSource* source_;
    CProxyElement* proxy_;
    std::mutex lock_;
    std::map<std::string, CElement*> plugged_;
    int guids_ = 0;
};

// A session over an in-process message source: plugged elements register at source, their
// proxy sends into outbox, and tests deliver remote calls with deliver().
class FakeSession : public TestSessionHandle {
public:
    explicit FakeSession(const std::string& terminalId, DWORD queryTimeoutMs = 2000);

    // As the gate's receive thread would: to the handler entered under the receiver element id.
    void deliver(IMessage* message) { source.notifyMessage(message); }

    Outbox outbox;
    CMessageMulticaster source;
    CProxyElement proxy;
};

// A remote call as a peer terminal would send it: from terminal "PEER" and the proxy element id.
CMethodCallMessage* remoteCall(const std::string& recTermId, const std::string& recElemId, const std::string& method,
                               unsigned char modifier = CMethodCallMessage::NOTICE, unsigned serial = 0);
CMethodCallMessage* remoteCallStr(const std::string& recTermId, const std::string& recElemId,
                                  const std::string& method, const std::string& text,
                                  unsigned char modifier = CMethodCallMessage::NOTICE, unsigned serial = 0);
CMethodCallMessage* remoteCallObj(const std::string& recTermId, const std::string& recElemId,
                                  const std::string& method, ISerializable* object,
                                  unsigned char modifier = CMethodCallMessage::NOTICE, unsigned serial = 0);
