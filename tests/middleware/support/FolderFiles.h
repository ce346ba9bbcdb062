#pragma once
// The files (not folders) a search pattern such as "C:\dir\*" finds, sorted by name.
#include <string>
#include <vector>

std::vector<std::string> filesMatching(const std::string& pattern);
