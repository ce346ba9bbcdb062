#include "CDPlayReassembly.h"

#include "CDPlayBufferPool.h"

void CDPlayReassembly::clear() {
  m_parts.clear();
  m_total = 0;
  m_received = 0;
  m_reserved = 0;
}

size_t CDPlayReassembly::partSize(DWORD total) { return CDPlayBufferPool::capacityFor(total <= kStep ? total : kStep); }

size_t CDPlayReassembly::reserveToBegin(DWORD total) { return partSize(total); }

size_t CDPlayReassembly::growthFor(DWORD size) const {
  size_t room = m_parts.empty() ? 0 : m_parts.back()->capacity() - m_parts.back()->size();
  if (size <= room) return 0;
  size_t part = partSize(m_total);
  return (size - room + part - 1) / part * part;
}

void CDPlayReassembly::begin(DWORD total, const BYTE* chunk, DWORD size) {
  clear();
  m_total = total;
  add(chunk, size);
}

void CDPlayReassembly::append(const BYTE* chunk, DWORD size) { add(chunk, size); }

void CDPlayReassembly::add(const BYTE* chunk, DWORD size) {
  while (size > 0 || m_parts.empty()) {
    if (m_parts.empty() || m_parts.back()->size() == m_parts.back()->capacity()) {
      std::shared_ptr<std::vector<BYTE>> part = CDPlayBufferPool::take(m_total <= kStep ? m_total : kStep);
      m_reserved += part->capacity();
      m_parts.push_back(std::move(part));
    }
    std::vector<BYTE>& last = *m_parts.back();
    size_t room = last.capacity() - last.size();
    DWORD n = size < room ? size : static_cast<DWORD>(room);
    last.insert(last.end(), chunk, chunk + n);
    chunk += n;
    size -= n;
    m_received += n;
    if (size == 0) break;
  }
}

std::shared_ptr<const std::vector<BYTE>> CDPlayReassembly::take() {
  std::shared_ptr<std::vector<BYTE>> whole;
  if (m_parts.size() == 1) {
    whole = std::move(m_parts.front());
  } else {
    whole = CDPlayBufferPool::take(m_total);
    for (const auto& part : m_parts) whole->insert(whole->end(), part->begin(), part->end());
  }
  clear();
  return whole;
}
