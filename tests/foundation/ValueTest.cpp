#include "CBool.h"
#include "CBuffer.h"
#include "CGuid.h"
#include "CIllegalArgumentException.h"
#include "CIllegalStateException.h"
#include "CInetAddress.h"
#include "CInteger.h"
#include "CJString.h"
#include "CNullPointerException.h"
#include "CPointer.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

#include <winsock2.h>

#include <climits>
#include <cstring>
#include <cstdint>
#include <functional>
#include <memory>
#include <regex>

namespace {

// A value held both as a library object and through its serializable interface.
struct Value {
    std::unique_ptr<CJObject> object;
    ISerializable* serializable;
};

template <class T, class... Args>
Value make(Args&&... args)
{
    T* value = new T(std::forward<Args>(args)...);
    return Value{std::unique_ptr<CJObject>(value), value};
}

const unsigned char ABC[] = {0x0A, 0x0B, 0x0C};

struct StoredCase {
    const char* name;
    std::function<Value()> build;
    std::function<Value()> empty; // what the decoder builds before restore
    const char* className;
    const char* bytes;
    const char* restoredText; // toString after a round trip
};

void PrintTo(const StoredCase& c, std::ostream* out)
{
    *out << c.name;
}

class StoredForm : public testing::TestWithParam<StoredCase> {};

TEST_P(StoredForm, StoresTheGoldenBytesAndRestoresFromThem)
{
    const StoredCase& c = GetParam();
    Value value = c.build();
    EXPECT_STREQ(c.className, value.serializable->getClassName());
    std::vector<unsigned char> golden = bytesOf(c.bytes);
    ASSERT_EQ(golden.size(), value.serializable->getSerializedSize());
    std::vector<unsigned char> stored(golden.size() + 1, 0xEE);
    ASSERT_TRUE(value.serializable->store(stored.data()));
    EXPECT_EQ(0xEE, stored.back()) << "store wrote past its size";
    stored.pop_back();
    EXPECT_EQ(hexBytes(golden), hexBytes(stored));

    // Restore from a block with trailing bytes: only the stored form is consumed.
    std::vector<unsigned char> block = golden;
    block.push_back(0x55);
    block.push_back(0x66);
    Value restored = c.empty();
    unsigned consumed = 12345;
    ASSERT_TRUE(restored.serializable->restore(block.data(), static_cast<unsigned>(block.size()), &consumed));
    EXPECT_EQ(golden.size(), consumed);
    if (c.restoredText != nullptr) {
        EXPECT_EQ(c.restoredText, restored.object->toString());
    }
    std::vector<unsigned char> again(golden.size());
    ASSERT_TRUE(restored.serializable->store(again.data()));
    EXPECT_EQ(hexBytes(golden), hexBytes(again));
}

INSTANTIATE_TEST_SUITE_P(
    Golden, StoredForm,
    testing::Values(
        StoredCase{"Integer258", [] { return make<CInteger>(258); }, [] { return make<CInteger>(); }, "CInteger",
                   "02 01 00 00", "258"},
        StoredCase{"IntegerMinus1", [] { return make<CInteger>(-1); }, [] { return make<CInteger>(); }, "CInteger",
                   "FF FF FF FF", "-1"},
        StoredCase{"IntegerMin", [] { return make<CInteger>(INT_MIN); }, [] { return make<CInteger>(); }, "CInteger",
                   "00 00 00 80", "-2147483648"},
        // Built from text, the value keeps its text; the receiving side prints the number.
        StoredCase{"IntegerFromText007", [] { return make<CInteger>(std::string("007")); },
                   [] { return make<CInteger>(); }, "CInteger", "07 00 00 00", "7"},
        StoredCase{"BoolTrue", [] { return make<CBool>(true); }, [] { return make<CBool>(); }, "CBool", "01", "true"},
        StoredCase{"BoolFalse", [] { return make<CBool>(false); }, [] { return make<CBool>(true); }, "CBool", "00",
                   "false"},
        StoredCase{"StringAb", [] { return make<CJString>(std::string("ab")); }, [] { return make<CJString>(); },
                   "CJString", "61 62 00", "ab"},
        StoredCase{"StringEmpty", [] { return make<CJString>(); }, [] { return make<CJString>(std::string("x")); },
                   "CJString", "00", ""},
        StoredCase{"BufferThreeBytes", [] { return make<CBuffer>(ABC, 3u); }, [] { return make<CBuffer>(); },
                   "CBuffer", "03 00 00 00 0A 0B 0C", nullptr},
        StoredCase{"BufferEmpty", [] { return make<CBuffer>(); }, [] { return make<CBuffer>(); }, "CBuffer",
                   "00 00 00 00", nullptr},
        StoredCase{"ExceptionBad", [] { return make<CIllegalStateException>(std::string("bad")); },
                   [] { return make<CJException>(); }, "CJException", "62 61 64 00", "bad"},
        StoredCase{"ExceptionEmpty", [] { return make<CJException>(); }, [] { return make<CJException>(); },
                   "CJException", "00", ""}),
    [](const testing::TestParamInfo<StoredCase>& info) { return std::string(info.param.name); });

struct RejectCase {
    const char* name;
    std::function<Value()> empty;
    const char* bytes;
};

void PrintTo(const RejectCase& c, std::ostream* out)
{
    *out << c.name;
}

class TruncatedOrOversized : public testing::TestWithParam<RejectCase> {};

// The block given to restore is exactly the bytes listed; nothing beyond may be read.
TEST_P(TruncatedOrOversized, IsRejectedWithoutReadingPastTheBlock)
{
    const RejectCase& c = GetParam();
    std::vector<unsigned char> bytes = bytesOf(c.bytes);
    // The block sits at the very end of a committed page, followed by an inaccessible one: a
    // read past its end faults instead of passing unnoticed.
    SYSTEM_INFO system;
    GetSystemInfo(&system);
    size_t page = system.dwPageSize;
    unsigned char* pages =
        static_cast<unsigned char*>(VirtualAlloc(NULL, 2 * page, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
    ASSERT_NE(nullptr, pages);
    DWORD old;
    VirtualProtect(pages + page, page, PAGE_NOACCESS, &old);
    unsigned char* block = pages + page - bytes.size();
    if (!bytes.empty())
        memcpy(block, bytes.data(), bytes.size());

    Value value = c.empty();
    std::string before = value.object->toString();
    unsigned consumed = 12345;
    EXPECT_FALSE(value.serializable->restore(block, static_cast<unsigned>(bytes.size()), &consumed));
    EXPECT_EQ(0u, consumed);
    EXPECT_EQ(before, value.object->toString());
    VirtualFree(pages, 0, MEM_RELEASE);
}

INSTANTIATE_TEST_SUITE_P(
    Table, TruncatedOrOversized,
    testing::Values(RejectCase{"IntegerThreeBytes", [] { return make<CInteger>(9); }, "01 02 03"},
                    RejectCase{"IntegerNoBytes", [] { return make<CInteger>(9); }, ""},
                    RejectCase{"BoolNoBytes", [] { return make<CBool>(true); }, ""},
                    RejectCase{"StringWithoutNul", [] { return make<CJString>(std::string("keep")); }, "61 62 63"},
                    RejectCase{"StringNoBytes", [] { return make<CJString>(std::string("keep")); }, ""},
                    RejectCase{"ExceptionWithoutNul", [] { return make<CJException>(std::string("keep")); }, "61"},
                    RejectCase{"BufferShortLength", [] { return make<CBuffer>(); }, "03 00 00"},
                    RejectCase{"BufferShortData", [] { return make<CBuffer>(); }, "03 00 00 00 0A 0B"},
                    RejectCase{"BufferLengthOneTooMany", [] { return make<CBuffer>(); }, "01 00 00 00"},
                    RejectCase{"BufferAbsurdLength", [] { return make<CBuffer>(); }, "FF FF FF FF 00 01 02"},
                    RejectCase{"BufferTwoGigabytes", [] { return make<CBuffer>(); }, "00 00 00 80"},
                    RejectCase{"PointerNeverRestores", [] { return make<CPointer>(nullptr); }, "00 00 00 00"}),
    [](const testing::TestParamInfo<RejectCase>& info) { return std::string(info.param.name); });

TEST(CInteger, TextConstructionKeepsTheText)
{
    CInteger padded(std::string(" 007"));
    EXPECT_EQ(" 007", padded.toString());
    EXPECT_EQ(7, padded.intValue());
    padded.setValue(-3);
    EXPECT_EQ("-3", padded.toString());
    EXPECT_EQ("0", CInteger().toString());
    EXPECT_EQ("-2147483648", CInteger::toString(INT_MIN));
}

TEST(CInteger, ParseIntFollowsAtoi)
{
    const std::pair<const char*, int> cases[] = {{"42", 42},   {" 42", 42}, {"-7", -7}, {"+5", 5},
                                                 {"12ab", 12}, {"abc", 0},  {"", 0},    {"0x10", 0}};
    for (const auto& c : cases)
        EXPECT_EQ(c.second, CInteger::parseInt(c.first)) << c.first;
}

TEST(CInteger, EqualityAndHash)
{
    CInteger five(5);
    CInteger fiveFromText(std::string("05"));
    CBool other(true);
    EXPECT_TRUE(five.equals(&fiveFromText));
    EXPECT_FALSE(five.equals(&other));
    EXPECT_FALSE(five.equals(nullptr));
    EXPECT_TRUE(five.isEquatable());
    EXPECT_EQ(-9, CInteger(-9).hashCode());
}

TEST(CBool, RestoredOddByteIsNeitherTrueNorEqual)
{
    CBool odd;
    const unsigned char two = 2;
    unsigned consumed = 0;
    ASSERT_TRUE(odd.restore(&two, 1, &consumed));
    CBool yes(true);
    EXPECT_FALSE(odd.equals(&yes));
    EXPECT_EQ("false", odd.toString());
    unsigned char stored = 0;
    odd.store(&stored);
    EXPECT_EQ(2, stored);
}

TEST(CBool, HelpersAndHash)
{
    EXPECT_TRUE(CBool::fromBOOL(2));
    EXPECT_FALSE(CBool::fromBOOL(FALSE));
    EXPECT_EQ("true", CBool::toString(true));
    EXPECT_EQ("false", CBool::toString(false));
    EXPECT_EQ(1, CBool(true).hashCode());
    EXPECT_EQ(1, CBool(false).hashCode());
    EXPECT_TRUE(CBool(true).booleanValue());
    CBool a(true), b(true), c(false);
    EXPECT_TRUE(a.equals(&b));
    EXPECT_FALSE(a.equals(&c));
}

TEST(CJString, HashIsFirstSignedByteTimesLength)
{
    EXPECT_EQ(0, CJString().hashCode());
    EXPECT_EQ(65, CJString(std::string("A")).hashCode());
    EXPECT_EQ(-254, CJString(std::string("\x81x")).hashCode());
    EXPECT_EQ(97 * 3, CJString(std::string("abc")).hashCode());
}

TEST(CJString, EqualityIsCaseSensitiveAndCopiesAreIndependent)
{
    CJString text(std::string("Stage"));
    CJString same(std::string("Stage"));
    CJString lower(std::string("stage"));
    CInteger number(1);
    EXPECT_TRUE(text.equals(&same));
    EXPECT_FALSE(text.equals(&lower));
    EXPECT_FALSE(text.equals(&number));
    CJString copy(text);
    CJString assigned;
    assigned = text;
    text.setString("changed");
    EXPECT_EQ("Stage", copy.toString());
    EXPECT_EQ("Stage", assigned.toString());
    assigned = assigned;
    EXPECT_EQ("Stage", assigned.toString());
}

TEST(CBuffer, CopiesTheBytesAndComparesByStorage)
{
    unsigned char source[] = {1, 2, 3};
    CBuffer one(source, 3);
    CBuffer two(source, 3);
    source[0] = 9;
    EXPECT_EQ(3u, one.getLength());
    EXPECT_EQ(1, static_cast<const unsigned char*>(one.getData())[0]);
    EXPECT_NE(one.getData(), static_cast<const void*>(source));
    EXPECT_FALSE(one.equals(&two));
    EXPECT_TRUE(one.equals(&one));
    EXPECT_EQ(static_cast<int>(reinterpret_cast<uintptr_t>(one.getData())), one.hashCode());
    EXPECT_NE(std::string::npos, one.toString().find("3")) << one.toString();
}

TEST(CBuffer, NullDataIsRefused)
{
    try {
        CBuffer buffer(nullptr, 4);
        FAIL();
    } catch (const CNullPointerException& e) {
        EXPECT_EQ("CNullPointerException", e.toString());
    }
}

TEST(CBuffer, RestoringTheEmptyFormGivesLengthZero)
{
    const unsigned char empty[] = {0, 0, 0, 0};
    CBuffer buffer;
    unsigned consumed = 0;
    ASSERT_TRUE(buffer.restore(empty, sizeof(empty), &consumed));
    EXPECT_EQ(4u, consumed);
    EXPECT_EQ(0u, buffer.getLength());
}

TEST(CBuffer, RestoreIntoAFilledBufferStops)
{
    if (isChild()) {
        CTrace::setOutputToFile();
        const unsigned char form[] = {1, 0, 0, 0, 7};
        CBuffer filled(form, 5);
        unsigned consumed = 0;
        filled.restore(form, sizeof(form), &consumed);
        exit(0);
    }
    TempDir dir;
    EXPECT_EQ(ABNORMAL_EXIT, runInChild(dir));
    std::string log = dir.logBytes();
    EXPECT_NE(std::string::npos, log.find("ASSERT: [ CBuffer ]")) << log;
    EXPECT_NE(std::string::npos, log.find("ABORT: at")) << log;
}

TEST(CPointer, WrapsWithoutStoring)
{
    int target = 0;
    CPointer pointer(&target);
    CPointer same(&target);
    CPointer other(nullptr);
    EXPECT_EQ(&target, pointer.getPointer());
    EXPECT_TRUE(pointer.equals(&same));
    EXPECT_FALSE(pointer.equals(&other));
    EXPECT_EQ(0u, pointer.getSerializedSize());
    EXPECT_STREQ("CPointer", pointer.getClassName());
    unsigned char untouched = 0xEE;
    EXPECT_FALSE(pointer.store(&untouched));
    EXPECT_EQ(0xEE, untouched);
    char expected[40];
    snprintf(expected, sizeof(expected), "ptr= 0x%08llX",
             static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(&target)));
    EXPECT_EQ(expected, pointer.toString());
}

const GUID SAMPLE = {0x12345678, 0xABCD, 0xEF01, {0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF, 0x10}};

TEST(CGuid, TextFormIsUpperCaseWithoutBraces)
{
    EXPECT_EQ("12345678-ABCD-EF01-2345-6789ABCDEF10", CGuid::guidToString(SAMPLE));
    EXPECT_EQ("12345678-ABCD-EF01-2345-6789ABCDEF10", CGuid(SAMPLE).toString());
    EXPECT_EQ("00000000-0000-0000-0000-000000000000", CGuid().toString());
}

TEST(CGuid, ParsesEitherCaseAndComparesByValue)
{
    CGuid lower(std::string("12345678-abcd-ef01-2345-6789abcdef10"));
    CGuid upper(std::string("12345678-ABCD-EF01-2345-6789ABCDEF10"));
    EXPECT_EQ("12345678-ABCD-EF01-2345-6789ABCDEF10", lower.toString());
    EXPECT_TRUE(lower.equals(&upper));
    EXPECT_TRUE(isEqualGuid(lower.getGuid(), SAMPLE));
    EXPECT_EQ(0xABCD, lower.hashCode());
    GUID parsed = CGuid::stringToGuid("12345678-ABCD-EF01-2345-6789ABCDEF10");
    EXPECT_TRUE(isEqualGuid(parsed, SAMPLE));
    CGuid other(std::string("12345678-ABCD-EF01-2345-6789ABCDEF11"));
    EXPECT_FALSE(lower.equals(&other));
}

TEST(CGuid, CopyAssignAndPointer)
{
    CGuid original(SAMPLE);
    CGuid copy(original);
    CGuid assigned;
    assigned = original;
    EXPECT_TRUE(copy.equals(&original));
    EXPECT_TRUE(assigned.equals(&original));
    copy.getGuidPtr()->Data1 = 1;
    EXPECT_FALSE(copy.equals(&original));
}

TEST(CGuid, MalformedTextIsAnIllegalArgument)
{
    const char* texts[] = {
        "{12345678-ABCD-EF01-2345-6789ABCDEF10}", // 38 characters with braces
        "12345678-ABCD-EF01-2345-6789ABCDEF1",    // 35
        "12345678ABCDEF0123456789ABCDEF10ABCD",   // 36 without dashes
        "12345678-ABCD-EF01x23456789ABCDEF10A",   // 36 lacking the fourth dash
        "",
    };
    for (const char* text : texts) {
        try {
            CGuid guid{std::string(text)};
            ADD_FAILURE() << "accepted " << text;
        } catch (const CIllegalArgumentException& e) {
            EXPECT_EQ("CIllegalArgumentException ", e.toString());
        }
    }
}

TEST(CGuid, GroupsWithoutLeadingHexDigitReadAsZero)
{
    CGuid guid(std::string("ZZZZZZZZ-12GH-EF01-2345-6789ABCDEFQQ"));
    EXPECT_EQ("00000000-0012-EF01-2345-6789ABCDEF00", guid.toString());
}

TEST(CInetAddress, ResolvesTheLocalHostToADottedAddress)
{
    WSADATA data;
    ASSERT_EQ(0, WSAStartup(MAKEWORD(2, 2), &data));
    EXPECT_EQ("", CInetAddress().toString());
    std::unique_ptr<CInetAddress> local(CInetAddress::resolve());
    ASSERT_NE(nullptr, local);
    EXPECT_TRUE(std::regex_match(local->toString(), std::regex("\\d{1,3}\\.\\d{1,3}\\.\\d{1,3}\\.\\d{1,3}")))
        << local->toString();
    EXPECT_FALSE(local->isEquatable());
    WSACleanup();
}

} // namespace
