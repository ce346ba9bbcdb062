// Corrupts valid frames, and streams of them, in many deterministic ways and hands them to the
// frame reader and to every decoder. Each input, and each frame body cut from it, lies right
// before an inaccessible page (see GuardedBlock), so a read past its end crashes the test. The
// frames the reader cuts must lie inside what arrived; a decoder may take or refuse a body but
// never reads beyond it.
#include <gtest/gtest.h>

#include "CDPlayFrameReader.h"
#include "CDPlayWire.h"
#include "GuardedBlock.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <iterator>
#include <memory>

namespace {

using Bytes = std::vector<BYTE>;

Bytes concat(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

std::vector<Bytes> validFrames() {
  DPlaySessionInfo session;
  session.flags = 0x3040;
  session.instance = {0x11223344, 0x5566, 0x7788, {1, 2, 3, 4, 5, 6, 7, 8}};
  session.maxPlayers = 8;
  session.name = "a session name";
  DPlayPlayerInfo player;
  player.id = 7;
  player.shortName = "TERM-7";
  player.longName = "long name";
  Bytes chunk(100);
  for (size_t i = 0; i < chunk.size(); ++i) chunk[i] = static_cast<BYTE>(i);
  Bytes first, more;
  CDPlayWire::dataFrame(first, true, 7, 1, 250, chunk.data(), static_cast<DWORD>(chunk.size()));
  CDPlayWire::dataFrame(more, false, 0, 0, 0, chunk.data(), static_cast<DWORD>(chunk.size()));
  return {CDPlayWire::hello(1),
          CDPlayWire::welcome(1),
          CDPlayWire::refuse(DPERR_NOSESSIONS),
          CDPlayWire::enumRequest(session.instance, DPENUMSESSIONS_ALL),
          CDPlayWire::session(CDPlayWire::kSession, session),
          CDPlayWire::enumEnd(),
          CDPlayWire::join(session.instance, session.application),
          CDPlayWire::session(CDPlayWire::kJoined, session),
          CDPlayWire::createPlayer(0, "TERM-2", "a player"),
          CDPlayWire::playerCreated(DP_OK, 7),
          CDPlayWire::playerInfo(player),
          CDPlayWire::destroyPlayer(7),
          first,
          more,
          CDPlayWire::keepAlive()};
}

// Small deterministic generator, so that every run tries the same cases.
class Random {
 public:
  explicit Random(uint32_t seed) : m_state(seed) {}
  uint32_t next() {
    m_state = m_state * 1664525u + 1013904223u;
    return m_state >> 8;
  }
  uint32_t below(uint32_t limit) { return next() % limit; }

 private:
  uint32_t m_state;
};

void putU32(Bytes& b, size_t at, uint32_t value) {
  for (size_t i = 0; i < 4 && at + i < b.size(); ++i) b[at + i] = static_cast<BYTE>(value >> (8 * i));
}

std::vector<Bytes> corruptions(const std::vector<Bytes>& valid, size_t atLeast) {
  std::vector<Bytes> cases;
  const uint32_t counts[] = {0xFFFFFFFFu, 0x7FFFFFFFu, 0x80000000u, 0, 1, CDPlayWire::kMaxFrameSize,
                             CDPlayWire::kMaxFrameSize + 1, CDPlayWire::kMaxMessage + 1};
  for (const Bytes& frame : valid) {
    for (size_t size = 0; size < frame.size(); ++size) cases.emplace_back(frame.begin(), frame.begin() + size);
    for (size_t at = 0; at < frame.size(); ++at) {
      for (int bit = 0; bit < 8; ++bit) {
        Bytes flipped = frame;
        flipped[at] ^= static_cast<BYTE>(1 << bit);
        cases.push_back(flipped);
      }
      for (BYTE value : {0x00, 0xFF}) {
        Bytes set = frame;
        set[at] = value;
        cases.push_back(set);
      }
      for (uint32_t count : counts) {
        Bytes counted = frame;
        putU32(counted, at, count);
        cases.push_back(counted);
      }
    }
  }
  // Streams of a few frames, mangled anywhere, cut short or run on.
  Random random(20240612);
  while (cases.size() < atLeast) {
    Bytes stream;
    for (uint32_t n = 1 + random.below(4); n > 0; --n) stream = concat(stream, valid[random.below(static_cast<uint32_t>(valid.size()))]);
    for (uint32_t changes = 1 + random.below(4); changes > 0; --changes) {
      size_t at = random.below(static_cast<uint32_t>(stream.size()));
      if (random.below(4) == 0)
        putU32(stream, at, counts[random.below(static_cast<uint32_t>(std::size(counts)))]);
      else
        stream[at] = static_cast<BYTE>(random.next());
    }
    stream.resize(1 + random.below(static_cast<uint32_t>(stream.size() + 16)), static_cast<BYTE>(random.next()));
    cases.push_back(stream);
  }
  return cases;
}

// Every decoder on the frame, whatever its type: each must refuse what is not its own.
int decodeAll(const DPlayFrame& f) {
  DWORD value = 0, flags = 0;
  GUID a, b;
  DPlaySessionInfo session;
  DPlayPlayerInfo player;
  HRESULT hr = S_OK;
  DPID id = 0;
  DPlayDataBegin data;
  int taken = 0;
  taken += CDPlayWire::decodeHandshake(f, value);
  taken += CDPlayWire::decodeDword(f, value);
  taken += CDPlayWire::decodeEnum(f, a, flags);
  taken += CDPlayWire::decodeSession(f, session);
  taken += CDPlayWire::decodeJoin(f, a, b);
  taken += CDPlayWire::decodeCreatePlayer(f, player);
  taken += CDPlayWire::decodePlayerCreated(f, hr, id);
  taken += CDPlayWire::decodePlayerInfo(f, player);
  if (CDPlayWire::decodeDataBegin(f, data)) {
    ++taken;
    // The fragment it points to lies inside the body.
    EXPECT_GE(data.chunk, f.body);
    EXPECT_LE(data.chunk + data.chunkSize, f.body + f.size);
  }
  return taken;
}

}  // namespace

TEST(DPlayRobustness, CorruptedFramesNeverCrashOrReadPastWhatArrived) {
  auto started = std::chrono::steady_clock::now();
  std::vector<Bytes> valid = validFrames();
  std::vector<Bytes> cases = corruptions(valid, 100000);
  ASSERT_GE(cases.size(), 100000u);

  size_t frames = 0, decoded = 0, refused = 0;
  for (size_t i = 0; i < cases.size(); ++i) {
    GuardedBlock input(cases[i]);
    CDPlayFrameReader reader;
    // The bytes arrive in pieces of a size that changes from case to case.
    size_t piece = 1 + i % 23 * 7;
    size_t arrived = 0, cut = 0;
    bool bad = false;
    while (arrived < static_cast<size_t>(input.size()) && !bad) {
      size_t n = std::min(piece, input.size() - arrived);
      reader.feed(input.data() + arrived, n);
      arrived += n;
      DPlayFrame frame;
      for (;;) {
        CDPlayFrameReader::Result r = reader.next(frame);
        if (r == CDPlayFrameReader::kNeedMore) break;
        if (r == CDPlayFrameReader::kBad) {
          bad = true;
          ++refused;
          break;
        }
        cut += CDPlayWire::kHeaderSize + frame.size;
        ASSERT_LE(cut, arrived) << "case " << i << ": a frame beyond what arrived";
        DWORD minBody = 0, maxBody = 0;
        ASSERT_TRUE(CDPlayWire::bodyLimits(frame.type, minBody, maxBody)) << "case " << i;
        ASSERT_GE(frame.size, minBody) << "case " << i;
        ASSERT_LE(frame.size, maxBody) << "case " << i;
        // The body against a guard page: where it ends the input, in place; else a copy.
        DPlayFrame guarded = frame;
        std::unique_ptr<GuardedBlock> copy;
        if (cut == static_cast<size_t>(input.size())) {
          guarded.body = input.data() + cut - frame.size;
        } else {
          copy = std::make_unique<GuardedBlock>(Bytes(frame.body, frame.body + frame.size));
          guarded.body = copy->data();
        }
        int taken = decodeAll(guarded);
        ASSERT_LE(taken, 1) << "case " << i << ": two decoders took one frame";
        ++frames;
        decoded += static_cast<size_t>(taken);
      }
    }
    if (!bad) {
      EXPECT_EQ(arrived - cut, reader.buffered()) << "case " << i;
    }
  }
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  EXPECT_GT(refused, cases.size() / 4) << "the corruptions hardly ever broke a stream";
  EXPECT_GT(decoded, cases.size() / 10) << "hardly a corrupted frame was read";
  EXPECT_LT(decoded, frames) << "every body was taken, broken or not";
  EXPECT_LT(seconds, 200.0) << cases.size() << " cases";
  std::printf("%zu corrupted inputs, %zu frames cut (%zu decoded), %zu streams refused, %.1f s\n", cases.size(),
              frames, decoded, refused, seconds);
}
