#include "CDPlayConnection.h"

#include <chrono>
#include <cstring>

namespace {

constexpr DWORD kPollMs = 200;  // longest wait before a thread looks at its flags again

ULONGLONG now() { return GetTickCount64(); }

}  // namespace

CDPlayConnection::CDPlayConnection(SOCKET s, IOwner* owner) : m_socket(s), m_owner(owner) {
  std::memset(&m_peer, 0, sizeof m_peer);
  int length = sizeof m_peer;
  getpeername(s, reinterpret_cast<sockaddr*>(&m_peer), &length);
  CDPlaySocket::prepare(s);
  m_lastSent = now();
}

CDPlayConnection::~CDPlayConnection() { stop(); }

bool CDPlayConnection::sendNow(const std::vector<BYTE>& frame, DWORD timeoutMs) {
  return CDPlaySocket::sendAll(m_socket, frame.data(), frame.size(), timeoutMs);
}

int CDPlayConnection::readNow(DPlayFrame& frame, DWORD timeoutMs) {
  ULONGLONG deadline = now() + timeoutMs;
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
    size_t room = 0;
    BYTE* to = m_reader.room(room);
    int n = recv(m_socket, reinterpret_cast<char*>(to), static_cast<int>(room), 0);
    if (n == 0 || (n < 0 && WSAGetLastError() != WSAEWOULDBLOCK)) return -1;
    if (n > 0) m_reader.commit(static_cast<size_t>(n));
  }
}

void CDPlayConnection::start() {
  // The socket sets the event itself when data or the peer's close arrives: the reader waits on
  // it instead of asking the socket before every receive.
  m_readable = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  m_eventSelect = m_readable != nullptr && WSAEventSelect(m_socket, m_readable, FD_READ | FD_CLOSE) == 0;
  m_readThread = std::thread([this] { readLoop(); });
  m_writeThread = std::thread([this] { writeLoop(); });
}

void CDPlayConnection::keepAlive() {
  std::lock_guard<std::mutex> hold(m_lock);
  m_keepAlive = true;
  m_joined = true;
  m_writerWake.notify_one();
}

size_t CDPlayConnection::itemSize(const Item& item) {
  return item.message ? item.message->data->size() : item.frame.size();
}

void CDPlayConnection::notifyChanged() {
  if (m_waiting > 0) m_changed.notify_all();
}

template <class Predicate>
bool CDPlayConnection::waitChanged(std::unique_lock<std::mutex>& hold, DWORD timeoutMs, Predicate done) {
  ++m_waiting;
  bool result = m_changed.wait_for(hold, std::chrono::milliseconds(timeoutMs), done);
  --m_waiting;
  return result;
}

void CDPlayConnection::post(std::vector<BYTE> frame) {
  std::lock_guard<std::mutex> hold(m_lock);
  if (m_dead || m_stop || m_sendClosed) return;
  if (m_queuedControl + frame.size() > kMaxQueuedControl) {
    dieLocked();
    return;
  }
  Item item;
  item.frame = std::move(frame);
  m_queuedBytes += item.frame.size();
  m_queuedControl += item.frame.size();
  m_queue.push_back(std::move(item));
  if (m_sender == Sender::kNone) m_writerWake.notify_one();
}

bool CDPlayConnection::post(const std::shared_ptr<DPlayOutMessage>& message) {
  std::lock_guard<std::mutex> hold(m_lock);
  if (m_dead || m_stop || m_sendClosed) return false;
  bool direct = m_queue.empty() && !m_pending && m_sender == Sender::kNone;
  Item item;
  item.message = message;
  m_queuedBytes += itemSize(item);
  m_queue.push_back(std::move(item));
  // Behind other frames: the one sending them goes on with this one; with nobody sending,
  // the writer is about to (and takes this one too, should the caller not come).
  if (!direct && m_sender == Sender::kNone) m_writerWake.notify_one();
  return direct;
}

void CDPlayConnection::sendQueued() {
  {
    std::lock_guard<std::mutex> hold(m_lock);
    if (m_sender != Sender::kNone || m_stop || m_dead || (m_queue.empty() && !m_pending)) return;
    m_sender = Sender::kCaller;
  }
  try {
    pump(false);
  } catch (...) {
    // The message was queued, the connection cannot carry it (memory): it ends, and the turn
    // is given back, so that stop() does not wait for a caller that is gone.
    std::lock_guard<std::mutex> hold(m_lock);
    if (m_sender == Sender::kCaller) giveBackTurn();
    dieLocked();
  }
}

size_t CDPlayConnection::queuedBytes() {
  std::lock_guard<std::mutex> hold(m_lock);
  return m_queuedBytes;
}

void CDPlayConnection::queuedMessages(DPID from, DPID to, DWORD& count, DWORD& bytes) {
  std::lock_guard<std::mutex> hold(m_lock);
  for (const Item& item : m_queue) {
    if (!item.message || (from != 0 && item.message->from != from) || (to != 0 && item.message->to != to)) continue;
    ++count;
    bytes += static_cast<DWORD>(item.message->data->size() - item.sent);
  }
}

bool CDPlayConnection::hasRoom(size_t size) {
  std::lock_guard<std::mutex> hold(m_lock);
  return m_dead || m_stop || m_queuedBytes + size <= kMaxQueued;
}

bool CDPlayConnection::waitForRoom(size_t size, DWORD timeoutMs) {
  std::unique_lock<std::mutex> hold(m_lock);
  return waitChanged(hold, timeoutMs, [&] { return m_dead || m_stop || m_queuedBytes + size <= kMaxQueued; });
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
  if (cancelled > 0) notifyChanged();
  return cancelled;
}

void CDPlayConnection::closeAfterFlush() {
  std::lock_guard<std::mutex> hold(m_lock);
  m_closeAfterFlush = true;
  m_writerWake.notify_one();
}

bool CDPlayConnection::flush(DWORD timeoutMs) {
  std::unique_lock<std::mutex> hold(m_lock);
  return waitChanged(hold, timeoutMs,
                     [&] { return m_dead || (m_queue.empty() && !m_pending && m_sender == Sender::kNone); }) &&
         !m_dead;
}

void CDPlayConnection::beginFinish() {
  std::lock_guard<std::mutex> hold(m_lock);
  m_finishing = true;
  m_writerWake.notify_one();
}

void CDPlayConnection::finish(DWORD timeoutMs) {
  beginFinish();
  {
    std::unique_lock<std::mutex> hold(m_lock);
    if (m_readThread.joinable()) waitChanged(hold, timeoutMs, [&] { return m_readerDone; });
  }
  stop();
}

bool CDPlayConnection::isDead() {
  std::lock_guard<std::mutex> hold(m_lock);
  return m_dead;
}

void CDPlayConnection::dieLocked() {
  if (!m_dead) {
    m_dead = true;
    shutdown(m_socket, SD_BOTH);
  }
  m_writerWake.notify_one();
  notifyChanged();
}

void CDPlayConnection::die() {
  std::lock_guard<std::mutex> hold(m_lock);
  dieLocked();
}

void CDPlayConnection::stop() {
  {
    std::unique_lock<std::mutex> hold(m_lock);
    m_stop = true;
    m_writerWake.notify_one();
    // A caller sending on its own thread never waits for the socket: it is out soon.
    while (m_sender == Sender::kCaller) waitChanged(hold, kPollMs, [&] { return m_sender != Sender::kCaller; });
  }
  shutdown(m_socket, SD_BOTH);
  if (m_readable != nullptr) SetEvent(m_readable);
  if (m_readThread.joinable()) m_readThread.join();
  if (m_writeThread.joinable()) m_writeThread.join();
  if (m_socket != INVALID_SOCKET) {
    closesocket(m_socket);
    m_socket = INVALID_SOCKET;
  }
  if (m_readable != nullptr) {
    CloseHandle(m_readable);
    m_readable = nullptr;
  }
}

// ---------------------------------------------------------------------------------------------
// Receiving

CDPlayConnection::Dispatch CDPlayConnection::dispatchBuffered() {
  DPlayFrame frame;
  for (;;) {
    if (m_joined && !m_owner->mayTakeMore()) return Dispatch::kFull;
    switch (m_reader.next(frame)) {
      case CDPlayFrameReader::kFrame:
        if (!m_owner->onFrame(this, frame)) return Dispatch::kBroken;
        break;
      case CDPlayFrameReader::kNeedMore:
        return Dispatch::kNeedMore;
      case CDPlayFrameReader::kBad:
        return Dispatch::kBroken;
    }
  }
}

bool CDPlayConnection::waitReadable(DWORD timeoutMs) {
  if (!m_eventSelect) return CDPlaySocket::waitReadable(m_socket, timeoutMs) >= 0;
  WaitForSingleObject(m_readable, timeoutMs);
  return true;
}

void CDPlayConnection::readLoop() {
  // Whatever goes wrong on this thread (memory for a message, the owner's work on a frame)
  // ends this connection only.
  try {
    readFrames();
  } catch (...) {
  }
  bool quiet;
  {
    std::lock_guard<std::mutex> hold(m_lock);
    quiet = m_stop || m_finishing;
    m_readerDone = true;
    notifyChanged();
  }
  die();
  if (quiet) return;
  try {
    m_owner->onClosed(this);
  } catch (...) {
  }
}

void CDPlayConnection::readFrames() {
  ULONGLONG started = now();
  ULONGLONG lastReceived = started;
  bool full = true;  // frames may wait in the reader (at first those that readNow() left)
  bool dropping = false;
  for (;;) {
    bool keepAliveOn, finishing;
    {
      std::lock_guard<std::mutex> hold(m_lock);
      if (m_stop || m_dead) break;
      keepAliveOn = m_keepAlive;
      finishing = m_finishing;
    }
    if (finishing && !dropping) {
      m_reader = CDPlayFrameReader();  // from now on, what arrives is dropped
      dropping = true;
      full = false;
    }
    if (!finishing) {
      if (full || (m_joined && !m_owner->mayTakeMore())) {
        // The peer waits meanwhile: the time is not its silence.
        ULONGLONG before = now();
        if (m_joined && !m_owner->mayTakeMore()) m_owner->waitToTakeMore(kPollMs);
        ULONGLONG waited = now() - before;
        started += waited;
        lastReceived += waited;
        Dispatch d = dispatchBuffered();
        if (d == Dispatch::kBroken) break;
        full = d == Dispatch::kFull;
        continue;
      }
    }
    size_t room = 0;
    BYTE* to = m_reader.room(room);
    int n = recv(m_socket, reinterpret_cast<char*>(to), static_cast<int>(room), 0);
    if (n == 0 || (n < 0 && WSAGetLastError() != WSAEWOULDBLOCK)) break;
    if (n > 0 && !finishing) {
      lastReceived = now();
      m_reader.commit(static_cast<size_t>(n));
      Dispatch d = dispatchBuffered();
      if (d == Dispatch::kBroken) break;
      full = d == Dispatch::kFull;
    }
    // A receive that took less than it could have left the socket empty: wait for the next
    // bytes. (One that filled the room goes straight on; with the owner full, the loop waits
    // for room instead.)
    if (!full && (n < 0 || static_cast<size_t>(n) < room) && !waitReadable(kPollMs)) break;
    ULONGLONG t = now();
    if (finishing) continue;  // finish() bounds this wait
    if (keepAliveOn ? t - lastReceived > kKeepAliveTimeout : t - started > kHandshakeTimeout) break;
  }
}

// ---------------------------------------------------------------------------------------------
// Sending

bool CDPlayConnection::fillBatch() {
  bool shrank = false;
  while (!m_queue.empty()) {
    Item& item = m_queue.front();
    if (!item.message) {
      if (!m_batch.fits(item.frame.size())) break;
      m_queuedBytes -= item.frame.size();
      m_queuedControl -= item.frame.size();
      m_batch.addFrame(std::move(item.frame));
      m_queue.pop_front();
      shrank = true;
      continue;
    }
    const DPlayOutMessage& message = *item.message;
    size_t total = message.data->size();
    size_t chunk = total - item.sent < CDPlayWire::kMaxFragment ? total - item.sent : CDPlayWire::kMaxFragment;
    if (!m_batch.fits(CDPlayWire::kMaxDataHeader + chunk)) break;
    item.started = true;
    m_batch.addFragment(message.data, item.sent, static_cast<DWORD>(chunk), item.sent == 0, message.from, message.to);
    item.sent += chunk;
    if (item.sent == total) {
      m_queuedBytes -= total;
      m_queue.pop_front();
      shrank = true;
    }
  }
  if (shrank) notifyChanged();
  m_pending = !m_batch.empty();
  return m_pending;
}

void CDPlayConnection::giveBackTurn() {
  m_sender = Sender::kNone;
  m_pending = !m_batch.empty();
  // The socket was full for a caller: the writer waits for it to take more.
  if (m_pending || !m_queue.empty()) m_writerWake.notify_one();
  notifyChanged();
}

void CDPlayConnection::pump(bool writer) {
  for (;;) {
    if (m_batch.empty()) {
      std::lock_guard<std::mutex> hold(m_lock);
      if (m_stop || m_dead || !fillBatch()) {
        giveBackTurn();
        return;
      }
    }
    int sent = m_batch.send(m_socket);
    if (sent > 0) {
      m_lastSent = now();
      continue;
    }
    // A peer that does not read is found by its silence (the reader's keep-alive time), not
    // here: one whose reader waits for its application to take what it has still talks.
    bool failed = sent < 0 || (writer && CDPlaySocket::waitWritable(m_socket, kPollMs) < 0);
    std::lock_guard<std::mutex> hold(m_lock);
    if (failed) dieLocked();
    if (failed || !writer || m_stop || m_dead) {
      giveBackTurn();
      return;
    }
  }
}

void CDPlayConnection::writeLoop() {
  try {
    writeFrames();
  } catch (...) {
    // The connection ends; the reader sees it and tells the owner.
    {
      std::lock_guard<std::mutex> hold(m_lock);
      if (m_sender == Sender::kWriter) giveBackTurn();
    }
    die();
  }
}

void CDPlayConnection::writeFrames() {
  const std::vector<BYTE> keepAliveFrame = CDPlayWire::keepAlive();
  for (;;) {
    {
      std::unique_lock<std::mutex> hold(m_lock);
      for (;;) {
        if (m_stop || m_dead) return;
        if (m_sender == Sender::kNone) {
          if (m_pending || !m_queue.empty()) break;
          if (m_finishing) {
            shutdown(m_socket, SD_SEND);
            m_sendClosed = true;
            return;
          }
          if (m_closeAfterFlush) {
            shutdown(m_socket, SD_SEND);
            m_sendClosed = true;
            m_closeAfterFlush = false;
            m_keepAlive = false;
          }
          if (m_keepAlive && now() - m_lastSent >= kKeepAliveInterval) {
            m_batch.addFrame(keepAliveFrame);
            m_pending = true;
            break;
          }
        }
        m_writerWake.wait_for(hold, std::chrono::milliseconds(kPollMs));
      }
      m_sender = Sender::kWriter;
    }
    pump(true);
  }
}
