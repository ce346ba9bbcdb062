#pragma once
// Storage for large message bodies, used again and again. Writing into memory the process has
// not touched yet costs a page fault per page, far more than the copy itself (under Wine, on
// the test machines, several milliseconds per MiB): a body that goes away hands its storage
// back here, and the next large message takes it instead of fresh memory.
#include <windows.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <vector>

class CDPlayBufferPool {
 public:
  // Smaller bodies come from the heap, which reuses small blocks by itself.
  static constexpr size_t kMinSize = 64 * 1024;
  // What is kept for reuse, at most: a burst of large messages (a few pictures) in flight.
  static constexpr size_t kMaxKept = 64u * 1024 * 1024;
  // Storage not taken again for this long is given back to the system.
  static constexpr DWORD kKeepMs = 10000;

  // An empty vector with room for at least size bytes; its storage returns here when the last
  // holder lets go.
  static std::shared_ptr<std::vector<BYTE>> take(size_t size);
  // Tests: take() throws std::bad_alloc whenever fails(size) says so (nullptr: never), as it
  // would where memory runs out. Returns the function used before.
  using FailureFn = bool (*)(size_t size);
  static FailureFn setFailure(FailureFn fails);
  // The capacity take(size) gives.
  static size_t capacityFor(size_t size);
  // A copy of the bytes, on such storage.
  static std::shared_ptr<const std::vector<BYTE>> copy(const BYTE* data, size_t size);

 private:
  struct Kept {
    std::vector<BYTE>* buffer;
    ULONGLONG since;
  };

  static CDPlayBufferPool& instance();
  std::vector<BYTE>* get(size_t capacity);
  void give(std::vector<BYTE>* buffer);
  void trim(ULONGLONG now);  // with m_lock

  static std::atomic<FailureFn> s_failure;

  std::mutex m_lock;
  std::vector<Kept> m_kept;
  size_t m_keptBytes = 0;
};
