// Clients of quarnhost.exe on the hosts of a test LAN: every call goes through COM, to the
// server that COM starts from the host's registration (lan_test.sh selects the tests).
//
//   quarn_client --gtest_filter=GROUP.* SHARE [EXPECTED_MODULE]
//   quarn_client child MODE SHARE       (a second client process that a test starts)
//
// SHARE is the folder every host sees, for the files by which clients of two hosts meet.
#include "Bstr.h"
#include "CQuarnRawPeer.h"
#include "MessagePump.h"
#include "PatternFile.h"
#include "Processes.h"
#include "QuarnCodes.h"
#include "QuarnhostKeys.h"
#include "RegistryKeys.h"
#include "ShareFolder.h"
#include "WideText.h"
#include "quarnhost.h"

#include <gtest/gtest.h>

#include <objbase.h>
#include <oleauto.h>
#include <winsock2.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

namespace {

std::string g_module;
std::string g_self;

const HRESULT NOT_UP = static_cast<HRESULT>(ERROR_QUARN_SERVER_NOT_INITIALIZED);
const ULONG SHARED = 0xFFFFFFFF;

// Windows cross the interface as 32-bit numbers.
ULONG numberOf(HWND window) { return static_cast<ULONG>(reinterpret_cast<ULONG_PTR>(window)); }

// COM for the test's thread, and the server object.
class Client {
public:
    Client() { CoInitialize(nullptr); }
    ~Client()
    {
        if (server)
            server->Release();
        CoUninitialize();
    }
    HRESULT Create()
    {
        return CoCreateInstance(CLSID_QuarnSrv, nullptr, CLSCTX_LOCAL_SERVER, IID_IQuarnSrv,
                                reinterpret_cast<void**>(&server));
    }
    // Created and the core joined.
    HRESULT Start()
    {
        HRESULT result = Create();
        return FAILED(result) ? result : server->Initialize();
    }
    void Drop()
    {
        if (server)
            server->Release();
        server = nullptr;
    }
    IQuarnSrv* server = nullptr;
};

// The quarnhost processes in this host's prefix.
std::vector<DWORD> serverPids() { return processIds("quarnhost.exe"); }

// A window that records the file-transfer notices it is sent.
struct Notice {
    WPARAM handle;
    DWORD code;
    DWORD time;
};
std::vector<Notice> g_notices;
UINT g_fileMessage = 0;

LRESULT CALLBACK noticeProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == g_fileMessage && g_fileMessage != 0) {
        g_notices.push_back({wParam, static_cast<DWORD>(lParam), static_cast<DWORD>(GetMessageTime())});
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

HWND makeWindow()
{
    g_fileMessage = RegisterWindowMessageA("QUARN_MESSAGE_FILE_TRANSFER");
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = noticeProc;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = "QuarnClientWindow";
    RegisterClassA(&windowClass);
    return CreateWindowA("QuarnClientWindow", "QuarnClient", WS_OVERLAPPEDWINDOW, 0, 0, 10, 10, nullptr, nullptr,
                         GetModuleHandleA(nullptr), nullptr);
}

// Opens a lookup directory and waits until it can be read; its handle, 0 when it cannot.
ULONG openRead(IQuarnSrv* server, const std::wstring& path, DWORD timeoutMs = 10000)
{
    Bstr text(path);
    ULONG handle = 0;
    if (FAILED(server->LUDOpen(text.b, 0, &handle)))
        return 0;
    ULONG count = 0;
    DWORD start = GetTickCount();
    HRESULT result;
    while ((result = server->LUDGetEntryCount(handle, &count)) == static_cast<HRESULT>(0x800703E4)
           && GetTickCount() - start < timeoutMs)
        Sleep(100);
    if (FAILED(result)) {
        server->LUDClose(handle);
        return 0;
    }
    return handle;
}

std::vector<std::wstring> names(IQuarnSrv* server, ULONG handle)
{
    std::vector<std::wstring> found;
    ULONG count = 0;
    if (FAILED(server->LUDGetEntryCount(handle, &count)))
        return found;
    for (ULONG i = 0; i < count; ++i) {
        Bstr name;
        if (SUCCEEDED(server->LUDGetEntryName(handle, i, name.out())))
            found.push_back(name.text());
    }
    return found;
}

// The index of the entry of that name, or -1.
LONG indexOf(IQuarnSrv* server, ULONG handle, const std::wstring& name)
{
    std::vector<std::wstring> all = names(server, handle);
    auto it = std::find(all.begin(), all.end(), name);
    return it == all.end() ? -1 : static_cast<LONG>(it - all.begin());
}

bool contains(const std::vector<std::wstring>& all, const std::wstring& name)
{
    return std::find(all.begin(), all.end(), name) != all.end();
}

// Waits until the root lists count nodes; the names.
std::vector<std::wstring> waitRoot(IQuarnSrv* server, size_t count, DWORD timeoutMs)
{
    std::vector<std::wstring> found;
    DWORD start = GetTickCount();
    do {
        ULONG root = openRead(server, L"\\");
        if (root) {
            found = names(server, root);
            server->LUDClose(root);
        }
        if (found.size() >= count)
            break;
        Sleep(500);
    } while (GetTickCount() - start < timeoutMs);
    return found;
}

std::wstring ownGuid(IQuarnSrv* server)
{
    Bstr guid;
    server->GetGUIDString(guid.out());
    return guid.text();
}

// The 8 MB file: a pattern both sides can make.
const DWORD FILE_SIZE = 8 * 1024 * 1024;
std::vector<BYTE> filePattern() { return pattern(FILE_SIZE, 12345); }

// A child process of this program; its handle.
HANDLE startChild(const std::string& mode)
{
    return startProcess("\"" + g_self + "\" child " + mode + " \"" + g_share + "\"");
}

// ---- registration

HKEY openClasses(const std::string& key)
{
    HKEY opened = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, ("Software\\Classes\\" + key).c_str(), 0, KEY_READ, &opened) != ERROR_SUCCESS)
        return nullptr;
    return opened;
}

TEST(Registry, Registered)
{
    const std::string cls = "CLSID\\{D04B612E-C43E-49C5-A0C5-E2999608C64B}";
    expectQuarnhostKeys(g_module);
    // The shared ProgIDs name the module here; its interface names its type library.
    struct Expected {
        std::string key;
        std::string data;
    } table[] = {
        {"Quarnhost.QuarnSrv.1", "QuarnSrv Class"},
        {"Quarnhost.QuarnSrv.1\\CLSID", "{D04B612E-C43E-49C5-A0C5-E2999608C64B}"},
        {"Quarnhost.QuarnSrv", "QuarnSrv Class"},
        {"Quarnhost.QuarnSrv\\CLSID", "{D04B612E-C43E-49C5-A0C5-E2999608C64B}"},
        {"Quarnhost.QuarnSrv\\CurVer", "Quarnhost.QuarnSrv.1"},
        {"Interface\\{4B1DB918-A2DF-4AA9-9DA9-63563B116B09}\\TypeLib", "{A47E7BA1-57CC-4CBB-BDC4-7E244F061A94}"},
    };
    for (const Expected& e : table)
        EXPECT_EQ(e.data, classesValue(e.key, nullptr)) << e.key << " (default)";
    // Nothing else under the class key.
    HKEY key = openClasses(cls);
    ASSERT_NE(nullptr, key);
    DWORD subkeys = 0, values = 0;
    RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values, nullptr, nullptr, nullptr,
                     nullptr);
    RegCloseKey(key);
    EXPECT_EQ(5u, subkeys);
    EXPECT_EQ(2u, values);
}

TEST(Registry, Removed)
{
    std::vector<std::string> found;
    findKeys(HKEY_LOCAL_MACHINE, "Software\\Classes",
             {"D04B612E-C43E-49C5-A0C5-E2999608C64B", "774E287D-8E76-45C1-81C1-A7DB9214E41D",
              "A47E7BA1-57CC-4CBB-BDC4-7E244F061A94", "4B1DB918-A2DF-4AA9-9DA9-63563B116B09", "QUARNHOST"},
             found);
    for (const std::string& key : found)
        ADD_FAILURE() << "left: " << key;
    for (const char* kept : {"AppID", "CLSID"})
        EXPECT_TRUE(classesKeyExists(kept)) << kept;
}

// ---- switches

// A server started by hand with a switch followed by more text serves the clients.
TEST(Switches, ServedByTheRunningProcess)
{
    std::vector<DWORD> before = serverPids();
    ASSERT_EQ(1u, before.size());
    Client client;
    ASSERT_EQ(S_OK, client.Create());
    ASSERT_EQ(S_OK, client.server->Initialize());
    ULONG version = 0;
    EXPECT_EQ(S_OK, client.server->GetServerVersion(&version));
    EXPECT_EQ(before, serverPids());
    EXPECT_EQ(S_OK, client.server->Uninitialize());
}

// ---- methods

TEST(Methods, PortTakenFailsInitialize)
{
    WSADATA data;
    ASSERT_EQ(0, WSAStartup(MAKEWORD(2, 2), &data));
    SOCKET udp = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    SOCKET tcp = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_port = htons(4997);
    ASSERT_EQ(0, bind(udp, reinterpret_cast<sockaddr*>(&address), sizeof(address)));
    ASSERT_EQ(0, bind(tcp, reinterpret_cast<sockaddr*>(&address), sizeof(address)));
    listen(tcp, 1);
    Client client;
    ASSERT_EQ(S_OK, client.Create());
    EXPECT_EQ(static_cast<HRESULT>(ERROR_QUARN_SERVER_PORT_IN_USE), client.server->Initialize());
    ULONG id = 0;
    EXPECT_EQ(NOT_UP, client.server->GetNewAppID(&id));
    EXPECT_EQ(static_cast<HRESULT>(ERROR_QUARN_SERVER_REF_LESSTHAN_ZERO), client.server->Uninitialize());
    closesocket(udp);
    closesocket(tcp);
    WSACleanup();
    // With the port free again the core starts.
    EXPECT_EQ(S_OK, client.server->Initialize());
    EXPECT_EQ(S_OK, client.server->Uninitialize());
}

TEST(Methods, BeforeInitializeThroughTheProxy)
{
    Client client;
    ASSERT_EQ(S_OK, client.Create());
    IQuarnSrv* s = client.server;
    Bstr path(L"\\Applications\\x");
    Bstr text;
    ULONG number = 77;
    LONG value = 77;
    VARIANT variant;
    VariantInit(&variant);
    struct Case {
        int dispid;
        HRESULT result;
        bool textOut;
        bool handleOut;
    };
    auto t = [&](HRESULT r) { return r; };
    std::vector<Case> cases;
    auto add = [&](int id, HRESULT r, bool isText = false, bool isHandle = false) {
        cases.push_back({id, r, isText, isHandle});
        if (isText) {
            EXPECT_EQ(nullptr, text.b) << "method " << id;
        }
        if (isHandle) {
            EXPECT_EQ(0u, number) << "method " << id;
        }
        text.out();
        number = 77;
    };
    add(3, t(s->RegisterWnd(1)));
    add(4, s->DeregisterWnd(1));
    add(5, s->APDOpenEntry(1, path.b, 1));
    add(6, s->APDCloseEntry(1, path.b));
    add(7, s->APDWatchWndChange(1, 1));
    add(8, s->APDChangeEntryValueInt(1, path.b, 5));
    add(9, s->APDChangeEntryValueString(1, path.b, path.b));
    add(10, s->LUDOpen(path.b, 0, &number), false, true);
    add(11, s->LUDClose(1));
    add(12, s->LUDGetEntryCount(1, &number));
    add(13, s->LUDGetEntryName(1, 0, text.out()), true);
    add(14, s->LUDGetEntryType(1, 0, &number), false, true);
    add(15, s->LUDRefresh(1));
    add(16, s->LUDGetEntryValueInt(1, 0, &value));
    add(17, s->LUDGetEntryValueString(1, 0, text.out()), true);
    add(18, s->GetGUIDString(text.out()), true);
    add(19, s->GetNewAppID(&number));
    add(20, s->APDCloseAllEntry(1, path.b));
    add(21, s->DBLock());
    add(22, s->DBUnlock());
    add(23, s->LUDGetEntryValueBinary(1, 0, &variant));
    add(24, s->APDChangeEntryValueBinary(1, path.b, variant));
    add(25, s->DBIsLocked(&value));
    add(26, s->FileTransferOpen(path.b, path.b, path.b, 0, &number), false, true);
    add(27, s->FileTransferClose(1));
    add(28, s->FileTransferExec(1));
    add(29, s->FileTransferGetTempName(1, text.out()), true);
    add(30, s->APDWatchWndAdd(1, 1, path.b));
    add(31, s->APDWatchWndDel(1));
    add(32, s->FileTransferGetNickname(1, text.out()), true);
    add(33, s->FileTransferGetSenderName(1, text.out()), true);
    add(34, s->GetIP(path.b, text.out()), true);
    add(36, s->GetServerVersion(&number));
    for (const Case& c : cases)
        EXPECT_EQ(NOT_UP, c.result) << "method " << c.dispid;
    VariantClear(&variant);
    const HRESULT NOT_IMPLEMENTED = HRESULT_FROM_WIN32(ERROR_CALL_NOT_IMPLEMENTED);
    value = 5;
    EXPECT_EQ(NOT_IMPLEMENTED, s->ProfSelectProfile(1, path.b, 1, &value));
    EXPECT_EQ(0, value);
    value = 5;
    EXPECT_EQ(NOT_IMPLEMENTED, s->ProfClearProfile(1, path.b, &value));
    EXPECT_EQ(0, value);
    number = 5;
    EXPECT_EQ(NOT_IMPLEMENTED, s->LUProfileDirOpen(path.b, 1, &number));
    EXPECT_EQ(0u, number);
    EXPECT_EQ(static_cast<HRESULT>(ERROR_QUARN_SERVER_REF_LESSTHAN_ZERO), s->Uninitialize());
}

TEST(Methods, InitializeCounts)
{
    Client client;
    ASSERT_EQ(S_OK, client.Start());
    IQuarnSrv* s = client.server;
    ASSERT_EQ(S_OK, s->Initialize());
    ULONG id = 0;
    // A fresh core hands out 1, 2, 3.
    for (ULONG expected = 1; expected <= 3; ++expected) {
        EXPECT_EQ(S_OK, s->GetNewAppID(&id));
        EXPECT_EQ(expected, id);
    }
    EXPECT_EQ(S_OK, s->Uninitialize());
    EXPECT_EQ(S_OK, s->GetNewAppID(&id)) << "the core went with the first Uninitialize";
    EXPECT_EQ(S_OK, s->Uninitialize());
    EXPECT_EQ(NOT_UP, s->GetNewAppID(&id));
    EXPECT_EQ(static_cast<HRESULT>(ERROR_QUARN_SERVER_REF_LESSTHAN_ZERO), s->Uninitialize());
}

TEST(Methods, Table)
{
    Client client;
    ASSERT_EQ(S_OK, client.Start());
    IQuarnSrv* s = client.server;

    // The version by the interface and by name through IDispatch.
    ULONG version = 0;
    EXPECT_EQ(S_OK, s->GetServerVersion(&version));
    EXPECT_EQ(0x00010003u, version);
    IDispatch* dispatch = nullptr;
    ASSERT_EQ(S_OK, s->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&dispatch)));
    LPOLESTR name = const_cast<LPOLESTR>(L"GetServerVersion");
    DISPID id = 0;
    EXPECT_EQ(S_OK, dispatch->GetIDsOfNames(IID_NULL, &name, 1, LOCALE_SYSTEM_DEFAULT, &id));
    EXPECT_EQ(36, id);
    DISPPARAMS none = {nullptr, nullptr, 0, 0};
    VARIANT result;
    VariantInit(&result);
    EXPECT_EQ(S_OK, dispatch->Invoke(id, IID_NULL, LOCALE_SYSTEM_DEFAULT, DISPATCH_METHOD, &none, &result, nullptr,
                                     nullptr));
    EXPECT_EQ(VT_UI4, V_VT(&result));
    EXPECT_EQ(0x00010003u, V_UI4(&result));
    dispatch->Release();

    Bstr entry(L"\\Applications\\Table\\Entry");
    Bstr directory(L"\\Applications\\Table");
    EXPECT_EQ(static_cast<HRESULT>(ERROR_QUARN_COMMON_TYPE_MISMATCH), s->APDOpenEntry(7, directory.b, QUARNTYPE_DIR));
    // Opened twice, held once: one close deletes it, a second finds nothing.
    EXPECT_EQ(S_OK, s->APDOpenEntry(7, entry.b, QUARNTYPE_INT));
    EXPECT_EQ(S_OK, s->APDOpenEntry(7, entry.b, QUARNTYPE_INT));
    EXPECT_EQ(S_OK, s->APDCloseEntry(7, entry.b));
    EXPECT_TRUE(FAILED(s->APDCloseEntry(7, entry.b)));
    EXPECT_EQ(S_OK, s->APDOpenEntry(7, entry.b, QUARNTYPE_INT));
    EXPECT_EQ(S_OK, s->APDCloseAllEntry(99, directory.b)) << "no holder is no failure";
    EXPECT_EQ(S_OK, s->APDCloseEntry(7, entry.b)) << "the entry went with another's close";

    LONG locked = 7;
    EXPECT_EQ(S_OK, s->DBIsLocked(&locked));
    EXPECT_EQ(0, locked);
    EXPECT_EQ(S_OK, s->DBLock());
    EXPECT_EQ(S_OK, s->DBLock()); // re-entrant on the server's one thread
    EXPECT_EQ(S_OK, s->DBIsLocked(&locked));
    EXPECT_EQ(1, locked);
    EXPECT_EQ(S_OK, s->DBUnlock());
    EXPECT_EQ(S_OK, s->DBUnlock());
    EXPECT_EQ(S_OK, s->DBIsLocked(&locked));
    EXPECT_EQ(0, locked);
    EXPECT_EQ(static_cast<HRESULT>(0x80070120), s->DBUnlock());

    // The error forms: a platform error, then a call with no code of its own, which must not
    // see the error before it.
    EXPECT_EQ(static_cast<HRESULT>(0x80070006), s->FileTransferClose(123456));
    EXPECT_EQ(S_OK, s->DeregisterWnd(0x1234));
    EXPECT_EQ(S_OK, s->APDWatchWndDel(4242));

    // Arguments that hold nothing.
    VARIANT notArray;
    VariantInit(&notArray);
    V_VT(&notArray) = VT_I4;
    V_I4(&notArray) = 3;
    EXPECT_EQ(static_cast<HRESULT>(0x80070057), s->APDChangeEntryValueBinary(7, entry.b, notArray));
    VARIANT nullArray;
    VariantInit(&nullArray);
    V_VT(&nullArray) = VT_ARRAY | VT_UI1;
    V_ARRAY(&nullArray) = nullptr;
    EXPECT_EQ(static_cast<HRESULT>(0x80070057), s->APDChangeEntryValueBinary(7, entry.b, nullArray));
    EXPECT_EQ(static_cast<HRESULT>(ERROR_QUARN_COMMON_INVALID_PATH), s->APDChangeEntryValueInt(7, nullptr, 1));
    EXPECT_EQ(static_cast<HRESULT>(0x80070057), s->APDWatchWndAdd(7, 0x1234, nullptr));
    // Nothing was written by those.
    EXPECT_EQ(static_cast<HRESULT>(ERROR_QUARN_COMMON_INVALID_PATH), s->APDCloseEntry(7, entry.b));

    // A BSTR name counts its zero; an empty value is a null BSTR.
    Bstr guid;
    ASSERT_EQ(S_OK, s->GetGUIDString(guid.out()));
    EXPECT_EQ(38u, SysStringLen(guid.b));
    ULONG id7 = 0;
    EXPECT_EQ(S_OK, s->APDChangeEntryValueString(7, Bstr(L"\\Applications\\Table\\Text").b, nullptr));
    waitRoot(s, 1, 20000);
    ULONG table = openRead(s, L"\\" + guid.text() + L"\\Applications\\Table");
    ASSERT_NE(0u, table);
    LONG index = indexOf(s, table, L"Text");
    ASSERT_GE(index, 0);
    Bstr name13;
    EXPECT_EQ(S_OK, s->LUDGetEntryName(table, static_cast<ULONG>(index), name13.out()));
    EXPECT_EQ(5u, SysStringLen(name13.b));
    Bstr value17(L"x");
    EXPECT_EQ(S_OK, s->LUDGetEntryValueString(table, static_cast<ULONG>(index), value17.out()));
    EXPECT_EQ(nullptr, value17.b);
    EXPECT_EQ(S_OK, s->LUDClose(table));
    (void)id7;
    EXPECT_EQ(S_OK, s->APDCloseAllEntry(7, directory.b));
    EXPECT_EQ(S_OK, s->Uninitialize());
}

bool documented(HRESULT result)
{
    DWORD code = static_cast<DWORD>(result);
    return result == S_OK || (code & 0xFFFF0000) == 0xE0040000 || (code & 0xFFFF0000) == 0x80070000;
}

// A directory read over the wire, as another node reads it: a raw connection to the server's
// port asks for the counter (type 18), then the directory (type 17), and its reply's bytes are
// as typed here: the one-character text as its two units padded to 4, the empty one as a null
// item, its length 0 alone.
TEST(Methods, ADirectoryOnTheWire)
{
    Client client;
    ASSERT_EQ(S_OK, client.Start());
    IQuarnSrv* s = client.server;
    ULONG id = 0;
    ASSERT_EQ(S_OK, s->GetNewAppID(&id));
    ASSERT_EQ(S_OK, s->APDChangeEntryValueString(id, Bstr(L"\\Wire\\E").b, Bstr(L"").b));
    ASSERT_EQ(S_OK, s->APDChangeEntryValueString(id, Bstr(L"\\Wire\\O").b, Bstr(L"a").b));

    CQuarnRawPeer peer;
    SOCKET raw = CQuarnRawPeer::connectTo(CQuarnRawPeer::parseAddress("127.0.0.1"), 4997, 10000);
    ASSERT_NE(INVALID_SOCKET, raw);
    auto ask = [raw](WORD type, CQuarnRawPeer::Packet& answer) {
        return CQuarnRawPeer::sendAll(raw, CQuarnRawPeer::packet(type, 0, CQuarnRawPeer::request(0x11223344, L"\\Wire")),
                                      10000)
            && CQuarnRawPeer::readPacket(raw, answer, 10000);
    };
    CQuarnRawPeer::Packet counter, reply;
    ASSERT_TRUE(ask(18, counter));
    ASSERT_EQ(18, counter.type);
    ASSERT_EQ(0, counter.status);
    ASSERT_EQ(8u, counter.data.size());
    ASSERT_TRUE(ask(17, reply));
    closesocket(raw);
    EXPECT_EQ(17, reply.type);
    EXPECT_EQ(0, reply.status);
    // Handle, the counter as the counter request told it, two entries, newest first.
    std::vector<BYTE> expected = {0x11, 0x22, 0x33, 0x44};
    expected.insert(expected.end(), counter.data.begin() + 4, counter.data.end());
    const BYTE rest[] = {0x00, 0x00, 0x00, 0x02,
                         0x00, 0x00, 0x00, 0x18, 0x00, 0x00, 0x00, 0x02, 0x00, 0x00, 0x00, 0x04, 0x00, 0x4F, 0x00, 0x00,
                         0x00, 0x00, 0x00, 0x04, 0x00, 0x61, 0x00, 0x00,
                         0x00, 0x00, 0x00, 0x14, 0x00, 0x00, 0x00, 0x02, 0x00, 0x00, 0x00, 0x04, 0x00, 0x45, 0x00, 0x00,
                         0x00, 0x00, 0x00, 0x00};
    expected.insert(expected.end(), rest, rest + sizeof(rest));
    EXPECT_EQ(CQuarnRawPeer::hex(expected), CQuarnRawPeer::hex(reply.data));
    EXPECT_EQ(S_OK, s->APDCloseAllEntry(id, Bstr(L"\\Wire").b));
    EXPECT_EQ(S_OK, s->Uninitialize());
}

// Every number up to the highest handle + 10 given to each method that takes a handle.
TEST(Methods, AnyHandleNumber)
{
    Client client;
    ASSERT_EQ(S_OK, client.Start());
    IQuarnSrv* s = client.server;
    std::vector<std::wstring> root = waitRoot(s, 1, 20000);
    ASSERT_EQ(1u, root.size());
    ULONG highest = 0;
    for (const std::wstring& path : {std::wstring(L"\\"), L"\\" + root[0], L"\\" + root[0] + L"\\Computer Information"}) {
        ULONG handle = openRead(s, path);
        EXPECT_NE(0u, handle);
        highest = std::max(highest, handle);
    }
    ULONG transfer = 0;
    EXPECT_EQ(S_OK, s->FileTransferOpen(Bstr(L"\\" + root[0] + L"\\Applications\\Probe").b,
                                        Bstr(L"\\Applications\\Send").b, Bstr(L"n").b, 0, &transfer));
    highest = std::max(highest, transfer);
    for (ULONG h = 0; h <= highest + 10; ++h) {
        if (h == transfer)
            continue;
        Bstr text;
        ULONG number = 0;
        LONG value = 0;
        VARIANT variant;
        VariantInit(&variant);
        const HRESULT results[] = {
            s->LUDGetEntryCount(h, &number), s->LUDGetEntryName(h, 0, text.out()), s->LUDGetEntryType(h, 0, &number),
            s->LUDGetEntryValueInt(h, 0, &value), s->LUDGetEntryValueString(h, 0, text.out()),
            s->LUDGetEntryValueBinary(h, 0, &variant), s->LUDGetEntryName(h, 0xFFFFFFFF, text.out()),
            s->LUDRefresh(h), s->FileTransferGetTempName(h, text.out()), s->FileTransferGetNickname(h, text.out()),
            s->FileTransferGetSenderName(h, text.out()), s->FileTransferExec(h), s->FileTransferClose(h),
        };
        for (HRESULT r : results)
            EXPECT_TRUE(documented(r)) << "handle " << h << ": 0x" << std::hex << r;
        VariantClear(&variant);
    }
    for (ULONG h = 0; h <= highest + 10; ++h)
        EXPECT_TRUE(documented(s->LUDClose(h))) << h;
    // Long paths and paths with a zero inside.
    std::wstring longPath = L"\\Applications\\" + std::wstring(65536, L'a');
    ULONG handle = 0;
    HRESULT r = s->APDChangeEntryValueInt(7, Bstr(longPath).b, 1);
    EXPECT_TRUE(documented(r)) << std::hex << r;
    r = s->LUDOpen(Bstr(L"\\" + root[0] + longPath).b, 0, &handle);
    EXPECT_TRUE(documented(r)) << std::hex << r;
    std::wstring zero = L"\\Applications\\Zero";
    zero += L'\0';
    zero += L"Tail";
    EXPECT_EQ(static_cast<HRESULT>(0x80070057), s->APDChangeEntryValueInt(7, Bstr(zero).b, 1));
    EXPECT_EQ(static_cast<HRESULT>(0x80070057), s->APDOpenEntry(7, Bstr(zero).b, 1));
    EXPECT_EQ(static_cast<HRESULT>(0x80070057), s->LUDOpen(Bstr(zero).b, 0, &handle));
    EXPECT_EQ(0u, handle);
    // A zero at the end is the terminator the protocol counts.
    std::wstring ended = L"\\Applications\\Ended";
    ended += L'\0';
    EXPECT_EQ(S_OK, s->APDChangeEntryValueInt(7, Bstr(ended).b, 1));
    EXPECT_EQ(S_OK, s->APDCloseEntry(7, Bstr(L"\\Applications\\Ended").b));
    // Still serving.
    ULONG version = 0;
    EXPECT_EQ(S_OK, s->GetServerVersion(&version));
    EXPECT_EQ(S_OK, s->APDCloseAllEntry(7, Bstr(L"\\Applications").b));
    EXPECT_EQ(S_OK, s->Uninitialize());
}

// ---- a host without a display

// The server that COM starts on a fresh host without a display makes its windows: it starts
// its core and answers.
TEST(Headless, TheServerComStartsInitializes)
{
    Client client;
    ASSERT_EQ(S_OK, client.Start());
    ULONG version = 0;
    EXPECT_EQ(S_OK, client.server->GetServerVersion(&version));
    EXPECT_EQ(0x00010003u, version);
    ULONG id = 0;
    EXPECT_EQ(S_OK, client.server->GetNewAppID(&id));
    EXPECT_EQ(S_OK, client.server->Uninitialize());
}

// ---- lifetime

TEST(Lifetime, OneProcessUntilQuiet)
{
    ASSERT_TRUE(serverPids().empty());
    Client client;
    DWORD start = GetTickCount();
    ASSERT_EQ(S_OK, client.Create());
    std::printf("FIGURE cold activation %lu ms (about 1100 expected)\n", GetTickCount() - start);
    std::vector<DWORD> first = serverPids();
    ASSERT_EQ(1u, first.size());
    client.Drop();
    Sleep(3000);
    ASSERT_EQ(S_OK, client.Create());
    EXPECT_EQ(first, serverPids()) << "a new process served the second object";
    client.Drop();
    DWORD released = GetTickCount();
    // Timed through the prefix's process list.
    std::vector<DWORD> now;
    do {
        Sleep(50);
        now = serverPids();
    } while (std::find(now.begin(), now.end(), first[0]) != now.end() && GetTickCount() - released < 15000);
    DWORD elapsed = GetTickCount() - released;
    std::printf("FIGURE exit %lu ms after the last release\n", elapsed);
    EXPECT_GE(elapsed, 5500u);
    EXPECT_LE(elapsed, 8000u);
    EXPECT_TRUE(serverPids().empty());
}

TEST(Lifetime, TwoClientProcessesShareOneCore)
{
    Client client;
    ASSERT_EQ(S_OK, client.Start());
    IQuarnSrv* s = client.server;
    ULONG id = 0;
    ASSERT_EQ(S_OK, s->GetNewAppID(&id));
    EXPECT_EQ(1u, id);
    // The child initialises, takes id 2, uninitialises and still finds the core (id 3). The
    // database lock held here neither blocks nor excludes it: the server has one thread.
    ASSERT_EQ(S_OK, s->DBLock());
    HANDLE child = startChild("share");
    ASSERT_NE(nullptr, child);
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(child, 30000));
    DWORD code = 1;
    GetExitCodeProcess(child, &code);
    CloseHandle(child);
    EXPECT_EQ(0u, code);
    EXPECT_EQ(S_OK, s->DBUnlock());
    EXPECT_EQ(1u, serverPids().size());
    ASSERT_EQ(S_OK, s->GetNewAppID(&id));
    EXPECT_EQ(4u, id);
    EXPECT_EQ(S_OK, s->Uninitialize());
    EXPECT_EQ(NOT_UP, s->GetNewAppID(&id));
}

int childShare()
{
    Client client;
    if (FAILED(client.Create()) || FAILED(client.server->Initialize()))
        return 2;
    ULONG id = 0;
    if (FAILED(client.server->GetNewAppID(&id)) || id != 2)
        return 3;
    LONG locked = 0;
    if (client.server->DBLock() != S_OK || client.server->DBIsLocked(&locked) != S_OK || locked != 1
        || client.server->DBUnlock() != S_OK)
        return 6;
    if (FAILED(client.server->Uninitialize()))
        return 4;
    if (FAILED(client.server->GetNewAppID(&id)) || id != 3)
        return 5;
    return 0;
}

// ---- a client that dies

const wchar_t DEAD_DIR[] = L"\\Applications\\Dead";

int childDead()
{
    Client client;
    if (FAILED(client.Create()) || FAILED(client.server->Initialize()))
        return 2;
    IQuarnSrv* s = client.server;
    HWND window = makeWindow();
    ULONG id = 0;
    s->GetNewAppID(&id);
    std::wstring number = std::to_wstring(id);
    s->DBLock();
    s->APDChangeEntryValueString(id, Bstr(std::wstring(DEAD_DIR) + L"\\Mine").b, Bstr(L"x").b);
    s->APDChangeEntryValueString(SHARED, Bstr(std::wstring(DEAD_DIR) + L"\\" + number + L"\\User Name").b,
                                 Bstr(L"u").b);
    s->APDWatchWndAdd(id, numberOf(window), Bstr(DEAD_DIR).b);
    s->DBUnlock();
    writeShare("dead.id", narrow(number));
    // Waits to be killed.
    pumpUntil([] { return false; }, 60000);
    return 0;
}

TEST(DeadClient, ItsEntriesGo)
{
    Client client;
    ASSERT_EQ(S_OK, client.Start());
    IQuarnSrv* s = client.server;
    HWND window = makeWindow();
    ULONG id = 0;
    ASSERT_EQ(S_OK, s->GetNewAppID(&id));
    std::wstring number = std::to_wstring(id);
    ASSERT_EQ(S_OK, s->APDChangeEntryValueString(id, Bstr(std::wstring(DEAD_DIR) + L"\\Other").b, Bstr(L"y").b));
    ASSERT_EQ(S_OK, s->APDChangeEntryValueString(
                        SHARED, Bstr(std::wstring(DEAD_DIR) + L"\\" + number + L"\\User Name").b, Bstr(L"v").b));
    ASSERT_EQ(S_OK, s->APDWatchWndAdd(id, numberOf(window), Bstr(DEAD_DIR).b));
    std::wstring guid = ownGuid(s);
    ASSERT_EQ(1u, waitRoot(s, 1, 20000).size());

    HANDLE child = startChild("dead");
    ASSERT_NE(nullptr, child);
    std::string deadId;
    ASSERT_TRUE(readShare("dead.id", deadId, 30000));
    std::wstring dead = wide(deadId);
    ULONG handle = openRead(s, L"\\" + guid + DEAD_DIR);
    ASSERT_NE(0u, handle);
    std::vector<std::wstring> before = names(s, handle);
    EXPECT_TRUE(contains(before, L"Mine") && contains(before, dead));
    TerminateProcess(child, 9);
    WaitForSingleObject(child, 10000);
    CloseHandle(child);
    DWORD killed = GetTickCount();
    std::vector<std::wstring> after;
    do {
        pumpUntil([] { return false; }, 500);
        s->LUDRefresh(handle);
        ULONG count = 0;
        while (s->LUDGetEntryCount(handle, &count) == static_cast<HRESULT>(0x800703E4))
            Sleep(50);
        after = names(s, handle);
    } while ((contains(after, L"Mine") || contains(after, dead)) && GetTickCount() - killed < 10000);
    std::printf("FIGURE entries gone %lu ms after the kill\n", GetTickCount() - killed);
    EXPECT_FALSE(contains(after, L"Mine"));
    EXPECT_FALSE(contains(after, dead));
    EXPECT_TRUE(contains(after, L"Other"));
    EXPECT_TRUE(contains(after, number));
    s->LUDClose(handle);
    EXPECT_EQ(S_OK, s->APDWatchWndDel(id));
    EXPECT_EQ(S_OK, s->Uninitialize());
    DestroyWindow(window);
}

// ---- two hosts

// Notices of one handle: first, then strictly rising progress at most one per interval, last.
void checkSequence(const std::vector<Notice>& notices, DWORD first, DWORD last)
{
    ASSERT_GE(notices.size(), 2u);
    EXPECT_EQ(first, notices.front().code);
    EXPECT_EQ(last, notices.back().code);
    for (size_t i = 1; i + 1 < notices.size(); ++i) {
        EXPECT_GT(notices[i].code, notices[i - 1].code) << i;
        EXPECT_LT(notices[i].code, last) << i;
        if (i >= 2) {
            EXPECT_GE(notices[i].time - notices[i - 1].time, 90u) << "progress " << i;
        }
    }
    for (const Notice& n : notices)
        EXPECT_EQ(notices.front().handle, n.handle);
}

TEST(TwoHosts, A)
{
    Client client;
    ASSERT_EQ(S_OK, client.Start());
    IQuarnSrv* s = client.server;
    std::wstring guidA = ownGuid(s);
    std::string guidB, nameB;
    ASSERT_TRUE(readShare("B.ready", guidB, 60000));
    ASSERT_TRUE(readShare("B.name", nameB, 1000));
    std::wstring gB = wide(guidB);
    // The root lists both nodes.
    std::vector<std::wstring> root = waitRoot(s, 2, 30000);
    EXPECT_EQ(2u, root.size());
    EXPECT_TRUE(contains(root, guidA));
    EXPECT_TRUE(contains(root, gB));

    // B's computer name, the BSTR's length counting its zero.
    ULONG info = openRead(s, L"\\" + gB + L"\\Computer Information");
    ASSERT_NE(0u, info);
    LONG index = indexOf(s, info, L"Computer Name");
    ASSERT_GE(index, 0);
    Bstr name;
    EXPECT_EQ(S_OK, s->LUDGetEntryValueString(info, static_cast<ULONG>(index), name.out()));
    EXPECT_EQ(wide(nameB), name.text());
    EXPECT_EQ(nameB.size() + 1, SysStringLen(name.b));
    s->LUDClose(info);

    // Binary values of 3 and 0 bytes.
    ULONG bin = openRead(s, L"\\" + gB + L"\\Applications\\Bin");
    ASSERT_NE(0u, bin);
    struct Binary {
        const wchar_t* name;
        std::vector<BYTE> bytes;
    } binaries[] = {{L"Three", {1, 2, 3}}, {L"Empty", {}}};
    for (const Binary& b : binaries) {
        LONG at = indexOf(s, bin, b.name);
        ASSERT_GE(at, 0);
        VARIANT value;
        VariantInit(&value);
        ASSERT_EQ(S_OK, s->LUDGetEntryValueBinary(bin, static_cast<ULONG>(at), &value));
        ASSERT_EQ(VT_ARRAY | VT_UI1, V_VT(&value));
        LONG lower = 0, upper = 0;
        SafeArrayGetLBound(V_ARRAY(&value), 1, &lower);
        SafeArrayGetUBound(V_ARRAY(&value), 1, &upper);
        ASSERT_EQ(static_cast<LONG>(b.bytes.size()), upper - lower + 1);
        if (!b.bytes.empty()) {
            BYTE* data = nullptr;
            SafeArrayAccessData(V_ARRAY(&value), reinterpret_cast<void**>(&data));
            EXPECT_EQ(b.bytes, std::vector<BYTE>(data, data + b.bytes.size()));
            SafeArrayUnaccessData(V_ARRAY(&value));
        }
        VariantClear(&value);
    }
    s->LUDClose(bin);

    // 8 MB to B's watched directory.
    HWND window = makeWindow();
    ULONG transfer = 0;
    ASSERT_EQ(S_OK, s->FileTransferOpen(Bstr(L"\\" + gB + L"\\Applications\\Recv").b,
                                        Bstr(L"\\" + guidA + L"\\Applications\\Send\\1").b, Bstr(L"picture.png").b,
                                        numberOf(window), &transfer));
    Bstr temp;
    ASSERT_EQ(S_OK, s->FileTransferGetTempName(transfer, temp.out()));
    writeBytes(narrow(temp.text()), filePattern());
    ASSERT_EQ(S_OK, s->FileTransferExec(transfer));
    // The end: done, or a failure status (0xE004xxxx) or a platform error.
    auto ended = [] {
        if (g_notices.empty())
            return false;
        DWORD code = g_notices.back().code;
        return code == 0x20040064 || (code & 0xFFFF0000) == 0xE0040000 || code < 0x10000;
    };
    EXPECT_TRUE(pumpUntil(ended, 120000));
    pumpUntil([] { return false; }, 1000); // nothing after the end
    checkSequence(g_notices, 0x20040000, 0x20040064);
    EXPECT_EQ(transfer, g_notices.front().handle);
    std::string done;
    EXPECT_TRUE(readShare("B.done", done, 60000));
    EXPECT_EQ("ok", done);
    writeShare("A.done", "ok");
    EXPECT_EQ(S_OK, s->Uninitialize());
    DestroyWindow(window);
}

TEST(TwoHosts, B)
{
    Client client;
    ASSERT_EQ(S_OK, client.Start());
    IQuarnSrv* s = client.server;
    ULONG id = 0;
    ASSERT_EQ(S_OK, s->GetNewAppID(&id));
    SAFEARRAY* three = SafeArrayCreateVector(VT_UI1, 0, 3);
    BYTE* data = nullptr;
    SafeArrayAccessData(three, reinterpret_cast<void**>(&data));
    data[0] = 1, data[1] = 2, data[2] = 3;
    SafeArrayUnaccessData(three);
    VARIANT value;
    VariantInit(&value);
    V_VT(&value) = VT_ARRAY | VT_UI1;
    V_ARRAY(&value) = three;
    EXPECT_EQ(S_OK, s->APDChangeEntryValueBinary(id, Bstr(L"\\Applications\\Bin\\Three").b, value));
    VariantClear(&value);
    V_VT(&value) = VT_ARRAY | VT_UI1;
    V_ARRAY(&value) = SafeArrayCreateVector(VT_UI1, 0, 0);
    EXPECT_EQ(S_OK, s->APDChangeEntryValueBinary(id, Bstr(L"\\Applications\\Bin\\Empty").b, value));
    VariantClear(&value);
    HWND window = makeWindow();
    ASSERT_EQ(S_OK, s->APDWatchWndAdd(id, numberOf(window), Bstr(L"\\Applications\\Recv").b));
    announceHost("B", narrow(ownGuid(s)));

    bool received = pumpUntil([] { return !g_notices.empty() && g_notices.back().code >= 0x20040164; }, 150000);
    EXPECT_TRUE(received);
    pumpUntil([] { return false; }, 1000);
    checkSequence(g_notices, 0x20040100, 0x20040164);
    bool same = false;
    if (received && !g_notices.empty()) {
        ULONG handle = static_cast<ULONG>(g_notices.front().handle);
        Bstr temp, nickname;
        EXPECT_EQ(S_OK, s->FileTransferGetNickname(handle, nickname.out()));
        EXPECT_EQ(L"picture.png", nickname.text());
        EXPECT_EQ(S_OK, s->FileTransferGetTempName(handle, temp.out()));
        std::vector<BYTE> bytes = readBytes(narrow(temp.text()));
        same = bytes == filePattern();
        EXPECT_TRUE(same) << "received " << bytes.size() << " bytes";
        EXPECT_EQ(S_OK, s->FileTransferClose(handle));
        EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(temp.b));
    }
    writeShare("B.done", same && !::testing::Test::HasFailure() ? "ok" : "failed");
    std::string done;
    EXPECT_TRUE(readShare("A.done", done, 150000));
    EXPECT_EQ(S_OK, s->APDWatchWndDel(id));
    EXPECT_EQ(S_OK, s->Uninitialize());
    DestroyWindow(window);
}

} // namespace

int main(int argc, char** argv)
{
    char self[MAX_PATH];
    GetModuleFileNameA(nullptr, self, MAX_PATH);
    g_self = self;
    if (argc >= 4 && std::string(argv[1]) == "child") {
        g_share = argv[3];
        std::string mode = argv[2];
        return mode == "share" ? childShare() : mode == "dead" ? childDead() : 64;
    }
    initGoogleTestWithShare(argc, argv);
    if (argc >= 3)
        g_module = argv[2];
    return RUN_ALL_TESTS();
}
