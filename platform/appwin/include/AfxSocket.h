#pragma once
// Windows Sockets for the program: version 1.1, the level its datagram sockets need.
#include <winsock2.h>
#include <windows.h>

// Starts Windows Sockets 1.1 once for the process (cleaned up at exit); TRUE when it runs. data,
// when given, receives what the start reported.
BOOL AfxSocketInit(WSADATA* data = nullptr);
