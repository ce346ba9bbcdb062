#include <gtest/gtest.h>

#include "CDPlayTestKit.h"

#include <functional>

namespace {

class DPlayApi : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(S_OK, DPlayCreateInstance(CLSID_DirectPlay, IID_IDirectPlay4A, reinterpret_cast<void**>(&dp)));
  }
  void TearDown() override {
    if (dp != nullptr) dp->Release();
  }
  IDirectPlay4A* dp = nullptr;
};

BOOL CALLBACK countProviders(LPCGUID provider, LPVOID connection, DWORD size, LPCDPNAME name, DWORD, LPVOID context) {
  auto* seen = static_cast<std::vector<GUID>*>(context);
  seen->push_back(*provider);
  // The connection handed out initializes a connection as it is.
  EXPECT_NE(nullptr, connection);
  EXPECT_GT(size, 0u);
  EXPECT_NE(nullptr, name->lpszShortNameA);
  return TRUE;
}

BOOL CALLBACK stopAtOnce(LPCDPSESSIONDESC2, LPDWORD, DWORD, LPVOID) { return FALSE; }

}  // namespace

TEST(DPlayFactory, HandsOutTheObjectsByClassAndInterface) {
  void* p = nullptr;
  EXPECT_EQ(REGDB_E_CLASSNOTREG, DPlayCreateInstance(IID_IUnknown, IID_IUnknown, &p));
  EXPECT_EQ(nullptr, p);
  EXPECT_EQ(E_NOINTERFACE, DPlayCreateInstance(CLSID_DirectPlay, IID_IDirectPlayLobby3A, &p));
  EXPECT_EQ(nullptr, p);
  // The Unicode interfaces are not offered: their texts would be read as ANSI.
  EXPECT_EQ(E_NOINTERFACE, DPlayCreateInstance(CLSID_DirectPlay, IID_IDirectPlay4, &p));
  EXPECT_EQ(E_NOINTERFACE, DPlayCreateInstance(CLSID_DirectPlayLobby, IID_IDirectPlayLobby3, &p));

  IDirectPlayLobbyA* first = nullptr;
  ASSERT_EQ(S_OK, DPlayCreateInstance(CLSID_DirectPlayLobby, IID_IDirectPlayLobbyA, reinterpret_cast<void**>(&first)));
  IDirectPlayLobby3A* lobby = nullptr;
  ASSERT_EQ(S_OK, first->QueryInterface(IID_IDirectPlayLobby3A, reinterpret_cast<void**>(&lobby)));
  EXPECT_EQ(1u, first->Release());
  EXPECT_EQ(0u, lobby->Release());
}

TEST_F(DPlayApi, EnumConnectionsReportsTheTcpIpProviderOnly) {
  std::vector<GUID> seen;
  ASSERT_EQ(DP_OK, dp->EnumConnections(nullptr, countProviders, &seen, DPCONNECTION_DIRECTPLAY));
  ASSERT_EQ(1u, seen.size());
  EXPECT_TRUE(IsEqualGUID(DPSPGUID_TCPIP, seen[0]));
  seen.clear();
  EXPECT_EQ(DP_OK, dp->EnumConnections(nullptr, countProviders, &seen, DPCONNECTION_DIRECTPLAYLOBBY));
  EXPECT_TRUE(seen.empty());
}

TEST_F(DPlayApi, SessionCallsNeedAnInitializedConnection) {
  DPSESSIONDESC2 desc = {};
  desc.dwSize = sizeof desc;
  desc.dwFlags = CDPlayTestKit::kSessionFlags;
  EXPECT_EQ(DPERR_UNINITIALIZED, dp->Open(&desc, DPOPEN_CREATE));
  EXPECT_EQ(DPERR_UNINITIALIZED, dp->EnumSessions(&desc, 0, stopAtOnce, nullptr, DPENUMSESSIONS_ALL));
  DPID id = 0;
  EXPECT_EQ(DPERR_NOCONNECTION, dp->CreatePlayer(&id, nullptr, nullptr, nullptr, 0, 0));
  BYTE byte = 1;
  EXPECT_EQ(DPERR_INVALIDPLAYER, dp->SendEx(1, 0, CDPlayTestKit::kSendFlags, &byte, 1, 0, 0, nullptr, nullptr));
  DWORD size = 0;
  DPID from = 0, to = 0;
  EXPECT_EQ(DPERR_NOMESSAGES, dp->Receive(&from, &to, DPRECEIVE_ALL, nullptr, &size));
  EXPECT_EQ(DP_OK, dp->Close());
}

TEST_F(DPlayApi, OpenRefusesWhatItCannotHost) {
  dp->Release();
  ASSERT_EQ(DP_OK, CDPlayTestKit::create("", CDPlayTestKit::basePort(), &dp));
  struct Case {
    const char* what;
    DWORD sessionFlags;
    DWORD openFlags;
    HRESULT expected;
  } cases[] = {
      {"peer-to-peer session", DPSESSION_KEEPALIVE, DPOPEN_CREATE, DPERR_UNSUPPORTED},
      {"host migration", CDPlayTestKit::kSessionFlags | DPSESSION_MIGRATEHOST, DPOPEN_CREATE, DPERR_UNSUPPORTED},
      {"secure server", CDPlayTestKit::kSessionFlags | DPSESSION_SECURESERVER, DPOPEN_CREATE, DPERR_UNSUPPORTED},
      {"create and join at once", CDPlayTestKit::kSessionFlags, DPOPEN_CREATE | DPOPEN_JOIN, DPERR_INVALIDFLAGS},
      {"neither create nor join", CDPlayTestKit::kSessionFlags, 0, DPERR_INVALIDFLAGS},
  };
  for (const Case& c : cases) {
    DPSESSIONDESC2 desc = {};
    desc.dwSize = sizeof desc;
    desc.dwFlags = c.sessionFlags;
    EXPECT_EQ(c.expected, dp->Open(&desc, c.openFlags)) << c.what;
  }
  DPSESSIONDESC2 wrongSize = {};
  wrongSize.dwSize = sizeof wrongSize - 8;
  wrongSize.dwFlags = CDPlayTestKit::kSessionFlags;
  EXPECT_EQ(DPERR_INVALIDPARAMS, dp->Open(&wrongSize, DPOPEN_CREATE));
}

// The members the program does not use say so instead of pretending.
TEST_F(DPlayApi, MembersNotOfferedReturnUnsupported) {
  DPID id = 0;
  DWORD size = 0;
  DPCAPS caps = {};
  caps.dwSize = sizeof caps;
  std::vector<std::pair<const char*, std::function<HRESULT()>>> calls = {
      {"CreateGroup", [&] { return dp->CreateGroup(&id, nullptr, nullptr, 0, 0); }},
      {"AddPlayerToGroup", [&] { return dp->AddPlayerToGroup(2, 3); }},
      {"GetPlayerName", [&] { return dp->GetPlayerName(1, nullptr, &size); }},
      {"GetPlayerCaps", [&] { return dp->GetPlayerCaps(1, &caps, 0); }},
      {"SetSessionDesc", [&] { return dp->SetSessionDesc(nullptr, 0); }},
      {"SecureOpen", [&] { return dp->SecureOpen(nullptr, 0, nullptr, nullptr); }},
      {"SendChatMessage", [&] { return dp->SendChatMessage(1, 0, 0, nullptr); }},
      {"Initialize", [&] { return dp->Initialize(nullptr); }},
  };
  for (auto& call : calls) EXPECT_EQ(DPERR_UNSUPPORTED, call.second()) << call.first;

  IDirectPlayLobby3A* lobby = nullptr;
  ASSERT_EQ(S_OK, DPlayCreateInstance(CLSID_DirectPlayLobby, IID_IDirectPlayLobby3A, reinterpret_cast<void**>(&lobby)));
  EXPECT_EQ(DPERR_UNSUPPORTED, lobby->RunApplication(0, nullptr, nullptr, nullptr));
  EXPECT_EQ(DPERR_UNSUPPORTED, lobby->GetConnectionSettings(0, nullptr, &size));
  lobby->Release();
}
