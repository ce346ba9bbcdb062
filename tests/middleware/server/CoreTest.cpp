// The server core's pieces that work without the communication layer: its settings under a
// registry key of the test's own, the clean-up of stale temporary files, the client window list
// and the core lock. (Starting the core starts the layer, which broadcasts: that runs on the
// hosts of the test LAN.)
#include "CQuarnClientWndList.h"
#include "CQuarnSrvCore.h"
#include "QuarnGuidText.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>

namespace {

class QuarnCoreSettingsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        char name[128];
        snprintf(name, sizeof(name), "Software\\TavelinTests\\MiddlewareSettings-%lu-%llu", GetCurrentProcessId(),
                 static_cast<unsigned long long>(GetTickCount64()));
        key_ = name;
    }

    void TearDown() override { RegDeleteTreeA(HKEY_CURRENT_USER, key_.c_str()); }

    void setString(const char* value, const std::string& text)
    {
        HKEY key;
        ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, key_.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
                  ERROR_SUCCESS);
        RegSetValueExA(key, value, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                       static_cast<DWORD>(text.size() + 1));
        RegCloseKey(key);
    }

    void setNumber(const char* value, DWORD number)
    {
        HKEY key;
        ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, key_.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
                  ERROR_SUCCESS);
        RegSetValueExA(key, value, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number), sizeof(number));
        RegCloseKey(key);
    }

    // The stored "GUID" value, and its type.
    std::string storedGuid(DWORD* type = nullptr)
    {
        char text[128] = {};
        DWORD size = sizeof(text);
        DWORD valueType = 0;
        if (RegGetValueA(HKEY_CURRENT_USER, key_.c_str(), "GUID", RRF_RT_ANY, &valueType, text, &size) != ERROR_SUCCESS)
            return "";
        if (type != nullptr)
            *type = valueType;
        return text;
    }

    bool read(GUID& node, std::wstring& text, WORD& port)
    {
        return CQuarnSrvCore::ReadNodeSettings(HKEY_CURRENT_USER, key_.c_str(), node, text, port);
    }

    std::string key_;
};

TEST_F(QuarnCoreSettingsTest, TheFirstStartMakesTheIdentityAndLaterOnesReadIt)
{
    GUID node, again;
    std::wstring text, textAgain;
    WORD port = 0;
    ASSERT_TRUE(read(node, text, port));
    EXPECT_EQ(port, CQuarnSrvCore::DEFAULT_PORT);
    DWORD type = 0;
    std::string stored = storedGuid(&type);
    EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(std::wstring(stored.begin(), stored.end()), text);
    EXPECT_EQ(text, FormatBracedGuid(node));

    ASSERT_TRUE(read(again, textAgain, port));
    EXPECT_TRUE(IsEqualGUID(node, again));
    EXPECT_EQ(textAgain, text);
}

TEST_F(QuarnCoreSettingsTest, TheIdentityTextIsTheNodesNameInTheRoot)
{
    // Stored in lower case, it is still named in the upper-case braced form.
    setString("GUID", "{0a1b2c3d-4e5f-6071-8293-a4b5c6d7e8f9}");
    GUID node;
    std::wstring text;
    WORD port;
    ASSERT_TRUE(read(node, text, port));
    EXPECT_EQ(text, L"{0A1B2C3D-4E5F-6071-8293-A4B5C6D7E8F9}");
    EXPECT_EQ(storedGuid(), "{0a1b2c3d-4e5f-6071-8293-a4b5c6d7e8f9}");
}

TEST_F(QuarnCoreSettingsTest, AValueThatIsNoIdentityFailsAndStays)
{
    // Not even a ProgID that names a registered class stands for an identity.
    for (const char* stored : {"Quarnhost.QuarnSrv", "not a guid", "{0A1B2C3D-4E5F-6071-8293-A4B5C6D7E8F9"}) {
        setString("GUID", stored);
        GUID node;
        std::wstring text;
        WORD port;
        EXPECT_FALSE(read(node, text, port)) << stored;
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(CO_E_CLASSSTRING)) << stored;
        EXPECT_EQ(storedGuid(), stored);
    }
    // A value of another type is no identity text at all: a new one replaces it.
    setNumber("GUID", 7);
    GUID node;
    std::wstring text;
    WORD port;
    ASSERT_TRUE(read(node, text, port));
    DWORD type = 0;
    std::string written = storedGuid(&type);
    EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(std::wstring(written.begin(), written.end()), text);
}

TEST_F(QuarnCoreSettingsTest, OnlyADwordPortInRangeIsTaken)
{
    struct Case {
        const char* name;
        bool asText;
        DWORD number;
        WORD port;
    } cases[] = {
        {"REG_DWORD 5001", false, 5001, 5001},
        {"REG_SZ 5001", true, 5001, CQuarnSrvCore::DEFAULT_PORT},
        {"REG_DWORD 0", false, 0, CQuarnSrvCore::DEFAULT_PORT},
        {"REG_DWORD 70000", false, 70000, CQuarnSrvCore::DEFAULT_PORT},
        {"REG_DWORD 65535", false, 65535, 65535},
    };
    for (const Case& c : cases) {
        RegDeleteTreeA(HKEY_CURRENT_USER, key_.c_str());
        if (c.asText)
            setString("port", std::to_string(c.number));
        else
            setNumber("port", c.number);
        GUID node;
        std::wstring text;
        WORD port = 0;
        ASSERT_TRUE(read(node, text, port)) << c.name;
        EXPECT_EQ(port, c.port) << c.name;
    }
}

TEST(QuarnCore, StaleTemporaryFilesAreDeletedReadOnlyOrNot)
{
    TempDir dir;
    std::string folder = dir.path() + "\\";
    for (const char* name : {"QUARN1A2B.TMP", "QUARNX.TMP", "quarn77.tmp", "QUARX.TMP", "QUARN1.TXT"}) {
        HANDLE file = CreateFileA((folder + name).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        ASSERT_NE(file, INVALID_HANDLE_VALUE) << name;
        CloseHandle(file);
    }
    ASSERT_TRUE(SetFileAttributesA((folder + "QUARN1A2B.TMP").c_str(), FILE_ATTRIBUTE_READONLY));
    ASSERT_TRUE(CreateDirectoryA((folder + "QUARNDIR.TMP").c_str(), nullptr));
    CQuarnSrvCore::DeleteStaleTempFiles(folder);
    auto exists = [&](const char* name) { return GetFileAttributesA((folder + name).c_str()) != INVALID_FILE_ATTRIBUTES; };
    EXPECT_FALSE(exists("QUARN1A2B.TMP"));
    EXPECT_FALSE(exists("QUARNX.TMP"));
    EXPECT_FALSE(exists("quarn77.tmp"));
    EXPECT_TRUE(exists("QUARX.TMP"));
    EXPECT_TRUE(exists("QUARN1.TXT"));
    EXPECT_TRUE(exists("QUARNDIR.TMP"));
    RemoveDirectoryA((folder + "QUARNDIR.TMP").c_str());

    std::string temp;
    ASSERT_TRUE(CQuarnSrvCore::GetTempFolder(temp));
    EXPECT_EQ(temp.back(), '\\');
}

TEST(QuarnCore, AWindowRegisteredTwiceIsListedTwiceAndRemovedOnceAtATime)
{
    CQuarnClientWndList list;
    HWND a = reinterpret_cast<HWND>(0x100);
    HWND b = reinterpret_cast<HWND>(0x200);
    ASSERT_TRUE(list.Add(a));
    ASSERT_TRUE(list.Add(b));
    ASSERT_TRUE(list.Add(a));
    EXPECT_EQ(list.GetWindowsOldestFirst(), (std::vector<HWND>{a, b, a}));
    ASSERT_TRUE(list.Remove(a));
    EXPECT_EQ(list.GetWindowsOldestFirst(), (std::vector<HWND>{a, b}));
    EXPECT_FALSE(list.Remove(reinterpret_cast<HWND>(0x300)));
    ASSERT_TRUE(list.Remove(a));
    ASSERT_TRUE(list.Remove(b));
    EXPECT_TRUE(list.GetWindowsOldestFirst().empty());
}

TEST(QuarnCore, TheCoreLockCountsItsTakesAndKeepsOtherThreadsOut)
{
    CQuarnSrvCore core;
    EXPECT_FALSE(core.IsHeldByCaller());
    ASSERT_TRUE(core.Lock(INFINITE));
    EXPECT_TRUE(core.IsHeldByCaller());
    ASSERT_TRUE(core.Lock(0));
    bool taken = true;
    std::thread other([&] { taken = core.Lock(50); });
    other.join();
    EXPECT_FALSE(taken);
    ASSERT_TRUE(core.Unlock());
    EXPECT_TRUE(core.IsHeldByCaller());
    ASSERT_TRUE(core.Unlock());
    EXPECT_FALSE(core.IsHeldByCaller());
    EXPECT_FALSE(core.Unlock());
    // A core that never started stops without anything to do, and hands out ids from 1.
    EXPECT_TRUE(core.Stop());
    EXPECT_EQ(core.GetNewAppId(), 1u);
    EXPECT_EQ(core.GetNewAppId(), 2u);
    EXPECT_TRUE(core.GetGuidText().empty());
}

} // namespace
