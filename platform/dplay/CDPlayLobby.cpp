#include "CDPlayLobby.h"

#include <new>

#include "CDPlayAddress.h"

HRESULT CDPlayLobby::QueryInterface(REFIID riid, void** ppv) {
  if (ppv == nullptr) return E_POINTER;
  // The ANSI lobby interfaces share one table layout, each extending the one before.
  if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IDirectPlayLobbyA) ||
      IsEqualIID(riid, IID_IDirectPlayLobby2A) || IsEqualIID(riid, IID_IDirectPlayLobby3A)) {
    *ppv = static_cast<IDirectPlayLobby3*>(this);
    AddRef();
    return S_OK;
  }
  *ppv = nullptr;
  return E_NOINTERFACE;
}

ULONG CDPlayLobby::AddRef() { return ++m_refs; }

ULONG CDPlayLobby::Release() {
  ULONG left = --m_refs;
  if (left == 0) delete this;
  return left;
}

HRESULT CDPlayLobby::CreateCompoundAddress(LPCDPCOMPOUNDADDRESSELEMENT elements, DWORD count, LPVOID address,
                                           LPDWORD size) try {
  return CDPlayAddress::build(elements, count, address, size);
} catch (const std::bad_alloc&) {
  return DPERR_OUTOFMEMORY;
} catch (...) {
  return DPERR_GENERIC;
}

HRESULT CDPlayLobby::Connect(DWORD, LPDIRECTPLAY2*, IUnknown*) { return DPERR_UNSUPPORTED; }
HRESULT CDPlayLobby::CreateAddress(REFGUID, REFGUID, LPCVOID, DWORD, LPVOID, LPDWORD) { return DPERR_UNSUPPORTED; }
HRESULT CDPlayLobby::EnumAddress(LPDPENUMADDRESSCALLBACK, LPCVOID, DWORD, LPVOID) { return DPERR_UNSUPPORTED; }
HRESULT CDPlayLobby::EnumAddressTypes(LPDPLENUMADDRESSTYPESCALLBACK, REFGUID, LPVOID, DWORD) { return DPERR_UNSUPPORTED; }
HRESULT CDPlayLobby::EnumLocalApplications(LPDPLENUMLOCALAPPLICATIONSCALLBACK, LPVOID, DWORD) { return DPERR_UNSUPPORTED; }
HRESULT CDPlayLobby::GetConnectionSettings(DWORD, LPVOID, LPDWORD) { return DPERR_UNSUPPORTED; }
HRESULT CDPlayLobby::ReceiveLobbyMessage(DWORD, DWORD, LPDWORD, LPVOID, LPDWORD) { return DPERR_UNSUPPORTED; }
HRESULT CDPlayLobby::RunApplication(DWORD, LPDWORD, LPDPLCONNECTION, HANDLE) { return DPERR_UNSUPPORTED; }
HRESULT CDPlayLobby::SendLobbyMessage(DWORD, DWORD, LPVOID, DWORD) { return DPERR_UNSUPPORTED; }
HRESULT CDPlayLobby::SetConnectionSettings(DWORD, DWORD, LPDPLCONNECTION) { return DPERR_UNSUPPORTED; }
HRESULT CDPlayLobby::SetLobbyMessageEvent(DWORD, DWORD, HANDLE) { return DPERR_UNSUPPORTED; }
HRESULT CDPlayLobby::ConnectEx(DWORD, REFIID, LPVOID*, IUnknown*) { return DPERR_UNSUPPORTED; }
HRESULT CDPlayLobby::RegisterApplication(DWORD, LPDPAPPLICATIONDESC) { return DPERR_UNSUPPORTED; }
HRESULT CDPlayLobby::UnregisterApplication(DWORD, REFGUID) { return DPERR_UNSUPPORTED; }
HRESULT CDPlayLobby::WaitForConnectionSettings(DWORD) { return DPERR_UNSUPPORTED; }
