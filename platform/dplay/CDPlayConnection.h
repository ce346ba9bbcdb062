#pragma once
// One TCP connection between two DirectPlay objects.
//
// Receiving: a reader thread waits on the socket's event, reads what has arrived in large
// pieces, cuts it into frames and hands them to the owner in stream order. While the owner has
// no room for more, it stops reading (the peer's sends then wait: TCP back-pressure); it drops
// a peer that stays silent (keep-alive).
//
// Sending: control frames and messages are queued in order, messages are sent in fragments of
// at most 64 KiB, several fragments per socket call and without copying them again. Whoever
// holds the send turn hands the queue to the socket: a message queued behind nothing is sent at
// once on the caller's thread, as far as the socket takes it without waiting; the writer thread
// takes over what the socket could not take, sends control frames and, after a second of
// silence, the keep-alive.
#include "CDPlayFrameReader.h"
#include "CDPlayOutBatch.h"
#include "CDPlaySocket.h"

#include <atomic>
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

class CDPlayConnection : public std::enable_shared_from_this<CDPlayConnection> {
 public:
  class IOwner {
   public:
    // Called on the reader thread, one frame at a time in stream order. Returning false drops
    // the connection (the frame was not acceptable now).
    virtual bool onFrame(CDPlayConnection* connection, const DPlayFrame& frame) = 0;
    // Called once on the reader thread when the connection ends by itself (not after stop()).
    virtual void onClosed(CDPlayConnection* connection) = 0;
    // Whether the owner takes more frames now. While it does not, the reader leaves the rest
    // in the socket and waits in waitToTakeMore(). Asked only once the peer has joined
    // (keepAlive()): until then its frames are a handshake, which gives the application nothing.
    virtual bool mayTakeMore() = 0;
    virtual void waitToTakeMore(DWORD timeoutMs) = 0;

   protected:
    ~IOwner() = default;
  };

  static constexpr DWORD kKeepAliveInterval = 1000;  // ms of sending silence before a keep-alive
  static constexpr DWORD kKeepAliveTimeout = 8000;   // ms of receiving silence that drop a peer
  static constexpr DWORD kHandshakeTimeout = 5000;   // ms for a new peer to say what it wants
  static constexpr size_t kMaxQueued = 256u * 1024 * 1024;  // bytes waiting to be sent
  // Control frames answer a peer's requests or tell it of players, a few hundred bytes each; a
  // peer that lets this many pile up without reading them asks without listening, and is dropped.
  static constexpr size_t kMaxQueuedControl = 1024 * 1024;

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

  void post(std::vector<BYTE> frame);  // a control frame; the writer thread sends it
  // Queues a message. True when nothing was queued ahead of it: the caller then calls
  // sendQueued() as soon as it holds no lock of its own.
  bool post(const std::shared_ptr<DPlayOutMessage>& message);
  // On the caller's thread: hands the socket what is queued as far as it takes it without
  // waiting; the writer thread sends the rest. Nothing when another thread is sending.
  void sendQueued();
  size_t queuedBytes();
  // Messages not yet handed to the socket whole, from and to those players (0: any), and
  // their bytes still to go.
  void queuedMessages(DPID from, DPID to, DWORD& count, DWORD& bytes);
  // Whether a message of size bytes fits below kMaxQueued now.
  bool hasRoom(size_t size);
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
    size_t sent = 0;                            // message bytes handed to the batch so far
    bool started = false;                       // a message begun cannot be cancelled
  };
  enum class Sender { kNone, kCaller, kWriter };  // who holds the send turn
  enum class Dispatch { kNeedMore, kFull, kBroken };

  void readLoop();    // the reader thread: readFrames, then the end of the connection
  void readFrames();
  void writeLoop();   // the writer thread
  void writeFrames();
  Dispatch dispatchBuffered();
  bool waitReadable(DWORD timeoutMs);  // false on a socket error
  // With the send turn: sends until the queue is empty, the socket is full (not the writer) or
  // the connection ends; gives the turn back.
  void pump(bool writer);
  bool fillBatch();                    // with m_lock: the next frames of the queue into m_batch
  void giveBackTurn();                 // with m_lock
  void notifyChanged();                // with m_lock: wakes whoever waits on m_changed
  template <class Predicate>
  bool waitChanged(std::unique_lock<std::mutex>& hold, DWORD timeoutMs, Predicate done);
  void die();  // marks the connection dead and wakes everyone
  void dieLocked();
  static size_t itemSize(const Item& item);

  SOCKET m_socket;
  IOwner* m_owner;
  sockaddr_in m_peer;
  CDPlayFrameReader m_reader;
  HANDLE m_readable = nullptr;  // set when the socket has data or was closed, and by stop()
  bool m_eventSelect = false;   // the socket sets m_readable (else the reader polls with select)

  std::mutex m_lock;
  std::condition_variable m_writerWake;  // the writer: something may be there to send
  std::condition_variable m_changed;     // the queue shrank, the turn came back, the reader ended
  int m_waiting = 0;                     // threads waiting on m_changed
  std::deque<Item> m_queue;
  size_t m_queuedBytes = 0;
  size_t m_queuedControl = 0;  // of which control frames
  Sender m_sender = Sender::kNone;
  bool m_pending = false;      // m_batch holds bytes the socket has not taken yet
  bool m_stop = false;
  bool m_dead = false;
  bool m_keepAlive = false;
  bool m_closeAfterFlush = false;
  bool m_finishing = false;
  bool m_sendClosed = false;
  bool m_readerDone = false;
  std::atomic<bool> m_joined{false};  // keepAlive() was called
  std::atomic<ULONGLONG> m_lastSent{0};
  CDPlayOutBatch m_batch;  // belongs to the holder of the send turn

  std::thread m_readThread;
  std::thread m_writeThread;
};
