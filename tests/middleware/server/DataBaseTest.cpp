// The entry database: paths, references, pruning, update counters, the copy protocol and the
// lock, with trees of any depth.
#include "AllocationWatch.h"
#include "CQuarnBinaryEntry.h"
#include "CQuarnDataBase.h"
#include "CQuarnIntEntry.h"
#include "CQuarnStringEntry.h"
#include "QuarnCodes.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <string>
#include <thread>

namespace {

const DWORD APP = 7;
const DWORD OTHER = 9;

std::string narrow(const std::wstring& text)
{
    return std::string(text.begin(), text.end());
}

// Every entry under the root, one line each: path, type, update counter (directories) or
// references (leaves), in listing order.
std::string dump(CQuarnDataBase& database)
{
    std::ostringstream out;
    for (CBase* entry = database.GetRoot()->GetFirstChild(); entry != nullptr;
         entry = CQuarnDirEntry::NextBeneath(entry, database.GetRoot())) {
        std::wstring path;
        for (const CBase* at = entry; at != database.GetRoot(); at = at->GetParent())
            path = L"\\" + at->GetName() + path;
        out << narrow(path) << " " << entry->GetType();
        if (entry->IsDirectory()) {
            out << " c" << static_cast<CQuarnDirEntry*>(entry)->GetUpdateCounter();
        } else {
            out << " r";
            for (DWORD i = 0; i < entry->GetReferences().GetCount(); ++i)
                out << (i ? "," : "") << entry->GetReferences().GetAt(i);
        }
        out << "\n";
    }
    return out.str();
}

class QuarnDataBaseTest : public ::testing::Test {
protected:
    DWORD errorOf(bool succeeded)
    {
        EXPECT_FALSE(succeeded);
        return GetLastError();
    }

    CQuarnDataBase db_;
};

TEST_F(QuarnDataBaseTest, OpeningADeepLeafMakesUnreferencedDirectoriesStampedByTheTouch)
{
    CBase* entry = db_.OpenLeafEntry(APP, L"\\A\\B\\C", QUARNTYPE_INT);
    ASSERT_NE(nullptr, entry);
    EXPECT_EQ(0u, GetLastError());
    EXPECT_EQ("\\A 5 c1\n\\A\\B 5 c1\n\\A\\B\\C 1 r7\n", dump(db_));
    EXPECT_EQ(1u, db_.GetRoot()->GetUpdateCounter());
    DWORD counter = 0;
    ASSERT_TRUE(db_.GetUpdateCounter(L"\\A\\B", &counter));
    EXPECT_EQ(1u, counter);
    EXPECT_TRUE(db_.GetRoot()->GetReferences().IsEmpty());
}

TEST_F(QuarnDataBaseTest, InvalidPathsAndTypeClashesChangeNothing)
{
    ASSERT_TRUE(db_.SetValueInt(APP, L"\\I", 5));
    ASSERT_TRUE(db_.SetValueString(APP, L"\\D\\S", L"text"));
    std::string before = dump(db_);
    struct Case {
        const wchar_t* path;
        DWORD type;
        DWORD error;
    } cases[] = {
        {L"A\\B", QUARNTYPE_INT, ERROR_QUARN_COMMON_INVALID_PATH},
        {L"\\A\\\\B", QUARNTYPE_INT, ERROR_QUARN_COMMON_INVALID_PATH},
        {L"\\\\A", QUARNTYPE_INT, ERROR_QUARN_COMMON_INVALID_PATH},
        {L"\\N\\M\\\\B", QUARNTYPE_INT, ERROR_QUARN_COMMON_INVALID_PATH},
        {L"", QUARNTYPE_INT, ERROR_QUARN_COMMON_INVALID_PATH},
        {L"\\I\\x", QUARNTYPE_INT, ERROR_QUARN_COMMON_INVALID_PATH},
        {L"\\D\\S\\x\\y", QUARNTYPE_STRING, ERROR_QUARN_COMMON_INVALID_PATH},
        {L"\\I", QUARNTYPE_STRING, ERROR_QUARN_COMMON_TYPE_MISMATCH},
        {L"\\D", QUARNTYPE_INT, ERROR_QUARN_COMMON_TYPE_MISMATCH},
        {L"\\D\\S", QUARNTYPE_BINARY, ERROR_QUARN_COMMON_TYPE_MISMATCH},
        {L"\\", QUARNTYPE_INT, ERROR_QUARN_COMMON_TYPE_MISMATCH},
        // No type 4: nothing made, not even the directories on the way.
        {L"\\New\\Deeper\\x", 4, ERROR_INVALID_PARAMETER},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(narrow(c.path));
        SetLastError(0);
        EXPECT_EQ(nullptr, db_.OpenEntry(APP, c.path, c.type));
        EXPECT_EQ(c.error, GetLastError());
        SetLastError(0);
        EXPECT_EQ(nullptr, db_.OpenLeafEntry(APP, c.path, c.type));
        EXPECT_EQ(c.error, GetLastError());
        EXPECT_EQ(before, dump(db_));
    }
    EXPECT_EQ(nullptr, db_.OpenEntry(APP, nullptr, QUARNTYPE_INT));
    EXPECT_EQ(ERROR_QUARN_COMMON_INVALID_PATH, GetLastError());
    LONG value = 0;
    ASSERT_TRUE(db_.GetValueInt(L"\\I", &value));
    EXPECT_EQ(5, value);
}

TEST_F(QuarnDataBaseTest, OpenEntryAnswersThroughTheLastError)
{
    CBase* first = db_.OpenEntry(APP, L"\\X", QUARNTYPE_STRING);
    ASSERT_NE(nullptr, first);
    EXPECT_EQ(0u, GetLastError());
    EXPECT_EQ(first, db_.OpenEntry(APP, L"\\X", QUARNTYPE_STRING));
    EXPECT_EQ(ERROR_QUARN_DB_REFERNCE_ALREADY_EXIST, GetLastError());
    EXPECT_EQ(1u, first->GetReferences().GetCount());
    EXPECT_EQ(first, db_.OpenEntry(OTHER, L"\\X", QUARNTYPE_STRING));
    EXPECT_EQ("\\X 2 r7,9\n", dump(db_));

    CBase* directory = db_.OpenEntry(APP, L"\\Dir", QUARNTYPE_DIR);
    ASSERT_NE(nullptr, directory);
    EXPECT_EQ(ERROR_QUARN_COMMON_TYPE_MISMATCH, GetLastError());
    EXPECT_TRUE(directory->GetReferences().IsEmpty());
    EXPECT_EQ(directory, db_.OpenEntry(APP, L"\\Dir\\", QUARNTYPE_INT));
    EXPECT_EQ(db_.GetRoot(), db_.OpenEntry(APP, L"\\", QUARNTYPE_DIR));
}

TEST_F(QuarnDataBaseTest, ALeafOpenOnADirectoryPathFails)
{
    SetLastError(0);
    EXPECT_EQ(nullptr, db_.OpenLeafEntry(APP, L"\\A\\", QUARNTYPE_INT));
    EXPECT_EQ(ERROR_QUARN_COMMON_TYPE_MISMATCH, GetLastError());
    EXPECT_EQ(nullptr, db_.OpenLeafEntry(APP, L"\\A\\B", QUARNTYPE_DIR));
    EXPECT_EQ(ERROR_QUARN_COMMON_TYPE_MISMATCH, GetLastError());
    EXPECT_FALSE(db_.SetValueInt(APP, L"\\A\\", 3));
    EXPECT_EQ(ERROR_QUARN_COMMON_TYPE_MISMATCH, GetLastError());
    EXPECT_EQ(nullptr, db_.FindEntry(L"\\A\\B", QUARNTYPE_DIR));
}

TEST_F(QuarnDataBaseTest, TheLastCloseDeletesTheLeafAndItsEmptyDirectories)
{
    ASSERT_TRUE(db_.SetValueInt(APP, L"\\A\\B\\C", 1));
    ASSERT_TRUE(db_.SetValueInt(OTHER, L"\\A\\B\\C", 2));
    ASSERT_TRUE(db_.CloseEntry(APP, L"\\A\\B\\C"));
    EXPECT_EQ("\\A 5 c3\n\\A\\B 5 c3\n\\A\\B\\C 1 r9\n", dump(db_));
    ASSERT_TRUE(db_.CloseEntry(OTHER, L"\\A\\B\\C"));
    EXPECT_EQ("", dump(db_));
    EXPECT_EQ(nullptr, db_.GetRoot()->GetFirstChild());
    EXPECT_EQ(4u, db_.GetRoot()->GetUpdateCounter());
}

TEST_F(QuarnDataBaseTest, ClosingFailsWithoutChangesWhereNothingHoldsTheReference)
{
    ASSERT_TRUE(db_.SetValueInt(APP, L"\\A\\X", 1));
    ASSERT_TRUE(db_.OpenLeafEntry(APP, L"\\A\\D\\Y", QUARNTYPE_BINARY) != nullptr);
    std::string before = dump(db_);
    struct Case {
        const wchar_t* path;
        DWORD error;
    } cases[] = {
        {L"\\A\\X", ERROR_QUARN_DB_REFERNCE_NOT_FOUND},
        {L"\\A\\Missing", ERROR_QUARN_COMMON_INVALID_PATH},
        {L"\\A\\D", ERROR_QUARN_COMMON_TYPE_MISMATCH},
        {L"\\A\\", ERROR_QUARN_COMMON_INVALID_PATH},
        {L"\\A\\X\\Y", ERROR_QUARN_COMMON_INVALID_PATH},
        {L"A\\X", ERROR_QUARN_COMMON_INVALID_PATH},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(narrow(c.path));
        EXPECT_EQ(c.error, errorOf(db_.CloseEntry(OTHER, c.path)));
        EXPECT_EQ(before, dump(db_));
    }
    EXPECT_EQ(ERROR_QUARN_DB_REFERNCE_NOT_FOUND, errorOf(db_.CloseAllEntries(OTHER, L"\\A")));
    EXPECT_EQ(before, dump(db_));
    EXPECT_EQ(ERROR_QUARN_COMMON_TYPE_MISMATCH, errorOf(db_.CloseAllEntries(APP, L"\\A\\X")));
    EXPECT_EQ(ERROR_QUARN_COMMON_INVALID_PATH, errorOf(db_.CloseAllEntries(APP, L"\\Nothing")));
}

TEST_F(QuarnDataBaseTest, CloseAllEntriesKeepsWhatOthersHold)
{
    ASSERT_TRUE(db_.SetValueInt(APP, L"\\A\\Mine", 1));
    ASSERT_TRUE(db_.SetValueInt(APP, L"\\A\\Shared", 2));
    ASSERT_TRUE(db_.SetValueInt(OTHER, L"\\A\\Shared", 2));
    ASSERT_TRUE(db_.SetValueString(APP, L"\\A\\Sub\\Deep\\Mine", L"x"));
    ASSERT_TRUE(db_.SetValueString(OTHER, L"\\A\\Theirs\\T", L"y"));
    ASSERT_TRUE(db_.SetValueInt(APP, L"\\Elsewhere", 3));
    ASSERT_TRUE(db_.CloseAllEntries(APP, L"\\A"));
    EXPECT_EQ("\\Elsewhere 1 r7\n\\A 5 c7\n\\A\\Theirs 5 c5\n\\A\\Theirs\\T 2 r9\n\\A\\Shared 1 r9\n", dump(db_));
    ASSERT_TRUE(db_.CloseAllEntries(OTHER, L"\\A\\"));
    EXPECT_EQ("\\Elsewhere 1 r7\n", dump(db_));
    EXPECT_EQ(ERROR_QUARN_COMMON_INVALID_PATH, errorOf(db_.CloseAllEntries(OTHER, L"\\A")));
}

TEST_F(QuarnDataBaseTest, ADirectoryListsItsEntriesNewestFirst)
{
    ASSERT_TRUE(db_.SetValueInt(APP, L"\\D\\x", 1));
    ASSERT_TRUE(db_.SetValueInt(APP, L"\\D\\y", 2));
    ASSERT_TRUE(db_.SetValueInt(APP, L"\\D\\z", 3));
    DWORD count = 0;
    ASSERT_TRUE(db_.GetChildCount(L"\\D", &count));
    EXPECT_EQ(3u, count);
    const wchar_t* expected[] = {L"z", L"y", L"x"};
    for (DWORD i = 0; i < 3; ++i) {
        WCHAR name[8];
        DWORD size = 8;
        ASSERT_TRUE(db_.GetChildName(L"\\D", i, name, &size));
        EXPECT_EQ(2u, size);
        EXPECT_STREQ(expected[i], name);
    }
    WCHAR name[8];
    DWORD size = 8;
    EXPECT_EQ(static_cast<DWORD>(ERROR_NO_MORE_ITEMS), errorOf(db_.GetChildName(L"\\D", 3, name, &size)));
    DWORD type = 0;
    ASSERT_TRUE(db_.GetEntryType(L"\\D\\y", &type));
    EXPECT_EQ(QUARNTYPE_INT, type);
    ASSERT_TRUE(db_.GetEntryType(L"\\", &type));
    EXPECT_EQ(QUARNTYPE_DIR, type);
}

TEST_F(QuarnDataBaseTest, TouchStampsTheDirectoriesOnThePathAndStopsWhereItLeavesTheTree)
{
    ASSERT_TRUE(db_.SetValueInt(APP, L"\\A\\B\\C\\leaf", 1));
    ASSERT_TRUE(db_.SetValueInt(APP, L"\\A\\Other\\leaf", 1));
    ASSERT_TRUE(db_.Touch(L"\\A\\B\\Missing\\C"));
    EXPECT_EQ("\\A 5 c3\n\\A\\Other 5 c2\n\\A\\Other\\leaf 1 r7\n\\A\\B 5 c3\n\\A\\B\\C 5 c1\n\\A\\B\\C\\leaf 1 r7\n",
              dump(db_));
    ASSERT_TRUE(db_.Touch(L"\\A\\B\\C"));
    EXPECT_EQ(4u, static_cast<CQuarnDirEntry*>(db_.FindEntry(L"\\A\\B\\C", QUARNTYPE_DIR))->GetUpdateCounter());
    ASSERT_TRUE(db_.Touch(L"\\"));
    EXPECT_EQ(5u, db_.GetRoot()->GetUpdateCounter());
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), errorOf(db_.Touch(L"A")));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), errorOf(db_.GetUpdateCounter(L"\\A", nullptr)));
}

// One row of the copy protocol: a reader asked with or without a size place and a buffer.
struct CopyRow {
    const char* row;
    const wchar_t* path;
    bool withSize;
    DWORD size;
    bool withBuffer;
    bool succeeds;
    DWORD error;
    DWORD sizeAfter;
};

// Runs the rows through read (path, buffer or null, size place or null) into a buffer of ten
// elements; copied values must be a prefix of expected.
template <typename T, typename Read>
void checkCopyRows(const std::vector<CopyRow>& rows, Read read, const std::vector<T>& expected)
{
    for (const CopyRow& c : rows) {
        SCOPED_TRACE(c.row);
        T buffer[10] = {};
        DWORD size = c.size;
        SetLastError(0);
        EXPECT_EQ(c.succeeds, read(c.path, c.withBuffer ? buffer : nullptr, c.withSize ? &size : nullptr));
        if (!c.succeeds) {
            EXPECT_EQ(c.error, GetLastError());
        }
        if (c.withSize) {
            EXPECT_EQ(c.sizeAfter, size);
        }
        if (c.succeeds) {
            EXPECT_TRUE(std::equal(buffer, buffer + c.sizeAfter, expected.begin()));
        }
    }
}

// The copy protocol, row by row, for texts, binary values and names.
TEST_F(QuarnDataBaseTest, TheCopyProtocol)
{
    ASSERT_TRUE(db_.SetValueString(APP, L"\\Text", L"abc"));
    ASSERT_TRUE(db_.SetValueString(APP, L"\\NoText", nullptr));
    ASSERT_TRUE(db_.SetValueString(APP, L"\\Empty", L""));
    const BYTE five[] = {1, 2, 3, 4, 5};
    ASSERT_TRUE(db_.SetValueBinary(APP, L"\\Bytes", five, 5));
    ASSERT_TRUE(db_.OpenLeafEntry(APP, L"\\NoBytes", QUARNTYPE_BINARY) != nullptr);

    std::vector<CopyRow> strings = {
        {"no size place", L"\\Text", false, 0, true, false, ERROR_INVALID_PARAMETER, 99},
        {"no value", L"\\NoText", true, 10, true, true, 0, 0},
        {"no value, no buffer", L"\\NoText", true, 0, false, true, 0, 0},
        {"too small", L"\\Text", true, 3, true, false, ERROR_INSUFFICIENT_BUFFER, 4},
        {"asking the size", L"\\Text", true, 0, false, false, ERROR_INSUFFICIENT_BUFFER, 4},
        {"no buffer", L"\\Text", true, 4, false, false, ERROR_INVALID_PARAMETER, 4},
        {"copied", L"\\Text", true, 4, true, true, 0, 4},
        {"copied into more room", L"\\Text", true, 10, true, true, 0, 4},
    };
    checkCopyRows<WCHAR>(
        strings, [this](const WCHAR* path, WCHAR* buffer, DWORD* size) { return db_.GetValueString(path, buffer, size); },
        {L'a', L'b', L'c', 0});

    WCHAR empty[2] = {L'#', L'#'};
    DWORD emptySize = 2;
    ASSERT_TRUE(db_.GetValueString(L"\\Empty", empty, &emptySize));
    EXPECT_EQ(1u, emptySize);
    EXPECT_EQ(L'\0', empty[0]);

    std::vector<CopyRow> binaries = {
        {"no size place", L"\\Bytes", false, 0, true, false, ERROR_INVALID_PARAMETER, 99},
        {"no value", L"\\NoBytes", true, 10, false, true, 0, 0},
        {"too small", L"\\Bytes", true, 4, true, false, ERROR_INSUFFICIENT_BUFFER, 5},
        {"no buffer", L"\\Bytes", true, 5, false, false, ERROR_INVALID_PARAMETER, 5},
        {"copied", L"\\Bytes", true, 5, true, true, 0, 5},
    };
    checkCopyRows<BYTE>(
        binaries, [this](const WCHAR* path, BYTE* buffer, DWORD* size) { return db_.GetValueBinary(path, buffer, size); },
        std::vector<BYTE>(five, five + 5));

    std::vector<CopyRow> names = {
        {"no size place", L"\\", false, 0, true, false, ERROR_INVALID_PARAMETER, 99},
        {"asking the size", L"\\", true, 0, false, false, ERROR_INSUFFICIENT_BUFFER, 8},
        {"copied", L"\\", true, 8, true, true, 0, 8},
    };
    checkCopyRows<WCHAR>(
        names, [this](const WCHAR* path, WCHAR* buffer, DWORD* size) { return db_.GetChildName(path, 0, buffer, size); },
        {L'N', L'o', L'B', L'y', L't', L'e', L's', 0});

    DWORD size = 10;
    EXPECT_EQ(ERROR_QUARN_COMMON_TYPE_MISMATCH, errorOf(db_.GetValueString(L"\\Bytes", nullptr, &size)));
    EXPECT_EQ(ERROR_QUARN_COMMON_TYPE_MISMATCH, errorOf(db_.GetValueBinary(L"\\Text", nullptr, &size)));
    LONG value;
    EXPECT_EQ(ERROR_QUARN_COMMON_TYPE_MISMATCH, errorOf(db_.GetValueInt(L"\\Text", &value)));
}

TEST_F(QuarnDataBaseTest, ABinaryValueThatCannotBeCopiedKeepsTheOldOne)
{
    const BYTE old[] = {1, 2, 3};
    ASSERT_TRUE(db_.SetValueBinary(APP, L"\\B", old, 3));
    std::vector<BYTE> large(4096, 0xAB);
    {
        AllocationWatch watch;
        watch.failNothrowArraysFrom(large.size());
        SetLastError(0);
        EXPECT_FALSE(db_.SetValueBinary(APP, L"\\B", large.data(), static_cast<DWORD>(large.size())));
        EXPECT_EQ(static_cast<DWORD>(ERROR_NOT_ENOUGH_MEMORY), GetLastError());
    }
    BYTE buffer[8];
    DWORD size = sizeof(buffer);
    ASSERT_TRUE(db_.GetValueBinary(L"\\B", buffer, &size));
    ASSERT_EQ(3u, size);
    EXPECT_EQ(0, memcmp(old, buffer, 3));
    ASSERT_TRUE(db_.SetValueBinary(APP, L"\\B", large.data(), static_cast<DWORD>(large.size())));
    size = 0;
    EXPECT_FALSE(db_.GetValueBinary(L"\\B", nullptr, &size));
    EXPECT_EQ(4096u, size);
}

TEST_F(QuarnDataBaseTest, TheLockIsReentrantAndOnlyItsHolderReleasesIt)
{
    EXPECT_FALSE(db_.IsLocked());
    SetLastError(0);
    EXPECT_FALSE(db_.Unlock());
    EXPECT_EQ(static_cast<DWORD>(ERROR_NOT_OWNER), GetLastError());
    ASSERT_TRUE(db_.Lock(INFINITE));
    EXPECT_TRUE(db_.IsLocked());
    ASSERT_TRUE(db_.Lock(0));
    bool seenFromOther = true;
    bool releasedByOther = true;
    DWORD otherError = 0;
    std::thread other([&] {
        seenFromOther = db_.IsLocked();
        releasedByOther = db_.Unlock();
        otherError = GetLastError();
    });
    other.join();
    EXPECT_FALSE(seenFromOther);
    EXPECT_FALSE(releasedByOther);
    EXPECT_EQ(static_cast<DWORD>(ERROR_NOT_OWNER), otherError);
    EXPECT_TRUE(db_.Unlock());
    EXPECT_TRUE(db_.IsLocked());
    EXPECT_TRUE(db_.Unlock());
    EXPECT_FALSE(db_.IsLocked());
    EXPECT_FALSE(db_.Unlock());

    bool taken = false;
    std::thread taker([&] {
        taken = db_.Lock(0);
        if (taken)
            db_.Unlock();
    });
    taker.join();
    EXPECT_TRUE(taken);
}

// 100,000 components, on a thread whose stack would not survive one frame per level.
TEST_F(QuarnDataBaseTest, APathOfAHundredThousandComponentsLivesAndDiesWithoutRecursion)
{
    const int DEPTH = 100000;
    std::wstring directory;
    for (int i = 0; i < DEPTH; ++i)
        directory += L"\\d";
    std::wstring leaf = directory + L"\\leaf";
    struct Work {
        CQuarnDataBase* db;
        const std::wstring* directory;
        const std::wstring* leaf;
        std::string failures;
    } work = {&db_, &directory, &leaf, ""};
    auto body = [](void* argument) -> DWORD {
        Work& w = *static_cast<Work*>(argument);
        auto check = [&w](bool ok, const char* what) {
            if (!ok)
                w.failures += std::string(what) + "; ";
        };
        CQuarnDataBase& db = *w.db;
        check(db.SetValueInt(APP, w.leaf->c_str(), 42), "set");
        LONG value = 0;
        check(db.GetValueInt(w.leaf->c_str(), &value) && value == 42, "read");
        DWORD counter = 0;
        check(db.GetUpdateCounter(w.directory->c_str(), &counter) && counter == 1, "counter");
        check(db.CloseAllEntries(APP, L"\\d"), "prune");
        check(db.GetRoot()->GetFirstChild() == nullptr, "pruned to the root");
        check(db.SetValueInt(APP, w.leaf->c_str(), 43), "set again");
        check(db.CloseEntry(APP, w.leaf->c_str()), "close");
        check(db.GetRoot()->GetFirstChild() == nullptr, "closed to the root");
        check(db.SetValueInt(OTHER, w.leaf->c_str(), 44), "set a third time");
        {
            // Deleting the whole tree with the database.
            CQuarnDataBase deep;
            check(deep.SetValueString(APP, w.leaf->c_str(), L"x"), "set in a second database");
            check(deep.OpenEntry(APP, (*w.directory + L"\\other").c_str(), QUARNTYPE_BINARY) != nullptr, "open");
        }
        return 0;
    };
    HANDLE thread = CreateThread(nullptr, 256 * 1024, body, &work, STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
    ASSERT_NE(nullptr, thread);
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(thread, 120000));
    DWORD exitCode = 1;
    GetExitCodeThread(thread, &exitCode);
    CloseHandle(thread);
    EXPECT_EQ(0u, exitCode);
    EXPECT_EQ("", work.failures);
}

} // namespace
