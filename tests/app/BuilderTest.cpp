#include "CBuilder.h"
#include "CGuid.h"
#include "CPreferenceManager.h"
#include "CTavUtility.h"
#include "CTrace.h"
#include "ClientFixture.h"
#include "IGuiHandle.h"
#include "ILogicHandle.h"
#include "RegistryKey.h"

#include <CWinApp.h>
#include <CWnd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

namespace {

TEST(BuilderOptionTest, AValueRunsFromItsKeyToTheNextBlank)
{
    struct {
        const char* line;
        const char* key;
        const char* value;
    } cases[] = {
        {"NICKNAME=Ann B", "NICKNAME=", "Ann"},
        {"NICKNAME=\"Ann B\"", "NICKNAME=", "\"Ann"},           // quotes are plain characters
        {"SELF_ID=a SELF_ID=b", "SELF_ID=", "a"},                // the first occurrence
        {"XAPP_ID=inside", "APP_ID=", "inside"},                 // inside a longer word
        {"nickname=ann", "NICKNAME=", ""},                       // keys are case-sensitive
        {"DUMPLEVEL= DUMP", "DUMPLEVEL=", ""},                   // empty value
        {"A=1 DUMPLEVEL=3", "DUMPLEVEL=", "3"},                  // up to the end of the line
        {"", "APP_ID=", ""},
        {"CODE_SCOPE=CTav;CBuilder  x", "CODE_SCOPE=", "CTav;CBuilder"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.value, CBuilder::getOption(c.line, c.key)) << c.line;
}

TEST(BuilderOptionTest, TheDefaultNicknameIsTheUserName)
{
    char name[256] = {};
    DWORD size = sizeof(name);
    ASSERT_TRUE(GetUserNameA(name, &size));
    EXPECT_EQ(name, CBuilder::getDefaultNickname());
}

const wchar_t NODE[] = L"{AAAAAAAA-0000-0000-0000-000000000001}";
// The parent names the key and the command line; the child builds on them.
const char KEY_VARIABLE[] = "BUILDER_TEST_KEY";
const char LINE_VARIABLE[] = "BUILDER_TEST_LINE";

std::string environment(const char* name)
{
    char text[1024] = {};
    DWORD length = GetEnvironmentVariableA(name, text, sizeof(text));
    return length < sizeof(text) ? std::string(text, length) : std::string();
}

// What the builder handed the logic, noted by a director that the factory makes; its end is
// noted with what had been torn down before it.
struct Seen {
    bool made = false;
    IGuiHandle* gui = nullptr;
    std::string terminalId, appId, nickname, resourcePath;
    bool dump = false, level3 = false, level2 = false;
};
Seen g_seen;
const RegistryKey* g_key = nullptr;
FakeQuarnSrv* g_fake = nullptr;

class FakeLogic : public ILogicHandle {
public:
    ~FakeLogic() override
    {
        HWND window = g_seen.gui->getWindowHandle();
        std::printf("LOGIC GONE nickname=%d window=%d preferences=%d middleware=%d\n",
                    g_key->has("nickname") ? 1 : 0, IsWindow(window) ? 1 : 0, g_key->has("mute") ? 1 : 0,
                    g_fake->count("Uninitialize"));
    }
    void terminate() override {}
};

ILogicHandle* makeLogic(IGuiHandle* gui, CPreferenceManager* preferences, CQuarn*)
{
    g_seen.made = true;
    g_seen.gui = gui;
    g_seen.terminalId = preferences->getTerminalId();
    g_seen.appId = preferences->getAppId();
    g_seen.nickname = preferences->getNickname();
    g_seen.resourcePath = preferences->getResourcePath();
    g_seen.dump = CTrace::isDump();
    g_seen.level3 = CTrace::isTraced("AnyScope", 3);
    g_seen.level2 = CTrace::isTraced("AnyScope", 2);
    return new FakeLogic();
}

IGuiHandle* noGui(CWnd**, CPreferenceManager*, CQuarn*)
{
    return nullptr;
}

class BuilderTest : public ClientFixture {
protected:
    void SetUp() override
    {
        char name[64] = {};
        DWORD size = sizeof(name);
        GetComputerNameA(name, &size);
        std::string computer(name);
        addComputer(NODE, std::wstring(computer.begin(), computer.end()));
    }

    // In the child: a builder over the fake middleware with the parent's key and command line,
    // torn down again; what the logic saw is printed.
    [[noreturn]] void buildAndTearDown()
    {
        RegistryKey key(environment(KEY_VARIABLE));
        g_key = &key;
        g_fake = &fake;
        CTavUtility::setDirectorFactory(&makeLogic);
        // The resource library, loaded as the application object does before the builder: the
        // main window makes its dialog from it.
        char path[MAX_PATH] = {};
        GetModuleFileNameA(nullptr, path, sizeof(path));
        std::string folder(path);
        folder.resize(folder.rfind('\\') + 1);
        AfxSetResourceHandle(LoadLibraryA((folder + "tavlang.dll").c_str()));
        CWnd* mainWnd = nullptr;
        {
            std::string line = environment(LINE_VARIABLE);
            CBuilder builder(&mainWnd, line.c_str(), key.path(), "C:\\start");
            std::printf("MAIN WND %d\n", mainWnd != nullptr ? 1 : 0);
            std::printf("SEEN made=%d term=[%s] app=[%s] nick=[%s] res=[%s] dump=%d level3=%d level2=%d\n",
                        g_seen.made ? 1 : 0, g_seen.terminalId.c_str(), g_seen.appId.c_str(),
                        g_seen.nickname.c_str(), g_seen.resourcePath.c_str(), g_seen.dump ? 1 : 0,
                        g_seen.level3 ? 1 : 0, g_seen.level2 ? 1 : 0);
            std::fflush(stdout);
        }
        std::printf("AFTER middleware=%d\n", fake.count("Uninitialize"));
        std::fflush(stdout);
        exit(0);
    }

    // Runs the child on this key with the command line; its output. The test fails when the
    // child did not end with 0.
    std::string build(const RegistryKey& key, const std::string& line)
    {
        SetEnvironmentVariableA(KEY_VARIABLE, key.path().c_str());
        SetEnvironmentVariableA(LINE_VARIABLE, line.c_str());
        EXPECT_EQ(0, runInChild(dir));
        SetEnvironmentVariableA(KEY_VARIABLE, nullptr);
        SetEnvironmentVariableA(LINE_VARIABLE, nullptr);
        return fileBytes(dir.file("child.txt"));
    }
};

std::string field(const std::string& out, const std::string& name)
{
    size_t at = out.find(" " + name + "=[");
    if (at == std::string::npos)
        return "<none>";
    at += name.size() + 3;
    return out.substr(at, out.find(']', at) - at);
}

std::string flag(const std::string& out, const std::string& name)
{
    size_t at = out.find(" " + name + "=");
    return at == std::string::npos ? "<none>" : out.substr(at + name.size() + 2, 1);
}

std::string storedNickname(const RegistryKey& key)
{
    try {
        return CPreferenceManager::restoreNickname(key.path());
    } catch (...) {
        return "<none>";
    }
}

TEST_F(BuilderTest, TheNicknameComesFromTheOptionElseTheRegistryElseTheUserNameAndIsStoredAtTheEnd)
{
    if (isChild())
        buildAndTearDown();
    std::string user = CBuilder::getDefaultNickname();
    struct {
        const char* name;
        const char* line;
        const char* stored;   // null: none
        std::string expected;
    } cases[] = {
        {"option over stored", "NICKNAME=Ann B", "Stored", "Ann"},
        {"stored", "DUMP", "Stored", "Stored"},
        {"nothing stored", "", nullptr, user},
        {"stored empty", "", "", user},
    };
    for (const auto& c : cases) {
        RegistryKey key;
        if (c.stored != nullptr)
            key.setText("nickname", c.stored);
        std::string out = build(key, c.line);
        EXPECT_EQ(c.expected, field(out, "nick")) << c.name << ": " << out;
        EXPECT_EQ(c.expected, storedNickname(key)) << c.name;
    }
}

TEST_F(BuilderTest, WithoutOptionsTheTerminalIdIsANewGuidAndTheApplicationIdTheDefault)
{
    if (isChild())
        buildAndTearDown();
    RegistryKey key;
    std::string first = field(build(key, "NICKNAME=x"), "term");
    std::string second = field(build(key, ""), "term");
    ASSERT_NO_THROW(CGuid{first}) << first;
    EXPECT_EQ(first, CGuid(first).toString());   // the upper-case form
    EXPECT_NE(first, second);
    std::string out = build(key, "");
    EXPECT_EQ("764A7520-9D2C-11d4-AFDB-00105A67EDD0", field(out, "app")) << out;
    EXPECT_EQ("C:\\start", field(out, "res")) << out;
    out = build(key, "SELF_ID=T7 APP_ID=A9");
    EXPECT_EQ("T7", field(out, "term")) << out;
    EXPECT_EQ("A9", field(out, "app")) << out;
}

TEST_F(BuilderTest, TraceOptionsSetDumpAndLevel)
{
    if (isChild())
        buildAndTearDown();
    struct {
        const char* line;
        const char* dump;
        const char* level3;
        const char* level2;
    } cases[] = {
        {"", "0", "0", "0"},
        {"DUMP", "1", "1", "1"},
        // "DUMP" is part of the key, so a level given switches dump off again.
        {"DUMPLEVEL=3", "0", "1", "0"},
        {"DUMPLEVEL= ", "1", "1", "1"},
        {"dump", "0", "0", "0"},
    };
    RegistryKey key;
    for (const auto& c : cases) {
        std::string out = build(key, c.line);
        EXPECT_EQ(c.dump, flag(out, "dump")) << c.line << ": " << out;
        EXPECT_EQ(c.level3, flag(out, "level3")) << c.line << ": " << out;
        EXPECT_EQ(c.level2, flag(out, "level2")) << c.line << ": " << out;
    }
}

TEST_F(BuilderTest, TeardownStoresTheNicknameThenDeletesLogicGuiPreferencesAndMiddlewareInThisOrder)
{
    if (isChild())
        buildAndTearDown();
    RegistryKey key;
    key.create();
    std::string out = build(key, "NICKNAME=N");
    // When the logic goes the nickname is stored, the window is there, the preferences are not
    // saved yet and the middleware not released; after the builder it is.
    EXPECT_NE(std::string::npos, out.find("MAIN WND 1")) << out;
    EXPECT_NE(std::string::npos, out.find("LOGIC GONE nickname=1 window=1 preferences=0 middleware=0")) << out;
    EXPECT_NE(std::string::npos, out.find("AFTER middleware=1")) << out;
    EXPECT_EQ(0, key.number("mute"));
}

TEST_F(BuilderTest, WithoutAGuiNoLogicIsMade)
{
    if (isChild()) {
        CBuilder::setGuiFactory(&noGui);
        buildAndTearDown();
    }
    RegistryKey key;
    std::string out = build(key, "");
    EXPECT_NE(std::string::npos, out.find("MAIN WND 0")) << out;
    EXPECT_NE(std::string::npos, out.find("SEEN made=0")) << out;
}

} // namespace
