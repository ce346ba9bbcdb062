#pragma once
// Makes the test's thread a user-interface thread of this layer for a scope: AfxGetThread finds
// it, its main window owns dialogs without a parent, and RunLoop is the thread's message loop.
// Also lends tavlang as the resource module.
#include "CWinThread.h"
#include "CWnd.h"

#include <windows.h>

class UiThreadScope : public CWinThread {
public:
    UiThreadScope();
    ~UiThreadScope() override;

    // The thread's loop, until WM_QUIT.
    int RunLoop() { return Run(); }
    HMODULE resources() const { return resources_; }

private:
    CWinThread* previous_;
    HMODULE resources_;
};

// A top-level window of the default class at the rectangle, visible unless told otherwise. (Under
// Wine on a display without a window manager, hiding or destroying a shown top-level window
// takes about 2 s: tests show windows only where they must.)
class CPlainTopWnd : public CWnd {
public:
    explicit CPlainTopWnd(const RECT& rect, DWORD style = WS_POPUP | WS_VISIBLE);
};

// Dispatches the thread's waiting messages (through its loop's pre-translation) for about ms.
void pumpMessages(DWORD ms);
// The text of a window.
std::string textOf(HWND hwnd);
// The colour of a screen pixel.
COLORREF screenPixel(int x, int y);
