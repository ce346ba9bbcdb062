#pragma once
// The server side of the connections between nodes: the listening socket on the configured
// port, and each connection accepted on it. Over an accepted connection a peer asks for this
// node's directories (type 17) and their update counters (type 18), announces itself with an
// alive packet, and delivers files: an open (type 33) that names the receiving application,
// then the contents (0x8022), which land in a temporary file of this server's own. Every
// request is answered with the request's type.
#include "CQuarnStreamSocket.h"

#include <string>
#include <vector>

class CQuarnComm;
class CQuarnDataBase;
class CQuarnFileReceive;
class CQuarnWatchWindow;

class CQuarnServerSocket : public CQuarnStreamSocket {
public:
    // Accepted connections at most. Any program on the network can connect: a connection
    // beyond this is accepted and closed at once, so that sockets and memory stay bounded.
    static constexpr size_t CONNECTION_LIMIT = 256;
    // Accepted connections from one address at most, so that one program cannot take them
    // all: a node holds its lookup connection here and one for each file it is sending.
    static constexpr size_t CONNECTIONS_PER_ADDRESS = 16;

    // The listening socket, or an accepted connection whose packets go to the layer.
    explicit CQuarnServerSocket(CQuarnComm* comm = nullptr);

    // Only a listening socket is made so: port 0 fails (ERROR_INVALID_PARAMETER).
    bool CreateStream(HWND hWnd, UINT message, WORD port) override;

    // Takes one received packet and answers it: an alive goes to the layer, requests 17 and
    // 18 are answered from the database, a file-transfer open and the end of the contents as
    // the receiver of the transfer; any other type (a plain type 34 too: only this server's own
    // file packet names a received file) with ERROR_QUARN_COMMON_INVALID_TYPE and no data.
    // False when no packet was waiting.
    bool HandlePacket();
    // A receive under way is told that its connection ended (ERROR_QUARN_COMM_CONNECTION_CLOSED,
    // or the status of the abort sent on it) and, where transfers can be aborted, its record
    // goes; then the socket is closed.
    void DestroySocket() override;
    // Where transfers can be aborted: gives the receive under way up, telling the sender the
    // status (type 35, no data) once, and keeps the status as the connection's own, which the
    // receive is told when the connection ends. False when nothing was given up (the module's
    // build, no receive under way, or given up before).
    bool Abort(DWORD status);
    // On the listening socket: the accepted connection that delivers the receive record of
    // that number; null when none.
    CQuarnServerSocket* FindDelivering(DWORD record) const;
    // Contents (0x8022) that an accepted open on this connection waits for become a file
    // packet bound to its receive record; any other contents, or contents no open waits for,
    // end the connection (ERROR_INVALID_DATA) before anything is written.
    CQuarnPacket* MakeFilePacket(const BYTE* header) override;

    // The answers, apart from the socket: the status and the reply's data for a request's
    // data. A request shorter than the 4-byte handle: ERROR_INVALID_PARAMETER and no data; a
    // failure: its code and the handle alone; success: 0 and the handle followed by the
    // directory (type 17) or by the directory's update counter (type 18). An empty path (or
    // none) asks for the root "\".
    static DWORD AnswerDirectoryRequest(CQuarnDataBase* database, const BYTE* data, DWORD length,
                                        std::vector<BYTE>& reply);
    static DWORD AnswerCounterRequest(CQuarnDataBase* database, const BYTE* data, DWORD length,
                                      std::vector<BYTE>& reply);
    // Appends the directory at the path (counter, count and one record per entry), read under
    // the database lock. On failure reply is as it was and the reason is the last error.
    static bool GetDirectory(CQuarnDataBase* database, const std::wstring& path, std::vector<BYTE>& reply);
    // Appends the record of the entry at the index of the directory: length, type, name and
    // value.
    static bool GetAtEntryName(CQuarnDataBase& database, const std::wstring& directory, DWORD index,
                               std::vector<BYTE>& reply);

    // The receiver's answer to an open request (three strings: the destination on this node,
    // the sender's name, the nickname), apart from the socket: 0 when a receive record was
    // made, linked into records and its application told QUARN_STATUS_RECEIVE_PROGRESS, with
    // its handle in *pRecord; otherwise the reason (ERROR_INVALID_PARAMETER for data that does
    // not hold three strings or lacks a text, ERROR_NOT_READY without watch records,
    // ERROR_QUARN_COMMON_INVALID_PATH for a destination no application watches,
    // ERROR_TOO_MANY_OPEN_FILES when the records are at their limit).
    static DWORD AnswerFileTransferOpen(CQuarnWatchWindow* watch, CQuarnFileReceive& records, const BYTE* data,
                                        DWORD length, DWORD* pRecord);
    // The end of the contents of the record's transfer: the file the file packet wrote and its
    // status. Status 0: the record keeps the file and its application is told it is complete;
    // a status, or a notice that reached no window (reported as the connection's end): the
    // application is told the status, and the record and the file go. The answer is the final
    // status.
    static DWORD AnswerFileTransferEnd(CQuarnWatchWindow* watch, CQuarnFileReceive& records, DWORD record,
                                       const std::wstring& file, DWORD status);

    // The transfer this connection delivers; 0 when none.
    DWORD GetReceiveRecord() const { return m_receiveRecord; }
    // What a receive under way is told when the connection ends.
    DWORD GetStatus() const { return m_status; }

private:
    // Forgets the receive record, telling its application the code unless it is 0; a code
    // ends the receive, and where transfers can be aborted its record goes with it.
    void ForgetReceiveRecord(DWORD code);

    CQuarnComm* m_pComm;
    DWORD m_receiveRecord;
    // The accepted open waits for its contents: only they may come as a file packet.
    bool m_bContentsExpected;
    // ERROR_QUARN_COMM_CONNECTION_CLOSED, or the status of the abort sent on this connection.
    DWORD m_status;
    bool m_bAborted;
};
