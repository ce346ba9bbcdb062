#include "CDPlayAddress.h"

#include <cstring>

namespace {

constexpr DWORD kChunkHeader = sizeof(DPADDRESS);
constexpr DWORD kTotalChunk = kChunkHeader + sizeof(DWORD);

void putChunk(BYTE*& p, const GUID& type, const void* data, DWORD size) {
  DPADDRESS header;
  header.guidDataType = type;
  header.dwDataSize = size;
  std::memcpy(p, &header, kChunkHeader);
  if (size > 0) std::memcpy(p + kChunkHeader, data, size);
  p += kChunkHeader + size;
}

}  // namespace

HRESULT CDPlayAddress::build(LPCDPCOMPOUNDADDRESSELEMENT elements, DWORD count, LPVOID buffer,
                             LPDWORD size) {
  if (elements == nullptr || count == 0 || size == nullptr) return DPERR_INVALIDPARAMS;
  DWORD total = kTotalChunk;
  for (DWORD i = 0; i < count; ++i) {
    const DPCOMPOUNDADDRESSELEMENT& e = elements[i];
    if ((e.dwDataSize > 0 && e.lpData == nullptr) || e.dwDataSize > kMaxSize ||
        IsEqualGUID(e.guidDataType, DPAID_TotalSize))
      return DPERR_INVALIDPARAMS;
    total += kChunkHeader + e.dwDataSize;
    if (total > kMaxSize) return DPERR_INVALIDPARAMS;
  }
  if (buffer == nullptr || *size < total) {
    *size = total;
    return DPERR_BUFFERTOOSMALL;
  }
  BYTE* p = static_cast<BYTE*>(buffer);
  putChunk(p, DPAID_TotalSize, &total, sizeof total);
  for (DWORD i = 0; i < count; ++i) putChunk(p, elements[i].guidDataType, elements[i].lpData, elements[i].dwDataSize);
  *size = total;
  return DP_OK;
}

HRESULT CDPlayAddress::parse(const void* address, DPlayAddressInfo& info) {
  info = DPlayAddressInfo();
  if (address == nullptr) return DPERR_INVALIDPARAMS;
  const BYTE* base = static_cast<const BYTE*>(address);
  DPADDRESS header;
  std::memcpy(&header, base, kChunkHeader);
  if (!IsEqualGUID(header.guidDataType, DPAID_TotalSize) || header.dwDataSize != sizeof(DWORD))
    return DPERR_INVALIDPARAMS;
  DWORD total = 0;
  std::memcpy(&total, base + kChunkHeader, sizeof total);
  if (total < kTotalChunk || total > kMaxSize) return DPERR_INVALIDPARAMS;

  bool haveProvider = false;
  for (DWORD at = kTotalChunk; at < total;) {
    if (total - at < kChunkHeader) return DPERR_INVALIDPARAMS;
    std::memcpy(&header, base + at, kChunkHeader);
    at += kChunkHeader;
    if (header.dwDataSize > total - at) return DPERR_INVALIDPARAMS;
    const BYTE* data = base + at;
    DWORD size = header.dwDataSize;
    at += size;
    if (IsEqualGUID(header.guidDataType, DPAID_ServiceProvider)) {
      if (size != sizeof(GUID)) return DPERR_INVALIDPARAMS;
      std::memcpy(&info.provider, data, sizeof(GUID));
      haveProvider = true;
    } else if (IsEqualGUID(header.guidDataType, DPAID_INet)) {
      const void* nul = std::memchr(data, 0, size);
      if (size == 0 || size > kMaxHostText || nul == nullptr) return DPERR_INVALIDPARAMS;
      info.host.assign(reinterpret_cast<const char*>(data), static_cast<const BYTE*>(nul) - data);
    } else if (IsEqualGUID(header.guidDataType, DPAID_INetPort)) {
      if (size != sizeof(WORD)) return DPERR_INVALIDPARAMS;
      std::memcpy(&info.port, data, sizeof(WORD));
    }
    // Other chunks belong to other providers or to the lobby: not ours to judge.
  }
  return haveProvider ? DP_OK : DPERR_INVALIDPARAMS;
}

std::vector<BYTE> CDPlayAddress::providerOnly(const GUID& provider) {
  DPCOMPOUNDADDRESSELEMENT element;
  element.guidDataType = DPAID_ServiceProvider;
  element.dwDataSize = sizeof(GUID);
  element.lpData = const_cast<GUID*>(&provider);
  DWORD size = 0;
  build(&element, 1, nullptr, &size);
  std::vector<BYTE> out(size);
  build(&element, 1, out.data(), &size);
  return out;
}
