// Not a test: shows the main-dialog pictures of the three skins in their places, one skin under
// the other, for a look at them. skin_demo.sh runs it on a private display and takes the
// screenshot. Usage: skin_demo [seconds to stay, default 30]. Prints "shown" once painted.
#include "LoadedLibrary.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

const int DIALOG_WIDTH = 800;
const int DIALOG_HEIGHT = 452;
HMODULE g_tavlang = nullptr;
bool g_painted = false;

// Terminal colours 0, 1 and 2 (COLORREF: red in the lowest byte).
const COLORREF TERMINAL[3] = {0xFF80C0, 0xFFC080, 0x00FF00};

void draw(HDC target, const std::string& name, int x, int y, DWORD rop = SRCCOPY) {
    HBITMAP bitmap = static_cast<HBITMAP>(
        LoadImageA(g_tavlang, name.c_str(), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
    if (!bitmap) {
        std::printf("missing %s\n", name.c_str());
        return;
    }
    BITMAP size = {};
    GetObjectA(bitmap, sizeof size, &size);
    HDC source = CreateCompatibleDC(target);
    HGDIOBJ previous = SelectObject(source, bitmap);
    BitBlt(target, x, y, size.bmWidth, size.bmHeight, source, 0, 0, rop);
    SelectObject(source, previous);
    DeleteDC(source);
    DeleteObject(bitmap);
}

void fill(HDC target, int left, int top, int right, int bottom, COLORREF colour) {
    RECT r = {left, top, right, bottom};
    HBRUSH brush = CreateSolidBrush(colour);
    FillRect(target, &r, brush);
    DeleteObject(brush);
}

// One skin's main dialog at (0, top), with the controls in the states the skin number picks, so
// that the screenshot shows more than one state of each.
void paintSkin(HDC dc, int skin, int top) {
    const std::string d = std::to_string(skin);
    draw(dc, "IDB_MAINDLG_BG" + d, 0, top);
    draw(dc, "IDB_STAGECTRL_BG" + d, 0, top + 27);

    // A content on the stage: its thumbnail in a 5-pixel frame of its terminal's colour, with the
    // chat mark at the bottom left and the grab mark at the bottom right.
    const int cx = 80 + skin * 160, cy = top + 27 + 90;
    fill(dc, cx - 5, cy - 5, cx + 125, cy + 95, TERMINAL[skin]);
    draw(dc, skin == 1 ? "IDB_EXEFILE_THUMB" : "IDB_ANYFILE_THUMB", cx, cy);
    fill(dc, cx + 3, cy + 90 - 3 - 16, cx + 3 + 16, cy + 90 - 3, TERMINAL[skin]);
    draw(dc, "IDB_CHAT_ICON", cx + 3, cy + 90 - 3 - 16, SRCPAINT);
    fill(dc, cx + 120 - 3 - 16, cy + 90 - 3 - 16, cx + 120 - 3, cy + 90 - 3, TERMINAL[skin]);
    draw(dc, "IDB_GRABED_ICON", cx + 120 - 3 - 16, cy + 90 - 3 - 16, SRCPAINT);

    const char* states[3] = {"NORMAL", "FOCUSED", "PUSHED"};
    draw(dc, std::string("IDB_MAINBTN_") + states[skin] + d, 19, top + 428);
    draw(dc, std::string("IDB_MINIBTN_") + states[skin] + d, 763, top + 7);
    draw(dc, std::string("IDB_CLOSEBTN_") + states[(skin + 1) % 3] + d, 779, top + 7);

    const char* roles[3] = {"S", "C", "N"};
    draw(dc, std::string("IDB_STATUSCTRL_") + roles[skin] + d, 423, top + 428);
    fill(dc, 500, top + 434, 530, top + 441, TERMINAL[skin]);

    draw(dc, (skin == 2 ? "IDB_TRASH_ON" : "IDB_TRASH_OFF") + d, 707, top + 428);

    // Phone panel: skin 0 off with others listening, skin 1 on and lit with the slider open,
    // skin 2 off under the cursor.
    const int px = 156, py = top + 428;
    draw(dc, "IDB_PHONE_CTRL" + d, px, py);
    const char* power[3] = {"IDB_PHONE_OFF", "IDB_PHONE_ON", "IDB_PHONE_OFF_ROLL"};
    draw(dc, power[skin] + d, px, py);
    if (skin == 0) {
        draw(dc, "IDB_PHONE_LED_LISTEN", px + 7, py + 9);
        draw(dc, "IDB_PHONE_LED_OFF" + d, px + 7, py + 9, SRCPAINT);
    } else {
        draw(dc, (skin == 1 ? "IDB_PHONE_LED_ON" : "IDB_PHONE_LED_OFF") + d, px + 7, py + 9);
    }
    if (skin == 1) {
        draw(dc, "IDB_SLD_BACK", px + 97, py + 1);
        draw(dc, "IDB_SLD_MASK", px + 97 + 60, py + 1 + 2, SRCAND);
        draw(dc, "IDB_SLD_THUMB" + d, px + 97 + 60, py + 1 + 2, SRCINVERT);
    } else {
        draw(dc, "IDB_COVER" + d, px + 89, py);
    }
}

LRESULT CALLBACK windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_PAINT: {
        PAINTSTRUCT paint;
        HDC dc = BeginPaint(window, &paint);
        for (int skin = 0; skin < 3; ++skin) paintSkin(dc, skin, skin * DIALOG_HEIGHT);
        EndPaint(window, &paint);
        if (!g_painted) {
            g_painted = true;
            std::printf("shown\n");
            std::fflush(stdout);
        }
        return 0;
    }
    case WM_TIMER:
    case WM_CLOSE:
        DestroyWindow(window);
        return 0;
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    default:
        return DefWindowProcA(window, message, wParam, lParam);
    }
}

}  // namespace

int main(int argc, char** argv) {
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 30;
    LoadedLibrary tavlang("tavlang.dll");
    g_tavlang = tavlang.handle();
    if (!g_tavlang) {
        std::printf("cannot load %s\n", tavlang.path().c_str());
        return 1;
    }
    WNDCLASSA type = {};
    type.lpfnWndProc = windowProc;
    type.hInstance = GetModuleHandleA(nullptr);
    type.lpszClassName = "TavelinSkinDemo";
    RegisterClassA(&type);
    HWND window = CreateWindowExA(0, type.lpszClassName, "Tavelin skins", WS_POPUP | WS_VISIBLE, 0, 0, DIALOG_WIDTH,
                                  3 * DIALOG_HEIGHT, nullptr, nullptr, type.hInstance, nullptr);
    if (!window) return 1;
    SetTimer(window, 1, static_cast<UINT>(seconds) * 1000, nullptr);
    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) > 0) DispatchMessageA(&message);
    return 0;
}
