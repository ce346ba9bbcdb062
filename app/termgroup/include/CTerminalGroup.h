#pragma once
// The replicated list of the terminals that take part in the voice phone, each with the address
// at which it receives voice datagrams. Every terminal of the session holds one copy (the host
// the master). The list keeps the receivers of the own broadcast session equal to the other
// members whose address is known, and tells its observers "ADD <id>" or "REMOVE <id>" whenever
// a terminal enters or leaves.
//
// Its remote and local methods run on its handler thread; the queries below may be called from
// any thread. Neither the TAM lock nor any other lock of the list is held while it calls the
// broadcast session or its observers, so an observer may call the queries from inside update.
#include "CBroadcastNetwork.h"
#include "CJObject.h"
#include "CObservable.h"
#include "CSharedElement.h"

#include <map>
#include <string>
#include <vector>

class IBroadcastSessionHandle;
class ILookupServiceHandle;
class IObserver;

class CTerminalGroup : public CSharedElement {
public:
    // Members at most: the broadcast session keeps no more addresses than that, and a peer must
    // not be able to grow the list without end. A further add is refused with an error line.
    static constexpr size_t MEMBER_LIMIT = CBroadcastNetwork::ADDRESS_LIMIT;
    static const char MEMBER_SEP[];
    static const char INVALID_IPADDRESS[];
    static const char ADD[];
    static const char REMOVE[];

    // A master copy needs the lookup service (it finds the members' addresses) and ignores the
    // two master arguments; a slave copy gets null for it. The broadcast session may be null:
    // receivers are then left alone. Neither is owned.
    CTerminalGroup(const std::string& elementId, bool master, const std::string& selfTerminalId, int selfPortNum,
                   const std::string& masterTerminalId, const std::string& masterIpAddress,
                   ILookupServiceHandle* lookupServiceHandle, IBroadcastSessionHandle* broadcastSH);
    // Sends nothing and removes no receiver: the director closes the broadcast session.
    ~CTerminalGroup() override;

    void onPlugIn(const std::string& text) override;
    void onPlugOut(const std::string& text) override;
    std::string getElementId() const override;
    void onSync() override;
    void onEndSync() override;

    bool isMember(const std::string& terminalId);
    bool isSelfMember();
    bool hasOtherMember();
    // Empties the list, then fills it with every member's id.
    void getMemberIds(std::vector<std::string>& terminalIds);

    static bool isAddNotice(const std::string& notice);
    static bool isRemoveNotice(const std::string& notice);
    // Everything after the notice's first blank.
    static std::string getNoticeTerminalId(const std::string& notice);

    void addObserver(IObserver* observer);
    void deleteObserver(IObserver* observer);
    void deleteObservers();

protected:
    // The TAM description of the whole TAM, under the TAM lock.
    std::string currentTAMDesc();
    // False when the member was refused (an empty id, a full TAM).
    bool addMember(const std::string& memberDesc);
    void updateMemberDesc(const std::string& memberDesc);
    void removeMember(const std::string& terminalId);

private:
    typedef std::map<std::string, std::string> TAM;

    // Remote and local methods, on the handler thread.
    void INS_initTAM(const std::string& tamDesc);
    void INS_initIpAddress(const std::string& ipAddress);
    void COP_addMember(const std::string& memberDesc);
    void COP_removeMember(const std::string& terminalId);
    void COP_updateMemberDesc(const std::string& memberDesc);
    void INS_updateIpAddress(const std::string& ipAddress);
    void LOC_addSelf();
    void LOC_removeSelf();
    void LOC_removeSessionLostMember(const std::string& terminalId);

    // True on a slave that has not finished its synchronisation; otherwise an error line.
    bool isSynchronising(const char* method) const;
    static bool isStorable(const char* operation, const std::string& memberDesc);
    // The receiver address of another member's TAM value; false when it has none.
    bool receiverOf(const std::string& terminalId, const std::string& rest, std::string& ipAddress,
                    int& portNum) const;
    // Makes the receiver of another member match its TAM value; previous: the value it had,
    // whose receiver goes when the new value gives none.
    void setReceiver(const std::string& terminalId, const std::string& rest, const std::string& previous);
    std::string lookupTerminalIpAddress(const std::string& terminalId);
    // The cooperative call after the own copy ran it; a failure ends the process.
    void spread(const char* operation, const std::string& method, const std::string& argument);
    // Sends to the terminal whose call is being run; a failure is an error line.
    void reply(const std::string& method, const std::string& text);
    std::string selfMemberDesc() const;

    static std::string makeTAMDesc(const TAM& tam);
    static std::string makeMemberDesc(const std::string& terminalId, const std::string& rest);
    static std::string makeIdNumberDesc(const std::string& text, int number);
    static void splitMemberDesc(const std::string& memberDesc, std::string& terminalId, std::string& rest);
    static void splitIdNumberDesc(const std::string& value, std::string& ipAddress, int& portNum);
    // A receiver address as the UDP stream needs it: dotted IPv4 text and a port 1..65535.
    static bool isReceiverAddress(const std::string& ipAddress, int portNum);
    void dumpTAM(const TAM& tam) const;

    std::string elementId_;
    std::string selfTerminalId_;
    std::string selfIpAddress_;     // handler thread
    std::string masterTerminalId_;  // empty on the master
    std::string masterIpAddress_;   // empty on the master
    IBroadcastSessionHandle* rpBroadcastSH;
    ILookupServiceHandle* rpLookupServiceHandle;
    int selfPortNum_;
    TAM TAM_;        // tamLock_
    CJObject tamLock_;
    CObservable observable_;
};
