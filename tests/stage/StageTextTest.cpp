// The texts the Stage shares: element descriptors, layer lists and size texts.
#include "CGuid.h"
#include "CJString.h"
#include "CStage.h"
#include "CVector.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

#include <mutex>
#include <set>
#include <thread>

namespace {

const std::string SEP = "_ELEM_DESC_SEP_";
const std::string ALIGN = "_ALIGN_DESC_SEP_";
const std::string TERMINAL = "5A3C0F1E-0000-4B2D-9C1A-00105A67EDD0";

struct Fields {
    int width = -99, height = -99;
    std::string location = "?", size = "?", motion = "?", decoration = "?", attribute = "?", path = "?";
};

bool parse(const std::string& desc, Fields* f) {
    return CStage::parseElementDesc(desc, &f->width, &f->height, &f->location, &f->size, &f->motion, &f->decoration,
                                    &f->attribute, &f->path);
}

std::string cursorOf(const std::string& terminal) {
    return CStage::makeElementDesc("0 0", "size", "motion", "0", terminal, "*.*", 120, 90);
}

// A fresh process: its first descriptor is the host's own cursor, with serial 0; the next has 1.
TEST(ElementDesc, FirstTwoOfAProcessHaveSerialsZeroAndOneAndTheHostCursorForm) {
    if (isChild()) {
        std::string first = cursorOf(TERMINAL);
        std::string second = CStage::makeElementDesc("5 6", "size", "motion", "3", "a", "C:\\x.bmp", 120, 90);
        const std::string& id = CStage::getStageId();
        std::string expected = "0_" + id + SEP + "120" + SEP + "90" + SEP + "0 0" + SEP + "size" + SEP + "motion"
                               + SEP + "0" + SEP + TERMINAL + SEP + "*.*";
        int failures = 0;
        failures |= first == expected ? 0 : 1;
        failures |= second.compare(0, 2 + id.size(), "1_" + id) == 0 ? 0 : 2;
        failures |= CGuid(id).toString() == id && id.size() == 36 ? 0 : 4;
        failures |= id.find_first_of("abcdef") == std::string::npos ? 0 : 8;
        exit(failures);
    }
    TempDir dir;
    EXPECT_EQ(0, runInChild(dir));
}

TEST(ElementDesc, StageIdIsOnePerProcessAndEveryKeyDiffers) {
    std::string a = cursorOf(TERMINAL);
    std::string b = cursorOf(TERMINAL);
    EXPECT_NE(a, b);
    EXPECT_EQ(CStage::getStageId(), CStage::getStageId());
    for (const std::string& desc : {a, b}) {
        std::string key = desc.substr(0, desc.find(SEP));
        EXPECT_EQ("_" + CStage::getStageId(), key.substr(key.find('_')));
    }
}

TEST(ElementDesc, FieldsReadBackAndThePathKeepsEverythingAfterTheEighthSeparator) {
    struct Case {
        std::string location, decoration, attribute, path;
        int width, height;
    };
    const Case cases[] = {
        {"0 0", "0", TERMINAL, "*.*", 120, 90},
        {"-40 17", "3", "1024 *C:\\in.bmp *nick", "C:\\tmp\\in.bmp", 120, 90},
        {"1 2", "", "", "C:\\a" + SEP + "b" + SEP + SEP + "c.exe", -5, 0},
        {"", "7", "x", "", 2147483647, -2147483647 - 1},
        {"3 4", "1", "y", SEP, 1, 1},
    };
    for (const Case& c : cases) {
        std::string desc = CStage::makeElementDesc(c.location, "size", "motion", c.decoration, c.attribute, c.path,
                                                   c.width, c.height);
        Fields f;
        ASSERT_TRUE(parse(desc, &f)) << desc;
        EXPECT_EQ(c.width, f.width);
        EXPECT_EQ(c.height, f.height);
        EXPECT_EQ(c.location, f.location);
        EXPECT_EQ("size", f.size);
        EXPECT_EQ("motion", f.motion);
        EXPECT_EQ(c.decoration, f.decoration);
        EXPECT_EQ(c.attribute, f.attribute);
        EXPECT_EQ(c.path, f.path);
    }
}

TEST(ElementDesc, TooFewSeparatorsOrTooLongIsNoElementAndSetsNothing) {
    std::string seven = "k" + SEP + "120" + SEP + "90" + SEP + "0 0" + SEP + "size" + SEP + "motion" + SEP + "0" + SEP
                        + "attribute and path";
    std::string eight = "k" + SEP + "120" + SEP + "90" + SEP + "0 0" + SEP + "size" + SEP + "motion" + SEP + "0" + SEP
                        + "t" + SEP;
    std::string longest = eight + std::string(16384 - eight.size(), 'p');
    struct Case {
        std::string desc;
        bool read;
    };
    const Case cases[] = {
        {"", false},
        {seven, false},
        {std::string(7, 'x') + SEP + SEP + SEP + SEP + SEP + SEP + SEP, false},
        {eight, true},
        {longest, true},
        {longest + "p", false},
        {SEP + SEP + SEP + SEP + SEP + SEP + SEP + SEP, true},
        {"_ELEM_DESC_SEP" + SEP.substr(1) + SEP + SEP + SEP + SEP + SEP + SEP, false},
    };
    for (const Case& c : cases) {
        Fields f;
        EXPECT_EQ(c.read, parse(c.desc, &f)) << c.desc.size() << " bytes";
        if (!c.read) {
            EXPECT_EQ(-99, f.width);
            EXPECT_EQ("?", f.path);
        }
    }
    Fields f;
    ASSERT_TRUE(parse(longest, &f));
    EXPECT_EQ(16384 - eight.size(), f.path.size());
}

TEST(ElementDesc, CursorIsExactlyTheStarDotStarPath) {
    struct Case {
        std::string path;
        bool cursor;
    };
    const Case cases[] = {{"*.*", true}, {"a*.*", false}, {"", false}, {"*.* ", false}, {" *.*", false},
                          {"*.", false}, {"*.*" + SEP, false}};
    for (const Case& c : cases)
        EXPECT_EQ(c.cursor, CStage::isCursorDesc(CStage::makeElementDesc("0 0", "size", "motion", "0", "t", c.path,
                                                                         120, 90)))
            << "[" << c.path << "]";
    EXPECT_FALSE(CStage::isCursorDesc(""));
    EXPECT_FALSE(CStage::isCursorDesc("*.*"));
}

TEST(ElementDesc, SixteenThreadsMakeDistinctKeys) {
    const int THREADS = 16, EACH = 10000;
    std::vector<std::vector<std::string>> made(THREADS);
    std::vector<std::thread> threads;
    for (int t = 0; t < THREADS; ++t)
        threads.emplace_back([&made, t] {
            for (int i = 0; i < EACH; ++i) {
                std::string desc = cursorOf(TERMINAL);
                made[t].push_back(desc.substr(0, desc.find(SEP)));
            }
        });
    for (std::thread& thread : threads)
        thread.join();
    std::set<std::string> keys;
    for (const auto& list : made)
        keys.insert(list.begin(), list.end());
    EXPECT_EQ(static_cast<size_t>(THREADS * EACH), keys.size());
}

std::string joined(const std::vector<std::string>& keys) {
    CVector vector(10, -1);
    for (const std::string& key : keys)
        vector.addElement(new CJString(key));
    std::string text = CStage::joinDesc(vector, ALIGN);
    vector.deleteAllElements();
    return text;
}

TEST(LayerList, JoinsAndReadsBack) {
    struct Case {
        std::vector<std::string> keys;
        std::string text;
    };
    const Case cases[] = {
        {{}, ""},
        {{"a"}, "a"},
        {{"a", "b"}, "a" + ALIGN + "b"},
        {{"0_X" + SEP + "120", "1_X" + SEP + "*.*", "c"}, "0_X" + SEP + "120" + ALIGN + "1_X" + SEP + "*.*" + ALIGN + "c"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.text, joined(c.keys));
        EXPECT_EQ(c.keys, CStage::parseLayerList(c.text));
    }
}

TEST(LayerList, AnEmptyFieldEndsTheList) {
    struct Case {
        std::string text;
        std::vector<std::string> keys;
    };
    const Case cases[] = {
        {"a" + ALIGN + ALIGN + "b", {"a"}},
        {ALIGN + "a", {}},
        {"a" + ALIGN, {"a"}},
        {"a" + ALIGN + "b" + ALIGN + ALIGN, {"a", "b"}},
        {"_ALIGN_DESC_SEP", {"_ALIGN_DESC_SEP"}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.keys, CStage::parseLayerList(c.text)) << c.text;
}

TEST(LayerList, ReadingStopsAfterTheKeyLimitWithAnErrorLine) {
    for (int count : {1024, 2000}) {
        std::vector<std::string> keys;
        for (int i = 0; i < count; ++i)
            keys.push_back("k" + std::to_string(i));
        TraceCapture trace;
        std::vector<std::string> read = CStage::parseLayerList(joined(keys));
        ASSERT_EQ(1024u, read.size());
        EXPECT_EQ(std::vector<std::string>(keys.begin(), keys.begin() + 1024), read);
        EXPECT_EQ(count > 1024 ? 1 : 0, trace.count("ERROR: [ CStage ]")) << trace.text();
    }
}

TEST(SizeText, WritesAndReadsWidthAndHeight) {
    EXPECT_EQ("640 480", CStage::sizeToString(640, 480));
    EXPECT_EQ("-1 0", CStage::sizeToString(-1, 0));
    struct Case {
        const char* text;
        int width, height;
    };
    const Case cases[] = {{"640 480", 640, 480}, {"640", 640, 0}, {"-5 x", -5, 0}, {"", 0, 0},
                          {" 7 8", 0, 7}, {"12abc 34def", 12, 34}, {"1 2 3", 1, 2}};
    for (const Case& c : cases) {
        int width = -99, height = -99;
        CStage::parseSize(c.text, &width, &height);
        EXPECT_EQ(c.width, width) << c.text;
        EXPECT_EQ(c.height, height) << c.text;
    }
}

// Numbers from peers read as atoi does, clamped to 32 bits, and only inside the text given.
TEST(NumberText, ReadsAsAtoiWithinTheView) {
    struct Case {
        std::string_view text;
        int value;
    };
    const std::string_view cut = std::string_view("1234", 2);
    const Case cases[] = {{"0", 0},         {"42", 42},      {"-17", -17},       {"+5", 5},
                          {" \t\n 9", 9},   {"12abc", 12},   {"abc", 0},         {"", 0},
                          {"-", 0},         {"- 3", 0},      {"2147483647", 2147483647},
                          {"2147483648", 2147483647},        {"-2147483648", -2147483647 - 1},
                          {"-99999999999999999999", -2147483647 - 1},
                          {"99999999999999999999", 2147483647}, {cut, 12}};
    for (const Case& c : cases)
        EXPECT_EQ(c.value, CStage::parseNumber(c.text)) << std::string(c.text);
}

}  // namespace
