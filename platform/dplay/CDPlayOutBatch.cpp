#include "CDPlayOutBatch.h"

void CDPlayOutBatch::add(BYTE* p, size_t size) {
  m_buffers[m_count].buf = reinterpret_cast<CHAR*>(p);
  m_buffers[m_count].len = static_cast<ULONG>(size);
  ++m_count;
  m_bytes += size;
}

void CDPlayOutBatch::addFrame(std::vector<BYTE> frame) {
  m_control[m_frames] = std::move(frame);
  add(m_control[m_frames].data(), m_control[m_frames].size());
  ++m_frames;
}

void CDPlayOutBatch::addFragment(const std::shared_ptr<const std::vector<BYTE>>& data, size_t offset, DWORD size,
                                 bool first, DPID from, DPID to) {
  BYTE* header = m_headers[m_frames];
  DWORD headerSize = CDPlayWire::dataHeader(header, first, from, to, static_cast<DWORD>(data->size()), size);
  add(header, headerSize);
  add(const_cast<BYTE*>(data->data() + offset), size);  // WSABUF is not const; WSASend only reads
  m_messages[m_frames] = data;
  ++m_frames;
}

void CDPlayOutBatch::clear() {
  for (size_t i = 0; i < m_frames; ++i) {
    m_control[i] = std::vector<BYTE>();
    m_messages[i].reset();
  }
  m_frames = m_count = m_next = m_bytes = 0;
}

int CDPlayOutBatch::send(SOCKET s) {
  if (empty()) return 0;
  DWORD sent = 0;
  if (WSASend(s, m_buffers + m_next, static_cast<DWORD>(m_count - m_next), &sent, 0, nullptr, nullptr) != 0)
    return WSAGetLastError() == WSAEWOULDBLOCK ? 0 : -1;
  int result = static_cast<int>(sent);
  while (sent > 0 && m_next < m_count) {
    WSABUF& b = m_buffers[m_next];
    if (sent >= b.len) {
      sent -= b.len;
      ++m_next;
    } else {
      b.buf += sent;
      b.len -= sent;
      sent = 0;
    }
  }
  if (empty()) clear();
  return result;
}
