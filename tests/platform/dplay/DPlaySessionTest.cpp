// Sessions between DirectPlay objects of one process, over loopback.
#include <gtest/gtest.h>

#include "CDPlayTestKit.h"

#include <atomic>
#include <deque>
#include <map>
#include <thread>

namespace {

constexpr DWORD kWait = 10000;  // ms: generous for a loaded machine; passing tests never wait it out

struct Terminal {
  IDirectPlay4A* dp = nullptr;
  HANDLE event = nullptr;
  DPID id = 0;
  std::string name;
};

class DPlaySession : public ::testing::Test {
 protected:
  void SetUp() override {
    host.name = "HOST";
    host.event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    ASSERT_EQ(DP_OK, CDPlayTestKit::hostOnLoopback(0, &host.dp, port, instance));
    ASSERT_EQ(DP_OK, CDPlayTestKit::addPlayer(host.dp, host.name, host.event, true, host.id));
    ASSERT_EQ(DPID_SERVERPLAYER, host.id);
  }

  void TearDown() override {
    for (Terminal& c : clients) release(c);
    release(host);
  }

  static void release(Terminal& t) {
    if (t.dp != nullptr) t.dp->Release();
    if (t.event != nullptr) CloseHandle(t.event);
    t.dp = nullptr;
    t.event = nullptr;
  }

  Terminal& join(const std::string& name) {
    clients.emplace_back();
    Terminal& t = clients.back();
    t.name = name;
    t.event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    EXPECT_EQ(DP_OK, CDPlayTestKit::create("127.0.0.1", port, &t.dp));
    bool found = false;
    EXPECT_EQ(DP_OK, CDPlayTestKit::join(t.dp, instance, &found));
    EXPECT_TRUE(found);
    EXPECT_EQ(DP_OK, CDPlayTestKit::addPlayer(t.dp, name, t.event, false, t.id));
    return t;
  }

  // A client joined, and both sides have seen each other's player.
  Terminal& joinAndMeet(const std::string& name) {
    Terminal& t = join(name);
    DPlayReceived m;
    EXPECT_TRUE(CDPlayTestKit::nextSystem(host.dp, host.event, DPSYS_CREATEPLAYERORGROUP, kWait, m));
    EXPECT_EQ(t.id, m.sysId);
    EXPECT_TRUE(CDPlayTestKit::nextSystem(t.dp, t.event, DPSYS_CREATEPLAYERORGROUP, kWait, m));
    EXPECT_EQ(host.id, m.sysId);
    return t;
  }

  static HRESULT send(Terminal& from, DPID to, const std::vector<BYTE>& data) {
    return from.dp->SendEx(from.id, to, CDPlayTestKit::kSendFlags, const_cast<BYTE*>(data.data()),
                           static_cast<DWORD>(data.size()), 0, 0, nullptr, nullptr);
  }

  Terminal host;
  std::deque<Terminal> clients;
  WORD port = 0;
  GUID instance = GUID_NULL;
};

}  // namespace

TEST_F(DPlaySession, HostSeesEachClientArriveByShortNameAndClientsSeeTheServerPlayer) {
  Terminal& a = join("TERM-A");
  Terminal& b = join("TERM-B");
  EXPECT_NE(a.id, b.id);
  for (Terminal* t : {&a, &b}) {
    DPlayReceived m;
    ASSERT_TRUE(CDPlayTestKit::nextSystem(host.dp, host.event, DPSYS_CREATEPLAYERORGROUP, kWait, m));
    EXPECT_EQ(t->id, m.sysId);
    EXPECT_EQ(t->name, m.sysName);
    ASSERT_TRUE(CDPlayTestKit::nextSystem(t->dp, t->event, DPSYS_CREATEPLAYERORGROUP, kWait, m));
    EXPECT_EQ(DPID_SERVERPLAYER, m.sysId);
    EXPECT_EQ("HOST", m.sysName);
    EXPECT_EQ(t->id, m.to);
  }
  // In a client/server session a client hears of the host's players only.
  DPlayReceived extra;
  EXPECT_FALSE(CDPlayTestKit::next(a.dp, a.event, 500, extra));
}

namespace {

std::vector<BYTE> sessionDesc(IDirectPlay4A* dp) {
  DWORD size = 0;
  EXPECT_EQ(DPERR_BUFFERTOOSMALL, dp->GetSessionDesc(nullptr, &size));
  std::vector<BYTE> buffer(size);
  EXPECT_EQ(DP_OK, dp->GetSessionDesc(buffer.data(), &size));
  return buffer;
}

}  // namespace

TEST_F(DPlaySession, ClientSeesTheSessionAsTheHostOpenedIt) {
  Terminal& a = joinAndMeet("TERM-A");
  std::vector<BYTE> hostBuffer = sessionDesc(host.dp);
  std::vector<BYTE> clientBuffer = sessionDesc(a.dp);
  auto* h = reinterpret_cast<DPSESSIONDESC2*>(hostBuffer.data());
  auto* c = reinterpret_cast<DPSESSIONDESC2*>(clientBuffer.data());
  EXPECT_EQ(sizeof(DPSESSIONDESC2), c->dwSize);
  EXPECT_EQ(CDPlayTestKit::kSessionFlags, h->dwFlags);
  EXPECT_EQ(h->dwFlags, c->dwFlags);
  EXPECT_TRUE(IsEqualGUID(instance, h->guidInstance));
  EXPECT_TRUE(IsEqualGUID(instance, c->guidInstance));
  EXPECT_TRUE(IsEqualGUID(CDPlayTestKit::kApplication, c->guidApplication));
  EXPECT_STREQ("test session", c->lpszSessionNameA);
  EXPECT_EQ(nullptr, c->lpszPasswordA);
  EXPECT_EQ(2u, h->dwCurrentPlayers);
  DPCAPS caps = {};
  caps.dwSize = sizeof caps;
  ASSERT_EQ(DP_OK, host.dp->GetCaps(&caps, DPGETCAPS_GUARANTEED));
  EXPECT_NE(0u, caps.dwFlags & DPCAPS_ISHOST);
  ASSERT_EQ(DP_OK, a.dp->GetCaps(&caps, 0));
  EXPECT_EQ(0u, caps.dwFlags & DPCAPS_ISHOST);
  EXPECT_GE(caps.dwMaxBufferSize, 8u * 1024 * 1024);
}

TEST_F(DPlaySession, PayloadsOfEverySizeArriveWholeAndInOrderBothWays) {
  Terminal& a = join("TERM-A");
  Terminal& b = join("TERM-B");
  const size_t sizes[] = {12, 255, 256, 257, 4096, 65535, 65536, 65537, 3 * 65536 + 5, 8 * 1024 * 1024, 13};
  const DWORD count = static_cast<DWORD>(std::size(sizes));
  // Every client sends everything to the host; the host sends everything to each client
  // by its id and to all players.
  for (DWORD i = 0; i < count; ++i) {
    ASSERT_EQ(DPERR_PENDING, send(a, DPID_SERVERPLAYER, CDPlayTestKit::payload(a.id, i, sizes[i])));
    ASSERT_EQ(DPERR_PENDING, send(b, DPID_SERVERPLAYER, CDPlayTestKit::payload(b.id, i, sizes[i])));
    ASSERT_EQ(DPERR_PENDING, send(host, a.id, CDPlayTestKit::payload(host.id, 2 * i, sizes[i])));
    ASSERT_EQ(DPERR_PENDING, send(host, b.id, CDPlayTestKit::payload(host.id, 2 * i, sizes[i])));
    ASSERT_EQ(DPERR_PENDING, send(host, DPID_ALLPLAYERS, CDPlayTestKit::payload(host.id, 2 * i + 1, sizes[i])));
  }

  // On the host, each client's arrival comes before its first payload.
  std::map<DPID, DWORD> nextFromClient;
  for (DWORD n = 0; n < 2 * count + 2; ++n) {
    DPlayReceived m;
    ASSERT_TRUE(CDPlayTestKit::next(host.dp, host.event, kWait, m)) << "message " << n;
    if (m.isSystem()) {
      ASSERT_EQ(DPSYS_CREATEPLAYERORGROUP, m.sysType);
      ASSERT_EQ(0u, nextFromClient.count(m.sysId));
      nextFromClient[m.sysId] = 0;
      continue;
    }
    DWORD sender = 0, sequence = 0;
    ASSERT_TRUE(CDPlayTestKit::checkPayload(m.data, sender, sequence));
    ASSERT_EQ(m.from, sender);
    ASSERT_EQ(1u, nextFromClient.count(sender)) << "payload before the sender's arrival";
    ASSERT_EQ(nextFromClient[sender]++, sequence);
    EXPECT_EQ(sizes[sequence], m.data.size());
    EXPECT_EQ(DPID_SERVERPLAYER, m.to);
  }
  for (Terminal* t : {&a, &b}) {
    DPlayReceived created;
    ASSERT_TRUE(CDPlayTestKit::nextSystem(t->dp, t->event, DPSYS_CREATEPLAYERORGROUP, kWait, created));
    for (DWORD expected = 0; expected < 2 * count; ++expected) {
      DPlayReceived m;
      ASSERT_TRUE(CDPlayTestKit::next(t->dp, t->event, kWait, m)) << t->name << " message " << expected;
      DWORD sender = 0, sequence = 0;
      ASSERT_TRUE(CDPlayTestKit::checkPayload(m.data, sender, sequence)) << t->name;
      EXPECT_EQ(DPID_SERVERPLAYER, m.from);
      EXPECT_EQ(t->id, m.to);
      ASSERT_EQ(expected, sequence) << t->name;
      EXPECT_EQ(sizes[sequence / 2], m.data.size());
    }
  }
}

TEST_F(DPlaySession, ReceiveReportsTheSizeItNeedsAndKeepsTheMessageUntilItFits) {
  Terminal& a = joinAndMeet("TERM-A");
  DPID from = 0, to = 0;
  DWORD size = 0;
  EXPECT_EQ(DPERR_NOMESSAGES, host.dp->Receive(&from, &to, DPRECEIVE_ALL, nullptr, &size));
  BYTE one = 0x5a;
  std::vector<BYTE> big = CDPlayTestKit::payload(a.id, 0, 100000);
  ASSERT_EQ(DPERR_PENDING, a.dp->SendEx(a.id, DPID_SERVERPLAYER, CDPlayTestKit::kSendFlags, &one, 1, 0, 0, nullptr, nullptr));
  ASSERT_EQ(DPERR_PENDING, send(a, DPID_SERVERPLAYER, big));

  DWORD count = 0;
  for (int i = 0; i < 200 && count < 2; ++i) {
    Sleep(50);
    ASSERT_EQ(DP_OK, host.dp->GetMessageCount(host.id, &count));
  }
  ASSERT_EQ(2u, count);
  std::vector<BYTE> buffer(256);
  size = static_cast<DWORD>(buffer.size());
  ASSERT_EQ(DP_OK, host.dp->Receive(&from, &to, DPRECEIVE_ALL, buffer.data(), &size));
  EXPECT_EQ(1u, size);
  EXPECT_EQ(0x5a, buffer[0]);
  EXPECT_EQ(a.id, from);
  size = static_cast<DWORD>(buffer.size());
  ASSERT_EQ(DPERR_BUFFERTOOSMALL, host.dp->Receive(&from, &to, DPRECEIVE_ALL, buffer.data(), &size));
  EXPECT_EQ(big.size(), size);
  ASSERT_EQ(DP_OK, host.dp->GetMessageCount(host.id, &count));
  EXPECT_EQ(1u, count);
  buffer.resize(size);
  ASSERT_EQ(DP_OK, host.dp->Receive(&from, &to, DPRECEIVE_ALL | DPRECEIVE_PEEK, buffer.data(), &size));
  ASSERT_EQ(DP_OK, host.dp->Receive(&from, &to, DPRECEIVE_ALL, buffer.data(), &size));
  EXPECT_EQ(big, buffer);
  EXPECT_EQ(DPERR_NOMESSAGES, host.dp->Receive(&from, &to, DPRECEIVE_ALL, buffer.data(), &size));
  EXPECT_EQ(DPERR_INVALIDPLAYER, host.dp->GetMessageCount(a.id, &count));
}

TEST_F(DPlaySession, HostCloseGivesEachClientTheDestroyOfItsOwnPlayer) {
  Terminal& a = joinAndMeet("TERM-A");
  Terminal& b = joinAndMeet("TERM-B");
  ASSERT_EQ(DP_OK, CDPlayTestKit::closeAsHost(host.dp, host.id));
  for (Terminal* t : {&a, &b}) {
    DPlayReceived m;
    ASSERT_TRUE(CDPlayTestKit::nextSystem(t->dp, t->event, DPSYS_DESTROYPLAYERORGROUP, kWait, m)) << t->name;
    EXPECT_EQ(t->id, m.sysId);
    EXPECT_EQ(t->name, m.sysName);
    // The player is gone: what the program then sends is refused, not reported as trouble.
    BYTE byte = 0;
    EXPECT_EQ(DPERR_INVALIDPLAYER, t->dp->SendEx(t->id, DPID_ALLPLAYERS, CDPlayTestKit::kSendFlags, &byte, 1, 0, 0, nullptr, nullptr));
    // Without a player, the end of the session is not reported again.
    EXPECT_FALSE(CDPlayTestKit::next(t->dp, t->event, 1000, m)) << t->name << " got " << m.sysType;
    EXPECT_EQ(DPERR_INVALIDPLAYER, t->dp->DestroyPlayer(t->id));
    EXPECT_EQ(DP_OK, t->dp->Close());
  }
}

TEST_F(DPlaySession, ClientThatLeavesIsDestroyedOnTheHostAndNowhereElse) {
  Terminal& a = joinAndMeet("TERM-A");
  Terminal& b = joinAndMeet("TERM-B");
  ASSERT_EQ(DP_OK, a.dp->CancelMessage(0, 0));
  ASSERT_EQ(DP_OK, a.dp->DestroyPlayer(a.id));
  ASSERT_EQ(DP_OK, a.dp->Close());
  DPlayReceived m;
  ASSERT_TRUE(CDPlayTestKit::nextSystem(host.dp, host.event, DPSYS_DESTROYPLAYERORGROUP, kWait, m));
  EXPECT_EQ(a.id, m.sysId);
  EXPECT_EQ("TERM-A", m.sysName);
  EXPECT_FALSE(CDPlayTestKit::next(host.dp, host.event, 1000, m)) << "one destroy only";
  EXPECT_FALSE(CDPlayTestKit::next(b.dp, b.event, 200, m));
  // The rest of the session goes on.
  ASSERT_EQ(DPERR_PENDING, send(b, DPID_SERVERPLAYER, CDPlayTestKit::payload(b.id, 0, 5000)));
  ASSERT_TRUE(CDPlayTestKit::next(host.dp, host.event, kWait, m));
  EXPECT_EQ(b.id, m.from);
}

TEST_F(DPlaySession, HostThatGoesAwayGivesClientsSessionLost) {
  Terminal& a = joinAndMeet("TERM-A");
  Terminal& b = joinAndMeet("TERM-B");
  release(host);  // closes without destroying anybody's player
  for (Terminal* t : {&a, &b}) {
    DPlayReceived m;
    ASSERT_TRUE(CDPlayTestKit::next(t->dp, t->event, kWait, m)) << t->name;
    EXPECT_TRUE(m.isSystem());
    EXPECT_EQ(DPSYS_SESSIONLOST, m.sysType);
    EXPECT_EQ(t->id, m.to);
    EXPECT_EQ(sizeof(DPMSG_SESSIONLOST), m.data.size());
    BYTE byte = 0;
    EXPECT_EQ(DPERR_CONNECTIONLOST, t->dp->SendEx(t->id, DPID_SERVERPLAYER, CDPlayTestKit::kSendFlags, &byte, 1, 0, 0, nullptr, nullptr));
  }
}

TEST_F(DPlaySession, JoiningAVanishedSessionGivesNoSessions) {
  GUID gone = instance;
  // The same host now runs another session: the old one is gone although the host answers.
  ASSERT_EQ(DP_OK, CDPlayTestKit::closeAsHost(host.dp, host.id));
  GUID now = GUID_NULL;
  ASSERT_EQ(DP_OK, CDPlayTestKit::host(host.dp, now));
  EXPECT_FALSE(IsEqualGUID(gone, now));
  IDirectPlay4A* late = nullptr;
  ASSERT_EQ(DP_OK, CDPlayTestKit::create("127.0.0.1", port, &late));
  bool found = true;
  EXPECT_EQ(DPERR_NOSESSIONS, CDPlayTestKit::join(late, gone, &found));
  EXPECT_FALSE(found);
  late->Release();
  // Nobody listens any more: the enumeration finds nothing, and the join fails the same way.
  ASSERT_EQ(DP_OK, host.dp->Close());
  ASSERT_EQ(DP_OK, CDPlayTestKit::create("127.0.0.1", port, &late));
  found = true;
  EXPECT_EQ(DPERR_NOSESSIONS, CDPlayTestKit::join(late, now, &found));
  EXPECT_FALSE(found);
  late->Release();
}

TEST_F(DPlaySession, SendsFromSeveralThreadsWhileAnotherReceives) {
  Terminal& a = joinAndMeet("TERM-A");
  const DWORD kThreads = 4, kEach = 200;
  std::atomic<int> failures{0};
  std::vector<std::thread> senders;
  for (DWORD t = 0; t < kThreads; ++t)
    senders.emplace_back([&, t] {
      for (DWORD i = 0; i < kEach; ++i)
        if (send(host, a.id, CDPlayTestKit::payload(t, i, 100 + (i % 7) * 1000)) != DPERR_PENDING) ++failures;
    });
  std::vector<DWORD> next(kThreads, 0);
  for (DWORD n = 0; n < kThreads * kEach; ++n) {
    DPlayReceived m;
    ASSERT_TRUE(CDPlayTestKit::next(a.dp, a.event, kWait, m)) << n;
    DWORD thread = 0, sequence = 0;
    ASSERT_TRUE(CDPlayTestKit::checkPayload(m.data, thread, sequence));
    ASSERT_LT(thread, kThreads);
    ASSERT_EQ(next[thread]++, sequence) << "thread " << thread;
  }
  for (std::thread& s : senders) s.join();
  EXPECT_EQ(0, failures.load());
}

TEST_F(DPlaySession, CancelledMessagesNeverArriveInPart) {
  Terminal& a = joinAndMeet("TERM-A");
  const DWORD kCount = 48;
  std::vector<std::vector<BYTE>> payloads;
  for (DWORD i = 0; i < kCount; ++i) payloads.push_back(CDPlayTestKit::payload(host.id, i, 1024 * 1024));
  for (const auto& p : payloads) ASSERT_EQ(DPERR_PENDING, send(host, a.id, p));
  ASSERT_EQ(DP_OK, host.dp->CancelMessage(0, 0));
  EXPECT_EQ(DPERR_UNKNOWNMESSAGE, host.dp->CancelMessage(12345, 0));
  ASSERT_EQ(DPERR_PENDING, send(host, a.id, CDPlayTestKit::payload(host.id, 1000, 64)));
  for (DWORD expected = 0;; ++expected) {
    DPlayReceived m;
    ASSERT_TRUE(CDPlayTestKit::next(a.dp, a.event, kWait, m));
    DWORD sender = 0, sequence = 0;
    ASSERT_TRUE(CDPlayTestKit::checkPayload(m.data, sender, sequence)) << "message " << expected;
    if (sequence == 1000) {
      EXPECT_LT(expected, kCount) << "nothing was cancelled";
      break;
    }
    ASSERT_EQ(expected, sequence);
  }
}

TEST_F(DPlaySession, SendQueueCountsWhatHasNotLeftUntilThePeerTakesIt) {
  Terminal& a = joinAndMeet("TERM-A");
  DWORD count = 0, bytes = 0;
  EXPECT_EQ(DPERR_INVALIDFLAGS, host.dp->GetMessageQueue(host.id, 0, 0, &count, &bytes));
  EXPECT_EQ(DPERR_UNSUPPORTED, host.dp->GetMessageQueue(0, host.id, DPMESSAGEQUEUE_RECEIVE, &count, &bytes));
  EXPECT_EQ(DPERR_INVALIDPARAMS, host.dp->GetMessageQueue(host.id, 0, DPMESSAGEQUEUE_SEND, nullptr, nullptr));
  EXPECT_EQ(DPERR_INVALIDPLAYER, host.dp->GetMessageQueue(a.id, 0, DPMESSAGEQUEUE_SEND, &count, &bytes));
  ASSERT_EQ(DP_OK, host.dp->GetMessageQueue(host.id, 0, DPMESSAGEQUEUE_SEND, &count, &bytes));
  EXPECT_EQ(0u, count);
  EXPECT_EQ(0u, bytes);

  // More than the client's inbox and the sockets hold while the client does not read.
  const DWORD kCount = 128, kSize = 1024 * 1024;
  for (DWORD i = 0; i < kCount; ++i)
    ASSERT_EQ(DPERR_PENDING, send(host, a.id, CDPlayTestKit::payload(host.id, i, kSize)));
  ASSERT_EQ(DP_OK, host.dp->GetMessageQueue(host.id, 0, DPMESSAGEQUEUE_SEND, &count, &bytes));
  EXPECT_GT(count, 0u);
  EXPECT_LE(count, kCount);
  EXPECT_GE(bytes, (count - 1) * kSize);
  EXPECT_LE(bytes, count * kSize);
  DWORD otherCount = 7;
  ASSERT_EQ(DP_OK, host.dp->GetMessageQueue(host.id, a.id + 100, DPMESSAGEQUEUE_SEND, &otherCount, nullptr));
  EXPECT_EQ(0u, otherCount);

  for (DWORD n = 0; n < kCount; ++n) {
    DPlayReceived m;
    ASSERT_TRUE(CDPlayTestKit::next(a.dp, a.event, kWait, m)) << n;
  }
  ASSERT_EQ(DP_OK, host.dp->GetMessageQueue(host.id, a.id, DPMESSAGEQUEUE_SEND, &count, &bytes));
  EXPECT_EQ(0u, count);
  EXPECT_EQ(0u, bytes);
}
