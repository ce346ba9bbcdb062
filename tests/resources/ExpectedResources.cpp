#include "ExpectedResources.h"

const wchar_t* const DIALOG_FONT = L"Arial";
const wchar_t* const CURSOR_REGION = L"IDR_RGN_CURSOR";

const std::vector<ExpectedString>& expectedStrings() {
    static const std::vector<ExpectedString> strings = {
        {104, L"Failed to initialize the Windows socket."},
        {128, L"Tavelin"},
        {57344, L"Tavelin"},
        {62000, L"Cannot use Quarn. Tavelin will terminate."},
        {62002, L"Cannot start since Tavelin is already running or \nthe termination process is not yet over."},
        {62003, L"Failed to initialize. Tavelin will terminate."},
        {62004, L"RICHED20.DLL. not found. Tavelin will terminate."},
        {62005, L"Cannot use the Communication Module. Tavelin will terminate."},
        {62006, L"Cannot use the Communication Module. Tavelin will terminate. \nRestart the computer before "
                L"executing Tavelin again."},
        {63000, L"Drag and Drop operation is not possible, \ncopy operation is in process."},
        {63001, L"Cannot use the specified file for the application surface."},
        {63002, L"Cannot execute this file since the file type is not associated \nwith any application. "},
        {63003, L"Cannot use the Phone Function since HVXC driver is not installed."},
        {63004, L"Cannot copy the file since the specified directory does not exist."},
        {63005, L"Tavelin cannot read this file type."},
        {63006, L"Failed to read the file to the Stage \nsince Tavelin cannot process the file."},
        {63007, L"Cannot copy the file since the hard disk is full."},
        {63008, L"Cannot copy file."},
        {63009, L"Cannot save file since File Copy process failed."},
        {63010, L"Cannot save file since file transfer from source computer \nto destination computer failed."},
        {63011, L"Cannot save file since source computer is not responding \nor there is some communication error."},
        {63012, L"Please wait for some time, file processing is in progress."},
        {63013, L"Please terminate Tavelin before PC goes to standby \nor hybernation mode."},
        {63014, L"Cannot save file since the file is removed."},
        {63015, L"Error in writing to Log File.. Hereafter no logs will be recoreded. "},
        {63016, L"Tavelin will be terminated since there is no communication \nwith the SERVER Application."},
        {63017, L"Tavelin will be terminated since there is no communication with the SERVER Application. \nPlease "
                L"wait for some time since File processing is done before Termination."},
        {63018, L"File Name\t%s"},
        {63019, L"Size\t\t%s"},
        {63020, L"Owner\t\t%s"},
        {63021, L"Tavelin termination in process. \nIt takes some time to \nfinish the termination process."},
        {63022, L"Picture File"},
        {63023, L"All Files"},
        {63024, L"%s.%s KB"},
        {63025, L"copy (%s) "},
        {63026, L"This is Tavelin SERVER. \nAll connected CLIENT applications will be closed. \nAre you sure?"},
        {63027, L"To %s"},
        {64000, L"Arial"},
        {64001, L"8"},
        {64002, L"320"},
        {64003, L"60"},
    };
    return strings;
}

namespace {

// Every template sets its font; the boxes are popups with a caption.
const DWORD BOX = DS_SETFONT | WS_POPUP | WS_CAPTION;
const bool SHOWN = true;
const bool HIDDEN = false;

}  // namespace

const std::vector<ExpectedDialog>& expectedDialogs() {
    // Dialog 100 is a version box that nothing opens: its controls are our own, as is the third
    // line of dialog 216.
    static const std::vector<ExpectedDialog> dialogs = {
        {100, L"About Tavelin", 235, 55, BOX, WS_VISIBLE,
         {
             {-1, L"Static", nullptr, SHOWN, {11, 17, 20, 20}, IconImage},
             {-1, L"Static", L"Tavelin Version 2.1", SHOWN, {40, 10, 119, 8}, 0},
             {-1, L"Static", L"LAN collaboration system", SHOWN, {40, 25, 119, 8}, 0},
             {IDOK, L"Button", L"OK", SHOWN, {178, 7, 50, 14}, DefaultButton},
         }},
        {130, L"", 5, 1, DS_SETFONT | WS_POPUP | WS_CLIPCHILDREN, WS_CAPTION | WS_VISIBLE, {}},
        {216, L"Version Information", 176, 77, BOX, WS_VISIBLE,
         {
             {IDOK, L"Button", L"OK", SHOWN, {64, 53, 49, 17}, DefaultButton},
             {-1, L"Static", L"Tavelin", SHOWN, {62, 13, 48, 8}, Centred},
             {-1, L"Static", L"Version 2.1", SHOWN, {50, 25, 72, 13}, Centred},
             {-1, L"Static", L"LAN collaboration system", SHOWN, {27, 38, 115, 14}, Centred},
             {-1, L"Static", nullptr, SHOWN, {14, 14, 20, 20}, IconImage},
         }},
        {218, L"Transferring File...", 254, 103, BOX | DS_MODALFRAME, WS_SYSMENU | WS_VISIBLE,
         {
             {IDCANCEL, L"Button", L"Cancel", SHOWN, {197, 69, 50, 14}, DefaultButton | TabStop},
             {1000, L"Edit", L"", HIDDEN, {200, 7, 47, 14}, Border | TabStop | AutoHScroll},
             {1024, L"Static", L"", HIDDEN, {7, 7, 186, 34}, BlackFrame},
             {1015, L"msctls_progress32", L"Progress1", SHOWN, {7, 71, 188, 10}, Border},
             {1025, L"Static", L"file name", HIDDEN, {7, 45, 240, 8}, Group},
         }},
        {221, L"annotation", 212, 155, BOX, WS_VISIBLE,
         {
             {1001, L"Edit", L"", SHOWN, {7, 134, 198, 14}, 0},
             {1017, L"Static", L"dummy", HIDDEN, {161, 19, 22, 8}, 0},
             {1026, L"Static", L"dummy trashbox", HIDDEN, {150, 38, 49, 8}, 0},
         }},
        {222, L"phone", 187, 93, BOX, WS_VISIBLE,
         {
             {IDOK, L"Button", L"OK", SHOWN, {130, 7, 50, 14}, 0},
             {IDCANCEL, L"Button", L"Cancel", SHOWN, {130, 24, 50, 14}, 0},
             {1018, L"Static", L"dummy", HIDDEN, {136, 63, 22, 8}, 0},
             {1019, L"Static", L"LED", HIDDEN, {124, 49, 13, 8}, 0},
             {1020, L"Static", L"slider", SHOWN, {143, 47, 17, 8}, 0},
             {1021, L"Static", L"cover", SHOWN, {144, 75, 17, 8}, 0},
             {1022, L"Static", L"power", SHOWN, {108, 75, 18, 8}, 0},
         }},
        {242, L"Nick Name", 188, 40, BOX, WS_VISIBLE,
         {
             {1023, L"Edit", L"", SHOWN, {4, 4, 177, 12}, Border | AutoHScroll},
             {IDOK, L"Button", L"OK", SHOWN, {77, 20, 50, 16}, DefaultButton},
             {IDCANCEL, L"Button", L"Cancel", SHOWN, {131, 20, 50, 16}, 0},
         }},
    };
    return dialogs;
}

namespace {

ExpectedMenuItem command(UINT id, const wchar_t* text) { return {ExpectedMenuItem::Command, id, text, {}}; }
ExpectedMenuItem separator() { return {ExpectedMenuItem::Separator, 0, L"", {}}; }
ExpectedMenuItem popup(const wchar_t* text, std::vector<ExpectedMenuItem> items) {
    return {ExpectedMenuItem::Popup, 0, text, std::move(items)};
}

}  // namespace

const std::vector<ExpectedMenu>& expectedMenus() {
    static const std::vector<ExpectedMenu> menus = {
        {128,
         {
             popup(L"&File", {command(57665, L"")}),
             popup(L"&Edit", {command(57643, L"&Undo\tCtrl+Z"), separator(), command(57635, L"Cu&t\tCtrl+X"),
                              command(57634, L"&Copy\tCtrl+C"), command(57637, L"&Paste\tCtrl+V")}),
             popup(L"&Help", {command(57664, L"&About Tavelin")}),
         }},
        {145, {popup(nullptr, {command(32871, L"Remove")})}},
        {146, {popup(nullptr, {command(32872, L"Save to Desktop"), command(32873, L"Save as ...")})}},
        {154,
         {
             popup(nullptr,
                   {
                       popup(L"Stage", {command(32790, L"Box"), command(32791, L"Circle"), command(32792, L"Line"),
                                        command(32793, L"Grid"), command(32794, L"My Stage")}),
                       popup(L"Frame", {command(32810, L"Metallic"), command(32811, L"Blue"), command(32812, L"Pop")}),
                       command(32769, L"My Stage..."),
                       command(32770, L"Nick Name..."),
                       command(32771, L"Mouse Cursor"),
                       command(32772, L"Muting"),
                       separator(),
                       command(32773, L"Help"),
                       command(32774, L"Version Information"),
                       separator(),
                       command(32775, L"Exit"),
                   }),
         }},
        {296, {popup(nullptr, {command(32839, L"Copy(&C)")})}},
    };
    return menus;
}

const std::vector<ExpectedBitmap>& expectedBitmaps() {
    static const std::vector<ExpectedBitmap> bitmaps = {
        // Main menu button.
        {L"IDB_MAINBTN_NORMAL0", 95, 20, 24},
        {L"IDB_MAINBTN_FOCUSED0", 95, 20, 24},
        {L"IDB_MAINBTN_PUSHED0", 95, 20, 24},
        {L"IDB_MAINBTN_NORMAL1", 95, 20, 24},
        {L"IDB_MAINBTN_FOCUSED1", 95, 20, 24},
        {L"IDB_MAINBTN_PUSHED1", 95, 20, 24},
        {L"IDB_MAINBTN_NORMAL2", 95, 20, 24},
        {L"IDB_MAINBTN_FOCUSED2", 95, 20, 24},
        {L"IDB_MAINBTN_PUSHED2", 95, 20, 24},
        // Close button.
        {L"IDB_CLOSEBTN_NORMAL0", 13, 13, 24},
        {L"IDB_CLOSEBTN_FOCUSED0", 13, 13, 24},
        {L"IDB_CLOSEBTN_PUSHED0", 13, 13, 24},
        {L"IDB_CLOSEBTN_NORMAL1", 13, 13, 24},
        {L"IDB_CLOSEBTN_FOCUSED1", 13, 13, 24},
        {L"IDB_CLOSEBTN_PUSHED1", 13, 13, 24},
        {L"IDB_CLOSEBTN_NORMAL2", 13, 13, 24},
        {L"IDB_CLOSEBTN_FOCUSED2", 13, 13, 24},
        {L"IDB_CLOSEBTN_PUSHED2", 13, 13, 24},
        // Minimize button.
        {L"IDB_MINIBTN_NORMAL0", 13, 13, 24},
        {L"IDB_MINIBTN_FOCUSED0", 13, 13, 24},
        {L"IDB_MINIBTN_PUSHED0", 13, 13, 24},
        {L"IDB_MINIBTN_NORMAL1", 13, 13, 24},
        {L"IDB_MINIBTN_FOCUSED1", 13, 13, 24},
        {L"IDB_MINIBTN_PUSHED1", 13, 13, 24},
        {L"IDB_MINIBTN_NORMAL2", 13, 13, 24},
        {L"IDB_MINIBTN_FOCUSED2", 13, 13, 24},
        {L"IDB_MINIBTN_PUSHED2", 13, 13, 24},
        // Main dialog background.
        {L"IDB_MAINDLG_BG0", 800, 452, 24},
        {L"IDB_MAINDLG_BG1", 800, 452, 24},
        {L"IDB_MAINDLG_BG2", 800, 452, 24},
        // Status lamp.
        {L"IDB_STATUSCTRL_S0", 112, 19, 24},
        {L"IDB_STATUSCTRL_C0", 112, 19, 24},
        {L"IDB_STATUSCTRL_N0", 112, 19, 24},
        {L"IDB_STATUSCTRL_S1", 112, 19, 24},
        {L"IDB_STATUSCTRL_C1", 112, 19, 24},
        {L"IDB_STATUSCTRL_N1", 112, 19, 24},
        {L"IDB_STATUSCTRL_S2", 112, 19, 24},
        {L"IDB_STATUSCTRL_C2", 112, 19, 24},
        {L"IDB_STATUSCTRL_N2", 112, 19, 24},
        // Trash.
        {L"IDB_TRASH_OFF0", 77, 19, 24},
        {L"IDB_TRASH_ON0", 77, 19, 24},
        {L"IDB_TRASH_OFF1", 77, 19, 24},
        {L"IDB_TRASH_ON1", 77, 19, 24},
        {L"IDB_TRASH_OFF2", 77, 19, 24},
        {L"IDB_TRASH_ON2", 77, 19, 24},
        {L"IDB_TRASH_OFF", 77, 19, 24},
        {L"IDB_TRASH_ON", 77, 19, 24},
        // Phone panel.
        {L"IDB_PHONE_CTRL0", 228, 20, 24},
        {L"IDB_PHONE_CTRL1", 228, 20, 24},
        {L"IDB_PHONE_CTRL2", 228, 20, 24},
        // Phone power button.
        {L"IDB_PHONE_OFF0", 89, 20, 24},
        {L"IDB_PHONE_OFF_ROLL0", 89, 20, 24},
        {L"IDB_PHONE_OFF_PRESS0", 89, 20, 24},
        {L"IDB_PHONE_ON0", 89, 20, 24},
        {L"IDB_PHONE_ON_ROLL0", 89, 20, 24},
        {L"IDB_PHONE_ON_PRESS0", 89, 20, 24},
        {L"IDB_PHONE_OFF1", 89, 20, 24},
        {L"IDB_PHONE_OFF_ROLL1", 89, 20, 24},
        {L"IDB_PHONE_OFF_PRESS1", 89, 20, 24},
        {L"IDB_PHONE_ON1", 89, 20, 24},
        {L"IDB_PHONE_ON_ROLL1", 89, 20, 24},
        {L"IDB_PHONE_ON_PRESS1", 89, 20, 24},
        {L"IDB_PHONE_OFF2", 89, 20, 24},
        {L"IDB_PHONE_OFF_ROLL2", 89, 20, 24},
        {L"IDB_PHONE_OFF_PRESS2", 89, 20, 24},
        {L"IDB_PHONE_ON2", 89, 20, 24},
        {L"IDB_PHONE_ON_ROLL2", 89, 20, 24},
        {L"IDB_PHONE_ON_PRESS2", 89, 20, 24},
        // Phone lamp.
        {L"IDB_PHONE_LED_OFF0", 6, 10, 24},
        {L"IDB_PHONE_LED_ON0", 6, 10, 24},
        {L"IDB_PHONE_LED_OFF1", 6, 10, 24},
        {L"IDB_PHONE_LED_ON1", 6, 10, 24},
        {L"IDB_PHONE_LED_OFF2", 6, 10, 24},
        {L"IDB_PHONE_LED_ON2", 6, 10, 24},
        {L"IDB_PHONE_LED_OFF", 6, 10, 24},
        {L"IDB_PHONE_LED_LISTEN", 6, 10, 24},
        // Volume slider backgrounds.
        {L"IDB_SLIDER_BG0", 108, 16, 24},
        {L"IDB_SLIDER_BG1", 139, 20, 24},
        {L"IDB_SLIDER_BG2", 139, 20, 24},
        // Slider thumb and parts.
        {L"IDB_SLD_THUMB0", 8, 15, 24},
        {L"IDB_SLD_THUMB1", 8, 15, 24},
        {L"IDB_SLD_THUMB2", 8, 15, 24},
        {L"IDB_SLD_BACK", 108, 17, 24},
        {L"IDB_SLD_MASK", 8, 15, 24},
        // Slider cover and parts.
        {L"IDB_COVER0", 135, 20, 24},
        {L"IDB_COVER1", 135, 20, 24},
        {L"IDB_COVER2", 135, 20, 24},
        {L"IDB_COVER", 132, 18, 24},
        {L"IDB_COVER_BG", 129, 18, 24},
        // Stage backgrounds.
        {L"IDB_STAGECTRL_BG0", 800, 400, 24},
        {L"IDB_STAGECTRL_BG1", 800, 400, 24},
        {L"IDB_STAGECTRL_BG2", 800, 400, 24},
        {L"IDB_STAGECTRL_BG3", 800, 400, 24},
        // Black stage back and splash.
        {L"IDB_BLACK_BACK", 800, 400, 8},
        {L"IDB_SPLASHBMP", 400, 225, 8},
        // File thumbnails.
        {L"IDB_ANYFILE_THUMB", 120, 90, 24},
        {L"IDB_EXEFILE_THUMB", 120, 90, 24},
        // Small icons of the content windows.
        {L"IDB_CHAT_ICON", 16, 16, 24},
        {L"IDB_GRABED_ICON", 16, 16, 24},
    };
    return bitmaps;
}

const std::vector<ExpectedIconImage>& expectedIconImages() {
    static const std::vector<ExpectedIconImage> images = {
        {32, 4}, {16, 4}, {48, 8}, {32, 8}, {16, 8}, {48, 32}, {32, 32}, {16, 32},
    };
    return images;
}

const std::vector<UINT>& expectedSoundIds() {
    static const std::vector<UINT> ids = {167, 168, 169, 170, 171, 172, 173, 174, 175, 177, 217};
    return ids;
}

const std::vector<RECT>& expectedCursorRows() {
    static const std::vector<RECT> rows = {
        {4, 1, 6, 2},   {3, 2, 7, 3},   {3, 3, 8, 4},   {3, 4, 9, 5},  {3, 5, 10, 6},
        {3, 6, 11, 7},  {3, 7, 12, 8},  {3, 8, 13, 9},  {3, 9, 14, 10}, {3, 10, 8, 11},
        {3, 11, 7, 12}, {3, 12, 6, 13}, {3, 13, 5, 14}, {3, 14, 4, 15},
    };
    return rows;
}

const std::vector<ExpectedAccelerator>& expectedAccelerators() {
    // Copy, paste, cut, undo and the class library's next and previous pane.
    static const std::vector<ExpectedAccelerator> entries = {
        {FVIRTKEY | FCONTROL, 'C', 57634}, {FVIRTKEY | FCONTROL, VK_INSERT, 57634},
        {FVIRTKEY | FCONTROL, 'V', 57637}, {FVIRTKEY | FSHIFT, VK_INSERT, 57637},
        {FVIRTKEY | FCONTROL, 'X', 57635}, {FVIRTKEY | FSHIFT, VK_DELETE, 57635},
        {FVIRTKEY | FCONTROL, 'Z', 57643}, {FVIRTKEY | FALT, VK_BACK, 57643},
        {FVIRTKEY, VK_F6, 57680},          {FVIRTKEY | FSHIFT, VK_F6, 57681},
    };
    return entries;
}
