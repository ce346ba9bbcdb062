#pragma once
// What the sending side of a connection hands to the socket in one call: a few frames, each a
// header and a body that stays where it lies (a control frame, or a fragment of a message), so
// that a large message leaves in few calls and is not copied on its way. What the socket does
// not take stays here for the next call.
#include "CDPlayWire.h"

#include <winsock2.h>

#include <memory>
#include <vector>

class CDPlayOutBatch {
 public:
  static constexpr size_t kMaxFrames = 16;  // 1 MiB of fragments
  static constexpr size_t kMaxBytes = kMaxFrames * (CDPlayWire::kMaxDataHeader + CDPlayWire::kMaxFragment);

  bool empty() const { return m_next == m_count; }
  // Whether a frame of that size may join; an empty batch takes any.
  bool fits(size_t size) const { return m_frames == 0 || (m_frames < kMaxFrames && m_bytes + size <= kMaxBytes); }
  void addFrame(std::vector<BYTE> frame);
  // The fragment [offset, offset + size) of a message, after its header.
  void addFragment(const std::shared_ptr<const std::vector<BYTE>>& data, size_t offset, DWORD size, bool first,
                   DPID from, DPID to);
  // Hands the socket what it takes now: > 0 bytes sent, 0 the socket is full, -1 an error.
  int send(SOCKET s);

 private:
  void add(BYTE* p, size_t size);
  void clear();

  BYTE m_headers[kMaxFrames][CDPlayWire::kMaxDataHeader];
  WSABUF m_buffers[2 * kMaxFrames];
  std::vector<BYTE> m_control[kMaxFrames];                    // control frames, kept until sent
  std::shared_ptr<const std::vector<BYTE>> m_messages[kMaxFrames];  // and the messages sent from
  size_t m_frames = 0;  // frames in the batch
  size_t m_count = 0;   // buffers in the batch
  size_t m_next = 0;    // first buffer not wholly sent
  size_t m_bytes = 0;
};
