// How a node answers directory requests (type 17) and update-counter requests (type 18) from
// its entry database: the reply's bytes, and what a requester reads back from them.
#include "CQuarnDataBase.h"
#include "CQuarnDirectoryReply.h"
#include "CQuarnLookup.h"
#include "CQuarnServerSocket.h"
#include "CQuarnSocket.h"
#include "QuarnCodes.h"
#include "QuarnWire.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

typedef std::vector<BYTE> Bytes;

const DWORD HANDLE = 0xAABBCCDD;
const Bytes HANDLE_BYTES = {0xAA, 0xBB, 0xCC, 0xDD};

Bytes request(const wchar_t* path)
{
    Bytes data;
    CQuarnSocket::AppendLong(data, HANDLE);
    CQuarnSocket::AppendPath(data, path);
    return data;
}

Bytes longs(std::initializer_list<DWORD> values)
{
    Bytes bytes;
    for (DWORD value : values)
        CQuarnSocket::AppendLong(bytes, value);
    return bytes;
}

class QuarnDirectoryRequestTest : public ::testing::Test {
protected:
    DWORD answer(const Bytes& data, Bytes& reply)
    {
        return CQuarnServerSocket::AnswerDirectoryRequest(&database_, data.data(), static_cast<DWORD>(data.size()), reply);
    }

    DWORD counter(const wchar_t* path)
    {
        DWORD value = 0;
        database_.GetUpdateCounter(path, &value);
        return value;
    }

    CQuarnDataBase database_;
};

TEST_F(QuarnDirectoryRequestTest, AnIntegerEntryIsOneTwentyByteRecord)
{
    ASSERT_TRUE(database_.SetValueInt(1, L"\\D\\X", 5));
    Bytes reply;
    ASSERT_EQ(answer(request(L"\\D"), reply), 0u);
    Bytes expected = HANDLE_BYTES;
    Bytes head = longs({counter(L"\\D"), 1});
    expected.insert(expected.end(), head.begin(), head.end());
    Bytes record = bytesOf("00000014 00000001 00000004 00580000 00000005");
    expected.insert(expected.end(), record.begin(), record.end());
    EXPECT_EQ(hexBytes(reply), hexBytes(expected));
}

// An empty text goes as a null item, 4 bytes of length 0; a one-character text as its two
// units padded to 4.
TEST_F(QuarnDirectoryRequestTest, AnEmptyTextIsANullItemAndOneCharacterTwoUnits)
{
    ASSERT_TRUE(database_.SetValueString(1, L"\\D\\E", L""));
    ASSERT_TRUE(database_.SetValueString(1, L"\\D\\O", L"a"));
    Bytes reply;
    ASSERT_EQ(answer(request(L"\\D"), reply), 0u);
    Bytes expected = HANDLE_BYTES;
    Bytes head = longs({counter(L"\\D"), 2});
    expected.insert(expected.end(), head.begin(), head.end());
    // Newest first: "O" = "a", then "E" = "".
    Bytes records = bytesOf("00000018 00000002 00000004 004F0000 00000004 00610000"
                            "00000014 00000002 00000004 00450000 00000000");
    expected.insert(expected.end(), records.begin(), records.end());
    EXPECT_EQ(hexBytes(reply), hexBytes(expected));
}

// A reply of an older peer, whose empty text holds its zero alone, reads as empty too: the
// same as the null item, and as a lookup gives it, size 0.
TEST(QuarnDirectoryReplyTexts, BothFormsOfAnEmptyTextReadAsNone)
{
    const char* forms[] = {"00000014 00000002 00000004 00450000 00000000",
                           "00000018 00000002 00000004 00450000 00000002 00000000"};
    for (const char* form : forms) {
        CQuarnLookup lookup;
        Bytes data = longs({lookup.GetId(), 9, 1});
        Bytes record = bytesOf(form);
        data.insert(data.end(), record.begin(), record.end());
        CQuarnDirectoryReply reply;
        ASSERT_TRUE(reply.Parse(data.data(), static_cast<DWORD>(data.size()))) << form;
        ASSERT_EQ(reply.GetCount(), 1u);
        EXPECT_EQ(reply.GetEntry(0)->name, L"E");
        EXPECT_FALSE(reply.GetEntry(0)->text.has_value()) << form;
        ASSERT_EQ(lookup.OnDirectoryReply(0, data.data(), static_cast<DWORD>(data.size())), 0u) << form;
        WCHAR text[4] = {L'x', L'x', L'x', 0};
        DWORD size = 4;
        EXPECT_TRUE(lookup.GetEntryValueString(0, text, &size)) << form;
        EXPECT_EQ(size, 0u) << form;
    }
}

TEST_F(QuarnDirectoryRequestTest, AnEmptyPathOrNoneAsksForTheRoot)
{
    database_.SetValueString(0xFFFFFFFF, L"\\Computer Information\\Computer Name", L"PC1");
    database_.SetValueInt(3, L"\\Top", -2);
    for (const Bytes& data : {request(L""), HANDLE_BYTES}) {
        Bytes reply;
        ASSERT_EQ(answer(data, reply), 0u);
        CQuarnDirectoryReply root;
        ASSERT_TRUE(root.Parse(reply.data(), static_cast<DWORD>(reply.size())));
        EXPECT_EQ(root.GetHandle(), HANDLE);
        EXPECT_EQ(root.GetUpdateCounter(), counter(L"\\"));
        ASSERT_EQ(root.GetCount(), 2u);
        // Newest first, as the directory lists them.
        EXPECT_EQ(root.GetEntry(0)->name, L"Top");
        EXPECT_EQ(root.GetEntry(0)->type, QUARNTYPE_INT);
        EXPECT_EQ(root.GetEntry(0)->number, -2);
        EXPECT_EQ(root.GetEntry(1)->name, L"Computer Information");
        EXPECT_EQ(root.GetEntry(1)->type, QUARNTYPE_DIR);
    }
}

TEST_F(QuarnDirectoryRequestTest, EveryKindOfValueReadsBackAsItWasPublished)
{
    const BYTE seven[] = {1, 2, 3, 4, 5, 6, 7};
    database_.SetValueString(1, L"\\A\\Text", L"ab");
    database_.SetValueString(1, L"\\A\\Empty", L"");
    database_.SetValueString(1, L"\\A\\None", nullptr);
    database_.SetValueBinary(1, L"\\A\\Bytes", seven, sizeof(seven));
    database_.SetValueBinary(1, L"\\A\\NoBytes", nullptr, 0);
    database_.SetValueInt(1, L"\\A\\Sub\\Deep", 9);
    // A path that ends in "\" names the directory too.
    for (const wchar_t* path : {L"\\A", L"\\A\\"}) {
        Bytes reply;
        ASSERT_EQ(answer(request(path), reply), 0u) << path;
        CQuarnDirectoryReply a;
        ASSERT_TRUE(a.Parse(reply.data(), static_cast<DWORD>(reply.size()))) << path;
        ASSERT_EQ(a.GetCount(), 6u);
        EXPECT_EQ(a.GetEntry(0)->name, L"Sub");
        EXPECT_EQ(a.GetEntry(0)->type, QUARNTYPE_DIR);
        EXPECT_EQ(a.GetEntry(1)->bytes, Bytes());
        EXPECT_EQ(a.GetEntry(2)->bytes, Bytes(seven, seven + 7));
        EXPECT_FALSE(a.GetEntry(3)->text.has_value());
        EXPECT_FALSE(a.GetEntry(4)->text.has_value()) << "an empty text reads as none";
        ASSERT_TRUE(a.GetEntry(5)->text.has_value());
        EXPECT_EQ(*a.GetEntry(5)->text, L"ab");
    }
}

TEST_F(QuarnDirectoryRequestTest, AFailedRequestIsAnsweredWithItsErrorAndTheHandleAlone)
{
    database_.SetValueInt(1, L"\\D\\X", 5);
    struct Case {
        const char* name;
        Bytes data;
        CQuarnDataBase* database;
        DWORD status;
        Bytes reply;
    } cases[] = {
        {"unknown path", request(L"\\No Such"), &database_, ERROR_QUARN_COMMON_INVALID_PATH, HANDLE_BYTES},
        {"path without \\", request(L"D"), &database_, ERROR_QUARN_COMMON_INVALID_PATH, HANDLE_BYTES},
        {"a leaf", request(L"\\D\\X"), &database_, 0, HANDLE_BYTES},
        {"unended path", Bytes{0xAA, 0xBB, 0xCC, 0xDD, 0x00, 0x5C}, &database_, ERROR_INVALID_PARAMETER, HANDLE_BYTES},
        {"odd path", Bytes{0xAA, 0xBB, 0xCC, 0xDD, 0x00}, &database_, ERROR_INVALID_PARAMETER, HANDLE_BYTES},
        {"no database", request(L"\\D"), nullptr, ERROR_INVALID_PARAMETER, HANDLE_BYTES},
        {"three bytes", Bytes{0xAA, 0xBB, 0xCC}, &database_, ERROR_INVALID_PARAMETER, Bytes()},
        {"nothing", Bytes(), &database_, ERROR_INVALID_PARAMETER, Bytes()},
    };
    for (const Case& c : cases) {
        for (bool counterRequest : {false, true}) {
            Bytes reply = {1, 2, 3};
            DWORD status = counterRequest
                ? CQuarnServerSocket::AnswerCounterRequest(c.database, c.data.data(), static_cast<DWORD>(c.data.size()), reply)
                : CQuarnServerSocket::AnswerDirectoryRequest(c.database, c.data.data(), static_cast<DWORD>(c.data.size()), reply);
            // A leaf has an update counter of its own to nobody; either way it is no directory.
            if (c.status != 0)
                EXPECT_EQ(status, c.status) << c.name << (counterRequest ? " (18)" : " (17)");
            else if (!counterRequest)
                EXPECT_NE(status, 0u) << c.name;
            else
                continue;
            EXPECT_EQ(reply, c.reply) << c.name << (counterRequest ? " (18)" : " (17)");
        }
    }
}

TEST_F(QuarnDirectoryRequestTest, ACounterRequestAnswersTheDirectorysOwnCounter)
{
    database_.SetValueInt(1, L"\\A\\X", 1);
    database_.SetValueInt(1, L"\\B\\Y", 2);
    for (const wchar_t* path : {L"\\A", L"\\B", L"", L"\\"}) {
        Bytes reply;
        Bytes data = request(path);
        ASSERT_EQ(CQuarnServerSocket::AnswerCounterRequest(&database_, data.data(), static_cast<DWORD>(data.size()), reply), 0u);
        Bytes expected = HANDLE_BYTES;
        Bytes value = longs({counter(path[0] == 0 ? L"\\" : path)});
        expected.insert(expected.end(), value.begin(), value.end());
        EXPECT_EQ(reply, expected) << path;
    }
    EXPECT_NE(counter(L"\\A"), counter(L"\\B"));
}

TEST_F(QuarnDirectoryRequestTest, ADirectoryTooLargeForOnePacketIsAnsweredWithTheMemoryError)
{
    std::vector<BYTE> large(QUARN_PACKET_DATA_LIMIT, 0x11);
    ASSERT_TRUE(database_.SetValueBinary(1, L"\\Big\\Value", large.data(), static_cast<DWORD>(large.size())));
    Bytes reply;
    EXPECT_EQ(answer(request(L"\\Big"), reply), static_cast<DWORD>(ERROR_NOT_ENOUGH_MEMORY));
    EXPECT_EQ(reply, HANDLE_BYTES);
    // The lock was let go.
    EXPECT_FALSE(database_.IsLocked());
}

} // namespace
