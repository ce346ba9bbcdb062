// The volume control over a scripted mixer device: finding the line and control, the value
// array's shape, the stereo volume with its balance, and every failing step.
#include "CMixerVolume.h"
#include "FakeMixer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

using Calls = std::vector<std::string>;
const HWND WINDOW = reinterpret_cast<HWND>(static_cast<UINT_PTR>(7));
const DWORD SPEAKERS = MIXERLINE_COMPONENTTYPE_DST_SPEAKERS;
const DWORD VOLUME = MIXERCONTROL_CONTROLTYPE_VOLUME;

// A device whose only destination is stereo speakers at the values.
void stereoSpeakers(FakeMixer& fake, DWORD left, DWORD right)
{
    fake.destinations = {{SPEAKERS, 2, 1, {}}};
    fake.values = {left, right};
}

int countOf(const Calls& calls, const std::string& call)
{
    return static_cast<int>(std::count(calls.begin(), calls.end(), call));
}

} // namespace

TEST(CMixerVolume, StereoVolumeIsTheLouderChannelAndSettingItKeepsTheBalance)
{
    FakeMixer fake;
    stereoSpeakers(fake, 30000, 15000);
    CMixerVolume mixer;
    ASSERT_TRUE(mixer.Init(SPEAKERS, CMixerBase::NO_SOURCE, VOLUME, WINDOW));
    EXPECT_EQ((Calls{"open 7", "controls of line 0", "get"}), fake.calls);
    EXPECT_EQ(FakeMixer::CONTROL_ID, mixer.getControlId());
    EXPECT_EQ(fake.handle(), mixer.getMixerHandle());
    EXPECT_EQ(2u, mixer.getChannelCount());
    EXPECT_EQ(4u, fake.lastDetails.cbDetails);

    EXPECT_EQ(30000u, mixer.GetVolume());
    EXPECT_FLOAT_EQ(-0.5f, mixer.getBalance());
    fake.calls.clear();
    mixer.SetVolume(40000);
    EXPECT_EQ((Calls{"set 40000 20000"}), fake.calls);
    // Above the 16-bit range: the largest value, the balance kept (32767.5 truncated).
    fake.calls.clear();
    mixer.SetVolume(70000);
    EXPECT_EQ((Calls{"set 65535 32767"}), fake.calls);

    // Both silent: no balance to learn, the one before stays.
    fake.values = {0, 0};
    EXPECT_EQ(0u, mixer.GetVolume());
    EXPECT_FLOAT_EQ(-0.5f, mixer.getBalance());

    // Louder on the right: the right channel takes the volume.
    fake.values = {15000, 30000};
    EXPECT_EQ(30000u, mixer.GetVolume());
    EXPECT_FLOAT_EQ(0.5f, mixer.getBalance());
    fake.calls.clear();
    mixer.SetVolume(40000);
    EXPECT_EQ((Calls{"set 20000 40000"}), fake.calls);
}

TEST(CMixerVolume, TheValueArrayFollowsTheLineAndTheControlFlags)
{
    const struct {
        const char* name;
        DWORD lineChannels, flags, items;
        DWORD channels, values;
        std::vector<DWORD> device;
        DWORD volume;
        const char* written;   // by SetVolume(500)
    } cases[] = {
        {"mono line", 1, 0, 0, 1, 1, {1234}, 1234, "set 500"},
        {"uniform over two channels", 2, MIXERCONTROL_CONTROLF_UNIFORM, 0, 1, 1, {777, 9}, 777, "set 500"},
        {"multiple items of a stereo line", 2, MIXERCONTROL_CONTROLF_MULTIPLE, 3, 2, 6, {100, 200, 1, 2, 3, 4},
         200, "set 250 500 1 2 3 4"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        FakeMixer fake;
        fake.destinations = {{SPEAKERS, c.lineChannels, 1, {}}};
        fake.controlFlags = c.flags;
        fake.multipleItems = c.items;
        fake.values = c.device;
        CMixerVolume mixer;
        ASSERT_TRUE(mixer.Init(SPEAKERS, CMixerBase::NO_SOURCE, VOLUME, WINDOW));
        EXPECT_EQ(c.channels, mixer.getChannelCount());
        EXPECT_EQ(c.values, mixer.getValueCount());
        EXPECT_EQ(c.channels, fake.lastDetails.cChannels);
        EXPECT_EQ(c.items, fake.lastDetails.cMultipleItems);
        EXPECT_EQ(c.volume, mixer.GetVolume());
        fake.calls.clear();
        mixer.SetVolume(500);
        EXPECT_EQ(Calls{c.written}, fake.calls);
    }
}

TEST(CMixerVolume, TheLineIsTheFirstOfItsTypeAndASourceOnlyWhenAsked)
{
    const FakeMixerLine cd{MIXERLINE_COMPONENTTYPE_SRC_COMPACTDISC, 2, 1, {}};
    const FakeMixerLine wave{MIXERLINE_COMPONENTTYPE_SRC_WAVEOUT, 2, 1, {}};
    const struct {
        const char* name;
        DWORD source;
        const char* line;
    } cases[] = {
        {"the destination itself", CMixerBase::NO_SOURCE, "controls of line 1"},
        {"its second source", MIXERLINE_COMPONENTTYPE_SRC_WAVEOUT, "controls of line 1.1"},
        {"its first source", MIXERLINE_COMPONENTTYPE_SRC_COMPACTDISC, "controls of line 1.0"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        FakeMixer fake;
        fake.destinations = {{MIXERLINE_COMPONENTTYPE_DST_WAVEIN, 1, 1, {wave}},
                             {SPEAKERS, 2, 1, {cd, wave}},
                             {SPEAKERS, 2, 1, {cd, wave}}};
        fake.values = {1, 2};
        CMixerVolume mixer;
        ASSERT_TRUE(mixer.Init(SPEAKERS, c.source, VOLUME, WINDOW));
        EXPECT_EQ(1, countOf(fake.calls, c.line)) << testing::PrintToString(fake.calls);
    }
}

TEST(CMixerVolume, EveryFailingInitStepLeavesItClosedAndSilent)
{
    const FakeMixerLine speakers{SPEAKERS, 2, 1, {{MIXERLINE_COMPONENTTYPE_SRC_WAVEOUT, 2, 1, {}}}};
    const struct {
        const char* name;
        DWORD devices;
        std::vector<FakeMixerLine> lines;
        FakeMixer::Step failing;
        DWORD source, controlType;
        int closes;   // 0: no handle was opened
    } cases[] = {
        {"no device", 0, {speakers}, FakeMixer::NONE, CMixerBase::NO_SOURCE, VOLUME, 0},
        {"open refused", 1, {speakers}, FakeMixer::OPEN, CMixerBase::NO_SOURCE, VOLUME, 0},
        {"capabilities refused", 1, {speakers}, FakeMixer::CAPS, CMixerBase::NO_SOURCE, VOLUME, 1},
        {"no speakers", 1, {{MIXERLINE_COMPONENTTYPE_DST_WAVEIN, 1, 1, {}}}, FakeMixer::NONE,
         CMixerBase::NO_SOURCE, VOLUME, 1},
        {"no destination at all", 1, {}, FakeMixer::NONE, CMixerBase::NO_SOURCE, VOLUME, 1},
        {"destination query refused", 1, {speakers}, FakeMixer::DESTINATION_INFO, CMixerBase::NO_SOURCE, VOLUME, 1},
        {"no such source", 1, {speakers}, FakeMixer::NONE, MIXERLINE_COMPONENTTYPE_SRC_LINE, VOLUME, 1},
        {"source query refused", 1, {speakers}, FakeMixer::SOURCE_INFO, MIXERLINE_COMPONENTTYPE_SRC_WAVEOUT,
         VOLUME, 1},
        {"a line without controls", 1, {{SPEAKERS, 2, 0, {}}}, FakeMixer::NONE, CMixerBase::NO_SOURCE, VOLUME, 1},
        {"no control of the type", 1, {speakers}, FakeMixer::NONE, CMixerBase::NO_SOURCE,
         MIXERCONTROL_CONTROLTYPE_MUTE, 1},
        {"controls query refused", 1, {speakers}, FakeMixer::LINE_CONTROLS, CMixerBase::NO_SOURCE, VOLUME, 1},
        {"a custom unit", 1, {speakers}, FakeMixer::NONE, CMixerBase::NO_SOURCE, MIXERCONTROL_CONTROLTYPE_CUSTOM, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        FakeMixer fake;
        fake.devices = c.devices;
        fake.destinations = c.lines;
        fake.failing = c.failing;
        fake.values = {30000, 30000};
        if (c.controlType == MIXERCONTROL_CONTROLTYPE_CUSTOM)
            fake.controlType = MIXERCONTROL_CONTROLTYPE_CUSTOM;
        {
            CMixerVolume mixer;
            EXPECT_FALSE(mixer.Init(SPEAKERS, c.source, c.controlType, WINDOW));
            EXPECT_FALSE(mixer.isOpen());
            EXPECT_EQ(c.closes, countOf(fake.calls, "close")) << testing::PrintToString(fake.calls);
            fake.calls.clear();
            EXPECT_EQ(0u, mixer.GetVolume());
            mixer.SetVolume(100);
            EXPECT_FALSE(mixer.GetMixerControlValue());
            EXPECT_FALSE(mixer.SetMixerControlValue());
        }
        // Nothing reached the device afterwards, the destructor included.
        EXPECT_EQ(Calls{}, fake.calls);
    }
}

TEST(CMixerVolume, ASecondInitClosesTheFirstHandleAndTheDestructorTheLast)
{
    FakeMixer fake;
    stereoSpeakers(fake, 100, 100);
    {
        CMixerVolume mixer;
        ASSERT_TRUE(mixer.Init(SPEAKERS, CMixerBase::NO_SOURCE, VOLUME, WINDOW));
        ASSERT_TRUE(mixer.Init(SPEAKERS, CMixerBase::NO_SOURCE, VOLUME, nullptr));
        EXPECT_EQ((Calls{"open 7", "controls of line 0", "get", "close", "open 0", "controls of line 0", "get"}),
                  fake.calls);
        // A later Init that fails closes the open one too.
        fake.calls.clear();
        fake.devices = 0;
        EXPECT_FALSE(mixer.Init(SPEAKERS, CMixerBase::NO_SOURCE, VOLUME, WINDOW));
        EXPECT_EQ(Calls{"close"}, fake.calls);
        fake.devices = 1;
        fake.calls.clear();
        ASSERT_TRUE(mixer.Init(SPEAKERS, CMixerBase::NO_SOURCE, VOLUME, WINDOW));
        fake.calls.clear();
    }
    EXPECT_EQ(Calls{"close"}, fake.calls);
}

TEST(CMixerVolume, ARefusedReadOrWriteChangesNothing)
{
    FakeMixer fake;
    stereoSpeakers(fake, 30000, 15000);
    CMixerVolume mixer;
    ASSERT_TRUE(mixer.Init(SPEAKERS, CMixerBase::NO_SOURCE, VOLUME, WINDOW));
    fake.failing = FakeMixer::GET_DETAILS;   // scribbles on the array it is given, then fails
    EXPECT_FALSE(mixer.GetMixerControlValue());
    EXPECT_EQ(30000u, mixer.GetVolume());
    EXPECT_FLOAT_EQ(-0.5f, mixer.getBalance());
    fake.failing = FakeMixer::SET_DETAILS;
    EXPECT_FALSE(mixer.SetMixerControlValue());
    EXPECT_EQ((std::vector<DWORD>{30000, 15000}), fake.values);
    fake.failing = FakeMixer::NONE;
    EXPECT_TRUE(mixer.SetMixerControlValue());
    EXPECT_TRUE(mixer.GetMixerControlValue());
}
