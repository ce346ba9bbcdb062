#pragma once
// The lobby object (IDirectPlayLobby3A) of this platform: it only builds addresses.
#include <windows.h>
#include <dplay.h>
#include <dplobby.h>

#include <atomic>

class CDPlayLobby final : public IDirectPlayLobby3 {
 public:
  CDPlayLobby() = default;

  // IUnknown
  STDMETHOD(QueryInterface)(REFIID riid, void** ppv) override;
  STDMETHOD_(ULONG, AddRef)() override;
  STDMETHOD_(ULONG, Release)() override;

  STDMETHOD(CreateCompoundAddress)(LPCDPCOMPOUNDADDRESSELEMENT elements, DWORD count, LPVOID address, LPDWORD size) override;

  // Not offered: DPERR_UNSUPPORTED.
  STDMETHOD(Connect)(DWORD, LPDIRECTPLAY2*, IUnknown*) override;
  STDMETHOD(CreateAddress)(REFGUID, REFGUID, LPCVOID, DWORD, LPVOID, LPDWORD) override;
  STDMETHOD(EnumAddress)(LPDPENUMADDRESSCALLBACK, LPCVOID, DWORD, LPVOID) override;
  STDMETHOD(EnumAddressTypes)(LPDPLENUMADDRESSTYPESCALLBACK, REFGUID, LPVOID, DWORD) override;
  STDMETHOD(EnumLocalApplications)(LPDPLENUMLOCALAPPLICATIONSCALLBACK, LPVOID, DWORD) override;
  STDMETHOD(GetConnectionSettings)(DWORD, LPVOID, LPDWORD) override;
  STDMETHOD(ReceiveLobbyMessage)(DWORD, DWORD, LPDWORD, LPVOID, LPDWORD) override;
  STDMETHOD(RunApplication)(DWORD, LPDWORD, LPDPLCONNECTION, HANDLE) override;
  STDMETHOD(SendLobbyMessage)(DWORD, DWORD, LPVOID, DWORD) override;
  STDMETHOD(SetConnectionSettings)(DWORD, DWORD, LPDPLCONNECTION) override;
  STDMETHOD(SetLobbyMessageEvent)(DWORD, DWORD, HANDLE) override;
  STDMETHOD(ConnectEx)(DWORD, REFIID, LPVOID*, IUnknown*) override;
  STDMETHOD(RegisterApplication)(DWORD, LPDPAPPLICATIONDESC) override;
  STDMETHOD(UnregisterApplication)(DWORD, REFGUID) override;
  STDMETHOD(WaitForConnectionSettings)(DWORD) override;

 private:
  ~CDPlayLobby() = default;
  std::atomic<ULONG> m_refs{1};
};
