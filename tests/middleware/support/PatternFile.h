#pragma once
// Files of a pattern that a sender and a receiver can each make from the same size and seed.
#include <windows.h>

#include <string>
#include <vector>

std::vector<BYTE> pattern(size_t size, unsigned seed);
void writeBytes(const std::string& path, const std::vector<BYTE>& bytes);
// The whole file; empty when it cannot be read.
std::vector<BYTE> readBytes(const std::string& path);
