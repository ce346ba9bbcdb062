// Speed of one file through the middleware between two hosts of the test LAN, next to raw
// Winsock TCP of the same file between the same hosts in the same run. lan_bench.sh starts one
// of these per host; they meet through files in a folder both see:
//
//   quarn_file_bench receive DIR          the middleware server with a watched directory, and a
//                                         raw TCP receiver
//   quarn_file_bench send DIR IP FILE     both ways to IP; prints RESULT lines
//
// Each side of the raw transfer does what the middleware does with the file: the sender reads
// it from disk, the receiver writes it to a temporary file; the time runs from the connection's
// start to the receiver's word that the file is stored. For the middleware, from the execution
// to QUARN_STATUS_SEND_PROGRESS + 100 (the receiver stored it).
#include "CQuarnComm.h"
#include "CQuarnSrvCore.h"
#include "CQuarnWatchWindow.h"
#include "QuarnCodes.h"
#include "QuarnMessages.h"

#include <winsock2.h>
#include <ws2tcpip.h>
#include <fcntl.h>
#include <io.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr WORD RAW_PORT = 47710;
constexpr DWORD RAW_CHUNK = 65536;
constexpr DWORD WAIT_MS = 120000;     // for any one step
constexpr DWORD RUN_LIMIT_MS = 600000;
const wchar_t WATCHED[] = L"\\Bench";

double g_ticksPerSecond = 0;

double now()
{
    LARGE_INTEGER t;
    QueryPerformanceCounter(&t);
    return static_cast<double>(t.QuadPart) / g_ticksPerSecond;
}

void line(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    std::vprintf(format, args);
    va_end(args);
    std::putchar('\n');
    std::fflush(stdout);
}

int fail(const char* what, unsigned long code = GetLastError())
{
    line("FAIL %s (0x%08lX)", what, code);
    return 1;
}

std::string fileIn(const std::string& dir, const char* name)
{
    return dir + "\\" + name;
}

bool exists(const std::string& file)
{
    return GetFileAttributesA(file.c_str()) != INVALID_FILE_ATTRIBUTES;
}

void touch(const std::string& file, const std::string& text = "")
{
    FILE* f = std::fopen(file.c_str(), "wb");
    if (f != nullptr) {
        std::fputs(text.c_str(), f);
        std::fclose(f);
    }
}

std::string readText(const std::string& file)
{
    std::string text;
    FILE* f = std::fopen(file.c_str(), "rb");
    if (f == nullptr)
        return text;
    char buffer[256];
    size_t n = std::fread(buffer, 1, sizeof(buffer), f);
    std::fclose(f);
    return std::string(buffer, n);
}

// Runs the thread's messages (the middleware's and the windows') until done says so or the
// time is up.
template <typename Done> bool pumpUntil(Done done, DWORD timeoutMs)
{
    ULONGLONG deadline = GetTickCount64() + timeoutMs;
    while (!done()) {
        if (GetTickCount64() >= deadline)
            return false;
        MSG message;
        if (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageA(&message);
        else
            MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
    }
    return true;
}

bool receiveAll(SOCKET s, char* into, int size)
{
    for (int got = 0; got < size;) {
        int n = recv(s, into + got, size - got, 0);
        if (n <= 0)
            return false;
        got += n;
    }
    return true;
}

bool sendAll(SOCKET s, const char* from, int size)
{
    for (int sent = 0; sent < size;) {
        int n = send(s, from + sent, size - sent, 0);
        if (n <= 0)
            return false;
        sent += n;
    }
    return true;
}

// A window that keeps the file-transfer notices it is told.
struct NoticeWindow {
    HWND hwnd = nullptr;
    std::vector<std::pair<DWORD, DWORD>> notices;

    NoticeWindow()
    {
        WNDCLASSA windowClass = {};
        windowClass.lpfnWndProc = proc;
        windowClass.hInstance = GetModuleHandleA(nullptr);
        windowClass.lpszClassName = "QuarnBenchWindow";
        RegisterClassA(&windowClass);
        hwnd = CreateWindowA("QuarnBenchWindow", "", WS_DISABLED, 0, 0, 0, 0, nullptr, nullptr, GetModuleHandleA(nullptr),
                             nullptr);
        SetWindowLongPtrA(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    }
    ~NoticeWindow() { DestroyWindow(hwnd); }

    static LRESULT CALLBACK proc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
    {
        NoticeWindow* self = reinterpret_cast<NoticeWindow*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
        if (self != nullptr && message == QuarnFileTransferMessage()) {
            self->notices.emplace_back(static_cast<DWORD>(wParam), static_cast<DWORD>(lParam));
            return 0;
        }
        return DefWindowProcA(hwnd, message, wParam, lParam);
    }
    // The last code told, 0 when none.
    DWORD last() const { return notices.empty() ? 0 : notices.back().second; }
    // Whether the transfer of this side (its first progress code) ended: a code was told that
    // is none of its percentages.
    bool ended(DWORD progress) const { return !notices.empty() && (last() < progress || last() > progress + 99); }
};

// The server core started on this thread, as the server module runs it.
class Node {
public:
    bool start()
    {
        core_.Lock(INFINITE);
        bool started = core_.Start();
        core_.Unlock();
        return started;
    }
    ~Node()
    {
        core_.Lock(INFINITE);
        core_.Stop();
        core_.Unlock();
    }
    CQuarnSrvCore& core() { return core_; }
    CQuarnComm& comm() { return *core_.GetComm(); }

private:
    CQuarnSrvCore core_;
};

int receive(const std::string& dir)
{
    // The raw receiver first: the sender measures it first.
    SOCKET listener = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_port = htons(RAW_PORT);
    if (bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 || listen(listener, 1) != 0)
        return fail("raw listening socket", WSAGetLastError());
    touch(fileIn(dir, "raw.ready"));
    SOCKET s = accept(listener, nullptr, nullptr);
    closesocket(listener);
    if (s == INVALID_SOCKET)
        return fail("raw accept", WSAGetLastError());
    unsigned long long size = 0;
    if (!receiveAll(s, reinterpret_cast<char*>(&size), sizeof(size)))
        return fail("raw size", WSAGetLastError());
    char temp[MAX_PATH], name[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    GetTempFileNameA(temp, "RAW", 0, name);
    HANDLE file = CreateFileA(name, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_TEMPORARY, nullptr);
    std::vector<char> buffer(RAW_CHUNK);
    for (unsigned long long got = 0; got < size;) {
        int n = recv(s, buffer.data(), static_cast<int>(std::min<unsigned long long>(size - got, RAW_CHUNK)), 0);
        DWORD written = 0;
        if (n <= 0 || !WriteFile(file, buffer.data(), static_cast<DWORD>(n), &written, nullptr))
            return fail("raw contents", WSAGetLastError());
        got += static_cast<unsigned long long>(n);
    }
    CloseHandle(file);
    char stored = 'S';
    sendAll(s, &stored, 1);
    char end;
    recv(s, &end, 1, 0);
    closesocket(s);
    DeleteFileA(name);
    line("RAW received %llu bytes", size);

    // Then the middleware, with a watch record for the watched directory.
    Node node;
    if (!node.start())
        return fail("middleware start");
    NoticeWindow window;
    node.core().GetWatchWindow()->Add(1, window.hwnd, WATCHED);
    char guid[64];
    std::snprintf(guid, sizeof(guid), "%ls", node.core().GetGuidText().c_str());
    touch(fileIn(dir, "guid.tmp"), guid);
    MoveFileA(fileIn(dir, "guid.tmp").c_str(), fileIn(dir, "receiver.guid").c_str());
    if (!pumpUntil([&] { return window.ended(QUARN_STATUS_RECEIVE_PROGRESS); }, WAIT_MS))
        return fail("no file through the middleware", window.last());
    if (window.last() != QUARN_STATUS_RECEIVE_PROGRESS + 100)
        return fail("the middleware's transfer", window.last());
    node.comm().FileTransferClose(window.notices.back().first);
    line("MIDDLEWARE received, %u notices", static_cast<unsigned>(window.notices.size()));
    // The sender's last notice needs this node for a little longer.
    pumpUntil([&] { return exists(fileIn(dir, "sender.done")); }, WAIT_MS);
    return 0;
}

int send(const std::string& dir, const char* ip, const std::string& source)
{
    HANDLE file = CreateFileA(source.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    LARGE_INTEGER size;
    if (file == INVALID_HANDLE_VALUE || !GetFileSizeEx(file, &size))
        return fail("source file");
    unsigned long long bytes = static_cast<unsigned long long>(size.QuadPart);
    double mib = static_cast<double>(bytes) / (1024.0 * 1024.0);

    // Raw TCP.
    ULONGLONG deadline = GetTickCount64() + WAIT_MS;
    while (!exists(fileIn(dir, "raw.ready")) && GetTickCount64() < deadline)
        Sleep(20);
    SOCKET s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in to = {};
    to.sin_family = AF_INET;
    to.sin_port = htons(RAW_PORT);
    inet_pton(AF_INET, ip, &to.sin_addr);
    double started = now();
    if (connect(s, reinterpret_cast<sockaddr*>(&to), sizeof(to)) != 0)
        return fail("raw connect", WSAGetLastError());
    sendAll(s, reinterpret_cast<const char*>(&bytes), sizeof(bytes));
    std::vector<char> buffer(RAW_CHUNK);
    DWORD read = 0;
    while (ReadFile(file, buffer.data(), RAW_CHUNK, &read, nullptr) && read > 0) {
        if (!sendAll(s, buffer.data(), static_cast<int>(read)))
            return fail("raw send", WSAGetLastError());
    }
    char stored = 0;
    if (recv(s, &stored, 1, 0) != 1 || stored != 'S')
        return fail("raw answer", WSAGetLastError());
    double rawSeconds = now() - started;
    shutdown(s, SD_SEND);
    closesocket(s);
    CloseHandle(file);

    // The middleware: this node finds the receiver's, opens a transfer to its watched
    // directory, fills the temporary file with the source and executes it.
    Node node;
    if (!node.start())
        return fail("middleware start");
    NoticeWindow window;
    deadline = GetTickCount64() + WAIT_MS;
    while (!exists(fileIn(dir, "receiver.guid")) && GetTickCount64() < deadline)
        Sleep(20);
    std::string guid = readText(fileIn(dir, "receiver.guid"));
    std::wstring destination = L"\\" + std::wstring(guid.begin(), guid.end()) + WATCHED;
    DWORD handle = 0;
    if (!pumpUntil(
            [&] {
                handle = node.comm().FileTransferOpen(destination.c_str(), L"\\Bench", L"bench.bin", window.hwnd);
                return handle != 0;
            },
            WAIT_MS))
        return fail("the receiving node was not found");
    std::wstring temp;
    node.comm().FileTransferGetTempName(handle, temp);
    std::wstring wideSource(source.begin(), source.end());
    if (!CopyFileW(wideSource.c_str(), temp.c_str(), FALSE))
        return fail("filling the transfer");
    started = now();
    if (!node.comm().FileTransferExec(handle))
        return fail("execution");
    if (!pumpUntil([&] { return window.ended(QUARN_STATUS_SEND_PROGRESS); }, WAIT_MS)
        || window.last() != QUARN_STATUS_SEND_PROGRESS + 100)
        return fail("the middleware's transfer", window.last());
    double middlewareSeconds = now() - started;
    touch(fileIn(dir, "sender.done"));
    line("RESULT file_mib %.1f", mib);
    line("RESULT middleware_mibs %.1f", mib / middlewareSeconds);
    line("RESULT raw_mibs %.1f", mib / rawSeconds);
    line("RESULT middleware_notices %u", static_cast<unsigned>(window.notices.size()));
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    _setmode(_fileno(stdout), _O_BINARY);
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    g_ticksPerSecond = static_cast<double>(frequency.QuadPart);
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
    int rc = 64;
    if (argc > 2 && std::strcmp(argv[1], "receive") == 0)
        rc = receive(argv[2]);
    else if (argc > 4 && std::strcmp(argv[1], "send") == 0)
        rc = send(argv[2], argv[3], argv[4]);
    else
        std::fprintf(stderr, "usage: quarn_file_bench receive DIR | send DIR IP FILE\n");
    WSACleanup();
    return rc;
}
