#pragma once
// Rich-edit support: the 2.0 control lives in a library of its own that must be loaded before
// its window class ("RichEdit20A") exists.
#include <windows.h>

// Loads "RICHED20.DLL" once per process (it stays loaded until the process ends); TRUE when
// the library is loaded.
BOOL AfxInitRichEdit();
