#pragma once
// The host's listening socket and the thread that accepts connections on it.
#include "CDPlaySocket.h"

#include <atomic>
#include <functional>
#include <thread>

class CDPlayListener {
 public:
  using AcceptFn = std::function<void(SOCKET)>;  // takes ownership of the socket

  CDPlayListener() = default;
  ~CDPlayListener();  // stop()
  CDPlayListener(const CDPlayListener&) = delete;
  CDPlayListener& operator=(const CDPlayListener&) = delete;

  // false when the port cannot be listened on (taken by another host).
  bool start(WORD port, AcceptFn onAccept);
  void stop();

 private:
  void run();

  SOCKET m_socket = INVALID_SOCKET;
  AcceptFn m_onAccept;
  std::atomic<bool> m_stop{false};
  std::thread m_thread;
};
