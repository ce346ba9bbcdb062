// The wrapper over a fake server: start-up, receiver ids, sendability, file transfer and the
// texts of codes. Paths that end the process run in a child.
#include "CIOException.h"
#include "CMessageBox.h"
#include "CQuarn.h"
#include "CQUARNLookupDir.h"
#include "CUnknownHostException.h"
#include "ClientFixture.h"

#include <cstdio>
#include <memory>

namespace {

const std::wstring NODE_A = L"{AAAAAAAA-0000-0000-0000-000000000001}";
const std::wstring NODE_B = L"{BBBBBBBB-0000-0000-0000-000000000002}";

std::string narrow(const std::wstring& text) { return std::string(text.begin(), text.end()); }

std::string computerName()
{
    char name[MAX_COMPUTERNAME_LENGTH + 1] = {};
    DWORD size = sizeof(name);
    GetComputerNameA(name, &size);
    return name;
}

// In a child: every box goes to the console (child.txt) as one line.
int printBox(HWND owner, const std::string& text, const std::string& caption, UINT type)
{
    std::printf("BOX owner=%p type=%u sleeps=%u text=[%s] caption=[%s]\n", static_cast<void*>(owner), type,
                static_cast<unsigned>(FakeQuarnSrv::sleeps().size()), text.c_str(), caption.c_str());
    std::fflush(stdout);
    return IDOK;
}

std::wstring wideComputerName()
{
    std::string name = computerName();
    return std::wstring(name.begin(), name.end());
}

class WrapperTest : public ClientFixture {
protected:
    void SetUp() override { addComputer(NODE_A, wideComputerName()); }

    // The box a child showed before it ended with the code.
    std::string childBox(int expectedExit)
    {
        EXPECT_EQ(expectedExit, runInChild(dir));
        return fileBytes(dir.file("child.txt"));
    }
    static const char* expectedBox()
    {
        return "BOX owner=0000000000000000 type=0 sleeps=%u text=[Cannot use QUARN. Tavelin will terminate.] "
               "caption=[Tavelin]";
    }
    std::string box(unsigned sleeps)
    {
        char text[200];
        std::snprintf(text, sizeof(text), expectedBox(), sleeps);
        return text;
    }
};

TEST_F(WrapperTest, NoServerShowsTheBoxAtOnceAndEndsWithOne)
{
    if (isChild()) {
        CMessageBox::setHandler(printBox);
        fake.createResult = REGDB_E_CLASSNOTREG;
        CQuarn quarn("T", "3");
        exit(99);
    }
    std::string out = childBox(1);
    EXPECT_NE(std::string::npos, out.find(box(0))) << out;
}

TEST_F(WrapperTest, ARootThatNeverListsANodeGivesUpAfterFiveTries)
{
    struct {
        const char* name;
        bool failingCount;
    } cases[] = {{"empty root", false}, {"failed count", true}};
    for (const auto& c : cases) {
        if (isChild()) {
            CMessageBox::setHandler(printBox);
            fake.directories[L"\\"].clear();
            if (std::getenv("FAILING_COUNT"))
                fake.pendingCounts[L"\\"] = -1;
            CQuarn quarn("T", "3");
            exit(99);
        }
        SetEnvironmentVariableA("FAILING_COUNT", c.failingCount ? "1" : nullptr);
        std::string out = childBox(1);
        EXPECT_NE(std::string::npos, out.find(box(5))) << c.name << ": " << out;
    }
    SetEnvironmentVariableA("FAILING_COUNT", nullptr);
}

TEST_F(WrapperTest, AWarmServerIsReadyAfterOneSleep)
{
    CQuarn quarn("T", "3");
    EXPECT_EQ((std::vector<DWORD>{2000}), FakeQuarnSrv::sleeps());
    EXPECT_EQ(narrow(NODE_A), quarn.getDependQUARNId());
    EXPECT_EQ("3 " + narrow(NODE_A), quarn.getReceiverId());
}

TEST_F(WrapperTest, TheFirstNodeWithThisComputersNameIsOurs)
{
    fake.directories[L"\\"].clear();
    addComputer(L"{not a guid}", L"ELSEWHERE");
    fake.addNode(NODE_B, 2);  // no directory: skipped
    addComputer(NODE_A, wideComputerName());
    addComputer(NODE_B, wideComputerName());
    CQuarn quarn("T", "3");
    EXPECT_EQ(narrow(NODE_A), quarn.getDependQUARNId());
}

TEST_F(WrapperTest, ARootThatStaysPendingGivesNullNotAnExit)
{
    CQuarn quarn("T", "3");
    fake.pendingCounts[L"\\"] = -1;
    EXPECT_EQ(nullptr, quarn.getQUARNRootDir());
    EXPECT_EQ(996u, GetLastError());
    EXPECT_EQ("NOTAVAILABLE_QUARNID", quarn.getDependQUARNId());
    EXPECT_FALSE(quarn.isSendable("4 " + narrow(NODE_A)));
}

TEST_F(WrapperTest, Sendability)
{
    fake.addNode(NODE_B);
    fake.addNode(L"{FILE}", 2);
    CQuarn quarn("T", "3");
    struct {
        std::string receiverId;
        bool sendable;
        bool asksServer;
    } table[] = {
        {"4 " + narrow(NODE_B), true, true},
        {"4 NOTAVAILABLE_QUARNID", false, false},
        {"4" + narrow(NODE_B), false, false},
        {"4 ", false, false},
        {"", false, false},
        {" " + narrow(NODE_B), false, false},
        {"4\\12 " + narrow(NODE_B), false, false},
        {"4 {FILE}", false, true},
        {"4 {C}", false, true},
        {"4 " + narrow(NODE_B) + " x", false, true},
    };
    for (const auto& row : table) {
        fake.calls.clear();
        EXPECT_EQ(row.sendable, quarn.isSendable(row.receiverId)) << row.receiverId;
        EXPECT_EQ(row.asksServer, !fake.calls.empty()) << row.receiverId;
    }
}

TEST(IdFields, FieldAndTail)
{
    struct {
        std::string text;
        size_t index;
        std::string field;
        std::string tail;
    } table[] = {
        {"7 {B}", 0, "7", "7 {B}"}, {"7 {B}", 1, "{B}", "{B}"},   {"7 {B} x", 1, "{B}", "{B} x"},
        {"7", 0, "7", "7"},         {"7", 1, "", ""},             {"", 0, "", ""},
        {"7 ", 1, "", ""},          {" {B}", 0, "", " {B}"},       {" {B}", 1, "{B}", "{B}"},
    };
    for (const auto& row : table) {
        EXPECT_EQ(row.field, CQuarn::getIdField(row.index, row.text, " ")) << "[" << row.text << "] " << row.index;
        EXPECT_EQ(row.tail, CQuarn::getIdTail(row.index, row.text, " ")) << "[" << row.text << "] " << row.index;
    }
}

TEST(ErrorText, NamesPaddedToOneColumn)
{
    EXPECT_EQ("ERROR_QUARN_COMM_CONNECTION_CLOSED    GetLastError()= 0xE0040202", CQuarn::errorText(0xE0040202));
    EXPECT_EQ("***UNDEFINED QUARNERROR *****    GetLastError()= 0x00000005", CQuarn::errorText(5));
    EXPECT_EQ("ERROR_QUARN_DB_REFERNCE_ALREADY_EXIST GetLastError()= 0xE0040302", CQuarn::errorText(0xE0040302));
    DWORD named[] = {0xE0040001, 0xE0040002, 0xE0040003, 0xE0040101, 0xE0040102,
                     0xE0040201, 0xE0040202, 0xE0040301, 0xE0040302};
    for (DWORD code : named) {
        std::string text = CQuarn::errorText(code);
        EXPECT_EQ(0u, text.find("ERROR_QUARN_")) << text;
        EXPECT_EQ(38u, text.find("GetLastError()")) << text;
    }
    DWORD undefined[] = {0xE0040103, 0xE0040104, 0xE0040203, 0x20040064, 0x200400FF, 0x80070005, 996};
    for (DWORD code : undefined)
        EXPECT_EQ(0u, CQuarn::errorText(code).find("***UNDEFINED")) << std::hex << code;
}

class TransferTest : public WrapperTest {
protected:
    void SetUp() override
    {
        WrapperTest::SetUp();
        fake.addNode(NODE_B);
        quarn.reset(new CQuarn("T", "3"));
    }
    void TearDown() override { quarn.reset(); }
    std::unique_ptr<CQuarn> quarn;
    const std::string receiver = "4 " + narrow(NODE_B);
};

TEST_F(TransferTest, OpenExecuteAndClose)
{
    quarn->setQUARNCopyMsgReceiveWindow(reinterpret_cast<HWND>(0x1234));
    EXPECT_EQ(1u, fake.strings.count(L"\\Applications\\T:Copy:3\\1\\User Name"));
    fake.tempName = L"C:\\temp\\QUARN1.TMP";
    fake.paths.clear();
    std::string file, ticket;
    quarn->openFileTransfer(receiver, "..\\..\\evil.txt", file, ticket);
    EXPECT_EQ("C:\\temp\\QUARN1.TMP", file);
    EXPECT_EQ("7", ticket);
    // The root looked up for the receiver, then the transfer's three texts.
    ASSERT_EQ(4u, fake.paths.size());
    EXPECT_EQ(L"\\", fake.paths[0]);
    EXPECT_EQ(L"\\" + NODE_B + L"\\Applications\\T:Copy:4", fake.paths[1]);
    EXPECT_EQ(L"\\{11111111-2222-3333-4444-555555555555}\\Applications\\T:Copy:3\\1", fake.paths[2]);
    EXPECT_EQ(L"..\\..\\evil.txt", fake.paths[3]);
    quarn->execFileTransfer(ticket);
    EXPECT_EQ(std::vector<ULONG>{7}, fake.executed);
    EXPECT_THROW(quarn->execFileTransfer("x"), CIOException);
    EXPECT_EQ("nick", quarn->getFileNickname(7));
    EXPECT_EQ("C:\\temp\\QUARN1.TMP", quarn->getTransmitFileName(7));
    quarn->closeFileTransfer(7);
    EXPECT_EQ(std::vector<ULONG>{7}, fake.closedTransfers);
    quarn->releaseQUARNCopyMsgReceiveWindow();
    quarn->setQUARNCopyMsgReceiveWindow(reinterpret_cast<HWND>(0x5678));
    EXPECT_EQ(1u, fake.strings.count(L"\\Applications\\T:Copy:3\\2\\User Name"));
}

// The wrapper's monitor guards its own fields only: while one thread waits in a middleware call,
// another thread's use of the wrapper goes on.
TEST_F(TransferTest, AMiddlewareCallHoldsNoOtherUser)
{
    quarn->setQUARNCopyMsgReceiveWindow(nullptr);
    fake.tempName = L"C:\\temp\\QUARN1.TMP";
    Worker other;
    std::string otherName;
    bool otherDone = false;
    int opens = 0;
    fake.onLookupOpen = [&](const std::wstring&) {
        if (opens++ != 0)
            return;
        other.post([&] {
            otherName = quarn->getTransmitFileName(7);
            quarn->closeFileTransfer(7);
        });
        otherDone = other.waitIdle(5000);
    };
    std::string file, ticket;
    quarn->openFileTransfer(receiver, "n", file, ticket);
    EXPECT_TRUE(other.waitIdle(10000));
    EXPECT_TRUE(otherDone) << "the other thread waited for the lookup";
    EXPECT_EQ("C:\\temp\\QUARN1.TMP", otherName);
    EXPECT_EQ("7", ticket);
    fake.onLookupOpen = nullptr;
}

TEST_F(TransferTest, NoTransferOpenedThrowsAndNamesNoTicket)
{
    quarn->setQUARNCopyMsgReceiveWindow(nullptr);
    fake.failures["FileTransferOpen"] = static_cast<HRESULT>(0xE0040002);
    std::string file = "before", ticket = "before";
    EXPECT_THROW(quarn->openFileTransfer(receiver, "n", file, ticket), CIOException);
    EXPECT_EQ("before", ticket);
    EXPECT_EQ(0, fake.count("FileTransferGetTempName"));
}

TEST_F(TransferTest, UnreachableReceiversTouchNoTransfer)
{
    quarn->setQUARNCopyMsgReceiveWindow(nullptr);
    fake.calls.clear();
    std::string file, ticket;
    EXPECT_THROW(quarn->openFileTransfer("4 NOTAVAILABLE_QUARNID", "n", file, ticket), CUnknownHostException);
    EXPECT_THROW(quarn->sendFile("4 NOTAVAILABLE_QUARNID", "C:\\x", "n"), CIOException);
    EXPECT_THROW(quarn->sendFile("4\\12 " + narrow(NODE_B), "C:\\x", "n"), CIOException);
    EXPECT_TRUE(fake.calls.empty());
}

TEST_F(TransferTest, UseBeforeSetEndsTheProcess)
{
    if (isChild()) {
        quarn->getTransmitFileName(7);
        exit(0);
    }
    EXPECT_EQ(ABNORMAL_EXIT, runInChild(dir));
}

TEST_F(TransferTest, ASecondSetEndsTheProcess)
{
    if (isChild()) {
        quarn->setQUARNCopyMsgReceiveWindow(nullptr);
        quarn->setQUARNCopyMsgReceiveWindow(nullptr);
        exit(0);
    }
    EXPECT_EQ(ABNORMAL_EXIT, runInChild(dir));
}

} // namespace
