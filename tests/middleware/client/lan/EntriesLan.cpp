// An application directory's entries written on host B and read on host A, and files sent
// from A taken on B (scenario "entries" of lan_test.sh).
//
//   quarn_client_lan --gtest_filter=Entries.A SHARE  (terminal 3 on host A)
//   quarn_client_lan --gtest_filter=Entries.B SHARE  (terminal 4 on host B)
#include "ClientLan.h"
#include "CQUARNAPDir.h"
#include "CQUARNInterface.h"
#include "CQUARNLookupDir.h"
#include "CQuarn.h"

#include <gtest/gtest.h>

#include <map>
#include <set>

namespace {

const DWORD RECEIVED = 0x20040164;
const DWORD RECEIVING = 0x20040100;
const size_t ONE_SIZE = 10000;
const size_t TWO_SIZE = 20000;
const DWORD INT_TYPE = CQUARNLookupDir::QUARNTYPE_INT;
const DWORD STRING_TYPE = CQUARNLookupDir::QUARNTYPE_STRING;
const DWORD DIR_TYPE = CQUARNLookupDir::QUARNTYPE_DIR;

// name -> type of every entry of a directory.
std::map<std::string, DWORD> listing(CQUARNLookupDir& directory)
{
    std::map<std::string, DWORD> entries;
    DWORD count = directory.GetEntryCount();
    for (DWORD i = 0; count != CQUARNLookupDir::COUNT_FAILED && i < count; ++i)
        entries[directory.GetEntryName(i)] = directory.GetEntryType(i);
    return entries;
}

std::string stringEntry(CQUARNLookupDir& directory, const std::string& name)
{
    std::string value;
    DWORD count = directory.GetEntryCount();
    for (DWORD i = 0; count != CQUARNLookupDir::COUNT_FAILED && i < count; ++i)
        if (directory.GetEntryName(i) == name)
            directory.GetEntryValueString(i, value);
    return value;
}

std::string tempFolder()
{
    char path[MAX_PATH] = {};
    GetTempPathA(MAX_PATH, path);
    return path;
}

// The middleware's temporary files of transfers on this host.
size_t transferFiles()
{
    size_t count = 0;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((tempFolder() + "QUARN*.TMP").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return 0;
    do
        ++count;
    while (FindNextFileA(search, &found));
    FindClose(search);
    return count;
}

TEST(Entries, B)
{
    std::unique_ptr<CQuarn> quarn = startTimed("4");
    HWND window = makeWindow();
    quarn->setQUARNCopyMsgReceiveWindow(window);
    CQUARNInterface* connection = quarn->getInterface();
    std::unique_ptr<CQUARNAPDir> directory(connection->OpenAPDir("Entries", window));
    ASSERT_NE(nullptr, directory);
    // A name the directory never opened: refused, and the database is not left locked.
    EXPECT_FALSE(directory->DelRefer("Never"));
    DWORD error = GetLastError();
    EXPECT_TRUE(error == 0xE0040002 || error == 0xE0040301) << std::hex << error;
    // A string below directories that do not exist yet: made with them.
    EXPECT_TRUE(directory->ChangeEntryValueString("Deep\\Er\\Text", "deep"));
    EXPECT_TRUE(directory->ChangeEntryValueInt("Count", 3));
    // Opened and let go again: gone.
    EXPECT_TRUE(directory->AddRefer("Dropped", INT_TYPE));
    EXPECT_TRUE(directory->DelRefer("Dropped"));
    writeShare("B.app", std::to_string(directory->getApplicationId()));
    writeShare("B.id", quarn->getReceiverId());
    std::string step;
    ASSERT_TRUE(readShare("A.read", step, 90000));
    // Closed twice: the second close does nothing and succeeds.
    EXPECT_TRUE(directory->Close());
    EXPECT_TRUE(directory->Close());
    EXPECT_EQ(0u, directory->getApplicationId());
    writeShare("B.closed", "ok");

    // A's two files: the first taken onto a file that exists, the second to a new name.
    std::vector<WPARAM> handles;
    ASSERT_TRUE(pumpUntil(
        [&] {
            handles.clear();
            for (const Notice& n : g_notices)
                if (n.code == RECEIVED)
                    handles.push_back(n.handle);
            return handles.size() >= 2;
        },
        120000));
    DWORD one = static_cast<DWORD>(handles[0]);
    DWORD two = static_cast<DWORD>(handles[1]);
    EXPECT_EQ("one", quarn->getFileNickname(one));
    EXPECT_EQ("two", quarn->getFileNickname(two));
    std::string existing = tempFolder() + "existing.bin";
    writeBytes(existing, pattern(3 * ONE_SIZE, 9));
    std::string temp = quarn->getTransmitFileName(one);
    quarn->copyFile(one, existing);
    EXPECT_TRUE(readBytes(existing) == pattern(ONE_SIZE, 1)) << "not overwritten";
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(temp.c_str()));
    std::string fresh = tempFolder() + "fresh.bin";
    DeleteFileA(fresh.c_str());
    temp = quarn->getTransmitFileName(two);
    quarn->copyFile(two, fresh);
    EXPECT_TRUE(readBytes(fresh) == pattern(TWO_SIZE, 2)) << "not moved";
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(temp.c_str()));
    DeleteFileA(existing.c_str());
    DeleteFileA(fresh.c_str());
    // Nothing else came: the send of a file that does not exist reached no one.
    std::set<WPARAM> arrived;
    for (const Notice& n : g_notices)
        if (n.code == RECEIVING)
            arrived.insert(n.handle);
    EXPECT_EQ(2u, arrived.size());
    handOver("B", "A", 60000);
    directory.reset();
    quarn->releaseQUARNCopyMsgReceiveWindow();
    DestroyWindow(window);
}

TEST(Entries, A)
{
    std::unique_ptr<CQuarn> quarn = startTimed("3");
    HWND window = makeWindow();
    quarn->setQUARNCopyMsgReceiveWindow(window);
    std::string idB, applicationB;
    ASSERT_TRUE(readShare("B.id", idB, 90000));
    ASSERT_TRUE(readShare("B.app", applicationB, 10000));
    ASSERT_TRUE(waitSendable(*quarn, idB, 30000));
    std::string base = "\\" + CQuarn::getIdTail(1, idB, " ") + "\\Applications\\Entries";

    std::unique_ptr<CQUARNLookupDir> directory(quarn->getQUARNLookUpDir(base));
    ASSERT_NE(nullptr, directory);
    std::map<std::string, DWORD> entries = listing(*directory);
    EXPECT_EQ(INT_TYPE, entries["Count"]);
    EXPECT_EQ(DIR_TYPE, entries["Deep"]);
    EXPECT_EQ(DIR_TYPE, entries[applicationB]);
    EXPECT_EQ(0u, entries.count("Never"));
    EXPECT_EQ(0u, entries.count("Dropped"));
    directory.reset();
    std::unique_ptr<CQUARNLookupDir> deep(quarn->getQUARNLookUpDir(base + "\\Deep\\Er"));
    ASSERT_NE(nullptr, deep);
    EXPECT_EQ("deep", stringEntry(*deep, "Text"));
    deep.reset();
    std::unique_ptr<CQUARNLookupDir> user(quarn->getQUARNLookUpDir(base + "\\" + applicationB));
    ASSERT_NE(nullptr, user);
    EXPECT_EQ(STRING_TYPE, listing(*user)["User Name"]);
    user.reset();
    writeShare("A.read", "ok");

    // After B closed the directory: its entries and the user's name went, and with them the
    // directory itself.
    std::string step;
    ASSERT_TRUE(readShare("B.closed", step, 60000));
    EXPECT_EQ(nullptr, quarn->getQUARNLookUpDir(base));
    EXPECT_EQ(0xE0040002u, GetLastError());

    // A source that does not exist: no handle, the copy's error, the transfer opened for it
    // closed with its file, and nothing reaches B.
    std::string missing = sharePath("missing.bin");
    DeleteFileA(missing.c_str());
    size_t files = transferFiles();
    EXPECT_EQ(0u, quarn->sendFile(idB, missing, "missing"));
    EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), GetLastError());
    EXPECT_EQ(files, transferFiles());
    quarn->closeFileTransfer(sendPattern(*quarn, idB, "one", ONE_SIZE, 1));
    quarn->closeFileTransfer(sendPattern(*quarn, idB, "two", TWO_SIZE, 2));
    takeOver("B", "A", 120000);
    quarn->releaseQUARNCopyMsgReceiveWindow();
    DestroyWindow(window);
}

} // namespace
