// Drives tavapp as a user would, for the test scripts: starts it, finds its windows and message
// boxes, reads their texts, rectangles, styles and buttons, presses buttons with real mouse
// input, posts and sends messages, and reads the registry values the program keeps. It runs on
// the same (test-LAN) host as the program, under the same Wine prefix.
//
//   tav_driver COMMANDFILE LOGFILE
//
// Commands, one a line, read from COMMANDFILE as the script appends them; each is answered in
// LOGFILE by its result lines and then "DONE <line number>":
//   start ID FOLDER PROGRAM [ARGS]   start a program in FOLDER      -> STARTED ID <pid> | FAILED ...
//   exit ID SECONDS                  wait for its end               -> EXIT ID <code> | RUNNING ID
//   kill ID                          end it at once                 -> KILLED ID
//   box ID SECONDS                   wait for a message box of it   -> BOX ID ... | NOBOX ID
//   press ID TEXT                    click the button of the last box (real mouse input)
//   windows ID                       its top-level windows          -> WINDOW ID ... per window
//   find ID STYLEMASK [COUNT]        the first in z-order (the newest) of its windows with all
//                                    these style bits, once at least COUNT (1) have them: the target
//   main ID                          its main window (the second of its hidden popups it made):
//                                    the target                          -> WINDOW ID ... | NOWINDOW ID
//   send MSG WPARAM LPARAM           SendMessage to the target      -> SENT <result> <ms> ms
//   post MSG WPARAM LPARAM           PostMessage to the target      -> POSTED <0|1>
//   module ID FILE                   where ID loaded FILE from      -> MODULE ID <path> | NOMODULE ID
//   key PATH                         the key below HKEY_CURRENT_USER that reg and regdel read
//                                    (the rest of the line: a path may hold blanks)
//   reg VALUE                        a value of it                  -> REG VALUE <type> [data] | REG VALUE none
//   regdel [VALUE]                   delete the key (or one value)
//   user                             the logged-on user's name      -> USER [name]
//   dialog ID                        its main dialog (the top-level dialog with a task-bar
//                                    button): the target            -> DIALOG ID title=[..]
//                                    client=WxH exstyle=.. visible= iconic= owner=<class|0>
//                                    ownervisible= ownerprocess=<same|other> rect=l,t,r,b | NODIALOG ID
//   child CTRLID                     the main dialog's child of that id: the target -> WINDOW ...
//   inner CTRLID KIDID...            the main dialog's child of that id, then its child of the
//                                    next id, and so on: the target -> WINDOW KIDID ... | NOWINDOW KIDID
//                                    (the WINDOW line's style tells WS_DISABLED)
//   kids CTRLID                      the children of that child, top first -> KIDS CTRLID <n>
//                                    and per child " <w>x<h>:<visible 0|1>" | NOWINDOW CTRLID
//   watch ID                         look out from now on (a thread of its own, 2 minutes at
//                                    most) for its termination notice: a visible topmost tool
//                                    window, which may be up for a moment only
//   notice ID SECONDS                the notice the watch saw, waited for -> NOTICE ID rect=l,t,r,b | NONOTICE ID
//   bitmap FILE NAME                 keep the bitmap NAME of the module FILE for match
//   match X Y W H [BX BY]            the kept bitmap's pixels from (BX, BY) (default X, Y)
//                                    against the screen's over the main dialog's client
//                                    rectangle (X, Y, W, H) -> MATCH <same> <of>
//   drag X Y DX DY                   real press at the target's client point, moved by (DX, DY)
//                                    in steps, released there (0 0: a click) -> DRAGGED
//   sleep MS
//   quit
// A BOX line: "BOX ID caption=[..] text=[..] icon=<error|warning|question|information|none>
// buttons=[OK,Cancel] owner=<0|class of the owner> topmost=<0|1>", line breaks of a text as \n.
#include <windows.h>
#include <tlhelp32.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

FILE* g_log = nullptr;
const DWORD kCommandWait = 600000;   // ms without a new command before the driver gives up

void say(const std::string& line)
{
    std::fputs((line + "\n").c_str(), g_log);
    std::fflush(g_log);
}

std::string escaped(const std::string& text)
{
    std::string out;
    for (char c : text) {
        if (c == '\n')
            out += "\\n";
        else if (c == '\r')
            continue;
        else if (c == '\t')
            out += "\\t";
        else
            out += c;
    }
    return out;
}

std::string windowText(HWND window)
{
    char text[4096] = {};
    GetWindowTextA(window, text, sizeof(text));
    return text;
}

std::string className(HWND window)
{
    char name[256] = {};
    GetClassNameA(window, name, sizeof(name));
    return name;
}

std::string hex(unsigned long long value)
{
    char text[32];
    std::snprintf(text, sizeof(text), "0x%llX", value);
    return text;
}

struct Program {
    HANDLE process = nullptr;
    DWORD pid = 0;
};
std::map<std::string, Program> g_programs;
HWND g_box = nullptr;
HWND g_target = nullptr;
HWND g_dialog = nullptr;
// What the notice watch saw.
std::thread g_watcher;
std::atomic<bool> g_noticeSeen{false};
std::atomic<bool> g_watchEnds{false};
RECT g_noticeRect = {0, 0, 0, 0};

void endWatch()
{
    g_watchEnds = true;
    if (g_watcher.joinable())
        g_watcher.join();
    g_watchEnds = false;
}
// The kept bitmap's pixels, rows top first, 0x00RRGGBB.
std::vector<DWORD> g_bitmap;
int g_bitmapWidth = 0;
int g_bitmapHeight = 0;

std::vector<HWND> topWindows(DWORD pid)
{
    struct Search {
        DWORD pid;
        std::vector<HWND> found;
    } search{pid, {}};
    EnumWindows(
        [](HWND window, LPARAM param) -> BOOL {
            auto* s = reinterpret_cast<Search*>(param);
            DWORD owner = 0;
            GetWindowThreadProcessId(window, &owner);
            if (owner == s->pid)
                s->found.push_back(window);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.found;
}

// A WINDOW line: class, title, style, visibility and rectangle.
void sayWindow(const std::string& id, HWND window)
{
    DWORD style = static_cast<DWORD>(GetWindowLongPtrA(window, GWL_STYLE));
    RECT rect;
    GetWindowRect(window, &rect);
    say("WINDOW " + id + " class=[" + className(window) + "] title=[" + escaped(windowText(window)) + "] style=" +
        hex(style) + " visible=" + (IsWindowVisible(window) ? "1" : "0") + " rect=" + std::to_string(rect.left) + "," +
        std::to_string(rect.top) + "," + std::to_string(rect.right) + "," + std::to_string(rect.bottom));
}

// A message box: a visible dialog with the box's text control (the main dialog has none).
HWND findBox(DWORD pid)
{
    for (HWND window : topWindows(pid)) {
        if (className(window) == "#32770" && IsWindowVisible(window) && GetDlgItem(window, 0xFFFF) != nullptr)
            return window;
    }
    return nullptr;
}

// The pixels of a screen rectangle as 32-bit values, rows top first.
std::vector<DWORD> screenPixels(const RECT& rect)
{
    int width = rect.right - rect.left, height = rect.bottom - rect.top;
    std::vector<DWORD> pixels(static_cast<size_t>(width) * height);
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    BITMAPINFO info = {};
    info.bmiHeader = {sizeof(BITMAPINFOHEADER), width, -height, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, width, height, screen, rect.left, rect.top, SRCCOPY);
    GdiFlush();
    memcpy(pixels.data(), bits, pixels.size() * 4);
    SelectObject(memory, old);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    return pixels;
}

// A system icon drawn as the box draws it: on the given background, at the given size.
std::vector<DWORD> drawnIcon(LPCSTR id, int width, int height, DWORD background)
{
    std::vector<DWORD> pixels(static_cast<size_t>(width) * height);
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    BITMAPINFO info = {};
    info.bmiHeader = {sizeof(BITMAPINFOHEADER), width, -height, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = SelectObject(memory, bitmap);
    for (size_t i = 0; i < pixels.size(); ++i)
        static_cast<DWORD*>(bits)[i] = background;
    DrawIconEx(memory, 0, 0, LoadIconA(nullptr, id), 0, 0, 0, nullptr, DI_NORMAL);
    GdiFlush();
    memcpy(pixels.data(), bits, pixels.size() * 4);
    SelectObject(memory, old);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    return pixels;
}

// Which system icon the box shows, read from the screen (icon handles do not cross processes).
std::string iconName(HWND box)
{
    HWND control = GetDlgItem(box, 0x440);
    if (control == nullptr || !IsWindowVisible(control))
        return "none";
    RECT rect;
    GetWindowRect(control, &rect);
    // A box without an icon keeps the control where it was and lays its text over it.
    RECT text, overlap;
    HWND textControl = GetDlgItem(box, 0xFFFF);
    if (textControl != nullptr && GetWindowRect(textControl, &text) && IntersectRect(&overlap, &rect, &text))
        return "none";
    int width = GetSystemMetrics(SM_CXICON), height = GetSystemMetrics(SM_CYICON);
    rect.right = rect.left + width;
    rect.bottom = rect.top + height;
    std::vector<DWORD> shown = screenPixels(rect);
    DWORD background = shown[0] & 0xFFFFFF;
    bool plain = true;
    for (DWORD pixel : shown)
        plain = plain && (pixel & 0xFFFFFF) == background;
    if (plain)
        return "none";
    struct {
        LPCSTR id;
        const char* name;
    } icons[] = {{IDI_HAND, "error"}, {IDI_EXCLAMATION, "warning"}, {IDI_QUESTION, "question"},
                 {IDI_ASTERISK, "information"}};
    for (const auto& i : icons) {
        std::vector<DWORD> drawn = drawnIcon(i.id, width, height, background);
        size_t same = 0;
        for (size_t k = 0; k < shown.size(); ++k)
            same += (shown[k] & 0xFFFFFF) == (drawn[k] & 0xFFFFFF);
        if (same * 100 >= shown.size() * 95)
            return i.name;
    }
    return "other(" + std::to_string(rect.right - rect.left) + "x" + std::to_string(rect.bottom - rect.top) + ")";
}

std::vector<HWND> boxButtons(HWND box)
{
    std::vector<HWND> buttons;
    for (HWND child = GetWindow(box, GW_CHILD); child != nullptr; child = GetWindow(child, GW_HWNDNEXT)) {
        if (className(child) == "Button" && IsWindowVisible(child))
            buttons.push_back(child);
    }
    return buttons;
}

std::string plain(std::string text)
{
    std::string out;
    for (char c : text)
        if (c != '&')
            out += c;
    return out;
}

void describeBox(const std::string& id, HWND box)
{
    std::string buttons;
    for (HWND button : boxButtons(box))
        buttons += (buttons.empty() ? "" : ",") + plain(windowText(button));
    HWND owner = GetWindow(box, GW_OWNER);
    bool topmost = (GetWindowLongPtrA(box, GWL_EXSTYLE) & WS_EX_TOPMOST) != 0;
    say("BOX " + id + " caption=[" + escaped(windowText(box)) + "] text=[" +
        escaped(windowText(GetDlgItem(box, 0xFFFF))) + "] icon=" + iconName(box) + " buttons=[" + buttons +
        "] owner=" + (owner != nullptr ? className(owner) : std::string("0")) + " topmost=" + (topmost ? "1" : "0"));
}

void click(HWND window)
{
    RECT rect;
    GetWindowRect(window, &rect);
    int x = (rect.left + rect.right) / 2, y = (rect.top + rect.bottom) / 2;
    SetForegroundWindow(GetAncestor(window, GA_ROOT));
    int width = GetSystemMetrics(SM_CXSCREEN), height = GetSystemMetrics(SM_CYSCREEN);
    INPUT inputs[3] = {};
    for (INPUT& input : inputs) {
        input.type = INPUT_MOUSE;
        input.mi.dx = (x * 65535 + width / 2) / (width - 1);
        input.mi.dy = (y * 65535 + height / 2) / (height - 1);
    }
    inputs[0].mi.dwFlags = MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE;
    inputs[1].mi.dwFlags = MOUSEEVENTF_LEFTDOWN | MOUSEEVENTF_ABSOLUTE;
    inputs[2].mi.dwFlags = MOUSEEVENTF_LEFTUP | MOUSEEVENTF_ABSOLUTE;
    SendInput(1, &inputs[0], sizeof(INPUT));
    Sleep(50);
    SendInput(1, &inputs[1], sizeof(INPUT));
    Sleep(50);
    SendInput(1, &inputs[2], sizeof(INPUT));
}

// The pointer to a screen point (absolute input), then a button flag if any.
void pointerAt(int x, int y, DWORD button)
{
    int width = GetSystemMetrics(SM_CXSCREEN), height = GetSystemMetrics(SM_CYSCREEN);
    INPUT input = {};
    input.type = INPUT_MOUSE;
    input.mi.dx = (x * 65535 + width / 2) / (width - 1);
    input.mi.dy = (y * 65535 + height / 2) / (height - 1);
    input.mi.dwFlags = MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE | button;
    SendInput(1, &input, sizeof(INPUT));
    Sleep(50);
}

HWND findDialog(DWORD pid)
{
    for (HWND window : topWindows(pid)) {
        if (className(window) == "#32770" && (GetWindowLongPtrA(window, GWL_EXSTYLE) & WS_EX_APPWINDOW) != 0)
            return window;
    }
    return nullptr;
}

void describeDialog(const std::string& id, HWND dialog, DWORD pid)
{
    RECT client, rect;
    GetClientRect(dialog, &client);
    GetWindowRect(dialog, &rect);
    HWND owner = GetWindow(dialog, GW_OWNER);
    DWORD ownerPid = 0;
    if (owner != nullptr)
        GetWindowThreadProcessId(owner, &ownerPid);
    say("DIALOG " + id + " title=[" + escaped(windowText(dialog)) + "] client=" + std::to_string(client.right) + "x" +
        std::to_string(client.bottom) + " exstyle=" + hex(static_cast<DWORD>(GetWindowLongPtrA(dialog, GWL_EXSTYLE))) +
        " visible=" + (IsWindowVisible(dialog) ? "1" : "0") + " iconic=" + (IsIconic(dialog) ? "1" : "0") +
        " owner=" + (owner != nullptr ? className(owner) : std::string("0")) +
        " ownervisible=" + (owner != nullptr && IsWindowVisible(owner) ? "1" : "0") +
        " ownerprocess=" + (owner != nullptr && ownerPid == pid ? "same" : "other") + " rect=" +
        std::to_string(rect.left) + "," + std::to_string(rect.top) + "," + std::to_string(rect.right) + "," +
        std::to_string(rect.bottom));
}

bool keepBitmap(const std::string& file, const std::string& name)
{
    g_bitmap.clear();
    HMODULE module = LoadLibraryExA(file.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    if (module == nullptr)
        return false;
    HBITMAP bitmap = static_cast<HBITMAP>(LoadImageA(module, name.c_str(), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
    bool kept = false;
    BITMAP info = {};
    if (bitmap != nullptr && GetObjectA(bitmap, sizeof(info), &info) != 0) {
        g_bitmapWidth = info.bmWidth;
        g_bitmapHeight = info.bmHeight;
        g_bitmap.resize(static_cast<size_t>(g_bitmapWidth) * g_bitmapHeight);
        BITMAPINFO header = {};
        header.bmiHeader = {sizeof(BITMAPINFOHEADER), g_bitmapWidth, -g_bitmapHeight, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
        HDC screen = GetDC(nullptr);
        kept = GetDIBits(screen, bitmap, 0, g_bitmapHeight, g_bitmap.data(), &header, DIB_RGB_COLORS) ==
               g_bitmapHeight;
        ReleaseDC(nullptr, screen);
    }
    if (bitmap != nullptr)
        DeleteObject(bitmap);
    FreeLibrary(module);
    if (!kept)
        g_bitmap.clear();
    return kept;
}

HKEY g_root = HKEY_CURRENT_USER;
std::string g_key;

void readValue(const std::string& key, const std::string& value)
{
    HKEY handle = nullptr;
    if (RegOpenKeyExA(g_root, key.c_str(), 0, KEY_READ, &handle) != ERROR_SUCCESS) {
        say("REG " + value + " none");
        return;
    }
    DWORD type = 0, size = 0;
    std::vector<BYTE> data;
    LONG result = RegQueryValueExA(handle, value.c_str(), nullptr, &type, nullptr, &size);
    if (result == ERROR_SUCCESS) {
        data.resize(size + 1);
        result = RegQueryValueExA(handle, value.c_str(), nullptr, &type, data.data(), &size);
    }
    RegCloseKey(handle);
    if (result != ERROR_SUCCESS) {
        say("REG " + value + " none");
        return;
    }
    if (type == REG_DWORD && size == 4) {
        DWORD number;
        memcpy(&number, data.data(), 4);
        say("REG " + value + " dword " + std::to_string(number));
    } else if (type == REG_SZ) {
        say("REG " + value + " sz " + std::to_string(size) + " [" +
            escaped(std::string(reinterpret_cast<char*>(data.data()), size ? size - 1 : 0)) + "]");
    } else {
        say("REG " + value + " type" + std::to_string(type) + " " + std::to_string(size));
    }
}

std::string modulePath(DWORD pid, const std::string& file)
{
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPMODULE, pid);
    if (snapshot == INVALID_HANDLE_VALUE)
        return "";
    MODULEENTRY32 entry = {};
    entry.dwSize = sizeof(entry);
    std::string found;
    for (BOOL more = Module32First(snapshot, &entry); more; more = Module32Next(snapshot, &entry)) {
        if (lstrcmpiA(entry.szModule, file.c_str()) == 0) {
            found = entry.szExePath;
            break;
        }
    }
    CloseHandle(snapshot);
    return found;
}

std::string rest(std::istringstream& in)
{
    std::string text;
    std::getline(in, text);
    size_t first = text.find_first_not_of(' ');
    return first == std::string::npos ? "" : text.substr(first);
}

UINT number(const std::string& text)
{
    return static_cast<UINT>(std::strtoul(text.c_str(), nullptr, 0));
}

// Runs one command; false for quit.
bool run(const std::string& line)
{
    std::istringstream in(line);
    std::string command;
    in >> command;
    if (command == "quit")
        return false;
    if (command == "start") {
        std::string id, folder, program;
        in >> id >> folder >> program;
        std::string arguments = rest(in);
        std::string commandLine = "\"" + program + "\"" + (arguments.empty() ? "" : " " + arguments);
        STARTUPINFOA startup = {};
        startup.cb = sizeof(startup);
        PROCESS_INFORMATION info = {};
        if (!CreateProcessA(program.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, folder.c_str(),
                            &startup, &info)) {
            say("FAILED " + id + " " + std::to_string(GetLastError()));
        } else {
            CloseHandle(info.hThread);
            g_programs[id] = {info.hProcess, info.dwProcessId};
            say("STARTED " + id + " " + std::to_string(info.dwProcessId));
        }
    } else if (command == "exit") {
        std::string id;
        unsigned seconds = 0;
        in >> id >> seconds;
        Program& p = g_programs[id];
        if (p.process != nullptr && WaitForSingleObject(p.process, seconds * 1000) == WAIT_OBJECT_0) {
            DWORD code = 0;
            GetExitCodeProcess(p.process, &code);
            say("EXIT " + id + " " + std::to_string(static_cast<int>(code)));
        } else {
            say("RUNNING " + id);
        }
    } else if (command == "kill") {
        std::string id;
        in >> id;
        Program& p = g_programs[id];
        if (p.process != nullptr) {
            TerminateProcess(p.process, 9);
            WaitForSingleObject(p.process, 10000);
        }
        say("KILLED " + id);
    } else if (command == "box") {
        std::string id;
        unsigned seconds = 0;
        in >> id >> seconds;
        Program& p = g_programs[id];
        g_box = nullptr;
        DWORD until = GetTickCount() + seconds * 1000;
        do {
            g_box = findBox(p.pid);
            if (g_box != nullptr)
                break;
            Sleep(50);
        } while (static_cast<LONG>(until - GetTickCount()) > 0);
        if (g_box == nullptr) {
            say("NOBOX " + id);
        } else {
            Sleep(200);   // the box has laid itself out and painted
            describeBox(id, g_box);
        }
    } else if (command == "press") {
        std::string id;
        in >> id;
        std::string text = rest(in);
        HWND target = nullptr;
        g_box = findBox(g_programs[id].pid);
        for (HWND button : g_box != nullptr ? boxButtons(g_box) : std::vector<HWND>{}) {
            if (plain(windowText(button)) == text)
                target = button;
        }
        if (target == nullptr) {
            say("NOBUTTON " + text);
        } else {
            HWND box = g_box;
            click(target);
            for (int i = 0; i < 100 && IsWindow(box) && IsWindowVisible(box); ++i)
                Sleep(50);
            say(std::string(IsWindow(box) && IsWindowVisible(box) ? "STILL " : "PRESSED ") + text);
        }
    } else if (command == "windows" || command == "find") {
        std::string id;
        in >> id;
        std::string maskText, countText;
        in >> maskText >> countText;
        DWORD mask = number(maskText);
        size_t count = countText.empty() ? 1 : number(countText);
        g_target = nullptr;
        std::vector<HWND> windows = topWindows(g_programs[id].pid);
        if (command == "find") {
            size_t matching = 0;
            for (HWND window : windows)
                matching += (static_cast<DWORD>(GetWindowLongPtrA(window, GWL_STYLE)) & mask) == mask;
            if (matching < count)
                windows.clear();
        }
        for (HWND window : windows) {
            DWORD style = static_cast<DWORD>(GetWindowLongPtrA(window, GWL_STYLE));
            if (command == "find" && (style & mask) != mask)
                continue;
            sayWindow(id, window);
            if (command == "find") {
                g_target = window;
                break;
            }
        }
        if (command == "find" && g_target == nullptr)
            say("NOWINDOW " + id);
    } else if (command == "main") {
        // The program makes its hidden popups in a fixed order: the invoker's window, then the
        // main window, then those of the lookup proxy and the sessions. Z-order lists the newest
        // first, so the main window is the last but one of them. (Wine does not answer
        // WM_GETICON across processes, so the main window's icon cannot tell it apart.)
        std::string id;
        in >> id;
        g_target = nullptr;
        const DWORD POPUP = WS_POPUP | WS_BORDER | WS_SYSMENU;
        std::vector<HWND> popups;
        for (HWND window : topWindows(g_programs[id].pid)) {
            if ((static_cast<DWORD>(GetWindowLongPtrA(window, GWL_STYLE)) & POPUP) == POPUP)
                popups.push_back(window);
        }
        if (popups.size() >= 2) {
            g_target = popups[popups.size() - 2];
            sayWindow(id, g_target);
        } else {
            say("NOWINDOW " + id);
        }
    } else if (command == "dialog") {
        std::string id;
        in >> id;
        g_dialog = findDialog(g_programs[id].pid);
        g_target = g_dialog;
        if (g_dialog == nullptr)
            say("NODIALOG " + id);
        else
            describeDialog(id, g_dialog, g_programs[id].pid);
    } else if (command == "child") {
        std::string id;
        in >> id;
        g_target = g_dialog != nullptr ? GetDlgItem(g_dialog, static_cast<int>(number(id))) : nullptr;
        if (g_target == nullptr)
            say("NOWINDOW " + id);
        else
            sayWindow(id, g_target);
    } else if (command == "inner") {
        std::string id, last;
        g_target = g_dialog;
        while (g_target != nullptr && in >> id) {
            g_target = GetDlgItem(g_target, static_cast<int>(number(id)));
            last = id;
        }
        if (g_target == nullptr || last.empty()) {
            g_target = nullptr;
            say("NOWINDOW " + (last.empty() ? id : last));
        } else {
            sayWindow(last, g_target);
        }
    } else if (command == "kids") {
        // The children of the dialog's child: "KIDS <id> <count>" and per child, top first,
        // " <width>x<height>:<visible>".
        std::string id;
        in >> id;
        HWND parent = g_dialog != nullptr ? GetDlgItem(g_dialog, static_cast<int>(number(id))) : nullptr;
        if (parent == nullptr) {
            say("NOWINDOW " + id);
        } else {
            std::string line;
            int count = 0;
            for (HWND kid = GetWindow(parent, GW_CHILD); kid != nullptr; kid = GetWindow(kid, GW_HWNDNEXT)) {
                RECT rect;
                GetWindowRect(kid, &rect);
                line += " " + std::to_string(rect.right - rect.left) + "x" + std::to_string(rect.bottom - rect.top) + ":" +
                        (IsWindowVisible(kid) ? "1" : "0");
                ++count;
            }
            say("KIDS " + id + " " + std::to_string(count) + line);
        }
    } else if (command == "watch") {
        std::string id;
        in >> id;
        endWatch();
        g_noticeSeen = false;
        const DWORD pid = g_programs[id].pid;
        g_watcher = std::thread([pid] {
            const DWORD until = GetTickCount() + 120000;
            while (!g_noticeSeen && !g_watchEnds && static_cast<LONG>(until - GetTickCount()) > 0) {
                for (HWND window : topWindows(pid)) {
                    LONG_PTR ex = GetWindowLongPtrA(window, GWL_EXSTYLE);
                    RECT rect;
                    if ((ex & (WS_EX_TOPMOST | WS_EX_TOOLWINDOW)) == (WS_EX_TOPMOST | WS_EX_TOOLWINDOW) &&
                        IsWindowVisible(window) && className(window) != "#32770" && GetWindowRect(window, &rect) &&
                        rect.right > rect.left) {
                        g_noticeRect = rect;
                        g_noticeSeen = true;
                    }
                }
                Sleep(2);
            }
        });
        say("WATCHING " + id);
    } else if (command == "notice") {
        std::string id;
        unsigned seconds = 0;
        in >> id >> seconds;
        DWORD until = GetTickCount() + seconds * 1000;
        while (!g_noticeSeen && static_cast<LONG>(until - GetTickCount()) > 0)
            Sleep(10);
        if (g_noticeSeen) {
            const RECT rect = g_noticeRect;
            say("NOTICE " + id + " rect=" + std::to_string(rect.left) + "," + std::to_string(rect.top) + "," +
                std::to_string(rect.right) + "," + std::to_string(rect.bottom));
        } else {
            say("NONOTICE " + id);
        }
    } else if (command == "bitmap") {
        std::string file, name;
        in >> file >> name;
        say(keepBitmap(file, name) ? "BITMAP " + name + " " + std::to_string(g_bitmapWidth) + "x" +
                                         std::to_string(g_bitmapHeight)
                                   : "NOBITMAP " + name);
    } else if (command == "match") {
        // The dialog's client area at x, y against the bitmap at bx, by (default x, y).
        int x = 0, y = 0, w = 0, h = 0, bx = -1, by = -1;
        in >> x >> y >> w >> h;
        if (!(in >> bx >> by)) {
            bx = x;
            by = y;
        }
        size_t same = 0, of = 0;
        if (g_dialog != nullptr && !g_bitmap.empty() && x >= 0 && y >= 0 && w > 0 && h > 0 && bx >= 0 && by >= 0 &&
            bx + w <= g_bitmapWidth && by + h <= g_bitmapHeight) {
            POINT origin = {x, y};
            ClientToScreen(g_dialog, &origin);
            RECT rect = {origin.x, origin.y, origin.x + w, origin.y + h};
            std::vector<DWORD> shown = screenPixels(rect);
            for (int row = 0; row < h; ++row) {
                for (int column = 0; column < w; ++column) {
                    const DWORD expected = g_bitmap[static_cast<size_t>(by + row) * g_bitmapWidth + bx + column];
                    same += (shown[static_cast<size_t>(row) * w + column] & 0xFFFFFF) == (expected & 0xFFFFFF);
                    ++of;
                }
            }
        }
        say("MATCH " + std::to_string(same) + " " + std::to_string(of));
    } else if (command == "drag") {
        int x = 0, y = 0, dx = 0, dy = 0;
        in >> x >> y >> dx >> dy;
        POINT at = {x, y};
        ClientToScreen(g_target, &at);
        SetForegroundWindow(GetAncestor(g_target, GA_ROOT));
        pointerAt(at.x, at.y, 0);
        pointerAt(at.x, at.y, MOUSEEVENTF_LEFTDOWN);
        for (int step = 1; step <= 5 && (dx != 0 || dy != 0); ++step)
            pointerAt(at.x + dx * step / 5, at.y + dy * step / 5, 0);
        pointerAt(at.x + dx, at.y + dy, MOUSEEVENTF_LEFTUP);
        Sleep(200);
        say("DRAGGED");
    } else if (command == "send" || command == "post") {
        std::string message, wParam, lParam;
        in >> message >> wParam >> lParam;
        if (command == "post") {
            BOOL posted = PostMessageA(g_target, number(message), number(wParam), number(lParam));
            say(std::string("POSTED ") + (posted ? "1" : "0"));
        } else {
            DWORD_PTR result = 0;
            DWORD began = GetTickCount();
            LRESULT sent = SendMessageTimeoutA(g_target, number(message), number(wParam), number(lParam),
                                               SMTO_NORMAL, 10000, &result);
            say("SENT " + (sent ? hex(result) : std::string("timeout")) + " " +
                std::to_string(GetTickCount() - began) + " ms");
        }
    } else if (command == "module") {
        std::string id, file;
        in >> id >> file;
        std::string path = modulePath(g_programs[id].pid, file);
        say(path.empty() ? "NOMODULE " + id : "MODULE " + id + " " + path);
    } else if (command == "key") {
        g_key = rest(in);
    } else if (command == "reg") {
        std::string value;
        in >> value;
        readValue(g_key, value);
    } else if (command == "regdel") {
        std::string key = g_key, value;
        in >> value;
        if (value.empty()) {
            RegDeleteTreeA(g_root, key.c_str());
        } else {
            HKEY handle = nullptr;
            if (RegOpenKeyExA(g_root, key.c_str(), 0, KEY_SET_VALUE, &handle) == ERROR_SUCCESS) {
                RegDeleteValueA(handle, value.c_str());
                RegCloseKey(handle);
            }
        }
    } else if (command == "user") {
        char name[256] = {};
        DWORD size = sizeof(name);
        GetUserNameA(name, &size);
        say(std::string("USER [") + name + "]");
    } else if (command == "sleep") {
        unsigned ms = 0;
        in >> ms;
        Sleep(ms);
    } else {
        say("UNKNOWN " + command);
    }
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: tav_driver COMMANDFILE LOGFILE\n");
        return 2;
    }
    g_log = std::fopen(argv[2], "ab");   // LF lines, as the scripts read them
    if (g_log == nullptr)
        return 2;
    say("DRIVER READY");
    size_t done = 0;
    DWORD lastCommand = GetTickCount();
    for (;;) {
        std::ifstream in(argv[1]);
        std::vector<std::string> lines;
        // Only complete lines: the script may be writing the last one.
        std::string all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        size_t start = 0;
        for (size_t end; (end = all.find('\n', start)) != std::string::npos; start = end + 1)
            lines.push_back(all.substr(start, end - start));
        bool more = true;
        while (done < lines.size() && more) {
            std::string command = lines[done++];
            if (!command.empty() && command.back() == '\r')
                command.pop_back();
            more = run(command);
            say("DONE " + std::to_string(done));
            lastCommand = GetTickCount();
        }
        if (!more)
            break;
        if (GetTickCount() - lastCommand > kCommandWait) {
            say("DRIVER GAVE UP");
            break;
        }
        Sleep(50);
    }
    endWatch();
    // What the driver started does not outlive it.
    for (auto& entry : g_programs) {
        if (entry.second.process == nullptr)
            continue;
        if (WaitForSingleObject(entry.second.process, 0) == WAIT_TIMEOUT) {
            TerminateProcess(entry.second.process, 9);
            WaitForSingleObject(entry.second.process, 10000);
        }
        CloseHandle(entry.second.process);
    }
    std::fclose(g_log);
    return 0;
}
