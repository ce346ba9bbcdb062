#include "DPlayCreateInstance.h"

#include "CDPlayLobby.h"
#include "CDPlayObject.h"

#include <new>

namespace {

template <class T>
HRESULT handOut(T* object, REFIID iid, void** ppv) {
  HRESULT hr = object->QueryInterface(iid, ppv);
  object->Release();  // the caller's reference, if any, keeps it
  return hr;
}

}  // namespace

HRESULT DPlayCreateInstance(REFCLSID clsid, REFIID iid, void** ppv) try {
  if (ppv == nullptr) return E_POINTER;
  *ppv = nullptr;
  if (IsEqualCLSID(clsid, CLSID_DirectPlay)) return handOut(new CDPlayObject(), iid, ppv);
  if (IsEqualCLSID(clsid, CLSID_DirectPlayLobby)) return handOut(new CDPlayLobby(), iid, ppv);
  return REGDB_E_CLASSNOTREG;
} catch (const std::bad_alloc&) {
  return E_OUTOFMEMORY;
}
