#include "CTrace.h"

#include "CMessageBox.h"

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <initializer_list>
#include <iostream>
#include <map>
#include <new>
#include <vector>

namespace {

const char SILENCE_PREFIX[] = "//";
const char SEPARATOR_LINE[] = " ---- ---- ---- ---- ---- ---- ---- ----";
const size_t MAX_LOG_DIRECTORY = 516;

// Process-wide state. Created by the first construction and never freed: threads that are
// still running while the process exits may trace after the destructor, and must then find
// valid (if emptied) tables and locks rather than freed ones.
struct TraceState {
    std::atomic<bool> initialised{false};
    CRITICAL_SECTION outputLock;
    CRITICAL_SECTION lockListLock;
    SRWLOCK tableLock = SRWLOCK_INIT;                        // thread names and code scopes
    std::map<DWORD, std::string> threadNames;                 // tableLock
    // Looked up by view, so that testing a scope copies nothing.
    std::map<std::string, std::string, std::less<>> codeScope; // tableLock
    // The set holds a name: set once under tableLock and never cleared, so the common case (no
    // code scope) is decided without the lock.
    std::atomic<bool> anyCodeScope{false};
    // Changes whenever a thread is named, so that a thread's cached silence test is redone.
    std::atomic<unsigned> threadNamesVersion{0};
    std::map<DWORD, std::vector<const void*>> lockLists;      // lockListLock
    DWORD lastOutputThread = 0;                               // outputLock
    std::atomic<bool> abortOnError{false};
    std::atomic<bool> dump{true};
    std::atomic<int> outputMode{0};
    std::atomic<int> dumpLevel{INT_MAX};
    std::atomic<bool> timeStamp{true};
    std::string logPath;
    std::atomic<int> instanceCounter{0};
};

TraceState* s_state = nullptr;

TraceState* ready()
{
    TraceState* state = s_state;
    return (state != nullptr && state->initialised.load()) ? state : nullptr;
}

class SharedTableLock {
public:
    explicit SharedTableLock(TraceState* s) : s_(s) { AcquireSRWLockShared(&s_->tableLock); }
    ~SharedTableLock() { ReleaseSRWLockShared(&s_->tableLock); }
private:
    TraceState* s_;
};

class ExclusiveTableLock {
public:
    explicit ExclusiveTableLock(TraceState* s) : s_(s) { AcquireSRWLockExclusive(&s_->tableLock); }
    ~ExclusiveTableLock() { ReleaseSRWLockExclusive(&s_->tableLock); }
private:
    TraceState* s_;
};

class CriticalSectionHold {
public:
    explicit CriticalSectionHold(CRITICAL_SECTION* cs) : cs_(cs) { EnterCriticalSection(cs_); }
    ~CriticalSectionHold() { LeaveCriticalSection(cs_); }
private:
    CRITICAL_SECTION* cs_;
};

std::string hexThreadId(DWORD id)
{
    char text[16];
    snprintf(text, sizeof(text), "%08lx", static_cast<unsigned long>(id));
    return text;
}

std::string tagOf(TraceState* state, DWORD id)
{
    {
        SharedTableLock hold(state);
        auto it = state->threadNames.find(id);
        if (it != state->threadNames.end())
            return it->second;
    }
    return hexThreadId(id);
}

bool startsWithSilencePrefix(std::string_view text)
{
    return text.substr(0, 2) == SILENCE_PREFIX;
}

std::string concat(std::initializer_list<std::string_view> parts)
{
    size_t length = 0;
    for (std::string_view part : parts)
        length += part.size();
    std::string text;
    text.reserve(length);
    for (std::string_view part : parts)
        text.append(part);
    return text;
}

std::string scoped(std::string_view scope, std::string_view message)
{
    return concat({"[ ", scope, " ]", message});
}

// Whether the calling thread's tag carries the silence prefix. Kept per thread and redone
// only after a thread was named, so that a dump-on test costs no lock.
bool threadIsSilent(TraceState* state)
{
    thread_local unsigned checkedVersion = 0;
    thread_local bool checked = false;
    thread_local bool silent = false;
    unsigned version = state->threadNamesVersion.load(std::memory_order_acquire);
    if (!checked || checkedVersion != version) {
        silent = startsWithSilencePrefix(tagOf(state, GetCurrentThreadId()));
        checkedVersion = version;
        checked = true;
    }
    return silent;
}

// Whether out(message, level) would print.
bool outPrints(TraceState* state, int level)
{
    if (state->dump)
        return !threadIsSilent(state);
    return level >= state->dumpLevel;
}

// Whether a level-0 line through out() would print: attention and warning lines build their
// text only then.
bool outPrintsNow()
{
    TraceState* state = ready();
    return state != nullptr && outPrints(state, 0);
}

// Whether trace(scope, message, level) would print, and whether it goes through out() (no
// code scope set) or straight to write().
bool tracePrints(TraceState* state, std::string_view scope, int level, bool* viaOut)
{
    *viaOut = !state->anyCodeScope.load(std::memory_order_acquire);
    if (*viaOut)
        return !startsWithSilencePrefix(scope) && outPrints(state, level);
    if (scope.empty())
        return false;
    SharedTableLock hold(state);
    return state->codeScope.find(scope) != state->codeScope.end();
}

std::string localTime(const char* format)
{
    SYSTEMTIME now;
    GetLocalTime(&now);
    char text[64];
    snprintf(text, sizeof(text), format, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond);
    return text;
}

int s_initializerCount = 0;
alignas(CTrace) unsigned char s_instanceStorage[sizeof(CTrace)];

} // namespace

CTraceInitializer::CTraceInitializer()
{
    if (s_initializerCount++ == 0)
        new (s_instanceStorage) CTrace();
}

CTraceInitializer::~CTraceInitializer()
{
    if (--s_initializerCount == 0)
        reinterpret_cast<CTrace*>(s_instanceStorage)->~CTrace();
}

CTrace::CTrace() : owner_(false)
{
    if (ready() != nullptr) {
        out(" CTrace: the instance already exists; a second one was attempted", 0);
        return;
    }
    owner_ = true;
    if (s_state == nullptr) {
        s_state = new TraceState;
        InitializeCriticalSection(&s_state->outputLock);
        InitializeCriticalSection(&s_state->lockListLock);
    }
    TraceState* state = s_state;
    state->lastOutputThread = 0;
    state->abortOnError = false;
    state->dump = true;
    state->outputMode = 0;
    state->dumpLevel = INT_MAX;
    state->timeStamp = true;
    char directory[MAX_LOG_DIRECTORY + 1] = {0};
    DWORD length = GetCurrentDirectoryA(sizeof(directory), directory);
    if (length == 0 || length >= sizeof(directory))
        directory[0] = '\0';
    state->logPath = std::string(directory) + "\\log.dat";
    state->initialised = true;
}

CTrace::~CTrace()
{
    if (!owner_ || s_state == nullptr)
        return;
    TraceState* state = s_state;
    state->dump = false;
    state->abortOnError = false;
    state->initialised = false;
    {
        ExclusiveTableLock hold(state);
        state->threadNames.clear();
    }
    CriticalSectionHold hold(&state->lockListLock);
    state->lockLists.clear();
}

std::string CTrace::threadTag()
{
    TraceState* state = ready();
    if (state == nullptr)
        return hexThreadId(GetCurrentThreadId());
    return tagOf(state, GetCurrentThreadId());
}

bool CTrace::isTraced(std::string_view scope, int level)
{
    TraceState* state = ready();
    bool viaOut;
    return state != nullptr && tracePrints(state, scope, level, &viaOut);
}

void CTrace::trace(std::string_view scope, std::string_view message, int level)
{
    TraceState* state = ready();
    if (state == nullptr)
        return;
    bool viaOut;
    if (!tracePrints(state, scope, level, &viaOut))
        return;
    if (!viaOut)
        write(scoped(scope, message));
    else if (scope.empty())
        out(message, level);
    else
        out(scoped(scope, message), level);
}

void CTrace::out(std::string_view message, int level)
{
    TraceState* state = ready();
    if (state == nullptr)
        return;
    if (state->dump) {
        std::string tag = threadTag();
        if (startsWithSilencePrefix(tag))
            return;
        output(concat({"[", tag, "] ", message}));
        return;
    }
    if (level >= state->dumpLevel)
        write(message);
}

void CTrace::write(std::string_view message)
{
    output(concat({"[", threadTag(), "] ", message}));
}

void CTrace::scopedWrite(std::string_view scope, std::string_view message)
{
    if (scope.empty())
        write(message);
    else
        write(scoped(scope, message));
}

void CTrace::attention(std::string_view message)
{
    if (outPrintsNow())
        out(concat({"ATTENTION: ", message}), 0);
}

void CTrace::scopedAttention(std::string_view scope, std::string_view message)
{
    if (outPrintsNow())
        attention(scoped(scope, message));
}

void CTrace::warning(std::string_view message)
{
    if (outPrintsNow())
        out(concat({"WARNING: ", message}), 0);
}

void CTrace::scopedWarning(std::string_view scope, std::string_view message)
{
    if (outPrintsNow())
        warning(scoped(scope, message));
}

void CTrace::error(std::string_view message, int exitCode)
{
    TraceState* state = ready();
    if (state != nullptr && state->abortOnError)
        abort(concat({"ERROR: ", message}), exitCode);
    write(concat({"ERROR: ", message}));
}

void CTrace::scopedError(std::string_view scope, std::string_view message, int exitCode)
{
    error(scoped(scope, message), exitCode);
}

void CTrace::fatalError(std::string_view message, int exitCode)
{
    abort(concat({"FATAL ERROR: ", message}), exitCode);
}

void CTrace::scopedFatalError(std::string_view scope, std::string_view message, int exitCode)
{
    fatalError(scoped(scope, message), exitCode);
}

void CTrace::assertTrue(bool condition, std::string_view message, int exitCode)
{
    if (!condition)
        abort(concat({"ASSERT: ", message}), exitCode);
}

void CTrace::scopedAssertTrue(bool condition, std::string_view scope, std::string_view message, int exitCode)
{
    if (!condition)
        assertTrue(condition, scoped(scope, message), exitCode);
}

void CTrace::attentionBox(std::string_view message)
{
    CMessageBox::show(NULL, std::string(message), "Attention", MB_ICONEXCLAMATION | MB_OK);
}

void CTrace::warningBox(std::string_view message)
{
    CMessageBox::show(NULL, std::string(message), "Warning", MB_ICONINFORMATION | MB_OK);
}

void CTrace::abort(std::string_view message, int exitCode)
{
    write(concat({"[", hexThreadId(GetCurrentThreadId()), "] ", message}));
    write(localTime("ABORT: at%02d/%02d %02d:%02d:%02d"));
    if (exitCode >= 0 && exitCode <= 255)
        exit(exitCode);
    // The runtime would show its "abnormal program termination" box in a windowed program;
    // a stop must never wait for a user.
    _set_error_mode(_OUT_TO_STDERR);
    ::abort();
}

void CTrace::output(std::string_view line)
{
    TraceState* state = ready();
    if (state == nullptr)
        return;
    // Tracing between a failed call and its GetLastError must not change the answer.
    DWORD lastError = GetLastError();
    CriticalSectionHold hold(&state->outputLock);
    bool toFile = state->outputMode == 1;
    DWORD self = GetCurrentThreadId();
    if (self != state->lastOutputThread) {
        if (toFile)
            appendToLogFile(SEPARATOR_LINE);
        else
            std::cout << SEPARATOR_LINE << std::endl;
        state->lastOutputThread = self;
    }
    if (toFile)
        appendToLogFile(line);
    else
        std::cout << line << std::endl;
    SetLastError(lastError);
}

void CTrace::appendToLogFile(std::string_view line)
{
    TraceState* state = ready();
    if (state == nullptr)
        return;
    HANDLE file = CreateFileA(state->logPath.c_str(), GENERIC_READ | GENERIC_WRITE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_WRITE_THROUGH, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return;
    SetFilePointer(file, 0, NULL, FILE_END);
    std::string record;
    if (state->timeStamp)
        record = localTime("%02d/%02d %02d:%02d:%02d ");
    record += line;
    record += "\r\n";
    DWORD written = 0;
    WriteFile(file, record.data(), static_cast<DWORD>(record.size()), &written, NULL);
    CloseHandle(file);
}

void CTrace::setThreadName(std::string_view name)
{
    TraceState* state = ready();
    if (state == nullptr)
        return;
    DWORD self = GetCurrentThreadId();
    if (outPrints(state, 0))
        out(concat({" thread ", hexThreadId(self), " is named [", name, "]"}), 0);
    ExclusiveTableLock hold(state);
    state->threadNames[self] = std::string(name);
    state->threadNamesVersion.fetch_add(1, std::memory_order_release);
}

void CTrace::setDumpLevel(int level)
{
    if (TraceState* state = ready())
        state->dumpLevel = level;
}

void CTrace::setTimeStamp(bool on)
{
    if (TraceState* state = ready())
        state->timeStamp = on;
}

void CTrace::setAbortOnError(bool on)
{
    if (TraceState* state = ready())
        state->abortOnError = on;
}

void CTrace::setCodeScope(std::string_view list)
{
    TraceState* state = ready();
    if (state == nullptr)
        return;
    ExclusiveTableLock hold(state);
    size_t position = 0;
    while (position < list.size()) {
        size_t delimiter = list.find(';', position);
        if (delimiter == std::string_view::npos)
            delimiter = list.size();
        std::string name(list.substr(position, delimiter - position));
        state->codeScope[name] = name;
        state->anyCodeScope.store(true, std::memory_order_release);
        position = delimiter + 1;
    }
}

void CTrace::setOutputToFile()
{
    if (TraceState* state = ready())
        state->outputMode = 1;
}

void CTrace::setOutputToConsole()
{
    if (TraceState* state = ready())
        state->outputMode = 0;
}

void CTrace::setDumpOn()
{
    if (TraceState* state = ready())
        state->dump = true;
}

void CTrace::setDumpOff()
{
    if (TraceState* state = ready())
        state->dump = false;
}

bool CTrace::isDump()
{
    TraceState* state = ready();
    return state != nullptr && state->dump;
}

void CTrace::countUp()
{
    TraceState* state = s_state;
    if (state == nullptr)
        return;
    int value = ++state->instanceCounter;
    if (value % 20 == 0 && outPrintsNow())
        out("COUNTER record.[" + std::to_string(value) + "]", 0);
}

void CTrace::countUp(std::string_view) { countUp(); }

void CTrace::countDown()
{
    TraceState* state = s_state;
    if (state == nullptr)
        return;
    int value = --state->instanceCounter;
    if (value < 0 && outPrintsNow())
        out("COUNTER velow zero.[" + std::to_string(value) + "]", 0);
}

void CTrace::countDown(std::string_view) { countDown(); }

void CTrace::pushLock(const void* identity, int number, std::string_view place)
{
    TraceState* state = ready();
    if (state == nullptr)
        return;
    CriticalSectionHold hold(&state->lockListLock);
    DWORD self = GetCurrentThreadId();
    std::vector<const void*>& mine = state->lockLists[self];
    if (std::find(mine.begin(), mine.end(), identity) != mine.end()) {
        mine.push_back(identity);
        return;
    }
    for (const void* held : mine) {
        for (const auto& other : state->lockLists) {
            if (other.first == self || other.second.empty())
                continue;
            const std::vector<const void*>& theirs = other.second;
            bool recordedHeld = std::find(theirs.begin(), theirs.end(), held) != theirs.end();
            bool holdsWanted = std::find(theirs.begin(), theirs.end(), identity) != theirs.end();
            if (recordedHeld && holdsWanted) {
                mine.push_back(identity);
                warning(" !!!!!!!!!!!!!!!!!!!! DEADLOCK OCCURS !!!!!!!!!!!!!!!!!!!!");
                write(concat({" thread ", tagOf(state, self), " tried to lock at ", place, " [",
                              std::to_string(number), "]"}));
                write(" the object is already locked by thread " + tagOf(state, other.first));
                fatalError(" deadlock detected; the program stops", -1);
            }
        }
    }
    mine.push_back(identity);
}

void CTrace::popLock(const void* identity)
{
    TraceState* state = ready();
    if (state == nullptr)
        return;
    CriticalSectionHold hold(&state->lockListLock);
    auto list = state->lockLists.find(GetCurrentThreadId());
    if (list != state->lockLists.end()) {
        std::vector<const void*>& mine = list->second;
        auto record = std::find(mine.begin(), mine.end(), identity);
        if (record != mine.end()) {
            mine.erase(record);
            return;
        }
    }
    fatalError(" the thread popped a lock too often or did not lock the given object", -1);
}
