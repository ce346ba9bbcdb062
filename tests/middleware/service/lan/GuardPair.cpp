// Clients on hosts of a test LAN, each host with its own middleware server (pair_test.sh
// selects the role): host 1 runs quarnguard as a service throughout, host 2 runs quarnguard
// until it stops it, host 3 runs quarnhost. A guard's client reads every notice from the
// service's queue by the window numbers it registered; quarnhost's client gets them posted to a
// window.
//
//   quarnguard_pair --gtest_filter=Pair.ROLE SHARE
//
// SHARE is the folder every host sees, for the files by which the clients meet.
#include "Bstr.h"
#include "PatternFile.h"
#include "ServiceControl.h"
#include "ShareFolder.h"
#include "WideText.h"
#include "quarnguard.h"
#include "quarnhost.h"

#include <gtest/gtest.h>

#include <objbase.h>
#include <oleauto.h>
#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

const char SERVICE_NAME[] = "Quarnhost Service";
const DWORD CODE_NODE_CHANGE = 0;
const DWORD CODE_LOOKUP = 1;
const DWORD CODE_TRANSFER = 2;
const DWORD SENT = 0x20040064;
const DWORD RECEIVED = 0x20040164;
const DWORD CLOSED = 0xE0040202;
const DWORD ABORTED = 0xE0040211;
// Files that flow with progress, and files large enough to be still flowing when a side
// closes its handle at the first notice.
const size_t SMALL_FILE = 32 << 20;
const size_t LARGE_FILE = 64 << 20;
const DWORD MEET_MS = 120000;

// A step of another host, through the shared folder.
bool readShare(const std::string& name, std::string& text, DWORD timeoutMs = MEET_MS)
{
    return ::readShare(name, text, timeoutMs);
}

// ---- notices, as either server gives them

struct Notice {
    DWORD window;
    DWORD code;
    DWORD wParam;
    DWORD lParam;
};

std::vector<Notice> of(const std::vector<Notice>& all, DWORD code, DWORD wParam)
{
    std::vector<Notice> found;
    for (const Notice& n : all)
        if (n.code == code && n.wParam == wParam)
            found.push_back(n);
    return found;
}

// The transfer notices of one handle: first, at least one percentage between, then last.
void expectProgress(const std::vector<Notice>& all, DWORD handle, DWORD first, DWORD last)
{
    std::vector<Notice> notices = of(all, CODE_TRANSFER, handle);
    ASSERT_GE(notices.size(), 3u) << "no progress between the first and the last notice";
    EXPECT_EQ(first, notices.front().lParam);
    EXPECT_EQ(last, notices.back().lParam);
    for (size_t i = 1; i + 1 < notices.size(); ++i) {
        EXPECT_GT(notices[i].lParam, notices[i - 1].lParam) << i;
        EXPECT_LT(notices[i].lParam, last) << i;
    }
}

// The middleware's 38 methods are the same on both interfaces; the notices differ.
template <typename Server> class Side {
public:
    virtual ~Side() = default;
    Server* s = nullptr;
    std::vector<Notice> notices;

    // Takes what arrived until done() holds or the time is up.
    template <typename Done> bool waitFor(Done done, DWORD timeoutMs = MEET_MS)
    {
        DWORD start = GetTickCount();
        for (;;) {
            Take();
            if (done())
                return true;
            if (GetTickCount() - start > timeoutMs)
                return false;
            Sleep(20);
        }
    }
    // Until a notice of the code, wParam and lParam has come.
    bool waitNotice(DWORD code, DWORD wParam, DWORD lParam, DWORD timeoutMs = MEET_MS)
    {
        return waitFor(
            [&] {
                return std::any_of(notices.begin(), notices.end(), [&](const Notice& n) {
                    return n.code == code && n.wParam == wParam && n.lParam == lParam;
                });
            },
            timeoutMs);
    }
    // Until a transfer notice that ends the handle (done, or a failure).
    bool waitEnd(DWORD handle, DWORD done, DWORD timeoutMs = MEET_MS)
    {
        return waitFor(
            [&] {
                std::vector<Notice> own = of(notices, CODE_TRANSFER, handle);
                if (own.empty())
                    return false;
                DWORD code = own.back().lParam;
                return code == done || (code & 0xFFFF0000) == 0xE0040000 || code < 0x10000;
            },
            timeoutMs);
    }
    // The first transfer handle after skip notices whose code is first.
    bool waitOpened(DWORD first, size_t skip, DWORD* handle, DWORD timeoutMs = MEET_MS)
    {
        return waitFor(
            [&] {
                for (size_t i = skip; i < notices.size(); ++i) {
                    if (notices[i].code == CODE_TRANSFER && notices[i].lParam == first) {
                        *handle = notices[i].wParam;
                        return true;
                    }
                }
                return false;
            },
            timeoutMs);
    }

    std::wstring Guid()
    {
        Bstr guid;
        s->GetGUIDString(guid.out());
        return guid.text();
    }

    // The names in a lookup directory once it can be read.
    std::vector<std::wstring> Names(const std::wstring& path, DWORD timeoutMs = 20000)
    {
        std::vector<std::wstring> found;
        Bstr text(path);
        ULONG handle = 0;
        if (FAILED(s->LUDOpen(text.b, 0, &handle)))
            return found;
        ULONG count = 0;
        DWORD start = GetTickCount();
        HRESULT result;
        while ((result = s->LUDGetEntryCount(handle, &count)) == static_cast<HRESULT>(0x800703E4)
               && GetTickCount() - start < timeoutMs)
            Sleep(100);
        for (ULONG i = 0; SUCCEEDED(result) && i < count; ++i) {
            Bstr name;
            if (SUCCEEDED(s->LUDGetEntryName(handle, i, name.out())))
                found.push_back(name.text());
        }
        s->LUDClose(handle);
        return found;
    }
    bool WaitRootHas(const std::wstring& node, DWORD timeoutMs = MEET_MS)
    {
        DWORD start = GetTickCount();
        do {
            std::vector<std::wstring> root = Names(L"\\");
            if (std::find(root.begin(), root.end(), node) != root.end())
                return true;
            Sleep(500);
        } while (GetTickCount() - start < timeoutMs);
        return false;
    }
    // The text of the node's computer name.
    std::wstring ComputerName(const std::wstring& node)
    {
        Bstr text(L"\\" + node + L"\\Computer Information");
        ULONG handle = 0;
        if (FAILED(s->LUDOpen(text.b, 0, &handle)))
            return L"";
        ULONG count = 0;
        DWORD start = GetTickCount();
        while (s->LUDGetEntryCount(handle, &count) == static_cast<HRESULT>(0x800703E4) && GetTickCount() - start < 20000)
            Sleep(100);
        std::wstring found;
        for (ULONG i = 0; i < count; ++i) {
            Bstr name, value;
            if (SUCCEEDED(s->LUDGetEntryName(handle, i, name.out())) && name.text() == L"Computer Name"
                && SUCCEEDED(s->LUDGetEntryValueString(handle, i, value.out())))
                found = value.text();
        }
        s->LUDClose(handle);
        return found;
    }

    // Sends size bytes of the pattern to the node's directory; the transfer handle, 0 when the
    // transfer could not start.
    DWORD Send(const std::wstring& ownNode, const std::wstring& node, const std::wstring& directory, size_t size,
               DWORD seed, ULONG window)
    {
        ULONG transfer = 0;
        HRESULT opened = s->FileTransferOpen(Bstr(L"\\" + node + directory).b,
                                             Bstr(L"\\" + ownNode + L"\\Applications\\Send\\1").b,
                                             Bstr(L"picture.png").b, window, &transfer);
        EXPECT_EQ(S_OK, opened);
        if (FAILED(opened))
            return 0;
        Bstr temp;
        EXPECT_EQ(S_OK, s->FileTransferGetTempName(transfer, temp.out()));
        writeBytes(narrow(temp.text()), pattern(size, seed));
        EXPECT_EQ(S_OK, s->FileTransferExec(transfer));
        return transfer;
    }
    // The received file of the handle holds size bytes of the pattern; the handle is closed.
    void ExpectReceived(DWORD handle, size_t size, DWORD seed)
    {
        Bstr temp, nickname;
        EXPECT_EQ(S_OK, s->FileTransferGetNickname(handle, nickname.out()));
        EXPECT_EQ(L"picture.png", nickname.text());
        ASSERT_EQ(S_OK, s->FileTransferGetTempName(handle, temp.out()));
        std::vector<BYTE> bytes = readBytes(narrow(temp.text()));
        EXPECT_TRUE(bytes == pattern(size, seed)) << "received " << bytes.size() << " bytes";
        EXPECT_EQ(S_OK, s->FileTransferClose(handle));
        EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(temp.b));
    }

protected:
    virtual void Take() = 0;
};

// The service's client: every notice comes out of its queue, oldest first.
class GuardSide : public Side<IQuarnguard> {
public:
    GuardSide()
    {
        CoInitialize(nullptr);
        created = CoCreateInstance(CLSID_Quarnguard, nullptr, CLSCTX_LOCAL_SERVER, IID_IQuarnguard,
                                   reinterpret_cast<void**>(&s));
    }
    ~GuardSide() override
    {
        if (s)
            s->Release();
        CoUninitialize();
    }
    ULONG NewWindow()
    {
        ULONG number = 0;
        EXPECT_EQ(S_OK, s->GetNewWndID(&number));
        return number;
    }
    HRESULT created;

protected:
    void Take() override
    {
        ULONG count = 0;
        while (SUCCEEDED(s->MsgGetCount(&count)) && count != 0) {
            Notice n = {};
            ULONG value = 0;
            s->MsgGetHwnd(0, &value);
            n.window = value;
            s->MsgGetMsgNo(0, &value);
            n.code = value;
            s->MsgGetWParam(0, &value);
            n.wParam = value;
            s->MsgGetLParam(0, &value);
            n.lParam = value;
            s->MsgRemove(0);
            notices.push_back(n);
        }
    }
};

// quarnhost's client: the notices are posted to a window of its own.
class HostSide : public Side<IQuarnSrv> {
public:
    HostSide()
    {
        CoInitialize(nullptr);
        messages[0] = RegisterWindowMessageA("QUARN_MESSAGE_COMPUTER_NODE_CHANGE");
        messages[1] = RegisterWindowMessageA("QUARN_MESSAGE_LOOKUP_DIRCTORY");
        messages[2] = RegisterWindowMessageA("QUARN_MESSAGE_FILE_TRANSFER");
        window = CreateWindowA("STATIC", "", 0, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
        created = CoCreateInstance(CLSID_QuarnSrv, nullptr, CLSCTX_LOCAL_SERVER, IID_IQuarnSrv,
                                   reinterpret_cast<void**>(&s));
    }
    ~HostSide() override
    {
        if (s)
            s->Release();
        DestroyWindow(window);
        CoUninitialize();
    }
    ULONG Number() const { return static_cast<ULONG>(reinterpret_cast<ULONG_PTR>(window)); }
    HWND window;
    HRESULT created;

protected:
    void Take() override
    {
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
            bool notice = false;
            for (DWORD code = 0; code < 3; ++code) {
                if (message.message == messages[code] && message.hwnd == window) {
                    notices.push_back({Number(), code, static_cast<DWORD>(message.wParam),
                                       static_cast<DWORD>(message.lParam)});
                    notice = true;
                }
            }
            if (!notice)
                DispatchMessageA(&message);
        }
    }
    UINT messages[3];
};

// The service of this host.
struct Service : ServiceControl {
    Service() : ServiceControl(SERVICE_NAME) {}
};

// ---- the roles

// Host 1, its guard running throughout: first against host 2's guard, then against host 3's
// quarnhost.
TEST(Pair, GuardA)
{
    GuardSide a;
    ASSERT_EQ(S_OK, a.created);
    ASSERT_EQ(S_OK, a.s->Initialize());
    IQuarnguard* s = a.s;
    const ULONG window = a.NewWindow();
    std::wstring guidA = a.Guid();
    ASSERT_TRUE(a.WaitRootHas(guidA));
    ASSERT_EQ(S_OK, s->RegisterWnd(window));
    ULONG app = 0;
    ASSERT_EQ(S_OK, s->GetNewAppID(&app));
    ASSERT_EQ(S_OK, s->APDWatchWndAdd(app, window, Bstr(L"\\Applications\\Recv").b));
    a.waitFor([] { return false; }, 500);
    a.notices.clear();
    writeShare("A.ready", narrow(guidA));

    // Host 2's guard comes.
    std::string text;
    ASSERT_TRUE(readShare("B.ready", text));
    std::wstring guidB = wide(text);
    ASSERT_TRUE(a.WaitRootHas(guidB));
    EXPECT_TRUE(a.waitNotice(CODE_NODE_CHANGE, 0, 0, 20000)) << "no node came";
    for (const Notice& n : of(a.notices, CODE_NODE_CHANGE, 0))
        EXPECT_EQ(window, n.window);
    ASSERT_TRUE(readShare("B.name", text));
    EXPECT_EQ(wide(text), a.ComputerName(guidB));
    // A read through a window number is told in the queue.
    ULONG lookup = 0;
    ASSERT_EQ(S_OK, s->LUDOpen(Bstr(L"\\" + guidB + L"\\Computer Information").b, window, &lookup));
    EXPECT_TRUE(a.waitNotice(CODE_LOOKUP, lookup, 0, 20000)) << "no lookup notice";
    s->LUDClose(lookup);

    // A to B with progress; B to A likewise.
    DWORD transfer = a.Send(guidA, guidB, L"\\Applications\\Recv", SMALL_FILE, 1, window);
    ASSERT_TRUE(a.waitEnd(transfer, SENT));
    expectProgress(a.notices, transfer, 0x20040000, SENT);
    size_t before = a.notices.size();
    writeShare("A.sent1", "ok");
    DWORD received = 0;
    ASSERT_TRUE(a.waitOpened(0x20040100, before, &received));
    ASSERT_TRUE(a.waitEnd(received, RECEIVED));
    expectProgress(a.notices, received, 0x20040100, RECEIVED);
    a.ExpectReceived(received, SMALL_FILE, 2);
    ASSERT_TRUE(readShare("B.sent2", text));

    // The sender closes a transfer under way: told closed, the close succeeds.
    transfer = a.Send(guidA, guidB, L"\\Applications\\Recv", LARGE_FILE, 3, window);
    ASSERT_TRUE(a.waitNotice(CODE_TRANSFER, transfer, 0x20040000));
    EXPECT_EQ(S_OK, s->FileTransferClose(transfer));
    ASSERT_TRUE(a.waitEnd(transfer, SENT, 20000));
    EXPECT_EQ(CLOSED, of(a.notices, CODE_TRANSFER, transfer).back().lParam);
    ASSERT_TRUE(readShare("B.closedSeen", text));
    EXPECT_EQ("ok", text);

    // The receiver closes a transfer under way: the sender hears the abort.
    transfer = a.Send(guidA, guidB, L"\\Applications\\Recv", LARGE_FILE, 4, window);
    ASSERT_TRUE(a.waitEnd(transfer, SENT));
    EXPECT_EQ(ABORTED, of(a.notices, CODE_TRANSFER, transfer).back().lParam);
    writeShare("A.abortSeen", "ok");
    ASSERT_TRUE(readShare("B.abortSeen", text));
    EXPECT_EQ("ok", text);

    // Host 2's guard stops: the node went.
    ASSERT_TRUE(readShare("B.stopped", text));
    EXPECT_TRUE(a.waitNotice(CODE_NODE_CHANGE, 1, 0, 30000)) << "no node went";

    // Host 3 runs quarnhost.
    ASSERT_TRUE(readShare("H.ready", text, 180000));
    std::wstring guidH = wide(text);
    ASSERT_TRUE(a.WaitRootHas(guidH));
    ASSERT_TRUE(readShare("H.name", text));
    EXPECT_EQ(wide(text), a.ComputerName(guidH));
    writeShare("A.looked", narrow(guidA));
    transfer = a.Send(guidA, guidH, L"\\Applications\\Recv", SMALL_FILE, 5, window);
    ASSERT_TRUE(a.waitEnd(transfer, SENT));
    expectProgress(a.notices, transfer, 0x20040000, SENT);
    before = a.notices.size();
    writeShare("A.sent5", "ok");
    ASSERT_TRUE(a.waitOpened(0x20040100, before, &received));
    ASSERT_TRUE(a.waitEnd(received, RECEIVED));
    expectProgress(a.notices, received, 0x20040100, RECEIVED);
    a.ExpectReceived(received, SMALL_FILE, 6);
    writeShare("A.done", ::testing::Test::HasFailure() ? "failed" : "ok");
    ASSERT_TRUE(readShare("H.done", text));
    EXPECT_EQ("ok", text);

    EXPECT_EQ(S_OK, s->APDWatchWndDel(app));
    EXPECT_EQ(S_OK, s->DeregisterWnd(window));
    EXPECT_EQ(S_OK, s->Uninitialize());
    s->Release();
    a.s = nullptr;
    EXPECT_TRUE(Service().Stop());
}

// Host 2 with its guard: receives, sends, closes and gives up, then stops its service.
TEST(Pair, GuardB)
{
    std::string text;
    ASSERT_TRUE(readShare("A.ready", text));
    std::wstring guidA = wide(text);
    GuardSide b;
    ASSERT_EQ(S_OK, b.created);
    ASSERT_EQ(S_OK, b.s->Initialize());
    IQuarnguard* s = b.s;
    const ULONG window = b.NewWindow();
    ULONG app = 0;
    ASSERT_EQ(S_OK, s->GetNewAppID(&app));
    ASSERT_EQ(S_OK, s->APDWatchWndAdd(app, window, Bstr(L"\\Applications\\Recv").b));
    std::wstring guidB = b.Guid();
    ASSERT_TRUE(b.WaitRootHas(guidA));
    announceHost("B", narrow(guidB));

    DWORD received = 0;
    ASSERT_TRUE(b.waitOpened(0x20040100, 0, &received));
    ASSERT_TRUE(b.waitEnd(received, RECEIVED));
    expectProgress(b.notices, received, 0x20040100, RECEIVED);
    b.ExpectReceived(received, SMALL_FILE, 1);
    ASSERT_TRUE(readShare("A.sent1", text));
    DWORD transfer = b.Send(guidB, guidA, L"\\Applications\\Recv", SMALL_FILE, 2, window);
    ASSERT_TRUE(b.waitEnd(transfer, SENT));
    expectProgress(b.notices, transfer, 0x20040000, SENT);
    size_t before = b.notices.size();
    writeShare("B.sent2", "ok");

    // A closes its transfer: this side's receive ends as closed, and goes.
    ASSERT_TRUE(b.waitOpened(0x20040100, before, &received));
    ASSERT_TRUE(b.waitEnd(received, RECEIVED));
    EXPECT_EQ(CLOSED, of(b.notices, CODE_TRANSFER, received).back().lParam);
    EXPECT_NE(S_OK, s->FileTransferClose(received)) << "the receive is still there";
    before = b.notices.size();
    writeShare("B.closedSeen", ::testing::Test::HasFailure() ? "failed" : "ok");

    // This side closes at the open: A hears the abort, and this side's receive ends with it.
    ASSERT_TRUE(b.waitOpened(0x20040100, before, &received));
    EXPECT_EQ(S_OK, s->FileTransferClose(received));
    ASSERT_TRUE(b.waitEnd(received, RECEIVED, 30000));
    EXPECT_EQ(ABORTED, of(b.notices, CODE_TRANSFER, received).back().lParam);
    ASSERT_TRUE(readShare("A.abortSeen", text));
    writeShare("B.abortSeen", ::testing::Test::HasFailure() ? "failed" : "ok");

    EXPECT_EQ(S_OK, s->APDWatchWndDel(app));
    EXPECT_EQ(S_OK, s->Uninitialize());
    s->Release();
    b.s = nullptr;
    EXPECT_TRUE(Service().Stop());
    writeShare("B.stopped", "ok");
}

// Host 3 with quarnhost against host 1's guard: lookups and a transfer each way.
TEST(Pair, Host)
{
    HostSide h;
    ASSERT_EQ(S_OK, h.created);
    ASSERT_EQ(S_OK, h.s->Initialize());
    IQuarnSrv* s = h.s;
    ULONG app = 0;
    ASSERT_EQ(S_OK, s->GetNewAppID(&app));
    ASSERT_EQ(S_OK, s->APDWatchWndAdd(app, h.Number(), Bstr(L"\\Applications\\Recv").b));
    std::wstring guidH = h.Guid();
    announceHost("H", narrow(guidH));
    std::string text;
    ASSERT_TRUE(readShare("A.looked", text));
    std::wstring guidA = wide(text);
    ASSERT_TRUE(h.WaitRootHas(guidA));
    EXPECT_FALSE(h.ComputerName(guidA).empty());

    DWORD received = 0;
    ASSERT_TRUE(h.waitOpened(0x20040100, 0, &received));
    ASSERT_TRUE(h.waitEnd(received, RECEIVED));
    expectProgress(h.notices, received, 0x20040100, RECEIVED);
    h.ExpectReceived(received, SMALL_FILE, 5);
    ASSERT_TRUE(readShare("A.sent5", text));
    DWORD transfer = h.Send(guidH, guidA, L"\\Applications\\Recv", SMALL_FILE, 6, h.Number());
    ASSERT_TRUE(h.waitEnd(transfer, SENT));
    expectProgress(h.notices, transfer, 0x20040000, SENT);
    writeShare("H.done", ::testing::Test::HasFailure() ? "failed" : "ok");
    ASSERT_TRUE(readShare("A.done", text));
    EXPECT_EQ(S_OK, s->APDWatchWndDel(app));
    EXPECT_EQ(S_OK, s->Uninitialize());
}

} // namespace

int main(int argc, char** argv)
{
    initGoogleTestWithShare(argc, argv);
    return RUN_ALL_TESTS();
}
