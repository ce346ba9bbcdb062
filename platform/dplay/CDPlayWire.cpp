#include "CDPlayWire.h"

#include <cstring>

namespace {

const BYTE kMagic[8] = {'T', 'A', 'V', 'D', 'P', 'L', 'A', 'Y'};

struct Limits {
  DWORD minBody;
  DWORD maxBody;
};

constexpr DWORD kText = 1 + CDPlayWire::kMaxText;

// Indexed by type; entry 0 is unused.
const Limits kLimits[CDPlayWire::kLastType + 1] = {
    {0, 0},                                                              // -
    {12, 12},                                                            // HELLO
    {12, 12},                                                            // WELCOME
    {4, 4},                                                              // REFUSE
    {20, 20},                                                            // ENUM
    {CDPlayWire::kSessionFixed + 1, CDPlayWire::kSessionFixed + kText},  // SESSION
    {0, 0},                                                              // ENUM_END
    {32, 32},                                                            // JOIN
    {CDPlayWire::kSessionFixed + 1, CDPlayWire::kSessionFixed + kText},  // JOINED
    {4 + 2, 4 + 2 * kText},                                              // CREATE_PLAYER
    {8, 8},                                                              // PLAYER_CREATED
    {8 + 2, 8 + 2 * kText},                                              // PLAYER_INFO
    {4, 4},                                                              // DESTROY_PLAYER
    {CDPlayWire::kDataBeginFixed + 1, CDPlayWire::kDataBeginFixed + CDPlayWire::kMaxFragment},
    {1, CDPlayWire::kMaxFragment},                                       // DATA_MORE
    {0, 0},                                                              // KEEPALIVE
};

class Writer {
 public:
  explicit Writer(BYTE type) {
    m_out.resize(CDPlayWire::kHeaderSize);
    m_out[4] = type;
  }
  void u32(DWORD v) {
    for (int i = 0; i < 4; ++i) m_out.push_back(static_cast<BYTE>(v >> (8 * i)));
  }
  void guid(const GUID& g) {
    u32(g.Data1);
    m_out.push_back(static_cast<BYTE>(g.Data2));
    m_out.push_back(static_cast<BYTE>(g.Data2 >> 8));
    m_out.push_back(static_cast<BYTE>(g.Data3));
    m_out.push_back(static_cast<BYTE>(g.Data3 >> 8));
    m_out.insert(m_out.end(), g.Data4, g.Data4 + 8);
  }
  void bytes(const BYTE* p, size_t n) { m_out.insert(m_out.end(), p, p + n); }
  // Callers pass texts already checked or cut to kMaxText.
  void text(const std::string& s) {
    size_t n = s.size() < CDPlayWire::kMaxText ? s.size() : CDPlayWire::kMaxText;
    m_out.push_back(static_cast<BYTE>(n));
    bytes(reinterpret_cast<const BYTE*>(s.data()), n);
  }
  std::vector<BYTE> done() {
    DWORD size = static_cast<DWORD>(m_out.size() - 4);
    for (int i = 0; i < 4; ++i) m_out[i] = static_cast<BYTE>(size >> (8 * i));
    return std::move(m_out);
  }

 private:
  std::vector<BYTE> m_out;
};

class Reader {
 public:
  explicit Reader(const DPlayFrame& f) : m_p(f.body), m_left(f.size) {}
  bool u32(DWORD& v) {
    if (m_left < 4) return fail();
    v = static_cast<DWORD>(m_p[0]) | static_cast<DWORD>(m_p[1]) << 8 |
        static_cast<DWORD>(m_p[2]) << 16 | static_cast<DWORD>(m_p[3]) << 24;
    skip(4);
    return true;
  }
  bool guid(GUID& g) {
    if (m_left < 16) return fail();
    DWORD d1 = 0;
    u32(d1);
    g.Data1 = d1;
    g.Data2 = static_cast<WORD>(m_p[0] | m_p[1] << 8);
    g.Data3 = static_cast<WORD>(m_p[2] | m_p[3] << 8);
    std::memcpy(g.Data4, m_p + 4, 8);
    skip(12);
    return true;
  }
  bool text(std::string& s) {
    if (m_left < 1) return fail();
    DWORD n = m_p[0];
    if (m_left - 1 < n) return fail();
    const char* t = reinterpret_cast<const char*>(m_p + 1);
    if (std::memchr(t, 0, n) != nullptr) return fail();
    s.assign(t, n);
    skip(1 + n);
    return true;
  }
  bool magic() {
    if (m_left < sizeof kMagic || std::memcmp(m_p, kMagic, sizeof kMagic) != 0) return fail();
    skip(sizeof kMagic);
    return true;
  }
  const BYTE* rest(DWORD& n) {
    n = m_left;
    const BYTE* p = m_p;
    skip(m_left);
    return p;
  }
  // Every byte of the body must have been used.
  bool end() const { return m_ok && m_left == 0; }

 private:
  void skip(DWORD n) {
    m_p += n;
    m_left -= n;
  }
  bool fail() {
    m_ok = false;
    return false;
  }
  const BYTE* m_p;
  DWORD m_left;
  bool m_ok = true;
};

bool isType(const DPlayFrame& f, BYTE a, BYTE b = 0) { return f.type == a || (b != 0 && f.type == b); }

}  // namespace

bool CDPlayWire::bodyLimits(BYTE type, DWORD& minBody, DWORD& maxBody) {
  if (type < kHello || type > kLastType) return false;
  minBody = kLimits[type].minBody;
  maxBody = kLimits[type].maxBody;
  return true;
}

std::vector<BYTE> CDPlayWire::hello(DWORD version) {
  Writer w(kHello);
  w.bytes(kMagic, sizeof kMagic);
  w.u32(version);
  return w.done();
}

std::vector<BYTE> CDPlayWire::welcome(DWORD version) {
  Writer w(kWelcome);
  w.bytes(kMagic, sizeof kMagic);
  w.u32(version);
  return w.done();
}

std::vector<BYTE> CDPlayWire::refuse(HRESULT hr) {
  Writer w(kRefuse);
  w.u32(static_cast<DWORD>(hr));
  return w.done();
}

std::vector<BYTE> CDPlayWire::enumRequest(const GUID& application, DWORD flags) {
  Writer w(kEnum);
  w.guid(application);
  w.u32(flags);
  return w.done();
}

std::vector<BYTE> CDPlayWire::session(BYTE type, const DPlaySessionInfo& info) {
  Writer w(type);
  w.u32(info.flags);
  w.guid(info.instance);
  w.guid(info.application);
  w.u32(info.maxPlayers);
  w.u32(info.currentPlayers);
  for (DWORD u : info.user) w.u32(u);
  w.text(info.name);
  return w.done();
}

std::vector<BYTE> CDPlayWire::enumEnd() { return Writer(kEnumEnd).done(); }

std::vector<BYTE> CDPlayWire::join(const GUID& instance, const GUID& application) {
  Writer w(kJoin);
  w.guid(instance);
  w.guid(application);
  return w.done();
}

std::vector<BYTE> CDPlayWire::createPlayer(DWORD flags, const std::string& shortName,
                                           const std::string& longName) {
  Writer w(kCreatePlayer);
  w.u32(flags);
  w.text(shortName);
  w.text(longName);
  return w.done();
}

std::vector<BYTE> CDPlayWire::playerCreated(HRESULT hr, DPID id) {
  Writer w(kPlayerCreated);
  w.u32(static_cast<DWORD>(hr));
  w.u32(id);
  return w.done();
}

std::vector<BYTE> CDPlayWire::playerInfo(const DPlayPlayerInfo& info) {
  Writer w(kPlayerInfo);
  w.u32(info.id);
  w.u32(info.flags);
  w.text(info.shortName);
  w.text(info.longName);
  return w.done();
}

std::vector<BYTE> CDPlayWire::destroyPlayer(DPID id) {
  Writer w(kDestroyPlayer);
  w.u32(id);
  return w.done();
}

std::vector<BYTE> CDPlayWire::keepAlive() { return Writer(kKeepAlive).done(); }

DWORD CDPlayWire::dataHeader(BYTE* out, bool first, DPID from, DPID to, DWORD total, DWORD chunkSize) {
  DWORD fixed = first ? kDataBeginFixed : 0;
  BYTE* p = out;
  auto put = [&p](DWORD v) {
    for (int i = 0; i < 4; ++i) *p++ = static_cast<BYTE>(v >> (8 * i));
  };
  put(1 + fixed + chunkSize);
  *p++ = first ? kDataBegin : kDataMore;
  if (first) {
    put(from);
    put(to);
    put(total);
  }
  return static_cast<DWORD>(p - out);
}

void CDPlayWire::dataFrame(std::vector<BYTE>& out, bool first, DPID from, DPID to, DWORD total,
                           const BYTE* chunk, DWORD chunkSize) {
  BYTE header[kMaxDataHeader];
  DWORD headerSize = dataHeader(header, first, from, to, total, chunkSize);
  out.resize(headerSize + chunkSize);
  std::memcpy(out.data(), header, headerSize);
  std::memcpy(out.data() + headerSize, chunk, chunkSize);
}

bool CDPlayWire::decodeHandshake(const DPlayFrame& f, DWORD& version) {
  Reader r(f);
  return isType(f, kHello, kWelcome) && r.magic() && r.u32(version) && r.end() && version >= 1;
}

bool CDPlayWire::decodeDword(const DPlayFrame& f, DWORD& value) {
  Reader r(f);
  return isType(f, kRefuse, kDestroyPlayer) && r.u32(value) && r.end();
}

bool CDPlayWire::decodeEnum(const DPlayFrame& f, GUID& application, DWORD& flags) {
  Reader r(f);
  return isType(f, kEnum) && r.guid(application) && r.u32(flags) && r.end();
}

bool CDPlayWire::decodeSession(const DPlayFrame& f, DPlaySessionInfo& info) {
  Reader r(f);
  if (!isType(f, kSession, kJoined)) return false;
  bool ok = r.u32(info.flags) && r.guid(info.instance) && r.guid(info.application) &&
            r.u32(info.maxPlayers) && r.u32(info.currentPlayers);
  for (DWORD& u : info.user) ok = ok && r.u32(u);
  return ok && r.text(info.name) && r.end();
}

bool CDPlayWire::decodeJoin(const DPlayFrame& f, GUID& instance, GUID& application) {
  Reader r(f);
  return isType(f, kJoin) && r.guid(instance) && r.guid(application) && r.end();
}

bool CDPlayWire::decodeCreatePlayer(const DPlayFrame& f, DPlayPlayerInfo& info) {
  Reader r(f);
  info.id = 0;
  return isType(f, kCreatePlayer) && r.u32(info.flags) && r.text(info.shortName) &&
         r.text(info.longName) && r.end();
}

bool CDPlayWire::decodePlayerCreated(const DPlayFrame& f, HRESULT& hr, DPID& id) {
  Reader r(f);
  DWORD code = 0;
  if (!(isType(f, kPlayerCreated) && r.u32(code) && r.u32(id) && r.end())) return false;
  hr = static_cast<HRESULT>(code);
  return true;
}

bool CDPlayWire::decodePlayerInfo(const DPlayFrame& f, DPlayPlayerInfo& info) {
  Reader r(f);
  return isType(f, kPlayerInfo) && r.u32(info.id) && r.u32(info.flags) && r.text(info.shortName) &&
         r.text(info.longName) && r.end();
}

bool CDPlayWire::decodeDataBegin(const DPlayFrame& f, DPlayDataBegin& data) {
  Reader r(f);
  if (!(isType(f, kDataBegin) && r.u32(data.from) && r.u32(data.to) && r.u32(data.total)))
    return false;
  data.chunk = r.rest(data.chunkSize);
  return data.chunkSize >= 1 && data.chunkSize <= kMaxFragment && data.total >= data.chunkSize &&
         data.total <= kMaxMessage;
}

bool CDPlayWire::isValidText(const char* text) {
  return text == nullptr || std::strlen(text) <= kMaxText;
}
