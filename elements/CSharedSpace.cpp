#include "CSharedSpace.h"

#include "CJException.h"
#include "CMethodCallMessage.h"
#include "ISessionHandle.h"

namespace {

const char SCOPE[] = "CSharedSpace";
const char LIST_SEPARATOR[] = "\n";

const char LOC_INSTALL[] = "LOC_install";
const char LOC_UNINSTALL[] = "LOC_uninstall";
const char LOC_UNINSTALL_ALL[] = "LOC_uninstallAll";
const char REQ_INSTALL[] = "REQ_install";
const char REQ_UNINSTALL[] = "REQ_uninstall";
const char REQ_UNINSTALL_ALL[] = "REQ_uninstallAll";
const char INS_INSTALL[] = "INS_install";
const char INS_UNINSTALL[] = "INS_uninstall";
const char INS_UNINSTALL_ALL[] = "INS_uninstallAll";
const char INS_INIT_REPLICA_ELEMENTS[] = "INS_initReplicaElemnets";
const char QUE_SUPPLY_ELEMENT_ID[] = "QUE_supplyElementId";

} // namespace

CSharedSpace::CSharedSpace(ISessionHandle* session, bool master)
    : session_(session), ownTermId_(CMethodCallMessage::INVALID_TERMINAL)
{
    setMaster(master);
    registerMethod(LOC_INSTALL, &CSharedSpace::LOC_install);
    registerMethod(LOC_UNINSTALL, &CSharedSpace::LOC_uninstall);
    registerMethod(LOC_UNINSTALL_ALL, &CSharedSpace::LOC_uninstallAll);
    registerMethod(REQ_INSTALL, &CSharedSpace::REQ_install);
    registerMethod(REQ_UNINSTALL, &CSharedSpace::REQ_uninstall);
    registerMethod(REQ_UNINSTALL_ALL, &CSharedSpace::REQ_uninstallAll);
    registerMethod(INS_INSTALL, &CSharedSpace::INS_install);
    registerMethod(INS_UNINSTALL, &CSharedSpace::INS_uninstall);
    registerMethod(INS_UNINSTALL_ALL, &CSharedSpace::INS_uninstallAll);
    registerMethod(INS_INIT_REPLICA_ELEMENTS, &CSharedSpace::INS_initReplicaElemnets);
    registerMethod(QUE_SUPPLY_ELEMENT_ID, &CSharedSpace::QUE_supplyElementId);
}

CSharedSpace::~CSharedSpace()
{
    if (!OEM.empty() || !REM.empty())
        CTrace::scopedError(SCOPE, " ~CSharedSpace(): members are left that nobody removes: "
                                       + std::to_string(OEM.size()) + " originals, " + std::to_string(REM.size())
                                       + " replicas",
                            -1);
}

// ---- helpers

bool CSharedSpace::parseRecord(const std::string& replicaElemInfo, Record& record)
{
    record.home = getToken(0, replicaElemInfo, RE_INFO_SEP);
    record.elementId = getToken(1, replicaElemInfo, RE_INFO_SEP);
    record.elemDesc = getRest(2, replicaElemInfo, RE_INFO_SEP);
    if (!record.home.empty() && !record.elementId.empty() && !record.elemDesc.empty())
        return true;
    CTrace::scopedError(SCOPE, " the replica record [" + replicaElemInfo + "] is malformed: ignored", -1);
    return false;
}

bool CSharedSpace::isMember(const std::string& elemDesc) const
{
    return OEM.count(elemDesc) != 0 || REM.count(elemDesc) != 0;
}

// Operations of one role reached in the other come from a peer or a race: reported, not run.
bool CSharedSpace::isRole(bool master, const char* operation) const
{
    if (isMaster() == master)
        return true;
    CTrace::scopedError(SCOPE, std::string(" ") + operation + " ran on " + (isMaster() ? "the master" : "a slave")
                                   + " copy: ignored",
                        -1);
    return false;
}

// A request that contradicts this terminal's maps is not acted on. Peers and ordinary races
// (an echo after a local uninstall, a replica that the master could not make) produce them,
// so they must not end the process.
void CSharedSpace::violation(int number, const char* method, const std::string& argument) const
{
    CTrace::scopedError(SCOPE, std::string(" ") + method + "(" + argument + "): the request violates the protocol "
                                   + std::to_string(number) + ": ignored",
                        -1);
}

// ---- plug-in, plug-out, synchronisation

void CSharedSpace::onPlugIn(const std::string& text)
{
    ownTermId_ = getTerminalId();
    CTrace::trace(SCOPE, " onPlugIn(" + text + ") own terminal [" + ownTermId_ + "]", 0);
    onPlugInSharedSpace(text);
}

void CSharedSpace::onPlugOut(const std::string& text)
{
    CTrace::trace(SCOPE, " onPlugOut(" + text + ")", 0);
    // The others drop this terminal's replicas; a failed announcement must not keep the
    // members here.
    try {
        if (isMaster())
            sendToSlavesStr(INS_UNINSTALL_ALL, ownTermId_);
        else
            sendToMasterStr(REQ_UNINSTALL_ALL, ownTermId_);
    } catch (CJException& e) {
        CTrace::scopedError(SCOPE, " onPlugOut(): the leave cannot be announced: " + e.toString(), -1);
    }
    while (!OEM.empty())
        removeOriginalElement(OEM.begin()->first);
    while (!REM.empty())
        removeReplicaElement(REM.begin()->first);
    onPlugOutSharedSpace(text);
}

void CSharedSpace::onSync()
{
    if (!isRole(true, "onSync"))
        return;
    replyToCallerStr(INS_INIT_REPLICA_ELEMENTS, getInitREDesc());
    onSyncSharedSpace();
}

void CSharedSpace::onEndSync()
{
    if (!isRole(false, "onEndSync"))
        return;
    onEndSyncSharedSpace();
}

std::string CSharedSpace::getInitREDesc()
{
    std::string list;
    auto add = [&list](const std::string& home, CSharedElement* element, const std::string& elemDesc) {
        if (!list.empty())
            list += LIST_SEPARATOR;
        list += home + RE_INFO_SEP + element->getElementId() + RE_INFO_SEP + elemDesc;
    };
    for (auto& entry : OEM)
        add(ownTermId_, entry.second, entry.first);
    for (auto& entry : REM)
        add(entry.second->getMasterTerminal(), entry.second, entry.first);
    return list;
}

// One record a line; the master copy joins them with a single "\n" and ends the list without
// one, so the list ends at its first empty line.
void CSharedSpace::INS_initReplicaElemnets(const std::string& list)
{
    CTrace::trace(SCOPE, " INS_initReplicaElemnets(): " + std::to_string(list.size()) + " bytes", 0);
    if (!isRole(false, INS_INIT_REPLICA_ELEMENTS))
        return;
    if (isSynchronized()) {
        CTrace::scopedError(SCOPE, " INS_initReplicaElemnets(): the copy is synchronised already: ignored", -1);
        return;
    }
    const size_t separator = std::string(LIST_SEPARATOR).size();
    size_t line = 0;
    for (size_t start = 0; start < list.size(); ++line) {
        size_t end = list.find(LIST_SEPARATOR, start);
        if (end == std::string::npos)
            end = list.size();
        if (end == start) {
            if (end + separator < list.size())
                CTrace::scopedError(SCOPE, " INS_initReplicaElemnets(): line " + std::to_string(line)
                                               + " is empty, the list ends there: "
                                               + std::to_string(list.size() - end - separator)
                                               + " bytes behind it are not read",
                                    -1);
            break;
        }
        if (REM.size() >= REPLICA_LIMIT) {
            CTrace::scopedError(SCOPE, " INS_initReplicaElemnets(): " + std::to_string(REPLICA_LIMIT)
                                           + " replicas are held, the most there may be: the list is refused"
                                             " from line "
                                           + std::to_string(line) + " on",
                                -1);
            break;
        }
        const std::string record = list.substr(start, end - start);
        start = end + separator;
        Record fields;
        if (!parseRecord(record, fields))
            continue;
        // The list must not put a second member under a descriptor that this terminal holds.
        if (isMember(fields.elemDesc)) {
            CTrace::scopedError(SCOPE, " INS_initReplicaElemnets(): [" + fields.elemDesc
                                           + "] is a member already: not added again",
                                -1);
            continue;
        }
        addReplicaElement(record);
    }
}

// ---- adding members

std::string CSharedSpace::getNewElementIdFromMasterSpace()
{
    isRole(false, "getNewElementIdFromMasterSpace");
    return session_->createGuidString();
}

std::string CSharedSpace::QUE_supplyElementId()
{
    if (!isRole(true, QUE_SUPPLY_ELEMENT_ID))
        return CMethodCallMessage::INVALID_ELEMENT_GUID;
    return session_->createGuidString();
}

// Enters the element in its map, starts it and plugs it in; on failure it is taken out again,
// deleted and set to NULL.
void CSharedSpace::plugInMember(CSharedElement*& element, ElementMap& map, const std::string& elemDesc,
                                const std::string& threadName)
{
    map[elemDesc] = element;
    bool started = false;
    try {
        element->start(threadName);
        started = true;
        session_->plugIn(element->getElementId(), element);
        return;
    } catch (CJException& e) {
        CTrace::scopedError(SCOPE, " the member [" + elemDesc + "] cannot be plugged in: " + e.toString(), -1);
    }
    map.erase(elemDesc);
    if (started)
        element->end();
    delete element;
    element = nullptr;
}

bool CSharedSpace::addOriginalElement(const std::string& elemDesc, std::string& elementId)
{
    CTrace::trace(SCOPE, " addOriginalElement(" + elemDesc + ")", 0);
    CSharedElement* element = createOriginalElement(elemDesc);
    onBeforePlugInOrgElem(elemDesc, element);
    if (element != nullptr) {
        element->setMaster(true);
        elementId = isMaster() ? session_->createGuidString() : getNewElementIdFromMasterSpace();
        if (elementId != CMethodCallMessage::INVALID_ELEMENT_GUID) {
            element->setId(elementId);
            plugInMember(element, OEM, elemDesc, elementId + "-M");
        } else {
            CTrace::trace(SCOPE, " addOriginalElement(): no element id could be had", 0);
            delete element;
            element = nullptr;
        }
    } else {
        CTrace::trace(SCOPE, " addOriginalElement(): no element was made", 0);
    }
    onAfterPlugInOrgElem(elemDesc, element);
    return element != nullptr;
}

bool CSharedSpace::addReplicaElement(const std::string& replicaElemInfo)
{
    CTrace::trace(SCOPE, " addReplicaElement(" + replicaElemInfo + ")", 0);
    Record record;
    if (!parseRecord(replicaElemInfo, record))
        return false;
    if (REM.size() >= REPLICA_LIMIT) {
        CTrace::scopedError(SCOPE, " addReplicaElement(): [" + record.elemDesc + "] is refused: "
                                       + std::to_string(REPLICA_LIMIT) + " replicas are held, the most there may be",
                            -1);
        return false;
    }
    CSharedElement* element = createReplicaElement(record.elemDesc);
    onBeforePlugInRplElem(record.elemDesc, element);
    if (element != nullptr) {
        element->setMaster(false);
        element->setMasterTerminal(record.home);
        element->setId(record.elementId);
        plugInMember(element, REM, record.elemDesc, record.elementId + "-S");
    } else {
        CTrace::trace(SCOPE, " addReplicaElement(): no element was made", 0);
    }
    onAfterPlugInRplElem(record.elemDesc, element);
    return element != nullptr;
}

// ---- removing members

void CSharedSpace::removeMember(ElementMap& map, const std::string& desc, bool original)
{
    // The caller's text may be the map's own key, which goes with the entry.
    const std::string elemDesc = desc;
    auto entry = map.find(elemDesc);
    if (entry == map.end())
        CTrace::scopedFatalError(SCOPE, " removing [" + elemDesc + "], which is not a member", -1);
    CSharedElement* element = entry->second;
    map.erase(entry);
    if (original)
        onBeforePlugOutOrgElem(elemDesc, element);
    else
        onBeforePlugOutRplElem(elemDesc, element);
    try {
        session_->plugOut(element->getElementId());
    } catch (CJException& e) {
        CTrace::scopedError(SCOPE, " the member [" + elemDesc + "] cannot be plugged out: " + e.toString(), -1);
    }
    if (original)
        onAfterPlugOutOrgElem(elemDesc, element);
    else
        onAfterPlugOutRplElem(elemDesc, element);
    try {
        element->end();
    } catch (CJException& e) {
        CTrace::scopedError(SCOPE, " the member [" + elemDesc + "] cannot be ended: " + e.toString(), -1);
    }
    delete element;
}

void CSharedSpace::removeOriginalElement(const std::string& elemDesc)
{
    CTrace::trace(SCOPE, " removeOriginalElement(" + elemDesc + ")", 0);
    removeMember(OEM, elemDesc, true);
}

void CSharedSpace::removeReplicaElement(const std::string& elemDesc)
{
    CTrace::trace(SCOPE, " removeReplicaElement(" + elemDesc + ")", 0);
    removeMember(REM, elemDesc, false);
}

void CSharedSpace::removeAllReplicaElements(const std::string& termId)
{
    CTrace::trace(SCOPE, " removeAllReplicaElements(" + termId + ")", 0);
    onRemoveAllRplElems(termId);
    for (;;) {
        auto entry = REM.begin();
        while (entry != REM.end() && entry->second->getMasterTerminal() != termId)
            ++entry;
        if (entry == REM.end())
            return;
        std::string elemDesc = entry->first;
        removeReplicaElement(elemDesc);
    }
}

// ---- install

void CSharedSpace::LOC_install(const std::string& elemDesc)
{
    CTrace::trace(SCOPE, " LOC_install(" + elemDesc + ")", 0);
    // A second member under one descriptor would replace the first in its map and leave it
    // plugged in with nobody to remove it.
    if (isMember(elemDesc)) {
        CTrace::scopedError(SCOPE, " LOC_install(): [" + elemDesc + "] is a member already: ignored", -1);
        return;
    }
    std::string elementId;
    if (!addOriginalElement(elemDesc, elementId)) {
        CTrace::trace(SCOPE, " LOC_install(): the original could not be added", 0);
        return;
    }
    std::string record = ownTermId_ + RE_INFO_SEP + elementId + RE_INFO_SEP + elemDesc;
    if (isMaster())
        sendToSlavesStr(INS_INSTALL, record);
    else
        sendToMasterStr(REQ_INSTALL, record);
}

void CSharedSpace::REQ_install(const std::string& replicaElemInfo)
{
    CTrace::trace(SCOPE, " REQ_install(" + replicaElemInfo + ")", 0);
    Record record;
    if (!isRole(true, REQ_INSTALL) || !parseRecord(replicaElemInfo, record))
        return;
    if (record.home == ownTermId_) {
        violation(2, REQ_INSTALL, replicaElemInfo);
        return;
    }
    if (isMember(record.elemDesc)) {
        violation(1, REQ_INSTALL, replicaElemInfo);
        return;
    }
    addReplicaElement(replicaElemInfo);
    // The other slaves make their replicas even when this one could not be made.
    sendToSlavesStr(INS_INSTALL, replicaElemInfo);
}

void CSharedSpace::INS_install(const std::string& replicaElemInfo)
{
    CTrace::trace(SCOPE, " INS_install(" + replicaElemInfo + ")", 0);
    Record record;
    if (!isRole(false, INS_INSTALL))
        return;
    if (!isSynchronized()) {
        CTrace::trace(SCOPE, " INS_install(): not synchronised yet, the initial replica list covers it", 0);
        return;
    }
    if (!parseRecord(replicaElemInfo, record))
        return;
    if (record.home != ownTermId_) {
        if (isMember(record.elemDesc))
            violation(5, INS_INSTALL, replicaElemInfo);
        else
            addReplicaElement(replicaElemInfo);
        return;
    }
    if (OEM.count(record.elemDesc) != 0 && REM.count(record.elemDesc) == 0)
        CTrace::trace(SCOPE, " INS_install(): the echo of this terminal's own install", 0);
    else
        violation(6, INS_INSTALL, replicaElemInfo);
}

// ---- uninstall

void CSharedSpace::LOC_uninstall(const std::string& elemDesc)
{
    CTrace::trace(SCOPE, " LOC_uninstall(" + elemDesc + ")", 0);
    if (OEM.count(elemDesc) == 0) {
        CTrace::trace(SCOPE, " LOC_uninstall(): not an original of this terminal, only its home can remove it", 0);
        return;
    }
    removeOriginalElement(elemDesc);
    if (isMaster())
        sendToSlavesStr(INS_UNINSTALL, elemDesc);
    else
        sendToMasterStr(REQ_UNINSTALL, elemDesc);
}

void CSharedSpace::REQ_uninstall(const std::string& elemDesc)
{
    CTrace::trace(SCOPE, " REQ_uninstall(" + elemDesc + ")", 0);
    if (!isRole(true, REQ_UNINSTALL))
        return;
    bool original = OEM.count(elemDesc) != 0;
    auto replica = REM.find(elemDesc);
    if (original) {
        violation(4, REQ_UNINSTALL, elemDesc);
        return;
    }
    if (replica == REM.end()) {
        // The replica could not be made here, but the install went on to the slaves: the
        // uninstall goes on too, so that none of them keeps it.
        violation(4, REQ_UNINSTALL, elemDesc);
        sendToSlavesStr(INS_UNINSTALL, elemDesc);
        return;
    }
    if (replica->second->getMasterTerminal() == ownTermId_) {
        violation(3, REQ_UNINSTALL, elemDesc);
        return;
    }
    removeReplicaElement(elemDesc);
    sendToSlavesStr(INS_UNINSTALL, elemDesc);
}

void CSharedSpace::INS_uninstall(const std::string& elemDesc)
{
    CTrace::trace(SCOPE, " INS_uninstall(" + elemDesc + ")", 0);
    if (!isRole(false, INS_UNINSTALL))
        return;
    if (!isSynchronized()) {
        CTrace::trace(SCOPE, " INS_uninstall(): not synchronised yet: ignored", 0);
        return;
    }
    if (OEM.count(elemDesc) != 0) {
        violation(8, INS_UNINSTALL, elemDesc);
        return;
    }
    auto replica = REM.find(elemDesc);
    if (replica == REM.end()) {
        CTrace::trace(SCOPE, " INS_uninstall(): not a member (the echo of this terminal's own uninstall)", 0);
        return;
    }
    if (replica->second->getMasterTerminal() == ownTermId_) {
        violation(7, INS_UNINSTALL, elemDesc);
        return;
    }
    removeReplicaElement(elemDesc);
}

// ---- uninstall-all

void CSharedSpace::uninstallAllOf(const std::string& termId)
{
    if (termId == ownTermId_) {
        CTrace::scopedError(SCOPE, " LOC_uninstallAll(" + termId
                                       + "): naming itself is forbidden, the master's originals stay",
                            -1);
        return;
    }
    removeAllReplicaElements(termId);
    sendToSlavesStr(INS_UNINSTALL_ALL, termId);
}

void CSharedSpace::LOC_uninstallAll(const std::string& termId)
{
    CTrace::trace(SCOPE, " LOC_uninstallAll(" + termId + ")", 0);
    if (!isMaster()) {
        CTrace::trace(SCOPE, " LOC_uninstallAll(): a slave copy does nothing", 0);
        return;
    }
    uninstallAllOf(termId);
}

void CSharedSpace::REQ_uninstallAll(const std::string& termId)
{
    CTrace::trace(SCOPE, " REQ_uninstallAll(" + termId + ")", 0);
    if (!isRole(true, REQ_UNINSTALL_ALL))
        return;
    if (termId == ownTermId_) {
        CTrace::trace(SCOPE, " REQ_uninstallAll(): names the master's own terminal: nothing", 0);
        return;
    }
    uninstallAllOf(termId);
}

void CSharedSpace::INS_uninstallAll(const std::string& termId)
{
    CTrace::trace(SCOPE, " INS_uninstallAll(" + termId + ")", 0);
    if (!isRole(false, INS_UNINSTALL_ALL))
        return;
    if (!isSynchronized()) {
        CTrace::trace(SCOPE, " INS_uninstallAll(): not synchronised yet: ignored", 0);
        return;
    }
    if (termId == ownTermId_) {
        CTrace::trace(SCOPE, " INS_uninstallAll(): the echo of this terminal's own leave", 0);
        return;
    }
    removeAllReplicaElements(termId);
}
