// The paths that end the process: our own misuse (a master without its lookup service) and a
// change that this copy made but could not spread to the others.
#include "GroupFixtures.h"

#include <gtest/gtest.h>

namespace {

struct FatalCase {
    const char* name;
    std::function<void()> run;
    const char* line;
};

class TerminalGroupFatal : public testing::TestWithParam<FatalCase> {};

} // namespace

TEST_P(TerminalGroupFatal, EndsTheProcessWithItsLine)
{
    const FatalCase& c = GetParam();
    if (isChild()) {
        childTracesToFile(false);
        c.run();
        exit(0); // not ended: the parent sees 0
    }
    TempDir dir;
    EXPECT_NE(0, runInChild(dir));
    std::vector<std::string> lines = dir.logLines();
    EXPECT_TRUE(hasLineWith(lines, c.line)) << testing::PrintToString(lines);
}

INSTANTIATE_TEST_SUITE_P(
    Paths, TerminalGroupFatal,
    testing::Values(
        FatalCase{"MasterWithoutLookup",
                  [] {
                      RecordingBroadcast broadcast;
                      TestGroup group(GROUP_ID, true, "HOST", 5000, "", "", nullptr, &broadcast);
                  },
                  "ASSERT: [ CTerminalGroup ] CTerminalGroup(): a master copy needs the lookup service"},
        // Not plugged into a session, so nothing can be sent.
        FatalCase{"AddSelfNotSpread",
                  [] {
                      LoneCopy copy(false);
                      copy.group.deliver("LOC_addSelf", "");
                  },
                  "FATAL ERROR: [ CTerminalGroup ] LOC_addSelf(): COP_addMember could not be spread"},
        FatalCase{"LostMemberNotSpread",
                  [] {
                      LoneCopy copy(true, "HOST");
                      copy.group.deliver("COP_addMember", "T1 1.1.1.1 7");
                      copy.group.deliver("LOC_removeSessionLostMember", "T1");
                  },
                  "FATAL ERROR: [ CTerminalGroup ] LOC_removeSessionLostMember(): COP_removeMember could not be "
                  "spread"}),
    [](const testing::TestParamInfo<FatalCase>& info) { return std::string(info.param.name); });
