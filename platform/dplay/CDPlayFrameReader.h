#pragma once
// Cuts the byte stream of one connection into frames, checking every length before it is
// trusted: a size or type that cannot be right is rejected as soon as its bytes arrive.
//
// The socket is read straight into the reader's buffer (room(), then commit()), in large
// pieces: while a peer sends a lot, one receive brings many frames. The buffer grows only while
// receives fill it, and never past kMaxBuffer, whatever the peer sends: the frames received are
// taken before the next receive, and the one in progress is at most kMaxFrameSize long.
#include "CDPlayWire.h"

#include <memory>

class CDPlayFrameReader {
 public:
  enum Result { kFrame, kNeedMore, kBad };

  static constexpr size_t kMinBuffer = 2 * (CDPlayWire::kMaxFrameSize + 4);
  static constexpr size_t kMaxBuffer = 1024 * 1024;

  // Free space at the end of the buffer to receive into. Called when next() needs more, it is
  // at least one largest frame.
  BYTE* room(size_t& size);
  // size bytes were written at room().
  void commit(size_t size);
  // Appends a copy, however much (for callers that read the socket themselves).
  void feed(const BYTE* data, size_t size);

  // kFrame: frame is filled; its body stays valid until the next room(), feed() or next().
  // kBad: the stream is not ours or is corrupt; the reader stays bad.
  Result next(DPlayFrame& frame);
  size_t buffered() const { return m_end - m_pos; }

 private:
  void reserve(size_t capacity);  // moves what is buffered to the front of a new buffer

  std::unique_ptr<BYTE[]> m_data;
  size_t m_capacity = 0;
  size_t m_pos = 0;  // first byte not yet taken
  size_t m_end = 0;  // end of the bytes received
  bool m_filled = false;  // the last commit() filled all the room it was given
  bool m_bad = false;
};
