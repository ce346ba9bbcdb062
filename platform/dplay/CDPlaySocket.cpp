#include "CDPlaySocket.h"

#include <cstring>

namespace {

timeval toTimeval(DWORD ms) {
  timeval tv;
  tv.tv_sec = static_cast<long>(ms / 1000);
  tv.tv_usec = static_cast<long>((ms % 1000) * 1000);
  return tv;
}

}  // namespace

bool CDPlaySocket::resolve(const std::string& host, WORD port, sockaddr_in& address) {
  std::memset(&address, 0, sizeof address);
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  if (host.empty()) return false;
  if (inet_pton(AF_INET, host.c_str(), &address.sin_addr) == 1) return true;
  addrinfo hints;
  std::memset(&hints, 0, sizeof hints);
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  if (getaddrinfo(host.c_str(), nullptr, &hints, &found) != 0 || found == nullptr) return false;
  address.sin_addr = reinterpret_cast<sockaddr_in*>(found->ai_addr)->sin_addr;
  freeaddrinfo(found);
  return true;
}

void CDPlaySocket::prepare(SOCKET s) {
  u_long nonBlocking = 1;
  ioctlsocket(s, FIONBIO, &nonBlocking);
  BOOL noDelay = TRUE;
  setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&noDelay), sizeof noDelay);
}

SOCKET CDPlaySocket::connectTo(const sockaddr_in& address, DWORD timeoutMs) {
  SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (s == INVALID_SOCKET) return INVALID_SOCKET;
  prepare(s);
  if (connect(s, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) return s;
  if (WSAGetLastError() != WSAEWOULDBLOCK) {
    closesocket(s);
    return INVALID_SOCKET;
  }
  fd_set writable, failed;
  FD_ZERO(&writable);
  FD_ZERO(&failed);
  FD_SET(s, &writable);
  FD_SET(s, &failed);
  timeval tv = toTimeval(timeoutMs);
  int error = 0;
  int length = sizeof error;
  if (select(0, nullptr, &writable, &failed, &tv) != 1 || !FD_ISSET(s, &writable) ||
      getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &length) != 0 ||
      error != 0) {
    closesocket(s);
    return INVALID_SOCKET;
  }
  return s;
}

SOCKET CDPlaySocket::listenOn(WORD port) {
  SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (s == INVALID_SOCKET) return INVALID_SOCKET;
  // One host per port: another listener must not share it.
  BOOL exclusive = TRUE;
  setsockopt(s, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&exclusive),
             sizeof exclusive);
  sockaddr_in address;
  std::memset(&address, 0, sizeof address);
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_ANY);
  if (bind(s, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
      listen(s, SOMAXCONN) != 0) {
    closesocket(s);
    return INVALID_SOCKET;
  }
  u_long nonBlocking = 1;
  ioctlsocket(s, FIONBIO, &nonBlocking);
  return s;
}

int CDPlaySocket::waitReadable(SOCKET s, DWORD timeoutMs) {
  fd_set readable;
  FD_ZERO(&readable);
  FD_SET(s, &readable);
  timeval tv = toTimeval(timeoutMs);
  int n = select(0, &readable, nullptr, nullptr, &tv);
  return n < 0 ? -1 : n;
}

int CDPlaySocket::waitWritable(SOCKET s, DWORD timeoutMs) {
  fd_set writable;
  FD_ZERO(&writable);
  FD_SET(s, &writable);
  timeval tv = toTimeval(timeoutMs);
  int n = select(0, nullptr, &writable, nullptr, &tv);
  return n < 0 ? -1 : n;
}

bool CDPlaySocket::sendAll(SOCKET s, const BYTE* data, size_t size, DWORD timeoutMs) {
  return sendSome(s, data, size, timeoutMs) == size;
}

size_t CDPlaySocket::sendSome(SOCKET s, const BYTE* data, size_t size, DWORD timeoutMs) {
  ULONGLONG deadline = GetTickCount64() + timeoutMs;
  size_t sent = 0;
  while (sent < size) {
    int chunk = size - sent > 1024 * 1024 ? 1024 * 1024 : static_cast<int>(size - sent);
    int n = send(s, reinterpret_cast<const char*>(data + sent), chunk, 0);
    if (n > 0) {
      sent += static_cast<size_t>(n);
      continue;
    }
    if (n == SOCKET_ERROR && WSAGetLastError() != WSAEWOULDBLOCK) break;
    ULONGLONG now = GetTickCount64();
    if (now >= deadline) break;
    DWORD left = static_cast<DWORD>(deadline - now);
    if (waitWritable(s, left < 200 ? left : 200) < 0) break;
  }
  return sent;
}
