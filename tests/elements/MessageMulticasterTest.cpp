#include "CMessageMulticaster.h"
#include "CountedMessage.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace {

// Takes each message, notes it and the thread it came on, and releases it.
class RecordingListener : public IMessageListener {
public:
    void notifyMessage(IMessage* message) override
    {
        {
            std::lock_guard<std::mutex> hold(lock_);
            serials_.push_back(message->getSerialNum());
            threads_.push_back(GetCurrentThreadId());
        }
        if (onMessage)
            onMessage();
        IMessage::release(message);
    }
    std::vector<unsigned> serials()
    {
        std::lock_guard<std::mutex> hold(lock_);
        return serials_;
    }
    std::vector<DWORD> threads()
    {
        std::lock_guard<std::mutex> hold(lock_);
        return threads_;
    }

    std::function<void()> onMessage;

private:
    std::mutex lock_;
    std::vector<unsigned> serials_;
    std::vector<DWORD> threads_;
};

class MessageMulticasterTest : public testing::Test {
protected:
    void SetUp() override
    {
        CountedMessage::live = 0;
        CountedMessage::releases = 0;
    }
    void TearDown() override { EXPECT_EQ(0, CountedMessage::live) << "a message was leaked or freed twice"; }

    CMessageMulticaster multicaster;
};

TEST_F(MessageMulticasterTest, DeliversByReceiverElementIdInOrderOnTheCallersThread)
{
    RecordingListener a;
    RecordingListener b;
    multicaster.addListener("ELEM-A", &a);
    multicaster.addListener("ELEM-B", &b);
    unsigned serial = 0;
    for (const char* id : {"ELEM-A", "ELEM-B", "ELEM-A", "ELEM-A", "ELEM-B"})
        multicaster.notifyMessage(new CountedMessage(id, ++serial));
    EXPECT_EQ((std::vector<unsigned>{1, 3, 4}), a.serials());
    EXPECT_EQ((std::vector<unsigned>{2, 5}), b.serials());
    for (DWORD thread : a.threads())
        EXPECT_EQ(GetCurrentThreadId(), thread);
    EXPECT_EQ(5, CountedMessage::releases) << "each listener released what it got, once";
}

TEST_F(MessageMulticasterTest, MessageWithoutListenerIsReleasedOnce)
{
    RecordingListener a;
    multicaster.addListener("ELEM-A", &a);
    CountedMessage* message = new CountedMessage("ELEM-X");
    EXPECT_FALSE(multicaster.canDeliver(message));
    EXPECT_EQ(1, CountedMessage::live) << "canDeliver must not touch the message";
    TraceCapture trace;
    multicaster.notifyMessage(message);
    EXPECT_EQ(1, CountedMessage::releases);
    EXPECT_TRUE(a.serials().empty());
    EXPECT_EQ(1, trace.count("the destination [ELEM-X] does not exist")) << trace.text();
    EXPECT_EQ(1, trace.count("the message is disposed of"));
    EXPECT_EQ(0, trace.count("ERROR")) << "nothing is reported for it";
}

TEST_F(MessageMulticasterTest, CanDeliverAnswersForEnteredNamesOnly)
{
    RecordingListener a;
    multicaster.addListener("Stage", &a);
    CountedMessage exact("Stage");
    CountedMessage otherCase("stage");
    EXPECT_TRUE(multicaster.canDeliver(&exact));
    EXPECT_FALSE(multicaster.canDeliver(&otherCase)) << "names are compared case-sensitively";
    EXPECT_FALSE(multicaster.canDeliver(nullptr));
    multicaster.removeListener("Stage");
    EXPECT_FALSE(multicaster.canDeliver(&exact));
}

TEST_F(MessageMulticasterTest, SecondListenerUnderANameReplacesTheFirst)
{
    RecordingListener first;
    RecordingListener second;
    multicaster.addListener("E", &first);
    multicaster.notifyMessage(new CountedMessage("E", 1));
    multicaster.addListener("E", &second);
    multicaster.notifyMessage(new CountedMessage("E", 2));
    EXPECT_EQ((std::vector<unsigned>{1}), first.serials());
    EXPECT_EQ((std::vector<unsigned>{2}), second.serials());
}

TEST_F(MessageMulticasterTest, RemovingAnUnknownNameReportsAnErrorAndChangesNothing)
{
    RecordingListener a;
    multicaster.addListener("E", &a);
    TraceCapture trace;
    multicaster.removeListener("e");
    EXPECT_EQ(1, trace.count("ERROR: [ CMessageMulticaster ] removeListener(): the object to remove does not exist [e]"))
        << trace.text();
    EXPECT_EQ(1, trace.count("removeListener(): the removal is complete"));
    multicaster.notifyMessage(new CountedMessage("E", 9));
    EXPECT_EQ((std::vector<unsigned>{9}), a.serials());
    multicaster.removeListener("E");
    multicaster.notifyMessage(new CountedMessage("E", 10));
    EXPECT_EQ((std::vector<unsigned>{9}), a.serials());
}

TEST_F(MessageMulticasterTest, NullMessageIsReportedAndIgnored)
{
    TraceCapture trace;
    multicaster.notifyMessage(nullptr);
    EXPECT_EQ(1, trace.count("ERROR: [ CMessageMulticaster ] notifyMessage(): NULL message"));
}

// The listener runs outside the multicaster's monitor: while it runs, another thread can
// change the table (and a listener may enter another, as a handler starting an element does).
TEST_F(MessageMulticasterTest, ListenerRunsOutsideTheMonitor)
{
    RecordingListener late;
    RecordingListener a;
    Worker other;
    bool changedMeanwhile = false;
    a.onMessage = [&] {
        other.post([&] { multicaster.addListener("LATE", &late); });
        changedMeanwhile = other.waitIdle(10000);
    };
    multicaster.addListener("E", &a);
    multicaster.notifyMessage(new CountedMessage("E"));
    EXPECT_TRUE(changedMeanwhile) << "the table could not be changed while a listener ran";
    other.waitIdle(INFINITE);
    multicaster.notifyMessage(new CountedMessage("LATE", 3));
    EXPECT_EQ((std::vector<unsigned>{3}), late.serials());
}

// One thread delivers while another enters and removes the listeners over and over: every
// message is either delivered or disposed of, exactly once, and nothing breaks the table.
TEST_F(MessageMulticasterTest, AddAndRemoveWhileAnotherThreadDelivers)
{
    const int NAMES = 4;
    const int MESSAGES = 20000;
    const char* names[NAMES] = {"N0", "N1", "N2", "N3"};
    RecordingListener listeners[NAMES];
    CTrace::setDumpOff();
    TraceCapture trace; // the lines of this test are many and of no interest
    std::atomic<bool> delivering{true};
    std::atomic<int> rounds{0};
    std::thread changer([&] {
        for (int round = 0; delivering && round < 1000000; ++round) {
            int i = round % NAMES;
            if ((round / NAMES) % 2 == 0)
                multicaster.addListener(names[i], &listeners[i]);
            else
                multicaster.removeListener(names[i]);
            ++rounds;
        }
    });
    // Delivering takes less time than starting a thread: begin once the changer is at work.
    waitUntil([&] { return rounds > 0; });
    for (int i = 0; i < MESSAGES; ++i)
        multicaster.notifyMessage(new CountedMessage(names[i % NAMES], i));
    delivering = false;
    changer.join();
    CTrace::setDumpOn();

    size_t delivered = 0;
    for (RecordingListener& listener : listeners)
        delivered += listener.serials().size();
    EXPECT_EQ(MESSAGES, CountedMessage::releases) << "every message released exactly once";
    EXPECT_GT(delivered, 0u);
    EXPECT_LE(delivered, static_cast<size_t>(MESSAGES));
    for (int i = 0; i < NAMES; ++i) {
        for (unsigned serial : listeners[i].serials())
            EXPECT_EQ(i, static_cast<int>(serial % NAMES)) << "message " << serial << " reached the wrong listener";
    }
}

} // namespace
