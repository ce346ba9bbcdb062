#include "CDPlayObject.h"

#include "CDPlayBufferPool.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace {

const char kConnectionName[] = "TCP/IP connection";

std::string text(LPCSTR s) { return s != nullptr ? std::string(s) : std::string(); }

bool validName(const DPNAME* name) {
  if (name == nullptr) return true;
  return name->dwSize == sizeof(DPNAME) && CDPlayWire::isValidText(name->lpszShortNameA) &&
         CDPlayWire::isValidText(name->lpszLongNameA);
}

// A session as DirectPlay hands it to the application; the name points into info.
DPSESSIONDESC2 toDesc(const DPlaySessionInfo& info) {
  DPSESSIONDESC2 desc;
  std::memset(&desc, 0, sizeof desc);
  desc.dwSize = sizeof desc;
  desc.dwFlags = info.flags;
  desc.guidInstance = info.instance;
  desc.guidApplication = info.application;
  desc.dwMaxPlayers = info.maxPlayers;
  desc.dwCurrentPlayers = info.currentPlayers;
  desc.lpszSessionNameA = const_cast<LPSTR>(info.name.c_str());
  desc.dwUser1 = info.user[0];
  desc.dwUser2 = info.user[1];
  desc.dwUser3 = info.user[2];
  desc.dwUser4 = info.user[3];
  return desc;
}

// What a method answers when it met an exception: the call fails, the object goes on.
HRESULT failedCall() {
  try {
    throw;
  } catch (const std::bad_alloc&) {
    return DPERR_OUTOFMEMORY;
  } catch (...) {
    return DPERR_GENERIC;
  }
}

}  // namespace

CDPlayObject::CDPlayObject() {
  WSADATA data;
  m_winsock = WSAStartup(MAKEWORD(2, 2), &data) == 0;
}

CDPlayObject::~CDPlayObject() {
  Close();
  reapDeadPeers();
  if (m_winsock) WSACleanup();
}

// ---------------------------------------------------------------------------------------------
// IUnknown

HRESULT CDPlayObject::QueryInterface(REFIID riid, void** ppv) {
  if (ppv == nullptr) return E_POINTER;
  if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IDirectPlay2A) ||
      IsEqualIID(riid, IID_IDirectPlay3A) || IsEqualIID(riid, IID_IDirectPlay4A)) {
    *ppv = static_cast<IDirectPlay4*>(this);
    AddRef();
    return S_OK;
  }
  *ppv = nullptr;
  return E_NOINTERFACE;
}

ULONG CDPlayObject::AddRef() { return ++m_refs; }

ULONG CDPlayObject::Release() {
  ULONG left = --m_refs;
  if (left == 0) delete this;
  return left;
}

// ---------------------------------------------------------------------------------------------
// Connection

HRESULT CDPlayObject::EnumConnections(LPCGUID, LPDPENUMCONNECTIONSCALLBACK callback, LPVOID context,
                                      DWORD flags) try {
  if (callback == nullptr) return DPERR_INVALIDPARAMS;
  if ((flags & ~(DPCONNECTION_DIRECTPLAY | DPCONNECTION_DIRECTPLAYLOBBY)) != 0) return DPERR_INVALIDFLAGS;
  if (flags != 0 && (flags & DPCONNECTION_DIRECTPLAY) == 0) return DP_OK;  // no lobby providers
  std::vector<BYTE> address = CDPlayAddress::providerOnly(DPSPGUID_TCPIP);
  DPNAME name;
  std::memset(&name, 0, sizeof name);
  name.dwSize = sizeof name;
  name.lpszShortNameA = const_cast<LPSTR>(kConnectionName);
  callback(&DPSPGUID_TCPIP, address.data(), static_cast<DWORD>(address.size()), &name,
           DPCONNECTION_DIRECTPLAY, context);
  return DP_OK;
} catch (...) {
  return failedCall();
}

HRESULT CDPlayObject::InitializeConnection(LPVOID connection, DWORD flags) try {
  std::lock_guard<std::recursive_mutex> api(m_api);
  if (flags != 0) return DPERR_INVALIDFLAGS;
  DPlayAddressInfo address;
  HRESULT hr = CDPlayAddress::parse(connection, address);
  if (FAILED(hr)) return hr;
  if (!IsEqualGUID(address.provider, DPSPGUID_TCPIP)) return DPERR_UNAVAILABLE;
  std::lock_guard<std::mutex> hold(m_lock);
  if (m_state != State::kIdle) return DPERR_ALREADYINITIALIZED;
  if (!m_winsock) return DPERR_UNAVAILABLE;
  m_address = address;
  m_state = State::kReady;
  return DP_OK;
} catch (...) {
  return failedCall();
}

WORD CDPlayObject::port() const {
  return m_address.port != 0 ? m_address.port : CDPlayWire::kDefaultPort;
}

std::unique_ptr<CDPlayConnection> CDPlayObject::connectToHost(DWORD timeoutMs) {
  sockaddr_in address;
  if (!CDPlaySocket::resolve(m_address.host, port(), address)) return nullptr;
  SOCKET s = CDPlaySocket::connectTo(address, timeoutMs);
  if (s == INVALID_SOCKET) return nullptr;
  auto connection = std::make_unique<CDPlayConnection>(s, static_cast<IOwner*>(this));
  DPlayFrame frame;
  DWORD version = 0;
  if (!connection->sendNow(CDPlayWire::hello(CDPlayWire::kVersion), timeoutMs) ||
      connection->readNow(frame, timeoutMs) != 1 || frame.type != CDPlayWire::kWelcome ||
      !CDPlayWire::decodeHandshake(frame, version) || version > CDPlayWire::kVersion)
    return nullptr;
  return connection;
}

// ---------------------------------------------------------------------------------------------
// Sessions

bool CDPlayObject::querySessions(const GUID& application, DWORD flags, DWORD timeoutMs,
                                 std::vector<DPlaySessionInfo>& sessions) {
  std::unique_ptr<CDPlayConnection> connection = connectToHost(timeoutMs);
  if (!connection || !connection->sendNow(CDPlayWire::enumRequest(application, flags), timeoutMs))
    return false;
  // The host answers with at most one session; a few more frames would be a broken host.
  for (int i = 0; i < 8; ++i) {
    DPlayFrame frame;
    if (connection->readNow(frame, timeoutMs) != 1) return false;
    if (frame.type == CDPlayWire::kEnumEnd) return true;
    DPlaySessionInfo info;
    if (frame.type != CDPlayWire::kSession || !CDPlayWire::decodeSession(frame, info)) return false;
    sessions.push_back(info);
  }
  return false;
}

HRESULT CDPlayObject::EnumSessions(LPDPSESSIONDESC2 desc, DWORD timeout,
                                   LPDPENUMSESSIONSCALLBACK2 callback, LPVOID context, DWORD flags) try {
  std::lock_guard<std::recursive_mutex> api(m_api);
  if (desc == nullptr || desc->dwSize != sizeof(DPSESSIONDESC2) || callback == nullptr)
    return DPERR_INVALIDPARAMS;
  if ((flags & (DPENUMSESSIONS_ASYNC | DPENUMSESSIONS_STOPASYNC)) != 0) return DPERR_UNSUPPORTED;
  {
    std::lock_guard<std::mutex> hold(m_lock);
    if (m_state == State::kIdle) return DPERR_UNINITIALIZED;
    // Only the host at the address is asked; there is no search of the whole network.
    if (m_address.host.empty()) return DPERR_UNSUPPORTED;
  }
  const GUID application = desc->guidApplication;
  if (timeout == 0) timeout = kEnumTimeout;
  for (;;) {
    std::vector<DPlaySessionInfo> sessions;
    // A host that is gone or answers nonsense simply has no sessions.
    querySessions(application, flags, timeout, sessions);
    for (const DPlaySessionInfo& info : sessions) {
      if (!IsEqualGUID(application, GUID_NULL) && !IsEqualGUID(application, info.application)) continue;
      DPSESSIONDESC2 found = toDesc(info);
      if (!callback(&found, &timeout, 0, context)) return DP_OK;
    }
    if (!callback(nullptr, &timeout, DPESC_TIMEDOUT, context)) return DP_OK;
    // The application wants to go on looking: once per time-out, as DirectPlay does.
    if (timeout == 0) timeout = kEnumTimeout;
    Sleep(timeout);
  }
} catch (...) {
  return failedCall();
}

HRESULT CDPlayObject::Open(LPDPSESSIONDESC2 desc, DWORD flags) try {
  std::lock_guard<std::recursive_mutex> api(m_api);
  if (desc == nullptr || desc->dwSize != sizeof(DPSESSIONDESC2)) return DPERR_INVALIDPARAMS;
  DWORD mode = flags & (DPOPEN_JOIN | DPOPEN_CREATE);
  if ((flags & ~(DPOPEN_JOIN | DPOPEN_CREATE | DPOPEN_RETURNSTATUS)) != 0 ||
      (mode != DPOPEN_JOIN && mode != DPOPEN_CREATE))
    return DPERR_INVALIDFLAGS;
  {
    std::lock_guard<std::mutex> hold(m_lock);
    if (m_state == State::kIdle) return DPERR_UNINITIALIZED;
    if (m_state != State::kReady) return DPERR_ALREADYINITIALIZED;
  }
  return mode == DPOPEN_CREATE ? openHost(*desc) : openJoin(*desc);
} catch (...) {
  return failedCall();
}

HRESULT CDPlayObject::openHost(const DPSESSIONDESC2& desc) {
  const DWORD unsupported = DPSESSION_MIGRATEHOST | DPSESSION_SECURESERVER | DPSESSION_MULTICASTSERVER |
                            DPSESSION_PASSWORDREQUIRED;
  if ((desc.dwFlags & DPSESSION_CLIENTSERVER) == 0 || (desc.dwFlags & unsupported) != 0 ||
      (desc.lpszPasswordA != nullptr && desc.lpszPasswordA[0] != '\0'))
    return DPERR_UNSUPPORTED;
  if (!CDPlayWire::isValidText(desc.lpszSessionNameA)) return DPERR_INVALIDPARAMS;
  DPlaySessionInfo info;
  info.flags = desc.dwFlags;
  if (FAILED(CoCreateGuid(&info.instance))) return DPERR_CANTCREATESESSION;
  info.application = desc.guidApplication;
  info.maxPlayers = desc.dwMaxPlayers;
  info.user[0] = desc.dwUser1;
  info.user[1] = desc.dwUser2;
  info.user[2] = desc.dwUser3;
  info.user[3] = desc.dwUser4;
  info.name = text(desc.lpszSessionNameA);
  {
    std::lock_guard<std::mutex> hold(m_lock);
    m_session = info;
    m_nextPlayerId = 2;  // 1 is the server player's
    m_state = State::kHosting;
  }
  if (!m_listener.start(port(), [this](SOCKET s) { onAccept(s); })) {
    std::lock_guard<std::mutex> hold(m_lock);
    m_state = State::kReady;
    return DPERR_CANTCREATESESSION;
  }
  return DP_OK;
}

HRESULT CDPlayObject::openJoin(const DPSESSIONDESC2& desc) {
  if (m_address.host.empty()) return DPERR_UNSUPPORTED;
  std::unique_ptr<CDPlayConnection> connection = connectToHost(kJoinTimeout);
  if (!connection || !connection->sendNow(CDPlayWire::join(desc.guidInstance, desc.guidApplication), kJoinTimeout))
    return DPERR_NOSESSIONS;
  DPlayFrame frame;
  if (connection->readNow(frame, kJoinTimeout) != 1) return DPERR_NOSESSIONS;
  DWORD code = 0;
  if (frame.type == CDPlayWire::kRefuse && CDPlayWire::decodeDword(frame, code))
    return FAILED(static_cast<HRESULT>(code)) ? static_cast<HRESULT>(code) : DPERR_NOSESSIONS;
  DPlaySessionInfo info;
  if (frame.type != CDPlayWire::kJoined || !CDPlayWire::decodeSession(frame, info) ||
      !IsEqualGUID(info.instance, desc.guidInstance))
    return DPERR_NOSESSIONS;

  std::lock_guard<std::mutex> hold(m_lock);
  m_session = info;
  m_state = State::kJoined;
  auto peer = std::make_unique<Peer>();
  peer->stage = Stage::kJoined;
  peer->connection = std::shared_ptr<CDPlayConnection>(std::move(connection));
  peer->connection->keepAlive();
  peer->connection->start();
  m_peers.push_back(std::move(peer));
  return DP_OK;
}

HRESULT CDPlayObject::Close() try {
  std::lock_guard<std::recursive_mutex> api(m_api);
  std::vector<std::unique_ptr<Peer>> peers;
  {
    std::lock_guard<std::mutex> hold(m_lock);
    if (m_state != State::kHosting && m_state != State::kJoined && m_state != State::kLost) return DP_OK;
    if (m_state == State::kJoined && !m_peers.empty()) {
      // Leaving: the host learns that our players are gone before the connection ends.
      for (const auto& entry : m_local) m_peers.front()->connection->post(CDPlayWire::destroyPlayer(entry.first));
    }
    m_state = State::kReady;
    m_local.clear();
    m_remote.clear();
    for (auto& peer : m_peers) dropReassembly(*peer);
    peers = std::move(m_peers);
    m_peers.clear();
  }
  m_listener.stop();
  // All at once, so that one slow peer does not hold up the others' goodbyes.
  for (auto& peer : peers) peer->connection->beginFinish();
  ULONGLONG deadline = GetTickCount64() + kFinishTimeout;
  for (auto& peer : peers) {
    ULONGLONG now = GetTickCount64();
    peer->connection->finish(now < deadline ? static_cast<DWORD>(deadline - now) : 0);
  }
  peers.clear();
  reapDeadPeers();
  m_inbox.clear();
  return DP_OK;
} catch (...) {
  return failedCall();
}

HRESULT CDPlayObject::GetSessionDesc(LPVOID data, LPDWORD size) try {
  if (size == nullptr) return DPERR_INVALIDPARAMS;
  std::lock_guard<std::mutex> hold(m_lock);
  if (m_state != State::kHosting && m_state != State::kJoined && m_state != State::kLost)
    return DPERR_NOCONNECTION;
  DPlaySessionInfo info = sessionInfo();
  DWORD needed = static_cast<DWORD>(sizeof(DPSESSIONDESC2) + info.name.size() + 1);
  if (data == nullptr || *size < needed) {
    *size = needed;
    return DPERR_BUFFERTOOSMALL;
  }
  BYTE* out = static_cast<BYTE*>(data);
  char* name = reinterpret_cast<char*>(out + sizeof(DPSESSIONDESC2));
  std::memcpy(name, info.name.c_str(), info.name.size() + 1);
  DPSESSIONDESC2 desc = toDesc(info);
  desc.lpszSessionNameA = name;
  std::memcpy(out, &desc, sizeof desc);
  *size = needed;
  return DP_OK;
} catch (...) {
  return failedCall();
}

DPlaySessionInfo CDPlayObject::sessionInfo() const {
  DPlaySessionInfo info = m_session;
  if (m_state == State::kHosting) info.currentPlayers = static_cast<DWORD>(m_local.size() + m_remote.size());
  return info;
}

HRESULT CDPlayObject::GetCaps(LPDPCAPS caps, DWORD flags) try {
  if (caps == nullptr || caps->dwSize != sizeof(DPCAPS)) return DPERR_INVALIDPARAMS;
  if ((flags & ~DPGETCAPS_GUARANTEED) != 0) return DPERR_INVALIDFLAGS;
  std::lock_guard<std::mutex> hold(m_lock);
  if (m_state == State::kIdle) return DPERR_UNINITIALIZED;
  std::memset(caps, 0, sizeof *caps);
  caps->dwSize = sizeof *caps;
  caps->dwFlags = DPCAPS_GUARANTEEDOPTIMIZED | DPCAPS_GUARANTEEDSUPPORTED | DPCAPS_KEEPALIVEOPTIMIZED |
                  DPCAPS_ASYNCSUPPORTED | DPCAPS_ASYNCCANCELSUPPORTED | DPCAPS_ASYNCCANCELALLSUPPORTED;
  if (m_state == State::kHosting) caps->dwFlags |= DPCAPS_ISHOST;
  caps->dwMaxBufferSize = CDPlayWire::kMaxMessage;
  caps->dwMaxPlayers = static_cast<DWORD>(kMaxPeers * kMaxPlayersPerPeer);
  caps->dwMaxLocalPlayers = static_cast<DWORD>(kMaxPlayersPerPeer);
  caps->dwHeaderLength = CDPlayWire::kHeaderSize + CDPlayWire::kDataBeginFixed;
  caps->dwTimeout = CDPlayConnection::kKeepAliveTimeout;
  return DP_OK;
} catch (...) {
  return failedCall();
}

// ---------------------------------------------------------------------------------------------
// Players

DPlaySystemMessage CDPlayObject::sysMessage(DWORD type, const Player& about) const {
  DPlaySystemMessage message;
  message.type = type;
  message.id = about.id;
  message.flags = about.flags;
  message.currentPlayers = static_cast<DWORD>(m_local.size() + m_remote.size());
  message.shortName = about.shortName;
  message.longName = about.longName;
  return message;
}

void CDPlayObject::tellOne(const Player& to, const DPlaySystemMessage& message) {
  DPlayInboxEntry entry;
  entry.from = DPID_SYSMSG;
  entry.to = to.id;
  entry.system = message;
  queueFor(to, std::move(entry));
}

void CDPlayObject::queueFor(const Player& to, DPlayInboxEntry entry) {
  m_inbox.push(std::move(entry));
  if (to.event) m_signals.push_back(to.event);
}

void CDPlayObject::Hold::release() {
  if (!m_hold.owns_lock()) return;
  std::vector<EventRef> events;
  events.swap(m_object.m_signals);
  m_hold.unlock();
  for (const EventRef& event : events) SetEvent(event.get());
}

std::map<DPID, CDPlayObject::Player>::iterator CDPlayObject::removeRemote(std::map<DPID, Player>::iterator player) {
  DPlaySystemMessage message = sysMessage(DPSYS_DESTROYPLAYERORGROUP, player->second);
  auto next = m_remote.erase(player);
  tellLocal(message, 0);
  return next;
}

void CDPlayObject::tellLocal(const DPlaySystemMessage& message, DPID except) {
  for (const auto& entry : m_local)
    if (entry.first != except) tellOne(entry.second, message);
}

HRESULT CDPlayObject::CreatePlayer(LPDPID id, LPDPNAME name, HANDLE event, LPVOID data, DWORD dataSize,
                                   DWORD flags) try {
  std::lock_guard<std::recursive_mutex> api(m_api);
  if (id == nullptr || !validName(name)) return DPERR_INVALIDPARAMS;
  if (data != nullptr || dataSize != 0) return DPERR_UNSUPPORTED;
  if ((flags & ~DPPLAYER_SERVERPLAYER) != 0) return DPERR_INVALIDFLAGS;
  Player player;
  player.flags = flags;
  HANDLE own = nullptr;
  if (event != nullptr &&
      DuplicateHandle(GetCurrentProcess(), event, GetCurrentProcess(), &own, 0, FALSE, DUPLICATE_SAME_ACCESS))
    player.event = EventRef(own, [](void* handle) { CloseHandle(handle); });
  if (name != nullptr) {
    player.shortName = text(name->lpszShortNameA);
    player.longName = text(name->lpszLongNameA);
  }

  Hold hold(*this);
  if (m_state == State::kHosting) {
    if (m_local.size() >= kMaxPlayersPerPeer ||
        (m_session.maxPlayers != 0 && m_local.size() + m_remote.size() >= m_session.maxPlayers))
      return DPERR_CANTADDPLAYER;
    if ((flags & DPPLAYER_SERVERPLAYER) != 0) {
      if (m_local.count(DPID_SERVERPLAYER) != 0) return DPERR_CANTCREATEPLAYER;
      player.id = DPID_SERVERPLAYER;
    } else {
      player.id = m_nextPlayerId++;
    }
    // The new player learns of everyone there; everyone learns of it.
    for (const auto& entry : m_local) tellOne(player, sysMessage(DPSYS_CREATEPLAYERORGROUP, entry.second));
    for (const auto& entry : m_remote) tellOne(player, sysMessage(DPSYS_CREATEPLAYERORGROUP, entry.second));
    m_local[player.id] = player;
    tellLocal(sysMessage(DPSYS_CREATEPLAYERORGROUP, player), player.id);
    DPlayPlayerInfo info;
    info.id = player.id;
    info.flags = player.flags;
    info.shortName = player.shortName;
    info.longName = player.longName;
    for (auto& peer : m_peers)
      if (peer->stage == Stage::kJoined) peer->connection->post(CDPlayWire::playerInfo(info));
    *id = player.id;
    return DP_OK;
  }
  if (m_state == State::kLost) return DPERR_CONNECTIONLOST;
  if (m_state != State::kJoined) return DPERR_NOCONNECTION;
  if ((flags & DPPLAYER_SERVERPLAYER) != 0) return DPERR_INVALIDFLAGS;
  if (m_local.size() >= kMaxPlayersPerPeer) return DPERR_CANTADDPLAYER;

  // The host gives the id; the answer is handled by the reader thread (clientFrame).
  m_create = PendingCreate();
  m_create.waiting = true;
  m_create.player = player;
  m_peers.front()->connection->post(CDPlayWire::createPlayer(flags, player.shortName, player.longName));
  bool answered = m_createAnswered.wait_for(hold.lock(), std::chrono::milliseconds(kReplyTimeout),
                                            [&] { return m_create.answered; });
  HRESULT result = m_create.result;
  DPID created = m_create.player.id;
  m_create = PendingCreate();  // not waiting any more; lets go of the player's event too
  if (!answered) return DPERR_TIMEOUT;
  if (FAILED(result)) return result;
  *id = created;
  return DP_OK;
} catch (...) {
  return failedCall();
}

HRESULT CDPlayObject::DestroyPlayer(DPID id) try {
  std::lock_guard<std::recursive_mutex> api(m_api);
  Hold hold(*this);
  auto local = m_local.find(id);
  if (local != m_local.end()) {
    Player player = local->second;
    m_local.erase(local);
    tellLocal(sysMessage(DPSYS_DESTROYPLAYERORGROUP, player), 0);
    for (auto& peer : m_peers)
      if (peer->stage == Stage::kJoined) peer->connection->post(CDPlayWire::destroyPlayer(id));
    return DP_OK;
  }
  auto remote = m_remote.find(id);
  if (remote == m_remote.end()) return DPERR_INVALIDPLAYER;
  if (m_state != State::kHosting) return DPERR_ACCESSDENIED;  // only the host removes others
  remote->second.link->post(CDPlayWire::destroyPlayer(id));
  removeRemote(remote);
  return DP_OK;
} catch (...) {
  return failedCall();
}

HRESULT CDPlayObject::EnumPlayers(LPGUID instance, LPDPENUMPLAYERSCALLBACK2 callback, LPVOID context,
                                  DWORD flags) try {
  if (callback == nullptr) return DPERR_INVALIDPARAMS;
  if (instance != nullptr || (flags & DPENUMPLAYERS_SESSION) != 0) return DPERR_UNSUPPORTED;
  struct Seen {
    Player player;
    bool local;
  };
  std::vector<Seen> seen;
  {
    std::lock_guard<std::mutex> hold(m_lock);
    if (m_state != State::kHosting && m_state != State::kJoined && m_state != State::kLost)
      return DPERR_NOCONNECTION;
    for (const auto& entry : m_local) seen.push_back({entry.second, true});
    for (const auto& entry : m_remote) seen.push_back({entry.second, false});
  }
  // Called without locks: the callback may well destroy the player it is shown.
  for (const Seen& s : seen) {
    if ((flags & DPENUMPLAYERS_LOCAL) != 0 && !s.local) continue;
    if ((flags & DPENUMPLAYERS_REMOTE) != 0 && s.local) continue;
    if ((flags & DPENUMPLAYERS_SERVERPLAYER) != 0 && s.player.id != DPID_SERVERPLAYER) continue;
    if ((flags & DPENUMPLAYERS_SPECTATOR) != 0) continue;
    DPNAME name;
    std::memset(&name, 0, sizeof name);
    name.dwSize = sizeof name;
    if (!s.player.shortName.empty()) name.lpszShortNameA = const_cast<LPSTR>(s.player.shortName.c_str());
    if (!s.player.longName.empty()) name.lpszLongNameA = const_cast<LPSTR>(s.player.longName.c_str());
    DWORD playerFlags = (s.local ? DPPLAYER_LOCAL : 0) | (s.player.flags & DPPLAYER_SERVERPLAYER);
    if (!callback(s.player.id, DPPLAYERTYPE_PLAYER, &name, playerFlags, context)) break;
  }
  return DP_OK;
} catch (...) {
  return failedCall();
}

// ---------------------------------------------------------------------------------------------
// Messages

HRESULT CDPlayObject::Receive(LPDPID from, LPDPID to, DWORD flags, LPVOID data, LPDWORD size) try {
  return m_inbox.receive(from, to, flags, data, size);
} catch (...) {
  return failedCall();
}

HRESULT CDPlayObject::GetMessageCount(DPID id, LPDWORD count) try {
  if (count == nullptr) return DPERR_INVALIDPARAMS;
  {
    std::lock_guard<std::mutex> hold(m_lock);
    if (m_local.count(id) == 0) return DPERR_INVALIDPLAYER;
  }
  *count = m_inbox.count(id);
  return DP_OK;
} catch (...) {
  return failedCall();
}

HRESULT CDPlayObject::Send(DPID from, DPID to, DWORD flags, LPVOID data, DWORD size) {
  return SendEx(from, to, flags, data, size, 0, 0, nullptr, nullptr);
}

HRESULT CDPlayObject::SendEx(DPID from, DPID to, DWORD flags, LPVOID data, DWORD size, DWORD priority, DWORD,
                             LPVOID, LPDWORD messageId) try {
  const DWORD known = DPSEND_GUARANTEED | DPSEND_HIGHPRIORITY | DPSEND_OPENSTREAM | DPSEND_CLOSESTREAM |
                      DPSEND_SIGNED | DPSEND_ENCRYPTED | DPSEND_LOBBYSYSTEMMESSAGE | DPSEND_ASYNC |
                      DPSEND_NOSENDCOMPLETEMSG;
  const DWORD unsupported = DPSEND_OPENSTREAM | DPSEND_CLOSESTREAM | DPSEND_SIGNED | DPSEND_ENCRYPTED |
                            DPSEND_LOBBYSYSTEMMESSAGE;
  if ((flags & ~known) != 0) return DPERR_INVALIDFLAGS;
  if ((flags & unsupported) != 0) return DPERR_UNSUPPORTED;
  const bool async = (flags & DPSEND_ASYNC) != 0;
  if (async && (flags & DPSEND_NOSENDCOMPLETEMSG) == 0) return DPERR_UNSUPPORTED;  // no completion messages
  if (priority > DPSEND_MAX_PRIORITY) return DPERR_INVALIDPRIORITY;
  if (data == nullptr || size == 0) return DPERR_INVALIDPARAMS;
  if (size > CDPlayWire::kMaxMessage) return DPERR_SENDTOOBIG;
  if (messageId != nullptr) *messageId = 0;

  std::vector<const Player*> localTargets;
  std::vector<CDPlayConnection*> links;
  {
    // A peer that does not take its data for long is lost anyway; until then, ask for patience,
    // outside the lock: readers and other senders go on meanwhile.
    std::vector<std::shared_ptr<CDPlayConnection>> full;
    {
      std::lock_guard<std::mutex> hold(m_lock);
      HRESULT hr = findTargets(from, to, localTargets, links);
      if (FAILED(hr)) return hr;
      for (CDPlayConnection* link : links)
        if (!link->hasRoom(size)) full.push_back(link->shared_from_this());
    }
    for (const auto& link : full)
      if (!link->waitForRoom(size, kRoomWaitMs)) return DPERR_BUSY;
  }

  // Copied before the lock: a large message takes a while, and memory may be short.
  std::shared_ptr<const std::vector<BYTE>> bytes = CDPlayBufferPool::copy(static_cast<const BYTE*>(data), size);
  Hold hold(*this);
  HRESULT hr = findTargets(from, to, localTargets, links);
  if (FAILED(hr)) return hr;
  for (CDPlayConnection* link : links)
    if (!link->hasRoom(size)) return DPERR_BUSY;

  for (const Player* target : localTargets) {
    DPlayInboxEntry entry;
    entry.from = from;
    entry.to = target->id;
    entry.data = bytes;
    queueFor(*target, std::move(entry));
  }
  if (links.empty()) return DP_OK;
  auto message = std::make_shared<DPlayOutMessage>();
  if (++m_nextMessageId == 0) ++m_nextMessageId;
  message->id = m_nextMessageId;
  message->from = from;
  message->to = to;
  message->data = bytes;
  // Where nothing waits ahead of it, the message leaves on this thread, once the lock is free.
  std::vector<std::shared_ptr<CDPlayConnection>> sendHere;
  for (CDPlayConnection* link : links)
    if (link->post(message)) sendHere.push_back(link->shared_from_this());
  if (messageId != nullptr) *messageId = message->id;
  hold.release();
  for (const auto& link : sendHere) link->sendQueued();
  return async ? DPERR_PENDING : DP_OK;
} catch (...) {
  return failedCall();
}

HRESULT CDPlayObject::findTargets(DPID from, DPID to, std::vector<const Player*>& localTargets,
                                  std::vector<CDPlayConnection*>& links) {
  localTargets.clear();
  links.clear();
  if (m_local.count(from) == 0) return DPERR_INVALIDPLAYER;
  if (m_state == State::kLost) return DPERR_CONNECTIONLOST;
  if (to == DPID_ALLPLAYERS) {
    for (const auto& entry : m_local)
      if (entry.first != from) localTargets.push_back(&entry.second);
    if (m_state == State::kHosting) {
      for (const auto& entry : m_remote)
        if (std::find(links.begin(), links.end(), entry.second.link) == links.end()) links.push_back(entry.second.link);
    } else {
      links.push_back(m_peers.front()->connection.get());  // the host's players
    }
  } else if (m_local.count(to) != 0) {
    localTargets.push_back(&m_local[to]);
  } else if (m_remote.count(to) != 0) {
    links.push_back(m_remote[to].link);
  } else {
    return DPERR_INVALIDPLAYER;
  }
  return DP_OK;
}

HRESULT CDPlayObject::CancelMessage(DWORD messageId, DWORD flags) try {
  if (flags != 0) return DPERR_INVALIDFLAGS;
  std::lock_guard<std::mutex> hold(m_lock);
  int cancelled = 0;
  for (auto& peer : m_peers) cancelled += peer->connection->cancel(messageId);
  return messageId != 0 && cancelled == 0 ? DPERR_UNKNOWNMESSAGE : DP_OK;
} catch (...) {
  return failedCall();
}

HRESULT CDPlayObject::GetMessageQueue(DPID from, DPID to, DWORD flags, LPDWORD count, LPDWORD bytes) try {
  if (count == nullptr && bytes == nullptr) return DPERR_INVALIDPARAMS;
  if (flags == DPMESSAGEQUEUE_RECEIVE) return DPERR_UNSUPPORTED;
  if (flags != DPMESSAGEQUEUE_SEND) return DPERR_INVALIDFLAGS;
  DWORD messages = 0, total = 0;
  {
    std::lock_guard<std::mutex> hold(m_lock);
    if (from != 0 && m_local.count(from) == 0) return DPERR_INVALIDPLAYER;
    // What waits for the network: messages to local players are in their inbox already.
    for (auto& peer : m_peers) peer->connection->queuedMessages(from, to, messages, total);
  }
  if (count != nullptr) *count = messages;
  if (bytes != nullptr) *bytes = total;
  return DP_OK;
} catch (...) {
  return failedCall();
}

// ---------------------------------------------------------------------------------------------
// The connections' side

CDPlayObject::Peer* CDPlayObject::findPeer(CDPlayConnection* connection) {
  for (auto& peer : m_peers)
    if (peer->connection.get() == connection) return peer.get();
  return nullptr;
}

void CDPlayObject::reapDeadPeers() {
  std::vector<std::unique_ptr<Peer>> dead;
  {
    std::lock_guard<std::mutex> hold(m_lock);
    dead = std::move(m_deadPeers);
    m_deadPeers.clear();
  }
}

void CDPlayObject::onAccept(SOCKET s) {
  reapDeadPeers();
  std::unique_lock<std::mutex> hold(m_lock);
  if (m_state != State::kHosting || m_peers.size() >= kMaxPeers) {
    closesocket(s);
    return;
  }
  std::unique_ptr<Peer> peer;
  try {
    m_peers.reserve(m_peers.size() + 1);
    peer = std::make_unique<Peer>();
    peer->connection = std::make_shared<CDPlayConnection>(s, static_cast<IOwner*>(this));
  } catch (...) {
    closesocket(s);  // no connection took it
    return;
  }
  try {
    peer->connection->start();
  } catch (...) {
    // The connection owns the socket now; a reader it did start may want m_lock to end.
    hold.unlock();
    return;
  }
  m_peers.push_back(std::move(peer));
}

void CDPlayObject::onClosed(CDPlayConnection* connection) {
  Hold hold(*this);
  auto it = std::find_if(m_peers.begin(), m_peers.end(),
                         [&](const std::unique_ptr<Peer>& p) { return p->connection.get() == connection; });
  if (it == m_peers.end()) return;
  dropReassembly(**it);
  m_deadPeers.push_back(std::move(*it));
  m_peers.erase(it);
  if (m_state == State::kHosting) {
    // A client that left without a word, or went silent: its players are gone.
    for (auto p = m_remote.begin(); p != m_remote.end();) p = p->second.link == connection ? removeRemote(p) : std::next(p);
  } else if (m_state == State::kJoined) {
    m_state = State::kLost;
    m_remote.clear();
    DPlaySystemMessage lost;
    lost.type = DPSYS_SESSIONLOST;
    tellLocal(lost, 0);
    if (m_create.waiting && !m_create.answered) {
      m_create.answered = true;
      m_create.result = DPERR_CONNECTIONLOST;
      m_createAnswered.notify_all();
    }
  }
}

bool CDPlayObject::mayTakeMore() { return m_inbox.hasRoom(); }

void CDPlayObject::waitToTakeMore(DWORD timeoutMs) { m_inbox.waitForRoom(timeoutMs); }

bool CDPlayObject::onFrame(CDPlayConnection* connection, const DPlayFrame& frame) {
  Hold hold(*this);
  Peer* peer = findPeer(connection);
  if (peer == nullptr) return true;  // being closed: nothing more is read from it
  if (m_state == State::kHosting) return hostFrame(*peer, frame);
  if (m_state == State::kJoined) return clientFrame(*peer, frame);
  return false;
}

bool CDPlayObject::takeData(Peer& peer, const DPlayFrame& frame,
                            std::shared_ptr<const std::vector<BYTE>>& message) {
  CDPlayReassembly& part = peer.part;
  size_t growth = 0;
  DPlayDataBegin begin;
  if (frame.type == CDPlayWire::kDataBegin) {
    if (part.active() || !CDPlayWire::decodeDataBegin(frame, begin)) return false;
    growth = CDPlayReassembly::reserveToBegin(begin.total);
  } else {
    if (!part.active() || frame.size > part.missing()) return false;
    growth = part.growthFor(frame.size);
  }
  // Past the budget the sender is dropped, not the message cut: its players go, others stay.
  if (m_reassemblyBytes + growth > m_reassemblyBudget) return false;
  size_t before = part.reserved();
  try {
    if (frame.type == CDPlayWire::kDataBegin) {
      peer.partFrom = begin.from;
      peer.partTo = begin.to;
      part.begin(begin.total, begin.chunk, begin.chunkSize);
    } else {
      part.append(frame.body, frame.size);
    }
  } catch (...) {
    // No memory for it: the message goes (and the connection with it), the budget stays right.
    m_reassemblyBytes -= before;
    part.clear();
    throw;
  }
  m_reassemblyBytes += part.reserved() - before;
  if (part.complete()) {
    m_reassemblyBytes -= part.reserved();
    message = part.take();
  }
  return true;
}

void CDPlayObject::dropReassembly(Peer& peer) {
  m_reassemblyBytes -= peer.part.reserved();
  peer.part.clear();
}

size_t CDPlayObject::reassemblyBytes() {
  std::lock_guard<std::mutex> hold(m_lock);
  return m_reassemblyBytes;
}

void CDPlayObject::setReassemblyBudget(size_t bytes) {
  std::lock_guard<std::mutex> hold(m_lock);
  m_reassemblyBudget = bytes;
}

void CDPlayObject::deliver(DPID from, DPID to, const std::shared_ptr<const std::vector<BYTE>>& data) {
  for (const auto& entry : m_local) {
    if (to != DPID_ALLPLAYERS && to != entry.first) continue;
    DPlayInboxEntry inboxEntry;
    inboxEntry.from = from;
    inboxEntry.to = entry.first;
    inboxEntry.data = data;
    queueFor(entry.second, std::move(inboxEntry));
  }
}

bool CDPlayObject::hostCreatePlayer(Peer& peer, const DPlayFrame& frame) {
  DPlayPlayerInfo info;
  if (!CDPlayWire::decodeCreatePlayer(frame, info)) return false;
  size_t owned = 0;
  for (const auto& entry : m_remote)
    if (entry.second.link == peer.connection.get()) ++owned;
  HRESULT hr = DP_OK;
  if (info.flags != 0)
    hr = DPERR_INVALIDFLAGS;  // a client cannot make a server player
  else if (owned >= kMaxPlayersPerPeer ||
           (m_session.maxPlayers != 0 && m_local.size() + m_remote.size() >= m_session.maxPlayers))
    hr = DPERR_CANTADDPLAYER;
  if (FAILED(hr)) {
    peer.connection->post(CDPlayWire::playerCreated(hr, 0));
    return true;
  }
  Player player;
  player.id = m_nextPlayerId++;
  player.shortName = info.shortName;
  player.longName = info.longName;
  player.link = peer.connection.get();
  m_remote[player.id] = player;
  peer.connection->post(CDPlayWire::playerCreated(DP_OK, player.id));
  tellLocal(sysMessage(DPSYS_CREATEPLAYERORGROUP, player), 0);
  return true;
}

bool CDPlayObject::hostFrame(Peer& peer, const DPlayFrame& frame) {
  CDPlayConnection& link = *peer.connection;
  if (frame.type == CDPlayWire::kKeepAlive) return peer.stage != Stage::kHello;
  switch (peer.stage) {
    case Stage::kHello: {
      DWORD version = 0;
      if (frame.type != CDPlayWire::kHello || !CDPlayWire::decodeHandshake(frame, version)) return false;
      link.post(CDPlayWire::welcome(version < CDPlayWire::kVersion ? version : CDPlayWire::kVersion));
      peer.stage = Stage::kRequest;
      return true;
    }
    case Stage::kRequest: {
      GUID application, instance;
      DWORD flags = 0;
      if (frame.type == CDPlayWire::kEnum && CDPlayWire::decodeEnum(frame, application, flags)) {
        bool joinable = (m_session.flags & (DPSESSION_JOINDISABLED | DPSESSION_NEWPLAYERSDISABLED)) == 0;
        if (joinable || (flags & DPENUMSESSIONS_ALL) != 0) link.post(CDPlayWire::session(CDPlayWire::kSession, sessionInfo()));
        link.post(CDPlayWire::enumEnd());
        link.closeAfterFlush();
        peer.stage = Stage::kDone;
        return true;
      }
      if (frame.type == CDPlayWire::kJoin && CDPlayWire::decodeJoin(frame, instance, application)) {
        if (!IsEqualGUID(instance, m_session.instance) ||
            (!IsEqualGUID(application, GUID_NULL) && !IsEqualGUID(application, m_session.application))) {
          link.post(CDPlayWire::refuse(DPERR_NOSESSIONS));
          link.closeAfterFlush();
          peer.stage = Stage::kDone;
          return true;
        }
        link.post(CDPlayWire::session(CDPlayWire::kJoined, sessionInfo()));
        // The client sees the host's players.
        for (const auto& entry : m_local) {
          DPlayPlayerInfo info;
          info.id = entry.first;
          info.flags = entry.second.flags;
          info.shortName = entry.second.shortName;
          info.longName = entry.second.longName;
          link.post(CDPlayWire::playerInfo(info));
        }
        link.keepAlive();
        peer.stage = Stage::kJoined;
        return true;
      }
      return false;
    }
    case Stage::kDone:
      return false;
    case Stage::kJoined:
      break;
  }
  switch (frame.type) {
    case CDPlayWire::kCreatePlayer:
      return hostCreatePlayer(peer, frame);
    case CDPlayWire::kDestroyPlayer: {
      DWORD id = 0;
      if (!CDPlayWire::decodeDword(frame, id) || m_local.count(id) != 0) return false;
      auto it = m_remote.find(id);
      if (it == m_remote.end()) return true;            // already gone: the host destroyed it
      if (it->second.link != &link) return false;        // not this client's to destroy
      removeRemote(it);
      return true;
    }
    case CDPlayWire::kDataBegin:
    case CDPlayWire::kDataMore: {
      std::shared_ptr<const std::vector<BYTE>> message;
      if (!takeData(peer, frame, message)) return false;
      if (!message) return true;
      // Clients speak only to the host's players, and only as their own players. A player the
      // host has just destroyed may still have messages on the way: they are dropped.
      auto sender = m_remote.find(peer.partFrom);
      if (sender == m_remote.end() || sender->second.link != &link) return true;
      if (peer.partTo != DPID_ALLPLAYERS && m_local.count(peer.partTo) == 0) return true;
      deliver(peer.partFrom, peer.partTo, message);
      return true;
    }
    default:
      return false;
  }
}

bool CDPlayObject::clientFrame(Peer& peer, const DPlayFrame& frame) {
  switch (frame.type) {
    case CDPlayWire::kKeepAlive:
      return true;
    case CDPlayWire::kPlayerCreated: {
      HRESULT hr = DP_OK;
      DPID id = 0;
      if (!m_create.waiting || m_create.answered || !CDPlayWire::decodePlayerCreated(frame, hr, id)) return false;
      if (SUCCEEDED(hr) && (id == DPID_ALLPLAYERS || id == DPID_UNKNOWN || m_local.count(id) != 0 ||
                            m_remote.count(id) != 0))
        return false;
      m_create.answered = true;
      m_create.result = FAILED(hr) ? hr : DP_OK;
      if (SUCCEEDED(hr)) {
        // Known before the next frame is read, so that messages for it find it.
        Player player = m_create.player;
        player.id = id;
        m_local[id] = player;
        m_create.player.id = id;
        for (const auto& entry : m_remote) tellOne(player, sysMessage(DPSYS_CREATEPLAYERORGROUP, entry.second));
      }
      m_createAnswered.notify_all();
      return true;
    }
    case CDPlayWire::kPlayerInfo: {
      DPlayPlayerInfo info;
      if (!CDPlayWire::decodePlayerInfo(frame, info) || info.id == DPID_ALLPLAYERS || info.id == DPID_UNKNOWN ||
          m_local.count(info.id) != 0)
        return false;
      Player player;
      player.id = info.id;
      player.flags = info.flags;
      player.shortName = info.shortName;
      player.longName = info.longName;
      player.link = peer.connection.get();
      m_remote[player.id] = player;
      tellLocal(sysMessage(DPSYS_CREATEPLAYERORGROUP, player), 0);
      return true;
    }
    case CDPlayWire::kDestroyPlayer: {
      DWORD id = 0;
      if (!CDPlayWire::decodeDword(frame, id)) return false;
      auto local = m_local.find(id);
      if (local != m_local.end()) {
        // The host removed our player: it is told so, and is gone.
        Player player = local->second;
        m_local.erase(local);
        tellOne(player, sysMessage(DPSYS_DESTROYPLAYERORGROUP, player));
        return true;
      }
      auto remote = m_remote.find(id);
      if (remote != m_remote.end()) removeRemote(remote);
      return true;
    }
    case CDPlayWire::kDataBegin:
    case CDPlayWire::kDataMore: {
      std::shared_ptr<const std::vector<BYTE>> message;
      if (!takeData(peer, frame, message)) return false;
      if (message && m_remote.count(peer.partFrom) != 0) deliver(peer.partFrom, peer.partTo, message);
      return true;
    }
    default:
      return false;
  }
}

// ---------------------------------------------------------------------------------------------
// Not offered

HRESULT CDPlayObject::AddPlayerToGroup(DPID, DPID) { return DPERR_UNSUPPORTED; }
HRESULT CDPlayObject::CreateGroup(LPDPID, LPDPNAME, LPVOID, DWORD, DWORD) { return DPERR_UNSUPPORTED; }
HRESULT CDPlayObject::DeletePlayerFromGroup(DPID, DPID) { return DPERR_UNSUPPORTED; }
HRESULT CDPlayObject::DestroyGroup(DPID) { return DPERR_UNSUPPORTED; }
HRESULT CDPlayObject::EnumGroupPlayers(DPID, LPGUID, LPDPENUMPLAYERSCALLBACK2, LPVOID, DWORD) { return DPERR_UNSUPPORTED; }
HRESULT CDPlayObject::EnumGroups(LPGUID, LPDPENUMPLAYERSCALLBACK2, LPVOID, DWORD) { return DPERR_UNSUPPORTED; }
HRESULT CDPlayObject::GetGroupData(DPID, LPVOID, LPDWORD, DWORD) { return DPERR_UNSUPPORTED; }
HRESULT CDPlayObject::GetGroupName(DPID, LPVOID, LPDWORD) { return DPERR_UNSUPPORTED; }
HRESULT CDPlayObject::GetPlayerAddress(DPID, LPVOID, LPDWORD) { return DPERR_UNSUPPORTED; }
HRESULT CDPlayObject::GetPlayerCaps(DPID, LPDPCAPS, DWORD) { return DPERR_UNSUPPORTED; }
HRESULT CDPlayObject::GetPlayerData(DPID, LPVOID, LPDWORD, DWORD) { return DPERR_UNSUPPORTED; }
HRESULT CDPlayObject::GetPlayerName(DPID, LPVOID, LPDWORD) { return DPERR_UNSUPPORTED; }
HRESULT CDPlayObject::Initialize(LPGUID) { return DPERR_UNSUPPORTED; }
HRESULT CDPlayObject::SetGroupData(DPID, LPVOID, DWORD, DWORD) { return DPERR_UNSUPPORTED; }
HRESULT CDPlayObject::SetGroupName(DPID, LPDPNAME, DWORD) { return DPERR_UNSUPPORTED; }
HRESULT CDPlayObject::SetPlayerData(DPID, LPVOID, DWORD, DWORD) { return DPERR_UNSUPPORTED; }
HRESULT CDPlayObject::SetPlayerName(DPID, LPDPNAME, DWORD) { return DPERR_UNSUPPORTED; }
HRESULT CDPlayObject::SetSessionDesc(LPDPSESSIONDESC2, DWORD) { return DPERR_UNSUPPORTED; }
HRESULT CDPlayObject::AddGroupToGroup(DPID, DPID) { return DPERR_UNSUPPORTED; }
HRESULT CDPlayObject::CreateGroupInGroup(DPID, LPDPID, LPDPNAME, LPVOID, DWORD, DWORD) { return DPERR_UNSUPPORTED; }
HRESULT CDPlayObject::DeleteGroupFromGroup(DPID, DPID) { return DPERR_UNSUPPORTED; }
HRESULT CDPlayObject::EnumGroupsInGroup(DPID, LPGUID, LPDPENUMPLAYERSCALLBACK2, LPVOID, DWORD) { return DPERR_UNSUPPORTED; }
HRESULT CDPlayObject::GetGroupConnectionSettings(DWORD, DPID, LPVOID, LPDWORD) { return DPERR_UNSUPPORTED; }
HRESULT CDPlayObject::SecureOpen(LPCDPSESSIONDESC2, DWORD, LPCDPSECURITYDESC, LPCDPCREDENTIALS) { return DPERR_UNSUPPORTED; }
HRESULT CDPlayObject::SendChatMessage(DPID, DPID, DWORD, LPDPCHAT) { return DPERR_UNSUPPORTED; }
HRESULT CDPlayObject::SetGroupConnectionSettings(DWORD, DPID, LPDPLCONNECTION) { return DPERR_UNSUPPORTED; }
HRESULT CDPlayObject::StartSession(DWORD, DPID) { return DPERR_UNSUPPORTED; }
HRESULT CDPlayObject::GetGroupFlags(DPID, LPDWORD) { return DPERR_UNSUPPORTED; }
HRESULT CDPlayObject::GetGroupParent(DPID, LPDPID) { return DPERR_UNSUPPORTED; }
HRESULT CDPlayObject::GetPlayerAccount(DPID, DWORD, LPVOID, LPDWORD) { return DPERR_UNSUPPORTED; }
HRESULT CDPlayObject::GetPlayerFlags(DPID, LPDWORD) { return DPERR_UNSUPPORTED; }
HRESULT CDPlayObject::GetGroupOwner(DPID, LPDPID) { return DPERR_UNSUPPORTED; }
HRESULT CDPlayObject::SetGroupOwner(DPID, DPID) { return DPERR_UNSUPPORTED; }
HRESULT CDPlayObject::CancelPriority(DWORD, DWORD, DWORD) { return DPERR_UNSUPPORTED; }
