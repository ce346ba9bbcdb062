#pragma once
// Stand-ins for the tests of shared spaces: a space whose hooks note every step and keep the
// member set readable from the test thread, and a session of such spaces on a hub.
#include "CSharedSpace.h"
#include "SessionHub.h"
#include "TestSupport.h"

#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

// A member of a TestSpace: a shared element with nothing of its own.
class SpaceMember : public CSharedElement {
public:
    void onSync() override {}
    void onEndSync() override {}
};

// A shared space whose members are SpaceMembers. Descriptors that begin with "none" make no
// original; descriptors in refusedReplicas (set before the install that uses them) make no
// replica here. Every hook is noted as "<terminal> <hook> <descriptor or terminal> <element>",
// the element being its id, "new" (before-plug-in hooks, which see it without an id) or
// "NULL"; the member set follows the hooks.
class TestSpace : public CSharedSpace {
public:
    TestSpace(ISessionHandle* session, bool master, Journal& journal, const std::string& id = "SPACE");

    // Descriptor -> "O <element id>" for an original, "R <home terminal> <element id>" for a
    // replica, as the hooks saw them plugged in and not yet plugged out.
    std::map<std::string, std::string> members();
    std::set<std::string> refusedReplicas;

    CSharedElement* createOriginalElement(const std::string& elemDesc) override;
    CSharedElement* createReplicaElement(const std::string& elemDesc) override;
    void onPlugInSharedSpace(const std::string& text) override;
    void onPlugOutSharedSpace(const std::string& text) override;
    void onSyncSharedSpace() override;
    void onEndSyncSharedSpace() override;
    void onBeforePlugInOrgElem(const std::string& elemDesc, CSharedElement* element) override;
    void onAfterPlugInOrgElem(const std::string& elemDesc, CSharedElement* element) override;
    void onBeforePlugOutOrgElem(const std::string& elemDesc, CSharedElement* element) override;
    void onAfterPlugOutOrgElem(const std::string& elemDesc, CSharedElement* element) override;
    void onBeforePlugInRplElem(const std::string& elemDesc, CSharedElement* element) override;
    void onAfterPlugInRplElem(const std::string& elemDesc, CSharedElement* element) override;
    void onBeforePlugOutRplElem(const std::string& elemDesc, CSharedElement* element) override;
    void onAfterPlugOutRplElem(const std::string& elemDesc, CSharedElement* element) override;
    void onRemoveAllRplElems(const std::string& termId) override;

private:
    void note(const std::string& hook, const std::string& subject, CSharedElement* element, bool hasId = true);

    Journal& journal_;
    std::mutex lock_;
    std::map<std::string, std::string> members_; // lock_
};

// A hub session with one space on the host (the master copy) and one on each joined terminal.
// Tear-down closes every terminal (which plugs the spaces out) before the spaces are ended.
class SpaceSession {
public:
    explicit SpaceSession(const std::vector<std::string>& joined = {"T1", "T2"});
    ~SpaceSession();

    // Joins the terminal and plugs a slave space into it; waits for its synchronisation.
    TestSpace& add(const std::string& terminalId);
    // Joins the terminal with a slave space of an id that no master answers: it never
    // synchronises. waitForMembers passes over it.
    TestSpace& addLonely(const std::string& terminalId);
    TestSpace& space(const std::string& terminalId) { return *spaces_.at(terminalId); }
    // Local calls to a terminal's space.
    void install(const std::string& terminalId, const std::string& elemDesc);
    void uninstall(const std::string& terminalId, const std::string& elemDesc);
    void post(const std::string& terminalId, const std::string& method, const std::string& argument);
    // The terminal leaves in order (its session closes) or crashes; waitForMembers passes over it.
    void leave(const std::string& terminalId);
    void cut(const std::string& terminalId);
    // True once every terminal's space shows exactly these members: descriptor -> home terminal.
    // The element ids must agree across terminals.
    bool waitForMembers(const std::map<std::string, std::string>& homes, DWORD timeoutMs = 10000);
    // The element id of a member as the given terminal sees it ("" when it has none).
    std::string elementIdOf(const std::string& terminalId, const std::string& elemDesc);
    // What each space holds, one line a terminal, for failure messages.
    std::string describe();

    Journal journal;
    SessionHub hub;

private:
    TestSpace& plugSpace(const std::string& terminalId, bool master, const std::string& id = "SPACE");

    std::map<std::string, std::unique_ptr<TestSpace>> spaces_;
    std::vector<std::string> order_;
    std::set<std::string> passedOver_;
};
