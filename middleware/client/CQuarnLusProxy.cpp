#include "CQuarnLusProxy.h"

#include "CIOException.h"
#include "CIllegalArgumentException.h"
#include "CInetAddress.h"
#include "CLocalMethod.h"
#include "CLusException.h"
#include "CNoSuchElementException.h"
#include "CQUARNAPDir.h"
#include "CQUARNInterface.h"
#include "CQUARNLookupDir.h"
#include "CThread.h"
#include "CTrace.h"
#include "FindParameterSet.h"
#include "LusProxyMessage.h"
#include "QuarnErrorText.h"

#include <winsock2.h>

#include <algorithm>
#include <atomic>
#include <exception>
#include <map>
#include <memory>
#include <mutex>

namespace {

const char SCOPE[] = "CQuarnLusProxy";
const char CATEGORYS[] = "Categorys";
const char PORT_NUMS[] = "PortNums";
const char TERMINAL_INFOS[] = "TerminalInfos";
const char CATEGORY[] = "Category";
const char PORT_NUM[] = "PortNum";
const char OPTIONAL_DATA[] = "OptionalData";
const char SEPARATOR[] = "\\";
const char LOOPBACK[] = "127.0.0.1";
const char APPLICATIONS[] = "Applications";
const char NOT_QUARN_ERROR[] = "NOT QUARN ERROR (WIN32 ERROR)";
const char REFUSED[] = " find(): CLocalMethod::invokeSync() raised an exception: ";
const char NOT_HANDLED[] = " find(): the UI thread did not run the find command";

// Attempts of 100 ms each that a directory may take to become readable.
const DWORD READY_TRIES = 100;
// Entries read of one directory. An honest one lists the nodes the middleware keeps (256 at
// most) or the terminals of one computer (a few); a foreign node that lists more would keep
// the UI thread reading and fill the caller's list, so the rest is left unread.
const DWORD DIRECTORY_ENTRY_LIMIT = 4096;

// The thread that made the process's proxy; 0 until then, never cleared.
std::atomic<DWORD> s_creatorThread{0};

// The UI thread's share of each find handed over by a worker whose command has not started.
// The command takes its record out when it starts; the worker withdraws it when its wait has
// ended, so that a command that comes late finds nothing and no record is left behind. One
// entry per waiting worker: the workers' own number bounds it.
class PendingFinds {
public:
    void add(LPARAM key, const std::shared_ptr<FindParameterSet>& record)
    {
        std::lock_guard<std::mutex> hold(lock_);
        records_[key] = record;
    }
    std::shared_ptr<FindParameterSet> take(LPARAM key)
    {
        std::lock_guard<std::mutex> hold(lock_);
        auto entry = records_.find(key);
        if (entry == records_.end())
            return nullptr;
        std::shared_ptr<FindParameterSet> record = std::move(entry->second);
        records_.erase(entry);
        return record;
    }

private:
    std::mutex lock_;
    std::map<LPARAM, std::shared_ptr<FindParameterSet>> records_;
};

// Never destroyed: a worker may still withdraw its record while the process ends.
PendingFinds& pendingFinds()
{
    static PendingFinds* pending = new PendingFinds;
    return *pending;
}

// A name that can be one component of a path: a terminal id or a node id.
bool isPathComponent(const std::string& name)
{
    return !name.empty() && name.find(SEPARATOR[0]) == std::string::npos;
}

bool contains(const std::vector<std::string>& texts, const std::string& text)
{
    return std::find(texts.begin(), texts.end(), text) != texts.end();
}

// A name for a trace line: a foreign one may be long.
std::string shown(const std::string& name)
{
    const size_t SHOWN = 80;
    if (name.size() <= SHOWN)
        return "[" + name + "]";
    return "[" + name.substr(0, SHOWN) + "...] (" + std::to_string(name.size()) + " characters)";
}

std::string describeCurrentException()
{
    try {
        throw;
    } catch (CJException& e) {
        return e.getMessage();
    } catch (std::exception& e) {
        return e.what();
    } catch (...) {
        return "an exception of an unknown class";
    }
}

} // namespace

const CWnd::MessageEntry CQuarnLusProxy::messageMap[] = {
    on<WM_LUS_PROXY_COMMAND, &CQuarnLusProxy::OnQuarnLusProxyCommand>(),
    endOfMap(CWnd::messageMap),
};

ILookupServiceHandle* CQuarnLusProxy::create(CQUARNInterface* quarn, std::string applicationId, HWND window)
{
    if (s_creatorThread.load() != 0)
        throw CNoSuchElementException(" create(): the factory was called twice; one proxy per process");
    if (quarn == nullptr)
        throw CIllegalArgumentException(" create(): the middleware interface object is null");
    if (applicationId == "")
        throw CIllegalArgumentException(" create(): the application id is empty");
    if (window == nullptr)
        throw CIllegalArgumentException(" create(): the window handle is null");
    return new CQuarnLusProxy(quarn, applicationId, window);
}

CQuarnLusProxy::CQuarnLusProxy(CQUARNInterface* quarn, const std::string& applicationId, HWND window)
    : pQuarn(quarn), pApDir(nullptr), applicationId(applicationId), hWindow(window), socketsStarted(false)
{
    CTrace::trace(SCOPE, " creating the dummy window for window messages");
    LPCSTR windowClass = RegisterWndClass(0);
    if (windowClass == nullptr || !CreateEx(0, windowClass, nullptr, WS_POPUPWINDOW, 0, 0, 0, 0, nullptr, nullptr))
        CTrace::scopedFatalError(SCOPE, " creating the dummy window failed [" + std::to_string(GetLastError()) + "]",
                                 -1);
    s_creatorThread = GetCurrentThreadId();
    // The local host's address is looked up for the records of this computer.
    WSADATA data;
    socketsStarted = WSAStartup(MAKEWORD(2, 2), &data) == 0;

    CTrace::trace(SCOPE, " registering the window with CLocalMethod");
    CTrace::scopedAssertTrue(m_hWnd != nullptr, SCOPE, "m_hWnd", -1);
    objectId = CLocalMethod::makeUniqueName();
    CLocalMethod::addWindow(objectId, m_hWnd);
    CTrace::trace(SCOPE, " selfObjectId " + objectId);
}

CQuarnLusProxy::~CQuarnLusProxy()
{
    CTrace::trace(SCOPE, " removing the window from CLocalMethod");
    CLocalMethod::removeTarget(objectId);
    closeDatabase();
    CTrace::trace(SCOPE, " destroying the dummy window");
    DestroyWindow();
    if (socketsStarted)
        WSACleanup();
}

std::string CQuarnLusProxy::traceLastError(DWORD code)
{
    return quarnErrorText(code, NOT_QUARN_ERROR);
}

void CQuarnLusProxy::checkCreatorThread(const char* operation) const
{
    DWORD self = GetCurrentThreadId();
    if (self != s_creatorThread.load())
        CTrace::scopedFatalError(SCOPE, std::string(" ") + operation + "(): called on thread " + std::to_string(self)
                                            + ", not on the thread that created the proxy",
                                 -1);
}

void CQuarnLusProxy::openDatabase()
{
    CTrace::trace(SCOPE, " openDatabase()");
    checkCreatorThread("openDatabase");
    if (pApDir == nullptr) {
        pApDir = pQuarn->OpenAPDir(applicationId, hWindow);
        CTrace::trace(SCOPE, " APdir[" + applicationId + "] opened");
        std::string error = traceLastError(GetLastError());
        CTrace::scopedAssertTrue(pApDir != nullptr, SCOPE, " OpenAPDir() failed: " + error, -1);
    }
    if (pApDir == nullptr) {
        CTrace::trace(SCOPE, " openDatabase(): no application directory");
        throw CIOException(" openDatabase(): the application directory for terminal records cannot be opened");
    }
}

void CQuarnLusProxy::closeDatabase()
{
    CTrace::trace(SCOPE, " closeDatabase()");
    checkCreatorThread("closeDatabase");
    if (pApDir == nullptr)
        return;
    // Closing withdraws every record still registered.
    pApDir->Close();
    CTrace::trace(SCOPE, " APdir[" + applicationId + "] closed");
    delete pApDir;
    pApDir = nullptr;
}

void CQuarnLusProxy::regist(std::string terminalId, CTerminalInfo info)
{
    CTrace::trace(SCOPE, " regist(): " + shown(terminalId));
    checkCreatorThread("regist");
    if (terminalId.empty())
        throw CIllegalArgumentException(" regist(): the terminal id's length is 0");
    if (!isPathComponent(terminalId))
        throw CIllegalArgumentException(" regist(): the terminal id " + shown(terminalId) + " contains the separator");
    if (isNotFound(info))
        throw CIllegalArgumentException(" regist(): the record of " + shown(terminalId) + " is invalid");
    if (pApDir == nullptr)
        openDatabase();
    CTrace::trace(SCOPE, " regist(): writing the entries of " + shown(terminalId));
    registEntry(terminalId, info);
}

void CQuarnLusProxy::registEntry(const std::string& terminalId, const CTerminalInfo& info)
{
    checkCreatorThread("registEntry");
    CTrace::trace(SCOPE, " registEntry(): category=[" + info.getCategory() + "] port=[" + std::to_string(info.getPortNum())
                             + "] optionalData=[" + info.getOptionalData() + "]");
    std::string terminal = std::string(TERMINAL_INFOS) + SEPARATOR + terminalId + SEPARATOR;
    auto failed = [](const char* field) {
        std::string error = traceLastError(GetLastError());
        throw CLusException(std::string(" registEntry(): registering ") + field + " failed: " + error);
    };
    if (!pApDir->ChangeEntryValueString(terminal + CATEGORY, info.getCategory()))
        failed("TerminalInfo.category");
    if (!pApDir->ChangeEntryValueInt(terminal + PORT_NUM, info.getPortNum()))
        failed("TerminalInfo.portNum");
    if (!pApDir->ChangeEntryValueString(terminal + OPTIONAL_DATA, info.getOptionalData()))
        failed("TerminalInfo.optionalData");
    CTrace::trace(SCOPE, " registEntry(): the search entry of the category");
    if (!pApDir->ChangeEntryValueString(std::string(CATEGORYS) + SEPARATOR + terminalId, info.getCategory()))
        failed("categorys.terminalId");
    CTrace::trace(SCOPE, " registEntry(): the search entry of the port");
    if (!pApDir->ChangeEntryValueInt(std::string(PORT_NUMS) + SEPARATOR + terminalId, info.getPortNum()))
        failed("portNums.terminalId");
}

void CQuarnLusProxy::remove(std::string terminalId)
{
    CTrace::trace(SCOPE, " remove(): " + shown(terminalId));
    checkCreatorThread("remove");
    // Such an id was never registered; as a path it would name other entries of the directory.
    if (!isPathComponent(terminalId))
        throw CIllegalArgumentException(" remove(): " + shown(terminalId) + " cannot be a terminal id");
    if (pApDir == nullptr) {
        CTrace::trace(SCOPE, " remove(): nothing was registered");
        return;
    }
    CTrace::trace(SCOPE, " remove(): deleting the entries of " + shown(terminalId));
    removeEntry(terminalId);
}

void CQuarnLusProxy::removeEntry(const std::string& terminalId)
{
    checkCreatorThread("removeEntry");
    std::string terminal = std::string(TERMINAL_INFOS) + SEPARATOR + terminalId + SEPARATOR;
    const struct {
        std::string path;
        const char* field;
    } entries[] = {
        {std::string(PORT_NUMS) + SEPARATOR + terminalId, "portNums.terminalId"},
        {std::string(CATEGORYS) + SEPARATOR + terminalId, "categorys.terminalId"},
        {terminal + CATEGORY, "TerminalInfo.category"},
        {terminal + PORT_NUM, "TerminalInfo.portNum"},
        {terminal + OPTIONAL_DATA, "TerminalInfo.optionalData"},
    };
    for (const auto& entry : entries) {
        if (!pApDir->DelRefer(entry.path)) {
            std::string error = traceLastError(GetLastError());
            throw CLusException(std::string(" removeEntry(): deleting ") + entry.field + " failed: " + error);
        }
    }
}

bool CQuarnLusProxy::isNotFound(const CTerminalInfo& info)
{
    return !info.isValid();
}

// ---- reading

std::string CQuarnLusProxy::applicationPath(const std::string& node, const char* subdirectory) const
{
    return std::string(SEPARATOR) + node + SEPARATOR + APPLICATIONS + SEPARATOR + applicationId + SEPARATOR
           + subdirectory;
}

CQUARNLookupDir* CQuarnLusProxy::openReadable(const std::string& path)
{
    // The proxy reads each directory once, when asked: it wants no notices of changes.
    CQUARNLookupDir* directory = pQuarn->openLookupDir(path, nullptr);
    if (directory == nullptr) {
        CTrace::trace(SCOPE, " " + shown(path) + " does not open: " + traceLastError(GetLastError()));
        return nullptr;
    }
    if (!directory->WaitReady(READY_TRIES)) {
        CTrace::trace(SCOPE, " " + shown(path) + " does not become readable: " + traceLastError(GetLastError()));
        delete directory;
        return nullptr;
    }
    return directory;
}

DWORD CQuarnLusProxy::entryCount(CQUARNLookupDir* directory)
{
    DWORD count = directory->GetEntryCount();
    if (count == CQUARNLookupDir::COUNT_FAILED) {
        CTrace::scopedError(SCOPE, " the entries of " + shown(directory->getPath())
                                       + " cannot be counted: " + traceLastError(GetLastError()),
                            -1);
        return 0;
    }
    if (count > DIRECTORY_ENTRY_LIMIT) {
        CTrace::scopedError(SCOPE, " " + shown(directory->getPath()) + " lists " + std::to_string(count)
                                       + " entries; the first " + std::to_string(DIRECTORY_ENTRY_LIMIT) + " are read",
                            -1);
        return DIRECTORY_ENTRY_LIMIT;
    }
    return count;
}

void CQuarnLusProxy::enumAccessableQuarnList(std::vector<std::string>& nodes)
{
    nodes.clear();
    std::unique_ptr<CQUARNLookupDir> root(openReadable(SEPARATOR));
    if (!root) {
        CTrace::trace(SCOPE, " enumAccessableQuarnList(): the root cannot be read; no node is reachable");
        return;
    }
    DWORD count = entryCount(root.get());
    CTrace::trace(SCOPE, " enumAccessableQuarnList(): " + std::to_string(count) + " entries");
    if (count == 0)
        CTrace::trace(SCOPE, " enumAccessableQuarnList(): no node is reachable");
    for (DWORD i = 0; i < count; ++i) {
        DWORD type = root->GetEntryType(i);
        if (type != CQUARNLookupDir::QUARNTYPE_DIR) {
            CTrace::trace(SCOPE, " enumAccessableQuarnList(): entry " + std::to_string(i) + " of type "
                                     + std::to_string(type) + " is no node; skipped");
            continue;
        }
        std::string name = root->GetEntryName(i);
        if (!isPathComponent(name)) {
            CTrace::scopedError(SCOPE, " enumAccessableQuarnList(): the node name " + shown(name)
                                           + " cannot be part of a path; skipped",
                                -1);
            continue;
        }
        CTrace::trace(SCOPE, " enumAccessableQuarnList(): node " + std::to_string(i) + " " + shown(name));
        nodes.push_back(name);
    }
}

std::string CQuarnLusProxy::nodeAddress(const std::string& node)
{
    return normalizeIpAddress(pQuarn->GetIP(SEPARATOR + node));
}

std::string CQuarnLusProxy::normalizeIpAddress(const std::string& address)
{
    if (address.empty()) {
        CTrace::scopedError(SCOPE, " normalizeIpAddress(): an empty text was given", -1);
        return address;
    }
    if (address != LOOPBACK)
        return address;
    CTrace::trace(SCOPE, " normalizeIpAddress(): the own node; taking the local host's address");
    std::unique_ptr<CInetAddress> local(CInetAddress::resolve());
    return local->toString();
}

void CQuarnLusProxy::readTerminalInfo(const std::string& node, const std::string& terminalId, CTerminalInfo& info)
{
    std::string path = applicationPath(node, TERMINAL_INFOS) + SEPARATOR + terminalId;
    std::unique_ptr<CQUARNLookupDir> directory(openReadable(path));
    if (!directory)
        return;
    CTrace::trace(SCOPE, " readTerminalInfo(): " + shown(terminalId) + " under node " + shown(node));
    bool allRead = true;
    std::string category;
    std::string optionalData;
    int portNum = 0;
    DWORD count = directory->GetEntryCount();
    if (count == CQUARNLookupDir::COUNT_FAILED || count > DIRECTORY_ENTRY_LIMIT) {
        CTrace::scopedError(SCOPE, " readTerminalInfo(): " + shown(path) + " gives no usable count", -1);
        allRead = false;
        count = 0;
    }
    for (DWORD i = count; i-- > 0;) {
        SetLastError(0);
        std::string name = directory->GetEntryName(i);
        DWORD error = GetLastError();
        if (name.empty() && error != 0) {
            CTrace::trace(SCOPE, " readTerminalInfo(): the name of entry " + std::to_string(i)
                                     + " cannot be read: " + traceLastError(error));
            allRead = false;
            continue;
        }
        DWORD type = directory->GetEntryType(i);
        DWORD expected = name == PORT_NUM ? DWORD(CQUARNLookupDir::QUARNTYPE_INT) : DWORD(CQUARNLookupDir::QUARNTYPE_STRING);
        if (name != CATEGORY && name != PORT_NUM && name != OPTIONAL_DATA) {
            CTrace::scopedError(SCOPE, " readTerminalInfo(): unexpected entry " + shown(name) + " in " + shown(path)
                                           + "; skipped",
                                -1);
            continue;
        }
        if (type != expected) {
            CTrace::scopedError(SCOPE, " readTerminalInfo(): " + shown(name) + " of " + shown(path) + " is of type "
                                           + std::to_string(type) + "; the record cannot be read",
                                -1);
            allRead = false;
            continue;
        }
        bool read = name == PORT_NUM ? directory->GetEntryValueInt(i, &portNum)
                                     : directory->GetEntryValueString(i, name == CATEGORY ? category : optionalData);
        if (!read) {
            CTrace::trace(SCOPE, " readTerminalInfo(): " + shown(name) + " cannot be read: "
                                     + traceLastError(GetLastError()));
            allRead = false;
        }
    }
    std::string address;
    try {
        address = nodeAddress(node);
    } catch (...) {
        CTrace::scopedError(SCOPE, " readTerminalInfo(): the address of node " + shown(node)
                                       + " cannot be had: " + describeCurrentException(),
                            -1);
    }
    if (allRead && !address.empty()) {
        info = CTerminalInfo(category, address, portNum, optionalData);
        CTrace::trace(SCOPE, " readTerminalInfo(): " + shown(terminalId) + " read: category=[" + category + "] ip=["
                                 + address + "] port=[" + std::to_string(portNum) + "]");
    } else {
        info = CTerminalInfo();
        info.setInvalid();
        CTrace::trace(SCOPE, " readTerminalInfo(): " + shown(terminalId) + " not read completely; invalid");
    }
}

void CQuarnLusProxy::forEachTerminal(const std::string& node, const char* subdirectory, DWORD type,
                                     const char* operation, const TerminalVisit& visit)
{
    std::unique_ptr<CQUARNLookupDir> directory(openReadable(applicationPath(node, subdirectory)));
    if (!directory)
        return;
    for (DWORD i = entryCount(directory.get()); i-- > 0;) {
        DWORD found = directory->GetEntryType(i);
        std::string name = directory->GetEntryName(i);
        if (found != type || !isPathComponent(name)) {
            CTrace::scopedError(SCOPE, std::string(" ") + operation + "(): " + shown(name) + " of type "
                                           + std::to_string(found) + " under node " + shown(node) + " in "
                                           + subdirectory + " is no terminal's entry; skipped",
                                -1);
            continue;
        }
        visit(*directory, i, name);
    }
}

void CQuarnLusProxy::findTerminalInfo(const std::string& node, const std::vector<std::string>& terminalIds,
                                      std::vector<CTerminalInfo>& found)
{
    forEachTerminal(node, TERMINAL_INFOS, CQUARNLookupDir::QUARNTYPE_DIR, "findTerminalInfo",
                    [&](CQUARNLookupDir&, DWORD, const std::string& name) {
                        auto last = std::find(terminalIds.rbegin(), terminalIds.rend(), name);
                        if (last == terminalIds.rend()) {
                            CTrace::trace(SCOPE, " findTerminalInfo(): " + shown(name) + " is not asked for");
                            return;
                        }
                        CTrace::trace(SCOPE, " findTerminalInfo(): " + shown(name) + " is asked for");
                        CTerminalInfo info;
                        info.setInvalid();
                        readTerminalInfo(node, name, info);
                        size_t position = static_cast<size_t>(terminalIds.rend() - last) - 1;
                        if (position >= found.size()) {
                            CTrace::trace(SCOPE, " findTerminalInfo(): no place for " + shown(name));
                            return;
                        }
                        found[position] = info;
                    });
}

void CQuarnLusProxy::OnFind(const std::vector<std::string>& terminalIds, std::vector<CTerminalInfo>& found)
{
    CTrace::trace(SCOPE, " OnFind()");
    CTerminalInfo placeholder;
    placeholder.setInvalid();
    found.assign(terminalIds.size(), placeholder);
    // The node first in the root is read last: its record of an id wins.
    forEachNode([&](const std::string& node) { findTerminalInfo(node, terminalIds, found); });
}

void CQuarnLusProxy::find(const std::vector<std::string>& terminalIds, std::vector<CTerminalInfo>& found)
{
    CTrace::trace(SCOPE, " find(): " + std::to_string(terminalIds.size()) + " terminal ids");
    if (CThread::checkUIThread()) {
        OnFind(terminalIds, found);
        return;
    }
    auto record = std::make_shared<FindParameterSet>(terminalIds);
    LPARAM key = reinterpret_cast<LPARAM>(record.get());
    pendingFinds().add(key, record);
    std::string refusal;
    try {
        CLocalMethod::invokeSync(objectId, WM_LUS_PROXY_COMMAND, 0, key);
    } catch (CJException& e) {
        CTrace::trace(SCOPE, REFUSED + e.getMessage());
        refusal = REFUSED + e.getMessage();
    }
    // A command that has not started by now will find nothing: the record stays the worker's.
    pendingFinds().take(key);
    if (refusal.empty() && !record->done)
        refusal = NOT_HANDLED;
    if (!refusal.empty())
        throw CIOException(refusal);
    if (!record->ioFailure.empty())
        throw CIOException(record->ioFailure);
    if (!record->lusFailure.empty())
        throw CLusException(record->lusFailure);
    found = record->foundRecords;
}

LRESULT CQuarnLusProxy::OnQuarnLusProxyCommand(WPARAM wParam, LPARAM lParam)
{
    // Any program on the desktop can post to this window: a command of none of ours is ignored.
    if (wParam != 0) {
        CTrace::scopedError(SCOPE, " OnQuarnLusProxyCommand(): unknown command " + std::to_string(wParam) + ", ignored",
                            0);
        return 0;
    }
    std::shared_ptr<FindParameterSet> record = pendingFinds().take(lParam);
    if (!record) {
        CTrace::trace(SCOPE, " OnQuarnLusProxyCommand(): the worker no longer waits; nothing to do");
        return 0;
    }
    try {
        OnFind(record->terminalIds, record->foundRecords);
    } catch (CLusException& e) {
        CTrace::trace(SCOPE, " OnQuarnLusProxyCommand(): CLusException" + e.getMessage());
        record->lusFailure = e.getMessage();
    } catch (...) {
        std::string message = describeCurrentException();
        CTrace::trace(SCOPE, " OnQuarnLusProxyCommand(): the search failed: " + message);
        record->ioFailure = message.empty() ? std::string(" OnFind(): the search failed") : message;
    }
    CTrace::trace(SCOPE, " OnQuarnLusProxyCommand(): the UI thread is done with the record");
    record->done = true;
    return 1;
}

CTerminalInfo CQuarnLusProxy::find(std::string terminalId)
{
    std::vector<std::string> terminalIds(1, terminalId);
    std::vector<CTerminalInfo> found;
    static_cast<ILookupServiceHandle*>(this)->find(terminalIds, found);
    if (found.empty()) {
        CTerminalInfo none;
        none.setInvalid();
        return none;
    }
    return found[0];
}

// ---- enumerations

void CQuarnLusProxy::enumTerminalIdByCategory(const std::string& node, const std::vector<std::string>& categories,
                                              std::vector<std::string>& terminalIds)
{
    forEachTerminal(node, CATEGORYS, CQUARNLookupDir::QUARNTYPE_STRING, "enumTerminalIdByCategory",
                    [&](CQUARNLookupDir& directory, DWORD index, const std::string& name) {
                        std::string value;
                        if (!directory.GetEntryValueString(index, value)) {
                            CTrace::trace(SCOPE, " enumTerminalIdByCategory(): " + shown(name)
                                                     + " cannot be read: " + traceLastError(GetLastError()));
                        } else if (contains(categories, value)) {
                            CTrace::trace(SCOPE, " enumTerminalIdByCategory(): " + shown(name) + " found");
                            terminalIds.push_back(name);
                        }
                    });
}

void CQuarnLusProxy::enumTerminalIdByIpAddress(const std::string& node, const std::vector<std::string>& addresses,
                                               std::vector<std::string>& terminalIds)
{
    std::string address;
    try {
        address = nodeAddress(node);
    } catch (...) {
        CTrace::scopedError(SCOPE, " enumTerminalIdByIpAddress(): the address of node " + shown(node)
                                       + " cannot be had: " + describeCurrentException(),
                            -1);
        return;
    }
    if (address.empty() || !contains(addresses, address)) {
        CTrace::trace(SCOPE, " enumTerminalIdByIpAddress(): node " + shown(node) + " is at [" + address + "]");
        return;
    }
    forEachTerminal(node, TERMINAL_INFOS, CQUARNLookupDir::QUARNTYPE_DIR, "enumTerminalIdByIpAddress",
                    [&](CQUARNLookupDir&, DWORD, const std::string& name) {
                        CTrace::trace(SCOPE, " enumTerminalIdByIpAddress(): " + shown(name) + " found");
                        terminalIds.push_back(name);
                    });
}

void CQuarnLusProxy::enumTerminalIdByPortNum(const std::string& node, const std::vector<unsigned>& portNums,
                                             std::vector<std::string>& terminalIds)
{
    forEachTerminal(node, PORT_NUMS, CQUARNLookupDir::QUARNTYPE_INT, "enumTerminalIdByPortNum",
                    [&](CQUARNLookupDir& directory, DWORD index, const std::string& name) {
                        int value = 0;
                        if (!directory.GetEntryValueInt(index, &value)) {
                            CTrace::trace(SCOPE, " enumTerminalIdByPortNum(): " + shown(name)
                                                     + " cannot be read: " + traceLastError(GetLastError()));
                        } else if (std::find(portNums.begin(), portNums.end(), static_cast<unsigned>(value))
                                   != portNums.end()) {
                            CTrace::trace(SCOPE, " enumTerminalIdByPortNum(): " + shown(name) + " found");
                            terminalIds.push_back(name);
                        }
                    });
}

void CQuarnLusProxy::forEachNode(const std::function<void(const std::string& node)>& visit)
{
    std::vector<std::string> nodes;
    enumAccessableQuarnList(nodes);
    for (size_t k = nodes.size(); k-- > 0;)
        visit(nodes[k]);
}

void CQuarnLusProxy::enumByCategory(const std::vector<std::string>& categories, std::vector<std::string>& terminalIds)
{
    checkCreatorThread("enumByCategory");
    CTrace::trace(SCOPE, " enumByCategory()");
    forEachNode([&](const std::string& node) { enumTerminalIdByCategory(node, categories, terminalIds); });
}

void CQuarnLusProxy::enumByCategory(std::string category, std::vector<std::string>& terminalIds)
{
    checkCreatorThread("enumByCategory");
    static_cast<ILookupServiceHandle*>(this)->enumByCategory(std::vector<std::string>(1, category), terminalIds);
}

void CQuarnLusProxy::enumByIpAddress(const std::vector<std::string>& addresses, std::vector<std::string>& terminalIds)
{
    checkCreatorThread("enumByIpAddress");
    CTrace::trace(SCOPE, " enumByIpAddress()");
    forEachNode([&](const std::string& node) { enumTerminalIdByIpAddress(node, addresses, terminalIds); });
}

void CQuarnLusProxy::enumByIpAddress(std::string address, std::vector<std::string>& terminalIds)
{
    checkCreatorThread("enumByIpAddress");
    static_cast<ILookupServiceHandle*>(this)->enumByIpAddress(std::vector<std::string>(1, address), terminalIds);
}

void CQuarnLusProxy::enumByPortNum(unsigned portNum, std::vector<std::string>& terminalIds)
{
    checkCreatorThread("enumByPortNum");
    CTrace::trace(SCOPE, " enumByPortNum()");
    std::vector<unsigned> portNums(1, portNum);
    forEachNode([&](const std::string& node) { enumTerminalIdByPortNum(node, portNums, terminalIds); });
}
