#include "WideText.h"

std::wstring wide(const std::string& text) { return std::wstring(text.begin(), text.end()); }

std::string narrow(const std::wstring& text) { return std::string(text.begin(), text.end()); }
