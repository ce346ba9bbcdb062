#include <gtest/gtest.h>

#include "CDPlayFrameReader.h"
#include "CDPlayWire.h"

#include <algorithm>
#include <cstring>
#include <string>

namespace {

std::vector<BYTE> raw(std::initializer_list<int> bytes) {
  std::vector<BYTE> out;
  for (int b : bytes) out.push_back(static_cast<BYTE>(b));
  return out;
}

// A frame of the given type with a body of n bytes of fill.
std::vector<BYTE> frameOf(BYTE type, DWORD bodySize, BYTE fill = 'x') {
  std::vector<BYTE> out(5 + bodySize, fill);
  DWORD size = bodySize + 1;
  std::memcpy(out.data(), &size, 4);
  out[4] = type;
  return out;
}

std::vector<BYTE> concat(std::vector<BYTE> a, const std::vector<BYTE>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

CDPlayFrameReader::Result readOne(const std::vector<BYTE>& bytes, DPlayFrame& frame, CDPlayFrameReader& reader) {
  reader.feed(bytes.data(), bytes.size());
  return reader.next(frame);
}

}  // namespace

TEST(DPlayFrameReader, ReadsEveryFrameOfAStreamFedByteByByte) {
  DPlaySessionInfo session;
  session.flags = 0x3040;
  session.name = "a session";
  std::vector<BYTE> data(70000, 7);
  std::vector<BYTE> first, more;
  CDPlayWire::dataFrame(first, true, 5, 1, 70000, data.data(), CDPlayWire::kMaxFragment);
  CDPlayWire::dataFrame(more, false, 0, 0, 0, data.data(), 70000 - CDPlayWire::kMaxFragment);
  std::vector<std::vector<BYTE>> frames = {
      CDPlayWire::hello(1),          CDPlayWire::session(CDPlayWire::kJoined, session),
      CDPlayWire::keepAlive(),       CDPlayWire::createPlayer(0, "TERM-1", ""),
      first,                         more,
      CDPlayWire::destroyPlayer(9)};
  std::vector<BYTE> stream;
  for (const auto& f : frames) stream = concat(stream, f);

  CDPlayFrameReader reader;
  std::vector<std::vector<BYTE>> got;
  for (BYTE b : stream) {
    reader.feed(&b, 1);
    DPlayFrame frame;
    while (reader.next(frame) == CDPlayFrameReader::kFrame) {
      std::vector<BYTE> whole = frameOf(frame.type, frame.size);
      std::memcpy(whole.data() + 5, frame.body, frame.size);
      got.push_back(whole);
    }
  }
  ASSERT_EQ(frames.size(), got.size());
  for (size_t i = 0; i < frames.size(); ++i) EXPECT_EQ(frames[i], got[i]) << "frame " << i;
  EXPECT_EQ(0u, reader.buffered());
}

// What a reader must refuse, and how soon: a bad size after its four bytes, a bad type or a
// size wrong for the type after the fifth, without waiting for the body.
TEST(DPlayFrameReader, RejectsImpossibleHeadersAsSoonAsTheyArrive) {
  struct Case {
    const char* what;
    std::vector<BYTE> bytes;
  } cases[] = {
      {"size 0", raw({0, 0, 0, 0})},
      {"size beyond the largest frame", raw({0x0e, 0x00, 0x01, 0x00})},
      {"size of four gigabytes", raw({0xff, 0xff, 0xff, 0xff})},
      {"type 0", raw({1, 0, 0, 0, 0})},
      {"type past the last", raw({1, 0, 0, 0, CDPlayWire::kLastType + 1})},
      {"text, not a frame", raw({'G', 'E', 'T', ' ', '/'})},
      {"HELLO too short", raw({12, 0, 0, 0, CDPlayWire::kHello})},
      {"HELLO too long", raw({14, 0, 0, 0, CDPlayWire::kHello})},
      {"KEEPALIVE with a body", raw({2, 0, 0, 0, CDPlayWire::kKeepAlive})},
      {"DESTROY_PLAYER too long", raw({6, 0, 0, 0, CDPlayWire::kDestroyPlayer})},
      {"SESSION without its name", raw({61, 0, 0, 0, CDPlayWire::kSession})},
      {"DATA_BEGIN without data", raw({13, 0, 0, 0, CDPlayWire::kDataBegin})},
      {"DATA_MORE empty", raw({1, 0, 0, 0, CDPlayWire::kDataMore})},
      {"DATA_MORE beyond a fragment", raw({0x02, 0x00, 0x01, 0x00, CDPlayWire::kDataMore})},
  };
  for (const Case& c : cases) {
    CDPlayFrameReader reader;
    DPlayFrame frame;
    EXPECT_EQ(CDPlayFrameReader::kBad, readOne(c.bytes, frame, reader)) << c.what;
    // It stays bad whatever follows.
    std::vector<BYTE> good = CDPlayWire::keepAlive();
    EXPECT_EQ(CDPlayFrameReader::kBad, readOne(good, frame, reader)) << c.what;
  }
}

TEST(DPlayFrameReader, WaitsForTheWholeBodyOfAPlausibleFrame) {
  CDPlayFrameReader reader;
  DPlayFrame frame;
  std::vector<BYTE> hello = CDPlayWire::hello(1);
  std::vector<BYTE> partial(hello.begin(), hello.end() - 1);
  EXPECT_EQ(CDPlayFrameReader::kNeedMore, readOne(partial, frame, reader));
  EXPECT_EQ(CDPlayFrameReader::kFrame, readOne({hello.back()}, frame, reader));
  EXPECT_EQ(CDPlayWire::kHello, frame.type);
  EXPECT_EQ(12u, frame.size);
}

TEST(DPlayWire, DecodesWhatItEncodes) {
  DPlaySessionInfo session;
  session.flags = 0x3040;
  session.instance = {0x11223344, 0x5566, 0x7788, {1, 2, 3, 4, 5, 6, 7, 8}};
  session.application = {0xa1b2c3d4, 0xe5f6, 0x0718, {9, 10, 11, 12, 13, 14, 15, 16}};
  session.maxPlayers = 8;
  session.currentPlayers = 3;
  session.user[2] = 42;
  session.name = std::string(255, 'n');
  std::vector<BYTE> bytes = CDPlayWire::session(CDPlayWire::kSession, session);
  CDPlayFrameReader reader;
  DPlayFrame frame;
  ASSERT_EQ(CDPlayFrameReader::kFrame, readOne(bytes, frame, reader));
  DPlaySessionInfo back;
  ASSERT_TRUE(CDPlayWire::decodeSession(frame, back));
  EXPECT_EQ(session.flags, back.flags);
  EXPECT_TRUE(IsEqualGUID(session.instance, back.instance));
  EXPECT_TRUE(IsEqualGUID(session.application, back.application));
  EXPECT_EQ(8u, back.maxPlayers);
  EXPECT_EQ(3u, back.currentPlayers);
  EXPECT_EQ(42u, back.user[2]);
  EXPECT_EQ(session.name, back.name);

  DPlayPlayerInfo player;
  player.id = 0x12345678;
  player.flags = DPPLAYER_SERVERPLAYER;
  player.shortName = "HOST-TERMINAL";
  player.longName = "long";
  ASSERT_EQ(CDPlayFrameReader::kFrame, readOne(CDPlayWire::playerInfo(player), frame, reader));
  DPlayPlayerInfo playerBack;
  ASSERT_TRUE(CDPlayWire::decodePlayerInfo(frame, playerBack));
  EXPECT_EQ(player.id, playerBack.id);
  EXPECT_EQ(player.flags, playerBack.flags);
  EXPECT_EQ(player.shortName, playerBack.shortName);
  EXPECT_EQ(player.longName, playerBack.longName);

  DWORD version = 0;
  ASSERT_EQ(CDPlayFrameReader::kFrame, readOne(CDPlayWire::welcome(7), frame, reader));
  ASSERT_TRUE(CDPlayWire::decodeHandshake(frame, version));
  EXPECT_EQ(7u, version);
}

// Bodies of a plausible length whose content is still wrong.
TEST(DPlayWire, RejectsMalformedBodies) {
  auto body = [](BYTE type, std::vector<BYTE> content) {
    std::vector<BYTE> f = frameOf(type, static_cast<DWORD>(content.size()));
    std::memcpy(f.data() + 5, content.data(), content.size());
    return f;
  };
  std::vector<BYTE> magic = {'T', 'A', 'V', 'D', 'P', 'L', 'A', 'Y'};
  auto withMagic = [&](std::vector<BYTE> rest) { return concat(magic, rest); };
  std::vector<BYTE> fourZero = {0, 0, 0, 0};

  struct Case {
    const char* what;
    std::vector<BYTE> frame;
  } cases[] = {
      {"HELLO with a foreign magic", body(CDPlayWire::kHello, concat(raw({'T', 'A', 'V', 'D', 'P', 'L', 'A', 'X'}), raw({1, 0, 0, 0})))},
      {"HELLO with version 0", body(CDPlayWire::kHello, withMagic(fourZero))},
      {"CREATE_PLAYER name longer than the body", body(CDPlayWire::kCreatePlayer, raw({0, 0, 0, 0, 5, 'a', 'b'}))},
      {"CREATE_PLAYER name with a NUL", body(CDPlayWire::kCreatePlayer, raw({0, 0, 0, 0, 3, 'a', 0, 'b', 0}))},
      {"CREATE_PLAYER with trailing bytes", body(CDPlayWire::kCreatePlayer, raw({0, 0, 0, 0, 1, 'a', 0, 'z'}))},
      {"PLAYER_INFO missing its long name", body(CDPlayWire::kPlayerInfo, raw({2, 0, 0, 0, 0, 0, 0, 0, 1, 'a'}))},
      {"DATA_BEGIN total smaller than its fragment", body(CDPlayWire::kDataBegin, raw({2, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0, 'a', 'b'}))},
      {"DATA_BEGIN total beyond the largest message", body(CDPlayWire::kDataBegin, raw({2, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0x04, 'a'}))},
  };
  for (const Case& c : cases) {
    CDPlayFrameReader reader;
    DPlayFrame frame;
    ASSERT_EQ(CDPlayFrameReader::kFrame, readOne(c.frame, frame, reader)) << c.what;
    DWORD version = 0;
    DPlayPlayerInfo player;
    DPlayDataBegin data;
    bool accepted = false;
    switch (frame.type) {
      case CDPlayWire::kHello: accepted = CDPlayWire::decodeHandshake(frame, version); break;
      case CDPlayWire::kCreatePlayer: accepted = CDPlayWire::decodeCreatePlayer(frame, player); break;
      case CDPlayWire::kPlayerInfo: accepted = CDPlayWire::decodePlayerInfo(frame, player); break;
      case CDPlayWire::kDataBegin: accepted = CDPlayWire::decodeDataBegin(frame, data); break;
    }
    EXPECT_FALSE(accepted) << c.what;
  }
}

namespace {

// What a socket hands over: the next piece of the stream, at most the room the reader offers.
size_t receiveInto(CDPlayFrameReader& reader, const std::vector<BYTE>& stream, size_t& at, size_t piece) {
  size_t room = 0;
  BYTE* to = reader.room(room);
  size_t n = std::min({piece, room, stream.size() - at});
  std::memcpy(to, stream.data() + at, n);
  reader.commit(n);
  at += n;
  return room;
}

}  // namespace

TEST(DPlayFrameReader, ReadsAStreamReceivedInPiecesOfEverySize) {
  std::vector<BYTE> data(3 * CDPlayWire::kMaxFragment, 0);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<BYTE>(i * 7);
  std::vector<std::vector<BYTE>> frames = {CDPlayWire::hello(1), CDPlayWire::keepAlive()};
  for (DWORD offset = 0; offset < data.size(); offset += CDPlayWire::kMaxFragment) {
    std::vector<BYTE> f;
    CDPlayWire::dataFrame(f, offset == 0, 5, 1, static_cast<DWORD>(data.size()), data.data() + offset, CDPlayWire::kMaxFragment);
    frames.push_back(f);
    frames.push_back(CDPlayWire::destroyPlayer(offset));
  }
  std::vector<BYTE> stream;
  for (int copy = 0; copy < 8; ++copy)
    for (const auto& f : frames) stream = concat(stream, f);

  for (size_t piece : {size_t(1), size_t(5), size_t(4093), size_t(65541), size_t(200000), stream.size()}) {
    CDPlayFrameReader reader;
    size_t at = 0, got = 0;
    while (at < stream.size()) {
      size_t room = receiveInto(reader, stream, at, piece);
      // After next() asked for more there is always room for a whole frame, and never more
      // than the reader's cap, however large the pieces.
      ASSERT_GE(room, CDPlayWire::kMaxFrameSize) << "piece " << piece;
      ASSERT_LE(room, CDPlayFrameReader::kMaxBuffer) << "piece " << piece;
      DPlayFrame frame;
      while (reader.next(frame) == CDPlayFrameReader::kFrame) {
        const std::vector<BYTE>& want = frames[got++ % frames.size()];
        ASSERT_EQ(want.size(), CDPlayWire::kHeaderSize + frame.size) << "piece " << piece << " frame " << got;
        ASSERT_EQ(want[4], frame.type);
        ASSERT_EQ(0, std::memcmp(want.data() + CDPlayWire::kHeaderSize, frame.body, frame.size));
      }
    }
    EXPECT_EQ(8 * frames.size(), got) << "piece " << piece;
    EXPECT_EQ(0u, reader.buffered());
  }
}
