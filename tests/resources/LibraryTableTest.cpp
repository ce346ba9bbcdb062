// tavlang against the tables of what it must hold: every string, dialog, menu, bitmap and the
// program icon, found by its id or name and read as the program will read it.
#include "ExpectedResources.h"
#include "LoadedLibrary.h"
#include "ResourceChecker.h"

#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace {

INT_PTR CALLBACK quietDialogProc(HWND, UINT, WPARAM, LPARAM) { return FALSE; }

class TavlangTable : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_PROGRESS_CLASS};
        InitCommonControlsEx(&controls);
    }

    void SetUp() override { ASSERT_NE(nullptr, library.handle()) << "cannot load " << library.path(); }

    // One failure for each finding, so that the output names every missing or wrong resource.
    static void expectNoFindings(const ResourceChecker& checker) {
        for (const std::string& line : checker.findings()) ADD_FAILURE() << line;
    }

    LoadedLibrary library{"tavlang.dll"};
};

// The pixels of an icon drawn at its size over magenta.
std::vector<uint32_t> drawn(HICON icon, int size) {
    BITMAPINFO info = {};
    info.bmiHeader = {sizeof(BITMAPINFOHEADER), size, -size, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    void* bits = nullptr;
    HDC dc = CreateCompatibleDC(nullptr);
    HBITMAP target = CreateDIBSection(dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ previous = SelectObject(dc, target);
    std::vector<uint32_t> pixels(static_cast<size_t>(size) * size, 0x00FF00FF);
    std::copy(pixels.begin(), pixels.end(), static_cast<uint32_t*>(bits));
    DrawIconEx(dc, 0, 0, icon, size, size, 0, nullptr, DI_NORMAL);
    GdiFlush();
    std::copy(static_cast<uint32_t*>(bits), static_cast<uint32_t*>(bits) + pixels.size(), pixels.begin());
    SelectObject(dc, previous);
    DeleteObject(target);
    DeleteDC(dc);
    return pixels;
}

int iconSize(HICON icon) {
    ICONINFO info = {};
    if (!GetIconInfo(icon, &info)) return 0;
    BITMAP bitmap = {};
    GetObjectW(info.hbmColor ? info.hbmColor : info.hbmMask, sizeof bitmap, &bitmap);
    if (info.hbmColor) DeleteObject(info.hbmColor);
    if (info.hbmMask) DeleteObject(info.hbmMask);
    return bitmap.bmWidth;
}

TEST_F(TavlangTable, EveryStringHasItsTextAndLength) {
    ASSERT_EQ(41u, expectedStrings().size());
    ResourceChecker checker(library.handle());
    checker.checkStrings(expectedStrings());
    expectNoFindings(checker);
}

TEST_F(TavlangTable, EveryDialogIsCreatedWithItsCaptionSizeFontAndControls) {
    ResourceChecker checker(library.handle());
    checker.checkDialogs(expectedDialogs());
    expectNoFindings(checker);
}

TEST_F(TavlangTable, EveryMenuHasItsItemsSeparatorsAndPopupsInOrder) {
    ResourceChecker checker(library.handle());
    checker.checkMenus(expectedMenus());
    expectNoFindings(checker);
}

TEST_F(TavlangTable, EveryBitmapIsFoundByItsNameWithItsSizeAndDepth) {
    ASSERT_EQ(99u, expectedBitmaps().size());
    ResourceChecker checker(library.handle());
    checker.checkBitmaps(expectedBitmaps());
    expectNoFindings(checker);
}

TEST_F(TavlangTable, ProgramIconGroupHasItsEightImages) {
    ResourceChecker checker(library.handle());
    checker.checkIconGroup(PROGRAM_ICON, expectedIconImages());
    expectNoFindings(checker);
}

TEST_F(TavlangTable, ProgramIconLoadsAtSixteenThirtyTwoAndFortyEightPixels) {
    for (int size : {16, 32, 48}) {
        HICON icon = static_cast<HICON>(LoadImageW(library.handle(), MAKEINTRESOURCEW(PROGRAM_ICON), IMAGE_ICON,
                                                   size, size, 0));
        ASSERT_NE(nullptr, icon) << size;
        EXPECT_EQ(size, iconSize(icon));
        DestroyIcon(icon);
    }
}

TEST_F(TavlangTable, VersionDialogShowsTheProgramIcon) {
    HWND dialog = CreateDialogParamW(library.handle(), MAKEINTRESOURCEW(216), nullptr, quietDialogProc, 0);
    ASSERT_NE(nullptr, dialog);
    HWND iconControl = nullptr;
    for (HWND c = GetWindow(dialog, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) {
        if ((GetWindowLongW(c, GWL_STYLE) & SS_TYPEMASK) == SS_ICON) iconControl = c;
    }
    ASSERT_NE(nullptr, iconControl);
    HICON shown = reinterpret_cast<HICON>(SendMessageW(iconControl, STM_GETICON, 0, 0));
    ASSERT_NE(nullptr, shown);

    const int size = iconSize(shown);
    HICON ours = static_cast<HICON>(LoadImageW(library.handle(), MAKEINTRESOURCEW(PROGRAM_ICON), IMAGE_ICON, size,
                                               size, 0));
    ASSERT_NE(nullptr, ours);
    EXPECT_EQ(drawn(ours, size), drawn(shown, size));
    EXPECT_NE(drawn(LoadIconW(nullptr, MAKEINTRESOURCEW(32512) /* IDI_APPLICATION */), size), drawn(shown, size));
    DestroyIcon(ours);
    DestroyWindow(dialog);
}

// tavapp loads the library as a plain module; nothing of it may run.
TEST_F(TavlangTable, LibraryHoldsNoCodeAndImportsNothing) {
    auto base = reinterpret_cast<const BYTE*>(library.handle());
    auto dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    ASSERT_EQ(IMAGE_DOS_SIGNATURE, dos->e_magic);
    auto nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    ASSERT_EQ(IMAGE_NT_SIGNATURE, nt->Signature);
    EXPECT_TRUE(nt->FileHeader.Characteristics & IMAGE_FILE_DLL);
    EXPECT_EQ(0u, nt->OptionalHeader.AddressOfEntryPoint);
    EXPECT_EQ(0u, nt->OptionalHeader.SizeOfCode);

    const IMAGE_DATA_DIRECTORY& imports = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    if (imports.VirtualAddress && imports.Size >= sizeof(IMAGE_IMPORT_DESCRIPTOR)) {
        auto first = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(base + imports.VirtualAddress);
        EXPECT_EQ(0u, first->Name) << "the library imports a module";
    }
    const IMAGE_DATA_DIRECTORY& exports = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
    if (exports.VirtualAddress && exports.Size >= sizeof(IMAGE_EXPORT_DIRECTORY)) {
        auto directory = reinterpret_cast<const IMAGE_EXPORT_DIRECTORY*>(base + exports.VirtualAddress);
        EXPECT_EQ(0u, directory->NumberOfFunctions) << "the library exports a function";
    }
}

}  // namespace
