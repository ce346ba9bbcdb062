// tavlang_check as a program: one line for each missing or wrong resource, and a failing exit
// status, shown on a library built without one string, one dialog and one bitmap.
#include "LoadedLibrary.h"
#include "TestSupport.h"

#include <windows.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

namespace {

using ::testing::AllOf;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::StartsWith;

struct CheckRun {
    DWORD status = 0;
    std::vector<std::string> lines;
};

CheckRun runChecker(const std::string& arguments) {
    TempDir dir;
    std::string program = LoadedLibrary::besideThisProgram("tavlang_check.exe");
    CheckRun run;
    HANDLE process = startProcess(program, "\"" + program + "\" " + arguments, dir.path(), dir.file("out.txt"));
    if (!process) return run;
    if (WaitForSingleObject(process, 120000) != WAIT_OBJECT_0) {
        TerminateProcess(process, 1);
        WaitForSingleObject(process, INFINITE);
        ADD_FAILURE() << "tavlang_check did not end in time";
    }
    GetExitCodeProcess(process, &run.status);
    CloseHandle(process);
    std::istringstream output(fileBytes(dir.file("out.txt")));
    for (std::string line; std::getline(output, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        run.lines.push_back(line);
    }
    return run;
}

TEST(TavlangCheck, NamesExactlyTheMissingStringDialogAndBitmapAndFails) {
    CheckRun run = runChecker("\"" + LoadedLibrary::besideThisProgram("tavlang_incomplete.dll") + "\"");
    EXPECT_EQ(1u, run.status);
    EXPECT_THAT(run.lines,
                ElementsAre(AllOf(StartsWith("STRING 63008: "), HasSubstr("\"Cannot copy file.\""),
                                  HasSubstr("found none")),
                            AllOf(StartsWith("DIALOG 221: "), HasSubstr("\"annotation\""), HasSubstr("found none")),
                            AllOf(StartsWith("BITMAP IDB_COVER_BG: "), HasSubstr("129 x 18 at 24 bits"),
                                  HasSubstr("found none"))));
}

TEST(TavlangCheck, PassesTheLibraryBesideIt) {
    CheckRun run = runChecker("");
    EXPECT_EQ(0u, run.status);
    EXPECT_THAT(run.lines, ElementsAre());
}

TEST(TavlangCheck, ReportsALibraryThatCannotBeLoaded) {
    CheckRun run = runChecker("\"" + LoadedLibrary::besideThisProgram("no_such_library.dll") + "\"");
    EXPECT_EQ(2u, run.status);
    ASSERT_EQ(1u, run.lines.size());
    EXPECT_THAT(run.lines[0], AllOf(StartsWith("MODULE "), HasSubstr("no_such_library.dll")));
}

}  // namespace
