// tavlang_check [library]: compares a resource library with the tables of tavlang and prints one
// line for each missing or wrong resource. Without an argument it checks tavlang.dll beside this
// program. Exit status: 0 when everything matches, 1 when a resource is missing or wrong, 2 when
// the library cannot be loaded.
#include "LoadedLibrary.h"
#include "ResourceChecker.h"

#include <windows.h>
#include <commctrl.h>

#include <cstdio>
#include <string>

int main(int argc, char** argv) {
    std::string library = argc > 1 ? argv[1] : LoadedLibrary::besideThisProgram("tavlang.dll");
    HMODULE module = LoadLibraryA(library.c_str());
    if (!module) {
        std::printf("MODULE \"%s\": expected a resource library, found load error %lu\n", library.c_str(),
                    GetLastError());
        return 2;
    }
    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_PROGRESS_CLASS};
    InitCommonControlsEx(&controls);

    ResourceChecker checker(module);
    checker.checkLibrary();
    for (const std::string& line : checker.findings()) std::printf("%s\n", line.c_str());
    std::fflush(stdout);
    FreeLibrary(module);
    return checker.findings().empty() ? 0 : 1;
}
