#include "TestSupport.h"

#include "CMessageBox.h"
#include "CTrace.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <mutex>

namespace {

std::mutex s_boxesLock;
std::vector<ShownBox> s_boxes;

int recordBox(HWND owner, const std::string& text, const std::string& caption, UINT type)
{
    std::lock_guard<std::mutex> hold(s_boxesLock);
    s_boxes.push_back({text, caption, type, owner});
    return IDOK;
}

// No test may ever wait for a user: answer every box from the start of the test program.
struct AnswerBoxes {
    AnswerBoxes() { CMessageBox::setHandler(recordBox); }
} s_answerBoxes;

void deleteTree(const std::string& folder)
{
    WIN32_FIND_DATAA entry;
    HANDLE find = FindFirstFileA((folder + "\\*").c_str(), &entry);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            std::string name = entry.cFileName;
            if (name == "." || name == "..")
                continue;
            std::string full = folder + "\\" + name;
            if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                deleteTree(full);
            else
                DeleteFileA(full.c_str());
        } while (FindNextFileA(find, &entry));
        FindClose(find);
    }
    RemoveDirectoryA(folder.c_str());
}

} // namespace

TempDir::TempDir()
{
    static std::atomic<int> counter{0};
    char temp[MAX_PATH];
    GetTempPathA(sizeof(temp), temp);
    char current[MAX_PATH];
    GetCurrentDirectoryA(sizeof(current), current);
    previous_ = current;
    for (;;) {
        char name[64];
        snprintf(name, sizeof(name), "tavtest-%lu-%d-%lu", GetCurrentProcessId(), counter++, GetTickCount());
        path_ = std::string(temp) + name;
        if (CreateDirectoryA(path_.c_str(), NULL))
            break;
    }
    SetCurrentDirectoryA(path_.c_str());
}

TempDir::~TempDir()
{
    SetCurrentDirectoryA(previous_.c_str());
    deleteTree(path_);
}

std::string fileBytes(const std::string& path)
{
    std::string bytes;
    FILE* file = fopen(path.c_str(), "rb");
    if (file == nullptr)
        return bytes;
    char buffer[4096];
    size_t got;
    while ((got = fread(buffer, 1, sizeof(buffer), file)) > 0)
        bytes.append(buffer, got);
    fclose(file);
    return bytes;
}

std::string TempDir::logBytes() const
{
    return fileBytes(file("log.dat"));
}

std::vector<std::string> TempDir::logLines() const
{
    std::vector<std::string> lines;
    std::string bytes = logBytes();
    size_t position = 0;
    while (position < bytes.size()) {
        size_t end = bytes.find("\r\n", position);
        if (end == std::string::npos) {
            lines.push_back(bytes.substr(position) + "<no CR LF>");
            break;
        }
        lines.push_back(bytes.substr(position, end - position));
        position = end + 2;
    }
    return lines;
}

namespace {
const char CHILD_FLAG[] = "--tavelin-test-child";
// Starts of a child process, and the pause between them.
const int START_ATTEMPTS = 3;
const DWORD START_RETRY_MS = 200;
}

bool isChild()
{
    return strstr(GetCommandLineA(), CHILD_FLAG) != nullptr;
}

void childTracesToFile(bool dump)
{
    CTrace::setOutputToFile();
    CTrace::setTimeStamp(false);
    CTrace::setDumpOff();
    CTrace::setThreadName("CHILD");
    if (dump)
        CTrace::setDumpOn();
}

HANDLE startProcess(const std::string& program, const std::string& commandLine, const std::string& folder,
                    const std::string& outputFile)
{
    SECURITY_ATTRIBUTES inheritable = {sizeof(inheritable), NULL, TRUE};
    HANDLE output = CreateFileA(outputFile.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inheritable,
                                CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    STARTUPINFOA startup = {};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = output;
    startup.hStdError = output;
    PROCESS_INFORMATION process = {};
    std::vector<char> mutableLine(commandLine.begin(), commandLine.end());
    mutableLine.push_back('\0');
    // Under a loaded machine Wine now and then refuses a start with ERROR_INTERNAL_ERROR; a
    // moment later the same start goes through.
    BOOL started = FALSE;
    DWORD error = 0;
    for (int attempt = 0; attempt < START_ATTEMPTS && !started; ++attempt) {
        if (attempt > 0)
            Sleep(START_RETRY_MS);
        started = CreateProcessA(program.c_str(), mutableLine.data(), NULL, NULL, TRUE, 0, NULL, folder.c_str(),
                                 &startup, &process);
        error = started ? 0 : GetLastError();
        if (!started && error != ERROR_INTERNAL_ERROR)
            break;
    }
    CloseHandle(output);
    if (!started) {
        ADD_FAILURE() << "cannot start " << program << ": " << error;
        return NULL;
    }
    CloseHandle(process.hThread);
    return process.hProcess;
}

int runInChild(const TempDir& dir, DWORD timeoutMs)
{
    const testing::TestInfo* test = testing::UnitTest::GetInstance()->current_test_info();
    char program[MAX_PATH];
    GetModuleFileNameA(NULL, program, sizeof(program));
    std::string commandLine = std::string("\"") + program + "\" --gtest_filter=" + test->test_suite_name() + "."
                              + test->name() + " " + CHILD_FLAG;
    HANDLE process = startProcess(program, commandLine, dir.path(), dir.file("child.txt"));
    if (process == NULL)
        return -1;
    DWORD status = 0;
    if (WaitForSingleObject(process, timeoutMs) != WAIT_OBJECT_0) {
        TerminateProcess(process, 1);
        WaitForSingleObject(process, INFINITE);
        ADD_FAILURE() << "the child did not end in time";
        status = static_cast<DWORD>(-1);
    } else {
        GetExitCodeProcess(process, &status);
    }
    CloseHandle(process);
    return static_cast<int>(status);
}

std::vector<ShownBox> shownBoxes()
{
    std::lock_guard<std::mutex> hold(s_boxesLock);
    return s_boxes;
}

void clearShownBoxes()
{
    std::lock_guard<std::mutex> hold(s_boxesLock);
    s_boxes.clear();
}

TraceCapture::TraceCapture() : previous_(std::cout.rdbuf(&captured_)) {}

TraceCapture::~TraceCapture()
{
    std::cout.rdbuf(previous_);
}

std::string TraceCapture::text() const
{
    return captured_.text();
}

void TraceCapture::clear()
{
    captured_.clear();
}

std::string TraceCapture::Buffer::text() const
{
    std::lock_guard<std::mutex> hold(lock_);
    return text_;
}

void TraceCapture::Buffer::clear()
{
    std::lock_guard<std::mutex> hold(lock_);
    text_.clear();
}

TraceCapture::Buffer::int_type TraceCapture::Buffer::overflow(int_type c)
{
    if (traits_type::eq_int_type(c, traits_type::eof()))
        return traits_type::not_eof(c);
    std::lock_guard<std::mutex> hold(lock_);
    text_.push_back(traits_type::to_char_type(c));
    return c;
}

std::streamsize TraceCapture::Buffer::xsputn(const char* s, std::streamsize n)
{
    std::lock_guard<std::mutex> hold(lock_);
    text_.append(s, static_cast<size_t>(n));
    return n;
}

int TraceCapture::count(const std::string& piece) const
{
    std::string all = text();
    int found = 0;
    for (size_t at = all.find(piece); !piece.empty() && at != std::string::npos; at = all.find(piece, at + piece.size()))
        ++found;
    return found;
}

std::string hexBytes(const void* data, size_t size)
{
    std::string text;
    const unsigned char* bytes = static_cast<const unsigned char*>(data);
    for (size_t i = 0; i < size; ++i) {
        char digits[4];
        snprintf(digits, sizeof(digits), i == 0 ? "%02X" : " %02X", bytes[i]);
        text += digits;
    }
    return text;
}

std::string hexBytes(const std::vector<unsigned char>& bytes)
{
    return hexBytes(bytes.data(), bytes.size());
}

std::vector<unsigned char> bytesOf(const std::string& hex)
{
    std::vector<unsigned char> bytes;
    for (size_t i = 0; i + 1 < hex.size() + 1; ) {
        while (i < hex.size() && hex[i] == ' ')
            ++i;
        if (i >= hex.size())
            break;
        bytes.push_back(static_cast<unsigned char>(strtoul(hex.substr(i, 2).c_str(), nullptr, 16)));
        i += 2;
    }
    return bytes;
}

Worker::Worker() : thread_([this] { loop(); }) {}

Worker::~Worker()
{
    {
        std::lock_guard<std::mutex> hold(lock_);
        stopping_ = true;
    }
    changed_.notify_all();
    thread_.join();
}

void Worker::post(std::function<void()> task)
{
    {
        std::lock_guard<std::mutex> hold(lock_);
        tasks_.push_back(std::move(task));
    }
    changed_.notify_all();
}

void Worker::run(std::function<void()> task)
{
    post(std::move(task));
    waitIdle(INFINITE);
}

bool Worker::waitIdle(DWORD timeoutMs)
{
    std::unique_lock<std::mutex> hold(lock_);
    auto idle = [this] { return tasks_.empty() && !busy_; };
    if (timeoutMs == INFINITE) {
        changed_.wait(hold, idle);
        return true;
    }
    return changed_.wait_for(hold, std::chrono::milliseconds(timeoutMs), idle);
}

void Worker::loop()
{
    std::unique_lock<std::mutex> hold(lock_);
    for (;;) {
        changed_.wait(hold, [this] { return stopping_ || !tasks_.empty(); });
        if (tasks_.empty())
            return;
        std::function<void()> task = std::move(tasks_.front());
        tasks_.pop_front();
        busy_ = true;
        hold.unlock();
        task();
        hold.lock();
        busy_ = false;
        changed_.notify_all();
    }
}

bool waitUntil(const std::function<bool()>& condition, DWORD timeoutMs)
{
    for (DWORD waited = 0; !condition(); waited += 5) {
        if (waited >= timeoutMs)
            return false;
        Sleep(5);
    }
    return true;
}

void Journal::add(const std::string& entry)
{
    std::lock_guard<std::mutex> hold(lock_);
    entries_.push_back(entry);
    changed_.notify_all();
}

std::vector<std::string> Journal::entries()
{
    std::lock_guard<std::mutex> hold(lock_);
    return entries_;
}

void Journal::clear()
{
    std::lock_guard<std::mutex> hold(lock_);
    entries_.clear();
}

bool Journal::waitFor(size_t count, DWORD timeoutMs)
{
    std::unique_lock<std::mutex> hold(lock_);
    return changed_.wait_for(hold, std::chrono::milliseconds(timeoutMs), [&] { return entries_.size() >= count; });
}

bool hasLineWith(const std::vector<std::string>& lines, const std::string& piece)
{
    for (const std::string& line : lines)
        if (line.find(piece) != std::string::npos)
            return true;
    return false;
}

HWND findOwnWindow(const char* className, const char* title, bool visibleOnly)
{
    HWND found = nullptr;
    while ((found = FindWindowExA(nullptr, found, className, title)) != nullptr) {
        DWORD process = 0;
        GetWindowThreadProcessId(found, &process);
        if (process == GetCurrentProcessId() && (!visibleOnly || IsWindowVisible(found)))
            return found;
    }
    return nullptr;
}
