#pragma once
// Messages waiting for the local players of one DirectPlay object, oldest first.
#include <windows.h>
#include <dplay.h>

#include <atomic>
#include <condition_variable>
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
  // What may wait here for the application before the connections stop reading their peers.
  // The peers' sends then wait in TCP (back-pressure) until Receive makes room: nothing a peer
  // sent is lost, as guaranteed messages must not be, and memory does not grow at a peer's pace.
  // It holds several of the largest messages the program sends (pictures of a few MiB), so
  // that an application that is only briefly busy slows nobody down.
  static constexpr size_t kMaxBytes = 32u * 1024 * 1024;
  // What an entry costs besides its bytes, so that many small messages are bounded too.
  static constexpr size_t kEntryCost = 256;

  // Queues the entry (the caller sets the player's event). Always taken: the limit is kept by
  // not reading more (hasRoom), which each connection may overshoot by what its one frame
  // completes (a message, at most kMaxMessage).
  void push(DPlayInboxEntry entry);
  bool hasRoom() const { return m_bytes < kMaxBytes; }
  // Waits up to timeoutMs until Receive has made room.
  void waitForRoom(DWORD timeoutMs);
  size_t bytes() const { return m_bytes; }
  // IDirectPlay4::Receive on this queue.
  HRESULT receive(LPDPID from, LPDPID to, DWORD flags, LPVOID data, LPDWORD size);
  DWORD count(DPID to);
  void clear();

  // The record as Receive hands it out: the DPMSG_* structure, then its texts.
  static DWORD systemSize(const DPlaySystemMessage& message);
  static void writeSystem(const DPlaySystemMessage& message, BYTE* out);

 private:
  static size_t cost(const DPlayInboxEntry& entry);
  void taken(size_t bytes);  // with m_lock: entries of that cost left

  std::mutex m_lock;
  std::condition_variable m_room;
  int m_waiting = 0;  // threads in waitForRoom
  std::deque<DPlayInboxEntry> m_entries;
  std::atomic<size_t> m_bytes{0};  // the cost of the entries; changed with m_lock
};
