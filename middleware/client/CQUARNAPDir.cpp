#include "CQUARNAPDir.h"

#include "CQUARNBinaryValue.h"
#include "CQUARNInterface.h"
#include "CQuarnBstr.h"
#include "CTrace.h"
#include "quarnhost.h"

namespace {

const char SCOPE[] = "CQUARNAPDir";
const DWORD SHARED_REFERENCE = 0xFFFFFFFF;

// A file operation's failure as an HRESULT of the thread's last error.
HRESULT lastErrorResult() { return static_cast<HRESULT>(0x80070000 | (GetLastError() & 0xFFFF)); }

BOOL moveBeside(LPCSTR from, LPCSTR to)
{
    return MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED);
}

CQUARNAPDir::PlaceStep placeStep = moveBeside;

// The folder part of a file name, "." when it has none.
std::string folderOf(const std::string& file)
{
    size_t cut = file.find_last_of("\\/:");
    if (cut == std::string::npos)
        return ".";
    // A root stays a root: "\x" in "\", "C:x" in "C:", "C:\x" in "C:\".
    bool root = cut == 0 || file[cut] == ':' || (cut == 2 && file[1] == ':');
    return file.substr(0, root ? cut + 1 : cut);
}

} // namespace

CQUARNAPDir::CQUARNAPDir(DWORD applicationId, const std::string& applicationName, CQUARNInterface* owner)
    : path("\\Applications\\" + applicationName + "\\"), applicationId(applicationId), owner(owner)
{
}

CQUARNAPDir::~CQUARNAPDir()
{
    if (applicationId != 0)
        Close();
}

template <typename Change> bool CQUARNAPDir::locked(const char* where, Change change)
{
    IQuarnSrv* server = owner->serverFor(where);
    if (server == nullptr || !CQUARNInterface::succeeded(where, server->DBLock()))
        return false;
    HRESULT result = change(server);
    bool done = CQUARNInterface::succeeded(where, result);
    DWORD kept = GetLastError();
    if (!owner->UnlockDB(true))
        owner->UnlockDB(true);
    SetLastError(kept);
    return done;
}

bool CQUARNAPDir::ChangeLiveChkWnd(HWND window)
{
    const char* where = "CQUARNAPDir::ChangeLiveChkWnd";
    IQuarnSrv* server = owner->serverFor(where);
    return server != nullptr
           && CQUARNInterface::succeeded(where,
                                         server->APDWatchWndChange(applicationId, CQUARNInterface::windowNumber(window)));
}

bool CQUARNAPDir::AddRefer(const std::string& name, DWORD type)
{
    return locked("CQUARNAPDir::AddRefer", [&](IQuarnSrv* server) {
        CQuarnBstr entry(path + name);
        return entry.allocated() ? server->APDOpenEntry(applicationId, entry.get(), type) : E_OUTOFMEMORY;
    });
}

bool CQUARNAPDir::DelRefer(const std::string& name)
{
    return locked("CQUARNAPDir::DelRefer", [&](IQuarnSrv* server) {
        CQuarnBstr entry(path + name);
        return entry.allocated() ? server->APDCloseEntry(applicationId, entry.get()) : E_OUTOFMEMORY;
    });
}

bool CQUARNAPDir::ChangeEntryValueInt(const std::string& name, int value)
{
    return locked("CQUARNAPDir::ChangeEntryValueInt", [&](IQuarnSrv* server) {
        CQuarnBstr entry(path + name);
        return entry.allocated() ? server->APDChangeEntryValueInt(applicationId, entry.get(), value) : E_OUTOFMEMORY;
    });
}

bool CQUARNAPDir::ChangeEntryValueString(const std::string& name, const std::string& value)
{
    return locked("CQUARNAPDir::ChangeEntryValueString", [&](IQuarnSrv* server) {
        CQuarnBstr entry(path + name);
        CQuarnBstr text(value);
        return entry.allocated() && text.allocated()
                   ? server->APDChangeEntryValueString(applicationId, entry.get(), text.get())
                   : E_OUTOFMEMORY;
    });
}

bool CQUARNAPDir::ChangeEntryValueBinary(const std::string& name, const BYTE* bytes, ULONG count)
{
    return locked("CQUARNAPDir::ChangeEntryValueBinary", [&](IQuarnSrv* server) {
        CQuarnBstr entry(path + name);
        CQUARNBinaryValue value;
        if (!entry.allocated() || !value.fill(bytes, count))
            return E_OUTOFMEMORY;
        return server->APDChangeEntryValueBinary(applicationId, entry.get(), value.variant());
    });
}

bool CQUARNAPDir::Close()
{
    if (applicationId == 0)
        return true;
    const char* where = "CQUARNAPDir::Close";
    return locked(where, [&](IQuarnSrv* server) {
        HRESULT result = server->APDWatchWndDel(applicationId);
        if (SUCCEEDED(result)) {
            CQuarnBstr directory(path);
            result = directory.allocated() ? server->APDCloseAllEntry(applicationId, directory.get()) : E_OUTOFMEMORY;
        }
        if (SUCCEEDED(result)) {
            CQuarnBstr userDirectory(path + std::to_string(applicationId));
            result = userDirectory.allocated() ? server->APDCloseAllEntry(SHARED_REFERENCE, userDirectory.get())
                                               : E_OUTOFMEMORY;
        }
        if (SUCCEEDED(result))
            applicationId = 0;
        return result;
    });
}

DWORD CQUARNAPDir::FileTransferOpen(const std::string& nickname, const std::string& destination, HWND window)
{
    const char* where = "CQUARNAPDir::FileTransferOpen";
    IQuarnSrv* server = owner->serverFor(where);
    if (server == nullptr)
        return 0;
    CQuarnBstr guid;
    if (!CQUARNInterface::succeeded(where, server->GetGUIDString(guid.out())))
        return 0;
    CQuarnBstr target(destination);
    CQuarnBstr sender("\\" + guid.text() + path + std::to_string(applicationId));
    CQuarnBstr name(nickname);
    if (!target.allocated() || !sender.allocated() || !name.allocated()) {
        CQUARNInterface::keepError(where, E_OUTOFMEMORY);
        return 0;
    }
    ULONG handle = 0;
    if (!CQUARNInterface::succeeded(where, server->FileTransferOpen(target.get(), sender.get(), name.get(),
                                                                    CQUARNInterface::windowNumber(window), &handle)))
        return 0;
    return handle;
}

std::string CQUARNAPDir::FileTransferGetTempName(DWORD handle)
{
    const char* where = "CQUARNAPDir::FileTransferGetTempName";
    IQuarnSrv* server = owner->serverFor(where);
    CQuarnBstr name;
    if (server == nullptr || !CQUARNInterface::succeeded(where, server->FileTransferGetTempName(handle, name.out())))
        return std::string();
    return name.text();
}

bool CQUARNAPDir::FileTransferExec(DWORD handle)
{
    const char* where = "CQUARNAPDir::FileTransferExec";
    IQuarnSrv* server = owner->serverFor(where);
    return server != nullptr && CQUARNInterface::succeeded(where, server->FileTransferExec(handle));
}

bool CQUARNAPDir::FileTransferClose(DWORD handle)
{
    const char* where = "CQUARNAPDir::FileTransferClose";
    IQuarnSrv* server = owner->serverFor(where);
    return server != nullptr && CQUARNInterface::succeeded(where, server->FileTransferClose(handle));
}

std::string CQUARNAPDir::handleText(const char* where, DWORD handle, bool nickname)
{
    IQuarnSrv* server = owner->serverFor(where);
    CQuarnBstr text;
    if (server == nullptr)
        return std::string();
    HRESULT result = nickname ? server->FileTransferGetNickname(handle, text.out())
                              : server->FileTransferGetSenderName(handle, text.out());
    if (!CQUARNInterface::succeeded(where, result))
        return std::string();
    return text.text();
}

std::string CQUARNAPDir::GetFileNickname(DWORD handle)
{
    return handleText("CQUARNAPDir::GetFileNickname", handle, true);
}

std::string CQUARNAPDir::GetSenderName(DWORD handle)
{
    return handleText("CQUARNAPDir::GetSenderName", handle, false);
}

DWORD CQUARNAPDir::SendFile(const std::string& sourceFile, const std::string& nickname,
                            const std::string& destination, HWND window)
{
    const char* where = "CQUARNAPDir::SendFile";
    DWORD handle = FileTransferOpen(nickname, destination, window);
    if (handle == 0)
        return 0;
    SetLastError(0);
    std::string temporary = FileTransferGetTempName(handle);
    bool done = !temporary.empty();
    if (done && !CopyFileA(sourceFile.c_str(), temporary.c_str(), FALSE)) {
        CQUARNInterface::keepError(where, lastErrorResult());
        done = false;
    }
    if (done)
        done = FileTransferExec(handle);
    if (done)
        return handle;
    DWORD kept = GetLastError();
    bool closed = FileTransferClose(handle);
    DWORD closeError = GetLastError();
    // The server leaves a sending transfer's file to the transfer, and this one will never run:
    // without this the file would stay in the temporary folder until the server starts again.
    if (!temporary.empty())
        DeleteFileA(temporary.c_str());
    SetLastError(closed ? kept : closeError);
    return 0;
}

CQUARNAPDir::PlaceStep CQUARNAPDir::setPlaceStep(PlaceStep step)
{
    PlaceStep previous = placeStep;
    placeStep = step != nullptr ? step : moveBeside;
    return previous;
}

bool CQUARNAPDir::RecvFile(DWORD handle, const std::string& destinationFile)
{
    const char* where = "CQUARNAPDir::RecvFile";
    std::string temporary = FileTransferGetTempName(handle);
    if (temporary.empty())
        return false;
    // Beside the destination, so that the last step is a rename within one folder.
    char beside[MAX_PATH] = {};
    if (GetTempFileNameA(folderOf(destinationFile).c_str(), "qrv", 0, beside) == 0) {
        CQUARNInterface::keepError(where, lastErrorResult());
        return false;
    }
    if (!placeStep(temporary.c_str(), beside)
        || !MoveFileExA(beside, destinationFile.c_str(), MOVEFILE_REPLACE_EXISTING)) {
        HRESULT error = lastErrorResult();
        DeleteFileA(beside);
        CQUARNInterface::keepError(where, error);
        return false;
    }
    FileTransferClose(handle);
    return true;
}
