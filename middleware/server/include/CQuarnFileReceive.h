#pragma once
// The receiving side's record of one file transfer; its number is the receive handle that the
// receiving application is given. It knows the application (through its watch records), the
// nickname and sender name that came with the open request, and, once the transfer completed,
// the temporary file that holds what arrived, which it deletes when it goes. Records stay
// listed after their file is closed, so that a closed handle keeps answering, until the
// communication layer stops or the list's limit makes room.
#include "CQuarnListItem.h"

#include <string>

class CQuarnWatchWindow;

class CQuarnFileReceive : public CQuarnListItem {
public:
    // Records listed at most. Every open that a peer gets accepted adds one, and records
    // outlive their transfers: at the limit the oldest record that is neither running nor
    // holding a file goes; when every record is one of those, further opens are refused.
    static constexpr size_t RECORD_LIMIT = 1024;
    // The application id of a destination that is a watched directory itself.
    static constexpr LONG EVERY_WATCH_WINDOW = -1;

    CQuarnFileReceive();
    // Deletes the received file when one is set.
    ~CQuarnFileReceive() override;

    // Keeps the texts of the open request; a missing one fails with ERROR_INVALID_PARAMETER.
    bool SetTexts(const std::wstring* nickname, const std::wstring* senderName);
    // Finds the application the destination is for, in the watch records: the destination is a
    // watched directory (exactly, case counting): every watch window of it; or a watched
    // directory followed by "\" and an application id in plain decimal digits within 31 bits:
    // that application's window. Anything else fails with ERROR_QUARN_COMMON_INVALID_PATH; no
    // watch records at all (no running core) with ERROR_NOT_READY.
    bool SetDestination(const CQuarnWatchWindow* watch, const std::wstring& destination);
    // Posts "QUARN_MESSAGE_FILE_TRANSFER" (this record's handle, code) to the application's
    // watch windows. Fails with ERROR_NOT_READY without watch records, with
    // ERROR_QUARN_COMMON_INVALID_PATH when no window was there to post to.
    bool Tell(CQuarnWatchWindow* watch, DWORD code) const;

    // The file that holds what arrived; deleted with the record.
    void SetReceivedFile(const std::wstring& file) { m_receivedFile = file; }
    // Deletes the received file and forgets its name; a file already gone counts as deleted.
    // Whatever the deletion answered is left as the last error.
    void CloseReceivedFile();
    bool HasReceivedFile() const { return !m_receivedFile.empty(); }

    // A connection delivers this transfer now.
    void SetRunning(bool running) { m_bRunning = running; }
    bool IsRunning() const { return m_bRunning; }

    // An application id as it may stand behind a watched directory: 1 to 10 decimal digits,
    // nothing else, at most 0x7FFFFFFF.
    static bool ParseAppId(const std::wstring& text, LONG* pAppId);
    // On a head: makes room for one more record when the list is at its limit. False when no
    // record may go.
    bool MakeRoom();

    LONG GetAppId() const { return m_appId; }
    const std::wstring& GetDestination() const { return m_destination; }
    const std::wstring& GetNickname() const { return m_nickname; }
    const std::wstring& GetSenderName() const { return m_senderName; }
    const std::wstring& GetReceivedFile() const { return m_receivedFile; }

private:
    LONG m_appId;
    std::wstring m_destination;
    std::wstring m_nickname;
    std::wstring m_senderName;
    std::wstring m_receivedFile;
    bool m_bRunning;
};
