// The stage window's backgrounds on the screen: the built-in pictures of tavlang, the black
// one without custom picture, and a custom picture, with their sounds and the orders to the
// model.
#include "StageCtrlFixture.h"

#include "BitmapPixels.h"
#include "CPreferenceManager.h"
#include "WidgetTestSupport.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace {

const POINT PROBES[] = {{0, 0}, {799, 399}, {400, 200}, {123, 45}, {650, 333}};

// The stage's client origin on the screen.
POINT stageOrigin(StageCtrlFixture& f)
{
    POINT origin = {0, 0};
    ClientToScreen(f.stage->m_hWnd, &origin);
    return origin;
}

// Probes whose screen pixel differs from the colour the function gives for it.
std::string wrongProbes(StageCtrlFixture& f, const std::function<Rgb(POINT)>& expected)
{
    f.stage->RedrawWindow();
    pumpUntil([] { return false; }, 150);
    const POINT origin = stageOrigin(f);
    std::string wrong;
    for (const POINT& probe : PROBES) {
        const RECT one = {origin.x + probe.x, origin.y + probe.y, origin.x + probe.x + 1, origin.y + probe.y + 1};
        const Rgb seen = screenPixels(one).at(0);
        const Rgb want = expected(probe);
        if (seen != want)
            wrong += "(" + std::to_string(probe.x) + "," + std::to_string(probe.y) + ") seen " + std::to_string(seen.r)
                     + "," + std::to_string(seen.g) + "," + std::to_string(seen.b) + " want " + std::to_string(want.r)
                     + "," + std::to_string(want.g) + "," + std::to_string(want.b) + "; ";
    }
    return wrong;
}

std::string wrongProbes(StageCtrlFixture& f, const wchar_t* picture)
{
    const BitmapPixels pixels(f.ui.resources(), picture);
    EXPECT_TRUE(pixels.valid());
    if (!pixels.valid())
        return "no picture";
    return wrongProbes(f, [&](POINT p) { return pixels.at(p.x, p.y); });
}

void show(StageCtrlFixture& f)
{
    SetWindowPos(f.window->m_hWnd, HWND_TOPMOST, 20, 20, 0, 0, SWP_NOSIZE | SWP_NOACTIVATE | SWP_SHOWWINDOW);
    f.stage->ShowWindow(SW_SHOWNA);
    pumpUntil([] { return false; }, 200);
}

std::vector<std::string> orders(StageCtrlFixture& f, size_t count)
{
    pumpUntil([&] { return f.element->calls.entries().size() >= count; }, 5000);
    return f.element->calls.entries();
}

} // namespace

TEST(StageCtrlScreen, BackgroundsShowTavlangsPicturesTheBlackOneAndACustomPictureWithTheirSounds)
{
    StageCtrlFixture f(0);
    f.bind(true);
    show(f);
    EXPECT_EQ("", wrongProbes(f, L"IDB_STAGECTRL_BG0"));
    saveScreenshot("StageCtrlBackground0");

    const wchar_t* const pictures[] = {L"IDB_STAGECTRL_BG0", L"IDB_STAGECTRL_BG1", L"IDB_STAGECTRL_BG2",
                                       L"IDB_STAGECTRL_BG3"};
    for (int n = 0; n < 4; ++n) {
        runOnWorker([&] { f.stage->changeBackGround(n); });
        f.settle();
        EXPECT_EQ("", wrongProbes(f, pictures[n])) << n;
        EXPECT_EQ(n, f.stage->GetBackGround());
    }
    // The first order is silent.
    EXPECT_EQ((std::vector<int>{174, 174, 174}), playedSounds());

    runOnWorker([&] { f.stage->changeBackGround(4); });
    f.settle();
    EXPECT_EQ("", wrongProbes(f, L"IDB_BLACK_BACK"));
    EXPECT_FALSE(f.stage->HasCustomBgBitmap());

    clearPlayedSounds();
    f.stage->SetBackGround(2);
    EXPECT_EQ((std::vector<int>{174}), playedSounds());
    EXPECT_EQ("", wrongProbes(f, L"IDB_STAGECTRL_BG2"));
    EXPECT_EQ((std::vector<std::string>{"LOC_updateBackGround 2"}), orders(f, 1));

    // A solid picture: on the master it becomes the background at once and is stored.
    std::vector<unsigned char> block(static_cast<size_t>(800) * 3 * 400);
    for (size_t i = 0; i < block.size(); i += 3) {
        block[i] = 30;        // blue
        block[i + 1] = 200;   // green
        block[i + 2] = 10;    // red
    }
    runOnWorker([&] { f.stage->changeCustomBgData(static_cast<unsigned>(block.size()), block.data(), 800, 400); });
    EXPECT_TRUE(f.stage->HasCustomBgBitmap());
    EXPECT_EQ(4, f.preferences->getViewBg());
    EXPECT_EQ((std::vector<std::string>{"LOC_updateBackGround 2", "LOC_updateBackGround 4"}), orders(f, 2));
    const auto solid = [](POINT) { return Rgb{10, 200, 30}; };
    EXPECT_EQ("", wrongProbes(f, solid));

    runOnWorker([&] { f.stage->changeBackGround(4); });
    f.settle();
    EXPECT_EQ("", wrongProbes(f, solid));
    saveScreenshot("StageCtrlCustomBackground");

    // A console reconnect builds the picture again from the stage's copy.
    f.stage->PostMessage(0x02B1, 1, 0);
    f.settle();
    EXPECT_TRUE(f.stage->HasCustomBgBitmap());
    EXPECT_EQ("", wrongProbes(f, solid));
    SetWindowPos(f.window->m_hWnd, HWND_NOTOPMOST, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOMOVE | SWP_NOACTIVATE);
}

TEST(StageCtrlScreen, TheUsersBackgroundChoiceOnASlaveEndsTheProcess)
{
    TempDir dir;
    if (isChild()) {
        childTracesToFile(false);
        StageCtrlFixture f(0);
        f.bind(false);
        f.stage->SetBackGround(1);
        std::exit(0);
    }
    EXPECT_NE(0, runInChild(dir));
    EXPECT_TRUE(hasLineWith(dir.logLines(), "ASSERT: ")) << dir.logBytes();
}
