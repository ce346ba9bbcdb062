#pragma once
// Helpers for every test program: private working folders (the trace log "log.dat" goes to
// the current folder), child processes for paths that end the process, and message boxes
// answered without a user.
#include <windows.h>

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

// A fresh folder under the temporary path, made the current folder for the object's life.
// A child process started meanwhile (a death test) inherits it, so its log.dat lands there.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "\\" + name; }
    // Lines of log.dat in this folder, CR LF removed; empty when there is no file.
    std::vector<std::string> logLines() const;
    std::string logBytes() const;

private:
    std::string path_;
    std::string previous_;
};

// Paths that end the process run in a child: the running test is started again in a new
// process whose current folder is dir's (so its log.dat lands there) and takes the isChild()
// branch, which must end with exit(). Returns the child's exit status, -1 when it did not end
// within the time (it is then killed). The child's console output goes to child.txt in dir.
int runInChild(const TempDir& dir, DWORD timeoutMs = 120000);
bool isChild();
// Starts a program in folder with this process's environment, its console output to
// outputFile. The process handle (the caller closes it), or null after a test failure.
HANDLE startProcess(const std::string& program, const std::string& commandLine, const std::string& folder,
                    const std::string& outputFile);
// Whether any of the lines holds piece (a log line a path must have written).
bool hasLineWith(const std::vector<std::string>& lines, const std::string& piece);
// The whole content of a file; empty when it cannot be read.
std::string fileBytes(const std::string& path);
// Puts a child's trace in a known state: lines to log.dat without stamps, the thread named
// CHILD (announced while the dump flag is off, so the file does not show it), then the dump
// flag as asked.
void childTracesToFile(bool dump);

// Exit status of a process ended through the C runtime's abnormal termination.
const int ABNORMAL_EXIT = 3;

// The boxes shown through CMessageBox since the last clear.
struct ShownBox {
    std::string text;
    std::string caption;
    UINT type;
    HWND owner;
};
std::vector<ShownBox> shownBoxes();
void clearShownBoxes();

// Collects for its life what the trace facility prints to the console (its default output),
// so that a test can check the lines a path wrote. Read it once the traced work has ended.
class TraceCapture {
public:
    TraceCapture();
    ~TraceCapture();
    TraceCapture(const TraceCapture&) = delete;
    TraceCapture& operator=(const TraceCapture&) = delete;

    // Safe while other threads trace: tests poll it to wait for a line.
    std::string text() const;
    // How often piece occurs in what was captured.
    int count(const std::string& piece) const;
    void clear();

private:
    // Collects what is written, under a lock of its own.
    class Buffer : public std::streambuf {
    public:
        std::string text() const;
        void clear();

    protected:
        int_type overflow(int_type c) override;
        std::streamsize xsputn(const char* s, std::streamsize n) override;

    private:
        mutable std::mutex lock_;
        std::string text_;
    };

    Buffer captured_;
    std::streambuf* previous_;
};

std::string hexBytes(const void* data, size_t size);
std::string hexBytes(const std::vector<unsigned char>& bytes);
std::vector<unsigned char> bytesOf(const std::string& hex);

// Polls the condition every few milliseconds; false when it still fails after the time.
bool waitUntil(const std::function<bool()>& condition, DWORD timeoutMs = 10000);

// A top-level window of this process with that class and title (either may be null), visible
// when asked, or null. The tests share one prefix and one display: a search by class or title
// alone can meet another test's window.
HWND findOwnWindow(const char* className, const char* title, bool visibleOnly = false);

// Lines noted by any thread, in order: what a stand-in saw, to compare with what a test expects.
class Journal {
public:
    void add(const std::string& entry);
    std::vector<std::string> entries();
    void clear();
    // True once the journal holds count entries.
    bool waitFor(size_t count, DWORD timeoutMs);

private:
    std::mutex lock_;
    std::condition_variable changed_;
    std::vector<std::string> entries_;
};

// A thread that runs the tasks given to it one after the other.
class Worker {
public:
    Worker();
    // Waits for the tasks given so far; a task that never returns keeps it waiting.
    ~Worker();
    Worker(const Worker&) = delete;
    Worker& operator=(const Worker&) = delete;

    void post(std::function<void()> task);
    // Posts the task and waits until it has run.
    void run(std::function<void()> task);
    // True when every task given so far has run within the time.
    bool waitIdle(DWORD timeoutMs);

private:
    void loop();

    std::mutex lock_;
    std::condition_variable changed_;
    std::deque<std::function<void()>> tasks_;
    bool busy_ = false;
    bool stopping_ = false;
    std::thread thread_;
};
