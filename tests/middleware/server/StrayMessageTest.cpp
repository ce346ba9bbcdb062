// Any program on the desktop can post to the server's hidden windows: what none of ours sends
// is one ERROR line each, and the window goes on.
#include "CQuarnComm.h"
#include "CQuarnDataBase.h"
#include "CQuarnSrvCore.h"
#include "CQuarnWatchWindow.h"
#include "MessagePump.h"
#include "QuarnTrace.h"
#include "SocketWindow.h"

#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <vector>

namespace {

std::mutex s_linesLock;
std::vector<std::string> s_lines;

void keepLine(const char* line)
{
    std::lock_guard<std::mutex> hold(s_linesLock);
    s_lines.push_back(line);
}

// The server's lines while it lives.
class TraceLines {
public:
    TraceLines() : previous_(QuarnSetTraceSink(keepLine)) { clear(); }
    ~TraceLines() { QuarnSetTraceSink(previous_); }
    void clear()
    {
        std::lock_guard<std::mutex> hold(s_linesLock);
        s_lines.clear();
    }
    std::vector<std::string> errors() const
    {
        std::lock_guard<std::mutex> hold(s_linesLock);
        std::vector<std::string> found;
        for (const std::string& line : s_lines)
            if (line.compare(0, 7, "ERROR: ") == 0)
                found.push_back(line);
        return found;
    }

private:
    QuarnTraceSink previous_;
};

void pumpAWhile()
{
    pumpUntil([] { return false; }, 200);
}

struct Stray {
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
    const char* piece;  // of its ERROR line
};

TEST(QuarnStrayMessages, TheCommWindowAnswersEachUnknownMessageWithOneErrorLine)
{
    WinsockSession sockets;
    CQuarnSrvCore core;
    CQuarnDataBase database;
    CQuarnComm comm;
    GUID node = {0x5A5A5A5A, 1, 2, {3, 4, 5, 6, 7, 8, 9, 10}};
    ASSERT_TRUE(comm.StartWithoutNodeDetection(&core, &database, node, freePort())) << GetLastError();
    TraceLines lines;
    const Stray strays[] = {
        {WM_APP + 1, 2, 0, "unknown message 0x8001 (2, 0)"},
        {WM_USER + 9, 1, -1, "unknown message 0x409 (1, -1)"},
        {WM_TIMER, 5, 0, "unknown timer 5"},
        {CQuarnComm::SERVER_EVENT, 12345, WSAMAKESELECTREPLY(0x4000, 0), nullptr},  // no such socket: a trace line
        {CQuarnComm::LISTENING_EVENT, 1, 0, nullptr},
    };
    for (const Stray& stray : strays) {
        lines.clear();
        ASSERT_TRUE(PostMessageA(comm.GetWindow(), stray.message, stray.wParam, stray.lParam));
        pumpAWhile();
        std::vector<std::string> errors = lines.errors();
        if (stray.piece == nullptr) {
            EXPECT_TRUE(errors.empty()) << stray.message << ": " << testing::PrintToString(errors);
            continue;
        }
        ASSERT_EQ(1u, errors.size()) << stray.piece << ": " << testing::PrintToString(errors);
        EXPECT_NE(std::string::npos, errors[0].find(stray.piece)) << errors[0];
    }
    EXPECT_TRUE(comm.IsStarted());
    // Its real work goes on: a connection to its port is accepted.
    SOCKET peer = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in to = {};
    to.sin_family = AF_INET;
    to.sin_port = htons(comm.GetPort());
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(0, connect(peer, reinterpret_cast<sockaddr*>(&to), sizeof to)) << WSAGetLastError();
    EXPECT_TRUE(pumpUntil([&] { return comm.GetServerConnectionCount() == 1; }, 5000));
    closesocket(peer);
    EXPECT_TRUE(comm.Stop());
}

TEST(QuarnStrayMessages, TheWatchWindowAnswersEachUnknownMessageWithOneErrorLine)
{
    CQuarnSrvCore core;
    CQuarnDataBase database;
    CQuarnWatchWindow watch(core, database);
    ASSERT_NE(nullptr, watch.GetWindow());
    TraceLines lines;
    const Stray strays[] = {
        {WM_APP + 1, 2, 0, "unknown message 0x8001 (2, 0)"},
        {WM_USER, 0, 0, "unknown message 0x400 (0, 0)"},
        {WM_TIMER, 5, 0, "unknown timer 5"},
    };
    for (const Stray& stray : strays) {
        lines.clear();
        ASSERT_TRUE(PostMessageA(watch.GetWindow(), stray.message, stray.wParam, stray.lParam));
        pumpAWhile();
        std::vector<std::string> errors = lines.errors();
        ASSERT_EQ(1u, errors.size()) << stray.piece << ": " << testing::PrintToString(errors);
        EXPECT_NE(std::string::npos, errors[0].find(stray.piece)) << errors[0];
    }
    // Its timer still runs.
    EXPECT_TRUE(KillTimer(watch.GetWindow(), CQuarnWatchWindow::WATCH_TIMER));
}

} // namespace
