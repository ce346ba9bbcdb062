// Calls that do not belong where they arrive: local methods sent by a peer, instructions in
// the wrong role or after the synchronisation. Each is an error line and changes nothing; the
// process lives on and the same stages still work.
#include "StageFixtures.h"

#include "CFileCopy.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <fstream>

namespace {

typedef std::vector<std::string> Lines;

struct WrongCall {
    bool onHost; // else on the slave A
    const char* method;
    std::string argument;
    bool buffer;
    const char* error;
};

TEST(StageMisuse, CallsInTheWrongRoleOrAtTheWrongTimeAreReportedAndChangeNothing)
{
    StageSession session;
    StageTerminal& host = session.host();
    StageTerminal& a = session.join("A");
    ASSERT_TRUE(session.settle());
    const char* slaveOnly = "only a slave copy takes it, this is the master: ignored";
    const char* masterOnly = "only the master copy takes it, this is a slave: ignored";
    const char* synced = "the copy is synchronised already: ignored";
    const char* noBackground = "no such background: ignored";
    const std::vector<WrongCall> cases = {
        {true, "INS_setCustomBgDataId", "5", false, slaveOnly},
        {true, "INS_setCustomBgSize", "4 4", false, slaveOnly},
        {true, "INS_initReferNum", "9", false, slaveOnly},
        {true, "INS_initCustomBgData", std::string(48, 'x'), true, slaveOnly},
        {true, "INS_initBackGround", "2", false, slaveOnly},
        {true, "INS_initLowerLayer", "x", false, slaveOnly},
        {true, "INS_changeCustomBgData", std::string(48, 'x'), true, slaveOnly},
        {true, "INS_changeBackGround", "2", false, slaveOnly},
        {true, "INS_moveToTop", "x", false, slaveOnly},
        {true, "INS_moveToBottom", "x", false, slaveOnly},
        {true, "INS_moveToUpperLayer", "x", false, slaveOnly},
        {false, "REQ_changeTop", "x", false, masterOnly},
        {false, "REQ_changeBottom", "x", false, masterOnly},
        {false, "REQ_placeTopMost", "x", false, masterOnly},
        {false, "INS_initReferNum", "9", false, synced},
        {false, "INS_initCustomBgData", "", true, synced},
        {false, "INS_initBackGround", "2", false, synced},
        {false, "INS_initLowerLayer", "x", false, synced},
        {false, "INS_changeBackGround", "5", false, noBackground},
        {false, "INS_changeBackGround", "-1", false, noBackground},
        {false, "INS_changeBackGround", "2147483648", false, noBackground},
    };
    for (const WrongCall& c : cases) {
        TraceCapture trace;
        size_t hostBefore = host.calls().size(), aBefore = a.calls().size();
        StageTerminal& target = c.onHost ? host : a;
        target.deliverBytes(c.method, reinterpret_cast<const unsigned char*>(c.argument.data()),
                            static_cast<int>(c.argument.size()), c.onHost ? "A" : "HOST");
        Sleep(50); // anything sent would have arrived
        EXPECT_EQ(1, trace.count(std::string("ERROR: [ CStage ] ") + c.method + "(")) << c.method << trace.text();
        EXPECT_EQ(1, trace.count(c.error)) << c.method << trace.text();
        EXPECT_TRUE(host.calls(hostBefore).empty()) << c.method << testing::PrintToString(host.calls(hostBefore));
        EXPECT_TRUE(a.calls(aBefore).empty()) << c.method << testing::PrintToString(a.calls(aBefore));
    }
    EXPECT_EQ(0, host.stage->getReferNum());
    EXPECT_EQ(1, a.stage->getReferNum());
    // Both still work: the host's background reaches A.
    host.post("LOC_updateBackGround", "3");
    EXPECT_TRUE(waitUntil([&] { return hasLineWith(a.calls(), "changeBackGround 3"); }));
}

// The local methods of the host's stage, sent by a peer, never run; posted on the own
// terminal each works.
TEST(StageMisuse, LocalMethodsRunOnlyWhenPostedOnTheOwnTerminal)
{
    TempDir dir;
    std::ofstream(dir.file("dropped.txt")) << "dropped";
    CFileCopy copy;
    copy.start("FILE_COPY");
    StageSetup setup;
    setup.fileCopy = &copy;
    {
        StageSession session(setup);
        StageTerminal& host = session.host();
        StageTerminal& a = session.join("A");
        ASSERT_TRUE(session.settle());
        const std::string job = CFileCopy::makeCopyJobDesc(host.stage->getObjectId(), "LOC_onFileCopied",
                                                           dir.file("dropped.txt"), dir.file("copied.txt"), "");
        const std::vector<std::pair<std::string, std::string>> calls = {
            {"LOC_copy", job},
            {"LOC_onFileCopied", "a report"},
            {"LOC_updateBackGround", "2"},
            {"LOC_updateCustomBgFile", dir.file("dropped.txt")},
            {"LOC_changeTop", "k"},
            {"LOC_install", CStage::makeElementDesc("0 0", "size", "motion", "1", "A", "*.*", 120, 90)},
            {"LOC_uninstallAll", "A"},
        };
        TraceCapture trace;
        size_t hostBefore = host.calls().size(), aBefore = a.calls().size();
        for (const auto& call : calls)
            session.hub.terminal("A").proxy().sendNotice("HOST", CStage::ELEMENT_ID, call.first,
                                                         static_cast<unsigned>(call.second.size()),
                                                         call.second.data());
        ASSERT_TRUE(waitUntil([&] {
            return trace.count("onProcessMessage(): a peer's call of a local method") == static_cast<int>(calls.size());
        })) << trace.text();
        Sleep(200);
        EXPECT_TRUE(host.calls(hostBefore).empty()) << testing::PrintToString(host.calls(hostBefore));
        EXPECT_TRUE(a.calls(aBefore).empty()) << testing::PrintToString(a.calls(aBefore));
        EXPECT_FALSE(fileBytes(dir.file("copied.txt")) == "dropped");

        // Posted here, each does its work.
        host.post("LOC_copy", job);
        EXPECT_TRUE(waitUntil([&] { return hasLineWith(host.calls(), "onFileCopied " + job); }));
        EXPECT_EQ("dropped", fileBytes(dir.file("copied.txt")));
        host.post("LOC_onFileCopied", "a report");
        EXPECT_TRUE(waitUntil([&] { return hasLineWith(host.calls(), "onFileCopied a report"); }));
        host.post("LOC_updateBackGround", "2");
        EXPECT_TRUE(waitUntil([&] { return hasLineWith(a.calls(), "changeBackGround 2"); }));
        host.post("LOC_changeTop", "k");
        EXPECT_TRUE(waitUntil([&] { return hasLineWith(a.calls(), "moveToTop k"); }));
        host.post("LOC_uninstallAll", "A");
        EXPECT_TRUE(waitUntil([&] { return hasLineWith(host.calls(), "releaseDisplay"); }));
    }
    copy.end();
}

} // namespace
