#include "CComMaster.h"
#include "CHvxcOut.h"
#include "CVoiceManager.h"

#include "FakeDirectSound.h"
#include "FakeMicrophone.h"
#include "GuardedBlock.h"
#include "TestSupport.h"
#include "VoiceTestSupport.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <random>

namespace {

CHvxcOut* fakePlayback()
{
    return new CHvxcOut(nullptr);
}

class VoiceManager : public testing::Test {
protected:
    void SetUp() override
    {
        hives_.reload();
        CVoiceManager::setPlaybackFactory(fakePlayback);
    }
    void TearDown() override { CVoiceManager::setPlaybackFactory(nullptr); }

    static std::vector<unsigned char> packet()
    {
        std::vector<unsigned char> gsm(325);
        for (size_t i = 0; i < gsm.size(); ++i)
            gsm[i] = (unsigned char)(i * 31);
        return CComMaster::buildPacket(gsm.data(), gsm.size());
    }
    // Decoded chunks written into buffer b: one 3200-byte lock each.
    size_t plays(size_t b)
    {
        size_t n = 0;
        for (const auto& call : ds_.buffer(b).callsNamed(ds_, "Lock"))
            n += call.size() > 5 && call.compare(call.size() - 5, 5, " 3200") == 0 ? 1 : 0;
        return n;
    }
    int idOf(CVoiceManager& vm, const std::string& id)
    {
        int buffer = -99;
        return vm.bufferOf(id, &buffer) ? buffer : -99;
    }

    PrivateHives hives_;
    FakeDirectSound ds_;
    FakeMicrophone mic_;
};

TEST_F(VoiceManager, BufferIdsAreReusedOldestFirst)
{
    CVoiceManager vm(nullptr);
    vm.setName("A", "A");
    vm.setName("B", "B");
    EXPECT_EQ(idOf(vm, "A"), 1);
    EXPECT_EQ(idOf(vm, "B"), 2);
    vm.removeName("A");
    vm.setName("C", "C");
    EXPECT_EQ(idOf(vm, "C"), 1);
    EXPECT_EQ(ds_.bufferCount(), 3u) << "no new buffer for C";
    TraceCapture trace;
    vm.removeName("A");
    vm.setName("B", "B");
    EXPECT_EQ(trace.count("ERROR: "), 2) << trace.text();
    EXPECT_EQ(vm.memberCount(), 2u);
    EXPECT_EQ(idOf(vm, "B"), 2);
}

TEST_F(VoiceManager, PlaysMembersAndDropsStrangers)
{
    CVoiceManager vm(nullptr);
    vm.setName("A", "A");
    vm.setName("B", "B");
    const auto p = packet();
    vm.play("B", p.data(), p.size());
    EXPECT_EQ(plays(2), 1u);
    EXPECT_EQ(plays(1), 0u);
    vm.removeName("A");
    TraceCapture trace;
    vm.play("A", p.data(), p.size());
    vm.play("Z", p.data(), p.size());
    vm.play("", p.data(), p.size());
    EXPECT_EQ(trace.count("ERROR: [ CVoiceManager ] Voice packet dropped"), 3) << trace.text();
    EXPECT_NE(trace.text().find("from A, an unregistered terminal"), std::string::npos);
    EXPECT_EQ(plays(1), 0u);
}

TEST_F(VoiceManager, MemberWithoutABufferIsKeptAndUnheard)
{
    hives_.setNumber(0, "MaxNumSecBuffer", 2);
    hives_.reload();
    CVoiceManager vm(nullptr);
    vm.setName("A", "A");
    TraceCapture trace;
    vm.setName("B", "B");
    EXPECT_EQ(idOf(vm, "B"), -1);
    EXPECT_NE(trace.text().find("AddBuffer failed"), std::string::npos) << trace.text();
    const auto p = packet();
    vm.play("B", p.data(), p.size());
    EXPECT_NE(trace.text().find("who has no sound buffer"), std::string::npos);
    vm.play("A", p.data(), p.size());
    EXPECT_EQ(plays(1), 1u);
    // Leaving gives no id back; the next member finds none either.
    vm.removeName("B");
    vm.setName("C", "C");
    EXPECT_EQ(idOf(vm, "C"), -1);
}

TEST_F(VoiceManager, RecordingSwitchesTheMicrophone)
{
    CVoiceManager vm(nullptr);
    vm.startRecording();
    vm.stopRecording();
    EXPECT_EQ(mic_.starts.load(), 1);
    EXPECT_EQ(mic_.stops.load(), 1);
}

void putWord(std::vector<unsigned char>& p, size_t at, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        p[at + i] = (unsigned char)(v >> (8 * i));
}

uint32_t word(const std::vector<unsigned char>& p, size_t at)
{
    return uint32_t(p[at]) | uint32_t(p[at + 1]) << 8 | uint32_t(p[at + 2]) << 16 | uint32_t(p[at + 3]) << 24;
}

// What a receiver may play: a whole header, type 0, fields inside the bytes, one codec chunk.
bool playable(const std::vector<unsigned char>& p)
{
    if (p.size() < 20 || word(p, 0) != 0 || word(p, 4) < 20)
        return false;
    const uint64_t start = uint64_t(word(p, 4)) + word(p, 8) + word(p, 12);
    return word(p, 16) == 325 && start + 325 <= p.size();
}

struct Malformed {
    const char* name;
    std::function<void(std::vector<unsigned char>&)> damage;
};

class VoicePacketRefusal : public VoiceManager, public testing::WithParamInterface<Malformed> {};

TEST_P(VoicePacketRefusal, DroppedWithALine)
{
    CVoiceManager vm(nullptr);
    vm.setName("A", "A");
    auto p = packet();
    GetParam().damage(p);
    GuardedBlock block(p);
    TraceCapture trace;
    vm.play("A", block.data(), size_t(block.size()));
    EXPECT_EQ(trace.count("ERROR: [ CVoiceManager ] Voice packet dropped"), 1) << trace.text();
    EXPECT_EQ(plays(1), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, VoicePacketRefusal,
    testing::Values(Malformed{"UnderAHeader", [](auto& p) { p.resize(19); }},
                    Malformed{"Empty", [](auto& p) { p.clear(); }},
                    Malformed{"TypeOne", [](auto& p) { putWord(p, 0, 1); }},
                    Malformed{"NameInTheHeader", [](auto& p) { putWord(p, 4, 19); }},
                    Malformed{"NamePastTheEnd", [](auto& p) { putWord(p, 8, 400); }},
                    Malformed{"NoteSumWraps", [](auto& p) { putWord(p, 8, 0xFFFFFFFF), putWord(p, 12, 2); }},
                    Malformed{"DataPastTheEnd", [](auto& p) { p.resize(355); }},
                    Malformed{"OtherChunkLength", [](auto& p) { putWord(p, 16, 324); }},
                    Malformed{"OverADatagram", [](auto& p) { p.resize(70000); }}),
    [](const testing::TestParamInfo<Malformed>& info) { return std::string(info.param.name); });

TEST_F(VoiceManager, CorruptedPacketsNeverFaultAndOnlyPlayablesPlay)
{
    CVoiceManager vm(nullptr);
    vm.setName("A", "A");
    const auto valid = packet();
    const unsigned seed = unsigned(std::chrono::steady_clock::now().time_since_epoch().count());
    std::cout << "seed " << seed << "\n";
    std::mt19937 random(seed);
    std::vector<std::vector<unsigned char>> cases;
    for (size_t cut = 0; cut < valid.size(); ++cut)
        cases.emplace_back(valid.begin(), valid.begin() + cut);
    const uint32_t size = uint32_t(valid.size());
    const uint32_t values[] = {0, 1, 19, 20, 21, size - 1, size, 0x7FFFFFFF, 0xFFFFFFFF};
    for (size_t at = 0; at < 20; at += 4) {
        for (uint32_t v : values) {
            cases.push_back(valid);
            putWord(cases.back(), at, v);
        }
    }
    // Pairs whose sums wrap at 32 bits.
    for (uint32_t a : {0xFFFFFFFFu, 0xFFFFFFF0u, 0x80000000u}) {
        for (size_t first = 4; first < 16; first += 4) {
            cases.push_back(valid);
            putWord(cases.back(), first, a);
            putWord(cases.back(), first + 4, 0x100000000ull - a + 10);
        }
    }
    for (uint32_t type = 1; type < 300; ++type) {
        cases.push_back(valid);
        putWord(cases.back(), 0, type == 299 ? 0xFFFFFFFF : type);
    }
    TraceCapture trace;
    size_t expected = 0;
    size_t validMixed = 0;
    const auto started = std::chrono::steady_clock::now();
    const size_t total = 100000;
    for (size_t i = 0; i < total; ++i) {
        std::vector<unsigned char> p;
        if (i % 1000 == 999) {
            p = valid;
            ++validMixed;
        } else if (i < cases.size()) {
            p = cases[i];
        } else if (i % 3 == 0) {
            p.resize(random() % 400);
            for (auto& b : p)
                b = (unsigned char)random();
        } else {
            // The valid packet with a few header bytes changed.
            p = valid;
            const int flips = 1 + int(random() % 3);
            for (int f = 0; f < flips; ++f)
                p[random() % 20] = (unsigned char)random();
            if (random() % 2 == 0)
                p.resize(random() % (p.size() + 1));
        }
        if (playable(p)) {
            ++expected;
            ds_.buffer(1).stop(ds_); // every chunk finds the whole buffer free
        }
        GuardedBlock block(p);
        vm.play("A", block.data(), size_t(block.size()));
        if (i % 5000 == 0)
            trace.clear();
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    // printf: the trace capture holds std::cout.
    std::printf("%u packets in %.2f s, %u playable (%u valid mixed in)\n", unsigned(total), seconds,
                unsigned(expected), unsigned(validMixed));
    EXPECT_GE(expected, validMixed);
    EXPECT_EQ(plays(1), expected);
    EXPECT_LT(seconds, 200.0);
}

} // namespace
