#include "CWaveFile.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

std::string le32(uint32_t v)
{
    return std::string{char(v), char(v >> 8), char(v >> 16), char(v >> 24)};
}

std::string record(const unsigned char* bytes, size_t size)
{
    return std::string(reinterpret_cast<const char*>(bytes), size);
}

TEST(WaveFile, FourBytesOfPcm8GiveTheExactFile)
{
    TempDir dir;
    CWaveFile log;
    ASSERT_EQ(log.Append("\x01\x02\x03\x04", 4), S_OK);
    ASSERT_EQ(log.SetFormat(CWaveFile::PCM8_FORMAT, 18), S_OK);
    ASSERT_EQ(log.Save("out.wav"), S_OK);
    const std::string expected = "RIFF" + le32(54) + "WAVE" + "fmt " + le32(18) + record(CWaveFile::PCM8_FORMAT, 18) +
                                 "fact" + le32(4) + le32(4) + "data" + le32(4) + "\x01\x02\x03\x04";
    const std::string file = fileBytes(dir.file("out.wav"));
    EXPECT_EQ(file.size(), 62u);
    EXPECT_EQ(hexBytes(file.data(), file.size()), hexBytes(expected.data(), expected.size()));
}

TEST(WaveFile, RecordsHoldTheirValues)
{
    // tag, channels, rate, bytes/s, align, bits, extra size (, extra).
    EXPECT_EQ(hexBytes(CWaveFile::CODEC_DUMP_FORMAT, 20), hexBytes(bytesOf("FFFF0100401F0000FA00000005000000 0200A000")));
    EXPECT_EQ(hexBytes(CWaveFile::PCM8_FORMAT, 18), hexBytes(bytesOf("01000100401F0000803E000002001000 0000")));
    EXPECT_EQ(hexBytes(CWaveFile::PCM11_FORMAT, 18), hexBytes(bytesOf("01000100112B00002256000002001000 0000")));
}

TEST(WaveFile, CodecRecordGivesTwentyByteFormatAndOddDataIsPadded)
{
    TempDir dir;
    CWaveFile log;
    ASSERT_EQ(log.Append("abc", 3), S_OK);
    log.SetFormat(CWaveFile::CODEC_DUMP_FORMAT, 20);
    ASSERT_EQ(log.Save("codec.wav"), S_OK);
    const std::string expected = "RIFF" + le32(4 + 8 + 20 + 12 + 8 + 4) + "WAVE" + "fmt " + le32(20) +
                                 record(CWaveFile::CODEC_DUMP_FORMAT, 20) + "fact" + le32(4) + le32(3) + "data" +
                                 le32(3) + "abc" + std::string(1, '\0');
    const std::string file = fileBytes(dir.file("codec.wav"));
    EXPECT_EQ(hexBytes(file.data(), file.size()), hexBytes(expected.data(), expected.size()));
}

TEST(WaveFile, KeepsUpToOneByteUnderTheLimit)
{
    CWaveFile log;
    std::vector<unsigned char> big(CWaveFile::DATA_LIMIT, 0x5A);
    EXPECT_EQ(log.Append(big.data(), CWaveFile::DATA_LIMIT), E_FAIL);
    EXPECT_EQ(log.length(), 0u);
    ASSERT_EQ(log.Append(big.data(), CWaveFile::DATA_LIMIT - 2), S_OK);
    ASSERT_EQ(log.Append("\x11", 1), S_OK);
    EXPECT_EQ(log.length(), 9999999u);
    EXPECT_EQ(log.Append("\x22", 1), E_FAIL);
    EXPECT_EQ(log.length(), 9999999u);
    EXPECT_EQ(log.data()[9999998], 0x11);
    EXPECT_EQ(log.data()[0], 0x5A);
}

TEST(WaveFile, NothingReceivedWritesNoFile)
{
    TempDir dir;
    CWaveFile log;
    log.SetFormat(CWaveFile::PCM11_FORMAT, 18);
    EXPECT_EQ(log.Save("empty.wav"), S_OK);
    EXPECT_EQ(GetFileAttributesA(dir.file("empty.wav").c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST(WaveFile, UncreatableFileFails)
{
    TempDir dir;
    CWaveFile log;
    log.Append("ab", 2);
    EXPECT_EQ(log.Save("no-such-folder\\x.wav"), E_FAIL);
}

} // namespace
