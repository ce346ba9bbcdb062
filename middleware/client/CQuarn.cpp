#include "CQuarn.h"

#include "CIOException.h"
#include "CMessageBox.h"
#include "CMonitorHold.h"
#include "CQUARNAPDir.h"
#include "CQUARNInterface.h"
#include "CQUARNLookupDir.h"
#include "CTavUtility.h"
#include "CTrace.h"
#include "CUnknownHostException.h"
#include "QuarnErrorText.h"

#include <cstdlib>
#include <new>

namespace {

const char SCOPE[] = "CQuarn";
const char ROOT[] = "\\";
const char COPY[] = "Copy";
const char NOT_AVAILABLE[] = "NOTAVAILABLE_QUARNID";
// Separates the terminal id from the middleware id in a receiver id.
const char SEPARATOR[] = " ";
const int START_TRIES = 5;
const DWORD START_SLEEP_MS = 2000;
const DWORD READY_STEPS = 100;
const char COMPUTER_INFORMATION[] = "Computer Information";
const char COMPUTER_NAME[] = "Computer Name";
const UINT CANNOT_USE_STRING = 62000;
const UINT TITLE_STRING = 57344;

void closeAndDelete(CQUARNLookupDir* directory)
{
    if (directory == nullptr)
        return;
    directory->Close();
    delete directory;
}

} // namespace

CQuarn::CQuarn(std::string applicationId, std::string terminalId)
    : pQUARNInterface(nullptr), pQUARNCopyDir(nullptr), copyMsgReceiveWindow(nullptr),
      appId(std::move(applicationId)), termId(std::move(terminalId))
{
    initialize();
}

CQuarn::~CQuarn()
{
    pQUARNCopyDir.reset();
    release();
}

void CQuarn::initialize()
{
    pQUARNInterface = new (std::nothrow) CQUARNInterface();
    CTrace::scopedAssertTrue(pQUARNInterface != nullptr, SCOPE, "initialize: no middleware interface object", -1);
    if (!pQUARNInterface->Initialize()) {
        CTrace::trace(SCOPE, "initialize: the middleware cannot be used: " + errorText(GetLastError()));
        fatalExit();
    }
    bool ready = false;
    for (int i = 0; i < START_TRIES && !ready; ++i) {
        CQUARNInterface::sleep(START_SLEEP_MS);
        CQUARNLookupDir* root = pQUARNInterface->openLookupDir(ROOT, nullptr);
        if (root == nullptr) {
            CTrace::trace(SCOPE, "initialize: the root directory does not open: " + errorText(GetLastError()));
            continue;
        }
        DWORD count = root->GetEntryCount();
        // A failed count is no node seen.
        ready = count != CQUARNLookupDir::COUNT_FAILED && count > 0;
        if (!ready)
            CTrace::trace(SCOPE, "initialize: the middleware is still starting");
        delete root;
    }
    if (!ready) {
        CTrace::trace(SCOPE, "initialize: the middleware sees no node");
        fatalExit();
    }
}

void CQuarn::fatalExit()
{
    CMessageBox::show(nullptr, CTavUtility::loadString(CANNOT_USE_STRING, "Cannot use QUARN. Tavelin will terminate."),
                      CTavUtility::loadString(TITLE_STRING, "Tavelin"), MB_OK);
    exit(1);   // the start ended without running
}

void CQuarn::release()
{
    CTrace::trace(SCOPE, "release");
    if (pQUARNInterface != nullptr && !pQUARNInterface->Uninitialize())
        CTrace::trace(SCOPE, "release: Uninitialize failed, ignored at the end: " + errorText(GetLastError()));
    delete pQUARNInterface;
    pQUARNInterface = nullptr;
}

CQUARNLookupDir* CQuarn::getQUARNRootDir()
{
    CQUARNLookupDir* root = pQUARNInterface->openLookupDir(ROOT, nullptr);
    if (root == nullptr) {
        CTrace::trace(SCOPE, "getQUARNRootDir: the root directory does not open");
        return nullptr;
    }
    if (!root->WaitReady(READY_STEPS)) {
        DWORD error = GetLastError();
        CTrace::scopedError(SCOPE, "getQUARNRootDir: the root directory does not become readable: " + errorText(error),
                            -1);
        delete root;
        SetLastError(error);
        return nullptr;
    }
    return root;
}

CQUARNLookupDir* CQuarn::getQUARNLookUpDir(std::string dirPath)
{
    CQUARNLookupDir* directory = pQUARNInterface->openLookupDir(dirPath, nullptr);
    if (directory == nullptr) {
        CTrace::trace(SCOPE, "getQUARNLookUpDir: " + dirPath + " does not open");
        return nullptr;
    }
    if (directory->WaitReady(READY_STEPS)) {
        CTrace::scopedWrite(SCOPE, "getQUARNLookUpDir: " + dirPath + " is readable");
        return directory;
    }
    DWORD error = GetLastError();
    CTrace::scopedWrite(SCOPE, "getQUARNLookUpDir: " + dirPath + " is not readable: " + errorText(error));
    closeAndDelete(directory);
    SetLastError(error);
    return nullptr;
}

std::string CQuarn::getDependQUARNId()
{
    std::string result;
    CQUARNLookupDir* root = getQUARNRootDir();
    if (root == nullptr) {
        CTrace::trace(SCOPE, "getDependQUARNId: no root directory");
    } else {
        DWORD count = root->GetEntryCount();
        if (count == CQUARNLookupDir::COUNT_FAILED) {
            CTrace::trace(SCOPE, "getDependQUARNId: the root cannot be counted: " + errorText(GetLastError()));
            count = 0;
        } else {
            CTrace::scopedAssertTrue(count != 0, SCOPE, "getDependQUARNId: the root lists no node", -1);
        }
        std::string computer = count != 0 ? getComputerName() : std::string();
        for (DWORD i = 0; i < count && result.empty(); ++i) {
            if (root->GetEntryType(i) != CQUARNLookupDir::QUARNTYPE_DIR)
                continue;
            std::string id = root->GetEntryName(i);
            CQUARNLookupDir* information = getQUARNLookUpDir(getComputerInfoPath(id));
            if (information == nullptr) {
                CTrace::scopedError(SCOPE, "getDependQUARNId: " + getComputerInfoPath(id) + " cannot be read", -1);
                continue;
            }
            std::string name = findStringEntry(information, COMPUTER_NAME);
            closeAndDelete(information);
            if (name == computer)
                result = id;
        }
        closeAndDelete(root);
    }
    return result.empty() ? NOT_AVAILABLE : result;
}

std::string CQuarn::findStringEntry(CQUARNLookupDir* directory, const std::string& name)
{
    std::string result;
    DWORD count = directory->GetEntryCount();
    if (count == CQUARNLookupDir::COUNT_FAILED)
        count = 0;
    for (DWORD i = 0; i < count; ++i) {
        if (directory->GetEntryType(i) != CQUARNLookupDir::QUARNTYPE_STRING || directory->GetEntryName(i) != name)
            continue;
        directory->GetEntryValueString(i, result);
        break;
    }
    if (result.empty())
        CTrace::trace(SCOPE, "findStringEntry: " + name + " not found");
    return result;
}

std::string CQuarn::getComputerName()
{
    char name[16] = {};
    DWORD size = sizeof(name);
    if (!GetComputerNameA(name, &size))
        CTrace::scopedFatalError(SCOPE, "getComputerName failed", -1);
    return name;
}

std::string CQuarn::getComputerInfoPath(const std::string& quarnId)
{
    return std::string(ROOT) + quarnId + ROOT + COMPUTER_INFORMATION;
}

std::string CQuarn::getReceiverId()
{
    // No monitor: the terminal id never changes and the middleware calls must not hold it.
    std::string result = termId + SEPARATOR + getDependQUARNId();
    CTrace::trace(SCOPE, "getReceiverId: " + result);
    return result;
}

namespace {

// Walks to the index-th field: its start and the position after its separator; false when the
// text ends before it.
bool findField(size_t index, const std::string& text, const std::string& separator, size_t& start, size_t& position)
{
    position = 0;
    for (size_t i = 0; i <= index; ++i) {
        start = position;
        if (start >= text.size())
            return false;
        size_t place = text.find(separator, start);
        if (place == std::string::npos)
            place = text.size();
        position = place + separator.size();
    }
    return true;
}

} // namespace

std::string CQuarn::getIdField(size_t index, const std::string& text, const std::string& separator)
{
    size_t start = 0, position = 0;
    if (!findField(index, text, separator, start, position))
        return std::string();
    return text.substr(start, position - start - separator.size());
}

std::string CQuarn::getIdTail(size_t index, const std::string& text, const std::string& separator)
{
    size_t start = 0, position = 0;
    if (!findField(index, text, separator, start, position))
        return std::string();
    return text.substr(start);
}

std::string CQuarn::receiverTerminalId(const std::string& receiverId) { return getIdField(0, receiverId, SEPARATOR); }

std::string CQuarn::receiverQuarnId(const std::string& receiverId) { return getIdTail(1, receiverId, SEPARATOR); }

bool CQuarn::isSendable(std::string receiverId)
{
    bool result = false;
    CTrace::trace(SCOPE, "isSendable " + receiverId);
    {
        // No monitor: this reads no field of its own, and a root read can take seconds.
        std::string quarnId = receiverQuarnId(receiverId);
        std::string terminal = receiverTerminalId(receiverId);
        if (quarnId == NOT_AVAILABLE) {
            CTrace::trace(SCOPE, "isSendable: no usable middleware id");
        } else if (quarnId.empty()) {
            CTrace::scopedError(SCOPE, "isSendable: the receiver's middleware id is blank, lost on the way? " + receiverId,
                                -1);
        } else if (terminal.empty() || terminal.find('\\') != std::string::npos) {
            // The terminal id becomes the last component of the destination: "4\12" would reach
            // application 12's directory on the receiver.
            CTrace::scopedError(SCOPE, "isSendable: the receiver's terminal id is no name: " + receiverId, -1);
        } else {
            CQUARNLookupDir* root = getQUARNRootDir();
            if (root == nullptr) {
                CTrace::trace(SCOPE, "isSendable: no root directory");
            } else {
                DWORD count = root->GetEntryCount();
                if (count == CQUARNLookupDir::COUNT_FAILED)
                    count = 0;
                for (DWORD i = 0; i < count && !result; ++i) {
                    if (root->GetEntryType(i) != CQUARNLookupDir::QUARNTYPE_DIR) {
                        CTrace::trace(SCOPE, "isSendable: an entry that is no node skipped");
                        continue;
                    }
                    result = root->GetEntryName(i) == quarnId;
                }
                closeAndDelete(root);
            }
        }
    }
    if (!result)
        CTrace::trace(SCOPE, "isSendable: no file can be sent to " + receiverId);
    return result;
}

std::string CQuarn::errorText(DWORD code) { return quarnErrorText(code); }

// ---- file transfer

std::shared_ptr<CQUARNAPDir> CQuarn::copyDir(HWND* window)
{
    std::shared_ptr<CQUARNAPDir> directory;
    {
        CMonitorHold hold(monitor, 15, SCOPE);
        directory = pQUARNCopyDir;
        if (window != nullptr)
            *window = copyMsgReceiveWindow;
    }
    CTrace::scopedAssertTrue(directory != nullptr, SCOPE, "no copy directory", -1);
    return directory;
}

std::string CQuarn::destinationOf(const std::string& receiverId)
{
    return std::string(ROOT) + receiverQuarnId(receiverId) + ROOT + "Applications" + ROOT + appId + ":" + COPY + ":"
           + receiverTerminalId(receiverId);
}

void CQuarn::setQUARNCopyMsgReceiveWindow(HWND window)
{
    CTrace::trace(SCOPE, "setQUARNCopyMsgReceiveWindow");
    {
        CMonitorHold hold(monitor, 4, SCOPE);
        CTrace::scopedAssertTrue(pQUARNCopyDir == nullptr, SCOPE, "the copy directory is set already", -1);
    }
    std::string name = appId + ":" + COPY + ":" + termId;
    CTrace::trace(SCOPE, "copy directory " + name);
    std::shared_ptr<CQUARNAPDir> opened(pQUARNInterface->OpenAPDir(name, window));
    CTrace::scopedAssertTrue(opened != nullptr, SCOPE, "the copy directory does not open", -1);
    CMonitorHold hold(monitor, 4, SCOPE);
    CTrace::scopedAssertTrue(pQUARNCopyDir == nullptr, SCOPE, "the copy directory is set already", -1);
    pQUARNCopyDir = opened;
    copyMsgReceiveWindow = window;
}

void CQuarn::releaseQUARNCopyMsgReceiveWindow()
{
    CTrace::trace(SCOPE, "releaseQUARNCopyMsgReceiveWindow");
    std::shared_ptr<CQUARNAPDir> directory;
    {
        CMonitorHold hold(monitor, 5, SCOPE);
        directory.swap(pQUARNCopyDir);
        copyMsgReceiveWindow = nullptr;
    }
    CTrace::scopedAssertTrue(directory != nullptr, SCOPE, "no copy directory", -1);
    if (!directory->Close())
        CTrace::trace(SCOPE, "the copy directory does not close: " + errorText(GetLastError()));
}

DWORD CQuarn::sendFile(std::string receiverId, std::string fileName, std::string nickname)
{
    CTrace::trace(SCOPE, "sendFile " + receiverId + " " + fileName + " " + nickname);
    HWND window = nullptr;
    std::shared_ptr<CQUARNAPDir> directory = copyDir(&window);
    if (!isSendable(receiverId))
        throw CIOException("sendFile: " + receiverId + " is not reachable");
    std::string destination = destinationOf(receiverId);
    CTrace::trace(SCOPE, "sendFile to " + destination);
    DWORD handle = directory->SendFile(fileName, nickname, destination, window);
    CTrace::trace(SCOPE, "sendFile: handle " + std::to_string(handle));
    return handle;
}

std::string CQuarn::getFileNickname(DWORD handle) { return copyDir()->GetFileNickname(handle); }

void CQuarn::copyFile(DWORD handle, std::string fileName)
{
    CTrace::trace(SCOPE, "copyFile " + std::to_string(handle) + " " + fileName);
    if (!copyDir()->RecvFile(handle, fileName)) {
        CTrace::trace(SCOPE, "copyFile failed: " + errorText(GetLastError()));
        throw CIOException("copyFile: receiving the file failed");
    }
}

void CQuarn::openFileTransfer(std::string receiverId, std::string nickname, std::string& transmitFileName,
                              std::string& transmitTicket)
{
    CTrace::trace(SCOPE, "openFileTransfer " + receiverId + " " + nickname);
    HWND window = nullptr;
    std::shared_ptr<CQUARNAPDir> directory = copyDir(&window);
    if (!isSendable(receiverId))
        throw CUnknownHostException("openFileTransfer: " + receiverId + " is not reachable");
    std::string destination = destinationOf(receiverId);
    CTrace::trace(SCOPE, "openFileTransfer to " + destination);
    DWORD handle = directory->FileTransferOpen(nickname, destination, window);
    if (handle == 0) {
        // No transfer: a ticket "0" would name none.
        CTrace::trace(SCOPE, "openFileTransfer failed: " + errorText(GetLastError()));
        throw CIOException("openFileTransfer: the middleware opened no transfer to " + receiverId);
    }
    transmitFileName = directory->FileTransferGetTempName(handle);
    transmitTicket = std::to_string(static_cast<int>(handle));
    CTrace::trace(SCOPE, "openFileTransfer: " + transmitFileName + " ticket " + transmitTicket);
}

void CQuarn::execFileTransfer(std::string transmitTicket)
{
    CTrace::trace(SCOPE, "execFileTransfer " + transmitTicket);
    std::shared_ptr<CQUARNAPDir> directory = copyDir();
    DWORD handle = static_cast<DWORD>(std::atoi(transmitTicket.c_str()));
    if (!directory->FileTransferExec(handle))
        throw CIOException("execFileTransfer: the transfer " + transmitTicket + " did not start");
    CTrace::trace(SCOPE, "execFileTransfer: started");
}

std::string CQuarn::getTransmitFileName(DWORD handle) { return copyDir()->FileTransferGetTempName(handle); }

void CQuarn::closeFileTransfer(DWORD handle) { copyDir()->FileTransferClose(handle); }
