#pragma once
// The server program: registers or unregisters itself when asked by a switch, and otherwise
// serves its class to COM on the main thread until the module has been quiet long enough.
#include <windows.h>

class CQuarnHost {
public:
    // The program's exit code: the registration's HRESULT, or 0 after serving (the HRESULT
    // when the class object cannot be offered).
    static int Main(const char* commandLine);
    // Offers the class object, runs the message loop until the shutdown monitor ends it,
    // withdraws the class object and pauses for other threads to finish.
    static HRESULT Serve();
};
