#pragma once
// A peer that speaks raw bytes to a DirectPlay object: to send it what a broken or hostile
// program would, or to play a host that stops answering.
#include "CDPlayFrameReader.h"
#include "CDPlaySocket.h"

#include <string>
#include <vector>

class CDPlayRawPeer {
 public:
  CDPlayRawPeer();
  ~CDPlayRawPeer();
  CDPlayRawPeer(const CDPlayRawPeer&) = delete;
  CDPlayRawPeer& operator=(const CDPlayRawPeer&) = delete;

  bool connect(const std::string& host, WORD port, DWORD timeoutMs);
  // As a fake host: listen, then take one connection.
  bool listen(WORD port);
  bool accept(DWORD timeoutMs);

  bool send(const std::vector<BYTE>& bytes);
  // What the socket takes within timeoutMs, in bytes: less than size when the other side does
  // not read, 0 when nothing went or the connection is gone.
  size_t sendSome(const BYTE* data, size_t size, DWORD timeoutMs);
  // The frames sent so far are all; the peer still reads what comes back.
  void closeSending();
  // One frame within timeoutMs; false on time-out, close or a stream that is not frames.
  bool readFrame(DPlayFrame& frame, DWORD timeoutMs);
  // Reads and drops until the other side closes the connection; false if it is still open
  // after timeoutMs.
  bool waitClosed(DWORD timeoutMs);
  void close();

 private:
  SOCKET m_socket = INVALID_SOCKET;
  SOCKET m_listener = INVALID_SOCKET;
  CDPlayFrameReader m_reader;
};
