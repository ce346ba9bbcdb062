#pragma once
// Messages waiting for the local players of one DirectPlay object, oldest first.
#include <windows.h>
#include <dplay.h>

#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

// A system message before it is laid out as DirectPlay's DPMSG_* record.
struct DPlaySystemMessage {
  DWORD type = 0;  // DPSYS_CREATEPLAYERORGROUP, DPSYS_DESTROYPLAYERORGROUP or DPSYS_SESSIONLOST
  DPID id = 0;
  DWORD flags = 0;  // the player's DPPLAYER_* flags
  DWORD currentPlayers = 0;
  std::string shortName;  // empty: none
  std::string longName;
};

struct DPlayInboxEntry {
  DPID from = DPID_SYSMSG;
  DPID to = 0;
  std::shared_ptr<const std::vector<BYTE>> data;  // a player's message, or
  DPlaySystemMessage system;                      // (data empty) a system message
};

class CDPlayInbox {
 public:
  // Queues the entry and sets the receiving player's event.
  void push(DPlayInboxEntry entry, HANDLE event);
  // IDirectPlay4::Receive on this queue.
  HRESULT receive(LPDPID from, LPDPID to, DWORD flags, LPVOID data, LPDWORD size);
  DWORD count(DPID to);
  void clear();

  // The record as Receive hands it out: the DPMSG_* structure, then its texts.
  static DWORD systemSize(const DPlaySystemMessage& message);
  static void writeSystem(const DPlaySystemMessage& message, BYTE* out);

 private:
  std::mutex m_lock;
  std::deque<DPlayInboxEntry> m_entries;
};
