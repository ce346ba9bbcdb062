#include "CTerminalGroup.h"

#include "CIOException.h"
#include "CJException.h"
#include "CLusException.h"
#include "CMethodCallMessage.h"
#include "CMonitorHold.h"
#include "IBroadcastSessionHandle.h"
#include "ILookupServiceHandle.h"

namespace {

const char SCOPE[] = "CTerminalGroup";
const std::string SEP = CMethodCallMessage::ARG_SEPARATOR;

const char INS_INIT_TAM[] = "INS_initTAM";
const char INS_INIT_IP_ADDRESS[] = "INS_initIpAddress";
const char COP_ADD_MEMBER[] = "COP_addMember";
const char COP_REMOVE_MEMBER[] = "COP_removeMember";
const char COP_UPDATE_MEMBER_DESC[] = "COP_updateMemberDesc";
const char INS_UPDATE_IP_ADDRESS[] = "INS_updateIpAddress";

// The leading decimal number of the text by atoi's rules (blanks, a sign, digits), held within
// the int range: a peer's digits must not overflow.
int leadingNumber(const std::string& text)
{
    size_t at = 0;
    while (at < text.size() && (text[at] == ' ' || (text[at] >= '\t' && text[at] <= '\r')))
        ++at;
    bool negative = false;
    if (at < text.size() && (text[at] == '+' || text[at] == '-'))
        negative = text[at++] == '-';
    long long value = 0;
    for (; at < text.size() && text[at] >= '0' && text[at] <= '9'; ++at)
        if (value <= 0x7FFFFFFFLL)
            value = value * 10 + (text[at] - '0');
    if (value > 0x7FFFFFFFLL)
        value = 0x7FFFFFFFLL;
    return static_cast<int>(negative ? -value : value);
}

bool isDottedIpv4(const std::string& text)
{
    int parts = 0;
    size_t at = 0;
    while (true) {
        size_t digits = 0;
        int value = 0;
        while (at < text.size() && text[at] >= '0' && text[at] <= '9' && digits < 4) {
            value = value * 10 + (text[at] - '0');
            ++at;
            ++digits;
        }
        if (digits == 0 || digits > 3 || value > 255)
            return false;
        ++parts;
        if (at == text.size())
            return parts == 4;
        if (text[at] != '.' || parts == 4)
            return false;
        ++at;
    }
}

} // namespace

const char CTerminalGroup::MEMBER_SEP[] = "_MEMBER_SEP_";
const char CTerminalGroup::INVALID_IPADDRESS[] = "INVALID_IPADDRESS";
const char CTerminalGroup::ADD[] = "ADD";
const char CTerminalGroup::REMOVE[] = "REMOVE";

CTerminalGroup::CTerminalGroup(const std::string& elementId, bool master, const std::string& selfTerminalId,
                               int selfPortNum, const std::string& masterTerminalId,
                               const std::string& masterIpAddress, ILookupServiceHandle* lookupServiceHandle,
                               IBroadcastSessionHandle* broadcastSH)
    : elementId_(elementId), selfTerminalId_(selfTerminalId), selfIpAddress_(INVALID_IPADDRESS),
      masterTerminalId_(masterTerminalId), masterIpAddress_(masterIpAddress), rpBroadcastSH(broadcastSH),
      rpLookupServiceHandle(lookupServiceHandle), selfPortNum_(selfPortNum)
{
    setMaster(master);
    setId(elementId);
    if (master) {
        masterTerminalId_.clear();
        masterIpAddress_.clear();
        CTrace::scopedAssertTrue(rpLookupServiceHandle != nullptr, SCOPE,
                                 " CTerminalGroup(): a master copy needs the lookup service", -1);
    } else {
        setMasterTerminal(masterTerminalId);
    }
    registerMethod(INS_INIT_TAM, &CTerminalGroup::INS_initTAM);
    registerMethod(INS_INIT_IP_ADDRESS, &CTerminalGroup::INS_initIpAddress);
    registerMethod(COP_ADD_MEMBER, &CTerminalGroup::COP_addMember);
    registerMethod(COP_REMOVE_MEMBER, &CTerminalGroup::COP_removeMember);
    registerMethod(COP_UPDATE_MEMBER_DESC, &CTerminalGroup::COP_updateMemberDesc);
    registerMethod(INS_UPDATE_IP_ADDRESS, &CTerminalGroup::INS_updateIpAddress);
    registerMethod("LOC_addSelf", &CTerminalGroup::LOC_addSelf);
    registerMethod("LOC_removeSelf", &CTerminalGroup::LOC_removeSelf);
    registerMethod("LOC_removeSessionLostMember", &CTerminalGroup::LOC_removeSessionLostMember);
}

CTerminalGroup::~CTerminalGroup() {}

void CTerminalGroup::onPlugIn(const std::string& text)
{
    CTrace::trace(SCOPE, " onPlugIn(" + text + ") [" + selfTerminalId_ + "]", 0);
}

void CTerminalGroup::onPlugOut(const std::string& text)
{
    CTrace::trace(SCOPE, " onPlugOut(" + text + ") [" + selfTerminalId_ + "]", 0);
}

std::string CTerminalGroup::getElementId() const
{
    return elementId_;
}

// ---- queries, any thread

bool CTerminalGroup::isMember(const std::string& terminalId)
{
    CMonitorHold hold(tamLock_, 1, SCOPE);
    return TAM_.count(terminalId) != 0;
}

bool CTerminalGroup::isSelfMember()
{
    return isMember(selfTerminalId_);
}

bool CTerminalGroup::hasOtherMember()
{
    CMonitorHold hold(tamLock_, 2, SCOPE);
    for (const auto& entry : TAM_)
        if (entry.first != selfTerminalId_)
            return true;
    return false;
}

void CTerminalGroup::getMemberIds(std::vector<std::string>& terminalIds)
{
    terminalIds.clear();
    CMonitorHold hold(tamLock_, 3, SCOPE);
    for (const auto& entry : TAM_)
        terminalIds.push_back(entry.first);
}

bool CTerminalGroup::isAddNotice(const std::string& notice)
{
    return getToken(0, notice, SEP) == ADD;
}

bool CTerminalGroup::isRemoveNotice(const std::string& notice)
{
    return getToken(0, notice, SEP) == REMOVE;
}

std::string CTerminalGroup::getNoticeTerminalId(const std::string& notice)
{
    return getRest(1, notice, SEP);
}

void CTerminalGroup::addObserver(IObserver* observer)
{
    observable_.addObserver(observer);
}

void CTerminalGroup::deleteObserver(IObserver* observer)
{
    observable_.deleteObserver(observer);
}

void CTerminalGroup::deleteObservers()
{
    observable_.deleteObservers();
}

std::string CTerminalGroup::currentTAMDesc()
{
    CMonitorHold hold(tamLock_, 4, SCOPE);
    return makeTAMDesc(TAM_);
}

// ---- synchronisation

void CTerminalGroup::onSync()
{
    CTrace::scopedAssertTrue(isMaster(), SCOPE, " onSync(): run on a slave", -1);
    std::string tamDesc;
    {
        CMonitorHold hold(tamLock_, 5, SCOPE);
        tamDesc = makeTAMDesc(TAM_);
        dumpTAM(TAM_);
    }
    reply(INS_INIT_TAM, tamDesc);
    CTrace::scopedAssertTrue(rpLookupServiceHandle != nullptr, SCOPE, " onSync(): no lookup service", -1);
    std::string caller;
    try {
        caller = getCallerTerminal();
    } catch (CJException& e) {
        CTrace::scopedError(SCOPE, " onSync(): no caller: " + e.getMessage(), -1);
        return;
    }
    reply(INS_INIT_IP_ADDRESS, lookupTerminalIpAddress(caller));
}

void CTerminalGroup::onEndSync()
{
    if (isMaster())
        CTrace::scopedError(SCOPE, " onEndSync(): ran on the master: ignored", -1);
}

// Only a slave that is still synchronising takes its master's initial state; anything else
// comes from a peer that breaks the protocol and is dropped.
bool CTerminalGroup::isSynchronising(const char* method) const
{
    if (!isMaster() && !isSynchronized())
        return true;
    CTrace::scopedError(SCOPE, std::string(" ") + method + "(): ran on "
                                   + (isMaster() ? "the master" : "a synchronised slave") + ": ignored",
                        -1);
    return false;
}

void CTerminalGroup::INS_initTAM(const std::string& tamDesc)
{
    if (!isSynchronising(INS_INIT_TAM))
        return;
    // One pass over the fields, at most as many as the TAM may hold.
    const std::string separator = MEMBER_SEP;
    size_t start = 0;
    for (size_t field = 0; field < MEMBER_LIMIT && start < tamDesc.size(); ++field) {
        size_t end = tamDesc.find(separator, start);
        if (end == std::string::npos)
            end = tamDesc.size();
        if (end == start)
            break;
        std::string memberDesc = tamDesc.substr(start, end - start);
        start = end + separator.size();
        std::string terminalId, rest;
        splitMemberDesc(memberDesc, terminalId, rest);
        if (terminalId != selfTerminalId_)
            addMember(memberDesc);
    }
}

void CTerminalGroup::INS_initIpAddress(const std::string& ipAddress)
{
    if (!isSynchronising(INS_INIT_IP_ADDRESS))
        return;
    CTrace::trace(SCOPE, " INS_initIpAddress(" + ipAddress + ")", 0);
    selfIpAddress_ = ipAddress;
}

void CTerminalGroup::INS_updateIpAddress(const std::string& ipAddress)
{
    if (isMaster()) {
        CTrace::scopedError(SCOPE, " INS_updateIpAddress(): ran on the master: ignored", -1);
        return;
    }
    CTrace::trace(SCOPE, " INS_updateIpAddress(" + ipAddress + ")", 0);
    selfIpAddress_ = ipAddress;
    if (!isSelfMember())
        return;
    std::string memberDesc = selfMemberDesc();
    COP_updateMemberDesc(memberDesc);
    spread("INS_updateIpAddress", COP_UPDATE_MEMBER_DESC, memberDesc);
}

// ---- cooperative methods

void CTerminalGroup::COP_addMember(const std::string& memberDesc)
{
    std::string terminalId, rest;
    splitMemberDesc(memberDesc, terminalId, rest);
    if (isMember(terminalId)) {
        CTrace::scopedError(SCOPE, " COP_addMember(" + memberDesc + "): the terminal is a member already: ignored",
                            -1);
        return;
    }
    if (!addMember(memberDesc))
        return;
    if (!isMaster() || terminalId == selfTerminalId_)
        return;
    std::string ipAddress;
    int portNum;
    splitIdNumberDesc(rest, ipAddress, portNum);
    if (ipAddress == INVALID_IPADDRESS)
        reply(INS_UPDATE_IP_ADDRESS, lookupTerminalIpAddress(terminalId));
}

void CTerminalGroup::COP_removeMember(const std::string& terminalId)
{
    if (!isMember(terminalId)) {
        // Also the race of a slave still synchronising: the master's remove came before the
        // state that held the member.
        CTrace::scopedError(SCOPE, " COP_removeMember(" + terminalId + "): the terminal is no member: ignored", -1);
        return;
    }
    removeMember(terminalId);
}

void CTerminalGroup::COP_updateMemberDesc(const std::string& memberDesc)
{
    std::string terminalId, rest;
    splitMemberDesc(memberDesc, terminalId, rest);
    if (!isMember(terminalId)) {
        CTrace::trace(SCOPE, " COP_updateMemberDesc(" + memberDesc + "): the terminal is no member", 0);
        return;
    }
    updateMemberDesc(memberDesc);
}

// ---- the own terminal

void CTerminalGroup::LOC_addSelf()
{
    if (isSelfMember()) {
        CTrace::trace(SCOPE, " LOC_addSelf(): this terminal is a member already", 0);
        return;
    }
    std::string memberDesc = selfMemberDesc();
    COP_addMember(memberDesc);
    spread("LOC_addSelf", COP_ADD_MEMBER, memberDesc);
}

void CTerminalGroup::LOC_removeSelf()
{
    if (!isSelfMember()) {
        CTrace::trace(SCOPE, " LOC_removeSelf(): this terminal is no member", 0);
        return;
    }
    COP_removeMember(selfTerminalId_);
    spread("LOC_removeSelf", COP_REMOVE_MEMBER, selfTerminalId_);
}

void CTerminalGroup::LOC_removeSessionLostMember(const std::string& terminalId)
{
    if (!isMaster()) {
        CTrace::trace(SCOPE, " LOC_removeSessionLostMember(" + terminalId + "): a slave waits for its master", 0);
        return;
    }
    if (!isMember(terminalId))
        return;
    COP_removeMember(terminalId);
    spread("LOC_removeSessionLostMember", COP_REMOVE_MEMBER, terminalId);
}

void CTerminalGroup::spread(const char* operation, const std::string& method, const std::string& argument)
{
    try {
        requestMasterMethod(method, argument);
    } catch (CJException& e) {
        CTrace::scopedFatalError(SCOPE, std::string(" ") + operation + "(): " + method + " could not be spread: "
                                            + e.getMessage(),
                                 -1);
    }
}

void CTerminalGroup::reply(const std::string& method, const std::string& text)
{
    try {
        replyToCallerStr(method, text);
    } catch (CJException& e) {
        CTrace::scopedError(SCOPE, " " + method + "(" + text + ") was not sent: " + e.getMessage(), -1);
    }
}

std::string CTerminalGroup::selfMemberDesc() const
{
    return makeMemberDesc(selfTerminalId_, makeIdNumberDesc(selfIpAddress_, selfPortNum_));
}

// ---- the TAM and the receivers

bool CTerminalGroup::addMember(const std::string& memberDesc)
{
    std::string terminalId, rest;
    splitMemberDesc(memberDesc, terminalId, rest);
    if (terminalId.empty()) {
        CTrace::scopedError(SCOPE, " addMember(" + memberDesc + "): no terminal id: refused", -1);
        return false;
    }
    if (!isStorable("addMember", memberDesc))
        return false;
    std::string previous;
    {
        CMonitorHold hold(tamLock_, 6, SCOPE);
        auto entry = TAM_.find(terminalId);
        if (entry != TAM_.end())
            previous = entry->second;
        else if (TAM_.size() >= MEMBER_LIMIT) {
            CTrace::scopedError(SCOPE, " addMember(" + terminalId + "): the list holds "
                                           + std::to_string(MEMBER_LIMIT) + " members already: refused",
                                -1);
            return false;
        }
        TAM_[terminalId] = rest;
    }
    observable_.notifyObservers(std::string(ADD) + SEP + terminalId);
    if (rpBroadcastSH == nullptr) {
        CTrace::trace(SCOPE, " addMember(" + terminalId + "): no broadcast session, no receiver", 0);
        return true;
    }
    if (terminalId == selfTerminalId_)
        return true;
    setReceiver(terminalId, rest, previous);
    return true;
}

void CTerminalGroup::updateMemberDesc(const std::string& memberDesc)
{
    if (!isStorable("updateMemberDesc", memberDesc))
        return;
    std::string terminalId, rest;
    splitMemberDesc(memberDesc, terminalId, rest);
    bool held = false;
    std::string previous;
    {
        CMonitorHold hold(tamLock_, 7, SCOPE);
        if (isMember(terminalId)) {
            previous = TAM_[terminalId];
            TAM_[terminalId] = rest;
            held = true;
        }
    }
    if (!held || terminalId == selfTerminalId_)
        return;
    if (rpBroadcastSH == nullptr) {
        CTrace::trace(SCOPE, " updateMemberDesc(" + terminalId + "): no broadcast session, no receiver", 0);
        return;
    }
    setReceiver(terminalId, rest, previous);
}

// An entry that holds the member separator would come apart in the list text that joining
// terminals read.
bool CTerminalGroup::isStorable(const char* operation, const std::string& memberDesc)
{
    if (memberDesc.find(MEMBER_SEP) == std::string::npos)
        return true;
    CTrace::scopedError(SCOPE, std::string(" ") + operation + "(" + memberDesc + "): holds the member separator: refused",
                        -1);
    return false;
}

bool CTerminalGroup::receiverOf(const std::string& terminalId, const std::string& rest, std::string& ipAddress,
                                int& portNum) const
{
    splitIdNumberDesc(rest, ipAddress, portNum);
    // A slave reaches the host at the address it joined it by, whatever the host's entry says.
    if (!masterTerminalId_.empty() && terminalId == masterTerminalId_)
        ipAddress = masterIpAddress_;
    return isReceiverAddress(ipAddress, portNum);
}

void CTerminalGroup::setReceiver(const std::string& terminalId, const std::string& rest,
                                 const std::string& previous)
{
    std::string ipAddress;
    int portNum;
    if (receiverOf(terminalId, rest, ipAddress, portNum)) {
        rpBroadcastSH->setAddress(terminalId, ipAddress, portNum);
        return;
    }
    if (ipAddress != INVALID_IPADDRESS)
        CTrace::scopedError(SCOPE, " [" + terminalId + "] at [" + ipAddress + "] port " + std::to_string(portNum)
                                       + " is no receiver address: kept as an unknown address",
                            -1);
    std::string previousIp;
    int previousPort;
    if (receiverOf(terminalId, previous, previousIp, previousPort))
        rpBroadcastSH->removeAddress(terminalId);
}

void CTerminalGroup::removeMember(const std::string& terminalId)
{
    {
        CMonitorHold hold(tamLock_, 8, SCOPE);
        TAM_.erase(terminalId);
        dumpTAM(TAM_);
    }
    observable_.notifyObservers(std::string(REMOVE) + SEP + terminalId);
    if (rpBroadcastSH != nullptr && terminalId != selfTerminalId_)
        rpBroadcastSH->removeAddress(terminalId);
}

std::string CTerminalGroup::lookupTerminalIpAddress(const std::string& terminalId)
{
    CTrace::scopedAssertTrue(isMaster(), SCOPE, " lookupTerminalIpAddress(): run on a slave", -1);
    std::string ipAddress = INVALID_IPADDRESS;
    try {
        CTerminalInfo info = rpLookupServiceHandle->find(terminalId);
        if (!rpLookupServiceHandle->isNotFound(info) && !info.getIpAddress().empty())
            ipAddress = info.getIpAddress();
    } catch (CIOException& e) {
        CTrace::trace(SCOPE, " lookupTerminalIpAddress(" + terminalId + "): " + e.getMessage(), 0);
    } catch (CLusException& e) {
        CTrace::trace(SCOPE, " lookupTerminalIpAddress(" + terminalId + "): " + e.getMessage(), 0);
    }
    return ipAddress;
}

// ---- texts

std::string CTerminalGroup::makeTAMDesc(const TAM& tam)
{
    std::string tamDesc;
    for (const auto& entry : tam) {
        if (!tamDesc.empty())
            tamDesc += MEMBER_SEP;
        tamDesc += makeMemberDesc(entry.first, entry.second);
    }
    return tamDesc;
}

std::string CTerminalGroup::makeMemberDesc(const std::string& terminalId, const std::string& rest)
{
    return terminalId + SEP + rest;
}

std::string CTerminalGroup::makeIdNumberDesc(const std::string& text, int number)
{
    return text + SEP + std::to_string(number);
}

void CTerminalGroup::splitMemberDesc(const std::string& memberDesc, std::string& terminalId, std::string& rest)
{
    terminalId = getToken(0, memberDesc, SEP);
    rest = getRest(1, memberDesc, SEP);
}

void CTerminalGroup::splitIdNumberDesc(const std::string& value, std::string& ipAddress, int& portNum)
{
    ipAddress = getToken(0, value, SEP);
    portNum = leadingNumber(getToken(1, value, SEP));
}

bool CTerminalGroup::isReceiverAddress(const std::string& ipAddress, int portNum)
{
    return portNum >= 1 && portNum <= 65535 && isDottedIpv4(ipAddress);
}

void CTerminalGroup::dumpTAM(const TAM& tam) const
{
    if (!CTrace::isTraced(SCOPE))
        return;
    int number = 0;
    for (const auto& entry : tam)
        CTrace::trace(SCOPE, " TAM[" + std::to_string(number++) + "] " + entry.first + " " + entry.second, 0);
}
