#pragma once
// Driving DirectPlay objects in tests the way the program does: set-up over the TCP/IP provider
// and the lobby's address, sessions, players, waiting for messages, and checkable payloads.
#include "DPlayCreateInstance.h"

#include <string>
#include <vector>

struct DPlayReceived {
  DPID from = 0;
  DPID to = 0;
  std::vector<BYTE> data;
  // For system messages (from DPID_SYSMSG), read out of the record:
  DWORD sysType = 0;
  DPID sysId = 0;
  std::string sysName;
  bool isSystem() const { return from == DPID_SYSMSG; }
};

class CDPlayTestKit {
 public:
  static const GUID kApplication;
  static constexpr DWORD kSessionFlags = DPSESSION_KEEPALIVE | DPSESSION_CLIENTSERVER | DPSESSION_DIRECTPLAYPROTOCOL;
  static constexpr DWORD kSendFlags = DPSEND_GUARANTEED | DPSEND_ASYNC | DPSEND_NOSENDCOMPLETEMSG;

  // A DirectPlay object whose TCP/IP connection is set to host ("" on a host) and port (0:
  // DirectPlay's), found through EnumConnections and built with the lobby.
  static HRESULT create(const std::string& host, WORD port, IDirectPlay4A** out);
  // Open(DPOPEN_CREATE) of a client/server session; the instance from GetSessionDesc.
  static HRESULT host(IDirectPlay4A* dp, GUID& instance);
  // One EnumSessions, then Open(DPOPEN_JOIN) by instance. found: whether the enumeration saw it.
  static HRESULT join(IDirectPlay4A* dp, const GUID& instance, bool* found = nullptr);
  static HRESULT addPlayer(IDirectPlay4A* dp, const std::string& name, HANDLE event, bool server, DPID& id);
  // The host's way out: cancel what is queued, destroy every other player, itself, Close.
  static HRESULT closeAsHost(IDirectPlay4A* dp, DPID self);

  // The next message, waiting on the player's event up to timeoutMs; false on time-out.
  static bool next(IDirectPlay4A* dp, HANDLE event, DWORD timeoutMs, DPlayReceived& out);
  // Waits for a system message of this type (others are skipped and returned in skipped).
  static bool nextSystem(IDirectPlay4A* dp, HANDLE event, DWORD type, DWORD timeoutMs, DPlayReceived& out,
                         std::vector<DPlayReceived>* skipped = nullptr);

  // Payloads that carry their sender and sequence number and can be checked byte by byte.
  static constexpr size_t kPayloadHeader = 12;
  static std::vector<BYTE> payload(DWORD sender, DWORD sequence, size_t size);
  static bool checkPayload(const std::vector<BYTE>& data, DWORD& sender, DWORD& sequence);

  // A few ports of this process's own, for tests on loopback.
  static WORD basePort();
  // A host on loopback on the first free port from basePort() + offset.
  static HRESULT hostOnLoopback(WORD offset, IDirectPlay4A** out, WORD& port, GUID& instance);
};
