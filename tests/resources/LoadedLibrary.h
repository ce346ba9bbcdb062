#pragma once
// A library loaded from the folder of the running program, as tavapp loads tavlang from its own
// folder; freed again at the end of the object's life.
#include <windows.h>

#include <string>

class LoadedLibrary {
public:
    // Loads the file of that name beside this program; handle() is null when that fails.
    explicit LoadedLibrary(const std::string& fileName);
    ~LoadedLibrary();
    LoadedLibrary(const LoadedLibrary&) = delete;
    LoadedLibrary& operator=(const LoadedLibrary&) = delete;

    HMODULE handle() const { return module_; }
    const std::string& path() const { return path_; }

    // The full path of a file in the folder of this program.
    static std::string besideThisProgram(const std::string& fileName);

private:
    std::string path_;
    HMODULE module_;
};
