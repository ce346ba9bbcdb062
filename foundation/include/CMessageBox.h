#pragma once
// Every message box of the program goes through here, so that an unattended run (tests) can
// answer boxes instead of blocking on them.
#include <windows.h>
#include <string>

class CMessageBox {
public:
    // Same contract as MessageBoxA: returns the button chosen (IDOK, ...), 0 on failure.
    using Handler = int (*)(HWND owner, const std::string& text, const std::string& caption, UINT type);

    static int show(HWND owner, const std::string& text, const std::string& caption, UINT type);
    // Replaces how boxes are shown; NULL restores the real message box. Returns the previous handler.
    static Handler setHandler(Handler handler);
};
