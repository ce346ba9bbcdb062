// The session handle over DirectPlay, on a thread with a message loop as the session logic's,
// over the recording DirectPlay fake: opening with its failures, events carried to that thread,
// plugging elements in and out, and the end of the session.
#include "TransportTestKit.h"

#include "SessionTestKit.h"

#include "CFatalTroubleException.h"
#include "CFatalTroubleRecommendRebootException.h"
#include "CGuid.h"
#include "CIOException.h"
#include "CIllegalArgumentException.h"
#include "CIllegalStateException.h"
#include "CMethodCallBlock.h"
#include "CNetwork.h"

#include <algorithm>
#include <functional>
#include <memory>

namespace {

using Lines = std::vector<std::string>;

// The class of what the call threw, "" when it returned.
std::string thrownBy(const std::function<void()>& call)
{
    try {
        call();
    } catch (CIOException&) {
        return "CIOException";
    } catch (CIllegalStateException&) {
        return "CIllegalStateException";
    } catch (CIllegalArgumentException&) {
        return "CIllegalArgumentException";
    } catch (CFatalTroubleRecommendRebootException&) {
        return "CFatalTroubleRecommendRebootException";
    } catch (CFatalTroubleException&) {
        return "CFatalTroubleException";
    } catch (CJException& e) {
        return "CJException " + e.getMessage();
    }
    return "";
}

class NetworkTest : public FakeDirectPlayTest {
protected:
    // Made on the loop thread, not opened.
    CNetwork* make(const std::string& terminalId, bool isHost)
    {
        CNetwork* network = nullptr;
        loop.run([&] { network = new CNetwork(terminalId, isHost, isHost ? "LC" : "RM"); });
        return network;
    }
    std::string host(CNetwork& network, ISessionHandleEventListener* listener)
    {
        fake().playerId = DPID_SERVERPLAYER;
        std::string instance;
        loop.run([&] { instance = network.openLocalSession(APPLICATION_GUID, listener); });
        return instance;
    }
    void join(CNetwork& network, ISessionHandleEventListener* listener)
    {
        fake().playerId = 7;
        fake().sessions = {fake().instance};
        loop.run([&] {
            network.openRemoteSession(APPLICATION_GUID, CGuid::guidToString(fake().instance), "198.18.0.1", listener);
        });
    }
    // What close threw ("" for nothing); then the handle is deleted on its thread.
    std::string closeAndDelete(CNetwork* network)
    {
        std::string thrown;
        loop.run([&] {
            thrown = thrownBy([&] { network->close(); });
            delete network;
        });
        return thrown;
    }
    // Whether an event raised now reaches the listener.
    bool hears(CNetwork& network, EventRecorder& listener)
    {
        size_t before = listener.events().size();
        network.update(nullptr, "1 PROBE");
        EXPECT_TRUE(waitUntil([] { return CNetwork::getLiveEventTexts() == 0; }));
        loop.run([] {}); // the window's message came before this task
        return listener.events().size() > before;
    }

    TempDir dir;
    LoopThread loop;
};

} // namespace

TEST_F(NetworkTest, HostingGivesTheInstanceGuidAndEventsReachTheListenerOnItsThreadInOrderOnce)
{
    EventRecorder listener;
    CNetwork* network = make("H", true);
    EXPECT_EQ(CGuid::guidToString(fake().instance), host(*network, &listener));
    EXPECT_EQ(1u, fake().callsStartingWith("CreatePlayer dwSize=24 short=H").size());

    // Raised on other threads, quickly one after the other.
    network->update(nullptr, "1 T7");
    network->update(nullptr, "2 ");
    network->update(nullptr, "1 a b ");
    ASSERT_TRUE(listener.journal.waitFor(3, 10000));
    Sleep(200);
    EXPECT_EQ((Lines{"1 T7", "2 ", "1 a b "}), listener.events());
    EXPECT_EQ((std::vector<DWORD>(3, loop.threadId())), listener.threads());
    EXPECT_EQ(0, CNetwork::getLiveEventTexts());
    EXPECT_EQ("", closeAndDelete(network));
}

TEST_F(NetworkTest, AJoinedTerminalHearsItsTransportAndMayCloseFromTheListener)
{
    // The director closes when its own terminal is out; the listener runs with no lock held.
    class Closer : public EventRecorder {
    public:
        void OnSessionHandleEvent(int eventId, const std::string& terminalId) override
        {
            EventRecorder::OnSessionHandleEvent(eventId, terminalId);
            if (terminalId == "A")
                closed = thrownBy([&] { network->close(); }) == "";
        }
        CNetwork* network = nullptr;
        bool closed = false;
    } listener;
    CNetwork* network = make("A", false);
    listener.network = network;
    join(*network, &listener);
    fake().deliver(DPID_SERVERPLAYER, {0, 0xFF, 0, 0, 0, 'B', 0});
    fake().deliverSystem(DPSYS_SESSIONLOST);
    ASSERT_TRUE(listener.journal.waitFor(2, 10000));
    loop.run([] {});
    EXPECT_EQ((Lines{"1 B", "1 A"}), listener.events());
    EXPECT_EQ((std::vector<DWORD>(2, loop.threadId())), listener.threads());
    EXPECT_TRUE(listener.closed);
    EXPECT_FALSE(hears(*network, listener)) << "close cleared the listener";
    EXPECT_EQ("CIllegalStateException", closeAndDelete(network)) << "closed already";
}

TEST_F(NetworkTest, FailedOpensPassTheExceptionOnAndClearTheListenerOnlyForTheirOwnKinds)
{
    struct Case {
        const char* what;
        std::function<void()> arrange;
        bool isHost;
        const char* sessionGuid; // a join's; null: the fake's instance
        const char* thrown;
        bool listenerKept;
    };
    const std::vector<Case> cases = {
        {"the session vanished", [&] { fake().answer("Open", DPERR_NOSESSIONS); }, false, nullptr, "CIOException",
         false},
        {"the join fails otherwise", [&] { fake().answer("Open", DPERR_CONNECTIONLOST); }, false, nullptr,
         "CIOException", false},
        {"the session text is no GUID", [] {}, false, "no GUID", "CIllegalArgumentException", true},
        {"DirectPlay cannot create the session", [&] { fake().answer("Open", DPERR_UNAVAILABLE); }, true, nullptr,
         "CFatalTroubleException", true},
        {"DirectPlay answers a generic failure", [&] { fake().answer("Open", DPERR_GENERIC); }, true, nullptr,
         "CFatalTroubleRecommendRebootException", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fake().reset();
        c.arrange();
        EventRecorder listener;
        CNetwork* network = make("T", c.isHost);
        std::string thrown;
        if (c.isHost) {
            thrown = thrownBy([&] { host(*network, &listener); });
        } else {
            fake().playerId = 7;
            fake().sessions = {fake().instance};
            std::string session = c.sessionGuid != nullptr ? c.sessionGuid : CGuid::guidToString(fake().instance);
            thrown = thrownBy([&] {
                loop.run([&] { network->openRemoteSession(APPLICATION_GUID, session, "198.18.0.1", &listener); });
            });
        }
        EXPECT_EQ(c.thrown, thrown);
        EXPECT_EQ(c.listenerKept, hears(*network, listener));
        EXPECT_EQ("CIllegalStateException", closeAndDelete(network)) << "nothing was opened";
        EXPECT_EQ(0, fake().liveObjects());
    }
}

TEST_F(NetworkTest, ASecondOpenIsRefusedAndOnlyAFailedOnesRetryClearsTheListener)
{
    EventRecorder first, second;
    CNetwork* network = make("H", true);
    host(*network, &first);
    EXPECT_EQ("CIllegalStateException", thrownBy([&] { host(*network, &second); }));
    EXPECT_TRUE(hears(*network, first)) << "the running session keeps its listener";
    EXPECT_FALSE(hears(*network, second));
    EXPECT_EQ("", closeAndDelete(network));
    // A closed handle is not opened again.
    CNetwork* reopened = make("H", true);
    host(*reopened, &first);
    loop.run([&] { reopened->close(); });
    EXPECT_EQ("CIllegalStateException", thrownBy([&] { host(*reopened, &second); }));
    EXPECT_EQ("CIllegalStateException", closeAndDelete(reopened));

    // A host whose first open failed: DirectPlay refuses the retry, and the listener goes.
    fake().reset();
    fake().answer("Open", DPERR_UNAVAILABLE);
    network = make("H", true);
    EXPECT_EQ("CFatalTroubleException", thrownBy([&] { host(*network, &first); }));
    EXPECT_EQ("CIllegalStateException", thrownBy([&] { host(*network, &second); }));
    EXPECT_FALSE(hears(*network, second));
    EXPECT_EQ("CIllegalStateException", closeAndDelete(network));
}

TEST_F(NetworkTest, PlugInAndPlugOutRefuseWhatTheTableForbids)
{
    Journal journal;
    NoteElement element(journal, "E1"), twin(journal, "E1"), other(journal, "E2");
    element.start("E1");
    twin.start("TWIN");
    other.start("E2");
    EventRecorder listener;
    CNetwork* network = make("H", true);
    struct Case {
        const char* what;
        std::function<void()> call;
        const char* thrown;
    };
    auto in = [&](CElement* e) { return [network, e] { network->plugIn("", e); }; };
    auto out = [&](const char* id) { return [network, id] { network->plugOut(id); }; };
    const std::vector<Case> before = {
        {"plugIn before the open", in(&element), "CIllegalStateException"},
        {"plugOut of an id never plugged in", out("E1"), "CIllegalArgumentException"},
    };
    const std::vector<Case> open = {
        {"plugIn", in(&element), ""},
        {"plugIn of the same element again", in(&element), "CIllegalArgumentException"},
        {"plugIn of another element under that id", in(&twin), "CIllegalArgumentException"},
        {"plugOut of an unknown id", out("E9"), "CIllegalArgumentException"},
        {"plugIn of a second element", in(&other), ""},
        {"plugOut", out("E1"), ""},
        {"plugOut again", out("E1"), "CIllegalArgumentException"},
    };
    const std::vector<Case> after = {
        {"plugIn after close", in(&element), "CIllegalStateException"},
        {"plugOut after close of what close plugged out", out("E2"), "CIllegalArgumentException"},
    };
    auto runAll = [&](const std::vector<Case>& cases) {
        for (const Case& c : cases)
            loop.run([&] { EXPECT_EQ(c.thrown, thrownBy(c.call)) << c.what; });
    };
    runAll(before);
    host(*network, &listener);
    runAll(open);
    EXPECT_EQ((Lines{"E2"}), network->pluggedIds());
    loop.run([&] { network->close(); });
    runAll(after);
    loop.run([&] { delete network; });
    std::vector<std::string> entries = journal.entries();
    std::sort(entries.begin(), entries.end());
    EXPECT_EQ((Lines{"H E1 onPlugIn", "H E1 onPlugOut", "H E2 onPlugIn", "H E2 onPlugOut"}), entries);
}

TEST_F(NetworkTest, CloseUnplugsOldestFirstOutsideItsLockAndSendsWhatThePlugOutsQueuedBeforeTheEnd)
{
    Journal journal;
    EventRecorder listener;
    CNetwork* network = make("A", false);
    join(*network, &listener);
    // A space: its plug-out says goodbye to the master and plugs its member out through the
    // handle, on its own handler thread, while close waits for it.
    NoteElement space(journal, "SPACE"), member(journal, "MEMBER"), other(journal, "OTHER");
    space.onPlugOutAction = [&] {
        space.sendNoticeStr("@HAS_MASTER", "SPACE", "INS_note", "bye");
        network->plugOut("MEMBER");
    };
    for (NoteElement* element : {&space, &member, &other}) {
        element->start(element->getElementId());
        loop.run([&] { network->plugIn("", element); });
    }
    ASSERT_TRUE(journal.waitFor(3, 10000));
    journal.clear();
    // The goodbye meets a busy DirectPlay for a while.
    fake().answerSends(std::vector<HRESULT>(20, DPERR_BUSY));
    std::vector<size_t> callsAtSend;
    fake().onSend = [&](DPID) { callsAtSend.push_back(fake().calls().size()); };
    size_t opened = fake().calls().size();

    EXPECT_EQ("", closeAndDelete(network));
    fake().onSend = nullptr;
    EXPECT_EQ((Lines{"A SPACE onPlugOut", "A MEMBER onPlugOut", "A OTHER onPlugOut"}), journal.entries());
    std::vector<FakeDirectPlay::Sent> sent = fake().sent();
    ASSERT_EQ(21u, sent.size()) << "twenty busy answers, then the goodbye left";
    const std::vector<unsigned char>& bytes = sent.back().data;
    EXPECT_EQ("@HAS_MASTER", CMethodCallBlock::peekReceiverTerminalId(bytes.data(), static_cast<int>(bytes.size())));
    std::vector<std::string> calls = fake().calls();
    size_t closeCall = std::find(calls.begin(), calls.end(), "Close") - calls.begin();
    ASSERT_LT(closeCall, calls.size());
    EXPECT_LT(callsAtSend.back(), closeCall) << "the goodbye left before DirectPlay was closed";
    EXPECT_EQ(opened, callsAtSend.front()) << "nothing of the close ran before the plug-outs' messages left";
    space.end();
    member.end();
    other.end();
}

TEST_F(NetworkTest, AJoinWhoseSessionVanishedLeavesAHandleThatOnlyStopsItsThreads)
{
    EventRecorder listener;
    // The first join of the process also starts what COM keeps for good.
    fake().answer("Open", DPERR_NOSESSIONS);
    CNetwork* network = make("A", false);
    EXPECT_EQ("CIOException", thrownBy([&] { join(*network, &listener); }));
    closeAndDelete(network);
    Sleep(200);
    int threads = threadCount();
    fake().reset();
    fake().answer("Open", DPERR_NOSESSIONS);
    network = make("A", false);
    EXPECT_GE(threadCount(), threads + 2) << "the connection's threads run from the start";
    EXPECT_EQ("CIOException", thrownBy([&] { join(*network, &listener); }));
    EXPECT_FALSE(hears(*network, listener));
    TraceCapture trace;
    loop.run([&] { EXPECT_EQ("CIllegalStateException", thrownBy([&] { network->close(); })); });
    EXPECT_EQ(1, trace.count("[ CNetwork ] the receiving and sending threads have stopped")) << trace.text();
    loop.run([&] { delete network; });
    EXPECT_TRUE(waitUntil([&] { return threadCount() == threads; }, 5000)) << threadCount() << " not " << threads;
    EXPECT_EQ(0, trace.count("ERROR")) << trace.text();
}

TEST_F(NetworkTest, ASessionHostedOrJoinedLeavesNoThreadOrHandleAfterCloseAndDelete)
{
    EventRecorder listener;
    // The first session of the process also starts what COM and the window class keep for good.
    CNetwork* network = make("W", true);
    host(*network, &listener);
    EXPECT_EQ("", closeAndDelete(network));
    Sleep(200);
    int threads = threadCount(), handles = handleCount();
    for (bool isHost : {true, false, true}) {
        fake().reset();
        network = make(isHost ? "H" : "A", isHost);
        if (isHost)
            host(*network, &listener);
        else
            join(*network, &listener);
        EXPECT_GE(threadCount(), threads + 2) << "the connection's threads";
        EXPECT_EQ("", closeAndDelete(network)) << (isHost ? "hosted" : "joined");
    }
    EXPECT_TRUE(waitUntil([&] { return threadCount() == threads; }, 5000)) << threadCount() << " not " << threads;
    EXPECT_EQ(handles, handleCount());
}

TEST_F(NetworkTest, EventTextsAreFreedWhenThePostFailsOrTheHandleGoesFirst)
{
    TraceCapture trace;
    // Deleted in the same turn of its thread that raised the events: they never arrive.
    loop.run([&] {
        CNetwork network("H", true, "LC");
        for (int i = 0; i < 5; ++i)
            network.update(nullptr, "1 T" + std::to_string(i));
        EXPECT_EQ(5, CNetwork::getLiveEventTexts());
        EXPECT_EQ("CIllegalStateException", thrownBy([&] { network.close(); }));
    });
    EXPECT_EQ(0, CNetwork::getLiveEventTexts());
    EXPECT_EQ(1, trace.count("5 events never reached the window"));
    // No window to post to.
    loop.run([&] {
        CNetwork network("H", true, "LC");
        network.DestroyWindow();
        network.update(nullptr, "1 T9");
        EXPECT_EQ(0, CNetwork::getLiveEventTexts());
        EXPECT_EQ("CIllegalStateException", thrownBy([&] { network.close(); }));
    });
    EXPECT_EQ(1, trace.count("ERROR: [ CNetwork ] update(): the event [1 T9] cannot be posted"));
}

TEST_F(NetworkTest, AFloodOfEventsStopsAtTheLimitOfPostedEvents)
{
    TraceCapture trace;
    EventRecorder listener;
    CNetwork* network = make("H", true);
    host(*network, &listener);
    loop.run([&] {
        for (size_t i = 0; i < CNetwork::POSTED_EVENT_LIMIT + 5; ++i)
            network->update(nullptr, "1 T" + std::to_string(i));
    });
    ASSERT_TRUE(listener.journal.waitFor(CNetwork::POSTED_EVENT_LIMIT, 20000));
    loop.run([] {});
    EXPECT_EQ(CNetwork::POSTED_EVENT_LIMIT, listener.events().size());
    EXPECT_EQ(5, trace.count("events wait for the window already"));
    EXPECT_EQ("", closeAndDelete(network));
}

TEST_F(NetworkTest, MessagesOtherProgramsPostToTheWindowAreAnErrorLineEachAndEventsStillArrive)
{
    TraceCapture trace;
    EventRecorder listener;
    CNetwork* network = make("H", true);
    host(*network, &listener);
    HWND window = network->GetSafeHwnd();
    // An unknown command, and the event command with a text this handle never posted.
    ASSERT_TRUE(PostMessageA(window, CNetwork::WM_NETWORK_EVENT, 2, 0));
    ASSERT_TRUE(PostMessageA(window, CNetwork::WM_NETWORK_EVENT, CNetwork::NETWORK_EVENT_COMMAND, 0x1234));
    loop.run([] {});
    EXPECT_EQ(1, trace.count("ERROR: [ CNetwork ] OnNetworkEvent(): the command 2 is unknown")) << trace.text();
    EXPECT_EQ(1, trace.count("ERROR: [ CNetwork ] OnNetworkEvent(): the event text is not one this handle posted"));
    EXPECT_TRUE(hears(*network, listener));
    EXPECT_EQ("", closeAndDelete(network));
}
