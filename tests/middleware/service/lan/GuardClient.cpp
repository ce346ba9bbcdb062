// A client of quarnguard.exe on a host of a test LAN: it runs the program's switches, drives
// the service through the service control manager and calls it through COM (lan_test.sh
// selects the tests).
//
//   quarnguard_client --gtest_filter=GROUP.* SERVICE_EXE
#include "quarnguard.h"

#include <gtest/gtest.h>

#include <objbase.h>
#include <windows.h>

#include <string>
#include <vector>

namespace {

std::string g_module;

const char SERVICE_NAME[] = "Quarnhost Service";
const char APPID_KEY[] = "Software\\Classes\\AppID\\{E50DCC62-84D5-4E68-8342-E5646159332D}";
const char CLASS_KEY[] = "Software\\Classes\\CLSID\\{901EC484-76EE-4360-92F5-CC7CE037E200}";
// A start or a stop of the service takes about a second here.
const DWORD STATE_WAIT_MS = 10000;

// The program with one switch; its exit code.
DWORD runSwitch(const char* which)
{
    std::string line = "\"" + g_module + "\" " + which;
    STARTUPINFOA startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    if (!CreateProcessA(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
        return GetLastError();
    DWORD exitCode = 0xFFFFFFFF;
    if (WaitForSingleObject(process.hProcess, 60000) == WAIT_OBJECT_0)
        GetExitCodeProcess(process.hProcess, &exitCode);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return exitCode;
}

bool readValue(const char* key, const char* name, std::string& data)
{
    char buffer[512] = {};
    DWORD size = sizeof(buffer);
    if (RegGetValueA(HKEY_LOCAL_MACHINE, key, name, RRF_RT_REG_SZ, nullptr, buffer, &size) != ERROR_SUCCESS)
        return false;
    data = buffer;
    return true;
}

bool keyExists(const char* key)
{
    HKEY opened;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, key, 0, KEY_READ, &opened) != ERROR_SUCCESS)
        return false;
    RegCloseKey(opened);
    return true;
}

// The service's handle (null when it does not exist) with the manager's.
struct Service {
    SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    SC_HANDLE service = manager ? OpenServiceA(manager, SERVICE_NAME, SERVICE_ALL_ACCESS) : nullptr;
    ~Service()
    {
        if (service)
            CloseServiceHandle(service);
        if (manager)
            CloseServiceHandle(manager);
    }
    DWORD State()
    {
        SERVICE_STATUS status = {};
        return service && QueryServiceStatus(service, &status) ? status.dwCurrentState : 0;
    }
    // The process that runs the service, 0 when none does.
    DWORD Pid()
    {
        SERVICE_STATUS_PROCESS status = {};
        DWORD needed = 0;
        return service && QueryServiceStatusEx(service, SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&status),
                                               sizeof(status), &needed)
                   ? status.dwProcessId
                   : 0;
    }
    // Waits for the state; whether it came in time.
    bool WaitFor(DWORD state, DWORD ms = STATE_WAIT_MS)
    {
        DWORD start = GetTickCount();
        while (State() != state) {
            if (GetTickCount() - start >= ms)
                return false;
            Sleep(50);
        }
        return true;
    }
};

TEST(Registration, AsAServiceAndBack)
{
    ASSERT_EQ(0u, runSwitch("-Service"));
    std::string data;
    EXPECT_TRUE(readValue(APPID_KEY, "LocalService", data));
    EXPECT_EQ(SERVICE_NAME, data);
    EXPECT_TRUE(readValue(APPID_KEY, "ServiceParameters", data));
    EXPECT_EQ("-Service", data);
    EXPECT_TRUE(readValue(CLASS_KEY, nullptr, data));
    EXPECT_EQ("QuarnSrv Class", data);
    {
        Service s;
        ASSERT_NE(nullptr, s.service);
        std::vector<BYTE> buffer(8192);
        DWORD needed = 0;
        auto* config = reinterpret_cast<QUERY_SERVICE_CONFIGA*>(buffer.data());
        ASSERT_TRUE(QueryServiceConfigA(s.service, config, static_cast<DWORD>(buffer.size()), &needed));
        EXPECT_EQ(0x10u, config->dwServiceType);
        EXPECT_EQ(2u, config->dwStartType);
        EXPECT_EQ(1u, config->dwErrorControl);
        EXPECT_STREQ("LocalSystem", config->lpServiceStartName);
    }
    // The platform's configuration query leaves the dependencies out; its registry has them.
    char dependencies[64] = {};
    DWORD size = sizeof(dependencies);
    EXPECT_EQ(ERROR_SUCCESS, RegGetValueA(HKEY_LOCAL_MACHINE, "System\\CurrentControlSet\\Services\\Quarnhost Service",
                                          "DependOnService", RRF_RT_REG_MULTI_SZ, nullptr, dependencies, &size));
    EXPECT_STREQ("RPCSS", dependencies);
    ASSERT_EQ(0u, runSwitch("-RegServer"));
    EXPECT_FALSE(readValue(APPID_KEY, "LocalService", data)) << "a plain server is no service";
    EXPECT_EQ(nullptr, Service().service);
    ASSERT_EQ(0u, runSwitch("-UnregServer"));
    EXPECT_FALSE(keyExists(APPID_KEY));
    EXPECT_FALSE(keyExists(CLASS_KEY));
    EXPECT_EQ(nullptr, Service().service);
}

TEST(Lifecycle, FiveCyclesLeaveNothing)
{
    for (int cycle = 0; cycle < 5; ++cycle) {
        SCOPED_TRACE(cycle);
        ASSERT_EQ(0u, runSwitch("-Service"));
        {
            Service s;
            ASSERT_NE(nullptr, s.service);
            EXPECT_EQ(static_cast<DWORD>(SERVICE_STOPPED), s.State());
            ASSERT_TRUE(StartServiceA(s.service, 0, nullptr)) << GetLastError();
            ASSERT_TRUE(s.WaitFor(SERVICE_RUNNING));
        }
        if (cycle == 0) {
            // Registered again while it runs (no handle of ours open, which would hold its
            // deletion): the old one goes, the new one is there.
            ASSERT_EQ(0u, runSwitch("-Service"));
            ASSERT_EQ(0u, runSwitch("-Service"));
            EXPECT_NE(nullptr, Service().service);
        }
        {
            Service s;
            ASSERT_NE(nullptr, s.service);
            if (s.State() == SERVICE_RUNNING) {
                SERVICE_STATUS status = {};
                ASSERT_TRUE(ControlService(s.service, SERVICE_CONTROL_STOP, &status));
                EXPECT_TRUE(s.WaitFor(SERVICE_STOPPED));
            }
        }
        ASSERT_EQ(0u, runSwitch("-UnregServer"));
        EXPECT_EQ(nullptr, Service().service);
        EXPECT_FALSE(keyExists(APPID_KEY));
    }
}

TEST(Lifecycle, StartThenStopTwentyTimes)
{
    ASSERT_EQ(0u, runSwitch("-Service"));
    for (int round = 0; round < 20; ++round) {
        SCOPED_TRACE(round);
        Service s;
        ASSERT_NE(nullptr, s.service);
        ASSERT_TRUE(StartServiceA(s.service, 0, nullptr)) << GetLastError();
        HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, s.Pid());
        SERVICE_STATUS status = {};
        // At once, perhaps while it is still starting.
        for (int i = 0; i < 100 && !ControlService(s.service, SERVICE_CONTROL_STOP, &status); ++i)
            Sleep(20);
        EXPECT_TRUE(s.WaitFor(SERVICE_STOPPED)) << "state " << s.State();
        // Stopped is told before the process has ended; the platform's manager refuses a
        // start (1359) while the old process is still there.
        if (process) {
            EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(process, STATE_WAIT_MS));
            CloseHandle(process);
        }
    }
    ASSERT_EQ(0u, runSwitch("-UnregServer"));
}

TEST(Answers, ActivationStartsTheStoppedService)
{
    ASSERT_EQ(0u, runSwitch("-Service"));
    CoInitialize(nullptr);
    IQuarnguard* server = nullptr;
    ASSERT_EQ(S_OK, CoCreateInstance(CLSID_Quarnguard, nullptr, CLSCTX_LOCAL_SERVER, IID_IQuarnguard,
                                     reinterpret_cast<void**>(&server)));
    EXPECT_EQ(static_cast<DWORD>(SERVICE_RUNNING), Service().State());
    EXPECT_EQ(S_OK, server->Initialize());
    ULONG number = 0;
    EXPECT_EQ(S_OK, server->GetServerVersion(&number));
    EXPECT_EQ(0x00010101u, number);
    EXPECT_EQ(S_OK, server->GetNewWndID(&number));
    EXPECT_EQ(1u, number);
    EXPECT_EQ(S_OK, server->GetNewWndID(&number));
    EXPECT_EQ(2u, number);
    LONG exists = 7;
    EXPECT_EQ(S_OK, server->MsgIsExist(&exists));
    EXPECT_EQ(S_OK, server->Uninitialize());
    {
        Service s;
        SERVICE_STATUS status = {};
        ASSERT_TRUE(ControlService(s.service, SERVICE_CONTROL_STOP, &status));
        EXPECT_TRUE(s.WaitFor(SERVICE_STOPPED));
    }
    EXPECT_TRUE(FAILED(server->GetServerVersion(&number))) << "its server has gone";
    server->Release();
    CoUninitialize();
    ASSERT_EQ(0u, runSwitch("-UnregServer"));
}

} // namespace

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    if (argc >= 2)
        g_module = argv[1];
    return RUN_ALL_TESTS();
}
