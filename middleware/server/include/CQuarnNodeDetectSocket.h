#pragma once
// The UDP socket that finds the other nodes: it publishes this computer's addresses in the
// local directory, announces the node with alive packets to 127.0.0.1 and to the broadcast
// address of every subnet, and receives the alives of the others (and its own).
#include "CQuarnAddressTable.h"
#include "CQuarnAliveSchedule.h"
#include "CQuarnSocket.h"

#include <vector>

class CQuarnDataBase;

class CQuarnNodeDetectSocket : public CQuarnSocket {
public:
    // Failed sends of one datagram (other than WSAEWOULDBLOCK) after which it is dropped: an
    // address that cannot be reached must not hold back the alives queued behind it.
    static constexpr DWORD SEND_TRIES = 3;
    // No datagram is larger; the receive buffer is the socket's SO_RCVBUF up to this.
    static constexpr DWORD LARGEST_DATAGRAM = 65536;

    CQuarnNodeDetectSocket();
    ~CQuarnNodeDetectSocket() override;

    // Takes the database and the node identity and opens the socket on the port, bound on every
    // address, broadcasts allowed, its events to the window as message. A socket that has a
    // database already fails with ERROR_QUARN_SERVER_BUSY; port 0 with ERROR_INVALID_PARAMETER.
    bool Open(HWND hWnd, UINT message, CQuarnDataBase* database, const GUID& node, WORD port);
    // Forgets the database and the saved address table, drops what waits to be sent and closes
    // the socket.
    void Close();

    // Sends the oldest queued datagram with one call, its CRC computed first.
    bool WriteStep() override;
    // Receives one datagram; an intact packet goes to the receive queue. True when the owner
    // should look for a packet.
    bool ReadStep() override;

    // Rewrites the addresses in the local directory when the system's table changed. Fails
    // with ERROR_INVALID_PARAMETER while no database is held.
    bool RefreshNetworkInformation();
    // One tick of the alive schedule with the root's update counter; on a sending tick queues
    // an alive (identity and counter) for every target of the address table.
    void RunAliveSchedule(DWORD rootCounter);
    // The computer woke up: announce at once.
    void Resume() { m_schedule.Resume(); }

    // Where the system's address table comes from (tests give their own).
    void SetAddressSource(CQuarnAddressTable::Source source);
    CQuarnDataBase* GetDataBase() const { return m_pDataBase; }
    WORD GetPort() const { return m_port; }
    DWORD GetReceiveBufferSize() const { return m_receiveBufferSize; }
    const CQuarnAddressTable& GetAddressTable() const { return m_table; }

private:
    WORD m_port;
    DWORD m_receiveBufferSize;
    CQuarnAliveSchedule m_schedule;
    CQuarnDataBase* m_pDataBase;
    GUID m_node;
    CQuarnAddressTable m_table;
    std::vector<BYTE> m_receiveBuffer;
    // Failed sends of the datagram at the head of the send queue.
    DWORD m_headFailures;
};
