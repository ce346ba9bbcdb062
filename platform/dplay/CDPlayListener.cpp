#include "CDPlayListener.h"

CDPlayListener::~CDPlayListener() { stop(); }

bool CDPlayListener::start(WORD port, AcceptFn onAccept) {
  m_socket = CDPlaySocket::listenOn(port);
  if (m_socket == INVALID_SOCKET) return false;
  m_onAccept = std::move(onAccept);
  m_stop = false;
  m_thread = std::thread([this] { run(); });
  return true;
}

void CDPlayListener::stop() {
  m_stop = true;
  if (m_thread.joinable()) m_thread.join();
  if (m_socket != INVALID_SOCKET) {
    closesocket(m_socket);
    m_socket = INVALID_SOCKET;
  }
}

void CDPlayListener::run() {
  while (!m_stop) {
    int ready = CDPlaySocket::waitReadable(m_socket, 200);
    if (ready < 0) Sleep(50);  // a failing select must not spin
    if (ready <= 0) continue;
    SOCKET s = accept(m_socket, nullptr, nullptr);
    if (s == INVALID_SOCKET) continue;
    // A connection that cannot be set up (memory) is refused by the owner; the listener goes on.
    try {
      m_onAccept(s);
    } catch (...) {
    }
  }
}
