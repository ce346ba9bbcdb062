#pragma once
// The communication layer of the middleware server: a hidden window ("QuarnCommLibWnd") whose
// messages drive everything it does on the server's main thread. It publishes this computer's
// name, version and addresses in the local directory, announces the node on every subnet with
// alive packets, turns the alives of other nodes into lookup connections, answers their
// directory requests, lets clients read the directories of every node it reaches, and carries
// files between nodes. One layer runs in a process at a time.
#include "CQuarnAddressTable.h"
#include "CQuarnFileReceive.h"
#include "CQuarnFileTransferSocket.h"
#include "CQuarnLookupSocket.h"
#include "CQuarnNodeDetectSocket.h"
#include "CQuarnServerSocket.h"

#include <winsock2.h>

#include <string>

class CQuarnDataBase;
class CQuarnLookup;
class CQuarnSrvCore;
class CQuarnWatchWindow;

class CQuarnComm {
public:
    // Socket events of each kind arrive as their own message on the window.
    static constexpr UINT NODE_DETECT_EVENT = WM_USER;
    static constexpr UINT LISTENING_EVENT = WM_USER + 1;
    static constexpr UINT SERVER_EVENT = WM_USER + 2;
    static constexpr UINT LOOKUP_EVENT = WM_USER + 3;
    static constexpr UINT TRANSFER_EVENT = WM_USER + 4;
    static constexpr UINT_PTR TICK_TIMER = 0;
    static constexpr UINT TICK_MS = 1000;
    // Lookup connections at most. Every alive of an unknown identity opens one, and anyone on
    // the network can send alives with made-up identities: past this many, alives of further
    // identities are ignored until connections end.
    static constexpr size_t LOOKUP_CONNECTION_LIMIT = 256;
    // Lookup connections to one address at most: a computer runs one node, which may have
    // come back with a new identity while its old connection ends. Alives of more identities
    // from one address (made up ones) are ignored, so they cannot fill the table.
    static constexpr size_t LOOKUP_CONNECTIONS_PER_ADDRESS = 4;

    static constexpr const char* WINDOW_CLASS = "QuarnCommLibWndClass";
    static constexpr const char* WINDOW_NAME = "QuarnCommLibWnd";

    CQuarnComm();
    // Destroys the window; a layer can then start in this process again.
    virtual ~CQuarnComm();
    CQuarnComm(const CQuarnComm&) = delete;
    CQuarnComm& operator=(const CQuarnComm&) = delete;

    // Starts the layer for the core (its database, its client windows) with the node identity
    // on the port (UDP alives and every TCP connection). ERROR_QUARN_SERVER_BUSY when a layer
    // is started in this process or this object was started before; ERROR_QUARN_SERVER_PORT_IN_USE
    // when the port is taken; otherwise the failing call's error. A failed start is stopped.
    virtual bool Start(CQuarnSrvCore* core, const GUID& node, WORD port);
    // The same without node detection, over the given database: nothing is broadcast and no
    // alive is read; the layer listens, accepts, answers and connects as it does otherwise
    // (alives reach it through OnAlivePacket). For tests in the process.
    bool StartWithoutNodeDetection(CQuarnSrvCore* core, CQuarnDataBase* database, const GUID& node, WORD port);
    // Ends every connection (each reports its end), closes the sockets and cleans up Windows
    // Sockets; the result is that clean-up's.
    virtual bool Stop();

    // Lookup handles. The path "\" opens the list of reachable nodes; "\{node}" followed by a
    // directory path of that node opens that directory, returned at once while its request is
    // on its way ("QUARN_MESSAGE_LOOKUP_DIRCTORY" tells window when it arrives). A path that
    // does not begin with "\" or whose first component is not the braced identity of a known
    // node: ERROR_QUARN_COMMON_INVALID_PATH. Failure gives 0.
    DWORD LookupOpen(const WCHAR* path, HWND window);
    bool LookupClose(DWORD handle);
    // A root handle counts the nodes again. A node's handle asks for its directory again and is
    // pending (last error QUARN_LOOKUP_PENDING) until the reply; while a request is outstanding
    // nothing is sent and the call fails with QUARN_LOOKUP_PENDING.
    bool LookupRefresh(DWORD handle);
    bool LookupGetEntryCount(DWORD handle, DWORD* pCount);
    // On the root: the nodes' braced identities in connection order (ERROR_NO_MORE_ITEMS
    // beyond them), each of type QUARNTYPE_DIR, without values (ERROR_INVALID_PARAMETER).
    bool LookupGetEntryName(DWORD handle, DWORD index, WCHAR* buffer, DWORD* pSize);
    bool LookupGetEntryType(DWORD handle, DWORD index, DWORD* pType);
    bool LookupGetEntryValueInt(DWORD handle, DWORD index, LONG* pValue);
    bool LookupGetEntryValueString(DWORD handle, DWORD index, WCHAR* buffer, DWORD* pSize);
    bool LookupGetEntryValueBinary(DWORD handle, DWORD index, BYTE* buffer, DWORD* pSize);
    // The dotted address of the connected node named by the path's first component.
    bool GetIP(const WCHAR* path, std::wstring& address);

    // File transfers. Open: the destination's first component must be the braced identity of a
    // node with a lookup connection (else ERROR_QUARN_COMMON_INVALID_PATH); a missing text
    // fails with ERROR_INVALID_PARAMETER. The transfer gets a fresh temporary file, which the
    // client fills before it executes the transfer; "QUARN_MESSAGE_FILE_TRANSFER" tells window
    // what becomes of it. Failure gives 0.
    DWORD FileTransferOpen(const WCHAR* destination, const WCHAR* source, const WCHAR* nickname, HWND window,
                           DWORD intervalMs = CQuarnProgress::DEFAULT_INTERVAL_MS);
    // Connects to the receiving node (gone since the open: ERROR_QUARN_COMMON_INVALID_PATH).
    // Not a transfer handle: ERROR_INVALID_HANDLE; executed before: ERROR_BUSY.
    bool FileTransferExec(DWORD handle);
    // A transfer: nothing to do (it ends by itself). A receive handle: its received file is
    // deleted and forgotten; success whatever the deletion answered. Others:
    // ERROR_INVALID_HANDLE. Where transfers can be aborted, a transfer ends at once (told
    // ERROR_QUARN_COMM_CONNECTION_CLOSED unless it had ended) and goes; a receive under way is
    // given up (the sender hears ERROR_QUARN_COMM_TRANSFER_ABORTED) and goes when its
    // connection ends; any other receive goes at once with its file.
    bool FileTransferClose(DWORD handle);
    // A transfer's temporary file; a receive handle's received file (none before the transfer
    // completed, or after the handle was closed: ERROR_FILE_NOT_FOUND).
    bool FileTransferGetTempName(DWORD handle, std::wstring& name);
    // What came with a received file; other handles: ERROR_INVALID_HANDLE.
    bool FileTransferGetNickname(DWORD handle, std::wstring& nickname);
    bool FileTransferGetSenderName(DWORD handle, std::wstring& senderName);

    // An alive record (identity and root counter) from the sender's IPv4 address (network
    // order), over UDP or over an accepted connection.
    void OnAlivePacket(const BYTE* record, DWORD length, DWORD sender);

    // For the connections: a node came (0) or went (1). The root's handles go pending and are
    // told that their directory changed; the registered client windows are told.
    void OnNodeChange(WPARAM which);
    // Tells the handle's window, when it still exists, that its directory changed.
    void PostLookupChanged(const CQuarnLookup& lookup);
    void PostLookupMessage(HWND window, DWORD handle, DWORD status);
    const GUID& GetNode() const { return m_node; }
    // The database that accepted connections read; null while stopped.
    CQuarnDataBase* GetServerDataBase() const { return m_pServerDataBase; }
    // The watch records that receiving applications are found by; null without a core (tests
    // give their own).
    virtual CQuarnWatchWindow* GetWatchWindow() const;
    // The head of the receive records.
    CQuarnFileReceive& GetReceiveRecords() { return m_receiveHead; }
    // The listening socket, head of the accepted connections (tests link their own into it).
    CQuarnServerSocket& GetConnections() { return m_listening; }

    // One tick of the timer: addresses, alives, keep-alives.
    void OnTimerTick();
    // Where the system's address table comes from (tests give their own); before Start.
    void SetAddressSource(CQuarnAddressTable::Source source);
    HWND GetWindow() const { return m_hWnd; }
    bool IsStarted() const { return m_bStarted; }
    WORD GetPort() const { return m_port; }
    // Lookup connections made (connecting or connected) and accepted connections.
    size_t GetLookupConnectionCount() const { return m_lookupHead.CountUpTo(LOOKUP_CONNECTION_LIMIT + 1); }
    size_t GetServerConnectionCount() const
    {
        return m_listening.CountUpTo(CQuarnServerSocket::CONNECTION_LIMIT + 1);
    }
    // Of those, the ones with the peer at the IPv4 address (network order), counted up to limit.
    size_t CountLookupConnectionsTo(DWORD address, size_t limit) const;
    size_t CountServerConnectionsFrom(DWORD address, size_t limit) const;
    // Transfers listed (counted up to the limit), and receive records.
    size_t GetTransferCount(size_t limit) const { return m_transferHead.CountUpTo(limit); }
    size_t GetReceiveRecordCount() const { return m_receiveHead.CountUpTo(CQuarnFileReceive::RECORD_LIMIT + 1); }

private:
    static LRESULT CALLBACK WindowProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT OnMessage(UINT message, WPARAM wParam, LPARAM lParam);
    void OnNodeDetectEvent(WPARAM wParam, LPARAM lParam);
    void OnListeningEvent(WPARAM wParam, LPARAM lParam);
    void OnServerEvent(WPARAM wParam, LPARAM lParam);
    void OnLookupEvent(WPARAM wParam, LPARAM lParam);
    void OnTransferEvent(WPARAM wParam, LPARAM lParam);
    void OnPowerBroadcast(WPARAM event);
    bool Begin(CQuarnSrvCore* core, CQuarnDataBase* database, const GUID& node, WORD port, bool detect);
    bool CreateWindowObject();
    bool WriteComputerInformation();
    void EndLookupConnections();
    void EndServerConnections();
    // Ends and deletes every transfer, each telling its sender unless it had ended.
    void EndTransfers();
    // The transfer or the receive record of the handle; null with ERROR_INVALID_HANDLE.
    CQuarnFileTransferSocket* FindTransfer(DWORD handle) const;
    CQuarnFileReceive* FindReceive(DWORD handle) const;
    // A copy of a text of the receive record of the handle.
    bool CopyReceiveText(DWORD handle, const std::wstring& (CQuarnFileReceive::*text)() const,
                         std::wstring& copy) const;

    // The connection of the node with this identity; null when none.
    CQuarnLookupSocket* FindConnection(const GUID& node) const;
    // The connection of the node named by the path's first component, and where the rest of
    // the path begins; null with ERROR_QUARN_COMMON_INVALID_PATH.
    CQuarnLookupSocket* FindNodeOfPath(const WCHAR* path, const WCHAR** ppRest) const;
    // The handle among the root's, then among each connection's (the head for a root handle);
    // null with ERROR_INVALID_HANDLE.
    CQuarnLookup* FindLookup(DWORD handle, CQuarnLookupSocket** ppConnection);
    size_t CountConnected() const;
    CQuarnLookupSocket* GetConnected(size_t index) const;
    bool IsRoot(const CQuarnLookupSocket* connection) const { return connection == &m_lookupHead; }

    // The layer that is started in this process, if any.
    static CQuarnComm* s_pStarted;

    CQuarnSrvCore* m_pCore;
    bool m_bStarted;
    bool m_bNodeDetection;
    HWND m_hWnd;
    WORD m_port;
    GUID m_node;
    WSADATA m_wsaData;
    bool m_bWinsock;
    CQuarnNodeDetectSocket m_nodeDetect;
    // Also the head of the accepted connections.
    CQuarnServerSocket m_listening;
    // Also the head of the lookup connections, and the holder of the root's handles.
    CQuarnLookupSocket m_lookupHead;
    CQuarnDataBase* m_pServerDataBase;
    // The head of the transfers this node sends.
    CQuarnFileTransferSocket m_transferHead;
    // The head of the transfers this node received or receives.
    CQuarnFileReceive m_receiveHead;
};
