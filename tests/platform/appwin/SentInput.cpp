#include "SentInput.h"

void pressKey(WORD key) {
    INPUT input[2] = {};
    input[0].type = input[1].type = INPUT_KEYBOARD;
    input[0].ki.wVk = input[1].ki.wVk = key;
    input[1].ki.dwFlags = KEYEVENTF_KEYUP;
    SendInput(2, input, sizeof(INPUT));
    Sleep(20);
}

void movePointer(int x, int y) {
    // Absolute positions run from 0 to 65535 across the primary screen.
    const int width = GetSystemMetrics(SM_CXSCREEN);
    const int height = GetSystemMetrics(SM_CYSCREEN);
    INPUT input = {};
    input.type = INPUT_MOUSE;
    input.mi.dx = static_cast<LONG>((x * 65536LL + width / 2) / width);
    input.mi.dy = static_cast<LONG>((y * 65536LL + height / 2) / height);
    input.mi.dwFlags = MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE;
    SendInput(1, &input, sizeof input);
    Sleep(20);
}

void glidePointer(int x, int y, int steps) {
    POINT from;
    GetCursorPos(&from);
    for (int step = 1; step <= steps; ++step)
        movePointer(from.x + (x - from.x) * step / steps, from.y + (y - from.y) * step / steps);
    Sleep(30);
}

void mouseButton(DWORD event) {
    INPUT input = {};
    input.type = INPUT_MOUSE;
    input.mi.dwFlags = event;
    SendInput(1, &input, sizeof input);
    Sleep(20);
}
