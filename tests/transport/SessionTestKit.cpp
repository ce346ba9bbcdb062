#include "SessionTestKit.h"

#include <tlhelp32.h>

#include <cstring>
#include <exception>

namespace {

const UINT WM_RUN_TASK = WM_APP + 50;

struct Task {
    const std::function<void()>* body;
    std::exception_ptr failure;
    HANDLE done;
};

} // namespace

LoopThread::LoopThread() : thread_(nullptr), threadId_(0), ready_(CreateEventA(nullptr, TRUE, FALSE, nullptr))
{
    thread_ = CreateThread(nullptr, 0, &LoopThread::entry, this, 0, &threadId_);
    WaitForSingleObject(ready_, INFINITE);
}

LoopThread::~LoopThread()
{
    PostThreadMessageA(threadId_, WM_QUIT, 0, 0);
    WaitForSingleObject(thread_, INFINITE);
    CloseHandle(thread_);
    CloseHandle(ready_);
}

DWORD WINAPI LoopThread::entry(void* self)
{
    static_cast<LoopThread*>(self)->loop();
    return 0;
}

void LoopThread::loop()
{
    MSG msg;
    PeekMessageA(&msg, nullptr, WM_USER, WM_USER, PM_NOREMOVE); // makes the queue
    SetEvent(ready_);
    while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
        if (msg.hwnd == nullptr && msg.message == WM_RUN_TASK) {
            Task* task = reinterpret_cast<Task*>(msg.lParam);
            try {
                (*task->body)();
            } catch (...) {
                task->failure = std::current_exception();
            }
            SetEvent(task->done);
            continue;
        }
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
}

void LoopThread::run(const std::function<void()>& task)
{
    Task record{&task, nullptr, CreateEventA(nullptr, TRUE, FALSE, nullptr)};
    PostThreadMessageA(threadId_, WM_RUN_TASK, 0, reinterpret_cast<LPARAM>(&record));
    WaitForSingleObject(record.done, INFINITE);
    CloseHandle(record.done);
    if (record.failure)
        std::rethrow_exception(record.failure);
}

namespace {

struct WindowSearch {
    std::string title;
    HWND found;
};

BOOL CALLBACK matchTitle(HWND hwnd, LPARAM context)
{
    WindowSearch* search = reinterpret_cast<WindowSearch*>(context);
    char title[256] = {0};
    GetWindowTextA(hwnd, title, sizeof title);
    if (search->title == title) {
        search->found = hwnd;
        return FALSE;
    }
    return TRUE;
}

} // namespace

HWND LoopThread::findWindow(const std::string& title)
{
    WindowSearch search{title, nullptr};
    EnumThreadWindows(threadId_, &matchTitle, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

WinsockUse::WinsockUse()
{
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
}

WinsockUse::~WinsockUse()
{
    WSACleanup();
}

void EventRecorder::OnSessionHandleEvent(int eventId, const std::string& terminalId)
{
    {
        std::lock_guard<std::mutex> hold(lock_);
        threads_.push_back(GetCurrentThreadId());
    }
    journal.add(std::to_string(eventId) + " " + terminalId);
}

std::vector<DWORD> EventRecorder::threads()
{
    std::lock_guard<std::mutex> hold(lock_);
    return threads_;
}

NoteElement::NoteElement(Journal& journal, const std::string& elementId) : journal_(journal), id_(elementId)
{
    setElementId(elementId);
    registerMethod("INS_note", &NoteElement::INS_note);
}

NoteElement::~NoteElement()
{
    try {
        plugOut();
    } catch (...) {
    }
    try {
        end();
    } catch (...) {
    }
}

void NoteElement::onPlugIn(const std::string&)
{
    journal_.add(getTerminalId() + " " + id_ + " onPlugIn");
}

void NoteElement::onPlugOut(const std::string&)
{
    journal_.add(getTerminalId() + " " + id_ + " onPlugOut");
    if (onPlugOutAction)
        onPlugOutAction();
}

void NoteElement::INS_note(const std::string& text)
{
    journal_.add(getTerminalId() + " " + id_ + " INS_note " + getCallerTerminal() + " [" + text + "]");
}

RawUdp::RawUdp() : socket_(socket(AF_INET, SOCK_DGRAM, 0)), port_(0)
{
    sockaddr_in local;
    std::memset(&local, 0, sizeof local);
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(socket_, reinterpret_cast<sockaddr*>(&local), sizeof local);
    int length = sizeof local;
    getsockname(socket_, reinterpret_cast<sockaddr*>(&local), &length);
    port_ = ntohs(local.sin_port);
}

RawUdp::~RawUdp()
{
    closesocket(socket_);
}

void RawUdp::sendTo(int port, const std::vector<unsigned char>& bytes)
{
    sockaddr_in to;
    std::memset(&to, 0, sizeof to);
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    to.sin_port = htons(static_cast<u_short>(port));
    sendto(socket_, reinterpret_cast<const char*>(bytes.data()), static_cast<int>(bytes.size()), 0,
           reinterpret_cast<sockaddr*>(&to), sizeof to);
}

bool RawUdp::receive(std::vector<unsigned char>& bytes, DWORD timeoutMs)
{
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(socket_, &readable);
    timeval wait = {static_cast<long>(timeoutMs / 1000), static_cast<long>(timeoutMs % 1000) * 1000};
    if (select(0, &readable, nullptr, nullptr, &wait) != 1)
        return false;
    bytes.resize(65536);
    int count = recv(socket_, reinterpret_cast<char*>(bytes.data()), static_cast<int>(bytes.size()), 0);
    if (count < 0)
        return false;
    bytes.resize(static_cast<size_t>(count));
    return true;
}

int threadCount()
{
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return -1;
    THREADENTRY32 entry;
    entry.dwSize = sizeof entry;
    int count = 0;
    DWORD self = GetCurrentProcessId();
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry))
        if (entry.th32OwnerProcessID == self)
            ++count;
    CloseHandle(snapshot);
    return count;
}

int handleCount()
{
    DWORD count = 0;
    if (!GetProcessHandleCount(GetCurrentProcess(), &count))
        return -1;
    return static_cast<int>(count);
}
