// The session director over recording stand-ins of the lookup service and the session handles
// (its maker replaced), with tavlang beside the test for the boxes' texts. Paths that end the
// process run in a child, which reports what the stand-ins saw as it exits.
#include "CDirector.h"
#include "CFatalTroubleException.h"
#include "CFatalTroubleRecommendRebootException.h"
#include "CFileCopy.h"
#include "CIOException.h"
#include "CIllegalArgumentException.h"
#include "CIllegalStateException.h"
#include "CLeadImage.h"
#include "CLocalMethod.h"
#include "CLusException.h"
#include "CNoSuchElementException.h"
#include "CPhoneCtrl.h"
#include "CPreferenceManager.h"
#include "CMethodCallMessage.h"
#include "CSessionMaker.h"
#include "CTavUtility.h"
#include "CTerminalGroup.h"
#include "CThread.h"
#include "CTrace.h"
#include "CVoiceProcessor.h"
#include "IBroadcastSessionHandle.h"
#include "IGuiHandle.h"
#include "ILookupServiceHandle.h"
#include "IMessageListener.h"
#include "ISessionHandle.h"
#include "RegistryKey.h"
#include "TestSupport.h"

#include <CWinApp.h>

#include <objbase.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <regex>
#include <thread>

namespace {

const char SELF[] = "SELF-TERMINAL";
const char APP[] = "764A7520-9D2C-11d4-AFDB-00105A67EDD0";
const char HOSTED_GUID[] = "0A1B2C3D-4E5F-6071-8293-A4B5C6D7E8F9";
const char HOST_GUID[] = "11111111-2222-3333-4444-555555555555";
const char HOST_IP[] = "198.18.0.1";
const char GROUP_ID[] = "D1D9B0A0-B266-11d4-8727-0000F460D121";
const char STAGE_ID[] = "45DBCEE0-A388-11d4-AFDB-00105A67EDD0";
const char VOICE_ID[] = "A51AA860-B281-11d4-8727-0000F460D121";
const HWND MAIN_WINDOW = reinterpret_cast<HWND>(0x1234);
const char CASE_VARIABLE[] = "DIRECTOR_TEST_CASE";
const char KEY_VARIABLE[] = "DIRECTOR_TEST_KEY";
const char TEXT_62005[] = "Cannot use the Communication Module. Tavelin will terminate.";
const char TEXT_62006[] =
    "Cannot use the Communication Module. Tavelin will terminate. \nRestart the computer before executing Tavelin again.";

enum class Fault { none, io, lus, argument, state, fatal, reboot, noSuchElement };

void raise(Fault fault, const std::string& where)
{
    switch (fault) {
    case Fault::none:
        return;
    case Fault::io:
        throw CIOException(where + ": io");
    case Fault::lus:
        throw CLusException(where + ": lus");
    case Fault::argument:
        throw CIllegalArgumentException(where + ": argument");
    case Fault::state:
        throw CIllegalStateException(where + ": state");
    case Fault::fatal:
        throw CFatalTroubleException(where + ": fatal");
    case Fault::reboot:
        throw CFatalTroubleRecommendRebootException(where + ": reboot");
    case Fault::noSuchElement:
        throw CNoSuchElementException(where + ": no such element");
    }
}

// What the stand-ins do, for one test.
struct Script {
    std::vector<std::string> hostIds;
    std::vector<CTerminalInfo> hostRecords;
    Fault lookupFault = Fault::none;
    Fault enumFault = Fault::none;
    Fault openLocalFault = Fault::none;
    Fault openRemoteFault = Fault::none;
    Fault registFault = Fault::none;
    Fault removeFault = Fault::none;
    Fault plugInFault = Fault::none;
    Fault broadcastPlugInFault = Fault::none;
};
Script g_script;
Journal g_journal;
ILogicHandle* g_logic = nullptr;
std::string g_registeredData;
// The member list as the session got it.
CElement* g_group = nullptr;
// Whether the picture loader's host window was there when the GUI got the director, and when
// the lookup proxy went.
bool g_loaderAtLogicHandle = false;
bool g_loaderAtLookupDelete = false;

bool loaderWindowExists()
{
    return findOwnWindow(nullptr, "LEADTOOLS OCX Container") != nullptr;
}

const char JOURNAL_SCOPE[] = "DirectorJournal";

// Also traced, so that the stand-ins' calls and the elements' own trace lines come in one order.
void note(const std::string& entry)
{
    g_journal.add(entry);
    CTrace::trace(JOURNAL_SCOPE, entry);
}

std::string queries()
{
    return CLocalMethod::isQueryAllowed(GetCurrentThreadId()) ? "queries on" : "queries off";
}

std::string record(const CTerminalInfo& info)
{
    return std::string(info.isValid() ? "valid" : "invalid") + " [" + info.getCategory() + "] [" +
           info.getIpAddress() + "] " + std::to_string(info.getPortNum());
}

std::string listenerName(ISessionHandleEventListener* listener)
{
    return listener != nullptr && listener == dynamic_cast<ISessionHandleEventListener*>(g_logic) ? "director"
                                                                                                 : "other";
}

CTerminalInfo hostRecord(const std::string& data, const std::string& ip = HOST_IP, bool valid = true)
{
    CTerminalInfo info("Server", ip, 0, data);
    if (valid)
        info.setValid();
    else
        info.setInvalid();
    return info;
}

class FakeLookup : public ILookupServiceHandle {
public:
    ~FakeLookup() override
    {
        g_loaderAtLookupDelete = loaderWindowExists();
        note("delete lookup");
    }
    void regist(std::string terminalId, CTerminalInfo info) override
    {
        note("regist " + terminalId + " " + record(info));
        raise(g_script.registFault, "regist");
        g_registeredData = info.getOptionalData();
    }
    void remove(std::string terminalId) override
    {
        note("remove " + terminalId + " " + queries());
        raise(g_script.removeFault, "remove");
    }
    void find(const std::vector<std::string>& terminalIds, std::vector<CTerminalInfo>& found) override
    {
        std::string ids;
        for (const auto& id : terminalIds)
            ids += " " + id;
        note("find" + ids);
        found = g_script.hostRecords;
        found.resize(terminalIds.size());
    }
    CTerminalInfo find(std::string) override { return CTerminalInfo(); }
    void enumByCategory(const std::vector<std::string>&, std::vector<std::string>&) override {}
    void enumByCategory(std::string category, std::vector<std::string>& terminalIds) override
    {
        note("enum " + category);
        raise(g_script.enumFault, "enumByCategory");
        terminalIds.insert(terminalIds.end(), g_script.hostIds.begin(), g_script.hostIds.end());
    }
    void enumByIpAddress(const std::vector<std::string>&, std::vector<std::string>&) override {}
    void enumByIpAddress(std::string, std::vector<std::string>&) override {}
    void enumByPortNum(unsigned, std::vector<std::string>&) override {}
    bool isNotFound(const CTerminalInfo& info) override { return !info.isValid(); }
};

class FakeSession : public ISessionHandle {
public:
    explicit FakeSession(std::string name) : name_(std::move(name)) {}
    ~FakeSession() override { note("delete " + name_); }
    std::string openLocalSession(const std::string& app, ISessionHandleEventListener* listener) override
    {
        note("openLocalSession " + app + " " + listenerName(listener));
        raise(g_script.openLocalFault, "openLocalSession");
        opened_ = true;
        return HOSTED_GUID;
    }
    void openRemoteSession(const std::string& app, const std::string& session, const std::string& ip,
                           ISessionHandleEventListener* listener) override
    {
        note("openRemoteSession " + app + " [" + session + "] " + ip + " " + listenerName(listener));
        raise(g_script.openRemoteFault, "openRemoteSession");
        opened_ = true;
    }
    void close() override
    {
        note("close " + name_ + " " + queries());
        if (!opened_)
            throw CIllegalStateException("close: never opened");
        opened_ = false;
    }
    void plugIn(const std::string& elementId, CElement* element) override
    {
        note("plugIn " + name_ + " " + elementId + (elementId == element->getElementId() ? "" : " (not its id)"));
        raise(g_script.plugInFault, "plugIn");
        if (dynamic_cast<CTerminalGroup*>(element) != nullptr)
            g_group = element;
    }
    void plugOut(const std::string& elementId) override { note("plugOut " + name_ + " " + elementId); }
    std::string createGuidString() override { return HOSTED_GUID; }

private:
    std::string name_;
    bool opened_ = false;
};

class FakeBroadcast : public IBroadcastSessionHandle {
public:
    ~FakeBroadcast() override { note("delete BC"); }
    void setAddress(const std::string&, const std::string&, int) override {}
    void removeAddress(const std::string&) override {}
    void plugIn(const std::string& elementId, CElement* element) override
    {
        note("plugIn BC " + elementId + (elementId == element->getElementId() ? "" : " (not its id)"));
        raise(g_script.broadcastPlugInFault, "plugIn BC");
    }
    void plugOut(const std::string& elementId) override { note("plugOut BC " + elementId); }
    void close() override { note("close BC " + queries()); }
};

class FakeMaker : public CSessionMaker {
public:
    ILookupServiceHandle* makeLookupService(CQUARNInterface*, const std::string& app, HWND window) override
    {
        note("lookup " + app + (window == MAIN_WINDOW ? " main window" : " other window"));
        raise(g_script.lookupFault, "lookup");
        return new FakeLookup();
    }
    ISessionHandle* makeNetwork(const std::string& terminalId, bool isHost, const std::string& name) override
    {
        note("create " + terminalId + (isHost ? " host " : " join ") + name);
        return new FakeSession(name);
    }
    IBroadcastSessionHandle* makeBroadcastNetwork(const std::string& terminalId, int* portOut,
                                                  const std::string& name) override
    {
        note("create " + terminalId + " " + name + " port " + std::to_string(*portOut));
        *portOut = 4321;
        return new FakeBroadcast();
    }
};

class FakeGui : public IGuiHandle {
public:
    void terminate() override { note("gui terminate"); }
    void setLogicHandle(ILogicHandle* logic) override
    {
        g_logic = logic;
        g_loaderAtLogicHandle = loaderWindowExists();
        note("setLogicHandle");
    }
    HWND getWindowHandle() override { return MAIN_WINDOW; }
    IFileTransmitter* getFileTransmitter() override { return nullptr; }
    IStageView* getStageView() override { return nullptr; }
    // The voice element asks for the panel; its window is never made here.
    CPhoneCtrl* getPhoneCtrl() override { return phone.get(); }
    std::unique_ptr<CPhoneCtrl> phone;
    void showSplash(bool show) override
    {
        note(std::string("showSplash ") + (show ? "true" : "false") + (shownBoxes().empty() ? "" : " after a box"));
    }
    void showMainDlg(bool show) override { note(std::string("showMainDlg ") + (show ? "true" : "false")); }
    void setBusy(bool) override {}
};

std::string besideThisTest()
{
    char path[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, path, sizeof(path));
    std::string folder(path);
    return folder.substr(0, folder.rfind('\\') + 1);
}

std::string environment(const char* name)
{
    char text[1024] = {};
    DWORD length = GetEnvironmentVariableA(name, text, sizeof(text));
    return length < sizeof(text) ? std::string(text, length) : std::string();
}

// A box text on one line, its line breaks as \\n.
std::string oneLine(std::string text)
{
    for (size_t at = text.find('\n'); at != std::string::npos; at = text.find('\n'))
        text.replace(at, 1, "\\n");
    return text;
}

// A child's report as it exits: the stand-ins' journal and the boxes shown.
void reportAtExit()
{
    for (const auto& entry : g_journal.entries())
        std::printf("JOURNAL %s\n", entry.c_str());
    for (const auto& box : shownBoxes()) {
        std::printf("BOX [%s] [%s] type=0x%X owner=%d\n", oneLine(box.text).c_str(), box.caption.c_str(), box.type,
                    box.owner != nullptr ? 1 : 0);
    }
    std::fflush(stdout);
}

class DirectorTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (isChild()) {
            childTracesToFile(true);
            key_ = std::make_unique<RegistryKey>(environment(KEY_VARIABLE));
            std::atexit(&reportAtExit);
        } else {
            dir_ = std::make_unique<TempDir>();
            key_ = std::make_unique<RegistryKey>();
        }
        CTrace::setAbortOnError(false);
        CThread::registerUIThread();
        library_ = LoadLibraryA((besideThisTest() + "tavlang.dll").c_str());
        ASSERT_NE(nullptr, library_);
        AfxSetResourceHandle(library_);
        gui_.phone = std::make_unique<CPhoneCtrl>(156, 428, nullptr, 1018);
        previousMaker_ = CSessionMaker::set(&maker_);
        g_script = Script();
        g_journal.clear();
        g_logic = nullptr;
        g_group = nullptr;
        g_registeredData.clear();
        clearShownBoxes();
        // The manager releases one COM initialisation when it goes.
        CoInitialize(nullptr);
        preferences_ = std::make_unique<CPreferenceManager>(key_->path(), APP, SELF, "Nick", "C:\\res");
    }
    // A fresh script, journal and box list for the next case of a table.
    void resetScript()
    {
        g_script = Script();
        g_journal.clear();
        g_logic = nullptr;
        g_group = nullptr;
        g_registeredData.clear();
        clearShownBoxes();
    }
    void TearDown() override
    {
        preferences_.reset();
        gui_.phone.reset();
        CSessionMaker::set(previousMaker_);
        AfxSetResourceHandle(nullptr);
        if (library_ != nullptr)
            FreeLibrary(library_);
    }

    std::unique_ptr<CDirector> make() { return std::make_unique<CDirector>(&gui_, preferences_.get(), nullptr); }

    // Runs this test's child for the case; its exit status and report.
    int child(const std::string& name, std::string& out)
    {
        SetEnvironmentVariableA(CASE_VARIABLE, name.c_str());
        SetEnvironmentVariableA(KEY_VARIABLE, key_->path().c_str());
        DeleteFileA(dir_->file("log.dat").c_str());
        int status = runInChild(*dir_);
        SetEnvironmentVariableA(CASE_VARIABLE, nullptr);
        SetEnvironmentVariableA(KEY_VARIABLE, nullptr);
        out = fileBytes(dir_->file("child.txt"));
        return status;
    }
    std::string log() { return dir_->logBytes(); }

    std::unique_ptr<TempDir> dir_;
    std::unique_ptr<RegistryKey> key_;
    FakeMaker maker_;
    FakeGui gui_;
    CSessionMaker* previousMaker_ = nullptr;
    HMODULE library_ = nullptr;
    std::unique_ptr<CPreferenceManager> preferences_;
};

std::vector<std::string> journal()
{
    return g_journal.entries();
}

// The journal lines of a child's report, in order.
std::vector<std::string> reported(const std::string& out)
{
    std::vector<std::string> lines;
    size_t at = 0;
    while ((at = out.find("JOURNAL ", at)) != std::string::npos) {
        at += 8;
        size_t end = out.find_first_of("\r\n", at);
        lines.push_back(out.substr(at, end - at));
        at = end;
    }
    return lines;
}

// The lines without the state of the queries onto the UI thread.
std::vector<std::string> withoutQueries(std::vector<std::string> lines)
{
    for (auto& line : lines) {
        for (const char* state : {" queries on", " queries off"}) {
            size_t at = line.find(state);
            if (at != std::string::npos)
                line.erase(at);
        }
    }
    return lines;
}

std::string joined(const std::vector<std::string>& lines)
{
    std::string text;
    for (const auto& line : lines)
        text += line + "\n";
    return text;
}

const std::vector<std::string> HOSTING = {
    "setLogicHandle",
    "showSplash true",
    std::string("lookup ") + APP + " main window",
    "enum Server",
    std::string("create ") + SELF + " host LC",
    std::string("openLocalSession ") + APP + " director",
    std::string("create ") + SELF + " BC port 0",
    std::string("regist ") + SELF + " valid [Server] [0.0.0.0] 0",
    std::string("plugIn LC ") + GROUP_ID,
    std::string("plugIn LC ") + STAGE_ID,
    std::string("plugIn BC ") + VOICE_ID,
    "showSplash false",
    "showMainDlg true",
};

// ---- the host search's choice and the descriptor ----

const char T1[] = "TIME=20260101120000000 SESSION=A";
const char T2[] = "TIME=20260101120000001 SESSION=B";
const char T3[] = "TIME=20260101120000001 SESSION=C";

TEST(DirectorChoiceTest, TheNewestValidStampWinsScanningFromTheLast)
{
    struct {
        const char* name;
        std::vector<CTerminalInfo> infos;
        int index;
        bool valid;
    } cases[] = {
        {"none", {}, -1, false},
        {"all invalid", {hostRecord(T1, HOST_IP, false), hostRecord(T2, HOST_IP, false)}, 0, false},
        {"one", {hostRecord(T1)}, 0, true},
        {"B = C newest: the last of them", {hostRecord(T1), hostRecord(T2), hostRecord(T3)}, 2, true},
        {"A equal to the newest stays", {hostRecord(T2), hostRecord(T1), hostRecord(T3)}, 0, true},
        {"milliseconds decide", {hostRecord(T2), hostRecord(T1)}, 0, true},
        {"milliseconds decide, later last", {hostRecord(T1), hostRecord(T2)}, 1, true},
        {"invalid first, valid later", {hostRecord(T3, HOST_IP, false), hostRecord(T1)}, 1, true},
        {"an invalid newer one is passed over", {hostRecord(T1), hostRecord(T2, HOST_IP, false)}, 0, true},
        {"no TIME= before the blank loses", {hostRecord("SESSION=X TIME=99999999999999999"), hostRecord(T1)}, 1, true},
        {"empty stamps are equal: the first stays", {hostRecord("x"), hostRecord("y")}, 0, true},
    };
    for (const auto& c : cases) {
        CTerminalInfo chosen = hostRecord("stale");
        int index = CDirector::findNewestTerminalInfo(c.infos, chosen);
        EXPECT_EQ(c.index, index) << c.name;
        EXPECT_EQ(c.valid, chosen.isValid()) << c.name;
        if (index >= 0)
            EXPECT_EQ(c.infos[index].getOptionalData(), chosen.getOptionalData()) << c.name;
        else
            EXPECT_EQ("", chosen.getOptionalData()) << c.name;
    }
}

std::string utcStamp(time_t t)
{
    struct tm utc = *gmtime(&t);
    char text[32] = {};
    std::snprintf(text, sizeof(text), "%04d%02d%02d%02d%02d%02d", utc.tm_year + 1900, utc.tm_mon + 1, utc.tm_mday,
                  utc.tm_hour, utc.tm_min, utc.tm_sec);
    return text;
}

TEST(DirectorDescriptorTest, TheDescriptorIsTheUtcStampAndTheSessionName)
{
    time_t before = time(nullptr);
    std::string descriptor = CDirector::makeSessionDescriptor(HOST_GUID);
    time_t after = time(nullptr);
    std::smatch match;
    ASSERT_TRUE(std::regex_match(descriptor, match, std::regex("TIME=([0-9]{17}) SESSION=(.*)"))) << descriptor;
    EXPECT_EQ(HOST_GUID, match[2].str());
    std::string seconds = match[1].str().substr(0, 14);
    bool close = false;
    for (time_t t = before - 2; t <= after + 2; ++t)
        close = close || seconds == utcStamp(t);
    EXPECT_TRUE(close) << descriptor << " is not within 2 s of UTC now " << utcStamp(before);
    EXPECT_EQ(match[1].str(), CDirector::parseSessionTime(descriptor));
    EXPECT_EQ(HOST_GUID, CDirector::parseSessionName(descriptor));
}

TEST(DirectorDescriptorTest, TimeAndNameAreReadAroundTheFirstBlank)
{
    struct {
        const char* descriptor;
        const char* time;
        const char* name;
    } cases[] = {
        {"TIME=1 SESSION=abc", "1", "abc"},
        {"TIME=1", "1", ""},                                   // no blank
        {"TIME=1 NAME=abc", "1", ""},                          // no "SESSION="
        {"TIME=1 SESSION=a b  c", "1", "a b  c"},              // later blanks stay in the name
        {"TIME= SESSION=", "", ""},                            // nothing after the keys
        {"XTIME=5 SESSION=x", "5", "x"},                       // the key inside a word
        {"TIMEX=5 SESSION=x", "", "x"},
        {"SESSION=x TIME=5", "", ""},                          // the order matters
        {"TIME=1 x SESSION=y SESSION=z", "1", "y SESSION=z"},  // the first key
        {" TIME=1 SESSION=x", "", "x"},
        {"", "", ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.time, CDirector::parseSessionTime(c.descriptor)) << c.descriptor;
        EXPECT_EQ(c.name, CDirector::parseSessionName(c.descriptor)) << c.descriptor;
    }
}

// ---- construction ----

TEST_F(DirectorTest, WithoutAHostItHostsAndPublishesTheDescriptor)
{
    auto director = make();
    EXPECT_EQ(joined(HOSTING), joined(journal()));
    std::smatch match;
    EXPECT_TRUE(std::regex_match(g_registeredData, match,
                                 std::regex(std::string("TIME=[0-9]{17} SESSION=") + HOSTED_GUID)))
        << g_registeredData;
    CTerminalInfo own = director->getTerminalInfo();
    EXPECT_EQ("valid [Server] [0.0.0.0] 0", record(own));
    EXPECT_TRUE(shownBoxes().empty());
}

TEST_F(DirectorTest, AHostRecordIsJoinedAndAPlainRecordPublished)
{
    g_script.hostIds = {"HOST-A", "HOST-B"};
    g_script.hostRecords = {hostRecord(T1, "198.18.0.2"), hostRecord(std::string("TIME=20260101120000001 SESSION=") + HOST_GUID)};
    auto director = make();
    std::vector<std::string> expected = {
        "setLogicHandle",
        "showSplash true",
        std::string("lookup ") + APP + " main window",
        "enum Server",
        "enum Server",
        "find HOST-A HOST-B",
        std::string("create ") + SELF + " join RM",
        std::string("openRemoteSession ") + APP + " [" + HOST_GUID + "] " + HOST_IP + " director",
        std::string("create ") + SELF + " BC port 0",
        std::string("regist ") + SELF + " valid [] [0.0.0.0] 0",
        std::string("plugIn RM ") + GROUP_ID,
        std::string("plugIn RM ") + STAGE_ID,
        std::string("plugIn BC ") + VOICE_ID,
        "showSplash false",
        "showMainDlg true",
    };
    EXPECT_EQ(joined(expected), joined(journal()));
    EXPECT_EQ("", g_registeredData);
    EXPECT_EQ("valid [] [0.0.0.0] 0", record(director->getTerminalInfo()));
}

TEST_F(DirectorTest, AVanishedOrUnjoinableSessionIsLeftAndTheTerminalHosts)
{
    // The session gone, and a record whose session name is no GUID text: neither is the user's
    // business.
    for (Fault fault : {Fault::io, Fault::argument}) {
        resetScript();
        g_script.hostIds = {"HOST-A"};
        g_script.hostRecords = {hostRecord("TIME=20260101120000000 SESSION=not-a-guid")};
        g_script.openRemoteFault = fault;
        TraceCapture trace;
        auto director = make();
        std::vector<std::string> expected = {
            "setLogicHandle",
            "showSplash true",
            std::string("lookup ") + APP + " main window",
            "enum Server",
            "enum Server",
            "find HOST-A",
            std::string("create ") + SELF + " join RM",
            std::string("openRemoteSession ") + APP + " [not-a-guid] " + HOST_IP + " director",
            "close RM",
            "delete RM",
            std::string("create ") + SELF + " host LC",
            std::string("openLocalSession ") + APP + " director",
            std::string("create ") + SELF + " BC port 0",
            std::string("regist ") + SELF + " valid [Server] [0.0.0.0] 0",
            std::string("plugIn LC ") + GROUP_ID,
            std::string("plugIn LC ") + STAGE_ID,
            std::string("plugIn BC ") + VOICE_ID,
            "showSplash false",
            "showMainDlg true",
        };
        EXPECT_EQ(joined(expected), joined(withoutQueries(journal()))) << static_cast<int>(fault);
        EXPECT_TRUE(shownBoxes().empty());
        EXPECT_EQ(1, trace.count("the join never completed")) << trace.text();
        EXPECT_EQ(0, trace.count("ERROR")) << trace.text();
        director.reset();
    }
}

TEST_F(DirectorTest, ALookupServiceThatCannotBeListedIsAnErrorLineAndTheTerminalHosts)
{
    for (Fault fault : {Fault::io, Fault::lus}) {
        resetScript();
        g_script.enumFault = fault;
        TraceCapture trace;
        auto director = make();
        EXPECT_EQ(joined(HOSTING), joined(journal()));
        EXPECT_EQ(1, trace.count("ERROR: [ CDirector ]findHostTerminal")) << trace.text();
        EXPECT_TRUE(shownBoxes().empty());
        director.reset();
    }
}

TEST_F(DirectorTest, InvalidOrUnreadableHostRecordsAreNoHost)
{
    g_script.hostIds = {"HOST-A", "HOST-B"};
    g_script.hostRecords = {hostRecord(T1, HOST_IP, false)};   // the second cannot be read
    auto director = make();
    std::vector<std::string> lines = journal();
    ASSERT_GE(lines.size(), 7u);
    EXPECT_EQ("find HOST-A HOST-B", lines[5]);
    EXPECT_EQ(std::string("create ") + SELF + " host LC", lines[6]);
}

// Paths that end the process.
struct EndCase {
    const char* name;
    Fault lookup, openLocal, openRemote, regist;
    bool host;          // a host record is listed
    bool offUiThread;
    int status;
    const char* box;    // the box's text, or null
    const char* logPiece;
    Fault plugIn = Fault::none;
    Fault broadcastPlugIn = Fault::none;
};

const EndCase END_CASES[] = {
    {"hosted open: fatal trouble", Fault::none, Fault::fatal, Fault::none, Fault::none, false, false, 1, TEXT_62005,
     nullptr},
    {"hosted open: reboot", Fault::none, Fault::reboot, Fault::none, Fault::none, false, false, 1, TEXT_62006, nullptr},
    {"joined open: fatal trouble", Fault::none, Fault::none, Fault::fatal, Fault::none, true, false, 1, TEXT_62005,
     nullptr},
    {"joined open: reboot", Fault::none, Fault::none, Fault::reboot, Fault::none, true, false, 1, TEXT_62006, nullptr},
    {"hosted open: illegal state", Fault::none, Fault::state, Fault::none, Fault::none, false, false, ABNORMAL_EXIT,
     nullptr, "FATAL ERROR: [ CDirector ]openSession: the hosted session cannot open"},
    {"joined open: illegal state", Fault::none, Fault::none, Fault::state, Fault::none, true, false, ABNORMAL_EXIT,
     nullptr, "FATAL ERROR: [ CDirector ]openSession: the joined session cannot open"},
    {"an application id that is no GUID", Fault::none, Fault::argument, Fault::none, Fault::none, false, false,
     ABNORMAL_EXIT, nullptr, "FATAL ERROR: [ CDirector ]CDirector: no session opens: openLocalSession: argument"},
    {"regist fails", Fault::none, Fault::none, Fault::none, Fault::io, false, false, ABNORMAL_EXIT, nullptr,
     "FATAL ERROR: [ CDirector ]registTermInfo"},
    {"regist refuses the id", Fault::none, Fault::none, Fault::none, Fault::argument, false, false, ABNORMAL_EXIT,
     nullptr, "FATAL ERROR: [ CDirector ]registTermInfo: the terminal id is refused"},
    {"the lookup service refuses", Fault::argument, Fault::none, Fault::none, Fault::none, false, false, ABNORMAL_EXIT,
     nullptr, "FATAL ERROR: [ CDirector ]CDirector: the lookup service rejects its arguments"},
    {"a second lookup service", Fault::noSuchElement, Fault::none, Fault::none, Fault::none, false, false,
     ABNORMAL_EXIT, nullptr, "FATAL ERROR: [ CDirector ]CDirector: the lookup service was made before"},
    {"off the UI thread", Fault::none, Fault::none, Fault::none, Fault::none, false, true, ABNORMAL_EXIT, nullptr,
     "ASSERT: "},
    {"the session refuses the list: state", Fault::none, Fault::none, Fault::none, Fault::none, false, false,
     ABNORMAL_EXIT, nullptr, "FATAL ERROR: [ CDirector ]CDirector: the member list cannot be plugged in: plugIn: state",
     Fault::state},
    {"the session refuses the list: argument", Fault::none, Fault::none, Fault::none, Fault::none, true, false,
     ABNORMAL_EXIT, nullptr,
     "FATAL ERROR: [ CDirector ]CDirector: the member list cannot be plugged in: plugIn: argument", Fault::argument},
    {"the broadcast session refuses the voice element: state", Fault::none, Fault::none, Fault::none, Fault::none,
     false, false, ABNORMAL_EXIT, nullptr,
     "FATAL ERROR: [ CDirector ]CDirector: the voice element cannot be plugged in: plugIn BC: state", Fault::none,
     Fault::state},
    {"the broadcast session refuses the voice element: argument", Fault::none, Fault::none, Fault::none, Fault::none,
     true, false, ABNORMAL_EXIT, nullptr,
     "FATAL ERROR: [ CDirector ]CDirector: the voice element cannot be plugged in: plugIn BC: argument", Fault::none,
     Fault::argument},
};

TEST_F(DirectorTest, ConstructionEndsTheProcessWhenNoSessionCanBeHad)
{
    if (isChild()) {
        std::string name = environment(CASE_VARIABLE);
        for (const EndCase& c : END_CASES) {
            if (name != c.name)
                continue;
            g_script.lookupFault = c.lookup;
            g_script.openLocalFault = c.openLocal;
            g_script.openRemoteFault = c.openRemote;
            g_script.registFault = c.regist;
            g_script.plugInFault = c.plugIn;
            g_script.broadcastPlugInFault = c.broadcastPlugIn;
            if (c.host) {
                g_script.hostIds = {"HOST-A"};
                g_script.hostRecords = {hostRecord(std::string("TIME=1 SESSION=") + HOST_GUID)};
            }
            if (c.offUiThread)
                std::thread([this] { make(); }).join();
            else
                make();
        }
        exit(0);
    }
    for (const EndCase& c : END_CASES) {
        std::string out;
        EXPECT_EQ(c.status, child(c.name, out)) << c.name << ": " << out;
        std::vector<std::string> lines = reported(out);
        bool registered = false;
        for (const auto& line : lines)
            registered = registered || line.rfind("regist ", 0) == 0;
        if (c.box != nullptr) {
            EXPECT_NE(std::string::npos, out.find("BOX [" + oneLine(c.box) + "] [Tavelin] type=0x10 owner=0"))
                << c.name << ": " << out;
            EXPECT_FALSE(registered) << c.name << ": " << out;
            // The splash shown at the start goes before the box.
            EXPECT_NE(lines.end(), std::find(lines.begin(), lines.end(), "showSplash false")) << c.name << ": " << out;
            EXPECT_EQ(std::string::npos, out.find("after a box")) << c.name << ": " << out;
        } else {
            EXPECT_EQ(std::string::npos, out.find("BOX ")) << c.name << ": " << out;
            EXPECT_NE(std::string::npos, log().find(c.logPiece)) << c.name << ": " << log();
        }
    }
}

// ---- shutdown and session events ----

TEST_F(DirectorTest, TerminateRemovesTheRecordStopsQueriesAndClosesBroadcastThenSession)
{
    if (isChild()) {
        auto director = make();
        g_journal.clear();
        director->terminate();
        note("own " + record(director->getTerminalInfo()) + " [" + director->getTerminalInfo().getOptionalData() +
             "]");
        director->terminate();
        note("second done");
        director.reset();
        exit(0);
    }
    std::string out;
    ASSERT_EQ(0, child("order", out)) << out;
    std::vector<std::string> expected = {
        std::string("remove ") + SELF + " queries on",
        std::string("plugOut BC ") + VOICE_ID,
        std::string("plugOut LC ") + STAGE_ID,
        std::string("plugOut LC ") + GROUP_ID,
        "close BC queries off",
        "close LC queries off",
        "delete LC",
        // The hosted session closed: a plain record.
        "own valid [] [0.0.0.0] 0 []",
        "second done",
        "delete BC",
        "delete lookup",
    };
    EXPECT_EQ(joined(expected), joined(reported(out)));
    EXPECT_NE(std::string::npos, log().find("terminate: termination was already done")) << log();
}

TEST_F(DirectorTest, TerminateOffTheUiThreadIsAnAssertion)
{
    if (isChild()) {
        auto director = make();
        g_journal.clear();
        std::thread([&director] { director->terminate(); }).join();
        note("returned");
        exit(0);
    }
    std::string out;
    EXPECT_EQ(ABNORMAL_EXIT, child("off", out)) << out;
    EXPECT_NE(std::string::npos, log().find("ASSERT: ")) << log();
    EXPECT_NE(std::string::npos, log().find("terminate: not called on the UI thread")) << log();
}

TEST_F(DirectorTest, AJoinedTerminalClosesItsJoinedSession)
{
    g_script.hostIds = {"HOST-A"};
    g_script.hostRecords = {hostRecord(std::string("TIME=1 SESSION=") + HOST_GUID)};
    auto director = make();
    g_journal.clear();
    director->terminate();
    std::vector<std::string> lines = journal();
    ASSERT_EQ(7u, lines.size()) << joined(lines);
    EXPECT_EQ(std::string("remove ") + SELF, lines[0].substr(0, lines[0].rfind(" queries")));
    EXPECT_EQ(std::string("plugOut BC ") + VOICE_ID, lines[1]);
    EXPECT_EQ(std::string("plugOut RM ") + STAGE_ID, lines[2]);
    EXPECT_EQ(std::string("plugOut RM ") + GROUP_ID, lines[3]);
    EXPECT_EQ("close BC", lines[4].substr(0, 8));
    EXPECT_EQ("close RM", lines[5].substr(0, 8));
    EXPECT_EQ("delete RM", lines[6]);
}

TEST_F(DirectorTest, TheDestructorRunsTheStepsOfTerminateWhenNobodyDid)
{
    auto director = make();
    g_journal.clear();
    director.reset();
    std::vector<std::string> lines = journal();
    ASSERT_EQ(9u, lines.size()) << joined(lines);
    EXPECT_EQ(std::string("remove ") + SELF, lines[0].substr(0, lines[0].rfind(" queries")));
    EXPECT_EQ(std::string("plugOut BC ") + VOICE_ID, lines[1]);
    EXPECT_EQ(std::string("plugOut LC ") + STAGE_ID, lines[2]);
    EXPECT_EQ(std::string("plugOut LC ") + GROUP_ID, lines[3]);
    EXPECT_EQ("close BC", lines[4].substr(0, 8));
    EXPECT_EQ("close LC", lines[5].substr(0, 8));
    EXPECT_EQ("delete LC", lines[6]);
    EXPECT_EQ("delete BC", lines[7]);
    EXPECT_EQ("delete lookup", lines[8]);
}

TEST_F(DirectorTest, TheOwnTerminalLeavingAsksTheGuiToEnd)
{
    auto director = make();
    g_journal.clear();
    director->OnSessionHandleEvent(1, "OTHER");
    EXPECT_EQ("", joined(journal()));
    director->OnSessionHandleEvent(1, SELF);
    EXPECT_EQ("gui terminate\n", joined(journal()));
    // Also while termination is under way.
    director->terminate();
    g_journal.clear();
    director->OnSessionHandleEvent(1, SELF);
    director->OnSessionHandleEvent(1, "OTHER");
    EXPECT_EQ("gui terminate\n", joined(journal()));
    // The comparison is exact.
    g_journal.clear();
    director->OnSessionHandleEvent(1, std::string(SELF) + " ");
    director->OnSessionHandleEvent(1, "self-terminal");
    EXPECT_EQ("", joined(journal()));
}

TEST_F(DirectorTest, AFatalSessionEventRemovesTheRecordShowsItsBoxAndEndsWithOne)
{
    struct {
        const char* name;
        int event;
        bool terminateFirst;
        Fault removeFault;
        int status;
        const char* box;
        std::vector<std::string> journal;
    } cases[] = {
        {"event 2", 2, false, Fault::none, 1, TEXT_62005, {std::string("remove ") + SELF + " queries on"}},
        {"event 3", 3, false, Fault::none, 1, TEXT_62006, {std::string("remove ") + SELF + " queries on"}},
        // The record is gone already: the lookup service is not touched.
        {"event 2 after terminate", 2, true, Fault::none, 1, TEXT_62005, {}},
        // A removal that failed at terminate leaves the record registered: the event tries again.
        {"event 2 after a failed removal", 2, true, Fault::io, 1, TEXT_62005,
         {std::string("remove ") + SELF + " queries off"}},
        {"event 99", 99, false, Fault::none, ABNORMAL_EXIT, nullptr, {}},
    };
    if (isChild()) {
        std::string name = environment(CASE_VARIABLE);
        for (const auto& c : cases) {
            if (name != c.name)
                continue;
            g_script.removeFault = c.removeFault;
            auto director = make();
            if (c.terminateFirst)
                director->terminate();
            g_journal.clear();
            director->OnSessionHandleEvent(c.event, "");
            note("returned");
        }
        exit(0);
    }
    for (const auto& c : cases) {
        std::string out;
        EXPECT_EQ(c.status, child(c.name, out)) << c.name << ": " << out;
        EXPECT_EQ(joined(c.journal), joined(reported(out))) << c.name;
        if (c.box != nullptr) {
            EXPECT_NE(std::string::npos, out.find("BOX [" + oneLine(c.box) + "] [Tavelin] type=0x10 owner=0"))
                << c.name << ": " << out;
        } else {
            EXPECT_NE(std::string::npos, log().find("FATAL ERROR: [ CDirector ]OnSessionHandleEvent: undefined "
                                                    "session event id 99"))
                << log();
        }
    }
}

TEST_F(DirectorTest, AFailedRemovalAtTheEndIsAnErrorLineAndShutdownGoesOn)
{
    for (Fault fault : {Fault::io, Fault::lus}) {
        resetScript();
        g_script.removeFault = fault;
        auto director = make();
        g_journal.clear();
        TraceCapture trace;
        director->terminate();
        std::vector<std::string> lines = journal();
        ASSERT_EQ(7u, lines.size()) << joined(lines);
        EXPECT_EQ("close LC", lines[5].substr(0, 8));
        EXPECT_EQ(1, trace.count("ERROR: [ CDirector ]removeTermInfo")) << trace.text();
        director.reset();
    }
}

// ---- the elements' places in the order ----

// The stand-ins' calls and the elements' starts and ends (by their start names), in the order
// of the trace.
std::vector<std::string> traceOrder(const std::string& text)
{
    const std::string journalMark = std::string("[ ") + JOURNAL_SCOPE + " ]";
    const std::string startMark = "[ CElementHandler ] start() [";
    const std::string endMark = "[ CElementHandler ] end() [";
    std::vector<std::string> lines;
    size_t at = 0;
    while (at < text.size()) {
        size_t end = text.find('\n', at);
        if (end == std::string::npos)
            end = text.size();
        std::string line = text.substr(at, end - at);
        at = end + 1;
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        size_t mark;
        if ((mark = line.find(journalMark)) != std::string::npos) {
            lines.push_back(line.substr(mark + journalMark.size()));
        } else {
            for (const std::string* element : {&startMark, &endMark}) {
                if ((mark = line.find(*element)) == std::string::npos)
                    continue;
                size_t from = mark + element->size();
                lines.push_back((element == &startMark ? "start " : "end ") +
                                line.substr(from, line.find(']', from) - from));
            }
        }
    }
    return withoutQueries(lines);
}

TEST_F(DirectorTest, TheMemberListVoiceElementAndFileCopyStartAndEndAtTheirPlaces)
{
    for (bool host : {true, false}) {
        resetScript();
        if (!host) {
            g_script.hostIds = {"HOST-A"};
            g_script.hostRecords = {hostRecord(std::string("TIME=1 SESSION=") + HOST_GUID)};
        }
        const std::string session = host ? "LC" : "RM";
        const std::string group = host ? "M_TERMGP" : "S_TERMGP";
        const std::string stage = host ? "M_STAGE" : "S_STAGE";
        std::vector<std::string> expected = {"setLogicHandle", "showSplash true",
                                             std::string("lookup ") + APP + " main window", "enum Server"};
        if (host) {
            expected.push_back(std::string("create ") + SELF + " host LC");
            expected.push_back(std::string("openLocalSession ") + APP + " director");
        } else {
            expected.push_back("enum Server");
            expected.push_back("find HOST-A");
            expected.push_back(std::string("create ") + SELF + " join RM");
            expected.push_back(std::string("openRemoteSession ") + APP + " [" + HOST_GUID + "] " + HOST_IP +
                               " director");
        }
        std::vector<std::string> rest = {
            std::string("create ") + SELF + " BC port 0",
            std::string("regist ") + SELF + (host ? " valid [Server] [0.0.0.0] 0" : " valid [] [0.0.0.0] 0"),
            "start " + group,
            "start IP_PHONE",
            // Never plugged in.
            "start FILE_COPY",
            "start " + stage,
            "plugIn " + session + " " + GROUP_ID,
            "plugIn " + session + " " + STAGE_ID,
            std::string("plugIn BC ") + VOICE_ID,
            "showSplash false",
            "showMainDlg true",
            // terminate
            std::string("remove ") + SELF,
            std::string("plugOut BC ") + VOICE_ID,
            "end IP_PHONE",
            "plugOut " + session + " " + STAGE_ID,
            "end " + stage,
            "end FILE_COPY",
            "plugOut " + session + " " + GROUP_ID,
            "end " + group,
            "close BC",
            "close " + session,
            "delete " + session,
            // the destructor
            std::string("delete BC"),
            std::string("delete lookup"),
        };
        expected.insert(expected.end(), rest.begin(), rest.end());

        TraceCapture trace;
        auto director = make();
        ASSERT_NE(nullptr, g_group);
        EXPECT_EQ(host, static_cast<CTerminalGroup*>(g_group)->isMaster());
        director->terminate();
        director.reset();
        EXPECT_EQ(joined(expected), joined(traceOrder(trace.text()))) << (host ? "host" : "joined");
        EXPECT_EQ(0, trace.count("ERROR")) << trace.text();
    }
}

TEST_F(DirectorTest, ThePictureLoaderIsMadeBeforeTheGuiHearsOfTheDirectorAndGoesAfterTheProxy)
{
    g_loaderAtLogicHandle = false;
    g_loaderAtLookupDelete = false;
    ASSERT_FALSE(loaderWindowExists());
    auto director = make();
    EXPECT_TRUE(g_loaderAtLogicHandle);
    // The process-wide operations reach it while the director lives.
    const unsigned char block[4] = {10, 30, 200, 0};
    HBITMAP bitmap = CLeadImage::getBitmapHandle(block, sizeof(block), 1, 1, 24);
    EXPECT_NE(nullptr, bitmap);
    DeleteObject(bitmap);
    director.reset();
    EXPECT_TRUE(g_loaderAtLookupDelete);
    EXPECT_FALSE(loaderWindowExists());
}

// The object id under which the element started by that name was entered, from the trace.
std::string objectIdOf(const std::string& text, const std::string& startName)
{
    const std::string entered = "[ CMessageMulticaster ] addListener(): [";
    size_t at = text.find("[ CElement ] start(" + startName + ")");
    if (at == std::string::npos || (at = text.find(entered, at)) == std::string::npos)
        return "";
    at += entered.size();
    return text.substr(at, text.find(']', at) - at);
}

// Notes each local call that reaches the name it is entered under.
class PostRecorder : public IMessageListener {
public:
    void notifyMessage(IMessage* message) override
    {
        auto* call = dynamic_cast<CMethodCallMessage*>(message);
        if (call != nullptr) {
            note("posted " + call->getMethodName() + " [" +
                 std::string(reinterpret_cast<const char*>(call->getBuf()), call->getBufSize()) + "]");
        }
        IMessage::release(message);
    }
};

TEST_F(DirectorTest, TheFileCopyTakesJobsAtItsObjectIdAndItsCopiesGoWithTheDirector)
{
    std::string source = dir_->file("dropped.bmp");
    HANDLE file = CreateFileA(source.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, file);
    DWORD written = 0;
    WriteFile(file, "BM-dropped", 10, &written, nullptr);
    CloseHandle(file);

    // The process's own temp folder, inside the test's (the variables restored at the end).
    std::string temp = dir_->file("tmp") + "\\";
    CreateDirectoryA(temp.c_str(), nullptr);
    std::vector<std::pair<std::string, std::string>> saved;
    for (const char* name : {"TMP", "TEMP"}) {
        saved.emplace_back(name, environment(name));
        SetEnvironmentVariableA(name, temp.c_str());
    }
    std::shared_ptr<void> restore(nullptr, [&saved](void*) {
        for (const auto& variable : saved)
            SetEnvironmentVariableA(variable.first.c_str(),
                                    variable.second.empty() ? nullptr : variable.second.c_str());
    });
    auto utility = std::make_unique<CTavUtility>();

    TraceCapture trace;
    auto director = make();
    std::string objectId = objectIdOf(trace.text(), "FILE_COPY");
    ASSERT_FALSE(objectId.empty()) << trace.text();
    PostRecorder reports;
    const char REPORTS[] = "DIRECTOR_TEST_REPORTS";
    CLocalMethod::addListener(REPORTS, &reports);
    g_journal.clear();
    std::string job = CFileCopy::makeCopyJobDesc(REPORTS, "LOC_onFileCopied", source, "", "");
    CLocalMethod::postMethodStr(objectId, "LOC_copy", job);
    ASSERT_TRUE(g_journal.waitFor(1, 10000)) << trace.text();
    CLocalMethod::removeTarget(REPORTS);
    std::string line = journal().at(0);
    const std::string head = "posted LOC_onFileCopied [";
    ASSERT_EQ(0u, line.rfind(head, 0)) << line;
    std::string report = line.substr(head.size(), line.size() - head.size() - 1);
    std::string reportedJob, copy;
    int result = 0;
    CFileCopy::getReportField(report, &reportedJob, &copy, &result);
    EXPECT_EQ(job, reportedJob);
    EXPECT_EQ(static_cast<int>(CFileCopy::COPIED), result) << report;
    EXPECT_EQ("BM-dropped", fileBytes(copy)) << copy;
    EXPECT_EQ(0u, copy.rfind(temp, 0)) << copy;
    director.reset();
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(copy.c_str())) << copy;
    EXPECT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(source.c_str()));
}

TEST_F(DirectorTest, AnotherTerminalLeavingIsPostedToTheMasterListAndStageOnly)
{
    struct {
        const char* name;
        bool host;
        bool terminateFirst;
        std::vector<std::string> posted;
    } cases[] = {
        {"host", true, false, {"posted LOC_removeSessionLostMember [OTHER]", "posted LOC_uninstallAll [OTHER]"}},
        {"joined", false, false, {}},
        {"host after terminate", true, true, {}},
    };
    for (const auto& c : cases) {
        resetScript();
        if (!c.host) {
            g_script.hostIds = {"HOST-A"};
            g_script.hostRecords = {hostRecord(std::string("TIME=1 SESSION=") + HOST_GUID)};
        }
        TraceCapture trace;
        auto director = make();
        ASSERT_NE(nullptr, g_group);
        const std::string objectId = g_group->getObjectId();
        const std::string stageId = objectIdOf(trace.text(), c.host ? "M_STAGE" : "S_STAGE");
        ASSERT_FALSE(stageId.empty()) << trace.text();
        if (c.terminateFirst)
            director->terminate();
        // The elements' own handlers are left out: what is posted to their object ids comes here.
        PostRecorder recorder;
        CLocalMethod::addListener(objectId, &recorder);
        CLocalMethod::addListener(stageId, &recorder);
        g_journal.clear();
        director->OnSessionHandleEvent(1, "OTHER");
        CLocalMethod::postMethodStr(objectId, "mark", "list");
        CLocalMethod::postMethodStr(stageId, "mark", "stage");
        std::vector<std::string> expected = c.posted;
        expected.push_back("posted mark [list]");
        expected.push_back("posted mark [stage]");
        EXPECT_EQ(joined(expected), joined(journal())) << c.name;
        // The elements' ends take the recorder out again; ended elements no longer do.
        if (c.terminateFirst) {
            CLocalMethod::removeTarget(objectId);
            CLocalMethod::removeTarget(stageId);
        }
        director.reset();
    }
}

} // namespace
