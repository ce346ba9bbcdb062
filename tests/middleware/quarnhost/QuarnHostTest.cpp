// The server program's parts that run without a server core: the switches, the registry table,
// the type library, the methods before Initialize, the error form and the shutdown monitor.
// (Whatever starts a core broadcasts: that runs only on the hosts of a test LAN.)
#include "CQuarnHost.h"
#include "CQuarnModule.h"
#include "CQuarnRegistrar.h"
#include "CQuarnSrv.h"
#include "QuarnCodes.h"
#include "QuarnSwitch.h"

#include <gtest/gtest.h>

#include <oleauto.h>

#include <algorithm>
#include <atomic>
#include <string>
#include <thread>
#include <vector>

namespace {

TEST(QuarnSwitchTest, RecognisesOnlyAWholeSwitch)
{
    struct Case {
        const char* line;
        QuarnSwitch expected;
    } cases[] = {
        {"quarnhost.exe -RegServer", QuarnSwitch::RegServer},
        {"quarnhost.exe /REGSERVER", QuarnSwitch::RegServer},
        {"quarnhost.exe -regserver", QuarnSwitch::RegServer},
        {"quarnhost.exe -UnregServer", QuarnSwitch::UnregServer},
        {"quarnhost.exe /unregSERVER", QuarnSwitch::UnregServer},
        {"C:\\mw-files\\quarnhost.exe -RegServer", QuarnSwitch::RegServer},
        {"quarnhost.exe --RegServer", QuarnSwitch::RegServer},
        {"quarnhost.exe -RegServer extra", QuarnSwitch::Run},
        {"quarnhost.exe -RegServer ", QuarnSwitch::Run},
        {"quarnhost.exe -Reg-Server", QuarnSwitch::Run},
        {"quarnhost.exe RegServer", QuarnSwitch::Run},
        {"quarnhost.exe -Embedding", QuarnSwitch::Run},
        {"quarnhost.exe", QuarnSwitch::Run},
        {"", QuarnSwitch::Run},
        {nullptr, QuarnSwitch::Run},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.expected, ParseQuarnSwitch(c.line)) << (c.line ? c.line : "(null)");
}

// The registry table written into a test key of its own, read back and removed.
class RegistrarTest : public ::testing::Test {
protected:
    static constexpr const char* TEST_KEY = "Software\\TavelinTest\\QuarnRegistrar";
    void SetUp() override { RegDeleteTreeA(HKEY_CURRENT_USER, TEST_KEY); }
    void TearDown() override { RegDeleteTreeA(HKEY_CURRENT_USER, TEST_KEY); }

    static bool readValue(const std::string& key, const std::string& name, std::string& data)
    {
        char buffer[1024];
        DWORD size = sizeof(buffer);
        std::string full = std::string(TEST_KEY) + "\\" + key;
        if (RegGetValueA(HKEY_CURRENT_USER, full.c_str(), name.empty() ? nullptr : name.c_str(), RRF_RT_REG_SZ,
                         nullptr, buffer, &size)
            != ERROR_SUCCESS)
            return false;
        data = buffer;
        return true;
    }
    static bool keyExists(const std::string& key)
    {
        HKEY opened;
        std::string full = std::string(TEST_KEY) + "\\" + key;
        if (RegOpenKeyExA(HKEY_CURRENT_USER, full.c_str(), 0, KEY_READ, &opened) != ERROR_SUCCESS)
            return false;
        RegCloseKey(opened);
        return true;
    }
};

TEST_F(RegistrarTest, WritesTheTableAndRemovesItsOwnKeys)
{
    const std::string module = "C:\\Program Files\\Tavelin\\quarnhost.exe";
    CQuarnRegistrar registrar(HKEY_CURRENT_USER, TEST_KEY);
    // A stale value under the class key goes: the key is made afresh.
    HKEY stale;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyA(HKEY_CURRENT_USER,
                                           (std::string(TEST_KEY) + "\\CLSID\\{D04B612E-C43E-49C5-A0C5-E2999608C64B}\\InprocServer32").c_str(),
                                           &stale));
    RegCloseKey(stale);
    ASSERT_EQ(ERROR_SUCCESS, registrar.WriteTable(module));

    const std::string cls = "CLSID\\{D04B612E-C43E-49C5-A0C5-E2999608C64B}";
    struct Expected {
        std::string key, name, data;
    } expected[] = {
        {"AppID\\{774E287D-8E76-45C1-81C1-A7DB9214E41D}", "", "Quarnhost"},
        {"AppID\\Quarnhost.EXE", "AppID", "{774E287D-8E76-45C1-81C1-A7DB9214E41D}"},
        {"Quarnhost.QuarnSrv.1", "", "QuarnSrv Class"},
        {"Quarnhost.QuarnSrv.1\\CLSID", "", "{D04B612E-C43E-49C5-A0C5-E2999608C64B}"},
        {"Quarnhost.QuarnSrv", "", "QuarnSrv Class"},
        {"Quarnhost.QuarnSrv\\CLSID", "", "{D04B612E-C43E-49C5-A0C5-E2999608C64B}"},
        {"Quarnhost.QuarnSrv\\CurVer", "", "Quarnhost.QuarnSrv.1"},
        {cls, "", "QuarnSrv Class"},
        {cls, "AppID", "{774E287D-8E76-45C1-81C1-A7DB9214E41D}"},
        {cls + "\\ProgID", "", "Quarnhost.QuarnSrv.1"},
        {cls + "\\VersionIndependentProgID", "", "Quarnhost.QuarnSrv"},
        {cls + "\\LocalServer32", "", module},
        {cls + "\\TypeLib", "", "{A47E7BA1-57CC-4CBB-BDC4-7E244F061A94}"},
    };
    for (const Expected& e : expected) {
        std::string data;
        EXPECT_TRUE(readValue(e.key, e.name, data)) << e.key << " " << e.name;
        EXPECT_EQ(e.data, data) << e.key << " " << e.name;
    }
    EXPECT_TRUE(keyExists(cls + "\\Programmable"));
    EXPECT_FALSE(keyExists(cls + "\\InprocServer32"));

    // Others' keys beside ours stay when ours go.
    HKEY other;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyA(HKEY_CURRENT_USER, (std::string(TEST_KEY) + "\\CLSID\\{OTHER}").c_str(), &other));
    RegCloseKey(other);
    ASSERT_EQ(ERROR_SUCCESS, registrar.RemoveTable());
    for (const std::string& key : {std::string("AppID\\{774E287D-8E76-45C1-81C1-A7DB9214E41D}"),
                                   std::string("AppID\\Quarnhost.EXE"), std::string("Quarnhost.QuarnSrv.1"),
                                   std::string("Quarnhost.QuarnSrv"), cls})
        EXPECT_FALSE(keyExists(key)) << key;
    EXPECT_TRUE(keyExists("AppID"));
    EXPECT_TRUE(keyExists("CLSID\\{OTHER}"));
    // Removing again finds nothing to remove and is no failure.
    EXPECT_EQ(ERROR_SUCCESS, registrar.RemoveTable());
}

// The interface as its type library describes it: 38 methods with dispatch ids 1 to 38 in
// order, their parameter names and types.
TEST(QuarnTypeLibraryTest, DescribesTheInterface)
{
    struct Method {
        const char* name;
        std::vector<const char*> parameters;
        std::vector<VARTYPE> types; // the [out] ones as the type they point to
    };
    const VARTYPE U = VT_UI4, I = VT_I4, B = VT_BSTR, V = VT_VARIANT;
    const std::vector<Method> methods = {
        {"Initialize", {}, {}},
        {"Uninitialize", {}, {}},
        {"RegisterWnd", {"hWnd"}, {U}},
        {"DeregisterWnd", {"hWnd"}, {U}},
        {"APDOpenEntry", {"ulAppID", "strEntry", "ulType"}, {U, B, U}},
        {"APDCloseEntry", {"ulAppID", "strEntry"}, {U, B}},
        {"APDWatchWndChange", {"dwAppID", "dwHwnd"}, {U, U}},
        {"APDChangeEntryValueInt", {"ulAppID", "strEntry", "ulValue"}, {U, B, I}},
        {"APDChangeEntryValueString", {"ulAppID", "strEntry", "strValue"}, {U, B, B}},
        {"LUDOpen", {"strEntry", "ulHWnd", "ulLUDir"}, {B, U, U}},
        {"LUDClose", {"ulLUDir"}, {U}},
        {"LUDGetEntryCount", {"ulLUDir", "pulCount"}, {U, U}},
        {"LUDGetEntryName", {"ulLUDir", "ulIndex", "strEntry"}, {U, U, B}},
        {"LUDGetEntryType", {"ulLUDir", "ulIndex", "pulType"}, {U, U, U}},
        {"LUDRefresh", {"ulLUDir"}, {U}},
        {"LUDGetEntryValueInt", {"ulLUDir", "ulIndex", "plValue"}, {U, U, I}},
        {"LUDGetEntryValueString", {"ulLUDir", "ulIndex", "pstrValue"}, {U, U, B}},
        {"GetGUIDString", {"pstrEntry"}, {B}},
        {"GetNewAppID", {"ulAppID"}, {U}},
        {"APDCloseAllEntry", {"ulAppID", "strEntry"}, {U, B}},
        {"DBLock", {}, {}},
        {"DBUnlock", {}, {}},
        {"LUDGetEntryValueBinary", {"ulLUDir", "ulIndex", "pvarValue"}, {U, U, V}},
        {"APDChangeEntryValueBinary", {"ulAppID", "strEntry", "varValue"}, {U, B, V}},
        {"DBIsLocked", {"pbResult"}, {I}},
        {"FileTransferOpen", {"bstrDstDir", "bstrSrcDir", "bstrNickname", "dwHwnd", "dwHandle"}, {B, B, B, U, U}},
        {"FileTransferClose", {"dwHandle"}, {U}},
        {"FileTransferExec", {"dwHandle"}, {U}},
        {"FileTransferGetTempName", {"dwHandle", "strEntry"}, {U, B}},
        {"APDWatchWndAdd", {"dwAppID", "dwHwnd", "bstrDir"}, {U, U, B}},
        {"APDWatchWndDel", {"dwAppID"}, {U}},
        {"FileTransferGetNickname", {"dwHandle", "pbstrNickname"}, {U, B}},
        {"FileTransferGetSenderName", {"dwHandle", "pbstrSenderName"}, {U, B}},
        {"GetIP", {"strDir", "pstrIP"}, {B, B}},
        {"ProfSelectProfile", {"ulAppInstanceID", "strDir", "ulID", "pbResult"}, {U, B, U, I}},
        {"GetServerVersion", {"pulVer"}, {U}},
        {"ProfClearProfile", {"ulAppInstanceID", "strDir", "pbResult"}, {U, B, I}},
        {"LUProfileDirOpen", {"strEntry", "ulHWnd", "ulLUDir"}, {B, U, U}},
    };
    // The out parameters: every method's last one when it has a result; LUDGetEntryValueBinary's
    // is [out] without retval.
    const std::vector<std::string> withResult = {"LUDOpen", "LUDGetEntryCount", "LUDGetEntryName", "LUDGetEntryType",
        "LUDGetEntryValueInt", "LUDGetEntryValueString", "GetGUIDString", "GetNewAppID", "LUDGetEntryValueBinary",
        "DBIsLocked", "FileTransferOpen", "FileTransferGetTempName", "FileTransferGetNickname",
        "FileTransferGetSenderName", "GetIP", "ProfSelectProfile", "GetServerVersion", "ProfClearProfile",
        "LUProfileDirOpen"};

    WCHAR path[MAX_PATH];
    ASSERT_GT(GetModuleFileNameW(nullptr, path, MAX_PATH), 0u);
    ITypeLib* library = nullptr;
    ASSERT_EQ(S_OK, LoadTypeLibEx(path, REGKIND_NONE, &library));
    TLIBATTR* libraryAttributes = nullptr;
    ASSERT_EQ(S_OK, library->GetLibAttr(&libraryAttributes));
    EXPECT_TRUE(IsEqualGUID(LIBID_QUARNHOSTLib, libraryAttributes->guid));
    EXPECT_EQ(1, libraryAttributes->wMajorVerNum);
    EXPECT_EQ(0, libraryAttributes->wMinorVerNum);
    EXPECT_EQ(0x409u, libraryAttributes->lcid);
    library->ReleaseTLibAttr(libraryAttributes);
    BSTR doc = nullptr;
    ASSERT_EQ(S_OK, library->GetDocumentation(-1, nullptr, &doc, nullptr, nullptr));
    EXPECT_STREQ(L"Quarnhost 1.0 type library", doc);
    SysFreeString(doc);
    ITypeInfo* coclass = nullptr;
    ASSERT_EQ(S_OK, library->GetTypeInfoOfGuid(CLSID_QuarnSrv, &coclass));
    ASSERT_EQ(S_OK, coclass->GetDocumentation(MEMBERID_NIL, nullptr, &doc, nullptr, nullptr));
    EXPECT_STREQ(L"QuarnSrv Class", doc);
    SysFreeString(doc);
    coclass->Release();

    ITypeInfo* dispatch = nullptr;
    ASSERT_EQ(S_OK, library->GetTypeInfoOfGuid(IID_IQuarnSrv, &dispatch));
    ASSERT_EQ(S_OK, dispatch->GetDocumentation(MEMBERID_NIL, nullptr, &doc, nullptr, nullptr));
    EXPECT_STREQ(L"IQuarnSrv Interface", doc);
    SysFreeString(doc);
    TYPEATTR* attributes = nullptr;
    ASSERT_EQ(S_OK, dispatch->GetTypeAttr(&attributes));
    EXPECT_TRUE(attributes->wTypeFlags & TYPEFLAG_FDUAL);
    dispatch->ReleaseTypeAttr(attributes);
    // The vtable side of the dual interface.
    HREFTYPE reference = 0;
    ITypeInfo* info = nullptr;
    ASSERT_EQ(S_OK, dispatch->GetRefTypeOfImplType(-1, &reference));
    ASSERT_EQ(S_OK, dispatch->GetRefTypeInfo(reference, &info));
    ASSERT_EQ(S_OK, info->GetTypeAttr(&attributes));
    ASSERT_EQ(methods.size(), attributes->cFuncs);
    EXPECT_TRUE(attributes->wTypeFlags & TYPEFLAG_FOLEAUTOMATION);
    EXPECT_TRUE(attributes->wTypeFlags & TYPEFLAG_FDUAL);
    info->ReleaseTypeAttr(attributes);
    for (UINT index = 0; index < methods.size(); ++index) {
        const Method& method = methods[index];
        FUNCDESC* function = nullptr;
        ASSERT_EQ(S_OK, info->GetFuncDesc(index, &function));
        EXPECT_EQ(static_cast<MEMBERID>(index + 1), function->memid) << method.name;
        EXPECT_EQ(static_cast<SHORT>((7 + index) * sizeof(void*)), function->oVft) << method.name;
        EXPECT_EQ(VT_HRESULT, function->elemdescFunc.tdesc.vt) << method.name;
        BSTR names[8] = {};
        UINT count = 0;
        ASSERT_EQ(S_OK, info->GetNames(function->memid, names, 8, &count));
        ASSERT_EQ(method.parameters.size() + 1, count) << method.name;
        EXPECT_EQ(std::wstring(method.name, method.name + strlen(method.name)), std::wstring(names[0]));
        ASSERT_EQ(static_cast<SHORT>(method.parameters.size()), function->cParams) << method.name;
        bool hasResult = std::find(withResult.begin(), withResult.end(), method.name) != withResult.end();
        for (UINT p = 0; p < method.parameters.size(); ++p) {
            const char* expected = method.parameters[p];
            EXPECT_EQ(std::wstring(expected, expected + strlen(expected)), std::wstring(names[p + 1])) << method.name;
            const ELEMDESC& element = function->lprgelemdescParam[p];
            USHORT flags = element.paramdesc.wParamFlags;
            bool out = hasResult && p + 1 == method.parameters.size();
            VARTYPE type = element.tdesc.vt;
            if (out) {
                ASSERT_EQ(VT_PTR, type) << method.name;
                type = element.tdesc.lptdesc->vt;
                EXPECT_TRUE(flags & PARAMFLAG_FOUT) << method.name;
                EXPECT_EQ(std::string(method.name) != "LUDGetEntryValueBinary", (flags & PARAMFLAG_FRETVAL) != 0)
                    << method.name;
            } else {
                EXPECT_TRUE(flags & PARAMFLAG_FIN) << method.name << " " << expected;
            }
            EXPECT_EQ(method.types[p], type) << method.name << " " << expected;
        }
        for (UINT n = 0; n < count; ++n)
            SysFreeString(names[n]);
        info->ReleaseFuncDesc(function);
    }
    info->Release();
    dispatch->Release();
    library->Release();
}

// The server object's methods before any client started the core.
class QuarnSrvTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(nullptr, CQuarnSrv::GetCore());
        server = new CQuarnSrv;
    }
    void TearDown() override { server->Release(); }
    CQuarnSrv* server = nullptr;
};

TEST_F(QuarnSrvTest, EveryMethodButTheFiveNeedsTheCore)
{
    const HRESULT NOT_UP = static_cast<HRESULT>(ERROR_QUARN_SERVER_NOT_INITIALIZED);
    BSTR path = SysAllocString(L"\\Applications\\x");
    const BSTR SENTINEL = reinterpret_cast<BSTR>(static_cast<INT_PTR>(1));
    BSTR text = SENTINEL;
    ULONG number = 77;
    LONG value = 77;
    VARIANT variant;
    VariantInit(&variant);
    IQuarnSrv* s = server;
    struct Case {
        int dispid;
        HRESULT result;
    };
    auto textCall = [&](HRESULT result) {
        EXPECT_EQ(nullptr, text);
        text = SENTINEL;
        return result;
    };
    auto handleCall = [&](HRESULT result) {
        EXPECT_EQ(0u, number);
        number = 77;
        return result;
    };
    const Case cases[] = {
        {3, s->RegisterWnd(1)},
        {4, s->DeregisterWnd(1)},
        {5, s->APDOpenEntry(1, path, 1)},
        {6, s->APDCloseEntry(1, path)},
        {7, s->APDWatchWndChange(1, 1)},
        {8, s->APDChangeEntryValueInt(1, path, 5)},
        {9, s->APDChangeEntryValueString(1, path, path)},
        {10, handleCall(s->LUDOpen(path, 0, &number))},
        {11, s->LUDClose(1)},
        {12, s->LUDGetEntryCount(1, &number)},
        {13, textCall(s->LUDGetEntryName(1, 0, &text))},
        {14, handleCall(s->LUDGetEntryType(1, 0, &number))},
        {15, s->LUDRefresh(1)},
        {16, s->LUDGetEntryValueInt(1, 0, &value)},
        {17, textCall(s->LUDGetEntryValueString(1, 0, &text))},
        {18, textCall(s->GetGUIDString(&text))},
        {19, s->GetNewAppID(&number)},
        {20, s->APDCloseAllEntry(1, path)},
        {21, s->DBLock()},
        {22, s->DBUnlock()},
        {23, s->LUDGetEntryValueBinary(1, 0, &variant)},
        {24, s->APDChangeEntryValueBinary(1, path, variant)},
        {25, s->DBIsLocked(&value)},
        {26, handleCall(s->FileTransferOpen(path, path, path, 0, &number))},
        {27, s->FileTransferClose(1)},
        {28, s->FileTransferExec(1)},
        {29, textCall(s->FileTransferGetTempName(1, &text))},
        {30, s->APDWatchWndAdd(1, 1, path)},
        {31, s->APDWatchWndDel(1)},
        {32, textCall(s->FileTransferGetNickname(1, &text))},
        {33, textCall(s->FileTransferGetSenderName(1, &text))},
        {34, textCall(s->GetIP(path, &text))},
        {36, s->GetServerVersion(&number)},
    };
    for (const Case& c : cases)
        EXPECT_EQ(NOT_UP, c.result) << "method " << c.dispid;
    EXPECT_EQ(VT_EMPTY, V_VT(&variant));

    // The profile methods are not implemented, core or none; their result is 0.
    const HRESULT NOT_IMPLEMENTED = HRESULT_FROM_WIN32(ERROR_CALL_NOT_IMPLEMENTED);
    value = 5;
    EXPECT_EQ(NOT_IMPLEMENTED, s->ProfSelectProfile(1, path, 1, &value));
    EXPECT_EQ(0, value);
    value = 5;
    EXPECT_EQ(NOT_IMPLEMENTED, s->ProfClearProfile(1, path, &value));
    EXPECT_EQ(0, value);
    number = 5;
    EXPECT_EQ(NOT_IMPLEMENTED, s->LUProfileDirOpen(path, 1, &number));
    EXPECT_EQ(0u, number);
    SysFreeString(path);
}

TEST_F(QuarnSrvTest, UninitializeWithoutInitializeIsRefused)
{
    EXPECT_EQ(static_cast<HRESULT>(ERROR_QUARN_SERVER_REF_LESSTHAN_ZERO), server->Uninitialize());
    EXPECT_EQ(0, CQuarnSrv::GetInitializeCount());
    EXPECT_EQ(static_cast<HRESULT>(ERROR_QUARN_SERVER_REF_LESSTHAN_ZERO), server->Uninitialize());
    EXPECT_EQ(0, CQuarnSrv::GetInitializeCount());
    EXPECT_EQ(nullptr, CQuarnSrv::GetCore());
}

// IDispatch is served from the module's type library: the names give ids 1 to 38, and calls by
// id reach the methods.
TEST_F(QuarnSrvTest, DispatchesByName)
{
    IDispatch* dispatch = nullptr;
    ASSERT_EQ(S_OK, server->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&dispatch)));
    UINT infos = 0;
    EXPECT_EQ(S_OK, dispatch->GetTypeInfoCount(&infos));
    EXPECT_EQ(1u, infos);
    struct Name {
        const wchar_t* name;
        DISPID id;
    } names[] = {{L"Initialize", 1}, {L"LUDOpen", 10}, {L"DBLock", 21}, {L"getserverversion", 36},
                 {L"LUProfileDirOpen", 38}};
    for (const Name& n : names) {
        DISPID id = 0;
        LPOLESTR name = const_cast<LPOLESTR>(n.name);
        EXPECT_EQ(S_OK, dispatch->GetIDsOfNames(IID_NULL, &name, 1, LOCALE_SYSTEM_DEFAULT, &id));
        EXPECT_EQ(n.id, id);
    }
    DISPID id = 0;
    LPOLESTR unknown = const_cast<LPOLESTR>(L"NoSuchMethod");
    EXPECT_EQ(DISP_E_UNKNOWNNAME, dispatch->GetIDsOfNames(IID_NULL, &unknown, 1, LOCALE_SYSTEM_DEFAULT, &id));

    // LUProfileDirOpen by id, its result as the return value.
    VARIANT arguments[2];
    VariantInit(&arguments[0]);
    VariantInit(&arguments[1]);
    V_VT(&arguments[0]) = VT_UI4; // ulHWnd (arguments go in reverse)
    V_UI4(&arguments[0]) = 1;
    V_VT(&arguments[1]) = VT_BSTR;
    V_BSTR(&arguments[1]) = SysAllocString(L"\\");
    DISPPARAMS params = {arguments, nullptr, 2, 0};
    VARIANT result;
    VariantInit(&result);
    EXCEPINFO exception = {};
    HRESULT invoked = dispatch->Invoke(38, IID_NULL, LOCALE_SYSTEM_DEFAULT, DISPATCH_METHOD, &params, &result,
                                       &exception, nullptr);
    EXPECT_TRUE(invoked == HRESULT_FROM_WIN32(ERROR_CALL_NOT_IMPLEMENTED)
                || (invoked == DISP_E_EXCEPTION && exception.scode == HRESULT_FROM_WIN32(ERROR_CALL_NOT_IMPLEMENTED)))
        << std::hex << invoked;
    VariantClear(&arguments[1]);
    VariantClear(&result);
    SysFreeString(exception.bstrSource);
    SysFreeString(exception.bstrDescription);
    SysFreeString(exception.bstrHelpFile);
    dispatch->Release();
}

TEST(QuarnErrorFormTest, LastErrorBecomesHResult)
{
    struct Case {
        DWORD error;
        HRESULT result;
    } cases[] = {
        {0, S_OK},
        {0xE0040202, static_cast<HRESULT>(0xE0040202)},
        {0xE0040002, static_cast<HRESULT>(0xE0040002)},
        {0x20040164, static_cast<HRESULT>(0x20040164)},
        {ERROR_INVALID_HANDLE, static_cast<HRESULT>(0x80070006)},
        {ERROR_NOT_OWNER, static_cast<HRESULT>(0x80070120)},
        {996, static_cast<HRESULT>(0x800703E4)},
        {0x80070057, static_cast<HRESULT>(0x80070057)},
        {0x12345678, static_cast<HRESULT>(0x80075678)},
    };
    for (const Case& c : cases) {
        SetLastError(c.error);
        EXPECT_EQ(c.result, CQuarnSrv::HResultFromLastError()) << std::hex << c.error;
    }
}

TEST(QuarnErrorFormTest, WindowNumbersAreSignExtended)
{
    EXPECT_EQ(reinterpret_cast<HWND>(static_cast<LONG_PTR>(-1)), CQuarnSrv::WindowFromNumber(0xFFFFFFFF));
    EXPECT_EQ(reinterpret_cast<HWND>(static_cast<LONG_PTR>(static_cast<LONG>(0x80000010))),
              CQuarnSrv::WindowFromNumber(0x80000010));
    EXPECT_EQ(reinterpret_cast<HWND>(static_cast<LONG_PTR>(0x1234)), CQuarnSrv::WindowFromNumber(0x1234));
}

// The shutdown monitor with a short quiet period: no end while the module is held or taken
// again within the period; an end once it stays quiet.
TEST(QuarnModuleTest, EndsTheLoopOnlyAfterAQuietPeriod)
{
    const DWORD QUIET = 300;
    CQuarnModule module(QUIET);
    HANDLE ready = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    std::atomic<DWORD> quitTick{0};
    DWORD loopId = 0;
    std::thread loop([&] {
        loopId = GetCurrentThreadId();
        MSG message;
        PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE);
        SetEvent(ready);
        // Bounded: the test fails rather than hangs when WM_QUIT never comes.
        DWORD start = GetTickCount();
        while (GetTickCount() - start < 20000) {
            if (MsgWaitForMultipleObjects(0, nullptr, FALSE, 100, QS_ALLINPUT) != WAIT_OBJECT_0)
                continue;
            while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE))
                if (message.message == WM_QUIT) {
                    quitTick = GetTickCount();
                    return;
                }
        }
    });
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(ready, 5000));
    ASSERT_TRUE(module.StartMonitor(loopId));

    module.Lock();
    Sleep(2 * QUIET);
    EXPECT_EQ(0u, quitTick.load()) << "ended while held";
    module.Unlock();
    Sleep(QUIET / 2);
    module.Lock(); // taken again within the quiet period
    module.Unlock();
    DWORD lastRelease = GetTickCount();
    loop.join();
    ASSERT_NE(0u, quitTick);
    EXPECT_GE(quitTick.load() - lastRelease, QUIET - 20);
    module.WaitMonitor();
    CloseHandle(ready);
}

// A server whose class object cannot be offered (here: COM not initialised on its thread)
// ends with that failure instead of waiting for clients that cannot come.
TEST(QuarnHostServeTest, EndsWhenTheClassObjectCannotBeOffered)
{
    HRESULT result = S_OK;
    std::thread serve([&] { result = CQuarnHost::Serve(); });
    serve.join();
    EXPECT_EQ(CO_E_NOTINITIALIZED, result);
}

} // namespace
