#include "CDPlayConnection.h"

#include <chrono>
#include <cstring>

namespace {

constexpr DWORD kPollMs = 200;  // longest wait before a thread looks at its flags again
constexpr size_t kReceiveChunk = 64 * 1024;

ULONGLONG now() { return GetTickCount64(); }

}  // namespace

CDPlayConnection::CDPlayConnection(SOCKET s, IOwner* owner) : m_socket(s), m_owner(owner) {
  std::memset(&m_peer, 0, sizeof m_peer);
  int length = sizeof m_peer;
  getpeername(s, reinterpret_cast<sockaddr*>(&m_peer), &length);
  CDPlaySocket::prepare(s);
}

CDPlayConnection::~CDPlayConnection() { stop(); }

bool CDPlayConnection::sendNow(const std::vector<BYTE>& frame, DWORD timeoutMs) {
  return CDPlaySocket::sendAll(m_socket, frame.data(), frame.size(), timeoutMs);
}

int CDPlayConnection::readNow(DPlayFrame& frame, DWORD timeoutMs) {
  ULONGLONG deadline = now() + timeoutMs;
  BYTE buffer[4096];
  for (;;) {
    switch (m_reader.next(frame)) {
      case CDPlayFrameReader::kFrame:
        return 1;
      case CDPlayFrameReader::kBad:
        return -1;
      case CDPlayFrameReader::kNeedMore:
        break;
    }
    ULONGLONG t = now();
    if (t >= deadline) return 0;
    int ready = CDPlaySocket::waitReadable(m_socket, static_cast<DWORD>(deadline - t));
    if (ready < 0) return -1;
    if (ready == 0) continue;
    int n = recv(m_socket, reinterpret_cast<char*>(buffer), sizeof buffer, 0);
    if (n == 0 || (n < 0 && WSAGetLastError() != WSAEWOULDBLOCK)) return -1;
    if (n > 0) m_reader.feed(buffer, static_cast<size_t>(n));
  }
}

void CDPlayConnection::start() {
  m_readThread = std::thread([this] { readLoop(); });
  m_writeThread = std::thread([this] { writeLoop(); });
}

void CDPlayConnection::keepAlive() {
  std::lock_guard<std::mutex> hold(m_lock);
  m_keepAlive = true;
  m_changed.notify_all();
}

size_t CDPlayConnection::itemSize(const Item& item) const {
  return item.message ? item.message->data->size() : item.frame.size();
}

void CDPlayConnection::post(std::vector<BYTE> frame) {
  std::lock_guard<std::mutex> hold(m_lock);
  if (m_dead || m_stop) return;
  Item item;
  item.frame = std::move(frame);
  m_queuedBytes += itemSize(item);
  m_queue.push_back(std::move(item));
  m_changed.notify_all();
}

void CDPlayConnection::post(const std::shared_ptr<DPlayOutMessage>& message) {
  std::lock_guard<std::mutex> hold(m_lock);
  if (m_dead || m_stop) return;
  Item item;
  item.message = message;
  m_queuedBytes += itemSize(item);
  m_queue.push_back(std::move(item));
  m_changed.notify_all();
}

size_t CDPlayConnection::queuedBytes() {
  std::lock_guard<std::mutex> hold(m_lock);
  return m_queuedBytes;
}

bool CDPlayConnection::waitForRoom(size_t size, DWORD timeoutMs) {
  std::unique_lock<std::mutex> hold(m_lock);
  return m_changed.wait_for(hold, std::chrono::milliseconds(timeoutMs), [&] {
    return m_dead || m_stop || m_queuedBytes + size <= kMaxQueued;
  });
}

int CDPlayConnection::cancel(DWORD id) {
  std::lock_guard<std::mutex> hold(m_lock);
  int cancelled = 0;
  for (auto it = m_queue.begin(); it != m_queue.end();) {
    if (it->message && !it->started && (id == 0 || it->message->id == id)) {
      m_queuedBytes -= itemSize(*it);
      it = m_queue.erase(it);
      ++cancelled;
    } else {
      ++it;
    }
  }
  if (cancelled > 0) m_changed.notify_all();
  return cancelled;
}

void CDPlayConnection::closeAfterFlush() {
  std::lock_guard<std::mutex> hold(m_lock);
  m_closeAfterFlush = true;
  m_changed.notify_all();
}

bool CDPlayConnection::flush(DWORD timeoutMs) {
  std::unique_lock<std::mutex> hold(m_lock);
  return m_changed.wait_for(hold, std::chrono::milliseconds(timeoutMs),
                            [&] { return m_dead || (m_queue.empty() && !m_sending); }) &&
         !m_dead;
}

void CDPlayConnection::beginFinish() {
  std::lock_guard<std::mutex> hold(m_lock);
  m_finishing = true;
  m_changed.notify_all();
}

void CDPlayConnection::finish(DWORD timeoutMs) {
  beginFinish();
  {
    std::unique_lock<std::mutex> hold(m_lock);
    if (m_readThread.joinable())
      m_changed.wait_for(hold, std::chrono::milliseconds(timeoutMs), [&] { return m_readerDone; });
  }
  stop();
}

bool CDPlayConnection::isDead() {
  std::lock_guard<std::mutex> hold(m_lock);
  return m_dead;
}

void CDPlayConnection::die() {
  std::lock_guard<std::mutex> hold(m_lock);
  if (!m_dead) {
    m_dead = true;
    shutdown(m_socket, SD_BOTH);
  }
  m_changed.notify_all();
}

void CDPlayConnection::stop() {
  {
    std::lock_guard<std::mutex> hold(m_lock);
    m_stop = true;
    m_changed.notify_all();
  }
  shutdown(m_socket, SD_BOTH);
  if (m_readThread.joinable()) m_readThread.join();
  if (m_writeThread.joinable()) m_writeThread.join();
  if (m_socket != INVALID_SOCKET) {
    closesocket(m_socket);
    m_socket = INVALID_SOCKET;
  }
}

bool CDPlayConnection::dispatchBuffered() {
  DPlayFrame frame;
  for (;;) {
    switch (m_reader.next(frame)) {
      case CDPlayFrameReader::kFrame:
        if (!m_owner->onFrame(this, frame)) return false;
        break;
      case CDPlayFrameReader::kNeedMore:
        return true;
      case CDPlayFrameReader::kBad:
        return false;
    }
  }
}

void CDPlayConnection::readLoop() {
  ULONGLONG started = now();
  ULONGLONG lastReceived = started;
  std::vector<BYTE> buffer(kReceiveChunk);
  bool failed = !dispatchBuffered();
  while (!failed) {
    bool keepAliveOn, finishing;
    {
      std::lock_guard<std::mutex> hold(m_lock);
      if (m_stop) break;
      failed = m_dead;
      keepAliveOn = m_keepAlive;
      finishing = m_finishing;
    }
    if (failed) break;
    int ready = CDPlaySocket::waitReadable(m_socket, kPollMs);
    if (ready < 0) break;
    if (ready > 0) {
      int n = recv(m_socket, reinterpret_cast<char*>(buffer.data()), static_cast<int>(buffer.size()), 0);
      if (n == 0 || (n < 0 && WSAGetLastError() != WSAEWOULDBLOCK)) break;
      if (n > 0 && !finishing) {
        lastReceived = now();
        m_reader.feed(buffer.data(), static_cast<size_t>(n));
        if (!dispatchBuffered()) break;
      }
    }
    ULONGLONG t = now();
    if (finishing) continue;  // finish() bounds this wait
    if (keepAliveOn ? t - lastReceived > kKeepAliveTimeout : t - started > kHandshakeTimeout) break;
  }
  bool quiet;
  {
    std::lock_guard<std::mutex> hold(m_lock);
    quiet = m_stop || m_finishing;
    m_readerDone = true;
    m_changed.notify_all();
  }
  die();
  if (!quiet) m_owner->onClosed(this);
}

void CDPlayConnection::writeLoop() {
  ULONGLONG lastSent = now();
  std::vector<BYTE> frame;
  const std::vector<BYTE> keepAliveFrame = CDPlayWire::keepAlive();
  for (;;) {
    std::shared_ptr<DPlayOutMessage> message;
    size_t offset = 0;
    bool sendKeepAlive = false;
    {
      std::unique_lock<std::mutex> hold(m_lock);
      for (;;) {
        if (m_stop || m_dead) return;
        if (!m_queue.empty()) break;
        if (m_finishing) {
          shutdown(m_socket, SD_SEND);
          return;
        }
        if (m_closeAfterFlush) {
          shutdown(m_socket, SD_SEND);
          m_closeAfterFlush = false;
          m_keepAlive = false;
        }
        ULONGLONG t = now();
        if (m_keepAlive && t - lastSent >= kKeepAliveInterval) {
          sendKeepAlive = true;
          break;
        }
        m_changed.wait_for(hold, std::chrono::milliseconds(kPollMs));
      }
      if (!sendKeepAlive) {
        Item& item = m_queue.front();
        m_sending = true;
        if (item.message) {
          item.started = true;
          message = item.message;
          offset = item.sent;
        } else {
          frame = std::move(item.frame);
          m_queuedBytes -= frame.size();
          m_queue.pop_front();
        }
      }
    }

    bool ok;
    size_t chunk = 0;
    if (sendKeepAlive) {
      ok = CDPlaySocket::sendAll(m_socket, keepAliveFrame.data(), keepAliveFrame.size(), kKeepAliveTimeout);
    } else if (message) {
      const std::vector<BYTE>& data = *message->data;
      chunk = data.size() - offset;
      if (chunk > CDPlayWire::kMaxFragment) chunk = CDPlayWire::kMaxFragment;
      CDPlayWire::dataFrame(frame, offset == 0, message->from, message->to,
                            static_cast<DWORD>(data.size()), data.data() + offset, static_cast<DWORD>(chunk));
      ok = CDPlaySocket::sendAll(m_socket, frame.data(), frame.size(), kKeepAliveTimeout);
    } else {
      ok = CDPlaySocket::sendAll(m_socket, frame.data(), frame.size(), kKeepAliveTimeout);
    }
    lastSent = now();

    {
      std::lock_guard<std::mutex> hold(m_lock);
      if (message && !m_queue.empty()) {
        Item& item = m_queue.front();
        item.sent += chunk;
        if (item.sent >= item.message->data->size()) {
          m_queuedBytes -= item.message->data->size();
          m_queue.pop_front();
          m_sending = false;
        }
      } else if (!sendKeepAlive) {
        m_sending = false;
      }
      m_changed.notify_all();
    }
    if (!ok) {
      die();
      return;
    }
  }
}
