// Automation calls through IDispatch against a fake class registered in this process.
#include "COleDispatchDriver.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// The class the main window asks for its notice colours.
const CLSID kFakeClass = {0x0F006B1C, 0xC00B, 0x11D2, {0xB1, 0x5A, 0x00, 0x10, 0x5A, 0x1F, 0x41, 0x84}};

std::string narrow(BSTR text) {
    std::string out;
    for (UINT i = 0; text && i < SysStringLen(text); ++i)
        out += static_cast<char>(text[i]);
    return out;
}

// Records each call's arguments in the caller's order ("I4 7", "BYREF", "BSTR x"); method 1
// writes 0x123456 into a by-reference argument and answers 99.
class FakeAutomation : public IDispatch, public IClassFactory {
public:
    LONG references = 1;
    std::vector<std::vector<std::string>> calls;
    std::vector<DISPID> ids;
    std::vector<WORD> flagsSeen;   // of every call, those refused too

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDispatch))
            *object = static_cast<IDispatch*>(this);
        else if (IsEqualIID(iid, IID_IClassFactory))
            *object = static_cast<IClassFactory*>(this);
        else {
            *object = nullptr;
            return E_NOINTERFACE;
        }
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return InterlockedIncrement(&references); }
    ULONG STDMETHODCALLTYPE Release() override { return InterlockedDecrement(&references); }

    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** object) override {
        return outer ? CLASS_E_NOAGGREGATION : QueryInterface(iid, object);
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }

    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
        *count = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params,
                                     VARIANT* result, EXCEPINFO*, UINT*) override {
        flagsSeen.push_back(flags);
        if (flags != DISPATCH_METHOD)
            return DISP_E_MEMBERNOTFOUND;
        ids.push_back(id);
        std::vector<std::string> args;
        for (UINT i = params->cArgs; i-- > 0;) {
            VARIANT& arg = params->rgvarg[i];
            if (arg.vt == VT_I4)
                args.push_back("I4 " + std::to_string(arg.lVal));
            else if (arg.vt == (VT_I4 | VT_BYREF)) {
                args.push_back("BYREF");
                if (id == 1)
                    *arg.plVal = 0x123456;
            } else if (arg.vt == VT_BSTR)
                args.push_back("BSTR " + narrow(arg.bstrVal));
            else
                args.push_back("vt " + std::to_string(arg.vt));
        }
        calls.push_back(args);
        if (result) {
            result->vt = VT_I4;
            result->lVal = 99;
        }
        return S_OK;
    }
};

// Registers the fake for the test's thread, with COM started.
class Registered {
public:
    explicit Registered(FakeAutomation& fake) {
        CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        registered_ = CoRegisterClassObject(kFakeClass, static_cast<IClassFactory*>(&fake),
                                            CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE, &cookie_);
    }
    ~Registered() {
        if (SUCCEEDED(registered_))
            CoRevokeClassObject(cookie_);
        CoUninitialize();
    }
    HRESULT result() const { return registered_; }

private:
    HRESULT registered_;
    DWORD cookie_ = 0;
};

}  // namespace

TEST(COleDispatchDriver, CallsAMethodWithIntegersTextsAndAWrittenResult) {
    FakeAutomation fake;
    {
        Registered registration(fake);
        ASSERT_EQ(S_OK, registration.result());
        const LONG start = fake.references;
        {
            COleDispatchDriver driver;
            ASSERT_TRUE(driver.CreateDispatch(kFakeClass));
            ASSERT_NE(nullptr, driver.m_lpDispatch);
            EXPECT_GT(fake.references, start);

            long colour = 0;
            long answer = 0;
            EXPECT_EQ(S_OK, driver.InvokeMethod(1, {7, &colour}, &answer));
            EXPECT_EQ(0x123456, colour);
            EXPECT_EQ(99, answer);
            EXPECT_EQ(S_OK, driver.InvokeMethod(2, {0x1000, 4242, ""}));
            EXPECT_EQ(S_OK, driver.InvokeMethod(3, {}));
            ASSERT_EQ(3u, fake.calls.size());
            EXPECT_EQ((std::vector<std::string>{"I4 7", "BYREF"}), fake.calls[0]);
            EXPECT_EQ((std::vector<std::string>{"I4 4096", "I4 4242", "BSTR "}), fake.calls[1]);
            EXPECT_EQ(std::vector<std::string>{}, fake.calls[2]);
            EXPECT_EQ((std::vector<DISPID>{1, 2, 3}), fake.ids);
            // Released by hand, then nothing to call.
            driver.ReleaseDispatch();
            EXPECT_EQ(nullptr, driver.m_lpDispatch);
            EXPECT_EQ(start, fake.references);
            EXPECT_EQ(E_POINTER, driver.InvokeMethod(1, {7}));
            // Made again and left to the destructor.
            ASSERT_TRUE(driver.CreateDispatch(kFakeClass));
        }
        EXPECT_EQ(start, fake.references);
    }
}

TEST(COleDispatchDriver, AnUnknownClassOrProgIdGivesNoObject) {
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    {
        COleDispatchDriver driver;
        const CLSID unknown = {0x5B2C7A10, 0x1111, 0x4222, {0x83, 0x33, 0x44, 0x44, 0x55, 0x55, 0x66, 0x66}};
        EXPECT_FALSE(driver.CreateDispatch(unknown));
        EXPECT_EQ(nullptr, driver.m_lpDispatch);
        EXPECT_FALSE(driver.CreateDispatch("KeldarOrvalis.KeepOriginalUI"));
        EXPECT_EQ(nullptr, driver.m_lpDispatch);
        EXPECT_FALSE(driver.CreateDispatch(static_cast<LPCSTR>(nullptr)));
    }
    CoUninitialize();
}

TEST(COleDispatchDriver, ProgIdNamesTheClassRegisteredUnderIt) {
    // A ProgID of the test's own (in the test prefix's registry), pointing at the fake.
    const char* progId = "TavelinTest.AppwinFakeAutomation";
    const std::string key = std::string(progId) + "\\CLSID";
    const char* clsid = "{0F006B1C-C00B-11D2-B15A-00105A1F4184}";
    ASSERT_EQ(ERROR_SUCCESS, RegSetValueA(HKEY_CLASSES_ROOT, key.c_str(), REG_SZ, clsid,
                                          static_cast<DWORD>(strlen(clsid))));
    FakeAutomation fake;
    {
        Registered registration(fake);
        ASSERT_EQ(S_OK, registration.result());
        COleDispatchDriver driver;
        EXPECT_TRUE(driver.CreateDispatch(progId));
        long answer = 0;
        EXPECT_EQ(S_OK, driver.InvokeMethod(1, {0, 0}, &answer));
        EXPECT_EQ(99, answer);
    }
    RegDeleteKeyA(HKEY_CLASSES_ROOT, key.c_str());
    RegDeleteKeyA(HKEY_CLASSES_ROOT, progId);
    EXPECT_EQ(1, fake.references);
}

namespace {

// The object source of the next test: the fake for one name only.
FakeAutomation* g_sourced = nullptr;
std::vector<std::string> g_asked;

IDispatch* sourceOf(LPCSTR progId) {
    g_asked.push_back(progId);
    if (std::string(progId) != "KeldarOrvalis.KeepOriginalUI" || g_sourced == nullptr)
        return nullptr;
    g_sourced->AddRef();
    return g_sourced;
}

}  // namespace

TEST(COleDispatchDriver, AnObjectSourceStandsInForTheClassesOfProgIds) {
    FakeAutomation fake;
    g_sourced = &fake;
    g_asked.clear();
    COleDispatchDriver::SetObjectSource(&sourceOf);
    {
        COleDispatchDriver driver;
        ASSERT_TRUE(driver.CreateDispatch("KeldarOrvalis.KeepOriginalUI"));
        EXPECT_EQ(2, fake.references);
        // The slider's call: its window handle and 0, the answer as a 32-bit integer.
        long answer = 0;
        EXPECT_EQ(S_OK, driver.InvokeMethod(1, {0x10A2C, 0}, &answer));
        EXPECT_EQ(99, answer);
        EXPECT_EQ((std::vector<DISPID>{1}), fake.ids);
        EXPECT_EQ((std::vector<WORD>{DISPATCH_METHOD}), fake.flagsSeen);
        EXPECT_EQ((std::vector<std::vector<std::string>>{{"I4 68140", "I4 0"}}), fake.calls);

        // Another name: no object, so nothing to call, and the object held before is let go.
        EXPECT_FALSE(driver.CreateDispatch("KeldarOrvalis.Unknown"));
        EXPECT_EQ(nullptr, driver.m_lpDispatch);
        EXPECT_EQ(1, fake.references);
        EXPECT_EQ(E_POINTER, driver.InvokeMethod(1, {0x10A2C, 0}));
        EXPECT_EQ(1u, fake.calls.size());
        EXPECT_EQ(1u, fake.flagsSeen.size());
        ASSERT_TRUE(driver.CreateDispatch("KeldarOrvalis.KeepOriginalUI"));
    }
    EXPECT_EQ(1, fake.references);
    EXPECT_EQ((std::vector<std::string>{"KeldarOrvalis.KeepOriginalUI", "KeldarOrvalis.Unknown",
                                        "KeldarOrvalis.KeepOriginalUI"}),
              g_asked);
    // Without the source, COM's classes again: this name has none.
    COleDispatchDriver::SetObjectSource(nullptr);
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    {
        COleDispatchDriver driver;
        EXPECT_FALSE(driver.CreateDispatch("KeldarOrvalis.KeepOriginalUI"));
    }
    CoUninitialize();
    EXPECT_EQ(3u, g_asked.size());
    g_sourced = nullptr;
}
