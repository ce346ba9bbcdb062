#pragma once
// Files as the file copy tests need them: written with given bytes, with times set to a fixed
// second, listed by name.
#include <set>
#include <string>

void writeFile(const std::string& path, const std::string& bytes);
// Creation and last-write time set to 2024-05-17 10:20:30 UTC plus the offset in seconds.
void setTimes(const std::string& path, int secondOffset);
// Names of the plain files in a folder (given with its trailing backslash).
std::set<std::string> filesIn(const std::string& folder);
