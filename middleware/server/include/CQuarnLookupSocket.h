#pragma once
// A lookup connection: this node's TCP connection to the listening socket of one node it has
// heard of (itself included), over which the lookup handles open on that node send their
// directory requests and receive the replies. One process-wide object of this class that is
// never connected heads the list of connections and holds the handles open on the root "\".
#include "CQuarnLookup.h"
#include "CQuarnStreamSocket.h"

#include <string>

class CQuarnComm;

class CQuarnLookupSocket : public CQuarnStreamSocket {
public:
    explicit CQuarnLookupSocket(CQuarnComm* comm = nullptr);
    // Deletes the handles still open on it.
    ~CQuarnLookupSocket() override;

    // Makes a connection to the node at the IPv4 address (network order) and port, its events
    // to the window as message, and links it at the tail of head's list; the connect completes
    // later. Null (with the reason as last error) when it cannot be made.
    static CQuarnLookupSocket* CreateNewConnection(CQuarnComm& comm, CQuarnLookupSocket& head, HWND hWnd,
                                                   UINT message, DWORD address, const GUID& node, WORD port);

    // Connected: the root's handles and the registered windows are told that a node came, and
    // this node's alive goes to the peer so that it connects back.
    void OnConnect() override;
    // Every handle on it is told that its directory went and is deleted; when it was
    // connected, the root's handles and the registered windows are told that a node went; then
    // the socket is closed.
    void DestroySocket() override;

    // The root counter of an alive of this node. An unchanged counter: false. Otherwise it is
    // kept and, when connected, every handle on it asks for its directory's counter (type 18):
    // true.
    bool UpdateCounter(DWORD counter);
    // Takes one received packet and gives it to the handle it answers; anything else is dropped.
    // False when no packet was waiting.
    bool HandleReply();
    // Sends the handle's request of the type (17 or 18).
    bool SendRequest(const CQuarnLookup& lookup, WORD type);

    // The handles open on this node (on the head: on the root).
    CQuarnLookup& GetLookups() { return m_lookups; }
    const GUID& GetNode() const { return m_node; }
    const std::wstring& GetNodeText() const { return m_nodeText; }
    // The peer's dotted address; empty until connected.
    const std::wstring& GetPeerAddressText() const { return m_peerAddressText; }
    DWORD GetLastCounter() const { return m_lastCounter; }

private:
    CQuarnComm* m_pComm;
    std::wstring m_peerAddressText;
    DWORD m_lastCounter;
    CQuarnLookup m_lookups;
    GUID m_node;
    std::wstring m_nodeText;
};
