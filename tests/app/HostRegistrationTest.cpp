// The outside objects that are told of the start and the end: fakes registered in this process
// under the two classes, as an installed one would be.
#include "CBuilder.h"
#include "CTav.h"
#include "FakeClassObject.h"
#include "TestSupport.h"

#include <objbase.h>
#include <oleauto.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace {

std::string besideThisTest()
{
    char path[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, path, sizeof(path));
    std::string folder(path);
    return folder.substr(0, folder.rfind('\\') + 1);
}

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

class HostRegistrationTest : public ::testing::Test {
protected:
    void SetUp() override { CoInitialize(nullptr); }
    void TearDown() override
    {
        classes_.clear();
        CoUninitialize();
    }
    void install(REFCLSID clsid, FakeAutomation* object)
    {
        classes_.push_back(std::make_unique<FakeClassObject>(clsid, object));
        ASSERT_TRUE(classes_.back()->isRegistered());
    }
    // The application's instance and thread as the objects get them.
    static std::string expectedStart(const CTav& app, bool withText)
    {
        return "1(" + std::to_string(static_cast<long>(reinterpret_cast<LONG_PTR>(app.m_hInstance))) + "," +
               std::to_string(static_cast<long>(GetCurrentThreadId())) + (withText ? ",\"\")" : ")");
    }

    FakeAutomation first, second;

private:
    std::vector<std::unique_ptr<FakeClassObject>> classes_;
};

TEST_F(HostRegistrationTest, TheFirstClassGetsInstanceThreadAndAnEmptyTextAtTheStartAndMethodTwoAtTheEnd)
{
    install(FIRST, &first);
    install(SECOND, &second);
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
    install(SECOND, &second);
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

namespace {

// The program's key in this prefix: the start-up scenarios share it, one at a time.
const char PROGRAM_KEY[] = "Software\\Keldar Corporation\\Tavelin\\2.0";

TEST(ApplicationStartTest, WithoutTheResourceLibraryTheBuiltInBoxEndsTheStart)
{
    TempDir dir;   // no tavlang.dll here
    if (isChild()) {
        CTav app;
        BOOL started = app.InitInstance();
        int code = app.ExitInstance();
        auto boxes = shownBoxes();
        bool box = boxes.size() == 1 && boxes[0].text == "tavlang.dll not found. Tavelin will terminate." &&
                   boxes[0].caption == "Tavelin" && boxes[0].type == static_cast<UINT>(MB_ICONERROR) &&
                   boxes[0].owner == nullptr;
        std::printf("started=%d code=%d box=%d\n", started, code, box ? 1 : 0);
        std::fflush(stdout);
        exit(0);
    }
    RegDeleteTreeA(HKEY_CURRENT_USER, PROGRAM_KEY);
    EXPECT_EQ(0, runInChild(dir));
    std::string out = fileBytes(dir.file("child.txt"));
    EXPECT_NE(std::string::npos, out.find("started=0 code=1 box=1")) << out;
    // Nothing stored.
    HKEY key = nullptr;
    EXPECT_NE(ERROR_SUCCESS, RegOpenKeyExA(HKEY_CURRENT_USER, PROGRAM_KEY, 0, KEY_READ, &key));
}

TEST(ApplicationStartTest, TheMessageTestShowsTheTwentyEightMessagesInOrder)
{
    HMODULE library = LoadLibraryA((besideThisTest() + "tavlang.dll").c_str());
    ASSERT_NE(nullptr, library);
    AfxSetResourceHandle(library);
    clearShownBoxes();
    CBuilder::showAllUserMessages();
    const UINT ids[] = {104,   62000, 62002, 62003, 62004, 63000, 63001, 63002, 63003, 63004,
                        63005, 63006, 63007, 63008, 63009, 63010, 63011, 63012, 63013, 63014,
                        63015, 63016, 63017, 63017, 63026, 63021, 62005, 62006};
    auto boxes = shownBoxes();
    ASSERT_EQ(28u, boxes.size());
    for (size_t i = 0; i < boxes.size(); ++i) {
        char text[512] = {};
        LoadStringA(library, ids[i], text, sizeof(text));
        EXPECT_NE("", std::string(text)) << ids[i];
        EXPECT_EQ(text, boxes[i].text) << i;
        EXPECT_EQ("Tavelin", boxes[i].caption) << i;
        UINT type = ids[i] == 63026 || ids[i] == 62005 ? MB_YESNO : MB_OK;
        EXPECT_EQ(type, boxes[i].type) << ids[i];
        EXPECT_EQ(nullptr, boxes[i].owner) << i;
    }
    AfxSetResourceHandle(nullptr);
    FreeLibrary(library);
}

} // namespace
