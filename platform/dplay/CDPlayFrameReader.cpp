#include "CDPlayFrameReader.h"

void CDPlayFrameReader::feed(const BYTE* data, size_t size) {
  if (m_bad) return;
  // Drop what was consumed before growing, so the buffer stays about one frame long.
  if (m_pos > 0 && (m_pos == m_data.size() || m_pos >= 64 * 1024)) {
    m_data.erase(m_data.begin(), m_data.begin() + static_cast<std::ptrdiff_t>(m_pos));
    m_pos = 0;
  }
  m_data.insert(m_data.end(), data, data + size);
}

CDPlayFrameReader::Result CDPlayFrameReader::next(DPlayFrame& frame) {
  if (m_bad) return kBad;
  size_t avail = m_data.size() - m_pos;
  if (avail < 4) return kNeedMore;
  const BYTE* p = m_data.data() + m_pos;
  DWORD size = static_cast<DWORD>(p[0]) | static_cast<DWORD>(p[1]) << 8 |
               static_cast<DWORD>(p[2]) << 16 | static_cast<DWORD>(p[3]) << 24;
  if (size < 1 || size > CDPlayWire::kMaxFrameSize) {
    m_bad = true;
    return kBad;
  }
  if (avail < CDPlayWire::kHeaderSize) return kNeedMore;
  DWORD minBody = 0, maxBody = 0;
  if (!CDPlayWire::bodyLimits(p[4], minBody, maxBody) || size - 1 < minBody || size - 1 > maxBody) {
    m_bad = true;
    return kBad;
  }
  if (avail < 4 + static_cast<size_t>(size)) return kNeedMore;
  frame.type = p[4];
  frame.body = p + CDPlayWire::kHeaderSize;
  frame.size = size - 1;
  m_pos += 4 + static_cast<size_t>(size);
  return kFrame;
}
