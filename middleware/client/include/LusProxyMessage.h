#pragma once
// The window message that hands a worker thread's find to the lookup proxy's UI thread.
#include <windows.h>

// wParam 0, the one command (find); lParam the FindParameterSet of the find.
const UINT WM_LUS_PROXY_COMMAND = WM_APP + 2;
