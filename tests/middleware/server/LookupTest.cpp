// A lookup handle apart from its connection: what replies do to it, what a client reads from
// it, and that a reply is checked whole before any of it is used.
#include "CQuarnDirectoryReply.h"
#include "CQuarnLookup.h"
#include "CQuarnSocket.h"
#include "QuarnCodes.h"
#include "QuarnWire.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

#include <functional>
#include <vector>

namespace {

typedef std::vector<BYTE> Bytes;

// Builds a reply's data: handle, counter, count, then records.
class ReplyBuilder {
public:
    ReplyBuilder(DWORD handle, DWORD counter) { CQuarnSocket::AppendLong(data_, handle), CQuarnSocket::AppendLong(data_, counter); }

    ReplyBuilder& integer(const wchar_t* name, LONG value)
    {
        return record(QUARNTYPE_INT, name, [value](Bytes& d) { CQuarnSocket::AppendLong(d, static_cast<DWORD>(value)); });
    }
    ReplyBuilder& text(const wchar_t* name, const wchar_t* value)
    {
        return record(QUARNTYPE_STRING, name, [value](Bytes& d) { CQuarnSocket::AppendString(d, value); });
    }
    ReplyBuilder& binary(const wchar_t* name, const Bytes& value)
    {
        return record(QUARNTYPE_BINARY, name,
                      [value](Bytes& d) { CQuarnSocket::AppendBinary(d, value.data(), static_cast<DWORD>(value.size())); });
    }
    ReplyBuilder& directory(const wchar_t* name)
    {
        return record(QUARNTYPE_DIR, name, [](Bytes&) {});
    }
    // The data with the count of records made (or another count).
    Bytes build() const { return build(records_); }
    Bytes build(DWORD count) const
    {
        Bytes data(data_.begin(), data_.begin() + 8);
        CQuarnSocket::AppendLong(data, count);
        data.insert(data.end(), data_.begin() + 8, data_.end());
        return data;
    }

private:
    ReplyBuilder& record(DWORD type, const wchar_t* name, const std::function<void(Bytes&)>& value)
    {
        size_t start = data_.size();
        CQuarnSocket::AppendLong(data_, 0);
        CQuarnSocket::AppendLong(data_, type);
        CQuarnSocket::AppendString(data_, name);
        value(data_);
        WriteBigEndian32(&data_[start], static_cast<DWORD>(data_.size() - start));
        ++records_;
        return *this;
    }

    Bytes data_;
    DWORD records_ = 0;
};

Bytes goodReply(DWORD handle)
{
    return ReplyBuilder(handle, 41)
        .integer(L"Version", 0x00010003)
        .text(L"Computer Name", L"PC2")
        .text(L"Nothing", nullptr)
        .binary(L"Bytes", Bytes{9, 8, 7})
        .binary(L"NoBytes", Bytes())
        .directory(L"Network")
        .build();
}

TEST(QuarnDirectoryReply, ABadReplyIsRefusedWhole)
{
    Bytes x = ReplyBuilder(7, 1).integer(L"X", 5).build();
    auto changed = [&x](size_t at, DWORD value) {
        Bytes bytes = x;
        WriteBigEndian32(&bytes[at], value);
        return bytes;
    };
    Bytes trailing = x;
    trailing.insert(trailing.end(), {0, 0, 0, 0});
    Bytes twoRecords = ReplyBuilder(7, 1).integer(L"X", 5).integer(L"Y", 6).build(1);
    Bytes cutName = ReplyBuilder(7, 1).directory(L"Long name").build();
    WriteBigEndian32(&cutName[12], 16);
    cutName.resize(12 + 16);
    Bytes nameWithoutZero = x;
    nameWithoutZero[27] = 0x59;
    Bytes stringPastRecord = ReplyBuilder(7, 1).text(L"S", L"abcdef").build();
    WriteBigEndian32(&stringPastRecord[12], 24);
    stringPastRecord.resize(12 + 24);
    struct Case {
        const char* name;
        Bytes data;
    } cases[] = {
        {"no head", Bytes{0, 0, 0, 7, 0, 0, 0, 1, 0, 0, 0}},
        {"record length below its fixed fields", changed(12, 8)},
        {"record length not a multiple of 4", changed(12, 18)},
        {"record length past the reply", changed(12, 24)},
        {"record length of 4 gigabytes", changed(12, 0xFFFFFFFC)},
        {"count above the records", changed(8, 2)},
        {"count of 4 billion", changed(8, 0xFFFFFFFF)},
        {"a record beyond the count", twoRecords},
        {"bytes behind the records", trailing},
        {"unknown entry type", changed(16, 4)},
        {"name length past the record", changed(20, 12)},
        {"odd name length", changed(20, 3)},
        {"no value in an integer record", changed(12, 16)},
        {"name cut by the record length", cutName},
        {"name without its zero", nameWithoutZero},
        {"string value past the record", stringPastRecord},
    };
    for (const Case& c : cases) {
        CQuarnDirectoryReply reply;
        ASSERT_TRUE(reply.Parse(x.data(), static_cast<DWORD>(x.size())));
        SetLastError(0);
        EXPECT_FALSE(reply.Parse(c.data.data(), static_cast<DWORD>(c.data.size()))) << c.name;
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER)) << c.name;
        EXPECT_EQ(reply.GetCount(), 0u) << c.name;
        EXPECT_EQ(reply.GetEntry(0), nullptr) << c.name;
    }
}

// A peer's reply of many small records keeps the first ENTRY_LIMIT of them; the rest are still
// checked, so a bad record past the limit refuses the reply whole.
TEST(QuarnDirectoryReply, EntriesPastTheLimitAreCheckedAndNotKept)
{
    const DWORD limit = CQuarnDirectoryReply::ENTRY_LIMIT;
    ReplyBuilder builder(7, 1);
    for (DWORD i = 0; i < limit + 100; ++i)
        builder.directory(i == 0 ? L"first" : L"d");
    Bytes many = builder.build();
    CQuarnDirectoryReply reply;
    ASSERT_TRUE(reply.Parse(many.data(), static_cast<DWORD>(many.size())));
    EXPECT_EQ(limit, reply.GetCount());
    EXPECT_EQ(L"first", reply.GetEntry(0)->name);
    EXPECT_EQ(nullptr, reply.GetEntry(limit));
    Bytes badLast = many;
    WriteBigEndian32(&badLast[badLast.size() - 12], 9);  // the last record's type
    EXPECT_FALSE(reply.Parse(badLast.data(), static_cast<DWORD>(badLast.size())));
    EXPECT_EQ(0u, reply.GetCount());
}

TEST(QuarnLookup, ItsRequestIsTheHandleAndThePathInBigEndianUnits)
{
    CQuarnLookup lookup;
    ASSERT_TRUE(lookup.SetRequestPath(L"\\Ab"));
    Bytes expected;
    CQuarnSocket::AppendLong(expected, lookup.GetId());
    Bytes path = bytesOf("005C 0041 0062 0000");
    expected.insert(expected.end(), path.begin(), path.end());
    EXPECT_EQ(lookup.GetRequestData(), expected);
    ASSERT_TRUE(lookup.SetRequestPath(L""));
    EXPECT_EQ(lookup.GetRequestData().size(), 6u);
}

TEST(QuarnLookup, NothingCanBeReadUntilAGoodReplyArrived)
{
    CQuarnLookup lookup;
    DWORD count = 0;
    EXPECT_FALSE(lookup.GetCount(&count));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_READY));
    lookup.SetPending();
    EXPECT_TRUE(lookup.IsPending());
    EXPECT_FALSE(lookup.GetCount(&count));
    EXPECT_EQ(GetLastError(), QUARN_LOOKUP_PENDING);
    WCHAR name[16];
    DWORD size = 16;
    EXPECT_FALSE(lookup.GetEntryName(0, name, &size));
    EXPECT_EQ(GetLastError(), QUARN_LOOKUP_PENDING);

    Bytes reply = goodReply(lookup.GetId());
    EXPECT_EQ(lookup.OnDirectoryReply(0, reply.data(), static_cast<DWORD>(reply.size())), 0u);
    ASSERT_TRUE(lookup.GetCount(&count));
    EXPECT_EQ(count, 6u);
    EXPECT_EQ(lookup.GetUpdateCounter(), 41u);
    EXPECT_TRUE(lookup.IsLoaded());

    // Pending again: what was held is gone.
    lookup.SetPending();
    EXPECT_FALSE(lookup.GetEntryName(0, name, &size));
    EXPECT_EQ(GetLastError(), QUARN_LOOKUP_PENDING);
}

TEST(QuarnLookup, ABadOrFailedReplyLeavesItUnloadedWithTheStatusItIsToldWith)
{
    struct Case {
        const char* name;
        DWORD status;
        Bytes data;
        DWORD told;
    } cases[] = {
        {"a record past the reply", 0, bytesOf("00000001 00000002 00000001 00000018 00000001 00000004 00580000 00000005"),
         ERROR_INVALID_PARAMETER},
        {"status 0 with the handle alone", 0, bytesOf("00000001"), ERROR_INVALID_PARAMETER},
        {"an unknown path", ERROR_QUARN_COMMON_INVALID_PATH, bytesOf("00000001"), ERROR_QUARN_COMMON_INVALID_PATH},
        {"a platform error", ERROR_NOT_ENOUGH_MEMORY, bytesOf("00000001"), ERROR_NOT_ENOUGH_MEMORY},
    };
    for (const Case& c : cases) {
        CQuarnLookup lookup;
        Bytes good = goodReply(lookup.GetId());
        lookup.OnDirectoryReply(0, good.data(), static_cast<DWORD>(good.size()));
        lookup.SetPending();
        EXPECT_EQ(lookup.OnDirectoryReply(c.status, c.data.data(), static_cast<DWORD>(c.data.size())), c.told) << c.name;
        EXPECT_FALSE(lookup.IsLoaded()) << c.name;
        EXPECT_EQ(lookup.GetStatus(), c.told) << c.name;
        DWORD count;
        EXPECT_FALSE(lookup.GetCount(&count)) << c.name;
        EXPECT_EQ(GetLastError(), c.told) << c.name;
    }
}

TEST(QuarnLookup, CounterRepliesTellOfChangesOnly)
{
    CQuarnLookup lookup;
    Bytes good = goodReply(lookup.GetId());
    lookup.OnDirectoryReply(0, good.data(), static_cast<DWORD>(good.size()));
    struct Step {
        DWORD status;
        Bytes data;
        bool changed;
    } steps[] = {
        {0, bytesOf("00000001 00000029"), false},         // the counter it holds (41)
        {0, bytesOf("00000001 0000002A"), true},          // a new one
        {0, bytesOf("00000001 0000002A"), false},         // kept
        {ERROR_QUARN_COMMON_INVALID_PATH, bytesOf("00000001"), true}, // the directory went
        {ERROR_QUARN_COMMON_INVALID_PATH, bytesOf("00000001"), false},
        {0, bytesOf("00000001"), true},                   // no counter in it: a bad reply
        {0, bytesOf("00000001"), false},
        {0, bytesOf("00000001 0000002A"), false},         // back, same counter
    };
    for (size_t i = 0; i < sizeof(steps) / sizeof(steps[0]); ++i)
        EXPECT_EQ(lookup.OnCounterReply(steps[i].status, steps[i].data.data(), static_cast<DWORD>(steps[i].data.size())),
                  steps[i].changed)
            << "step " << i;
    EXPECT_EQ(lookup.GetUpdateCounter(), 42u);
    // The held directory stays readable meanwhile.
    DWORD count;
    EXPECT_TRUE(lookup.GetCount(&count));
}

class QuarnLookupReadTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        Bytes reply = goodReply(lookup_.GetId());
        ASSERT_EQ(lookup_.OnDirectoryReply(0, reply.data(), static_cast<DWORD>(reply.size())), 0u);
    }

    CQuarnLookup lookup_;
};

TEST_F(QuarnLookupReadTest, TextsFollowTheCopyProtocol)
{
    WCHAR name[32];
    DWORD size = 0;
    EXPECT_FALSE(lookup_.GetEntryName(1, nullptr, &size));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(size, 14u); // "Computer Name" and its zero
    size = 13;
    EXPECT_FALSE(lookup_.GetEntryName(1, name, &size));
    EXPECT_EQ(size, 14u);
    EXPECT_TRUE(lookup_.GetEntryName(1, name, &size));
    EXPECT_STREQ(name, L"Computer Name");
    size = 32;
    EXPECT_FALSE(lookup_.GetEntryName(1, nullptr, &size));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_FALSE(lookup_.GetEntryName(1, name, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));

    size = 0;
    EXPECT_FALSE(lookup_.GetEntryValueString(1, nullptr, &size));
    EXPECT_EQ(size, 4u);
    EXPECT_TRUE(lookup_.GetEntryValueString(1, name, &size));
    EXPECT_STREQ(name, L"PC2");
    // An empty value: size 0 and success, with or without a buffer.
    size = 0;
    EXPECT_TRUE(lookup_.GetEntryValueString(2, nullptr, &size));
    EXPECT_EQ(size, 0u);
}

TEST_F(QuarnLookupReadTest, ValuesAreReadByTheirOwnTypeOnly)
{
    LONG number = 0;
    ASSERT_TRUE(lookup_.GetEntryValueInt(0, &number));
    EXPECT_EQ(number, 0x00010003);
    BYTE bytes[8];
    DWORD size = 2;
    EXPECT_FALSE(lookup_.GetEntryValueBinary(3, bytes, &size));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(size, 3u);
    ASSERT_TRUE(lookup_.GetEntryValueBinary(3, bytes, &size));
    EXPECT_EQ(Bytes(bytes, bytes + 3), (Bytes{9, 8, 7}));
    size = 8;
    EXPECT_TRUE(lookup_.GetEntryValueBinary(4, nullptr, &size));
    EXPECT_EQ(size, 0u);
    DWORD type = 0;
    ASSERT_TRUE(lookup_.GetEntryType(5, &type));
    EXPECT_EQ(type, QUARNTYPE_DIR);

    WCHAR text[8];
    DWORD characters = 8;
    const std::function<bool()> wrong[] = {
        [&] { return lookup_.GetEntryValueInt(1, &number); },
        [&] { return lookup_.GetEntryValueString(0, text, &characters); },
        [&] { return lookup_.GetEntryValueBinary(5, bytes, &size); },
        [&] { return lookup_.GetEntryValueInt(6, &number); },
        [&] { return lookup_.GetEntryType(6, &type); },
        [&] { return lookup_.GetEntryName(0xFFFFFFFF, text, &characters); },
        [&] { return lookup_.GetEntryValueInt(0, nullptr); },
    };
    for (size_t i = 0; i < sizeof(wrong) / sizeof(wrong[0]); ++i) {
        EXPECT_FALSE(wrong[i]()) << i;
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER)) << i;
    }
}

} // namespace
