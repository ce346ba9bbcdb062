#pragma once
// Stand-ins for the tests of viewable elements: a log of what happened in order, a display that
// writes every call into it, a viewable element whose hooks write into it and that attaches its
// display as contents do, and a wall clock the test moves by hand.
#include "CViewableElement.h"
#include "IElementDisplay.h"
#include "ReplicaFixtures.h" // errorLines
#include "TestSupport.h"

#include <windows.h>

#include <atomic>
#include <ctime>
#include <string>
#include <thread>
#include <vector>

// The test support's journal with the look-ups these tests make.
class EventLog : public Journal {
public:
    std::vector<std::string> events() { return entries(); }
    // The events that begin with prefix, in order.
    std::vector<std::string> starting(const std::string& prefix);
    int count(const std::string& event);
    // True when some event holds piece.
    bool contains(const std::string& piece);
    // True once event was added at least times times within the time.
    bool waitFor(const std::string& event, int times = 1, DWORD timeoutMs = 10000);
};

// Writes "display: <call>" for every call.
class FakeDisplay : public IElementDisplay {
public:
    explicit FakeDisplay(EventLog& log) : log_(log) {}

    void setEntity(CSharedElement* entity) override;
    void setLocation(const std::string& location) override;
    void setSize(const std::string& size) override;
    void startMotion() override;
    void stopMotion() override;
    void setMotion(const std::string& motion) override;
    void setDecoration(const std::string& decoration) override;
    void setAttribute(const std::string& attribute) override;
    void setViewId(const std::string& viewId) override;
    void setViewData(unsigned size, const unsigned char* data, int width, int height) override;

private:
    EventLog& log_;
};

// The view values the master constructors take, apart from the picture or view id.
struct ViewTexts {
    std::string location = "10 20";
    std::string size = "120 90";
    std::string motion = "";
    std::string decoration = "deco";
    std::string attribute = "1234 file.txt";
};

// A viewable element for the tests. Its hooks write "hook: <name>(<arguments>)"; the display
// given to it is attached from the plug-in hook on a master and from the end of the
// synchronisation on a slave, as the stage's contents do. "INS_initExtra" stands for a
// subclass's own initial value: the master sends it from its sync hook.
class TestViewable : public CViewableElement {
public:
    // A replica.
    TestViewable(EventLog& log, IElementDisplay* display);
    // A master shown by a view id.
    TestViewable(EventLog& log, IElementDisplay* display, const ViewTexts& texts, const std::string& viewId);
    // A master shown by a picture.
    TestViewable(EventLog& log, IElementDisplay* display, const ViewTexts& texts,
                 const std::vector<unsigned char>& picture, int width, int height);
    ~TestViewable() override;

    using CViewableElement::assignToOperator;
    using CViewableElement::changeOperator;
    using CViewableElement::endTimer;
    using CViewableElement::removeFromOperator;
    using CViewableElement::startTimer;

protected:
    void onPlugInViewableElement(const std::string& text) override;
    void onPlugOutViewableElement(const std::string& text) override;
    void onSyncViewableElement() override;
    void onEndSyncViewableElement() override;
    void onGainedOperation(const std::string& operatorTermId, const std::string& requestId) override;
    void onLostOperation(const std::string& operatorTermId, const std::string& requestId) override;

private:
    void registerOwn();
    void INS_initExtra(const std::string& text);

    EventLog& log_;
    IElementDisplay* display_;
};

// The leases' wall clock for the life of the object, starting at a fixed time.
class FakeTime {
public:
    FakeTime();
    ~FakeTime();
    FakeTime(const FakeTime&) = delete;
    FakeTime& operator=(const FakeTime&) = delete;

    static void advance(int seconds);
    static time_t now();
};

// Moves the leases' clock on by one second every interval, on a thread of its own.
class TimeRunner {
public:
    explicit TimeRunner(DWORD intervalMs);
    ~TimeRunner();
    TimeRunner(const TimeRunner&) = delete;
    TimeRunner& operator=(const TimeRunner&) = delete;

private:
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

// Lets the clock thread and the handler threads run for a while.
void pause(DWORD ms);
