#pragma once
// The one object through which the program uses the middleware: it connects at start-up and
// waits until the middleware sees the network (or tells the user and ends the program), gives
// this terminal's receiver id, says whether a receiver can be reached and moves files.
#include "CJObject.h"

#include <windows.h>

#include <memory>
#include <string>

class CQUARNAPDir;
class CQUARNInterface;
class CQUARNLookupDir;

class CQuarn {
public:
    CQuarn(std::string applicationId, std::string terminalId);
    ~CQuarn();
    CQuarn(const CQuarn&) = delete;
    CQuarn& operator=(const CQuarn&) = delete;

    CQUARNInterface* getInterface() { return pQUARNInterface; }
    // Both give a directory the caller owns, or null.
    CQUARNLookupDir* getQUARNRootDir();
    CQUARNLookupDir* getQUARNLookUpDir(std::string dirPath);
    std::string getDependQUARNId();
    std::string getReceiverId();
    bool isSendable(std::string receiverId);
    static std::string errorText(DWORD code);

    void setQUARNCopyMsgReceiveWindow(HWND window);
    void releaseQUARNCopyMsgReceiveWindow();
    DWORD sendFile(std::string receiverId, std::string fileName, std::string nickname);
    std::string getFileNickname(DWORD handle);
    void copyFile(DWORD handle, std::string fileName);
    void openFileTransfer(std::string receiverId, std::string nickname, std::string& transmitFileName,
                          std::string& transmitTicket);
    void execFileTransfer(std::string transmitTicket);
    std::string getTransmitFileName(DWORD handle);
    void closeFileTransfer(DWORD handle);

    static std::string getIdField(size_t index, const std::string& text, const std::string& separator);
    static std::string getIdTail(size_t index, const std::string& text, const std::string& separator);

private:
    void initialize();
    [[noreturn]] void fatalExit();
    void release();
    std::string receiverTerminalId(const std::string& receiverId);
    std::string receiverQuarnId(const std::string& receiverId);
    std::string destinationOf(const std::string& receiverId);
    std::string findStringEntry(CQUARNLookupDir* directory, const std::string& name);
    std::string getComputerName();
    std::string getComputerInfoPath(const std::string& quarnId);
    // The copy directory and its window, read under the monitor; the directory is used after
    // the monitor is left (its calls go to the middleware), and it lives until its last user ends.
    std::shared_ptr<CQUARNAPDir> copyDir(HWND* window = nullptr);

    CQUARNInterface* pQUARNInterface;
    // Guarded by monitor, which covers these two fields and nothing else.
    std::shared_ptr<CQUARNAPDir> pQUARNCopyDir;
    HWND copyMsgReceiveWindow;
    std::string appId;
    std::string termId;
    CJObject monitor;
};
