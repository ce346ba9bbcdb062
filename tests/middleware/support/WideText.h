#pragma once
// Text between the test's narrow strings and the interfaces' wide ones: names and paths here
// are ASCII, so each character maps to one.
#include <string>

std::wstring wide(const std::string& text);
std::string narrow(const std::wstring& text);
