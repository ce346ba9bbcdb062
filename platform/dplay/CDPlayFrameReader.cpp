#include "CDPlayFrameReader.h"

#include <cstring>

void CDPlayFrameReader::reserve(size_t capacity) {
  std::unique_ptr<BYTE[]> grown(new BYTE[capacity]);
  if (m_end > m_pos) std::memcpy(grown.get(), m_data.get() + m_pos, m_end - m_pos);
  m_data = std::move(grown);
  m_capacity = capacity;
  m_end -= m_pos;
  m_pos = 0;
}

BYTE* CDPlayFrameReader::room(size_t& size) {
  if (m_pos == m_end) m_pos = m_end = 0;
  if (m_capacity == 0) {
    reserve(kMinBuffer);
  } else if (m_filled && m_capacity < kMaxBuffer) {
    // A receive that filled the buffer means more was waiting: take larger pieces.
    reserve(m_capacity * 2 < kMaxBuffer ? m_capacity * 2 : kMaxBuffer);
  } else if (m_capacity - m_end < CDPlayWire::kMaxFrameSize + 4) {
    // What is left is the start of one frame: moved to the front to make room.
    std::memmove(m_data.get(), m_data.get() + m_pos, m_end - m_pos);
    m_end -= m_pos;
    m_pos = 0;
  }
  m_filled = false;
  size = m_capacity - m_end;
  return m_data.get() + m_end;
}

void CDPlayFrameReader::commit(size_t size) {
  m_filled = size == m_capacity - m_end;
  m_end += size;
}

void CDPlayFrameReader::feed(const BYTE* data, size_t size) {
  if (size == 0) return;
  if (m_pos == m_end) m_pos = m_end = 0;
  if (m_capacity - m_end < size) {
    size_t needed = m_end - m_pos + size;
    size_t capacity = m_capacity < kMinBuffer ? kMinBuffer : m_capacity;
    while (capacity < needed) capacity *= 2;
    reserve(capacity);
  }
  std::memcpy(m_data.get() + m_end, data, size);
  m_end += size;
}

CDPlayFrameReader::Result CDPlayFrameReader::next(DPlayFrame& frame) {
  if (m_bad) return kBad;
  size_t avail = m_end - m_pos;
  if (avail < 4) return kNeedMore;
  const BYTE* p = m_data.get() + m_pos;
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
