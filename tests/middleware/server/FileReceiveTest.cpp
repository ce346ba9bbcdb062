// The receiving side of a file transfer apart from its connection: which application a
// destination is for, how it is told, and the answers to the open request and to the end of
// the contents, with the watch records of a watch window and windows of the test.
#include "CQuarnDataBase.h"
#include "CQuarnFileReceive.h"
#include "CQuarnServerSocket.h"
#include "CQuarnSocket.h"
#include "CQuarnSrvCore.h"
#include "CQuarnWatchWindow.h"
#include "QuarnCodes.h"
#include "QuarnMessages.h"
#include "ServerTempFolder.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace {

typedef std::vector<BYTE> Bytes;

const wchar_t COPY[] = L"\\Applications\\1:Copy:3";

struct Notice {
    DWORD handle;
    DWORD code;
    bool operator==(const Notice& other) const { return handle == other.handle && code == other.code; }
};

class QuarnFileReceiveTest : public ::testing::Test {
protected:
    QuarnFileReceiveTest() : watch_(core_, database_) {}

    ~QuarnFileReceiveTest() override
    {
        while (CQuarnListItem* record = records_.GetFirst())
            delete record;
        for (HWND w : windows_)
            DestroyWindow(w);
    }

    HWND window()
    {
        HWND w = CreateWindowA("STATIC", "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
        windows_.push_back(w);
        return w;
    }

    // The file-transfer notices waiting for the window, taken.
    static std::vector<Notice> told(HWND w)
    {
        std::vector<Notice> notices;
        MSG message;
        while (PeekMessageA(&message, w, QuarnFileTransferMessage(), QuarnFileTransferMessage(), PM_REMOVE))
            notices.push_back({static_cast<DWORD>(message.wParam), static_cast<DWORD>(message.lParam)});
        return notices;
    }

    static Bytes openRequest(const wchar_t* destination, const wchar_t* sender, const wchar_t* nickname)
    {
        Bytes data;
        CQuarnSocket::AppendString(data, destination);
        CQuarnSocket::AppendString(data, sender);
        CQuarnSocket::AppendString(data, nickname);
        return data;
    }

    DWORD open(const Bytes& data, DWORD* record, CQuarnWatchWindow* watch = nullptr)
    {
        return CQuarnServerSocket::AnswerFileTransferOpen(watch != nullptr ? watch : &watch_, records_, data.data(),
                                                          static_cast<DWORD>(data.size()), record);
    }

    CQuarnFileReceive* record(DWORD id) { return static_cast<CQuarnFileReceive*>(records_.FindById(id)); }

    ServerTempFolder folder_;
    CQuarnSrvCore core_;
    CQuarnDataBase database_;
    CQuarnWatchWindow watch_;
    CQuarnFileReceive records_;
    std::vector<HWND> windows_;
};

TEST_F(QuarnFileReceiveTest, AnApplicationIdIsPlainDecimalDigitsWithin31Bits)
{
    struct Case {
        const wchar_t* text;
        bool good;
        LONG id;
    };
    const Case cases[] = {
        {L"12", true, 12},         {L"0", true, 0},          {L"007", true, 7},
        {L"2147483647", true, 0x7FFFFFFF},
        {L"2147483648", false, 0}, {L"4294967295", false, 0}, {L"99999999999", false, 0},
        {L"12x", false, 0},        {L"x12", false, 0},       {L"-1", false, 0},  {L"+1", false, 0},
        {L"", false, 0},           {L" 1", false, 0},        {L"1 ", false, 0},  {L"1.0", false, 0},
        {L"\x0661", false, 0}, // an Arabic-Indic digit one
    };
    for (const Case& c : cases) {
        LONG id = -5;
        EXPECT_EQ(c.good, CQuarnFileReceive::ParseAppId(c.text, &id)) << "'" << std::string(c.text, c.text + wcslen(c.text)) << "'";
        if (c.good) {
            EXPECT_EQ(c.id, id);
        }
    }
}

TEST_F(QuarnFileReceiveTest, TheDestinationNamesAWatchedDirectoryOrAnApplicationInOne)
{
    HWND first = window(), second = window(), twelve = window();
    ASSERT_TRUE(watch_.Add(7, first, COPY));
    ASSERT_TRUE(watch_.Add(8, second, COPY));
    ASSERT_TRUE(watch_.Add(12, twelve, L"\\Applications\\Tav"));
    struct Case {
        std::wstring destination;
        DWORD error;
        LONG appId;
        std::wstring directory;
    };
    const std::wstring copy = COPY;
    const Case cases[] = {
        {copy, 0, -1, copy},
        {L"\\Applications\\Tav\\12", 0, 12, L"\\Applications\\Tav"},
        // Any application id behind a watched directory; whether it has a window shows later.
        {L"\\Applications\\Tav\\5", 0, 5, L"\\Applications\\Tav"},
        {copy + L"\\12", 0, 12, copy},
        {L"\\Applications\\Tav\\12x", ERROR_QUARN_COMMON_INVALID_PATH, 0, L""},
        {L"\\Applications\\Tav\\-1", ERROR_QUARN_COMMON_INVALID_PATH, 0, L""},
        {L"\\Applications\\Tav\\", ERROR_QUARN_COMMON_INVALID_PATH, 0, L""},
        {L"\\Applications\\Tav\\99999999999", ERROR_QUARN_COMMON_INVALID_PATH, 0, L""},
        {L"\\applications\\tav\\12", ERROR_QUARN_COMMON_INVALID_PATH, 0, L""},
        {L"\\Applications\\Tav\\Sub\\12", ERROR_QUARN_COMMON_INVALID_PATH, 0, L""},
        {L"\\Applications", ERROR_QUARN_COMMON_INVALID_PATH, 0, L""},
        {L"\\", ERROR_QUARN_COMMON_INVALID_PATH, 0, L""},
        {L"12", ERROR_QUARN_COMMON_INVALID_PATH, 0, L""},
        {L"..\\..\\x", ERROR_QUARN_COMMON_INVALID_PATH, 0, L""},
        {L"C:\\Windows\\win.ini", ERROR_QUARN_COMMON_INVALID_PATH, 0, L""},
    };
    for (const Case& c : cases) {
        CQuarnFileReceive receive;
        SetLastError(0);
        bool set = receive.SetDestination(&watch_, c.destination);
        std::string text(c.destination.begin(), c.destination.end());
        EXPECT_EQ(c.error == 0, set) << text;
        if (set) {
            EXPECT_EQ(c.appId, receive.GetAppId()) << text;
            EXPECT_TRUE(c.directory == receive.GetDestination()) << text;
        } else {
            EXPECT_EQ(c.error, GetLastError()) << text;
        }
    }
    CQuarnFileReceive receive;
    SetLastError(0);
    EXPECT_FALSE(receive.SetDestination(nullptr, copy));
    EXPECT_EQ(static_cast<DWORD>(ERROR_NOT_READY), GetLastError());
}

TEST_F(QuarnFileReceiveTest, AWatchedDirectoryTellsEveryWindowOfItAndAnApplicationOnlyItsOwn)
{
    HWND first = window(), second = window(), other = window(), twelve = window(), twelveOld = window();
    ASSERT_TRUE(watch_.Add(7, first, COPY));
    ASSERT_TRUE(watch_.Add(8, second, COPY));
    ASSERT_TRUE(watch_.Add(9, other, L"\\Applications\\Other"));
    ASSERT_TRUE(watch_.Add(12, twelveOld, L"\\Applications\\Tav"));
    ASSERT_TRUE(watch_.Add(12, twelve, L"\\Applications\\Tav"));

    CQuarnFileReceive all;
    ASSERT_TRUE(all.SetDestination(&watch_, COPY));
    EXPECT_TRUE(all.Tell(&watch_, QUARN_STATUS_RECEIVE_PROGRESS));
    EXPECT_EQ(std::vector<Notice>({{all.GetId(), 0x20040100}}), told(first));
    EXPECT_EQ(std::vector<Notice>({{all.GetId(), 0x20040100}}), told(second));

    CQuarnFileReceive one;
    ASSERT_TRUE(one.SetDestination(&watch_, L"\\Applications\\Tav\\12"));
    EXPECT_TRUE(one.Tell(&watch_, 0x20040164));
    // The newest record of the application only.
    EXPECT_EQ(std::vector<Notice>({{one.GetId(), 0x20040164}}), told(twelve));
    for (HWND w : {first, second, other, twelveOld})
        EXPECT_TRUE(told(w).empty());

    // An application without a window: nobody is told.
    CQuarnFileReceive none;
    ASSERT_TRUE(none.SetDestination(&watch_, L"\\Applications\\Tav\\5"));
    SetLastError(0);
    EXPECT_FALSE(none.Tell(&watch_, 0x20040100));
    EXPECT_EQ(ERROR_QUARN_COMMON_INVALID_PATH, GetLastError());
    SetLastError(0);
    EXPECT_FALSE(all.Tell(nullptr, 0x20040100));
    EXPECT_EQ(static_cast<DWORD>(ERROR_NOT_READY), GetLastError());
}

TEST_F(QuarnFileReceiveTest, AnAcceptedOpenListsARecordAndTellsTheApplication)
{
    HWND w = window();
    ASSERT_TRUE(watch_.Add(7, w, COPY));
    DWORD id = 0;
    EXPECT_EQ(0u, open(openRequest(COPY, L"\\Applications\\1:Copy:4", L"picture.png"), &id));
    ASSERT_NE(0u, id);
    CQuarnFileReceive* receive = record(id);
    ASSERT_NE(nullptr, receive);
    EXPECT_TRUE(receive->IsRunning());
    EXPECT_TRUE(receive->GetNickname() == L"picture.png");
    EXPECT_TRUE(receive->GetSenderName() == L"\\Applications\\1:Copy:4");
    EXPECT_FALSE(receive->HasReceivedFile());
    EXPECT_EQ(std::vector<Notice>({{id, 0x20040100}}), told(w));
    // Nothing of it became a file.
    EXPECT_TRUE(folder_.allFiles().empty());
}

TEST_F(QuarnFileReceiveTest, AnOpenThatCannotBeAcceptedListsNothingAndTellsNobody)
{
    HWND w = window();
    ASSERT_TRUE(watch_.Add(7, w, COPY));
    Bytes good = openRequest(COPY, L"sender", L"nick");
    Bytes twoStrings;
    CQuarnSocket::AppendString(twoStrings, COPY);
    CQuarnSocket::AppendString(twoStrings, L"sender");
    struct Case {
        const char* name;
        Bytes data;
        DWORD status;
    };
    const Case cases[] = {
        {"no data", Bytes(), ERROR_INVALID_PARAMETER},
        {"two strings", twoStrings, ERROR_INVALID_PARAMETER},
        {"cut short", Bytes(good.begin(), good.end() - 5), ERROR_INVALID_PARAMETER},
        {"no nickname", openRequest(COPY, L"sender", nullptr), ERROR_INVALID_PARAMETER},
        {"no sender", openRequest(COPY, nullptr, L"nick"), ERROR_INVALID_PARAMETER},
        {"not watched", openRequest(L"\\Applications\\Else", L"sender", L"nick"), ERROR_QUARN_COMMON_INVALID_PATH},
        {"no destination", openRequest(nullptr, L"sender", L"nick"), ERROR_QUARN_COMMON_INVALID_PATH},
        {"empty destination", openRequest(L"", L"sender", L"nick"), ERROR_QUARN_COMMON_INVALID_PATH},
        {"an application without window", openRequest(L"\\Applications\\1:Copy:3\\12", L"s", L"n"),
         ERROR_QUARN_COMMON_INVALID_PATH},
        {"a path of this computer", openRequest(L"C:\\Windows\\win.ini", L"s", L"n"), ERROR_QUARN_COMMON_INVALID_PATH},
    };
    for (const Case& c : cases) {
        DWORD id = 99;
        EXPECT_EQ(c.status, open(c.data, &id)) << c.name;
        EXPECT_EQ(0u, id) << c.name;
    }
    DWORD id;
    EXPECT_EQ(static_cast<DWORD>(ERROR_NOT_READY), CQuarnServerSocket::AnswerFileTransferOpen(
                                                       nullptr, records_, good.data(), static_cast<DWORD>(good.size()), &id));
    EXPECT_EQ(nullptr, records_.GetFirst());
    EXPECT_TRUE(told(w).empty());
    EXPECT_TRUE(folder_.allFiles().empty());
}

TEST_F(QuarnFileReceiveTest, TheEndKeepsTheFileForTheApplicationOrDeletesItWithTheRecord)
{
    HWND w = window();
    ASSERT_TRUE(watch_.Add(7, w, COPY));
    const std::string folder = folder_.path();
    auto received = [&](const char* name) {
        std::wstring file = std::wstring(folder.begin(), folder.end()) + std::wstring(name, name + strlen(name));
        writeFileBytes(file, patternBytes(100));
        return file;
    };

    // Stored: the record keeps the file, the application is told it is complete.
    DWORD id;
    ASSERT_EQ(0u, open(openRequest(COPY, L"s", L"n"), &id));
    std::wstring file = received("QUARN0001.TMP");
    EXPECT_EQ(0u, CQuarnServerSocket::AnswerFileTransferEnd(&watch_, records_, id, file, 0));
    EXPECT_EQ(std::vector<Notice>({{id, 0x20040100}, {id, 0x20040164}}), told(w));
    ASSERT_NE(nullptr, record(id));
    EXPECT_TRUE(record(id)->GetReceivedFile() == file);
    // Closed twice: the file goes, the record stays.
    record(id)->CloseReceivedFile();
    EXPECT_FALSE(fileExists(file));
    record(id)->CloseReceivedFile();
    EXPECT_EQ(0u, GetLastError());
    EXPECT_FALSE(record(id)->HasReceivedFile());

    // A failed transfer: told its status, record and file gone.
    ASSERT_EQ(0u, open(openRequest(COPY, L"s", L"n"), &id));
    file = received("QUARN0002.TMP");
    EXPECT_EQ(static_cast<DWORD>(ERROR_CRC), CQuarnServerSocket::AnswerFileTransferEnd(&watch_, records_, id, file, ERROR_CRC));
    EXPECT_EQ(std::vector<Notice>({{id, 0x20040100}, {id, ERROR_CRC}}), told(w));
    EXPECT_EQ(nullptr, record(id));
    EXPECT_FALSE(fileExists(file));

    // The application's window went meanwhile: the notice reaches nobody, which the sender
    // hears as the connection's end.
    ASSERT_EQ(0u, open(openRequest(COPY, L"s", L"n"), &id));
    told(w);
    ASSERT_TRUE(watch_.Delete(7));
    file = received("QUARN0003.TMP");
    EXPECT_EQ(ERROR_QUARN_COMM_CONNECTION_CLOSED, CQuarnServerSocket::AnswerFileTransferEnd(&watch_, records_, id, file, 0));
    EXPECT_EQ(nullptr, record(id));
    EXPECT_FALSE(fileExists(file));
    EXPECT_TRUE(folder_.quarnFiles().empty());
}

TEST_F(QuarnFileReceiveTest, TheRecordsStopAtTheirLimitKeepingWhatIsRunningOrHeld)
{
    HWND w = window();
    ASSERT_TRUE(watch_.Add(7, w, COPY));
    Bytes request = openRequest(COPY, L"s", L"n");
    std::vector<DWORD> ids;
    for (size_t i = 0; i < CQuarnFileReceive::RECORD_LIMIT; ++i) {
        DWORD id;
        ASSERT_EQ(0u, open(request, &id));
        ids.push_back(id);
    }
    told(w);
    // All running: no room.
    DWORD id = 1;
    EXPECT_EQ(static_cast<DWORD>(ERROR_TOO_MANY_OPEN_FILES), open(request, &id));
    EXPECT_EQ(0u, id);
    EXPECT_TRUE(told(w).empty());
    // The first holds a file, the second is done: the second makes room.
    record(ids[0])->SetRunning(false);
    const std::string folder = folder_.path();
    record(ids[0])->SetReceivedFile(std::wstring(folder.begin(), folder.end()) + L"QUARN0009.TMP");
    record(ids[1])->SetRunning(false);
    EXPECT_EQ(0u, open(request, &id));
    EXPECT_EQ(nullptr, record(ids[1]));
    EXPECT_NE(nullptr, record(ids[0]));
    EXPECT_EQ(CQuarnFileReceive::RECORD_LIMIT, records_.CountUpTo(CQuarnFileReceive::RECORD_LIMIT + 1));
}

} // namespace
