#include "CDirector.h"

#include "CFatalTroubleException.h"
#include "CFatalTroubleRecommendRebootException.h"
#include "CFileCopy.h"
#include "CIOException.h"
#include "CIllegalArgumentException.h"
#include "CIllegalStateException.h"
#include "CLeadImage.h"
#include "CLocalMethod.h"
#include "CLusException.h"
#include "CMessageBox.h"
#include "CMonitorHold.h"
#include "CNoSuchElementException.h"
#include "CNullPointerException.h"
#include "CPreferenceManager.h"
#include "CQuarn.h"
#include "CSessionEvent.h"
#include "CSessionMaker.h"
#include "CStage.h"
#include "CTavUtility.h"
#include "CTerminalGroup.h"
#include "CThread.h"
#include "CTrace.h"
#include "CVoiceProcessor.h"
#include "IBroadcastSessionHandle.h"
#include "IGuiHandle.h"
#include "ILookupServiceHandle.h"
#include "ISessionHandle.h"

#include <cstdio>
#include <cstdlib>
#include <new>

namespace {

const char SCOPE[] = "CDirector";
const char HOST_CATEGORY[] = "Server";
const char OWN_IP_ADDRESS[] = "0.0.0.0";
const char HOSTED_NAME[] = "LC";
const char JOINED_NAME[] = "RM";
const char BROADCAST_NAME[] = "BC";
const char MASTER_GROUP_NAME[] = "M_TERMGP";
const char SLAVE_GROUP_NAME[] = "S_TERMGP";
const char REMOVE_LOST_MEMBER[] = "LOC_removeSessionLostMember";
const char VOICE_NAME[] = "IP_PHONE";
const char VOICE_LOG_NAME[] = "phone.log";
const char FILE_COPY_NAME[] = "FILE_COPY";
const char MASTER_STAGE_NAME[] = "M_STAGE";
const char SLAVE_STAGE_NAME[] = "S_STAGE";
const char UNINSTALL_ALL[] = "LOC_uninstallAll";
const char TIME_KEY[] = "TIME=";
const char SESSION_KEY[] = "SESSION=";
const char SEPARATOR = ' ';
const char STAMP_FORMAT[] = "%04d%02d%02d%02d%02d%02d%03d";
const UINT CAPTION_STRING = 57344;
const UINT FATAL_TROUBLE_STRING = 62005;
const UINT FATAL_TROUBLE_REBOOT_STRING = 62006;
const char FATAL_TROUBLE_TEXT[] = "Cannot use the Communication Module. Tavelin will terminate.";
const char FATAL_TROUBLE_REBOOT_TEXT[] =
    "Cannot use the Communication Module. Tavelin will terminate. \nRestart the computer before executing Tavelin again.";
// The communication module cannot be used: the program did not run.
const int EXIT_TROUBLE = 1;
const int EXIT_FATAL = -1;

enum LockSite {
    SITE_OPEN = 1,
    SITE_HOSTED_RECORD,
    SITE_JOINED_RECORD,
    SITE_REGIST,
    SITE_IS_LOCAL,
    SITE_CLOSE,
    SITE_READ_RECORD,
    SITE_TERMINATE,
};

bool onUiThread()
{
    try {
        return CThread::checkUIThread();
    } catch (const CNullPointerException&) {
        return false;   // no user-interface thread at all
    }
}

void assertUiThread(const char* operation)
{
    CTrace::scopedAssertTrue(onUiThread(), SCOPE, std::string(operation) + ": not called on the UI thread", EXIT_FATAL);
}

// What follows the first key in text, up to its end; empty without the key.
std::string_view after(std::string_view text, std::string_view key)
{
    size_t at = text.find(key);
    if (at == std::string_view::npos)
        return {};
    return text.substr(at + key.size());
}

} // namespace

const char CDirector::TERMINAL_GROUP_ID[] = "D1D9B0A0-B266-11d4-8727-0000F460D121";

ILogicHandle* CDirector::create(IGuiHandle* gui, CPreferenceManager* preferences, CQuarn* middleware)
{
    CDirector* director = new (std::nothrow) CDirector(gui, preferences, middleware);
    return director;
}

CDirector::CDirector(IGuiHandle* gui, CPreferenceManager* preferences, CQuarn* middleware)
    : rpPreferenceManager(nullptr), rpGuiHandle(nullptr), pLookupServiceHandle(nullptr),
      pLocalSessionHandle(nullptr), pRemoteSessionHandle(nullptr), pBroadcastSessionHandle(nullptr),
      pIPPhoneTermGroup(nullptr), pFileCopy(nullptr), pStage(nullptr), pVoiceProcessor(nullptr), pLeadImage(nullptr), bTermInfoRegistered(false),
      bTerminated(false)
{
    assertUiThread("CDirector");
    CTrace::trace(SCOPE, "CDirector");
    bTerminated = false;
    rpGuiHandle = gui;
    rpPreferenceManager = preferences;
    terminalId = rpPreferenceManager->getTerminalId();
    applicationId = rpPreferenceManager->getAppId();

    // The process's one picture loader; its constructor ends the process when it cannot work.
    pLeadImage = new CLeadImage();

    terminalInfo.setValid();
    bTermInfoRegistered = false;

    rpGuiHandle->setLogicHandle(this);
    rpGuiHandle->showSplash(true);

    CSessionMaker& maker = CSessionMaker::current();
    try {
        pLookupServiceHandle = maker.makeLookupService(middleware != nullptr ? middleware->getInterface() : nullptr,
                                                       applicationId, rpGuiHandle->getWindowHandle());
    } catch (const CIllegalArgumentException& e) {
        CTrace::scopedFatalError(SCOPE, "CDirector: the lookup service rejects its arguments: " + e.getMessage(),
                                 EXIT_FATAL);
    } catch (const CNoSuchElementException& e) {
        CTrace::scopedFatalError(SCOPE, "CDirector: the lookup service was made before: " + e.getMessage(),
                                 EXIT_FATAL);
    }

    bool joined = false;
    std::string hostTerminalId;
    std::string hostIpAddress;
    try {
        openSession(joined, hostTerminalId, hostIpAddress);
    } catch (const CFatalTroubleRecommendRebootException& e) {
        CTrace::trace(SCOPE, "CDirector: the communication module cannot be used, restart advised: " + e.getMessage());
        rpGuiHandle->showSplash(false);
        endForTrouble(FATAL_TROUBLE_REBOOT_STRING);
    } catch (const CFatalTroubleException& e) {
        CTrace::trace(SCOPE, "CDirector: the communication module cannot be used: " + e.getMessage());
        rpGuiHandle->showSplash(false);
        endForTrouble(FATAL_TROUBLE_STRING);
    } catch (const CJException& e) {
        // Such as an application id that is no GUID text.
        CTrace::scopedFatalError(SCOPE, "CDirector: no session opens: " + e.getMessage(), EXIT_FATAL);
    }
    CTrace::trace(SCOPE, joined ? "CDirector: joined the session of [" + hostTerminalId + "] at " + hostIpAddress
                                : std::string("CDirector: hosts its own session"));

    int broadcastPort = 0;
    pBroadcastSessionHandle = maker.makeBroadcastNetwork(terminalId, &broadcastPort, BROADCAST_NAME);
    CTrace::trace(SCOPE, "CDirector: the broadcast session receives on port " + std::to_string(broadcastPort));

    registTermInfo();

    makeTerminalGroup(broadcastPort, hostTerminalId, hostIpAddress);

    pVoiceProcessor = new (std::nothrow) CVoiceProcessor(rpGuiHandle, pIPPhoneTermGroup, VOICE_LOG_NAME);
    CTrace::scopedAssertTrue(pVoiceProcessor != nullptr, SCOPE, "CDirector: no voice element", EXIT_FATAL);
    pVoiceProcessor->start(VOICE_NAME);

    ISessionHandle* sessionHandle = isLocalSession() ? pLocalSessionHandle : pRemoteSessionHandle;
    CTrace::trace(SCOPE, std::string("CDirector: the session handle is the ") +
                             (sessionHandle == pLocalSessionHandle ? "hosted" : "joined") + " one");

    // Local calls only (the stage's copy jobs, to its object id): it is plugged in nowhere.
    pFileCopy = new CFileCopy();
    pFileCopy->start(FILE_COPY_NAME);

    pStage = new (std::nothrow) CStage(sessionHandle, isLocalSession(), rpGuiHandle, rpPreferenceManager, pFileCopy);
    CTrace::scopedAssertTrue(pStage != nullptr, SCOPE, "CDirector: no stage", EXIT_FATAL);
    pStage->start(pStage->isMaster() ? MASTER_STAGE_NAME : SLAVE_STAGE_NAME);

    plugInto(sessionHandle, pIPPhoneTermGroup, "the member list");
    plugInto(sessionHandle, pStage, "the stage");
    // Voice packets go as datagrams straight to the members.
    plugInto(pBroadcastSessionHandle, pVoiceProcessor, "the voice element");

    rpGuiHandle->showSplash(false);
    rpGuiHandle->showMainDlg(true);
}

void CDirector::makeTerminalGroup(int broadcastPort, const std::string& hostTerminalId,
                                  const std::string& hostIpAddress)
{
    if (isLocalSession()) {
        pIPPhoneTermGroup = new (std::nothrow) CTerminalGroup(TERMINAL_GROUP_ID, true, terminalId, broadcastPort, "",
                                                              "", pLookupServiceHandle, pBroadcastSessionHandle);
    } else {
        pIPPhoneTermGroup = new (std::nothrow) CTerminalGroup(TERMINAL_GROUP_ID, false, terminalId, broadcastPort,
                                                              hostTerminalId, hostIpAddress, nullptr,
                                                              pBroadcastSessionHandle);
    }
    CTrace::scopedAssertTrue(pIPPhoneTermGroup != nullptr, SCOPE, "CDirector: no member list", EXIT_FATAL);
    pIPPhoneTermGroup->start(pIPPhoneTermGroup->isMaster() ? MASTER_GROUP_NAME : SLAVE_GROUP_NAME);
}

template <class Session>
void CDirector::plugInto(Session* sessionHandle, CElement* element, const char* what)
{
    try {
        sessionHandle->plugIn(element->getElementId(), element);
    } catch (const CIllegalStateException& e) {
        CTrace::scopedFatalError(SCOPE, std::string("CDirector: ") + what + " cannot be plugged in: " + e.getMessage(),
                                 EXIT_FATAL);
    } catch (const CIllegalArgumentException& e) {
        CTrace::scopedFatalError(SCOPE, std::string("CDirector: ") + what + " cannot be plugged in: " + e.getMessage(),
                                 EXIT_FATAL);
    }
}

CDirector::~CDirector()
{
    CTrace::trace(SCOPE, "~CDirector");
    // A message loop that ended without WM_CLOSE: the session must still be left in order.
    if (!bTerminated) {
        CTrace::trace(SCOPE, "~CDirector: terminate did not run, it runs now");
        terminate();
    }
    delete pStage;
    pStage = nullptr;
    delete pFileCopy;
    pFileCopy = nullptr;
    delete pVoiceProcessor;
    pVoiceProcessor = nullptr;
    delete pIPPhoneTermGroup;
    pIPPhoneTermGroup = nullptr;
    delete pBroadcastSessionHandle;
    pBroadcastSessionHandle = nullptr;
    delete pLocalSessionHandle;
    pLocalSessionHandle = nullptr;
    delete pRemoteSessionHandle;
    pRemoteSessionHandle = nullptr;
    delete pLookupServiceHandle;
    pLookupServiceHandle = nullptr;
    delete pLeadImage;
    pLeadImage = nullptr;
}

CTerminalInfo CDirector::getTerminalInfo()
{
    CMonitorHold hold(termInfoLock, SITE_READ_RECORD, SCOPE);
    return terminalInfo;
}

void CDirector::openSession(bool& joined, std::string& hostTerminalId, std::string& hostIpAddress)
{
    CMonitorHold hold(sessionLock, SITE_OPEN, SCOPE);
    CTrace::scopedAssertTrue(pLocalSessionHandle == nullptr, SCOPE, "openSession: a local session is already open",
                             EXIT_FATAL);
    CTrace::scopedAssertTrue(pRemoteSessionHandle == nullptr, SCOPE, "openSession: a remote session is already open",
                             EXIT_FATAL);
    joined = false;
    if (findHostTerminal()) {
        CTerminalInfo host;
        std::string hostId;
        if (getHostTerminalInfo(host, hostId) && joinSession(host)) {
            joined = true;
            hostTerminalId = hostId;
            hostIpAddress = host.getIpAddress();
            setPlainTermInfo();
            return;
        }
    }
    hostSession();
}

bool CDirector::joinSession(const CTerminalInfo& host)
{
    pRemoteSessionHandle = CSessionMaker::current().makeNetwork(terminalId, false, JOINED_NAME);
    std::string sessionName = parseSessionName(host.getOptionalData());
    try {
        pRemoteSessionHandle->openRemoteSession(applicationId, sessionName, host.getIpAddress(), this);
        return true;
    } catch (const CIOException& e) {
        CTrace::trace(SCOPE, "openSession: the session [" + sessionName + "] has vanished: " + e.getMessage());
    } catch (const CIllegalArgumentException& e) {
        // One record of a foreign or broken writer must not stop every start: it counts as gone.
        CTrace::trace(SCOPE, "openSession: the host's session [" + sessionName + "] cannot be joined: " +
                                 e.getMessage());
    } catch (const CIllegalStateException& e) {
        CTrace::scopedFatalError(SCOPE, "openSession: the joined session cannot open: " + e.getMessage(), EXIT_FATAL);
    }
    try {
        pRemoteSessionHandle->close();
    } catch (const CIllegalStateException& e) {
        CTrace::trace(SCOPE, "openSession: the join never completed: " + e.getMessage());
    }
    delete pRemoteSessionHandle;
    pRemoteSessionHandle = nullptr;
    return false;
}

void CDirector::hostSession()
{
    pLocalSessionHandle = CSessionMaker::current().makeNetwork(terminalId, true, HOSTED_NAME);
    std::string sessionName;
    try {
        sessionName = pLocalSessionHandle->openLocalSession(applicationId, this);
    } catch (const CIllegalStateException& e) {
        CTrace::scopedFatalError(SCOPE, "openSession: the hosted session cannot open: " + e.getMessage(), EXIT_FATAL);
    }
    CMonitorHold hold(termInfoLock, SITE_HOSTED_RECORD, SCOPE);
    terminalInfo.setCategory(HOST_CATEGORY);
    terminalInfo.setIpAddress(OWN_IP_ADDRESS);
    terminalInfo.setOptionalData(makeSessionDescriptor(sessionName));
    terminalInfo.setValid();
}

void CDirector::setPlainTermInfo()
{
    CMonitorHold hold(termInfoLock, SITE_JOINED_RECORD, SCOPE);
    terminalInfo.setCategory("");
    terminalInfo.setIpAddress(OWN_IP_ADDRESS);
    terminalInfo.setOptionalData("");
    terminalInfo.setValid();
}

bool CDirector::findHostTerminal()
{
    std::vector<std::string> ids;
    try {
        pLookupServiceHandle->enumByCategory(HOST_CATEGORY, ids);
    } catch (const CIOException& e) {
        CTrace::scopedError(SCOPE, "findHostTerminal: the lookup service cannot be read: " + e.getMessage(), EXIT_FATAL);
        return false;
    } catch (const CLusException& e) {
        CTrace::scopedError(SCOPE, "findHostTerminal: the lookup service fails: " + e.getMessage(), EXIT_FATAL);
        return false;
    }
    CTrace::trace(SCOPE, "findHostTerminal: " + std::to_string(ids.size()) + " hosting terminals");
    return !ids.empty();
}

bool CDirector::getHostTerminalInfo(CTerminalInfo& lrrTerminalInfo, std::string& lrrHostTermId)
{
    try {
        std::vector<std::string> ids;
        pLookupServiceHandle->enumByCategory(HOST_CATEGORY, ids);
        std::vector<CTerminalInfo> infos;
        pLookupServiceHandle->find(ids, infos);
        CTerminalInfo chosen;
        int index = findNewestTerminalInfo(infos, chosen);
        // The lists come from two calls of the lookup service: an index past the ids is no host.
        if (index < 0 || static_cast<size_t>(index) >= ids.size())
            return false;
        if (pLookupServiceHandle->isNotFound(chosen))
            return false;
        lrrTerminalInfo = chosen;
        lrrHostTermId = ids[index];
        CTrace::trace(SCOPE, "getHostTerminalInfo: the newest session is [" + chosen.getOptionalData() + "] of [" +
                                 lrrHostTermId + "] at " + chosen.getIpAddress());
        return true;
    } catch (const CIOException& e) {
        CTrace::scopedError(SCOPE, "getHostTerminalInfo: the lookup service cannot be read: " + e.getMessage(),
                            EXIT_FATAL);
    } catch (const CLusException& e) {
        CTrace::scopedError(SCOPE, "getHostTerminalInfo: the lookup service fails: " + e.getMessage(), EXIT_FATAL);
    }
    return false;
}

int CDirector::findNewestTerminalInfo(const std::vector<CTerminalInfo>& infos, CTerminalInfo& chosen)
{
    if (infos.empty()) {
        chosen = CTerminalInfo();
        return -1;
    }
    size_t candidate = 0;
    for (size_t i = infos.size() - 1; i >= 1; --i) {
        const CTerminalInfo& examined = infos[i];
        if (!examined.isValid())
            continue;
        if (!infos[candidate].isValid() ||
            parseSessionTime(infos[candidate].getOptionalData()) < parseSessionTime(examined.getOptionalData()))
            candidate = i;
    }
    chosen = infos[candidate];
    return static_cast<int>(candidate);
}

std::string CDirector::makeSessionDescriptor(const std::string& sessionName)
{
    SYSTEMTIME now = {};
    GetSystemTime(&now);
    char stamp[32] = {};
    std::snprintf(stamp, sizeof(stamp), STAMP_FORMAT, now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute,
                  now.wSecond, now.wMilliseconds);
    return std::string(TIME_KEY) + stamp + SEPARATOR + SESSION_KEY + sessionName;
}

std::string CDirector::parseSessionTime(std::string_view descriptor)
{
    std::string_view head = descriptor.substr(0, descriptor.find(SEPARATOR));
    return std::string(after(head, TIME_KEY));
}

std::string CDirector::parseSessionName(std::string_view descriptor)
{
    size_t blank = descriptor.find(SEPARATOR);
    if (blank == std::string_view::npos)
        return "";
    return std::string(after(descriptor.substr(blank + 1), SESSION_KEY));
}

void CDirector::registTermInfo()
{
    assertUiThread("registTermInfo");
    CMonitorHold hold(termInfoLock, SITE_REGIST, SCOPE);
    try {
        pLookupServiceHandle->regist(terminalId, terminalInfo);
        bTermInfoRegistered = true;
    } catch (const CIllegalArgumentException& e) {
        CTrace::scopedFatalError(SCOPE, "registTermInfo: the terminal id is refused: " + e.getMessage(), EXIT_FATAL);
    } catch (const CIOException& e) {
        CTrace::scopedFatalError(SCOPE, "registTermInfo: the lookup service cannot be written: " + e.getMessage(),
                                 EXIT_FATAL);
    } catch (const CLusException& e) {
        CTrace::scopedFatalError(SCOPE, "registTermInfo: the lookup service fails: " + e.getMessage(), EXIT_FATAL);
    }
}

void CDirector::removeTermInfo()
{
    assertUiThread("removeTermInfo");
    try {
        pLookupServiceHandle->remove(terminalId);
        bTermInfoRegistered = false;
    } catch (const CIllegalArgumentException& e) {
        CTrace::scopedFatalError(SCOPE, "removeTermInfo: the terminal id is refused: " + e.getMessage(), EXIT_FATAL);
    } catch (const CIOException& e) {
        CTrace::scopedError(SCOPE, "removeTermInfo: the record stays, ignored at the end: " + e.getMessage(),
                            EXIT_FATAL);
    } catch (const CLusException& e) {
        CTrace::scopedError(SCOPE, "removeTermInfo: the record stays, ignored at the end: " + e.getMessage(),
                            EXIT_FATAL);
    }
}

bool CDirector::isLocalSession()
{
    CMonitorHold hold(sessionLock, SITE_IS_LOCAL, SCOPE);
    return pLocalSessionHandle != nullptr;
}

void CDirector::terminate()
{
    assertUiThread("terminate");
    if (bTerminated) {
        CTrace::trace(SCOPE, "terminate: termination was already done");
        return;
    }
    bTerminated = true;
    CTrace::trace(SCOPE, "terminate");
    removeTermInfo();
    CLocalMethod::disableQuery();
    // The voice element first: no packet may leave once the sessions begin to go.
    if (pVoiceProcessor != nullptr) {
        try {
            pBroadcastSessionHandle->plugOut(pVoiceProcessor->getElementId());
            pVoiceProcessor->end();
        } catch (const CIllegalArgumentException& e) {
            CTrace::scopedFatalError(SCOPE, "terminate: the voice element cannot be plugged out: " + e.getMessage(),
                                     EXIT_FATAL);
        }
    }
    {
        CMonitorHold hold(sessionLock, SITE_TERMINATE, SCOPE);
        ISessionHandle* sessionHandle = pLocalSessionHandle != nullptr ? pLocalSessionHandle : pRemoteSessionHandle;
        try {
            if (pStage != nullptr) {
                sessionHandle->plugOut(pStage->getElementId());
                pStage->end();
            }
            if (pFileCopy != nullptr)
                pFileCopy->end();
        } catch (const CIllegalArgumentException& e) {
            CTrace::scopedFatalError(SCOPE, "terminate: the stage cannot be plugged out: " + e.getMessage(), EXIT_FATAL);
        }
        try {
            if (pIPPhoneTermGroup != nullptr) {
                sessionHandle->plugOut(pIPPhoneTermGroup->getElementId());
                pIPPhoneTermGroup->end();
            }
        } catch (const CIllegalArgumentException& e) {
            CTrace::scopedFatalError(SCOPE, "terminate: the member list cannot be plugged out: " + e.getMessage(),
                                     EXIT_FATAL);
        }
    }
    if (pBroadcastSessionHandle != nullptr)
        pBroadcastSessionHandle->close();
    closeSession();
    CTrace::trace(SCOPE, "terminate: termination is over");
}

void CDirector::closeSession()
{
    CMonitorHold hold(sessionLock, SITE_CLOSE, SCOPE);
    if (pLocalSessionHandle != nullptr) {
        try {
            pLocalSessionHandle->close();
        } catch (const CIllegalStateException& e) {
            CTrace::scopedError(SCOPE, "closeSession: the hosted session was closed before: " + e.getMessage(),
                                EXIT_FATAL);
        }
        setPlainTermInfo();
        delete pLocalSessionHandle;
        pLocalSessionHandle = nullptr;
    } else if (pRemoteSessionHandle != nullptr) {
        try {
            pRemoteSessionHandle->close();
        } catch (const CIllegalStateException& e) {
            CTrace::scopedError(SCOPE, "closeSession: the joined session was closed before: " + e.getMessage(),
                                EXIT_FATAL);
        }
        delete pRemoteSessionHandle;
        pRemoteSessionHandle = nullptr;
    } else {
        CTrace::scopedError(SCOPE, "closeSession: neither a hosted nor a joined session is open", EXIT_FATAL);
    }
}

void CDirector::OnSessionHandleEvent(int eventId, const std::string& eventTerminalId)
{
    CTrace::trace(SCOPE, "OnSessionHandleEvent: event " + std::to_string(eventId) + " [" + eventTerminalId + "]");
    switch (eventId) {
    case CSessionEvent::SESSION_EVENT_FATAL_TROUBLE:
        if (bTermInfoRegistered)
            removeTermInfo();
        endForTrouble(FATAL_TROUBLE_STRING);
    case CSessionEvent::SESSION_EVENT_FATAL_TROUBLE_REBOOT:
        if (bTermInfoRegistered)
            removeTermInfo();
        endForTrouble(FATAL_TROUBLE_REBOOT_STRING);
    case CSessionEvent::SESSION_EVENT_SESSION_OUT:
        OnSessionOut(eventTerminalId);
        return;
    default:
        CTrace::scopedFatalError(SCOPE, "OnSessionHandleEvent: undefined session event id " + std::to_string(eventId),
                                 EXIT_FATAL);
    }
}

void CDirector::OnSessionOut(const std::string& leftTerminalId)
{
    if (leftTerminalId == terminalId) {
        CTrace::trace(SCOPE, "OnSessionOut: this terminal lost the session");
        rpGuiHandle->terminate();
        return;
    }
    if (bTerminated) {
        CTrace::trace(SCOPE, "OnSessionOut: [" + leftTerminalId + "] left during termination");
        return;
    }
    CTrace::trace(SCOPE, "OnSessionOut: [" + leftTerminalId + "] left the session");
    // On a joined terminal the list is a slave copy: its master removes the member everywhere.
    if (pIPPhoneTermGroup != nullptr && pIPPhoneTermGroup->isMaster()) {
        try {
            CLocalMethod::postMethodStr(pIPPhoneTermGroup->getObjectId(), REMOVE_LOST_MEMBER, leftTerminalId);
        } catch (const CJException& e) {
            CTrace::scopedError(SCOPE, "OnSessionOut: the member list is not reached: " + e.getMessage(), EXIT_FATAL);
        }
    }
    // The departed terminal's contents and cursor go from every stage.
    if (pStage != nullptr && pStage->isMaster()) {
        try {
            CLocalMethod::postMethodStr(pStage->getObjectId(), UNINSTALL_ALL, leftTerminalId);
        } catch (const CJException& e) {
            CTrace::scopedError(SCOPE, "OnSessionOut: the stage is not reached: " + e.getMessage(), EXIT_FATAL);
        }
    }
}

void CDirector::endForTrouble(unsigned stringId)
{
    const char* fallback = stringId == FATAL_TROUBLE_REBOOT_STRING ? FATAL_TROUBLE_REBOOT_TEXT : FATAL_TROUBLE_TEXT;
    showFatalError(CTavUtility::loadString(stringId, fallback));
    CTrace::trace(SCOPE, "the communication module cannot be used: the end");
    exit(EXIT_TROUBLE);
}

void CDirector::showFatalError(const std::string& text)
{
    CMessageBox::show(nullptr, text, CTavUtility::loadString(CAPTION_STRING, "Tavelin"), MB_ICONERROR);
}
