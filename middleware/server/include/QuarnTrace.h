#pragma once
// The server's diagnostics: one line to the debugger output, naming class and method
// ("CQuarnSocket::..."). Nothing depends on them.
void QuarnTrace(const char* format, ...)
#ifdef __GNUC__
    __attribute__((format(printf, 1, 2)))
#endif
    ;

// The same, for input that this process did not expect (a message that no one of ours posts,
// an unknown argument): the line begins with "ERROR: ", and the input is then ignored.
void QuarnTraceError(const char* format, ...)
#ifdef __GNUC__
    __attribute__((format(printf, 1, 2)))
#endif
    ;

// Also gives every line to sink (null: none), for tests that read them. Returns the previous.
using QuarnTraceSink = void (*)(const char* line);
QuarnTraceSink QuarnSetTraceSink(QuarnTraceSink sink);
