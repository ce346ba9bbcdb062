#pragma once
// Control hosting. This layer hosts no OLE controls (the program decodes pictures itself), so
// enabling the container has nothing to set up; the call is kept where the program makes it.
#include <windows.h>

void AfxEnableControlContainer();
