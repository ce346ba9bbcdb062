#pragma once
// A shared element that holds a set of other shared elements and keeps that set the same on
// every terminal of a session. An element enters the space on the terminal where it is
// installed: there it is an original (master copy) and every other terminal holds a replica of
// it (slave copy) under the same element id. The space makes its members through the deriving
// class's hooks, numbers, starts and plugs them in, and plugs out, ends and deletes them again.
//
// A member is named across the session by its element descriptor, a text that the deriving
// class chooses and that must be new for every install (and hold no "\n"). A replica is
// described to other terminals by its record: home terminal, "_RE_INFO_SEP_", element id,
// "_RE_INFO_SEP_", descriptor.
//
// Everything runs on the space's handler thread; every hook is called there.
#include "CSharedElement.h"

#include <map>
#include <string>

class ISessionHandle;

class CSharedSpace : public CSharedElement {
public:
    static constexpr const char RE_INFO_SEP[] = "_RE_INFO_SEP_";
    // Replicas held at most. Peers name the replicas (an initial list, installs), and each is an
    // element with a thread of its own: without a bound a peer could make this terminal run out
    // of threads and memory. Far more than a stage can show (every terminal's cursor and the
    // contents of all); what comes past it is refused with an error line.
    static constexpr size_t REPLICA_LIMIT = 512;

    // The session handle issues element ids and plugs members in and out; it is not owned.
    CSharedSpace(ISessionHandle* session, bool master);
    // Deletes no member: plugging the space out has removed them all.
    ~CSharedSpace() override;

    void onPlugIn(const std::string& text) override;
    // Announces the leave, then removes every member.
    void onPlugOut(const std::string& text) override;
    // Master: sends the initial replica list to the slave that asked, then onSyncSharedSpace.
    void onSync() override;
    // Slave: onEndSyncSharedSpace.
    void onEndSync() override;

    // The hooks of the deriving class, all run on the space's handler thread.
    // A new element for the descriptor, without role or id and not started; NULL when none can
    // be made. The space owns what it returns.
    virtual CSharedElement* createOriginalElement(const std::string& elemDesc) = 0;
    virtual CSharedElement* createReplicaElement(const std::string& elemDesc) = 0;
    virtual void onPlugInSharedSpace(const std::string& text) = 0;
    // Every member has been removed already.
    virtual void onPlugOutSharedSpace(const std::string& text) = 0;
    // Master, after the initial replica list went to the slave that asks (the caller terminal).
    virtual void onSyncSharedSpace() = 0;
    // Slave, before it counts as synchronised.
    virtual void onEndSyncSharedSpace() = 0;
    // Around adding a member: the before-hook gets the element straight from the create hook
    // (NULL when it made none); the after-hook gets it started and plugged in, or NULL.
    virtual void onBeforePlugInOrgElem(const std::string& elemDesc, CSharedElement* element) = 0;
    virtual void onAfterPlugInOrgElem(const std::string& elemDesc, CSharedElement* element) = 0;
    // Around removing a member: the after-hook runs once it is plugged out, before it is ended
    // and deleted.
    virtual void onBeforePlugOutOrgElem(const std::string& elemDesc, CSharedElement* element) = 0;
    virtual void onAfterPlugOutOrgElem(const std::string& elemDesc, CSharedElement* element) = 0;
    virtual void onBeforePlugInRplElem(const std::string& elemDesc, CSharedElement* element) = 0;
    virtual void onAfterPlugInRplElem(const std::string& elemDesc, CSharedElement* element) = 0;
    virtual void onBeforePlugOutRplElem(const std::string& elemDesc, CSharedElement* element) = 0;
    virtual void onAfterPlugOutRplElem(const std::string& elemDesc, CSharedElement* element) = 0;
    // The replicas of the terminal are about to be removed (also when it has none).
    virtual void onRemoveAllRplElems(const std::string& termId) = 0;

protected:
    // Members, on the handler thread. addOriginalElement gives the new element id.
    bool addOriginalElement(const std::string& elemDesc, std::string& elementId);
    bool addReplicaElement(const std::string& replicaElemInfo);
    void removeOriginalElement(const std::string& elemDesc);
    void removeReplicaElement(const std::string& elemDesc);
    void removeAllReplicaElements(const std::string& termId);
    // One record per member, originals first, joined by "\n"; the empty text for no member.
    std::string getInitREDesc();
    // A new element id for an original of a slave copy, made on this terminal.
    std::string getNewElementIdFromMasterSpace();

    // The remote and local methods.
    void LOC_install(const std::string& elemDesc);
    void LOC_uninstall(const std::string& elemDesc);
    void LOC_uninstallAll(const std::string& termId);
    void REQ_install(const std::string& replicaElemInfo);
    void REQ_uninstall(const std::string& elemDesc);
    void REQ_uninstallAll(const std::string& termId);
    void INS_install(const std::string& replicaElemInfo);
    void INS_uninstall(const std::string& elemDesc);
    void INS_uninstallAll(const std::string& termId);
    void INS_initReplicaElemnets(const std::string& list);
    std::string QUE_supplyElementId();

private:
    typedef std::map<std::string, CSharedElement*> ElementMap;

    struct Record {
        std::string home;
        std::string elementId;
        std::string elemDesc;
    };

    static bool parseRecord(const std::string& replicaElemInfo, Record& record);
    bool isMember(const std::string& elemDesc) const;
    bool isRole(bool master, const char* operation) const;
    void violation(int number, const char* method, const std::string& argument) const;
    void plugInMember(CSharedElement*& element, ElementMap& map, const std::string& elemDesc,
                      const std::string& threadName);
    void removeMember(ElementMap& map, const std::string& desc, bool original);
    void uninstallAllOf(const std::string& termId);

    ElementMap OEM;
    ElementMap REM;
    ISessionHandle* session_;
    std::string ownTermId_;
};
