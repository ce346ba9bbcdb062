#pragma once
// Real input for the tests that drive windows, menus and drags from a thread of their own, and
// the waits between the steps.
#include <windows.h>

// Presses and releases a key (SendInput), then lets the receiver take it.
void pressKey(WORD key);
// Moves the pointer to the screen point.
void movePointer(int x, int y);
// Moves the pointer from where it is to the point in a few steps, as a hand would.
void glidePointer(int x, int y, int steps = 8);
// A mouse button goes down or up: MOUSEEVENTF_LEFTDOWN, MOUSEEVENTF_RIGHTUP, ...
void mouseButton(DWORD event);

// Waits up to ms for the condition, checking every few milliseconds.
template <class Condition>
bool waitFor(Condition condition, DWORD ms = 5000) {
    for (DWORD start = GetTickCount(); GetTickCount() - start < ms; Sleep(10)) {
        if (condition())
            return true;
    }
    return condition();
}
