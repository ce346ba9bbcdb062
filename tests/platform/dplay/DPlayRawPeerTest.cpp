// A DirectPlay object facing peers that send broken, hostile or no frames at all.
#include <gtest/gtest.h>

#include "CDPlayBufferPool.h"
#include "CDPlayConnection.h"
#include "CDPlayInbox.h"
#include "CDPlayObject.h"
#include "CDPlayReassembly.h"
#include "CDPlayRawPeer.h"
#include "CDPlayTestKit.h"
#include "CDPlayWire.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <thread>

namespace {

constexpr DWORD kWait = 10000;
constexpr DWORD kKeepAlive = CDPlayConnection::kKeepAliveTimeout;

std::vector<BYTE> bytes(const char* s) { return std::vector<BYTE>(s, s + std::strlen(s)); }

std::vector<BYTE> join(std::initializer_list<std::vector<BYTE>> parts) {
  std::vector<BYTE> out;
  for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

std::vector<BYTE> data(bool first, DPID from, DPID to, DWORD total, const std::vector<BYTE>& chunk) {
  std::vector<BYTE> out;
  CDPlayWire::dataFrame(out, first, from, to, total, chunk.data(), static_cast<DWORD>(chunk.size()));
  return out;
}

// The next frame that is not a keep-alive.
bool expectFrame(CDPlayRawPeer& raw, BYTE type, DPlayFrame& frame) {
  for (int i = 0; i < 100; ++i) {
    if (!raw.readFrame(frame, kWait)) return false;
    if (frame.type != CDPlayWire::kKeepAlive) return frame.type == type;
  }
  return false;
}

class DPlayRawPeer : public ::testing::Test {
 protected:
  void SetUp() override {
    event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    ASSERT_EQ(DP_OK, CDPlayTestKit::hostOnLoopback(0, &dp, port, instance));
    ASSERT_EQ(DP_OK, CDPlayTestKit::addPlayer(dp, "HOST", event, true, self));
  }
  void TearDown() override {
    if (client != nullptr) client->Release();
    if (clientEvent != nullptr) CloseHandle(clientEvent);
    if (dp != nullptr) dp->Release();
    CloseHandle(event);
  }

  // A raw peer that has joined and made a player called RAW.
  DPID joinRaw(CDPlayRawPeer& raw, DWORD version = CDPlayWire::kVersion) {
    DPlayFrame frame;
    DWORD chosen = 0;
    HRESULT hr = E_FAIL;
    DPID id = 0;
    EXPECT_TRUE(raw.connect("127.0.0.1", port, kWait));
    EXPECT_TRUE(raw.send(CDPlayWire::hello(version)));
    EXPECT_TRUE(expectFrame(raw, CDPlayWire::kWelcome, frame) && CDPlayWire::decodeHandshake(frame, chosen));
    EXPECT_EQ(CDPlayWire::kVersion, chosen);
    EXPECT_TRUE(raw.send(CDPlayWire::join(instance, CDPlayTestKit::kApplication)));
    EXPECT_TRUE(expectFrame(raw, CDPlayWire::kJoined, frame));
    EXPECT_TRUE(expectFrame(raw, CDPlayWire::kPlayerInfo, frame));
    EXPECT_TRUE(raw.send(CDPlayWire::createPlayer(0, "RAW", "")));
    EXPECT_TRUE(expectFrame(raw, CDPlayWire::kPlayerCreated, frame) && CDPlayWire::decodePlayerCreated(frame, hr, id));
    EXPECT_EQ(DP_OK, hr);
    DPlayReceived m;
    EXPECT_TRUE(CDPlayTestKit::nextSystem(dp, event, DPSYS_CREATEPLAYERORGROUP, kWait, m));
    EXPECT_EQ(id, m.sysId);
    EXPECT_EQ("RAW", m.sysName);
    return id;
  }

  // A DirectPlay client that joined and made a player called TERM-A.
  void joinClient() {
    clientEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    ASSERT_EQ(DP_OK, CDPlayTestKit::create("127.0.0.1", port, &client));
    ASSERT_EQ(DP_OK, CDPlayTestKit::join(client, instance));
    ASSERT_EQ(DP_OK, CDPlayTestKit::addPlayer(client, "TERM-A", clientEvent, false, clientId));
    DPlayReceived m;
    ASSERT_TRUE(CDPlayTestKit::nextSystem(dp, event, DPSYS_CREATEPLAYERORGROUP, kWait, m));
  }

  IDirectPlay4A* client = nullptr;
  HANDLE clientEvent = nullptr;
  DPID clientId = 0;
  IDirectPlay4A* dp = nullptr;
  HANDLE event = nullptr;
  DPID self = 0;
  WORD port = 0;
  GUID instance = GUID_NULL;
};

}  // namespace

TEST_F(DPlayRawPeer, GarbageAndTruncatedFramesEndTheConnectionAndTheHostKeepsServing) {
  ASSERT_NO_FATAL_FAILURE(joinClient());
  DPlayReceived m;

  std::vector<BYTE> hello = CDPlayWire::hello(1);
  std::vector<BYTE> joinFrame = CDPlayWire::join(instance, CDPlayTestKit::kApplication);
  std::vector<BYTE> nulInName = CDPlayWire::createPlayer(0, "ABCD", "");
  nulInName[11] = 0;  // inside the short name
  struct Case {
    const char* what;
    std::vector<BYTE> bytes;
    bool thenClose;  // the peer closes its side after sending
  } cases[] = {
      {"a web request", bytes("GET / HTTP/1.0\r\n\r\n"), false},
      {"a frame of size 0", {0, 0, 0, 0}, false},
      {"a frame of two gigabytes", {0xff, 0xff, 0xff, 0x7f, CDPlayWire::kDataMore}, false},
      {"a greeting in another protocol", join({{13, 0, 0, 0, CDPlayWire::kHello}, bytes("NOTDPLAY"), {1, 0, 0, 0}}), false},
      {"a join before the greeting", joinFrame, false},
      {"data before joining", join({hello, data(true, 2, 1, 3, {1, 2, 3})}), false},
      {"a fragment with no beginning", join({hello, joinFrame, data(false, 0, 0, 0, {1, 2, 3})}), false},
      {"a player name with a NUL", join({hello, joinFrame, nulInName}), false},
      {"a greeting cut short", std::vector<BYTE>(hello.begin(), hello.begin() + 7), true},
      {"half a greeting, then silence", std::vector<BYTE>(hello.begin(), hello.begin() + 7), false},
      {"nothing at all", {}, false},
  };
  for (const Case& c : cases) {
    CDPlayRawPeer raw;
    ASSERT_TRUE(raw.connect("127.0.0.1", port, kWait)) << c.what;
    if (!c.bytes.empty()) {
      ASSERT_TRUE(raw.send(c.bytes)) << c.what;
    }
    if (c.thenClose) raw.closeSending();
    EXPECT_TRUE(raw.waitClosed(CDPlayConnection::kHandshakeTimeout + 3000)) << c.what;
  }

  // The joined client was not disturbed, and nothing happened to the session.
  EXPECT_FALSE(CDPlayTestKit::next(dp, event, 100, m)) << "unexpected message " << m.sysType;
  std::vector<BYTE> up = CDPlayTestKit::payload(clientId, 1, 70000);
  ASSERT_EQ(DPERR_PENDING, client->SendEx(clientId, DPID_SERVERPLAYER, CDPlayTestKit::kSendFlags, up.data(),
                                          static_cast<DWORD>(up.size()), 0, 0, nullptr, nullptr));
  ASSERT_TRUE(CDPlayTestKit::next(dp, event, kWait, m));
  EXPECT_EQ(up, m.data);
  std::vector<BYTE> down = CDPlayTestKit::payload(self, 2, 70000);
  ASSERT_EQ(DPERR_PENDING, dp->SendEx(self, clientId, CDPlayTestKit::kSendFlags, down.data(),
                                      static_cast<DWORD>(down.size()), 0, 0, nullptr, nullptr));
  ASSERT_TRUE(CDPlayTestKit::nextSystem(client, clientEvent, DPSYS_CREATEPLAYERORGROUP, kWait, m));
  ASSERT_TRUE(CDPlayTestKit::next(client, clientEvent, kWait, m));
  EXPECT_EQ(down, m.data);
}

TEST_F(DPlayRawPeer, JoinedPeerThatTurnsToGarbageLosesItsPlayer) {
  CDPlayRawPeer raw;
  DPID id = joinRaw(raw, 9);  // speaks a later version: the host answers with its own
  std::vector<BYTE> message = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
  ASSERT_TRUE(raw.send(join({data(true, id, DPID_SERVERPLAYER, 14, message), data(false, 0, 0, 0, {11, 12, 13, 14})})));
  DPlayReceived m;
  ASSERT_TRUE(CDPlayTestKit::next(dp, event, kWait, m));
  EXPECT_EQ(id, m.from);
  EXPECT_EQ(14u, m.data.size());
  // A message that claims more than it brings, then the next one begins: broken.
  ASSERT_TRUE(raw.send(join({data(true, id, DPID_SERVERPLAYER, 100, message), data(true, id, DPID_SERVERPLAYER, 10, message)})));
  ASSERT_TRUE(CDPlayTestKit::next(dp, event, kWait, m));
  EXPECT_EQ(DPSYS_DESTROYPLAYERORGROUP, m.sysType);
  EXPECT_EQ(id, m.sysId);
  EXPECT_EQ("RAW", m.sysName);
  EXPECT_TRUE(raw.waitClosed(kWait));
  EXPECT_FALSE(CDPlayTestKit::next(dp, event, 200, m)) << "the broken message must not be delivered";
}

TEST_F(DPlayRawPeer, PeerSpeakingForAnotherPlayerIsNotBelieved) {
  CDPlayRawPeer raw;
  DPID id = joinRaw(raw);
  std::vector<BYTE> message = {1, 2, 3};
  // As the host's own player, and as a player that does not exist: dropped, not delivered.
  ASSERT_TRUE(raw.send(join({data(true, DPID_SERVERPLAYER, DPID_SERVERPLAYER, 3, message),
                             data(true, id + 100, DPID_SERVERPLAYER, 3, message),
                             data(true, id, DPID_SERVERPLAYER, 3, message)})));
  DPlayReceived m;
  ASSERT_TRUE(CDPlayTestKit::next(dp, event, kWait, m));
  EXPECT_EQ(id, m.from);
  EXPECT_FALSE(CDPlayTestKit::next(dp, event, 200, m));
  // Destroying a player that is not its own is broken too.
  ASSERT_TRUE(raw.send(CDPlayWire::destroyPlayer(DPID_SERVERPLAYER)));
  ASSERT_TRUE(CDPlayTestKit::next(dp, event, kWait, m));
  EXPECT_EQ(DPSYS_DESTROYPLAYERORGROUP, m.sysType);
  EXPECT_EQ(id, m.sysId);
}

TEST_F(DPlayRawPeer, SilentClientIsDestroyedAfterTheKeepAliveTime) {
  CDPlayRawPeer raw;
  DPID id = joinRaw(raw);
  ULONGLONG silentFrom = GetTickCount64();
  DPlayReceived m;
  ASSERT_TRUE(CDPlayTestKit::nextSystem(dp, event, DPSYS_DESTROYPLAYERORGROUP, kKeepAlive + kWait, m));
  ULONGLONG waited = GetTickCount64() - silentFrom;
  EXPECT_EQ(id, m.sysId);
  EXPECT_GE(waited, kKeepAlive - 2000);
  EXPECT_LE(waited, kKeepAlive + 3000);
}

namespace {

// The frames of one message, as a peer sends it.
void appendMessage(std::vector<BYTE>& stream, DPID from, DPID to, const std::vector<BYTE>& message) {
  std::vector<BYTE> frame;
  for (size_t at = 0; at < message.size(); at += CDPlayWire::kMaxFragment) {
    size_t chunk = std::min<size_t>(CDPlayWire::kMaxFragment, message.size() - at);
    CDPlayWire::dataFrame(frame, at == 0, from, to, static_cast<DWORD>(message.size()), message.data() + at,
                          static_cast<DWORD>(chunk));
    stream.insert(stream.end(), frame.begin(), frame.end());
  }
}

}  // namespace

// A peer that sends more than the application takes: past the inbox's limit the host stops
// reading it, so its sends wait in TCP. Nothing is dropped, the host's memory stays bounded,
// and the session goes on once the application catches up.
TEST_F(DPlayRawPeer, PeerThatOutrunsTheApplicationWaitsInTcpAndLosesNothing) {
  CDPlayRawPeer raw;
  DPID id = joinRaw(raw);
  const size_t kMessage = 1024 * 1024;
  // Past the limit, and past what TCP holds on the way.
  const DWORD kMessages = static_cast<DWORD>(CDPlayInbox::kMaxBytes / kMessage) + 32;
  std::vector<BYTE> stream;
  for (DWORD i = 0; i < kMessages; ++i) appendMessage(stream, id, DPID_SERVERPLAYER, CDPlayTestKit::payload(id, i, kMessage));

  // Until the host takes nothing more for a while.
  size_t at = 0;
  for (ULONGLONG deadline = GetTickCount64() + 60000; at < stream.size() && GetTickCount64() < deadline;) {
    size_t n = raw.sendSome(stream.data() + at, stream.size() - at, 3000);
    if (n == 0) break;
    at += n;
  }
  ASSERT_LT(at, stream.size()) << "the host read everything although its application took nothing";
  DWORD waiting = 0;
  ASSERT_EQ(DP_OK, dp->GetMessageCount(self, &waiting));
  EXPECT_GE(waiting * (kMessage + CDPlayInbox::kEntryCost), CDPlayInbox::kMaxBytes);
  EXPECT_LE(waiting * (kMessage + CDPlayInbox::kEntryCost), CDPlayInbox::kMaxBytes + kMessage + CDPlayInbox::kEntryCost);

  // The application catches up while the peer sends the rest: all of it, in order.
  std::thread sender([&] {
    for (ULONGLONG deadline = GetTickCount64() + 60000; at < stream.size() && GetTickCount64() < deadline;)
      at += raw.sendSome(stream.data() + at, stream.size() - at, 1000);
  });
  DWORD received = 0;
  for (; received < kMessages; ++received) {
    DPlayReceived m;
    DWORD sender = 0, sequence = 0;
    if (!CDPlayTestKit::next(dp, event, kWait, m) || m.isSystem() || !CDPlayTestKit::checkPayload(m.data, sender, sequence) ||
        sequence != received)
      break;
  }
  sender.join();
  EXPECT_EQ(kMessages, received);
  EXPECT_EQ(stream.size(), at);

  // The peer's player is still there, and what it says next arrives.
  ASSERT_TRUE(raw.send(join({data(true, id, DPID_SERVERPLAYER, 3, {7, 8, 9})})));
  DPlayReceived m;
  ASSERT_TRUE(CDPlayTestKit::next(dp, event, kWait, m));
  EXPECT_EQ(id, m.from);
  EXPECT_EQ(3u, m.data.size());
}

// A peer that keeps asking (for players) and never reads the answers: once the answers waiting
// for it reach their limit it is dropped, rather than the host's memory growing at its pace.
TEST_F(DPlayRawPeer, PeerThatAsksWithoutReadingTheAnswersIsDropped) {
  CDPlayRawPeer raw;
  DPID id = joinRaw(raw);
  std::vector<BYTE> asks;
  for (int i = 0; i < 10000; ++i) {
    std::vector<BYTE> ask = CDPlayWire::createPlayer(0, "", "");
    asks.insert(asks.end(), ask.begin(), ask.end());
  }
  // Until the host takes nothing more; bounded: the limit and what TCP holds on the way are
  // far below this.
  size_t sent = 0;
  while (sent < 64u * 1024 * 1024) {
    size_t at = sent % asks.size();
    size_t n = raw.sendSome(asks.data() + at, asks.size() - at, 3000);
    if (n == 0) break;
    sent += n;
  }
  EXPECT_LT(sent, 64u * 1024 * 1024) << "never dropped";
  EXPECT_TRUE(raw.waitClosed(kWait));
  // Its players, the first and those its asks made, are gone with it.
  std::vector<DPlayReceived> skipped;
  DPlayReceived m;
  ASSERT_TRUE(CDPlayTestKit::nextSystem(dp, event, DPSYS_DESTROYPLAYERORGROUP, kWait, m, &skipped));
  EXPECT_EQ(id, m.sysId);

  // The host goes on serving.
  CDPlayRawPeer other;
  DPID otherId = joinRaw(other);
  ASSERT_TRUE(other.send(data(true, otherId, DPID_SERVERPLAYER, 3, {1, 2, 3})));
  for (;;) {
    ASSERT_TRUE(CDPlayTestKit::next(dp, event, kWait, m));
    if (!m.isSystem()) break;
  }
  EXPECT_EQ(otherId, m.from);
}

// A host that answers the join and then says nothing more.
TEST(DPlayRawHost, SilentHostGivesTheClientSessionLost) {
  const GUID instance = {0x01020304, 0x0506, 0x0708, {9, 10, 11, 12, 13, 14, 15, 16}};
  CDPlayRawPeer fake;
  // Another program may hold the port: move on as hostOnLoopback does.
  WORD port = 0;
  bool listening = false;
  for (WORD attempt = 0; attempt < 16 && !listening; ++attempt) {
    port = static_cast<WORD>(20000 + (CDPlayTestKit::basePort() - 20000 + 5 + attempt * 1009u) % 40000);
    listening = fake.listen(port);
  }
  ASSERT_TRUE(listening);
  HANDLE quiet = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  std::thread host([&] {
    DPlayFrame frame;
    if (!fake.accept(kWait) || !expectFrame(fake, CDPlayWire::kHello, frame)) return;
    fake.send(CDPlayWire::welcome(1));
    if (!expectFrame(fake, CDPlayWire::kJoin, frame)) return;
    DPlaySessionInfo session;
    session.flags = CDPlayTestKit::kSessionFlags;
    session.instance = instance;
    session.application = CDPlayTestKit::kApplication;
    session.name = "fake";
    DPlayPlayerInfo server;
    server.id = DPID_SERVERPLAYER;
    server.flags = DPPLAYER_SERVERPLAYER;
    server.shortName = "FAKE";
    fake.send(join({CDPlayWire::session(CDPlayWire::kJoined, session), CDPlayWire::playerInfo(server)}));
    if (!expectFrame(fake, CDPlayWire::kCreatePlayer, frame)) return;
    fake.send(CDPlayWire::playerCreated(DP_OK, 7));
    WaitForSingleObject(quiet, 3 * kWait);  // not a word, not a keep-alive
  });

  IDirectPlay4A* dp = nullptr;
  HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  ASSERT_EQ(DP_OK, CDPlayTestKit::create("127.0.0.1", port, &dp));
  DPSESSIONDESC2 desc = {};
  desc.dwSize = sizeof desc;
  desc.guidInstance = instance;
  desc.guidApplication = CDPlayTestKit::kApplication;
  EXPECT_EQ(DP_OK, dp->Open(&desc, DPOPEN_JOIN));
  DPID id = 0;
  EXPECT_EQ(DP_OK, CDPlayTestKit::addPlayer(dp, "TERM-A", event, false, id));
  EXPECT_EQ(7u, id);
  DPlayReceived m;
  EXPECT_TRUE(CDPlayTestKit::nextSystem(dp, event, DPSYS_CREATEPLAYERORGROUP, kWait, m));
  EXPECT_EQ("FAKE", m.sysName);
  ULONGLONG silentFrom = GetTickCount64();
  EXPECT_TRUE(CDPlayTestKit::nextSystem(dp, event, DPSYS_SESSIONLOST, kKeepAlive + kWait, m));
  ULONGLONG waited = GetTickCount64() - silentFrom;
  EXPECT_GE(waited, kKeepAlive - 2000);
  EXPECT_LE(waited, kKeepAlive + 3000);
  SetEvent(quiet);
  host.join();
  dp->Release();
  CloseHandle(event);
  CloseHandle(quiet);
}

// ---------------------------------------------------------------------------------------------
// What peers may make the host hold for messages under reassembly.

namespace {

constexpr size_t kStep = CDPlayReassembly::kStep;

CDPlayObject* objectOf(IDirectPlay4A* dp) { return static_cast<CDPlayObject*>(reinterpret_cast<IDirectPlay4*>(dp)); }

// Committed memory of this process that is its own (what a host's growth costs the machine),
// summed over its address space: Wine reports no private usage in the process counters.
size_t privateBytes() {
  size_t total = 0;
  MEMORY_BASIC_INFORMATION info;
  for (const BYTE* at = nullptr; VirtualQuery(at, &info, sizeof info) == sizeof info;
       at = static_cast<const BYTE*>(info.BaseAddress) + info.RegionSize) {
    if (info.State == MEM_COMMIT && info.Type == MEM_PRIVATE) total += info.RegionSize;
    if (info.RegionSize == 0) break;
  }
  return total;
}

bool waitFor(const std::function<bool()>& done, DWORD timeoutMs = kWait) {
  for (ULONGLONG deadline = GetTickCount64() + timeoutMs; GetTickCount64() < deadline; Sleep(10))
    if (done()) return true;
  return done();
}

// The fragments of one message, from at to the end or to count fragments.
std::vector<BYTE> fragments(DPID from, const std::vector<BYTE>& message, size_t at, size_t count) {
  std::vector<BYTE> stream, frame;
  for (size_t i = 0; i < count && at < message.size(); ++i, at += CDPlayWire::kMaxFragment) {
    size_t chunk = std::min<size_t>(CDPlayWire::kMaxFragment, message.size() - at);
    CDPlayWire::dataFrame(frame, at == 0, from, DPID_SERVERPLAYER, static_cast<DWORD>(message.size()),
                          message.data() + at, static_cast<DWORD>(chunk));
    stream.insert(stream.end(), frame.begin(), frame.end());
  }
  return stream;
}

// The next message that is not a system message.
bool nextData(IDirectPlay4A* dp, HANDLE event, DPlayReceived& m) {
  for (int i = 0; i < 100; ++i) {
    if (!CDPlayTestKit::next(dp, event, kWait, m)) return false;
    if (!m.isSystem()) return true;
  }
  return false;
}

std::atomic<size_t> g_failFrom{0};
bool failLarge(size_t size) { return g_failFrom != 0 && size >= g_failFrom; }

}  // namespace

// 32 connections that each announce the largest message and send one byte of it.
TEST_F(DPlayRawPeer, AnnouncedButAbsentMessagesPinOneStepEachAndTheJoinedClientGoesOn) {
  ASSERT_NO_FATAL_FAILURE(joinClient());
  DPlayReceived m;
  CDPlayObject* host = objectOf(dp);

  const size_t start = privateBytes();
  const int kPeers = 32;
  std::vector<std::unique_ptr<CDPlayRawPeer>> peers;
  for (int i = 0; i < kPeers; ++i) {
    auto raw = std::make_unique<CDPlayRawPeer>();
    DPlayFrame frame;
    ASSERT_TRUE(raw->connect("127.0.0.1", port, kWait));
    ASSERT_TRUE(raw->send(CDPlayWire::hello(CDPlayWire::kVersion)));
    ASSERT_TRUE(expectFrame(*raw, CDPlayWire::kWelcome, frame));
    ASSERT_TRUE(raw->send(CDPlayWire::join(instance, CDPlayTestKit::kApplication)));
    ASSERT_TRUE(expectFrame(*raw, CDPlayWire::kJoined, frame));
    peers.push_back(std::move(raw));
  }
  // The connections themselves (threads, buffers, on both ends here) are not what is measured.
  const size_t before = privateBytes();
  for (auto& raw : peers) ASSERT_TRUE(raw->send(data(true, 5, DPID_SERVERPLAYER, CDPlayWire::kMaxMessage, {0x42})));
  ASSERT_TRUE(waitFor([&] { return host->reassemblyBytes() == kPeers * kStep; })) << host->reassemblyBytes();
  const size_t after = privateBytes();
  const size_t growth = after > before ? after - before : 0;
  std::printf("[ figures  ] private bytes: %.1f MiB at the start, %.1f MiB with %d joined connections, %.1f MiB "
              "after their announcements\n",
              start / 1048576.0, before / 1048576.0, kPeers, after / 1048576.0);
  std::printf("[ figures  ] %d announced messages of %lu MiB: host holds %lu MiB under reassembly, private bytes "
              "grew by %.1f MiB (budget %lu MiB)\n",
              kPeers, static_cast<unsigned long>(CDPlayWire::kMaxMessage >> 20),
              static_cast<unsigned long>(host->reassemblyBytes() >> 20), growth / 1048576.0,
              static_cast<unsigned long>(CDPlayObject::kMaxReassemblyBytes >> 20));
  EXPECT_LT(growth, 2 * kPeers * kStep);
  EXPECT_LT(growth, CDPlayObject::kMaxReassemblyBytes);

  // The host and its client still talk, both ways.
  std::vector<BYTE> hello = CDPlayTestKit::payload(clientId, 1, 5000);
  ASSERT_EQ(DP_OK, client->Send(clientId, DPID_SERVERPLAYER, DPSEND_GUARANTEED, hello.data(), static_cast<DWORD>(hello.size())));
  ASSERT_TRUE(nextData(dp, event, m));
  EXPECT_EQ(clientId, m.from);
  EXPECT_EQ(hello, m.data);
  ASSERT_EQ(DP_OK, dp->Send(self, clientId, DPSEND_GUARANTEED, hello.data(), static_cast<DWORD>(hello.size())));
  ASSERT_TRUE(nextData(client, clientEvent, m));
  EXPECT_EQ(hello, m.data);

  peers.clear();
  EXPECT_TRUE(waitFor([&] { return host->reassemblyBytes() == 0; })) << "the peers that left hold nothing";
  client->Close();
}

TEST_F(DPlayRawPeer, AConnectionThatWouldPassTheReassemblyBudgetIsDroppedAndTheOthersCompleteTheirs) {
  CDPlayObject* host = objectOf(dp);
  host->setReassemblyBudget(4 * kStep);
  // Each message needs three steps once whole.
  const size_t kSize = 2 * kStep + 100;
  CDPlayRawPeer raws[5];
  DPID ids[5];
  std::vector<BYTE> messages[5];
  for (int i = 0; i < 5; ++i) {
    ids[i] = joinRaw(raws[i]);
    messages[i] = CDPlayTestKit::payload(ids[i], 0, kSize);
  }
  for (int i = 0; i < 4; ++i) ASSERT_TRUE(raws[i].send(fragments(ids[i], messages[i], 0, 1)));
  ASSERT_TRUE(waitFor([&] { return host->reassemblyBytes() == 4 * kStep; })) << host->reassemblyBytes();

  // The fifth would pass the budget: it goes, with its player.
  ASSERT_TRUE(raws[4].send(fragments(ids[4], messages[4], 0, 1)));
  EXPECT_TRUE(raws[4].waitClosed(kWait));
  DPlayReceived m;
  ASSERT_TRUE(CDPlayTestKit::nextSystem(dp, event, DPSYS_DESTROYPLAYERORGROUP, kWait, m));
  EXPECT_EQ(ids[4], m.sysId);
  EXPECT_EQ(4 * kStep, host->reassemblyBytes());

  // Two leave in the middle of their messages: what they held is free again.
  raws[2].close();
  raws[3].close();
  ASSERT_TRUE(waitFor([&] { return host->reassemblyBytes() == 2 * kStep; })) << host->reassemblyBytes();

  // The first two finish theirs within the budget; each arrives whole, and nothing is held after.
  for (int i = 0; i < 2; ++i) {
    ASSERT_TRUE(raws[i].send(fragments(ids[i], messages[i], CDPlayWire::kMaxFragment, kSize)));
    ASSERT_TRUE(nextData(dp, event, m));
    EXPECT_EQ(ids[i], m.from);
    EXPECT_TRUE(m.data == messages[i]) << "message " << i << " arrived with " << m.data.size() << " bytes";
  }
  EXPECT_EQ(0u, host->reassemblyBytes());
}

TEST_F(DPlayRawPeer, MemoryRunningOutOnAReaderThreadOrInACallFailsThatConnectionOrCallOnly) {
  CDPlayRawPeer first, second;
  DPID firstId = joinRaw(first);
  DPID secondId = joinRaw(second);
  std::vector<BYTE> message = CDPlayTestKit::payload(firstId, 0, 3 * kStep);

  CDPlayBufferPool::FailureFn before = CDPlayBufferPool::setFailure(&failLarge);
  g_failFrom = kStep;
  ASSERT_TRUE(first.send(fragments(firstId, message, 0, 1)));
  EXPECT_TRUE(first.waitClosed(kWait)) << "the connection whose message found no memory is dropped";
  DPlayReceived m;
  ASSERT_TRUE(CDPlayTestKit::nextSystem(dp, event, DPSYS_DESTROYPLAYERORGROUP, kWait, m));
  EXPECT_EQ(firstId, m.sysId);

  // A call that finds no memory fails with DPERR_OUTOFMEMORY; the object goes on.
  std::vector<BYTE> big = CDPlayTestKit::payload(self, 0, 2 * kStep);
  EXPECT_EQ(DPERR_OUTOFMEMORY, dp->Send(self, secondId, DPSEND_GUARANTEED, big.data(), static_cast<DWORD>(big.size())));
  g_failFrom = 0;
  CDPlayBufferPool::setFailure(before);
  EXPECT_EQ(DP_OK, dp->Send(self, secondId, DPSEND_GUARANTEED, big.data(), static_cast<DWORD>(big.size())));

  // The other connection was never touched: its message arrives whole.
  std::vector<BYTE> other = CDPlayTestKit::payload(secondId, 1, 3 * kStep);
  ASSERT_TRUE(second.send(fragments(secondId, other, 0, other.size())));
  ASSERT_TRUE(nextData(dp, event, m));
  EXPECT_EQ(secondId, m.from);
  EXPECT_TRUE(m.data == other);
  EXPECT_EQ(0u, objectOf(dp)->reassemblyBytes());
}

// A send that waits for a member's full queue does not hold the object: the host's readers go on
// taking what other members send meanwhile.
TEST_F(DPlayRawPeer, ASendWaitingForAFullPeerHoldsUpNoReader) {
  ASSERT_NO_FATAL_FAILURE(joinClient());
  CDPlayRawPeer sink;  // joins, then never reads
  DPID sinkId = joinRaw(sink);
  std::vector<BYTE> big(CDPlayWire::kMaxMessage, 0x5A);
  auto sendBig = [&] {
    return dp->SendEx(self, sinkId, CDPlayTestKit::kSendFlags, big.data(), static_cast<DWORD>(big.size()), 0, 0,
                      nullptr, nullptr);
  };
  for (size_t queued = 0; queued + big.size() <= CDPlayConnection::kMaxQueued; queued += big.size())
    ASSERT_EQ(DPERR_PENDING, sendBig());
  ASSERT_EQ(DPERR_BUSY, sendBig());

  std::atomic<bool> stop{false};
  std::atomic<int> busy{0};
  std::thread sender([&] {
    while (!stop)
      if (sendBig() == DPERR_BUSY) ++busy;
  });
  const DWORD kMessages = 200;
  ULONGLONG started = GetTickCount64();
  for (DWORD i = 0; i < kMessages; ++i) {
    std::vector<BYTE> bytes = CDPlayTestKit::payload(clientId, i, 100);
    ASSERT_EQ(DP_OK, client->Send(clientId, DPID_SERVERPLAYER, DPSEND_GUARANTEED, bytes.data(), static_cast<DWORD>(bytes.size())));
  }
  DWORD received = 0;
  DPlayReceived m;
  while (received < kMessages && nextData(dp, event, m) && m.from == clientId) ++received;
  ULONGLONG took = GetTickCount64() - started;
  stop = true;
  sender.join();
  std::printf("[ figures  ] %lu messages from the client in %llu ms while %d sends waited for the full peer\n",
              static_cast<unsigned long>(received), static_cast<unsigned long long>(took), busy.load());
  EXPECT_EQ(kMessages, received);
  EXPECT_GT(busy.load(), 0);
  // Each busy send waits kRoomWaitMs: had it held the object, each frame would wait that long.
  EXPECT_LT(took, kMessages * CDPlayObject::kRoomWaitMs / 5);
}
