// The outside objects that are told of the start and the end: fakes registered in this process
// under the two classes, as an installed one would be.
#include "CTav.h"

#include <objbase.h>
#include <oleauto.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

const CLSID FIRST = {0x14A55B35, 0x246A, 0x11D3, {0xB1, 0xD5, 0x00, 0x10, 0x5A, 0x1F, 0x41, 0x84}};
const CLSID SECOND = {0xFB99C639, 0xB3F9, 0x11D2, {0xB1, 0x4C, 0x00, 0x10, 0x5A, 0x1F, 0x41, 0x84}};

// Notes every call as "method(arg,arg,...)": I4 as its number, a BSTR in quotes.
class FakeAutomation : public IDispatch {
public:
    std::vector<std::string> calls;
    LONG references = 1;

    STDMETHODIMP QueryInterface(REFIID iid, void** object) override
    {
        if (iid == IID_IUnknown || iid == IID_IDispatch) {
            *object = static_cast<IDispatch*>(this);
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++references; }
    STDMETHODIMP_(ULONG) Release() override { return --references; }
    STDMETHODIMP GetTypeInfoCount(UINT* count) override
    {
        *count = 0;
        return S_OK;
    }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT* result, EXCEPINFO*,
                        UINT*) override
    {
        std::string call = std::to_string(id) + (flags & DISPATCH_METHOD ? "(" : "?(");
        for (UINT i = params->cArgs; i-- > 0;) {   // last first
            const VARIANT& arg = params->rgvarg[i];
            if (arg.vt == VT_I4) {
                call += std::to_string(arg.lVal);
            } else if (arg.vt == VT_BSTR) {
                std::wstring text(arg.bstrVal != nullptr ? arg.bstrVal : L"");
                call += "\"" + std::string(text.begin(), text.end()) + "\"";
            } else {
                call += "vt" + std::to_string(arg.vt);
            }
            if (i != 0)
                call += ",";
        }
        calls.push_back(call + ")");
        if (result != nullptr) {
            result->vt = VT_I4;
            result->lVal = 0;
        }
        return S_OK;
    }
};

class FakeFactory : public IClassFactory {
public:
    explicit FakeFactory(FakeAutomation* object) : object_(object) {}
    STDMETHODIMP QueryInterface(REFIID iid, void** object) override
    {
        if (iid == IID_IUnknown || iid == IID_IClassFactory) {
            *object = static_cast<IClassFactory*>(this);
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    STDMETHODIMP CreateInstance(IUnknown* outer, REFIID iid, void** object) override
    {
        if (outer != nullptr)
            return CLASS_E_NOAGGREGATION;
        return object_->QueryInterface(iid, object);
    }
    STDMETHODIMP LockServer(BOOL) override { return S_OK; }

private:
    FakeAutomation* object_;
};

class HostRegistrationTest : public ::testing::Test {
protected:
    void SetUp() override { CoInitialize(nullptr); }
    void TearDown() override
    {
        for (DWORD cookie : cookies_)
            CoRevokeClassObject(cookie);
        CoUninitialize();
    }
    void install(REFCLSID clsid, FakeFactory* factory)
    {
        DWORD cookie = 0;
        ASSERT_EQ(S_OK, CoRegisterClassObject(clsid, factory, CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER,
                                              REGCLS_MULTIPLEUSE, &cookie));
        cookies_.push_back(cookie);
    }
    // The application's instance and thread as the objects get them.
    static std::string expectedStart(const CTav& app, bool withText)
    {
        return "1(" + std::to_string(static_cast<long>(reinterpret_cast<LONG_PTR>(app.m_hInstance))) + "," +
               std::to_string(static_cast<long>(GetCurrentThreadId())) + (withText ? ",\"\")" : ")");
    }

    FakeAutomation first, second;
    FakeFactory firstFactory{&first}, secondFactory{&second};

private:
    std::vector<DWORD> cookies_;
};

TEST_F(HostRegistrationTest, TheFirstClassGetsInstanceThreadAndAnEmptyTextAtTheStartAndMethodTwoAtTheEnd)
{
    install(FIRST, &firstFactory);
    install(SECOND, &secondFactory);
    CTav app;
    app.m_hInstance = GetModuleHandleA(nullptr);
    app.startHostRegistration();
    EXPECT_TRUE(CTav::isHostRegistrationStarted());
    EXPECT_EQ(std::vector<std::string>{expectedStart(app, true)}, first.calls);
    EXPECT_TRUE(second.calls.empty());
    app.ExitInstance();
    EXPECT_EQ((std::vector<std::string>{expectedStart(app, true), "2()"}), first.calls);
    EXPECT_EQ(1, first.references);   // released
    EXPECT_TRUE(second.calls.empty());
}

TEST_F(HostRegistrationTest, WithoutTheFirstClassTheSecondGetsInstanceAndThread)
{
    install(SECOND, &secondFactory);
    CTav app;
    app.m_hInstance = GetModuleHandleA(nullptr);
    app.startHostRegistration();
    app.ExitInstance();
    EXPECT_EQ((std::vector<std::string>{expectedStart(app, false), "2()"}), second.calls);
    EXPECT_EQ(1, second.references);
}

TEST_F(HostRegistrationTest, WithNeitherClassTheStartIsStillMarked)
{
    CTav app;
    app.startHostRegistration();
    EXPECT_TRUE(CTav::isHostRegistrationStarted());
    // A start that never ran ends with 1.
    EXPECT_EQ(1, app.ExitInstance());
}

} // namespace
