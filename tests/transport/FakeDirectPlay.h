#pragma once
// A DirectPlay and a lobby that write down every call with its arguments and answer as the test
// says. CDirectPlay gets them through setCreateInstance(FakeDirectPlay::createInstance); one
// script serves the whole test program (tests run one at a time), reset by each fixture.
//
// Calls are written one line each, in order ("Open flags=0x2 dwSize=88 ..."); Receive,
// GetMessageCount and SendEx, which run often, are kept apart (receiveSizes(), sent()).
#include <windows.h>
#include <dplay.h>
#include <dplobby.h>

#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

class FakeDirectPlay {
public:
    struct Sent {
        DPID from;
        DPID to;
        DWORD flags;
        DWORD priority;
        DWORD timeout;
        bool context;   // a context pointer was given
        bool messageId; // a message id pointer was given
        std::vector<unsigned char> data;
    };

    static FakeDirectPlay& script();
    // The factory CDirectPlay uses: CLSID_DirectPlay and CLSID_DirectPlayLobby.
    static HRESULT createInstance(REFCLSID clsid, REFIID iid, void** object);

    // Forgets everything: calls, answers, the inbox; the defaults below come back.
    void reset();

    // The next times calls of that name answer result ("Open", "EnumSessions", "CreatePlayer",
    // "CreateDirectPlay", "CreateLobby", "QueryLobby3", "CreateCompoundAddress" (the first call,
    // without a buffer), "CreateCompoundAddress2" (the second), "EnumConnections",
    // "InitializeConnection", "CancelMessage", "EnumPlayers", "DestroyPlayer", "Close",
    // "GetMessageQueue").
    void answer(const std::string& call, HRESULT result, int times = 1);
    // SendEx answers these in turn, then sendDefault.
    void answerSends(const std::vector<HRESULT>& results);
    void setSendDefault(HRESULT result);
    // SendEx to that player, and to DPID_ALLPLAYERS while any is busy, answers DPERR_BUSY
    // (before the answers above), as DirectPlay does while its queue for the player is full.
    void setBusy(DPID player, bool busy);
    // GetMessageQueue answers these send-queue counts in turn, then 0.
    void answerQueueCounts(const std::vector<DWORD>& counts);

    std::vector<GUID> providers;   // reported by EnumConnections, in order (TCP/IP)
    std::vector<GUID> sessions;    // reported by EnumSessions before its time-out
    std::vector<DPID> players;     // reported by EnumPlayers
    GUID instance;                 // GetSessionDesc's instance GUID
    DPID playerId = 1;             // CreatePlayer gives this id
    DWORD addressSize = 40;        // CreateCompoundAddress asks for this many bytes

    // Into the local player's inbox (its event is set).
    void deliver(DPID from, const std::vector<unsigned char>& payload);
    // DPSYS_CREATEPLAYERORGROUP or DPSYS_DESTROYPLAYERORGROUP with the name placed after the
    // record, as DirectPlay lays it out; nullName: no short name at all.
    void deliverPlayer(DWORD type, DPID id, const std::string& shortName, bool nullName = false);
    // A record of only its type word (DPSYS_SESSIONLOST and others).
    void deliverSystem(DWORD type);
    // The next Receive fails with result (after what is in the inbox before it).
    void deliverFailure(HRESULT result);
    size_t inboxSize();
    // Sets the local player's event as DirectPlay does when something arrives.
    void setPlayerEvent();

    std::vector<std::string> calls();
    std::vector<std::string> callsStartingWith(const std::string& prefix);
    std::vector<Sent> sent();
    size_t sentCount();
    // Buffer sizes given to Receive, in order.
    std::vector<DWORD> receiveSizes();
    // DirectPlay and lobby objects not released yet.
    int liveObjects();
    // Called at the start of SendEx, outside the script's lock (to see what else runs then).
    std::function<void(DPID to)> onSend;

    // For the fake objects.
    void record(const std::string& line);
    HRESULT next(const std::string& call, HRESULT otherwise = DP_OK);
    std::mutex lock_;
    int live_ = 0;
    HANDLE playerEvent_ = NULL;

    struct Entry {
        enum Kind { PAYLOAD, PLAYER, SYSTEM, FAILURE } kind;
        DPID from;
        std::vector<unsigned char> bytes; // PAYLOAD
        DWORD type;                       // PLAYER, SYSTEM
        DPID id;                          // PLAYER
        std::string name;                 // PLAYER
        bool nullName;                    // PLAYER
        HRESULT result;                   // FAILURE
    };
    std::deque<Entry> inbox_;
    std::vector<DWORD> receiveSizes_;
    std::vector<Sent> sent_;
    std::deque<HRESULT> sendResults_;
    HRESULT sendDefault_ = DPERR_PENDING;
    std::deque<DWORD> queueCounts_;
    std::set<DPID> busyPlayers_;

private:
    FakeDirectPlay() { reset(); }
    void push(Entry entry);

    std::vector<std::string> calls_;
    std::map<std::string, std::deque<HRESULT>> answers_;
};

// Readable names of the GUIDs the calls carry; others as CGuid text.
std::string fakeGuidName(const GUID& guid);
