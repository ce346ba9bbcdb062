#include "CComMaster.h"
#include "CSoundOut.h"
#include "CWaveFile.h"

#include "FakeDirectSound.h"
#include "FakeMicrophone.h"
#include "TestSupport.h"
#include "VoiceTestSupport.h"

#include <gtest/gtest.h>

namespace {

class CaptureMaster : public testing::Test {
protected:
    void SetUp() override { hives_.reload(); }
    std::vector<unsigned char> pcm(size_t bytes, size_t from = 0)
    {
        auto all = toBytes(tone(1000, 8000, 11025, (from + bytes + 1) / 2));
        return std::vector<unsigned char>(all.begin() + from, all.begin() + from + bytes);
    }
    PrivateHives hives_;
    FakeMicrophone mic_;
    PacketSink sink_;
};

TEST_F(CaptureMaster, OnePacketPerChunkInTheVoiceLayout)
{
    {
        CComMaster master;
        ASSERT_EQ(master.Init(&sink_, nullptr), S_OK);
        mic_.feed(pcm(4410 * 2 + 1));
        ASSERT_TRUE(waitUntil([&] { return sink_.count() == 1; }));
        mic_.feed(pcm(1, 4410 * 2 + 1));
        ASSERT_TRUE(waitUntil([&] { return sink_.count() == 2; }));
    }
    for (const auto& packet : sink_.packets()) {
        ASSERT_EQ(packet.size(), 356u);
        EXPECT_EQ(hexBytes(packet.data(), 20), hexBytes(bytesOf("00000000 14000000 0A000000 01000000 45010000")));
        EXPECT_EQ(std::string((const char*)packet.data() + 20, 11), std::string("test user\0\0", 11));
    }
    EXPECT_EQ(mic_.refs_.load(), 0) << "the master released its microphone";
}

TEST_F(CaptureMaster, ReadsOnlyWhenMoreThanAChunkIsHeld)
{
    CComMaster master;
    master.Init(&sink_, nullptr);
    mic_.feed(pcm(4410));
    Sleep(200);
    EXPECT_EQ(mic_.reads(), 0);
    EXPECT_EQ(sink_.count(), 0u);
    mic_.feed(pcm(1, 4410));
    ASSERT_TRUE(waitUntil([&] { return sink_.count() == 1; }));
    EXPECT_EQ(mic_.reads(), 1);
}

TEST_F(CaptureMaster, UtteranceEndingMidChunkGoesWithTheNext)
{
    CComMaster master;
    master.Init(&sink_, nullptr);
    // 1.5 chunks: one read of 4410 once more than that is held.
    mic_.feed(pcm(6615));
    ASSERT_TRUE(waitUntil([&] { return sink_.count() == 1; }));
    mic_.endSpeech();
    Sleep(200);
    EXPECT_EQ(sink_.count(), 1u) << "nothing at speech end";
    // The next utterance: 2205 held + 3000 > 4410.
    mic_.feed(pcm(3000, 6615));
    ASSERT_TRUE(waitUntil([&] { return sink_.count() == 2; }));
}

TEST_F(CaptureMaster, LocalPlayHandsThePcmToBufferZero)
{
    hives_.setNumber(0, "LocalPlay", 1);
    hives_.reload();
    FakeDirectSound ds;
    CSoundOut local(nullptr);
    CComMaster master;
    master.Init(&sink_, &local);
    ds.clearCalls();
    mic_.feed(pcm(4411));
    ASSERT_TRUE(waitUntil([&] { return sink_.count() == 1; }));
    EXPECT_EQ(ds.buffer(0).callsNamed(ds, "Lock"), std::vector<std::string>{"Lock 884 4410"});
}

TEST_F(CaptureMaster, DestructionWhileDataFlowsEndsAfterTheChunkInHand)
{
    std::atomic<bool> feeding{true};
    std::thread feeder;
    {
        CComMaster master;
        master.Init(&sink_, nullptr);
        feeder = std::thread([&] {
            while (feeding) {
                mic_.feed(pcm(4410));
                Sleep(5);
            }
        });
        ASSERT_TRUE(waitUntil([&] { return sink_.count() >= 3; }));
    }
    const size_t after = sink_.count();
    Sleep(100);
    feeding = false;
    feeder.join();
    EXPECT_EQ(sink_.count(), after) << "nothing once destroyed";
    for (const auto& packet : sink_.packets())
        EXPECT_EQ(packet.size(), 356u);
}

TEST_F(CaptureMaster, RecordSwitchStartsAndStopsTheMicrophone)
{
    CComMaster master;
    master.RecordSwitch(true);
    master.RecordSwitch(false);
    EXPECT_EQ(mic_.starts.load(), 1);
    EXPECT_EQ(mic_.stops.load(), 1);
}

TEST_F(CaptureMaster, VoiceLogWritesPcmAndCodecDumps)
{
    TempDir dir;
    hives_.setNumber(0, "VoiceLog", 1);
    hives_.reload();
    auto bytes = pcm(4410 * 2 + 1);
    {
        CComMaster master;
        master.Init(&sink_, nullptr);
        mic_.feed(bytes);
        ASSERT_TRUE(waitUntil([&] { return sink_.count() == 1; }));
    }
    const std::string pcmFile = fileBytes(dir.file("testpcm11_in.wav"));
    ASSERT_EQ(pcmFile.size(), 12u + 26 + 12 + 8 + 4410);
    EXPECT_EQ(pcmFile.compare(20, 18, std::string((const char*)CWaveFile::PCM11_FORMAT, 18)), 0);
    EXPECT_EQ(pcmFile.compare(pcmFile.size() - 4410, 4410, std::string(bytes.begin(), bytes.begin() + 4410)), 0);
    const std::string codecFile = fileBytes(dir.file("testhvxc_in.wav"));
    ASSERT_EQ(codecFile.size(), 12u + 28 + 12 + 8 + 325 + 1);
    EXPECT_EQ(codecFile.compare(20, 20, std::string((const char*)CWaveFile::CODEC_DUMP_FORMAT, 20)), 0);
    const auto packet = sink_.packets()[0];
    EXPECT_EQ(codecFile.compare(60, 325, std::string(packet.begin() + 31, packet.end())), 0);
}

} // namespace
