#pragma once
// Loading and freeing libraries the program uses as modules of its own (the resource library).
#include <windows.h>

// LoadLibraryA of the path; null on failure (GetLastError tells why).
HINSTANCE AfxLoadLibrary(LPCSTR path);
BOOL AfxFreeLibrary(HINSTANCE module);
