#include "LoadedLibrary.h"

LoadedLibrary::LoadedLibrary(const std::string& fileName)
    : path_(besideThisProgram(fileName)), module_(LoadLibraryA(path_.c_str())) {}

LoadedLibrary::~LoadedLibrary() {
    if (module_) FreeLibrary(module_);
}

std::string LoadedLibrary::besideThisProgram(const std::string& fileName) {
    char path[MAX_PATH] = {};
    DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string folder(path, length);
    return folder.substr(0, folder.find_last_of("\\/") + 1) + fileName;
}
