#include "WindowsTestSupport.h"

#include "PictureFiles.h"
#include "UiThreadScope.h"

void clickAt(int x, int y)
{
    const int width = GetSystemMetrics(SM_CXSCREEN), height = GetSystemMetrics(SM_CYSCREEN);
    INPUT input[3] = {};
    for (INPUT& one : input)
        one.type = INPUT_MOUSE;
    input[0].mi.dx = (x * 65535 + (width - 1) / 2) / (width - 1);
    input[0].mi.dy = (y * 65535 + (height - 1) / 2) / (height - 1);
    input[0].mi.dwFlags = MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE;
    input[1].mi.dwFlags = MOUSEEVENTF_LEFTDOWN;
    input[2].mi.dwFlags = MOUSEEVENTF_LEFTUP;
    SendInput(3, input, sizeof(INPUT));
}

HWND findDialog(DWORD thread, const char* caption)
{
    struct Search {
        const char* caption;
        HWND found;
    } search = {caption, nullptr};
    EnumThreadWindows(
        thread,
        [](HWND hwnd, LPARAM param) -> BOOL {
            auto* s = reinterpret_cast<Search*>(param);
            if (IsWindowVisible(hwnd) && textOf(hwnd) == s->caption) {
                s->found = hwnd;
                return FALSE;
            }
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.found;
}

void typeKey(WORD key)
{
    INPUT input[2] = {};
    input[0].type = input[1].type = INPUT_KEYBOARD;
    input[0].ki.wVk = input[1].ki.wVk = key;
    input[1].ki.dwFlags = KEYEVENTF_KEYUP;
    SendInput(2, input, sizeof(INPUT));
}

std::string writeSmallJpeg(const std::string& folder, const std::string& name)
{
    return PictureFiles::writeIn(folder, name, PictureFiles::jpeg(16, 8, solid({10, 200, 30})));
}
