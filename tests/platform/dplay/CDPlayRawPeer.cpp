#include "CDPlayRawPeer.h"

CDPlayRawPeer::CDPlayRawPeer() {
  WSADATA data;
  WSAStartup(MAKEWORD(2, 2), &data);
}

CDPlayRawPeer::~CDPlayRawPeer() {
  close();
  if (m_listener != INVALID_SOCKET) closesocket(m_listener);
  WSACleanup();
}

bool CDPlayRawPeer::connect(const std::string& host, WORD port, DWORD timeoutMs) {
  sockaddr_in address;
  if (!CDPlaySocket::resolve(host, port, address)) return false;
  m_socket = CDPlaySocket::connectTo(address, timeoutMs);
  return m_socket != INVALID_SOCKET;
}

bool CDPlayRawPeer::listen(WORD port) {
  m_listener = CDPlaySocket::listenOn(port);
  return m_listener != INVALID_SOCKET;
}

bool CDPlayRawPeer::accept(DWORD timeoutMs) {
  if (CDPlaySocket::waitReadable(m_listener, timeoutMs) != 1) return false;
  m_socket = ::accept(m_listener, nullptr, nullptr);
  if (m_socket == INVALID_SOCKET) return false;
  CDPlaySocket::prepare(m_socket);
  return true;
}

bool CDPlayRawPeer::send(const std::vector<BYTE>& bytes) {
  return CDPlaySocket::sendAll(m_socket, bytes.data(), bytes.size(), 5000);
}

size_t CDPlayRawPeer::sendSome(const BYTE* data, size_t size, DWORD timeoutMs) {
  return CDPlaySocket::sendSome(m_socket, data, size, timeoutMs);
}

void CDPlayRawPeer::closeSending() { shutdown(m_socket, SD_SEND); }

bool CDPlayRawPeer::readFrame(DPlayFrame& frame, DWORD timeoutMs) {
  ULONGLONG deadline = GetTickCount64() + timeoutMs;
  BYTE buffer[4096];
  for (;;) {
    CDPlayFrameReader::Result r = m_reader.next(frame);
    if (r == CDPlayFrameReader::kFrame) return true;
    if (r == CDPlayFrameReader::kBad) return false;
    ULONGLONG now = GetTickCount64();
    if (now >= deadline) return false;
    if (CDPlaySocket::waitReadable(m_socket, static_cast<DWORD>(deadline - now)) != 1) continue;
    int n = recv(m_socket, reinterpret_cast<char*>(buffer), sizeof buffer, 0);
    if (n <= 0) return false;
    m_reader.feed(buffer, static_cast<size_t>(n));
  }
}

bool CDPlayRawPeer::waitClosed(DWORD timeoutMs) {
  ULONGLONG deadline = GetTickCount64() + timeoutMs;
  char buffer[4096];
  for (;;) {
    ULONGLONG now = GetTickCount64();
    if (now >= deadline) return false;
    int ready = CDPlaySocket::waitReadable(m_socket, static_cast<DWORD>(deadline - now));
    if (ready < 0) return true;
    if (ready == 0) continue;
    int n = recv(m_socket, buffer, sizeof buffer, 0);
    if (n == 0 || (n < 0 && WSAGetLastError() != WSAEWOULDBLOCK)) return true;
  }
}

void CDPlayRawPeer::close() {
  if (m_socket != INVALID_SOCKET) {
    closesocket(m_socket);
    m_socket = INVALID_SOCKET;
  }
}
