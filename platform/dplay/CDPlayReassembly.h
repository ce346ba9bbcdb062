#pragma once
// One message collected from its fragments. Storage follows what has arrived, never the size
// the first fragment announces: a peer that announces the largest message and then sends one
// byte pins one step of memory, not the whole message.
#include <windows.h>

#include <memory>
#include <vector>

class CDPlayReassembly {
 public:
  // Storage is taken in steps of this size: large enough that a message of pictures' size
  // needs few of them, small enough that an announced but absent message costs little.
  static constexpr size_t kStep = 1024 * 1024;

  // Starts a message of total bytes (more than 0) with its first chunk; the chunk is not more
  // than total. Throws std::bad_alloc when storage cannot be had.
  void begin(DWORD total, const BYTE* chunk, DWORD size);
  // Adds the next chunk, at most what is still missing.
  void append(const BYTE* chunk, DWORD size);
  // Storage begin() takes for a message of total bytes, and what the next append of size
  // bytes takes in addition to what is held.
  static size_t reserveToBegin(DWORD total);
  size_t growthFor(DWORD size) const;
  bool active() const { return m_total != 0; }
  bool complete() const { return m_total != 0 && m_received == m_total; }
  DWORD missing() const { return m_total - m_received; }
  size_t reserved() const { return m_reserved; }
  // The whole message, once complete; the reassembly is empty again.
  std::shared_ptr<const std::vector<BYTE>> take();
  void clear();

 private:
  static size_t partSize(DWORD total);
  void add(const BYTE* chunk, DWORD size);

  DWORD m_total = 0;
  DWORD m_received = 0;
  size_t m_reserved = 0;
  // A message of at most one step is collected in place; a longer one in steps, put together
  // once it is complete.
  std::vector<std::shared_ptr<std::vector<BYTE>>> m_parts;
};
