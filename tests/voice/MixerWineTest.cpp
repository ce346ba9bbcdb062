// The speaker volume through Wine's own mixer on the private sound server of the test run, and
// without a server. (Wine keeps the value inside the process: it is read back here, not on the
// server.)
#include "CMixerVolume.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace {

HWND makeWindow()
{
    return CreateWindowExA(0, "STATIC", "mixer test", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr,
                           GetModuleHandleA(nullptr), nullptr);
}

bool soundServerNamed()
{
    const char* server = std::getenv("PULSE_SERVER");
    return server != nullptr && *server != '\0';
}

} // namespace

TEST(MixerOnWine, TheMasterSpeakerVolumeIsFoundAndKeepsWhatIsSet)
{
    if (!soundServerNamed())
        GTEST_SKIP() << "no sound server for this run";
    HWND window = makeWindow();
    ASSERT_NE(nullptr, window);
    {
        CMixerVolume mixer;
        ASSERT_TRUE(mixer.Init(MIXERLINE_COMPONENTTYPE_DST_SPEAKERS, CMixerBase::NO_SOURCE,
                               MIXERCONTROL_CONTROLTYPE_VOLUME, window));
        EXPECT_NE(nullptr, mixer.getMixerHandle());
        EXPECT_EQ(1u, mixer.getChannelCount()) << "Wine's master volume is uniform";
        mixer.SetVolume(40000);
        EXPECT_EQ(40000u, mixer.GetVolume());
        mixer.SetVolume(70000);
        EXPECT_EQ(65535u, mixer.GetVolume());
    }
    DestroyWindow(window);
}

// Run by CTest with PULSE_SERVER naming a socket that does not exist. (Wine's audio driver reads
// the host's environment, which a Windows child process cannot be given: the test runs alone.)
TEST(MixerOnWine, WithoutASoundServerThereIsNoMixerAndTheVolumeReadsZero)
{
    const char* server = std::getenv("PULSE_SERVER");
    if (server == nullptr || std::string(server).find("nonexistent") == std::string::npos)
        GTEST_SKIP() << "run by CTest without a sound server";
    HWND window = makeWindow();
    ASSERT_NE(nullptr, window);
    EXPECT_EQ(0u, mixerGetNumDevs());
    {
        CMixerVolume mixer;
        EXPECT_FALSE(mixer.Init(MIXERLINE_COMPONENTTYPE_DST_SPEAKERS, CMixerBase::NO_SOURCE,
                                MIXERCONTROL_CONTROLTYPE_VOLUME, window));
        EXPECT_FALSE(mixer.isOpen());
        mixer.SetVolume(40000);
        EXPECT_EQ(0u, mixer.GetVolume());
    }
    DestroyWindow(window);
}
