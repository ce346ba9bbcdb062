#pragma once
// One TCP connection between two DirectPlay objects: a reader thread that cuts the stream into
// frames and hands them to the owner, a writer thread that sends queued frames and messages
// (messages in fragments, so keep-alives and control frames never wait behind a large one),
// and the keep-alive that finds a silent peer.
#include "CDPlayFrameReader.h"
#include "CDPlaySocket.h"

#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>

// A message to send; shared by the connections it goes to.
struct DPlayOutMessage {
  DWORD id = 0;  // for CancelMessage
  DPID from = 0;
  DPID to = 0;
  std::shared_ptr<const std::vector<BYTE>> data;
};

class CDPlayConnection {
 public:
  class IOwner {
   public:
    // Called on the reader thread, one frame at a time in stream order. Returning false drops
    // the connection (the frame was not acceptable now).
    virtual bool onFrame(CDPlayConnection* connection, const DPlayFrame& frame) = 0;
    // Called once on the reader thread when the connection ends by itself (not after stop()).
    virtual void onClosed(CDPlayConnection* connection) = 0;

   protected:
    ~IOwner() = default;
  };

  static constexpr DWORD kKeepAliveInterval = 1000;  // ms of sending silence before a keep-alive
  static constexpr DWORD kKeepAliveTimeout = 8000;   // ms of receiving silence that drop a peer
  static constexpr DWORD kHandshakeTimeout = 5000;   // ms for a new peer to say what it wants
  static constexpr size_t kMaxQueued = 256u * 1024 * 1024;  // bytes waiting to be sent

  CDPlayConnection(SOCKET s, IOwner* owner);
  ~CDPlayConnection();  // stop()
  CDPlayConnection(const CDPlayConnection&) = delete;
  CDPlayConnection& operator=(const CDPlayConnection&) = delete;

  // Before start(): plain request/answer on the caller's thread.
  bool sendNow(const std::vector<BYTE>& frame, DWORD timeoutMs);
  // 1 frame read (valid until the next call), 0 time-out, -1 closed or bad stream.
  int readNow(DPlayFrame& frame, DWORD timeoutMs);

  // Starts both threads; frames already buffered are handed over first. Until keepAlive() the
  // peer must finish its handshake within kHandshakeTimeout.
  void start();
  void keepAlive();  // the peer has joined: from now on silence, not time, drops it

  void post(std::vector<BYTE> frame);  // a control frame
  void post(const std::shared_ptr<DPlayOutMessage>& message);
  size_t queuedBytes();
  // Waits up to timeoutMs for the queue to fall below kMaxQueued - size; false when still full.
  bool waitForRoom(size_t size, DWORD timeoutMs);
  // Removes messages not yet begun: all (id 0) or the one with that id. Returns how many.
  int cancel(DWORD id);
  // Sends what is queued, then closes the sending side; the reader ends when the peer closes.
  void closeAfterFlush();
  // Waits up to timeoutMs until everything queued was sent.
  bool flush(DWORD timeoutMs);
  // Ends the connection in order: sends what is queued, closes the sending side, reads (and
  // drops) until the peer closes too, then stop(); waits at most timeoutMs in all. From the
  // call on, the owner hears no more frames and no onClosed.
  void finish(DWORD timeoutMs);
  void beginFinish();  // the first part of finish(), without waiting
  // Ends both threads and closes the socket. Never from the connection's own threads.
  void stop();

  bool isDead();
  sockaddr_in peer() const { return m_peer; }

 private:
  struct Item {
    std::vector<BYTE> frame;                    // a control frame, or
    std::shared_ptr<DPlayOutMessage> message;   // a message
    size_t sent = 0;                            // message bytes sent so far
    bool started = false;                       // a message begun cannot be cancelled
  };

  void readLoop();
  void writeLoop();
  bool dispatchBuffered();
  void die();  // marks the connection dead and wakes everyone
  size_t itemSize(const Item& item) const;

  SOCKET m_socket;
  IOwner* m_owner;
  sockaddr_in m_peer;
  CDPlayFrameReader m_reader;

  std::mutex m_lock;
  std::condition_variable m_changed;
  std::deque<Item> m_queue;
  size_t m_queuedBytes = 0;
  bool m_sending = false;  // the writer holds the front item
  bool m_stop = false;
  bool m_dead = false;
  bool m_keepAlive = false;
  bool m_closeAfterFlush = false;
  bool m_finishing = false;
  bool m_readerDone = false;

  std::thread m_readThread;
  std::thread m_writeThread;
};
