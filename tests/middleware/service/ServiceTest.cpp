// The service's parts that run without a server core: the notification queue, the client
// slots and turn, the queue lock, the methods before Initialize, the notice codes, the
// descriptors and the stale files of its folder. (Whatever starts a core broadcasts: that runs
// only on the hosts of a test LAN.)
#include "CQuarnClientSlots.h"
#include "CQuarnEventLog.h"
#include "CQuarnNoticeQueue.h"
#include "CQuarnQueueLock.h"
#include "CQuarnRegistrar.h"
#include "CQuarnServiceBuild.h"
#include "CQuarnServiceHost.h"
#include "CQuarnServiceInstaller.h"
#include "CQuarnSrv.h"
#include "CQuarnguard.h"
#include "QuarnCodes.h"
#include "QuarnMessages.h"
#include "QuarnSwitch.h"

#include <gtest/gtest.h>

#include <oleauto.h>
#include <sddl.h>

#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace {

using Field = CQuarnNoticeQueue::Field;

TEST(NoticeQueueTest, RemovesByIndexAndAnswersPastTheEnd)
{
    CQuarnNoticeQueue queue;
    EXPECT_EQ(CQuarnNoticeQueue::NO_VALUE, queue.Get(0, Field::Window));
    EXPECT_FALSE(queue.Append(0, 2, 7, 8)) << "window 0 is dropped";
    ASSERT_TRUE(queue.Append(11, 0, 1, 0));
    ASSERT_TRUE(queue.Append(12, 1, 2, 0xE0040201));
    ASSERT_TRUE(queue.Append(13, 2, 3, 0x20040164));
    queue.Remove(1);
    ASSERT_EQ(2u, queue.GetCount());
    struct Case {
        DWORD index;
        Field field;
        DWORD expected;
    } cases[] = {
        {0, Field::Window, 11},  {0, Field::Code, 0},          {0, Field::WParam, 1},
        {1, Field::Window, 13},  {1, Field::Code, 2},          {1, Field::LParam, 0x20040164},
        {2, Field::Window, CQuarnNoticeQueue::NO_VALUE}, {0xFFFFFFFF, Field::Code, CQuarnNoticeQueue::NO_VALUE},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.expected, queue.Get(c.index, c.field)) << "index " << c.index;
    queue.Remove(5);
    EXPECT_EQ(2u, queue.GetCount());
}

TEST(NoticeQueueTest, DropsBeyondItsLimit)
{
    CQuarnNoticeQueue queue;
    // Sixteen windows, each up to its share.
    for (size_t i = 0; i < CQuarnNoticeQueue::LIMIT; ++i)
        ASSERT_TRUE(queue.Append(static_cast<DWORD>(i % 16 + 1), 2, static_cast<DWORD>(i), 0));
    EXPECT_FALSE(queue.Append(17, 2, 0xAAAA, 0));
    EXPECT_EQ(CQuarnNoticeQueue::LIMIT, queue.GetCount());
    queue.Remove(0);
    EXPECT_TRUE(queue.Append(1, 2, 0xBBBB, 0));
    EXPECT_EQ(0xBBBBu, queue.Get(static_cast<DWORD>(CQuarnNoticeQueue::LIMIT - 1), Field::WParam));
}

// A client that stops reading fills its window's share; the other windows' notices go on, and
// its own go on once it has read.
TEST(NoticeQueueTest, AWindowThatIsNotReadHoldsOnlyItsShare)
{
    CQuarnNoticeQueue queue;
    const DWORD stalled = 7, reading = 8;
    for (size_t i = 0; i < CQuarnNoticeQueue::WINDOW_LIMIT; ++i)
        ASSERT_TRUE(queue.Append(stalled, 2, static_cast<DWORD>(i), 0));
    EXPECT_FALSE(queue.Append(stalled, 2, 0xAAAA, 0));
    for (int i = 0; i < 1000; ++i) {
        ASSERT_TRUE(queue.Append(reading, 1, static_cast<DWORD>(i), 0)) << i;
        queue.Remove(queue.GetCount() - 1);
    }
    EXPECT_EQ(CQuarnNoticeQueue::WINDOW_LIMIT, queue.GetCount());
    queue.Remove(0);
    EXPECT_TRUE(queue.Append(stalled, 2, 0xBBBB, 0));
    EXPECT_FALSE(queue.Append(stalled, 2, 0xCCCC, 0));
    queue.Clear();
    EXPECT_TRUE(queue.Append(stalled, 2, 0xDDDD, 0));
}

TEST(ClientSlotsTest, TakesAndFreesSlots)
{
    CQuarnClientSlots slots;
    for (DWORD i = 0; i < CQuarnClientSlots::SLOT_COUNT; ++i)
        EXPECT_EQ(i, slots.Take());
    EXPECT_EQ(CQuarnClientSlots::NO_SLOT, slots.Take());
    EXPECT_FALSE(slots.Free(16));
    EXPECT_FALSE(slots.Free(0xFFFFFFFF));
    EXPECT_TRUE(slots.Free(3));
    EXPECT_FALSE(slots.Free(3));
    EXPECT_EQ(3u, slots.Take());
}

// The slots an owner (a client's object) took are freed with it, and no other.
TEST(ClientSlotsTest, AnOwnersSlotsAreFreedWithIt)
{
    CQuarnClientSlots slots;
    int first = 0, second = 0;
    EXPECT_EQ(0u, slots.Take(&first));
    EXPECT_EQ(1u, slots.Take(&second));
    EXPECT_EQ(2u, slots.Take(&first));
    EXPECT_EQ(3u, slots.Take());
    slots.FreeOwnedBy(&first);
    slots.FreeOwnedBy(nullptr);
    EXPECT_EQ(0u, slots.Take());
    EXPECT_EQ(2u, slots.Take());
    EXPECT_EQ(4u, slots.Take());
    EXPECT_FALSE(slots.Free(4) && slots.Free(4));
    EXPECT_TRUE(slots.Free(1));
}

// A window of this thread, drawn nowhere.
HWND noticeWindow()
{
    return CreateWindowExA(0, "STATIC", "notice", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
}

// A slot whose client's notice window is gone is free again when a client asks for a slot or
// the turn passes; a slot with no window, or whose window was let go, stays.
TEST(ClientSlotsTest, ASlotWhoseWindowIsGoneIsFreedWhenSlotsAreLookedAt)
{
    CQuarnClientSlots slots;
    int a = 0, b = 0, c = 0, d = 0, e = 0;
    HWND wa = noticeWindow(), wb = noticeWindow(), wc = noticeWindow(), we = noticeWindow();
    ASSERT_TRUE(wa && wb && wc && we);
    EXPECT_EQ(0u, slots.Take(&a, wa));
    EXPECT_EQ(1u, slots.Take(&b));
    EXPECT_EQ(2u, slots.Take(&c, wc));
    DestroyWindow(wa);
    EXPECT_EQ(0u, slots.Take(&d)) << "the slot of the window that went";
    EXPECT_EQ(3u, slots.Take(&e)) << "those with no window or a live one stay";

    // A window given after the slot was taken is watched too; the turn passes over the slots
    // that go.
    slots.SetWindowOf(&b, wb);
    DestroyWindow(wb);
    DestroyWindow(wc);
    ASSERT_TRUE(slots.PassTurn());
    EXPECT_EQ(3u, slots.GetTurn());
    EXPECT_EQ(4u, slots.GetCountDown()) << "two slots left in use";
    EXPECT_FALSE(slots.Free(1));
    EXPECT_FALSE(slots.Free(2));

    // A window let go is no longer watched.
    slots.SetWindowOf(&e, we);
    slots.SetWindowOf(&e, nullptr);
    DestroyWindow(we);
    EXPECT_EQ(1u, slots.Take());
    EXPECT_TRUE(slots.Free(3));
}

TEST(ClientSlotsTest, PassesTheTurnAfterTwiceTheSlotsInUse)
{
    CQuarnClientSlots slots;
    EXPECT_FALSE(slots.PassTurn()) << "no slot in use";
    EXPECT_EQ(0u, slots.GetTurn());
    EXPECT_EQ(0u, slots.Next()) << "never armed: the turn stays";
    EXPECT_EQ(0u, slots.GetCountDown());
    ASSERT_EQ(0u, slots.Take());
    ASSERT_TRUE(slots.PassTurn()) << "the only slot in use keeps the turn";
    EXPECT_EQ(0u, slots.GetTurn());
    EXPECT_EQ(2u, slots.GetCountDown());
    ASSERT_EQ(1u, slots.Take());
    ASSERT_TRUE(slots.PassTurn());
    ASSERT_EQ(1u, slots.GetTurn());
    ASSERT_TRUE(slots.PassTurn()) << "15 wraps to 0";
    ASSERT_EQ(0u, slots.GetTurn());
    EXPECT_EQ(4u, slots.GetCountDown());
    const DWORD expected[] = {0, 0, 0, 1, 1, 1, 1, 0};
    for (DWORD turn : expected)
        EXPECT_EQ(turn, slots.Next());
    ASSERT_TRUE(slots.Free(0));
    EXPECT_EQ(0u, slots.GetTurn()) << "a freed turn slot keeps the turn until it passes";
}

TEST(QueueLockTest, LocksOnceAndUnlocks)
{
    CQuarnQueueLock lock;
    ASSERT_NE(nullptr, lock.GetHandle());
    LONG locked = 7;
    EXPECT_EQ(CQuarnQueueLock::S_QUARN_LOCKED, lock.Lock(&locked));
    EXPECT_EQ(1, locked);
    // Held already: answered at once, without an error, and nothing taken twice.
    locked = 7;
    DWORD start = GetTickCount();
    EXPECT_EQ(S_OK, lock.Lock(&locked));
    EXPECT_LT(GetTickCount() - start, CQuarnQueueLock::WAIT_MS / 2);
    EXPECT_EQ(0, locked);
    EXPECT_EQ(1, lock.GetCount());
    EXPECT_EQ(S_OK, lock.Unlock(&locked));
    EXPECT_EQ(1, locked);
    EXPECT_TRUE(FAILED(lock.Unlock(&locked))) << "not held";
    EXPECT_EQ(0, locked);
    EXPECT_EQ(CQuarnQueueLock::S_QUARN_LOCKED, lock.Lock(&locked));
    EXPECT_EQ(S_OK, lock.Unlock(&locked));
}

TEST(QueueLockTest, AForeignHolderMakesTheWaitEndInTime)
{
    CQuarnQueueLock lock;
    HANDLE held = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    HANDLE done = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    std::thread holder([&] {
        HANDLE mutex = OpenMutexA(SYNCHRONIZE, FALSE, CQuarnQueueLock::MUTEX_NAME);
        WaitForSingleObject(mutex, INFINITE);
        SetEvent(held);
        WaitForSingleObject(done, 30000);
        ReleaseMutex(mutex);
        CloseHandle(mutex);
    });
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(held, 10000));
    LONG locked = 7;
    DWORD start = GetTickCount();
    HRESULT result = lock.Lock(&locked);
    DWORD took = GetTickCount() - start;
    SetEvent(done);
    holder.join();
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_TIMEOUT), result);
    EXPECT_EQ(0, locked);
    EXPECT_LT(took, CQuarnQueueLock::WAIT_MS + 3000);
    CloseHandle(held);
    CloseHandle(done);
}

TEST(QueueLockTest, AnAbandonedMutexCountsAsTaken)
{
    CQuarnQueueLock lock;
    std::thread holder([] {
        HANDLE mutex = OpenMutexA(SYNCHRONIZE, FALSE, CQuarnQueueLock::MUTEX_NAME);
        WaitForSingleObject(mutex, INFINITE);
        CloseHandle(mutex);
    });
    holder.join();
    LONG locked = 0;
    EXPECT_EQ(CQuarnQueueLock::S_QUARN_LOCKED, lock.Lock(&locked));
    EXPECT_EQ(1, locked);
    EXPECT_EQ(S_OK, lock.Unlock(&locked));
}

TEST(ServiceErrorFormTest, LastErrorsBecomeResults)
{
    struct Case {
        DWORD error;
        HRESULT expected;
    } cases[] = {
        {0, S_OK},
        {5, static_cast<HRESULT>(0x80070005)},
        {0xE0040102, static_cast<HRESULT>(0xE0040102)},
        {0x20040000, static_cast<HRESULT>(0x20040000)},
    };
    for (const Case& c : cases) {
        SetLastError(c.error);
        EXPECT_EQ(c.expected, CQuarnSrv::HResultFromLastError()) << c.error;
    }
}

TEST(ServiceBuildTest, MapsTheServersMessagesToCodes)
{
    EXPECT_EQ(0u, CQuarnServiceBuild::CodeOfMessage(QuarnNodeChangeMessage()));
    EXPECT_EQ(1u, CQuarnServiceBuild::CodeOfMessage(QuarnLookupDirectoryMessage()));
    EXPECT_EQ(2u, CQuarnServiceBuild::CodeOfMessage(QuarnFileTransferMessage()));
    EXPECT_EQ(CQuarnNoticeQueue::NO_VALUE, CQuarnServiceBuild::CodeOfMessage(WM_USER));

    CQuarnServiceBuild build;
    build.Notify(reinterpret_cast<HWND>(7), QuarnLookupDirectoryMessage(), 3, 0xE0040201,
                 CQuarnServerBuild::Target::LiveWindowOnly);
    build.Notify(nullptr, QuarnFileTransferMessage(), 4, 0x20040000, CQuarnServerBuild::Target::AnyWindow);
    ASSERT_EQ(1u, build.GetQueue().GetCount()) << "queued without a live window; window 0 dropped";
    EXPECT_EQ(7u, build.GetQueue().Get(0, Field::Window));
    EXPECT_EQ(0xE0040201u, build.GetQueue().Get(0, Field::LParam));
    EXPECT_EQ(0x00010101u, build.Version());
    EXPECT_FALSE(build.ChecksWindows());
    EXPECT_EQ(1u, build.GetNewWindowNumber());
    EXPECT_EQ(2u, build.GetNewWindowNumber());
}

TEST(ServiceBuildTest, BuildsEachDescriptorWithoutANullAccessList)
{
    const WCHAR* texts[] = {CQuarnServiceBuild::FOLDER_SDDL, CQuarnServiceBuild::FILE_SDDL};
    for (const WCHAR* text : texts) {
        PSECURITY_DESCRIPTOR descriptor = nullptr;
        ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(text, SDDL_REVISION_1, &descriptor, nullptr));
        BOOL present = FALSE;
        BOOL defaulted = FALSE;
        PACL acl = nullptr;
        ASSERT_TRUE(GetSecurityDescriptorDacl(descriptor, &present, &acl, &defaulted));
        EXPECT_TRUE(present);
        ASSERT_NE(nullptr, acl);
        ACL_SIZE_INFORMATION size = {};
        ASSERT_TRUE(GetAclInformation(acl, &size, sizeof(size), AclSizeInformation));
        EXPECT_GE(size.AceCount, 3u);
        for (DWORD i = 0; i < size.AceCount; ++i) {
            ACCESS_ALLOWED_ACE* ace = nullptr;
            ASSERT_TRUE(GetAce(acl, i, reinterpret_cast<void**>(&ace)));
            PSID sid = &ace->SidStart;
            EXPECT_FALSE(IsWellKnownSid(sid, WinWorldSid)) << "nobody but the named accounts";
            if (IsWellKnownSid(sid, WinInteractiveSid)) {
                EXPECT_EQ(0u, ace->Mask & (WRITE_DAC | WRITE_OWNER)) << std::hex << ace->Mask;
            }
        }
        LocalFree(descriptor);
    }
}

// A folder of the test's own for the stale files.
class StaleFilesTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        char path[MAX_PATH];
        GetTempPathA(MAX_PATH, path);
        folder_ = std::string(path) + "quarnguard-stale-" + std::to_string(GetCurrentProcessId()) + "\\";
        CreateDirectoryA(folder_.c_str(), nullptr);
    }
    void TearDown() override
    {
        for (const char* name : {"QUA1.TMP", "QUARN2.TMP", "QUA3.TMP", "OTHER.TMP"}) {
            SetFileAttributesA((folder_ + name).c_str(), FILE_ATTRIBUTE_NORMAL);
            DeleteFileA((folder_ + name).c_str());
        }
        RemoveDirectoryA(folder_.c_str());
    }
    void make(const char* name, DWORD attributes = FILE_ATTRIBUTE_NORMAL)
    {
        HANDLE file = CreateFileA((folder_ + name).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, attributes, nullptr);
        ASSERT_NE(INVALID_HANDLE_VALUE, file);
        CloseHandle(file);
    }
    bool exists(const char* name) { return GetFileAttributesA((folder_ + name).c_str()) != INVALID_FILE_ATTRIBUTES; }
    std::string folder_;
};

TEST_F(StaleFilesTest, DeletesReadOnlyOnesAndSkipsAHeldOne)
{
    make("QUA1.TMP", FILE_ATTRIBUTE_READONLY);
    make("QUARN2.TMP");
    make("QUA3.TMP");
    make("OTHER.TMP");
    HANDLE held = CreateFileA((folder_ + "QUA3.TMP").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, held);
    CQuarnEventLog::SetSource(std::string());
    ::testing::internal::CaptureStdout();
    EXPECT_EQ(1u, CQuarnServiceBuild::DeleteStaleFiles(folder_));
    std::string logged = ::testing::internal::GetCapturedStdout();
    CloseHandle(held);
    EXPECT_EQ(std::string(CQuarnServiceBuild::TEXT_STALE_FILE_STAYS) + folder_ + "QUA3.TMP (error 32)\n", logged)
        << "the held one logged, nothing else";
    EXPECT_FALSE(exists("QUA1.TMP"));
    EXPECT_FALSE(exists("QUARN2.TMP"));
    EXPECT_TRUE(exists("QUA3.TMP"));
    EXPECT_TRUE(exists("OTHER.TMP"));
}

// Every method of the interface before Initialize: the not-implemented ones answer as such,
// every other 0xE0040102 with its outputs untouched (MsgIsExist, MsgLock, MsgUnlock: 0).
TEST(QuarnguardTest, AnswersBeforeInitialize)
{
    ASSERT_EQ(nullptr, CQuarnSrv::GetCore());
    CQuarnServiceBuild build;
    CQuarnguard* server = new CQuarnguard(build);
    const HRESULT notUp = static_cast<HRESULT>(ERROR_QUARN_SERVER_NOT_INITIALIZED);
    EXPECT_EQ(CQuarnguard::E_QUARN_NOT_IMPLEMENTED, server->FileTransferAbort(1));
    const ULONG untouched = 0x5A5A5A5A;
    ULONG number = untouched;
    struct Case {
        const char* name;
        HRESULT (CQuarnguard::*method)(ULONG, ULONG*);
    } indexed[] = {
        {"MsgGetMsgNo", &CQuarnguard::MsgGetMsgNo},
        {"MsgGetHwnd", &CQuarnguard::MsgGetHwnd},
        {"MsgGetLParam", &CQuarnguard::MsgGetLParam},
        {"MsgGetWParam", &CQuarnguard::MsgGetWParam},
    };
    for (const Case& c : indexed) {
        EXPECT_EQ(notUp, (server->*c.method)(0, &number)) << c.name;
        EXPECT_EQ(untouched, number) << c.name;
    }
    struct NumberCase {
        const char* name;
        HRESULT (CQuarnguard::*method)(ULONG*);
    } numbers[] = {
        {"MsgGetCount", &CQuarnguard::MsgGetCount},
        {"GetNewWndID", &CQuarnguard::GetNewWndID},
        {"GetNextQuarnhost", &CQuarnguard::GetNextQuarnhost},
        {"GetQuarnhostID", &CQuarnguard::GetQuarnhostID},
    };
    for (const NumberCase& c : numbers) {
        EXPECT_EQ(notUp, (server->*c.method)(&number)) << c.name;
        EXPECT_EQ(untouched, number) << c.name;
    }
    struct FlagCase {
        const char* name;
        HRESULT (CQuarnguard::*method)(LONG*);
        LONG expected;
    } flags[] = {
        {"MsgIsExist", &CQuarnguard::MsgIsExist, 0},
        {"MsgLock", &CQuarnguard::MsgLock, 0},
        {"MsgUnlock", &CQuarnguard::MsgUnlock, 0},
        {"SetNextQuarnhostID", &CQuarnguard::SetNextQuarnhostID, 0x5A5A},
    };
    for (const FlagCase& c : flags) {
        LONG flag = 0x5A5A;
        EXPECT_EQ(notUp, (server->*c.method)(&flag)) << c.name;
        EXPECT_EQ(c.expected, flag) << c.name;
    }
    LONG flag = 0x5A5A;
    EXPECT_EQ(notUp, server->DelQuarnhostID(0, &flag));
    EXPECT_EQ(0x5A5A, flag);
    EXPECT_EQ(notUp, server->MsgRemove(0));
    EXPECT_EQ(notUp, server->GetServerVersion(&number));
    EXPECT_EQ(notUp, server->RegisterWnd(1));
    EXPECT_EQ(1u, build.GetNewWindowNumber()) << "no number handed out before Initialize";
    server->Release();
}

// A client's object goes when the client releases it or COM finds its process gone; the slots
// it took go with it, another client's stay.
TEST(QuarnguardTest, TheSlotsOfAGoneClientAreFree)
{
    CQuarnServiceBuild build;
    CQuarnguard* gone = new CQuarnguard(build);
    CQuarnguard* staying = new CQuarnguard(build);
    EXPECT_EQ(0u, build.GetSlots().Take(gone));
    EXPECT_EQ(1u, build.GetSlots().Take(staying));
    gone->Release();
    EXPECT_EQ(0u, build.GetSlots().Take());
    EXPECT_EQ(2u, build.GetSlots().Take());
    staying->Release();
    EXPECT_EQ(1u, build.GetSlots().Take());
}

TEST(QuarnguardTest, ServesItsInterfaceFromTheTypeLibrary)
{
    CQuarnServiceBuild build;
    CQuarnguard* server = new CQuarnguard(build);
    IDispatch* dispatch = nullptr;
    ASSERT_EQ(S_OK, server->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&dispatch)));
    struct Case {
        const WCHAR* name;
        DISPID id;
    } cases[] = {{L"Initialize", 1}, {L"LUProfileDirOpen", 38}, {L"FileTransferAbort", 39}, {L"DelQuarnhostID", 53}};
    for (const Case& c : cases) {
        LPOLESTR name = const_cast<LPOLESTR>(c.name);
        DISPID id = 0;
        EXPECT_EQ(S_OK, dispatch->GetIDsOfNames(IID_NULL, &name, 1, 0, &id));
        EXPECT_EQ(c.id, id);
    }
    ITypeInfo* info = nullptr;
    ASSERT_EQ(S_OK, dispatch->GetTypeInfo(0, 0, &info));
    ITypeLib* library = nullptr;
    UINT index = 0;
    ASSERT_EQ(S_OK, info->GetContainingTypeLib(&library, &index));
    BSTR doc = nullptr;
    ASSERT_EQ(S_OK, library->GetDocumentation(-1, nullptr, &doc, nullptr, nullptr));
    EXPECT_STREQ(L"Quarnhost Service 1.0 type library", doc);
    SysFreeString(doc);
    library->Release();
    info->Release();
    dispatch->Release();
    server->Release();
}

TEST(ServiceSwitchTest, KnowsTheServiceSwitchOnlyWhenAsked)
{
    struct Case {
        const char* line;
        QuarnSwitch service;
        QuarnSwitch host;
    } cases[] = {
        {"quarnguard.exe -Service", QuarnSwitch::Service, QuarnSwitch::Run},
        {"quarnguard.exe /SERVICE", QuarnSwitch::Service, QuarnSwitch::Run},
        {"quarnguard.exe -RegServer", QuarnSwitch::RegServer, QuarnSwitch::RegServer},
        {"quarnguard.exe -unregserver", QuarnSwitch::UnregServer, QuarnSwitch::UnregServer},
        {"C:\\quarn-guard\\quarnguard.exe -Service", QuarnSwitch::Service, QuarnSwitch::Run},
        {"quarnguard.exe -Service extra", QuarnSwitch::Run, QuarnSwitch::Run},
        {"quarnguard.exe -Embedding", QuarnSwitch::Run, QuarnSwitch::Run},
        {"quarnguard.exe", QuarnSwitch::Run, QuarnSwitch::Run},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.service, ParseQuarnSwitch(c.line, true)) << c.line;
        EXPECT_EQ(c.host, ParseQuarnSwitch(c.line)) << c.line;
    }
}

TEST(ServiceHostTest, HandlesEachControl)
{
    using Action = CQuarnServiceHost::ControlAction;
    struct Case {
        DWORD control;
        Action expected;
    } cases[] = {
        {SERVICE_CONTROL_STOP, Action::Stop},         {SERVICE_CONTROL_PAUSE, Action::Nothing},
        {SERVICE_CONTROL_CONTINUE, Action::Nothing},  {SERVICE_CONTROL_INTERROGATE, Action::Nothing},
        {SERVICE_CONTROL_SHUTDOWN, Action::Nothing},  {6, Action::Bad},
        {128, Action::Bad},                           {0, Action::Bad},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.expected, CQuarnServiceHost::ActionOf(c.control)) << c.control;
}

TEST(ServiceHostTest, WritesItsTextsToTheOutputWhenNoService)
{
    EXPECT_STREQ("Service started", CQuarnEventLog::TEXT_STARTED);
    EXPECT_STREQ("Service stopped", CQuarnEventLog::TEXT_STOPPED);
    EXPECT_STREQ("Handler not installed", CQuarnEventLog::TEXT_NO_HANDLER);
    EXPECT_STREQ("Bad service request", CQuarnEventLog::TEXT_BAD_REQUEST);
    EXPECT_EQ(0x10u, CQuarnServiceInstaller::SERVICE_TYPE);
    EXPECT_EQ(2u, CQuarnServiceInstaller::START_TYPE);
    EXPECT_EQ(1u, CQuarnServiceInstaller::ERROR_CONTROL);
}

// What reached the event log (the platform's stores nothing), with the source's name.
std::vector<std::pair<std::string, std::string>> s_reports;
void recordReport(const std::string& source, const char* text)
{
    s_reports.emplace_back(source, text);
}

// The event log of a test: reports recorded, texts to the output until a source is named; the
// platform's log and the output back at its end.
class EventLogTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        s_reports.clear();
        previous_ = CQuarnEventLog::SetReporter(recordReport);
        CQuarnEventLog::SetSource(std::string());
    }
    void TearDown() override
    {
        CQuarnEventLog::SetSource(std::string());
        CQuarnEventLog::SetReporter(previous_);
    }
    CQuarnEventLog::Reporter previous_ = nullptr;
};

TEST_F(EventLogTest, EachTextGoesToTheOutputWithoutAServiceAndToTheLogAsOne)
{
    const char* texts[] = {CQuarnEventLog::TEXT_STARTED, CQuarnEventLog::TEXT_STOPPED,
                           CQuarnEventLog::TEXT_NO_HANDLER, CQuarnEventLog::TEXT_BAD_REQUEST};
    const char* expected[] = {"Service started", "Service stopped", "Handler not installed", "Bad service request"};
    for (size_t i = 0; i < 4; ++i) {
        ::testing::internal::CaptureStdout();
        CQuarnEventLog::Write(texts[i]);
        EXPECT_EQ(std::string(expected[i]) + "\n", ::testing::internal::GetCapturedStdout());
    }
    EXPECT_TRUE(s_reports.empty());
    CQuarnEventLog::SetSource("Quarnhost Service");
    ::testing::internal::CaptureStdout();
    for (const char* text : texts)
        CQuarnEventLog::Write(text);
    EXPECT_EQ("", ::testing::internal::GetCapturedStdout()) << "a service has no output";
    ASSERT_EQ(4u, s_reports.size());
    for (size_t i = 0; i < 4; ++i) {
        EXPECT_EQ("Quarnhost Service", s_reports[i].first);
        EXPECT_EQ(expected[i], s_reports[i].second);
    }
}

// The stop control is left out: it would end this process's (never started) service loop.
TEST_F(EventLogTest, TheHandlerLogsABadRequestOnly)
{
    struct Case {
        DWORD control;
        const char* output;
    } cases[] = {
        {SERVICE_CONTROL_PAUSE, ""},       {SERVICE_CONTROL_CONTINUE, ""}, {SERVICE_CONTROL_INTERROGATE, ""},
        {SERVICE_CONTROL_SHUTDOWN, ""},    {0, "Bad service request\n"},   {6, "Bad service request\n"},
        {128, "Bad service request\n"},
    };
    const DWORD state = CQuarnServiceHost::Instance().GetStatus().dwCurrentState;
    for (const Case& c : cases) {
        ::testing::internal::CaptureStdout();
        CQuarnServiceHost::Handler(c.control);
        EXPECT_EQ(c.output, ::testing::internal::GetCapturedStdout()) << c.control;
    }
    EXPECT_EQ(state, CQuarnServiceHost::Instance().GetStatus().dwCurrentState) << "no control changed the state";
}

// Entered without the manager's dispatcher, the service cannot install its handler: it says so
// under its name and runs nothing (no "Service started").
TEST_F(EventLogTest, WithoutTheManagerTheEntryLogsThatNoHandlerIsInstalled)
{
    ::testing::internal::CaptureStdout();
    CQuarnServiceHost::ServiceMain(0, nullptr);
    EXPECT_EQ("", ::testing::internal::GetCapturedStdout());
    ASSERT_EQ(1u, s_reports.size());
    EXPECT_EQ("Quarnhost Service", s_reports[0].first);
    EXPECT_STREQ(CQuarnEventLog::TEXT_NO_HANDLER, s_reports[0].second.c_str());
}

// The service and the module registered side by side under a test key: each removal takes its
// own keys, and the shared ProgIDs only while they name its class.
class SharedProgIdTest : public ::testing::Test {
protected:
    static constexpr const char* TEST_KEY = "Software\\TavelinTest\\QuarnguardRegistrar";
    void SetUp() override { RegDeleteTreeA(HKEY_CURRENT_USER, TEST_KEY); }
    void TearDown() override { RegDeleteTreeA(HKEY_CURRENT_USER, TEST_KEY); }
    static std::string progIdClass()
    {
        char data[64] = {};
        DWORD size = sizeof(data);
        std::string key = std::string(TEST_KEY) + "\\Quarnhost.QuarnSrv\\CLSID";
        if (RegGetValueA(HKEY_CURRENT_USER, key.c_str(), nullptr, RRF_RT_REG_SZ, nullptr, data, &size) != ERROR_SUCCESS)
            return std::string();
        return data;
    }
    static bool keyExists(const std::string& key)
    {
        HKEY opened;
        if (RegOpenKeyExA(HKEY_CURRENT_USER, (std::string(TEST_KEY) + "\\" + key).c_str(), 0, KEY_READ, &opened)
            != ERROR_SUCCESS)
            return false;
        RegCloseKey(opened);
        return true;
    }
};

TEST_F(SharedProgIdTest, EachRemovalLeavesTheOthersKeys)
{
    const CQuarnRegistrar::Identity& guard = CQuarnServiceHost::Identity();
    const CQuarnRegistrar::Identity& host = CQuarnRegistrar::HostIdentity();
    CQuarnRegistrar guardRegistrar(HKEY_CURRENT_USER, TEST_KEY, guard);
    CQuarnRegistrar hostRegistrar(HKEY_CURRENT_USER, TEST_KEY, host);
    ASSERT_EQ(ERROR_SUCCESS, hostRegistrar.WriteTable("C:\\quarnhost.exe"));
    ASSERT_EQ(ERROR_SUCCESS, guardRegistrar.WriteTable("C:\\quarnguard.exe"));
    EXPECT_EQ(guard.clsid, progIdClass()) << "the last registered names the ProgID";
    EXPECT_TRUE(keyExists("AppID\\Quarnhost Service.EXE"));

    ASSERT_EQ(ERROR_SUCCESS, hostRegistrar.RemoveTable());
    EXPECT_EQ(guard.clsid, progIdClass()) << "not the module's to remove";
    EXPECT_TRUE(keyExists(CQuarnRegistrar::ClassKey(guard)));
    EXPECT_FALSE(keyExists(CQuarnRegistrar::ClassKey(host)));

    ASSERT_EQ(ERROR_SUCCESS, hostRegistrar.WriteTable("C:\\quarnhost.exe"));
    ASSERT_EQ(ERROR_SUCCESS, guardRegistrar.RemoveTable());
    EXPECT_EQ(host.clsid, progIdClass());
    EXPECT_TRUE(keyExists(CQuarnRegistrar::ClassKey(host)));
    EXPECT_TRUE(keyExists("AppID\\Quarnhost.EXE"));
    EXPECT_FALSE(keyExists(CQuarnRegistrar::ClassKey(guard)));
    EXPECT_FALSE(keyExists("AppID\\Quarnhost Service.EXE"));
}

} // namespace
