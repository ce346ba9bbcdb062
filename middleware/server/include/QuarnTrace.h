#pragma once
// The server's diagnostics: one line to the debugger output, naming class and method
// ("CQuarnSocket::..."). Nothing depends on them.
void QuarnTrace(const char* format, ...)
#ifdef __GNUC__
    __attribute__((format(printf, 1, 2)))
#endif
    ;
