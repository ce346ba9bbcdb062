#pragma once
// What the programs on the test LAN's hosts print for the script that drives them: whole
// lines, flushed at once, in the characters a script can grep.
#include <string>

void logLine(const char* format, ...)
#ifdef __GNUC__
    __attribute__((format(printf, 1, 2)))
#endif
    ;
// The text with every character beyond ASCII as "?".
std::string narrow(const std::wstring& text);
// A check of the program's own: its line says PASS or FAIL; failed checks are counted.
void check(const char* what, bool passed, const std::string& detail = "");
int checkFailures();
// Another failure not said by a check.
void countFailure();
