// The main dialog with its real controls, owned by a real main window, its skin from
// preferences in a private registry key; sounds through a recording player.
#include "BitmapPixels.h"
#include "CLeadImage.h"
#include "CMainBtn.h"
#include "CMainDlg.h"
#include "CMainWnd.h"
#include "CPhoneCtrl.h"
#include "CPreferenceManager.h"
#include "CSoundPlay.h"
#include "RegistryKey.h"
#include "TestSupport.h"
#include "UiThreadScope.h"
#include "WidgetTestSupport.h"
#include "WindowsTestSupport.h"

#include <CFileDialog.h>
#include <CMenu.h>

#include <objbase.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>

#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

std::mutex g_soundsLock;
std::vector<UINT_PTR> g_sounds;

BOOL WINAPI recordSound(LPCSTR sound, HMODULE, DWORD)
{
    std::lock_guard<std::mutex> hold(g_soundsLock);
    g_sounds.push_back(reinterpret_cast<UINT_PTR>(sound));
    return TRUE;
}

std::vector<UINT_PTR> sounds()
{
    std::lock_guard<std::mutex> hold(g_soundsLock);
    return g_sounds;
}

// Esc and Enter would reach these through the dialog keys.
class RecordingMainDlg : public CMainDlg {
public:
    using CMainDlg::CMainDlg;
    int ok = 0;
    int cancel = 0;

protected:
    void OnOK() override { ++ok; }
    void OnCancel() override { ++cancel; }
};

// The test's thread as the program's user-interface thread: tavlang as resource module, the
// main window in the thread's slot, preferences with the given skin stored.
class MainDlgFixture {
public:
    explicit MainDlgFixture(int storedSkin = -1, int storedCursor = -1, int storedMute = -1)
    {
        previousPlay_ = CSoundPlay::setPlayFunction(&recordSound);
        {
            std::lock_guard<std::mutex> hold(g_soundsLock);
            g_sounds.clear();
        }
        if (storedSkin >= 0)
            key.setNumber("skin", static_cast<DWORD>(storedSkin));
        if (storedCursor >= 0)
            key.setNumber("cursor", static_cast<DWORD>(storedCursor));
        if (storedMute >= 0)
            key.setNumber("mute", static_cast<DWORD>(storedMute));
        CoInitialize(nullptr);   // the manager releases one when it goes
        preferences = std::make_unique<CPreferenceManager>(key.path(), "APP", "T1", "Nick", "C:\\res");
        gui.reset(CMainWnd::createGuiHandle(&ui.m_pMainWnd, preferences.get(), nullptr));
        mainWnd = static_cast<CMainWnd*>(ui.m_pMainWnd);
        dialog = std::make_unique<RecordingMainDlg>(nullptr, mainWnd, preferences.get());
    }
    ~MainDlgFixture()
    {
        dialog.reset();
        gui.reset();
        ui.m_pMainWnd = nullptr;
        preferences.reset();
        CSoundPlay::setPlayFunction(previousPlay_);
        CSoundPlay::setMute(false);
    }
    // Shown at (20, 20) above other windows.
    void showOnTop()
    {
        SetWindowPos(dialog->m_hWnd, HWND_TOPMOST, 20, 20, 0, 0, SWP_NOSIZE | SWP_NOACTIVATE);
        dialog->Show(true);
        pumpMessages(200);
    }
    // The child's rectangle in the dialog's client coordinates; empty when it is missing.
    RECT childRect(int id) const
    {
        RECT rect = {0, 0, 0, 0};
        HWND child = GetDlgItem(dialog->m_hWnd, id);
        if (child == nullptr)
            return rect;
        GetWindowRect(child, &rect);
        MapWindowPoints(nullptr, dialog->m_hWnd, reinterpret_cast<POINT*>(&rect), 2);
        return rect;
    }

    UiThreadScope ui;
    RegistryKey key;
    std::unique_ptr<CPreferenceManager> preferences;
    std::unique_ptr<IGuiHandle> gui;
    CMainWnd* mainWnd = nullptr;
    std::unique_ptr<RecordingMainDlg> dialog;

private:
    CSoundPlay::PlayFunction previousPlay_;
};

// Screen pixels of the window that differ from the picture drawn at its origin, outside the
// windows given.
int wrongPixels(HMODULE resources, const std::wstring& picture, HWND window, const std::vector<RECT>& holes)
{
    const BitmapPixels expected(resources, picture.c_str());
    EXPECT_TRUE(expected.valid()) << std::string(picture.begin(), picture.end());
    if (!expected.valid())
        return -1;
    RECT onScreen;
    GetWindowRect(window, &onScreen);
    const std::vector<Rgb> pixels = screenPixels(onScreen);
    const int width = onScreen.right - onScreen.left;
    const int height = onScreen.bottom - onScreen.top;
    int wrong = 0;
    for (int y = 0; y < height && y < expected.height(); ++y)
        for (int x = 0; x < width && x < expected.width(); ++x) {
            POINT at = {onScreen.left + x, onScreen.top + y};
            bool inHole = false;
            for (const RECT& hole : holes)
                inHole = inHole || PtInRect(&hole, at);
            if (!inHole)
                wrong += pixels[static_cast<size_t>(y) * width + x] != expected.at(x, y);
        }
    return wrong;
}

int wrongPixels(HMODULE resources, const std::wstring& picture, HWND window, const std::vector<HWND>& skipped = {})
{
    std::vector<RECT> holes;
    for (HWND one : skipped) {
        RECT hole;
        GetWindowRect(one, &hole);
        holes.push_back(hole);
    }
    return wrongPixels(resources, picture, window, holes);
}

std::wstring wide(const std::string& text)
{
    return std::wstring(text.begin(), text.end());
}

} // namespace

TEST(CMainDlg, IsMadeHiddenWithItsControlsAtTheirPlacesOwnedByTheMainWindow)
{
    MainDlgFixture f(1);
    ASSERT_NE(nullptr, f.dialog->m_hWnd);
    HWND dialog = f.dialog->m_hWnd;
    EXPECT_FALSE(IsWindowVisible(dialog));
    EXPECT_EQ(f.mainWnd->m_hWnd, GetWindow(dialog, GW_OWNER));
    EXPECT_EQ("Tavelin", textOf(dialog));
    EXPECT_EQ(static_cast<LONG>(WS_MINIMIZEBOX | WS_SYSMENU),
              GetWindowLongA(dialog, GWL_STYLE) & static_cast<LONG>(WS_MINIMIZEBOX | WS_SYSMENU | WS_CAPTION));
    EXPECT_TRUE(GetWindowLongA(dialog, GWL_EXSTYLE) & WS_EX_APPWINDOW);
    RECT client;
    GetClientRect(dialog, &client);
    EXPECT_EQ(800, client.right);
    EXPECT_EQ(451, client.bottom);
    HICON big = reinterpret_cast<HICON>(SendMessageA(dialog, WM_GETICON, ICON_BIG, 0));
    EXPECT_NE(nullptr, big);
    EXPECT_EQ(big, reinterpret_cast<HICON>(SendMessageA(dialog, WM_GETICON, ICON_SMALL, 0)));
    // The skin of the preferences, applied without a sound.
    EXPECT_EQ(1, f.dialog->getSkin());
    EXPECT_TRUE(sounds().empty());

    const BitmapPixels trash(f.ui.resources(), L"IDB_TRASH_ON0");
    ASSERT_TRUE(trash.valid());
    struct {
        int id;
        RECT rect;
    } layout[] = {
        {1010, {19, 428, 114, 448}},
        {1011, {423, 428, 535, 447}},
        {1012, {763, 7, 776, 20}},
        {1013, {779, 7, 792, 20}},
        {1026, {707, 428, 707 + trash.width(), 428 + trash.height()}},
    };
    for (const auto& item : layout) {
        RECT rect = f.childRect(item.id);
        EXPECT_TRUE(EqualRect(&item.rect, &rect))
            << item.id << ": " << rect.left << "," << rect.top << "," << rect.right << "," << rect.bottom;
    }
    // The phone panel is there, in the dialog's skin; its window waits for the first showing.
    ASSERT_NE(nullptr, f.dialog->getPhoneCtrl());
    EXPECT_EQ(nullptr, f.dialog->getPhoneCtrl()->m_hWnd);
    EXPECT_EQ(nullptr, GetDlgItem(dialog, 1018));
}

TEST(CMainDlg, SkinChangesAfterTheFirstPlayTheirSoundAndOutsideTheThreeAreIgnored)
{
    MainDlgFixture f;
    EXPECT_EQ(0, f.dialog->getSkin());
    f.dialog->setSkin(1);
    f.dialog->setSkin(2);
    f.dialog->setSkin(5);
    f.dialog->setSkin(-1);
    EXPECT_EQ(2, f.dialog->getSkin());
    EXPECT_EQ((std::vector<UINT_PTR>{174, 174}), sounds());
    CSoundPlay::setMute(true);
    f.dialog->setSkin(0);
    CSoundPlay::setMute(false);
    EXPECT_EQ(0, f.dialog->getSkin());
    EXPECT_EQ(2u, sounds().size());
}

TEST(CMainDlg, BusyCountNeverGoesBelowZeroAndSetsTheCursorAtOnce)
{
    MainDlgFixture f;
    HCURSOR arrow = LoadCursorA(nullptr, IDC_ARROW);
    HCURSOR starting = LoadCursorA(nullptr, IDC_APPSTARTING);
    f.dialog->setBusy(true);
    EXPECT_TRUE(f.dialog->isBusy());
    EXPECT_EQ(starting, GetCursor());
    f.dialog->setBusy(true);
    f.dialog->setBusy(false);
    EXPECT_TRUE(f.dialog->isBusy());
    f.dialog->setBusy(false);
    f.dialog->setBusy(false);   // one more than raised
    EXPECT_FALSE(f.dialog->isBusy());
    EXPECT_EQ(arrow, GetCursor());
    // Counted from 0 again: one up makes it busy.
    f.dialog->setBusy(true);
    EXPECT_TRUE(f.dialog->isBusy());
    // The cursor over the dialog follows.
    f.dialog->SendMessage(WM_SETCURSOR, reinterpret_cast<WPARAM>(f.dialog->m_hWnd), MAKELPARAM(HTCLIENT, WM_MOUSEMOVE));
    EXPECT_EQ(starting, GetCursor());
    f.dialog->setBusy(false);
    f.dialog->SendMessage(WM_SETCURSOR, reinterpret_cast<WPARAM>(f.dialog->m_hWnd), MAKELPARAM(HTCLIENT, WM_MOUSEMOVE));
    EXPECT_EQ(arrow, GetCursor());
}

TEST(CMainDlg, EscapeAndEnterLeaveItAlone)
{
    MainDlgFixture f;
    for (WPARAM key : {WPARAM(VK_ESCAPE), WPARAM(VK_RETURN)}) {
        f.dialog->PostMessage(WM_KEYDOWN, key, 1);
        f.dialog->PostMessage(WM_KEYUP, key, 0xC0000001);
    }
    pumpMessages(200);
    EXPECT_EQ(0, f.dialog->ok);
    EXPECT_EQ(0, f.dialog->cancel);
    // Other messages still take the dialog's path: a posted IDCANCEL reaches OnCancel.
    f.dialog->PostMessage(WM_COMMAND, IDCANCEL, 0);
    pumpMessages(100);
    EXPECT_EQ(1, f.dialog->cancel);
}

TEST(CMainDlg, TheTrashTestsScreenPointsWithItsEdges)
{
    MainDlgFixture f;
    f.dialog->SetWindowPos(nullptr, 40, 30, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    HWND trash = GetDlgItem(f.dialog->m_hWnd, 1026);
    ASSERT_NE(nullptr, trash);
    RECT rect;
    GetWindowRect(trash, &rect);
    EXPECT_EQ(40 + 707, rect.left);
    EXPECT_EQ(30 + 428, rect.top);
    struct {
        POINT at;
        bool in;
    } points[] = {{{rect.left, rect.top}, true},
                  {{rect.right - 1, rect.bottom - 1}, true},
                  {{rect.right, rect.top}, false},
                  {{rect.left, rect.bottom}, false},
                  {{rect.left - 1, rect.top}, false},
                  {{0, 0}, false}};
    for (const auto& p : points)
        EXPECT_EQ(p.in, f.dialog->isPointInTrash(p.at.x, p.at.y)) << p.at.x << "," << p.at.y;
    RECT dialogRect = f.dialog->getMainDlgRect();
    EXPECT_EQ(40, dialogRect.left);
    EXPECT_EQ(30 + 451, dialogRect.bottom);

}

TEST(CMainDlg, ShownFromAnotherThreadInTheSkinsPixelsWithThePhonePanelAndTheTrashSwitchedOnCrossingsAndMinimisedByItsButton)
{
    MainDlgFixture f;
    HWND dialog = f.dialog->m_hWnd;
    SetWindowPos(dialog, HWND_TOPMOST, 20, 20, 0, 0, SWP_NOSIZE | SWP_NOACTIVATE);
    std::thread([&] { f.dialog->postShow(true); }).join();
    EXPECT_FALSE(IsWindowVisible(dialog));   // posted, not done
    pumpMessages(300);
    ASSERT_TRUE(IsWindowVisible(dialog));
    SetCursorPos(5, 600);
    HWND status = GetDlgItem(dialog, 1011), minimize = GetDlgItem(dialog, 1012), close = GetDlgItem(dialog, 1013),
         trash = GetDlgItem(dialog, 1026), menuButton = GetDlgItem(dialog, 1010), stage = GetDlgItem(dialog, 1009);
    HWND phone = GetDlgItem(dialog, 1018);
    ASSERT_NE(nullptr, phone);
    EXPECT_EQ(phone, f.dialog->getPhoneCtrl()->m_hWnd);
    EXPECT_EQ("phone control", textOf(phone));
    for (HWND control : {stage, status, minimize, close, trash, menuButton, phone})
        EXPECT_TRUE(IsWindowVisible(control));
    const RECT stageRect = f.childRect(1009);
    EXPECT_EQ((std::vector<LONG>{0, 27, 800, 427}),
              (std::vector<LONG>{stageRect.left, stageRect.top, stageRect.right, stageRect.bottom}));
    const RECT phoneRect = f.childRect(1018);
    EXPECT_EQ((std::vector<LONG>{156, 428, 156 + 228, 428 + 20}),
              (std::vector<LONG>{phoneRect.left, phoneRect.top, phoneRect.right, phoneRect.bottom}));
    // Shown again: the same one panel window.
    f.dialog->Show(false);
    f.dialog->Show(true);
    pumpMessages(100);
    EXPECT_EQ(phone, GetDlgItem(dialog, 1018));
    EXPECT_EQ(phone, FindWindowExA(dialog, nullptr, nullptr, "phone control"));
    EXPECT_EQ(nullptr, FindWindowExA(dialog, phone, nullptr, "phone control"));
    HWND power = GetDlgItem(phone, CPhoneCtrl::POWER_BUTTON_ID);
    ASSERT_NE(nullptr, power);
    HWND led = GetDlgItem(power, 1019);
    ASSERT_NE(nullptr, led);
    for (int skin : {0, 1, 2}) {
        f.dialog->setSkin(skin);
        pumpMessages(200);
        const std::string digit = std::to_string(skin);
        EXPECT_EQ(0, wrongPixels(f.ui.resources(), wide("IDB_MAINDLG_BG" + digit), dialog,
                                 {stage, status, minimize, close, trash, menuButton, phone}))
            << skin;
        // The phone panel follows the skin: its power button (off) and dark lamp.
        EXPECT_EQ(0, wrongPixels(f.ui.resources(), wide("IDB_PHONE_OFF" + digit), power, {led})) << skin;
        EXPECT_EQ(0, wrongPixels(f.ui.resources(), wide("IDB_PHONE_LED_OFF" + digit), led)) << skin;
        // The stage keeps the stored background whatever the skin.
        EXPECT_EQ(0, wrongPixels(f.ui.resources(), L"IDB_STAGECTRL_BG0", stage)) << skin;
        EXPECT_EQ(0, wrongPixels(f.ui.resources(), wide("IDB_MAINBTN_NORMAL" + digit), menuButton)) << skin;
        EXPECT_EQ(0, wrongPixels(f.ui.resources(), wide("IDB_MINIBTN_NORMAL" + digit), minimize)) << skin;
        EXPECT_EQ(0, wrongPixels(f.ui.resources(), wide("IDB_CLOSEBTN_NORMAL" + digit), close)) << skin;
        EXPECT_EQ(0, wrongPixels(f.ui.resources(), wide("IDB_TRASH_OFF" + digit), trash)) << skin;
        // The status picture without a role yet, outside its lamp.
        RECT lamp;
        GetWindowRect(status, &lamp);
        lamp = {lamp.left + 77, lamp.top + 6, lamp.left + 107, lamp.top + 13};
        EXPECT_EQ(0, wrongPixels(f.ui.resources(), wide("IDB_STATUSCTRL_N" + digit), status, std::vector<RECT>{lamp}))
            << skin;
        saveScreenshot("main_dialog_skin" + digit);
    }

    // Dragged over the trash: each switch invalidates the trash; moves that cross nothing leave it valid.
    auto switched = [&] {
        RECT update;
        return GetUpdateRect(trash, &update, FALSE) != FALSE;
    };
    RECT rect;
    GetWindowRect(trash, &rect);
    pumpMessages(100);
    struct {
        POINT at;
        bool switches;
    } moves[] = {{{0, 0}, false},
                 {{rect.left + 2, rect.top + 2}, true},
                 {{rect.left + 3, rect.top + 3}, false},
                 {{rect.right + 5, rect.top}, true},
                 {{rect.right + 9, rect.top}, false},
                 {{rect.left, rect.top}, true}};
    for (const auto& m : moves) {
        f.dialog->trackTrashHover(m.at.x, m.at.y);
        EXPECT_EQ(m.switches, switched()) << m.at.x << "," << m.at.y;
        pumpMessages(100);   // paints it
        const bool in = f.dialog->isPointInTrash(m.at.x, m.at.y);
        EXPECT_EQ(0, wrongPixels(f.ui.resources(), in ? L"IDB_TRASH_ON2" : L"IDB_TRASH_OFF2", trash))
            << m.at.x << "," << m.at.y;
    }
    saveScreenshot("main_dialog_trash_open");

    RECT button;
    GetWindowRect(minimize, &button);
    clickAt((button.left + button.right) / 2, (button.top + button.bottom) / 2);
    pumpMessages(500);
    EXPECT_TRUE(IsIconic(dialog));
    saveScreenshot("main_dialog_minimized");
}

TEST(CMainDlg, ClosingFromTheCloseButtonRequestsTermination)
{
    // The terminate-once flag is the process's: in a child of its own.
    if (isChild()) {
        MainDlgFixture f;
        HWND close = GetDlgItem(f.dialog->m_hWnd, 1013);
        SendMessageA(close, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(5, 5));
        SendMessageA(close, WM_LBUTTONUP, 0, MAKELPARAM(5, 5));
        MSG msg;
        int terminates = 0;
        bool byUser = true;
        while (PeekMessageA(&msg, f.mainWnd->m_hWnd, CMainWnd::WM_MAIN_WND_COMMAND, CMainWnd::WM_MAIN_WND_COMMAND,
                            PM_REMOVE)) {
            terminates += msg.wParam == CMainWnd::COMMAND_TERMINATE;
            byUser = byUser && msg.lParam == CMainWnd::TERMINATE_BY_USER;
        }
        bool noQuestion = shownBoxes().empty();
        exit(terminates == 1 && byUser && noQuestion && IsWindow(f.dialog->m_hWnd) ? 0 : 2);
    }
    TempDir dir;
    EXPECT_EQ(0, runInChild(dir));
}

TEST(CMainDlg, AnUndefinedCommandEndsTheProcess)
{
    if (isChild()) {
        childTracesToFile(false);
        MainDlgFixture f;
        f.dialog->SendMessage(CMainDlg::WM_MAIN_DLG_COMMAND, 9, 0);
        exit(0);
    }
    TempDir dir;
    EXPECT_EQ(ABNORMAL_EXIT, runInChild(dir));
    EXPECT_TRUE(hasLineWith(dir.logLines(), "undefined command 9")) << dir.logBytes();
}

namespace {

struct HelpCall {
    HWND caller;
    std::string file;
    UINT command;
    DWORD_PTR data;
};
std::vector<HelpCall> g_helpCalls;

HWND WINAPI recordHelp(HWND caller, LPCSTR file, UINT command, DWORD_PTR data)
{
    g_helpCalls.push_back({caller, file, command, data});
    return nullptr;   // as when the file is missing
}

bool checked(CMenu* menu, UINT id)
{
    return (menu->GetMenuState(id, MF_BYCOMMAND) & MF_CHECKED) != 0;
}

} // namespace

TEST(CMainBtn, MenuCarriesTheCursorMuteAndSkinChecksOfThisMoment)
{
    struct {
        int cursor, mute, skin;
    } cases[] = {{1, 0, 0}, {0, 1, 2}, {1, 1, 1}};
    for (const auto& c : cases) {
        MainDlgFixture f(c.skin, c.cursor, c.mute);
        CMainBtn* button = f.dialog->getMainBtn();
        ASSERT_NE(nullptr, button);
        EXPECT_EQ(c.mute != 0, CSoundPlay::isMute()) << c.mute;
        CMenu menu;
        CMenu* popup = button->PrepareMenu(menu);
        ASSERT_NE(nullptr, popup);
        EXPECT_EQ(c.cursor != 0, checked(popup, CMainBtn::ID_CURSOR)) << c.cursor;
        EXPECT_EQ(c.mute != 0, checked(popup, CMainBtn::ID_MUTE)) << c.mute;
        for (int skin = 0; skin < 3; ++skin)
            EXPECT_EQ(skin == c.skin, checked(popup, CMainBtn::ID_FRAME_FIRST + skin)) << c.skin << " " << skin;
        // The skin of the moment, not of the start.
        f.dialog->setSkin((c.skin + 1) % 3);
        CMenu again;
        popup = button->PrepareMenu(again);
        ASSERT_NE(nullptr, popup);
        for (int skin = 0; skin < 3; ++skin)
            EXPECT_EQ(skin == (c.skin + 1) % 3, checked(popup, CMainBtn::ID_FRAME_FIRST + skin)) << skin;
    }
}

TEST(CMainBtn, MutingAndCursorToggleAndAreStoredFrameChangesTheSkin)
{
    MainDlgFixture f;
    CMainBtn* button = f.dialog->getMainBtn();
    ASSERT_NE(nullptr, button);
    button->SendMessage(WM_COMMAND, CMainBtn::ID_MUTE, 0);
    EXPECT_TRUE(CSoundPlay::isMute());
    EXPECT_TRUE(f.preferences->getMute());
    button->SendMessage(WM_COMMAND, CMainBtn::ID_MUTE, 0);
    EXPECT_FALSE(CSoundPlay::isMute());
    EXPECT_FALSE(f.preferences->getMute());
    EXPECT_FALSE(button->isMuted());

    const bool cursor = f.preferences->getCursor();
    button->SendMessage(WM_COMMAND, CMainBtn::ID_CURSOR, 0);
    EXPECT_EQ(!cursor, f.preferences->getCursor());
    EXPECT_EQ(!cursor, button->isCursorShown());

    button->SendMessage(WM_COMMAND, CMainBtn::ID_FRAME_FIRST + 2, 0);
    EXPECT_EQ(2, f.dialog->getSkin());
    EXPECT_EQ(2, f.preferences->getSkin());
    EXPECT_EQ((std::vector<UINT_PTR>{174}), sounds());

    for (int background = 0; background <= 4; ++background) {
        button->SendMessage(WM_COMMAND, CMainBtn::ID_STAGE_FIRST + background, 0);
        EXPECT_EQ(background, f.preferences->getViewBg());
    }
}

namespace {

// What the open-file dialog was given each time, and the answers it gives in turn (an empty
// one cancels).
struct ChooserCall {
    std::string filter;
    DWORD flags;
    std::string initialFolder;
    HWND owner;
    bool defaultExtension;
    std::string fileName;
};
std::vector<ChooserCall> g_chooserCalls;
std::vector<std::string> g_chooserAnswers;

BOOL scriptedChooser(OPENFILENAMEA* ofn, BOOL open)
{
    ChooserCall call;
    // The filter's parts, NUL between and two at the end, back in the caller's "|" form.
    for (const char* part = ofn->lpstrFilter; part != nullptr && *part != '\0'; part += strlen(part) + 1)
        call.filter += std::string(part) + "|";
    call.filter += "|";
    call.flags = ofn->Flags;
    call.initialFolder = ofn->lpstrInitialDir != nullptr ? ofn->lpstrInitialDir : "";
    call.owner = ofn->hwndOwner;
    call.defaultExtension = ofn->lpstrDefExt != nullptr && *ofn->lpstrDefExt != '\0';
    call.fileName = ofn->lpstrFile != nullptr ? ofn->lpstrFile : "";
    g_chooserCalls.push_back(call);
    if (!open || g_chooserAnswers.empty())
        return FALSE;
    const std::string answer = g_chooserAnswers.front();
    g_chooserAnswers.erase(g_chooserAnswers.begin());
    if (answer.empty() || answer.size() >= ofn->nMaxFile)
        return FALSE;
    strcpy(ofn->lpstrFile, answer.c_str());
    return TRUE;
}

} // namespace

TEST(CMainBtn, MyStageAsksUntilAPictureIsChosenAndOpensInTheDocumentsOnlyUntilThen)
{
    MainDlgFixture f;
    CLeadImage loader;
    TempDir dir;
    const std::string picture = writeSmallJpeg(dir.path(), "own.jpg");
    ASSERT_FALSE(picture.empty());
    const std::string text = dir.file("notes.txt");
    {
        FILE* file = fopen(text.c_str(), "wb");
        ASSERT_NE(nullptr, file);
        fputs("hi", file);
        fclose(file);
    }
    const std::string missing = dir.file("gone.jpg");
    char documents[MAX_PATH] = {};
    ASSERT_TRUE(SHGetSpecialFolderPathA(nullptr, documents, CSIDL_PERSONAL, FALSE));
    const char UNUSABLE[] = "Cannot use the specified file for the application surface.";

    CFileDialog::Chooser previous = CFileDialog::ReplaceChooser(&scriptedChooser);
    g_chooserCalls.clear();
    clearShownBoxes();
    ASSERT_TRUE(CMainBtn::isFirstChoice());
    CMainBtn* button = f.dialog->getMainBtn();

    // Cancelled at once: nothing changes, the next dialog still opens in the documents.
    g_chooserAnswers = {""};
    button->SendMessage(WM_COMMAND, CMainBtn::ID_BG_SETUP, 0);
    EXPECT_EQ("", f.preferences->getCustomBg());
    EXPECT_TRUE(CMainBtn::isFirstChoice());
    // A missing file and a text: each told, the dialog again; then the picture is taken.
    g_chooserAnswers = {missing, text, picture};
    button->SendMessage(WM_COMMAND, CMainBtn::ID_BG_SETUP, 0);
    EXPECT_EQ(picture, f.preferences->getCustomBg());
    EXPECT_FALSE(CMainBtn::isFirstChoice());
    // Later dialogs open where the platform's dialog opens.
    g_chooserAnswers = {""};
    button->SendMessage(WM_COMMAND, CMainBtn::ID_BG_SETUP, 0);
    EXPECT_EQ(picture, f.preferences->getCustomBg());
    CFileDialog::ReplaceChooser(previous);

    ASSERT_EQ(5u, g_chooserCalls.size());
    for (size_t i = 0; i < g_chooserCalls.size(); ++i) {
        const ChooserCall& call = g_chooserCalls[i];
        EXPECT_EQ("Picture File (*.jpg;*.jpeg;*.gif;*.bmp)|*.jpg;*.jpeg;*.gif;*.bmp||", call.filter) << i;
        const DWORD flags = OFN_NOREADONLYRETURN | OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT;
        EXPECT_EQ(flags, call.flags & flags) << i;
        EXPECT_EQ(f.dialog->m_hWnd, call.owner) << i;
        EXPECT_FALSE(call.defaultExtension) << i;
        EXPECT_EQ("", call.fileName) << i;
        EXPECT_EQ(i < 4 ? std::string(documents) : std::string(), call.initialFolder) << i;
    }
    const std::vector<ShownBox> boxes = shownBoxes();
    ASSERT_EQ(2u, boxes.size());
    for (const ShownBox& box : boxes) {
        EXPECT_EQ(UNUSABLE, box.text);
        EXPECT_EQ("Tavelin", box.caption);
        EXPECT_EQ(static_cast<UINT>(MB_ICONEXCLAMATION | MB_OK), box.type);
        EXPECT_EQ(f.dialog->m_hWnd, box.owner);
    }
}

TEST(CMainBtn, NicknameCancelledStaysAndConfirmedIsStored)
{
    MainDlgFixture f;
    CMainBtn* button = f.dialog->getMainBtn();
    ASSERT_NE(nullptr, button);
    const DWORD uiThread = GetCurrentThreadId();
    struct {
        const char* typed;
        int button;
        const char* stored;
    } cases[] = {{"changed", IDCANCEL, "Nick"}, {"Neo", IDOK, "Neo"}};
    for (const auto& c : cases) {
        std::atomic<bool> opened{false};
        std::thread driver([&] {
            HWND dialogWnd = nullptr;
            if (!waitUntil([&] { return (dialogWnd = findDialog(uiThread, "Nick Name")) != nullptr; }))
                return;
            HWND edit = GetDlgItem(dialogWnd, 1023);
            opened = textOf(edit) == f.preferences->getNickname();
            SendMessageA(edit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(c.typed));
            PostMessageA(GetDlgItem(dialogWnd, c.button), BM_CLICK, 0, 0);
            if (!waitUntil([&] { return !IsWindow(dialogWnd); }, 3000))
                PostMessageA(dialogWnd, WM_COMMAND, IDCANCEL, 0);
        });
        button->SendMessage(WM_COMMAND, CMainBtn::ID_NICKNAME, 0);
        driver.join();
        EXPECT_TRUE(opened) << c.typed;
        EXPECT_EQ(c.stored, f.preferences->getNickname()) << c.typed;
    }
}

TEST(CMainBtn, HelpOnF1AsksTheViewerForTheFileBesideTheResources)
{
    MainDlgFixture f;
    g_helpCalls.clear();
    CMainBtn::HelpFunction previous = CMainBtn::setHelpFunction(&recordHelp);
    HELPINFO info{};
    info.cbSize = sizeof info;
    info.iContextType = HELPINFO_WINDOW;
    EXPECT_EQ(TRUE, f.dialog->SendMessage(WM_HELP, 0, reinterpret_cast<LPARAM>(&info)));
    f.dialog->getMainBtn()->SendMessage(WM_COMMAND, CMainBtn::ID_HELP, 0);
    CMainBtn::setHelpFunction(previous);
    ASSERT_EQ(2u, g_helpCalls.size());
    for (const HelpCall& call : g_helpCalls) {
        EXPECT_EQ(nullptr, call.caller);
        EXPECT_EQ("C:\\res\\tavapp.chm", call.file);
        EXPECT_EQ(static_cast<UINT>(HH_DISPLAY_TOPIC), call.command);
        EXPECT_EQ(0u, call.data);
    }
}

namespace {

void mouseTo(int x, int y, DWORD extra = 0)
{
    const int width = GetSystemMetrics(SM_CXSCREEN), height = GetSystemMetrics(SM_CYSCREEN);
    INPUT input = {};
    input.type = INPUT_MOUSE;
    input.mi.dx = (x * 65535 + (width - 1) / 2) / (width - 1);
    input.mi.dy = (y * 65535 + (height - 1) / 2) / (height - 1);
    input.mi.dwFlags = MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE | extra;
    SendInput(1, &input, sizeof(INPUT));
}


// This process's visible pop-up menu window, or null.
HWND shownMenu()
{
    return findOwnWindow("#32768", nullptr, true);
}

} // namespace

TEST(CMainBtn, AClickPlaysItsSoundAndOpensTheMenuCentredAboveThePointer)
{
    MainDlgFixture f;
    HWND dialog = f.dialog->m_hWnd;
    f.showOnTop();
    RECT button;
    GetWindowRect(GetDlgItem(dialog, 1010), &button);
    const POINT click = {(button.left + button.right) / 2, (button.top + button.bottom) / 2};
    RECT menuRect = {0, 0, 0, 0};
    std::atomic<bool> seen{false};
    std::thread driver([&] {
        HWND menu = nullptr;
        if (waitUntil([&] { return (menu = shownMenu()) != nullptr; }, 5000)) {
            Sleep(200);
            GetWindowRect(menu, &menuRect);
            seen = true;
            saveScreenshot("main_menu_open");
        }
        for (int attempt = 0; attempt < 5 && shownMenu() != nullptr; ++attempt) {
            typeKey(VK_ESCAPE);
            waitUntil([] { return shownMenu() == nullptr; }, 1000);
        }
        // Ends the tracking in any case, so that a failure does not hang the test.
        EndMenu();
    });
    clickAt(click.x, click.y);
    pumpMessages(1500);   // the menu's own loop runs inside, until Esc
    driver.join();
    ASSERT_TRUE(seen);
    EXPECT_EQ((std::vector<UINT_PTR>{167}), sounds());
    EXPECT_LE(std::abs((menuRect.left + menuRect.right) / 2 - click.x), 1);
    if (click.y - 5 + (menuRect.bottom - menuRect.top) <= GetSystemMetrics(SM_CYSCREEN)) {
        EXPECT_EQ(click.y - 5, menuRect.top);
    }
    EXPECT_EQ(nullptr, shownMenu());
    EXPECT_EQ(0, f.dialog->getSkin());   // nothing chosen
}

TEST(CMainDlg, APressOnTheBodyDragsTheDialog)
{
    MainDlgFixture f;
    HWND dialog = f.dialog->m_hWnd;
    f.showOnTop();
    RECT before;
    GetWindowRect(dialog, &before);
    const POINT start = {before.left + 400, before.top + 15};
    std::thread driver([&] {
        mouseTo(start.x, start.y);
        Sleep(100);
        mouseTo(start.x, start.y, MOUSEEVENTF_LEFTDOWN);
        Sleep(200);
        for (int step = 1; step <= 10; ++step) {
            mouseTo(start.x + 3 * step, start.y + 2 * step);
            Sleep(30);
        }
        Sleep(200);
        mouseTo(start.x + 30, start.y + 20, MOUSEEVENTF_LEFTUP);
    });
    pumpMessages(2000);
    driver.join();
    pumpMessages(200);
    RECT after;
    GetWindowRect(dialog, &after);
    EXPECT_EQ(before.left + 30, after.left);
    EXPECT_EQ(before.top + 20, after.top);
    EXPECT_EQ(before.right - before.left, after.right - after.left);
    saveScreenshot("main_dialog_dragged");
}

TEST(CMainBtn, ExitRequestsTerminationAsClosingDoes)
{
    if (isChild()) {
        MainDlgFixture f;
        f.dialog->getMainBtn()->SendMessage(WM_COMMAND, CMainBtn::ID_EXIT, 0);
        MSG msg;
        int terminates = 0;
        while (PeekMessageA(&msg, f.mainWnd->m_hWnd, CMainWnd::WM_MAIN_WND_COMMAND, CMainWnd::WM_MAIN_WND_COMMAND,
                            PM_REMOVE))
            terminates += msg.wParam == CMainWnd::COMMAND_TERMINATE && msg.lParam == CMainWnd::TERMINATE_BY_USER;
        exit(terminates == 1 ? 0 : 2);
    }
    TempDir dir;
    EXPECT_EQ(0, runInChild(dir));
}

TEST(CMainBtn, AHelpViewerThatDoesNotOpenIsTracedWithThePath)
{
    if (isChild()) {
        childTracesToFile(true);
        MainDlgFixture f;
        CMainBtn::setHelpFunction(&recordHelp);
        f.dialog->getMainBtn()->OnMainBtnHelp();
        exit(shownBoxes().empty() ? 0 : 2);
    }
    TempDir dir;
    EXPECT_EQ(0, runInChild(dir));
    EXPECT_TRUE(hasLineWith(dir.logLines(), "the help viewer did not open C:\\res\\tavapp.chm")) << dir.logBytes();
}
