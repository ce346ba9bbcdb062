#include "ResourceChecker.h"

#include "DialogTemplate.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace {

std::string number(long long value) { return std::to_string(value); }

std::string quoted(const std::wstring& text) { return "\"" + ResourceChecker::printable(text) + "\""; }

std::string size(int width, int height) { return number(width) + " x " + number(height); }

// Dialogs are only created and looked at: no focus is set, nothing is answered.
INT_PTR CALLBACK quietDialogProc(HWND, UINT, WPARAM, LPARAM) { return FALSE; }

struct NamedStyle {
    DWORD value;
    const char* name;
};

const NamedStyle DIALOG_STYLES[] = {
    {WS_POPUP, "WS_POPUP"},           {WS_CAPTION, "WS_CAPTION"},       {WS_SYSMENU, "WS_SYSMENU"},
    {WS_VISIBLE, "WS_VISIBLE"},       {WS_CLIPCHILDREN, "WS_CLIPCHILDREN"}, {DS_MODALFRAME, "DS_MODALFRAME"},
    {DS_SETFONT, "DS_SETFONT"},
};

struct NamedTrait {
    unsigned trait;
    const char* name;
};

const NamedTrait CONTROL_TRAITS[] = {
    {DefaultButton, "default button"}, {Centred, "centred text"},   {BlackFrame, "black frame"},
    {IconImage, "icon"},               {Border, "border"},          {AutoHScroll, "automatic horizontal scroll"},
    {TabStop, "tab stop"},             {Group, "group"},
};

bool hasTrait(DWORD style, unsigned trait) {
    switch (trait) {
    case DefaultButton: return (style & BS_TYPEMASK) == BS_DEFPUSHBUTTON;
    case Centred: return (style & SS_TYPEMASK) == SS_CENTER;
    case BlackFrame: return (style & SS_TYPEMASK) == SS_BLACKFRAME;
    case IconImage: return (style & SS_TYPEMASK) == SS_ICON;
    case Border: return (style & WS_BORDER) != 0;
    case AutoHScroll: return (style & ES_AUTOHSCROLL) != 0;
    case TabStop: return (style & WS_TABSTOP) != 0;
    case Group: return (style & WS_GROUP) != 0;
    default: return false;
    }
}

std::string pixels(const RECT& r) {
    return "(" + number(r.left) + ", " + number(r.top) + ") - (" + number(r.right) + ", " + number(r.bottom) + ")";
}

std::wstring windowText(HWND window) {
    wchar_t text[512] = {};
    int length = GetWindowTextW(window, text, 512);
    return std::wstring(text, length > 0 ? length : 0);
}

std::wstring className(HWND window) {
    wchar_t name[256] = {};
    int length = GetClassNameW(window, name, 256);
    return std::wstring(name, length > 0 ? length : 0);
}

std::string narrow(const std::wstring& text) {
    std::string out;
    for (wchar_t c : text) out += c < 0x80 ? static_cast<char>(c) : '?';
    return out;
}

std::string describe(ExpectedMenuItem::Kind kind, UINT id, const wchar_t* text) {
    switch (kind) {
    case ExpectedMenuItem::Separator: return "separator";
    case ExpectedMenuItem::Popup: return text ? "popup " + quoted(text) : "popup";
    default: return "command " + number(id) + (text ? " " + quoted(text) : "");
    }
}

std::string describeImage(int width, int height, int bits) {
    return size(width, height) + " at " + number(bits) + " bits";
}

#pragma pack(push, 2)
struct GroupIconHeader {
    WORD reserved;
    WORD type;
    WORD count;
};
struct GroupIconEntry {
    BYTE width;
    BYTE height;
    BYTE colours;
    BYTE reserved;
    WORD planes;
    WORD bits;
    DWORD bytes;
    WORD id;
};
#pragma pack(pop)

const void* resourceData(HMODULE module, HRSRC resource, DWORD* bytes) {
    HGLOBAL loaded = LoadResource(module, resource);
    *bytes = loaded ? SizeofResource(module, resource) : 0;
    return loaded ? LockResource(loaded) : nullptr;
}

}  // namespace

ResourceChecker::ResourceChecker(HMODULE module) : module_(module) {}

std::string ResourceChecker::printable(const std::wstring& text) {
    std::string out;
    for (wchar_t c : text) {
        switch (c) {
        case L'\n': out += "\\n"; break;
        case L'\t': out += "\\t"; break;
        case L'\r': out += "\\r"; break;
        case L'"': out += "\\\""; break;
        case L'\\': out += "\\\\"; break;
        default:
            if (c >= 0x20 && c < 0x7f) {
                out += static_cast<char>(c);
            } else {
                char code[8];
                std::snprintf(code, sizeof code, "\\x%04x", static_cast<unsigned>(c));
                out += code;
            }
        }
    }
    return out;
}

void ResourceChecker::note(const std::string& line) { findings_.push_back(line); }

void ResourceChecker::checkStrings(const std::vector<ExpectedString>& strings) {
    for (const ExpectedString& s : strings) {
        const std::string label = "STRING " + number(s.id);
        const std::string expected = quoted(s.text) + " (" + number(s.text.size()) + " characters)";
        // With no buffer, LoadStringW hands out the resource's own text and its exact length.
        const wchar_t* text = nullptr;
        int length = LoadStringW(module_, s.id, reinterpret_cast<LPWSTR>(&text), 0);
        if (length <= 0 || !text) {
            note(label + ": expected " + expected + ", found none");
            continue;
        }
        std::wstring found(text, length);
        if (found != s.text) {
            note(label + ": expected " + expected + ", found " + quoted(found) + " (" + number(length) +
                 " characters)");
        }
    }
}

void ResourceChecker::checkDialogs(const std::vector<ExpectedDialog>& dialogs) {
    for (const ExpectedDialog& d : dialogs) checkDialog(d);
}

void ResourceChecker::checkDialog(const ExpectedDialog& expected) {
    const std::string label = "DIALOG " + number(expected.id);
    if (!FindResourceW(module_, MAKEINTRESOURCEW(expected.id), MAKEINTRESOURCEW(5 /* RT_DIALOG */))) {
        note(label + ": expected " + quoted(expected.caption) + " " + size(expected.cx, expected.cy) + " with " +
             number(expected.controls.size()) + " controls, found none");
        return;
    }
    HWND dialog = CreateDialogParamW(module_, MAKEINTRESOURCEW(expected.id), nullptr, quietDialogProc, 0);
    if (!dialog) {
        note(label + ": expected a dialog window, found creation error " + number(GetLastError()));
        return;
    }

    std::wstring caption = windowText(dialog);
    if (caption != expected.caption) {
        note(label + ": expected caption " + quoted(expected.caption) + ", found " + quoted(caption));
    }

    // The styles as the script gave them; the platform may adjust those of the created window.
    DialogTemplate form(module_, expected.id);
    if (!form.valid()) note(label + ": expected a readable template, found one that does not parse");
    for (const NamedStyle& s : DIALOG_STYLES) {
        if ((expected.styleSet & s.value) == s.value && (form.style() & s.value) != s.value) {
            note(label + ": expected style " + s.name + ", found it clear");
        }
        if ((expected.styleClear & s.value) != 0 && (form.style() & s.value) != 0) {
            note(label + ": expected style " + s.name + " clear, found it set");
        }
    }

    HDC screen = GetDC(nullptr);
    const int fontHeight = -MulDiv(DIALOG_FONT_POINTS, GetDeviceCaps(screen, LOGPIXELSY), 72);
    ReleaseDC(nullptr, screen);
    const std::string expectedFont = quoted(DIALOG_FONT) + " of height " + number(fontHeight);
    HFONT font = reinterpret_cast<HFONT>(SendMessageW(dialog, WM_GETFONT, 0, 0));
    LOGFONTW face = {};
    if (!font || !GetObjectW(font, sizeof face, &face)) {
        note(label + ": expected font " + expectedFont + ", found none");
    } else if (lstrcmpiW(face.lfFaceName, DIALOG_FONT) != 0 || face.lfHeight != fontHeight) {
        note(label + ": expected font " + expectedFont + ", found " + quoted(face.lfFaceName) + " of height " +
             number(face.lfHeight));
    }

    RECT want = {0, 0, expected.cx, expected.cy};
    MapDialogRect(dialog, &want);
    RECT client = {};
    GetClientRect(dialog, &client);
    if (client.right != want.right || client.bottom != want.bottom) {
        note(label + ": expected a client area of " + size(want.right, want.bottom) + " pixels (" +
             size(expected.cx, expected.cy) + " dialog units), found " + size(client.right, client.bottom));
    }

    checkControls(dialog, form, expected);
    DestroyWindow(dialog);
}

void ResourceChecker::checkControls(HWND dialog, const DialogTemplate& form, const ExpectedDialog& expected) {
    const std::string dialogLabel = "DIALOG " + number(expected.id);
    std::vector<HWND> controls;
    for (HWND c = GetWindow(dialog, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) controls.push_back(c);
    if (controls.size() != expected.controls.size()) {
        note(dialogLabel + ": expected " + number(expected.controls.size()) + " controls, found " +
             number(controls.size()));
    }
    for (size_t i = 0; i < std::min(controls.size(), expected.controls.size()); ++i) {
        const ExpectedControl& want = expected.controls[i];
        HWND control = controls[i];
        const std::string label = dialogLabel + " control " +
                                  (want.id != -1 ? number(want.id) : "#" + number(i + 1) + " (no id)");

        int id = GetDlgCtrlID(control);
        if (id != want.id) note(label + ": expected id " + number(want.id) + ", found " + number(id));
        std::wstring cls = className(control);
        if (lstrcmpiW(cls.c_str(), want.className.c_str()) != 0) {
            note(label + ": expected class " + quoted(want.className) + ", found " + quoted(cls));
        }
        if (want.text) {
            std::wstring text = windowText(control);
            if (text != want.text) note(label + ": expected text " + quoted(want.text) + ", found " + quoted(text));
        }
        bool visible = (GetWindowLongW(control, GWL_STYLE) & WS_VISIBLE) != 0;
        if (visible != want.visible) {
            note(label + ": expected " + (want.visible ? "visible" : "hidden") + ", found " +
                 (visible ? "visible" : "hidden"));
        }

        // The dialog places a control at its mapped corner with its mapped size; an icon control
        // then takes the size of its icon.
        RECT place = {want.place.x, want.place.y, want.place.cx, want.place.cy};
        MapDialogRect(dialog, &place);
        place.right += place.left;
        place.bottom += place.top;
        RECT found = {};
        GetWindowRect(control, &found);
        MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&found), 2);
        if (want.traits & IconImage) {
            place.right = place.left + (found.right - found.left);
            place.bottom = place.top + (found.bottom - found.top);
        }
        if (!EqualRect(&place, &found)) {
            note(label + ": expected the place " + pixels(place) + " in pixels, found " + pixels(found));
        }

        const DWORD style = i < form.items().size() ? form.items()[i].style : 0;
        for (const NamedTrait& t : CONTROL_TRAITS) {
            if ((want.traits & t.trait) && !hasTrait(style, t.trait)) {
                note(label + ": expected " + t.name + ", found none");
            }
        }
    }
}

void ResourceChecker::checkMenus(const std::vector<ExpectedMenu>& menus) {
    for (const ExpectedMenu& m : menus) {
        const std::string label = "MENU " + number(m.id);
        HMENU menu = LoadMenuW(module_, MAKEINTRESOURCEW(m.id));
        if (!menu) {
            note(label + ": expected " + number(m.items.size()) + " items, found none");
            continue;
        }
        checkMenuItems(menu, m.items, label, " item ");
        DestroyMenu(menu);
    }
}

void ResourceChecker::checkMenuItems(HMENU menu, const std::vector<ExpectedMenuItem>& items,
                                     const std::string& where, const char* step) {
    int count = GetMenuItemCount(menu);
    if (count < 0 || static_cast<size_t>(count) != items.size()) {
        note(where + ": expected " + number(items.size()) + " items, found " + number(count));
    }
    for (size_t i = 0; i < std::min(static_cast<size_t>(std::max(count, 0)), items.size()); ++i) {
        const ExpectedMenuItem& want = items[i];
        const std::string label = where + step + number(i + 1);

        wchar_t text[256] = {};
        MENUITEMINFOW info = {};
        info.cbSize = sizeof info;
        info.fMask = MIIM_FTYPE | MIIM_ID | MIIM_SUBMENU | MIIM_STRING;
        info.dwTypeData = text;
        info.cch = 256;
        if (!GetMenuItemInfoW(menu, static_cast<UINT>(i), TRUE, &info)) {
            note(label + ": expected " + describe(want.kind, want.id, want.text) + ", found none");
            continue;
        }
        ExpectedMenuItem::Kind kind = (info.fType & MFT_SEPARATOR) ? ExpectedMenuItem::Separator
                                      : info.hSubMenu                ? ExpectedMenuItem::Popup
                                                                     : ExpectedMenuItem::Command;
        std::wstring found = kind == ExpectedMenuItem::Separator ? L"" : std::wstring(text, info.cch);
        // The platform marks an item without text as a separator; by its id it is still the
        // command the table names.
        if (want.kind == ExpectedMenuItem::Command && want.text && !*want.text && kind == ExpectedMenuItem::Separator &&
            info.wID == want.id) {
            continue;
        }
        bool same = kind == want.kind && (kind != ExpectedMenuItem::Command || info.wID == want.id) &&
                    (!want.text || found == want.text);
        if (!same) {
            note(label + ": expected " + describe(want.kind, want.id, want.text) + ", found " +
                 describe(kind, info.wID, found.c_str()));
            continue;
        }
        if (kind == ExpectedMenuItem::Popup) checkMenuItems(info.hSubMenu, want.items, label, ".");
    }
}

void ResourceChecker::checkBitmaps(const std::vector<ExpectedBitmap>& bitmaps) {
    for (const ExpectedBitmap& b : bitmaps) checkBitmap(b);
}

void ResourceChecker::checkBitmap(const ExpectedBitmap& expected) {
    const std::string label = "BITMAP " + narrow(expected.name);
    const std::string want = describeImage(expected.width, expected.height, expected.bits) + ", uncompressed";
    HRSRC resource = FindResourceW(module_, expected.name, MAKEINTRESOURCEW(2 /* RT_BITMAP */));
    if (!resource) {
        note(label + ": expected " + want + ", found none");
        return;
    }
    DWORD bytes = 0;
    auto header = static_cast<const BITMAPINFOHEADER*>(resourceData(module_, resource, &bytes));
    if (!header || bytes < sizeof(BITMAPINFOHEADER) || header->biSize < sizeof(BITMAPINFOHEADER)) {
        note(label + ": expected " + want + ", found no bitmap header");
        return;
    }
    const int height = std::abs(header->biHeight);
    if (header->biWidth != expected.width || height != expected.height || header->biBitCount != expected.bits ||
        header->biCompression != BI_RGB) {
        note(label + ": expected " + want + ", found " + describeImage(header->biWidth, height, header->biBitCount) +
             (header->biCompression == BI_RGB ? ", uncompressed" : ", compression " + number(header->biCompression)));
        return;
    }

    // The program loads it so; the picture must keep its depth.
    HBITMAP loaded = static_cast<HBITMAP>(LoadImageW(module_, expected.name, IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
    DIBSECTION section = {};
    if (!loaded || GetObjectW(loaded, sizeof section, &section) != sizeof section) {
        note(label + ": expected LoadImage to give a DIB section of " + want + ", found none");
    } else if (section.dsBm.bmWidth != expected.width || section.dsBm.bmHeight != expected.height ||
               section.dsBm.bmBitsPixel != expected.bits) {
        note(label + ": expected LoadImage to give a DIB section of " + want + ", found " +
             describeImage(section.dsBm.bmWidth, section.dsBm.bmHeight, section.dsBm.bmBitsPixel));
    }
    if (loaded) DeleteObject(loaded);
}

void ResourceChecker::checkIconGroup(UINT id, const std::vector<ExpectedIconImage>& images) {
    const std::string label = "ICON GROUP " + number(id);
    HRSRC resource = FindResourceW(module_, MAKEINTRESOURCEW(id), MAKEINTRESOURCEW(14 /* RT_GROUP_ICON */));
    DWORD bytes = 0;
    auto group = resource ? static_cast<const GroupIconHeader*>(resourceData(module_, resource, &bytes)) : nullptr;
    if (!group || bytes < sizeof(GroupIconHeader) ||
        bytes < sizeof(GroupIconHeader) + group->count * sizeof(GroupIconEntry)) {
        note(label + ": expected " + number(images.size()) + " images, found none");
        return;
    }
    auto entries = reinterpret_cast<const GroupIconEntry*>(group + 1);
    std::vector<ExpectedIconImage> found;
    for (WORD i = 0; i < group->count; ++i) {
        HRSRC image = FindResourceW(module_, MAKEINTRESOURCEW(entries[i].id), MAKEINTRESOURCEW(3 /* RT_ICON */));
        DWORD imageBytes = 0;
        auto header = image ? static_cast<const BITMAPINFOHEADER*>(resourceData(module_, image, &imageBytes)) : nullptr;
        if (!header || imageBytes < sizeof(BITMAPINFOHEADER)) {
            note(label + ": expected image " + number(entries[i].id) + " of the group, found none");
            continue;
        }
        found.push_back({header->biWidth, header->biBitCount});
    }
    for (const ExpectedIconImage& want : images) {
        auto match = std::find_if(found.begin(), found.end(), [&](const ExpectedIconImage& f) {
            return f.size == want.size && f.bits == want.bits;
        });
        if (match == found.end()) {
            note(label + ": expected an image of " + describeImage(want.size, want.size, want.bits) + ", found none");
        } else {
            found.erase(match);
        }
    }
    for (const ExpectedIconImage& extra : found) {
        note(label + ": expected no further image, found one of " + describeImage(extra.size, extra.size, extra.bits));
    }
}

void ResourceChecker::checkLibrary() {
    checkStrings(expectedStrings());
    checkDialogs(expectedDialogs());
    checkMenus(expectedMenus());
    checkBitmaps(expectedBitmaps());
    checkIconGroup(PROGRAM_ICON, expectedIconImages());
}
