#include "CHvxc.h"

#include "GuardedBlock.h"
#include "TestSupport.h"
#include "VoiceTestSupport.h"

#include <gtest/gtest.h>

#include <cmath>
#include <mutex>

namespace {

// The real ACM, with every call noted and one kind of call made to fail on demand.
struct Recorder {
    std::mutex lock;
    std::vector<std::string> calls;
    HACMSTREAM first = nullptr; // the first stream opened: "A"
    bool failOpen = false;
    bool failConvert = false;

    std::string name(HACMSTREAM s) { return s == first ? "A" : "B"; }
    void note(const std::string& call)
    {
        std::lock_guard<std::mutex> guard(lock);
        calls.push_back(call);
    }
};
Recorder* g_rec = nullptr;

MMRESULT WINAPI recOpen(LPHACMSTREAM s, HACMDRIVER d, LPWAVEFORMATEX from, LPWAVEFORMATEX to, LPWAVEFILTER f,
                        DWORD_PTR cb, DWORD_PTR inst, DWORD flags)
{
    if (g_rec->failOpen) {
        g_rec->note("open failed");
        return ACMERR_NOTPOSSIBLE;
    }
    MMRESULT r = acmStreamOpen(s, d, from, to, f, cb, inst, flags);
    if (g_rec->first == nullptr)
        g_rec->first = *s;
    g_rec->note("open " + g_rec->name(*s) + " " + std::to_string(from->wFormatTag) + ">" +
                std::to_string(to->wFormatTag) + " flags " + std::to_string(flags));
    return r;
}
MMRESULT WINAPI recSize(HACMSTREAM s, DWORD in, LPDWORD out, DWORD flags)
{
    MMRESULT r = acmStreamSize(s, in, out, flags);
    g_rec->note("size " + g_rec->name(s) + " " + std::to_string(in) + ">" + std::to_string(*out));
    return r;
}
MMRESULT WINAPI recPrepare(HACMSTREAM s, LPACMSTREAMHEADER h, DWORD flags)
{
    g_rec->note("prepare " + g_rec->name(s));
    return acmStreamPrepareHeader(s, h, flags);
}
MMRESULT WINAPI recConvert(HACMSTREAM s, LPACMSTREAMHEADER h, DWORD flags)
{
    g_rec->note("convert " + g_rec->name(s) + " " + std::to_string(flags));
    if (g_rec->failConvert)
        return MMSYSERR_INVALPARAM;
    return acmStreamConvert(s, h, flags);
}
MMRESULT WINAPI recUnprepare(HACMSTREAM s, LPACMSTREAMHEADER h, DWORD flags)
{
    g_rec->note("unprepare " + g_rec->name(s));
    return acmStreamUnprepareHeader(s, h, flags);
}
MMRESULT WINAPI recClose(HACMSTREAM s, DWORD flags)
{
    g_rec->note("close " + g_rec->name(s));
    return acmStreamClose(s, flags);
}
const AcmFunctions RECORDING = {recOpen, recSize, recPrepare, recConvert, recUnprepare, recClose};

class Codec : public testing::Test {
protected:
    void SetUp() override
    {
        g_rec = &rec_;
        AcmFunctions::use(&RECORDING);
    }
    void TearDown() override
    {
        AcmFunctions::use(nullptr);
        g_rec = nullptr;
    }
    std::vector<std::string> callsFrom(const std::string& prefix)
    {
        std::vector<std::string> out;
        for (const auto& c : rec_.calls) {
            if (c.rfind(prefix, 0) == 0)
                out.push_back(c);
        }
        return out;
    }
    Recorder rec_;
};

std::vector<unsigned char> pcm11Chunk(size_t index)
{
    auto all = tone(1000, 8000, 11025, 2205 * (index + 1));
    std::vector<int16_t> chunk(all.end() - 2205, all.end());
    return toBytes(chunk);
}

TEST_F(Codec, EncoderSizesFlagsAndClose)
{
    {
        CHvxc encoder;
        ASSERT_EQ(encoder.OpenEncoder(4410), S_OK);
        EXPECT_EQ(encoder.midSize(), 3200u);
        EXPECT_EQ(encoder.outSize(), 325u);
        EXPECT_EQ(rec_.calls, (std::vector<std::string>{"open A 1>1 flags 4", "open B 1>49 flags 4", "size A 4410>3200",
                                                        "size B 3200>325", "prepare A", "prepare B"}));
        rec_.calls.clear();
        for (size_t i = 0; i < 10; ++i) {
            auto chunk = pcm11Chunk(i);
            ASSERT_EQ(encoder.SetEncoderInput(chunk.data(), chunk.size()), S_OK);
            ASSERT_EQ(encoder.Convert(), S_OK);
            const unsigned char* out = nullptr;
            size_t length = 0;
            encoder.GetEncoderOutput(&out, &length);
            EXPECT_EQ(length, 325u) << "chunk " << i;
            if (i == 4)
                Sleep(300); // a pause does not bring the start flag back
        }
        auto converts = callsFrom("convert");
        ASSERT_EQ(converts.size(), 20u);
        EXPECT_EQ(converts[0], "convert A 20");
        EXPECT_EQ(converts[1], "convert B 20");
        for (size_t i = 2; i < 20; ++i)
            EXPECT_EQ(converts[i], i % 2 == 0 ? "convert A 4" : "convert B 4");
        rec_.calls.clear();
        ASSERT_EQ(encoder.Close(), S_OK);
        EXPECT_EQ(rec_.calls, (std::vector<std::string>{"unprepare A", "close A", "unprepare B", "close B"}));
        rec_.calls.clear();
    }
    EXPECT_TRUE(rec_.calls.empty()) << "closed once";
}

TEST_F(Codec, DecoderSizesAndFlags)
{
    CHvxc decoder;
    ASSERT_EQ(decoder.OpenDecoder(325), S_OK);
    EXPECT_EQ(rec_.calls, (std::vector<std::string>{"open A 49>1 flags 4", "size A 325>3200", "prepare A"}));
    std::vector<unsigned char> gsm(325, 0);
    for (int i = 0; i < 3; ++i) {
        ASSERT_EQ(decoder.SetDecoderInput(gsm.data(), gsm.size()), S_OK);
        ASSERT_EQ(decoder.Decode(), S_OK);
        const unsigned char* out = nullptr;
        size_t length = 0;
        decoder.GetDecoderOutput(&out, &length);
        EXPECT_EQ(length, 3200u);
    }
    EXPECT_EQ(callsFrom("convert"), (std::vector<std::string>{"convert A 0", "convert A 0", "convert A 0"}));
    rec_.calls.clear();
    decoder.Close();
    EXPECT_EQ(rec_.calls, (std::vector<std::string>{"unprepare A", "close A"}));
}

TEST_F(Codec, ToneSurvivesEncoderAndDecoder)
{
    CHvxc encoder;
    CHvxc decoder;
    ASSERT_EQ(encoder.OpenEncoder(4410), S_OK);
    ASSERT_EQ(decoder.OpenDecoder(325), S_OK);
    const auto pcm = toBytes(tone(1000, 8000, 11025, 22050));
    std::vector<int16_t> decoded;
    for (size_t at = 0; at < pcm.size(); at += 4410) {
        ASSERT_EQ(encoder.SetEncoderInput(pcm.data() + at, 4410), S_OK);
        ASSERT_EQ(encoder.Convert(), S_OK);
        const unsigned char* gsm = nullptr;
        size_t gsmLength = 0;
        encoder.GetEncoderOutput(&gsm, &gsmLength);
        ASSERT_EQ(decoder.SetDecoderInput(gsm, gsmLength), S_OK);
        ASSERT_EQ(decoder.Decode(), S_OK);
        const unsigned char* out = nullptr;
        size_t length = 0;
        decoder.GetDecoderOutput(&out, &length);
        auto samples = toSamples(out, length);
        decoded.insert(decoded.end(), samples.begin(), samples.end());
    }
    ASSERT_EQ(decoded.size(), 16000u);
    // 25 Hz bins over 1.6 s, past the codec's start.
    const size_t from = 1600, count = 12800;
    double peak = 0, peakFrequency = 0, strongestFar = 0;
    for (int f = 25; f < 4000; f += 25) {
        const double a = amplitudeAt(decoded, from, count, f, 8000);
        if (a > peak) {
            peak = a;
            peakFrequency = f;
        }
        if (std::abs(f - 1000) > 40)
            strongestFar = std::max(strongestFar, a);
    }
    EXPECT_EQ(peakFrequency, 1000);
    EXPECT_NEAR(20 * std::log10(peak / 8000), 0, 3) << "amplitude " << peak;
    EXPECT_LT(20 * std::log10(strongestFar / peak), -20) << "strongest other bin " << strongestFar;
    std::cout << "1000 Hz amplitude " << peak << ", strongest bin more than 40 Hz away " << strongestFar << "\n";
}

struct Refusal {
    bool encoder;
    size_t length;
};

class CodecRefusal : public Codec, public testing::WithParamInterface<Refusal> {};

TEST_P(CodecRefusal, OtherLengthsAreRefusedAndTheNextChunkConverts)
{
    const Refusal r = GetParam();
    CHvxc codec;
    const size_t size = r.encoder ? 4410 : 325;
    ASSERT_EQ(r.encoder ? codec.OpenEncoder(size) : codec.OpenDecoder(size), S_OK);
    rec_.calls.clear();
    {
        TraceCapture trace;
        GuardedBlock input(std::vector<unsigned char>(r.length, 0x55));
        const HRESULT result = r.encoder ? codec.SetEncoderInput(input.data(), r.length)
                                         : codec.SetDecoderInput(input.data(), r.length);
        EXPECT_EQ(result, E_FAIL);
        EXPECT_EQ(trace.count("ERROR: "), 1) << trace.text();
    }
    EXPECT_TRUE(rec_.calls.empty());
    GuardedBlock good(r.encoder ? pcm11Chunk(0) : std::vector<unsigned char>(325, 0));
    const unsigned char* out = nullptr;
    size_t length = 0;
    if (r.encoder) {
        ASSERT_EQ(codec.SetEncoderInput(good.data(), 4410), S_OK);
        ASSERT_EQ(codec.Convert(), S_OK);
        codec.GetEncoderOutput(&out, &length);
        EXPECT_EQ(length, 325u);
    } else {
        ASSERT_EQ(codec.SetDecoderInput(good.data(), 325), S_OK);
        ASSERT_EQ(codec.Decode(), S_OK);
        codec.GetDecoderOutput(&out, &length);
        EXPECT_EQ(length, 3200u);
    }
}

INSTANTIATE_TEST_SUITE_P(Lengths, CodecRefusal,
                         testing::Values(Refusal{false, 324}, Refusal{false, 326}, Refusal{false, 0},
                                         Refusal{true, 4411}, Refusal{true, 4409}, Refusal{false, 4410}),
                         [](const testing::TestParamInfo<Refusal>& info) {
                             return std::string(info.param.encoder ? "Encoder" : "Decoder") +
                                    std::to_string(info.param.length);
                         });

TEST_F(Codec, StreamThatDoesNotOpenSkipsTheRest)
{
    rec_.failOpen = true;
    TraceCapture trace;
    CHvxc encoder;
    EXPECT_EQ(encoder.OpenEncoder(4410), E_FAIL);
    EXPECT_EQ(rec_.calls, (std::vector<std::string>{"open failed"}));
    EXPECT_NE(trace.text().find("ACM stream creation failed"), std::string::npos) << trace.text();
    CHvxc decoder;
    EXPECT_EQ(decoder.OpenDecoder(325), E_FAIL);
    std::vector<unsigned char> gsm(325);
    EXPECT_EQ(decoder.SetDecoderInput(gsm.data(), 325), E_FAIL);
    EXPECT_EQ(decoder.Decode(), E_FAIL);
    rec_.calls.clear();
    decoder.Close();
    EXPECT_TRUE(rec_.calls.empty());
}

TEST_F(Codec, FailingConvertReportsFailure)
{
    CHvxc encoder;
    CHvxc decoder;
    ASSERT_EQ(encoder.OpenEncoder(4410), S_OK);
    ASSERT_EQ(decoder.OpenDecoder(325), S_OK);
    rec_.failConvert = true;
    TraceCapture trace;
    auto chunk = pcm11Chunk(0);
    ASSERT_EQ(encoder.SetEncoderInput(chunk.data(), chunk.size()), S_OK);
    EXPECT_EQ(encoder.Convert(), E_FAIL);
    std::vector<unsigned char> gsm(325);
    ASSERT_EQ(decoder.SetDecoderInput(gsm.data(), 325), S_OK);
    EXPECT_EQ(decoder.Decode(), E_FAIL);
    EXPECT_EQ(trace.count("ERROR: "), 2) << trace.text();
}

// What the chain does with shorter and longer sources, and with a chunk of 4: the facts the
// refusals above rest on.
TEST(CodecOnWine, PreparedHeaderAndChunkOfFour)
{
    CHvxc encoder;
    ASSERT_EQ(encoder.OpenEncoder(22050 / 4), S_OK);
    EXPECT_EQ(encoder.outSize(), 455u) << "7 GSM blocks, where a receiver opens for 1625 / 4 = 406";
}

} // namespace
