// Viewable elements as members of a shared space, as the stage keeps its contents: the space
// removes them (plug-out, end, delete on its own thread) while their leases tick.
#include "CIllegalArgumentException.h"
#include "CLocalMethod.h"
#include "CSharedSpace.h"
#include "SessionHub.h"
#include "TestSupport.h"
#include "ViewableFixtures.h"

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <mutex>

namespace {

// A space of TestViewables that keeps the object ids of its members for the test.
class ViewableSpace : public CSharedSpace {
public:
    ViewableSpace(ISessionHandle* session, bool master, EventLog& log) : CSharedSpace(session, master), log_(log)
    {
        setId("VIEW-SPACE");
    }

    // Descriptor -> object id of every member plugged in.
    std::map<std::string, std::string> members()
    {
        std::lock_guard<std::mutex> hold(lock_);
        return members_;
    }

    CSharedElement* createOriginalElement(const std::string& elemDesc) override
    {
        return new TestViewable(log_, nullptr, ViewTexts(), elemDesc);
    }
    CSharedElement* createReplicaElement(const std::string&) override { return new TestViewable(log_, nullptr); }
    void onPlugInSharedSpace(const std::string&) override {}
    void onPlugOutSharedSpace(const std::string&) override {}
    void onSyncSharedSpace() override {}
    void onEndSyncSharedSpace() override {}
    void onBeforePlugInOrgElem(const std::string&, CSharedElement*) override {}
    void onAfterPlugInOrgElem(const std::string& elemDesc, CSharedElement* element) override { enter(elemDesc, element); }
    void onBeforePlugOutOrgElem(const std::string& elemDesc, CSharedElement*) override { leave(elemDesc); }
    void onAfterPlugOutOrgElem(const std::string&, CSharedElement*) override {}
    void onBeforePlugInRplElem(const std::string&, CSharedElement*) override {}
    void onAfterPlugInRplElem(const std::string& elemDesc, CSharedElement* element) override { enter(elemDesc, element); }
    void onBeforePlugOutRplElem(const std::string& elemDesc, CSharedElement*) override { leave(elemDesc); }
    void onAfterPlugOutRplElem(const std::string&, CSharedElement*) override {}
    void onRemoveAllRplElems(const std::string&) override {}

private:
    void enter(const std::string& elemDesc, CSharedElement* element)
    {
        if (element == nullptr)
            return;
        std::lock_guard<std::mutex> hold(lock_);
        members_[elemDesc] = element->getObjectId();
    }
    void leave(const std::string& elemDesc)
    {
        std::lock_guard<std::mutex> hold(lock_);
        members_.erase(elemDesc);
    }

    EventLog& log_;
    std::mutex lock_;
    std::map<std::string, std::string> members_;
};

// A host and joined terminals with one space each; closes the terminals before the spaces end.
class SpaceTerminals {
public:
    SpaceTerminals()
    {
        add(hub.host(), true);
        add(hub.join("T1"), false);
        add(hub.join("T2"), false);
    }
    ~SpaceTerminals()
    {
        for (auto terminal = order_.rbegin(); terminal != order_.rend(); ++terminal)
            hub.terminal(*terminal).close();
        for (auto& space : spaces_)
            space.second->end();
    }

    ViewableSpace& space(const std::string& terminalId) { return *spaces_.at(terminalId); }
    void post(const std::string& terminalId, const std::string& method, const std::string& argument)
    {
        CLocalMethod::postMethodStr(space(terminalId).getObjectId(), method, argument);
    }
    // Every replica in the space asks for the right (so that leases run); a member that is gone
    // meanwhile is passed over.
    void requestRights(const std::string& terminalId, const std::string& requestId)
    {
        for (auto& member : space(terminalId).members()) {
            if (member.first.compare(0, terminalId.size() + 1, terminalId + " ") == 0)
                continue; // an original of this terminal
            try {
                CLocalMethod::postMethodStr(member.second, "LOC_assignToOperator", requestId);
            } catch (CIllegalArgumentException&) {
            }
        }
    }
    bool waitForCount(const std::string& terminalId, size_t count)
    {
        return waitUntil([&] { return space(terminalId).members().size() == count; });
    }

    SessionHub hub;
    EventLog log;

private:
    void add(HubTerminal& terminal, bool master)
    {
        auto space = std::make_unique<ViewableSpace>(&terminal, master, log);
        space->start(terminal.terminalId() + "-VIEW-SPACE");
        terminal.plugIn("", space.get());
        EXPECT_TRUE(waitUntil([&] { return space->isSynchronized(); }));
        order_.push_back(terminal.terminalId());
        spaces_[terminal.terminalId()] = std::move(space);
    }

    std::map<std::string, std::unique_ptr<ViewableSpace>> spaces_;
    std::vector<std::string> order_;
};

TEST(ViewableSpace, MembersRemovedWhileTheirLeasesTickEndNothing)
{
    FakeTime time;
    TimeRunner runner(60); // a lease second every 60 ms: renewals and expiries all the time
    TraceCapture trace;
    const std::vector<std::string> terminals = {"HOST", "T1", "T2"};
    {
        SpaceTerminals session;
        for (int round = 0; round < 4; ++round) {
            for (const std::string& terminal : terminals)
                for (int i = 0; i < 3; ++i)
                    session.post(terminal, "LOC_install", terminal + " item " + std::to_string(round) + "." + std::to_string(i));
            for (const std::string& terminal : terminals)
                ASSERT_TRUE(session.waitForCount(terminal, 9)) << terminal;
            for (const std::string& terminal : terminals)
                session.requestRights(terminal, "drag " + terminal);
            pause(150 * round);
            // Each terminal takes back its own items while the others' copies still renew.
            for (const std::string& terminal : terminals)
                for (int i = 0; i < 3; ++i)
                    session.post(terminal, "LOC_uninstall",
                                 terminal + " item " + std::to_string(round) + "." + std::to_string(i));
            for (const std::string& terminal : terminals)
                ASSERT_TRUE(session.waitForCount(terminal, 0)) << terminal;
        }
        // Last, a joined terminal leaves while its items and its copies of the others' are busy.
        for (const std::string& terminal : terminals)
            session.post(terminal, "LOC_install", terminal + " last");
        for (const std::string& terminal : terminals)
            ASSERT_TRUE(session.waitForCount(terminal, 3)) << terminal;
        session.requestRights("T1", "last drag");
        session.requestRights("T2", "last drag");
        pause(500);
        session.hub.leave("T1");
        EXPECT_TRUE(session.waitForCount("HOST", 2));
        EXPECT_TRUE(session.waitForCount("T2", 2));
        // The rights that T1 held lapse on their masters, which take them back as the rest goes.
        pause(CViewableElement::MASTER_CHECK_MS + 500);
    }
    EXPECT_EQ(0, trace.count("FATAL")) << trace.text();
    EXPECT_EQ(0, trace.count("ASSERT")) << trace.text();
    EXPECT_GT(trace.count("renews the lease"), 0);
    EXPECT_GT(trace.count("the holding period has passed"), 0);
}

} // namespace
