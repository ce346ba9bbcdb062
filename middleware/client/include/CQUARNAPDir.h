#pragma once
// The program's own application directory in its computer's middleware: entries published
// under the directory's application id (closing it removes them) and file transfers.
// Failures are the failure values below and the thread's last error.
#include <windows.h>

#include <string>

class CQUARNInterface;

class CQUARNAPDir {
public:
    CQUARNAPDir(DWORD applicationId, const std::string& applicationName, CQUARNInterface* owner);
    virtual ~CQUARNAPDir();
    CQUARNAPDir(const CQUARNAPDir&) = delete;
    CQUARNAPDir& operator=(const CQUARNAPDir&) = delete;

    bool ChangeLiveChkWnd(HWND window);
    bool AddRefer(const std::string& name, DWORD type);
    bool DelRefer(const std::string& name);
    bool ChangeEntryValueInt(const std::string& name, int value);
    bool ChangeEntryValueString(const std::string& name, const std::string& value);
    bool ChangeEntryValueBinary(const std::string& name, const BYTE* bytes, ULONG count);
    bool Close();
    DWORD FileTransferOpen(const std::string& nickname, const std::string& destination, HWND window);
    std::string FileTransferGetTempName(DWORD handle);
    bool FileTransferExec(DWORD handle);
    bool FileTransferClose(DWORD handle);
    std::string GetFileNickname(DWORD handle);
    std::string GetSenderName(DWORD handle);
    DWORD SendFile(const std::string& sourceFile, const std::string& nickname, const std::string& destination,
                   HWND window);
    // Places the transfer's file under a temporary name beside the destination and then
    // replaces the destination in one step: a failure leaves the old file as it was.
    bool RecvFile(DWORD handle, const std::string& destinationFile);

    // The step that moves the received file to the temporary name beside the destination
    // (MoveFileExA, copying across volumes); tests put one that fails half-way. Returns the
    // previous step.
    using PlaceStep = BOOL (*)(LPCSTR from, LPCSTR to);
    static PlaceStep setPlaceStep(PlaceStep step);

    const std::string& getPath() const { return path; }
    DWORD getApplicationId() const { return applicationId; }

private:
    // Runs one entry change under the database lock.
    template <typename Change> bool locked(const char* where, Change change);
    std::string handleText(const char* where, DWORD handle, bool nickname);

    std::string path;
    DWORD applicationId;
    CQUARNInterface* owner;
};
