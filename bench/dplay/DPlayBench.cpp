// Speed of our DirectPlay between two hosts of the test LAN, next to raw Winsock TCP between
// the same two hosts in the same run. lan_bench.sh starts one of these per host:
//
//   dplay_bench server DIR      host the session and answer; the raw TCP side too
//   dplay_bench client DIR IP [ROUNDS]   join, measure both, print RESULT lines
//
// The two find each other through DIR (the session's GUID), as the test LAN's peers do.
// Figures: the median round trip of a 64-byte message, and the rate of 64 MiB sent in 1 MiB
// messages (timed until the receiver's answer to the last one arrives).
#include "CDPlayTestKit.h"
#include "RawTcp.h"

#include <winsock2.h>
#include <ws2tcpip.h>
#include <fcntl.h>
#include <io.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr WORD kRawPort = 47700;
constexpr DWORD kRounds = 5;             // unless the client is given another count
constexpr DWORD kWarmUp = 100;            // round trips before each measured batch
constexpr DWORD kRoundTrips = 1000;       // measured round trips per round
constexpr DWORD kSmall = 64;              // bytes of a round-trip message
constexpr DWORD kBulkMessage = 1024 * 1024;
constexpr DWORD kBulkMessages = 64;       // 64 MiB per bulk run
constexpr DWORD kWait = 60000;            // ms for any one step
constexpr DWORD kRunLimit = 300000;       // ms before the program gives up as a whole

// First byte of each DirectPlay message: what the server does with it.
constexpr BYTE kPing = 'P', kBulk = 'B', kEnd = 'E', kDone = 'D';
// Raw TCP commands: u32 op, u32 argument.
constexpr DWORD kRawPing = 1, kRawBulk = 2, kRawQuit = 3;

double g_ticksPerUs = 0;

double nowUs() {
  LARGE_INTEGER t;
  QueryPerformanceCounter(&t);
  return static_cast<double>(t.QuadPart) / g_ticksPerUs;
}

void result(const char* name, double value) {
  std::printf("RESULT %s %.1f\n", name, value);
  std::fflush(stdout);
}

int fail(const char* what, long code = 0) {
  std::printf("FAIL %s (0x%08lX)\n", what, static_cast<unsigned long>(code));
  std::fflush(stdout);
  return 1;
}

bool waitFile(const std::string& file, DWORD timeoutMs) {
  for (DWORD waited = 0; waited < timeoutMs; waited += 50) {
    if (GetFileAttributesA(file.c_str()) != INVALID_FILE_ATTRIBUTES) return true;
    Sleep(50);
  }
  return false;
}

// ---------------------------------------------------------------------------------------------
// Raw TCP.

void rawServe(SOCKET listener) {
  SOCKET s = accept(listener, nullptr, nullptr);
  if (s == INVALID_SOCKET) return;
  RawTcp::noDelay(s);
  std::vector<BYTE> buffer(kBulkMessage);
  for (;;) {
    DWORD command[2];
    if (!RawTcp::recvAll(s, command, sizeof command)) break;
    if (command[0] == kRawPing) {
      for (DWORD i = 0; i < command[1]; ++i)
        if (!RawTcp::recvAll(s, buffer.data(), kSmall) || !RawTcp::sendAll(s, buffer.data(), kSmall)) break;
    } else if (command[0] == kRawBulk) {
      size_t left = static_cast<size_t>(command[1]) * kBulkMessage;
      while (left > 0) {
        int n = recv(s, reinterpret_cast<char*>(buffer.data()), static_cast<int>(std::min<size_t>(left, buffer.size())), 0);
        if (n <= 0) break;
        left -= static_cast<size_t>(n);
      }
      BYTE done = kDone;
      if (left > 0 || !RawTcp::sendAll(s, &done, 1)) break;
    } else {
      break;
    }
  }
  closesocket(s);
}

bool rawRoundTrips(SOCKET s, DWORD count, std::vector<double>* samples) {
  DWORD command[2] = {kRawPing, count};
  if (!RawTcp::sendAll(s, command, sizeof command)) return false;
  BYTE message[kSmall] = {kPing};
  for (DWORD i = 0; i < count; ++i) {
    double t0 = nowUs();
    if (!RawTcp::sendAll(s, message, kSmall) || !RawTcp::recvAll(s, message, kSmall)) return false;
    if (samples != nullptr) samples->push_back(nowUs() - t0);
  }
  return true;
}

// MiB/s, or 0 on failure.
double rawBulk(SOCKET s, const std::vector<BYTE>& data) {
  DWORD command[2] = {kRawBulk, kBulkMessages};
  if (!RawTcp::sendAll(s, command, sizeof command)) return 0;
  double t0 = nowUs();
  for (DWORD i = 0; i < kBulkMessages; ++i)
    if (!RawTcp::sendAll(s, data.data(), data.size())) return 0;
  BYTE done = 0;
  if (!RawTcp::recvAll(s, &done, 1) || done != kDone) return 0;
  return kBulkMessages * (static_cast<double>(kBulkMessage) / (1024 * 1024)) / ((nowUs() - t0) / 1e6);
}

// ---------------------------------------------------------------------------------------------
// DirectPlay, received the way the program receives: Receive until nothing is left, then wait
// for the player's event and reset it; one buffer that only grows.

struct Player {
  IDirectPlay4A* dp = nullptr;
  HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  DPID id = 0;
  std::vector<BYTE> buffer = std::vector<BYTE>(256);
  ~Player() {
    if (dp != nullptr) dp->Release();
    CloseHandle(event);
  }
};

// The next message: size, sender. False on time-out or error.
bool receive(Player& p, DWORD& size, DPID& from) {
  ULONGLONG deadline = GetTickCount64() + kWait;
  for (;;) {
    DPID to = 0;
    size = static_cast<DWORD>(p.buffer.size());
    HRESULT hr = p.dp->Receive(&from, &to, DPRECEIVE_ALL, p.buffer.data(), &size);
    if (hr == DPERR_BUFFERTOOSMALL) {
      p.buffer.resize(size);
      continue;
    }
    if (hr == DP_OK) return true;
    if (hr != DPERR_NOMESSAGES) return false;
    ULONGLONG now = GetTickCount64();
    if (now >= deadline || WaitForSingleObject(p.event, static_cast<DWORD>(deadline - now)) != WAIT_OBJECT_0)
      return false;
    ResetEvent(p.event);
  }
}

// As the program sends: asynchronous, guaranteed; a busy send is tried again.
bool sendTo(Player& p, DPID to, const BYTE* data, DWORD size) {
  ULONGLONG deadline = GetTickCount64() + kWait;
  for (;;) {
    HRESULT hr = p.dp->SendEx(p.id, to, CDPlayTestKit::kSendFlags, const_cast<BYTE*>(data), size, 0, 0, nullptr, nullptr);
    if (hr == DP_OK || hr == DPERR_PENDING) return true;
    if (hr != DPERR_BUSY || GetTickCount64() >= deadline) return false;
  }
}

int server(const std::string& dir) {
  SOCKET listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  sockaddr_in address = {};
  address.sin_family = AF_INET;
  address.sin_port = htons(kRawPort);
  if (bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || listen(listener, 1) != 0)
    return fail("raw listen", WSAGetLastError());
  std::thread raw([listener] { rawServe(listener); });

  Player p;
  HRESULT hr = CDPlayTestKit::create("", 0, &p.dp);
  GUID instance;
  if (SUCCEEDED(hr)) hr = CDPlayTestKit::host(p.dp, instance);
  if (SUCCEEDED(hr)) hr = CDPlayTestKit::addPlayer(p.dp, "BENCH-S", p.event, true, p.id);
  if (FAILED(hr)) return fail("host", hr);
  char text[64];
  std::snprintf(text, sizeof text, "%08lX-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X",
                static_cast<unsigned long>(instance.Data1), instance.Data2, instance.Data3, instance.Data4[0],
                instance.Data4[1], instance.Data4[2], instance.Data4[3], instance.Data4[4], instance.Data4[5],
                instance.Data4[6], instance.Data4[7]);
  FILE* f = std::fopen((dir + "/session.guid").c_str(), "wb");
  if (f == nullptr) return fail("guid file");
  std::fputs(text, f);
  std::fclose(f);

  int rc = 0;
  for (bool done = false; !done;) {
    DWORD size = 0;
    DPID from = 0;
    if (!receive(p, size, from)) {
      rc = fail("server receive");
      break;
    }
    if (from == DPID_SYSMSG) {
      done = reinterpret_cast<DPMSG_GENERIC*>(p.buffer.data())->dwType == DPSYS_DESTROYPLAYERORGROUP;
      continue;
    }
    BYTE kind = p.buffer[0];
    if (kind == kPing && !sendTo(p, from, p.buffer.data(), size)) rc = fail("echo");
    if (kind == kEnd) {
      p.buffer[0] = kDone;
      if (!sendTo(p, from, p.buffer.data(), kSmall)) rc = fail("bulk answer");
    }
  }
  p.dp->Close();
  closesocket(listener);
  raw.join();
  return rc;
}

bool dplayRoundTrips(Player& p, DWORD count, std::vector<double>* samples) {
  BYTE message[kSmall] = {kPing};
  for (DWORD i = 0; i < count; ++i) {
    double t0 = nowUs();
    DWORD size = 0;
    DPID from = 0;
    if (!sendTo(p, DPID_SERVERPLAYER, message, kSmall) || !receive(p, size, from)) return false;
    if (from != DPID_SERVERPLAYER || size != kSmall || p.buffer[0] != kPing) return false;
    if (samples != nullptr) samples->push_back(nowUs() - t0);
  }
  return true;
}

double dplayBulk(Player& p, std::vector<BYTE>& data) {
  double t0 = nowUs();
  data[0] = kBulk;
  for (DWORD i = 0; i < kBulkMessages; ++i)
    if (!sendTo(p, DPID_SERVERPLAYER, data.data(), static_cast<DWORD>(data.size()))) return 0;
  BYTE end[kSmall] = {kEnd};
  if (!sendTo(p, DPID_SERVERPLAYER, end, kSmall)) return 0;
  DWORD size = 0;
  DPID from = 0;
  if (!receive(p, size, from) || from != DPID_SERVERPLAYER || p.buffer[0] != kDone) return 0;
  return kBulkMessages * (static_cast<double>(kBulkMessage) / (1024 * 1024)) / ((nowUs() - t0) / 1e6);
}

double median(std::vector<double> v) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

int client(const std::string& dir, const std::string& ip, DWORD rounds) {
  GUID instance = GUID_NULL;
  const std::string guidFile = dir + "/session.guid";
  if (!waitFile(guidFile, kWait)) return fail("no session");
  Sleep(100);  // the file is written in one go, but let its writer finish
  FILE* f = std::fopen(guidFile.c_str(), "rb");
  unsigned long d1 = 0;
  unsigned d2 = 0, d3 = 0, b[8] = {0};
  int n = f != nullptr ? std::fscanf(f, "%8lX-%4X-%4X-%2X%2X-%2X%2X%2X%2X%2X%2X", &d1, &d2, &d3, &b[0], &b[1],
                                     &b[2], &b[3], &b[4], &b[5], &b[6], &b[7])
                       : 0;
  if (f != nullptr) std::fclose(f);
  if (n != 11) return fail("session file");
  instance.Data1 = d1;
  instance.Data2 = static_cast<WORD>(d2);
  instance.Data3 = static_cast<WORD>(d3);
  for (int i = 0; i < 8; ++i) instance.Data4[i] = static_cast<BYTE>(b[i]);

  SOCKET raw = RawTcp::connectTo(ip, kRawPort, kWait);
  if (raw == INVALID_SOCKET) return fail("raw connect");
  Player p;
  HRESULT hr = CDPlayTestKit::create(ip, 0, &p.dp);
  if (SUCCEEDED(hr)) hr = CDPlayTestKit::join(p.dp, instance);
  if (SUCCEEDED(hr)) hr = CDPlayTestKit::addPlayer(p.dp, "BENCH-C", p.event, false, p.id);
  if (FAILED(hr)) return fail("join", hr);
  DWORD size = 0;
  DPID from = 0;
  if (!receive(p, size, from) || from != DPID_SYSMSG) return fail("no server player");

  std::vector<BYTE> bulk(kBulkMessage);
  for (size_t i = 0; i < bulk.size(); ++i) bulk[i] = static_cast<BYTE>(i * 131 + 7);
  std::vector<double> rawTrips, dplayTrips, rawRates, dplayRates;
  // Rounds alternate between the two, so that both see the same state of the machine.
  for (DWORD round = 0; round < rounds; ++round) {
    if (!rawRoundTrips(raw, kWarmUp, nullptr) || !rawRoundTrips(raw, kRoundTrips, &rawTrips))
      return fail("raw round trips");
    if (!dplayRoundTrips(p, kWarmUp, nullptr) || !dplayRoundTrips(p, kRoundTrips, &dplayTrips))
      return fail("DirectPlay round trips");
    double rate = rawBulk(raw, bulk);
    if (rate <= 0) return fail("raw bulk");
    rawRates.push_back(rate);
    rate = dplayBulk(p, bulk);
    if (rate <= 0) return fail("DirectPlay bulk");
    dplayRates.push_back(rate);
  }
  result("dplay_round_trip_us", median(dplayTrips));
  result("raw_round_trip_us", median(rawTrips));
  result("dplay_bulk_mibs", median(dplayRates));
  result("raw_bulk_mibs", median(rawRates));

  DWORD quit[2] = {kRawQuit, 0};
  RawTcp::sendAll(raw, quit, sizeof quit);
  closesocket(raw);
  p.dp->DestroyPlayer(p.id);
  p.dp->Close();
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  _setmode(_fileno(stdout), _O_BINARY);  // plain lines for the script that reads them
  LARGE_INTEGER frequency;
  QueryPerformanceFrequency(&frequency);
  g_ticksPerUs = static_cast<double>(frequency.QuadPart) / 1e6;
  WSADATA wsa;
  if (WSAStartup(MAKEWORD(2, 2), &wsa) != 0) return fail("WSAStartup");
  // Never hang the script: a peer that vanished ends this one too.
  std::thread([] {
    Sleep(kRunLimit);
    std::printf("FAIL run limit\n");
    std::fflush(stdout);
    std::_Exit(3);
  }).detach();
  std::string mode = argc > 2 ? argv[1] : "";
  if (mode == "server") return server(argv[2]);
  if (mode == "client" && argc > 3) {
    int rounds = argc > 4 ? std::atoi(argv[4]) : static_cast<int>(kRounds);
    return client(argv[2], argv[3], rounds > 0 ? static_cast<DWORD>(rounds) : kRounds);
  }
  std::fprintf(stderr, "usage: dplay_bench server DIR | client DIR IP [ROUNDS]\n");
  return 64;
}
