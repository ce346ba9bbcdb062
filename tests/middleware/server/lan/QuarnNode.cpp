// The middleware server's core on the main thread of a program of its own, as the server
// module runs it but without COM, on a host of the test LAN (tools/lan). A script drives it
// through a command file in a shared folder and reads what it prints: every message posted to
// its client windows, and the result of every command.
//
//   quarn_node COMMANDFILE [seed-temp]
//
// seed-temp: before the core starts, a read-only "QUARN1A2B.TMP" and a "QUARX.TMP" are put in
// the temporary folder; afterwards the program says which of them are left.
//
// Each line of the command file is "ID OP ARGS [; OP ARGS ...]". The operations of one line run
// one after the other without any message in between; each prints its result prefixed by ID,
// and "DONE ID" follows the last. Arguments with blanks are quoted with "".
//   window W | destroy W | register W | deregister W
//   open V PATH [W]       lookup handle V on PATH, notices to window W
//   close V | refresh V | count V | list V | name V I | type V I | value V I
//   getip PATH
//   set-int APP PATH N | set-str APP PATH TEXT | close-entry APP PATH | has PATH
//   watch W APP DIR      a watch record of application APP with window W on DIR
//   power N              WM_POWERBROADCAST with event N to the communication window
//   start-again          the layer started a second time
//   probe                every number up to the last handle + 10 given to each lookup call
//   stop                 the core stopped, the program going on (quit stops it and ends)
//   wsa-cleanup          one WSACleanup more than there were start-ups, so that the layer's fails
//   conns                connections now, and the most seen at once | tree | quit
// File transfers (H: a transfer's name T, or a number such as a receive handle):
//   fopen T DEST SRC NICK [W]   a transfer to DEST, notices to window W
//   fill T FILE | fsize T N     its temporary file: FILE's bytes, or N bytes that take no room
//   fexec T | fclose H | ftemp H | fsave H FILE (the temporary file copied to FILE)
//   fnames H NICK SRC    whether the nickname and sender name read back as NICK and SRC (up to
//                        a zero unit)
//   temps                the QUARN*.TMP files in the temporary folder
//   fprobe               every number up to the last handle + 10, known handles aside, given to
//                        each file-transfer call
//   autoclose W          receive handles told complete to W are closed at once
//   quiet W | counts W   file notices to W counted instead of printed; the counts
// Texts: "@64k" is 65536 letters; "%HH" stands for the character HH (hex), "%00" a zero unit.
// Every file notice prints as "MSG W FILE H 0xCODE t=TIME", TIME the tick it was posted at.
#include "CQuarnClientWndList.h"
#include "CQuarnComm.h"
#include "CQuarnDataBase.h"
#include "CQuarnListItem.h"
#include "CQuarnSrvCore.h"
#include "CQuarnWatchWindow.h"
#include "QuarnCodes.h"
#include "LanLog.h"
#include "QuarnGuidText.h"
#include "QuarnMessages.h"

#include <fcntl.h>
#include <io.h>

#include <algorithm>
#include <cctype>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace {

// The script ends the program long before; this only keeps a forgotten one from staying.
const DWORD LIFETIME_MS = 280000;
const DWORD POLL_MS = 20;
const DWORD PUMP_SLICE_MS = 20;
const char CLIENT_CLASS[] = "QuarnNodeClientWindow";
const char TEMP_FILES[][16] = {"QUARN1A2B.TMP", "QUARX.TMP"};



std::wstring wide(const std::string& text)
{
    return std::wstring(text.begin(), text.end());
}

// A text of the command file: "@64k", or the characters with "%HH" decoded.
std::wstring decodeText(const std::string& text)
{
    std::wstring result;
    if (text == "@64k") {
        for (int i = 0; i < 65536; ++i)
            result += static_cast<wchar_t>(L'a' + i % 26);
        return result;
    }
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size() && isxdigit(static_cast<unsigned char>(text[i + 1]))
            && isxdigit(static_cast<unsigned char>(text[i + 2]))) {
            result += static_cast<wchar_t>(std::strtoul(text.substr(i + 1, 2).c_str(), nullptr, 16));
            i += 2;
        } else {
            result += static_cast<wchar_t>(static_cast<unsigned char>(text[i]));
        }
    }
    return result;
}

// What a text becomes once it has passed a zero unit.
std::wstring upToZero(const std::wstring& text)
{
    return text.substr(0, text.find(L'\0'));
}

std::vector<std::string> tokens(const std::string& line)
{
    std::vector<std::string> result;
    size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && line[i] == ' ')
            ++i;
        if (i >= line.size())
            break;
        std::string token;
        if (line[i] == '"') {
            size_t end = line.find('"', i + 1);
            if (end == std::string::npos)
                end = line.size();
            token = line.substr(i + 1, end - i - 1);
            i = end + 1;
        } else {
            size_t end = line.find(' ', i);
            if (end == std::string::npos)
                end = line.size();
            token = line.substr(i, end - i);
            i = end;
        }
        result.push_back(token);
    }
    return result;
}

// The number of the next list record: every handle given so far is below it.
DWORD nextHandle()
{
    CQuarnListItem* marker = new CQuarnListItem;
    DWORD next = marker->GetId();
    delete marker;
    return next;
}

// A probe's expectation that a call given a number that is no handle fails with
// ERROR_INVALID_HANDLE; each call that does not is printed and counted.
class InvalidHandles {
public:
    InvalidHandles(const std::string& id, const char* tag) : id_(id), tag_(tag) {}
    void operator()(DWORD n, const char* op, bool result)
    {
        if (!result && GetLastError() == ERROR_INVALID_HANDLE)
            return;
        fault(n, op, result);
    }
    void fault(DWORD n, const char* op, bool result)
    {
        ++bad_;
        logLine("%s %s BAD %lu %s result %d error %lu", id_.c_str(), tag_, static_cast<unsigned long>(n), op, result ? 1 : 0,
            static_cast<unsigned long>(GetLastError()));
    }
    int bad() const { return bad_; }

private:
    std::string id_;
    const char* tag_;
    int bad_ = 0;
};

class Node {
public:
    explicit Node(const std::string& commandFile) : commandFile_(commandFile) {}

    int run(bool seedTemp);

private:
    void pump();
    void readCommands();
    void execute(const std::string& id, const std::vector<std::string>& op);
    void printPosted(const MSG& message);
    std::string describeHandle(DWORD handle) const;
    std::string describeEntry(DWORD handle, DWORD index);
    void probe(const std::string& id);
    HWND window(const std::string& name) const;
    DWORD handle(const std::string& name) const;
    void tree(const std::string& id, const std::wstring& path, int depth);
    bool executeFile(const std::string& id, const std::vector<std::string>& op);
    void fileProbe(const std::string& id);
    std::string fileHandleName(DWORD handle) const;
    DWORD fileHandle(const std::string& name) const;
    std::vector<std::string> tempFiles() const;

    std::string commandFile_;
    ULONGLONG readOffset_ = 0;
    std::string pending_;
    CQuarnSrvCore* core_ = nullptr;
    std::map<std::string, HWND> windows_;
    std::map<std::string, DWORD> handles_;
    bool quit_ = false;
    bool stopped_ = false;
    size_t mostLookup_ = 0;
    size_t mostServer_ = 0;
    // Transfers by name; every handle a file notice named.
    std::map<std::string, DWORD> transfers_;
    std::set<DWORD> noticed_;
    std::set<std::string> autoClose_;
    std::map<std::string, std::map<std::string, unsigned long>> counts_;
};

HWND Node::window(const std::string& name) const
{
    auto found = windows_.find(name);
    return found == windows_.end() ? nullptr : found->second;
}

DWORD Node::handle(const std::string& name) const
{
    auto found = handles_.find(name);
    return found == handles_.end() ? static_cast<DWORD>(std::strtoul(name.c_str(), nullptr, 0)) : found->second;
}

std::string Node::describeHandle(DWORD handle) const
{
    for (const auto& entry : handles_) {
        if (entry.second == handle)
            return entry.first;
    }
    return std::to_string(handle);
}

void Node::printPosted(const MSG& message)
{
    std::string name = "?";
    for (const auto& entry : windows_) {
        if (entry.second == message.hwnd)
            name = entry.first;
    }
    DWORD lParam = static_cast<DWORD>(message.lParam);
    if (message.message == QuarnFileTransferMessage()) {
        DWORD handle = static_cast<DWORD>(message.wParam);
        noticed_.insert(handle);
        if (autoClose_.count(name) != 0 && lParam == 0x20040164 && core_->GetComm() != nullptr) {
            bool closed = core_->GetComm()->FileTransferClose(handle);
            if (counts_.count(name) == 0)
                logLine("AUTOCLOSE %lu %s", static_cast<unsigned long>(handle), closed ? "ok" : "FAIL");
        }
        if (counts_.count(name) != 0) {
            const char* kind = lParam == 0x20040100 ? "opened"
                : lParam == 0x20040164                 ? "complete"
                : (lParam & 0xFFFFFF00) == 0x20040100  ? "progress"
                : lParam == 0xE0040202                 ? "closed"
                                                       : "other";
            ++counts_[name][kind];
            return;
        }
        logLine("MSG %s FILE %s 0x%08lX t=%lu", name.c_str(), fileHandleName(handle).c_str(),
            static_cast<unsigned long>(lParam), static_cast<unsigned long>(message.time));
        return;
    }
    if (message.message == QuarnLookupDirectoryMessage())
        logLine("MSG %s LOOKUP %s 0x%08lX", name.c_str(), describeHandle(static_cast<DWORD>(message.wParam)).c_str(),
            static_cast<unsigned long>(lParam));
    else if (message.message == QuarnNodeChangeMessage())
        logLine("MSG %s NODECHANGE %lu", name.c_str(), static_cast<unsigned long>(message.wParam));
    else
        logLine("MSG %s POSTED 0x%04X %llu 0x%08lX", name.c_str(), message.message,
            static_cast<unsigned long long>(message.wParam), static_cast<unsigned long>(lParam));
}

void Node::pump()
{
    // A transfer keeps the queue busy: commands are read between slices of it.
    ULONGLONG until = GetTickCount64() + PUMP_SLICE_MS;
    MSG message;
    while (GetTickCount64() < until && PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
        bool client = false;
        for (const auto& entry : windows_)
            client = client || entry.second == message.hwnd;
        if (client)
            printPosted(message);
        DispatchMessageA(&message);
    }
}

void Node::readCommands()
{
    HANDLE file = CreateFileA(commandFile_.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return;
    LARGE_INTEGER at;
    at.QuadPart = static_cast<LONGLONG>(readOffset_);
    SetFilePointerEx(file, at, nullptr, FILE_BEGIN);
    char buffer[4096];
    DWORD read = 0;
    while (ReadFile(file, buffer, sizeof(buffer), &read, nullptr) && read > 0) {
        readOffset_ += read;
        pending_.append(buffer, read);
    }
    CloseHandle(file);
    size_t end;
    while (!quit_ && (end = pending_.find('\n')) != std::string::npos) {
        std::string line = pending_.substr(0, end);
        pending_.erase(0, end + 1);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        std::vector<std::string> words = tokens(line);
        if (words.empty())
            continue;
        std::string id = words[0];
        std::vector<std::string> op;
        // The operations of one line run back to back, no message in between.
        CQuarnSrvCore& core = *core_;
        core.Lock(INFINITE);
        for (size_t i = 1; i <= words.size(); ++i) {
            if (i == words.size() || words[i] == ";") {
                if (!op.empty())
                    execute(id, op);
                op.clear();
            } else {
                op.push_back(words[i]);
            }
        }
        core.Unlock();
        logLine("DONE %s", id.c_str());
    }
}

std::string Node::describeEntry(DWORD handle, DWORD index)
{
    CQuarnComm& comm = *core_->GetComm();
    WCHAR name[512];
    DWORD size = 512;
    std::string result;
    if (!comm.LookupGetEntryName(handle, index, name, &size)) {
        char text[64];
        std::snprintf(text, sizeof(text), "ERR 0x%08lX", static_cast<unsigned long>(GetLastError()));
        return text;
    }
    result = "\"" + narrow(name) + "\"";
    DWORD type = 0;
    if (!comm.LookupGetEntryType(handle, index, &type))
        return result + " type-ERR";
    char text[1100];
    switch (type) {
    case QUARNTYPE_INT: {
        LONG value = 0;
        if (comm.LookupGetEntryValueInt(handle, index, &value))
            std::snprintf(text, sizeof(text), " INT %ld 0x%08lX", static_cast<long>(value),
                          static_cast<unsigned long>(value));
        else
            std::snprintf(text, sizeof(text), " INT ERR 0x%08lX", static_cast<unsigned long>(GetLastError()));
        break;
    }
    case QUARNTYPE_STRING: {
        WCHAR value[512] = {};
        DWORD characters = 512;
        if (comm.LookupGetEntryValueString(handle, index, value, &characters))
            std::snprintf(text, sizeof(text), " STR \"%s\"", characters == 0 ? "" : narrow(value).c_str());
        else
            std::snprintf(text, sizeof(text), " STR ERR 0x%08lX", static_cast<unsigned long>(GetLastError()));
        break;
    }
    case QUARNTYPE_BINARY: {
        BYTE value[256];
        DWORD bytes = sizeof(value);
        if (comm.LookupGetEntryValueBinary(handle, index, value, &bytes)) {
            std::string hex;
            for (DWORD i = 0; i < bytes; ++i) {
                char pair[4];
                std::snprintf(pair, sizeof(pair), "%02X", value[i]);
                hex += pair;
            }
            std::snprintf(text, sizeof(text), " BIN %s", hex.c_str());
        } else {
            std::snprintf(text, sizeof(text), " BIN ERR 0x%08lX", static_cast<unsigned long>(GetLastError()));
        }
        break;
    }
    case QUARNTYPE_DIR:
        std::snprintf(text, sizeof(text), " DIR");
        break;
    default:
        std::snprintf(text, sizeof(text), " TYPE %lu", static_cast<unsigned long>(type));
        break;
    }
    return result + text;
}

void Node::tree(const std::string& id, const std::wstring& path, int depth)
{
    CQuarnDataBase& database = *core_->GetDataBase();
    DWORD count = 0;
    if (depth > 16 || !database.GetChildCount(path.c_str(), &count))
        return;
    for (DWORD i = 0; i < count; ++i) {
        WCHAR name[512];
        DWORD size = 512;
        if (!database.GetChildName(path.c_str(), i, name, &size))
            continue;
        std::wstring child = (path == L"\\" ? path : path + L"\\") + name;
        DWORD type = 0;
        database.GetEntryType(child.c_str(), &type);
        logLine("%s TREE %s %lu", id.c_str(), narrow(child).c_str(), static_cast<unsigned long>(type));
        if (type == QUARNTYPE_DIR)
            tree(id, child, depth + 1);
    }
}

void Node::probe(const std::string& id)
{
    CQuarnComm& comm = *core_->GetComm();
    DWORD highest = nextHandle();
    // The handles that are open now (a handle the layer closed is a number like any other).
    std::set<DWORD> open;
    for (const auto& entry : handles_) {
        DWORD count;
        if (comm.LookupGetEntryCount(entry.second, &count) || GetLastError() != ERROR_INVALID_HANDLE)
            open.insert(entry.second);
    }
    InvalidHandles expectInvalid(id, "PROBE");
    DWORD tried = 0;
    for (DWORD n = 0; n <= highest + 10; ++n, ++tried) {
        DWORD count, type, size = 64, byteSize = 64;
        WCHAR text[64];
        LONG number;
        BYTE bytes[64];
        if (open.count(n) != 0) {
            // An open handle answers whatever its state says; it only must not break.
            comm.LookupGetEntryCount(n, &count);
            comm.LookupGetEntryName(n, 0, text, &size);
            comm.LookupGetEntryType(n, 0, &type);
            comm.LookupGetEntryValueInt(n, 0, &number);
            size = 64;
            comm.LookupGetEntryValueString(n, 0, text, &size);
            comm.LookupGetEntryValueBinary(n, 0, bytes, &byteSize);
            continue;
        }
        expectInvalid(n, "count", comm.LookupGetEntryCount(n, &count));
        expectInvalid(n, "name", comm.LookupGetEntryName(n, 0, text, &size));
        expectInvalid(n, "type", comm.LookupGetEntryType(n, 0, &type));
        expectInvalid(n, "int", comm.LookupGetEntryValueInt(n, 0, &number));
        size = 64;
        expectInvalid(n, "string", comm.LookupGetEntryValueString(n, 0, text, &size));
        expectInvalid(n, "binary", comm.LookupGetEntryValueBinary(n, 0, bytes, &byteSize));
        expectInvalid(n, "refresh", comm.LookupRefresh(n));
        expectInvalid(n, "close", comm.LookupClose(n));
    }
    // The open handles still answer after all that.
    for (DWORD n : open) {
        DWORD count;
        if (!comm.LookupGetEntryCount(n, &count) && GetLastError() == ERROR_INVALID_HANDLE) {
            expectInvalid.fault(n, "lost", false);
        }
    }
    logLine("%s PROBE %s %lu numbers up to %lu", id.c_str(), expectInvalid.bad() == 0 ? "OK" : "BAD", static_cast<unsigned long>(tried),
        static_cast<unsigned long>(highest + 10));
}

std::string Node::fileHandleName(DWORD handle) const
{
    for (const auto& entry : transfers_) {
        if (entry.second == handle)
            return entry.first;
    }
    return std::to_string(handle);
}

DWORD Node::fileHandle(const std::string& name) const
{
    auto found = transfers_.find(name);
    return found == transfers_.end() ? static_cast<DWORD>(std::strtoul(name.c_str(), nullptr, 0)) : found->second;
}

std::vector<std::string> Node::tempFiles() const
{
    std::vector<std::string> names;
    std::string folder;
    if (!CQuarnSrvCore::GetTempFolder(folder))
        return names;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((folder + CQuarnSrvCore::TEMP_FILE_PATTERN).c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return names;
    do
        names.push_back(found.cFileName);
    while (FindNextFileA(search, &found));
    FindClose(search);
    std::sort(names.begin(), names.end());
    return names;
}

void Node::fileProbe(const std::string& id)
{
    CQuarnComm& comm = *core_->GetComm();
    DWORD highest = nextHandle();
    std::set<DWORD> known = noticed_;
    for (const auto& entry : transfers_)
        known.insert(entry.second);
    InvalidHandles expectInvalid(id, "FPROBE");
    DWORD tried = 0;
    for (DWORD n = 0; n <= highest + 10; ++n) {
        std::wstring text;
        if (known.count(n) != 0)
            continue;
        ++tried;
        expectInvalid(n, "close", comm.FileTransferClose(n));
        expectInvalid(n, "exec", comm.FileTransferExec(n));
        expectInvalid(n, "temp", comm.FileTransferGetTempName(n, text));
        expectInvalid(n, "nick", comm.FileTransferGetNickname(n, text));
        expectInvalid(n, "sender", comm.FileTransferGetSenderName(n, text));
    }
    // A transfer has no nickname or sender name to read; a receive handle is no transfer to
    // execute.
    for (const auto& entry : transfers_) {
        std::wstring text;
        expectInvalid(entry.second, "nick of a transfer", comm.FileTransferGetNickname(entry.second, text));
        expectInvalid(entry.second, "sender of a transfer", comm.FileTransferGetSenderName(entry.second, text));
    }
    for (DWORD n : noticed_) {
        if (fileHandleName(n) == std::to_string(n))
            expectInvalid(n, "exec of a receive handle", comm.FileTransferExec(n));
    }
    logLine("%s FPROBE %s %lu numbers up to %lu", id.c_str(), expectInvalid.bad() == 0 ? "OK" : "BAD", static_cast<unsigned long>(tried),
        static_cast<unsigned long>(highest + 10));
}

bool Node::executeFile(const std::string& id, const std::vector<std::string>& op)
{
    CQuarnComm& comm = *core_->GetComm();
    const std::string& name = op[0];
    auto arg = [&](size_t i) { return i < op.size() ? op[i] : std::string(); };
    auto error = [] { return static_cast<unsigned long>(GetLastError()); };
    const char* i = id.c_str();
    if (name == "fopen") {
        SetLastError(0);
        DWORD opened = comm.FileTransferOpen(decodeText(arg(2)).c_str(), decodeText(arg(3)).c_str(),
                                             decodeText(arg(4)).c_str(), arg(5).empty() ? nullptr : window(arg(5)));
        if (opened == 0) {
            logLine("%s FOPEN %s FAIL 0x%08lX", i, arg(1).c_str(), error());
            return true;
        }
        transfers_[arg(1)] = opened;
        std::wstring temp;
        comm.FileTransferGetTempName(opened, temp);
        logLine("%s FOPEN %s %lu %s", i, arg(1).c_str(), static_cast<unsigned long>(opened), narrow(temp).c_str());
    } else if (name == "fill" || name == "fsize") {
        std::wstring temp;
        bool done = comm.FileTransferGetTempName(fileHandle(arg(1)), temp);
        if (done && name == "fill") {
            done = CopyFileW(decodeText(arg(2)).c_str(), temp.c_str(), FALSE) != FALSE;
        } else if (done) {
            HANDLE file = CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
            LARGE_INTEGER end;
            end.QuadPart = static_cast<LONGLONG>(std::strtoull(arg(2).c_str(), nullptr, 0));
            done = file != INVALID_HANDLE_VALUE && SetFilePointerEx(file, end, nullptr, FILE_BEGIN) && SetEndOfFile(file);
            if (file != INVALID_HANDLE_VALUE)
                CloseHandle(file);
        }
        logLine("%s %s %s %s 0x%08lX", i, name == "fill" ? "FILL" : "FSIZE", arg(1).c_str(), done ? "ok" : "FAIL", error());
    } else if (name == "fexec") {
        bool done = comm.FileTransferExec(fileHandle(arg(1)));
        logLine("%s FEXEC %s %s 0x%08lX", i, arg(1).c_str(), done ? "ok" : "FAIL", error());
    } else if (name == "fclose") {
        SetLastError(0);
        bool done = comm.FileTransferClose(fileHandle(arg(1)));
        logLine("%s FCLOSE %s %s 0x%08lX", i, arg(1).c_str(), done ? "ok" : "FAIL", error());
    } else if (name == "ftemp") {
        std::wstring temp;
        if (comm.FileTransferGetTempName(fileHandle(arg(1)), temp))
            logLine("%s FTEMP %s %s", i, arg(1).c_str(), narrow(temp).c_str());
        else
            logLine("%s FTEMP %s FAIL 0x%08lX", i, arg(1).c_str(), error());
    } else if (name == "fsave") {
        std::wstring temp;
        bool done = comm.FileTransferGetTempName(fileHandle(arg(1)), temp)
            && CopyFileW(temp.c_str(), decodeText(arg(2)).c_str(), FALSE);
        logLine("%s FSAVE %s %s 0x%08lX", i, arg(1).c_str(), done ? "ok" : "FAIL", error());
    } else if (name == "fnames") {
        std::wstring nickname, sender;
        DWORD handle = fileHandle(arg(1));
        bool nick = comm.FileTransferGetNickname(handle, nickname);
        unsigned long nickError = error();
        bool from = comm.FileTransferGetSenderName(handle, sender);
        unsigned long fromError = error();
        std::wstring wantNick = upToZero(decodeText(arg(2))), wantFrom = upToZero(decodeText(arg(3)));
        logLine("%s FNAMES %s nick %s %lu/%lu 0x%08lX sender %s %lu/%lu 0x%08lX", i, arg(1).c_str(),
            nick && nickname == wantNick ? "ok" : "BAD", static_cast<unsigned long>(nickname.size()),
            static_cast<unsigned long>(wantNick.size()), nick ? 0ul : nickError, from && sender == wantFrom ? "ok" : "BAD",
            static_cast<unsigned long>(sender.size()), static_cast<unsigned long>(wantFrom.size()), from ? 0ul : fromError);
    } else if (name == "fprobe") {
        fileProbe(id);
    } else if (name == "autoclose") {
        autoClose_.insert(arg(1));
        logLine("%s AUTOCLOSE %s", i, arg(1).c_str());
    } else if (name == "quiet") {
        counts_[arg(1)];
        logLine("%s QUIET %s", i, arg(1).c_str());
    } else if (name == "counts") {
        std::string text;
        for (const char* kind : {"opened", "progress", "complete", "closed", "other"}) {
            auto& of = counts_[arg(1)];
            text += std::string(" ") + kind + " " + std::to_string(of.count(kind) ? of[kind] : 0);
        }
        logLine("%s COUNTS %s%s", i, arg(1).c_str(), text.c_str());
    } else {
        return false;
    }
    return true;
}

void Node::execute(const std::string& id, const std::vector<std::string>& op)
{
    if (op[0] == "temps") {
        // The files are there to count whether or not the core runs.
        std::vector<std::string> names = tempFiles();
        std::string list;
        for (const std::string& file : names)
            list += " " + file;
        logLine("%s TEMPS %u%s", id.c_str(), static_cast<unsigned>(names.size()), list.c_str());
        return;
    }
    if (stopped_ || core_->GetComm() == nullptr) {
        if (op[0] == "quit")
            quit_ = true;
        else
            logLine("%s STOPPED %s", id.c_str(), op[0].c_str());
        return;
    }
    if (executeFile(id, op))
        return;
    CQuarnComm& comm = *core_->GetComm();
    CQuarnDataBase& database = *core_->GetDataBase();
    const std::string& name = op[0];
    auto arg = [&](size_t i) { return i < op.size() ? op[i] : std::string(); };
    auto error = [] { return static_cast<unsigned long>(GetLastError()); };
    const char* i = id.c_str();
    if (name == "window") {
        HWND created = CreateWindowA(CLIENT_CLASS, arg(1).c_str(), WS_DISABLED, CW_USEDEFAULT, CW_USEDEFAULT,
                                     CW_USEDEFAULT, CW_USEDEFAULT, nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
        windows_[arg(1)] = created;
        logLine("%s WINDOW %s %s", i, arg(1).c_str(), created != nullptr ? "ok" : "FAIL");
    } else if (name == "destroy") {
        DestroyWindow(window(arg(1)));
        logLine("%s DESTROYED %s", i, arg(1).c_str());
    } else if (name == "register") {
        logLine("%s REGISTER %s %s", i, arg(1).c_str(), core_->GetClientWndList()->Add(window(arg(1))) ? "ok" : "FAIL");
    } else if (name == "deregister") {
        logLine("%s DEREGISTER %s %s", i, arg(1).c_str(),
            core_->GetClientWndList()->Remove(window(arg(1))) ? "ok" : "none");
    } else if (name == "open") {
        SetLastError(0);
        DWORD opened = comm.LookupOpen(wide(arg(2)).c_str(), arg(3).empty() ? nullptr : window(arg(3)));
        DWORD lastError = error();
        if (opened != 0) {
            handles_[arg(1)] = opened;
            logLine("%s OPEN %s %lu 0x%08lX", i, arg(1).c_str(), static_cast<unsigned long>(opened),
                static_cast<unsigned long>(lastError));
        } else {
            logLine("%s OPEN %s FAIL 0x%08lX", i, arg(1).c_str(), static_cast<unsigned long>(lastError));
        }
    } else if (name == "close") {
        bool closed = comm.LookupClose(handle(arg(1)));
        logLine("%s CLOSE %s %s 0x%08lX", i, arg(1).c_str(), closed ? "ok" : "FAIL", error());
    } else if (name == "refresh") {
        bool refreshed = comm.LookupRefresh(handle(arg(1)));
        logLine("%s REFRESH %s %s 0x%08lX", i, arg(1).c_str(), refreshed ? "ok" : "FAIL", error());
    } else if (name == "count") {
        DWORD count = 0;
        if (comm.LookupGetEntryCount(handle(arg(1)), &count))
            logLine("%s COUNT %s %lu", i, arg(1).c_str(), static_cast<unsigned long>(count));
        else
            logLine("%s COUNT %s ERR 0x%08lX", i, arg(1).c_str(), error());
    } else if (name == "list") {
        DWORD count = 0;
        DWORD h = handle(arg(1));
        if (!comm.LookupGetEntryCount(h, &count)) {
            logLine("%s LIST %s ERR 0x%08lX", i, arg(1).c_str(), error());
            return;
        }
        for (DWORD n = 0; n < count; ++n)
            logLine("%s ENTRY %s %lu %s", i, arg(1).c_str(), static_cast<unsigned long>(n), describeEntry(h, n).c_str());
        logLine("%s LIST %s %lu", i, arg(1).c_str(), static_cast<unsigned long>(count));
    } else if (name == "name" || name == "type" || name == "value") {
        DWORD index = static_cast<DWORD>(std::strtoul(arg(2).c_str(), nullptr, 0));
        logLine("%s ENTRY %s %lu %s", i, arg(1).c_str(), static_cast<unsigned long>(index),
            describeEntry(handle(arg(1)), index).c_str());
    } else if (name == "getip") {
        std::wstring address;
        if (comm.GetIP(wide(arg(1)).c_str(), address))
            logLine("%s IP %s", i, narrow(address).c_str());
        else
            logLine("%s IP FAIL 0x%08lX", i, error());
    } else if (name == "set-int" || name == "set-str" || name == "close-entry") {
        DWORD app = static_cast<DWORD>(std::strtoul(arg(1).c_str(), nullptr, 0));
        std::wstring path = wide(arg(2));
        database.Lock(INFINITE);
        bool done;
        if (name == "set-int")
            done = database.SetValueInt(app, path.c_str(), static_cast<LONG>(std::strtol(arg(3).c_str(), nullptr, 0)));
        else if (name == "set-str")
            done = database.SetValueString(app, path.c_str(), wide(arg(3)).c_str());
        else
            done = database.CloseEntry(app, path.c_str());
        DWORD lastError = error();
        database.Unlock();
        logLine("%s %s %s %s 0x%08lX", i, name.c_str(), arg(2).c_str(), done ? "ok" : "FAIL",
            static_cast<unsigned long>(lastError));
    } else if (name == "has") {
        database.Lock(INFINITE);
        DWORD type;
        bool found = database.GetEntryType(wide(arg(1)).c_str(), &type);
        database.Unlock();
        logLine("%s HAS %s %s", i, arg(1).c_str(), found ? "yes" : "no");
    } else if (name == "watch") {
        DWORD app = static_cast<DWORD>(std::strtoul(arg(2).c_str(), nullptr, 0));
        bool added = core_->GetWatchWindow()->Add(app, window(arg(1)), wide(arg(3)).c_str());
        logLine("%s WATCH %s %s", i, arg(1).c_str(), added ? "ok" : "FAIL");
    } else if (name == "power") {
        HWND comm = FindWindowA(nullptr, CQuarnComm::WINDOW_NAME);
        WPARAM event = std::strtoul(arg(1).c_str(), nullptr, 0);
        logLine("%s POWER %s %s", i, arg(1).c_str(), comm != nullptr && PostMessageA(comm, WM_POWERBROADCAST, event, 0) ? "posted" : "FAIL");
    } else if (name == "start-again") {
        GUID node;
        ParseBracedGuid(core_->GetGuidText().c_str(), core_->GetGuidText().size(), node);
        bool started = comm.Start(core_, node, core_->GetPort());
        logLine("%s STARTAGAIN %s 0x%08lX", i, started ? "ok" : "FAIL", error());
    } else if (name == "probe") {
        probe(id);
    } else if (name == "conns") {
        logLine("%s CONNS lookup %u server %u most lookup %u server %u", i,
            static_cast<unsigned>(comm.GetLookupConnectionCount()), static_cast<unsigned>(comm.GetServerConnectionCount()),
            static_cast<unsigned>(mostLookup_), static_cast<unsigned>(mostServer_));
    } else if (name == "wsa-cleanup") {
        logLine("%s WSACLEANUP %d", i, WSACleanup());
    } else if (name == "stop") {
        stopped_ = core_->Stop();
        logLine("%s STOP %s 0x%08lX", i, stopped_ ? "ok" : "FAIL", error());
    } else if (name == "tree") {
        database.Lock(INFINITE);
        tree(id, L"\\", 0);
        database.Unlock();
    } else if (name == "quit") {
        quit_ = true;
    } else {
        logLine("%s UNKNOWN %s", i, name.c_str());
    }
}

int Node::run(bool seedTemp)
{
    WNDCLASSA clientClass = {};
    clientClass.lpfnWndProc = DefWindowProcA;
    clientClass.hInstance = GetModuleHandleA(nullptr);
    clientClass.lpszClassName = CLIENT_CLASS;
    RegisterClassA(&clientClass);

    std::string folder;
    if (seedTemp) {
        if (!CQuarnSrvCore::GetTempFolder(folder)) {
            logLine("FAIL no temporary folder");
            return 1;
        }
        for (const char* file : TEMP_FILES) {
            HANDLE made = CreateFileA((folder + file).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
            CloseHandle(made);
        }
        SetFileAttributesA((folder + TEMP_FILES[0]).c_str(), FILE_ATTRIBUTE_READONLY);
        DWORD attributes = GetFileAttributesA((folder + TEMP_FILES[0]).c_str());
        logLine("SEEDED %s readonly=%d", folder.c_str(),
            attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) ? 1 : 0);
    }

    core_ = new CQuarnSrvCore;
    core_->Lock(INFINITE);
    bool started = core_->Start();
    DWORD startError = GetLastError();
    core_->Unlock();
    if (!started) {
        logLine("START FAIL 0x%08lX", static_cast<unsigned long>(startError));
        delete core_;
        return 3;
    }
    char computer[MAX_COMPUTERNAME_LENGTH + 1] = {};
    DWORD length = sizeof(computer);
    GetComputerNameA(computer, &length);
    logLine("START ok");
    logLine("GUID %s", narrow(core_->GetGuidText()).c_str());
    logLine("PORT %u", core_->GetPort());
    logLine("NAME %s", computer);
    logLine("WATCHWINDOW %s", FindWindowA(nullptr, CQuarnWatchWindow::WINDOW_NAME) != nullptr ? "ok" : "none");
    if (seedTemp) {
        for (const char* file : TEMP_FILES)
            logLine("TEMP %s %s", file, GetFileAttributesA((folder + file).c_str()) == INVALID_FILE_ATTRIBUTES ? "gone" : "there");
    }

    ULONGLONG deadline = GetTickCount64() + LIFETIME_MS;
    while (!quit_ && GetTickCount64() < deadline) {
        MsgWaitForMultipleObjects(0, nullptr, FALSE, POLL_MS, QS_ALLINPUT);
        pump();
        readCommands();
        if (!stopped_ && core_->GetComm() != nullptr) {
            mostLookup_ = std::max(mostLookup_, core_->GetComm()->GetLookupConnectionCount());
            mostServer_ = std::max(mostServer_, core_->GetComm()->GetServerConnectionCount());
        }
    }
    if (!quit_) {
        logLine("LIFETIME over");
        return 2;
    }
    core_->Lock(INFINITE);
    bool stopped = stopped_ || core_->Stop();
    logLine("STOP %s", stopped ? "ok" : "FAIL");
    core_->Unlock();
    delete core_;
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    _setmode(_fileno(stdout), _O_BINARY);
    if (argc < 2) {
        std::fprintf(stderr, "usage: quarn_node COMMANDFILE [seed-temp]\n");
        return 64;
    }
    Node node(argv[1]);
    return node.run(argc > 2 && std::string(argv[2]) == "seed-temp");
}
