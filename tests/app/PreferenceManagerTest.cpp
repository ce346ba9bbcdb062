#include "CIllegalArgumentException.h"
#include "CNoSuchElementException.h"
#include "CPreferenceManager.h"
#include "RegistryKey.h"
#include "TestSupport.h"

#include <objbase.h>

#include <gtest/gtest.h>

#include <memory>

namespace {

class PreferencesTest : public ::testing::Test {
protected:
    // The manager releases one COM initialisation when it goes, as it balances the process
    // utilities' in the program.
    std::unique_ptr<CPreferenceManager> make(const std::string& terminalId = "T1")
    {
        CoInitialize(nullptr);
        return std::make_unique<CPreferenceManager>(key.path(), "APP", terminalId, "Nick", "C:\\res");
    }

    std::string text(const std::string& name)
    {
        DWORD type = 0;
        std::string bytes;
        EXPECT_TRUE(key.read(name, &type, &bytes)) << name;
        EXPECT_EQ(static_cast<DWORD>(REG_SZ), type) << name;
        return bytes;
    }

    void expectDefaultsStored()
    {
        EXPECT_EQ(0, key.number("mute"));
        EXPECT_EQ(1, key.number("cursor"));
        EXPECT_EQ(0, key.number("skin"));
        EXPECT_EQ(0, key.number("viewbg"));
        // The empty text with its NUL: one byte.
        EXPECT_EQ(std::string(1, '\0'), text("custombg"));
    }

    TempDir dir;
    RegistryKey key;
};

TEST_F(PreferencesTest, AMissingKeyIsMadeWithTheFiveDefaults)
{
    ASSERT_FALSE(key.exists());
    auto preferences = make();
    expectDefaultsStored();
    EXPECT_FALSE(key.has("nickname"));
    EXPECT_FALSE(preferences->getMute());
    EXPECT_TRUE(preferences->getCursor());
    EXPECT_EQ(0, preferences->getSkin());
    EXPECT_EQ(0, preferences->getViewBg());
    EXPECT_EQ("", preferences->getCustomBg());
    EXPECT_EQ("T1", preferences->getTerminalId());
    EXPECT_EQ("APP", preferences->getAppId());
    EXPECT_EQ("Nick", preferences->getNickname());
    EXPECT_EQ("C:\\res", preferences->getResourcePath());
}

TEST_F(PreferencesTest, AKeyWithoutValuesReadsTheDefaultsAndSavesAllFiveAtTheEnd)
{
    // As on a first run, where the application object made the key for "resourcepath".
    key.setText("resourcepath", "C:\\x");
    auto preferences = make();
    EXPECT_FALSE(key.has("mute"));
    EXPECT_TRUE(preferences->getCursor());
    preferences.reset();
    expectDefaultsStored();
    EXPECT_EQ(std::string("C:\\x") + '\0', text("resourcepath"));
}

TEST_F(PreferencesTest, StoredValuesAreReadAndTheChangedOnesWrittenBack)
{
    key.setNumber("mute", 5);
    key.setNumber("cursor", 0);
    key.setNumber("skin", 2);
    key.setNumber("viewbg", 3);
    key.setText("custombg", "C:\\bg.jpg");
    auto preferences = make();
    EXPECT_TRUE(preferences->getMute());
    EXPECT_FALSE(preferences->getCursor());
    EXPECT_EQ(2, preferences->getSkin());
    EXPECT_EQ(3, preferences->getViewBg());
    EXPECT_EQ("C:\\bg.jpg", preferences->getCustomBg());
    preferences->setSkin(1);
    preferences->setCustomBg("D:\\other.png");
    // Setters store in memory only.
    EXPECT_EQ(2, key.number("skin"));
    preferences.reset();
    EXPECT_EQ(1, key.number("mute"));   // 5 read as muted, written as 1
    EXPECT_EQ(0, key.number("cursor"));
    EXPECT_EQ(1, key.number("skin"));
    EXPECT_EQ(3, key.number("viewbg"));
    EXPECT_EQ(std::string("D:\\other.png") + '\0', text("custombg"));
}

TEST_F(PreferencesTest, TheTwoFlagsRunOppositeWaysInTheirTexts)
{
    auto preferences = make();
    struct {
        bool mute, cursor;
    } cases[] = {{true, true}, {true, false}, {false, true}, {false, false}};
    for (const auto& c : cases) {
        preferences->setMute(c.mute);
        preferences->setCursor(c.cursor);
        EXPECT_EQ(c.mute, preferences->getMute());
        EXPECT_EQ(c.cursor, preferences->getCursor());
    }
}

TEST_F(PreferencesTest, ValuesOfOtherTypesOrSizesKeepTheirDefaults)
{
    key.setText("mute", "1234567");            // longer than a number: not read
    key.setRaw("skin", REG_BINARY, "\x02");    // shorter: its low byte
    // No NUL within the bytes: the text ends with the bytes read.
    key.setRaw("custombg", REG_BINARY, "C:\\a");
    auto preferences = make();
    EXPECT_FALSE(preferences->getMute());
    EXPECT_EQ(2, preferences->getSkin());
    EXPECT_EQ("C:\\a", preferences->getCustomBg());
}

TEST_F(PreferencesTest, ATerminalIdWithABlankEndsTheProcess)
{
    if (isChild()) {
        childTracesToFile(false);
        auto preferences = make("T 1");
        exit(0);
    }
    // The trace facility ends a stop with a code outside 0..255 abnormally.
    EXPECT_EQ(ABNORMAL_EXIT, runInChild(dir));
    EXPECT_TRUE(hasLineWith(dir.logLines(), "FATAL ERROR: ")) << dir.logBytes();
    EXPECT_FALSE(key.exists());
}

TEST_F(PreferencesTest, TerminalIdsWithoutBlanksAreTakenWhateverElseTheyHold)
{
    auto preferences = make("a\\b\t\"c\"_d");
    EXPECT_EQ("a\\b\t\"c\"_d", preferences->getTerminalId());
    EXPECT_THROW(preferences->setTerminalId("x y"), CIllegalArgumentException);
    EXPECT_EQ("a\\b\t\"c\"_d", preferences->getTerminalId());
    EXPECT_EQ(" ", CPreferenceManager::getSeparator());
}

TEST_F(PreferencesTest, TextValuesAreReadUpToTheirFirstNulWhateverTheirType)
{
    struct {
        const char* name;
        DWORD type;
        std::string bytes;
        std::string expected;
    } cases[] = {
        {"binary without NUL", REG_BINARY, "ab", "ab"},
        {"text", REG_SZ, std::string("Ann\0", 4), "Ann"},
        {"NUL inside", REG_SZ, std::string("An\0n\0", 5), "An"},
        {"expandable", REG_EXPAND_SZ, std::string("%x%\0", 4), "%x%"},
        {"empty", REG_SZ, "", ""},
    };
    for (const auto& c : cases) {
        key.setRaw("nickname", c.type, c.bytes);
        EXPECT_EQ(c.expected, CPreferenceManager::restoreNickname(key.path())) << c.name;
    }
}

TEST_F(PreferencesTest, TextValuesThatCannotBeReadThrow)
{
    EXPECT_THROW(CPreferenceManager::readString(key.path(), "nickname"), CNoSuchElementException);
    key.create();
    EXPECT_THROW(CPreferenceManager::restoreResourcePath(key.path()), CNoSuchElementException);
    CPreferenceManager::storeResourcePath(key.path(), "C:\\Program Files\\T");
    EXPECT_EQ("C:\\Program Files\\T", CPreferenceManager::restoreResourcePath(key.path()));
    CPreferenceManager::storeNickname(key.path(), "");
    EXPECT_EQ(std::string(1, '\0'), text("nickname"));
}

} // namespace
