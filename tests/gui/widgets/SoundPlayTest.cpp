// The program's sounds, seen through the replaced platform call.
#include "CSoundPlay.h"
#include "UiThreadScope.h"

#include <gtest/gtest.h>

#include <mmsystem.h>

#include <vector>

namespace {

struct PlayCall {
    LPCSTR sound;
    HMODULE module;
    DWORD flags;
};
std::vector<PlayCall> g_calls;

BOOL WINAPI recordPlay(LPCSTR sound, HMODULE module, DWORD flags)
{
    g_calls.push_back({sound, module, flags});
    return FALSE;   // a failure is not looked at
}

class SoundPlayTest : public testing::Test {
protected:
    void SetUp() override {
        g_calls.clear();
        previous_ = CSoundPlay::setPlayFunction(&recordPlay);
        CSoundPlay::setMute(false);
    }
    void TearDown() override {
        CSoundPlay::setPlayFunction(previous_);
        CSoundPlay::setMute(false);
    }

private:
    CSoundPlay::PlayFunction previous_ = nullptr;
};

} // namespace

TEST_F(SoundPlayTest, PlaysTheProgramsOwnWaveResourceAsynchronously)
{
    UiThreadScope ui;   // tavlang is the resource module, as in tavapp
    ASSERT_NE(nullptr, ui.resources());
    CSoundPlay::Play(174);
    ASSERT_EQ(1u, g_calls.size());
    EXPECT_TRUE(IS_INTRESOURCE(g_calls[0].sound));
    EXPECT_EQ(174u, reinterpret_cast<ULONG_PTR>(g_calls[0].sound));
    EXPECT_EQ(GetModuleHandleA(nullptr), g_calls[0].module);
    EXPECT_NE(ui.resources(), g_calls[0].module);
    EXPECT_EQ(static_cast<DWORD>(SND_RESOURCE | SND_ASYNC | SND_NOWAIT), g_calls[0].flags);
    // The program's module holds that sound.
    EXPECT_NE(nullptr, FindResourceA(g_calls[0].module, MAKEINTRESOURCEA(174), "WAVE"));
}

TEST_F(SoundPlayTest, MutedMakesNoCallUntilUnmuted)
{
    CSoundPlay::setMute(true);
    EXPECT_TRUE(CSoundPlay::isMute());
    CSoundPlay::Play(167);
    CSoundPlay::Play(217);
    EXPECT_TRUE(g_calls.empty());
    CSoundPlay::setMute(false);
    CSoundPlay::Play(167);
    ASSERT_EQ(1u, g_calls.size());
    EXPECT_EQ(167u, reinterpret_cast<ULONG_PTR>(g_calls[0].sound));
}

// The platform's own call, on a machine that may have no sound driver: returns at once.
TEST(CSoundPlay, ThePlatformsCallReturns)
{
    CSoundPlay::setMute(false);
    CSoundPlay::Play(171);
    PlaySoundA(nullptr, nullptr, 0);   // stops it
}
