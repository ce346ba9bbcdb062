#pragma once
// DirectPlay addresses: a DPAID_TotalSize chunk, then chunks of DPADDRESS header and data.
#include <windows.h>
#include <dplay.h>
#include <dplobby.h>

#include <string>
#include <vector>

struct DPlayAddressInfo {
  GUID provider = GUID_NULL;
  std::string host;  // DPAID_INet; empty on the host of a session
  WORD port = 0;     // DPAID_INetPort; 0: DirectPlay's port
};

class CDPlayAddress {
 public:
  static constexpr DWORD kMaxSize = 64 * 1024;
  static constexpr DWORD kMaxHostText = 256;  // DPAID_INet bytes, NUL included

  // IDirectPlayLobby3A::CreateCompoundAddress.
  static HRESULT build(LPCDPCOMPOUNDADDRESSELEMENT elements, DWORD count, LPVOID buffer, LPDWORD size);
  // Reads an address that starts with its DPAID_TotalSize chunk. DPERR_INVALIDPARAMS when it
  // is malformed or names no service provider.
  static HRESULT parse(const void* address, DPlayAddressInfo& info);
  // The address of a bare service provider, as EnumConnections reports it.
  static std::vector<BYTE> providerOnly(const GUID& provider);
};
