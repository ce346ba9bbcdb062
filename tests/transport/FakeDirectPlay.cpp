#include "FakeDirectPlay.h"

#include "CGuid.h"
#include "TestSupport.h"

#include <cstdio>
#include <cstring>

namespace {

std::string hex(DWORD value)
{
    char text[16];
    std::snprintf(text, sizeof text, "0x%lX", static_cast<unsigned long>(value));
    return text;
}

std::string num(DWORD value)
{
    return std::to_string(static_cast<unsigned long>(value));
}

std::string text(const char* s)
{
    return s == nullptr ? std::string("null") : std::string(s);
}

class FakeObject final : public IDirectPlay4 {
public:
    FakeObject()
    {
        std::lock_guard<std::mutex> hold(FakeDirectPlay::script().lock_);
        ++FakeDirectPlay::script().live_;
    }

    STDMETHOD(QueryInterface)(REFIID riid, void** ppv) override
    {
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IDirectPlay4A)) {
            *ppv = static_cast<IDirectPlay4*>(this);
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHOD_(ULONG, AddRef)() override { return ++refs_; }
    STDMETHOD_(ULONG, Release)() override
    {
        ULONG left = --refs_;
        if (left == 0) {
            fake().record("Release DirectPlay");
            {
                std::lock_guard<std::mutex> hold(fake().lock_);
                --fake().live_;
            }
            delete this;
        }
        return left;
    }

    STDMETHOD(Close)() override
    {
        fake().record("Close");
        return fake().next("Close");
    }
    STDMETHOD(CreatePlayer)(LPDPID id, LPDPNAME name, HANDLE event, LPVOID data, DWORD dataSize, DWORD flags) override
    {
        std::string line = "CreatePlayer";
        if (name == nullptr)
            line += " name=null";
        else
            line += " dwSize=" + num(name->dwSize) + " short=" + text(name->lpszShortNameA)
                    + " long=" + text(name->lpszLongNameA);
        line += std::string(" event=") + (event != NULL ? "set" : "null") + " data=" + (data != nullptr ? "set" : "null")
                + " size=" + num(dataSize) + " flags=" + hex(flags);
        fake().record(line);
        HRESULT hr = fake().next("CreatePlayer");
        if (FAILED(hr))
            return hr;
        std::lock_guard<std::mutex> hold(fake().lock_);
        if (fake().playerEvent_ != NULL)
            CloseHandle(fake().playerEvent_);
        fake().playerEvent_ = NULL;
        if (event != NULL)
            DuplicateHandle(GetCurrentProcess(), event, GetCurrentProcess(), &fake().playerEvent_, 0, FALSE,
                            DUPLICATE_SAME_ACCESS);
        *id = fake().playerId;
        if (!fake().inbox_.empty() && fake().playerEvent_ != NULL)
            SetEvent(fake().playerEvent_);
        return hr;
    }
    STDMETHOD(DestroyPlayer)(DPID id) override
    {
        fake().record("DestroyPlayer " + num(id));
        return fake().next("DestroyPlayer");
    }
    STDMETHOD(EnumPlayers)(LPGUID instance, LPDPENUMPLAYERSCALLBACK2 callback, LPVOID context, DWORD flags) override
    {
        fake().record(std::string("EnumPlayers instance=") + (instance != nullptr ? "set" : "null") + " context="
                      + (context == static_cast<IDirectPlay4*>(this) ? "self" : "other") + " flags=" + hex(flags));
        HRESULT hr = fake().next("EnumPlayers");
        if (FAILED(hr))
            return hr;
        std::vector<DPID> players;
        {
            std::lock_guard<std::mutex> hold(fake().lock_);
            players = fake().players;
        }
        for (DPID id : players) {
            DPNAME name;
            std::memset(&name, 0, sizeof name);
            name.dwSize = sizeof name;
            BOOL goOn = callback(id, DPPLAYERTYPE_PLAYER, &name, 0, context);
            fake().record("EnumPlayers callback " + num(id) + " -> " + num(goOn));
            if (!goOn)
                break;
        }
        return hr;
    }
    STDMETHOD(EnumSessions)(LPDPSESSIONDESC2 desc, DWORD timeout, LPDPENUMSESSIONSCALLBACK2 callback, LPVOID context,
                            DWORD flags) override
    {
        fake().record("EnumSessions dwSize=" + num(desc->dwSize) + " application=" + fakeGuidName(desc->guidApplication)
                      + " instance=" + fakeGuidName(desc->guidInstance) + " name=" + text(desc->lpszSessionNameA)
                      + " timeout=" + num(timeout) + " flags=" + hex(flags)
                      + " context=" + static_cast<CGuid*>(context)->toString());
        HRESULT hr = fake().next("EnumSessions");
        if (FAILED(hr))
            return hr;
        std::vector<GUID> sessions;
        {
            std::lock_guard<std::mutex> hold(fake().lock_);
            sessions = fake().sessions;
        }
        for (const GUID& session : sessions) {
            DPSESSIONDESC2 found;
            std::memset(&found, 0, sizeof found);
            found.dwSize = sizeof found;
            found.guidInstance = session;
            found.guidApplication = desc->guidApplication;
            DWORD left = 1000;
            BOOL goOn = callback(&found, &left, 0, context);
            fake().record("EnumSessions callback " + fakeGuidName(session) + " -> " + num(goOn));
            if (!goOn)
                return hr;
        }
        DWORD left = 0;
        BOOL goOn = callback(nullptr, &left, DPESC_TIMEDOUT, context);
        fake().record("EnumSessions callback timed out -> " + num(goOn));
        return hr;
    }
    STDMETHOD(GetCaps)(LPDPCAPS caps, DWORD flags) override
    {
        fake().record("GetCaps dwSize=" + num(caps->dwSize) + " flags=" + hex(flags));
        caps->dwFlags = DPCAPS_GUARANTEEDSUPPORTED | DPCAPS_ASYNCSUPPORTED;
        caps->dwMaxBufferSize = 64 * 1024 * 1024;
        caps->dwTimeout = 8000;
        return DP_OK;
    }
    STDMETHOD(GetMessageCount)(DPID, LPDWORD count) override
    {
        std::lock_guard<std::mutex> hold(fake().lock_);
        *count = static_cast<DWORD>(fake().inbox_.size());
        return DP_OK;
    }
    STDMETHOD(GetSessionDesc)(LPVOID data, LPDWORD size) override
    {
        fake().record(std::string("GetSessionDesc buffer=") + (data != nullptr ? "set" : "null") + " size=" + num(*size));
        DWORD needed = sizeof(DPSESSIONDESC2) + 12;
        if (data == nullptr || *size < needed) {
            *size = needed;
            return DPERR_BUFFERTOOSMALL;
        }
        DPSESSIONDESC2 desc;
        std::memset(&desc, 0, sizeof desc);
        desc.dwSize = sizeof desc;
        {
            std::lock_guard<std::mutex> hold(fake().lock_);
            desc.guidInstance = fake().instance;
        }
        char* name = static_cast<char*>(data) + sizeof desc;
        std::memcpy(name, "must userID", 12);
        desc.lpszSessionNameA = name;
        std::memcpy(data, &desc, sizeof desc);
        *size = needed;
        return DP_OK;
    }
    STDMETHOD(Open)(LPDPSESSIONDESC2 desc, DWORD flags) override
    {
        fake().record("Open flags=" + hex(flags) + " dwSize=" + num(desc->dwSize) + " dwFlags=" + hex(desc->dwFlags)
                      + " instance=" + fakeGuidName(desc->guidInstance) + " application="
                      + fakeGuidName(desc->guidApplication) + " max=" + num(desc->dwMaxPlayers)
                      + " current=" + num(desc->dwCurrentPlayers) + " name=" + text(desc->lpszSessionNameA)
                      + " password=" + text(desc->lpszPasswordA) + " user=" + num(desc->dwUser1) + ","
                      + num(desc->dwUser2) + "," + num(desc->dwUser3) + "," + num(desc->dwUser4)
                      + " reserved=" + num(desc->dwReserved1) + "," + num(desc->dwReserved2));
        return fake().next("Open");
    }
    STDMETHOD(Receive)(LPDPID from, LPDPID to, DWORD flags, LPVOID data, LPDWORD size) override
    {
        std::lock_guard<std::mutex> hold(fake().lock_);
        fake().receiveSizes_.push_back(*size);
        if (flags != DPRECEIVE_ALL)
            return DPERR_INVALIDFLAGS;
        if (fake().inbox_.empty())
            return DPERR_NOMESSAGES;
        FakeDirectPlay::Entry& entry = fake().inbox_.front();
        if (entry.kind == FakeDirectPlay::Entry::FAILURE) {
            HRESULT result = entry.result;
            fake().inbox_.pop_front();
            return result;
        }
        DWORD needed = needs(entry);
        if (data == nullptr || *size < needed) {
            *size = needed;
            return DPERR_BUFFERTOOSMALL;
        }
        write(entry, static_cast<unsigned char*>(data));
        *size = needed;
        *from = entry.kind == FakeDirectPlay::Entry::PAYLOAD ? entry.from : DPID_SYSMSG;
        *to = fake().playerId;
        fake().inbox_.pop_front();
        return DP_OK;
    }
    STDMETHOD(InitializeConnection)(LPVOID connection, DWORD flags) override
    {
        bool ours = connection != nullptr && std::memcmp(connection, "FAKEADDRESS", 11) == 0;
        fake().record(std::string("InitializeConnection address=") + (ours ? "lobby's" : "other") + " flags=" + hex(flags));
        return fake().next("InitializeConnection");
    }
    STDMETHOD(EnumConnections)(LPCGUID application, LPDPENUMCONNECTIONSCALLBACK callback, LPVOID context,
                               DWORD flags) override
    {
        fake().record(std::string("EnumConnections application=") + (application != nullptr ? "set" : "null")
                      + " flags=" + hex(flags));
        HRESULT hr = fake().next("EnumConnections");
        if (FAILED(hr))
            return hr;
        std::vector<GUID> providers;
        {
            std::lock_guard<std::mutex> hold(fake().lock_);
            providers = fake().providers;
        }
        for (const GUID& provider : providers) {
            unsigned char connection[24];
            std::memset(connection, 0x5A, sizeof connection);
            DPNAME name;
            std::memset(&name, 0, sizeof name);
            name.dwSize = sizeof name;
            BOOL goOn = callback(&provider, connection, sizeof connection, &name, DPCONNECTION_DIRECTPLAY, context);
            fake().record("EnumConnections callback " + fakeGuidName(provider) + " -> " + num(goOn));
            if (!goOn)
                break;
        }
        return hr;
    }
    STDMETHOD(SendEx)(DPID from, DPID to, DWORD flags, LPVOID data, DWORD size, DWORD priority, DWORD timeout,
                      LPVOID context, LPDWORD messageId) override
    {
        if (fake().onSend)
            fake().onSend(to);
        std::lock_guard<std::mutex> hold(fake().lock_);
        FakeDirectPlay::Sent sent;
        sent.from = from;
        sent.to = to;
        sent.flags = flags;
        sent.priority = priority;
        sent.timeout = timeout;
        sent.context = context != nullptr;
        sent.messageId = messageId != nullptr;
        const unsigned char* bytes = static_cast<const unsigned char*>(data);
        sent.data.assign(bytes, bytes + size);
        fake().sent_.push_back(std::move(sent));
        if (messageId != nullptr)
            *messageId = static_cast<DWORD>(fake().sent_.size());
        if (fake().busyPlayers_.count(to) != 0 || (to == DPID_ALLPLAYERS && !fake().busyPlayers_.empty()))
            return DPERR_BUSY;
        if (!fake().sendResults_.empty()) {
            HRESULT result = fake().sendResults_.front();
            fake().sendResults_.pop_front();
            return result;
        }
        return fake().sendDefault_;
    }
    STDMETHOD(CancelMessage)(DWORD messageId, DWORD flags) override
    {
        fake().record("CancelMessage " + num(messageId) + " flags=" + hex(flags));
        return fake().next("CancelMessage");
    }
    STDMETHOD(GetMessageQueue)(DPID from, DPID to, DWORD flags, LPDWORD count, LPDWORD bytes) override
    {
        fake().record("GetMessageQueue from=" + num(from) + " to=" + num(to) + " flags=" + hex(flags));
        HRESULT hr = fake().next("GetMessageQueue");
        if (FAILED(hr))
            return hr;
        std::lock_guard<std::mutex> hold(fake().lock_);
        DWORD left = 0;
        if (!fake().queueCounts_.empty()) {
            left = fake().queueCounts_.front();
            fake().queueCounts_.pop_front();
        }
        if (count != nullptr)
            *count = left;
        if (bytes != nullptr)
            *bytes = left * 100;
        return hr;
    }

#define FAKE_UNEXPECTED(name, ...)                                                                                   \
    STDMETHOD(name)(__VA_ARGS__) override                                                                             \
    {                                                                                                                 \
        fake().record("UNEXPECTED " #name);                                                                           \
        return DPERR_UNSUPPORTED;                                                                                     \
    }
    FAKE_UNEXPECTED(AddPlayerToGroup, DPID, DPID)
    FAKE_UNEXPECTED(CreateGroup, LPDPID, LPDPNAME, LPVOID, DWORD, DWORD)
    FAKE_UNEXPECTED(DeletePlayerFromGroup, DPID, DPID)
    FAKE_UNEXPECTED(DestroyGroup, DPID)
    FAKE_UNEXPECTED(EnumGroupPlayers, DPID, LPGUID, LPDPENUMPLAYERSCALLBACK2, LPVOID, DWORD)
    FAKE_UNEXPECTED(EnumGroups, LPGUID, LPDPENUMPLAYERSCALLBACK2, LPVOID, DWORD)
    FAKE_UNEXPECTED(GetGroupData, DPID, LPVOID, LPDWORD, DWORD)
    FAKE_UNEXPECTED(GetGroupName, DPID, LPVOID, LPDWORD)
    FAKE_UNEXPECTED(GetPlayerAddress, DPID, LPVOID, LPDWORD)
    FAKE_UNEXPECTED(GetPlayerCaps, DPID, LPDPCAPS, DWORD)
    FAKE_UNEXPECTED(GetPlayerData, DPID, LPVOID, LPDWORD, DWORD)
    FAKE_UNEXPECTED(GetPlayerName, DPID, LPVOID, LPDWORD)
    FAKE_UNEXPECTED(Initialize, LPGUID)
    FAKE_UNEXPECTED(Send, DPID, DPID, DWORD, LPVOID, DWORD)
    FAKE_UNEXPECTED(SetGroupData, DPID, LPVOID, DWORD, DWORD)
    FAKE_UNEXPECTED(SetGroupName, DPID, LPDPNAME, DWORD)
    FAKE_UNEXPECTED(SetPlayerData, DPID, LPVOID, DWORD, DWORD)
    FAKE_UNEXPECTED(SetPlayerName, DPID, LPDPNAME, DWORD)
    FAKE_UNEXPECTED(SetSessionDesc, LPDPSESSIONDESC2, DWORD)
    FAKE_UNEXPECTED(AddGroupToGroup, DPID, DPID)
    FAKE_UNEXPECTED(CreateGroupInGroup, DPID, LPDPID, LPDPNAME, LPVOID, DWORD, DWORD)
    FAKE_UNEXPECTED(DeleteGroupFromGroup, DPID, DPID)
    FAKE_UNEXPECTED(EnumGroupsInGroup, DPID, LPGUID, LPDPENUMPLAYERSCALLBACK2, LPVOID, DWORD)
    FAKE_UNEXPECTED(GetGroupConnectionSettings, DWORD, DPID, LPVOID, LPDWORD)
    FAKE_UNEXPECTED(SecureOpen, LPCDPSESSIONDESC2, DWORD, LPCDPSECURITYDESC, LPCDPCREDENTIALS)
    FAKE_UNEXPECTED(SendChatMessage, DPID, DPID, DWORD, LPDPCHAT)
    FAKE_UNEXPECTED(SetGroupConnectionSettings, DWORD, DPID, LPDPLCONNECTION)
    FAKE_UNEXPECTED(StartSession, DWORD, DPID)
    FAKE_UNEXPECTED(GetGroupFlags, DPID, LPDWORD)
    FAKE_UNEXPECTED(GetGroupParent, DPID, LPDPID)
    FAKE_UNEXPECTED(GetPlayerAccount, DPID, DWORD, LPVOID, LPDWORD)
    FAKE_UNEXPECTED(GetPlayerFlags, DPID, LPDWORD)
    FAKE_UNEXPECTED(GetGroupOwner, DPID, LPDPID)
    FAKE_UNEXPECTED(SetGroupOwner, DPID, DPID)
    FAKE_UNEXPECTED(CancelPriority, DWORD, DWORD, DWORD)
#undef FAKE_UNEXPECTED

private:
    static FakeDirectPlay& fake() { return FakeDirectPlay::script(); }

    static DWORD needs(const FakeDirectPlay::Entry& entry)
    {
        switch (entry.kind) {
        case FakeDirectPlay::Entry::PAYLOAD:
            return static_cast<DWORD>(entry.bytes.size());
        case FakeDirectPlay::Entry::PLAYER: {
            DWORD record = entry.type == DPSYS_CREATEPLAYERORGROUP ? sizeof(DPMSG_CREATEPLAYERORGROUP)
                                                                   : sizeof(DPMSG_DESTROYPLAYERORGROUP);
            return record + (entry.nullName ? 0 : static_cast<DWORD>(entry.name.size() + 1));
        }
        default:
            return sizeof(DPMSG_GENERIC);
        }
    }

    static void write(const FakeDirectPlay::Entry& entry, unsigned char* out)
    {
        if (entry.kind == FakeDirectPlay::Entry::PAYLOAD) {
            if (!entry.bytes.empty())
                std::memcpy(out, entry.bytes.data(), entry.bytes.size());
            return;
        }
        if (entry.kind == FakeDirectPlay::Entry::SYSTEM) {
            DPMSG_GENERIC generic;
            generic.dwType = entry.type;
            std::memcpy(out, &generic, sizeof generic);
            return;
        }
        DPNAME name;
        std::memset(&name, 0, sizeof name);
        name.dwSize = sizeof name;
        size_t record = entry.type == DPSYS_CREATEPLAYERORGROUP ? sizeof(DPMSG_CREATEPLAYERORGROUP)
                                                                : sizeof(DPMSG_DESTROYPLAYERORGROUP);
        if (!entry.nullName) {
            std::memcpy(out + record, entry.name.c_str(), entry.name.size() + 1);
            name.lpszShortNameA = reinterpret_cast<LPSTR>(out + record);
        }
        if (entry.type == DPSYS_CREATEPLAYERORGROUP) {
            DPMSG_CREATEPLAYERORGROUP create;
            std::memset(&create, 0, sizeof create);
            create.dwType = entry.type;
            create.dwPlayerType = DPPLAYERTYPE_PLAYER;
            create.dpId = entry.id;
            create.dpnName = name;
            std::memcpy(out, &create, sizeof create);
        } else {
            DPMSG_DESTROYPLAYERORGROUP destroy;
            std::memset(&destroy, 0, sizeof destroy);
            destroy.dwType = entry.type;
            destroy.dwPlayerType = DPPLAYERTYPE_PLAYER;
            destroy.dpId = entry.id;
            destroy.dpnName = name;
            std::memcpy(out, &destroy, sizeof destroy);
        }
    }

    ULONG refs_ = 1;
};

class FakeLobby final : public IDirectPlayLobby3 {
public:
    FakeLobby()
    {
        std::lock_guard<std::mutex> hold(FakeDirectPlay::script().lock_);
        ++FakeDirectPlay::script().live_;
    }

    STDMETHOD(QueryInterface)(REFIID riid, void** ppv) override
    {
        fake().record("Lobby QueryInterface " + fakeGuidName(riid));
        if (IsEqualIID(riid, IID_IDirectPlayLobby3A)) {
            HRESULT hr = fake().next("QueryLobby3");
            if (FAILED(hr)) {
                *ppv = nullptr;
                return hr;
            }
        }
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IDirectPlayLobbyA)
            || IsEqualIID(riid, IID_IDirectPlayLobby3A)) {
            *ppv = static_cast<IDirectPlayLobby3*>(this);
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHOD_(ULONG, AddRef)() override { return ++refs_; }
    STDMETHOD_(ULONG, Release)() override
    {
        ULONG left = --refs_;
        fake().record("Lobby Release -> " + num(left));
        if (left == 0) {
            {
                std::lock_guard<std::mutex> hold(fake().lock_);
                --fake().live_;
            }
            delete this;
        }
        return left;
    }

    STDMETHOD(CreateCompoundAddress)(LPCDPCOMPOUNDADDRESSELEMENT elements, DWORD count, LPVOID address,
                                     LPDWORD size) override
    {
        std::string line = "CreateCompoundAddress count=" + num(count) + " buffer=" + (address != nullptr ? "set" : "null")
                           + " size=" + num(*size);
        for (DWORD i = 0; i < count; ++i)
            line += " | " + fakeGuidName(elements[i].guidDataType) + " " + num(elements[i].dwDataSize) + " ["
                    + hexBytes(elements[i].lpData, elements[i].dwDataSize) + "]";
        fake().record(line);
        DWORD needed;
        {
            std::lock_guard<std::mutex> hold(fake().lock_);
            needed = fake().addressSize;
        }
        if (address == nullptr) {
            HRESULT hr = fake().next("CreateCompoundAddress", DPERR_BUFFERTOOSMALL);
            *size = needed;
            return hr;
        }
        HRESULT hr = fake().next("CreateCompoundAddress2");
        if (FAILED(hr))
            return hr;
        if (*size < needed)
            return DPERR_BUFFERTOOSMALL;
        std::memset(address, 0, needed);
        std::memcpy(address, "FAKEADDRESS", 11);
        *size = needed;
        return DP_OK;
    }

#define FAKE_UNEXPECTED(name, ...)                                                                                   \
    STDMETHOD(name)(__VA_ARGS__) override                                                                             \
    {                                                                                                                 \
        fake().record("UNEXPECTED Lobby " #name);                                                                     \
        return DPERR_UNSUPPORTED;                                                                                     \
    }
    FAKE_UNEXPECTED(Connect, DWORD, LPDIRECTPLAY2*, IUnknown*)
    FAKE_UNEXPECTED(CreateAddress, REFGUID, REFGUID, LPCVOID, DWORD, LPVOID, LPDWORD)
    FAKE_UNEXPECTED(EnumAddress, LPDPENUMADDRESSCALLBACK, LPCVOID, DWORD, LPVOID)
    FAKE_UNEXPECTED(EnumAddressTypes, LPDPLENUMADDRESSTYPESCALLBACK, REFGUID, LPVOID, DWORD)
    FAKE_UNEXPECTED(EnumLocalApplications, LPDPLENUMLOCALAPPLICATIONSCALLBACK, LPVOID, DWORD)
    FAKE_UNEXPECTED(GetConnectionSettings, DWORD, LPVOID, LPDWORD)
    FAKE_UNEXPECTED(ReceiveLobbyMessage, DWORD, DWORD, LPDWORD, LPVOID, LPDWORD)
    FAKE_UNEXPECTED(RunApplication, DWORD, LPDWORD, LPDPLCONNECTION, HANDLE)
    FAKE_UNEXPECTED(SendLobbyMessage, DWORD, DWORD, LPVOID, DWORD)
    FAKE_UNEXPECTED(SetConnectionSettings, DWORD, DWORD, LPDPLCONNECTION)
    FAKE_UNEXPECTED(SetLobbyMessageEvent, DWORD, DWORD, HANDLE)
    FAKE_UNEXPECTED(ConnectEx, DWORD, REFIID, LPVOID*, IUnknown*)
    FAKE_UNEXPECTED(RegisterApplication, DWORD, LPDPAPPLICATIONDESC)
    FAKE_UNEXPECTED(UnregisterApplication, DWORD, REFGUID)
    FAKE_UNEXPECTED(WaitForConnectionSettings, DWORD)
#undef FAKE_UNEXPECTED

private:
    static FakeDirectPlay& fake() { return FakeDirectPlay::script(); }

    ULONG refs_ = 1;
};

} // namespace

std::string fakeGuidName(const GUID& guid)
{
    static const struct {
        const GUID* guid;
        const char* name;
    } names[] = {
        {&GUID_NULL, "zero"},
        {&DPSPGUID_TCPIP, "TCPIP"},
        {&DPSPGUID_IPX, "IPX"},
        {&DPSPGUID_MODEM, "MODEM"},
        {&DPAID_ServiceProvider, "DPAID_ServiceProvider"},
        {&DPAID_INet, "DPAID_INet"},
        {&IID_IDirectPlay4A, "IID_IDirectPlay4A"},
        {&IID_IDirectPlayLobbyA, "IID_IDirectPlayLobbyA"},
        {&IID_IDirectPlayLobby3A, "IID_IDirectPlayLobby3A"},
        {&CLSID_DirectPlay, "CLSID_DirectPlay"},
        {&CLSID_DirectPlayLobby, "CLSID_DirectPlayLobby"},
    };
    for (const auto& entry : names)
        if (IsEqualGUID(*entry.guid, guid))
            return entry.name;
    return CGuid::guidToString(guid);
}

FakeDirectPlay& FakeDirectPlay::script()
{
    static FakeDirectPlay* fake = new FakeDirectPlay();
    return *fake;
}

HRESULT FakeDirectPlay::createInstance(REFCLSID clsid, REFIID iid, void** object)
{
    FakeDirectPlay& fake = script();
    fake.record("Create " + fakeGuidName(clsid) + " " + fakeGuidName(iid));
    *object = nullptr;
    if (IsEqualCLSID(clsid, CLSID_DirectPlay)) {
        HRESULT hr = fake.next("CreateDirectPlay");
        if (FAILED(hr))
            return hr;
        if (!IsEqualIID(iid, IID_IDirectPlay4A))
            return E_NOINTERFACE;
        *object = static_cast<IDirectPlay4*>(new FakeObject());
        return S_OK;
    }
    if (IsEqualCLSID(clsid, CLSID_DirectPlayLobby)) {
        HRESULT hr = fake.next("CreateLobby");
        if (FAILED(hr))
            return hr;
        if (!IsEqualIID(iid, IID_IDirectPlayLobbyA) && !IsEqualIID(iid, IID_IDirectPlayLobby3A))
            return E_NOINTERFACE;
        *object = static_cast<IDirectPlayLobby3*>(new FakeLobby());
        return S_OK;
    }
    return REGDB_E_CLASSNOTREG;
}

void FakeDirectPlay::reset()
{
    std::lock_guard<std::mutex> hold(lock_);
    providers = {DPSPGUID_TCPIP};
    sessions.clear();
    players.clear();
    instance = {0x11223344, 0x5566, 0x7788, {0x99, 0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0xF0, 0x01}};
    playerId = 1;
    addressSize = 40;
    inbox_.clear();
    receiveSizes_.clear();
    sent_.clear();
    sendResults_.clear();
    sendDefault_ = DPERR_PENDING;
    queueCounts_.clear();
    calls_.clear();
    answers_.clear();
    onSend = nullptr;
    busyPlayers_.clear();
    if (playerEvent_ != NULL)
        CloseHandle(playerEvent_);
    playerEvent_ = NULL;
}

void FakeDirectPlay::answer(const std::string& call, HRESULT result, int times)
{
    std::lock_guard<std::mutex> hold(lock_);
    for (int i = 0; i < times; ++i)
        answers_[call].push_back(result);
}

void FakeDirectPlay::answerSends(const std::vector<HRESULT>& results)
{
    std::lock_guard<std::mutex> hold(lock_);
    sendResults_.assign(results.begin(), results.end());
}

void FakeDirectPlay::setSendDefault(HRESULT result)
{
    std::lock_guard<std::mutex> hold(lock_);
    sendDefault_ = result;
}

void FakeDirectPlay::answerQueueCounts(const std::vector<DWORD>& counts)
{
    std::lock_guard<std::mutex> hold(lock_);
    queueCounts_.assign(counts.begin(), counts.end());
}

HRESULT FakeDirectPlay::next(const std::string& call, HRESULT otherwise)
{
    std::lock_guard<std::mutex> hold(lock_);
    auto entry = answers_.find(call);
    if (entry == answers_.end() || entry->second.empty())
        return otherwise;
    HRESULT result = entry->second.front();
    entry->second.pop_front();
    return result;
}

void FakeDirectPlay::record(const std::string& line)
{
    std::lock_guard<std::mutex> hold(lock_);
    calls_.push_back(line);
}

void FakeDirectPlay::push(Entry entry)
{
    std::lock_guard<std::mutex> hold(lock_);
    inbox_.push_back(std::move(entry));
    if (playerEvent_ != NULL)
        SetEvent(playerEvent_);
}

void FakeDirectPlay::deliver(DPID from, const std::vector<unsigned char>& payload)
{
    Entry entry{Entry::PAYLOAD, from, payload, 0, 0, std::string(), false, DP_OK};
    push(std::move(entry));
}

void FakeDirectPlay::deliverPlayer(DWORD type, DPID id, const std::string& shortName, bool nullName)
{
    Entry entry{Entry::PLAYER, DPID_SYSMSG, {}, type, id, shortName, nullName, DP_OK};
    push(std::move(entry));
}

void FakeDirectPlay::deliverSystem(DWORD type)
{
    Entry entry{Entry::SYSTEM, DPID_SYSMSG, {}, type, 0, std::string(), false, DP_OK};
    push(std::move(entry));
}

void FakeDirectPlay::deliverFailure(HRESULT result)
{
    Entry entry{Entry::FAILURE, 0, {}, 0, 0, std::string(), false, result};
    push(std::move(entry));
}

size_t FakeDirectPlay::inboxSize()
{
    std::lock_guard<std::mutex> hold(lock_);
    return inbox_.size();
}

void FakeDirectPlay::setPlayerEvent()
{
    std::lock_guard<std::mutex> hold(lock_);
    if (playerEvent_ != NULL)
        SetEvent(playerEvent_);
}

std::vector<std::string> FakeDirectPlay::calls()
{
    std::lock_guard<std::mutex> hold(lock_);
    return calls_;
}

std::vector<std::string> FakeDirectPlay::callsStartingWith(const std::string& prefix)
{
    std::lock_guard<std::mutex> hold(lock_);
    std::vector<std::string> found;
    for (const std::string& call : calls_)
        if (call.compare(0, prefix.size(), prefix) == 0)
            found.push_back(call);
    return found;
}

void FakeDirectPlay::setBusy(DPID player, bool busy)
{
    std::lock_guard<std::mutex> hold(lock_);
    if (busy)
        busyPlayers_.insert(player);
    else
        busyPlayers_.erase(player);
}

std::vector<FakeDirectPlay::Sent> FakeDirectPlay::sent()
{
    std::lock_guard<std::mutex> hold(lock_);
    return sent_;
}

size_t FakeDirectPlay::sentCount()
{
    std::lock_guard<std::mutex> hold(lock_);
    return sent_.size();
}

std::vector<DWORD> FakeDirectPlay::receiveSizes()
{
    std::lock_guard<std::mutex> hold(lock_);
    return receiveSizes_;
}

int FakeDirectPlay::liveObjects()
{
    std::lock_guard<std::mutex> hold(lock_);
    return live_;
}
