// Each terminal's mouse cursor as an element of the stage, and the stage's displays when a
// terminal leaves while its replicas still synchronise.
#include "StageFixtures.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <map>

namespace {

typedef std::vector<std::string> Lines;

std::string attributeOf(const std::string& desc)
{
    int width = 0, height = 0;
    std::string location, size, motion, decoration, attribute, path;
    CStage::parseElementDesc(desc, &width, &height, &location, &size, &motion, &decoration, &attribute, &path);
    return attribute;
}

// "own <terminal>" or "foreign <terminal>" for each cursor display the view made, in order.
Lines cursorsOf(StageTerminal& terminal)
{
    Lines cursors;
    const std::string prefix = "getCursorDisplay ";
    for (const std::string& line : terminal.calls()) {
        if (line.rfind(prefix, 0) != 0)
            continue;
        std::string rest = line.substr(prefix.size());
        size_t blank = rest.find(' ');
        cursors.push_back(rest.substr(0, blank) + " " + attributeOf(rest.substr(blank + 1)));
    }
    return cursors;
}

bool sameSet(Lines a, Lines b)
{
    std::sort(a.begin(), a.end());
    std::sort(b.begin(), b.end());
    return a == b;
}

TEST(StageCursor, EveryViewShowsEachTerminalsCursorOnceAndOnlyItsOwnAsOwn)
{
    StageSession session;
    StageTerminal& a = session.join("A");
    StageTerminal& b = session.join("B");
    const std::map<std::string, Lines> expected = {
        {"HOST", {"own HOST", "foreign A", "foreign B"}},
        {"A", {"foreign HOST", "own A", "foreign B"}},
        {"B", {"foreign HOST", "foreign A", "own B"}},
    };
    for (StageTerminal* terminal : {&session.host(), &a, &b})
        EXPECT_TRUE(waitUntil([&] { return sameSet(expected.at(terminal->id()), cursorsOf(*terminal)); }))
            << terminal->id() << " " << testing::PrintToString(cursorsOf(*terminal));
    // Its reference number decorates each cursor.
    EXPECT_TRUE(hasLineWith(a.view.display.entries(), "setDecoration 1"));

    // B installs a cursor that names A: on A it is someone else's cursor.
    const std::string forged = CStage::makeElementDesc("0 0", "size", "motion", "1", "A", "*.*", 120, 90);
    b.post("LOC_install", forged);
    EXPECT_TRUE(waitUntil([&] { return hasLineWith(a.calls(), "getCursorDisplay foreign " + forged); }))
        << testing::PrintToString(a.calls());
    EXPECT_TRUE(waitUntil([&] { return hasLineWith(b.calls(), "getCursorDisplay foreign " + forged); }));
    EXPECT_FALSE(hasLineWith(a.calls(), "getCursorDisplay own " + forged));
    Lines aCursors = cursorsOf(a);
    EXPECT_EQ(1, std::count(aCursors.begin(), aCursors.end(), "own A"));
}

TEST(StageCursor, ALeaveWhileTwentyReplicasSynchroniseReleasesEachDisplayOnce)
{
    TraceCapture trace;
    StageSession session;
    StageTerminal& host = session.host();
    Lines contents;
    for (int n = 0; n < 20; ++n) {
        contents.push_back(CStage::makeElementDesc(std::to_string(n) + " 10", "size", "motion", "0",
                                                   "12 *C:\\drop" + std::to_string(n) + ".txt *Nick",
                                                   "C:\\missing\\drop" + std::to_string(n) + ".txt", 120, 90));
        host.post("LOC_install", contents.back());
    }
    ASSERT_TRUE(waitUntil([&] {
        Lines calls = host.calls();
        return std::count_if(calls.begin(), calls.end(), [](const std::string& line) {
                   return line.rfind("onElementInstalled ", 0) == 0;
               }) == 21;
    }));
    StageTerminal& b = session.join("B", false);
    ASSERT_TRUE(waitUntil([&] { return hasLineWith(b.calls(), "getElementDisplay "); }));
    ULONGLONG start = GetTickCount64();
    session.hub.leave("B");
    ULONGLONG took = GetTickCount64() - start;
    EXPECT_LT(took, 10000u);
    printf("the leave took %llu ms\n", took);
    std::map<std::string, int> made, released;
    for (const std::string& line : b.calls()) {
        for (const char* prefix : {"getElementDisplay ", "getCursorDisplay own ", "getCursorDisplay foreign "})
            if (line.rfind(prefix, 0) == 0)
                ++made[line.substr(strlen(prefix))];
        if (line.rfind("releaseDisplay ", 0) == 0)
            ++released[line.substr(strlen("releaseDisplay "))];
    }
    EXPECT_FALSE(made.empty());
    for (const auto& display : made)
        EXPECT_EQ(1, display.second) << display.first;
    EXPECT_EQ(made.size(), released.size());
    for (const auto& display : released)
        EXPECT_EQ(1, display.second) << display.first;
    for (const auto& display : made)
        EXPECT_EQ(1u, released.count(display.first)) << display.first;
    EXPECT_EQ(0, trace.count("FATAL")) << trace.text();
}

} // namespace
