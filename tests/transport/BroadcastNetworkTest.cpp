// The broadcast session handle in one process: its address table, plugging elements in and
// out, notices between two handles over loopback ("@ALL_TERMINAL" to every registered address,
// a terminal id to its address, nothing without one), and its end.
#include "SessionTestKit.h"

#include "CBroadcastNetwork.h"
#include "CIllegalArgumentException.h"
#include "CIllegalStateException.h"
#include "CNullPointerException.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

namespace {

using Lines = std::vector<std::string>;

class BroadcastNetworkTest : public testing::Test {
protected:
    WinsockUse winsock;
    TempDir dir;
};

// A handle with a NoteElement "VOICE" plugged in, made, closed and deleted on the loop thread.
struct Terminal {
    Terminal(LoopThread& loop, Journal& journal, const std::string& terminalId) : loop(loop), terminalId(terminalId)
    {
        loop.run([&] {
            handle.reset(new CBroadcastNetwork(terminalId, &port, "BC"));
            voice.reset(new NoteElement(journal, "VOICE"));
            voice->start(terminalId + "-VOICE");
            handle->plugIn("VOICE", voice.get());
        });
    }
    ~Terminal()
    {
        loop.run([&] {
            std::vector<std::string> ids = handle->pluggedIds();
            if (std::find(ids.begin(), ids.end(), "VOICE") != ids.end())
                handle->plugOut("VOICE");
            handle->close();
            voice.reset();
            handle.reset();
        });
    }
    void notice(const std::string& to, const std::string& text) { voice->sendNoticeStr(to, "VOICE", "INS_note", text); }

    LoopThread& loop;
    std::string terminalId;
    int port = 0;
    std::unique_ptr<CBroadcastNetwork> handle;
    std::unique_ptr<NoteElement> voice;
};

int countOf(Journal& journal, const std::string& line)
{
    Lines lines = journal.entries();
    return static_cast<int>(std::count(lines.begin(), lines.end(), line));
}

} // namespace

TEST_F(BroadcastNetworkTest, TheAddressTableReplacesRemovesAndListsInParallel)
{
    LoopThread loop;
    loop.run([&] {
        int port = 0;
        CBroadcastNetwork handle("T0", &port, "BC");
        EXPECT_GE(port, 10000);
        std::vector<std::string> ips{"x"};
        std::vector<int> ports{1};
        handle.getAllAddresses(ips, ports);
        EXPECT_TRUE(ips.empty() && ports.empty()) << "the own terminal only once registered";

        handle.setAddress("T1", "198.18.0.1", 4001);
        std::string ip;
        int portNum = 0;
        handle.getAddress("T1", ip, portNum);
        EXPECT_EQ("198.18.0.1", ip);
        EXPECT_EQ(4001, portNum);
        handle.setAddress("T1", "pc-one", 4011);
        handle.getAddress("T1", ip, portNum);
        EXPECT_EQ("pc-one", ip);
        EXPECT_EQ(4011, portNum);

        handle.setAddress("T2", "198.18.0.2", 4002);
        handle.setAddress("T3", "198.18.0.3", 4003);
        handle.getAllAddresses(ips, ports);
        ASSERT_EQ(3u, ips.size());
        ASSERT_EQ(3u, ports.size());
        for (size_t i = 0; i < ips.size(); ++i) {
            std::string expected = ports[i] == 4011 ? "pc-one" : "198.18.0." + std::to_string(ports[i] - 4000);
            EXPECT_EQ(expected, ips[i]) << "entry " << i << " belongs to one terminal in both lists";
        }

        handle.removeAddress("T2");
        handle.removeAddress("T9"); // nobody's: nothing changes
        EXPECT_THROW(handle.getAddress("T2", ip, portNum), CNullPointerException);
        handle.getAllAddresses(ips, ports);
        EXPECT_EQ((std::vector<std::string>{"pc-one", "198.18.0.3"}), ips);
        EXPECT_EQ((std::vector<int>{4011, 4003}), ports);
        handle.close();
    });
}

TEST_F(BroadcastNetworkTest, ATerminalPastTheAddressLimitIsRefused)
{
    LoopThread loop;
    TraceCapture trace;
    loop.run([&] {
        int port = 0;
        CBroadcastNetwork handle("T0", &port, "BC");
        for (size_t i = 0; i <= CBroadcastNetwork::ADDRESS_LIMIT; ++i)
            handle.setAddress("T" + std::to_string(i), "198.18.0.1", 5000);
        handle.setAddress("T0", "198.18.0.2", 5001); // a known one is still replaced
        std::vector<std::string> ips;
        std::vector<int> ports;
        handle.getAllAddresses(ips, ports);
        EXPECT_EQ(CBroadcastNetwork::ADDRESS_LIMIT, ips.size());
        std::string ip;
        int portNum = 0;
        handle.getAddress("T0", ip, portNum);
        EXPECT_EQ(5001, portNum);
        handle.close();
    });
    EXPECT_EQ(1, trace.count("ERROR: [ CBroadcastNetwork ] setAddress(): 1024 terminals have an address, [T1024] is"
                             " refused"));
}

TEST_F(BroadcastNetworkTest, NoticesGoToTheRegisteredAddressesOnly)
{
    LoopThread loop;
    Journal journal;
    TraceCapture trace;
    {
        Terminal a(loop, journal, "A"), b(loop, journal, "B");
        a.handle->setAddress("A", "127.0.0.1", a.port);
        a.handle->setAddress("B", "127.0.0.1", b.port);

        a.notice("@ALL_TERMINAL", "to all");
        a.notice("B", "to B");
        a.notice("C", "to nobody");
        ASSERT_TRUE(journal.waitFor(2 + 3, 10000)) << "two onPlugIn, three notices";
        a.handle->removeAddress("B");
        a.notice("@ALL_TERMINAL", "after the removal");
        a.notice("B", "to B after the removal");
        b.handle->setAddress("A", "localhost", a.port);
        b.notice("A", "last");
        ASSERT_TRUE(journal.waitFor(2 + 3 + 2, 10000));
        Sleep(300);
    }
    Lines lines = journal.entries();
    lines.resize(std::min<size_t>(lines.size(), 7)); // then the two plug-outs
    EXPECT_EQ(1, countOf(journal, "A VOICE INS_note A [to all]")) << "A's own copy, from its registered address";
    EXPECT_EQ(1, countOf(journal, "B VOICE INS_note A [to all]"));
    EXPECT_EQ(1, countOf(journal, "B VOICE INS_note A [to B]"));
    EXPECT_EQ(1, countOf(journal, "A VOICE INS_note A [after the removal]"));
    EXPECT_EQ(1, countOf(journal, "A VOICE INS_note B [last]"));
    EXPECT_EQ(9u, journal.entries().size()) << "nothing more came";
    for (const std::string& line : lines)
        EXPECT_EQ(std::string::npos, line.find("nobody")) << line;
    EXPECT_EQ(2, trace.count("the destination address was not obtained: ")) << "C, then B after its removal";
    EXPECT_EQ(2, trace.count("sendingRun(): the message is dropped"));
}

TEST_F(BroadcastNetworkTest, PlugInAndPlugOutRefuseWhatTheTableForbids)
{
    LoopThread loop;
    Journal journal;
    loop.run([&] {
        int port = 0;
        CBroadcastNetwork handle("T0", &port, "BC");
        NoteElement voice(journal, "VOICE"), other(journal, "OTHER"), twin(journal, "VOICE");
        voice.start("VOICE");
        other.start("OTHER");
        twin.start("TWIN");
        handle.plugIn("ignored", &voice); // the id comes from the element
        EXPECT_EQ((Lines{"VOICE"}), handle.pluggedIds());
        EXPECT_THROW(handle.plugIn("VOICE", &voice), CIllegalArgumentException);
        EXPECT_THROW(handle.plugIn("OTHER", &twin), CIllegalArgumentException) << "one element id, one element";
        EXPECT_THROW(handle.plugOut("OTHER"), CIllegalArgumentException);

        // Closed: the element stays in until plugged out, nothing new comes in.
        handle.close();
        EXPECT_EQ((Lines{"VOICE"}), handle.pluggedIds());
        EXPECT_THROW(handle.plugIn("OTHER", &other), CIllegalStateException);
        handle.plugOut("VOICE");
        EXPECT_THROW(handle.plugOut("VOICE"), CIllegalArgumentException);
        EXPECT_TRUE(handle.pluggedIds().empty());
    });
    EXPECT_EQ((Lines{"T0 VOICE onPlugIn", "T0 VOICE onPlugOut"}), journal.entries());
}

TEST_F(BroadcastNetworkTest, CloseAndDeleteLeaveNoThreadOrHandleBehind)
{
    LoopThread loop;
    Journal journal;
    // The first handle of the process also starts what Windows Sockets keeps for good.
    { Terminal warm(loop, journal, "W"); }
    Sleep(200);
    int threads = threadCount(), handles = handleCount();
    for (int round = 0; round < 3; ++round) {
        Terminal a(loop, journal, "A");
        a.handle->setAddress("A", "127.0.0.1", a.port);
        a.notice("@ALL_TERMINAL", "round " + std::to_string(round));
        ASSERT_TRUE(waitUntil([&] { return countOf(journal, "A VOICE INS_note A [round " + std::to_string(round) + "]") == 1; }));
        EXPECT_GE(threadCount(), threads + 2) << "the connection's two threads and the element's handler";
    }
    ASSERT_TRUE(waitUntil([&] { return threadCount() == threads; }, 5000)) << threadCount() << " threads, not " << threads;
    EXPECT_EQ(handles, handleCount());
}
