// Terminals 3 and 4 in two processes on one host, one middleware server between them
// (scenario "terminals" of lan_test.sh).
//
//   quarn_client_lan --gtest_filter=Terminals.Four SHARE   (terminal 4, started first)
//   quarn_client_lan --gtest_filter=Terminals.Three SHARE  (terminal 3)
#include "CIOException.h"
#include "ClientLan.h"
#include "CQuarn.h"

#include <gtest/gtest.h>

#include <string>

namespace {

const DWORD SENT = 0x20040064;
const DWORD RECEIVING = 0x20040100;
const DWORD RECEIVED = 0x20040164;
const DWORD RECEIVER_LAST = 0x200401FF;

struct File {
    const char* nickname;
    size_t size;
    unsigned seed;
};
const File TO_FOUR = {"to four", 10000, 41};
const File BY_TICKET = {"ticket", 30000, 42};
const File AFTER_REOPEN = {"after reopen", 5000, 43};

// The transfers completed at a window, in order.
std::vector<DWORD> receivedAt(HWND window)
{
    std::vector<DWORD> handles;
    for (const Notice& n : g_notices)
        if (n.window == window && n.code == RECEIVED)
            handles.push_back(static_cast<DWORD>(n.handle));
    return handles;
}

void expectFile(CQuarn& quarn, DWORD handle, const File& file)
{
    EXPECT_EQ(file.nickname, quarn.getFileNickname(handle));
    EXPECT_TRUE(readBytes(quarn.getTransmitFileName(handle)) == pattern(file.size, file.seed)) << file.nickname;
    quarn.closeFileTransfer(handle);
}

void sendAndClose(CQuarn& quarn, const std::string& receiverId, const File& file)
{
    quarn.closeFileTransfer(sendPattern(quarn, receiverId, file.nickname, file.size, file.seed));
}

TEST(Terminals, Four)
{
    std::unique_ptr<CQuarn> quarn = startTimed("4");
    HWND first = makeWindow();
    quarn->setQUARNCopyMsgReceiveWindow(first);
    writeShare("T4.id", quarn->getReceiverId());
    ASSERT_TRUE(pumpUntil([&] { return receivedAt(first).size() >= 2; }, 120000));
    std::vector<DWORD> handles = receivedAt(first);
    expectFile(*quarn, handles[0], TO_FOUR);
    expectFile(*quarn, handles[1], BY_TICKET);

    // Released, then set with another window: the copy directory opens again, for that window.
    quarn->releaseQUARNCopyMsgReceiveWindow();
    HWND second = makeWindow();
    quarn->setQUARNCopyMsgReceiveWindow(second);
    size_t before = g_notices.size();
    writeShare("T4.reopened", "ok");
    ASSERT_TRUE(pumpUntil([&] { return !receivedAt(second).empty(); }, 60000));
    expectFile(*quarn, receivedAt(second)[0], AFTER_REOPEN);
    for (size_t i = before; i < g_notices.size(); ++i)
        EXPECT_EQ(second, g_notices[i].window) << "the released window was told " << std::hex << g_notices[i].code;
    handOver("T4", "T3", 60000);
    quarn->releaseQUARNCopyMsgReceiveWindow();
    DestroyWindow(first);
    DestroyWindow(second);
}

TEST(Terminals, Three)
{
    std::unique_ptr<CQuarn> quarn = startTimed("3");
    HWND window = makeWindow();
    quarn->setQUARNCopyMsgReceiveWindow(window);
    std::string id4;
    ASSERT_TRUE(readShare("T4.id", id4, 90000));
    EXPECT_EQ(CQuarn::getIdTail(1, quarn->getReceiverId(), " "), CQuarn::getIdTail(1, id4, " ")) << "one node";
    ASSERT_TRUE(quarn->isSendable(id4));
    sendAndClose(*quarn, id4, TO_FOUR);

    // Opened, filled and executed by its ticket.
    std::string temp, ticket;
    quarn->openFileTransfer(id4, BY_TICKET.nickname, temp, ticket);
    DWORD handle = std::stoul(ticket);
    EXPECT_EQ(std::to_string(handle), ticket);
    writeBytes(temp, pattern(BY_TICKET.size, BY_TICKET.seed));
    quarn->execFileTransfer(ticket);
    EXPECT_TRUE(pumpUntil([&] { return noticeCame(handle, SENT); }, 60000));
    quarn->closeFileTransfer(handle);
    // A ticket that is no number names transfer 0, which the middleware refuses.
    EXPECT_THROW(quarn->execFileTransfer("x"), CIOException);

    std::string step;
    ASSERT_TRUE(readShare("T4.reopened", step, 90000));
    sendAndClose(*quarn, id4, AFTER_REOPEN);
    std::string result4;
    EXPECT_TRUE(readShare("T4.done", result4, 90000));
    EXPECT_EQ("ok", result4) << "T4";
    // Terminal 3 was told of its sends only: nothing addressed to 4 landed here.
    for (const Notice& n : g_notices)
        EXPECT_FALSE(n.code >= RECEIVING && n.code <= RECEIVER_LAST) << "terminal 3 received " << std::hex << n.code;
    writeShare("T3.done", "ok");
    quarn->releaseQUARNCopyMsgReceiveWindow();
    DestroyWindow(window);
}

} // namespace
