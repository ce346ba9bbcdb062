#pragma once
// The terminal's end of one DirectPlay session over TCP/IP: hosts a session or joins one, moves
// opaque payloads between the players of the session and to the terminal itself, and tells its
// observers what happens to the session (CSessionEvent texts).
//
// Calling order: construct; setMessageTransmitter; open (as host or as member, per the role
// given at construction); receive on one thread, send on any; releaceThread; close; delete.
// A new session needs a new object.
//
// Payloads between terminals: an encoded method call (first byte 1) or control data (first
// byte 0): the u32 type 0xFF (TERMINAL_LEFT), then the id of the terminal that left and its
// NUL. Only the host sends control data, to tell its members that a terminal left.
//
// Locks, in this order: the object's own monitor (open, close), receiveLock, sendLock, then the
// transmitter's table lock. Observers are told of events on the thread that found them, once
// it holds none of this object's locks any more.
#include "CObservable.h"

#include <windows.h>
#include <dplay.h>
#include <dplobby.h>

#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <thread>
#include <string>
#include <vector>

class CMessageTransmitter;
class CVector;

class CDirectPlay : public CObservable {
public:
    // Where DirectPlay objects come from; CoCreateInstance's contract (in-process).
    using CreateInstanceFunction = HRESULT (*)(REFCLSID clsid, REFIID iid, void** object);
    // Milliseconds of a steady clock, and a pause: the busy retry and the drain at close.
    using ClockFunction = std::function<ULONGLONG()>;
    using SleepFunction = std::function<void(DWORD)>;

    static constexpr DWORD CTRL_DATA_TERMINAL_LEFT = 0xFF;
    static constexpr DWORD CTRL_DATA_HEADER_SIZE = 5; // the 0 byte and the u32 type
    static constexpr DWORD INITIAL_RECEIVE_BUFFER_SIZE = 256;
    // The send flags of every payload: guaranteed, asynchronous, no completion message.
    static constexpr DWORD SEND_FLAGS = DPSEND_GUARANTEED | DPSEND_ASYNC | DPSEND_NOSENDCOMPLETEMSG;
    // Between two tries of a send that DirectPlay answers busy: time for its queue to drain.
    static constexpr DWORD BUSY_RETRY_PAUSE_MS = 5;
    // On the host, what waits for one busy member, so that nobody else waits for it: payloads
    // DirectPlay refused busy (its own queue for the member is full already, a few hundred MiB)
    // and those behind them. Past the limit more are dropped with an error line; a member that
    // takes nothing for busyRetrySeconds leaves the session.
    static constexpr size_t BACKLOG_LIMIT_PAYLOADS = 4096;
    static constexpr size_t BACKLOG_LIMIT_BYTES = 64u * 1024 * 1024;
    // How often the host tries a busy member's backlog again.
    static constexpr DWORD BACKLOG_RETRY_MS = 10;
    // How long close lets what DirectPlay still has queued leave before cancelling it.
    static constexpr DWORD CLOSE_DRAIN_LIMIT_MS = 3000;
    static constexpr DWORD CLOSE_DRAIN_POLL_MS = 10;
    // DirectPlay's address element of the host is built in a buffer of 256 bytes.
    static constexpr size_t MAX_IP_TEXT_LENGTH = 255;
    // Bytes of loopback payloads waiting for the receiving thread. Only this terminal's own
    // sending thread stores them, but it runs at the pace of the elements, which peers drive;
    // it cannot wait for room (it holds sendLock, which the receiving thread needs to forward),
    // so past the limit a payload is dropped with an error line. It holds several of the
    // largest payloads (pictures of a few MiB).
    static constexpr size_t SELF_QUEUE_LIMIT_BYTES = 128u * 1024 * 1024;
    static constexpr const char SESSION_NAME[] = "must userID";

    // sendLock held for a scope, as the transmitter routes under it.
    class SendLockHold {
    public:
        SendLockHold(CDirectPlay& directPlay, int site, const char* scope);
        ~SendLockHold();
        SendLockHold(const SendLockHold&) = delete;
        SendLockHold& operator=(const SendLockHold&) = delete;

    private:
        CDirectPlay& directPlay_;
    };

    // busyRetrySeconds: how long a send that DirectPlay answers busy is tried again.
    CDirectPlay(const std::string& terminalId, bool isHost, int busyRetrySeconds);
    // Does not close the session (the owner closes it first); gives back what open took.
    ~CDirectPlay() override;
    CDirectPlay(const CDirectPlay&) = delete;
    CDirectPlay& operator=(const CDirectPlay&) = delete;

    // Hosts a new session of the application (GUID text) and returns its instance GUID as
    // text. CIllegalStateException when a session is open; CIllegalArgumentException for a
    // text that is not a GUID; CFatalTroubleException or, when DirectPlay answers
    // DPERR_GENERIC to the create, CFatalTroubleRecommendRebootException. Host role only.
    std::string open(const std::string& applicationGuid);
    // Joins the session with that instance GUID on the host at hostIp. CIOException when the
    // session cannot be joined (it vanished, or the IP text is longer than 255 characters);
    // the other exceptions as above. Member role only.
    void open(const std::string& applicationGuid, const std::string& sessionGuid, const std::string& hostIp);
    // Lets what DirectPlay has queued leave (at most CLOSE_DRAIN_LIMIT_MS), cancels the rest,
    // on the host destroys every member's player, destroys the own player and closes.
    // CIllegalStateException when no session is open. Release the receiving thread first.
    void close();
    void setSessionClosed(bool closed);
    // Wakes the receiving thread; not lost when it comes before the thread waits.
    void wakeup();

    // The next payload for this terminal: data points into the receive buffer (valid until
    // the next receive), fromMyself tells a loopback payload. Blocks until one arrives; 0 (and
    // data NULL) only once the receiving thread has been released.
    DWORD receive(unsigned char** data, bool* fromMyself);
    // Sends the payload to one player, to DPID_ALLPLAYERS, or (the own player) to the own
    // receive side. Failures are told as events or error lines, never thrown; the caller
    // keeps data.
    void send(const unsigned char* data, DWORD size, DPID to);
    // Makes the receiving thread leave receive, now and for good.
    void releaceThread();
    bool canOccupyReceiveThread();
    void setMessageTransmitter(CMessageTransmitter* transmitter);

    bool isHost() const { return isHost_; }
    const std::string& getTerminalId() const { return terminalId_; }
    DPID getMyPlayerId() const { return myPlayerId_; }

    static std::string getSysMsgName(DWORD type);
    static std::string getErrorName(HRESULT result);
    // The objects that hold a COM initialisation now (for the trace and tests).
    static int getComUseCount();
    // Returns the function used before.
    static CreateInstanceFunction setCreateInstance(CreateInstanceFunction function);
    void setRetryClock(ClockFunction now, SleepFunction sleep);

    // Reads TERMINAL_LEFT control data inside size bytes: false, with the reason in why, when
    // it is too short, of another type, or its terminal id is empty or has no NUL inside.
    static bool readTerminalLeft(const unsigned char* data, DWORD size, std::string* terminalId, std::string* why);

    // The host's backlog for a member: payloads waiting, and whether it is leaving (tests).
    size_t getBacklogPayloads(DPID member);

private:
    enum Look { NOTHING, PAYLOAD, CONSUMED };

    struct Event {
        int id;
        std::string terminalId;
    };
    using Payload = std::shared_ptr<const std::vector<unsigned char>>;
    struct Backlog {
        std::deque<Payload> payloads;
        size_t bytes = 0;
        ULONGLONG since = 0;  // the last payload the member took, or the first it refused
        bool leaving = false; // past the busy limit: its player is destroyed, nothing more waits
    };

    void lockReceive(int site);
    void unlockReceive();
    void lockSend(int site, const char* scope);
    void unlockSend();
    void lockReleased();

    void refuseSecondOpen();
    void initializeDP(const std::string& ipAddress);
    unsigned char* createDPAddress(const std::string& ipAddress);
    void releaseDP();
    void readSessionGuid();
    void traceCaps(DWORD flags);
    HRESULT createPlayer(DWORD flags);
    void drainSendQueue();
    static BOOL FAR PASCAL enumConnectionsCallback(LPCGUID guid, LPVOID connection, DWORD size, LPCDPNAME name,
                                                   DWORD flags, LPVOID context);
    static BOOL FAR PASCAL enumSessionsCallback(LPCDPSESSIONDESC2 desc, LPDWORD timeout, DWORD flags,
                                                LPVOID context);
    static BOOL FAR PASCAL enumPlayersCallback(DPID id, DWORD type, LPCDPNAME name, DWORD flags, LPVOID context);

    unsigned char* prepareMsgBuf(DWORD wanted);
    Look receiveFromMyself(unsigned char** data, DWORD* size);
    Look receiveFromDP(unsigned char** data, DWORD* size);
    void sendToOther(const unsigned char* data, DWORD size, DPID to);
    void sendWithRetry(const unsigned char* data, DWORD size, DPID to);
    void sendToMember(const unsigned char* data, DWORD size, DPID to);
    void handleSendResult(HRESULT hr, DWORD size, DPID to);
    void queueForMember(Backlog& backlog, const unsigned char* data, DWORD size, DPID to); // backlogLock_
    void sendBacklogs();
    void stopBacklogs();
    void sendToMyself(const unsigned char* data, DWORD size, DPID to);
    void processSystemMessage(const unsigned char* message, DWORD size);
    void processCtrlData(const unsigned char* data, DWORD size, DPID from);
    void notifiyLeaveTerminalIdToClientPlayer(const std::string& terminalId);
    void notifyEvent(int eventId, const std::string& terminalId);
    void flushEvents();
    DWORD messageCount();

    std::string terminalId_;
    unsigned char* pTerminalIdText_;
    IDirectPlay4A* rpDirectPlayInterface_;
    IDirectPlayLobby3A* rpDirectPlayLobby_;
    GUID sessionGuid_;
    DPID myPlayerId_;
    HANDLE ALIVE_EVENT_;
    CVector* serviceProviders_;
    unsigned char* pReceiveBuffer_;
    DWORD receiveBufferSize_;
    CMessageTransmitter* pMessageTransmitter_;
    CVector* SelfMsgQue_;
    size_t selfQueueBytes_; // under SelfMsgQue_'s monitor
    CJObject receiveLock_;
    CJObject sendLock_;
    bool sessionClosed_;
    bool isHost_;
    double busyRetrySeconds_;
    bool readFromDPFirst_;
    bool mayOccupyReceiveThread_;
    CJObject receiveThreadLock_;
    bool holdsCom_;
    ClockFunction now_;
    SleepFunction sleep_;
    std::mutex backlogLock_;
    std::condition_variable backlogWake_;
    std::map<DPID, Backlog> backlogs_; // backlogLock_
    std::set<DPID> members_;           // backlogLock_: the host's remote players
    bool backlogStop_ = false;         // backlogLock_
    std::thread backlogThread_;        // started with the first backlog
    std::mutex eventsLock_;
    std::vector<Event> events_; // eventsLock_: found, not told yet
};
