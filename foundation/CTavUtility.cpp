#include "CTavUtility.h"

#include "CDiskFullException.h"
#include "CGuid.h"
#include "CJObject.h"
#include "CMessageBox.h"
#include "CMonitorHold.h"
#include "CTrace.h"

#include "CWinApp.h"
#include "CWinThread.h"
#include "CWnd.h"

#include <objbase.h>
#include <shellapi.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <utility>
#include <vector>

namespace {

const char SCOPE[] = "CTavUtility";
const char PRODUCT_FOLDER[] = "Tavelin";

// String resources, with the texts they hold, used when the resource module lacks them.
const UINT IDS_APP_TITLE = 57344;
const UINT IDS_NOT_ASSOCIATED = 63002;
const UINT IDS_COPY_NAME = 63025;
const char APP_TITLE_TEXT[] = "Tavelin";
const char NOT_ASSOCIATED_TEXT[] = "Cannot execute this file since the file type is not associated \nwith any application. ";
const char COPY_NAME_TEXT[] = "copy (%s) ";

std::string s_processGuid;
std::atomic<HANDLE> s_processMutex{NULL};
std::atomic<CTavUtility::DirectorFactory> s_directorFactory{nullptr};
std::atomic<CTavUtility::CopyFunction> s_copyFunction{nullptr};

// Serialises makeUniquePath.
CJObject& classLock()
{
    static CJObject lock;
    return lock;
}

std::string hexCode(unsigned long code)
{
    char text[16];
    snprintf(text, sizeof(text), "0x%08lX", code);
    return text;
}

// Every path goes through the system's ANSI calls, whose buffers hold MAX_PATH characters
// with the NUL: a longer one is refused here rather than cut.
bool fitsPath(const std::string& path)
{
    return path.size() < MAX_PATH;
}

bool isLink(DWORD attributes)
{
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

bool isFolder(const std::string& path)
{
    DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

std::string joinPath(const std::string& folder, const std::string& name)
{
    if (folder.empty() || folder.back() == '\\' || folder.back() == '/')
        return folder + name;
    return folder + "\\" + name;
}

// A name that stays inside the folder it is joined to: names of files and sub-folders come
// from other terminals too.
bool isPlainName(const std::string& name)
{
    return !name.empty() && name != "." && name != ".." && name.find_first_of("\\/:") == std::string::npos;
}

// Only folders named like the processes' GUIDs are the processes' folders.
bool isGuidText(const std::string& name)
{
    if (name.size() != 36)
        return false;
    for (size_t i = 0; i < name.size(); ++i) {
        char c = name[i];
        if (i == 8 || i == 13 || i == 18 || i == 23) {
            if (c != '-')
                return false;
        } else if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'))) {
            return false;
        }
    }
    return true;
}

struct Entry {
    std::string name;
    DWORD attributes;
};

// The entries matching pattern, without "." and "..". Listed before anything is deleted, so
// that deleting does not disturb the enumeration.
std::vector<Entry> listEntries(const std::string& pattern)
{
    std::vector<Entry> entries;
    WIN32_FIND_DATAA found;
    HANDLE find = FindFirstFileA(pattern.c_str(), &found);
    if (find == INVALID_HANDLE_VALUE)
        return entries;
    do {
        std::string name = found.cFileName;
        if (name != "." && name != "..")
            entries.push_back({name, found.dwFileAttributes});
    } while (FindNextFileA(find, &found));
    FindClose(find);
    return entries;
}

bool userTempPath(std::string* path)
{
    char buffer[MAX_PATH + 1];
    DWORD length = GetTempPathA(sizeof(buffer), buffer);
    if (length == 0) {
        CTrace::trace(SCOPE, " GetTempPath failed: error " + std::to_string(GetLastError()), 0);
        return false;
    }
    if (length >= sizeof(buffer)) {
        CTrace::trace(SCOPE, " the temporary path is too long", 0);
        return false;
    }
    *path = joinPath(buffer, "");
    return true;
}

// Creates parent + name unless it is there; a process that cannot have its folder stops.
void ensureFolder(const std::string& parent, const std::string& name)
{
    if (CTavUtility::isDirExist(parent, name))
        return;
    std::string path = parent + name;
    // Another process starting at the same moment may have made it in between.
    if (!CreateDirectoryA(path.c_str(), NULL) && !isFolder(path))
        CTrace::scopedFatalError(SCOPE, " cannot create the folder " + path + ": error " + std::to_string(GetLastError()),
                                 -1);
}

// A new file with a system-made unique name and the prefix "tmp".
bool systemTempFile(const std::string& folder, std::string* path)
{
    char buffer[MAX_PATH];
    if (folder.size() > MAX_PATH - 14 || GetTempFileNameA(folder.c_str(), "tmp", 0, buffer) == 0) {
        CTrace::trace(SCOPE, " cannot create a temporary file in " + folder + ": error " + std::to_string(GetLastError()),
                      0);
        return false;
    }
    *path = buffer;
    return true;
}

} // namespace

std::string CTavUtility::loadString(UINT id, const char* fallback)
{
    char buffer[512];
    int length = LoadStringA(AfxGetResourceHandle(), id, buffer, sizeof(buffer));
    if (length <= 0)
        return fallback;
    return std::string(buffer, length);
}

CTavUtility::CTavUtility()
{
    if (s_processMutex.load() != NULL) {
        CTrace::trace(SCOPE, " the process mutex " + s_processGuid + " already exists", 0);
        return;
    }
    HRESULT result = CoInitialize(NULL);
    if (FAILED(result))
        CTrace::scopedFatalError(SCOPE, " CoInitialize failed: " + hexCode(static_cast<unsigned long>(result)), -1);
    std::string guid = newGuidString();
    // Other processes take this process for ended, and remove its folder, unless it holds
    // the mutex: a process without one must not go on.
    HANDLE mutex = CreateMutexA(NULL, TRUE, guid.c_str());
    if (mutex == NULL)
        CTrace::scopedFatalError(SCOPE, " cannot create the process mutex " + guid + ": error "
                                            + std::to_string(GetLastError()), -1);
    s_processGuid = guid;
    s_processMutex = mutex;
    CTrace::trace(SCOPE, " process " + guid, 0);
}

CTavUtility::~CTavUtility()
{
    CTrace::trace(SCOPE, " ~CTavUtility()", 0);
    HANDLE mutex = s_processMutex.exchange(NULL);
    if (mutex != NULL) {
        ReleaseMutex(mutex);
        CloseHandle(mutex);
    }
    flushTempFiles();
}

bool CTavUtility::getTavTempPath(DWORD size, char* buffer)
{
    std::string temp;
    if (!userTempPath(&temp))
        return false;
    if (s_processGuid.empty()) {
        CTrace::trace(SCOPE, " getTavTempPath: the process has no GUID yet", 0);
        return false;
    }
    std::string product = temp + PRODUCT_FOLDER + "\\";
    std::string folder = product + s_processGuid + "\\";
    if (!fitsPath(folder)) {
        CTrace::trace(SCOPE, " the temp folder path " + folder + " is too long", 0);
        return false;
    }
    ensureFolder(temp, PRODUCT_FOLDER);
    ensureFolder(product, s_processGuid);
    if (buffer == nullptr || folder.size() + 1 > size) {
        CTrace::trace(SCOPE, " the temp folder path " + folder + " is too long for the buffer", 0);
        return false;
    }
    memcpy(buffer, folder.c_str(), folder.size() + 1);
    return true;
}

bool CTavUtility::isDirExist(const std::string& parent, const std::string& name)
{
    CTrace::trace(SCOPE, " isDirExist(" + parent + ", " + name + ")", 0);
    for (const Entry& entry : listEntries(parent + "*")) {
        if ((entry.attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 && entry.name == name)
            return true;
    }
    return false;
}

bool CTavUtility::cpyFile(const std::string& source, const std::string& destination)
{
    CopyFunction copy = s_copyFunction.load();
    if (copy == nullptr)
        copy = CopyFileA;
    if (copy(source.c_str(), destination.c_str(), FALSE)) {
        SetFileAttributesA(destination.c_str(), FILE_ATTRIBUTE_NORMAL);
        return true;
    }
    DWORD error = GetLastError();
    if (error == ERROR_DISK_FULL) {
        CTrace::out(" CTavUtility::cpyFile: copying " + source + " to " + destination + " failed: the disk is full", 0);
        throw CDiskFullException("The disk has not enough free space.");
    }
    CTrace::trace(SCOPE, " cpyFile(" + source + ", " + destination + ") failed: error " + std::to_string(error), 0);
    return false;
}

bool CTavUtility::copyToTempFile(const std::string& source, std::string* result, const std::string& name)
{
    char folder[MAX_PATH + 1];
    if (!getTavTempPath(sizeof(folder), folder)) {
        CTrace::trace(SCOPE, " copyToTempFile: no temp folder", 0);
        return false;
    }
    std::string destination;
    if (name.empty()) {
        if (!systemTempFile(folder, &destination))
            return false;
    } else {
        destination = makeUniquePath(folder, name);
        if (destination.empty()) {
            CTrace::trace(SCOPE, " copyToTempFile: no free path for " + name, 0);
            return false;
        }
    }
    // The destination was created empty to claim its name; a failed copy takes it back.
    bool copied;
    try {
        copied = cpyFile(source, destination);
    } catch (const CDiskFullException&) {
        DeleteFileA(destination.c_str());
        throw;
    }
    if (!copied) {
        DeleteFileA(destination.c_str());
        CTrace::trace(SCOPE, " copyToTempFile: cannot copy " + source + " to " + destination, 0);
        return false;
    }
    *result = destination;
    return true;
}

bool CTavUtility::createTempFile(std::string* result, const std::string& name, const std::string& subFolder,
                                 bool unique)
{
    char buffer[MAX_PATH + 1];
    if (!getTavTempPath(sizeof(buffer), buffer)) {
        CTrace::trace(SCOPE, " createTempFile: no temp folder", 0);
        return false;
    }
    std::string folder = buffer;
    if (!subFolder.empty()) {
        if (!isPlainName(subFolder)) {
            CTrace::trace(SCOPE, " createTempFile: refused sub-folder name " + subFolder, 0);
            return false;
        }
        folder += subFolder + "\\";
        if (!fitsPath(folder)) {
            CTrace::trace(SCOPE, " createTempFile: the path " + folder + " is too long", 0);
            return false;
        }
        CreateDirectoryA(folder.c_str(), NULL);
    }
    if (name.empty())
        return systemTempFile(folder, result);
    if (!isPlainName(name)) {
        CTrace::trace(SCOPE, " createTempFile: refused file name " + name, 0);
        return false;
    }
    std::string path;
    if (unique) {
        path = makeUniquePath(folder, name);
    } else if (fitsPath(folder + name)) {
        path = folder + name;
        // OPEN_ALWAYS keeps a file that appears meanwhile.
        if (GetFileAttributesA(path.c_str()) == INVALID_FILE_ATTRIBUTES) {
            HANDLE file = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                      NULL, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_WRITE_THROUGH, NULL);
            if (file == INVALID_HANDLE_VALUE)
                path.clear();
            else
                CloseHandle(file);
        }
    }
    if (path.empty()) {
        CTrace::trace(SCOPE, " createTempFile: cannot create " + name + " in " + folder + ": error "
                                 + std::to_string(GetLastError()), 0);
        return false;
    }
    *result = path;
    return true;
}

std::string CTavUtility::makeUniquePath(const std::string& folder, const std::string& name)
{
    if (!isPlainName(name)) {
        CTrace::trace(SCOPE, " makeUniquePath: refused file name " + name, 0);
        return std::string();
    }
    CMonitorHold hold(classLock(), 1, SCOPE);
    for (int n = 0;; ++n) {
        std::string path = joinPath(folder, n == 0 ? name : makeCopyName(n) + name);
        if (!fitsPath(path)) {
            CTrace::trace(SCOPE, " makeUniquePath: the path " + path + " is too long", 0);
            return std::string();
        }
        if (GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES)
            continue;
        // Created exclusively: a name taken by another thread or process in between is skipped.
        HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, NULL, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, NULL);
        if (file != INVALID_HANDLE_VALUE) {
            CloseHandle(file);
            return path;
        }
        DWORD error = GetLastError();
        if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) {
            CTrace::trace(SCOPE, " makeUniquePath: cannot create " + path + ": error " + std::to_string(error), 0);
            return std::string();
        }
    }
}

std::string CTavUtility::makeCopyName(int n)
{
    std::string format = loadString(IDS_COPY_NAME, COPY_NAME_TEXT);
    size_t place = format.find("%s");
    // Without the number every candidate would be the same name.
    if (place == std::string::npos) {
        format = COPY_NAME_TEXT;
        place = format.find("%s");
    }
    return format.replace(place, 2, std::to_string(n));
}

void CTavUtility::flushTempFiles()
{
    CTrace::trace(SCOPE, " flushTempFiles()", 0);
    std::string temp;
    if (!userTempPath(&temp))
        return;
    std::string product = temp + PRODUCT_FOLDER + "\\";
    for (const Entry& entry : listEntries(product + "*")) {
        if (!isGuidText(entry.name) || (entry.attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
            CTrace::trace(SCOPE, " " + entry.name + " is no process folder: left alone", 0);
            continue;
        }
        // The thread that owns this process's mutex would acquire it again.
        if (s_processMutex.load() != NULL && entry.name == s_processGuid)
            continue;
        CTrace::trace(SCOPE, " testing the temp folder of process " + entry.name, 0);
        HANDLE mutex = CreateMutexA(NULL, FALSE, entry.name.c_str());
        if (mutex == NULL) {
            CTrace::trace(SCOPE, " cannot open the mutex " + entry.name + ": error " + std::to_string(GetLastError()), 0);
            continue;
        }
        // An abandoned mutex: its owner ended without releasing it.
        DWORD wait = WaitForSingleObject(mutex, 0);
        if (wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED) {
            CTrace::trace(SCOPE, " " + entry.name + " is not locked: its temp folder is deleted", 0);
            std::string path = product + entry.name;
            if (!isLink(entry.attributes))
                deleteTree(path);
            RemoveDirectoryA(path.c_str());
            ReleaseMutex(mutex);
        }
        CloseHandle(mutex);
    }
}

void CTavUtility::deleteTree(const std::string& folder)
{
    std::string base = joinPath(folder, "");
    if (isLink(GetFileAttributesA(folder.c_str()))) {
        CTrace::out(" CTavUtility::deleteTree: " + folder + " is a link: not followed", 0);
        return;
    }
    for (const Entry& entry : listEntries(base + "*.*")) {
        std::string path = base + entry.name;
        CTrace::out(" CTavUtility::deleteTree: testing " + path, 0);
        DWORD status = fitsPath(path) ? GetFileAttributesA(path.c_str()) : INVALID_FILE_ATTRIBUTES;
        if (status == INVALID_FILE_ATTRIBUTES) {
            CTrace::out(" CTavUtility::deleteTree: cannot read the status of " + path, 0);
            continue;
        }
        bool folderEntry = ((status | entry.attributes) & FILE_ATTRIBUTE_DIRECTORY) != 0;
        if (isLink(status | entry.attributes)) {
            // Removing a link leaves what it points to.
            CTrace::out(" CTavUtility::deleteTree: " + path + " is a link: removed, not followed", 0);
            if (folderEntry)
                RemoveDirectoryA(path.c_str());
            else
                DeleteFileA(path.c_str());
        } else if (folderEntry) {
            CTrace::out(" CTavUtility::deleteTree: " + path + " is a folder", 0);
            deleteTree(path);
            RemoveDirectoryA(path.c_str());
        } else {
            CTrace::out(" CTavUtility::deleteTree: " + path + " is a file", 0);
            DeleteFileA(path.c_str());
        }
    }
}

std::string CTavUtility::newGuidString()
{
    GUID guid;
    HRESULT result = CoCreateGuid(&guid);
    if (FAILED(result))
        CTrace::scopedFatalError(SCOPE, " CoCreateGuid failed: " + hexCode(static_cast<unsigned long>(result)), -1);
    return CGuid::guidToString(guid);
}

void CTavUtility::openFile(const std::string& path, CWnd* owner)
{
    CTrace::trace(SCOPE, " openFile(" + path + ")", 0);
    CWnd* window = owner != nullptr ? owner : getMainWnd();
    HWND parent = window != nullptr ? window->m_hWnd : NULL;
    INT_PTR result = reinterpret_cast<INT_PTR>(ShellExecuteA(parent, "open", path.c_str(), NULL, NULL, SW_SHOWNORMAL));
    if (result > 32)
        return;
    CTrace::trace(SCOPE, " openFile: the shell cannot open " + path + ": " + std::to_string(result), 0);
    if (result == SE_ERR_NOASSOC) {
        CTrace::trace(SCOPE, " openFile: no application is associated with the file type", 0);
        CMessageBox::show(parent, loadString(IDS_NOT_ASSOCIATED, NOT_ASSOCIATED_TEXT),
                          loadString(IDS_APP_TITLE, APP_TITLE_TEXT), MB_OK | MB_ICONEXCLAMATION);
    }
}

CWnd* CTavUtility::getMainWnd()
{
    CWinThread* thread = AfxGetThread();
    return thread != nullptr ? thread->m_pMainWnd : nullptr;
}

CTavUtility::DirectorFactory CTavUtility::setDirectorFactory(DirectorFactory factory)
{
    return s_directorFactory.exchange(factory);
}

ILogicHandle* CTavUtility::createDirector(IGuiHandle* gui, CPreferenceManager* preferences, CQuarn* middleware)
{
    DirectorFactory factory = s_directorFactory.load();
    if (factory == nullptr) {
        CTrace::scopedWarning(SCOPE, " createDirector: no director factory is registered");
        return nullptr;
    }
    return factory(gui, preferences, middleware);
}

CTavUtility::CopyFunction CTavUtility::setCopyFunction(CopyFunction copy)
{
    return s_copyFunction.exchange(copy);
}
