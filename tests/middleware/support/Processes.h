#pragma once
// Processes in this host's prefix.
#include <windows.h>

#include <string>
#include <vector>

// The processes of the program, by its file name ("quarnhost.exe").
std::vector<DWORD> processIds(const char* exeName);
// A process of the command line, its thread's handle closed; its handle, null when it could not
// start (GetLastError tells why).
HANDLE startProcess(std::string line);
