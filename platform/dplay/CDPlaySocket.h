#pragma once
// Small Winsock helpers: every socket here is non-blocking and every wait has a time-out.
#include <winsock2.h>
#include <ws2tcpip.h>

#include <string>

class CDPlaySocket {
 public:
  // IPv4 text or host name; false when it cannot be resolved.
  static bool resolve(const std::string& host, WORD port, sockaddr_in& address);
  // A connected socket, or INVALID_SOCKET when refused or not answered within timeoutMs.
  static SOCKET connectTo(const sockaddr_in& address, DWORD timeoutMs);
  // A listening socket on every local address, or INVALID_SOCKET when the port is taken.
  static SOCKET listenOn(WORD port);
  // 1 ready, 0 time-out, -1 error.
  static int waitReadable(SOCKET s, DWORD timeoutMs);
  static int waitWritable(SOCKET s, DWORD timeoutMs);
  // Makes an accepted socket non-blocking and without send delay.
  static void prepare(SOCKET s);
  // Sends all of data within timeoutMs; false on error or time-out.
  static bool sendAll(SOCKET s, const BYTE* data, size_t size, DWORD timeoutMs);
  // What of data the socket takes within timeoutMs, in bytes (less than size on an error or
  // when the other side does not read).
  static size_t sendSome(SOCKET s, const BYTE* data, size_t size, DWORD timeoutMs);
};
