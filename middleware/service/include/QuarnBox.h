#pragma once
// The service's message boxes (its installer's): through here, so that an unattended run
// (tests) answers them instead of blocking. The middleware links nothing of the terminal's.
#include <windows.h>

#include <string>

// Same contract as MessageBoxA: the button chosen (IDOK, ...), 0 on failure.
using QuarnBoxHandler = int (*)(HWND owner, const std::string& text, const std::string& caption, UINT type);

int QuarnShowBox(HWND owner, const std::string& text, const std::string& caption, UINT type);
// Replaces how boxes are shown; null restores the real box. Returns the previous handler.
QuarnBoxHandler QuarnSetBoxHandler(QuarnBoxHandler handler);
