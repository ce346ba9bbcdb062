#pragma once
// The names of the middleware's failure codes for trace lines: one table serves the wrapper's
// errorText and the lookup proxy's trace of the last error.
#include <windows.h>

#include <string>

// The code's name padded to one column (or the undefined marker), then
// "GetLastError()= 0x%08X" with the code.
std::string quarnErrorText(DWORD code);
// The same with another text in place of the undefined marker.
std::string quarnErrorText(DWORD code, const std::string& unnamed);
