#pragma once
// The base of every socket of the communication layer: a non-blocking Windows Sockets socket
// whose events arrive as a window message (asynchronous select), with a send queue and a
// receive queue of packets. Everything runs on the thread that owns the window. Also the
// encoding of the items inside a packet's data part: building on a growing buffer, parsing
// only inside the bytes that arrived.
#include "CQuarnListItem.h"
#include "CQuarnPacket.h"

#include <winsock2.h>

#include <optional>
#include <string>
#include <vector>

class CQuarnSocket : public CQuarnListItem {
public:
    // Complete packets waiting to be taken. A read step takes nothing more from the network
    // while this many wait, so that a peer cannot grow the queue faster than the owner reads
    // it; taking one from a full queue resumes reading.
    static constexpr size_t RECEIVE_QUEUE_LIMIT = 32;
    // Packets waiting to be sent. A peer that sends requests but reads no replies would grow
    // this queue without end: a read step takes nothing more from the network while this many
    // wait, and sending one from a full queue resumes reading.
    static constexpr size_t SEND_QUEUE_LIMIT = 32;

    CQuarnSocket();
    // Deletes every queued packet, the send queue first; closes a socket still open.
    ~CQuarnSocket() override;

    // Queues a packet with a copy of the data and posts FD_WRITE to this socket; the result is
    // the post's. The file form (file set: data is the name of a file to stream) belongs to
    // stream sockets; here it fails with ERROR_INVALID_PARAMETER.
    virtual bool SendPacket(WORD type, DWORD status, const BYTE* data, DWORD length, bool file = false,
                            DWORD peer = 0);
    // Takes the oldest received packet: its type, folded status, peer address and a copy of
    // its data (empty when the length is 0); the packet is deleted. False for an empty queue
    // (ERROR_NO_DATA) or when the copy cannot be made (ERROR_NOT_ENOUGH_MEMORY; the packet is
    // lost).
    virtual bool ReceivePacket(WORD* pType, WORD* pStatus, DWORD* pPeer, std::vector<BYTE>* pData,
                               DWORD* pLength);
    // One send or receive call, run on the socket's write or read event.
    virtual bool WriteStep() = 0;
    virtual bool ReadStep() = 0;
    // Closes the socket; it is INVALID_SOCKET afterwards whatever closing answered.
    virtual void DestroySocket();
    // Opens an AF_INET socket of the type (SOCK_STREAM or SOCK_DGRAM) whose events go to the
    // window as message; a port other than 0 is bound on every local address. Fails with
    // ERROR_INVALID_PARAMETER when this socket is open already (which stays as it was).
    virtual bool Create(HWND hWnd, UINT message, int type, WORD port);

    // Shuts the socket down in that direction (SD_SEND is what the layer uses).
    bool ShutdownSocket(int how);
    // Posts the event to this socket's window, unless the first message of this socket's
    // number waiting there is already this event for this socket: one self-posted event per
    // kind is enough to drive the next step.
    bool PostSocketEvent(WORD event, WORD error);

    SOCKET GetSocket() const { return m_socket; }
    // The Windows Sockets error of the last failed call on this socket.
    DWORD GetLastSocketError() const { return m_dwLastError; }
    HWND GetWindow() const { return m_hWnd; }
    UINT GetEventMessage() const { return m_uMessage; }
    bool IsShutDown() const { return m_bShutDown; }
    const CQuarnPacket& GetSendQueue() const { return m_sendQueue; }
    const CQuarnPacket& GetReceiveQueue() const { return m_receiveQueue; }

    // Data-part items, big-endian. Each Append grows data and fails with
    // ERROR_NOT_ENOUGH_MEMORY (data as it was) when it cannot.
    static bool AppendLong(std::vector<BYTE>& data, DWORD value);
    // Byte length counting the zero unit, the UTF-16 units with the zero unit, zeros up to a
    // multiple of 4; a null text is the length 0 alone.
    static bool AppendString(std::vector<BYTE>& data, const WCHAR* text);
    // The path of a directory request: UTF-16 units with the zero unit, nothing around them.
    static bool AppendPath(std::vector<BYTE>& data, const WCHAR* path);
    // Byte size, the bytes, zeros up to a multiple of 4.
    static bool AppendBinary(std::vector<BYTE>& data, const BYTE* bytes, DWORD size);
    // A node identity: first field u32, second and third u16, the last eight bytes as they are.
    static bool AppendGuid(std::vector<BYTE>& data, const GUID& guid);

    // Each Parse reads the item at offset within the length bytes of data, and moves offset
    // behind it. An item that does not lie whole inside the data fails with
    // ERROR_INVALID_PARAMETER, offset unchanged; nothing is read beyond data + length.
    static bool ParseLong(const BYTE* data, DWORD length, DWORD& offset, DWORD& value);
    // No value for the null string (length 0). An odd length, a length that runs past the data
    // (padding included) or no zero unit within it fails.
    static bool ParseString(const BYTE* data, DWORD length, DWORD& offset, std::optional<std::wstring>& text);
    // The units up to the zero unit, which must lie inside the data (an odd count of bytes left
    // fails).
    static bool ParsePath(const BYTE* data, DWORD length, DWORD& offset, std::wstring& path);
    static bool ParseBinary(const BYTE* data, DWORD length, DWORD& offset, std::vector<BYTE>& bytes);
    static bool ParseGuid(const BYTE* data, DWORD length, DWORD& offset, GUID& guid);

protected:
    // Keeps the error as this socket's last error and the thread's; false.
    bool Fail(DWORD error);
    // Unlinks the oldest received packet (null when none); reading resumes when the queue was
    // full.
    CQuarnPacket* TakeReceivedPacket();
    // Hands a taken packet's data to the caller and deletes the packet.
    static bool YieldPacket(CQuarnPacket* packet, WORD type, WORD status, const BYTE* data, DWORD bytes,
                            DWORD length, WORD* pType, WORD* pStatus, DWORD* pPeer, std::vector<BYTE>* pData,
                            DWORD* pLength);

    SOCKET m_socket;
    DWORD m_dwLastError;
    HWND m_hWnd;
    UINT m_uMessage;
    sockaddr_in m_localAddress;
    CQuarnPacket m_sendQueue;
    CQuarnPacket m_receiveQueue;
    bool m_bShutDown;
};
