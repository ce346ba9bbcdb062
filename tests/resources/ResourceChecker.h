#pragma once
// Compares the resources of a module with the expected tables and notes one line for each
// resource that is missing or wrong: its type, its id or name, what was expected and what was
// found. It goes on after a finding, so that one run names every problem.
#include "ExpectedResources.h"

class DialogTemplate;

#include <windows.h>

#include <string>
#include <vector>

class ResourceChecker {
public:
    // The module stays the caller's. Dialogs are created from it, so the common controls must
    // have been initialised (the progress bar's class).
    explicit ResourceChecker(HMODULE module);

    void checkStrings(const std::vector<ExpectedString>& strings);
    void checkDialogs(const std::vector<ExpectedDialog>& dialogs);
    void checkMenus(const std::vector<ExpectedMenu>& menus);
    void checkBitmaps(const std::vector<ExpectedBitmap>& bitmaps);
    void checkIconGroup(UINT id, const std::vector<ExpectedIconImage>& images);
    // Every table of tavlang.
    void checkLibrary();

    const std::vector<std::string>& findings() const { return findings_; }

    // A text as one printable line: line breaks, tabs and other control characters escaped.
    static std::string printable(const std::wstring& text);

private:
    void note(const std::string& line);
    void checkDialog(const ExpectedDialog& expected);
    void checkControls(HWND dialog, const DialogTemplate& form, const ExpectedDialog& expected);
    // Items are named by their path: "MENU 154 item 1.2" is the second item of the first popup.
    void checkMenuItems(HMENU menu, const std::vector<ExpectedMenuItem>& items, const std::string& where,
                        const char* step);
    void checkBitmap(const ExpectedBitmap& expected);

    HMODULE module_;
    std::vector<std::string> findings_;
};
