#include "CTrace.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <regex>

namespace {

const char SEPARATOR[] = " ---- ---- ---- ---- ---- ---- ---- ----";

const int KEEP = 0x7fffffff; // leave the dump level at its default

struct FilterCase {
    const char* name;
    bool dump;
    int dumpLevel;
    const char* codeScope; // nullptr: none set
    std::function<void()> act;
    std::vector<std::string> printed;
};

void PrintTo(const FilterCase& c, std::ostream* out)
{
    *out << c.name;
}

class TraceFilter : public testing::TestWithParam<FilterCase> {};

TEST_P(TraceFilter, PrintsExactlyTheExpectedLines)
{
    const FilterCase& c = GetParam();
    if (isChild()) {
        childTracesToFile(c.dump);
        if (c.dumpLevel != KEEP)
            CTrace::setDumpLevel(c.dumpLevel);
        if (c.codeScope != nullptr)
            CTrace::setCodeScope(c.codeScope);
        c.act();
        exit(0);
    }
    TempDir dir;
    EXPECT_EQ(0, runInChild(dir));
    std::vector<std::string> expected;
    if (!c.printed.empty()) {
        expected.push_back(SEPARATOR);
        expected.insert(expected.end(), c.printed.begin(), c.printed.end());
    }
    EXPECT_EQ(expected, dir.logLines());
}

const std::string SCOPED_FOO = "[CHILD] [ Foo ] m";

INSTANTIATE_TEST_SUITE_P(
    Table, TraceFilter,
    testing::Values(
        // Dump flag on: every line whose scope lacks the silence prefix, whatever its level.
        FilterCase{"DumpOnScopedTrace", true, KEEP, nullptr, [] { CTrace::trace("Foo", " m", 0); }, {SCOPED_FOO}},
        FilterCase{"DumpOnIgnoresLevel", true, 5, nullptr, [] { CTrace::trace("Foo", " m", -3); }, {SCOPED_FOO}},
        FilterCase{"DumpOnSilencedScope", true, KEEP, nullptr, [] { CTrace::trace("//Foo", " m", 0); }, {}},
        FilterCase{"DumpOnEmptyScope", true, KEEP, nullptr, [] { CTrace::trace("", " m", 0); }, {"[CHILD]  m"}},
        FilterCase{"DumpOnAttention", true, KEEP, nullptr, [] { CTrace::scopedAttention("Foo", " m"); },
                   {"[CHILD] ATTENTION: [ Foo ] m"}},
        FilterCase{"DumpOnWarning", true, KEEP, nullptr, [] { CTrace::warning(" m"); }, {"[CHILD] WARNING:  m"}},
        // Dump flag off with the default level: only unconditional lines.
        FilterCase{"DumpOffTrace", false, KEEP, nullptr, [] { CTrace::trace("Foo", " m", 0); }, {}},
        FilterCase{"DumpOffAttention", false, KEEP, nullptr, [] { CTrace::attention(" m"); }, {}},
        FilterCase{"DumpOffWarning", false, KEEP, nullptr, [] { CTrace::scopedWarning("Foo", " m"); }, {}},
        FilterCase{"DumpOffError", false, KEEP, nullptr, [] { CTrace::scopedError("Foo", " m", -1); },
                   {"[CHILD] ERROR: [ Foo ] m"}},
        FilterCase{"DumpOffWrite", false, KEEP, nullptr, [] { CTrace::write(" m"); }, {"[CHILD]  m"}},
        FilterCase{"DumpOffScopedWrite", false, KEEP, nullptr, [] { CTrace::scopedWrite("Foo", " m"); }, {SCOPED_FOO}},
        FilterCase{"DumpOffScopedWriteNoScope", false, KEEP, nullptr, [] { CTrace::scopedWrite("", " m"); },
                   {"[CHILD]  m"}},
        // Dump level: a line prints when its level is at or above it.
        FilterCase{"Level0PrintsLevel0", false, 0, nullptr, [] { CTrace::trace("Foo", " m", 0); }, {SCOPED_FOO}},
        FilterCase{"Level0PrintsLevel1", false, 0, nullptr, [] { CTrace::out(" m", 1); }, {"[CHILD]  m"}},
        FilterCase{"Level0HidesLevelMinus1", false, 0, nullptr, [] { CTrace::out(" m", -1); }, {}},
        FilterCase{"Level1HidesLevel0", false, 1, nullptr, [] { CTrace::trace("Foo", " m", 0); }, {}},
        FilterCase{"Level1PrintsLevel1", false, 1, nullptr, [] { CTrace::trace("Foo", " m", 1); }, {SCOPED_FOO}},
        FilterCase{"Level0PrintsSilencedScopeNot", false, 0, nullptr, [] { CTrace::trace("//Foo", " m", 5); }, {}},
        // Code-scope set: named scopes only, whatever the dump flag and level.
        FilterCase{"ScopeSetNamedScopeDumpOff", false, KEEP, "Clock;CThread", [] { CTrace::trace("Clock", " m", -5); },
                   {"[CHILD] [ Clock ] m"}},
        FilterCase{"ScopeSetSecondName", true, KEEP, "Clock;CThread", [] { CTrace::trace("CThread", " m", 0); },
                   {"[CHILD] [ CThread ] m"}},
        FilterCase{"ScopeSetHidesOtherScope", true, KEEP, "Clock;CThread", [] { CTrace::trace("Foo", " m", 0); }, {}},
        FilterCase{"ScopeSetHidesEmptyScope", true, KEEP, "Clock;CThread", [] { CTrace::trace("", " m", 0); }, {}},
        FilterCase{"ScopeSetEmptyTokenStillHidesEmptyScope", true, KEEP, "a;;b", [] { CTrace::trace("", " m", 0); }, {}},
        FilterCase{"ScopeSetIsCaseSensitive", true, KEEP, "clock", [] { CTrace::trace("Clock", " m", 0); }, {}},
        FilterCase{"ScopeSetOpensSilencedScope", false, KEEP, "//CVector", [] { CTrace::trace("//CVector", " m", 0); },
                   {"[CHILD] [ //CVector ] m"}},
        FilterCase{"ScopeSetTrailingDelimiter", false, KEEP, "Clock;", [] { CTrace::trace("Clock", " m", 0); },
                   {"[CHILD] [ Clock ] m"}},
        FilterCase{"ScopeSetLeavesOutToDumpRules", false, KEEP, "Clock", [] { CTrace::out(" m", 0); }, {}},
        FilterCase{"ScopeSetAddsUp", false, KEEP, "Clock",
                   [] {
                       CTrace::setCodeScope("Other");
                       CTrace::trace("Clock", " a", 0);
                       CTrace::trace("Other", " b", 0);
                   },
                   {"[CHILD] [ Clock ] a", "[CHILD] [ Other ] b"}},
        // A thread whose name carries the silence prefix: out() is silent, write() is not.
        FilterCase{"SilencedThreadName", false, KEEP, nullptr,
                   [] {
                       CTrace::setThreadName("//quiet");
                       CTrace::setDumpOn();
                       CTrace::out(" a", 0);
                       CTrace::trace("Foo", " b", 0);
                       CTrace::write(" c");
                   },
                   {"[//quiet]  c"}}),
    [](const testing::TestParamInfo<FilterCase>& info) { return std::string(info.param.name); });

// isTraced() answers exactly whether trace() with the same scope and level writes its line.
struct TracedCase {
    const char* name;
    bool dump;
    int dumpLevel;
    const char* codeScope;  // nullptr: none set
    const char* threadName; // nullptr: the child's own name
    const char* scope;
    int level;
    bool traced;
};

void PrintTo(const TracedCase& c, std::ostream* out)
{
    *out << c.name;
}

class TraceIsTraced : public testing::TestWithParam<TracedCase> {};

TEST_P(TraceIsTraced, AgreesWithWhatTraceWrites)
{
    const TracedCase& c = GetParam();
    if (isChild()) {
        childTracesToFile(false);
        if (c.threadName != nullptr)
            CTrace::setThreadName(c.threadName);
        if (c.dumpLevel != KEEP)
            CTrace::setDumpLevel(c.dumpLevel);
        if (c.codeScope != nullptr)
            CTrace::setCodeScope(c.codeScope);
        if (c.dump)
            CTrace::setDumpOn();
        bool traced = CTrace::isTraced(c.scope, c.level);
        CTrace::trace(c.scope, " m", c.level);
        CTrace::write(traced ? " answered traced" : " answered silent");
        exit(0);
    }
    TempDir dir;
    EXPECT_EQ(0, runInChild(dir));
    std::vector<std::string> lines = dir.logLines();
    bool written = false;
    for (const std::string& line : lines)
        written |= line.size() >= 2 && line.compare(line.size() - 2, 2, " m") == 0;
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(c.traced ? "  answered traced" : "  answered silent", lines.back().substr(lines.back().find(']') + 1));
    EXPECT_EQ(c.traced, written) << testing::PrintToString(lines);
}

INSTANTIATE_TEST_SUITE_P(
    Table, TraceIsTraced,
    testing::Values(TracedCase{"DumpOn", true, KEEP, nullptr, nullptr, "Foo", 0, true},
                    TracedCase{"DumpOnEmptyScope", true, KEEP, nullptr, nullptr, "", 0, true},
                    TracedCase{"DumpOnSilencedScope", true, KEEP, nullptr, nullptr, "//Foo", 0, false},
                    TracedCase{"DumpOnSilencedThread", true, KEEP, nullptr, "//quiet", "Foo", 0, false},
                    TracedCase{"DumpOffDefaultLevel", false, KEEP, nullptr, nullptr, "Foo", 0, false},
                    TracedCase{"DumpOffLevelReached", false, 0, nullptr, nullptr, "Foo", 0, true},
                    TracedCase{"DumpOffLevelMissed", false, 1, nullptr, nullptr, "Foo", 0, false},
                    TracedCase{"DumpOffSilencedScopeAtLevel", false, 0, nullptr, nullptr, "//Foo", 3, false},
                    TracedCase{"ScopeSetNamedScope", false, KEEP, "Clock;CThread", nullptr, "Clock", -5, true},
                    TracedCase{"ScopeSetOtherScope", true, KEEP, "Clock;CThread", nullptr, "Foo", 0, false},
                    TracedCase{"ScopeSetEmptyScope", true, KEEP, "Clock;;CThread", nullptr, "", 0, false},
                    TracedCase{"ScopeSetOpensSilencedScope", false, KEEP, "//CVector", nullptr, "//CVector", 0, true},
                    TracedCase{"ScopeSetIgnoresSilencedThread", true, KEEP, "Clock", "//quiet", "Clock", 0, true}),
    [](const testing::TestParamInfo<TracedCase>& info) { return std::string(info.param.name); });

// A thread's silence follows its latest name.
TEST(Trace, IsTracedFollowsTheThreadsName)
{
    if (isChild()) {
        childTracesToFile(true);
        std::string answers;
        Worker other;
        other.run([&] {
            answers += CTrace::isTraced("Foo") ? "1" : "0";
            CTrace::setThreadName("//quiet");
            answers += CTrace::isTraced("Foo") ? "1" : "0";
            CTrace::setThreadName("LOUD");
            answers += CTrace::isTraced("Foo") ? "1" : "0";
        });
        CTrace::write(" " + answers);
        exit(0);
    }
    TempDir dir;
    EXPECT_EQ(0, runInChild(dir));
    std::vector<std::string> lines = dir.logLines();
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ("[CHILD]  101", lines.back());
}

TEST(Trace, LogLinesCarryLocalTimeStamp)
{
    if (isChild()) {
        childTracesToFile(false);
        CTrace::setTimeStamp(true);
        CTrace::write(" m");
        exit(0);
    }
    TempDir dir;
    SYSTEMTIME before;
    GetLocalTime(&before);
    EXPECT_EQ(0, runInChild(dir));
    SYSTEMTIME after;
    GetLocalTime(&after);
    std::string bytes = dir.logBytes();
    std::smatch m;
    std::regex form("(\\d\\d)/(\\d\\d) (\\d\\d):(\\d\\d):(\\d\\d)  ---- ---- ---- ---- ---- ---- ---- ----\r\n"
                    "(\\d\\d)/(\\d\\d) \\d\\d:\\d\\d:\\d\\d \\[CHILD\\]  m\r\n");
    ASSERT_TRUE(std::regex_match(bytes, m, form)) << bytes;
    int month = std::stoi(m[1]);
    int day = std::stoi(m[2]);
    EXPECT_TRUE((month == before.wMonth && day == before.wDay) || (month == after.wMonth && day == after.wDay));
    EXPECT_LT(std::stoi(m[3]), 24);
    EXPECT_LT(std::stoi(m[4]), 60);
    EXPECT_LT(std::stoi(m[5]), 61);
}

TEST(Trace, LogFileIsAppendedNotReplaced)
{
    if (isChild()) {
        childTracesToFile(false);
        CTrace::write(" m");
        exit(0);
    }
    TempDir dir;
    FILE* file = fopen("log.dat", "wb");
    ASSERT_NE(file, nullptr);
    fputs("earlier\r\n", file);
    fclose(file);
    EXPECT_EQ(0, runInChild(dir));
    EXPECT_EQ(std::string("earlier\r\n") + SEPARATOR + "\r\n[CHILD]  m\r\n", dir.logBytes());
}

TEST(Trace, SeparatorBeforeEachChangeOfThread)
{
    if (isChild()) {
        childTracesToFile(false);
        CTrace::write(" a");
        CTrace::write(" b");
        {
            Worker other;
            other.run([] {
                CTrace::setThreadName("OTHER");
                CTrace::write(" c");
                CTrace::write(" d");
            });
        }
        CTrace::write(" e");
        exit(0);
    }
    TempDir dir;
    EXPECT_EQ(0, runInChild(dir));
    std::vector<std::string> expected = {SEPARATOR,     "[CHILD]  a", "[CHILD]  b", SEPARATOR,
                                         "[OTHER]  c", "[OTHER]  d", SEPARATOR,    "[CHILD]  e"};
    EXPECT_EQ(expected, dir.logLines());
}

TEST(Trace, ThreadNameIsAnnouncedUnderTheOldTag)
{
    if (isChild()) {
        childTracesToFile(true);
        Worker other;
        other.run([] {
            CTrace::setThreadName("WORKER");
            CTrace::write(" x");
        });
        exit(0);
    }
    TempDir dir;
    EXPECT_EQ(0, runInChild(dir));
    std::vector<std::string> lines = dir.logLines();
    ASSERT_EQ(3u, lines.size());
    EXPECT_EQ(SEPARATOR, lines[0]);
    std::smatch m;
    ASSERT_TRUE(std::regex_match(lines[1], m, std::regex("\\[([0-9a-f]{8})\\] .*\\b([0-9a-f]{8})\\b.*\\[WORKER\\].*")))
        << lines[1];
    EXPECT_EQ(m[1], m[2]);
    EXPECT_EQ("[WORKER]  x", lines[2]);
}

TEST(Trace, SecondInstanceOnlyAnnouncesItself)
{
    if (isChild()) {
        childTracesToFile(true);
        { CTrace second; }
        CTrace::write(" still working");
        exit(0);
    }
    TempDir dir;
    EXPECT_EQ(0, runInChild(dir));
    std::vector<std::string> lines = dir.logLines();
    ASSERT_EQ(3u, lines.size());
    EXPECT_NE(std::string::npos, lines[1].find("already exists")) << lines[1];
    EXPECT_EQ("[CHILD]  still working", lines[2]);
}

TEST(Trace, ConsoleLinesGoToStandardOutput)
{
    std::string captured;
    Worker other;
    other.run([&] {
        testing::internal::CaptureStdout();
        CTrace::setThreadName("CONSOLE");
        CTrace::write(" on the console");
        captured = testing::internal::GetCapturedStdout();
    });
    EXPECT_NE(std::string::npos, captured.find("\n[CONSOLE]  on the console\n")) << captured;
}

TEST(Trace, CounterReportsEveryTwentiethObjectAndBelowZero)
{
    if (isChild()) {
        childTracesToFile(true);
        for (int i = 0; i < 41; ++i)
            CTrace::countUp();
        for (int i = 0; i < 42; ++i)
            CTrace::countDown("CIgnored");
        exit(0);
    }
    TempDir dir;
    EXPECT_EQ(0, runInChild(dir));
    std::vector<std::string> expected = {SEPARATOR, "[CHILD] COUNTER record.[20]", "[CHILD] COUNTER record.[40]",
                                         "[CHILD] COUNTER velow zero.[-1]"};
    EXPECT_EQ(expected, dir.logLines());
}

TEST(Trace, BoxesShowTheirTextCaptionAndIcon)
{
    clearShownBoxes();
    CTrace::attentionBox("look here");
    CTrace::warningBox("careful");
    std::vector<ShownBox> boxes = shownBoxes();
    ASSERT_EQ(2u, boxes.size());
    EXPECT_EQ("look here", boxes[0].text);
    EXPECT_EQ("Attention", boxes[0].caption);
    EXPECT_EQ(UINT(MB_ICONEXCLAMATION | MB_OK), boxes[0].type);
    EXPECT_EQ("careful", boxes[1].text);
    EXPECT_EQ("Warning", boxes[1].caption);
    EXPECT_EQ(UINT(MB_ICONINFORMATION | MB_OK), boxes[1].type);
}

// The stop sequence: the message with the thread's id, then the ABORT line, then the exit.
void expectStopLines(const std::vector<std::string>& lines, const std::string& message)
{
    ASSERT_GE(lines.size(), 3u);
    EXPECT_EQ(SEPARATOR, lines[0]);
    EXPECT_TRUE(std::regex_match(lines[1], std::regex("\\[CHILD\\] \\[[0-9a-f]{8}\\] " + message)))
        << lines[1] << " should hold " << message;
    EXPECT_TRUE(std::regex_match(lines[2], std::regex("\\[CHILD\\] ABORT: at\\d\\d/\\d\\d \\d\\d:\\d\\d:\\d\\d")))
        << lines[2];
}

struct StopCase {
    const char* name;
    int code;
    int exitStatus;
};

void PrintTo(const StopCase& c, std::ostream* out)
{
    *out << c.name;
}

class TraceAbort : public testing::TestWithParam<StopCase> {};

void writeAtExit()
{
    CTrace::write(" exit handlers ran");
}

TEST_P(TraceAbort, EndsWithTheCodeOrAbnormally)
{
    const StopCase& c = GetParam();
    if (isChild()) {
        childTracesToFile(false);
        atexit(writeAtExit);
        CTrace::abort("bye", c.code);
        exit(0);
    }
    TempDir dir;
    EXPECT_EQ(c.exitStatus, runInChild(dir));
    std::vector<std::string> lines = dir.logLines();
    expectStopLines(lines, "bye");
    bool normalExit = c.code >= 0 && c.code <= 255;
    ASSERT_EQ(normalExit ? 4u : 3u, lines.size());
    if (normalExit) {
        EXPECT_EQ("[CHILD]  exit handlers ran", lines[3]);
    }
}

INSTANTIATE_TEST_SUITE_P(Codes, TraceAbort,
                         testing::Values(StopCase{"Code0", 0, 0}, StopCase{"Code255", 255, 255},
                                         StopCase{"CodeMinus1", -1, ABNORMAL_EXIT},
                                         StopCase{"Code256", 256, ABNORMAL_EXIT}),
                         [](const testing::TestParamInfo<StopCase>& info) { return std::string(info.param.name); });

TEST(Trace, FatalErrorStops)
{
    if (isChild()) {
        childTracesToFile(false);
        CTrace::scopedFatalError("Foo", " boom", -1);
        exit(0);
    }
    TempDir dir;
    EXPECT_EQ(ABNORMAL_EXIT, runInChild(dir));
    expectStopLines(dir.logLines(), "FATAL ERROR: \\[ Foo \\] boom");
}

TEST(Trace, ErrorStopsOnlyWithAbortOnError)
{
    if (isChild()) {
        childTracesToFile(false);
        CTrace::setAbortOnError(true);
        CTrace::error(" e", 7);
        exit(0);
    }
    TempDir dir;
    EXPECT_EQ(7, runInChild(dir));
    expectStopLines(dir.logLines(), "ERROR:  e");
}

TEST(Trace, FailedAssertionStops)
{
    if (isChild()) {
        childTracesToFile(false);
        CTrace::assertTrue(true, " fine", -1);
        CTrace::scopedAssertTrue(false, "Foo", " broken", -1);
        exit(0);
    }
    TempDir dir;
    EXPECT_EQ(ABNORMAL_EXIT, runInChild(dir));
    expectStopLines(dir.logLines(), "ASSERT: \\[ Foo \\] broken");
}

} // namespace
