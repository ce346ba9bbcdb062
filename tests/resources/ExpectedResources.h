#pragma once
// What tavlang and the main program must hold, typed by hand (not read from the resource
// scripts), so that a slip in a script shows up as a difference.
#include <windows.h>

#include <string>
#include <vector>

struct ExpectedString {
    UINT id;
    std::wstring text;
};

// A place in dialog units: left, top, width, height.
struct DialogUnits {
    int x, y, cx, cy;
};

// Styles of a control that must be set, checked in the dialog template.
enum ControlTrait : unsigned {
    DefaultButton = 1u << 0,  // BS_DEFPUSHBUTTON
    Centred = 1u << 1,        // SS_CENTER
    BlackFrame = 1u << 2,     // SS_BLACKFRAME
    IconImage = 1u << 3,      // SS_ICON
    Border = 1u << 4,         // WS_BORDER
    AutoHScroll = 1u << 5,    // ES_AUTOHSCROLL
    TabStop = 1u << 6,        // WS_TABSTOP
    Group = 1u << 7,          // WS_GROUP
};

struct ExpectedControl {
    int id;                 // -1 for a static without an id
    std::wstring className;
    const wchar_t* text;    // null: not compared (an icon control's)
    bool visible;
    DialogUnits place;      // an icon control keeps only its top-left corner: it takes its icon's size
    unsigned traits;
};

struct ExpectedDialog {
    int id;
    std::wstring caption;
    int cx, cy;             // client size in dialog units
    DWORD styleSet;         // styles of the template that must be set
    DWORD styleClear;       // styles of the template that must be clear
    std::vector<ExpectedControl> controls;
};

struct ExpectedMenuItem {
    enum Kind { Command, Separator, Popup };
    Kind kind;
    UINT id;                // of a command
    const wchar_t* text;    // null: not compared (the unnamed popup of a context menu)
    std::vector<ExpectedMenuItem> items;  // of a popup
};

struct ExpectedMenu {
    UINT id;
    std::vector<ExpectedMenuItem> items;
};

struct ExpectedBitmap {
    const wchar_t* name;
    int width, height, bits;
};

struct ExpectedIconImage {
    int size, bits;
};

struct ExpectedAccelerator {
    BYTE virt;              // FVIRTKEY with FCONTROL, FSHIFT, FALT
    WORD key;
    WORD command;
};

// The dialog font of every template: Arial at 8 points.
extern const wchar_t* const DIALOG_FONT;
const int DIALOG_FONT_POINTS = 8;

const std::vector<ExpectedString>& expectedStrings();
const std::vector<ExpectedDialog>& expectedDialogs();
const std::vector<ExpectedMenu>& expectedMenus();
const std::vector<ExpectedBitmap>& expectedBitmaps();
const std::vector<ExpectedIconImage>& expectedIconImages();
const UINT PROGRAM_ICON = 128;

// The main program's own resources.
const std::vector<UINT>& expectedSoundIds();
const UINT COPY_ANIMATION = 220;
extern const wchar_t* const CURSOR_REGION;
const std::vector<RECT>& expectedCursorRows();
const UINT EDIT_ACCELERATORS = 128;
const std::vector<ExpectedAccelerator>& expectedAccelerators();
