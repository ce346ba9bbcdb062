#pragma once
// Windows Sockets error codes as text for the trace: the code's standard name padded to one
// width, or its number when the name is not known here.
#include <string>

class CSocketError {
public:
    static std::string text(int code);
    // The calling thread's last Windows Sockets error.
    static std::string last();
};
