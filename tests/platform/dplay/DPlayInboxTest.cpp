// The queue of messages waiting for the local players: its limit, and the room that Receive
// makes for the connections that wait for it.
#include <gtest/gtest.h>

#include "CDPlayInbox.h"

#include <atomic>
#include <thread>

namespace {

constexpr DWORD kWait = 10000;

DPlayInboxEntry message(DPID to, size_t size, BYTE fill) {
  DPlayInboxEntry entry;
  entry.from = 2;
  entry.to = to;
  entry.data = std::make_shared<const std::vector<BYTE>>(size, fill);
  return entry;
}

}  // namespace

TEST(DPlayInbox, FullAtItsLimitAndRoomAgainOnceTheApplicationReceives) {
  CDPlayInbox inbox;
  const size_t kSize = 1024 * 1024;
  DWORD pushed = 0;
  while (inbox.hasRoom() && pushed < 1000) {
    inbox.push(message(1, kSize, static_cast<BYTE>(pushed)));
    ++pushed;
  }
  ASSERT_FALSE(inbox.hasRoom());
  EXPECT_EQ(CDPlayInbox::kMaxBytes / (kSize + CDPlayInbox::kEntryCost) + 1, pushed);

  // A connection waiting for room is let go as soon as Receive has made some.
  std::atomic<bool> roomSeen{false};
  std::thread reader([&] {
    ULONGLONG deadline = GetTickCount64() + kWait;
    while (!inbox.hasRoom() && GetTickCount64() < deadline) inbox.waitForRoom(200);
    roomSeen = inbox.hasRoom();
  });
  std::vector<BYTE> buffer(kSize);
  DPID from = 0, to = 0;
  DWORD size = kSize;
  ASSERT_EQ(DP_OK, inbox.receive(&from, &to, DPRECEIVE_ALL | DPRECEIVE_PEEK, buffer.data(), &size));
  EXPECT_FALSE(inbox.hasRoom()) << "a peek takes nothing away";
  ASSERT_EQ(DP_OK, inbox.receive(&from, &to, DPRECEIVE_ALL, buffer.data(), &size));
  EXPECT_EQ(0, buffer[0]);
  reader.join();
  EXPECT_TRUE(roomSeen);
  EXPECT_EQ(pushed - 1, inbox.count(1));

  // Small messages count too: each costs its bookkeeping besides its bytes.
  inbox.clear();
  EXPECT_TRUE(inbox.hasRoom());
  EXPECT_EQ(0u, inbox.bytes());
  size_t small = 0;
  while (inbox.hasRoom() && small < 10000000) {
    inbox.push(message(1, 1, 0));
    ++small;
  }
  EXPECT_LE(small, CDPlayInbox::kMaxBytes / CDPlayInbox::kEntryCost + 1);
}
