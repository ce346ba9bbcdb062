// The voice element between two terminals of one process: their member lists on the in-process
// session, their voice packets over real broadcast sessions on loopback, each with its panel in
// a test window, a scripted microphone and sound device.
#include <winsock2.h>

#include "CBroadcastNetwork.h"
#include "CComMaster.h"
#include "CElement.h"
#include "CHvxcOut.h"
#include "CLocalMethod.h"
#include "CPhoneCtrl.h"
#include "CPhoneLED.h"
#include "CPowerBtn.h"
#include "CThread.h"
#include "CVoiceManager.h"
#include "CVoiceProcessor.h"
#include "FakeDirectSound.h"
#include "FakeMicrophone.h"
#include "FakeMixer.h"
#include "GroupFixtures.h"
#include "PanelGui.h"
#include "TestSupport.h"
#include "UiThreadScope.h"
#include "VoiceTestSupport.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

const CRect PARENT_A(300, 700, 560, 740);
const CRect PARENT_B(300, 760, 560, 800);
const CRect PARENT_C(300, 820, 560, 860);

// Stands where a terminal's voice element would: keeps every voice packet that reaches it.
class VoiceSpy : public CElement {
public:
    VoiceSpy() { registerMethod("INS_playVoice", &VoiceSpy::INS_playVoice); }
    std::string getElementId() const override { return CVoiceProcessor::VOICE_ELEMENT_ID; }
    std::vector<std::pair<std::string, std::vector<unsigned char>>> packets()
    {
        std::lock_guard<std::mutex> hold(lock_);
        return packets_;
    }
    size_t count()
    {
        std::lock_guard<std::mutex> hold(lock_);
        return packets_.size();
    }

private:
    void INS_playVoice(int size, const unsigned char* bytes)
    {
        std::lock_guard<std::mutex> hold(lock_);
        packets_.push_back({getCallerTerminal(), std::vector<unsigned char>(bytes, bytes + size)});
    }
    std::mutex lock_;
    std::vector<std::pair<std::string, std::vector<unsigned char>>> packets_;
};

// Waits while this thread's windows (the broadcast sessions' among them) get their messages.
bool pumpUntil(const std::function<bool()>& condition, DWORD ms = 10000)
{
    for (DWORD start = GetTickCount(); GetTickCount() - start < ms;) {
        if (condition())
            return true;
        pumpMessages(10);
    }
    return condition();
}

std::vector<unsigned char> voicePacket(unsigned char seed)
{
    std::vector<unsigned char> gsm(325);
    for (size_t i = 0; i < gsm.size(); ++i)
        gsm[i] = static_cast<unsigned char>(i * 31 + seed);
    return CComMaster::buildPacket(gsm.data(), gsm.size());
}

std::vector<unsigned char> speech(size_t bytes)
{
    return toBytes(tone(1000, 8000, 11025, (bytes + 1) / 2));
}

// One terminal: its broadcast session, member list, panel and GUI.
struct Terminal {
    Terminal(const std::string& id, const CRect& parentRect)
        : id(id), broadcast(new CBroadcastNetwork(id, &port, "voice-test-" + id)),
          parent(new CPlainTopWnd(parentRect, WS_POPUP)), panel(new CPhoneCtrl(10, 10, parent.get(), 1300)),
          gui(panel.get())
    {
        panel->Create();
    }
    std::string id;
    int port = 0;
    std::unique_ptr<CBroadcastNetwork> broadcast;
    std::unique_ptr<CPlainTopWnd> parent;
    std::unique_ptr<CPhoneCtrl> panel;
    PanelGui gui;
    std::unique_ptr<TestGroup> group;
    NoticeLog notices;
};

// Terminals A (the host) and B of one session, their member lists started and plugged in.
class VoicePhone : public testing::Test {
protected:
    VoicePhone() : hub("A")
    {
        CThread::registerUIThread();
        hives.reload();
        CVoiceManager::setPlaybackFactory(fakePlayback);
        lookup.setAddress("A", "127.0.0.1");
        lookup.setAddress("B", "127.0.0.1");
        a.reset(new Terminal("A", PARENT_A));
        b.reset(new Terminal("B", PARENT_B));
        a->group.reset(new TestGroup(GROUP_ID, true, "A", a->port, "", "", &lookup, a->broadcast.get()));
        a->group->addObserver(&a->notices);
        a->group->start("M_TERMGP");
        hub.host().plugIn("", a->group.get());
        b->group.reset(new TestGroup(GROUP_ID, false, "B", b->port, "A", "127.0.0.1", nullptr, b->broadcast.get()));
        b->group->addObserver(&b->notices);
        b->group->start("S_TERMGP");
        hub.join("B").plugIn("", b->group.get());
        EXPECT_TRUE(waitUntil([&] { return b->group->isSynchronized(); }));
    }
    ~VoicePhone() override
    {
        for (auto& entry : plugged)
            entry.first->plugOut(CVoiceProcessor::VOICE_ELEMENT_ID);
        for (auto& element : elements)
            element->end();
        if (c)
            hub.terminal("C").close();
        hub.terminal("B").close();
        hub.host().close();
        for (Terminal* t : {c.get(), b.get(), a.get()}) {
            if (t == nullptr)
                continue;
            t->group->end();
            t->broadcast->close();
        }
        processors.clear();
        spies.clear();
        c.reset();
        b.reset();
        a.reset();
        CVoiceManager::setPlaybackFactory(nullptr);
    }

    // The terminal's voice element, started; plugged into its broadcast session when asked.
    CVoiceProcessor* makeElement(Terminal& t, bool plug)
    {
        processors.emplace_back(new CVoiceProcessor(&t.gui, t.group.get(), "phone.log"));
        CVoiceProcessor* element = processors.back().get();
        element->start("IP_PHONE");
        elements.push_back(element);
        if (plug)
            plugIn(t, element);
        return element;
    }
    void plugIn(Terminal& t, CVoiceProcessor* element)
    {
        t.broadcast->plugIn("", element);
        plugged.push_back({t.broadcast.get(), element});
        EXPECT_TRUE(waitUntil([&] { return element->isTelling(); }));
    }
    void plugOut(Terminal& t)
    {
        t.broadcast->plugOut(CVoiceProcessor::VOICE_ELEMENT_ID);
        for (size_t i = 0; i < plugged.size(); ++i)
            if (plugged[i].first == t.broadcast.get()) {
                plugged.erase(plugged.begin() + static_cast<long>(i));
                break;
            }
    }
    VoiceSpy* makeSpy(Terminal& t)
    {
        spies.emplace_back(new VoiceSpy);
        VoiceSpy* spy = spies.back().get();
        spy->start("SPY");
        elements.push_back(spy);
        t.broadcast->plugIn("", spy);
        plugged.push_back({t.broadcast.get(), spy});
        return spy;
    }
    // A third terminal joins the session.
    Terminal& joinC()
    {
        lookup.setAddress("C", "127.0.0.1");
        c.reset(new Terminal("C", PARENT_C));
        c->group.reset(new TestGroup(GROUP_ID, false, "C", c->port, "A", "127.0.0.1", nullptr, c->broadcast.get()));
        c->group->start("S_TERMGP");
        hub.join("C").plugIn("", c->group.get());
        EXPECT_TRUE(waitUntil([&] { return c->group->isSynchronized(); }));
        return *c;
    }
    void joinPhone(Terminal& t)
    {
        CLocalMethod::postMethod(t.group->getObjectId(), "LOC_addSelf");
        EXPECT_TRUE(pumpUntil([&] {
            return a->group->isMember(t.id) && b->group->isMember(t.id) && (!c || c->group->isMember(t.id));
        }));
    }
    // Runs the call as the element's handler would, from the caller terminal.
    static void deliver(CVoiceProcessor* element, const std::string& caller, const std::vector<unsigned char>& packet)
    {
        element->setCallerTerminal(&caller);
        element->executeMethodBuf("INS_playVoice", static_cast<int>(packet.size()), packet.data());
        element->setCallerTerminal(nullptr);
    }
    // Decoded chunks written into sound buffer index.
    size_t plays(size_t index)
    {
        if (index >= sound.bufferCount())
            return 0;
        size_t n = 0;
        for (const auto& call : sound.buffer(index).callsNamed(sound, "Lock"))
            n += call.size() > 5 && call.compare(call.size() - 5, 5, " 3200") == 0 ? 1 : 0;
        return n;
    }

    // The broadcast sessions' sockets.
    struct Winsock {
        Winsock()
        {
            WSADATA data;
            WSAStartup(MAKEWORD(2, 2), &data);
        }
        ~Winsock() { WSACleanup(); }
    } winsock;
    PrivateHives hives;
    FakeDirectSound sound;
    FakeMicrophone microphone;
    FakeMixer mixer;
    UiThreadScope ui;
    TableLookup lookup;
    SessionHub hub;
    std::unique_ptr<Terminal> a;
    std::unique_ptr<Terminal> b;
    std::unique_ptr<Terminal> c;
    std::vector<std::unique_ptr<CVoiceProcessor>> processors;
    std::vector<std::unique_ptr<VoiceSpy>> spies;
    std::vector<CElement*> elements;
    std::vector<std::pair<CBroadcastNetwork*, CElement*>> plugged;
};

} // namespace

TEST_F(VoicePhone, APacketLeavesOnlyWhilePluggedInAndAMemberToEveryOtherMemberUnchanged)
{
    VoiceSpy* spy = makeSpy(*b);
    VoiceSpy* third = makeSpy(joinC());
    CVoiceProcessor* element = makeElement(*a, false);
    EXPECT_EQ(element, a->panel->getVoiceProcessor());
    const std::vector<unsigned char> packet = voicePacket(1);
    ASSERT_EQ(356u, packet.size());

    element->tell(packet.data(), packet.size());   // neither plugged in nor a member
    joinPhone(*b);
    joinPhone(*c);
    element->On();
    EXPECT_TRUE(pumpUntil([&] { return a->group->isSelfMember(); })) << "LOC_addSelf posted";
    EXPECT_EQ(1, microphone.starts.load());
    ASSERT_TRUE(pumpUntil([&] { return b->group->isMember("A"); }));
    element->tell(packet.data(), packet.size());   // a member, not plugged in
    pumpMessages(300);
    EXPECT_EQ(0u, spy->count());

    plugIn(*a, element);
    const std::vector<unsigned char> second = voicePacket(2);
    element->tell(second.data(), second.size());
    ASSERT_TRUE(pumpUntil([&] { return spy->count() == 1 && third->count() == 1; }));
    for (VoiceSpy* receiver : {spy, third}) {
        EXPECT_EQ("A", receiver->packets()[0].first);
        EXPECT_EQ(hexBytes(second), hexBytes(receiver->packets()[0].second));
    }
    EXPECT_EQ(0, a->panel->getPowerBtn()->getLED()->getLEDStatus()) << "the sender's lamp lit";

    // The microphone's speech goes out as packets; after the plug-out nothing leaves though it
    // still delivers.
    microphone.feed(speech(4410 * 2 + 1));
    ASSERT_TRUE(pumpUntil([&] { return spy->count() == 2; }));
    EXPECT_EQ(356u, spy->packets()[1].second.size());
    plugOut(*a);
    EXPECT_FALSE(element->isTelling());
    const int reads = microphone.reads();
    microphone.feed(speech(4410 * 2 + 1));
    ASSERT_TRUE(waitUntil([&] { return microphone.reads() > reads; }));
    pumpMessages(500);
    EXPECT_EQ(2u, spy->count());
    EXPECT_EQ(2u, third->count());
    // The sender is a member with a node of its own, and never hears itself.
    int ownBuffer = -1;
    ASSERT_TRUE(element->getVoiceManager()->bufferOf("A", &ownBuffer));
    EXPECT_EQ(0u, plays(static_cast<size_t>(ownBuffer)));

    element->Off();
    EXPECT_TRUE(pumpUntil([&] { return !a->group->isSelfMember() && !b->group->isMember("A"); }))
        << "LOC_removeSelf posted";
    EXPECT_EQ(1, microphone.stops.load());
}

TEST_F(VoicePhone, AReceiverPlaysOnlyAsAMemberAndOnlyMembersItKnows)
{
    CVoiceProcessor* element = makeElement(*b, true);
    const std::vector<unsigned char> packet = voicePacket(3);
    CPhoneLED* led = b->panel->getPowerBtn()->getLED();
    {
        // B not in the phone: dropped before decoding, nothing lit.
        joinPhone(*a);
        TraceCapture trace;
        deliver(element, "A", packet);
        EXPECT_EQ(0u, plays(1));
        EXPECT_EQ(0, trace.count("ERROR: "));
        EXPECT_EQ(1, led->getLEDStatus());
    }
    {
        // B in, A left: no node for A.
        CLocalMethod::postMethod(a->group->getObjectId(), "LOC_removeSelf");
        ASSERT_TRUE(pumpUntil([&] { return !b->group->isMember("A"); }));
        joinPhone(*b);
        TraceCapture trace;
        deliver(element, "A", packet);
        EXPECT_EQ(1, trace.count("from A, an unregistered terminal")) << trace.text();
        EXPECT_EQ(0, led->getLEDStatus());
    }
    // A back in: its node plays.
    joinPhone(*a);
    ASSERT_TRUE(pumpUntil([&] { return element->getVoiceManager()->memberCount() == 2; }));
    deliver(element, "A", packet);
    int bufferId = -1;
    ASSERT_TRUE(element->getVoiceManager()->bufferOf("A", &bufferId));
    EXPECT_EQ(1u, plays(static_cast<size_t>(bufferId)));
}

TEST_F(VoicePhone, MembershipNoticesKeepTheNodesAndTheListenMark)
{
    CVoiceProcessor* element = makeElement(*a, true);
    CVoiceManager* manager = element->getVoiceManager();
    CPowerBtn* button = a->panel->getPowerBtn();
    int id = 0;
    element->On();
    ASSERT_TRUE(pumpUntil([&] { return manager->bufferOf("A", &id); }));
    EXPECT_FALSE(button->getLED()->isListening()) << "only itself";
    joinPhone(*b);
    ASSERT_TRUE(pumpUntil([&] { return manager->bufferOf("B", &id); }));
    EXPECT_TRUE(button->getLED()->isListening()) << "the first other";
    CLocalMethod::postMethod(b->group->getObjectId(), "LOC_removeSelf");
    ASSERT_TRUE(pumpUntil([&] { return !manager->bufferOf("B", &id); }));
    EXPECT_FALSE(button->getLED()->isListening());
    EXPECT_EQ(1u, manager->memberCount());

    // A notice without a terminal id, as a peer's member description can make: traced, ignored.
    TraceCapture trace;
    element->update(nullptr, "ADD ");
    element->update(nullptr, "REMOVE");
    EXPECT_EQ(2, trace.count("ERROR: [ CVoiceProcessor ] update: notice without a terminal id ignored"))
        << trace.text();
    EXPECT_EQ(1u, manager->memberCount());
    element->Off();
}

TEST_F(VoicePhone, DestructionLeavesTheMemberListAndThePanel)
{
    CVoiceProcessor* element = makeElement(*a, true);
    plugOut(*a);
    element->end();
    elements.clear();
    processors.clear();
    EXPECT_EQ(nullptr, a->panel->getVoiceProcessor());
    // Its observer is gone: a notice reaches the test's observer only.
    a->notices.clear();
    joinPhone(*b);
    EXPECT_TRUE(pumpUntil([&] { return a->notices.count("ADD B") == 1; }));
}

TEST(VoicePhoneFatal, OnAndOffOffTheUiThreadAndAGuiWithoutAPanelEndTheProcess)
{
    const char* const lines[] = {"ASSERT: [ CVoiceProcessor ] On: not on the UI thread.",
                                 "ASSERT: [ CVoiceProcessor ] Off: not on the UI thread.",
                                 "ASSERT: [ CVoiceProcessor ] no phone panel."};
    for (int i = 0; i < 3; ++i) {
        if (isChild()) {
            const char* which = std::getenv("VOICE_FATAL_CASE");
            if (which == nullptr || std::atoi(which) != i)
                continue;
            childTracesToFile(false);
            PrivateHives hives;
            FakeDirectSound sound;
            FakeMicrophone microphone;
            CVoiceManager::setPlaybackFactory(fakePlayback);
            UiThreadScope ui;
            CPlainTopWnd parent(PARENT_A, WS_POPUP);
            CPhoneCtrl panel(10, 10, &parent, 1300);
            PanelGui gui(i == 2 ? nullptr : &panel);
            TableLookup lookup;
            TestGroup group(GROUP_ID, true, "A", 5000, "", "", &lookup, nullptr);
            group.start("M_TERMGP");
            CVoiceProcessor element(&gui, &group, "phone.log");
            std::thread([&] { i == 0 ? element.On() : element.Off(); }).join();
            exit(0);
        }
        SCOPED_TRACE(lines[i]);
        TempDir dir;
        SetEnvironmentVariableA("VOICE_FATAL_CASE", std::to_string(i).c_str());
        EXPECT_EQ(ABNORMAL_EXIT, runInChild(dir));
        SetEnvironmentVariableA("VOICE_FATAL_CASE", nullptr);
        EXPECT_TRUE(hasLineWith(dir.logLines(), lines[i])) << testing::PrintToString(dir.logLines());
    }
    if (isChild())
        exit(2);
}
