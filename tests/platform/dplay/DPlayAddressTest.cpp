#include <gtest/gtest.h>

#include "CDPlayAddress.h"
#include "DPlayCreateInstance.h"

#include <cstring>

namespace {

struct Lobby {
  IDirectPlayLobby3A* lobby = nullptr;
  Lobby() { DPlayCreateInstance(CLSID_DirectPlayLobby, IID_IDirectPlayLobby3A, reinterpret_cast<void**>(&lobby)); }
  ~Lobby() {
    if (lobby != nullptr) lobby->Release();
  }
};

DPCOMPOUNDADDRESSELEMENT element(const GUID& type, const void* data, DWORD size) {
  DPCOMPOUNDADDRESSELEMENT e;
  e.guidDataType = type;
  e.dwDataSize = size;
  e.lpData = const_cast<void*>(data);
  return e;
}

// The address the program builds: provider, then the IP text with its NUL.
std::vector<BYTE> programAddress(IDirectPlayLobby3A* lobby, const char* ip) {
  DPCOMPOUNDADDRESSELEMENT elements[2] = {
      element(DPAID_ServiceProvider, &DPSPGUID_TCPIP, sizeof(GUID)),
      element(DPAID_INet, ip, static_cast<DWORD>(std::strlen(ip) + 1))};
  DWORD size = 0;
  EXPECT_EQ(DPERR_BUFFERTOOSMALL, lobby->CreateCompoundAddress(elements, 2, nullptr, &size));
  std::vector<BYTE> address(size);
  EXPECT_EQ(DP_OK, lobby->CreateCompoundAddress(elements, 2, address.data(), &size));
  EXPECT_EQ(address.size(), size);
  return address;
}

// Raw address bytes: the total-size chunk, then the given chunks.
std::vector<BYTE> rawAddress(const std::vector<std::pair<GUID, std::vector<BYTE>>>& chunks, int totalDelta = 0) {
  std::vector<BYTE> out(sizeof(DPADDRESS) + 4);
  auto putHeader = [](BYTE* p, const GUID& g, DWORD n) {
    DPADDRESS h;
    h.guidDataType = g;
    h.dwDataSize = n;
    std::memcpy(p, &h, sizeof h);
  };
  for (const auto& c : chunks) {
    size_t at = out.size();
    out.resize(at + sizeof(DPADDRESS) + c.second.size());
    putHeader(out.data() + at, c.first, static_cast<DWORD>(c.second.size()));
    if (!c.second.empty()) std::memcpy(out.data() + at + sizeof(DPADDRESS), c.second.data(), c.second.size());
  }
  putHeader(out.data(), DPAID_TotalSize, 4);
  DWORD total = static_cast<DWORD>(static_cast<int>(out.size()) + totalDelta);
  std::memcpy(out.data() + sizeof(DPADDRESS), &total, 4);
  out.resize(out.size() + 64, 0xCC);  // whatever lies behind must not be read
  return out;
}

std::vector<BYTE> bytesOf(const void* p, size_t n) {
  const BYTE* b = static_cast<const BYTE*>(p);
  return std::vector<BYTE>(b, b + n);
}

}  // namespace

TEST(DPlayAddress, CompoundAddressAsksForItsSizeFirstAndReadsBack) {
  Lobby l;
  ASSERT_NE(nullptr, l.lobby);
  std::vector<BYTE> host = programAddress(l.lobby, "");
  DPlayAddressInfo info;
  ASSERT_EQ(DP_OK, CDPlayAddress::parse(host.data(), info));
  EXPECT_TRUE(IsEqualGUID(DPSPGUID_TCPIP, info.provider));
  EXPECT_EQ("", info.host);
  EXPECT_EQ(0, info.port);

  std::vector<BYTE> client = programAddress(l.lobby, "198.18.0.1");
  ASSERT_EQ(DP_OK, CDPlayAddress::parse(client.data(), info));
  EXPECT_EQ("198.18.0.1", info.host);
  EXPECT_EQ(host.size() + std::strlen("198.18.0.1"), client.size());

  WORD port = 31000;
  DPCOMPOUNDADDRESSELEMENT withPort[3] = {element(DPAID_ServiceProvider, &DPSPGUID_TCPIP, sizeof(GUID)),
                                          element(DPAID_INet, "localhost", 10), element(DPAID_INetPort, &port, 2)};
  DWORD size = 0;
  ASSERT_EQ(DPERR_BUFFERTOOSMALL, l.lobby->CreateCompoundAddress(withPort, 3, nullptr, &size));
  std::vector<BYTE> small(size - 1);
  DWORD smallSize = size - 1;
  EXPECT_EQ(DPERR_BUFFERTOOSMALL, l.lobby->CreateCompoundAddress(withPort, 3, small.data(), &smallSize));
  EXPECT_EQ(size, smallSize);
  std::vector<BYTE> address(size);
  ASSERT_EQ(DP_OK, l.lobby->CreateCompoundAddress(withPort, 3, address.data(), &size));
  ASSERT_EQ(DP_OK, CDPlayAddress::parse(address.data(), info));
  EXPECT_EQ("localhost", info.host);
  EXPECT_EQ(31000, info.port);
}

TEST(DPlayAddress, RejectsMalformedAddresses) {
  std::vector<BYTE> tcpip = bytesOf(&DPSPGUID_TCPIP, sizeof(GUID));
  std::vector<BYTE> ip = bytesOf("10.0.0.1", 9);
  struct Case {
    const char* what;
    std::vector<BYTE> address;
  } cases[] = {
      {"no service provider", rawAddress({{DPAID_INet, ip}})},
      {"provider of the wrong size", rawAddress({{DPAID_ServiceProvider, bytesOf(&DPSPGUID_TCPIP, 15)}})},
      {"chunk running past the total", rawAddress({{DPAID_ServiceProvider, tcpip}}, -1)},
      {"total smaller than its own chunk", rawAddress({}, -1)},
      {"total far beyond any address", rawAddress({{DPAID_ServiceProvider, tcpip}}, 1 << 20)},
      {"IP text without its NUL", rawAddress({{DPAID_ServiceProvider, tcpip}, {DPAID_INet, bytesOf("10.0.0.1", 8)}})},
      {"IP text longer than 255", rawAddress({{DPAID_ServiceProvider, tcpip}, {DPAID_INet, std::vector<BYTE>(257, 0)}})},
      {"port of the wrong size", rawAddress({{DPAID_ServiceProvider, tcpip}, {DPAID_INetPort, bytesOf("abcd", 4)}})},
  };
  for (const Case& c : cases) {
    DPlayAddressInfo info;
    EXPECT_EQ(DPERR_INVALIDPARAMS, CDPlayAddress::parse(c.address.data(), info)) << c.what;
  }
  std::vector<BYTE> start(sizeof(DPADDRESS) + 4, 0);
  DPlayAddressInfo info;
  EXPECT_EQ(DPERR_INVALIDPARAMS, CDPlayAddress::parse(start.data(), info)) << "no total-size chunk first";
}

TEST(DPlayAddress, ConnectionTakesOnlyTheTcpIpProvider) {
  IDirectPlay4A* dp = nullptr;
  ASSERT_EQ(S_OK, DPlayCreateInstance(CLSID_DirectPlay, IID_IDirectPlay4A, reinterpret_cast<void**>(&dp)));
  std::vector<BYTE> ipx = rawAddress({{DPAID_ServiceProvider, bytesOf(&DPSPGUID_IPX, sizeof(GUID))}});
  EXPECT_EQ(DPERR_UNAVAILABLE, dp->InitializeConnection(ipx.data(), 0));
  std::vector<BYTE> tcpip = rawAddress({{DPAID_ServiceProvider, bytesOf(&DPSPGUID_TCPIP, sizeof(GUID))}});
  EXPECT_EQ(DPERR_INVALIDFLAGS, dp->InitializeConnection(tcpip.data(), 1));
  EXPECT_EQ(DP_OK, dp->InitializeConnection(tcpip.data(), 0));
  EXPECT_EQ(DPERR_ALREADYINITIALIZED, dp->InitializeConnection(tcpip.data(), 0));
  dp->Release();
}
