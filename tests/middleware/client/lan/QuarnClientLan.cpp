// The middleware client against the real quarnhost on hosts of a test LAN (lan_test.sh starts
// it there, with quarnhost registered in each host's own prefix).
//
//   quarn_client_lan start                         (constructs CQuarn; prints any box, then ends)
//   quarn_client_lan --gtest_filter=Hosts.A SHARE  (terminal 3 on host A)
//   quarn_client_lan --gtest_filter=Hosts.B SHARE  (terminal 4 on host B)
//   (and the other scenarios' pairs of tests, Gone.*, Entries.*, Terminals.*)
//
// SHARE is the folder both hosts see, where the two terminals meet.
#include "ClientLan.h"
#include "CMessageBox.h"
#include "CQUARNAPDir.h"
#include "CQUARNBinaryValue.h"
#include "CQUARNInterface.h"
#include "CQUARNLookupDir.h"
#include "CQuarn.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

std::vector<Notice> g_notices;
namespace {

const size_t SIZES[] = {0, 10000, 8 * 1024 * 1024};

DWORD g_start = 0;

int printBox(HWND owner, const std::string& text, const std::string& caption, UINT type)
{
    std::printf("BOX owner=%p type=%u text=[%s] caption=[%s] after %lu ms\n", static_cast<void*>(owner), type,
                text.c_str(), caption.c_str(), static_cast<unsigned long>(GetTickCount() - g_start));
    std::fflush(stdout);
    return IDOK;
}

} // namespace

void handOver(const std::string& mine, const std::string& theirs, DWORD timeoutMs)
{
    writeShare(mine + ".done", ::testing::Test::HasFailure() ? "failed" : "ok");
    std::string end;
    EXPECT_TRUE(readShare(theirs + ".done", end, timeoutMs)) << theirs << " did not end";
}

void takeOver(const std::string& theirs, const std::string& mine, DWORD timeoutMs)
{
    std::string result;
    EXPECT_TRUE(readShare(theirs + ".done", result, timeoutMs)) << theirs << " did not end";
    EXPECT_EQ("ok", result) << theirs;
    writeShare(mine + ".done", "ok");
}

namespace {

LRESULT CALLBACK noticeProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == CQUARNInterface::fileTransferMessage()) {
        g_notices.push_back({wParam, static_cast<DWORD>(lParam), window});
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

} // namespace

HWND makeWindow()
{
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = noticeProc;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = "QuarnClientLan";
    RegisterClassA(&windowClass);
    return CreateWindowA("QuarnClientLan", "QuarnClientLan", WS_OVERLAPPEDWINDOW, 0, 0, 10, 10, nullptr, nullptr,
                         GetModuleHandleA(nullptr), nullptr);
}

bool noticeCame(WPARAM handle, DWORD code)
{
    for (const Notice& n : g_notices)
        if (n.handle == handle && n.code == code)
            return true;
    return false;
}

// The notices of one handle: begin to end in order, each step up.
void expectProgress(WPARAM handle, DWORD first, DWORD last)
{
    std::vector<DWORD> codes;
    for (const Notice& n : g_notices)
        if (n.handle == handle)
            codes.push_back(n.code);
    ASSERT_FALSE(codes.empty()) << "no notice for " << handle;
    EXPECT_EQ(first, codes.front());
    EXPECT_EQ(last, codes.back());
    for (size_t i = 1; i < codes.size(); ++i)
        EXPECT_LE(codes[i - 1], codes[i]);
}

namespace {

// The start-up's sleeps, counted: a loaded machine may take seconds to start the server, so the
// time alone cannot tell one sleep from two.
const DWORD START_SLEEP_MS = 2000;
int g_startSleeps = 0;
void countedSleep(DWORD milliseconds)
{
    if (milliseconds == START_SLEEP_MS)
        ++g_startSleeps;
    Sleep(milliseconds);
}

} // namespace

std::unique_ptr<CQuarn> startTimed(const char* terminal)
{
    // A warm server: running and listing its own node before the wrapper connects.
    CQUARNInterface warm;
    EXPECT_TRUE(warm.Initialize());
    std::unique_ptr<CQUARNLookupDir> root(warm.openLookupDir("\\", nullptr));
    EXPECT_NE(nullptr, root);
    DWORD start = GetTickCount();
    while (root != nullptr && !(root->WaitReady(5) && root->GetEntryCount() > 0) && GetTickCount() - start < 30000)
        Sleep(100);
    root.reset();

    g_startSleeps = 0;
    CQUARNInterface::Sleeper previous = CQUARNInterface::setSleeper(countedSleep);
    start = GetTickCount();
    std::unique_ptr<CQuarn> quarn(new CQuarn("T", terminal));
    DWORD took = GetTickCount() - start;
    CQUARNInterface::setSleeper(previous);
    std::printf("FIGURE constructor of terminal %s returned after %lu ms\n", terminal, static_cast<unsigned long>(took));
    EXPECT_EQ(1, g_startSleeps) << "the middleware was not ready after one sleep";
    EXPECT_GE(took, START_SLEEP_MS);
    warm.Uninitialize();
    return quarn;
}

DWORD sendPattern(CQuarn& quarn, const std::string& receiverId, const std::string& nickname, size_t size,
                  unsigned seed)
{
    std::string source = sharePath("source " + nickname);
    writeBytes(source, pattern(size, seed));
    DWORD handle = quarn.sendFile(receiverId, source, nickname);
    EXPECT_NE(0u, handle) << nickname;
    if (handle != 0 && !pumpUntil([&] { return noticeCame(handle, 0x20040064); }, 120000)) {
        ADD_FAILURE() << nickname << " was not sent";
        quarn.closeFileTransfer(handle);
        handle = 0;
    }
    return handle;
}

bool waitSendable(CQuarn& quarn, const std::string& receiverId, DWORD timeoutMs)
{
    DWORD start = GetTickCount();
    while (!quarn.isSendable(receiverId) && GetTickCount() - start < timeoutMs)
        Sleep(500);
    return quarn.isSendable(receiverId);
}

namespace {

TEST(Hosts, B)
{
    std::unique_ptr<CQuarn> quarn = startTimed("4");
    HWND window = makeWindow();
    quarn->setQUARNCopyMsgReceiveWindow(window);
    CQUARNInterface* connection = quarn->getInterface();
    // Entries for A to read: a string, an int, binary values of 3 and 0 bytes.
    std::unique_ptr<CQUARNAPDir> shown(connection->OpenAPDir("Shown", window));
    ASSERT_NE(nullptr, shown);
    const BYTE three[] = {1, 2, 3};
    EXPECT_TRUE(shown->ChangeEntryValueString("Text", "value"));
    EXPECT_TRUE(shown->ChangeEntryValueInt("Number", -5));
    EXPECT_TRUE(shown->ChangeEntryValueBinary("Three", three, 3));
    EXPECT_TRUE(shown->ChangeEntryValueBinary("Empty", three, 0));
    std::string id = quarn->getReceiverId();
    writeShare("B.id", id);

    size_t done = 0;
    for (size_t k = 0; k < sizeof(SIZES) / sizeof(SIZES[0]); ++k) {
        ASSERT_TRUE(pumpUntil(
            [&] {
                size_t complete = 0;
                for (const Notice& n : g_notices)
                    complete += n.code == 0x20040164;
                return complete > done;
            },
            120000))
            << "file " << k << " did not arrive";
        WPARAM handle = 0;
        size_t complete = 0;
        for (const Notice& n : g_notices)
            if (n.code == 0x20040164 && complete++ == done)
                handle = n.handle;
        ++done;
        expectProgress(handle, 0x20040100, 0x20040164);
        DWORD h = static_cast<DWORD>(handle);
        EXPECT_EQ("file " + std::to_string(k), quarn->getFileNickname(h));
        std::string temp = quarn->getTransmitFileName(h);
        std::vector<BYTE> bytes = readBytes(temp);
        EXPECT_TRUE(bytes == pattern(SIZES[k], static_cast<unsigned>(k + 1))) << "file " << k << " " << bytes.size();
        quarn->closeFileTransfer(h);
        EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(temp.c_str()));
    }
    handOver("B", "A", 60000);
    shown.reset();
    quarn->releaseQUARNCopyMsgReceiveWindow();
    DestroyWindow(window);
}

TEST(Hosts, A)
{
    std::unique_ptr<CQuarn> quarn = startTimed("3");
    CQUARNInterface* connection = quarn->getInterface();
    EXPECT_EQ(connection->GetGUIDString(), quarn->getDependQUARNId());
    EXPECT_EQ("3 " + connection->GetGUIDString(), quarn->getReceiverId());
    EXPECT_EQ(0x00010003u, connection->GetServerVersion());
    HWND window = makeWindow();
    quarn->setQUARNCopyMsgReceiveWindow(window);

    std::string idB;
    ASSERT_TRUE(readShare("B.id", idB, 90000));
    std::string nodeB = CQuarn::getIdTail(1, idB, " ");
    EXPECT_EQ("4", CQuarn::getIdField(0, idB, " "));
    // B is listed once the two nodes have met.
    waitSendable(*quarn, idB, 30000);
    struct {
        std::string receiverId;
        bool sendable;
    } table[] = {
        {idB, true},
        {"4 NOTAVAILABLE_QUARNID", false},
        {"4" + nodeB, false},
        {"4 ", false},
        {"4\\12 " + nodeB, false},
        {"4 Computer Information", false},
        {"4 " + connection->GetGUIDString() + "x", false},
    };
    for (const auto& row : table)
        EXPECT_EQ(row.sendable, quarn->isSendable(row.receiverId)) << row.receiverId;

    // B's entries, read back here.
    std::unique_ptr<CQUARNLookupDir> shown(quarn->getQUARNLookUpDir("\\" + nodeB + "\\Applications\\Shown"));
    ASSERT_NE(nullptr, shown);
    std::unique_ptr<CQUARNBinaryValue> three(shown->GetEntryValueBinary(std::string("Three")));
    ASSERT_NE(nullptr, three);
    ASSERT_EQ(3u, three->count());
    EXPECT_EQ(3, three->data()[2]);
    std::unique_ptr<CQUARNBinaryValue> empty(shown->GetEntryValueBinary(std::string("Empty")));
    ASSERT_NE(nullptr, empty);
    EXPECT_EQ(0u, empty->count());
    for (DWORD i = 0; i < shown->GetEntryCount(); ++i) {
        if (shown->GetEntryName(i) != "Text")
            continue;
        int number = 7;
        EXPECT_FALSE(shown->GetEntryValueInt(i, &number));
        EXPECT_EQ(0, number);
        std::string text;
        EXPECT_TRUE(shown->GetEntryValueString(i, text));
        EXPECT_EQ("value", text);
    }
    EXPECT_TRUE(shown->Close());
    EXPECT_EQ(0xFFFFFFFFu, shown->GetEntryCount());

    // A name with two backslashes in a row: refused, and the database is not left locked.
    EXPECT_EQ(nullptr, connection->OpenAPDir("a\\\\b", window));
    EXPECT_EQ(0xE0040002u, GetLastError());
    std::unique_ptr<CQUARNAPDir> after(connection->OpenAPDir("after", window));
    EXPECT_NE(nullptr, after);
    after.reset();

    // Files of 0, 10000 and 8 MB to terminal 4 on B.
    for (size_t k = 0; k < sizeof(SIZES) / sizeof(SIZES[0]); ++k) {
        DWORD handle = sendPattern(*quarn, idB, "file " + std::to_string(k), SIZES[k], static_cast<unsigned>(k + 1));
        ASSERT_NE(0u, handle);
        expectProgress(handle, 0x20040000, 0x20040064);
        quarn->closeFileTransfer(handle);
    }
    takeOver("B", "A", 120000);
    quarn->releaseQUARNCopyMsgReceiveWindow();
    DestroyWindow(window);
}

} // namespace

int main(int argc, char** argv)
{
    if (argc >= 2 && std::string(argv[1]) == "start") {
        CMessageBox::setHandler(printBox);
        g_start = GetTickCount();
        CQuarn quarn("T", "3");
        std::printf("CONSTRUCTED after %lu ms\n", static_cast<unsigned long>(GetTickCount() - g_start));
        return 5;
    }
    initGoogleTestWithShare(argc, argv);
    return RUN_ALL_TESTS();
}
