#include "ScreenShot.h"

#include <windows.h>

#include <cstdio>
#include <string>

namespace {

// The host's path of a Windows path, through Wine's own conversion; empty outside Wine.
std::string unixPathOf(const std::string& windowsPath)
{
    using Convert = char*(CDECL*)(LPCWSTR);
    const auto convert = reinterpret_cast<Convert>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "wine_get_unix_file_name")));
    if (convert == nullptr)
        return {};
    std::wstring wide(windowsPath.begin(), windowsPath.end());
    char* converted = convert(wide.c_str());
    if (converted == nullptr)
        return {};
    std::string path = converted;
    HeapFree(GetProcessHeap(), 0, converted);
    return path;
}

DWORD fileSize(const std::string& path)
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data))
        return 0;
    return data.nFileSizeLow;
}

} // namespace

bool saveRootScreenshot(const std::string& name)
{
    char program[MAX_PATH] = "";
    GetModuleFileNameA(nullptr, program, MAX_PATH);
    std::string folder = program;
    folder = folder.substr(0, folder.find_last_of('\\')) + "\\screenshots";
    CreateDirectoryA(folder.c_str(), nullptr);
    const std::string file = folder + "\\" + name + ".png";
    DeleteFileA(file.c_str());
    const std::string target = unixPathOf(file);
    if (target.empty()) {
        std::printf("screenshot %s: no host path for %s\n", name.c_str(), file.c_str());
        return false;
    }
    // Written beside and renamed when complete, so that the file appears whole.
    std::string command = "/bin/sh -c \"import -window root '" + target + ".part.png' && mv '" + target +
                          ".part.png' '" + target + "'\"";
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
        std::printf("screenshot %s: import cannot be started (%lu)\n", name.c_str(), GetLastError());
        return false;
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    // A host program's end is not seen through its handle: the picture is done when its file
    // is there.
    for (int i = 0; i < 200; ++i) {
        Sleep(50);
        if (fileSize(file) > 0)
            return true;
    }
    std::printf("screenshot %s: no picture after 10 s\n", name.c_str());
    return false;
}
