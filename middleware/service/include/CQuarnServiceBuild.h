#pragma once
// The server as the service builds it: notices go into the queue instead of windows, the
// temporary files live in a folder of the service's own ("QuarnTemp" under its account's
// temporary path) that interactive users may use, no watch-window check, its own version,
// and transfers may be aborted from either side. It also keeps the window numbers handed to
// clients and their slots.
#include "CQuarnClientSlots.h"
#include "CQuarnNoticeQueue.h"
#include "CQuarnQueueLock.h"
#include "CQuarnServerBuild.h"

#include <string>

class CQuarnServiceBuild : public CQuarnServerBuild {
public:
    static constexpr DWORD VERSION = 0x00010101;
    static constexpr const char* TEMP_FOLDER_NAME = "QuarnTemp";
    // The platform's temporary names keep three letters of a prefix; the folder is the
    // service's own, so whatever matches these is its.
    static constexpr const char* STALE_FILE_PATTERN = "QUA*.TMP";
    // SYSTEM and Administrators: all; interactive users: the folder read and traversed, its
    // files read, written and deleted (inherited); nobody else.
    static constexpr const WCHAR* FOLDER_SDDL =
        L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;;0x1200A9;;;IU)(A;OIIO;0x13019F;;;IU)";
    static constexpr const WCHAR* FILE_SDDL = L"D:P(A;;FA;;;SY)(A;;FA;;;BA)(A;;0x13019F;;;IU)";
    // The start of the log line of a stale file that stays, followed by its path and error.
    static constexpr const char* TEXT_STALE_FILE_STAYS = "Stale temporary file stays: ";

    // The queue's code of a registered message of the server; NO_VALUE for another message.
    static DWORD CodeOfMessage(UINT message);
    // Sets the descriptor of the text on the file or folder (its DACL, protected).
    static bool SetSecurity(const std::string& path, const WCHAR* sddl);
    static bool SetSecurity(const std::wstring& path, const WCHAR* sddl);
    // Deletes the stale files in the folder (ending in a backslash), read-only ones too; a file
    // that cannot be deleted is logged (the service's event texts) and stays. How many stayed.
    static DWORD DeleteStaleFiles(const std::string& folder);

    void Notify(HWND window, UINT message, WPARAM wParam, LPARAM lParam, Target target) override;
    bool GetTempFolder(std::string& folder) override;
    // Makes and secures the folder and deletes stale files from it.
    bool PrepareTempFolder() override;
    // Frees the notices and removes the folder when it is empty.
    void OnStopped() override;
    bool SecureTempFile(const std::wstring& name) override;
    bool ChecksWindows() const override { return false; }
    DWORD Version() const override { return VERSION; }
    bool AbortsTransfers() const override { return true; }

    CQuarnNoticeQueue& GetQueue() { return m_queue; }
    CQuarnClientSlots& GetSlots() { return m_slots; }
    CQuarnQueueLock& GetQueueLock() { return m_queueLock; }
    // The next window number: 1, 2, 3 ..., never reused while the process runs.
    DWORD GetNewWindowNumber() { return m_nextWindowNumber++; }

private:
    CQuarnNoticeQueue m_queue;
    CQuarnClientSlots m_slots;
    CQuarnQueueLock m_queueLock;
    DWORD m_nextWindowNumber = 1;
};
