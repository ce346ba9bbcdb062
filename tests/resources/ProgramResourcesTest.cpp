// The main program's own resources, linked into this test program as tavapp links them: sounds,
// the copy animation, the cursor region, the accelerators and the icon. They must be found in the
// program and not in tavlang, and tavlang's must not be in the program.
#include "ExpectedResources.h"
#include "LoadedLibrary.h"
#include "ResourceChecker.h"
#include "RiffReader.h"

#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>
#include <tuple>
#include <vector>

namespace {

const LPCWSTR WAVE = L"WAVE";
const LPCWSTR AVI = L"AVI";
const LPCWSTR RGN = L"RGN";
const WORD PCM_FORMAT = 1;

HMODULE program() { return GetModuleHandleW(nullptr); }

std::string resourceBytes(HMODULE module, LPCWSTR name, LPCWSTR type) {
    HRSRC resource = FindResourceW(module, name, type);
    HGLOBAL loaded = resource ? LoadResource(module, resource) : nullptr;
    const void* data = loaded ? LockResource(loaded) : nullptr;
    return data ? std::string(static_cast<const char*>(data), SizeofResource(module, resource)) : std::string();
}

template <typename T>
T read(const std::string& bytes, size_t at) {
    T value = {};
    if (at + sizeof value <= bytes.size()) std::memcpy(&value, bytes.data() + at, sizeof value);
    return value;
}

struct Resource {
    LPCWSTR type;
    LPCWSTR name;
    std::string label;
};

std::vector<Resource> programOnlyResources() {
    std::vector<Resource> resources;
    for (UINT id : expectedSoundIds()) resources.push_back({WAVE, MAKEINTRESOURCEW(id), "WAVE " + std::to_string(id)});
    resources.push_back({AVI, MAKEINTRESOURCEW(COPY_ANIMATION), "AVI 220"});
    resources.push_back({RGN, CURSOR_REGION, "RGN IDR_RGN_CURSOR"});
    resources.push_back({MAKEINTRESOURCEW(9) /* RT_ACCELERATOR */, MAKEINTRESOURCEW(EDIT_ACCELERATORS),
                         "ACCELERATOR 128"});
    return resources;
}

class ProgramResources : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_NE(nullptr, tavlang.handle()) << "cannot load " << tavlang.path(); }

    LoadedLibrary tavlang{"tavlang.dll"};
};

TEST_F(ProgramResources, SoundsAnimationRegionAndAcceleratorsAreInTheProgramOnly) {
    for (const Resource& r : programOnlyResources()) {
        EXPECT_NE(nullptr, FindResourceW(program(), r.name, r.type)) << r.label << " is not in the program";
        EXPECT_EQ(nullptr, FindResourceW(tavlang.handle(), r.name, r.type)) << r.label << " is in tavlang";
    }
}

TEST_F(ProgramResources, LibraryResourcesAreNotInTheProgram) {
    for (const ExpectedString& s : expectedStrings()) {
        EXPECT_EQ(nullptr, FindResourceW(program(), MAKEINTRESOURCEW(s.id / 16 + 1), MAKEINTRESOURCEW(6)))
            << "string " << s.id << " is in the program";
    }
    for (const ExpectedDialog& d : expectedDialogs()) {
        EXPECT_EQ(nullptr, FindResourceW(program(), MAKEINTRESOURCEW(d.id), MAKEINTRESOURCEW(5)))
            << "dialog " << d.id << " is in the program";
    }
    for (const ExpectedMenu& m : expectedMenus()) {
        EXPECT_EQ(nullptr, FindResourceW(program(), MAKEINTRESOURCEW(m.id), MAKEINTRESOURCEW(4)))
            << "menu " << m.id << " is in the program";
    }
    for (const ExpectedBitmap& b : expectedBitmaps()) {
        EXPECT_EQ(nullptr, FindResourceW(program(), b.name, MAKEINTRESOURCEW(2)))
            << ResourceChecker::printable(b.name) << " is in the program";
    }
}

TEST_F(ProgramResources, ProgramIconIsInBothModules) {
    for (HMODULE module : {program(), tavlang.handle()}) {
        ResourceChecker checker(module);
        checker.checkIconGroup(PROGRAM_ICON, expectedIconImages());
        for (const std::string& line : checker.findings())
            ADD_FAILURE() << (module == program() ? "program: " : "tavlang: ") << line;
    }
}

TEST_F(ProgramResources, CursorRegionIsTheArrowOfFourteenRows) {
    std::string data = resourceBytes(program(), CURSOR_REGION, RGN);
    ASSERT_EQ(32u + 14 * 16, data.size());
    EXPECT_EQ(32u, read<DWORD>(data, 0));
    EXPECT_EQ(1u, read<DWORD>(data, 4));
    EXPECT_EQ(14u, read<DWORD>(data, 8));
    EXPECT_EQ(224u, read<DWORD>(data, 12));

    HRGN region = ExtCreateRegion(nullptr, static_cast<DWORD>(data.size()),
                                  reinterpret_cast<const RGNDATA*>(data.data()));
    ASSERT_NE(nullptr, region);
    RECT box = {};
    GetRgnBox(region, &box);
    EXPECT_EQ(3, box.left);
    EXPECT_EQ(1, box.top);
    EXPECT_EQ(14, box.right);
    EXPECT_EQ(15, box.bottom);
    EXPECT_TRUE(PtInRegion(region, 4, 1));
    EXPECT_TRUE(PtInRegion(region, 13, 9));
    EXPECT_FALSE(PtInRegion(region, 6, 1));
    EXPECT_FALSE(PtInRegion(region, 8, 10));

    // The region as the platform built it, row by row.
    std::vector<char> built(GetRegionData(region, 0, nullptr));
    ASSERT_GT(GetRegionData(region, static_cast<DWORD>(built.size()), reinterpret_cast<RGNDATA*>(built.data())), 0u);
    auto header = reinterpret_cast<const RGNDATAHEADER*>(built.data());
    auto rows = reinterpret_cast<const RECT*>(built.data() + header->dwSize);
    ASSERT_EQ(expectedCursorRows().size(), header->nCount);
    for (size_t i = 0; i < header->nCount; ++i) {
        EXPECT_TRUE(EqualRect(&expectedCursorRows()[i], &rows[i])) << "row " << i;
    }
    DeleteObject(region);
}

TEST_F(ProgramResources, CopyAnimationHasTwentySevenUncompressedEightBitFramesOf100Ms) {
    std::string bytes = resourceBytes(program(), MAKEINTRESOURCEW(COPY_ANIMATION), AVI);
    RiffReader avi(bytes.data(), bytes.size());
    ASSERT_EQ("AVI ", avi.form());
    std::string main = avi.chunk("hdrl", "avih");
    ASSERT_GE(main.size(), 40u);
    EXPECT_EQ(100000u, read<DWORD>(main, 0));  // microseconds a frame
    EXPECT_EQ(27u, read<DWORD>(main, 16));     // frames
    EXPECT_EQ(256u, read<DWORD>(main, 32));
    EXPECT_EQ(40u, read<DWORD>(main, 36));

    std::string stream = avi.chunk("hdrl/strl", "strh");
    ASSERT_GE(stream.size(), 8u);
    EXPECT_EQ("vids", stream.substr(0, 4));
    std::string handler = stream.substr(4, 4);
    EXPECT_TRUE(handler == "DIB " || handler == std::string(4, '\0')) << handler;

    std::string format = avi.chunk("hdrl/strl", "strf");
    ASSERT_GE(format.size(), sizeof(BITMAPINFOHEADER));
    auto picture = read<BITMAPINFOHEADER>(format, 0);
    EXPECT_EQ(256, picture.biWidth);
    EXPECT_EQ(40, picture.biHeight);
    EXPECT_EQ(8, picture.biBitCount);
    EXPECT_EQ(static_cast<DWORD>(BI_RGB), picture.biCompression);
    EXPECT_EQ(27, avi.count("movi", "00db"));
}

TEST_F(ProgramResources, CopyAnimationOpensInAnAnimationControlThatSizesItself) {
    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_ANIMATE_CLASS};
    ASSERT_TRUE(InitCommonControlsEx(&controls));
    HWND parent = CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 400, 120, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(nullptr, parent);
    // As the copy dialog makes it: (15, 10) - (300, 50), transparent, playing at once.
    HWND animation = CreateWindowExW(0, ANIMATE_CLASSW, nullptr, WS_CHILD | WS_VISIBLE | ACS_TRANSPARENT | ACS_AUTOPLAY,
                                     15, 10, 285, 40, parent, reinterpret_cast<HMENU>(1), program(), nullptr);
    ASSERT_NE(nullptr, animation);
    EXPECT_TRUE(SendMessageW(animation, ACM_OPENW, reinterpret_cast<WPARAM>(program()),
                             reinterpret_cast<LPARAM>(MAKEINTRESOURCEW(COPY_ANIMATION))));
    RECT placed = {};
    GetWindowRect(animation, &placed);
    EXPECT_EQ(256, placed.right - placed.left);
    EXPECT_EQ(40, placed.bottom - placed.top);
    SendMessageW(animation, ACM_STOP, 0, 0);
    DestroyWindow(parent);
}

TEST_F(ProgramResources, EverySoundIsAShortPcmWaveOfItsOwn) {
    std::set<std::string> samples;
    for (UINT id : expectedSoundIds()) {
        SCOPED_TRACE("WAVE " + std::to_string(id));
        std::string bytes = resourceBytes(program(), MAKEINTRESOURCEW(id), WAVE);
        RiffReader wave(bytes.data(), bytes.size());
        ASSERT_EQ("WAVE", wave.form());
        std::string format = wave.chunk("", "fmt ");
        ASSERT_GE(format.size(), 16u);
        EXPECT_EQ(PCM_FORMAT, read<WORD>(format, 0));
        WORD channels = read<WORD>(format, 2);
        DWORD rate = read<DWORD>(format, 4);
        WORD blockAlign = read<WORD>(format, 12);
        WORD bits = read<WORD>(format, 14);
        EXPECT_TRUE(channels == 1 || channels == 2);
        EXPECT_TRUE(bits == 8 || bits == 16);
        ASSERT_EQ(channels * bits / 8, blockAlign);
        std::string data = wave.chunk("", "data");
        ASSERT_FALSE(data.empty());
        EXPECT_LE(data.size(), static_cast<size_t>(rate) * blockAlign) << "longer than a second";
        EXPECT_TRUE(samples.insert(data).second) << "the same sound as another";
    }
}

TEST_F(ProgramResources, EditAcceleratorsHaveTheirTenEntries) {
    HACCEL table = LoadAcceleratorsW(program(), MAKEINTRESOURCEW(EDIT_ACCELERATORS));
    ASSERT_NE(nullptr, table);
    std::vector<ACCEL> entries(CopyAcceleratorTableW(table, nullptr, 0));
    ASSERT_EQ(expectedAccelerators().size(), entries.size());
    CopyAcceleratorTableW(table, entries.data(), static_cast<int>(entries.size()));
    std::set<std::tuple<BYTE, WORD, WORD>> found;
    for (const ACCEL& a : entries) found.insert({static_cast<BYTE>(a.fVirt & (FVIRTKEY | FCONTROL | FSHIFT | FALT)), a.key, a.cmd});
    for (const ExpectedAccelerator& want : expectedAccelerators()) {
        EXPECT_EQ(1u, found.count({want.virt, want.key, want.command}))
            << "flags " << int(want.virt) << " key " << want.key << " command " << want.command;
    }
    DestroyAcceleratorTable(table);
}

}  // namespace
