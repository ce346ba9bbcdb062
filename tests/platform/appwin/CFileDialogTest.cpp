// Open and save dialogs: what reaches the system's dialog, and real dialogs driven by a thread.
#include "CFileDialog.h"
#include "SentInput.h"
#include "UiThreadScope.h"

#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <string>
#include <thread>

namespace {

// What the replaced dialog was given; it answers with a path of its choice.
struct Seen {
    std::string filter;   // NULs shown as '|'
    DWORD flags = 0;
    std::string initialDir;
    std::string fileName;
    std::string defExt;
    HWND owner = nullptr;
    BOOL open = FALSE;
    int calls = 0;
};
Seen g_seen;
const char* g_answer = nullptr;

BOOL fakeChooser(OPENFILENAMEA* ofn, BOOL open) {
    ++g_seen.calls;
    g_seen.open = open;
    g_seen.flags = ofn->Flags;
    g_seen.owner = ofn->hwndOwner;
    g_seen.initialDir = ofn->lpstrInitialDir ? ofn->lpstrInitialDir : "";
    g_seen.fileName = ofn->lpstrFile;
    g_seen.defExt = ofn->lpstrDefExt ? ofn->lpstrDefExt : "";
    g_seen.filter.clear();
    // Up to the double NUL that ends the list.
    for (const char* p = ofn->lpstrFilter; p && (p[0] || p[1]); ++p)
        g_seen.filter += *p ? *p : '|';
    if (!g_answer)
        return FALSE;
    lstrcpynA(ofn->lpstrFile, g_answer, ofn->nMaxFile);
    return TRUE;
}

// Puts the fake in place for a scope.
struct FakeChooser {
    FakeChooser() {
        g_seen = Seen();
        previous = CFileDialog::ReplaceChooser(&fakeChooser);
    }
    ~FakeChooser() { CFileDialog::ReplaceChooser(previous); }
    CFileDialog::Chooser previous;
};

}  // namespace

TEST(CFileDialog, TheSystemsDialogGetsTheFilterPairsFlagsFolderAndName) {
    UiThreadScope ui;
    FakeChooser fake;
    CPlainTopWnd main({0, 0, 100, 100}, WS_POPUP);
    ui.m_pMainWnd = &main;
    const DWORD flags = OFN_NOREADONLYRETURN | OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT;
    CFileDialog dialog(TRUE, nullptr, "start.jpg", flags, "Picture File (*.jpg)|*.jpg||");
    dialog.m_ofn.lpstrInitialDir = "C:\\pictures";
    g_answer = "C:\\pictures\\chosen.jpg";
    EXPECT_EQ(IDOK, dialog.DoModal());
    EXPECT_EQ("C:\\pictures\\chosen.jpg", dialog.GetPathName());
    EXPECT_EQ(1, g_seen.calls);
    EXPECT_TRUE(g_seen.open);
    EXPECT_EQ("Picture File (*.jpg)|*.jpg", g_seen.filter);
    EXPECT_EQ(flags, g_seen.flags & flags);
    EXPECT_EQ("C:\\pictures", g_seen.initialDir);
    EXPECT_EQ("start.jpg", g_seen.fileName);
    EXPECT_EQ("", g_seen.defExt);
    // Without a parent, the thread's main window owns it.
    EXPECT_EQ(main.m_hWnd, g_seen.owner);
    ui.m_pMainWnd = nullptr;
}

TEST(CFileDialog, ASaveDialogWithTwoFiltersAParentAndACancel) {
    UiThreadScope ui;
    FakeChooser fake;
    CPlainTopWnd parent({0, 0, 100, 100}, WS_POPUP);
    CFileDialog dialog(FALSE, "txt", "report.doc", OFN_HIDEREADONLY,
                       "All Files (*.*)|*.*|Texts (*.txt)|*.txt||", &parent);
    g_answer = nullptr;
    EXPECT_EQ(IDCANCEL, dialog.DoModal());
    EXPECT_FALSE(g_seen.open);
    EXPECT_EQ("All Files (*.*)|*.*|Texts (*.txt)|*.txt", g_seen.filter);
    EXPECT_EQ("txt", g_seen.defExt);
    EXPECT_EQ(parent.m_hWnd, g_seen.owner);
    EXPECT_EQ("report.doc", dialog.GetPathName());
    // A name longer than the room is cut, not overrun.
    std::string longName(5000, 'x');
    CFileDialog cut(FALSE, nullptr, longName.c_str(), 0, nullptr, &parent);
    EXPECT_EQ(IDCANCEL, cut.DoModal());
    EXPECT_EQ(static_cast<size_t>(cut.m_ofn.nMaxFile - 1), g_seen.fileName.size());
    EXPECT_EQ("", g_seen.filter);
}

TEST(CFileDialog, ABufferOfTheCallersInMOfnTakesTheChosenPath) {
    UiThreadScope ui;
    FakeChooser fake;
    CPlainTopWnd parent({0, 0, 100, 100}, WS_POPUP);
    CFileDialog dialog(TRUE, nullptr, nullptr, 0, "All Files (*.*)|*.*||", &parent);
    char own[16] = "mine.txt";
    dialog.m_ofn.lpstrFile = own;
    dialog.m_ofn.nMaxFile = sizeof own;
    g_answer = "C:\\a\\very\\long\\chosen\\path.txt";
    EXPECT_EQ(IDOK, dialog.DoModal());
    EXPECT_EQ("mine.txt", g_seen.fileName);
    // The chooser wrote what fits, and the path is read from there.
    EXPECT_EQ(std::string(g_answer).substr(0, sizeof own - 1), dialog.GetPathName());
    EXPECT_EQ(dialog.GetPathName(), std::string(own));
}

namespace {

struct Folder {
    std::string path;
    Folder() {
        char temp[MAX_PATH] = "";
        GetTempPathA(sizeof temp, temp);
        path = std::string(temp) + "TavelinFileDlg" + std::to_string(GetCurrentProcessId());
        CreateDirectoryA(path.c_str(), nullptr);
        std::ofstream(path + "\\pic.jpg") << "x";
    }
    ~Folder() {
        DeleteFileA((path + "\\pic.jpg").c_str());
        DeleteFileA((path + "\\report.doc").c_str());
        RemoveDirectoryA(path.c_str());
    }
};

HWND visibleDialogOf(DWORD thread) {
    HWND found = nullptr;
    EnumThreadWindows(
        thread,
        [](HWND hwnd, LPARAM out) {
            char name[16] = "";
            GetClassNameA(hwnd, name, sizeof name);
            if (std::string(name) == "#32770" && IsWindowVisible(hwnd)) {
                *reinterpret_cast<HWND*>(out) = hwnd;
                return FALSE;
            }
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&found));
    return found;
}

std::string selectedText(HWND combo) {
    LRESULT selected = SendMessageA(combo, CB_GETCURSEL, 0, 0);
    char text[MAX_PATH] = "";
    if (selected != CB_ERR && SendMessageA(combo, CB_GETLBTEXTLEN, selected, 0) < MAX_PATH)
        SendMessageA(combo, CB_GETLBTEXT, selected, reinterpret_cast<LPARAM>(text));
    return text;
}

// A real dialog's surroundings: the thread's main window owns it, a folder holds pic.jpg.
struct RealDialogScene {
    UiThreadScope ui;
    Folder folder;
    CPlainTopWnd main{{0, 0, 100, 100}, WS_POPUP};
    RealDialogScene() { ui.m_pMainWnd = &main; }
    ~RealDialogScene() { ui.m_pMainWnd = nullptr; }
    std::string fullPath(const char* name) const {
        char path[MAX_PATH] = "";
        GetFullPathNameA((folder.path + "\\" + name).c_str(), sizeof path, path, nullptr);
        return path;
    }
};

// What the driver read from the dialog before it ended it.
struct Driven {
    bool found = false;
    std::string folderShown;   // combo 1137
    std::string filterShown;   // combo 1136
};

// Runs the dialog while a thread types the name (when given) and presses the button.
INT_PTR driveDialog(CFileDialog& dialog, const char* name, int button, Driven& driven) {
    const DWORD uiThread = GetCurrentThreadId();
    std::thread driver([&] {
        HWND found = nullptr;
        if (!waitFor([&] { return (found = visibleDialogOf(uiThread)) != nullptr; }, 10000))
            return;
        // The folder's listing fills in after the dialog shows.
        Sleep(300);
        driven.found = true;
        driven.folderShown = selectedText(GetDlgItem(found, 1137));
        driven.filterShown = selectedText(GetDlgItem(found, 1136));
        if (name)
            SendMessageA(GetDlgItem(found, 1148), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(name));
        PostMessageA(found, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED),
                     reinterpret_cast<LPARAM>(GetDlgItem(found, button)));
        // Ends the dialog in any case, so that a failure does not hang the test.
        if (!waitFor([&] { return !IsWindow(found); }, 5000))
            PostMessageA(found, WM_COMMAND, IDCANCEL, 0);
    });
    INT_PTR result = dialog.DoModal();
    driver.join();
    return result;
}

}  // namespace

TEST(CFileDialog, ARealOpenDialogShowsTheFolderAndFilterAndReturnsTheTypedPath) {
    RealDialogScene scene;
    CFileDialog dialog(TRUE, nullptr, nullptr, OFN_NOREADONLYRETURN | OFN_HIDEREADONLY,
                       "Picture File (*.jpg)|*.jpg||");
    dialog.m_ofn.lpstrInitialDir = scene.folder.path.c_str();
    Driven driven;
    EXPECT_EQ(IDOK, driveDialog(dialog, "pic.jpg", IDOK, driven));
    EXPECT_TRUE(driven.found);
    EXPECT_EQ("TavelinFileDlg" + std::to_string(GetCurrentProcessId()), driven.folderShown);
    EXPECT_EQ("Picture File (*.jpg)", driven.filterShown);
    EXPECT_STRCASEEQ(scene.fullPath("pic.jpg").c_str(), dialog.GetPathName().c_str());
}

TEST(CFileDialog, ARealOpenDialogCancelledGivesIdCancel) {
    RealDialogScene scene;
    CFileDialog dialog(TRUE, nullptr, nullptr, OFN_HIDEREADONLY, "Picture File (*.jpg)|*.jpg||");
    dialog.m_ofn.lpstrInitialDir = scene.folder.path.c_str();
    Driven driven;
    EXPECT_EQ(IDCANCEL, driveDialog(dialog, "pic.jpg", IDCANCEL, driven));
    EXPECT_TRUE(driven.found);
}

TEST(CFileDialog, ARealSaveDialogReturnsTheInitialNameInTheInitialFolder) {
    RealDialogScene scene;
    CFileDialog dialog(FALSE, nullptr, "report.doc",
                       OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT | OFN_NOREADONLYRETURN,
                       "All Files (*.*)|*.*||");
    dialog.m_ofn.lpstrInitialDir = scene.folder.path.c_str();
    Driven driven;
    EXPECT_EQ(IDOK, driveDialog(dialog, nullptr, IDOK, driven));
    EXPECT_TRUE(driven.found);
    EXPECT_EQ("All Files (*.*)", driven.filterShown);
    EXPECT_STRCASEEQ(scene.fullPath("report.doc").c_str(), dialog.GetPathName().c_str());
}
