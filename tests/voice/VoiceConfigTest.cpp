#include "CMyReg.h"
#include "CVCConfig.h"

#include "TestSupport.h"
#include "VoiceTestSupport.h"

#include <gtest/gtest.h>

#include <functional>

namespace {

const int USER = 0;
const int MACHINE = 1;

struct Settings {
    uint32_t comBufChunk = 5;
    bool localPlay = false;
    uint32_t maxNumSecBuffer = 64;
    uint32_t msecSecBufSize = 2000;
    uint32_t chunkSecBuffer = 50;
    uint32_t sizeSilenceBuffer = 10000;
    bool soundOutLoop = true;
    bool voiceLog = false;
    uint32_t pcmChunk = 4410;
    uint32_t codecChunk = 325;
};

struct ConfigCase {
    const char* name;
    std::function<void(PrivateHives&)> store;
    std::function<void(Settings&)> expect;
    bool errorLine;
};

void PrintTo(const ConfigCase& c, std::ostream* out)
{
    *out << c.name;
}

class VoiceSettings : public testing::TestWithParam<ConfigCase> {};

TEST_P(VoiceSettings, ReadsUserOverMachineWithDefaults)
{
    const ConfigCase& c = GetParam();
    PrivateHives hives;
    c.store(hives);
    TraceCapture trace;
    hives.reload();
    Settings want;
    c.expect(want);
    EXPECT_EQ(CVCConfig::ComBufChunk, want.comBufChunk);
    EXPECT_EQ(CVCConfig::LocalPlay, want.localPlay);
    EXPECT_EQ(CVCConfig::MaxNumSecBuffer, want.maxNumSecBuffer);
    EXPECT_EQ(CVCConfig::MsecSecBufSize, want.msecSecBufSize);
    EXPECT_EQ(CVCConfig::ChunkSecBuffer, want.chunkSecBuffer);
    EXPECT_EQ(CVCConfig::SizeSilenceBuffer, want.sizeSilenceBuffer);
    EXPECT_EQ(CVCConfig::SoundOutLoop, want.soundOutLoop);
    EXPECT_EQ(CVCConfig::VoiceLog, want.voiceLog);
    EXPECT_EQ(CVCConfig::PcmChunkSize, want.pcmChunk);
    EXPECT_EQ(CVCConfig::CodecChunkSize, want.codecChunk);
    EXPECT_EQ(trace.count("ERROR: "), c.errorLine ? 1 : 0) << trace.text();
}

auto nothing = [](PrivateHives&) {};
auto same = [](Settings&) {};

// A stored 0 for a value that sizes divide by or loop over.
ConfigCase zeroCase(const char* name, const char* value)
{
    return {name, [value](PrivateHives& h) { h.setNumber(USER, value, 0); }, same, true};
}

INSTANTIATE_TEST_SUITE_P(
    Cases, VoiceSettings,
    testing::Values(
        ConfigCase{"NoKeyAllDefaults", nothing, same, false},
        ConfigCase{"UserValueHidesMachine",
                   [](PrivateHives& h) {
                       h.setNumber(USER, "SoundOutLoop", 2);
                       h.setNumber(MACHINE, "SoundOutLoop", 1);
                   },
                   [](Settings& s) { s.soundOutLoop = false; }, false},
        ConfigCase{"MachineOnlyUsed", [](PrivateHives& h) { h.setNumber(MACHINE, "MsecSecBufSize", 1500); },
                   [](Settings& s) { s.msecSecBufSize = 1500; }, false},
        ConfigCase{"LongUserTextFallsToMachine",
                   [](PrivateHives& h) {
                       h.setText(USER, "MaxNumSecBuffer", "123456");
                       h.setNumber(MACHINE, "MaxNumSecBuffer", 32);
                   },
                   [](Settings& s) { s.maxNumSecBuffer = 32; }, false},
        ConfigCase{"LongUserTextAloneDefault", [](PrivateHives& h) { h.setText(USER, "MaxNumSecBuffer", "123456"); },
                   same, false},
        ConfigCase{"LocalPlayOne", [](PrivateHives& h) { h.setNumber(USER, "LocalPlay", 1); },
                   [](Settings& s) { s.localPlay = true; }, false},
        ConfigCase{"LocalPlayTwoOff", [](PrivateHives& h) { h.setNumber(USER, "LocalPlay", 2); }, same, false},
        ConfigCase{"VoiceLogOne", [](PrivateHives& h) { h.setNumber(USER, "VoiceLog", 1); },
                   [](Settings& s) { s.voiceLog = true; }, false},
        ConfigCase{"ComBufChunk25", [](PrivateHives& h) { h.setNumber(USER, "ComBufChunk", 25); },
                   [](Settings& s) {
                       s.comBufChunk = 25;
                       s.pcmChunk = 882;
                       s.codecChunk = 65;
                   },
                   false},
        ConfigCase{"ComBufChunk1", [](PrivateHives& h) { h.setNumber(USER, "ComBufChunk", 1); },
                   [](Settings& s) {
                       s.comBufChunk = 1;
                       s.pcmChunk = 22050;
                       s.codecChunk = 1625;
                   },
                   false},
        zeroCase("ComBufChunk0", "ComBufChunk"),
        // 1625 / 4 = 406 is not whole GSM blocks: the encoder would send 455.
        ConfigCase{"ComBufChunk4", [](PrivateHives& h) { h.setNumber(USER, "ComBufChunk", 4); }, same, true},
        ConfigCase{"ComBufChunk4InMachine", [](PrivateHives& h) { h.setNumber(MACHINE, "ComBufChunk", 4); }, same,
                   true},
        zeroCase("ChunkSecBuffer0", "ChunkSecBuffer"), zeroCase("MsecSecBufSize0", "MsecSecBufSize"),
        zeroCase("MaxNumSecBuffer0", "MaxNumSecBuffer"), zeroCase("SizeSilenceBuffer0", "SizeSilenceBuffer"),
        ConfigCase{"EveryValueSet",
                   [](PrivateHives& h) {
                       h.setNumber(USER, "ComBufChunk", 25);
                       h.setNumber(USER, "LocalPlay", 1);
                       h.setNumber(USER, "MaxNumSecBuffer", 8);
                       h.setNumber(USER, "MsecSecBufSize", 1000);
                       h.setNumber(USER, "ChunkSecBuffer", 10);
                       h.setNumber(USER, "SizeSilenceBuffer", 500);
                       h.setNumber(USER, "SoundOutLoop", 0);
                       h.setNumber(USER, "VoiceLog", 1);
                   },
                   [](Settings& s) {
                       s = {25, true, 8, 1000, 10, 500, false, true, 882, 65};
                   },
                   false}),
    [](const testing::TestParamInfo<ConfigCase>& info) { return std::string(info.param.name); });

TEST(VoiceSettingsReload, SeesAChange)
{
    PrivateHives hives;
    hives.reload();
    EXPECT_EQ(CVCConfig::MsecSecBufSize, 2000u);
    hives.setNumber(USER, "MsecSecBufSize", 1200);
    hives.reload();
    EXPECT_EQ(CVCConfig::MsecSecBufSize, 1200u);
    hives.setNumber(USER, "MsecSecBufSize", 800);
    hives.reload();
    EXPECT_EQ(CVCConfig::MsecSecBufSize, 800u);
}

TEST(VoiceSettingsReload, ShortTextReadsTheSameEveryTime)
{
    PrivateHives hives;
    hives.setText(USER, "MaxNumSecBuffer", "1"); // "1" and its terminator: two bytes
    hives.reload();
    EXPECT_EQ(CVCConfig::MaxNumSecBuffer, 0x31u);
    hives.reload();
    EXPECT_EQ(CVCConfig::MaxNumSecBuffer, 0x31u);
}

const char KEY[] = "Software\\Tavelin\\regtest";

TEST(MyReg, OperationsRoundTrip)
{
    PrivateHives hives;
    ASSERT_EQ(CMyReg::writeNumber(KEY, "count", 0xDEADBEEF), ERROR_SUCCESS);
    ASSERT_EQ(CMyReg::writeDefaultNumber(KEY, 4711), ERROR_SUCCESS);
    ASSERT_EQ(CMyReg::writeText(KEY, "name", "hello"), ERROR_SUCCESS);
    ASSERT_EQ(CMyReg::writeText(KEY, "other", "x y"), ERROR_SUCCESS);
    uint32_t number = 0;
    ASSERT_EQ(CMyReg::readNumber(KEY, "count", &number), ERROR_SUCCESS);
    EXPECT_EQ(number, 0xDEADBEEFu);
    ASSERT_EQ(CMyReg::readDefaultNumber(KEY, &number), ERROR_SUCCESS);
    EXPECT_EQ(number, 4711u);
    char text[32] = {};
    DWORD length = sizeof text;
    ASSERT_EQ(CMyReg::readText(KEY, "name", text, &length), ERROR_SUCCESS);
    EXPECT_STREQ(text, "hello");
    EXPECT_EQ(length, 6u);
    length = sizeof text;
    ASSERT_EQ(CMyReg::readText(KEY, "other", text, &length), ERROR_SUCCESS);
    EXPECT_STREQ(text, "x y");
    // Written to the user's hive only: it succeeded there.
    HKEY key = nullptr;
    EXPECT_EQ(RegOpenKeyExA(hives.root(1), KEY, 0, KEY_READ, &key), ERROR_FILE_NOT_FOUND);
    DWORD type = 0;
    DWORD size = 0;
    ASSERT_EQ(RegGetValueA(hives.root(0), KEY, nullptr, RRF_RT_ANY, &type, nullptr, &size), ERROR_SUCCESS);
    EXPECT_EQ(type, DWORD(REG_DWORD));
    EXPECT_EQ(size, 4u);
}

TEST(MyReg, MissingKeyGivesTheRegistryCode)
{
    PrivateHives hives;
    uint32_t number = 77;
    EXPECT_EQ(CMyReg::readNumber(KEY, "count", &number), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(number, 77u);
    char text[8];
    DWORD length = sizeof text;
    EXPECT_EQ(CMyReg::readText(KEY, "name", text, &length), ERROR_FILE_NOT_FOUND);
}

TEST(MyReg, UserFailureFallsBackToMachineLastResultCounts)
{
    PrivateHives hives;
    ASSERT_EQ(RegSetKeyValueA(hives.root(1), KEY, "count", REG_DWORD, "\x05\0\0\0", 4), ERROR_SUCCESS);
    // Key missing in the user hive.
    uint32_t number = 0;
    EXPECT_EQ(CMyReg::readNumber(KEY, "count", &number), ERROR_SUCCESS);
    EXPECT_EQ(number, 5u);
    // Key present, value missing.
    ASSERT_EQ(RegSetKeyValueA(hives.root(0), KEY, "other", REG_DWORD, "\x01\0\0\0", 4), ERROR_SUCCESS);
    number = 0;
    EXPECT_EQ(CMyReg::readNumber(KEY, "count", &number), ERROR_SUCCESS);
    EXPECT_EQ(number, 5u);
    // Value too large in the user hive, missing in the machine's: the machine's code.
    ASSERT_EQ(RegSetKeyValueA(hives.root(0), KEY, "big", REG_BINARY, "12345678", 8), ERROR_SUCCESS);
    EXPECT_EQ(CMyReg::readNumber(KEY, "big", &number), ERROR_FILE_NOT_FOUND);
    ASSERT_EQ(RegSetKeyValueA(hives.root(1), KEY, "big", REG_BINARY, "123456789", 9), ERROR_SUCCESS);
    EXPECT_EQ(CMyReg::readNumber(KEY, "big", &number), ERROR_MORE_DATA);
    // A text too long for the caller's buffer in the user hive, fitting in the machine's.
    ASSERT_EQ(RegSetKeyValueA(hives.root(0), KEY, "name", REG_SZ, "a long text", 12), ERROR_SUCCESS);
    ASSERT_EQ(RegSetKeyValueA(hives.root(1), KEY, "name", REG_SZ, "ok", 3), ERROR_SUCCESS);
    char text[4] = {};
    DWORD length = sizeof text;
    EXPECT_EQ(CMyReg::readText(KEY, "name", text, &length), ERROR_SUCCESS);
    EXPECT_STREQ(text, "ok");
}

TEST(MyReg, WriteFallsBackWhenTheUserHiveFails)
{
    PrivateHives hives;
    // A user root that is no open key: every attempt there fails.
    CMyReg::setHives(reinterpret_cast<HKEY>(0x7ff0), hives.root(1));
    EXPECT_EQ(CMyReg::writeNumber(KEY, "count", 9), ERROR_SUCCESS);
    EXPECT_EQ(CMyReg::writeText(KEY, "name", "m"), ERROR_SUCCESS);
    uint32_t number = 0;
    EXPECT_EQ(CMyReg::readNumber(KEY, "count", &number), ERROR_SUCCESS);
    EXPECT_EQ(number, 9u);
    CMyReg::setHives(hives.root(0), hives.root(1));
    DWORD value = 0;
    DWORD size = sizeof value;
    EXPECT_EQ(RegGetValueA(hives.root(1), KEY, "count", RRF_RT_REG_DWORD, nullptr, &value, &size), ERROR_SUCCESS);
    EXPECT_EQ(value, 9u);
    HKEY key = nullptr;
    EXPECT_EQ(RegOpenKeyExA(hives.root(0), KEY, 0, KEY_READ, &key), ERROR_FILE_NOT_FOUND);
}

} // namespace
