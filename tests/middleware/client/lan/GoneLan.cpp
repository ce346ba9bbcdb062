// Nodes that come, freeze and go, and a server that dies, seen from a terminal on host A
// (scenario "gone" of lan_test.sh, which freezes, resumes and ends B's programs on cue).
//
//   quarn_client_lan --gtest_filter=Gone.A SHARE  (terminal 3 on host A, started first)
//   quarn_client_lan --gtest_filter=Gone.B SHARE  (terminal 4 on host B, started on A's cue)
#include "ClientLan.h"
#include "CQUARNInterface.h"
#include "CQUARNLookupDir.h"
#include "CQuarn.h"

#include <gtest/gtest.h>

#include <cstdio>

namespace {

const DWORD STILL_READING = ERROR_IO_INCOMPLETE;
const DWORD SERVER_UNAVAILABLE = RPC_S_SERVER_UNAVAILABLE;
const DWORD INVALID_PATH = 0xE0040002;

void figure(const char* what, DWORD since)
{
    std::printf("FIGURE %s: %lu ms\n", what, static_cast<unsigned long>(GetTickCount() - since));
    std::fflush(stdout);
}

TEST(Gone, B)
{
    std::unique_ptr<CQuarn> quarn = startTimed("4");
    writeShare("B.id", quarn->getReceiverId());
    // B's programs are ended on A's cue; until then B holds its server.
    std::string end;
    readShare("A.done", end, 200000);
}

TEST(Gone, A)
{
    std::unique_ptr<CQuarn> quarn = startTimed("3");
    CQUARNInterface* connection = quarn->getInterface();

    // A root handle open while B joins: pending once B came, readable again after the refresh
    // that WaitReady makes.
    std::unique_ptr<CQUARNLookupDir> root(connection->openLookupDir("\\", nullptr));
    ASSERT_NE(nullptr, root);
    ASSERT_TRUE(root->WaitReady(5));
    ASSERT_EQ(1u, root->GetEntryCount()) << "A alone lists itself only";
    ASSERT_TRUE(cue("start-B", 60000));
    std::string idB;
    ASSERT_TRUE(readShare("B.id", idB, 90000));
    std::string nodeB = CQuarn::getIdTail(1, idB, " ");
    DWORD start = GetTickCount();
    DWORD count = root->GetEntryCount();
    while (count == 1 && GetTickCount() - start < 30000) {
        Sleep(100);
        count = root->GetEntryCount();
    }
    ASSERT_EQ(CQUARNLookupDir::COUNT_FAILED, count) << "the root did not go pending when B came";
    EXPECT_EQ(STILL_READING, GetLastError());
    EXPECT_TRUE(root->WaitReady(5));
    EXPECT_EQ(2u, root->GetEntryCount());
    EXPECT_TRUE(quarn->isSendable(idB));
    // An id naming a value below B's node, no node itself.
    EXPECT_FALSE(quarn->isSendable("4 " + nodeB + "\\Computer Information\\Computer Name"));

    // B's server frozen: a directory of B opens, and stays pending for five tries.
    std::string information = "\\" + nodeB + "\\Computer Information";
    std::unique_ptr<CQUARNLookupDir> seen(quarn->getQUARNLookUpDir(information));
    ASSERT_NE(nullptr, seen) << "B's directory is not readable before B is frozen";
    seen.reset();
    ASSERT_TRUE(cue("freeze-B", 30000));
    std::unique_ptr<CQUARNLookupDir> frozen(connection->openLookupDir(information, nullptr));
    ASSERT_NE(nullptr, frozen);
    start = GetTickCount();
    bool ready = frozen->WaitReady(5);
    DWORD error = GetLastError();
    DWORD took = GetTickCount() - start;
    figure("WaitReady(5) on a directory of a frozen node", start);
    EXPECT_FALSE(ready);
    EXPECT_EQ(STILL_READING, error);
    EXPECT_GE(took, 490u);
    EXPECT_LT(took, 2500u);
    // Resumed, B answers the request that waited.
    ASSERT_TRUE(cue("thaw-B", 30000));
    EXPECT_TRUE(frozen->WaitReady(100));
    EXPECT_EQ(3u, frozen->GetEntryCount());

    // B's Wine ended: B leaves A's root, and its directory's handle fails at once.
    std::unique_ptr<CQUARNLookupDir> kept(connection->openLookupDir(information, nullptr));
    ASSERT_NE(nullptr, kept);
    ASSERT_TRUE(kept->WaitReady(100));
    ASSERT_TRUE(cue("stop-B", 60000));
    start = GetTickCount();
    while (quarn->isSendable(idB) && GetTickCount() - start < 30000)
        Sleep(100);
    figure("isSendable false after B's Wine ended", start);
    EXPECT_FALSE(quarn->isSendable(idB));
    start = GetTickCount();
    EXPECT_FALSE(kept->WaitReady(5));
    error = GetLastError();
    EXPECT_LT(GetTickCount() - start, 400u) << "not at once";
    EXPECT_NE(STILL_READING, error);
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_HANDLE), error);
    EXPECT_EQ(nullptr, connection->openLookupDir(information, nullptr));
    EXPECT_EQ(INVALID_PATH, GetLastError());
    EXPECT_TRUE(root->WaitReady(5));
    EXPECT_EQ(1u, root->GetEntryCount());

    // A's own server killed: a call through the proxy fails with the RPC error as its number.
    ASSERT_TRUE(cue("kill-server-A", 60000));
    EXPECT_EQ("", connection->GetGUIDString());
    EXPECT_EQ(SERVER_UNAVAILABLE, GetLastError());
    EXPECT_EQ(CQUARNLookupDir::COUNT_FAILED, root->GetEntryCount());
    EXPECT_EQ(SERVER_UNAVAILABLE, GetLastError());
    writeShare("A.done", "ok");
}

} // namespace
