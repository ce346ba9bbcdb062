#include "CDPlayTestKit.h"

#include <cstring>

// {6B1C2E0A-3D7F-4C55-9E21-7A0D5B3C8F14}
const GUID CDPlayTestKit::kApplication = {0x6b1c2e0a, 0x3d7f, 0x4c55, {0x9e, 0x21, 0x7a, 0x0d, 0x5b, 0x3c, 0x8f, 0x14}};

namespace {

BOOL CALLBACK findTcpIp(LPCGUID provider, LPVOID, DWORD, LPCDPNAME, DWORD, LPVOID context) {
  if (!IsEqualGUID(*provider, DPSPGUID_TCPIP)) return TRUE;
  *static_cast<bool*>(context) = true;
  return FALSE;
}

struct SessionSearch {
  GUID wanted;
  bool found;
};

BOOL CALLBACK findSession(LPCDPSESSIONDESC2 desc, LPDWORD, DWORD flags, LPVOID context) {
  auto* search = static_cast<SessionSearch*>(context);
  if ((flags & DPESC_TIMEDOUT) != 0 || desc == nullptr) return FALSE;
  if (IsEqualGUID(desc->guidInstance, search->wanted)) {
    search->found = true;
    return FALSE;
  }
  return TRUE;
}

struct CloseContext {
  IDirectPlay4A* dp;
  DPID self;
};

BOOL CALLBACK destroyOthers(DPID id, DWORD, LPCDPNAME, DWORD, LPVOID context) {
  auto* c = static_cast<CloseContext*>(context);
  if (id != c->self) c->dp->DestroyPlayer(id);
  return TRUE;
}

DWORD nextRandom(DWORD& state) {
  state ^= state << 13;
  state ^= state >> 17;
  state ^= state << 5;
  return state;
}

void put32(BYTE* p, DWORD v) { std::memcpy(p, &v, 4); }
DWORD get32(const BYTE* p) {
  DWORD v;
  std::memcpy(&v, p, 4);
  return v;
}

void fillPattern(BYTE* p, size_t n, DWORD sender, DWORD sequence) {
  DWORD state = sender * 2654435761u + sequence * 40503u + 1u;
  for (size_t i = 0; i < n; ++i) p[i] = static_cast<BYTE>(nextRandom(state));
}

}  // namespace

HRESULT CDPlayTestKit::create(const std::string& host, WORD port, IDirectPlay4A** out) {
  *out = nullptr;
  IDirectPlay4A* dp = nullptr;
  HRESULT hr = DPlayCreateInstance(CLSID_DirectPlay, IID_IDirectPlay4A, reinterpret_cast<void**>(&dp));
  if (FAILED(hr)) return hr;
  bool tcpip = false;
  hr = dp->EnumConnections(nullptr, findTcpIp, &tcpip, DPCONNECTION_DIRECTPLAY);
  if (FAILED(hr) || !tcpip) {
    dp->Release();
    return FAILED(hr) ? hr : DPERR_UNAVAILABLE;
  }
  IDirectPlayLobby3A* lobby = nullptr;
  hr = DPlayCreateInstance(CLSID_DirectPlayLobby, IID_IDirectPlayLobby3A, reinterpret_cast<void**>(&lobby));
  if (FAILED(hr)) {
    dp->Release();
    return hr;
  }
  char hostText[256] = {0};
  std::strncpy(hostText, host.c_str(), sizeof hostText - 1);
  DPCOMPOUNDADDRESSELEMENT elements[3];
  elements[0].guidDataType = DPAID_ServiceProvider;
  elements[0].dwDataSize = sizeof(GUID);
  elements[0].lpData = const_cast<GUID*>(&DPSPGUID_TCPIP);
  elements[1].guidDataType = DPAID_INet;
  elements[1].dwDataSize = static_cast<DWORD>(std::strlen(hostText) + 1);
  elements[1].lpData = hostText;
  elements[2].guidDataType = DPAID_INetPort;
  elements[2].dwDataSize = sizeof port;
  elements[2].lpData = &port;
  DWORD count = port != 0 ? 3 : 2;
  DWORD size = 0;
  hr = lobby->CreateCompoundAddress(elements, count, nullptr, &size);
  if (hr == DPERR_BUFFERTOOSMALL) {
    std::vector<BYTE> address(size);
    hr = lobby->CreateCompoundAddress(elements, count, address.data(), &size);
    if (SUCCEEDED(hr)) hr = dp->InitializeConnection(address.data(), 0);
  } else if (SUCCEEDED(hr)) {
    hr = DPERR_GENERIC;  // a size must be asked for first
  }
  lobby->Release();
  if (FAILED(hr)) {
    dp->Release();
    return hr;
  }
  *out = dp;
  return DP_OK;
}

HRESULT CDPlayTestKit::host(IDirectPlay4A* dp, GUID& instance) {
  DPSESSIONDESC2 desc;
  std::memset(&desc, 0, sizeof desc);
  desc.dwSize = sizeof desc;
  desc.dwFlags = kSessionFlags;
  desc.guidApplication = kApplication;
  desc.lpszSessionNameA = const_cast<LPSTR>("test session");
  HRESULT hr = dp->Open(&desc, DPOPEN_CREATE);
  if (FAILED(hr)) return hr;
  DWORD size = 0;
  hr = dp->GetSessionDesc(nullptr, &size);
  if (hr != DPERR_BUFFERTOOSMALL) return FAILED(hr) ? hr : DPERR_GENERIC;
  std::vector<BYTE> buffer(size);
  hr = dp->GetSessionDesc(buffer.data(), &size);
  if (SUCCEEDED(hr)) instance = reinterpret_cast<DPSESSIONDESC2*>(buffer.data())->guidInstance;
  return hr;
}

HRESULT CDPlayTestKit::join(IDirectPlay4A* dp, const GUID& instance, bool* found) {
  DPSESSIONDESC2 desc;
  std::memset(&desc, 0, sizeof desc);
  desc.dwSize = sizeof desc;
  desc.guidApplication = kApplication;
  SessionSearch search = {instance, false};
  HRESULT hr = dp->EnumSessions(&desc, 0, findSession, &search, DPENUMSESSIONS_ALL);
  if (found != nullptr) *found = search.found;
  if (FAILED(hr)) return hr;
  desc.guidInstance = instance;
  return dp->Open(&desc, DPOPEN_JOIN);
}

HRESULT CDPlayTestKit::addPlayer(IDirectPlay4A* dp, const std::string& name, HANDLE event, bool server, DPID& id) {
  DPNAME dpName;
  std::memset(&dpName, 0, sizeof dpName);
  dpName.dwSize = sizeof dpName;
  dpName.lpszShortNameA = const_cast<LPSTR>(name.c_str());
  return dp->CreatePlayer(&id, &dpName, event, nullptr, 0, server ? DPPLAYER_SERVERPLAYER : 0);
}

HRESULT CDPlayTestKit::closeAsHost(IDirectPlay4A* dp, DPID self) {
  dp->CancelMessage(0, 0);
  CloseContext context = {dp, self};
  dp->EnumPlayers(nullptr, destroyOthers, &context, 0);
  dp->DestroyPlayer(self);
  return dp->Close();
}

bool CDPlayTestKit::next(IDirectPlay4A* dp, HANDLE event, DWORD timeoutMs, DPlayReceived& out) {
  ULONGLONG deadline = GetTickCount64() + timeoutMs;
  std::vector<BYTE> buffer(256);
  for (;;) {
    DPID from = 0, to = 0;
    DWORD size = static_cast<DWORD>(buffer.size());
    HRESULT hr = dp->Receive(&from, &to, DPRECEIVE_ALL, buffer.data(), &size);
    if (hr == DPERR_BUFFERTOOSMALL) {
      buffer.resize(size);
      continue;
    }
    if (hr == DP_OK) {
      out = DPlayReceived();
      out.from = from;
      out.to = to;
      out.data.assign(buffer.begin(), buffer.begin() + size);
      if (from == DPID_SYSMSG) {
        out.sysType = reinterpret_cast<DPMSG_GENERIC*>(buffer.data())->dwType;
        const char* name = nullptr;
        if (out.sysType == DPSYS_CREATEPLAYERORGROUP) {
          auto* m = reinterpret_cast<DPMSG_CREATEPLAYERORGROUP*>(buffer.data());
          out.sysId = m->dpId;
          name = m->dpnName.lpszShortNameA;
        } else if (out.sysType == DPSYS_DESTROYPLAYERORGROUP) {
          auto* m = reinterpret_cast<DPMSG_DESTROYPLAYERORGROUP*>(buffer.data());
          out.sysId = m->dpId;
          name = m->dpnName.lpszShortNameA;
        }
        if (name != nullptr) out.sysName = name;
      }
      return true;
    }
    if (hr != DPERR_NOMESSAGES) return false;
    ULONGLONG now = GetTickCount64();
    if (now >= deadline) return false;
    WaitForSingleObject(event, static_cast<DWORD>(deadline - now));
    ResetEvent(event);
  }
}

bool CDPlayTestKit::nextSystem(IDirectPlay4A* dp, HANDLE event, DWORD type, DWORD timeoutMs, DPlayReceived& out,
                               std::vector<DPlayReceived>* skipped) {
  ULONGLONG deadline = GetTickCount64() + timeoutMs;
  for (;;) {
    ULONGLONG now = GetTickCount64();
    if (now >= deadline || !next(dp, event, static_cast<DWORD>(deadline - now), out)) return false;
    if (out.isSystem() && out.sysType == type) return true;
    if (skipped != nullptr) skipped->push_back(out);
  }
}

std::vector<BYTE> CDPlayTestKit::payload(DWORD sender, DWORD sequence, size_t size) {
  if (size < kPayloadHeader) size = kPayloadHeader;
  std::vector<BYTE> data(size);
  put32(data.data(), sender);
  put32(data.data() + 4, sequence);
  put32(data.data() + 8, static_cast<DWORD>(size));
  fillPattern(data.data() + kPayloadHeader, size - kPayloadHeader, sender, sequence);
  return data;
}

bool CDPlayTestKit::checkPayload(const std::vector<BYTE>& data, DWORD& sender, DWORD& sequence) {
  if (data.size() < kPayloadHeader || get32(data.data() + 8) != data.size()) return false;
  sender = get32(data.data());
  sequence = get32(data.data() + 4);
  std::vector<BYTE> expected(data.size() - kPayloadHeader);
  fillPattern(expected.data(), expected.size(), sender, sequence);
  return std::memcmp(expected.data(), data.data() + kPayloadHeader, expected.size()) == 0;
}

WORD CDPlayTestKit::basePort() {
  return static_cast<WORD>(20000 + ((GetCurrentProcessId() >> 2) % 4000) * 8);
}

HRESULT CDPlayTestKit::hostOnLoopback(WORD offset, IDirectPlay4A** out, WORD& port, GUID& instance) {
  HRESULT hr = DPERR_CANTCREATESESSION;
  for (WORD attempt = 0; attempt < 16 && hr == DPERR_CANTCREATESESSION; ++attempt) {
    port = static_cast<WORD>(20000 + (basePort() - 20000 + offset + attempt * 1009u) % 40000);
    IDirectPlay4A* dp = nullptr;
    hr = create("", port, &dp);
    if (FAILED(hr)) return hr;
    hr = host(dp, instance);
    if (SUCCEEDED(hr)) {
      *out = dp;
      return hr;
    }
    dp->Release();
  }
  return hr;
}
