#include "CDPlayBufferPool.h"

#include <new>

std::atomic<CDPlayBufferPool::FailureFn> CDPlayBufferPool::s_failure{nullptr};

CDPlayBufferPool::FailureFn CDPlayBufferPool::setFailure(FailureFn fails) { return s_failure.exchange(fails); }

CDPlayBufferPool& CDPlayBufferPool::instance() {
  // Never destroyed: a body may be let go of while the process ends.
  static CDPlayBufferPool* pool = new CDPlayBufferPool;
  return *pool;
}

size_t CDPlayBufferPool::capacityFor(size_t size) {
  if (size < kMinSize) return size;
  // Sizes in powers of two, so that storage fits the next message of about the same size.
  size_t capacity = kMinSize;
  while (capacity < size) capacity *= 2;
  return capacity;
}

std::shared_ptr<std::vector<BYTE>> CDPlayBufferPool::take(size_t size) {
  if (s_failure != nullptr && s_failure(size)) throw std::bad_alloc();
  if (size < kMinSize) {
    auto buffer = std::make_shared<std::vector<BYTE>>();
    buffer->reserve(size);
    return buffer;
  }
  size_t capacity = capacityFor(size);
  CDPlayBufferPool& pool = instance();
  return std::shared_ptr<std::vector<BYTE>>(pool.get(capacity), [&pool](std::vector<BYTE>* b) { pool.give(b); });
}

std::shared_ptr<const std::vector<BYTE>> CDPlayBufferPool::copy(const BYTE* data, size_t size) {
  std::shared_ptr<std::vector<BYTE>> buffer = take(size);
  buffer->assign(data, data + size);
  return buffer;
}

std::vector<BYTE>* CDPlayBufferPool::get(size_t capacity) {
  {
    std::lock_guard<std::mutex> hold(m_lock);
    trim(GetTickCount64());
    // The one given back last: what is left unused longest goes back to the system.
    for (size_t i = m_kept.size(); i-- > 0;) {
      if (m_kept[i].buffer->capacity() != capacity) continue;
      std::vector<BYTE>* buffer = m_kept[i].buffer;
      m_keptBytes -= capacity;
      m_kept.erase(m_kept.begin() + static_cast<std::ptrdiff_t>(i));
      return buffer;
    }
  }
  auto* buffer = new std::vector<BYTE>();
  buffer->reserve(capacity);
  return buffer;
}

void CDPlayBufferPool::give(std::vector<BYTE>* buffer) {
  buffer->clear();
  ULONGLONG now = GetTickCount64();
  {
    std::lock_guard<std::mutex> hold(m_lock);
    trim(now);
    if (m_keptBytes + buffer->capacity() <= kMaxKept) {
      m_keptBytes += buffer->capacity();
      m_kept.push_back({buffer, now});
      return;
    }
  }
  delete buffer;
}

void CDPlayBufferPool::trim(ULONGLONG now) {
  for (auto it = m_kept.begin(); it != m_kept.end();) {
    if (now - it->since < kKeepMs) {
      ++it;
      continue;
    }
    m_keptBytes -= it->buffer->capacity();
    delete it->buffer;
    it = m_kept.erase(it);
  }
}
