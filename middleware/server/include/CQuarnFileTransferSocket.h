#pragma once
// The sending side of one file transfer: a TCP connection of its own to the receiving node's
// listening socket. Opened with its texts and a fresh temporary file that the client fills;
// executed, it holds the file open (deleted when the last handle with delete-on-close goes)
// and connects; connected, it asks the receiver to open the transfer (type 33); accepted, it
// streams the file (0x8022) and tells the sender window the progress; the receiver's answer
// (type 34) ends it. Every notice is "QUARN_MESSAGE_FILE_TRANSFER" with the transfer handle
// (this record's number) as wParam. One object of this class that never connects heads the list
// of transfers.
#include "CQuarnProgress.h"
#include "CQuarnStreamSocket.h"

#include <string>

class CQuarnSrvCore;

class CQuarnFileTransferSocket : public CQuarnStreamSocket {
public:
    // Read steps taken for what the receiver sent before it closed the connection: its last
    // answer is 12 bytes, two steps.
    static constexpr int CLOSING_READ_STEPS = 8;

    // Notices go out through the core (none without one).
    explicit CQuarnFileTransferSocket(CQuarnSrvCore* core = nullptr);
    // Closes the temporary file handle.
    ~CQuarnFileTransferSocket() override;

    // Keeps the destination ("\", the receiving node's identity, then the directory on it),
    // the part behind its first component, the source directory, the nickname, the window and
    // the progress interval, and makes the temporary file. A missing text fails with
    // ERROR_INVALID_PARAMETER.
    bool Open(const WCHAR* destination, const WCHAR* receiverPath, const WCHAR* source, const WCHAR* nickname,
              HWND window, DWORD intervalMs = CQuarnProgress::DEFAULT_INTERVAL_MS);
    // Opens the temporary file for the transfer, creates the outgoing socket whose events go to
    // the window as message and connects to the receiving node (IPv4 address in network order,
    // port). A transfer executed before fails with ERROR_BUSY and runs on untouched; a missing
    // temporary file fails with the file system's error.
    bool Execute(HWND hWnd, UINT message, DWORD address, WORD port);

    // One socket event: FD_CONNECT sends the open request, or ends the transfer (a refusal
    // tells ERROR_QUARN_COMM_CONNECTION_REFUSED); FD_READ takes one answer; FD_WRITE sends on;
    // FD_CLOSE takes what the receiver still sent and ends it. True when the transfer ended:
    // its socket is destroyed and the caller deletes it.
    bool HandleEvent(WORD event, WORD error);
    // Takes one answer of the receiver: a status other than 0 ends the transfer with it; an
    // accepted open starts the contents (QUARN_STATUS_SEND_PROGRESS); the stored file ends it
    // with QUARN_STATUS_SEND_PROGRESS + 100; where transfers can be aborted, an abort (type 35)
    // with status 0 ends it untold; any other answer, or one out of turn, ends it with 0. False
    // when no packet was waiting.
    bool HandleReply();

    // Set connected and send the open request: the destination on the receiver, the source
    // directory and the nickname.
    void OnConnect() override;
    // Tells the sender window ERROR_QUARN_COMM_CONNECTION_CLOSED unless the transfer was shut
    // down (it ended with another notice), then closes the socket.
    void DestroySocket() override;

    // Ends the transfer at its client's word, where transfers can be aborted: the sender window
    // is told ERROR_QUARN_COMM_CONNECTION_CLOSED unless it had ended, the connection is closed
    // and a temporary file that no handle holds is deleted. The caller deletes the object.
    void Close();

    // Posts the code to the sender window.
    void Post(DWORD code);

    const std::wstring& GetTempFileName() const { return m_tempFile; }
    const std::wstring& GetDestination() const { return m_destination; }
    const std::wstring& GetReceiverPath() const { return m_receiverPath; }
    const std::wstring& GetSource() const { return m_source; }
    const std::wstring& GetNickname() const { return m_nickname; }
    HWND GetSenderWindow() const { return m_hSenderWnd; }
    bool IsExecuted() const { return m_bExecuted; }
    bool IsTempFileHeld() const { return m_hTempFile != INVALID_HANDLE_VALUE; }

protected:
    // The progress of the file packet's chunks, and a file that could not be read to its end.
    void OnAdvanced(CQuarnPacket& packet, DWORD result) override;

private:
    // Ends the transfer from this side with a notice: nothing more goes out or is told.
    void Finish(DWORD code);
    // Ends it untold: shuts the sending direction down.
    void ShutDown();

    CQuarnSrvCore* m_pCore;
    CQuarnProgress m_progress;
    std::wstring m_destination;
    std::wstring m_receiverPath;
    std::wstring m_source;
    std::wstring m_nickname;
    HWND m_hSenderWnd;
    std::wstring m_tempFile;
    HANDLE m_hTempFile;
    bool m_bExecuted;
    // The open was accepted and the contents queued.
    bool m_bAccepted;
};
