#pragma once
// Real pointer input and dialog lookup for the window tests of the main program's GUI.
#include <windows.h>

#include <string>

// Moves the pointer to the screen point and clicks the left button there.
void clickAt(int x, int y);
// The visible window of the thread with that caption, or null.
HWND findDialog(DWORD thread, const char* caption);
// A key pressed and released (real input).
void typeKey(WORD key);
// A small solid JPEG written as folder\\name; its path, empty when it cannot be made.
std::string writeSmallJpeg(const std::string& folder, const std::string& name);
