#include "CHvxcOut.h"
#include "CSoundOut.h"
#include "CVCConfig.h"

#include "FakeDirectSound.h"
#include "TestSupport.h"
#include "VoiceTestSupport.h"

#include <gtest/gtest.h>

namespace {

using Calls = std::vector<std::string>;

const WAVEFORMATEX PCM8 = {WAVE_FORMAT_PCM, 1, 8000, 16000, 2, 16, 0};

class SoundOut : public testing::Test {
protected:
    void SetUp() override { hives_.reload(); }
    // The lock calls of a buffer since the last clear.
    Calls locks(size_t index) { return ds_.buffer(index).callsNamed(ds_, "Lock"); }
    // Waits until the playback thread has looked at buffer b after a notification, then
    // lets it finish (a write of ours takes the same lock after it).
    void notifyAndSettle(CSoundOut& out, size_t b)
    {
        const size_t seen = ds_.buffer(b).callsNamed(ds_, "GetCurrentPosition").size();
        ds_.buffer(b).notify();
        ASSERT_TRUE(waitUntil([&] { return ds_.buffer(b).callsNamed(ds_, "GetCurrentPosition").size() > seen; }));
        ASSERT_EQ(out.FillBuffer("", 0, int(b)), S_OK);
    }

    PrivateHives hives_;
    FakeDirectSound ds_;
};

struct Geometry {
    const char* name;
    bool pcm8;
    DWORD size;
    DWORD chunk;
    DWORD firstSilence;
};

class SoundOutGeometry : public SoundOut, public testing::WithParamInterface<Geometry> {};

TEST_P(SoundOutGeometry, SizeNotificationsSilenceAndLoopingPlay)
{
    const Geometry g = GetParam();
    CSoundOut out(nullptr);
    size_t index = 0;
    if (g.pcm8) {
        int id = -1;
        ASSERT_EQ(out.CreateSecondaryBuffer(&id, &PCM8), S_OK);
        EXPECT_EQ(id, 1);
        index = 1;
    }
    FakeBuffer& b = ds_.buffer(index);
    EXPECT_EQ(b.memory.size(), g.size);
    EXPECT_EQ(b.flags, 0x18100u);
    ASSERT_EQ(b.notes.size(), 50u);
    for (size_t i = 0; i < 50; ++i)
        EXPECT_EQ(b.notes[i].dwOffset, g.chunk * i);
    EXPECT_EQ(b.callsNamed(ds_, "Lock"), Calls{"Lock 0 " + std::to_string(g.firstSilence)});
    // The first silence starts it once (not playing yet), then it loops.
    EXPECT_EQ(b.callsNamed(ds_, "Play"), (Calls{"Play 0", "Play 1"}));
    for (DWORD i = 0; i < g.firstSilence; ++i)
        ASSERT_EQ(b.memory[i], 0) << i;
    EXPECT_EQ(b.memory[g.firstSilence], 0xEE);
    EXPECT_EQ(out.writePosition(int(index)), g.firstSilence);
}

INSTANTIATE_TEST_SUITE_P(Formats, SoundOutGeometry,
                         testing::Values(Geometry{"Capture", false, 44100, 882, 884},
                                         Geometry{"Pcm8000", true, 32000, 640, 642}),
                         [](const testing::TestParamInfo<Geometry>& info) { return std::string(info.param.name); });

TEST_F(SoundOut, PrimaryTakesTheCaptureFormatAndItsFailureIsIgnored)
{
    {
        CSoundOut out(nullptr);
        EXPECT_EQ(ds_.primaryCalls(), Calls{"SetFormat 11025 16 1"});
    }
    ds_.failPrimary = true;
    CSoundOut out(nullptr);
    EXPECT_EQ(out.bufferCount(), 1);
}

TEST_F(SoundOut, NotificationTopsUpBelowTwoChunks)
{
    CSoundOut out(nullptr);
    FakeBuffer& b = ds_.buffer(0);
    ds_.clearCalls();
    // 884 written: a cursor at 884 - 1763 (wrapped) leaves 1763 queued.
    b.setPlay(ds_, 44100 + 884 - 1763);
    notifyAndSettle(out, 0);
    EXPECT_EQ(locks(0), (Calls{"Lock 884 1764", "Lock 2648 0"}));
    ds_.clearCalls();
    // 2648 written: 1764 queued.
    b.setPlay(ds_, 2648 - 1764);
    notifyAndSettle(out, 0);
    EXPECT_EQ(locks(0), Calls{"Lock 2648 0"});
}

TEST_F(SoundOut, SilenceInPiecesOfTheSilenceBlock)
{
    CSoundOut out(nullptr);
    ds_.clearCalls();
    ASSERT_EQ(out.FillSilence(25000, 0), S_OK);
    EXPECT_EQ(locks(0), (Calls{"Lock 884 10000", "Lock 10884 10000", "Lock 20884 5000"}));
}

TEST_F(SoundOut, WritePositionWraps)
{
    CSoundOut out(nullptr);
    FakeBuffer& b = ds_.buffer(0);
    b.setPlay(ds_, 884); // everything played: the whole buffer is free
    std::vector<unsigned char> block(43500);
    for (size_t i = 0; i < block.size(); ++i)
        block[i] = (unsigned char)(i * 7);
    ds_.clearCalls();
    ASSERT_EQ(out.SetData(block.data(), DWORD(block.size()), 0), S_OK);
    EXPECT_EQ(locks(0), Calls{"Lock 884 43500"});
    EXPECT_EQ(b.callsNamed(ds_, "Unlock"), Calls{"Unlock 43216 284"});
    EXPECT_EQ(out.writePosition(0), 284u);
    EXPECT_EQ(b.memory[884], block[0]);
    EXPECT_EQ(b.memory[44099], block[43215]);
    EXPECT_EQ(b.memory[0], block[43216]);
    EXPECT_EQ(b.memory[283], block[43499]);
}

TEST_F(SoundOut, StoppedBufferRestartsAtZeroAndPlaysOnce)
{
    CSoundOut out(nullptr);
    FakeBuffer& b = ds_.buffer(0);
    b.stop(ds_);
    ds_.clearCalls();
    ASSERT_EQ(out.SetData("\x01\x02\x03\x04", 4, 0), S_OK);
    EXPECT_EQ(locks(0), Calls{"Lock 0 4"});
    EXPECT_EQ(b.callsNamed(ds_, "Play"), Calls{"Play 0"});
    EXPECT_EQ(out.writePosition(0), 4u);
}

TEST_F(SoundOut, NoLoopingNoSilenceWhenSoundOutLoopIsOff)
{
    hives_.setNumber(0, "SoundOutLoop", 0);
    hives_.reload();
    CSoundOut out(nullptr);
    FakeBuffer& b = ds_.buffer(0);
    // The first silence starts it once, without the looping flag.
    EXPECT_EQ(b.callsNamed(ds_, "Play"), Calls{"Play 0"});
    ds_.clearCalls();
    b.setPlay(ds_, 884);
    b.notify();
    Sleep(100);
    ASSERT_EQ(out.FillBuffer("", 0, 0), S_OK);
    EXPECT_EQ(locks(0), Calls{"Lock 884 0"});
}

TEST_F(SoundOut, BadIdFailingLockAndOversizedBlock)
{
    CSoundOut out(nullptr);
    {
        TraceCapture trace;
        EXPECT_EQ(out.SetData("ab", 2, 1), E_FAIL);
        EXPECT_EQ(out.FillSilence(2, -1), E_FAIL);
        EXPECT_EQ(trace.count("ERROR: [ CSoundOut ] FillBuffer: Illegal buffer ID."), 2) << trace.text();
    }
    FakeBuffer& b = ds_.buffer(0);
    {
        std::lock_guard<std::mutex> guard(ds_.lock);
        b.lockResult = DSERR_BUFFERLOST;
    }
    EXPECT_EQ(out.SetData("ab", 2, 0), DSERR_BUFFERLOST);
    EXPECT_EQ(out.writePosition(0), 884u);
    {
        std::lock_guard<std::mutex> guard(ds_.lock);
        b.lockResult = S_OK;
    }
    // 884 queued ahead of a cursor at 0: 43216 free.
    std::vector<unsigned char> big(43217, 1);
    ds_.clearCalls();
    TraceCapture trace;
    EXPECT_EQ(out.SetData(big.data(), DWORD(big.size()), 0), E_FAIL);
    EXPECT_TRUE(locks(0).empty());
    EXPECT_EQ(trace.count("ERROR: "), 1) << trace.text();
    EXPECT_EQ(out.writePosition(0), 884u);
    EXPECT_EQ(out.SetData(big.data(), 43216, 0), S_OK);
}

TEST_F(SoundOut, SixtyThreeBuffersAtMost)
{
    CSoundOut out(nullptr);
    EXPECT_EQ(out.capacity(), 63u);
    for (int expected = 1; expected < 63; ++expected) {
        int id = -1;
        ASSERT_EQ(out.CreateSecondaryBuffer(&id, &PCM8), S_OK);
        ASSERT_EQ(id, expected);
    }
    TraceCapture trace;
    int id = -1;
    EXPECT_EQ(out.CreateSecondaryBuffer(&id, &PCM8), E_FAIL);
    EXPECT_EQ(trace.count(" CreateSecondaryBuffer failed. (illegal buffer)"), 1);
    EXPECT_EQ(ds_.bufferCount(), 63u);
    // The last buffer is watched by the wait: its notification is served.
    FakeBuffer& last = ds_.buffer(62);
    last.setPlay(ds_, 0);
    ds_.clearCalls();
    notifyAndSettle(out, 62);
    EXPECT_EQ(locks(62), (Calls{"Lock 642 1280", "Lock 1922 0"}));
}

TEST_F(SoundOut, SmallerCapacityFromTheSettings)
{
    hives_.setNumber(0, "MaxNumSecBuffer", 2);
    hives_.reload();
    CSoundOut out(nullptr);
    int id = -1;
    EXPECT_EQ(out.CreateSecondaryBuffer(&id, &PCM8), S_OK);
    EXPECT_EQ(out.CreateSecondaryBuffer(&id, &PCM8), E_FAIL);
}

struct BadGeometry {
    const char* name;
    const char* value;
    DWORD number;
};

class SoundOutBadGeometry : public SoundOut, public testing::WithParamInterface<BadGeometry> {};

TEST_P(SoundOutBadGeometry, FallsBackToTheDefaults)
{
    hives_.setNumber(0, GetParam().value, GetParam().number);
    hives_.reload();
    TraceCapture trace;
    CSoundOut out(nullptr);
    EXPECT_EQ(trace.count("ERROR: "), 1) << trace.text();
    FakeBuffer& b = ds_.buffer(0);
    EXPECT_EQ(b.memory.size(), 44100u);
    EXPECT_EQ(b.notes.size(), 50u);
    ds_.clearCalls();
    ASSERT_EQ(out.FillSilence(25000, 0), S_OK);
    EXPECT_EQ(locks(0), (Calls{"Lock 884 10000", "Lock 10884 10000", "Lock 20884 5000"}));
}

INSTANTIATE_TEST_SUITE_P(Settings, SoundOutBadGeometry,
                         testing::Values(BadGeometry{"OddChunk", "ChunkSecBuffer", 100},
                                         BadGeometry{"OneByteChunk", "ChunkSecBuffer", 30000},
                                         BadGeometry{"OddBuffer", "MsecSecBufSize", 1999},
                                         BadGeometry{"OddSilence", "SizeSilenceBuffer", 9999}),
                         [](const testing::TestParamInfo<BadGeometry>& info) { return std::string(info.param.name); });

struct NoDevice {
    const char* name;
    HRESULT create;
    bool caps;
    const char* line;
};

class SoundOutNoDevice : public SoundOut, public testing::WithParamInterface<NoDevice> {};

TEST_P(SoundOutNoDevice, ObjectWithoutBuffers)
{
    ds_.failCreate = GetParam().create;
    ds_.failCaps = GetParam().caps;
    TraceCapture trace;
    {
        CSoundOut out(nullptr);
        EXPECT_NE(trace.text().find(GetParam().line), std::string::npos) << trace.text();
        EXPECT_FALSE(out.hasDevice());
        EXPECT_EQ(out.bufferCount(), 0);
        int id = -1;
        EXPECT_EQ(out.CreateSecondaryBuffer(&id, &PCM8), E_FAIL);
        EXPECT_EQ(out.SetData("ab", 2, 0), E_FAIL);
    }
    EXPECT_EQ(ds_.liveObjects(), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Failures, SoundOutNoDevice,
    testing::Values(NoDevice{"CreateFails", E_INVALIDARG, false, "ERROR: [ CSoundOut ] DirectSoundCreate() failed"},
                    NoDevice{"CapsFail", S_OK, true, "ERROR: [ CSoundOut ] Failed to IDirectSound::GetCaps()."}),
    [](const testing::TestParamInfo<NoDevice>& info) { return std::string(info.param.name); });

TEST_F(SoundOut, ReleasesEverything)
{
    {
        CSoundOut out(nullptr);
        int id = 0;
        out.CreateSecondaryBuffer(&id, &PCM8);
        EXPECT_EQ(ds_.liveObjects(), 4); // device, primary, two buffers
    }
    EXPECT_EQ(ds_.liveObjects(), 0);
}

TEST_F(SoundOut, FailingBufferCreationOnAWorkingDeviceEndsTheProcess)
{
    TempDir dir;
    if (isChild()) {
        childTracesToFile(false);
        ds_.failSecondary = true;
        CSoundOut out(nullptr);
        exit(0);
    }
    EXPECT_NE(runInChild(dir), 0);
    EXPECT_TRUE(hasLineWith(dir.logLines(), "FATAL ERROR: [ CSoundOut ] CreateSoundBuffer() failed."));
}

// Playback: the shared decoder into each member's own buffer.
class Playback : public SoundOut {};

TEST_F(Playback, RefusesEmptyOrMisfitChunksAndPlaysAGoodOne)
{
    CHvxcOut out(nullptr);
    int id = -1;
    ASSERT_EQ(out.AddBuffer(&id), S_OK);
    EXPECT_EQ(id, 1);
    ds_.buffer(1).setPlay(ds_, 0);
    ds_.clearCalls();
    std::vector<unsigned char> gsm(325, 0);
    {
        TraceCapture trace;
        EXPECT_EQ(out.SetData(gsm.data(), 0, 1), 1);
        EXPECT_EQ(out.SetData(nullptr, 325, 1), 1);
        EXPECT_EQ(trace.count("ERROR: Unexpected data for SetData()."), 2) << trace.text();
    }
    EXPECT_EQ(out.SetData(gsm.data(), 324, 1), E_FAIL);
    EXPECT_TRUE(locks(1).empty());
    EXPECT_EQ(out.SetData(gsm.data(), 325, 1), S_OK);
    EXPECT_EQ(locks(1), Calls{"Lock 642 3200"});
    EXPECT_EQ(out.SetData(gsm.data(), 325, 2), E_FAIL) << "no such buffer";
}

TEST_F(Playback, NoDecoder)
{
    CHvxcOut out(nullptr, nullptr);
    TraceCapture trace;
    EXPECT_EQ(out.SetData("abc", 3, 0), E_FAIL);
    EXPECT_EQ(trace.count("ERROR: HVXC is not allocated."), 1) << trace.text();
}

TEST_F(Playback, VoiceLogWritesBothDumps)
{
    TempDir dir;
    std::vector<unsigned char> gsm(325);
    for (size_t i = 0; i < gsm.size(); ++i)
        gsm[i] = (unsigned char)(i * 13);
    for (int log = 0; log < 2; ++log) {
        hives_.setNumber(0, "VoiceLog", DWORD(log));
        hives_.reload();
        {
            CHvxcOut out(nullptr);
            int id = -1;
            ASSERT_EQ(out.AddBuffer(&id), S_OK);
            ASSERT_EQ(out.SetData(gsm.data(), 325, id), S_OK);
            ASSERT_EQ(out.SetData(gsm.data(), 325, id), S_OK);
        }
        const std::string codec = fileBytes(dir.file("testhvxc_out.wav"));
        const std::string pcm = fileBytes(dir.file("testpcm8_out.wav"));
        if (log == 0) {
            EXPECT_TRUE(codec.empty());
            EXPECT_TRUE(pcm.empty());
            continue;
        }
        ASSERT_EQ(codec.size(), 12u + 28 + 12 + 8 + 650);
        EXPECT_EQ(codec.compare(20, 20, std::string((const char*)CWaveFile::CODEC_DUMP_FORMAT, 20)), 0);
        EXPECT_EQ(codec.compare(codec.size() - 650, 325, std::string(gsm.begin(), gsm.end())), 0);
        ASSERT_EQ(pcm.size(), 12u + 26 + 12 + 8 + 6400);
        EXPECT_EQ(pcm.compare(20, 18, std::string((const char*)CWaveFile::PCM8_FORMAT, 18)), 0);
    }
}

} // namespace
