#include "CWaveInSource.h"
#include "SpeechAudio.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

const WAVEFORMATEX CAPTURE = {WAVE_FORMAT_PCM, 1, 11025, 22050, 2, 16, 0};

struct Source {
    Source()
    {
        IUnknown* unknown = nullptr;
        EXPECT_EQ(CreateSpeechAudioSource(&unknown), S_OK);
        EXPECT_EQ(unknown->QueryInterface(IID_SpeechIAudio, reinterpret_cast<void**>(&audio)), S_OK);
        EXPECT_EQ(unknown->QueryInterface(IID_SpeechIAudioSource, reinterpret_cast<void**>(&source)), S_OK);
        unknown->Release();
    }
    ~Source()
    {
        audio->Stop();
        source->Release();
        audio->Release();
    }
    IAudio* audio = nullptr;
    IAudioSource* source = nullptr;
};

// Whether the default input works here (a sound server is running).
bool haveInput()
{
    HWAVEIN device = nullptr;
    if (waveInOpen(&device, WAVE_MAPPER, &CAPTURE, 0, 0, CALLBACK_NULL) != MMSYSERR_NOERROR)
        return false;
    waveInClose(device);
    return true;
}

TEST(WaveInSource, InterfacesAndUnusedSlots)
{
    Source s;
    IUnknown* other = nullptr;
    EXPECT_EQ(s.audio->QueryInterface(IID_SpeechIAudioMultiMediaDevice, reinterpret_cast<void**>(&other)), S_OK);
    other->Release();
    EXPECT_EQ(s.audio->QueryInterface(IID_IClassFactory, reinterpret_cast<void**>(&other)), E_NOINTERFACE);
    EXPECT_EQ(other, nullptr);
    DWORD level = 0;
    ULONGLONG position = 0;
    FILETIME time;
    AudioBlock block = {nullptr, 0};
    EXPECT_EQ(s.audio->Flush(), E_NOTIMPL);
    EXPECT_EQ(s.audio->LevelGet(&level), E_NOTIMPL);
    EXPECT_EQ(s.audio->LevelSet(5), E_NOTIMPL);
    EXPECT_EQ(s.audio->PassNotify(nullptr, IID_IUnknown), E_NOTIMPL);
    EXPECT_EQ(s.audio->PosnGet(&position), E_NOTIMPL);
    EXPECT_EQ(s.audio->Claim(), E_NOTIMPL);
    EXPECT_EQ(s.audio->UnClaim(), E_NOTIMPL);
    EXPECT_EQ(s.audio->TotalGet(&position), E_NOTIMPL);
    EXPECT_EQ(s.audio->ToFileTime(&position, &time), E_NOTIMPL);
    EXPECT_EQ(s.audio->WaveFormatGet(&block), E_NOTIMPL);
}

TEST(WaveInSource, TakesTheCaptureFormatOnly)
{
    Source s;
    EXPECT_EQ(s.audio->Start(), E_FAIL) << "no format set";
    WAVEFORMATEX other = CAPTURE;
    other.nSamplesPerSec = 8000;
    other.nAvgBytesPerSec = 16000;
    EXPECT_EQ(s.audio->WaveFormatSet({&other, sizeof other}), E_INVALIDARG);
    EXPECT_EQ(s.audio->WaveFormatSet({const_cast<WAVEFORMATEX*>(&CAPTURE), 16}), E_INVALIDARG);
    EXPECT_EQ(s.audio->WaveFormatSet({nullptr, 18}), E_INVALIDARG);
    EXPECT_EQ(s.audio->WaveFormatSet({const_cast<WAVEFORMATEX*>(&CAPTURE), sizeof CAPTURE}), S_OK);
    DWORD bytes = 7;
    BOOL end = FALSE;
    EXPECT_EQ(s.source->DataAvailable(&bytes, &end), S_OK);
    EXPECT_EQ(bytes, 0u);
    EXPECT_TRUE(end) << "not started: nothing will come";
}

TEST(WaveInSource, BlocksOf50MsThenEndOfStream)
{
    if (!haveInput())
        GTEST_SKIP() << "no sound input here (no sound server)";
    Source s;
    ASSERT_EQ(s.audio->WaveFormatSet({const_cast<WAVEFORMATEX*>(&CAPTURE), sizeof CAPTURE}), S_OK);
    const DWORD started = GetTickCount();
    ASSERT_EQ(s.audio->Start(), S_OK);
    DWORD bytes = 0;
    BOOL end = TRUE;
    ASSERT_TRUE(waitUntil([&] {
        s.source->DataAvailable(&bytes, &end);
        return bytes > 0;
    }, 5000));
    std::cout << "first block after " << GetTickCount() - started << " ms\n";
    EXPECT_EQ(bytes, CWaveInSource::BLOCK_BYTES);
    EXPECT_FALSE(end);
    // At most one block per call; a smaller read leaves the rest of the block for the next.
    std::vector<char> buffer(5000);
    DWORD got = 0;
    ASSERT_EQ(s.source->DataGet(buffer.data(), 100, &got), S_OK);
    EXPECT_EQ(got, 100u);
    s.source->DataAvailable(&bytes, &end);
    EXPECT_EQ(bytes, CWaveInSource::BLOCK_BYTES - 100);
    ASSERT_EQ(s.source->DataGet(buffer.data(), 5000, &got), S_OK);
    EXPECT_EQ(got, CWaveInSource::BLOCK_BYTES - 100);
    // Real time: about 20 blocks a second.
    DWORD total = 0;
    const DWORD from = GetTickCount();
    while (GetTickCount() - from < 1000) {
        if (s.source->DataGet(buffer.data(), 5000, &got) == S_OK && got > 0) {
            EXPECT_LE(got, CWaveInSource::BLOCK_BYTES);
            total += got;
        } else {
            Sleep(10);
        }
    }
    std::cout << total << " bytes in 1 s\n";
    EXPECT_GT(total, 22050u * 6 / 10);
    EXPECT_LT(total, 22050u * 16 / 10);
    ASSERT_EQ(s.audio->Stop(), S_OK);
    for (int i = 0; i < 100; ++i) {
        s.source->DataAvailable(&bytes, &end);
        if (end)
            break;
        s.source->DataGet(buffer.data(), 5000, &got);
    }
    EXPECT_TRUE(end);
    EXPECT_EQ(bytes, 0u);
}

TEST(WaveInSource, UnreadBlocksAreBoundedAndCounted)
{
    if (!haveInput())
        GTEST_SKIP() << "no sound input here (no sound server)";
    IUnknown* unknown = nullptr;
    ASSERT_EQ(CreateSpeechAudioSource(&unknown), S_OK);
    auto* source = static_cast<CWaveInSource*>(static_cast<IAudio*>(unknown));
    ASSERT_EQ(source->WaveFormatSet({const_cast<WAVEFORMATEX*>(&CAPTURE), sizeof CAPTURE}), S_OK);
    ASSERT_EQ(source->Start(), S_OK);
    // Nobody reads: past 2 s the oldest blocks go.
    EXPECT_TRUE(waitUntil([&] { return source->dropped() >= 5; }, 8000)) << source->dropped();
    DWORD total = 0;
    std::vector<char> buffer(2000);
    DWORD got = 0;
    while (source->DataGet(buffer.data(), 2000, &got) == S_OK && got > 0 && total < 200000)
        total += got;
    EXPECT_LE(total, (CWaveInSource::MAX_WAITING_BLOCKS + 1) * CWaveInSource::BLOCK_BYTES);
    source->Stop();
    unknown->Release();
}

} // namespace
