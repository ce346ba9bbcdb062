// One terminal of a DirectPlay session on a host of the test LAN (tools/lan). The script that
// drives the LAN starts one of these per host, coordinates them through files in a shared
// folder and reads what each one writes to its log.
//
//   dplay_peer host-session  DIR CLIENTS      host; exchange payloads with CLIENTS clients; close
//   dplay_peer client-session DIR NAME IP     join; exchange payloads; wait for the host's close
//   dplay_peer host-stay DIR                  host; log players coming and going until killed
//   dplay_peer client-stay DIR NAME IP        join; log until the session is lost
//   dplay_peer host-vanish DIR                host a session, close it, host another
//   dplay_peer join-gone IP GUIDFILE          a join of that session must find nothing
//   dplay_peer garbage IP                     broken frames must each end their connection
//
// Exit code 0 when the part went as it should; the log says what happened.
#include "CDPlayConnection.h"
#include "CDPlayRawPeer.h"
#include "CDPlayTestKit.h"
#include "CDPlayWire.h"

#include <fcntl.h>
#include <io.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>

namespace {

constexpr DWORD kPhaseWait = 60000;   // ms for another host to reach the next step
constexpr DWORD kStayLimit = 150000;  // ms a staying peer waits before it gives up
constexpr DWORD kDone = 0xFFFFFFFF;   // sequence number of the "all received" message

// Payload sizes of one phase, and the 8 MB one that pictures need.
const size_t kPhase1[] = {12, 300, 65536, 65537, 200000};
const size_t kPhase2[] = {8 * 1024 * 1024, 1000, 3 * 65536 + 1};

FILE* g_log = nullptr;

void logLine(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::fprintf(g_log, "%llu ", static_cast<unsigned long long>(GetTickCount64()));
  std::vfprintf(g_log, format, args);
  std::fputc('\n', g_log);
  std::fflush(g_log);
  va_end(args);
}

int fail(const char* what, HRESULT hr = S_OK) {
  logLine("FAIL %s (0x%08lX)", what, static_cast<unsigned long>(hr));
  return 1;
}

std::string path(const std::string& dir, const std::string& name) { return dir + "/" + name; }

void touch(const std::string& file, const std::string& text = "") {
  FILE* f = std::fopen(file.c_str(), "wb");
  if (f != nullptr) {
    std::fputs(text.c_str(), f);
    std::fclose(f);
  }
}

bool waitFile(const std::string& file, DWORD timeoutMs) {
  for (DWORD waited = 0; waited < timeoutMs; waited += 50) {
    if (GetFileAttributesA(file.c_str()) != INVALID_FILE_ATTRIBUTES) return true;
    Sleep(50);
  }
  return false;
}

std::string guidText(const GUID& g) {
  char text[64];
  std::snprintf(text, sizeof text, "%08lX-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X",
                static_cast<unsigned long>(g.Data1), g.Data2, g.Data3, g.Data4[0], g.Data4[1], g.Data4[2],
                g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6], g.Data4[7]);
  return text;
}

bool readGuid(const std::string& file, GUID& g) {
  FILE* f = std::fopen(file.c_str(), "rb");
  if (f == nullptr) return false;
  unsigned long d1 = 0;
  unsigned d2 = 0, d3 = 0, b[8] = {0};
  int n = std::fscanf(f, "%8lX-%4X-%4X-%2X%2X-%2X%2X%2X%2X%2X%2X", &d1, &d2, &d3, &b[0], &b[1], &b[2], &b[3],
                      &b[4], &b[5], &b[6], &b[7]);
  std::fclose(f);
  if (n != 11) return false;
  g.Data1 = d1;
  g.Data2 = static_cast<WORD>(d2);
  g.Data3 = static_cast<WORD>(d3);
  for (int i = 0; i < 8; ++i) g.Data4[i] = static_cast<BYTE>(b[i]);
  return true;
}

// An asynchronous send answers DPERR_PENDING: queued, and on its way.
bool sendTo(IDirectPlay4A* dp, DPID from, DPID to, const std::vector<BYTE>& data) {
  HRESULT hr = dp->SendEx(from, to, CDPlayTestKit::kSendFlags, const_cast<BYTE*>(data.data()),
                          static_cast<DWORD>(data.size()), 0, 0, nullptr, nullptr);
  return hr == DP_OK || hr == DPERR_PENDING;
}

struct Terminal {
  IDirectPlay4A* dp = nullptr;
  HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  DPID id = 0;
  ~Terminal() {
    if (dp != nullptr) dp->Release();
    CloseHandle(event);
  }
};

// Host: open, make the server player, tell the others where the session is.
int openHost(Terminal& t, const std::string& dir, const char* guidFile) {
  HRESULT hr = CDPlayTestKit::create("", 0, &t.dp);
  if (FAILED(hr)) return fail("create", hr);
  GUID instance;
  if (FAILED(hr = CDPlayTestKit::host(t.dp, instance))) return fail("open", hr);
  if (FAILED(hr = CDPlayTestKit::addPlayer(t.dp, "TERM-1", t.event, true, t.id))) return fail("server player", hr);
  logLine("HOSTING %s", guidText(instance).c_str());
  touch(path(dir, guidFile), guidText(instance));
  return 0;
}

int joinHost(Terminal& t, const std::string& dir, const std::string& name, const std::string& ip) {
  GUID instance;
  if (!waitFile(path(dir, "session.guid"), kPhaseWait) || !readGuid(path(dir, "session.guid"), instance))
    return fail("no session to join");
  HRESULT hr = CDPlayTestKit::create(ip, 0, &t.dp);
  if (FAILED(hr)) return fail("create", hr);
  bool found = false;
  hr = CDPlayTestKit::join(t.dp, instance, &found);
  if (FAILED(hr)) return fail(found ? "join of a session that was found" : "join", hr);
  if (FAILED(hr = CDPlayTestKit::addPlayer(t.dp, name, t.event, false, t.id))) return fail("player", hr);
  logLine("JOINED %lu found=%d", static_cast<unsigned long>(t.id), found ? 1 : 0);
  DPlayReceived m;
  if (!CDPlayTestKit::nextSystem(t.dp, t.event, DPSYS_CREATEPLAYERORGROUP, kPhaseWait, m))
    return fail("no server player");
  logLine("SERVER %lu %s", static_cast<unsigned long>(m.sysId), m.sysName.c_str());
  return 0;
}

// Host of the payload exchange.
int hostSession(const std::string& dir, int clients) {
  Terminal t;
  if (int rc = openHost(t, dir, "session.guid")) return rc;
  const DWORD total = static_cast<DWORD>(std::size(kPhase1) + std::size(kPhase2));
  std::map<DPID, std::string> names;
  std::map<DPID, DWORD> received;
  int done = 0;
  bool sent = false;
  ULONGLONG deadline = GetTickCount64() + 3 * kPhaseWait;
  while (done < clients) {
    DPlayReceived m;
    ULONGLONG now = GetTickCount64();
    if (now >= deadline || !CDPlayTestKit::next(t.dp, t.event, static_cast<DWORD>(deadline - now), m))
      return fail("host timed out");
    if (m.isSystem()) {
      logLine("SYS %lu %lu %s", static_cast<unsigned long>(m.sysType), static_cast<unsigned long>(m.sysId), m.sysName.c_str());
      if (m.sysType != DPSYS_CREATEPLAYERORGROUP) return fail("unexpected system message");
      names[m.sysId] = m.sysName;
      received[m.sysId] = 0;
    } else {
      DWORD sender = 0, sequence = 0;
      if (!CDPlayTestKit::checkPayload(m.data, sender, sequence) || sender != m.from) return fail("payload damaged");
      if (names.count(m.from) == 0) return fail("payload before its sender's arrival");
      if (sequence == kDone) {
        if (received[m.from] != total) return fail("done before everything arrived");
        logLine("PAYLOADS %s %lu OK", names[m.from].c_str(), static_cast<unsigned long>(total));
        ++done;
      } else {
        size_t expected = sequence < std::size(kPhase1) ? kPhase1[sequence] : kPhase2[sequence - std::size(kPhase1)];
        if (sequence != received[m.from] || m.data.size() != expected) return fail("payload out of order");
        ++received[m.from];
      }
    }
    if (!sent && static_cast<int>(names.size()) == clients) {
      // Everyone is here: to each client by its id, and to all of them.
      DWORD sequence = 0;
      for (const size_t* phase : {kPhase1, kPhase2}) {
        size_t count = phase == kPhase1 ? std::size(kPhase1) : std::size(kPhase2);
        for (size_t i = 0; i < count; ++i, ++sequence) {
          for (const auto& client : names)
            if (!sendTo(t.dp, t.id, client.first, CDPlayTestKit::payload(t.id, 2 * sequence, phase[i])))
              return fail("send to a client");
          if (!sendTo(t.dp, t.id, DPID_ALLPLAYERS, CDPlayTestKit::payload(t.id, 2 * sequence + 1, phase[i])))
            return fail("send to all");
        }
      }
      logLine("SENT");
      sent = true;
    }
  }
  HRESULT hr = CDPlayTestKit::closeAsHost(t.dp, t.id);
  logLine("CLOSED 0x%08lX", static_cast<unsigned long>(hr));
  return FAILED(hr) ? 1 : 0;
}

int clientSession(const std::string& dir, const std::string& name, const std::string& ip) {
  Terminal t;
  if (int rc = joinHost(t, dir, name, ip)) return rc;
  DWORD sequence = 0;
  for (size_t size : kPhase1)
    if (!sendTo(t.dp, t.id, DPID_SERVERPLAYER, CDPlayTestKit::payload(t.id, sequence++, size)))
      return fail("send phase 1");
  touch(path(dir, name + ".phase1"));
  if (!waitFile(path(dir, "phase2.go"), kPhaseWait)) return fail("no phase 2");
  for (size_t size : kPhase2)
    if (!sendTo(t.dp, t.id, DPID_SERVERPLAYER, CDPlayTestKit::payload(t.id, sequence++, size)))
      return fail("send phase 2");

  const DWORD expected = 2 * static_cast<DWORD>(std::size(kPhase1) + std::size(kPhase2));
  for (DWORD n = 0; n < expected; ++n) {
    DPlayReceived m;
    DWORD sender = 0, got = 0;
    if (!CDPlayTestKit::next(t.dp, t.event, kPhaseWait, m)) return fail("host payloads missing");
    if (m.isSystem()) return fail("unexpected system message");
    if (!CDPlayTestKit::checkPayload(m.data, sender, got) || m.from != DPID_SERVERPLAYER) return fail("payload damaged");
    if (got != n) return fail("payload out of order");
  }
  logLine("RECEIVED %lu OK", static_cast<unsigned long>(expected));
  if (!sendTo(t.dp, t.id, DPID_SERVERPLAYER, CDPlayTestKit::payload(t.id, kDone, 16))) return fail("send done");

  DPlayReceived m;
  if (!CDPlayTestKit::nextSystem(t.dp, t.event, DPSYS_DESTROYPLAYERORGROUP, kPhaseWait, m)) return fail("no destroy");
  logLine("DESTROYED %lu %s", static_cast<unsigned long>(m.sysId), m.sysName.c_str());
  if (m.sysId != t.id || m.sysName != name) return fail("destroy of another player");
  t.dp->DestroyPlayer(t.id);
  t.dp->Close();
  return 0;
}

// Logs the session's events until the limit; the script ends it earlier.
int stay(Terminal& t, bool host) {
  ULONGLONG deadline = GetTickCount64() + kStayLimit;
  for (;;) {
    DPlayReceived m;
    ULONGLONG now = GetTickCount64();
    if (now >= deadline) return 2;
    if (!CDPlayTestKit::next(t.dp, t.event, static_cast<DWORD>(deadline - now), m)) continue;
    if (!m.isSystem()) continue;
    switch (m.sysType) {
      case DPSYS_CREATEPLAYERORGROUP:
        logLine("CREATE %lu %s", static_cast<unsigned long>(m.sysId), m.sysName.c_str());
        break;
      case DPSYS_DESTROYPLAYERORGROUP:
        logLine("DESTROY %lu %s", static_cast<unsigned long>(m.sysId), m.sysName.c_str());
        if (!host) return 0;
        break;
      case DPSYS_SESSIONLOST:
        logLine("SESSIONLOST");
        return host ? 1 : 0;
      default:
        logLine("SYS %lu", static_cast<unsigned long>(m.sysType));
        break;
    }
  }
}

int hostStay(const std::string& dir) {
  Terminal t;
  if (int rc = openHost(t, dir, "session.guid")) return rc;
  return stay(t, true);
}

int clientStay(const std::string& dir, const std::string& name, const std::string& ip) {
  Terminal t;
  if (int rc = joinHost(t, dir, name, ip)) return rc;
  return stay(t, false);
}

int hostVanish(const std::string& dir) {
  Terminal t;
  if (int rc = openHost(t, dir, "first.guid")) return rc;
  HRESULT hr = CDPlayTestKit::closeAsHost(t.dp, t.id);
  if (FAILED(hr)) return fail("close", hr);
  GUID second;
  if (FAILED(hr = CDPlayTestKit::host(t.dp, second))) return fail("open again", hr);
  logLine("HOSTING %s", guidText(second).c_str());
  touch(path(dir, "second.guid"), guidText(second));
  if (!waitFile(path(dir, "close.go"), kPhaseWait)) return fail("never told to close");
  t.dp->Close();
  logLine("CLOSED");
  return 0;
}

int joinGone(const std::string& ip, const std::string& guidFile) {
  GUID instance;
  if (!readGuid(guidFile, instance)) return fail("no session file");
  Terminal t;
  HRESULT hr = CDPlayTestKit::create(ip, 0, &t.dp);
  if (FAILED(hr)) return fail("create", hr);
  bool found = true;
  hr = CDPlayTestKit::join(t.dp, instance, &found);
  logLine("JOIN 0x%08lX found=%d", static_cast<unsigned long>(hr), found ? 1 : 0);
  return hr == DPERR_NOSESSIONS && !found ? 0 : 1;
}

// Broken peers, each on its own connection: every one must be cut off by the host.
int garbage(const std::string& ip) {
  std::vector<BYTE> hello = CDPlayWire::hello(1);
  struct Case {
    const char* what;
    std::vector<BYTE> bytes;
  } cases[] = {
      {"text", {'H', 'E', 'L', 'O', ' ', 'h', 'o', 's', 't', '\r', '\n'}},
      {"a frame of four gigabytes", {0xff, 0xff, 0xff, 0xff, CDPlayWire::kDataBegin}},
      {"an unknown frame type", {1, 0, 0, 0, 0xee}},
      {"a join before the greeting", CDPlayWire::join(GUID_NULL, GUID_NULL)},
      {"a greeting cut short", std::vector<BYTE>(hello.begin(), hello.begin() + 6)},
  };
  int failures = 0;
  for (const Case& c : cases) {
    CDPlayRawPeer raw;
    if (!raw.connect(ip, CDPlayWire::kDefaultPort, 5000) || !raw.send(c.bytes)) {
      logLine("FAIL cannot send %s", c.what);
      ++failures;
      continue;
    }
    bool closed = raw.waitClosed(CDPlayConnection::kHandshakeTimeout + 3000);
    logLine("%s %s", closed ? "CUT" : "FAIL still open after", c.what);
    if (!closed) ++failures;
  }
  return failures == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  g_log = stdout;
  _setmode(_fileno(stdout), _O_BINARY);  // plain lines for the script that reads them
  if (argc < 3) {
    std::fprintf(stderr, "usage: dplay_peer MODE ARGS...\n");
    return 64;
  }
  std::string mode = argv[1];
  std::string a = argv[2];
  std::string b = argc > 3 ? argv[3] : "";
  std::string c = argc > 4 ? argv[4] : "";
  if (mode == "host-session") return hostSession(a, std::atoi(b.c_str()));
  if (mode == "client-session") return clientSession(a, b, c);
  if (mode == "host-stay") return hostStay(a);
  if (mode == "client-stay") return clientStay(a, b, c);
  if (mode == "host-vanish") return hostVanish(a);
  if (mode == "join-gone") return joinGone(a, b);
  if (mode == "garbage") return garbage(a);
  std::fprintf(stderr, "unknown mode %s\n", mode.c_str());
  return 64;
}
