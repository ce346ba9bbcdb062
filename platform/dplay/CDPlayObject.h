#pragma once
// The DirectPlay object (IDirectPlay4A) of this platform: client/server sessions over TCP.
//
// The host listens; each client keeps one connection to it. The host sees every player, a
// client sees its own players and the host's. What a member supports is listed in
// DPlayCreateInstance.h.
#include "CDPlayAddress.h"
#include "CDPlayConnection.h"
#include "CDPlayInbox.h"
#include "CDPlayListener.h"
#include "CDPlayReassembly.h"
#include "CDPlayWire.h"

#include <atomic>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

class CDPlayObject final : public IDirectPlay4, private CDPlayConnection::IOwner {
 public:
  static constexpr DWORD kEnumTimeout = 3000;    // ms, when EnumSessions is given 0
  static constexpr DWORD kJoinTimeout = 5000;    // ms for each step of a join
  static constexpr DWORD kReplyTimeout = 10000;  // ms for the host to create a client's player
  static constexpr DWORD kFinishTimeout = 3000;  // ms to hand over what is queued at Close
  static constexpr DWORD kRoomWaitMs = 50;       // a send waits this long for a full peer's queue
  static constexpr size_t kMaxPeers = 256;
  static constexpr size_t kMaxPlayersPerPeer = 16;
  // Bytes held for messages under reassembly, all connections together: four senders of the
  // largest message at once (pictures of a few MiB are the usual large ones, so dozens of
  // those). A connection whose next fragment would pass it is dropped.
  static constexpr size_t kMaxReassemblyBytes = 4u * CDPlayWire::kMaxMessage;

  CDPlayObject();
  CDPlayObject(const CDPlayObject&) = delete;
  // Tests: what is held under reassembly now, and a smaller budget than kMaxReassemblyBytes.
  size_t reassemblyBytes();
  void setReassemblyBudget(size_t bytes);
  CDPlayObject& operator=(const CDPlayObject&) = delete;

  // IUnknown
  STDMETHOD(QueryInterface)(REFIID riid, void** ppv) override;
  STDMETHOD_(ULONG, AddRef)() override;
  STDMETHOD_(ULONG, Release)() override;

  // IDirectPlay2: what sessions need
  STDMETHOD(Close)() override;
  STDMETHOD(CreatePlayer)(LPDPID id, LPDPNAME name, HANDLE event, LPVOID data, DWORD dataSize, DWORD flags) override;
  STDMETHOD(DestroyPlayer)(DPID id) override;
  STDMETHOD(EnumPlayers)(LPGUID instance, LPDPENUMPLAYERSCALLBACK2 callback, LPVOID context, DWORD flags) override;
  STDMETHOD(EnumSessions)(LPDPSESSIONDESC2 desc, DWORD timeout, LPDPENUMSESSIONSCALLBACK2 callback, LPVOID context, DWORD flags) override;
  STDMETHOD(GetCaps)(LPDPCAPS caps, DWORD flags) override;
  STDMETHOD(GetMessageCount)(DPID id, LPDWORD count) override;
  STDMETHOD(GetSessionDesc)(LPVOID data, LPDWORD size) override;
  STDMETHOD(Open)(LPDPSESSIONDESC2 desc, DWORD flags) override;
  STDMETHOD(Receive)(LPDPID from, LPDPID to, DWORD flags, LPVOID data, LPDWORD size) override;
  STDMETHOD(Send)(DPID from, DPID to, DWORD flags, LPVOID data, DWORD size) override;
  // IDirectPlay3
  STDMETHOD(EnumConnections)(LPCGUID application, LPDPENUMCONNECTIONSCALLBACK callback, LPVOID context, DWORD flags) override;
  STDMETHOD(InitializeConnection)(LPVOID connection, DWORD flags) override;
  // IDirectPlay4
  STDMETHOD(SendEx)(DPID from, DPID to, DWORD flags, LPVOID data, DWORD size, DWORD priority, DWORD timeout, LPVOID context, LPDWORD messageId) override;
  STDMETHOD(CancelMessage)(DWORD messageId, DWORD flags) override;
  // The send queue only: messages (and their bytes) not yet handed to the network.
  STDMETHOD(GetMessageQueue)(DPID from, DPID to, DWORD flags, LPDWORD count, LPDWORD bytes) override;

  // Not offered: DPERR_UNSUPPORTED.
  STDMETHOD(AddPlayerToGroup)(DPID, DPID) override;
  STDMETHOD(CreateGroup)(LPDPID, LPDPNAME, LPVOID, DWORD, DWORD) override;
  STDMETHOD(DeletePlayerFromGroup)(DPID, DPID) override;
  STDMETHOD(DestroyGroup)(DPID) override;
  STDMETHOD(EnumGroupPlayers)(DPID, LPGUID, LPDPENUMPLAYERSCALLBACK2, LPVOID, DWORD) override;
  STDMETHOD(EnumGroups)(LPGUID, LPDPENUMPLAYERSCALLBACK2, LPVOID, DWORD) override;
  STDMETHOD(GetGroupData)(DPID, LPVOID, LPDWORD, DWORD) override;
  STDMETHOD(GetGroupName)(DPID, LPVOID, LPDWORD) override;
  STDMETHOD(GetPlayerAddress)(DPID, LPVOID, LPDWORD) override;
  STDMETHOD(GetPlayerCaps)(DPID, LPDPCAPS, DWORD) override;
  STDMETHOD(GetPlayerData)(DPID, LPVOID, LPDWORD, DWORD) override;
  STDMETHOD(GetPlayerName)(DPID, LPVOID, LPDWORD) override;
  STDMETHOD(Initialize)(LPGUID) override;
  STDMETHOD(SetGroupData)(DPID, LPVOID, DWORD, DWORD) override;
  STDMETHOD(SetGroupName)(DPID, LPDPNAME, DWORD) override;
  STDMETHOD(SetPlayerData)(DPID, LPVOID, DWORD, DWORD) override;
  STDMETHOD(SetPlayerName)(DPID, LPDPNAME, DWORD) override;
  STDMETHOD(SetSessionDesc)(LPDPSESSIONDESC2, DWORD) override;
  STDMETHOD(AddGroupToGroup)(DPID, DPID) override;
  STDMETHOD(CreateGroupInGroup)(DPID, LPDPID, LPDPNAME, LPVOID, DWORD, DWORD) override;
  STDMETHOD(DeleteGroupFromGroup)(DPID, DPID) override;
  STDMETHOD(EnumGroupsInGroup)(DPID, LPGUID, LPDPENUMPLAYERSCALLBACK2, LPVOID, DWORD) override;
  STDMETHOD(GetGroupConnectionSettings)(DWORD, DPID, LPVOID, LPDWORD) override;
  STDMETHOD(SecureOpen)(LPCDPSESSIONDESC2, DWORD, LPCDPSECURITYDESC, LPCDPCREDENTIALS) override;
  STDMETHOD(SendChatMessage)(DPID, DPID, DWORD, LPDPCHAT) override;
  STDMETHOD(SetGroupConnectionSettings)(DWORD, DPID, LPDPLCONNECTION) override;
  STDMETHOD(StartSession)(DWORD, DPID) override;
  STDMETHOD(GetGroupFlags)(DPID, LPDWORD) override;
  STDMETHOD(GetGroupParent)(DPID, LPDPID) override;
  STDMETHOD(GetPlayerAccount)(DPID, DWORD, LPVOID, LPDWORD) override;
  STDMETHOD(GetPlayerFlags)(DPID, LPDWORD) override;
  STDMETHOD(GetGroupOwner)(DPID, LPDPID) override;
  STDMETHOD(SetGroupOwner)(DPID, DPID) override;
  STDMETHOD(CancelPriority)(DWORD, DWORD, DWORD) override;

 private:
  enum class State {
    kIdle,     // no connection yet
    kReady,    // InitializeConnection done, no session
    kHosting,  // Open(DPOPEN_CREATE)
    kJoined,   // Open(DPOPEN_JOIN)
    kLost      // joined, and the host is gone
  };
  enum class Stage { kHello, kRequest, kDone, kJoined };
  // Our own handle of a local player's event (a duplicate, closed when the last user lets go):
  // it stays valid for a set made just after the player was destroyed.
  using EventRef = std::shared_ptr<void>;

  struct Player {
    DPID id = 0;
    DWORD flags = 0;
    std::string shortName;
    std::string longName;
    EventRef event;                         // local players
    CDPlayConnection* link = nullptr;       // remote players: the connection they are reached by
  };

  // One connection and what its reader has received so far.
  struct Peer {
    std::shared_ptr<CDPlayConnection> connection;  // shared with a sender outside m_lock
    Stage stage = Stage::kHello;
    DPID partFrom = 0;
    DPID partTo = 0;
    // The message being received: at most CDPlayWire::kMaxMessage, one at a time, so that is
    // the most one connection holds under reassembly.
    CDPlayReassembly part;
  };

  struct PendingCreate {
    bool waiting = false;
    bool answered = false;
    HRESULT result = DP_OK;
    Player player;
  };

  // m_lock, held. On release the events of the messages queued meanwhile are set, outside the
  // lock: the application they wake would otherwise run straight into it.
  class Hold {
   public:
    explicit Hold(CDPlayObject& object) : m_object(object), m_hold(object.m_lock) {}
    ~Hold() { release(); }
    Hold(const Hold&) = delete;
    Hold& operator=(const Hold&) = delete;
    void release();
    std::unique_lock<std::mutex>& lock() { return m_hold; }

   private:
    CDPlayObject& m_object;
    std::unique_lock<std::mutex> m_hold;
  };

  ~CDPlayObject();

  // IOwner, on a connection's reader thread.
  bool onFrame(CDPlayConnection* connection, const DPlayFrame& frame) override;
  void onClosed(CDPlayConnection* connection) override;
  bool mayTakeMore() override;
  void waitToTakeMore(DWORD timeoutMs) override;
  void onAccept(SOCKET s);

  // With m_lock held.
  bool hostFrame(Peer& peer, const DPlayFrame& frame);
  bool clientFrame(Peer& peer, const DPlayFrame& frame);
  bool hostCreatePlayer(Peer& peer, const DPlayFrame& frame);
  // Collects one message from its fragments; false for a broken sequence. message is set
  // when the last fragment arrived.
  bool takeData(Peer& peer, const DPlayFrame& frame, std::shared_ptr<const std::vector<BYTE>>& message);
  // Who a message from a local player reaches: local players and the connections to the rest.
  HRESULT findTargets(DPID from, DPID to, std::vector<const Player*>& localTargets,
                      std::vector<CDPlayConnection*>& links);
  void dropReassembly(Peer& peer);  // what the peer's message held goes back to the budget
  void deliver(DPID from, DPID to, const std::shared_ptr<const std::vector<BYTE>>& data);
  void queueFor(const Player& to, DPlayInboxEntry entry);  // into the inbox; its event set by Hold
  void tellLocal(const DPlaySystemMessage& message, DPID except);  // to every local player
  void tellOne(const Player& to, const DPlaySystemMessage& message);
  // Forgets a remote player and tells the local ones; returns the next entry.
  std::map<DPID, Player>::iterator removeRemote(std::map<DPID, Player>::iterator player);
  DPlaySystemMessage sysMessage(DWORD type, const Player& about) const;
  DPlaySessionInfo sessionInfo() const;
  Peer* findPeer(CDPlayConnection* connection);
  void reapDeadPeers();  // joins the threads of connections that ended; without m_lock

  HRESULT openHost(const DPSESSIONDESC2& desc);
  HRESULT openJoin(const DPSESSIONDESC2& desc);
  // Asks the host of the address for its sessions; false when it does not answer properly.
  bool querySessions(const GUID& application, DWORD flags, DWORD timeoutMs, std::vector<DPlaySessionInfo>& sessions);
  // A connection to the host of the address that has passed the handshake, or null.
  std::unique_ptr<CDPlayConnection> connectToHost(DWORD timeoutMs);
  WORD port() const;

  std::atomic<ULONG> m_refs{1};
  bool m_winsock = false;

  std::recursive_mutex m_api;  // Open, Close, EnumSessions, ... one at a time
  std::mutex m_lock;           // everything below
  State m_state = State::kIdle;
  DPlayAddressInfo m_address;
  DPlaySessionInfo m_session;
  std::map<DPID, Player> m_local;
  std::map<DPID, Player> m_remote;
  std::vector<std::unique_ptr<Peer>> m_peers;
  std::vector<std::unique_ptr<Peer>> m_deadPeers;  // ended by themselves, threads to be joined
  DPID m_nextPlayerId = 2;
  DWORD m_nextMessageId = 0;
  size_t m_reassemblyBytes = 0;  // reserved by the peers' reassemblies
  size_t m_reassemblyBudget = kMaxReassemblyBytes;
  PendingCreate m_create;
  std::condition_variable m_createAnswered;

  CDPlayListener m_listener;
  CDPlayInbox m_inbox;
  std::vector<EventRef> m_signals;  // to set when m_lock is released (Hold)
};
