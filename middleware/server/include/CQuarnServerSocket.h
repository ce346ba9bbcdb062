#pragma once
// The server side of the connections between nodes: the listening socket on the configured
// port, and each connection accepted on it. Over an accepted connection a peer asks for this
// node's directories (type 17) and their update counters (type 18), and announces itself with
// an alive packet; every request is answered with the request's type.
#include "CQuarnStreamSocket.h"

#include <string>
#include <vector>

class CQuarnComm;
class CQuarnDataBase;

class CQuarnServerSocket : public CQuarnStreamSocket {
public:
    // Accepted connections at most. Any program on the network can connect: a connection
    // beyond this is accepted and closed at once, so that sockets and memory stay bounded.
    static constexpr size_t CONNECTION_LIMIT = 256;

    // The listening socket, or an accepted connection whose packets go to the layer.
    explicit CQuarnServerSocket(CQuarnComm* comm = nullptr);

    // Only a listening socket is made so: port 0 fails (ERROR_INVALID_PARAMETER).
    bool CreateStream(HWND hWnd, UINT message, WORD port) override;

    // Takes one received packet and answers it: an alive goes to the layer, requests 17 and
    // 18 are answered from the database, any other type with ERROR_QUARN_COMMON_INVALID_TYPE
    // and no data. False when no packet was waiting.
    bool HandlePacket();

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

private:
    CQuarnComm* m_pComm;
};
