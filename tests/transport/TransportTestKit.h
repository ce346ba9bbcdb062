#pragma once
// What the DirectPlay transport tests share: a fixture that hands CDirectPlay the recording
// fake, an observer that notes the session events, encoded calls, and a clock that only moves
// when the code under test pauses.
#include "CDirectPlay.h"
#include "CMessageTransmitter.h"
#include "FakeDirectPlay.h"
#include "IObserver.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

extern const char APPLICATION_GUID[];

// Notes each event text it is told.
class EventLog : public IObserver {
public:
    void update(CObservable* source, std::string argument) override;
    Journal events;
};

// Moves by what the code sleeps; sleeps are noted.
class ManualClock {
public:
    explicit ManualClock(CDirectPlay& directPlay);
    ULONGLONG now() const { return now_; }
    void advance(ULONGLONG ms) { now_ += ms; }
    std::vector<DWORD> sleeps();

private:
    std::mutex lock_;
    std::atomic<ULONGLONG> now_{1000};
    std::vector<DWORD> sleeps_;
};

// An encoded call with a buffer argument of size bytes, as the codec writes it.
std::vector<unsigned char> encodeCall(const std::string& recTermId, const std::string& sndTermId,
                                      const std::string& method = "m", const std::string& recElemId = "E",
                                      size_t size = 0);

struct Received {
    std::vector<unsigned char> data;
    DWORD size = 0;
    bool fromMyself = false;
    bool timedOut = false; // receive did not return in time: it was released (the test fails)
};
// CDirectPlay::receive on a thread of its own, waited for at most timeoutMs.
Received receiveWithin(CDirectPlay& directPlay, DWORD timeoutMs = 10000);

// A wrapper with its transmitter, linked as the PC server links them.
struct Terminal {
    Terminal(const std::string& terminalId, bool isHost, int busyRetrySeconds = 20);
    ~Terminal();
    CDirectPlay& dp() { return *directPlay; }
    CMessageTransmitter& tx() { return *transmitter; }
    // The next block the transmitter gives, as bytes; empty when it gave 0.
    std::vector<unsigned char> receive();

    std::unique_ptr<CDirectPlay> directPlay;
    std::unique_ptr<CMessageTransmitter> transmitter;
};

class FakeDirectPlayTest : public testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    FakeDirectPlay& fake() { return FakeDirectPlay::script(); }
    // Made and opened over the fake; events go to log_.
    std::unique_ptr<Terminal> openHost(const std::string& terminalId = "H");
    std::unique_ptr<Terminal> openMember(const std::string& terminalId = "A", DPID playerId = 7);
    // The calls recorded from index on.
    std::vector<std::string> callsFrom(size_t index);

    EventLog log_;
    int comBefore_ = 0;

private:
    CDirectPlay::CreateInstanceFunction previous_ = nullptr;
};
