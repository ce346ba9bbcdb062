#include "UiThreadScope.h"

#include "CWinApp.h"
#include "LoadedLibrary.h"

#include <string>

UiThreadScope::UiThreadScope()
    : previous_(makeCurrent()),
      resources_(LoadLibraryA(LoadedLibrary::besideThisProgram("tavlang.dll").c_str())) {
    m_bAutoDelete = FALSE;
    AfxSetResourceHandle(resources_);
}

UiThreadScope::~UiThreadScope() {
    // A main window destroyed while it was still the main window asked the loop to end.
    MSG quit;
    while (PeekMessageA(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) {
    }
    AfxSetResourceHandle(nullptr);
    if (resources_)
        FreeLibrary(resources_);
    restoreCurrent(previous_);
}

CPlainTopWnd::CPlainTopWnd(const RECT& rect, DWORD style) {
    CreateEx(0, nullptr, "owner", style, rect.left, rect.top, rect.right - rect.left,
             rect.bottom - rect.top, nullptr, nullptr);
}

void pumpMessages(DWORD ms) {
    DWORD start = GetTickCount();
    do {
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (!CWnd::WalkPreTranslateTree(&msg)) {
                TranslateMessage(&msg);
                DispatchMessageA(&msg);
            }
        }
        Sleep(5);
    } while (GetTickCount() - start < ms);
}

std::string textOf(HWND hwnd) {
    char text[512] = "";
    GetWindowTextA(hwnd, text, sizeof text);
    return text;
}

COLORREF screenPixel(int x, int y) {
    // Copied out of the screen as the test driver reads it, into a 32-bit pixel of our own.
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = 1;
    info.bmiHeader.biHeight = 1;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    void* bits = nullptr;
    HBITMAP pixel = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    HGDIOBJ old = SelectObject(memory, pixel);
    BitBlt(memory, 0, 0, 1, 1, screen, x, y, SRCCOPY);
    GdiFlush();
    DWORD bgra = *static_cast<DWORD*>(bits);
    SelectObject(memory, old);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    DeleteObject(pixel);
    return RGB((bgra >> 16) & 0xFF, (bgra >> 8) & 0xFF, bgra & 0xFF);
}
