#pragma once
// The session logic of tavapp. Made once, last of all, by the start-up builder on the
// user-interface thread, it finds through the lookup service the terminal that hosts the
// newest session and joins it, or hosts a session of its own; it makes the broadcast session
// and publishes this terminal's record; it makes the picture loader, the phone's member list,
// the voice element (on the broadcast session), the file copy element and the stage. It hears
// the session's events and, on terminate, takes the record out of the lookup service, stops
// its elements and closes what it opened.
//
// Locks: sessionLock (the choice and the life of the two session handles), then termInfoLock
// (the own record); never the other way round.
#include "CJObject.h"
#include "CTerminalInfo.h"
#include "ILogicHandle.h"
#include "ISessionHandleEventListener.h"

#include <string>
#include <string_view>
#include <vector>

class CElement;
class CFileCopy;
class CLeadImage;
class CPreferenceManager;
class CQuarn;
class CStage;
class CTerminalGroup;
class CVoiceProcessor;
class IBroadcastSessionHandle;
class IGuiHandle;
class ILookupServiceHandle;
class ISessionHandle;

class CDirector : public virtual ILogicHandle, public virtual ISessionHandleEventListener {
public:
    // The factory that the program registers with the process utilities.
    static ILogicHandle* create(IGuiHandle* gui, CPreferenceManager* preferences, CQuarn* middleware);

    // User-interface thread only. Ends the process when the session cannot be had (a box and
    // exit code 1 when the communication module cannot be used).
    CDirector(IGuiHandle* gui, CPreferenceManager* preferences, CQuarn* middleware);
    // Runs terminate first when nobody did, then deletes what it made.
    ~CDirector() override;
    CDirector(const CDirector&) = delete;
    CDirector& operator=(const CDirector&) = delete;

    // User-interface thread only; a second call only traces.
    void terminate() override;
    void OnSessionHandleEvent(int eventId, const std::string& terminalId) override;

    // The member list's element id, the same on every terminal.
    static const char TERMINAL_GROUP_ID[];

    // A copy of the own record as it stands.
    CTerminalInfo getTerminalInfo();

    // The host search's choice: the index of the record with the greatest "TIME=" stamp
    // (compared as strings; the first record is the initial choice, equal stamps keep the
    // choice, the scan runs from the last record down), -1 for none. chosen gets a copy.
    static int findNewestTerminalInfo(const std::vector<CTerminalInfo>& infos, CTerminalInfo& chosen);
    // "TIME=" + the UTC stamp "%04d%02d%02d%02d%02d%02d%03d" + " SESSION=" + sessionName.
    static std::string makeSessionDescriptor(const std::string& sessionName);
    // What follows the first "SESSION=" after the first blank (further blanks kept).
    static std::string parseSessionName(std::string_view descriptor);
    // What follows the first "TIME=" before the first blank.
    static std::string parseSessionTime(std::string_view descriptor);

private:
    void openSession(bool& joined, std::string& hostTerminalId, std::string& hostIpAddress);
    // Joins the host; false when its session vanished (the handle is gone again).
    bool joinSession(const CTerminalInfo& host);
    void hostSession();
    bool findHostTerminal();
    bool getHostTerminalInfo(CTerminalInfo& lrrTerminalInfo, std::string& lrrHostTermId);
    void registTermInfo();
    void removeTermInfo();
    bool isLocalSession();
    void closeSession();
    void OnSessionOut(const std::string& terminalId);
    void makeTerminalGroup(int broadcastPort, const std::string& hostTerminalId, const std::string& hostIpAddress);
    // Plugs an element into the session; a refusal ends the process.
    template <class Session>
    void plugInto(Session* sessionHandle, CElement* element, const char* what);
    // The own record after the hosted session closed or after a join.
    void setPlainTermInfo();
    // The box of the string, then the end with exit code 1.
    [[noreturn]] void endForTrouble(unsigned stringId);
    static void showFatalError(const std::string& text);

    CPreferenceManager* rpPreferenceManager;
    IGuiHandle* rpGuiHandle;
    ILookupServiceHandle* pLookupServiceHandle;
    ISessionHandle* pLocalSessionHandle;
    ISessionHandle* pRemoteSessionHandle;
    IBroadcastSessionHandle* pBroadcastSessionHandle;
    CTerminalGroup* pIPPhoneTermGroup;
    CFileCopy* pFileCopy;
    CStage* pStage;
    CVoiceProcessor* pVoiceProcessor;
    CLeadImage* pLeadImage;
    CTerminalInfo terminalInfo;   // termInfoLock
    bool bTermInfoRegistered;
    bool bTerminated;
    std::string terminalId;
    std::string applicationId;
    CJObject termInfoLock;
    CJObject sessionLock;
};
