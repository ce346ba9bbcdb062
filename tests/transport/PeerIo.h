#pragma once
// What a program on a host of the test LAN shares with the script that drives it and with the
// programs on the other hosts: its log lines on standard output, and the files of the shared
// folder (commands, the session's GUID, ports).
#include <windows.h>

#include <string>

class PeerIo {
public:
    // One line "<tick count> <text>", flushed at once; callable from any thread.
    static void log(const char* format, ...);
    static std::string path(const std::string& dir, const std::string& name);
    // False when the file is not there within the time.
    static bool waitFile(const std::string& file, DWORD timeoutMs);
    // The whole file; empty when it cannot be read.
    static std::string readFile(const std::string& file);
    // Written under another name and renamed, so that a reader never sees half of it.
    static bool writeFile(const std::string& file, const std::string& text);
};
