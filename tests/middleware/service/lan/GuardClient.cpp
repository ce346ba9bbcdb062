// A client of quarnguard.exe on a host of a test LAN: it runs the program's switches, drives
// the service through the service control manager (and "net") and calls it through COM
// (lan_test.sh selects the tests).
//
//   quarnguard_client --gtest_filter=GROUP.* SERVICE_EXE [QUARNHOST_EXE SHARE]
//   quarnguard_client hold-file PATH     (another process that holds a file open)
//   quarnguard_client hold-mutex         (another process that holds the queue's lock)
//   quarnguard_client hold-slot          (another client that holds a slot)
//
// SHARE is the folder the script sees too: the test asks it there for the Unix modes of files.
#include "Bstr.h"
#include "Processes.h"
#include "QuarnhostKeys.h"
#include "RegistryKeys.h"
#include "ServiceControl.h"
#include "ShareFolder.h"
#include "quarnguard.h"
#include "quarnhost.h"

#include <gtest/gtest.h>

#include <aclapi.h>
#include <objbase.h>
#include <sddl.h>
#include <oleauto.h>
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

std::string g_module;
std::string g_hostModule;
std::string g_self;

const char SERVICE_NAME[] = "Quarnhost Service";
const char APPID_KEY[] = "Software\\Classes\\AppID\\{E50DCC62-84D5-4E68-8342-E5646159332D}";
const char CLASS_KEY[] = "Software\\Classes\\CLSID\\{901EC484-76EE-4360-92F5-CC7CE037E200}";
const DWORD STATE_WAIT_MS = ServiceControl::STATE_WAIT_MS;

// A command line run to its end; its exit code.
DWORD runCommand(std::string line)
{
    HANDLE process = startProcess(line);
    if (!process)
        return GetLastError();
    DWORD exitCode = 0xFFFFFFFF;
    if (WaitForSingleObject(process, 60000) == WAIT_OBJECT_0)
        GetExitCodeProcess(process, &exitCode);
    CloseHandle(process);
    return exitCode;
}

// The program with one switch; its exit code.
DWORD runSwitch(const char* which)
{
    return runCommand("\"" + g_module + "\" " + which);
}

DWORD runHostSwitch(const char* which)
{
    return runCommand("\"" + g_hostModule + "\" " + which);
}

// The service under test.
struct Service : ServiceControl {
    Service() : ServiceControl(SERVICE_NAME) {}
};

const char NET_START[] = "net start \"Quarnhost Service\"";
const char NET_STOP[] = "net stop \"Quarnhost Service\"";
const char MUTEX_NAME[] = "Global\\QUARN_MSGMUTEX";
// The service's bound on its wait for the queue's lock, and what a call may add to it here.
const DWORD LOCK_WAIT_MS = 2000;
const DWORD CALL_SLACK_MS = 3000;
const HRESULT NOT_UP = static_cast<HRESULT>(0xE0040102);
const HRESULT PORT_IN_USE = static_cast<HRESULT>(0xE0040104);
const char GUARD_CLSID[] = "{901EC484-76EE-4360-92F5-CC7CE037E200}";
const char HOST_CLSID[] = "{D04B612E-C43E-49C5-A0C5-E2999608C64B}";

std::string tempPath()
{
    char path[MAX_PATH + 1] = {};
    GetTempPathA(MAX_PATH, path);
    return path;
}

// The service's own temporary folder, ending in a backslash.
std::string quarnTemp()
{
    return tempPath() + "QuarnTemp\\";
}

bool exists(const std::string& path)
{
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::string readText(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// Waits until no process of the program is left; whether that came in time.
bool waitNoProcess(const char* exeName, DWORD ms)
{
    DWORD start = GetTickCount();
    while (!processIds(exeName).empty()) {
        if (GetTickCount() - start >= ms)
            return false;
        Sleep(100);
    }
    return true;
}

// The program with no switch, a plain run, its output to the file; the process handle.
HANDLE startPlain(const std::string& outputFile)
{
    SECURITY_ATTRIBUTES inherit = {sizeof(inherit), nullptr, TRUE};
    HANDLE output = CreateFileA(outputFile.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                                CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (output == INVALID_HANDLE_VALUE)
        return nullptr;
    std::string line = "\"" + g_module + "\"";
    STARTUPINFOA startup = {};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = nullptr;
    startup.hStdOutput = output;
    startup.hStdError = output;
    PROCESS_INFORMATION process = {};
    BOOL started =
        CreateProcessA(nullptr, &line[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &process);
    CloseHandle(output);
    if (!started)
        return nullptr;
    CloseHandle(process.hThread);
    return process.hProcess;
}

// Waits until the file holds the text; whether it came in time.
bool waitForText(const std::string& path, const std::string& text, DWORD ms)
{
    DWORD start = GetTickCount();
    while (readText(path).find(text) == std::string::npos) {
        if (GetTickCount() - start >= ms)
            return false;
        Sleep(50);
    }
    return true;
}

// Another process of this program that holds something (a file open, the queue's lock) from
// its start until this object goes.
class Holder {
public:
    static constexpr const char* HELD_EVENT = "QuarnguardClientHeld";
    static constexpr const char* RELEASE_EVENT = "QuarnguardClientRelease";

    Holder()
        : m_held(CreateEventA(nullptr, TRUE, FALSE, HELD_EVENT)),
          m_release(CreateEventA(nullptr, TRUE, FALSE, RELEASE_EVENT))
    {
    }
    ~Holder()
    {
        Release();
        CloseHandle(m_held);
        CloseHandle(m_release);
    }
    // Starts it with the arguments; whether it holds what it was given.
    bool Start(const std::string& arguments)
    {
        m_process = startProcess("\"" + g_self + "\" " + arguments);
        if (!m_process)
            return false;
        HANDLE both[] = {m_held, m_process};
        return WaitForMultipleObjects(2, both, FALSE, 20000) == WAIT_OBJECT_0;
    }
    bool Holds() const { return m_process && WaitForSingleObject(m_process, 0) == WAIT_TIMEOUT; }
    // Ends it at once, as a crash or the task manager would; whether it ended.
    bool Kill()
    {
        bool ended = m_process && TerminateProcess(m_process, 9) && WaitForSingleObject(m_process, 20000) == WAIT_OBJECT_0;
        if (m_process)
            CloseHandle(m_process);
        m_process = nullptr;
        return ended;
    }
    // Lets it go and waits for its end; its exit code.
    DWORD Release()
    {
        if (!m_process)
            return 0;
        SetEvent(m_release);
        if (WaitForSingleObject(m_process, 20000) != WAIT_OBJECT_0)
            TerminateProcess(m_process, 9);
        DWORD code = 9;
        GetExitCodeProcess(m_process, &code);
        CloseHandle(m_process);
        m_process = nullptr;
        return code;
    }

private:
    HANDLE m_held;
    HANDLE m_release;
    HANDLE m_process = nullptr;
};

// The title of the notice window of the client that holds a slot.
const char SLOT_WINDOW_TITLE[] = "QuarnguardClientSlot";

IQuarnguard* createGuard();

// The holder's side of a slot: a client of the service with its notice window registered,
// holding the slot it took until released (or killed).
int holdSlot(HANDLE held, HANDLE release)
{
    CoInitialize(nullptr);
    IQuarnguard* server = createGuard();
    if (!server || FAILED(server->Initialize()))
        return 6;
    HWND window = CreateWindowExA(0, "STATIC", SLOT_WINDOW_TITLE, 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    ULONG slot = 0;
    if (!window || FAILED(server->RegisterWnd(static_cast<ULONG>(reinterpret_cast<ULONG_PTR>(window))))
        || FAILED(server->GetQuarnhostID(&slot)) || slot == 0xFFFFFFFF)
        return 7;
    std::printf("SLOT %lu\n", slot);
    SetEvent(held);
    WaitForSingleObject(release, 120000);
    server->Uninitialize();
    server->Release();
    DestroyWindow(window);
    CoUninitialize();
    return 0;
}

// The holder's side: holds the file (no sharing), the queue's lock or a slot until released.
int holdMain(const std::string& what, const std::string& path)
{
    HANDLE held = OpenEventA(EVENT_MODIFY_STATE, FALSE, Holder::HELD_EVENT);
    HANDLE release = OpenEventA(SYNCHRONIZE, FALSE, Holder::RELEASE_EVENT);
    if (!held || !release)
        return 2;
    if (what == "hold-slot")
        return holdSlot(held, release);
    HANDLE object = nullptr;
    if (what == "hold-file") {
        object = CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        if (object == INVALID_HANDLE_VALUE)
            return 3;
    } else {
        object = OpenMutexA(SYNCHRONIZE | MUTEX_MODIFY_STATE, FALSE, MUTEX_NAME);
        if (!object)
            return 4;
        DWORD waited = WaitForSingleObject(object, 10000);
        if (waited != WAIT_OBJECT_0 && waited != WAIT_ABANDONED)
            return 5;
    }
    SetEvent(held);
    WaitForSingleObject(release, 120000);
    if (what != "hold-file")
        ReleaseMutex(object);
    CloseHandle(object);
    return 0;
}

// What is left of the service's registration: its keys by their ids and name, the shared
// ProgIDs while they name its class, its entry in the service control manager.
std::vector<std::string> serviceKeysLeft()
{
    std::vector<std::string> left;
    findKeys(HKEY_LOCAL_MACHINE, "Software\\Classes",
             {"901EC484-76EE-4360-92F5-CC7CE037E200", "E50DCC62-84D5-4E68-8342-E5646159332D",
              "BE86D458-619A-4ED3-ACFD-09656D204FF8", "953558D5-8B05-4629-AB03-8904B6FAE6D4", "QUARNHOST SERVICE"},
             left);
    for (const char* progId : {"Quarnhost.QuarnSrv", "Quarnhost.QuarnSrv.1"})
        if (_stricmp(classesValue(std::string(progId) + "\\CLSID", nullptr).c_str(), GUARD_CLSID) == 0)
            left.push_back(progId);
    if (keyExists("System\\CurrentControlSet\\Services\\Quarnhost Service"))
        left.push_back("the service's entry");
    if (Service().service)
        left.push_back("the service");
    return left;
}

// The class the shared ProgID names; empty when it names none.
std::string progIdClass()
{
    std::string data = classesValue("Quarnhost.QuarnSrv\\CLSID", nullptr);
    return data == "(none)" ? std::string() : data;
}

// An object of the class (started by COM as registered), released at once; the result.
HRESULT activate(REFCLSID clsid)
{
    IUnknown* object = nullptr;
    HRESULT result = CoCreateInstance(clsid, nullptr, CLSCTX_LOCAL_SERVER, IID_IUnknown,
                                      reinterpret_cast<void**>(&object));
    if (object)
        object->Release();
    return result;
}

// The service stopped by the manager, when it runs; whether it is stopped in time.
bool stopService()
{
    Service s;
    if (!s.service)
        return true;
    SERVICE_STATUS status = {};
    if (s.State() == SERVICE_RUNNING)
        ControlService(s.service, SERVICE_CONTROL_STOP, &status);
    return s.WaitFor(SERVICE_STOPPED);
}

IQuarnguard* createGuard()
{
    IQuarnguard* server = nullptr;
    CoCreateInstance(CLSID_Quarnguard, nullptr, CLSCTX_LOCAL_SERVER, IID_IQuarnguard,
                     reinterpret_cast<void**>(&server));
    return server;
}

// The service installed and started by "net"; COM for this thread and an initialised client
// object of it.
void startInitialized(IQuarnguard*& server)
{
    ASSERT_EQ(0u, runSwitch("-Service"));
    ASSERT_EQ(0u, runCommand(NET_START));
    ASSERT_TRUE(Service().WaitFor(SERVICE_RUNNING));
    CoInitialize(nullptr);
    server = createGuard();
    ASSERT_NE(nullptr, server);
    ASSERT_EQ(S_OK, server->Initialize());
}

// What a new service process answers its first client: its server starts, its version, the
// first window numbers.
void expectFirstAnswers(IQuarnguard* server)
{
    EXPECT_EQ(S_OK, server->Initialize());
    ULONG number = 0;
    EXPECT_EQ(S_OK, server->GetServerVersion(&number));
    EXPECT_EQ(0x00010101u, number);
    EXPECT_EQ(S_OK, server->GetNewWndID(&number));
    EXPECT_EQ(1u, number);
    EXPECT_EQ(S_OK, server->GetNewWndID(&number));
    EXPECT_EQ(2u, number);
}

// The Unix path of a file (the platform's own mapping), empty when there is none.
std::string unixName(const std::string& path)
{
    using ToUnix = char*(CDECL*)(const WCHAR*);
    auto toUnix = reinterpret_cast<ToUnix>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "wine_get_unix_file_name")));
    if (!toUnix)
        return std::string();
    std::wstring wide(path.begin(), path.end());
    char* name = toUnix(wide.c_str());
    if (!name)
        return std::string();
    std::string result = name;
    HeapFree(GetProcessHeap(), 0, name);
    return result;
}

// Asks the script for the Unix modes of the files (their paths one a line in SHARE\modes.req;
// it answers "MODE PATH" lines in SHARE\modes.txt); the modes, in octal, in the same order.
std::vector<unsigned> unixModes(const std::vector<std::string>& paths)
{
    std::string request;
    for (const std::string& path : paths)
        request += unixName(path) + "\n";
    writeShare("modes.req", request);
    std::string answer;
    readShare("modes.txt", answer, 30000);
    std::vector<unsigned> modes;
    std::istringstream lines(answer);
    std::string line;
    while (std::getline(lines, line))
        if (!line.empty())
            modes.push_back(static_cast<unsigned>(std::stoul(line.substr(0, line.find(' ')), nullptr, 8)));
    return modes;
}

std::string sidText(PSID sid)
{
    char* text = nullptr;
    if (!ConvertSidToStringSidA(sid, &text))
        return "?";
    std::string result = text;
    LocalFree(text);
    return result;
}

// The access list as text, for the log.
std::string daclText(PSECURITY_DESCRIPTOR descriptor)
{
    char* text = nullptr;
    if (!ConvertSecurityDescriptorToStringSecurityDescriptorA(descriptor, SDDL_REVISION_1, DACL_SECURITY_INFORMATION,
                                                              &text, nullptr))
        return "?";
    std::string result = text;
    LocalFree(text);
    return result;
}

bool isSid(PSID sid, WELL_KNOWN_SID_TYPE type)
{
    return IsWellKnownSid(sid, type) != FALSE;
}

// The access list of an object: present, not null, Everyone given no write, interactive users
// no right to change its access or owner, nobody beside SYSTEM, Administrators, interactive
// users and the object's owner given any write. (The platform here keeps no access list of a
// file once its handles are closed: it reads one back made from the Unix mode, which names
// SYSTEM, the owner and, for the other bits, Everyone.)
void expectNoWriteForOthers(const std::string& what, PACL acl, PSID owner)
{
    ASSERT_NE(nullptr, acl) << what << ": a null access list grants everyone everything";
    ACL_SIZE_INFORMATION size = {};
    ASSERT_TRUE(GetAclInformation(acl, &size, sizeof(size), AclSizeInformation)) << what;
    EXPECT_GE(size.AceCount, 1u) << what;
    const DWORD writeRights = GENERIC_ALL | GENERIC_WRITE | WRITE_DAC | WRITE_OWNER | DELETE | FILE_WRITE_DATA
                              | FILE_APPEND_DATA | FILE_WRITE_ATTRIBUTES | FILE_WRITE_EA;
    for (DWORD i = 0; i < size.AceCount; ++i) {
        ACE_HEADER* header = nullptr;
        ASSERT_TRUE(GetAce(acl, i, reinterpret_cast<void**>(&header))) << what;
        if (header->AceType != ACCESS_ALLOWED_ACE_TYPE)
            continue;
        auto* ace = reinterpret_cast<ACCESS_ALLOWED_ACE*>(header);
        PSID sid = &ace->SidStart;
        if (isSid(sid, WinLocalSystemSid) || isSid(sid, WinBuiltinAdministratorsSid) || (owner && EqualSid(sid, owner)))
            continue;
        if (isSid(sid, WinInteractiveSid)) {
            EXPECT_EQ(0u, ace->Mask & (GENERIC_ALL | WRITE_DAC | WRITE_OWNER)) << what << std::hex << " " << ace->Mask;
            continue;
        }
        EXPECT_EQ(0u, ace->Mask & writeRights) << what << ": entry " << i << " for " << sidText(sid) << std::hex
                                                << " grants " << ace->Mask;
        EXPECT_FALSE(isSid(sid, WinWorldSid)) << what << ": Everyone is named";
    }
}

void expectFileAccess(const std::string& path)
{
    PACL acl = nullptr;
    PSID owner = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS),
              GetNamedSecurityInfoA(path.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION | OWNER_SECURITY_INFORMATION,
                                    &owner, nullptr, &acl, nullptr, &descriptor))
        << path;
    std::printf("ACCESS %s owner %s %s\n", path.c_str(), owner ? sidText(owner).c_str() : "none",
                daclText(descriptor).c_str());
    expectNoWriteForOthers(path, acl, owner);
    LocalFree(descriptor);
}

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
    // Every key it wrote: the application id and its name, the class, the ProgIDs that name it,
    // the type library and the interface, the service's entry.
    ASSERT_EQ(0u, runSwitch("-Service"));
    ASSERT_EQ(0u, runSwitch("-UnregServer"));
    for (const std::string& key : serviceKeysLeft())
        ADD_FAILURE() << "left: " << key;
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
    expectFirstAnswers(server);
    ULONG number = 0;
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

// ---- started by "net", and a plain run

TEST(Answers, NetStartThenNetStop)
{
    ASSERT_EQ(0u, runSwitch("-Service"));
    ASSERT_EQ(0u, runCommand(NET_START));
    ASSERT_TRUE(Service().WaitFor(SERVICE_RUNNING));
    DWORD pid = Service().Pid();
    CoInitialize(nullptr);
    IQuarnguard* server = createGuard();
    ASSERT_NE(nullptr, server);
    EXPECT_EQ(pid, Service().Pid()) << "served by the service that net started";
    expectFirstAnswers(server);
    ULONG number = 0;
    // Stopped with its server still initialised.
    EXPECT_EQ(0u, runCommand(NET_STOP));
    EXPECT_TRUE(Service().WaitFor(SERVICE_STOPPED)) << "state " << Service().State();
    EXPECT_TRUE(FAILED(server->GetNewWndID(&number))) << "its server has gone";
    server->Release();
    CoUninitialize();
    ASSERT_EQ(0u, runSwitch("-UnregServer"));
}

TEST(Answers, APlainRunServesUntilItsLastRelease)
{
    ASSERT_EQ(0u, runSwitch("-RegServer"));
    ASSERT_TRUE(processIds("quarnguard.exe").empty());
    std::string output = tempPath() + "quarnguard-plain.txt";
    DWORD started = GetTickCount();
    HANDLE process = startPlain(output);
    ASSERT_NE(nullptr, process);
    EXPECT_TRUE(waitForText(output, "Service started\r\n", 10000)) << readText(output);
    // No client yet: it waits for one past its quiet time.
    while (GetTickCount() - started < 7000)
        Sleep(100);
    ASSERT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), WaitForSingleObject(process, 0)) << "ended before any client";
    CoInitialize(nullptr);
    IQuarnguard* server = createGuard();
    ASSERT_NE(nullptr, server);
    EXPECT_EQ(1u, processIds("quarnguard.exe").size()) << "COM started another process";
    EXPECT_EQ(S_OK, server->Initialize());
    ULONG number = 0;
    EXPECT_EQ(S_OK, server->GetNewWndID(&number));
    EXPECT_EQ(1u, number);
    EXPECT_EQ(S_OK, server->Uninitialize());
    server->Release();
    DWORD released = GetTickCount();
    EXPECT_EQ(static_cast<DWORD>(WAIT_OBJECT_0), WaitForSingleObject(process, 20000)) << "it did not end";
    std::printf("FIGURE the plain run ended %lu ms after its last release\n", GetTickCount() - released);
    DWORD exitCode = 1;
    GetExitCodeProcess(process, &exitCode);
    EXPECT_EQ(0u, exitCode);
    CloseHandle(process);
    CoUninitialize();
    EXPECT_EQ("Service started\r\n", readText(output)) << "its one line, in text mode";
    DeleteFileA(output.c_str());
    ASSERT_EQ(0u, runSwitch("-UnregServer"));
}

// A method of the server called by name through IDispatch, as a script client calls it, with
// no argument; its long output (0 when it gave none) and the call's result, the method's own
// failure where the call reports an exception.
HRESULT invokeByName(IDispatch* dispatch, const wchar_t* method, LONG& output)
{
    output = 0;
    LPOLESTR name = const_cast<LPOLESTR>(method);
    DISPID id = 0;
    HRESULT found = dispatch->GetIDsOfNames(IID_NULL, &name, 1, LOCALE_SYSTEM_DEFAULT, &id);
    if (FAILED(found))
        return found;
    DISPPARAMS none = {nullptr, nullptr, 0, 0};
    VARIANT result;
    VariantInit(&result);
    EXCEPINFO exception = {};
    HRESULT called = dispatch->Invoke(id, IID_NULL, LOCALE_SYSTEM_DEFAULT, DISPATCH_METHOD, &none, &result, &exception,
                                      nullptr);
    if (called == DISP_E_EXCEPTION) {
        SysFreeString(exception.bstrSource);
        SysFreeString(exception.bstrDescription);
        SysFreeString(exception.bstrHelpFile);
        return exception.scode;
    }
    if (SUCCEEDED(called) && V_VT(&result) == VT_I4)
        output = V_I4(&result);
    VariantClear(&result);
    return called;
}

// The queue's lock by name: taken once; asked again by the client that holds it, answered at
// once without an error and not taken twice; then held by another process, waited for within
// the bound and refused.
TEST(Answers, TheQueuesLockThroughIDispatch)
{
    IQuarnguard* server = nullptr;
    ASSERT_NO_FATAL_FAILURE(startInitialized(server));
    IDispatch* dispatch = nullptr;
    ASSERT_EQ(S_OK, server->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&dispatch)));

    LONG locked = 0;
    HRESULT first = invokeByName(dispatch, L"MsgLock", locked);
    std::printf("FIGURE MsgLock by name answered 0x%08lX\n", static_cast<unsigned long>(first));
    EXPECT_TRUE(SUCCEEDED(first)) << std::hex << first;
    EXPECT_EQ(1, locked);
    locked = 7;
    DWORD start = GetTickCount();
    EXPECT_EQ(S_OK, invokeByName(dispatch, L"MsgLock", locked));
    DWORD took = GetTickCount() - start;
    std::printf("FIGURE the second MsgLock took %lu ms\n", took);
    EXPECT_LT(took, LOCK_WAIT_MS / 2) << "it waited";
    EXPECT_EQ(0, locked);
    EXPECT_EQ(S_OK, invokeByName(dispatch, L"MsgUnlock", locked));
    EXPECT_EQ(1, locked);
    EXPECT_TRUE(FAILED(invokeByName(dispatch, L"MsgUnlock", locked))) << "taken once, released once";
    EXPECT_EQ(0, locked);

    {
        Holder holder;
        ASSERT_TRUE(holder.Start("hold-mutex"));
        start = GetTickCount();
        locked = 7;
        HRESULT refused = invokeByName(dispatch, L"MsgLock", locked);
        took = GetTickCount() - start;
        std::printf("FIGURE MsgLock by name against another holder: 0x%08lX after %lu ms\n",
                    static_cast<unsigned long>(refused), took);
        EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_TIMEOUT), refused);
        EXPECT_EQ(0, locked);
        EXPECT_GE(took + 100, LOCK_WAIT_MS) << "it did not wait";
        EXPECT_LT(took, LOCK_WAIT_MS + CALL_SLACK_MS);
        EXPECT_EQ(0u, holder.Release());
    }
    EXPECT_TRUE(SUCCEEDED(invokeByName(dispatch, L"MsgLock", locked))) << "free again";
    EXPECT_EQ(1, locked);
    EXPECT_EQ(S_OK, invokeByName(dispatch, L"MsgUnlock", locked));

    dispatch->Release();
    EXPECT_EQ(S_OK, server->Uninitialize());
    server->Release();
    CoUninitialize();
    EXPECT_TRUE(stopService());
    ASSERT_EQ(0u, runSwitch("-UnregServer"));
}

// A client killed while it holds a slot: its notice window goes with its process, and the
// next client that asks for a slot gets that one again.
TEST(Answers, AKilledClientsSlotIsFreeAgain)
{
    IQuarnguard* server = nullptr;
    ASSERT_NO_FATAL_FAILURE(startInitialized(server));
    ULONG mine = 0xFFFFFFFF;
    ASSERT_EQ(S_OK, server->GetQuarnhostID(&mine));
    EXPECT_EQ(0u, mine);
    {
        Holder holder;
        ASSERT_TRUE(holder.Start("hold-slot"));
        HWND window = FindWindowExA(HWND_MESSAGE, nullptr, "STATIC", SLOT_WINDOW_TITLE);
        EXPECT_NE(nullptr, window) << "the client's window";
        ASSERT_TRUE(holder.Kill());
        DWORD killed = GetTickCount();
        while (window && IsWindow(window) && GetTickCount() - killed < 10000)
            Sleep(10);
        std::printf("FIGURE the killed client's window was gone %lu ms after its end\n", GetTickCount() - killed);
        EXPECT_FALSE(IsWindow(window));
    }
    ULONG next = 0xFFFFFFFF;
    EXPECT_EQ(S_OK, server->GetQuarnhostID(&next));
    EXPECT_EQ(1u, next) << "the killed client's slot";
    LONG freed = 0;
    EXPECT_EQ(S_OK, server->DelQuarnhostID(next, &freed));
    EXPECT_EQ(S_OK, server->DelQuarnhostID(mine, &freed));
    EXPECT_EQ(S_OK, server->Uninitialize());
    server->Release();
    CoUninitialize();
    EXPECT_TRUE(stopService());
    ASSERT_EQ(0u, runSwitch("-UnregServer"));
}

// ---- beside the module on the same host

TEST(Coexist, TheModuleHoldsThePortUntilItEnds)
{
    ASSERT_EQ(0u, runHostSwitch("-RegServer"));
    ASSERT_EQ(0u, runSwitch("-Service"));
    CoInitialize(nullptr);
    IQuarnSrv* host = nullptr;
    ASSERT_EQ(S_OK, CoCreateInstance(CLSID_QuarnSrv, nullptr, CLSCTX_LOCAL_SERVER, IID_IQuarnSrv,
                                     reinterpret_cast<void**>(&host)));
    ASSERT_EQ(S_OK, host->Initialize());
    IQuarnguard* server = createGuard();
    ASSERT_NE(nullptr, server);
    EXPECT_EQ(PORT_IN_USE, server->Initialize());
    // It keeps serving: its methods answer, a second try answers the same.
    ULONG number = 0;
    EXPECT_EQ(NOT_UP, server->GetNewWndID(&number));
    LONG flag = 7;
    EXPECT_EQ(NOT_UP, server->MsgIsExist(&flag));
    EXPECT_EQ(0, flag);
    EXPECT_EQ(PORT_IN_USE, server->Initialize());
    EXPECT_EQ(static_cast<DWORD>(SERVICE_RUNNING), Service().State());
    EXPECT_EQ(1u, processIds("quarnhost.exe").size());
    EXPECT_EQ(S_OK, host->Uninitialize());
    host->Release();
    ASSERT_TRUE(waitNoProcess("quarnhost.exe", 20000)) << "the module did not end";
    EXPECT_EQ(S_OK, server->Initialize());
    EXPECT_EQ(S_OK, server->GetServerVersion(&number));
    EXPECT_EQ(0x00010101u, number);
    EXPECT_EQ(S_OK, server->GetNewWndID(&number));
    EXPECT_EQ(1u, number) << "no number was handed out while it was down";
    EXPECT_EQ(S_OK, server->Uninitialize());
    server->Release();
    CoUninitialize();
    EXPECT_TRUE(stopService());
    ASSERT_EQ(0u, runSwitch("-UnregServer"));
    ASSERT_EQ(0u, runHostSwitch("-UnregServer"));
}

// Each removal takes its own keys, the shared ProgIDs only while they name its class, and
// leaves the other activatable.
TEST(Coexist, UnregisteringEitherLeavesTheOther)
{
    CoInitialize(nullptr);
    // The module first: the ProgIDs name the service, registered last.
    ASSERT_EQ(0u, runHostSwitch("-RegServer"));
    ASSERT_EQ(0u, runSwitch("-Service"));
    EXPECT_EQ(GUARD_CLSID, progIdClass());
    ASSERT_EQ(0u, runSwitch("-UnregServer"));
    for (const std::string& key : serviceKeysLeft())
        ADD_FAILURE() << "left: " << key;
    EXPECT_EQ("", progIdClass()) << "it named the service";
    expectQuarnhostKeys(g_hostModule);
    EXPECT_EQ(S_OK, activate(CLSID_QuarnSrv));

    // The service first: the ProgIDs name the module, and stay when the service goes.
    ASSERT_EQ(0u, runSwitch("-Service"));
    ASSERT_EQ(0u, runHostSwitch("-RegServer"));
    ASSERT_EQ(0u, runSwitch("-UnregServer"));
    for (const std::string& key : serviceKeysLeft())
        ADD_FAILURE() << "left: " << key;
    EXPECT_EQ(HOST_CLSID, progIdClass());
    expectQuarnhostKeys(g_hostModule);
    CLSID named = {};
    EXPECT_EQ(S_OK, CLSIDFromProgID(L"Quarnhost.QuarnSrv", &named));
    EXPECT_EQ(S_OK, activate(named));

    // The module removed: the service's keys stay, and it is started by its activation.
    ASSERT_EQ(0u, runSwitch("-Service"));
    ASSERT_EQ(0u, runHostSwitch("-UnregServer"));
    EXPECT_FALSE(classesKeyExists(std::string("CLSID\\") + HOST_CLSID));
    EXPECT_EQ(GUARD_CLSID, progIdClass());
    EXPECT_EQ(g_module, classesValue(std::string("CLSID\\") + GUARD_CLSID + "\\LocalServer32", nullptr));
    EXPECT_TRUE(classesKeyExists("AppID\\Quarnhost Service.EXE"));
    std::string data;
    EXPECT_TRUE(readValue(APPID_KEY, "LocalService", data));
    EXPECT_EQ(S_OK, activate(CLSID_Quarnguard));
    EXPECT_EQ(static_cast<DWORD>(SERVICE_RUNNING), Service().State());
    EXPECT_TRUE(stopService());
    CoUninitialize();
    ASSERT_EQ(0u, runSwitch("-UnregServer"));
    for (const std::string& key : serviceKeysLeft())
        ADD_FAILURE() << "left at the end: " << key;
}

// ---- access to its folder, files and lock

// Stale files of an earlier run: a read-only one goes, one that another process holds stays
// and is logged, and the server starts. A plain run, whose log is its output.
TEST(Security, StaleFilesAtTheStart)
{
    ASSERT_EQ(0u, runSwitch("-RegServer"));
    const std::string folder = quarnTemp();
    CreateDirectoryA(folder.substr(0, folder.size() - 1).c_str(), nullptr);
    const std::string readOnly = folder + "QUA1111.TMP";
    const std::string held = folder + "QUARN2222.TMP";
    for (const std::string& file : {readOnly, held}) {
        HANDLE made = CreateFileA(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        ASSERT_NE(INVALID_HANDLE_VALUE, made) << file;
        CloseHandle(made);
    }
    ASSERT_TRUE(SetFileAttributesA(readOnly.c_str(), FILE_ATTRIBUTE_READONLY));
    Holder holder;
    ASSERT_TRUE(holder.Start("hold-file \"" + held + "\""));
    std::string output = tempPath() + "quarnguard-stale.txt";
    HANDLE process = startPlain(output);
    ASSERT_NE(nullptr, process);
    EXPECT_TRUE(waitForText(output, "Service started\r\n", 10000));
    CoInitialize(nullptr);
    IQuarnguard* server = createGuard();
    ASSERT_NE(nullptr, server);
    EXPECT_EQ(S_OK, server->Initialize());
    EXPECT_FALSE(exists(readOnly));
    EXPECT_TRUE(exists(held));
    EXPECT_TRUE(holder.Holds());
    EXPECT_EQ(S_OK, server->Uninitialize());
    server->Release();
    EXPECT_EQ(static_cast<DWORD>(WAIT_OBJECT_0), WaitForSingleObject(process, 20000));
    CloseHandle(process);
    CoUninitialize();
    EXPECT_EQ(0u, holder.Release());
    std::string log = readText(output);
    EXPECT_NE(std::string::npos, log.find("Stale temporary file stays: " + held)) << log;
    EXPECT_EQ(std::string::npos, log.find("QUA1111")) << log;
    DeleteFileA(held.c_str());
    RemoveDirectoryA(folder.substr(0, folder.size() - 1).c_str());
    DeleteFileA(output.c_str());
    ASSERT_EQ(0u, runSwitch("-UnregServer"));
}

// The folder and a transfer's file as the service makes them, and its lock.
TEST(Security, NobodyElseMayWriteItsFolderFilesOrLock)
{
    ASSERT_EQ(0u, runSwitch("-Service"));
    CoInitialize(nullptr);
    IQuarnguard* server = createGuard();
    ASSERT_NE(nullptr, server);
    ASSERT_EQ(S_OK, server->Initialize());
    Bstr guid;
    ASSERT_EQ(S_OK, server->GetGUIDString(&guid.b));
    ULONG window = 0;
    ASSERT_EQ(S_OK, server->GetNewWndID(&window));
    // To its own node, once it has found itself on the network; never executed.
    Bstr destination(L"\\" + guid.text() + L"\\QuarnguardClient");
    Bstr source(L"C:\\windows\\win.ini");
    Bstr nickname(L"nick");
    ULONG transfer = 0;
    HRESULT opened = E_FAIL;
    for (DWORD start = GetTickCount(); GetTickCount() - start < 20000; Sleep(500)) {
        opened = server->FileTransferOpen(destination.b, source.b, nickname.b, window, &transfer);
        if (opened == S_OK)
            break;
    }
    ASSERT_EQ(S_OK, opened);
    ASSERT_NE(0u, transfer);
    Bstr name;
    ASSERT_EQ(S_OK, server->FileTransferGetTempName(transfer, &name.b));
    std::wstring wideName = name.text();
    const std::string file(wideName.begin(), wideName.end());
    const std::string folder = quarnTemp().substr(0, quarnTemp().size() - 1);
    ASSERT_EQ(0, _stricmp((folder + "\\").c_str(), file.substr(0, folder.size() + 1).c_str())) << file;
    ASSERT_TRUE(exists(file));

    expectFileAccess(folder);
    expectFileAccess(file);
    std::vector<unsigned> modes = unixModes({folder, file});
    ASSERT_EQ(2u, modes.size()) << "no answer from the script";
    // The account that runs the service and its clients here keeps reading and writing them
    // (an access list that names nobody would take that too).
    for (unsigned mode : modes) {
        std::printf("MODE %o\n", mode);
        EXPECT_EQ(0u, mode & 02) << "others may write: " << std::oct << mode;
        EXPECT_EQ(0600u, mode & 0600) << "its account may not use it: " << std::oct << mode;
    }

    HANDLE mutex = OpenMutexA(READ_CONTROL, FALSE, MUTEX_NAME);
    ASSERT_NE(nullptr, mutex) << GetLastError();
    PACL acl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), GetSecurityInfo(mutex, SE_KERNEL_OBJECT, DACL_SECURITY_INFORMATION,
                                                                 nullptr, nullptr, &acl, nullptr, &descriptor));
    std::printf("ACCESS the mutex %s\n", daclText(descriptor).c_str());
    expectNoWriteForOthers("the mutex", acl, nullptr);
    LocalFree(descriptor);
    CloseHandle(mutex);

    EXPECT_EQ(S_OK, server->Uninitialize());
    server->Release();
    CoUninitialize();
    EXPECT_TRUE(stopService());
    ASSERT_EQ(0u, runSwitch("-UnregServer"));
}

// Another process holds the queue's lock: the service's wait for it ends within its bound, and
// a stop that comes meanwhile ends the service.
TEST(Security, AForeignHolderOfTheLockHoldsUpNeitherCallsNorStop)
{
    IQuarnguard* server = nullptr;
    ASSERT_NO_FATAL_FAILURE(startInitialized(server));
    Holder holder;
    ASSERT_TRUE(holder.Start("hold-mutex"));
    LONG locked = 7;
    DWORD start = GetTickCount();
    HRESULT result = server->MsgLock(&locked);
    DWORD took = GetTickCount() - start;
    std::printf("FIGURE MsgLock refused after %lu ms\n", took);
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_TIMEOUT), result);
    EXPECT_EQ(0, locked);
    EXPECT_LT(took, LOCK_WAIT_MS + CALL_SLACK_MS);
    ULONG number = 0;
    EXPECT_EQ(S_OK, server->GetNewWndID(&number)) << "it still serves";

    // A second client waits for the lock while the service is told to stop.
    HANDLE waiting = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    HRESULT secondResult = S_OK;
    std::thread second([&] {
        CoInitialize(nullptr);
        IQuarnguard* other = createGuard();
        SetEvent(waiting);
        LONG taken = 7;
        secondResult = other ? other->MsgLock(&taken) : E_FAIL;
        if (other)
            other->Release();
        CoUninitialize();
    });
    ASSERT_EQ(static_cast<DWORD>(WAIT_OBJECT_0), WaitForSingleObject(waiting, 20000));
    Sleep(300);
    DWORD stopAsked = GetTickCount();
    EXPECT_EQ(0u, runCommand(NET_STOP));
    EXPECT_TRUE(Service().WaitFor(SERVICE_STOPPED)) << "state " << Service().State();
    std::printf("FIGURE stopped %lu ms after net stop was asked\n", GetTickCount() - stopAsked);
    EXPECT_TRUE(holder.Holds()) << "the lock was held all the while";
    second.join();
    EXPECT_TRUE(FAILED(secondResult));
    CloseHandle(waiting);
    EXPECT_EQ(0u, holder.Release());
    server->Release();
    CoUninitialize();
    ASSERT_EQ(0u, runSwitch("-UnregServer"));
}

} // namespace

int main(int argc, char** argv)
{
    char self[MAX_PATH + 1] = {};
    GetModuleFileNameA(nullptr, self, MAX_PATH);
    g_self = self;
    if (argc >= 2 && std::string(argv[1]).compare(0, 5, "hold-") == 0)
        return holdMain(argv[1], argc >= 3 ? argv[2] : "");
    ::testing::InitGoogleTest(&argc, argv);
    if (argc >= 2)
        g_module = argv[1];
    if (argc >= 3)
        g_hostModule = argv[2];
    if (argc >= 4)
        g_share = argv[3];
    return RUN_ALL_TESTS();
}
