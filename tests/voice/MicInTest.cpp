#include "CMicIn.h"

#include "ScriptedSource.h"
#include "TestSupport.h"
#include "VoiceTestSupport.h"

#include <gtest/gtest.h>

namespace {

// A microphone held for the test's life.
struct Mic {
    Mic() : mic(new CMicIn()) { mic->AddRef(); }
    ~Mic() { mic->Release(); }
    std::vector<unsigned char> voiced()
    {
        std::vector<unsigned char> out(20000);
        DWORD got = 0;
        mic->VoiceDataGet(out.data(), DWORD(out.size()), &got);
        out.resize(got);
        return out;
    }
    bool signalled(HANDLE event) { return WaitForSingleObject(event, 0) == WAIT_OBJECT_0; }
    CMicIn* mic;
};

struct Step {
    int level;
    size_t bytes;
};

struct DetectorCase {
    const char* name;
    std::vector<Step> chunks; // the first calibrates
    uint32_t baseline;
    bool speaking;
    size_t voiced;
    bool dataEvent;
    bool speechEnd;
    DWORD preRoll;
};

void PrintTo(const DetectorCase& c, std::ostream* out)
{
    *out << c.name;
}

class Detector : public testing::TestWithParam<DetectorCase> {};

TEST_P(Detector, RoutesChunks)
{
    const DetectorCase& c = GetParam();
    Mic m;
    for (const Step& s : c.chunks) {
        auto chunk = levelChunk(s.level, s.bytes);
        m.mic->detect(chunk.data(), DWORD(chunk.size()));
    }
    EXPECT_TRUE(m.mic->calibrated());
    EXPECT_EQ(m.mic->baseline(), c.baseline);
    EXPECT_EQ(m.mic->speaking(), c.speaking);
    EXPECT_EQ(m.signalled(m.mic->dataEvent()), c.dataEvent);
    EXPECT_EQ(m.signalled(m.mic->speechEndEvent()), c.speechEnd);
    EXPECT_EQ(m.mic->preRollHeld(), c.preRoll);
    EXPECT_EQ(m.voiced().size(), c.voiced);
}

std::vector<Step> calibrateThen(int baseline, std::vector<Step> rest)
{
    rest.insert(rest.begin(), Step{baseline, 4410});
    return rest;
}

std::vector<Step> loudThenQuiet(int quiet)
{
    // Small chunks: 21 of them fit the voiced ring.
    std::vector<Step> steps{{2000, 400}};
    for (int i = 0; i < quiet; ++i)
        steps.push_back({10, 400});
    return calibrateThen(10, steps);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Detector,
    testing::Values(DetectorCase{"FirstChunkCalibratesAndSendsNothing", {{10, 4410}}, 10, false, 0, false, false, 0},
                    DetectorCase{"Level1010StartsSpeech", calibrateThen(10, {{1010, 1102}}), 10, true, 1102, true,
                                 false, 0},
                    DetectorCase{"Level1009DoesNot", calibrateThen(10, {{1009, 1102}}), 10, false, 0, false, false,
                                 1102},
                    DetectorCase{"PreRollNewest440FirstThenTheLoudChunk",
                                 calibrateThen(10, {{10, 300}, {10, 300}, {10, 300}, {2000, 1102}}), 10, true,
                                 440 + 1102, true, false, 0},
                    DetectorCase{"TwentyQuietChunksStillSent", loudThenQuiet(20), 10, true, 21 * 400, true, false,
                                 0},
                    DetectorCase{"TwentyFirstEndsSpeechIntoThePreRoll", loudThenQuiet(21), 10, false, 21 * 400,
                                 true, true, 400},
                    DetectorCase{"SilentCalibrationNeverStartsSpeech", calibrateThen(0, {{30000, 1102}}), 0, false, 0,
                                 false, false, 1102},
                    // Small first chunks fill the 220 bytes; the one that no longer fits ends it and goes
                    // nowhere: (100 x 10 + 10 x 30) / 110 = 11.
                    DetectorCase{"CalibrationFromSmallChunks", {{10, 200}, {30, 20}, {50, 100}, {2000, 100}}, 11, true,
                                 100, true, false, 0}),
    [](const testing::TestParamInfo<DetectorCase>& info) { return std::string(info.param.name); });

TEST(MicDetector, PreRollIsTheNewestBytesInOrder)
{
    Mic m;
    auto calibration = levelChunk(10, 4410);
    m.mic->detect(calibration.data(), 4410);
    std::vector<unsigned char> quiet(600);
    for (size_t i = 0; i < quiet.size(); i += 2) {
        quiet[i] = (unsigned char)(i / 2 % 11); // levels 0..10: quiet
        quiet[i + 1] = 0;
    }
    m.mic->detect(quiet.data(), 600);
    auto loud = levelChunk(3000, 1102);
    m.mic->detect(loud.data(), 1102);
    auto voiced = m.voiced();
    ASSERT_EQ(voiced.size(), 440u + 1102);
    EXPECT_TRUE(std::equal(voiced.begin(), voiced.begin() + 440, quiet.end() - 440));
    EXPECT_TRUE(std::equal(voiced.begin() + 440, voiced.end(), loud.begin()));
}

TEST(MicIn, InterfacesAndPassThrough)
{
    ScriptedSource script;
    Mic m;
    ASSERT_EQ(m.mic->CreateAudioSource(), S_OK);
    void* face = nullptr;
    ASSERT_EQ(m.mic->QueryInterface(IID_SpeechIAudioSource, &face), S_OK);
    static_cast<IAudioSource*>(face)->Release();
    ASSERT_EQ(m.mic->QueryInterface(IID_IUnknown, &face), S_OK);
    EXPECT_EQ(face, static_cast<IAudio*>(m.mic));
    static_cast<IUnknown*>(face)->Release();
    EXPECT_EQ(m.mic->QueryInterface(IID_IClassFactory, &face), E_NOINTERFACE);
    EXPECT_EQ(face, nullptr);
    DWORD level = 0;
    EXPECT_EQ(m.mic->LevelGet(&level), S_FALSE);
    EXPECT_EQ(level, 7u);
    EXPECT_EQ(m.mic->LevelSet(3), S_FALSE);
    EXPECT_EQ(script.calls(), (std::vector<std::string>{"LevelGet", "LevelSet 3"}));
    DWORD bytes = 1;
    BOOL end = FALSE;
    m.mic->DataAvailable(&bytes, &end);
    EXPECT_EQ(bytes, 0u);
    EXPECT_TRUE(end) << "not started";
}

TEST(MicIn, CapturesStopsAndCapturesAgain)
{
    ScriptedSource script;
    Mic m;
    ASSERT_EQ(m.mic->CreateAudioSource(), S_OK);
    // A stop with no thread leaves the stop event signalled: the start must not end at once.
    m.mic->Stop();
    script.add(levelChunk(10, 4410));
    script.add(levelChunk(2000, 1102));
    ASSERT_EQ(m.mic->Start(), S_OK);
    DWORD held = 0;
    BOOL end = TRUE;
    ASSERT_TRUE(waitUntil([&] { return m.mic->VoiceDataAvailable(&held, &end), held == 1102; }));
    EXPECT_FALSE(end);
    BOOL interfaceEnd = TRUE;
    DWORD interfaceBytes = 0;
    m.mic->DataAvailable(&interfaceBytes, &interfaceEnd);
    EXPECT_FALSE(interfaceEnd);
    ASSERT_EQ(m.mic->Stop(), S_OK);
    m.mic->DataAvailable(&interfaceBytes, &interfaceEnd);
    EXPECT_TRUE(interfaceEnd);
    script.add(levelChunk(2000, 1102));
    ASSERT_EQ(m.mic->Start(), S_OK);
    ASSERT_TRUE(waitUntil([&] { return m.mic->VoiceDataAvailable(&held, &end), held == 2204; }));
    m.mic->Stop();
    auto calls = script.calls();
    ASSERT_GE(calls.size(), 6u);
    EXPECT_EQ(calls[0], "WaveFormatSet 18 11025");
    EXPECT_EQ(calls[1], "Start");
    EXPECT_EQ(calls[2], "Stop");
    EXPECT_EQ(calls[3], "WaveFormatSet 18 11025");
}

TEST(MicIn, NoSourceWaitsForTheStop)
{
    ScriptedSource script;
    script.failCreate = true;
    Mic m;
    EXPECT_EQ(m.mic->CreateAudioSource(), REGDB_E_CLASSNOTREG);
    DWORD level = 0;
    EXPECT_EQ(m.mic->LevelGet(&level), E_FAIL);
    EXPECT_EQ(m.mic->WaveFormatSet({nullptr, 0}), E_FAIL);
    ASSERT_EQ(m.mic->Start(), S_OK);
    Sleep(50);
    const DWORD before = GetTickCount();
    EXPECT_EQ(m.mic->Stop(), S_OK);
    EXPECT_LT(GetTickCount() - before, 1000u);
}

TEST(MicIn, VoiceLogRecordsTheVoicedSound)
{
    TempDir dir;
    PrivateHives hives;
    hives.setNumber(0, "VoiceLog", 1);
    hives.reload();
    auto loud = levelChunk(2000, 1102);
    {
        Mic m;
        auto calibration = levelChunk(10, 4410);
        m.mic->detect(calibration.data(), 4410);
        m.mic->detect(loud.data(), 1102);
        auto quiet = levelChunk(10, 1102);
        m.mic->detect(quiet.data(), 1102);
    }
    const std::string file = fileBytes(dir.file("testmic_in.wav"));
    ASSERT_EQ(file.size(), 12u + 26 + 12 + 8 + 2204);
    EXPECT_EQ(file.compare(20, 18, std::string((const char*)CWaveFile::PCM11_FORMAT, 18)), 0);
    EXPECT_EQ(file.compare(file.size() - 2204, 1102, std::string(loud.begin(), loud.end())), 0);
}

} // namespace
