#include "CDPlayInbox.h"

#include <chrono>
#include <cstring>

namespace {

DWORD textSize(const std::string& s) { return s.empty() ? 0 : static_cast<DWORD>(s.size() + 1); }

DWORD structSize(DWORD type) {
  switch (type) {
    case DPSYS_CREATEPLAYERORGROUP:
      return sizeof(DPMSG_CREATEPLAYERORGROUP);
    case DPSYS_DESTROYPLAYERORGROUP:
      return sizeof(DPMSG_DESTROYPLAYERORGROUP);
    default:
      return sizeof(DPMSG_GENERIC);
  }
}

// Copies the texts after the structure and points the name at them.
void writeName(DPNAME& name, const DPlaySystemMessage& m, BYTE* texts) {
  std::memset(&name, 0, sizeof name);
  name.dwSize = sizeof name;
  if (!m.shortName.empty()) {
    std::memcpy(texts, m.shortName.c_str(), m.shortName.size() + 1);
    name.lpszShortNameA = reinterpret_cast<LPSTR>(texts);
    texts += m.shortName.size() + 1;
  }
  if (!m.longName.empty()) {
    std::memcpy(texts, m.longName.c_str(), m.longName.size() + 1);
    name.lpszLongNameA = reinterpret_cast<LPSTR>(texts);
  }
}

}  // namespace

DWORD CDPlayInbox::systemSize(const DPlaySystemMessage& message) {
  DWORD size = structSize(message.type);
  if (message.type == DPSYS_CREATEPLAYERORGROUP || message.type == DPSYS_DESTROYPLAYERORGROUP)
    size += textSize(message.shortName) + textSize(message.longName);
  return size;
}

void CDPlayInbox::writeSystem(const DPlaySystemMessage& m, BYTE* out) {
  BYTE* texts = out + structSize(m.type);
  if (m.type == DPSYS_CREATEPLAYERORGROUP) {
    DPMSG_CREATEPLAYERORGROUP msg;
    std::memset(&msg, 0, sizeof msg);
    msg.dwType = m.type;
    msg.dwPlayerType = DPPLAYERTYPE_PLAYER;
    msg.dpId = m.id;
    msg.dwCurrentPlayers = m.currentPlayers;
    writeName(msg.dpnName, m, texts);
    msg.dwFlags = m.flags;
    std::memcpy(out, &msg, sizeof msg);
  } else if (m.type == DPSYS_DESTROYPLAYERORGROUP) {
    DPMSG_DESTROYPLAYERORGROUP msg;
    std::memset(&msg, 0, sizeof msg);
    msg.dwType = m.type;
    msg.dwPlayerType = DPPLAYERTYPE_PLAYER;
    msg.dpId = m.id;
    writeName(msg.dpnName, m, texts);
    msg.dwFlags = m.flags;
    std::memcpy(out, &msg, sizeof msg);
  } else {
    DPMSG_GENERIC msg;
    msg.dwType = m.type;
    std::memcpy(out, &msg, sizeof msg);
  }
}

size_t CDPlayInbox::cost(const DPlayInboxEntry& entry) {
  return (entry.data ? entry.data->size() : systemSize(entry.system)) + kEntryCost;
}

void CDPlayInbox::taken(size_t bytes) {
  m_bytes -= bytes;
  if (m_waiting > 0 && m_bytes < kMaxBytes) m_room.notify_all();
}

void CDPlayInbox::push(DPlayInboxEntry entry) {
  std::lock_guard<std::mutex> hold(m_lock);
  m_bytes += cost(entry);
  m_entries.push_back(std::move(entry));
}

void CDPlayInbox::waitForRoom(DWORD timeoutMs) {
  std::unique_lock<std::mutex> hold(m_lock);
  ++m_waiting;
  m_room.wait_for(hold, std::chrono::milliseconds(timeoutMs), [&] { return m_bytes < kMaxBytes; });
  --m_waiting;
}

HRESULT CDPlayInbox::receive(LPDPID from, LPDPID to, DWORD flags, LPVOID data, LPDWORD size) {
  const DWORD known = DPRECEIVE_ALL | DPRECEIVE_TOPLAYER | DPRECEIVE_FROMPLAYER | DPRECEIVE_PEEK;
  if (size == nullptr || (flags & ~known) != 0) return DPERR_INVALIDPARAMS;
  bool all = (flags & DPRECEIVE_ALL) != 0 || (flags & (DPRECEIVE_TOPLAYER | DPRECEIVE_FROMPLAYER)) == 0;
  bool byTo = !all && (flags & DPRECEIVE_TOPLAYER) != 0;
  bool byFrom = !all && (flags & DPRECEIVE_FROMPLAYER) != 0;
  if ((byTo && to == nullptr) || (byFrom && from == nullptr)) return DPERR_INVALIDPARAMS;

  std::lock_guard<std::mutex> hold(m_lock);
  auto it = m_entries.begin();
  for (; it != m_entries.end(); ++it) {
    if ((!byTo || it->to == *to) && (!byFrom || it->from == *from)) break;
  }
  if (it == m_entries.end()) return DPERR_NOMESSAGES;
  DWORD needed = it->data ? static_cast<DWORD>(it->data->size()) : systemSize(it->system);
  if (data == nullptr || *size < needed) {
    *size = needed;
    return DPERR_BUFFERTOOSMALL;
  }
  if (it->data)
    std::memcpy(data, it->data->data(), needed);
  else
    writeSystem(it->system, static_cast<BYTE*>(data));
  *size = needed;
  if (from != nullptr) *from = it->from;
  if (to != nullptr) *to = it->to;
  if ((flags & DPRECEIVE_PEEK) == 0) {
    taken(cost(*it));
    m_entries.erase(it);
  }
  return DP_OK;
}

DWORD CDPlayInbox::count(DPID to) {
  std::lock_guard<std::mutex> hold(m_lock);
  DWORD n = 0;
  for (const DPlayInboxEntry& e : m_entries)
    if (e.to == to) ++n;
  return n;
}

void CDPlayInbox::clear() {
  std::lock_guard<std::mutex> hold(m_lock);
  m_entries.clear();
  taken(m_bytes);
}
