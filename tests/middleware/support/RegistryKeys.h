#pragma once
// Look-ups in the machine's registry (HKEY_LOCAL_MACHINE) for what a program registered.
#include <windows.h>

#include <string>
#include <vector>

// A string value of a key; whether there is one.
bool readValue(const std::string& key, const char* name, std::string& data);
bool keyExists(const std::string& key);
// The same below Software\Classes; a value that is not there reads "(none)".
std::string classesValue(const std::string& key, const char* name);
bool classesKeyExists(const std::string& key);
// Every key below root\path, down to depth 12, whose name holds one of the needles (upper case).
void findKeys(HKEY root, const std::string& path, const std::vector<std::string>& needles,
              std::vector<std::string>& found, int depth = 0);
