#include "CQuarnComm.h"

#include "CQuarnDataBase.h"
#include "CQuarnServerBuild.h"
#include "CQuarnSrvCore.h"
#include "QuarnCodes.h"
#include "QuarnGuidText.h"
#include "QuarnMessages.h"
#include "QuarnTrace.h"
#include "QuarnWire.h"

#include <cwchar>
#include <new>

namespace {

const WCHAR COMPUTER_INFORMATION[] = L"Computer Information";
const WCHAR COMPUTER_NAME[] = L"Computer Name";
const WCHAR VERSION[] = L"Version";
// Entries that the layer writes belong to no single application.
const DWORD LAYER_REFERENCE = 0xFFFFFFFF;

bool fail(DWORD error)
{
    SetLastError(error);
    return false;
}

// Whether an event is one of the single socket's to handle: its own (others are traced) and
// without an error (those are ignored).
bool isEventOf(const CQuarnSocket& socket, WPARAM wParam, LPARAM lParam, const char* where)
{
    if (static_cast<SOCKET>(wParam) != socket.GetSocket() || socket.GetSocket() == INVALID_SOCKET) {
        QuarnTrace("%s: unknown socket\n", where);
        return false;
    }
    return WSAGETSELECTERROR(lParam) == 0;
}

// Calls visit with every record of head's list, in order; null ends the walk at once when
// visit returns a record (which is then the result).
template <typename T, typename Visit> T* walk(const CQuarnListItem& head, Visit visit)
{
    for (CQuarnListItem* item = head.GetFirst(); item != nullptr && item != &head; item = item->GetNext()) {
        if (visit(*static_cast<T*>(item)))
            return static_cast<T*>(item);
    }
    return nullptr;
}

// The socket of head's list whose handle came with an event; null when none.
template <typename T> T* findSocket(const CQuarnListItem& head, WPARAM socket)
{
    return walk<T>(head, [socket](T& s) { return s.GetSocket() == static_cast<SOCKET>(socket); });
}

// The connections of head's list whose peer has the IPv4 address, counted up to limit.
template <typename T> size_t countWithPeer(const CQuarnListItem& head, DWORD address, size_t limit)
{
    size_t count = 0;
    walk<T>(head, [&](T& connection) {
        count += connection.GetPeerAddress().sin_addr.s_addr == address;
        return count >= limit;
    });
    return count;
}

// Ends every connection of head's list, each reporting its end.
template <typename T> void endAll(CQuarnListItem& head)
{
    while (T* connection = static_cast<T*>(head.GetFirst())) {
        connection->DestroySocket();
        delete connection;
    }
}

// An event of a connection of head's list: FD_READ runs a read step and, when it says so, lets
// take handle one packet; FD_WRITE runs a write step; FD_CONNECT goes to connected with its
// error, which answers whether the connection ends; FD_CLOSE ends it. Errors of reads and writes are left
// to the close that follows them.
template <typename T, typename Take, typename Connected>
void connectionEvent(const char* where, CQuarnListItem& head, WPARAM wParam, LPARAM lParam, Take take,
                     Connected connected)
{
    T* connection = findSocket<T>(head, wParam);
    if (connection == nullptr) {
        QuarnTrace("%s: unknown socket\n", where);
        return;
    }
    bool error = WSAGETSELECTERROR(lParam) != 0;
    bool end = false;
    switch (WSAGETSELECTEVENT(lParam)) {
    case FD_READ:
        if (!error && connection->ReadStep())
            take(*connection);
        break;
    case FD_WRITE:
        if (!error)
            connection->WriteStep();
        break;
    case FD_CONNECT:
        end = connected(*connection, WSAGETSELECTERROR(lParam));
        break;
    case FD_CLOSE:
        end = true;
        break;
    default:
        QuarnTraceError("%s: event %u\n", where, WSAGETSELECTEVENT(lParam));
        break;
    }
    if (end) {
        connection->DestroySocket();
        delete connection;
    }
}

} // namespace

CQuarnComm* CQuarnComm::s_pStarted = nullptr;

CQuarnComm::CQuarnComm()
    : m_pCore(nullptr), m_bStarted(false), m_bNodeDetection(true), m_hWnd(nullptr), m_port(0), m_node(), m_wsaData(),
      m_bWinsock(false), m_listening(this), m_lookupHead(this), m_pServerDataBase(nullptr), m_transferHead(nullptr)
{
}

CQuarnComm::~CQuarnComm()
{
    if (m_bStarted)
        Stop();
    if (m_hWnd != nullptr) {
        SetWindowLongPtrA(m_hWnd, GWLP_USERDATA, 0);
        DestroyWindow(m_hWnd);
        m_hWnd = nullptr;
    }
    m_pCore = nullptr;
}

bool CQuarnComm::Start(CQuarnSrvCore* core, const GUID& node, WORD port)
{
    return Begin(core, core != nullptr ? core->GetDataBase() : nullptr, node, port, true);
}

bool CQuarnComm::StartWithoutNodeDetection(CQuarnSrvCore* core, CQuarnDataBase* database, const GUID& node, WORD port)
{
    return Begin(core, database, node, port, false);
}

bool CQuarnComm::Begin(CQuarnSrvCore* core, CQuarnDataBase* database, const GUID& node, WORD port, bool detect)
{
    if (m_pCore != nullptr || s_pStarted != nullptr)
        return fail(ERROR_QUARN_SERVER_BUSY);
    if (core == nullptr || database == nullptr)
        return fail(ERROR_INVALID_PARAMETER);
    m_bNodeDetection = detect;
    m_port = port;
    m_pCore = core;
    m_node = node;
    bool started = CreateWindowObject();
    if (started) {
        int result = WSAStartup(MAKEWORD(2, 0), &m_wsaData);
        m_bWinsock = result == 0;
        if (!m_bWinsock)
            SetLastError(result);
        started = m_bWinsock;
    }
    if (detect)
        started = started && m_nodeDetect.Open(m_hWnd, NODE_DETECT_EVENT, database, node, port);
    if (started) {
        m_pServerDataBase = database;
        started = m_listening.CreateStream(m_hWnd, LISTENING_EVENT, port) && WriteComputerInformation();
    }
    if (!started) {
        DWORD error = GetLastError();
        Stop();
        return fail(error == WSAEADDRINUSE ? ERROR_QUARN_SERVER_PORT_IN_USE : error);
    }
    m_bStarted = true;
    s_pStarted = this;
    SetTimer(m_hWnd, TICK_TIMER, TICK_MS, nullptr);
    // The first tick does not wait a second.
    PostMessageA(m_hWnd, WM_TIMER, TICK_TIMER, 0);
    return true;
}

bool CQuarnComm::CreateWindowObject()
{
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = WindowProc;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszMenuName = WINDOW_NAME;
    windowClass.lpszClassName = WINDOW_CLASS;
    if (RegisterClassA(&windowClass) == 0 && GetLastError() != ERROR_CLASS_ALREADY_EXISTS)
        return false;
    if (m_hWnd == nullptr) {
        m_hWnd = CreateWindowA(WINDOW_CLASS, WINDOW_NAME, WS_DISABLED, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT,
                               CW_USEDEFAULT, nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
        if (m_hWnd == nullptr)
            return false;
        SetWindowLongPtrA(m_hWnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    }
    ShowWindow(m_hWnd, SW_HIDE);
    return true;
}

bool CQuarnComm::WriteComputerInformation()
{
    CQuarnDataBase* database = m_pServerDataBase;
    if (database == nullptr || !database->Lock(INFINITE))
        return fail(ERROR_INVALID_PARAMETER);
    char name[MAX_COMPUTERNAME_LENGTH + 1] = {};
    DWORD length = sizeof(name);
    WCHAR wideName[MAX_COMPUTERNAME_LENGTH + 1] = {};
    WCHAR path[MAX_PATH];
    bool written = GetComputerNameA(name, &length)
        && MultiByteToWideChar(CP_ACP, 0, name, -1, wideName, MAX_COMPUTERNAME_LENGTH + 1) != 0;
    if (written) {
        swprintf(path, MAX_PATH, L"\\%ls\\%ls", COMPUTER_INFORMATION, COMPUTER_NAME);
        written = database->SetValueString(LAYER_REFERENCE, path, wideName);
    }
    if (written) {
        swprintf(path, MAX_PATH, L"\\%ls\\%ls", COMPUTER_INFORMATION, VERSION);
        written = database->SetValueInt(LAYER_REFERENCE, path, static_cast<LONG>(CQuarnServerBuild::Current().Version()));
    }
    DWORD error = GetLastError();
    database->Unlock();
    SetLastError(error);
    return written;
}

bool CQuarnComm::Stop()
{
    if (m_hWnd != nullptr)
        KillTimer(m_hWnd, TICK_TIMER);
    EndLookupConnections();
    EndServerConnections();
    m_listening.DestroySocket();
    m_pServerDataBase = nullptr;
    m_nodeDetect.Close();
    EndTransfers();
    while (CQuarnListItem* record = m_receiveHead.GetFirst())
        delete record;
    bool cleaned = true;
    if (m_bWinsock) {
        cleaned = WSACleanup() == 0;
        m_bWinsock = false;
    }
    m_bStarted = false;
    if (s_pStarted == this)
        s_pStarted = nullptr;
    return cleaned;
}

void CQuarnComm::EndLookupConnections()
{
    endAll<CQuarnLookupSocket>(m_lookupHead);
}

void CQuarnComm::EndServerConnections()
{
    endAll<CQuarnServerSocket>(m_listening);
}

void CQuarnComm::EndTransfers()
{
    // Transfers opened but not executed have no socket; they are told all the same.
    endAll<CQuarnFileTransferSocket>(m_transferHead);
}

LRESULT CALLBACK CQuarnComm::WindowProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    CQuarnComm* comm = reinterpret_cast<CQuarnComm*>(GetWindowLongPtrA(hWnd, GWLP_USERDATA));
    if (comm == nullptr)
        return DefWindowProcA(hWnd, message, wParam, lParam);
    return comm->OnMessage(message, wParam, lParam);
}

LRESULT CQuarnComm::OnMessage(UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_TIMER:
        if (wParam == TICK_TIMER)
            OnTimerTick();
        else
            QuarnTraceError("CQuarnComm::OnMessage(): unknown timer %llu\n", static_cast<unsigned long long>(wParam));
        return 0;
    case WM_POWERBROADCAST:
        OnPowerBroadcast(wParam);
        return TRUE;
    case NODE_DETECT_EVENT:
        OnNodeDetectEvent(wParam, lParam);
        return 0;
    case LISTENING_EVENT:
        OnListeningEvent(wParam, lParam);
        return 0;
    case SERVER_EVENT:
        OnServerEvent(wParam, lParam);
        return 0;
    case LOOKUP_EVENT:
        OnLookupEvent(wParam, lParam);
        return 0;
    case TRANSFER_EVENT:
        OnTransferEvent(wParam, lParam);
        return 0;
    default:
        if (message == QuarnLookupDirectoryMessage())
            return 0;
        // Any program on the desktop can post to this window; what none of ours sends is ignored.
        if (message >= WM_USER && message < 0xC000) {
            QuarnTraceError("CQuarnComm::OnMessage(): unknown message 0x%X (%llu, %lld)\n", message,
                            static_cast<unsigned long long>(wParam), static_cast<long long>(lParam));
            return 0;
        }
        return DefWindowProcA(m_hWnd, message, wParam, lParam);
    }
}

void CQuarnComm::OnTimerTick()
{
    if (!m_bStarted)
        return;
    DWORD counter;
    if (m_bNodeDetection) {
        m_nodeDetect.RefreshNetworkInformation();
        if (m_pServerDataBase != nullptr && m_pServerDataBase->GetUpdateCounter(L"\\", &counter))
            m_nodeDetect.RunAliveSchedule(counter);
    }
    walk<CQuarnServerSocket>(m_listening, [](CQuarnServerSocket& connection) {
        connection.KeepAliveTick();
        return false;
    });
    walk<CQuarnLookupSocket>(m_lookupHead, [](CQuarnLookupSocket& connection) {
        connection.KeepAliveTick();
        return false;
    });
}

void CQuarnComm::OnPowerBroadcast(WPARAM event)
{
    switch (event) {
    case PBT_APMSUSPEND:
        EndServerConnections();
        EndLookupConnections();
        EndTransfers();
        break;
    case PBT_APMRESUMECRITICAL:
    case PBT_APMRESUMESUSPEND:
    case PBT_APMRESUMEAUTOMATIC:
        if (m_bNodeDetection)
            m_nodeDetect.Resume();
        break;
    default:
        break;
    }
}

void CQuarnComm::OnNodeDetectEvent(WPARAM wParam, LPARAM lParam)
{
    if (!isEventOf(m_nodeDetect, wParam, lParam, "CQuarnComm::OnNodeDetectEvent()"))
        return;
    switch (WSAGETSELECTEVENT(lParam)) {
    case FD_READ: {
        m_nodeDetect.ReadStep();
        WORD type, status;
        DWORD peer, length;
        std::vector<BYTE> data;
        if (m_nodeDetect.ReceivePacket(&type, &status, &peer, &data, &length) && type == QUARN_COMM_TYPE_ALIVE)
            OnAlivePacket(data.data(), static_cast<DWORD>(data.size()), peer);
        break;
    }
    case FD_WRITE:
        m_nodeDetect.WriteStep();
        break;
    default:
        QuarnTraceError("CQuarnComm::OnNodeDetectEvent(): event %u\n", WSAGETSELECTEVENT(lParam));
        break;
    }
}

void CQuarnComm::OnListeningEvent(WPARAM wParam, LPARAM lParam)
{
    if (!isEventOf(m_listening, wParam, lParam, "CQuarnComm::OnListeningEvent()"))
        return;
    switch (WSAGETSELECTEVENT(lParam)) {
    case FD_ACCEPT: {
        if (GetServerConnectionCount() >= CQuarnServerSocket::CONNECTION_LIMIT) {
            SOCKET refused = accept(m_listening.GetSocket(), nullptr, nullptr);
            if (refused != INVALID_SOCKET)
                closesocket(refused);
            QuarnTrace("CQuarnComm::OnListeningEvent(): connection refused, %u connections\n",
                       static_cast<unsigned>(CQuarnServerSocket::CONNECTION_LIMIT));
            return;
        }
        CQuarnServerSocket* connection = new (std::nothrow) CQuarnServerSocket(this);
        if (connection == nullptr)
            return;
        if (!connection->Accept(m_hWnd, SERVER_EVENT, m_listening)) {
            connection->DestroySocket();
            delete connection;
            break;
        }
        DWORD peer = connection->GetPeerAddress().sin_addr.s_addr;
        if (CountServerConnectionsFrom(peer, CQuarnServerSocket::CONNECTIONS_PER_ADDRESS)
                >= CQuarnServerSocket::CONNECTIONS_PER_ADDRESS
            || !connection->LinkTail(&m_listening)) {
            QuarnTrace("CQuarnComm::OnListeningEvent(): connection refused, %u from its address\n",
                       static_cast<unsigned>(CQuarnServerSocket::CONNECTIONS_PER_ADDRESS));
            connection->DestroySocket();
            delete connection;
        }
        break;
    }
    case FD_CONNECT:
    case FD_CLOSE:
        break;
    default:
        QuarnTraceError("CQuarnComm::OnListeningEvent(): event %u\n", WSAGETSELECTEVENT(lParam));
        break;
    }
}

void CQuarnComm::OnServerEvent(WPARAM wParam, LPARAM lParam)
{
    connectionEvent<CQuarnServerSocket>(
        "CQuarnComm::OnServerEvent()", m_listening, wParam, lParam,
        [](CQuarnServerSocket& connection) { connection.HandlePacket(); },
        [](CQuarnServerSocket&, WORD) {
            QuarnTrace("CQuarnComm::OnServerEvent(): FD_CONNECT\n");
            return false;
        });
}

void CQuarnComm::OnLookupEvent(WPARAM wParam, LPARAM lParam)
{
    connectionEvent<CQuarnLookupSocket>(
        "CQuarnComm::OnLookupEvent()", m_lookupHead, wParam, lParam,
        [](CQuarnLookupSocket& connection) { connection.HandleReply(); },
        [](CQuarnLookupSocket& connection, WORD error) {
            // A connect that failed ends the connection.
            if (error == 0)
                connection.OnConnect();
            return error != 0;
        });
}

void CQuarnComm::OnTransferEvent(WPARAM wParam, LPARAM lParam)
{
    CQuarnFileTransferSocket* transfer = findSocket<CQuarnFileTransferSocket>(m_transferHead, wParam);
    if (transfer == nullptr || transfer->GetSocket() == INVALID_SOCKET) {
        QuarnTrace("CQuarnComm::OnTransferEvent(): unknown socket\n");
        return;
    }
    if (transfer->HandleEvent(WSAGETSELECTEVENT(lParam), WSAGETSELECTERROR(lParam)))
        delete transfer;
}

void CQuarnComm::OnAlivePacket(const BYTE* record, DWORD length, DWORD sender)
{
    DWORD offset = 0;
    GUID node;
    DWORD counter;
    if (!m_bStarted || length < QUARN_ALIVE_RECORD_SIZE || !CQuarnSocket::ParseGuid(record, length, offset, node)
        || !CQuarnSocket::ParseLong(record, length, offset, counter))
        return;
    if (CQuarnLookupSocket* connection = FindConnection(node)) {
        if (connection->UpdateCounter(counter)) {
            walk<CQuarnLookup>(m_lookupHead.GetLookups(), [this](CQuarnLookup& root) {
                PostLookupChanged(root);
                return false;
            });
        }
        return;
    }
    if (GetLookupConnectionCount() >= LOOKUP_CONNECTION_LIMIT) {
        QuarnTrace("CQuarnComm::OnAlivePacket(): %u connections, a new node is ignored\n",
                   static_cast<unsigned>(LOOKUP_CONNECTION_LIMIT));
        return;
    }
    if (CountLookupConnectionsTo(sender, LOOKUP_CONNECTIONS_PER_ADDRESS) >= LOOKUP_CONNECTIONS_PER_ADDRESS) {
        QuarnTrace("CQuarnComm::OnAlivePacket(): %u connections to the sender, a new node is ignored\n",
                   static_cast<unsigned>(LOOKUP_CONNECTIONS_PER_ADDRESS));
        return;
    }
    CQuarnLookupSocket* connection
        = CQuarnLookupSocket::CreateNewConnection(*this, m_lookupHead, m_hWnd, LOOKUP_EVENT, sender, node, m_port);
    if (connection != nullptr)
        connection->UpdateCounter(counter);
    else
        QuarnTrace("CQuarnComm::OnAlivePacket(): no connection, error %lu\n", GetLastError());
}

void CQuarnComm::OnNodeChange(WPARAM which)
{
    walk<CQuarnLookup>(m_lookupHead.GetLookups(), [this](CQuarnLookup& root) {
        root.SetPending();
        PostLookupChanged(root);
        return false;
    });
    if (m_pCore != nullptr)
        m_pCore->PostToRegisteredWindows(QuarnNodeChangeMessage(), which, 0);
}

void CQuarnComm::PostLookupChanged(const CQuarnLookup& lookup)
{
    if (lookup.GetWindow() != nullptr && m_pCore != nullptr)
        m_pCore->PostNoticeToLiveWindow(lookup.GetWindow(), QuarnLookupDirectoryMessage(), lookup.GetId(),
                                        static_cast<LPARAM>(ERROR_QUARN_COMM_LOOKUPDIR_CHANGED));
}

void CQuarnComm::PostLookupMessage(HWND window, DWORD handle, DWORD status)
{
    if (m_pCore != nullptr)
        m_pCore->PostNotice(window, QuarnLookupDirectoryMessage(), handle, static_cast<LPARAM>(status));
}

void CQuarnComm::SetAddressSource(CQuarnAddressTable::Source source)
{
    m_nodeDetect.SetAddressSource(std::move(source));
}

size_t CQuarnComm::CountLookupConnectionsTo(DWORD address, size_t limit) const
{
    return countWithPeer<CQuarnLookupSocket>(m_lookupHead, address, limit);
}

size_t CQuarnComm::CountServerConnectionsFrom(DWORD address, size_t limit) const
{
    return countWithPeer<CQuarnServerSocket>(m_listening, address, limit);
}

CQuarnLookupSocket* CQuarnComm::FindConnection(const GUID& node) const
{
    return walk<CQuarnLookupSocket>(
        m_lookupHead, [&node](CQuarnLookupSocket& connection) { return IsEqualGUID(connection.GetNode(), node) != FALSE; });
}

CQuarnLookupSocket* CQuarnComm::FindNodeOfPath(const WCHAR* path, const WCHAR** ppRest) const
{
    if (path == nullptr || path[0] != L'\\') {
        SetLastError(ERROR_QUARN_COMMON_INVALID_PATH);
        return nullptr;
    }
    const WCHAR* component = path + 1;
    const WCHAR* end = wcschr(component, L'\\');
    size_t length = end != nullptr ? static_cast<size_t>(end - component) : wcslen(component);
    GUID node;
    CQuarnLookupSocket* connection = nullptr;
    if (ParseBracedGuid(component, length, node))
        connection = FindConnection(node);
    if (connection == nullptr) {
        SetLastError(ERROR_QUARN_COMMON_INVALID_PATH);
        return nullptr;
    }
    if (ppRest != nullptr)
        *ppRest = component + length;
    return connection;
}

CQuarnLookup* CQuarnComm::FindLookup(DWORD handle, CQuarnLookupSocket** ppConnection)
{
    CQuarnLookupSocket* connection = &m_lookupHead;
    CQuarnLookup* lookup = static_cast<CQuarnLookup*>(m_lookupHead.GetLookups().FindById(handle));
    if (lookup == nullptr) {
        connection = walk<CQuarnLookupSocket>(m_lookupHead, [handle, &lookup](CQuarnLookupSocket& node) {
            lookup = static_cast<CQuarnLookup*>(node.GetLookups().FindById(handle));
            return lookup != nullptr;
        });
    }
    if (lookup == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    if (ppConnection != nullptr)
        *ppConnection = connection;
    return lookup;
}

size_t CQuarnComm::CountConnected() const
{
    size_t count = 0;
    walk<CQuarnLookupSocket>(m_lookupHead, [&count](CQuarnLookupSocket& connection) {
        count += connection.IsConnected() ? 1 : 0;
        return false;
    });
    return count;
}

CQuarnLookupSocket* CQuarnComm::GetConnected(size_t index) const
{
    return walk<CQuarnLookupSocket>(
        m_lookupHead, [&index](CQuarnLookupSocket& connection) { return connection.IsConnected() && index-- == 0; });
}

DWORD CQuarnComm::LookupOpen(const WCHAR* path, HWND window)
{
    if (path == nullptr || path[0] != L'\\') {
        SetLastError(ERROR_QUARN_COMMON_INVALID_PATH);
        return 0;
    }
    CQuarnLookupSocket* connection = &m_lookupHead;
    const WCHAR* rest = nullptr;
    if (path[1] != L'\0') {
        connection = FindNodeOfPath(path, &rest);
        if (connection == nullptr)
            return 0;
    }
    CQuarnLookup* lookup = new (std::nothrow) CQuarnLookup(window);
    if (lookup == nullptr) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return 0;
    }
    if ((rest != nullptr && !lookup->SetRequestPath(rest)) || !lookup->LinkTail(&connection->GetLookups())) {
        DWORD error = GetLastError();
        delete lookup;
        SetLastError(error);
        return 0;
    }
    DWORD handle = lookup->GetId();
    if (!LookupRefresh(handle)) {
        DWORD error = GetLastError();
        delete lookup;
        SetLastError(error);
        return 0;
    }
    return handle;
}

bool CQuarnComm::LookupClose(DWORD handle)
{
    CQuarnLookup* lookup = FindLookup(handle, nullptr);
    if (lookup == nullptr)
        return false;
    delete lookup;
    return true;
}

bool CQuarnComm::LookupRefresh(DWORD handle)
{
    CQuarnLookupSocket* connection;
    CQuarnLookup* lookup = FindLookup(handle, &connection);
    if (lookup == nullptr)
        return false;
    if (IsRoot(connection)) {
        lookup->SetRootLoaded(static_cast<DWORD>(CountConnected()));
        SetLastError(0);
        return true;
    }
    if (lookup->IsPending())
        return fail(QUARN_LOOKUP_PENDING);
    lookup->SetPending();
    if (!connection->SendRequest(*lookup, QUARN_COMM_TYPE_GET_LOOKUP_DIRECTORY)) {
        DWORD error = GetLastError();
        lookup->OnDirectoryReply(error, nullptr, 0);
        return fail(error);
    }
    SetLastError(QUARN_LOOKUP_PENDING);
    return true;
}

bool CQuarnComm::LookupGetEntryCount(DWORD handle, DWORD* pCount)
{
    CQuarnLookup* lookup = FindLookup(handle, nullptr);
    return lookup != nullptr && lookup->GetCount(pCount);
}

bool CQuarnComm::LookupGetEntryName(DWORD handle, DWORD index, WCHAR* buffer, DWORD* pSize)
{
    CQuarnLookupSocket* connection;
    CQuarnLookup* lookup = FindLookup(handle, &connection);
    if (lookup == nullptr)
        return false;
    if (!IsRoot(connection))
        return lookup->GetEntryName(index, buffer, pSize);
    CQuarnLookupSocket* node = GetConnected(index);
    if (node == nullptr)
        return fail(ERROR_NO_MORE_ITEMS);
    return CQuarnLookup::CopyText(node->GetNodeText(), buffer, pSize);
}

bool CQuarnComm::LookupGetEntryType(DWORD handle, DWORD index, DWORD* pType)
{
    CQuarnLookupSocket* connection;
    CQuarnLookup* lookup = FindLookup(handle, &connection);
    if (lookup == nullptr)
        return false;
    if (!IsRoot(connection))
        return lookup->GetEntryType(index, pType);
    if (pType == nullptr)
        return fail(ERROR_INVALID_PARAMETER);
    if (GetConnected(index) == nullptr)
        return fail(ERROR_NO_MORE_ITEMS);
    *pType = QUARNTYPE_DIR;
    return true;
}

bool CQuarnComm::LookupGetEntryValueInt(DWORD handle, DWORD index, LONG* pValue)
{
    CQuarnLookupSocket* connection;
    CQuarnLookup* lookup = FindLookup(handle, &connection);
    if (lookup == nullptr)
        return false;
    if (IsRoot(connection))
        return fail(ERROR_INVALID_PARAMETER);
    return lookup->GetEntryValueInt(index, pValue);
}

bool CQuarnComm::LookupGetEntryValueString(DWORD handle, DWORD index, WCHAR* buffer, DWORD* pSize)
{
    CQuarnLookupSocket* connection;
    CQuarnLookup* lookup = FindLookup(handle, &connection);
    if (lookup == nullptr)
        return false;
    if (IsRoot(connection))
        return fail(ERROR_INVALID_PARAMETER);
    return lookup->GetEntryValueString(index, buffer, pSize);
}

bool CQuarnComm::LookupGetEntryValueBinary(DWORD handle, DWORD index, BYTE* buffer, DWORD* pSize)
{
    CQuarnLookupSocket* connection;
    CQuarnLookup* lookup = FindLookup(handle, &connection);
    if (lookup == nullptr)
        return false;
    if (IsRoot(connection))
        return fail(ERROR_INVALID_PARAMETER);
    return lookup->GetEntryValueBinary(index, buffer, pSize);
}

bool CQuarnComm::GetIP(const WCHAR* path, std::wstring& address)
{
    CQuarnLookupSocket* connection = FindNodeOfPath(path, nullptr);
    if (connection == nullptr)
        return false;
    if (connection->GetPeerAddressText().empty())
        return fail(ERROR_QUARN_COMMON_INVALID_PATH);
    address = connection->GetPeerAddressText();
    return true;
}

CQuarnWatchWindow* CQuarnComm::GetWatchWindow() const
{
    return m_pCore != nullptr ? m_pCore->GetWatchWindow() : nullptr;
}

CQuarnFileTransferSocket* CQuarnComm::FindTransfer(DWORD handle) const
{
    return static_cast<CQuarnFileTransferSocket*>(m_transferHead.FindById(handle));
}

CQuarnFileReceive* CQuarnComm::FindReceive(DWORD handle) const
{
    return static_cast<CQuarnFileReceive*>(m_receiveHead.FindById(handle));
}

DWORD CQuarnComm::FileTransferOpen(const WCHAR* destination, const WCHAR* source, const WCHAR* nickname, HWND window,
                                   DWORD intervalMs)
{
    if (destination == nullptr || source == nullptr || nickname == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    const WCHAR* rest = nullptr;
    if (FindNodeOfPath(destination, &rest) == nullptr)
        return 0;
    CQuarnFileTransferSocket* transfer = new (std::nothrow) CQuarnFileTransferSocket(m_pCore);
    if (transfer == nullptr) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return 0;
    }
    if (!transfer->LinkTail(&m_transferHead) || !transfer->Open(destination, rest, source, nickname, window, intervalMs)) {
        DWORD error = GetLastError();
        delete transfer;
        SetLastError(error);
        return 0;
    }
    return transfer->GetId();
}

bool CQuarnComm::FileTransferExec(DWORD handle)
{
    CQuarnFileTransferSocket* transfer = FindTransfer(handle);
    if (transfer == nullptr)
        return false;
    if (transfer->IsExecuted())
        return fail(ERROR_BUSY);
    CQuarnLookupSocket* connection = FindNodeOfPath(transfer->GetDestination().c_str(), nullptr);
    if (connection == nullptr)
        return false;
    return transfer->Execute(m_hWnd, TRANSFER_EVENT, connection->GetPeerAddress().sin_addr.s_addr, m_port);
}

bool CQuarnComm::FileTransferClose(DWORD handle)
{
    bool aborts = CQuarnServerBuild::Current().AbortsTransfers();
    if (CQuarnFileTransferSocket* transfer = FindTransfer(handle)) {
        if (aborts) {
            transfer->Close();
            delete transfer;
        }
        return true;
    }
    CQuarnFileReceive* receive = FindReceive(handle);
    if (receive == nullptr)
        return false;
    if (aborts) {
        // A receive under way ends when its connection does, with the abort's status.
        if (CQuarnServerSocket* connection = m_listening.FindDelivering(handle)) {
            connection->Abort(ERROR_QUARN_COMM_TRANSFER_ABORTED);
            SetLastError(0);
            return true;
        }
        receive->CloseReceivedFile();
        delete receive;
        SetLastError(0);
        return true;
    }
    receive->CloseReceivedFile();
    return true;
}

bool CQuarnComm::FileTransferGetTempName(DWORD handle, std::wstring& name)
{
    try {
        if (CQuarnFileTransferSocket* transfer = FindTransfer(handle)) {
            name = transfer->GetTempFileName();
            return true;
        }
        CQuarnFileReceive* receive = FindReceive(handle);
        if (receive == nullptr)
            return false;
        if (!receive->HasReceivedFile())
            return fail(ERROR_FILE_NOT_FOUND);
        name = receive->GetReceivedFile();
    } catch (const std::bad_alloc&) {
        return fail(ERROR_NOT_ENOUGH_MEMORY);
    }
    return true;
}

bool CQuarnComm::FileTransferGetNickname(DWORD handle, std::wstring& nickname)
{
    return CopyReceiveText(handle, &CQuarnFileReceive::GetNickname, nickname);
}

bool CQuarnComm::FileTransferGetSenderName(DWORD handle, std::wstring& senderName)
{
    return CopyReceiveText(handle, &CQuarnFileReceive::GetSenderName, senderName);
}

bool CQuarnComm::CopyReceiveText(DWORD handle, const std::wstring& (CQuarnFileReceive::*text)() const,
                                 std::wstring& copy) const
{
    CQuarnFileReceive* receive = FindReceive(handle);
    if (receive == nullptr)
        return false;
    try {
        copy = (receive->*text)();
    } catch (const std::bad_alloc&) {
        return fail(ERROR_NOT_ENOUGH_MEMORY);
    }
    return true;
}
