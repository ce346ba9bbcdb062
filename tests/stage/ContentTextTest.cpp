// The texts a content reads from peers and from its descriptor: file sizes, speaker lists,
// speeches, the nickname inside speaker data, and the icon sizes it takes.
#include "CContent.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

const std::string SDS = "_SPEAKER_DESC_SEP_";

struct SizeCase {
    const char* attribute;
    long long size;
};

TEST(ContentText, FileSizeIsTheFirstBlankFieldReadAsA64BitCount)
{
    const SizeCase cases[] = {
        {"2048 *C:\\a b\\pic.jpg *nick", 2048},
        {"5000000000 *C:\\big.iso *n", 5000000000LL},
        {"9223372036854775807 *x *n", 9223372036854775807LL},
        {"9223372036854775808 *x *n", 0},          // beyond 63 bits
        {"-1 *x *n", 0},                          // negative
        {"-9223372036854775808 *x *n", 0},
        {"", 0},                                  // missing
        {" 12 *x", 0},                            // the first field is empty
        {"*x *n", 0},
        {"\t+77abc *x", 77},                      // atoi's reading within the field
        {"123", 123},
        {"12\n34 *x", 12},
    };
    for (const SizeCase& c : cases)
        EXPECT_EQ(c.size, CContent::readFileSize(c.attribute)) << c.attribute;
}

TEST(ContentText, SpeakerListRoundTripsAndStopsAtTheFirstEmptyEntry)
{
    std::vector<std::string> three = {"A_SPEAKER_DATA_SEP_1_SPEAKER_DATA_SEP_ann", "B_SPEAKER_DATA_SEP_2_SPEAKER_DATA_SEP_bo",
                                      "C_SPEAKER_DATA_SEP_3_SPEAKER_DATA_SEP_cy"};
    std::string text = CContent::joinSpeakerList(three);
    EXPECT_EQ(three[0] + SDS + three[1] + SDS + three[2], text);
    EXPECT_EQ(three, CContent::parseSpeakerList(text));
    EXPECT_EQ("", CContent::joinSpeakerList({}));

    struct Case {
        std::string list;
        std::vector<std::string> speakers;
    };
    const Case cases[] = {
        {"", {}},
        {"a", {"a"}},
        {"a" + SDS + SDS + "c", {"a"}},           // an empty middle entry ends the list
        {SDS + "b", {}},
        {"a" + SDS, {"a"}},
        {"a" + SDS + "a" + SDS + "b", {"a", "b"}}, // an equal text is taken once
        {"a" + SDS.substr(0, 10) + "b", {"a" + SDS.substr(0, 10) + "b"}},
        {"a" + SDS + std::string(1025, 'x') + SDS + "c", {"a", "c"}}, // over 1 KiB: left out
        {"a" + SDS + std::string(1024, 'x'), {"a", std::string(1024, 'x')}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.speakers, CContent::parseSpeakerList(c.list)) << c.list.substr(0, 80);
}

TEST(ContentText, SpeakerListKeepsAtMost256)
{
    std::vector<std::string> many;
    for (int i = 0; i < 300; ++i)
        many.push_back("T" + std::to_string(i));
    std::vector<std::string> read = CContent::parseSpeakerList(CContent::joinSpeakerList(many));
    ASSERT_EQ(CContent::SPEAKER_LIMIT, read.size());
    EXPECT_EQ(256u, read.size());
    EXPECT_EQ(std::vector<std::string>(many.begin(), many.begin() + 256), read);
}

TEST(ContentText, SpeechSplitsAtTheFirstTwoBlanksOnly)
{
    std::string speech = CContent::makeSpeech("B", "2", "a b  c");
    EXPECT_EQ("B 2 a b  c", speech);
    std::string terminal, refer, text;
    ASSERT_TRUE(CContent::parseSpeech(speech, &terminal, &refer, &text));
    EXPECT_EQ("B", terminal);
    EXPECT_EQ("2", refer);
    EXPECT_EQ("a b  c", text);

    ASSERT_TRUE(CContent::parseSpeech("T 0 ", &terminal, &refer, &text));
    EXPECT_EQ("", text);
    ASSERT_TRUE(CContent::parseSpeech("  ", &terminal, &refer, &text));
    EXPECT_EQ("", terminal);
    for (const std::string& refused : {std::string(), std::string("T"), std::string("T 0"), std::string("nospace")})
        EXPECT_FALSE(CContent::parseSpeech(refused, &terminal, &refer, &text)) << refused;

    std::string longest = "T 1 " + std::string(CContent::SPEECH_LIMIT - 4, 'x');
    EXPECT_EQ(65536u, longest.size());
    EXPECT_TRUE(CContent::parseSpeech(longest, &terminal, &refer, &text));
    EXPECT_FALSE(CContent::parseSpeech(longest + "x", &terminal, &refer, &text));
}

TEST(ContentText, NicknameInSpeakerDataCannotSplitTheList)
{
    const std::pair<std::string, std::string> cases[] = {
        {"ann", "ann"},
        {"a" + SDS + "b", "a-SPEAKER-DESC-SEP-b"},
        {SDS + SDS, "-SPEAKER-DESC-SEP--SPEAKER-DESC-SEP-"},
        {"two\nlines\n", "two lines "},
        {"_SPEAKER_DESC_SEP", "_SPEAKER_DESC_SEP"},
        {"", ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.second, CContent::speakerNickname(c.first)) << c.first;
        EXPECT_EQ(std::string::npos, CContent::speakerNickname(c.first).find(SDS));
    }
}

TEST(ContentText, IconImageLengthIs32PaddedRowsAtTheDepths)
{
    const std::pair<int, int> cases[] = {{1, 128},  {4, 512},   {8, 1024}, {16, 2048}, {24, 3072},
                                         {32, 4096}, {0, 0},    {2, 0},    {15, 0},    {-1, 0}, {64, 0}};
    for (const auto& c : cases)
        EXPECT_EQ(c.second, CContent::iconImageLength(c.first)) << c.first;
    EXPECT_EQ(128, CContent::ICON_MASK_LENGTH);
}

} // namespace
