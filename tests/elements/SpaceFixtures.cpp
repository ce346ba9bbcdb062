#include "SpaceFixtures.h"

#include "CLocalMethod.h"

#include <gtest/gtest.h>

// ---- TestSpace

TestSpace::TestSpace(ISessionHandle* session, bool master, Journal& journal, const std::string& id)
    : CSharedSpace(session, master), journal_(journal)
{
    setId(id);
}

std::map<std::string, std::string> TestSpace::members()
{
    std::lock_guard<std::mutex> hold(lock_);
    return members_;
}

void TestSpace::note(const std::string& hook, const std::string& subject, CSharedElement* element, bool hasId)
{
    std::string what = element == nullptr ? std::string("NULL") : hasId ? element->getElementId() : std::string("new");
    journal_.add(getTerminalId() + " " + hook + " " + subject + " " + what);
}

CSharedElement* TestSpace::createOriginalElement(const std::string& elemDesc)
{
    return elemDesc.compare(0, 4, "none") == 0 ? nullptr : new SpaceMember();
}

CSharedElement* TestSpace::createReplicaElement(const std::string& elemDesc)
{
    return refusedReplicas.count(elemDesc) != 0 ? nullptr : new SpaceMember();
}

void TestSpace::onPlugInSharedSpace(const std::string& text)
{
    journal_.add(getTerminalId() + " onPlugInSharedSpace " + text);
}

void TestSpace::onPlugOutSharedSpace(const std::string& text)
{
    journal_.add(getTerminalId() + " onPlugOutSharedSpace " + text);
}

void TestSpace::onSyncSharedSpace()
{
    journal_.add(getTerminalId() + " onSyncSharedSpace " + getCallerTerminal());
}

void TestSpace::onEndSyncSharedSpace()
{
    std::lock_guard<std::mutex> hold(lock_);
    journal_.add(getTerminalId() + " onEndSyncSharedSpace members=" + std::to_string(members_.size()));
}

void TestSpace::onBeforePlugInOrgElem(const std::string& elemDesc, CSharedElement* element)
{
    note("beforePlugInOrg", elemDesc, element, false);
}

void TestSpace::onAfterPlugInOrgElem(const std::string& elemDesc, CSharedElement* element)
{
    note("afterPlugInOrg", elemDesc, element);
    if (element != nullptr) {
        std::lock_guard<std::mutex> hold(lock_);
        members_[elemDesc] = "O " + element->getElementId();
    }
}

void TestSpace::onBeforePlugOutOrgElem(const std::string& elemDesc, CSharedElement* element)
{
    note("beforePlugOutOrg", elemDesc, element);
    std::lock_guard<std::mutex> hold(lock_);
    members_.erase(elemDesc);
}

void TestSpace::onAfterPlugOutOrgElem(const std::string& elemDesc, CSharedElement* element)
{
    note("afterPlugOutOrg", elemDesc, element);
}

void TestSpace::onBeforePlugInRplElem(const std::string& elemDesc, CSharedElement* element)
{
    note("beforePlugInRpl", elemDesc, element, false);
}

void TestSpace::onAfterPlugInRplElem(const std::string& elemDesc, CSharedElement* element)
{
    note("afterPlugInRpl", elemDesc, element);
    if (element != nullptr) {
        std::lock_guard<std::mutex> hold(lock_);
        members_[elemDesc] = "R " + element->getMasterTerminal() + " " + element->getElementId();
    }
}

void TestSpace::onBeforePlugOutRplElem(const std::string& elemDesc, CSharedElement* element)
{
    note("beforePlugOutRpl", elemDesc, element);
    std::lock_guard<std::mutex> hold(lock_);
    members_.erase(elemDesc);
}

void TestSpace::onAfterPlugOutRplElem(const std::string& elemDesc, CSharedElement* element)
{
    note("afterPlugOutRpl", elemDesc, element);
}

void TestSpace::onRemoveAllRplElems(const std::string& termId)
{
    journal_.add(getTerminalId() + " onRemoveAllRplElems " + termId);
}

// ---- SpaceSession

SpaceSession::SpaceSession(const std::vector<std::string>& joined)
{
    plugSpace(hub.host().terminalId(), true);
    for (const std::string& terminalId : joined)
        add(terminalId);
}

SpaceSession::~SpaceSession()
{
    for (auto terminal = order_.rbegin(); terminal != order_.rend(); ++terminal)
        hub.terminal(*terminal).close();
    for (auto& entry : spaces_)
        entry.second->end();
}

TestSpace& SpaceSession::plugSpace(const std::string& terminalId, bool master, const std::string& id)
{
    HubTerminal& terminal = master ? hub.host() : hub.join(terminalId);
    TestSpace* space = new TestSpace(&terminal, master, journal, id);
    spaces_[terminalId].reset(space);
    order_.push_back(terminalId);
    space->start(terminalId + "-SPACE");
    terminal.plugIn("", space);
    return *space;
}

TestSpace& SpaceSession::add(const std::string& terminalId)
{
    TestSpace& space = plugSpace(terminalId, false);
    EXPECT_TRUE(waitUntil([&] { return space.isSynchronized(); })) << terminalId << " never synchronised";
    return space;
}

TestSpace& SpaceSession::addLonely(const std::string& terminalId)
{
    passedOver_.insert(terminalId);
    return plugSpace(terminalId, false, "LONELY");
}

void SpaceSession::post(const std::string& terminalId, const std::string& method, const std::string& argument)
{
    CLocalMethod::postMethodStr(space(terminalId).getObjectId(), method, argument);
}

void SpaceSession::install(const std::string& terminalId, const std::string& elemDesc)
{
    post(terminalId, "LOC_install", elemDesc);
}

void SpaceSession::uninstall(const std::string& terminalId, const std::string& elemDesc)
{
    post(terminalId, "LOC_uninstall", elemDesc);
}

void SpaceSession::leave(const std::string& terminalId)
{
    passedOver_.insert(terminalId);
    hub.leave(terminalId);
}

void SpaceSession::cut(const std::string& terminalId)
{
    passedOver_.insert(terminalId);
    hub.cut(terminalId);
}

std::string SpaceSession::elementIdOf(const std::string& terminalId, const std::string& elemDesc)
{
    std::map<std::string, std::string> members = space(terminalId).members();
    auto entry = members.find(elemDesc);
    if (entry == members.end())
        return "";
    return entry->second.substr(entry->second.rfind(' ') + 1);
}

bool SpaceSession::waitForMembers(const std::map<std::string, std::string>& homes, DWORD timeoutMs)
{
    // What every space in the session must show: its own members as originals, the others'
    // as replicas of their home, and one element id per member everywhere.
    auto matches = [&] {
        std::map<std::string, std::string> ids;
        for (const std::string& terminalId : order_) {
            if (passedOver_.count(terminalId) != 0)
                continue;
            std::map<std::string, std::string> members = space(terminalId).members();
            if (members.size() != homes.size())
                return false;
            for (auto& home : homes) {
                auto member = members.find(home.first);
                if (member == members.end())
                    return false;
                std::string kind = home.second == terminalId ? "O " : "R " + home.second + " ";
                if (member->second.compare(0, kind.size(), kind) != 0)
                    return false;
                std::string id = member->second.substr(kind.size());
                if (ids.count(home.first) != 0 && ids[home.first] != id)
                    return false;
                ids[home.first] = id;
            }
        }
        return true;
    };
    return waitUntil(matches, timeoutMs);
}

std::string SpaceSession::describe()
{
    std::string text;
    for (const std::string& terminalId : order_) {
        text += terminalId + ":";
        for (auto& member : space(terminalId).members())
            text += " {" + member.first + " " + member.second + "}";
        text += "\n";
    }
    return text;
}
