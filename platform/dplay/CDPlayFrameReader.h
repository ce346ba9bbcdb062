#pragma once
// Cuts the byte stream of one connection into frames, checking every length before it is
// trusted: a size or type that cannot be right is rejected as soon as its bytes arrive.
#include "CDPlayWire.h"

#include <vector>

class CDPlayFrameReader {
 public:
  enum Result { kFrame, kNeedMore, kBad };

  void feed(const BYTE* data, size_t size);
  // kFrame: frame is filled; its body stays valid until the next feed() or next().
  // kBad: the stream is not ours or is corrupt; the reader stays bad.
  Result next(DPlayFrame& frame);
  size_t buffered() const { return m_data.size() - m_pos; }

 private:
  std::vector<BYTE> m_data;
  size_t m_pos = 0;
  bool m_bad = false;
};
