// The queue in front of an element's handler thread is bounded: what a peer sends past the
// limit is refused and the session goes on, local callers wait for room instead of losing
// their calls, and callers that the handler thread may itself be waiting for do not wait.
#include "ElementFixtures.h"
#include "GatePair.h"
#include "LiveObjects.h"
#include "ReplicaFixtures.h" // errorLines

#include "CElementHandler.h"
#include "CLocalMethod.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

const int LIMIT = CElementHandler::QUEUE_LIMIT;

int runsOf(RunLog& log, const std::string& method)
{
    std::vector<std::string> methods = log.methods();
    return static_cast<int>(std::count(methods.begin(), methods.end(), method));
}

// Keeps the handler thread in "NTC_strArg" with the argument "hold" until released; then runs
// after, on that thread, before the method returns.
void holdOnHold(ProbeElement& element, Signal& entered, Signal& release, std::function<void()> after = nullptr)
{
    element.hook = [&entered, &release, after](ProbeElement&, const std::string& method,
                                               const std::string& argument) -> ISerializable* {
        if (method == "NTC_strArg" && argument == "hold") {
            entered.set();
            release.waitFor(30000);
            if (after)
                after();
        }
        return nullptr;
    };
}

// TB's element is kept busy while TA floods it with notices: the queue takes LIMIT of them,
// the rest is refused one by one, and the receive thread goes on delivering to TB's other
// element. Once free, the flooded element runs what it took and answers a query.
TEST(ElementQueueLimit, APeersFloodIsRefusedPastTheLimitAndTheSessionGoesOn)
{
    const int EXTRA = 300;
    TraceCapture trace;
    GatePair pair;
    TestSessionHandle sessionB("TB", &pair.b.gate(), &pair.b.proxy());
    RunLog flooded;
    RunLog other;
    ProbeElement target(flooded, "STAGE");
    ProbeElement bystander(other, "OTHER");
    Signal entered;
    Signal release;
    holdOnHold(target, entered, release);
    target.start("FLOODED");
    bystander.start("BYSTANDER");
    sessionB.plugIn("", &target);
    sessionB.plugIn("", &bystander);
    ASSERT_TRUE(flooded.waitFor(1));
    ASSERT_TRUE(other.waitFor(1));

    CProxyElement& peer = pair.a.proxy();
    peer.sendNotice("TB", "STAGE", "NTC_strArg", 4, "hold");
    ASSERT_TRUE(entered.waitFor(10000));
    int before = liveObjects();
    for (int i = 0; i < LIMIT + EXTRA; ++i)
        peer.sendNotice("TB", "STAGE", "NTC_noArg");
    // Behind the flood on the same receive thread: once it ran, every notice was handled.
    peer.sendNotice("TB", "OTHER", "NTC_strArg", 5, "after");
    EXPECT_TRUE(other.waitForArgument("after")) << "the receive thread waited for the flooded element";
    EXPECT_LE(liveObjects() - before, LIMIT + 64) << "the refused notices were kept";
    EXPECT_EQ(EXTRA, errorLines(trace, "a peer's message is refused"));

    release.set();
    // onPlugIn, "hold" and what was queued; a query sent while the queue is still full would be
    // refused like the flood.
    ASSERT_TRUE(flooded.waitFor(2 + LIMIT, 30000));
    EXPECT_EQ("value 7", outcomeOf([&] { return peer.sendQuery("TB", "STAGE", "QUE_noArg"); }));
    EXPECT_EQ(LIMIT, runsOf(flooded, "NTC_noArg")) << "the queued notices run, in full";

    sessionB.close();
    target.end();
    bystander.end();
}

// A local caller (here a worker thread posting through the invoker) that finds the queue full
// waits until the handler thread has made room; no call is lost.
TEST(ElementQueueLimit, ALocalCallerWaitsForRoomAndLosesNothing)
{
    TraceCapture trace;
    RunLog log;
    ProbeElement element(log);
    Signal entered;
    Signal release;
    holdOnHold(element, entered, release);
    element.start("BUSY");
    const std::string id = element.getObjectId();
    CLocalMethod::postMethodStr(id, "NTC_strArg", "hold");
    ASSERT_TRUE(entered.waitFor(10000));

    Worker caller;
    caller.post([&] {
        for (int i = 0; i < LIMIT + 2; ++i)
            CLocalMethod::postMethod(id, "NTC_noArg");
    });
    EXPECT_FALSE(caller.waitIdle(300)) << "the caller did not wait for room";
    release.set();
    EXPECT_TRUE(caller.waitIdle(20000));
    EXPECT_TRUE(log.waitFor(LIMIT + 3, 20000));
    EXPECT_EQ(LIMIT + 2, runsOf(log, "NTC_noArg"));
    EXPECT_EQ(0, errorLines(trace, "is refused"));
    element.end();
}

// The UI thread (the element may be waiting for it) and the handler thread itself (it would
// wait for itself) queue past the limit instead of waiting.
TEST(ElementQueueLimit, TheUiThreadAndTheHandlerThreadDoNotWaitForRoom)
{
    UiThread::get();
    RunLog log;
    ProbeElement element(log);
    Signal entered;
    Signal release;
    std::string id;
    holdOnHold(element, entered, release, [&] { CLocalMethod::postMethodStr(id, "NTC_strArg", "from itself"); });
    element.start("BUSY");
    id = element.getObjectId();
    CLocalMethod::postMethodStr(id, "NTC_strArg", "hold");
    ASSERT_TRUE(entered.waitFor(10000));
    Worker filler;
    filler.run([&] {
        for (int i = 0; i < LIMIT; ++i)
            CLocalMethod::postMethod(id, "NTC_noArg");
    });

    Signal posted;
    runAsync([&] {
        CLocalMethod::postMethodStr(id, "NTC_strArg", "from the UI thread");
        posted.set();
    });
    EXPECT_TRUE(posted.waitFor(10000)) << "the UI thread waited for room";
    release.set();
    EXPECT_TRUE(log.waitForArgument("from itself", 20000)) << "the handler thread waited for itself";
    EXPECT_TRUE(log.waitForArgument("from the UI thread", 20000));
    EXPECT_EQ(LIMIT, runsOf(log, "NTC_noArg"));
    element.end();
}

} // namespace
